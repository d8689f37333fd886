// The headless shell: status messages on standard error, termination signals as Exit.
#include "app/shell.h"

#include <cstdio>

namespace app {
namespace {

// How long the shut-down waits for background programs still running.
constexpr int kExitWaitMs = 10000;

}  // namespace

Shell::Shell(config::ServerConfig config, std::string bindAddress, std::string hostAddress,
             ConnectionFactory makeConnection)
    : config_(std::move(config)),
      context_{loop_, config_, *this, std::move(bindAddress), std::move(hostAddress)},
      publisher_(context_, programs_, config_.Snapshot()->programDirectory),
      makeConnection_(std::move(makeConnection)),
      server2_(context_, 2),
      server1_(context_, 1) {
    context_.hooks = &publisher_;
    loop_.OnSignal([this](int) { Exit(); });
}

Shell::~Shell() {
    server1_.DestroyPool();
    server2_.DestroyPool();
}

int Shell::Run() {
    server1_.FillPool(makeConnection_);
    server2_.FillPool(makeConnection_);
    StartServers();
    int code = loop_.Run();

    server2_.Stop();
    server1_.Stop();
    // The offline pages are on their way: give their uploads a moment to finish, so that a
    // failure can still be reported.
    programs_.WaitAll(kExitWaitMs);
    server1_.DestroyPool();
    server2_.DestroyPool();
    auto snapshot = config_.Snapshot();
    std::string error;
    if (!snapshot->iniMissing && !snapshot->Save(&error)) {
        ShowStatusMessage("Could not save the configuration file " + snapshot->iniPath + ": " +
                          error + ".");
    }
    return code;
}

void Shell::StartServers() {
    auto snapshot = config_.Snapshot();
    ReportUnusableRoot(*snapshot, 1);
    server1_.Start(snapshot->server1().port);
    if (snapshot->secondPortEnabled) {
        ReportUnusableRoot(*snapshot, 2);
        server2_.nextPortOnConflict = true;
        server2_.Start(snapshot->server2().port);
    }
}

void Shell::ReportUnusableRoot(const config::ServerConfig& config, int number) {
    const std::string& root = config.servers[number - 1].wwwroot;
    if (config::IsUsableRoot(root)) return;
    ShowStatusMessage("Server " + std::to_string(number) + " serves no files: its root \"" + root +
                      "\" is not an absolute path.");
}

void Shell::StopServers() {
    server1_.Stop();
    if (config_.Snapshot()->secondPortEnabled) server2_.Stop();
}

void Shell::Exit() { loop_.Quit(1); }

void Shell::ShowStatusMessage(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void Shell::OnServerStateChanged(const http::Listener& listener, bool notRunning) {
    // Every start first reports "not running"; only real changes are worth a line.
    bool isServer1 = &listener == &server1_;
    bool& shown = isServer1 ? server1Shown_ : server2Shown_;
    if (shown == !notRunning) return;
    shown = !notRunning;
    std::fprintf(stderr, "%s  Vantry %s (Server %d, port %d)\n", context_.hostAddress.c_str(),
                 notRunning ? "Not Running" : "Running", isServer1 ? 1 : 2, listener.Port());
    std::fflush(stderr);
}

}  // namespace app
