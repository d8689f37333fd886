// Starting and stopping real vantry processes for the end-to-end tests.
#include "tests/e2e/vantry_instance.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// An IPv4 or IPv6 address (by its text) with a port, ready for bind and connect.
struct SocketAddress {
    SocketAddress(const std::string& address, int port) {
        if (address.find(':') != std::string::npos) {
            auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
            in6.sin6_family = AF_INET6;
            in6.sin6_port = htons(static_cast<uint16_t>(port));
            ::inet_pton(AF_INET6, address.c_str(), &in6.sin6_addr);
            length = sizeof in6;
        } else {
            auto& in = reinterpret_cast<sockaddr_in&>(storage);
            in.sin_family = AF_INET;
            in.sin_port = htons(static_cast<uint16_t>(port));
            ::inet_pton(AF_INET, address.c_str(), &in.sin_addr);
            length = sizeof in;
        }
    }
    int family() const { return storage.ss_family; }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    int port() const { return ntohs(reinterpret_cast<const sockaddr_in&>(storage).sin_port); }

    sockaddr_storage storage{};
    socklen_t length = 0;
};

// How long a program may take to end after SIGTERM before it is killed.
constexpr auto kStopLimit = std::chrono::seconds(20);

// The signals by which a program ends only when something in it went wrong.
bool IsCrashSignal(int signal) {
    for (int crash : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) {
        if (signal == crash) return true;
    }
    return false;
}

}  // namespace

void ExpectNoFaults(const std::string& errors, const std::string& program, int deliberateSignal) {
    std::string text = ReadFile(errors);
    std::vector<std::string> faults = testing_support::FaultLines(text, deliberateSignal);
    if (!faults.empty()) {
        ADD_FAILURE() << program << " reported faults:\n"
                      << testing_support::DescribeFaults(faults, text);
    }
}

std::string NextLoopbackAddress() {
    // Tests run as processes side by side: the low 16 bits of the process id keep their
    // addresses apart (a remainder of fewer bits let two of them share an address and, now
    // and then, a port), and the counter those of one process.
    static std::atomic<int> counter{0};
    int n = counter++;
    auto pid = static_cast<unsigned>(getpid());
    return "127." + std::to_string(100 + n % 100) + "." + std::to_string((pid >> 8) & 0xff) + "." +
           std::to_string(pid & 0xff);
}

int FreePort(const std::string& address) {
    SocketAddress sa(address, 0);
    int fd = ::socket(sa.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    // On "::" the port must be free for both families, as a server without -bind needs it.
    int v6Only = 0;
    if (sa.family() == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    if (::bind(fd, sa.get(), sa.length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind for a free port failed");
    }
    socklen_t len = sizeof sa.storage;
    ::getsockname(fd, sa.get(), &len);
    ::close(fd);
    return sa.port();
}

void WriteScript(const std::string& path, const std::string& text, mode_t mode) {
    WriteFile(path, text);
    ::chmod(path.c_str(), mode);
}

std::vector<int> OpenDescriptors(pid_t pid) {
    std::vector<int> fds;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        fds.push_back(std::stoi(entry.path().filename().string()));
    }
    std::sort(fds.begin(), fds.end());
    return fds;
}

std::string VantryInstance::DefaultIni() { return "[Config]\nport={port1}\nwwwroot={dir}/www/\n"; }

VantryInstance::VantryInstance(const std::string& ini) {
    address_ = NextLoopbackAddress();
    port1_ = FreePort(address_);
    do {
        port2_ = FreePort(address_);
    } while (port2_ == port1_);
    std::filesystem::create_directories(dir() + "/www");
    std::filesystem::create_directories(dir() + "/run");
    std::filesystem::copy_file(VANTRY_BINARY, dir() + "/vantry");
    ::chmod((dir() + "/vantry").c_str(), 0755);
    // The FTP client is looked for beside the program.
    if (std::filesystem::exists(VANTRY_FTP_BINARY)) {
        std::filesystem::copy_file(VANTRY_FTP_BINARY, dir() + "/vantry-ftp");
        ::chmod((dir() + "/vantry-ftp").c_str(), 0755);
    }
    std::string text = ini;
    ReplaceAll(text, "{dir}", dir());
    ReplaceAll(text, "{port1}", std::to_string(port1_));
    ReplaceAll(text, "{port2}", std::to_string(port2_));
    if (!text.empty()) WriteFile(dir() + "/Vantry.ini", text);
    secondServer_ = text.find("secondPortEnabled=Y") != std::string::npos;
}

VantryInstance::~VantryInstance() {
    if (Running()) {
        ::kill(pid_, SIGTERM);
        if (!WaitUntil(kStopLimit, [this] { return !Running(); })) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            ADD_FAILURE() << "vantry did not end within " << kStopLimit.count()
                          << " s of SIGTERM and was killed";
        }
    }
    ExpectCleanEnd();
}

void VantryInstance::ExpectCleanEnd() {
    if (IsCrashSignal(endSignal_) && endSignal_ != deliberateSignal) {
        ADD_FAILURE() << "vantry ended by signal " << endSignal_ << " ("
                      << ::sigabbrev_np(endSignal_) << "); its standard error:\n"
                      << Stderr();
    }
    endSignal_ = 0;
    ExpectNoFaults(dir() + "/stderr.txt", "vantry", deliberateSignal);
}

pid_t Spawn(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
            const std::string& input, const std::string& output, const std::string& errors,
            const std::string& directory) {
    std::vector<std::string> argStrings = args;
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (auto& [k, v] : env) merged[k] = v;
    std::vector<std::string> envStrings;
    for (auto& [k, v] : merged) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("posix_spawn " + args[0] + ": " + std::strerror(rc));
    return pid;
}

int WaitForProgram(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    if (!WaitUntil(limit, [&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void VantryInstance::Start(const std::vector<std::string>& extraArgs, bool waitReady) {
    // A second start replaces the standard error of the first run.
    if (!Running()) ExpectCleanEnd();
    const std::string program = programDirectory.empty() ? dir() + "/" : programDirectory;
    std::vector<std::string> args = {program + "vantry", "--headless"};
    if (!listenEverywhere) {
        args.insert(args.begin() + 1, {"-bind", bindArgument.empty() ? address_ : bindArgument});
    }
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::map<std::string, std::string> env = {{"XDG_RUNTIME_DIR", dir() + "/run"},
                                              {"VANTRY_REGISTRY", dir() + "/registry.reg"},
                                              {"HOME", dir()},
                                              {"XDG_CONFIG_HOME", dir() + "/.config"},
                                              {"XDG_DATA_HOME", dir() + "/.local/share"}};
    for (auto& [k, v] : extraEnv) env[k] = v;
    pid_ = Spawn(args, env, "/dev/null", dir() + "/stdout.txt", dir() + "/stderr.txt", program);
    if (!waitReady) return;
    bool ready = WaitUntil(std::chrono::seconds(10), [this] {
        if (!Running()) throw std::runtime_error("vantry ended at start: " + Stderr());
        return Client(address_, port1_).connected();
    });
    if (!ready) throw std::runtime_error("vantry did not accept connections: " + Stderr());
    // Server 2 starts after Server 1 accepts: a test may ask it at once.
    if (secondServer_) WaitForStderr("(Server 2, port", std::chrono::seconds(5));
}

bool VantryInstance::Running() {
    if (pid_ <= 0) return false;
    int status;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        endSignal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return false;
    }
    return true;
}

int VantryInstance::WaitForExit(std::chrono::milliseconds limit) {
    return WaitUntil(limit, [this] { return !Running(); }) ? exitStatus_ : -1;
}

int VantryInstance::Stop() {
    if (!Running()) return exitStatus_;
    ::kill(pid_, SIGTERM);
    return WaitForExit(kStopLimit);
}

bool VantryInstance::WaitForStderr(const std::string& text, std::chrono::milliseconds limit) {
    return WaitUntil(limit, [&] { return Stderr().find(text) != std::string::npos; });
}

std::string VantryInstance::Stderr() const { return ReadFile(dir() + "/stderr.txt"); }

std::string VantryInstance::WaitForLogLines(size_t lines, std::chrono::milliseconds limit) {
    std::string log;
    WaitUntil(limit, [&] {
        log = ReadFile(dir() + "/access.log");
        return static_cast<size_t>(std::count(log.begin(), log.end(), '\n')) >= lines;
    });
    return log;
}

Client::Client(const std::string& address, int port, const std::string& fromAddress)
    : Client(address, port, fromAddress, 0) {}

Client::Client(const std::string& address, int port, const std::string& fromAddress, int fromPort,
               int receiveBuffer) {
    SocketAddress sa(address, port);
    fd_ = ::socket(sa.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    bool bound = true;
    if (!fromAddress.empty()) {
        SocketAddress local(fromAddress, fromPort);
        bound = ::bind(fd_, local.get(), local.length) == 0;
    }
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (!bound || ::connect(fd_, sa.get(), sa.length) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

PortBlocker::PortBlocker(const std::string& address, int port) {
    SocketAddress sa(address, port);
    fd_ = ::socket(sa.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(fd_, sa.get(), sa.length) != 0 || ::listen(fd_, 1) != 0) {
        throw std::runtime_error("could not block port " + std::to_string(port));
    }
}

PortBlocker::~PortBlocker() { ::close(fd_); }

Client::~Client() {
    if (fd_ >= 0) ::close(fd_);
}

void Client::Send(const std::string& bytes) {
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void Client::ShutdownSend() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

std::string Client::ReadAll(std::chrono::milliseconds limit) { return ReadUntil("", limit); }

std::string Client::ReadUntil(const std::string& text, std::chrono::milliseconds limit) {
    std::string out;
    auto deadline = Clock::now() + limit;
    char buffer[65536];
    while (fd_ >= 0 && (text.empty() || out.find(text) == std::string::npos)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

bool Client::ClosedWithoutData(std::chrono::milliseconds limit) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
    char c;
    // A server that closes with our bytes unread resets the connection instead.
    ssize_t n = ::recv(fd_, &c, 1, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

std::optional<Client::ServerQueues> Client::ServerSide() const {
    sockaddr_in local{}, peer{};
    socklen_t length = sizeof local;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return {};
    length = sizeof peer;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return {};
    // Asks the kernel for the one socket whose own address is our peer and whose peer is us:
    // a direct lookup, however many other connections the machine holds.
    int diag = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (diag < 0) return {};
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST;
    query.request.sdiag_family = AF_INET;
    query.request.sdiag_protocol = IPPROTO_TCP;
    query.request.idiag_states = ~0u;
    query.request.id.idiag_sport = peer.sin_port;
    query.request.id.idiag_dport = local.sin_port;
    query.request.id.idiag_src[0] = peer.sin_addr.s_addr;
    query.request.id.idiag_dst[0] = local.sin_addr.s_addr;
    query.request.id.idiag_cookie[0] = query.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    alignas(nlmsghdr) char reply[1024];
    ssize_t n = -1;
    if (::send(diag, &query, sizeof query, 0) == static_cast<ssize_t>(sizeof query)) {
        n = ::recv(diag, reply, sizeof reply, 0);
    }
    ::close(diag);
    auto* header = reinterpret_cast<const nlmsghdr*>(reply);
    if (n < 0 || !NLMSG_OK(header, static_cast<size_t>(n)) ||
        header->nlmsg_type != SOCK_DIAG_BY_FAMILY) {
        return {};
    }
    auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
    return ServerQueues{static_cast<long>(found->idiag_rqueue),
                        static_cast<long>(found->idiag_wqueue)};
}

bool Client::WaitUntilServerRead(std::chrono::milliseconds limit) {
    return e2e::WaitUntilServerRead(std::vector<const Client*>{this}, limit);
}

bool WaitUntilServerRead(const std::vector<const Client*>& clients,
                         std::chrono::milliseconds limit) {
    return WaitUntil(limit, [&] {
        return std::all_of(clients.begin(), clients.end(), [](const Client* client) {
            std::optional<Client::ServerQueues> queues = client->ServerSide();
            return queues && queues->unread == 0;
        });
    });
}

bool Client::WaitUntilServerWaitsForUs(std::chrono::milliseconds limit) {
    return WaitUntil(limit, [this] {
        int arrived = 0;
        std::optional<ServerQueues> queues = ServerSide();
        return queues && queues->unsent > 0 && ::ioctl(fd_, FIONREAD, &arrived) == 0 && arrived > 0;
    });
}

std::string Exchange(const std::string& address, int port, const std::string& request,
                     std::chrono::milliseconds limit) {
    Client client(address, port);
    if (!client.connected()) return "<no connection>";
    client.Send(request);
    return client.ReadAll(limit);
}

std::string ExchangeFrom(const std::string& from, const std::string& address, int port,
                         const std::string& request, std::chrono::milliseconds limit) {
    Client client(address, port, from);
    if (!client.connected()) return "<no connection from " + from + ">";
    client.Send(request);
    return client.ReadAll(limit);
}

std::vector<std::string> LoggedClients(const std::string& log) {
    std::vector<std::string> clients;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        clients.push_back(line.substr(0, line.find(' ')));
    return clients;
}

}  // namespace e2e
