// vantry-acme: obtains a certificate from an ACME certificate authority for the server that
// starts it. The server answers the authority's challenges: this program tells it each answer
// on its standard output and waits for its word on its standard input. It runs as a process
// of its own so that the server itself never loads the HTTP client and its libraries.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acme/client.h"
#include "acme/signing.h"
#include "platform/file_io.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

constexpr std::string_view kUsage =
    "Usage: vantry-acme --directory URL --account-key FILE --chain FILE --key FILE\n"
    "                   [--ca-file FILE] [--email ADDRESS] [--tls-alpn] NAME...\n"
    "Obtains a certificate for the DNS names NAME... from the ACME certificate authority\n"
    "whose directory is URL, and writes its chain and its new key (mode 0600, atomically).\n"
    "\n"
    "  --directory URL     the authority's directory\n"
    "  --account-key FILE  the account's EC P-256 key (PEM), made when missing\n"
    "  --chain FILE        where the certificate chain goes (PEM)\n"
    "  --key FILE          where the certificate's new key goes (PEM)\n"
    "  --ca-file FILE      check the authority's HTTPS against this CA instead of the system's\n"
    "  --email ADDRESS     the account's contact\n"
    "  --tls-alpn          answer tls-alpn-01 challenges instead of http-01\n"
    "\n"
    "The accepting of the authority's terms is the caller's: this program agrees to them.\n"
    "The server that starts it answers the challenges. For each one this program writes a\n"
    "line on standard output and reads one on standard input (\"ready\" or anything else):\n"
    "  http-01 TOKEN KEY-AUTHORIZATION\n"
    "  tls-alpn-01 NAME SHA-256-OF-KEY-AUTHORIZATION-IN-HEX\n"
    "Its last line is \"issued\", or \"failed STEP<TAB>REASON\".\n"
    "\n"
    "Exit status: 0 issued, 1 failed, 2 bad arguments.\n";

// Tells the server each answer and waits for it to be put up.
class StreamResponder : public acme::ChallengeResponder {
  public:
    bool AnswerHttp(const std::string& token, const std::string& keyAuthorization) override {
        return Ask("http-01 " + token + " " + keyAuthorization);
    }
    bool AnswerTlsAlpn(const std::string& name, std::string_view digest) override {
        static constexpr char kHex[] = "0123456789abcdef";
        std::string hex;
        for (unsigned char c : digest) {
            hex += kHex[c >> 4];
            hex += kHex[c & 15];
        }
        return Ask("tls-alpn-01 " + name + " " + hex);
    }

  private:
    static bool Ask(const std::string& line) {
        std::cout << line << std::endl;
        std::string reply;
        return static_cast<bool>(std::getline(std::cin, reply)) && reply == "ready";
    }
};

int Failed(const std::string& step, const std::string& reason) {
    std::cout << "failed " << step << '\t' << reason << std::endl;
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    acme::ClientOptions options;
    std::string accountKeyFile, chainFile, keyFile;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string* into) {
            if (i + 1 >= argc) return false;
            *into = argv[++i];
            return true;
        };
        bool good = true;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kExitOk;
        } else if (arg == "--directory") {
            good = value(&options.directoryUrl);
        } else if (arg == "--account-key") {
            good = value(&accountKeyFile);
        } else if (arg == "--chain") {
            good = value(&chainFile);
        } else if (arg == "--key") {
            good = value(&keyFile);
        } else if (arg == "--ca-file") {
            good = value(&options.caFile);
        } else if (arg == "--email") {
            good = value(&options.email);
        } else if (arg == "--tls-alpn") {
            options.tlsAlpn = true;
        } else if (arg.starts_with("-")) {
            good = false;
        } else {
            names.emplace_back(arg);
        }
        if (!good) {
            std::cerr << "vantry-acme: bad argument \"" << arg << "\"\n" << kUsage;
            return kExitBadInput;
        }
    }
    if (options.directoryUrl.empty() || accountKeyFile.empty() || chainFile.empty() ||
        keyFile.empty() || names.empty()) {
        std::cerr << kUsage;
        return kExitBadInput;
    }

    std::string error;
    std::optional<acme::EcKey> accountKey = acme::EcKey::LoadOrCreate(accountKeyFile, &error);
    if (!accountKey) return Failed("account key", error);
    std::optional<acme::EcKey> certificateKey = acme::EcKey::Generate();
    if (!certificateKey) return Failed("certificate key", "can't make a key");
    StreamResponder responder;
    const std::atomic<bool> never{false};
    acme::Client client(options, *accountKey, responder, never);
    acme::Failure failure;
    std::optional<acme::Issued> issued = client.Obtain(names, *certificateKey, &failure);
    if (!issued) return Failed(failure.step, failure.reason);
    // The key goes first: until the chain follows, the old chain and the new key disagree,
    // which the server notices and mends by obtaining again.
    if (!platform::MakeDirectories(platform::DirectoryOf(chainFile), 0700, &error) ||
        !platform::WriteFileAtomicallyWithMode(keyFile, certificateKey->Pem(), 0600, &error) ||
        !platform::WriteFileAtomicallyWithMode(chainFile, issued->chain, 0600, &error)) {
        return Failed("storing the certificate", error);
    }
    std::cout << "issued" << std::endl;
    return kExitOk;
}
