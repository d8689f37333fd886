// Opening a regular file for sending.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

struct OpenedFile {
    UniqueFd fd;
    uint64_t size = 0;
    std::time_t modified = 0;  // last write, seconds since the epoch
};

// Opens `path` for reading with a sequential-access hint. std::nullopt when it is missing,
// unreadable, or not a regular file (a directory, a device).
std::optional<OpenedFile> OpenRegularFile(const std::string& path);

}  // namespace platform
