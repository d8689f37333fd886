// Child processes through posix_spawn: pipes, process groups, killing and reaping.
#include "platform/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/error_text.h"

extern char** environ;

namespace platform {
namespace {

constexpr int kFirstNonStandardFd = 3;
// Communicate's reads and writes.
constexpr size_t kCommunicateChunk = 64 * 1024;

// Where the programs named without a directory (a script's interpreter, "perl") were found on
// this process's PATH. Searching again for each script costs a failed exec per directory
// before the right one; a program found is assumed to stay where it is until starting it
// there fails, when it is searched for again.
class FoundPrograms {
  public:
    std::string Find(const std::string& name) {
        {
            std::lock_guard lock(mutex_);
            if (auto it = found_.find(name); it != found_.end()) return it->second;
        }
        std::string path = Search(name);
        if (!path.empty()) {
            std::lock_guard lock(mutex_);
            found_[name] = path;
        }
        return path;
    }
    void Forget(const std::string& name) {
        std::lock_guard lock(mutex_);
        found_.erase(name);
    }

  private:
    // As the exec family searches, but over PATH's absolute directories only: the first
    // executable regular file, or empty (the exec family then searches the whole PATH).
    static std::string Search(const std::string& name) {
        const char* variable = std::getenv("PATH");
        const std::string path = variable != nullptr ? variable : "/bin:/usr/bin";
        size_t start = 0;
        for (;;) {
            const size_t end = path.find(':', start);
            std::string directory =
                path.substr(start, end == std::string::npos ? end : end - start);
            // Only absolute directories: a relative one would depend on the working directory.
            if (!directory.empty() && directory.front() == '/') {
                std::string candidate = directory + "/" + name;
                struct stat st {};
                if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                    ::access(candidate.c_str(), X_OK) == 0) {
                    return candidate;
                }
            }
            if (end == std::string::npos) return {};
            start = end + 1;
        }
    }

    std::mutex mutex_;
    std::unordered_map<std::string, std::string> found_;
};

FoundPrograms& Found() {
    static FoundPrograms* programs =
        new FoundPrograms;  // never destroyed: workers may outlive main
    return *programs;
}

// Moves a descriptor the child will receive away from 0, 1 and 2, so that placing the pipes
// there cannot overwrite one of them before it has been placed itself.
bool MoveAboveStandard(UniqueFd& fd) {
    if (fd.get() >= kFirstNonStandardFd) return true;
    int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, kFirstNonStandardFd);
    if (moved < 0) return false;
    fd.Reset(moved);
    return true;
}

bool SetNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return true;
}

int DecodeWaitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

struct FileActions {
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t actions;
};

struct SpawnAttributes {
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t attributes;
};

std::vector<char*> PointerArray(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::vector<std::string> ProcessEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

ChildProcess::~ChildProcess() { Release(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      reaped_(std::exchange(other.reaped_, false)),
      exitStatus_(std::exchange(other.exitStatus_, -1)),
      stdin_(std::move(other.stdin_)),
      stdout_(std::move(other.stdout_)),
      exitNotice_(std::move(other.exitNotice_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Release();
        pid_ = std::exchange(other.pid_, -1);
        reaped_ = std::exchange(other.reaped_, false);
        exitStatus_ = std::exchange(other.exitStatus_, -1);
        stdin_ = std::move(other.stdin_);
        stdout_ = std::move(other.stdout_);
        exitNotice_ = std::move(other.exitNotice_);
    }
    return *this;
}

void ChildProcess::Release() {
    stdin_.Reset();
    stdout_.Reset();
    if (pid_ > 0 && !reaped_) {
        Kill();
        Wait();
    }
    exitNotice_.Reset();
    pid_ = -1;
    reaped_ = false;
    exitStatus_ = -1;
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment,
                         const std::string& workingDirectory, const SpawnOptions& options,
                         std::string* error) {
    if (started()) {
        SetError(error, "posix_spawn", EBUSY);
        return false;
    }
    if (argv.empty() || argv[0].empty()) {
        SetError(error, "posix_spawn", ENOENT);
        return false;
    }
    // Every descriptor is close-on-exec; only the child's ends are placed on 0, 1 and 2, and
    // anything above them is closed in the child in case some library forgot the flag.
    UniqueFd inputRead, inputWrite, outputRead, outputWrite;
    if (!MakePipe(inputRead, inputWrite) || !MakePipe(outputRead, outputWrite)) {
        SetError(error, "pipe2", errno);
        return false;
    }
    if (!MoveAboveStandard(inputRead) || !MoveAboveStandard(outputWrite) ||
        !SetNonBlocking(inputWrite.get()) || !SetNonBlocking(outputRead.get())) {
        SetError(error, "fcntl", errno);
        return false;
    }

    using Streams = SpawnOptions::Streams;
    FileActions files;
    int rc = 0;
    if (options.streams == Streams::kPipes) {
        rc = posix_spawn_file_actions_adddup2(&files.actions, inputRead.get(), STDIN_FILENO);
    } else if (options.streams == Streams::kOutputPipe) {
        rc = posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY,
                                              0);
    }
    if (rc == 0 && options.streams != Streams::kTerminal) {
        rc = posix_spawn_file_actions_adddup2(&files.actions, outputWrite.get(), STDOUT_FILENO);
        if (rc == 0)
            rc = posix_spawn_file_actions_adddup2(&files.actions, outputWrite.get(), STDERR_FILENO);
    }
    if (rc == 0 && !workingDirectory.empty()) {
        rc = posix_spawn_file_actions_addchdir_np(&files.actions, workingDirectory.c_str());
    }
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&files.actions, kFirstNonStandardFd);

    // The server blocks its termination signals and ignores SIGPIPE; a script starts clean.
    SpawnAttributes spawn;
    sigset_t emptyMask, defaults;
    sigemptyset(&emptyMask);
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.group == SpawnOptions::Group::kOwnGroup) flags |= POSIX_SPAWN_SETPGROUP;
    if (options.group == SpawnOptions::Group::kNewSession) flags |= POSIX_SPAWN_SETSID;
    if (rc == 0) rc = posix_spawnattr_setflags(&spawn.attributes, flags);
    if (rc == 0) rc = posix_spawnattr_setpgroup(&spawn.attributes, 0);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&spawn.attributes, &emptyMask);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&spawn.attributes, &defaults);
    if (rc != 0) {
        SetError(error, "posix_spawn " + argv[0], rc);
        return false;
    }

    std::vector<char*> args = PointerArray(argv);
    std::vector<char*> envp = PointerArray(environment);
    // posix_spawnp searches the PATH of this process, not the one handed to the child.
    // glibc reports a failed chdir or exec as the call's result.
    pid_t pid = -1;
    const bool bareName = argv[0].find('/') == std::string::npos;
    const std::string program = bareName ? Found().Find(argv[0]) : argv[0];
    if (!program.empty()) {
        rc = ::posix_spawn(&pid, program.c_str(), &files.actions, &spawn.attributes, args.data(),
                           envp.data());
    }
    // A bare name not found, or found before and moved or removed since: searched for anew.
    if (bareName && (program.empty() || rc == ENOENT || rc == EACCES)) {
        if (!program.empty()) Found().Forget(argv[0]);
        rc = ::posix_spawnp(&pid, args[0], &files.actions, &spawn.attributes, args.data(),
                            envp.data());
    }
    if (rc != 0) {
        SetError(error, "posix_spawn " + argv[0], rc);
        return false;
    }
    pid_ = pid;
    // A descriptor that becomes readable when the child ends, so waiting for the end takes
    // no polling; systems without it fall back to short sleeps.
    exitNotice_ = UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    reaped_ = false;
    exitStatus_ = -1;
    if (options.streams == Streams::kPipes) stdin_ = std::move(inputWrite);
    if (options.streams != Streams::kTerminal) stdout_ = std::move(outputRead);
    return true;
}

void ChildProcess::Detach() {
    stdin_.Reset();
    stdout_.Reset();
    exitNotice_.Reset();
    pid_ = -1;
    reaped_ = false;
    exitStatus_ = -1;
}

PipeResult ChildProcess::WriteStdin(const char* data, size_t size) {
    if (!stdin_) return {PipeStatus::kClosed};
    // A write to a pipe nobody reads raises SIGPIPE in this thread; hold it back and take it
    // away again, so that a script closing its input can never end the server.
    sigset_t pipeOnly, previous, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigpending(&pending);
    bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    ssize_t n;
    do {
        n = ::write(stdin_.get(), data, size);
    } while (n < 0 && errno == EINTR);
    int error = errno;
    if (n < 0 && error == EPIPE && !alreadyPending) {
        struct timespec zero {
            0, 0
        };
        sigtimedwait(&pipeOnly, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    if (n >= 0) return {PipeStatus::kData, static_cast<size_t>(n)};
    if (error == EAGAIN || error == EWOULDBLOCK) return {PipeStatus::kWouldBlock};
    if (error == EPIPE) return {PipeStatus::kClosed};
    return {PipeStatus::kError};
}

PipeResult ChildProcess::ReadStdout(char* buffer, size_t size) {
    if (!stdout_) return {PipeStatus::kClosed};
    for (;;) {
        ssize_t n = ::read(stdout_.get(), buffer, size);
        if (n > 0) return {PipeStatus::kData, static_cast<size_t>(n)};
        if (n == 0) return {PipeStatus::kClosed};
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {PipeStatus::kWouldBlock};
        return {PipeStatus::kError};
    }
}

void ChildProcess::Kill() {
    // Once reaped, the id may already belong to someone else.
    if (pid_ <= 0 || reaped_) return;
    ::kill(-pid_, SIGKILL);
    // The child may have left the group it was started in.
    ::kill(pid_, SIGKILL);
}

std::optional<int> ChildProcess::TryWait() {
    if (pid_ <= 0) return std::nullopt;
    if (reaped_) return exitStatus_;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return std::nullopt;
    reaped_ = true;
    exitStatus_ = r == pid_ ? DecodeWaitStatus(status) : -1;
    return exitStatus_;
}

int ChildProcess::Wait() {
    if (pid_ <= 0) return -1;
    if (reaped_) return exitStatus_;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    reaped_ = true;
    exitStatus_ = r == pid_ ? DecodeWaitStatus(status) : -1;
    return exitStatus_;
}

std::optional<int> ChildProcess::WaitFor(int timeoutMs) {
    if (exitNotice_ && !reaped_) {
        struct pollfd p {
            exitNotice_.get(), POLLIN, 0
        };
        int n;
        do {
            n = ::poll(&p, 1, std::max(timeoutMs, 0));
        } while (n < 0 && errno == EINTR);
        if (n > 0) return TryWait();
        if (n == 0) return std::nullopt;
    }
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (std::optional<int> status = TryWait()) return status;
        auto now = Clock::now();
        if (now >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(25));
    }
}

int ChildProcess::Communicate(std::string_view input, std::string* output, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const bool limited = timeoutMs >= 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    auto remainingMs = [&]() -> int {
        if (!limited) return -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(std::max<long long>(left.count(), 0));
    };

    auto buffer = std::make_unique<char[]>(kCommunicateChunk);
    size_t written = 0;
    if (input.empty()) CloseStdin();
    bool timedOut = false;
    while (stdout_) {
        int waitMs = remainingMs();
        if (waitMs == 0 && limited) {
            timedOut = true;
            break;
        }
        PollItem items[2];
        items[0].fd = stdin_.get();
        items[0].wantWrite = true;
        items[1].fd = stdout_.get();
        items[1].wantRead = true;
        if (WaitForDescriptors(items, waitMs) < 0) break;
        if (items[0].writable) {
            size_t chunk = std::min(input.size() - written, kCommunicateChunk);
            PipeResult r = WriteStdin(input.data() + written, chunk);
            if (r.status == PipeStatus::kData) written += r.bytes;
            if (r.status == PipeStatus::kClosed || r.status == PipeStatus::kError ||
                written == input.size()) {
                CloseStdin();
            }
        }
        if (items[1].readable) {
            PipeResult r = ReadStdout(buffer.get(), kCommunicateChunk);
            if (r.status == PipeStatus::kData && output != nullptr) {
                output->append(buffer.get(), r.bytes);
            } else if (r.status == PipeStatus::kClosed || r.status == PipeStatus::kError) {
                CloseStdout();
            }
        }
    }
    CloseStdin();
    CloseStdout();
    if (!timedOut) {
        if (!limited) return Wait();
        if (std::optional<int> status = WaitFor(remainingMs())) return *status;
    }
    Kill();
    return Wait();
}

int WaitForDescriptors(std::span<PollItem> items, int timeoutMs) {
    std::vector<struct pollfd> fds;
    fds.reserve(items.size());
    for (PollItem& item : items) {
        item.readable = item.writable = item.hungUp = false;
        short events =
            static_cast<short>((item.wantRead ? POLLIN : 0) | (item.wantWrite ? POLLOUT : 0) |
                               (item.watchPeerClose ? POLLRDHUP : 0));
        // A negative descriptor is skipped by poll itself; hang-ups and errors are reported
        // whatever the events asked for.
        bool watched = events != 0 || item.watchHangUp;
        fds.push_back({watched ? item.fd : -1, events, 0});
    }
    int n;
    do {
        n = ::poll(fds.data(), fds.size(), timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return n;
    for (size_t i = 0; i < items.size(); ++i) {
        short got = fds[i].revents;
        constexpr short kTrouble = POLLHUP | POLLERR | POLLNVAL;
        if (items[i].wantRead && (got & (POLLIN | kTrouble))) items[i].readable = true;
        if (items[i].wantWrite && (got & (POLLOUT | kTrouble))) items[i].writable = true;
        if ((got & kTrouble) || (items[i].watchPeerClose && (got & POLLRDHUP))) {
            items[i].hungUp = true;
        }
    }
    return n;
}

}  // namespace platform
