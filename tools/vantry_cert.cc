// vantry-cert: makes a self-signed certificate and its key for the servers' HTTPS.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/host_address.h"
#include "platform/tls.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitBadInput = 2;
// About ten years.
constexpr int kValidDays = 3650;

constexpr std::string_view kUsage =
    "Usage: vantry-cert [-o DIR] [NAME...]\n"
    "Makes a self-signed certificate (vantry.crt) and its key (vantry.key, readable by you\n"
    "only) for Vantry's HTTPS, in DIR or the working directory. The certificate names each\n"
    "NAME (a host name or an IP address), then this machine's host name, localhost,\n"
    "127.0.0.1, ::1 and the machine's network address.\n";

}  // namespace

int main(int argc, char** argv) {
    std::string directory = ".";
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return kExitOk;
        }
        if (arg == "-o") {
            if (i + 1 >= argc) {
                std::cerr << "vantry-cert: -o needs a directory\n" << kUsage;
                return kExitBadInput;
            }
            directory = argv[++i];
        } else if (!arg.empty() && arg.front() == '-') {
            std::cerr << "vantry-cert: unknown option " << arg << "\n" << kUsage;
            return kExitBadInput;
        } else {
            names.emplace_back(arg);
        }
    }
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    names = app::CertificateNames(names);
    const std::string certificate = directory + "/vantry.crt";
    const std::string key = directory + "/vantry.key";
    std::string error;
    if (!platform::MakeSelfSignedCertificate(names, kValidDays, certificate, key, &error)) {
        std::cerr << "vantry-cert: " << error << "\n";
        return kExitFailure;
    }
    std::cout << "Wrote " << certificate << " and " << key << " for";
    for (const std::string& name : names) std::cout << " " << name;
    std::cout << "\n";
    return kExitOk;
}
