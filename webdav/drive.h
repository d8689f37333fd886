// The network drive: WebDAV (classes 1 and 2) over the folders a server publishes. The site
// decides what is published and who may write; this answers the methods.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/connection.h"

namespace webdav {

// What a request does to a resource: reads it, changes it (or adds it to its folder, or
// takes it out), or takes or replaces the whole tree below it (a folder deleted, moved or
// copied).
enum class Access { kRead, kWrite, kTree };

// What the site publishes through the drive.
class Publication {
  public:
    virtual ~Publication() = default;
    // The local path of `relative`, a path under the drive's prefix (decoded, its segments
    // neither empty nor "." nor "..", no leading or trailing "/"; "" is the drive's root);
    // std::nullopt when nothing is published there.
    virtual std::optional<std::string> LocalPath(std::string_view relative) const = 0;
    // Folders shown inside the folder `relative` that are no entries of its local folder.
    virtual std::vector<std::string> ExtraFolders(std::string_view relative) const = 0;
    // The media type of a file called `name`.
    virtual std::string ContentType(std::string_view name) const = 0;
    // Why `canonical`, a resource's real path (links resolved), may not be reached with
    // `access`: 0 when it may, else the status to answer (403, 404).
    virtual int Refusal(const std::string& canonical, Access access) const = 0;
};

// A request the site hands to the drive.
struct DriveRequest {
    std::string prefix;    // the drive's URL prefix, starting and ending with "/"
    std::string relative;  // see Publication::LocalPath
    bool writable = false;
};

// The methods the drive answers besides GET, HEAD and POST, which stay the site's.
bool IsDriveMethod(std::string_view method);
// True for the methods that change what the drive holds (LOCK and UNLOCK among them).
bool ChangesDrive(std::string_view method);

// Answers the request of `c` (its method one of IsDriveMethod's).
void ServeDrive(http::Connection& c, const Publication& site, const DriveRequest& request);

// Answers OPTIONS anywhere on a server whose drive is on: what the drive takes there.
void AnswerDriveOptions(http::Connection& c, bool writable);

// Answers PROPFIND on a folder above the drive's prefix (the site's root for a drive under
// "/dav/", say): a folder holding the next folder on the way to the drive. `path` is the
// request's path, decoded, ending with "/".
void AnswerAboveDrive(http::Connection& c, std::string_view path, std::string_view prefix);

// `path` (decoded, starting with "/") as an href: each segment percent-encoded.
std::string HrefOf(std::string_view path);

}  // namespace webdav
