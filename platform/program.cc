// Program and working directories, host name and environment lookups.
#include "platform/program.h"

#include <arpa/inet.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/socket.h"

namespace platform {

namespace {

// An XDG base directory: the variable when it holds an absolute path, else `fallback` under
// the home directory.
std::string XdgDirectory(const char* variable, const char* fallback) {
    const char* value = ::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    return HomeDirectory() + "/" + fallback;
}

}  // namespace

std::string ExecutablePath() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string ProgramDirectory() {
    std::string path = ExecutablePath();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384, '\0');
    passwd entry;
    passwd* result = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return {};
}

std::string ConfigHomeDirectory() { return XdgDirectory("XDG_CONFIG_HOME", ".config"); }

std::string DataHomeDirectory() { return XdgDirectory("XDG_DATA_HOME", ".local/share"); }

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
    struct addrinfo hints {};
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
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace platform
