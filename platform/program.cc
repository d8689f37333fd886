// Program and working directories, host name and environment lookups.
#include "platform/program.h"

#include <arpa/inet.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket.h"

namespace platform {

std::string ProgramDirectory() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return "./";
    std::string path(buffer, static_cast<size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string WorkingDirectory() {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) return "./";
    std::string dir = buffer;
    if (dir.empty() || dir.back() != '/') dir.push_back('/');
    return dir;
}

std::string HostName() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

std::optional<std::string> ResolveIpv4(const std::string& name) {
    if (name.empty()) return std::nullopt;
    struct addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    uint32_t address = ntohl(in->sin_addr.s_addr);
    ::freeaddrinfo(found);
    return FormatIpv4(address);
}

std::optional<std::string> GetEnv(const char* name) {
    const char* value = ::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string RuntimeDirectory() {
    auto dir = GetEnv("XDG_RUNTIME_DIR");
    if (dir && !dir->empty()) return *dir;
    auto tmp = GetEnv("TMPDIR");
    if (tmp && !tmp->empty()) return *tmp;
    return "/tmp";
}

bool HasTerminal() { return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1; }

void RaiseDescriptorLimit() {
    struct rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace platform
