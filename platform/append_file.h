// A file that lines are appended to by many threads, each line whole.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// Keeps the file open between lines and opens it afresh when the file at the path is no
// longer the one it holds (moved away or deleted by the owner), so a rotated log goes on in
// a new file. Lines are written one at a time under a lock, so they never interleave.
class AppendFile {
  public:
    explicit AppendFile(std::string path) : path_(std::move(path)) {}
    // Appends `line` whole; false when the file cannot be opened or written, with the failed
    // call, the path and the error in `*error` when that is given.
    bool Append(std::string_view line, std::string* error = nullptr);
    const std::string& path() const { return path_; }

  private:
    bool OpenLocked();
    bool StillCurrentLocked();

    const std::string path_;
    std::mutex mutex_;  // guards everything below and orders the lines
    UniqueFd fd_;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    uint64_t lastCheckMs_ = 0;
};

}  // namespace platform
