// PROPFIND and PROPPATCH: the live properties of files and folders, the ones clients set, and
// listings streamed as they are read.
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

std::string IsoDate(std::time_t utc) {
    std::tm parts{};
    ::gmtime_r(&utc, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace

void Exchange::Propfind() {
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

void Exchange::ListMembers(const std::string& canonicalFolder, PropfindKind kind,
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

std::string Exchange::Join(std::string_view relative, std::string_view name) {
    std::string joined(relative);
    if (!joined.empty()) joined.push_back('/');
    joined.append(name);
    return joined;
}

// Appends the live property `name` of the resource; false when it has none of that name.

bool Exchange::AppendLive(std::string_view name, std::string_view relative, const std::string& path,
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

std::string Exchange::TypeOf(std::string_view name) {
    const size_t dot = name.find('.');
    const std::string extension(dot == std::string_view::npos ? "" : name.substr(dot + 1));
    auto known = types_.find(extension);
    if (known == types_.end()) {
        known = types_.emplace(extension, site_.ContentType(name)).first;
    }
    return known->second;
}

void Exchange::AppendPropertyElement(std::string_view space, std::string_view name,
                                     std::string_view valueXml, std::string* out) {
    out->append("<").append(name).append(" xmlns=\"");
    AppendXmlEscaped(space, out);
    if (valueXml.empty()) {
        out->append("\"/>");
        return;
    }
    out->append("\">").append(valueXml).append("</").append(name).append(">");
}

void Exchange::AppendResponse(std::string_view relative, const std::string& path,
                              const Entry& entry, PropfindKind kind,
                              const std::vector<PropertyName>& wanted) {
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
                if (entry.IsFolder() &&
                    (name == "getcontentlength" || name == "getcontenttype" || name == "getetag")) {
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

void Exchange::AppendLockDiscovery(const std::vector<Lock>& locks, std::string* out) const {
    out->append("<D:lockdiscovery>");
    for (const Lock& lock : locks) AppendActiveLock(lock, out);
    out->append("</D:lockdiscovery>");
}

void Exchange::AppendActiveLock(const Lock& lock, std::string* out) {
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

void Exchange::Proppatch() {
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
                properties.push_back({property.space, property.name, property.SerializeContent()});
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

}  // namespace webdav
