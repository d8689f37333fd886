// A real vantry started in a temporary directory on a loopback address, and a raw client.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// A fresh loopback address for each instance, so tests never share a port.
std::string NextLoopbackAddress();
// A port that is free on `address` right now.
int FreePort(const std::string& address);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

class VantryInstance {
public:
    // Makes the directory with a copy of vantry, `ini` as Vantry.ini (with "{dir}" replaced
    // by the instance directory and "{port1}", "{port2}" by free ports) and a web root www/.
    explicit VantryInstance(const std::string& ini = DefaultIni());
    ~VantryInstance();  // stops the program if it still runs and removes the directory

    static std::string DefaultIni();

    // Starts vantry with "-bind <address> --headless" and `extraArgs`; waits until Server 1
    // accepts connections (unless `waitReady` is false).
    void Start(const std::vector<std::string>& extraArgs = {}, bool waitReady = true);
    // SIGTERM, then waits (bounded) for the exit; returns the exit status or -1.
    int Stop();
    // Waits (bounded) for the process to end by itself; returns its status or -1.
    int WaitForExit(std::chrono::milliseconds limit);
    bool Running();

    // Waits until the program's standard error holds `text`; false after `limit`.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds limit);
    std::string Stderr() const;

    const std::string& dir() const { return dir_; }
    const std::string& address() const { return address_; }
    int port1() const { return port1_; }
    int port2() const { return port2_; }
    pid_t pid() const { return pid_; }
    std::map<std::string, std::string> extraEnv;
    // The value given with -bind; the instance's own address when empty.
    std::string bindArgument;

private:
    std::string dir_;
    std::string address_;
    int port1_ = 0;
    int port2_ = 0;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

// A client socket, bounded in every wait.
class Client {
public:
    // Connects to address:port, optionally from `fromAddress`.
    Client(const std::string& address, int port, const std::string& fromAddress = "");
    ~Client();
    bool connected() const { return fd_ >= 0; }
    void Send(const std::string& bytes);
    void ShutdownSend();
    // Reads until the server closes or `limit` passes.
    std::string ReadAll(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // True when the server closed the connection within `limit` without sending anything.
    bool ClosedWithoutData(std::chrono::milliseconds limit);

private:
    int fd_ = -1;
};

// Sends `request` on a new connection and returns everything the server sent.
std::string Exchange(const std::string& address, int port, const std::string& request,
                     std::chrono::milliseconds limit = std::chrono::seconds(10));

// The exact error page a client receives for a status text such as "404 Object Not Found".
std::string ErrorPage(const std::string& status);

}  // namespace e2e
