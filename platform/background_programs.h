// Programs started to run on their own (the FTP client, the owner's scripts, the browser,
// the password manager): nobody waits for them, yet each is reaped when it ends.
#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "platform/child_process.h"

namespace platform {

class EventLoop;

class BackgroundPrograms {
  public:
    // Called on the loop's thread when a program ends: its exit status (as ChildProcess
    // reports it) and what it wrote, when its output was captured (at most kKeptOutput bytes,
    // the last ones).
    using ExitHandler = std::function<void(int status, const std::string& output)>;
    static constexpr size_t kKeptOutput = 4096;

    explicit BackgroundPrograms(EventLoop& loop) : loop_(loop) {}
    // Programs still running go on running; whoever inherits them reaps them.
    ~BackgroundPrograms();
    BackgroundPrograms(const BackgroundPrograms&) = delete;
    BackgroundPrograms& operator=(const BackgroundPrograms&) = delete;

    // Starts `argv` without a shell in `workingDirectory` (this process's own when empty)
    // with this process's environment. Streams::kPipes is taken as kOutputPipe: a background
    // program reads nothing from this process. Loop thread only.
    bool Start(const std::vector<std::string>& argv, const std::string& workingDirectory,
               SpawnOptions options, ExitHandler onExit, std::string* error);

    size_t Running() const { return programs_.size(); }
    // Waits at most `timeoutMs` for the running programs to end, reaping each and calling
    // its handler. Returns true when none is left.
    bool WaitAll(int timeoutMs);

  private:
    struct Program {
        ChildProcess child;
        int exitFd = -1;  // watched until the program is reaped
        std::string output;
        ExitHandler onExit;
    };
    using Iterator = std::list<Program>::iterator;

    void ReadOutput(Program& program);
    void Finish(Iterator program);

    EventLoop& loop_;
    std::list<Program> programs_;
};

}  // namespace platform
