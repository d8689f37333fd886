// Closing of the descriptor owned by a UniqueFd.
#include "platform/unique_fd.h"

#include <unistd.h>

namespace platform {

void UniqueFd::Reset(int fd) {
    // close() is not retried on EINTR: on Linux the descriptor is released either way, and a
    // second close could hit a descriptor another thread has just been given.
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

}  // namespace platform
