// The WebDAV methods: OPTIONS, PROPFIND, PROPPATCH, MKCOL, PUT, DELETE, COPY, MOVE, LOCK and
// UNLOCK, over the local files the site publishes.
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
// Lock timeouts: when the client names none, and the longest granted.
constexpr uint32_t kDefaultLockSeconds = 3600;
constexpr uint32_t kLongestLockSeconds = 7 * 24 * 3600;
// The longest local path the drive works with.
constexpr size_t kMaxLocalPath = 4000;

constexpr std::string_view kMultistatusStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
constexpr std::string_view kMultistatusEnd = "</D:multistatus>\n";
constexpr std::string_view kXmlType = "application/xml; charset=utf-8";

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

struct FolderCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using FolderHandle = std::unique_ptr<DIR, FolderCloser>;

// A local file's state as the drive reads it.
struct Entry {
    struct stat st {};
    bool IsFolder() const { return S_ISDIR(st.st_mode); }
    std::string Tag() const {
        return platform::EntityTag(static_cast<uint64_t>(st.st_ino),
                                   static_cast<uint64_t>(st.st_size),
                                   int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec);
    }
};

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

std::string IsoDate(std::time_t utc) {
    std::tm parts{};
    ::gmtime_r(&utc, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string NewLockToken() {
    const std::string hex = platform::RandomHexName();
    if (hex.size() != 32) return {};
    return "opaquelocktoken:" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" +
           hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" + hex.substr(20);
}

class Exchange {
  public:
    Exchange(http::Connection& c, const Publication& site, const DriveRequest& request)
        : c_(c), site_(site), request_(request), now_(platform::MonotonicMillis()) {}

    void Run() {
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

  private:
    // --- Answers ---

    std::string Head(int status) const {
        std::string head = "HTTP/1.0 ";
        head.append(StatusText(status)).append("\r\nServer: " VANTRY_SERVER_HEADER "\r\nDate: ");
        head.append(http::FormatImfFixdate(platform::NowUtc())).append("\r\n");
        return head;
    }

    // A whole answer: `lines` are header lines, each ending in CR LF.
    void SendStatus(int status, std::string_view lines = {}, std::string_view body = {},
                    std::string_view type = kXmlType) {
        std::string answer = Head(status);
        answer.append(lines);
        if (!body.empty()) answer.append("Content-Type: ").append(type).append("\r\n");
        answer.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n\r\n");
        answer.append(body);
        c_.SendText(answer);
        c_.Answer(http::Response::Sent(status));
    }

    void SendError(int status, std::string_view condition) {
        std::string body =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:error xmlns:D=\"DAV:\"><D:";
        body.append(condition).append("/></D:error>\n");
        SendStatus(status, {}, body);
    }

    // A multi-status answer built in the page buffer, sent in pieces once it grows large.
    void BeginMultistatus() {
        c_.page().Clear();
        c_.AppendBody(kMultistatusStart);
    }
    bool FlushMultistatus() {
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
    void EndMultistatus() {
        c_.AppendBody(kMultistatusEnd);
        if (!streaming_) {
            std::string body(c_.page().view());
            c_.page().Clear();
            SendStatus(207, {}, body);
            return;
        }
        SendPageBody();
    }
    void SendPageBody() {
        http::TextBuffer& page = c_.page();
        if (!streamFailed_ && page.length() > 0) {
            streamFailed_ =
                !c_.SendToClient(page.data(), page.length(), http::kIdleLimitSeconds * 1000);
        }
        page.Clear();
    }

    // --- Request bodies ---

    // The body whole, up to kMaxXmlBody; false when it is larger (413 answered) or cut short
    // (400 answered).
    bool ReadSmallBody(std::string* body) {
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
    std::optional<XmlElement> ReadXmlBody(bool* answered) {
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

    // --- Paths, refusals, locks ---

    std::string HrefFor(std::string_view relative, bool folder) const {
        std::string path = request_.prefix;
        path.append(relative);
        if (folder && path.back() != '/') path.push_back('/');
        return HrefOf(path);
    }

    std::string Canonical(const std::string& path) const {
        return CanonicalPath(path).value_or(std::string());
    }

    // The state of the request's resource; std::nullopt, with 404 answered, when there is none.
    std::optional<Entry> Existing() {
        std::optional<Entry> entry = Look(local_);
        if (!entry) SendStatus(404);
        return entry;
    }

    // False, with 409 answered, when the folder `path` would go in does not exist.
    bool ParentExists(const std::string& path) {
        std::optional<Entry> parent = Look(ParentPath(path));
        if (parent && parent->IsFolder()) return true;
        SendStatus(409);
        return false;
    }

    // False, with the refusal answered, when `path` may not be reached with `access` (one
    // whose folder cannot be resolved is missing for a read, in conflict for a write).
    bool MayReach(const std::string& path, Access access) {
        const std::optional<std::string> canonical = CanonicalPath(path);
        const int refusal =
            !canonical ? (access == Access::kRead ? 404 : 409) : site_.Refusal(*canonical, access);
        if (refusal == 0) return true;
        SendStatus(refusal);
        return false;
    }

    // The lock tokens the client submits, from the If header; an If header that does not
    // parse is answered 400 and gives std::nullopt.
    std::optional<std::vector<std::string>> SubmittedTokens() {
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
    std::optional<std::string> LocalOfUrl(std::string_view url, std::string* relative) const {
        if (size_t scheme = url.find("://"); scheme != std::string_view::npos) {
            const size_t path = url.find('/', scheme + 3);
            url = path == std::string_view::npos ? std::string_view("/") : url.substr(path);
        }
        url = url.substr(0, url.find_first_of("?#"));
        std::string decoded(url);
        platform::UrlDecode(decoded);
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
    bool MayChange(const std::string& path, Change change) {
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

    bool IfHeaderHolds() {
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
    bool TagConditionsHold(const std::optional<Entry>& entry) {
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

    // --- PROPFIND ---

    struct PropertyName {
        std::string space;
        std::string name;
    };

    enum class PropfindKind { kAll, kNames, kSome };

    void Propfind() {
        const std::optional<std::string_view> depthHeader = c_.request().Header("Depth");
        int depth = 1;
        if (depthHeader) {
            const std::string_view value = platform::Trim(*depthHeader);
            if (value == "0") {
                depth = 0;
            } else if (value == "1") {
                depth = 1;
            } else if (EqualsNoCase(value, "infinity")) {
                SendError(403, "propfind-finite-depth");
                return;
            } else {
                SendStatus(400);
                return;
            }
        }
        bool answered = false;
        std::optional<XmlElement> body = ReadXmlBody(&answered);
        if (answered) return;
        PropfindKind kind = PropfindKind::kAll;
        std::vector<PropertyName> wanted;
        if (body) {
            if (!body->Is(kDavNamespace, "propfind")) {
                SendStatus(400);
                return;
            }
            if (const XmlElement* prop = body->DavChild("prop")) {
                kind = PropfindKind::kSome;
                for (const XmlElement& child : prop->children) {
                    wanted.push_back({child.space, child.name});
                }
            } else if (body->DavChild("propname") != nullptr) {
                kind = PropfindKind::kNames;
            } else if (body->DavChild("allprop") == nullptr) {
                SendStatus(400);
                return;
            }
        }
        std::optional<Entry> entry = Existing();
        if (!entry) return;
        const std::string canonical = Canonical(local_);
        if (int refusal = site_.Refusal(canonical, Access::kRead)) {
            SendStatus(refusal);
            return;
        }
        BeginMultistatus();
        AppendResponse(request_.relative, local_, *entry, kind, wanted);
        if (depth == 1 && entry->IsFolder()) ListMembers(canonical, kind, wanted);
        EndMultistatus();
    }

    void ListMembers(const std::string& canonicalFolder, PropfindKind kind,
                     const std::vector<PropertyName>& wanted) {
        platform::UniqueFd folder(
            ::open(local_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
        if (!folder) return;
        FolderHandle dir(::fdopendir(folder.get()));
        if (!dir) return;
        folder.Release();
        const int dirFd = ::dirfd(dir.get());
        std::vector<std::string> shown;
        while (const dirent* item = ::readdir(dir.get())) {
            const std::string_view name = item->d_name;
            if (name == "." || name == ".." || platform::IsHiddenName(name)) continue;
            Entry member;
            if (::fstatat(dirFd, item->d_name, &member.st, 0) != 0) continue;
            if (!S_ISDIR(member.st.st_mode) && !S_ISREG(member.st.st_mode)) continue;
            std::string path = local_ == "/" ? "/" : local_ + "/";
            path.append(name);
            // What a link leads to is looked up; anything else lies in the folder itself.
            std::string canonical;
            struct stat own {};
            if (::fstatat(dirFd, item->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(own.st_mode)) {
                canonical = Canonical(path);
            } else {
                canonical = canonicalFolder == "/" ? "/" : canonicalFolder + "/";
                canonical.append(name);
            }
            if (canonical.empty() || site_.Refusal(canonical, Access::kRead) != 0) continue;
            AppendResponse(Join(request_.relative, name), path, member, kind, wanted);
            shown.emplace_back(name);
            if (!FlushMultistatus()) return;
        }
        for (const std::string& extra : site_.ExtraFolders(request_.relative)) {
            if (std::find(shown.begin(), shown.end(), extra) != shown.end()) continue;
            const std::string relative = Join(request_.relative, extra);
            std::optional<std::string> path = site_.LocalPath(relative);
            if (!path) continue;
            std::optional<Entry> member = Look(*path);
            if (!member || !member->IsFolder()) continue;
            AppendResponse(relative, *path, *member, kind, wanted);
            if (!FlushMultistatus()) return;
        }
    }

    static std::string Join(std::string_view relative, std::string_view name) {
        std::string joined(relative);
        if (!joined.empty()) joined.push_back('/');
        joined.append(name);
        return joined;
    }

    // The live properties of the drive, in the order allprop gives them.
    static constexpr std::string_view kLiveProperties[] = {
        "resourcetype", "getcontentlength", "getcontenttype", "getetag",       "getlastmodified",
        "creationdate", "displayname",      "supportedlock",  "lockdiscovery",
    };

    // Appends the live property `name` of the resource; false when it has none of that name.
    bool AppendLive(std::string_view name, std::string_view relative, const std::string& path,
                    const Entry& entry, std::string* out) {
        const bool folder = entry.IsFolder();
        if (name == "resourcetype") {
            out->append(folder ? "<D:resourcetype><D:collection/></D:resourcetype>"
                               : "<D:resourcetype/>");
        } else if (name == "getcontentlength") {
            if (folder) return false;
            out->append("<D:getcontentlength>")
                .append(std::to_string(entry.st.st_size))
                .append("</D:getcontentlength>");
        } else if (name == "getcontenttype") {
            if (folder) return false;
            out->append("<D:getcontenttype>");
            AppendXmlEscaped(TypeOf(LastName(path)), out);
            out->append("</D:getcontenttype>");
        } else if (name == "getetag") {
            if (folder) return false;
            out->append("<D:getetag>");
            AppendXmlEscaped(entry.Tag(), out);
            out->append("</D:getetag>");
        } else if (name == "getlastmodified") {
            out->append("<D:getlastmodified>")
                .append(http::FormatImfFixdate(entry.st.st_mtim.tv_sec))
                .append("</D:getlastmodified>");
        } else if (name == "creationdate") {
            out->append("<D:creationdate>")
                .append(IsoDate(std::min(entry.st.st_mtim.tv_sec, entry.st.st_ctim.tv_sec)))
                .append("</D:creationdate>");
        } else if (name == "displayname") {
            out->append("<D:displayname>");
            AppendXmlEscaped(relative.empty() ? std::string_view() : LastName(relative), out);
            out->append("</D:displayname>");
        } else if (name == "supportedlock") {
            out->append(
                "<D:supportedlock><D:lockentry><D:lockscope><D:exclusive/></D:lockscope>"
                "<D:locktype><D:write/></D:locktype></D:lockentry><D:lockentry><D:lockscope>"
                "<D:shared/></D:lockscope><D:locktype><D:write/></D:locktype></D:lockentry>"
                "</D:supportedlock>");
        } else if (name == "lockdiscovery") {
            AppendLockDiscovery(LockTable::Shared().Covering(path, now_), out);
        } else {
            return false;
        }
        return true;
    }

    std::string TypeOf(std::string_view name) {
        const size_t dot = name.find('.');
        const std::string extension(dot == std::string_view::npos ? "" : name.substr(dot + 1));
        auto known = types_.find(extension);
        if (known == types_.end()) {
            known = types_.emplace(extension, site_.ContentType(name)).first;
        }
        return known->second;
    }

    static void AppendPropertyElement(std::string_view space, std::string_view name,
                                      std::string_view valueXml, std::string* out) {
        out->append("<").append(name).append(" xmlns=\"");
        AppendXmlEscaped(space, out);
        if (valueXml.empty()) {
            out->append("\"/>");
            return;
        }
        out->append("\">").append(valueXml).append("</").append(name).append(">");
    }

    void AppendResponse(std::string_view relative, const std::string& path, const Entry& entry,
                        PropfindKind kind, const std::vector<PropertyName>& wanted) {
        std::string out = "<D:response><D:href>";
        AppendXmlEscaped(HrefFor(relative, entry.IsFolder()), &out);
        out.append("</D:href><D:propstat><D:prop>");
        std::string missing;
        if (kind == PropfindKind::kSome) {
            std::vector<DeadProperty> dead;
            bool deadRead = false;
            for (const PropertyName& property : wanted) {
                if (property.space == kDavNamespace &&
                    AppendLive(property.name, relative, path, entry, &out)) {
                    continue;
                }
                if (!deadRead) {
                    dead = ReadDeadProperties(path);
                    deadRead = true;
                }
                auto found = std::find_if(dead.begin(), dead.end(), [&](const DeadProperty& d) {
                    return d.space == property.space && d.name == property.name;
                });
                if (found != dead.end()) {
                    AppendPropertyElement(found->space, found->name, found->valueXml, &out);
                } else {
                    AppendPropertyElement(property.space, property.name, {}, &missing);
                }
            }
        } else {
            for (std::string_view name : kLiveProperties) {
                if (kind == PropfindKind::kNames) {
                    if (entry.IsFolder() && (name == "getcontentlength" ||
                                             name == "getcontenttype" || name == "getetag")) {
                        continue;
                    }
                    out.append("<D:").append(name).append("/>");
                } else {
                    AppendLive(name, relative, path, entry, &out);
                }
            }
            for (const DeadProperty& property : ReadDeadProperties(path)) {
                AppendPropertyElement(property.space, property.name,
                                      kind == PropfindKind::kNames ? "" : property.valueXml, &out);
            }
        }
        out.append("</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>");
        if (!missing.empty()) {
            out.append("<D:propstat><D:prop>").append(missing);
            out.append("</D:prop><D:status>HTTP/1.1 404 Not Found</D:status></D:propstat>");
        }
        out.append("</D:response>\n");
        c_.AppendBody(out);
    }

    void AppendLockDiscovery(const std::vector<Lock>& locks, std::string* out) const {
        out->append("<D:lockdiscovery>");
        for (const Lock& lock : locks) AppendActiveLock(lock, out);
        out->append("</D:lockdiscovery>");
    }

    static void AppendActiveLock(const Lock& lock, std::string* out) {
        out->append("<D:activelock><D:locktype><D:write/></D:locktype><D:lockscope>");
        out->append(lock.exclusive ? "<D:exclusive/>" : "<D:shared/>");
        out->append("</D:lockscope><D:depth>").append(lock.infinite ? "infinity" : "0");
        out->append("</D:depth>").append(lock.ownerXml);
        out->append("<D:timeout>Second-").append(std::to_string(lock.timeoutSeconds));
        out->append("</D:timeout><D:locktoken><D:href>").append(lock.token);
        out->append("</D:href></D:locktoken><D:lockroot><D:href>");
        AppendXmlEscaped(lock.href, out);
        out->append("</D:href></D:lockroot></D:activelock>");
    }

    // --- PROPPATCH ---

    void Proppatch() {
        bool answered = false;
        std::optional<XmlElement> body = ReadXmlBody(&answered);
        if (answered) return;
        if (!body || !body->Is(kDavNamespace, "propertyupdate")) {
            SendStatus(400);
            return;
        }
        std::optional<Entry> entry = Existing();
        if (!entry) return;
        if (!MayReach(local_, Access::kWrite)) return;
        if (!MayChange(local_, Change::kContent)) return;
        // Every instruction in document order; any refused leaves all undone (424 for the
        // rest).
        std::vector<DeadProperty> properties = ReadDeadProperties(local_);
        struct Outcome {
            std::string space;
            std::string name;
            int status;
        };
        std::vector<Outcome> outcomes;
        bool refused = false;
        for (const XmlElement& instruction : body->children) {
            const bool set = instruction.Is(kDavNamespace, "set");
            if (!set && !instruction.Is(kDavNamespace, "remove")) continue;
            const XmlElement* prop = instruction.DavChild("prop");
            if (prop == nullptr) continue;
            for (const XmlElement& property : prop->children) {
                const bool live = property.space == kDavNamespace &&
                                  std::find(std::begin(kLiveProperties), std::end(kLiveProperties),
                                            property.name) != std::end(kLiveProperties);
                if (live) {
                    outcomes.push_back({property.space, property.name, 403});
                    refused = true;
                    continue;
                }
                std::erase_if(properties, [&](const DeadProperty& d) {
                    return d.space == property.space && d.name == property.name;
                });
                if (set) {
                    properties.push_back(
                        {property.space, property.name, property.SerializeContent()});
                }
                outcomes.push_back({property.space, property.name, 200});
            }
        }
        if (!refused) {
            if (std::optional<int> error = WriteDeadProperties(local_, properties)) {
                const int status = *error == ENOTSUP ? 403 : 507;
                for (Outcome& outcome : outcomes) outcome.status = status;
            }
        } else {
            for (Outcome& outcome : outcomes) {
                if (outcome.status == 200) outcome.status = 424;
            }
        }
        BeginMultistatus();
        std::string out = "<D:response><D:href>";
        AppendXmlEscaped(HrefFor(request_.relative, entry->IsFolder()), &out);
        out.append("</D:href>");
        for (int status : {200, 403, 424, 507}) {
            std::string props;
            for (const Outcome& outcome : outcomes) {
                if (outcome.status == status) {
                    AppendPropertyElement(outcome.space, outcome.name, {}, &props);
                }
            }
            if (props.empty()) continue;
            out.append("<D:propstat><D:prop>").append(props).append("</D:prop><D:status>HTTP/1.1 ");
            out.append(StatusText(status)).append("</D:status></D:propstat>");
        }
        out.append("</D:response>\n");
        c_.AppendBody(out);
        EndMultistatus();
    }

    // --- MKCOL ---

    void Mkcol() {
        if (std::optional<uint64_t> declared = c_.DeclaredBodyLength(); declared && *declared > 0) {
            SendStatus(415);
            return;
        }
        if (request_.relative.empty() || LinkExists(local_)) {
            SendStatus(405,
                       "Allow: OPTIONS, GET, HEAD, PROPFIND, PROPPATCH, DELETE, COPY, MOVE, "
                       "LOCK, UNLOCK\r\n");
            return;
        }
        if (!ParentExists(local_)) return;
        if (!MayReach(local_, Access::kWrite)) return;
        if (!MayChange(local_, Change::kMembership)) return;
        if (::mkdir(local_.c_str(), 0777) != 0) {
            SendStatus(errno == EEXIST ? 405 : errno == ENOSPC ? 507 : 403);
            return;
        }
        SendStatus(201);
    }

    // --- PUT ---

    void Put() {
        std::optional<Entry> entry = Look(local_);
        if (request_.relative.empty() || (entry && entry->IsFolder())) {
            SendStatus(405);
            return;
        }
        if (!ParentExists(local_)) return;
        if (!MayReach(local_, Access::kWrite)) return;
        if (!MayChange(local_, entry ? Change::kContent : Change::kMembership)) return;
        if (!TagConditionsHold(entry)) return;
        if (c_.request().Header("Content-Range")) {
            SendStatus(400);  // a part of a file is no file: RFC 9110 forbids taking it whole
            return;
        }
        // The body goes to a hidden name beside the file and takes the file's name only once
        // whole, so that a cut upload never leaves a shortened file.
        const std::string temporary =
            ParentPath(local_) + "/.vantry-put-" + platform::RandomHexName();
        platform::UniqueFd out(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!out) {
            SendStatus(errno == ENOSPC ? 507 : 403);
            return;
        }
        struct TemporaryGuard {
            const std::string& path;
            bool keep = false;
            ~TemporaryGuard() {
                if (!keep) platform::RemoveFile(path);
            }
        } guard{temporary};
        constexpr size_t kBufferSize = 256 * 1024;
        std::unique_ptr<char[]> buffer(new char[kBufferSize]);
        while (size_t got = c_.ReadBody(buffer.get(), kBufferSize)) {
            for (size_t written = 0; written < got;) {
                const ssize_t n = ::write(out.get(), buffer.get() + written, got - written);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    SendStatus(errno == ENOSPC || errno == EDQUOT ? 507 : 500);
                    return;
                }
                written += static_cast<size_t>(n);
            }
        }
        if (c_.BodyCutShort() || !c_.BodyComplete()) {
            SendStatus(400);
            return;
        }
        if (std::optional<std::string_view> mtime = c_.request().Header("X-OC-Mtime")) {
            if (std::optional<uint64_t> seconds = platform::ParseDigits(platform::Trim(*mtime))) {
                const struct timespec times[2] = {{0, UTIME_OMIT},
                                                  {static_cast<time_t>(*seconds), 0}};
                ::futimens(out.get(), times);
                mtimeAccepted_ = true;
            }
        }
        if (::close(out.Release()) != 0) {
            SendStatus(507);
            return;
        }
        if (::rename(temporary.c_str(), local_.c_str()) != 0) {
            SendStatus(errno == EISDIR ? 405 : 500);
            return;
        }
        guard.keep = true;
        std::string lines;
        if (std::optional<Entry> written = Look(local_)) {
            lines.append("ETag: ").append(written->Tag()).append("\r\n");
        }
        if (mtimeAccepted_) lines.append("X-OC-MTime: accepted\r\n");
        SendStatus(entry ? 204 : 201, lines);
    }

    // --- DELETE ---

    void Delete() {
        if (!LinkExists(local_)) {
            SendStatus(404);
            return;
        }
        if (request_.relative.empty()) {
            SendStatus(403);
            return;
        }
        if (!MayReach(local_, Access::kTree)) return;
        if (!MayChange(local_, Change::kTree)) return;
        if (!TagConditionsHold(Look(local_))) return;
        if (!RemoveTree(local_)) {
            SendStatus(errno == 0 ? 500 : 403);
            return;
        }
        LockTable::Shared().ForgetTree(local_);
        SendStatus(204);
    }

    // Removes `path`: a link or file itself, a folder with all it holds (links are removed,
    // never followed).
    static bool RemoveTree(const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
        if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
        {
            FolderHandle dir(::opendir(path.c_str()));
            if (!dir) return false;
            while (const dirent* item = ::readdir(dir.get())) {
                const std::string_view name = item->d_name;
                if (name == "." || name == "..") continue;
                if (!RemoveTree(path + "/" + std::string(name))) return false;
            }
        }
        return ::rmdir(path.c_str()) == 0;
    }

    // --- COPY and MOVE ---

    void CopyOrMove(bool move) {
        std::optional<std::string_view> destinationHeader = c_.request().Header("Destination");
        if (!destinationHeader || platform::Trim(*destinationHeader).empty()) {
            SendStatus(400);
            return;
        }
        std::string destinationRelative;
        std::optional<std::string> destination =
            LocalOfUrl(platform::Trim(*destinationHeader), &destinationRelative);
        if (!destination) {
            SendStatus(502);  // not on this drive
            return;
        }
        std::optional<Entry> source = Existing();
        if (!source) return;
        bool infinite = true;
        if (std::optional<std::string_view> depth = c_.request().Header("Depth")) {
            const std::string_view value = platform::Trim(*depth);
            if (value == "0" && !move) {
                infinite = false;
            } else if (!EqualsNoCase(value, "infinity")) {
                SendStatus(400);
                return;
            }
        }
        bool overwrite = true;
        if (std::optional<std::string_view> header = c_.request().Header("Overwrite")) {
            const std::string_view value = platform::Trim(*header);
            if (EqualsNoCase(value, "F")) {
                overwrite = false;
            } else if (!EqualsNoCase(value, "T")) {
                SendStatus(400);
                return;
            }
        }
        if (destinationRelative.empty() || !WritablePath(destinationRelative) ||
            (move && request_.relative.empty())) {
            SendStatus(403);
            return;
        }
        const std::string sourceCanonical = Canonical(local_);
        const std::string destinationCanonical = Canonical(*destination);
        if (destinationCanonical.empty()) {
            SendStatus(409);
            return;
        }
        if (sourceCanonical == destinationCanonical) {
            SendStatus(403);
            return;
        }
        if (source->IsFolder() && IsWithin(destinationCanonical, sourceCanonical)) {
            SendStatus(409);  // a folder cannot go inside itself
            return;
        }
        if (!MayReach(local_, move ? Access::kTree : Access::kRead)) return;
        if (!move && source->IsFolder()) {
            if (int refusal = site_.Refusal(sourceCanonical, Access::kTree);
                refusal != 0 && infinite) {
                SendStatus(refusal);
                return;
            }
        }
        if (!MayReach(*destination, Access::kTree)) return;
        if (!ParentExists(*destination)) return;
        const bool replaced = LinkExists(*destination);
        if (replaced && !overwrite) {
            SendStatus(412);
            return;
        }
        if (move && !MayChange(local_, Change::kTree)) return;
        {
            std::optional<std::vector<std::string>> tokens = SubmittedTokens();
            if (!tokens) return;
            if (!LockTable::Shared().Permits(
                    *destination, replaced ? Change::kTree : Change::kMembership, *tokens, now_)) {
                SendError(423, "lock-token-submitted");
                return;
            }
            if (!move && !IfHeaderHolds()) return;
        }
        if (replaced && !RemoveTree(*destination)) {
            SendStatus(403);
            return;
        }
        LockTable::Shared().ForgetTree(*destination);
        if (move) {
            if (::rename(local_.c_str(), destination->c_str()) != 0) {
                if (errno != EXDEV || !CopyTree(local_, *destination, true) ||
                    !RemoveTree(local_)) {
                    SendStatus(errno == ENOSPC ? 507 : 500);
                    return;
                }
            }
            LockTable::Shared().ForgetTree(local_);
        } else if (!CopyTree(local_, *destination, infinite)) {
            SendStatus(errno == ENOSPC ? 507 : 500);
            return;
        }
        SendStatus(replaced ? 204 : 201);
    }

    // Copies `from` to `to` (which does not exist): a file with its bytes, its modification
    // time and properties; a folder with its properties and, when `deep`, all it holds.
    bool CopyTree(const std::string& from, const std::string& to, bool deep) {
        struct stat st {};
        if (::lstat(from.c_str(), &st) != 0) return false;
        if (S_ISLNK(st.st_mode)) {
            std::string target(4096, '\0');
            const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
            if (length < 0) return false;
            target.resize(static_cast<size_t>(length));
            return ::symlink(target.c_str(), to.c_str()) == 0;
        }
        if (S_ISDIR(st.st_mode)) {
            if (::mkdir(to.c_str(), 0777) != 0) return false;
            CopyDeadProperties(from, to);
            if (!deep) return true;
            FolderHandle dir(::opendir(from.c_str()));
            if (!dir) return false;
            while (const dirent* item = ::readdir(dir.get())) {
                const std::string_view name = item->d_name;
                if (name == "." || name == "..") continue;
                const std::string childFrom = from + "/" + std::string(name);
                if (site_.Refusal(Canonical(childFrom), Access::kRead) != 0) continue;
                if (!CopyTree(childFrom, to + "/" + std::string(name), true)) return false;
            }
            return true;
        }
        if (!S_ISREG(st.st_mode)) return true;
        platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in) return false;
        platform::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!out) return false;
        for (;;) {
            const ssize_t n =
                ::copy_file_range(in.get(), nullptr, out.get(), nullptr, size_t{1} << 30, 0);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno != EXDEV && errno != ENOSYS && errno != EINVAL) {
                    ::unlink(to.c_str());
                    return false;
                }
                if (!CopyByReading(in.get(), out.get())) {
                    ::unlink(to.c_str());
                    return false;
                }
                break;
            }
        }
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        CopyDeadProperties(from, to);
        return true;
    }

    static bool CopyByReading(int in, int out) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n == 0) return true;
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            for (ssize_t written = 0; written < n;) {
                const ssize_t w = ::write(out, buffer + written, static_cast<size_t>(n - written));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) return false;
                written += w;
            }
        }
    }

    // --- LOCK and UNLOCK ---

    uint32_t RequestedTimeout() const {
        std::optional<std::string_view> header = c_.request().Header("Timeout");
        if (!header) return kDefaultLockSeconds;
        std::string_view list = *header;
        for (size_t start = 0; start <= list.size();) {
            const size_t end = std::min(list.find(',', start), list.size());
            const std::string_view item = platform::Trim(list.substr(start, end - start));
            if (EqualsNoCase(item, "Infinite")) return kLongestLockSeconds;
            if (item.size() > 7 && EqualsNoCase(item.substr(0, 7), "Second-")) {
                if (std::optional<uint64_t> seconds = platform::ParseDigits(item.substr(7))) {
                    return static_cast<uint32_t>(
                        std::clamp<uint64_t>(*seconds, 1, kLongestLockSeconds));
                }
            }
            start = end + 1;
        }
        return kDefaultLockSeconds;
    }

    void SendLockAnswer(int status, const Lock& lock, bool withTokenHeader) {
        std::string body =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:prop "
            "xmlns:D=\"DAV:\"><D:lockdiscovery>";
        AppendActiveLock(lock, &body);
        body.append("</D:lockdiscovery></D:prop>\n");
        std::string lines;
        if (withTokenHeader) lines.append("Lock-Token: <").append(lock.token).append(">\r\n");
        SendStatus(status, lines, body);
    }

    void LockResource() {
        bool answered = false;
        std::optional<XmlElement> body = ReadXmlBody(&answered);
        if (answered) return;
        if (!body) {
            RefreshLock();
            return;
        }
        if (!body->Is(kDavNamespace, "lockinfo")) {
            SendStatus(400);
            return;
        }
        const XmlElement* scope = body->DavChild("lockscope");
        const XmlElement* type = body->DavChild("locktype");
        if (scope == nullptr || type == nullptr || type->DavChild("write") == nullptr) {
            SendStatus(400);
            return;
        }
        Lock wanted;
        wanted.exclusive = scope->DavChild("shared") == nullptr;
        if (const XmlElement* owner = body->DavChild("owner")) {
            wanted.ownerXml = "<D:owner>" + owner->SerializeContent() + "</D:owner>";
        }
        wanted.infinite = true;
        if (std::optional<std::string_view> depth = c_.request().Header("Depth")) {
            const std::string_view value = platform::Trim(*depth);
            if (value == "0") {
                wanted.infinite = false;
            } else if (!EqualsNoCase(value, "infinity")) {
                SendStatus(400);
                return;
            }
        }
        std::optional<Entry> entry = Look(local_);
        if ((!entry && !ParentExists(local_)) || !MayReach(local_, Access::kWrite)) return;
        if (!IfHeaderHolds()) return;
        wanted.token = NewLockToken();
        if (wanted.token.empty()) {
            SendStatus(500);
            return;
        }
        wanted.path = local_;
        wanted.href = HrefFor(request_.relative, entry && entry->IsFolder());
        wanted.timeoutSeconds = RequestedTimeout();
        // A lock on an unmapped name makes an empty file of it, as clients expect before they
        // write the file under their lock.
        if (!entry) {
            std::optional<std::vector<std::string>> tokens = SubmittedTokens();
            if (!tokens) return;
            if (!LockTable::Shared().Permits(local_, Change::kMembership, *tokens, now_)) {
                SendError(423, "lock-token-submitted");
                return;
            }
        }
        std::optional<Lock> granted = LockTable::Shared().Acquire(std::move(wanted), now_);
        if (!granted) {
            SendError(423, "no-conflicting-lock");
            return;
        }
        if (!entry) {
            platform::UniqueFd created(
                ::open(local_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (!created && errno != EEXIST) {
                LockTable::Shared().Release(local_, granted->token, now_);
                SendStatus(errno == ENOSPC ? 507 : 403);
                return;
            }
        }
        SendLockAnswer(entry ? 200 : 201, *granted, true);
    }

    void RefreshLock() {
        std::optional<std::vector<std::string>> tokens = SubmittedTokens();
        if (!tokens) return;
        for (const std::string& token : *tokens) {
            if (std::optional<Lock> refreshed =
                    LockTable::Shared().Refresh(local_, token, RequestedTimeout(), now_)) {
                SendLockAnswer(200, *refreshed, false);
                return;
            }
        }
        SendError(tokens->empty() ? 400 : 412, "lock-token-matches-request-uri");
    }

    void Unlock() {
        std::optional<std::string_view> header = c_.request().Header("Lock-Token");
        std::string_view token = header ? platform::Trim(*header) : std::string_view();
        if (token.size() < 2 || token.front() != '<' || token.back() != '>') {
            SendStatus(400);
            return;
        }
        token = token.substr(1, token.size() - 2);
        if (!LockTable::Shared().Release(local_, token, now_)) {
            SendError(409, "lock-token-matches-request-uri");
            return;
        }
        SendStatus(204);
    }

    http::Connection& c_;
    const Publication& site_;
    const DriveRequest& request_;
    const uint64_t now_;
    std::string local_;
    bool streaming_ = false;
    bool streamFailed_ = false;
    bool mtimeAccepted_ = false;
    std::map<std::string, std::string> types_;
};

}  // namespace

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
