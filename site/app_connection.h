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
#include "platform/text.h"

namespace site {

class AppConnection : public http::Connection {
  public:
    void OnGet(std::string requestUrl) override;
    // The modern look takes a file at "/VNT/upload/NAME", and the network drive, when it is
    // on, a file under its prefix; any other PUT is refused (501).
    void OnPut(std::string requestUrl) override;
    // The modern look's resumable uploads take PATCH, DELETE and OPTIONS under
    // "/VNT/resumable/", and the network drive its methods; any other such request is
    // refused (400).
    void OnOtherMethod(std::string requestUrl) override;
    // A GET or HEAD of a file or directory of the site, without a login.
    bool MayAnswerOnLoop() override;
    // A file the network drive takes by PUT is written as its chunks come.
    bool TakesChunksAsTheyCome() override;
    std::string ContentTypeFor(std::string_view extension) override;
    void LogRequest() override;
    // The listing of the directory the answer names, when the server lists directories.
    void ListDirectory() override;
    // The decoded target once OnGet has run, with the names the routers matched upper-cased.
    std::string_view RoutedTarget() const override { return decodedUrl; }

    // The administration pages under "/admin"; `path` is the URL after "admin".
    virtual void HandleAdmin(std::string path);
    // The applications under "/VNT"; `path` is the URL after "VNT".
    void RouteApplication(std::string path);
    // Runs `scriptName` (the URL after "cgi-bin") from the server's cgi-bin directory; false
    // when there is no such script, and the request is then served as a file.
    virtual bool RunCgi(std::string scriptName);

    bool AuthRequiredFor() const;
    // True unless the client's address is one of this machine's own (the first IPv4 address
    // of its host name or an address of one of its interfaces) and the request carries no
    // header by which a proxy says it forwards someone else's.
    bool IsRemoteClient() const;
    // Checks the request's Basic credentials (as the administrator, or as any user); on
    // failure the 401 challenge has been sent and the request is finished.
    bool CheckAuthorization(bool administrator);

    // The text after the first "?" of the mapped path, when there is one.
    std::optional<std::string> queryString;
    // The path the request is routed by (see RoutePath), once OnGet has run.
    std::string routePath;
    // The directory the request's path was mapped under: the server's root or the virtual
    // directory's; what a folder's zip may hold lies in it.
    std::string servedRoot;

  protected:
    // See RoutedTarget; OnGet sets it first thing.
    std::string decodedUrl;

  private:
    // Where a URL (without its leading "/", decoded) goes. Scripts only when the server runs
    // them; otherwise "cgi-bin" is a directory like any other.
    enum class Route { kAdmin, kDownloadPage, kFavorites, kApplication, kScript, kFile };
    Route RouteOf(std::string_view u) const;
    // The routers work on upper-cased names, and the request's URL (and so its log line)
    // shows the name as they saw it: the last `length` characters are upper-cased in place.
    void UpperCaseUrlTail(size_t length);
    void SendDirectoryRedirect(std::string_view decoded);
    // A plain request of a server that takes only HTTPS from other machines' clients.
    bool RedirectsToHttps() const;
    // Answers a certificate authority's look at /.well-known/acme-challenge/TOKEN: the key
    // authorization of a token this process waits for, 404 for any other. False when the
    // request is for another path.
    bool AnswersChallenge(std::string_view requestUrl);
    // Answers 301 with the same target on the server's TLS port.
    void SendHttpsRedirect(std::string_view target);
    // Decodes the request's target into decodedUrl (the log's target too) and routePath;
    // false, with 400 answered, for a target holding a zero byte.
    bool TakeTarget(std::string requestUrl);
    bool MapToFile(std::string_view u);
    // Answers with the folder `directory` (a local path ending in "/") as a ZIP archive, or
    // with the entries of it the request's query names; see site/folder_zip.cc.
    void SendFolderZip(const std::string& directory);
    // The user list shows every visitor's address: to this machine's own clients, and to
    // other machines' only as the administrator unless the owner shows it to every visitor.
    // False when the login challenge has been sent instead.
    bool MaySeeUserList();
    // The login the server asks for of a visitor of the applications, or else the visit
    // recorded; false when the login challenge has been sent instead.
    bool AdmitsVisitor();
    // As AdmitsVisitor for a request that sends a file; a plain one of a server that takes
    // only HTTPS from other machines is refused (403).
    bool AdmitsUpload();
    // A request of the resumable uploads (the modern look's, under "/VNT/resumable"): answered
    // after the login the server asks for; false when `u` is none.
    bool RoutesResumableUpload(std::string_view u);
    // The server's network drive is on (see site/network_drive.cc).
    bool DriveOn() const;
    // A request of the network drive's methods: OPTIONS anywhere, the others under its prefix
    // (and PROPFIND on the folders above it), answered after the login the drive asks for;
    // false when the request is none of the drive's.
    bool RoutesDrive();
};

// The path every route is decided on and mapped by, from a URL decoded once: without its
// leading "/", its empty and "." segments dropped ("//cgi-bin/./t.pl" is "cgi-bin/t.pl"), and
// ending in "/" when the URL names a directory ("/sub/" and "/sub/." are "sub/"). ".."
// segments stay, for the mapping to refuse. The text from the first "?" on is the query and
// is kept as it is.
std::string RoutePath(std::string_view decodedUrl);

using platform::EndWithSlash;
using platform::ReplaceChar;
using platform::UrlDecode;
// The local path of a URL (without its leading "/") whose directory part is a key of the
// "VirtualDirectories" table; std::nullopt when it is none.
std::optional<std::string> MapVirtualDirectory(const std::string& programDirectory,
                                               std::string_view url);
using platform::UrlEncodeName;

}  // namespace site
