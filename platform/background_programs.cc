// Background programs: started detached, watched through their exit descriptor, reaped.
#include "platform/background_programs.h"

#include <chrono>

#include "platform/event_loop.h"

namespace platform {

BackgroundPrograms::~BackgroundPrograms() {
    for (Program& program : programs_) {
        if (program.child.stdoutFd() >= 0) loop_.Unwatch(program.child.stdoutFd());
        if (program.exitFd >= 0) loop_.Unwatch(program.exitFd);
        program.child.Detach();
    }
}

bool BackgroundPrograms::Start(const std::vector<std::string>& argv,
                               const std::string& workingDirectory, SpawnOptions options,
                               ExitHandler onExit, std::string* error) {
    if (options.streams == SpawnOptions::Streams::kPipes) {
        options.streams = SpawnOptions::Streams::kOutputPipe;
    }
    ChildProcess child;
    if (!child.Start(argv, ProcessEnvironment(), workingDirectory, options, error)) return false;
    int exitFd = child.exitFd();
    programs_.push_back(Program{std::move(child), exitFd, {}, std::move(onExit)});
    auto program = std::prev(programs_.end());
    if (int fd = program->child.stdoutFd(); fd >= 0) {
        loop_.Watch(fd, [this, program] { ReadOutput(*program); });
    }
    if (exitFd >= 0) loop_.Watch(exitFd, [this, program] { Finish(program); });
    return true;
}

void BackgroundPrograms::ReadOutput(Program& program) {
    char buffer[1024];
    for (;;) {
        PipeResult result = program.child.ReadStdout(buffer, sizeof buffer);
        if (result.status == PipeStatus::kData) {
            program.output.append(buffer, result.bytes);
            if (program.output.size() > kKeptOutput) {
                program.output.erase(0, program.output.size() - kKeptOutput);
            }
            continue;
        }
        if (result.status == PipeStatus::kWouldBlock) return;
        // The end of its output, or an error reading it: nothing more will come.
        loop_.Unwatch(program.child.stdoutFd());
        program.child.CloseStdout();
        return;
    }
}

void BackgroundPrograms::Finish(Iterator program) {
    // What the program wrote just before it ended may still be in the pipe; a descendant
    // holding the pipe open must not keep its status from being reported.
    if (program->child.stdoutFd() >= 0) {
        ReadOutput(*program);
        if (program->child.stdoutFd() >= 0) {
            loop_.Unwatch(program->child.stdoutFd());
            program->child.CloseStdout();
        }
    }
    if (program->exitFd >= 0) loop_.Unwatch(program->exitFd);
    int status = program->child.Wait();
    Program finished = std::move(*program);
    programs_.erase(program);
    if (finished.onExit) finished.onExit(status, finished.output);
}

bool BackgroundPrograms::WaitAll(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!programs_.empty()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        Iterator first = programs_.begin();
        std::optional<int> ended = first->child.WaitFor(static_cast<int>(left.count()));
        if (!ended) return false;
        Finish(first);
    }
    return true;
}

}  // namespace platform
