// The start and stop hooks of the servers: the redirect and offline pages uploaded with the
// FTP client, and the owner's start-up and shut-down scripts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/server_config.h"
#include "http/engine_context.h"

namespace platform {
class BackgroundPrograms;
}

namespace publish {

// The text the redirect templates hold where the server's address goes.
inline constexpr std::string_view kAddressPlaceholder = "Place Your IP Address Here";
// The FTP client, looked for in the program directory.
inline constexpr std::string_view kFtpClientName = "vantry-ftp";

// The server whose configured port is `port`: 1, else 2, else 0 for neither.
int ServerForPort(const config::ServerConfig& config, int port);

// The FTP commands that log in, change to `ftpPath`, delete the old page and upload the new
// one, then end; LF line ends. A page name holding a space is put in double quotes so that
// the client takes it as one name.
std::string FtpCommandText(const config::ServerSettings& settings);

// The text with every LF written as CR LF, as the published files are written.
std::string WithCrLf(std::string_view text);

// The redirect page made from `templateText`: its first placeholder replaced by `address`.
// std::nullopt when the template holds none.
std::optional<std::string> RedirectPageText(std::string_view templateText,
                                            std::string_view address);

// Where the owner's scripts are looked for: the program directory, the working directory,
// then each directory of `searchPath` (a colon-separated list; an empty entry is the working
// directory). Every directory ends in "/".
std::vector<std::string> ScriptDirectories(const std::string& programDirectory,
                                           const std::string& workingDirectory,
                                           std::string_view searchPath);

// The command line of an owner's script: /bin/sh, the script, the server's publishing
// settings, the product text, the host address and the port, each one word.
std::vector<std::string> ScriptArguments(const std::string& scriptPath,
                                         const config::ServerSettings& settings,
                                         const std::string& hostAddress, int port);

class AddressPublisher : public http::ServerHooks {
  public:
    // Files are written to, and programs run in, the process's working directory.
    AddressPublisher(http::EngineContext& context, platform::BackgroundPrograms& programs,
                     std::string programDirectory);

    void AfterStart(http::ServerInstance& server, int requestedPort) override;
    void BeforeStop(http::ServerInstance& server) override;

    // Writes and uploads the redirect page (starting) or the offline page (stopping) of the
    // server whose port the listener has. False when that server's redirector is off.
    bool PublishAddress(http::ServerInstance& server, bool starting);
    // Writes the FTP command file of server `number`, readable by its owner only.
    bool WriteFtpCommands(int number, const std::string& fileName, std::string* error);
    // Writes the page made from the template `templateName` (a file of that name in the
    // working directory, else the embedded one) into `outputFileName`. False, and nothing
    // written, when a redirect template holds no placeholder or the page cannot be written.
    bool WriteRedirectPage(const std::string& templateName, int port,
                           const std::string& outputFileName, std::string* error);

  private:
    void RunScript(const std::string& name, const config::ServerSettings& settings, int port);
    void StartFtpClient(const config::ServerSettings& settings, const std::string& commandFile);

    http::EngineContext& context_;
    platform::BackgroundPrograms& programs_;
    std::string programDirectory_;
};

}  // namespace publish
