// The certificate keeper's thread.
#include "acme/certificate_keeper.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "acme/challenges.h"
#include "acme/signing.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/program.h"
#include "platform/text.h"
#include "platform/tls.h"

namespace acme {
namespace {

constexpr std::time_t kCheckEverySeconds = 12 * 60 * 60;
constexpr std::time_t kFirstRetrySeconds = 60;
constexpr std::size_t kMaxPemSize = 1024 * 1024;
// The program that speaks to the authority, beside this one, and how long it may take.
constexpr const char* kObtainingProgram = "vantry-acme";
constexpr auto kObtainingLimit = std::chrono::minutes(10);
constexpr int kPollMs = 200;
constexpr size_t kMaxLineSize = 64 * 1024;

std::string DateText(std::time_t when) { return platform::FormatUtc(when, "%Y-%m-%d %H:%M UTC"); }

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

namespace {

// The answers a run of vantry-acme asked for, taken down when it is over.
class PostedAnswers {
  public:
    PostedAnswers() = default;
    PostedAnswers(const PostedAnswers&) = delete;
    PostedAnswers& operator=(const PostedAnswers&) = delete;
    ~PostedAnswers() {
        for (const std::string& token : tokens_) ChallengeBoard::Shared().Remove(token);
        for (const std::string& name : names_) platform::TlsAlpnChallenges::Shared().Remove(name);
    }

    // Puts up the answer a line of vantry-acme asks for; false when the line asks for none.
    // `*ready` tells whether it is up.
    bool Take(std::string_view line, bool* ready) {
        std::vector<std::string> words;
        for (size_t start = 0; start <= line.size();) {
            size_t end = std::min(line.find(' ', start), line.size());
            words.emplace_back(line.substr(start, end - start));
            start = end + 1;
        }
        if (words.size() != 3) return false;
        if (words[0] == "http-01") {
            ChallengeBoard::Shared().Post(words[1], words[2]);
            tokens_.push_back(words[1]);
            *ready = true;
            return true;
        }
        if (words[0] != "tls-alpn-01") return false;
        std::string digest;
        for (size_t i = 0; i + 1 < words[2].size(); i += 2) {
            const int high = platform::HexDigitValue(words[2][i]);
            const int low = platform::HexDigitValue(words[2][i + 1]);
            if (high < 0 || low < 0) return false;
            digest += static_cast<char>(high << 4 | low);
        }
        *ready =
            digest.size() == 32 && platform::TlsAlpnChallenges::Shared().Post(words[1], digest);
        names_.push_back(words[1]);
        return true;
    }

  private:
    std::vector<std::string> tokens_;
    std::vector<std::string> names_;
};

}  // namespace

bool CertificateKeeper::Renew(const config::ServerSettings& settings, std::string* failure) {
    const config::TlsFiles files = config::TlsFilesOf(settings, programDirectory_);
    std::vector<std::string> argv = {platform::ProgramDirectory() + kObtainingProgram,
                                     "--directory",
                                     settings.acmeDirectory,
                                     "--account-key",
                                     config::AcmeAccountKeyFile(programDirectory_),
                                     "--chain",
                                     files.chain,
                                     "--key",
                                     files.key};
    if (!settings.acmeCaFile.empty()) argv.insert(argv.end(), {"--ca-file", settings.acmeCaFile});
    if (!settings.acmeEmail.empty()) argv.insert(argv.end(), {"--email", settings.acmeEmail});
    if (config::AcmeChallengeOf(settings) == config::AcmeChallenge::kTlsAlpn01) {
        argv.push_back("--tls-alpn");
    }
    argv.insert(argv.end(), settings.acmeDomains.begin(), settings.acmeDomains.end());

    platform::ChildProcess child;
    std::string error;
    if (!child.Start(argv, platform::ProcessEnvironment(), "", &error)) {
        *failure = error;
        return false;
    }
    PostedAnswers posted;
    std::string pending;
    bool issued = false;
    const auto deadline = std::chrono::steady_clock::now() + kObtainingLimit;
    for (;;) {
        if (stop_.load() || std::chrono::steady_clock::now() > deadline) {
            *failure = stop_.load() ? "stopped" : std::string(kObtainingProgram) + " took too long";
            return false;  // the child's group is killed with it
        }
        platform::PollItem item{.fd = child.stdoutFd(), .wantRead = true};
        if (platform::WaitForDescriptors({&item, 1}, kPollMs) <= 0) continue;
        char chunk[4096];
        const platform::PipeResult read = child.ReadStdout(chunk, sizeof chunk);
        if (read.status == platform::PipeStatus::kWouldBlock) continue;
        if (read.status != platform::PipeStatus::kData) break;
        pending.append(chunk, read.bytes);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            bool ready = false;
            if (posted.Take(line, &ready)) {
                const std::string_view reply = ready ? "ready\n" : "failed\n";
                child.WriteStdin(reply.data(), reply.size());
            } else if (line == "issued") {
                issued = true;
            } else if (line.starts_with("failed ")) {
                *failure = line.substr(7);
                if (size_t tab = failure->find('\t'); tab != std::string::npos) {
                    failure->replace(tab, 1, ": ");
                }
            } else if (!line.empty()) {
                // Anything else is the program's own complaint: the owner sees it as it is.
                events_.tell(std::string(kObtainingProgram) + ": " + line);
            }
        }
        if (pending.size() > kMaxLineSize) pending.clear();
    }
    const int status = child.Wait();
    if (issued && status == 0) return true;
    if (failure->empty()) {
        *failure = std::string(kObtainingProgram) + " ended with status " + std::to_string(status);
    }
    return false;
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
