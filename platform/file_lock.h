// An exclusive advisory lock on a lock file, held for as long as its owner lives.
#pragma once

#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

class FileLock {
  public:
    // Opens (creating it with mode 0600 when missing) the file at `path` and waits until this
    // process holds the exclusive lock on it. std::nullopt when the file cannot be opened or
    // locked; `*error`, when not null, then names the failed call and the error.
    static std::optional<FileLock> Acquire(const std::string& path, std::string* error = nullptr);

  private:
    explicit FileLock(UniqueFd fd) : fd_(std::move(fd)) {}
    // Closing the descriptor releases the lock.
    UniqueFd fd_;
};

}  // namespace platform
