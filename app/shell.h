// The program's shell: owns the event loop, the configuration and both servers, starts and
// stops them, and shows their state to the owner.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "config/server_config.h"
#include "http/engine_context.h"
#include "http/listener.h"
#include "platform/background_programs.h"
#include "platform/event_loop.h"
#include "publish/address_publisher.h"

namespace app {

class Shell : public http::ServerOwner {
public:
    using ConnectionFactory = std::function<std::unique_ptr<http::Connection>()>;

    Shell(config::ServerConfig config, std::string bindAddress, std::string hostAddress,
          ConnectionFactory makeConnection);
    ~Shell() override;

    // Fills the pools, starts the servers and runs until a termination signal or Exit.
    // Then stops Server 2 and Server 1, destroys the pools and saves the configuration
    // (unless there was no configuration file). Returns the quit code.
    int Run();

    // The control interface the owner's tools use. Main thread only.
    void StartServers();
    void StopServers();
    void Exit();

    http::ServerInstance& server1() { return server1_; }
    http::ServerInstance& server2() { return server2_; }

    void ShowStatusMessage(const std::string& text) override;
    void OnServerStateChanged(const http::Listener& listener, bool notRunning) override;

private:
    // Tells the owner when a server's root is empty or relative: it then serves no files.
    void ReportUnusableRoot(const config::ServerConfig& config, int number);

    platform::EventLoop loop_;
    // The programs the shell and the publishing start and never wait for.
    platform::BackgroundPrograms programs_{loop_};
    config::SharedConfig config_;
    http::EngineContext context_;
    // The servers' start and stop hooks: the address publishing and the owner's scripts.
    publish::AddressPublisher publisher_;
    ConnectionFactory makeConnection_;
    // Built in this order and destroyed in the reverse one: Server 2, then Server 1.
    http::ServerInstance server2_;
    http::ServerInstance server1_;
    // The running state last shown for each server.
    bool server1Shown_ = false;
    bool server2Shown_ = false;
};

}  // namespace app
