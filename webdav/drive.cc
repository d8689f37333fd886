// The network drive's entry points, and what every WebDAV method shares: the answers, the
// request bodies, the checks of paths, refusals, locks and conditions.
#include "webdav/drive.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "http/entity_tags.h"
#include "http/http_date.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/open_file.h"
#include "platform/pending_file.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "platform/version.h"
#include "webdav/dead_properties.h"
#include "webdav/exchange.h"
#include "webdav/if_header.h"
#include "webdav/locks.h"
#include "webdav/xml.h"

namespace webdav {
namespace {

using platform::EqualsNoCase;

// The largest XML body read (PROPFIND, PROPPATCH, LOCK).
constexpr uint64_t kMaxXmlBody = 1024 * 1024;
// A streamed answer goes out in pieces of about this size.
constexpr size_t kStreamPiece = 64 * 1024;
// The longest local path the drive works with.
constexpr size_t kMaxLocalPath = 4000;

}  // namespace

std::string_view StatusText(int status) {
    switch (status) {
        case 200:
            return "200 OK";
        case 201:
            return "201 Created";
        case 204:
            return "204 No Content";
        case 207:
            return "207 Multi-Status";
        case 400:
            return "400 Bad Request";
        case 403:
            return "403 Forbidden";
        case 404:
            return "404 Not Found";
        case 405:
            return "405 Method Not Allowed";
        case 409:
            return "409 Conflict";
        case 412:
            return "412 Precondition Failed";
        case 413:
            return "413 Payload Too Large";
        case 415:
            return "415 Unsupported Media Type";
        case 423:
            return "423 Locked";
        case 424:
            return "424 Failed Dependency";
        case 502:
            return "502 Bad Gateway";
        case 507:
            return "507 Insufficient Storage";
        default:
            return "500 Internal Server Error";
    }
}

std::optional<Entry> Look(const std::string& path) {
    Entry entry;
    if (::stat(path.c_str(), &entry.st) != 0) return std::nullopt;
    if (!S_ISDIR(entry.st.st_mode) && !S_ISREG(entry.st.st_mode)) return std::nullopt;
    return entry;
}

bool LinkExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string ParentPath(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string_view LastName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The real path of `path`: links resolved, and for a name that does not exist yet its
// folder's real path and the name.
std::optional<std::string> CanonicalPath(const std::string& path) {
    std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
    if (real) return std::string(real.get());
    if (errno != ENOENT) return std::nullopt;
    std::unique_ptr<char, decltype(&::free)> folder(::realpath(ParentPath(path).c_str(), nullptr),
                                                    &::free);
    if (!folder) return std::nullopt;
    std::string joined(folder.get());
    if (joined != "/") joined.push_back('/');
    joined.append(LastName(path));
    return joined;
}

// A path under the drive a client may write: no hidden folder on the way, and no hidden name
// but the files Apple systems leave beside every file they copy, which they fail the copy
// without.
bool WritablePath(std::string_view relative) {
    for (size_t start = 0; start <= relative.size();) {
        const size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view name = relative.substr(start, end - start);
        if (platform::IsHiddenName(name)) {
            const bool last = end == relative.size();
            if (!last || (name.substr(0, 2) != "._" && name != ".DS_Store")) return false;
        }
        start = end + 1;
    }
    return true;
}

void Exchange::Run() {
    const std::string_view method = c_.request().method();
    if (method == "OPTIONS") {
        AnswerDriveOptions(c_, request_.writable);
        return;
    }
    if (ChangesDrive(method) && (!request_.writable || !WritablePath(request_.relative))) {
        SendStatus(403);
        return;
    }
    std::optional<std::string> local = site_.LocalPath(request_.relative);
    if (!local || local->size() > kMaxLocalPath) {
        SendStatus(404);
        return;
    }
    while (local->size() > 1 && local->back() == '/') local->pop_back();
    local_ = std::move(*local);
    if (method == "PROPFIND") {
        Propfind();
    } else if (method == "PROPPATCH") {
        Proppatch();
    } else if (method == "MKCOL") {
        Mkcol();
    } else if (method == "PUT") {
        Put();
    } else if (method == "DELETE") {
        Delete();
    } else if (method == "COPY" || method == "MOVE") {
        CopyOrMove(method == "MOVE");
    } else if (method == "LOCK") {
        LockResource();
    } else if (method == "UNLOCK") {
        Unlock();
    } else {
        SendStatus(405);
    }
}

std::string Exchange::Head(int status) const {
    std::string head = "HTTP/1.0 ";
    head.append(StatusText(status)).append("\r\nServer: " VANTRY_SERVER_HEADER "\r\nDate: ");
    head.append(http::FormatImfFixdate(platform::NowUtc())).append("\r\n");
    return head;
}

// A whole answer: `lines` are header lines, each ending in CR LF.

void Exchange::SendStatus(int status, std::string_view lines, std::string_view body,
                          std::string_view type) {
    std::string answer = Head(status);
    answer.append(lines);
    if (!body.empty()) answer.append("Content-Type: ").append(type).append("\r\n");
    answer.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n\r\n");
    answer.append(body);
    c_.SendText(answer);
    c_.Answer(http::Response::Sent(status));
}

void Exchange::SendError(int status, std::string_view condition) {
    std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:error xmlns:D=\"DAV:\"><D:";
    body.append(condition).append("/></D:error>\n");
    SendStatus(status, {}, body);
}

// A multi-status answer built in the page buffer, sent in pieces once it grows large.

void Exchange::BeginMultistatus() {
    c_.page().Clear();
    c_.AppendBody(kMultistatusStart);
}

bool Exchange::FlushMultistatus() {
    if (c_.page().length() < kStreamPiece) return !streamFailed_;
    if (!streaming_) {
        std::string head = Head(207);
        head.append("Content-Type: ").append(kXmlType).append("\r\n\r\n");
        c_.SendText(head);
        c_.Answer(http::Response::Sent(207));
        streaming_ = true;
    }
    SendPageBody();
    return !streamFailed_;
}

void Exchange::EndMultistatus() {
    c_.AppendBody(kMultistatusEnd);
    if (!streaming_) {
        std::string body(c_.page().view());
        c_.page().Clear();
        SendStatus(207, {}, body);
        return;
    }
    SendPageBody();
}

void Exchange::SendPageBody() {
    http::TextBuffer& page = c_.page();
    if (!streamFailed_ && page.length() > 0) {
        streamFailed_ =
            !c_.SendToClient(page.data(), page.length(), http::kIdleLimitSeconds * 1000);
    }
    page.Clear();
}

// The body whole, up to kMaxXmlBody; false when it is larger (413 answered) or cut short
// (400 answered).

bool Exchange::ReadSmallBody(std::string* body) {
    if (std::optional<uint64_t> declared = c_.DeclaredBodyLength();
        declared && *declared > kMaxXmlBody) {
        SendStatus(413);
        return false;
    }
    char buffer[16384];
    while (size_t got = c_.ReadBody(buffer, sizeof buffer)) {
        if (body->size() + got > kMaxXmlBody) {
            SendStatus(413);
            return false;
        }
        body->append(buffer, got);
    }
    if (c_.BodyCutShort()) {
        SendStatus(400);
        return false;
    }
    return true;
}

// The body as XML; std::nullopt with nothing answered when there is no body, and with 400
// answered when it is no XML.

std::optional<XmlElement> Exchange::ReadXmlBody(bool* answered) {
    *answered = false;
    std::string body;
    if (!ReadSmallBody(&body)) {
        *answered = true;
        return std::nullopt;
    }
    if (platform::Trim(body).empty()) return std::nullopt;
    std::string error;
    std::optional<XmlElement> root = ParseXml(body, &error);
    if (!root) {
        SendStatus(400);
        *answered = true;
    }
    return root;
}

std::string Exchange::HrefFor(std::string_view relative, bool folder) const {
    std::string path = request_.prefix;
    path.append(relative);
    if (folder && path.back() != '/') path.push_back('/');
    return HrefOf(path);
}

std::string Exchange::Canonical(const std::string& path) const {
    return CanonicalPath(path).value_or(std::string());
}

// The state of the request's resource; std::nullopt, with 404 answered, when there is none.

std::optional<Entry> Exchange::Existing() {
    std::optional<Entry> entry = Look(local_);
    if (!entry) SendStatus(404);
    return entry;
}

// False, with 409 answered, when the folder `path` would go in does not exist.

bool Exchange::ParentExists(const std::string& path) {
    std::optional<Entry> parent = Look(ParentPath(path));
    if (parent && parent->IsFolder()) return true;
    SendStatus(409);
    return false;
}

// False, with the refusal answered, when `path` may not be reached with `access` (one
// whose folder cannot be resolved is missing for a read, in conflict for a write).

bool Exchange::MayReach(const std::string& path, Access access) {
    const std::optional<std::string> canonical = CanonicalPath(path);
    const int refusal =
        !canonical ? (access == Access::kRead ? 404 : 409) : site_.Refusal(*canonical, access);
    if (refusal == 0) return true;
    SendStatus(refusal);
    return false;
}

// The lock tokens the client submits, from the If header; an If header that does not
// parse is answered 400 and gives std::nullopt.

std::optional<std::vector<std::string>> Exchange::SubmittedTokens() {
    std::optional<std::string_view> value = c_.request().Header("If");
    if (!value) return std::vector<std::string>{};
    std::optional<IfHeader> header = ParseIfHeader(*value);
    if (!header) {
        SendStatus(400);
        return std::nullopt;
    }
    return header->Tokens();
}

// The local path of an href of the If header or the Destination header; std::nullopt when
// it lies outside the drive. `relative` receives its path under the prefix.

std::optional<std::string> Exchange::LocalOfUrl(std::string_view url, std::string* relative) const {
    if (size_t scheme = url.find("://"); scheme != std::string_view::npos) {
        const size_t path = url.find('/', scheme + 3);
        url = path == std::string_view::npos ? std::string_view("/") : url.substr(path);
    }
    url = url.substr(0, url.find_first_of("?#"));
    std::string decoded(url);
    platform::PercentDecode(decoded);
    if (decoded.find('\0') != std::string::npos || decoded.empty() || decoded[0] != '/') {
        return std::nullopt;
    }
    std::string_view prefix = request_.prefix;
    std::string_view path = decoded;
    std::string withSlash = decoded + "/";
    if (path.substr(0, prefix.size()) != prefix) {
        if (withSlash != prefix) return std::nullopt;
        path = withSlash;
    }
    path.remove_prefix(prefix.size());
    std::string normal;
    for (size_t start = 0; start <= path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "..") return std::nullopt;
        if (!segment.empty() && segment != ".") {
            if (!normal.empty()) normal.push_back('/');
            normal.append(segment);
        }
        start = end + 1;
    }
    std::optional<std::string> local = site_.LocalPath(normal);
    if (!local || local->size() > kMaxLocalPath) return std::nullopt;
    while (local->size() > 1 && local->back() == '/') local->pop_back();
    if (relative != nullptr) *relative = std::move(normal);
    return local;
}

// Checks what the client must show before changing `path` as `change`: its If header
// (412 when no list of it holds) and every lock the change touches (423 otherwise). A
// failed If header that names a lock token of no lock here is answered 423 when the
// change is locked: the client meant to show a lock and showed the wrong one.
// False with the answer sent.

bool Exchange::MayChange(const std::string& path, Change change) {
    std::optional<std::vector<std::string>> tokens = SubmittedTokens();
    if (!tokens) return false;
    const bool permitted = LockTable::Shared().Permits(path, change, *tokens, now_);
    const bool namesLockToken =
        std::any_of(tokens->begin(), tokens->end(),
                    [](const std::string& token) { return token.compare(0, 4, "DAV:") != 0; });
    if (!permitted && namesLockToken) {
        SendError(423, "lock-token-submitted");
        return false;
    }
    if (!IfHeaderHolds()) return false;
    if (!permitted) {
        SendError(423, "lock-token-submitted");
        return false;
    }
    return true;
}

bool Exchange::IfHeaderHolds() {
    std::optional<std::string_view> value = c_.request().Header("If");
    if (!value) return true;
    std::optional<IfHeader> header = ParseIfHeader(*value);
    if (!header) {
        SendStatus(400);
        return false;
    }
    auto stateOf =
        [this](const std::optional<std::string>& resource) -> std::optional<IfResourceState> {
        std::string path = local_;
        if (resource) {
            std::optional<std::string> mapped = LocalOfUrl(*resource, nullptr);
            if (!mapped) return std::nullopt;
            path = std::move(*mapped);
        }
        IfResourceState state;
        if (std::optional<Entry> entry = Look(path); entry && !entry->IsFolder()) {
            state.entityTag = entry->Tag();
        }
        std::vector<Lock> locks = LockTable::Shared().Covering(path, now_);
        state.lockedBy = [locks = std::move(locks)](std::string_view token) {
            return std::any_of(locks.begin(), locks.end(),
                               [token](const Lock& lock) { return lock.token == token; });
        };
        return state;
    };
    if (webdav::IfHeaderHolds(*header, stateOf)) return true;
    SendStatus(412);
    return false;
}

// If-Match and If-None-Match of a change to `path` (`entry` its state now); 412 answered
// when they fail.

bool Exchange::TagConditionsHold(const std::optional<Entry>& entry) {
    const std::string tag = entry && !entry->IsFolder() ? entry->Tag() : std::string();
    if (std::optional<std::string_view> ifMatch = c_.request().Header("If-Match")) {
        const bool any = platform::Trim(*ifMatch) == "*";
        if (!entry || (!any && !http::EntityTagListMatches(*ifMatch, tag, false))) {
            SendStatus(412);
            return false;
        }
    }
    if (std::optional<std::string_view> ifNoneMatch = c_.request().Header("If-None-Match")) {
        const bool any = platform::Trim(*ifNoneMatch) == "*";
        if (entry && (any || http::EntityTagListMatches(*ifNoneMatch, tag, true))) {
            SendStatus(412);
            return false;
        }
    }
    return true;
}

bool IsDriveMethod(std::string_view method) {
    for (std::string_view known : {"OPTIONS", "PROPFIND", "PROPPATCH", "MKCOL", "PUT", "DELETE",
                                   "COPY", "MOVE", "LOCK", "UNLOCK"}) {
        if (method == known) return true;
    }
    return false;
}

bool ChangesDrive(std::string_view method) {
    return method != "OPTIONS" && method != "PROPFIND" && IsDriveMethod(method);
}

void ServeDrive(http::Connection& c, const Publication& site, const DriveRequest& request) {
    Exchange(c, site, request).Run();
}

void AnswerDriveOptions(http::Connection& c, bool writable) {
    std::string answer = "HTTP/1.0 200 OK\r\nServer: " VANTRY_SERVER_HEADER "\r\nDate: " +
                         http::FormatImfFixdate(platform::NowUtc()) + "\r\n";
    if (writable) {
        answer.append(
            "DAV: 1, 2\r\nAllow: OPTIONS, GET, HEAD, POST, PUT, DELETE, PROPFIND, PROPPATCH, "
            "MKCOL, COPY, MOVE, LOCK, UNLOCK\r\n");
    } else {
        answer.append("DAV: 1\r\nAllow: OPTIONS, GET, HEAD, POST, PROPFIND\r\n");
    }
    answer.append("MS-Author-Via: DAV\r\nContent-Length: 0\r\n\r\n");
    c.SendText(answer);
    c.Answer(http::Response::Sent(200));
}

void AnswerAboveDrive(http::Connection& c, std::string_view path, std::string_view prefix) {
    const std::string_view depth = platform::Trim(c.request().Header("Depth").value_or("1"));
    const std::string date = http::FormatImfFixdate(platform::NowUtc());
    auto collection = [&](std::string_view href) {
        std::string out = "<D:response><D:href>";
        AppendXmlEscaped(HrefOf(href), &out);
        out.append(
            "</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype>"
            "<D:getlastmodified>");
        out.append(date).append(
            "</D:getlastmodified></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
            "</D:response>\n");
        return out;
    };
    std::string body(kMultistatusStart);
    body.append(collection(path));
    if (depth != "0") {
        const size_t next = prefix.find('/', path.size());
        body.append(collection(
            prefix.substr(0, next == std::string_view::npos ? prefix.size() : next + 1)));
    }
    body.append(kMultistatusEnd);
    std::string answer = "HTTP/1.0 207 Multi-Status\r\nServer: " VANTRY_SERVER_HEADER "\r\nDate: ";
    answer.append(date).append("\r\nContent-Type: ").append(kXmlType).append("\r\n");
    answer.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n\r\n");
    answer.append(body);
    c.SendText(answer);
    c.Answer(http::Response::Sent(207));
}

std::string HrefOf(std::string_view path) {
    std::string href;
    for (size_t start = 0; start <= path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        href.append(platform::PercentEncode(path.substr(start, end - start)));
        if (end < path.size()) href.push_back('/');
        start = end + 1;
    }
    return href;
}

}  // namespace webdav
