// Directory listings, with the rule that decides which entries are hidden.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;
    bool hidden = false;     // the name begins with "." ("." and ".." are listed by name too)
    uint64_t size = 0;       // bytes; 0 for directories
    std::time_t modified = 0;  // last write, seconds since the epoch (UTC)
};

// The entries of `path` in the order the system returns them, "." and ".." included when the
// system lists them. Links are followed for the kind, size and time; a broken link is listed
// as a file of size 0. std::nullopt when the directory cannot be opened.
std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path);

// True when an entry of this name counts as hidden.
bool IsHiddenName(const std::string& name);

}  // namespace platform
