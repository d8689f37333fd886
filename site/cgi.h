// The CGI gateway: runs a program from the server's cgi-bin directory with the request in its
// environment and on its standard input, and relays what it writes to the client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/server_config.h"
#include "platform/ip_address.h"

namespace site {

class AppConnection;

// The longest value the gateway puts into a script's environment; longer ones are cut.
inline constexpr size_t kMaxCgiValueLength = 4096;
// The longest DOCUMENT_ROOT and SCRIPT_FILENAME values.
inline constexpr size_t kMaxCgiPathValueLength = 255;

// What a script's environment reports about one request.
struct CgiRequest {
    bool isPost = false;
    uint64_t contentLength = 0;
    std::string_view queryString;
    std::string_view serverName;
    int serverPort = 0;
    platform::IpAddress clientAddress;
    uint16_t clientPort = 0;  // host byte order
    std::string_view documentRoot;
    std::string_view scriptFilename;
    std::string_view protocol;
    std::string_view requestUri;  // the decoded URL, query included
    std::string_view scriptName;  // the decoded URL without its query
    std::string_view headers;     // the request's header lines, each ended by CR
    // The HTTP_ values keep the letter case the client sent (they are upper-cased otherwise).
    bool keepHeaderCase = false;
};

// The script's environment as "NAME=value" entries: `processEnvironment` first, less the
// entries whose names the gateway sets itself, then the request's variables and one HTTP_
// variable per header line (name upper-cased with "-" as "_", and the value unless
// `keepHeaderCase`). Header lines without a colon, with a name that would not stay one
// variable name, or naming HTTP_PROXY are left out, and of several lines giving the same name
// only the first counts.
// Last come CONTENT_TYPE (the body's type as sent, when the request names one) and
// REDIRECT_STATUS=200, which interpreters such as php-cgi require before they run a script.
std::vector<std::string> BuildCgiEnvironment(const std::vector<std::string>& processEnvironment,
                                             const CgiRequest& request);

// The cgi-bin directory of a root, where scripts run (it ends in "/").
std::string CgiDirectory(const std::string& wwwroot);
// The program `scriptName` (the URL after "cgi-bin", query included) names in the cgi-bin
// directory of `wwwroot`; std::nullopt when it names none.
std::optional<std::string> CgiScriptPath(const std::string& wwwroot, std::string_view scriptName);

// True when `path` names a file inside the cgi-bin directory of a running server of
// `serverConfig` that runs scripts, whatever links or virtual directories lead there.
bool IsScriptFile(const config::ServerConfig& serverConfig, const std::string& path);
// True when `directory` is the cgi-bin directory of a running server of `serverConfig` that
// runs scripts, or lies inside it, whatever links lead there.
bool IsScriptDirectory(const config::ServerConfig& serverConfig, const std::string& directory);

// Runs `scriptName` (the URL after "cgi-bin", query included) from the server's cgi-bin
// directory and relays its output after the success head. A script that exists but cannot
// be started leaves status 500 (and the failure on the owner's status line). False, with
// nothing sent, when there is no such script: the request is then served as a file.
bool RunCgiScript(AppConnection& connection, std::string scriptName);

}  // namespace site
