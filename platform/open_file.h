// Opening a regular file for sending.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

struct OpenedFile {
    // Not open when the file came whole from memory (see `contents`).
    UniqueFd fd;
    uint64_t size = 0;
    std::time_t modified = 0;  // last write, seconds since the epoch
    // What the strong entity tag is made of (see EntityTag): the inode and the last write to
    // the nanosecond.
    uint64_t inode = 0;
    int64_t modifiedNanoseconds = 0;
    // The whole file, for a small one read before and unchanged since.
    std::shared_ptr<const std::string> contents;
};

// A strong entity tag, quotes included, for a file of `inode`, `size` bytes written last at
// `modifiedNanoseconds`: any write, truncation or replacement gives another.
std::string EntityTag(uint64_t inode, uint64_t size, int64_t modifiedNanoseconds);
inline std::string EntityTag(const OpenedFile& file) {
    return EntityTag(file.inode, file.size, file.modifiedNanoseconds);
}

// Files up to this size are kept in memory once read, so that asking for one again costs a
// look at its status instead of an open, a read and a close.
inline constexpr uint64_t kLargestFileKept = 16 * 1024;

// Why a file could not be opened: the first three are the visitor's business (there is
// nothing to send), the last is the server's (out of descriptors, an I/O error).
enum class OpenFailure { kNotFound, kDirectory, kNotAllowed, kFailed };

// Opens `path` for reading with a sequential-access hint. std::nullopt when it is missing,
// unreadable, a directory, or no regular file (a device: reported as not found), with the
// reason in `*failure` when that is given. A small file read before comes from memory while
// its status (device, inode, size, modification and change times) is what it was then: a
// write, a replacement or a change of its permissions makes it read again. Any thread.
std::optional<OpenedFile> OpenRegularFile(const std::string& path, OpenFailure* failure = nullptr);

// `count` bytes of an opened file from `offset` (by default the whole file): fewer when it
// shrank since it was opened or a read failed. From memory for a file that came from there.
std::string ReadContents(const OpenedFile& file, uint64_t offset = 0, uint64_t count = UINT64_MAX);

}  // namespace platform
