// Starting and stopping real vantry processes for the end-to-end tests.
#include "tests/e2e/vantry_instance.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

bool CanConnect(const std::string& address, int port) {
    Client client(address, port);
    return client.connected();
}

}  // namespace

std::string NextLoopbackAddress() {
    static std::atomic<int> counter{0};
    int n = counter++;
    int third = static_cast<int>(getpid() % 200) + 20;
    return "127.1." + std::to_string(third) + "." + std::to_string(n % 250 + 2);
}

int FreePort(const std::string& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    sa.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        throw std::runtime_error("bind for a free port failed");
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    ::close(fd);
    return ntohs(sa.sin_port);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string VantryInstance::DefaultIni() {
    return "[Config]\nport={port1}\nwwwroot={dir}/www/\n";
}

VantryInstance::VantryInstance(const std::string& ini) {
    char pattern[] = "/tmp/vantry-e2e-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    address_ = NextLoopbackAddress();
    port1_ = FreePort(address_);
    do {
        port2_ = FreePort(address_);
    } while (port2_ == port1_);
    std::filesystem::create_directories(dir_ + "/www");
    std::filesystem::create_directories(dir_ + "/run");
    std::filesystem::copy_file(VANTRY_BINARY, dir_ + "/vantry");
    ::chmod((dir_ + "/vantry").c_str(), 0755);
    std::string text = ini;
    ReplaceAll(text, "{dir}", dir_);
    ReplaceAll(text, "{port1}", std::to_string(port1_));
    ReplaceAll(text, "{port2}", std::to_string(port2_));
    if (!text.empty()) WriteFile(dir_ + "/Vantry.ini", text);
}

VantryInstance::~VantryInstance() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void VantryInstance::Start(const std::vector<std::string>& extraArgs, bool waitReady) {
    std::vector<std::string> args = {dir_ + "/vantry", "-bind",
                                     bindArgument.empty() ? address_ : bindArgument, "--headless"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    env["XDG_RUNTIME_DIR"] = dir_ + "/run";
    env["VANTRY_REGISTRY"] = dir_ + "/registry.reg";
    env["HOME"] = dir_;
    for (auto& [k, v] : extraEnv) env[k] = v;
    std::vector<std::string> envStrings;
    for (auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ + "/stdout.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ + "/stderr.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("posix_spawn failed");
    if (!waitReady) return;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (CanConnect(address_, port1_)) return;
        if (!Running()) throw std::runtime_error("vantry ended at start: " + Stderr());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("vantry did not accept connections: " + Stderr());
}

bool VantryInstance::Running() {
    if (pid_ <= 0) return false;
    int status;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int VantryInstance::WaitForExit(std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (!Running()) return exitStatus_;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

int VantryInstance::Stop() {
    if (!Running()) return exitStatus_;
    ::kill(pid_, SIGTERM);
    return WaitForExit(std::chrono::seconds(20));
}

bool VantryInstance::WaitForStderr(const std::string& text, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (Stderr().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string VantryInstance::Stderr() const { return ReadFile(dir_ + "/stderr.txt"); }

Client::Client(const std::string& address, int port, const std::string& fromAddress) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!fromAddress.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, fromAddress.c_str(), &local.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

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

std::string Client::ReadAll(std::chrono::milliseconds limit) {
    std::string out;
    auto deadline = Clock::now() + limit;
    char buffer[65536];
    while (fd_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
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
    return ::recv(fd_, &c, 1, 0) == 0;
}

std::string Exchange(const std::string& address, int port, const std::string& request,
                     std::chrono::milliseconds limit) {
    Client client(address, port);
    if (!client.connected()) return "<no connection>";
    client.Send(request);
    return client.ReadAll(limit);
}

std::string ErrorPage(const std::string& status) {
    return "HTTP/1.0 " + status + "\r\nContent-Type: text/html\r\n\r\n<body><h1>\r\nHTTP/1.0 " +
           status + "\r\n</h1></body>\r\n";
}

}  // namespace e2e
