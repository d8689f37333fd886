// The connection class the servers run: routing of a request to the administration pages,
// the applications, a CGI script, or a file or directory under the server's root; Basic
// authentication where the server asks for it; the access log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/server_config.h"
#include "http/connection.h"

namespace content {

class AppConnection : public http::Connection {
public:
    void OnGet(std::string requestUrl) override;
    std::string ContentTypeFor(std::string_view extension) override;
    void LogRequest() override;

    // The administration pages under "/admin"; `path` is the URL after "admin".
    virtual void HandleAdmin(std::string path);
    // Runs `scriptName` (the URL after "cgi-bin") from the server's cgi-bin directory; false
    // when there is no such script, and the request is then served as a file.
    virtual bool RunCgi(std::string scriptName);

    // 1 or 2: the server this connection belongs to (0 only for a connection without one).
    int ServerNumber() const;
    // The settings of this connection's server; null for server number 0.
    const config::ServerSettings* Settings() const;
    // "http://address" or "http://address:port", the server's own address for links.
    std::string BaseUrl() const;
    bool AuthRequiredFor() const;
    // True unless the client's address is one of this machine's own: the first IPv4 address
    // of its host name or an address of one of its interfaces.
    bool IsRemoteClient() const;
    // Checks the request's Basic credentials (as the administrator, or as any user); on
    // failure the 401 challenge has been sent and the request is finished.
    bool CheckAuthorization(bool administrator);

    // The text after the first "?" of the mapped path, when there is one.
    std::optional<std::string> queryString;

protected:
    // The decoded URL the request's `url` shows once OnGet has run.
    std::string decodedUrl;

private:
    void SendDirectoryRedirect(std::string_view decoded);
    bool MapToFile(std::string_view u);
};

// Decodes "+" and "%XX" escapes in place; a "%" without two hex digits after it is dropped.
void UrlDecode(std::string& text);
// Replaces every `from` with `to`.
void ReplaceChar(std::string& text, char from, char to);
// Appends "/" to a path that is not empty and does not end in one.
void AppendBackslash(std::string& path);
// The local path of a URL (without its leading "/") whose directory part is a key of the
// "VirtualDirectories" table; std::nullopt when it is none.
std::optional<std::string> MapVirtualDirectory(const std::string& programDirectory,
                                               std::string_view url);
// The name with the characters that would break a link escaped.
std::string UrlEncodeName(std::string_view name);

}  // namespace content
