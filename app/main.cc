// The process entry: options, the single-copy guard, the configuration (or the first-run
// installer when there is none), the host address, then the shell.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/control_panel.h"
#include "app/host_address.h"
#include "app/installer.h"
#include "app/options.h"
#include "app/owner_commands.h"
#include "app/qr_text.h"
#include "app/shell.h"
#include "apps/visitor_table.h"
#include "auth/basic_auth.h"
#include "config/server_config.h"
#include "config/system_mime_types.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/program.h"
#include "platform/single_instance.h"
#include "platform/version.h"
#include "site/app_connection.h"

namespace {

constexpr const char* kLockName = VANTRY_PRODUCT_TEXT;

// Prints the address of Server 1's home page as the links carry it, or its QR code followed
// by it; 1 when there is no configuration or no address (or no code can be made).
int PrintUrl(std::string hostAddress, bool asQrCode) {
    config::ServerConfig configuration = config::ServerConfig::Load(platform::ProgramDirectory());
    if (configuration.iniMissing) return 1;
    if (hostAddress.empty()) hostAddress = app::FindHostAddress().value_or("");
    if (hostAddress.empty()) return 1;
    if (std::optional<std::string> problem = config::PortProblem(configuration.server1())) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return 1;
    }
    std::string url = app::ServerUrl(hostAddress, configuration.server1().port, "/");
    if (!asQrCode) {
        std::printf("%s\n", url.c_str());
        return 0;
    }
    std::string text = app::QrCodeText(url);
    std::fputs(text.c_str(), stdout);
    return text.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    app::Options options = app::ParseOptions(argc, argv);
    if (options.help) {
        std::fputs(app::UsageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts(VANTRY_PRODUCT_TEXT);
        return 0;
    }

    std::string bindAddress;
    std::string hostAddress;
    if (options.bind) bindAddress = hostAddress = *options.bind;
    if (options.absolute) hostAddress = *options.absolute;
    if (options.url || options.qr) return PrintUrl(hostAddress, options.qr);

    platform::RaiseDescriptorLimit();
    // The C library reads the time zone once, here, before any thread: its first reading
    // replaces state that the time conversions of every thread share.
    platform::StandardOffsetMinutes();
    auto lock = platform::SingleInstanceLock::Acquire(kLockName);
    if (!lock) return 0;  // another copy runs: this one does nothing

    // With a terminal the owner looks at the control panel; without one, at standard error.
    bool panelWanted = !options.headless && platform::HasTerminal();

    std::string programDirectory = platform::ProgramDirectory();
    config::ServerConfig configuration = config::ServerConfig::Load(programDirectory);
    if (configuration.iniMissing) {
        // The installer runs instead of the servers; the termination signals keep their usual
        // effect, so Ctrl-C ends it.
        if (!panelWanted) {
            app::HeadlessDialogs dialogs(std::cerr);
            return app::RunInstaller(dialogs) ? 0 : 1;
        }
        app::TerminalDialogs dialogs(std::cin, std::cout);
        return app::RunInstaller(dialogs) ? 0 : 1;
    }

    // The system's MIME database is read once, before the first request needs it.
    config::LoadSystemMimeTypes();

    // Before any thread exists, so that only the event loop sees termination signals.
    platform::BlockTerminationSignals();

    if (hostAddress.empty()) {
        std::optional<std::string> found = app::FindHostAddress();
        if (!found) {
            if (!panelWanted || !app::TellInTerminal(app::kNoNetworkMessage, app::kProductName)) {
                std::fprintf(stderr, "%s\n", app::kNoNetworkMessage);
            }
            return 0;
        }
        hostAddress = *found;
    }

    // A login that checks out counts as a visit in the table the user list shows.
    auth::SetLoginObserver(apps::RecordVisit);
    app::Shell shell(std::move(configuration), bindAddress, hostAddress,
                     [] { return std::make_unique<site::AppConnection>(); });
    shell.ShowQrCodeOnStart(!options.noQr);
    app::ControlPanel panel(shell);
    if (panelWanted) panel.Open();
    shell.Run();
    return 0;
}
