// One request of the network drive and the object that answers it, with what its methods
// share: the files of this folder answer one group of methods each (drive.cc the checks and
// answers all share, properties.cc PROPFIND and PROPPATCH, file_methods.cc MKCOL, PUT,
// DELETE, COPY and MOVE, lock_methods.cc LOCK and UNLOCK). Only webdav/ includes it.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/connection.h"
#include "platform/clock.h"
#include "platform/open_file.h"
#include "webdav/drive.h"
#include "webdav/locks.h"
#include "webdav/xml.h"

namespace webdav {

inline constexpr std::string_view kMultistatusStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
inline constexpr std::string_view kMultistatusEnd = "</D:multistatus>\n";
inline constexpr std::string_view kXmlType = "application/xml; charset=utf-8";

// "207 Multi-Status" and the like: a status with its reason phrase.
std::string_view StatusText(int status);

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

std::optional<Entry> Look(const std::string& path);
bool LinkExists(const std::string& path);
std::string ParentPath(std::string_view path);
std::string_view LastName(std::string_view path);
// The real path of `path`: links resolved, and for a name that does not exist yet its
// folder's real path and the name.
std::optional<std::string> CanonicalPath(const std::string& path);
// A path under the drive a client may write: no hidden folder on the way, and no hidden name
// but the files Apple systems leave beside every file they copy, which they fail the copy
// without.
bool WritablePath(std::string_view relative);

class Exchange {
  public:
    Exchange(http::Connection& c, const Publication& site, const DriveRequest& request)
        : c_(c), site_(site), request_(request), now_(platform::MonotonicMillis()) {}

    // Answers the request with the method its name gives.
    void Run();

  private:
    // --- Answers ---
    std::string Head(int status) const;
    // A whole answer: `lines` are header lines, each ending in CR LF.
    void SendStatus(int status, std::string_view lines = {}, std::string_view body = {},
                    std::string_view type = kXmlType);
    void SendError(int status, std::string_view condition);
    // A multi-status answer built in the page buffer, sent in pieces once it grows large.
    void BeginMultistatus();
    bool FlushMultistatus();
    void EndMultistatus();
    void SendPageBody();
    // --- Request bodies ---
    // The body whole, up to kMaxXmlBody; false when it is larger (413 answered) or cut short
    // (400 answered).
    bool ReadSmallBody(std::string* body);
    // The body as XML; std::nullopt with nothing answered when there is no body, and with 400
    // answered when it is no XML.
    std::optional<XmlElement> ReadXmlBody(bool* answered);
    // --- Paths, refusals, locks ---
    std::string HrefFor(std::string_view relative, bool folder) const;
    std::string Canonical(const std::string& path) const;
    // The state of the request's resource; std::nullopt, with 404 answered, when there is none.
    std::optional<Entry> Existing();
    // False, with 409 answered, when the folder `path` would go in does not exist.
    bool ParentExists(const std::string& path);
    // False, with the refusal answered, when `path` may not be reached with `access` (one
    // whose folder cannot be resolved is missing for a read, in conflict for a write).
    bool MayReach(const std::string& path, Access access);
    // The lock tokens the client submits, from the If header; an If header that does not
    // parse is answered 400 and gives std::nullopt.
    std::optional<std::vector<std::string>> SubmittedTokens();
    // The local path of an href of the If header or the Destination header; std::nullopt when
    // it lies outside the drive. `relative` receives its path under the prefix.
    std::optional<std::string> LocalOfUrl(std::string_view url, std::string* relative) const;
    // Checks what the client must show before changing `path` as `change`: its If header
    // (412 when no list of it holds) and every lock the change touches (423 otherwise). A
    // failed If header that names a lock token of no lock here is answered 423 when the
    // change is locked: the client meant to show a lock and showed the wrong one.
    // False with the answer sent.
    bool MayChange(const std::string& path, Change change);
    bool IfHeaderHolds();
    // If-Match and If-None-Match of a change to `path` (`entry` its state now); 412 answered
    // when they fail.
    bool TagConditionsHold(const std::optional<Entry>& entry);
    // --- PROPFIND ---
    struct PropertyName {
        std::string space;
        std::string name;
    };
    enum class PropfindKind { kAll, kNames, kSome };
    void Propfind();
    void ListMembers(const std::string& canonicalFolder, PropfindKind kind,
                     const std::vector<PropertyName>& wanted);
    static std::string Join(std::string_view relative, std::string_view name);
    // The live properties of the drive, in the order allprop gives them.
    static constexpr std::string_view kLiveProperties[] = {
        "resourcetype", "getcontentlength", "getcontenttype", "getetag",       "getlastmodified",
        "creationdate", "displayname",      "supportedlock",  "lockdiscovery",
    };
    // Appends the live property `name` of the resource; false when it has none of that name.
    bool AppendLive(std::string_view name, std::string_view relative, const std::string& path,
                    const Entry& entry, std::string* out);
    std::string TypeOf(std::string_view name);
    static void AppendPropertyElement(std::string_view space, std::string_view name,
                                      std::string_view valueXml, std::string* out);
    void AppendResponse(std::string_view relative, const std::string& path, const Entry& entry,
                        PropfindKind kind, const std::vector<PropertyName>& wanted);
    void AppendLockDiscovery(const std::vector<Lock>& locks, std::string* out) const;
    static void AppendActiveLock(const Lock& lock, std::string* out);
    // --- PROPPATCH ---
    void Proppatch();
    // --- MKCOL ---
    void Mkcol();
    // --- PUT ---
    void Put();
    // --- DELETE ---
    void Delete();
    // Removes `path`: a link or file itself, a folder with all it holds (links are removed,
    // never followed).
    static bool RemoveTree(const std::string& path);
    // --- COPY and MOVE ---
    void CopyOrMove(bool move);
    // Copies `from` to `to` (which does not exist): a file with its bytes, its modification
    // time and properties; a folder with its properties and, when `deep`, all it holds.
    bool CopyTree(const std::string& from, const std::string& to, bool deep);
    static bool CopyByReading(int in, int out);
    // --- LOCK and UNLOCK ---
    uint32_t RequestedTimeout() const;
    void SendLockAnswer(int status, const Lock& lock, bool withTokenHeader);
    void LockResource();
    void RefreshLock();
    void Unlock();
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

}  // namespace webdav
