// Directory listings, with the rule that decides which entries are hidden.
#pragma once

#include <compare>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What a path leads to on disk, whatever links and names lead there.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;
    bool hidden = false;       // the name begins with "." ("." and ".." are listed by name too)
    uint64_t size = 0;         // bytes; 0 for directories
    std::time_t modified = 0;  // last write, seconds since the epoch (UTC)
    FileIdentity identity{};   // of what the entry leads to; zero for a broken link
};

// The entries of `path` in the order the system returns them, "." and ".." included when the
// system lists them. Links are followed for the kind, size and time; a broken link is listed
// as a file of size 0. std::nullopt when the directory cannot be opened.
std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path);

// Decides from an entry's name alone whether it is listed; `mayBeDirectory` is false only for
// entries the system already knows to be something other than a directory or a link.
using EntryFilter = std::function<bool(std::string_view name, bool mayBeDirectory)>;
// As above, but only the entries `keep` accepts; the others cost no look-up of their details,
// so a walk that wants few of the files stays cheap.
std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path,
                                                         const EntryFilter& keep);

// The identity of the directory `path` names (links followed); std::nullopt when it names
// no directory.
std::optional<FileIdentity> DirectoryIdentity(const std::string& path);

// True when an entry of this name counts as hidden.
bool IsHiddenName(std::string_view name);

}  // namespace platform
