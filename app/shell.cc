// The shell: the servers' start and stop, the owner's commands, termination signals as Exit.
#include "app/shell.h"

#include <csignal>
#include <optional>
#include <string>

#include "app/owner_commands.h"
#include "platform/file_io.h"
#include "platform/program.h"

namespace app {
namespace {

// How long the shut-down waits for background programs still running.
constexpr int kExitWaitMs = 10000;
constexpr const char* kPasswordManager = "vantry-passwd";

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
    for (int number : {1, 2}) {
        // The keeper's thread hands its news to the loop, which owns the server and the view.
        acme::CertificateKeeper::Events events{
            [this](const std::string& text) {
                loop_.Post([this, text] { ShowStatusMessage(text); });
            },
            [this, number] { loop_.Post([this, number] { server(number).ReloadCertificate(); }); }};
        keepers_[number - 1] = std::make_unique<acme::CertificateKeeper>(
            number, config_.Snapshot()->programDirectory, std::move(events));
    }
    loop_.OnSignal([this](int signal) {
        // SIGINT may be a question for the owner; otherwise every termination signal is a
        // confirmed Exit.
        if (signal == SIGINT && view_->OnInterrupt()) return;
        Exit();
    });
    loop_.OnResize([this] { view_->OnResize(); });
}

Shell::~Shell() {
    for (auto& keeper : keepers_) keeper->Stop();
    server1_.DestroyPool();
    server2_.DestroyPool();
}

int Shell::Run() {
    server1_.FillPool(makeConnection_);
    server2_.FillPool(makeConnection_);
    if (auto snapshot = config_.Snapshot(); snapshot->tablesUnwritable) {
        ShowStatusMessage("Could not write the built-in MIME and script tables into " +
                          snapshot->iniPath + ".");
    }
    if (auto snapshot = config_.Snapshot(); !snapshot->trustedProxiesRejected.empty()) {
        std::string entries;
        for (const std::string& entry : snapshot->trustedProxiesRejected) {
            entries.append(entries.empty() ? "" : ", ").append(entry);
        }
        ShowStatusMessage("trustedProxies: not an address or range, left out: " + entries);
    }
    StartServers();
    int code = loop_.Run();
    view_->Close();
    for (auto& keeper : keepers_) keeper->Stop();

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
    StartServer(1);
    if (SecondPortEnabled()) StartServer(2);
}

void Shell::StartServer(int number) {
    auto snapshot = config_.Snapshot();
    // The listener takes a port's low 16 bits: 99999 would listen on 34463 and 0 on any port.
    if (std::optional<std::string> problem = config::PortProblem(snapshot->servers[number - 1])) {
        ShowStatusMessage("Server " + std::to_string(number) + " does not start. " + *problem);
        return;
    }
    ReportUnusableRoot(*snapshot, number);
    if (number == 1) {
        server1_.Start(snapshot->server1().port);
    } else {
        server2_.nextPortOnConflict = true;
        server2_.Start(snapshot->server2().port);
    }
    if (server(number).IsRunning()) keepers_[number - 1]->Start(snapshot->servers[number - 1]);
}

void Shell::StopServer(int number) {
    keepers_[number - 1]->Stop();
    server(number).Stop();
}

bool Shell::IsRunning(int number) const { return server(number).IsRunning(); }

bool Shell::SecondPortEnabled() const { return config_.Snapshot()->secondPortEnabled; }

bool Shell::ObtainsCertificate(int number) const {
    return config_.Snapshot()->servers[number - 1].ObtainsCertificate();
}

std::string Shell::ServerAddress(int number, std::string_view path) const {
    int port = server(number).Port();
    if (port == 0) port = config_.Snapshot()->servers[number - 1].port;
    return ServerUrl(context_.hostAddress, port, path);
}

void Shell::OpenInBrowser(const std::string& url) {
    std::vector<std::string> command = BrowserCommand(platform::GetEnv("BROWSER"), url);
    auto onExit = [this](int status, const std::string&) {
        if (status != 0) view_->Tell(kNoBrowserMessage, kNoBrowserCaption);
    };
    if (!programs_.Start(command, "", {}, onExit, nullptr)) {
        view_->Tell(kNoBrowserMessage, kNoBrowserCaption);
    }
}

bool Shell::StartPasswordManager(std::function<void()> onEnd, bool* missing) {
    std::string path = platform::ProgramDirectory() + kPasswordManager;
    *missing = !platform::FileExists(path);
    if (*missing) return false;
    platform::SpawnOptions options;
    options.streams = platform::SpawnOptions::Streams::kTerminal;
    options.group = platform::SpawnOptions::Group::kSameGroup;
    return programs_.Start(
        {path}, "", options, [onEnd = std::move(onEnd)](int, const std::string&) { onEnd(); },
        nullptr);
}

void Shell::ReportUnusableRoot(const config::ServerConfig& config, int number) {
    const std::string& root = config.servers[number - 1].wwwroot;
    if (config::IsUsableRoot(root)) return;
    ShowStatusMessage("Server " + std::to_string(number) + " serves no files: its root \"" + root +
                      "\" is not an absolute path.");
}

void Shell::StopServers() {
    StopServer(1);
    if (SecondPortEnabled()) StopServer(2);
}

void Shell::Exit() { loop_.Quit(1); }

void Shell::ShowStatusMessage(const std::string& text) { view_->ShowStatusMessage(text); }

void Shell::OnServerStateChanged(const http::Listener& listener, bool notRunning) {
    view_->OnServerStateChanged(&listener == &server1_ ? 1 : 2, !notRunning, listener.Port());
}

}  // namespace app
