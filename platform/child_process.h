// Child processes started without a shell, with pipes for their standard streams, and the
// waiting on those pipes together with other descriptors.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace platform {

// The environment of this process as "NAME=value" entries, in the order it holds them.
std::vector<std::string> ProcessEnvironment();

enum class PipeStatus { kData, kWouldBlock, kClosed, kError };

// Where a child's standard streams go and which process group it joins.
struct SpawnOptions {
    enum class Streams {
        kPipes,       // input from one pipe, output and error into another
        kOutputPipe,  // input from /dev/null, output and error into a pipe
        kTerminal,    // this process's own 0, 1 and 2
    };
    enum class Group {
        kOwnGroup,    // a process group of its own, so Kill reaches what it started too
        kNewSession,  // a session of its own: no terminal signal reaches it
        kSameGroup,   // this process's group: it may read the terminal in the foreground
    };
    Streams streams = Streams::kPipes;
    Group group = Group::kOwnGroup;
};
struct PipeResult {
    PipeStatus status;
    size_t bytes = 0;
};

// A child process that owns its id and the server's ends of its pipes. The child runs in a
// process group of its own, so Kill reaches whatever it started too. Unless it has been
// reaped, the destructor kills the group and reaps the child: no zombie and no stray script
// outlives its owner.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs argv[0] (looked up in this process's PATH when it holds no "/") with `argv`,
    // exactly the environment `environment` and `workingDirectory` (this process's own when
    // empty). The child's standard input reads from one pipe, its standard output and error
    // write into another, and it inherits no other descriptor, with its signal mask cleared
    // and every signal at its default action. On failure (pipes, or a program that cannot be
    // run) returns false and sets `*error` to the failed call, program and errno text.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& workingDirectory, std::string* error = nullptr) {
        return Start(argv, environment, workingDirectory, SpawnOptions{}, error);
    }
    // The same with other streams or another process group (see SpawnOptions).
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& workingDirectory, const SpawnOptions& options,
               std::string* error);

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The server's ends of the pipes, non-blocking; -1 once closed.
    int stdinFd() const { return stdin_.get(); }
    int stdoutFd() const { return stdout_.get(); }

    // Writes to the child's standard input. A child that closed it gives kClosed (never a
    // signal).
    PipeResult WriteStdin(const char* data, size_t size);
    // Reads the child's standard output and error; kClosed once every writer has closed it.
    PipeResult ReadStdout(char* buffer, size_t size);
    // The child reads the end of its input.
    // Readable once the child has ended; -1 where the system offers no such descriptor.
    int exitFd() const { return reaped_ ? -1 : exitNotice_.get(); }
    void CloseStdin() { stdin_.Reset(); }
    void CloseStdout() { stdout_.Reset(); }

    // Sends SIGKILL to the child's process group (nothing once the child has been reaped).
    void Kill();
    // Lets the child run on unreaped once this object is gone (it is reaped by whoever
    // inherits it when this process ends). The pipes are closed.
    void Detach();
    // The exit status once the child has ended and been reaped: the exit code, or 128 plus
    // the number of the signal that ended it. TryWait does not block.
    std::optional<int> TryWait();
    int Wait();
    // Waits at most `timeoutMs` for the child to end; std::nullopt while it still runs.
    std::optional<int> WaitFor(int timeoutMs);

    // Feeds `input` to the child and collects everything it writes, at the same time, so a
    // child that writes much before it reads cannot block either side; the input ends (the
    // pipe is closed) once written or once the child closes it. After `timeoutMs` (negative:
    // no limit) the child's group is killed. Returns the exit status.
    int Communicate(std::string_view input, std::string* output, int timeoutMs = -1);

  private:
    void Release();

    pid_t pid_ = -1;
    bool reaped_ = false;
    int exitStatus_ = -1;
    UniqueFd stdin_;
    UniqueFd stdout_;
    UniqueFd exitNotice_;  // readable once the child has ended
};

// One descriptor to wait on. Readable also reports the end of input, a hang-up and errors,
// so the reader learns of them by reading.
struct PollItem {
    int fd = -1;  // ignored when negative
    bool wantRead = false;
    bool wantWrite = false;
    // Reports a hang-up or an error even while neither reading nor writing is wanted (a
    // socket reset by its peer or shut down by this process).
    bool watchHangUp = false;
    // Reports as a hang-up also the peer's end of its sending side.
    bool watchPeerClose = false;
    bool readable = false;
    bool writable = false;
    bool hungUp = false;
};

// Waits at most `timeoutMs` (negative: without limit) until one of the items is ready.
// Returns the number of ready items, 0 on time-out, -1 when poll fails.
int WaitForDescriptors(std::span<PollItem> items, int timeoutMs);

}  // namespace platform
