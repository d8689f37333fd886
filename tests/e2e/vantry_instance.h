// A real vantry started in a temporary directory on a loopback address, and a raw client.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fault_lines.h"
#include "tests/support/http_text.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace e2e {

using testing_support::Base64Encode;
using testing_support::BasicLogin;
using testing_support::BodyOf;
using testing_support::ErrorPage;
using testing_support::HeaderOf;
using testing_support::IsChallenge;
using testing_support::kAdminLogin;
using testing_support::kAdminRegistry;
using testing_support::ReadFile;
using testing_support::RegistryText;
using testing_support::StatusOf;
using testing_support::WaitUntil;
using testing_support::WriteFile;

// A fresh loopback address for each instance, so tests never share a port.
std::string NextLoopbackAddress();
// A port that is free on `address` right now (on "::", free for IPv6 and IPv4 alike).
int FreePort(const std::string& address);

// Writes a script with `mode` (one run by an interpreter needs no execute bit).
void WriteScript(const std::string& path, const std::string& text, mode_t mode = 0644);
// Waits (bounded) for a process this test started to end; kills it after `limit`. Returns its
// exit status, or -1 when it was killed or did not exit normally.
int WaitForProgram(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(30));
// Fails the running test with every fault that `program` reported in its standard error,
// the file `errors` (see FaultLines).
void ExpectNoFaults(const std::string& errors, const std::string& program,
                    int deliberateSignal = 0);
// The descriptors a process has open, by number.
std::vector<int> OpenDescriptors(pid_t pid);

// Starts `args` in `directory` with this process's environment changed by `env`, standard
// input read from the file `input` and standard output and error written to the files `output`
// and `errors`; throws when it cannot start.
pid_t Spawn(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
            const std::string& input, const std::string& output, const std::string& errors,
            const std::string& directory = "");

class VantryInstance {
  public:
    // Makes the directory with a copy of vantry (and of vantry-ftp beside it), `ini` as Vantry.ini
    // (with "{dir}" replaced by the instance directory and "{port1}", "{port2}" by free ports) and
    // a web root www/.
    explicit VantryInstance(const std::string& ini = DefaultIni());
    // Stops the program if it still runs (SIGTERM; SIGKILL only when it does not end in time,
    // which fails the test), then fails the test when the program crashed or reported a fault
    // in its standard error (see FaultLines), and removes the directory.
    ~VantryInstance();

    static std::string DefaultIni();

    // Starts vantry with "-bind <address> --headless" (or without -bind) and `extraArgs`; waits
    // until Server 1 accepts connections, and Server 2 too when the configuration enables it
    // (unless `waitReady` is false). Its home and XDG directories lie in the instance directory, so
    // nothing it installs or records reaches the real ones.
    void Start(const std::vector<std::string>& extraArgs = {}, bool waitReady = true);
    // SIGTERM, then waits (bounded) for the exit; returns the exit status or -1.
    int Stop();
    // Waits (bounded) for the process to end by itself; returns its status or -1.
    int WaitForExit(std::chrono::milliseconds limit);
    bool Running();

    // Waits until the program's standard error holds `text`; false after `limit`.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds limit);
    std::string Stderr() const;
    // Waits until the access log holds at least `lines` lines and returns it.
    std::string WaitForLogLines(size_t lines,
                                std::chrono::milliseconds limit = std::chrono::seconds(5));

    const std::string& dir() const { return dir_.path(); }
    const std::string& address() const { return address_; }
    int port1() const { return port1_; }
    int port2() const { return port2_; }
    pid_t pid() const { return pid_; }
    std::map<std::string, std::string> extraEnv;
    // The value given with -bind; the instance's own address when empty.
    std::string bindArgument;
    // A crash signal (SIGSEGV, say) that the test sends on purpose: the program's end by it,
    // and the sanitizer's report of its arrival, are no fault.
    int deliberateSignal = 0;
    // Starts without -bind: the servers listen on every address of both families.
    bool listenEverywhere = false;
    // Where the vantry that is started lives and runs (ending in "/"); the instance
    // directory when empty.
    std::string programDirectory;

  private:
    // Fails the test when the program that ended crashed or reported a fault.
    void ExpectCleanEnd();

    testing_support::TempDir dir_{"vantry-e2e"};
    std::string address_;
    int port1_ = 0;
    int port2_ = 0;
    pid_t pid_ = -1;
    bool secondServer_ = false;
    int exitStatus_ = -1;
    int endSignal_ = 0;  // the signal that ended the program, if one did
};

// A client socket, bounded in every wait.
class Client {
  public:
    // Connects to address:port, optionally from `fromAddress` (and `fromPort`), with a
    // receive buffer of `receiveBuffer` bytes (the system's default when 0): a small one
    // makes a client that takes little at a time.
    Client(const std::string& address, int port, const std::string& fromAddress = "");
    Client(const std::string& address, int port, const std::string& fromAddress, int fromPort,
           int receiveBuffer = 0);
    ~Client();
    bool connected() const { return fd_ >= 0; }
    void Send(const std::string& bytes);
    void ShutdownSend();
    // Reads until the server closes or `limit` passes.
    std::string ReadAll(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Reads until what arrived holds `text` (never, when it is empty), the server closes or
    // `limit` passes.
    std::string ReadUntil(const std::string& text, std::chrono::milliseconds limit);
    // True when the server closed (or reset) the connection within `limit` without sending
    // anything.
    bool ClosedWithoutData(std::chrono::milliseconds limit);

    // The server's end of this connection as the kernel shows it (accepted or not): bytes
    // that arrived there and were not read yet, and bytes written there that this client has
    // not taken yet. Empty when the connection is not found.
    struct ServerQueues {
        long unread = 0;
        long unsent = 0;
    };
    std::optional<ServerQueues> ServerSide() const;
    // Waits until the server has read everything sent so far.
    bool WaitUntilServerRead(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Waits until the server has more to send than this client has taken: it waits for us.
    bool WaitUntilServerWaitsForUs(std::chrono::milliseconds limit = std::chrono::seconds(5));

  private:
    int fd_ = -1;
};

// A listening socket that keeps a port busy for the length of a test.
class PortBlocker {
  public:
    PortBlocker(const std::string& address, int port);
    ~PortBlocker();
    PortBlocker(const PortBlocker&) = delete;
    PortBlocker& operator=(const PortBlocker&) = delete;

  private:
    int fd_ = -1;
};

// Waits until the server has read everything each of `clients` sent so far.
bool WaitUntilServerRead(const std::vector<const Client*>& clients,
                         std::chrono::milliseconds limit = std::chrono::seconds(5));

// The client address of each line of an access log, in order.
std::vector<std::string> LoggedClients(const std::string& log);

// Sends `request` on a new connection and returns everything the server sent.
std::string Exchange(const std::string& address, int port, const std::string& request,
                     std::chrono::milliseconds limit = std::chrono::seconds(10));
// The same from a client bound to `from`.
std::string ExchangeFrom(const std::string& from, const std::string& address, int port,
                         const std::string& request,
                         std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace e2e
