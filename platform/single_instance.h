// The single-copy guard: an advisory lock on a file in the runtime directory.
#pragma once

#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

class SingleInstanceLock {
  public:
    // Takes the lock on "<runtime directory>/<name>.lock"; std::nullopt when another process
    // holds it. A lock file that cannot be created at all does not stop the program.
    static std::optional<SingleInstanceLock> Acquire(const std::string& name);

  private:
    explicit SingleInstanceLock(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

}  // namespace platform
