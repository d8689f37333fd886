// Routing of requests to the administration pages, the applications, CGI scripts, files and
// directories; the helpers that every handler shares.
#include "site/app_connection.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "acme/challenges.h"
#include "admin/admin_router.h"
#include "apps/application_pages.h"
#include "apps/application_router.h"
#include "apps/visitor_table.h"
#include "auth/basic_auth.h"
#include "config/mapping_tables.h"
#include "http/listener.h"
#include "pages/help_pages.h"
#include "pages/page_template.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/network.h"
#include "platform/open_file.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/version.h"
#include "site/access_log.h"
#include "site/cgi.h"

namespace site {
namespace {

using platform::StartsWithNoCase;

// The longest local path a request may map to, and the longest virtual-directory key.
constexpr size_t kMaxPathLength = 259;
constexpr size_t kMaxVirtualDirectoryKey = 259;

constexpr std::string_view kAdminPrefix = "admin";
constexpr std::string_view kDownloadPage = "VNTFileDownload.html";
constexpr std::string_view kFavoritesPrefix = "VNT/FAVORITES/";
// Where the modern look takes a file by PUT: the name follows.
constexpr std::string_view kPutUploadPrefix = "VNT/upload/";
// The resumable uploads of the modern look: an upload's name follows.
constexpr std::string_view kResumablePrefix = "VNT/resumable";
constexpr std::string_view kApplicationPrefix = "VNT";
constexpr std::string_view kCgiPrefix = "cgi-bin";
// The directory part of a URL: the text before its last "/", or all of it.
std::string_view DirectoryPart(std::string_view url) {
    size_t slash = url.rfind('/');
    return slash == std::string_view::npos ? url : url.substr(0, slash);
}

}  // namespace

std::string RoutePath(std::string_view decodedUrl) {
    const size_t question = decodedUrl.find('?');
    const std::string_view path = decodedUrl.substr(0, question);
    std::string routed;
    routed.reserve(decodedUrl.size());
    bool namesDirectory = false;
    for (size_t start = 0; start <= path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, end - start);
        namesDirectory = segment.empty() || segment == ".";
        if (!namesDirectory) {
            if (!routed.empty()) routed.push_back('/');
            routed.append(segment);
        }
        start = end + 1;
    }
    if (namesDirectory && !routed.empty()) routed.push_back('/');
    if (question != std::string_view::npos) routed.append(decodedUrl.substr(question));
    return routed;
}

std::optional<std::string> MapVirtualDirectory(const std::string& programDirectory,
                                               std::string_view url) {
    std::string_view key = DirectoryPart(url);
    if (key.size() > kMaxVirtualDirectoryKey) return std::nullopt;
    std::string value = config::GetVirtualDirectory(programDirectory, key);
    if (value.size() > kMaxPathLength) value.resize(kMaxPathLength);
    if (value.empty()) return std::nullopt;
    size_t slash = url.rfind('/');
    if (slash != std::string_view::npos) value.append(url.substr(slash));
    return value;
}

bool AppConnection::AuthRequiredFor() const {
    const config::ServerSettings* settings = Settings();
    return settings != nullptr && settings->authRequired;
}

bool AppConnection::IsRemoteClient() const {
    // A proxy or a tunnel on this machine relays visitors from anywhere: what it forwarded is
    // never this machine's own client, whatever address it connects from, unless the proxy
    // is trusted and named the client, which then stands in its place.
    if (!ClientForwarded() && http::CarriesForwardingHeader(request().headerText())) return true;
    // Other loopback addresses such as 127.0.0.3 belong to no interface and stay remote.
    std::vector<platform::IpAddress> own = platform::OwnAddresses();
    return std::find(own.begin(), own.end(), clientAddress) == own.end();
}

bool AppConnection::CheckAuthorization(bool administrator) {
    return auth::AuthorizeRequest(*this, administrator, Config().servers[0].servername);
}

AppConnection::Route AppConnection::RouteOf(std::string_view u) const {
    if (StartsWithNoCase(u, kAdminPrefix)) return Route::kAdmin;
    if (StartsWithNoCase(u, kDownloadPage)) return Route::kDownloadPage;
    if (StartsWithNoCase(u, kFavoritesPrefix)) return Route::kFavorites;
    if (StartsWithNoCase(u, kApplicationPrefix)) return Route::kApplication;
    const config::ServerSettings* settings = Settings();
    if (settings != nullptr && settings->cgi && StartsWithNoCase(u, kCgiPrefix)) {
        return Route::kScript;
    }
    return Route::kFile;
}

bool AppConnection::MayAnswerOnLoop() {
    if (request().method() != "GET" && !request().IsHead()) return false;
    // Whether the client is this machine's own is left to a worker.
    if (const config::ServerSettings* settings = Settings();
        settings != nullptr && settings->httpsOnly) {
        return false;
    }
    // Checking a password reads the registry file, and a hashed one costs time on purpose:
    // that is left to a worker.
    if (AuthRequiredFor()) return false;
    std::string decoded(request().target());
    UrlDecode(decoded);
    return RouteOf(RoutePath(decoded)) == Route::kFile;
}

bool AppConnection::TakesChunksAsTheyCome() {
    if (request().method() != "PUT" || !DriveOn()) return false;
    std::string decoded(request().target());
    UrlDecode(decoded);
    return RouteOf(RoutePath(decoded)) == Route::kFile;
}

bool AppConnection::RedirectsToHttps() const {
    const config::ServerSettings* settings = Settings();
    return settings != nullptr && settings->httpsOnly && !IsTls() && !ForwardedAsHttps() &&
           server->TlsPort() != 0 && IsRemoteClient();
}

void AppConnection::SendHttpsRedirect(std::string_view target) {
    // The name the client asked for, so that the certificate it is given matches; a Host of
    // anything but a plain name or address gives way to the server's own address.
    std::string host = platform::UrlHost(server->context().hostAddress);
    std::optional<std::string_view> asked = request().Header("Host");
    if (std::optional<std::string_view> name =
            asked ? platform::HostOfAuthority(*asked) : std::nullopt) {
        if (platform::IsPlainHost(*name)) host = platform::UrlHost(std::string(*name));
    }
    std::string location = "https://" + host;
    if (server->TlsPort() != 443) location += ":" + std::to_string(server->TlsPort());
    // The target as requested: it travels unchanged, escapes and all.
    location.append(target.empty() || target.front() != '/' ? "/" : "").append(target);
    SendText("HTTP/1.0 301 Moved Permanently\r\nServer: " VANTRY_SERVER_HEADER "\r\nLocation: " +
             location + "\r\nContent-Length: 0\r\n\r\n");
    Answer(http::Response::Sent(301));
}

bool AppConnection::TakeTarget(std::string requestUrl) {
    decodedUrl = std::move(requestUrl);
    // Under the network drive a path's "+" is a plus, as every WebDAV client means it (a file
    // it stored as "a+b.txt" is read back by that name); elsewhere it stands for a blank.
    const size_t question = decodedUrl.find('?');
    const config::ServerSettings* settings = Settings();
    if (DriveOn() && decodedUrl.compare(0, settings->webdavPath.size() - 1, settings->webdavPath, 0,
                                        settings->webdavPath.size() - 1) == 0) {
        std::string query = question == std::string::npos ? "" : decodedUrl.substr(question);
        decodedUrl.resize(std::min(question, decodedUrl.size()));
        platform::PercentDecode(decodedUrl);
        UrlDecode(query);
        decodedUrl.append(query);
    } else {
        UrlDecode(decodedUrl);
    }
    SetLoggedTarget(decodedUrl);
    // A zero byte would cut the path short at the system's door: refuse it outright.
    if (decodedUrl.find('\0') != std::string::npos) {
        Answer(http::Response::Error(400));
        return false;
    }
    routePath = RoutePath(decodedUrl);
    return true;
}

bool AppConnection::AnswersChallenge(std::string_view requestUrl) {
    const std::string_view method = request().method();
    if (!requestUrl.starts_with(acme::kChallengePrefix) || (method != "GET" && method != "HEAD")) {
        return false;
    }
    // Tokens are Base64Url text: the raw target is the token, with nothing to decode.
    const std::string_view token = requestUrl.substr(acme::kChallengePrefix.size());
    decodedUrl = requestUrl;
    SetLoggedTarget(decodedUrl);
    std::optional<std::string> answer = acme::ChallengeBoard::Shared().Answer(token);
    if (!answer) {
        Answer(http::Response::Error(404));
        return true;
    }
    SendText("HTTP/1.0 200 OK\r\nServer: " VANTRY_SERVER_HEADER
             "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
             std::to_string(answer->size()) + "\r\n\r\n" + (method == "HEAD" ? "" : *answer));
    Answer(http::Response::Sent(200));
    return true;
}

void AppConnection::OnGet(std::string requestUrl) {
    queryString.reset();
    servedRoot.clear();
    // Challenges are answered before anything else: over plain HTTP even where visitors are
    // sent to HTTPS, and without a login.
    if (AnswersChallenge(requestUrl)) return;
    if (RedirectsToHttps()) {
        decodedUrl = requestUrl;
        SendHttpsRedirect(requestUrl);
        return;
    }
    if (!TakeTarget(std::move(requestUrl))) return;
    std::string_view u = routePath;

    switch (RouteOf(u)) {
        case Route::kAdmin:
            framingDenied = true;
            if (IsRemoteClient()) {
                if (!CheckAuthorization(true)) return;
            } else {
                apps::RecordVisit(clientAddress, "");
            }
            HandleAdmin(std::string(u.substr(kAdminPrefix.size())));
            return;
        case Route::kDownloadPage: {
            if (AuthRequiredFor() && !CheckAuthorization(false)) return;
            const config::ServerSettings* settings = Settings();
            if (settings == nullptr || !config::IsUsableRoot(settings->wwwroot)) {
                Answer(http::Response::Error(404));
                return;
            }
            std::string root = settings->wwwroot;
            EndWithSlash(root);
            servedRoot = root;
            Answer(http::Response::Listing(std::move(root)));
            return;
        }
        case Route::kFavorites:
            if (AuthRequiredFor() && !CheckAuthorization(false)) return;
            apps::ListFavorites(*this, std::string(u.substr(kFavoritesPrefix.size())));
            return;
        case Route::kApplication:
            // The stylesheet, the upload script and the help pages are no visit and need no
            // login: a login page needs the stylesheet, and help is for whoever is lost. Both
            // looks serve them, since the help pages are drawn with the stylesheet.
            if (pages::SendPageAsset(*this, u)) return;
            if (pages::IsHelpPath(u)) {
                pages::SendHelpPage(*this, u);
                return;
            }
            if (RoutesResumableUpload(u)) return;
            if (!AdmitsVisitor()) return;
            RouteApplication(std::string(u.substr(kApplicationPrefix.size())));
            return;
        case Route::kScript:
        case Route::kFile:
            if (AuthRequiredFor() && !CheckAuthorization(false)) return;
            MapToFile(u);
            return;
    }
}

void AppConnection::OnPut(std::string requestUrl) {
    queryString.reset();
    if (!ModernLook() && !DriveOn()) {
        Answer(http::Response::Error(501));
        return;
    }
    if (!TakeTarget(std::move(requestUrl))) return;
    const std::string_view u = std::string_view(routePath).substr(0, routePath.find('?'));
    if (ModernLook() && StartsWithNoCase(u, kPutUploadPrefix)) {
        if (AdmitsUpload()) apps::HandlePutUpload(*this, u.substr(kPutUploadPrefix.size()));
        return;
    }
    if (!RoutesDrive()) Answer(http::Response::Error(501));
}

void AppConnection::OnOtherMethod(std::string requestUrl) {
    queryString.reset();
    if (!ModernLook() && !DriveOn()) {
        Answer(http::Response::Error(400));
        return;
    }
    if (!TakeTarget(std::move(requestUrl))) return;
    if (RoutesResumableUpload(routePath)) return;
    if (!RoutesDrive()) Answer(http::Response::Error(400));
}

bool AppConnection::DriveOn() const {
    const config::ServerSettings* settings = Settings();
    return settings != nullptr && settings->webdav != config::WebDavMode::kOff;
}

bool AppConnection::RoutesResumableUpload(std::string_view u) {
    u = u.substr(0, u.find('?'));
    if (!ModernLook() || !StartsWithNoCase(u, kResumablePrefix)) return false;
    const std::string_view rest = u.substr(kResumablePrefix.size());
    if (!rest.empty() && rest.front() != '/') return false;
    if (AdmitsUpload()) apps::HandleResumableUpload(*this, rest);
    return true;
}

bool AppConnection::AdmitsVisitor() {
    if (AuthRequiredFor()) return CheckAuthorization(false);
    apps::RecordVisit(clientAddress, "");
    return true;
}

bool AppConnection::AdmitsUpload() {
    // A plain request of a server that takes only HTTPS from other machines is refused rather
    // than redirected: the client would not send its body again.
    if (RedirectsToHttps()) {
        Answer(http::Response::Error(403));
        return false;
    }
    return AdmitsVisitor();
}

bool AppConnection::MapToFile(std::string_view u) {
    const config::ServerSettings* settings = Settings();
    if (DirectoryPart(u).size() > kMaxVirtualDirectoryKey) {
        Answer(http::Response::Error(404));
        return false;
    }
    // Only a root the owner named as an absolute path is served from: anything else would
    // be resolved against the working directory.
    std::string path;
    if (std::optional<std::string> mapped = MapVirtualDirectory(Config().programDirectory, u)) {
        path = std::move(*mapped);
        // The value the URL's directory part maps to: the path less the URL's last name.
        const size_t slash = u.rfind('/');
        servedRoot =
            path.substr(0, path.size() - (slash == std::string_view::npos ? 0 : u.size() - slash));
    } else if (settings != nullptr) {
        path = settings->wwwroot.substr(0, kMaxPathLength);
        EndWithSlash(path);
        servedRoot = path;
        path.append(u);
    }
    if (!config::IsUsableRoot(path)) {
        Answer(http::Response::Error(404));
        return false;
    }
    if (size_t question = path.find('?'); question != std::string::npos) {
        queryString = path.substr(question + 1);
        path.resize(question);
    }
    if (path.size() > kMaxPathLength) {
        Answer(http::Response::Error(404));
        return false;
    }
    if (path.find("..") != std::string::npos || path.find('*') != std::string::npos) {
        Answer(http::Response::Error(403));
        return false;
    }
    if (RouteOf(u) == Route::kScript) {
        if (RunCgi(std::string(u.substr(kCgiPrefix.size())))) return true;
    }
    std::optional<platform::OpenedFile> opened;
    if (path.back() != '/') {
        // One open tells a file, kept for sending, from a directory, whose visitor is sent
        // to its address with a slash (an unreadable one is known by looking at it).
        platform::OpenFailure failure = platform::OpenFailure::kNotFound;
        opened = platform::OpenRegularFile(path, &failure);
        if (!opened &&
            (failure == platform::OpenFailure::kDirectory ||
             (failure == platform::OpenFailure::kNotAllowed && platform::DirectoryExists(path)))) {
            SendDirectoryRedirect(u);
            return true;
        }
    }
    if (path.back() == '/' && settings != nullptr) {
        std::string withDocument = path + settings->defaultDocument;
        if (platform::FileExists(withDocument)) path = std::move(withDocument);
    }
    if (path.back() == '/') {
        Answer(http::Response::Listing(std::move(path)));
        return true;
    }
    // A file of a cgi-bin directory is a script whose source is the owner's: reached by any
    // way other than the script route (a virtual directory, a link, a default document) it
    // is refused.
    if (IsScriptFile(Config(), path)) {
        Answer(http::Response::Error(403));
        return false;
    }
    Answer(http::Response::File(std::move(path), std::move(opened)));
    return true;
}

void AppConnection::SendDirectoryRedirect(std::string_view decoded) {
    // The target is absolute: a relative one would be resolved against the parent of the
    // requested directory.
    std::string_view path = decoded.substr(0, decoded.find('?'));
    std::string target = "/" + UrlEncodeName(path) + "/";
    std::string response =
        "HTTP/1.0 301 Moved Permanently\r\n"
        "Date: Mon, 27 Sep 1999 02:55:36 GMT\r\n"
        "Server: " VANTRY_SERVER_HEADER
        "\r\n"
        "Location: " +
        target +
        "\r\n"
        "Keep-Alive: timeout=15, max=100\r\n" +
        PageTypeLines() +
        "\r\n"
        "\r\n"
        "<HTML><HEAD>\r\n"
        "<TITLE>301 Moved Permanently</TITLE>\r\n"
        "</HEAD><BODY>\r\n"
        "<H1>Moved Permanently</H1>\r\n"
        "The document has moved <A HREF=\"\r\n" +
        target.substr(0, target.size() - 1) +
        "\r\n"
        "/\r\n"
        "\">here</A>.<P></BODY></HTML>\r\n";
    SendText(response);
    Answer(http::Response::Sent(301));
}

std::string AppConnection::ContentTypeFor(std::string_view extension) {
    return config::ContentTypeFor(Config().programDirectory, extension);
}

void AppConnection::UpperCaseUrlTail(size_t length) {
    size_t start = decodedUrl.size() - std::min(length, decodedUrl.size());
    for (size_t i = start; i < decodedUrl.size(); ++i) {
        decodedUrl[i] = platform::AsciiUpper(decodedUrl[i]);
    }
    SetLoggedTarget(decodedUrl);
}

void AppConnection::HandleAdmin(std::string path) {
    UpperCaseUrlTail(path.size());
    admin::HandleAdmin(*this, platform::UpperCopy(path));
}

void AppConnection::RouteApplication(std::string path) {
    UpperCaseUrlTail(path.size());
    std::string name = platform::UpperCopy(path);
    if (apps::IsUserListPath(name) && !MaySeeUserList()) return;
    apps::RouteApplication(*this, std::move(name));
}

bool AppConnection::MaySeeUserList() {
    const config::ServerSettings* settings = Settings();
    if (settings == nullptr || !settings->userListEnabled || settings->userListPublic ||
        !IsRemoteClient()) {
        return true;
    }
    if (!AuthRequiredFor()) return CheckAuthorization(true);
    // The visitor's own login has passed already: a user who is not the administrator is
    // asked again, which counts as no failed login.
    if (auth::CheckAuthorizationHeader(request().headerText(), true, clientAddress)) return true;
    auth::SendAuthChallenge(*this, Config().servers[0].servername);
    return false;
}

bool AppConnection::RunCgi(std::string scriptName) {
    return RunCgiScript(*this, std::move(scriptName));
}

void AppConnection::LogRequest() {
    const config::ServerSettings* settings = Settings();
    if (settings != nullptr && !settings->logs) return;
    // An error's line counts the page text a handler had written before it failed.
    const uint64_t bytes = response().IsError() ? page().length() : BytesSent();
    std::optional<std::string> failure = AppendToAccessLog(
        FormatLogLine(clientAddress, platform::LocalNow(), platform::StandardOffsetMinutes(),
                      LoggedTarget(), response().status(), bytes));
    if (failure) ReportToOwner("Could not write the access log: " + *failure + ".");
}

}  // namespace site
