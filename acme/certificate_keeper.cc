// The certificate keeper's thread.
#include "acme/certificate_keeper.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "acme/challenges.h"
#include "acme/client.h"
#include "acme/signing.h"
#include "platform/file_io.h"

namespace acme {
namespace {

constexpr std::time_t kCheckEverySeconds = 12 * 60 * 60;
constexpr std::time_t kFirstRetrySeconds = 60;
constexpr std::size_t kMaxPemSize = 1024 * 1024;

std::string DateText(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts);
    return text;
}

}  // namespace

std::time_t RenewalTime(std::time_t notBefore, std::time_t notAfter) {
    return notAfter - std::max<std::time_t>(notAfter - notBefore, 0) / 3;
}

CertificateKeeper::CertificateKeeper(int serverNumber, std::string programDirectory, Events events)
    : serverNumber_(serverNumber),
      programDirectory_(std::move(programDirectory)),
      events_(std::move(events)) {}

CertificateKeeper::~CertificateKeeper() { Stop(); }

void CertificateKeeper::Start(const config::ServerSettings& settings) {
    Stop();
    if (!settings.ObtainsCertificate()) return;
    stop_ = false;
    thread_ = std::thread([this, settings] { Run(settings); });
}

void CertificateKeeper::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool CertificateKeeper::Wait(std::time_t seconds) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::seconds(std::max<std::time_t>(seconds, 1)),
                           [this] { return stop_.load(); });
}

bool CertificateKeeper::Renew(const config::ServerSettings& settings, std::string* failure) {
    std::string error;
    std::optional<EcKey> accountKey =
        EcKey::LoadOrCreate(config::AcmeAccountKeyFile(programDirectory_), &error);
    if (!accountKey) {
        *failure = "account key: " + error;
        return false;
    }
    std::optional<EcKey> certificateKey = EcKey::Generate();
    if (!certificateKey) {
        *failure = "certificate key: can't make a key";
        return false;
    }
    Client client({settings.acmeDirectory, settings.acmeCaFile, settings.acmeEmail,
                   config::AcmeChallengeOf(settings) == config::AcmeChallenge::kTlsAlpn01},
                  *accountKey, ChallengeBoard::Shared(), stop_);
    Failure why;
    std::optional<Issued> issued = client.Obtain(settings.acmeDomains, *certificateKey, &why);
    if (!issued) {
        *failure = why.Text();
        return false;
    }
    // The key goes first: until the chain follows, the old chain and the new key disagree,
    // which the next look notices and mends by obtaining again.
    const config::TlsFiles files = config::TlsFilesOf(settings, programDirectory_);
    if (!platform::MakeDirectories(platform::DirectoryOf(files.chain), 0700, &error) ||
        !platform::WriteFileAtomicallyWithMode(files.key, certificateKey->Pem(), 0600, &error) ||
        !platform::WriteFileAtomicallyWithMode(files.chain, issued->chain, 0600, &error)) {
        *failure = "storing the certificate: " + error;
        return false;
    }
    return true;
}

void CertificateKeeper::Run(config::ServerSettings settings) {
    const std::string server = "Server " + std::to_string(serverNumber_) + ": ";
    const std::string& name = settings.acmeDomains.front();
    const config::TlsFiles files = config::TlsFilesOf(settings, programDirectory_);
    std::time_t retry = 0;
    std::time_t toldExpiry = 0;
    while (!stop_.load()) {
        std::optional<std::string> chain =
            platform::ReadWholeFile(files.chain, kMaxPemSize, nullptr);
        std::optional<std::string> key = platform::ReadWholeFile(files.key, kMaxPemSize, nullptr);
        std::optional<CertificateDates> dates = chain && key && ChainMatchesKey(*chain, *key)
                                                    ? ReadCertificateDates(*chain)
                                                    : std::nullopt;
        expiry_ = dates ? dates->notAfter : 0;
        const std::time_t now = std::time(nullptr);
        if (dates && now < RenewalTime(dates->notBefore, dates->notAfter)) {
            if (toldExpiry != dates->notAfter) {
                toldExpiry = dates->notAfter;
                events_.tell(server + "certificate for " + name + " valid until " +
                             DateText(dates->notAfter));
            }
            retry = 0;
            if (!Wait(std::min(kCheckEverySeconds,
                               RenewalTime(dates->notBefore, dates->notAfter) - now))) {
                return;
            }
            continue;
        }
        if (!settings.acmeAccept) {
            events_.tell(server + "no certificate obtained for " + name +
                         ": the authority's terms are not accepted (acmeAccept=Y accepts them)");
            if (!Wait(kCheckEverySeconds)) return;
            continue;
        }
        events_.tell(server + "obtaining a certificate for " + name + " from " +
                     settings.acmeDirectory);
        std::string failure;
        if (Renew(settings, &failure)) {
            events_.renewed();
            continue;  // the next look reads the new dates and tells them
        }
        if (stop_.load()) return;
        retry = retry == 0 ? kFirstRetrySeconds : std::min(retry * 2, kCheckEverySeconds);
        std::string kept =
            dates ? "; the certificate valid until " + DateText(dates->notAfter) + " stays in use"
                  : "";
        events_.tell(server + "certificate for " + name + " not obtained: " + failure + kept +
                     "; next try in " + std::to_string(retry / 60) + " min");
        if (!Wait(retry)) return;
    }
}

}  // namespace acme
