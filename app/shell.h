// The program's shell: owns the event loop, the configuration and both servers, starts and
// stops them, and shows their state to the owner through its view.
#pragma once

#include <array>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "acme/certificate_keeper.h"
#include "app/owner_view.h"
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

    // The view that shows the owner what happens; headless until another is set. The view
    // must outlive Run.
    void SetView(OwnerView& view) { view_ = &view; }
    // Whether the headless view writes the QR code of Server 1's home page at its first
    // start.
    void ShowQrCodeOnStart(bool show) { headless_.ShowQrCodeOnStart(show); }
    platform::EventLoop& loop() { return loop_; }

    // The control interface the owner's tools use. Main thread only.
    // Server 1, and Server 2 when it is enabled.
    void StartServers();
    void StopServers();
    // One server, 1 or 2. Server 2 moves on to the next port while its port is taken.
    void StartServer(int number);
    void StopServer(int number);
    bool IsRunning(int number) const;
    bool SecondPortEnabled() const;
    // Whether a server obtains its certificate by itself (see CertificateExpiry).
    bool ObtainsCertificate(int number) const;
    const std::string& hostAddress() const { return context_.hostAddress; }
    // The address of `path` on a server, at the port it listens on (the configured one
    // before its first start).
    std::string ServerAddress(int number, std::string_view path) const;
    // Opens `url` in the owner's web browser, without waiting for it. When the browser
    // cannot be started or fails, the owner is told.
    void OpenInBrowser(const std::string& url);
    // Runs the password manager from the program directory in this terminal; `onEnd` runs
    // when it has ended. False when it could not be started; `*missing` tells whether the
    // program is not there.
    bool StartPasswordManager(std::function<void()> onEnd, bool* missing);
    void Exit();

    http::ServerInstance& server1() { return server1_; }
    http::ServerInstance& server2() { return server2_; }
    const http::ServerInstance& server(int number) const {
        return number == 1 ? server1_ : server2_;
    }
    http::ServerInstance& server(int number) { return number == 1 ? server1_ : server2_; }
    // When the certificate a server obtained expires; 0 when it has none.
    std::time_t CertificateExpiry(int number) const { return keepers_[number - 1]->Expiry(); }

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
    // The keepers of the certificates the servers obtain, for Server 1 and Server 2; each runs
    // while its server does.
    std::array<std::unique_ptr<acme::CertificateKeeper>, 2> keepers_;
    HeadlessView headless_{context_.hostAddress};
    OwnerView* view_ = &headless_;
};

}  // namespace app
