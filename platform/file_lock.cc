// The exclusive lock file on flock.
#include "platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>

#include "platform/error_text.h"

namespace platform {

std::optional<FileLock> FileLock::Acquire(const std::string& path, std::string* error) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        SetError(error, "open " + path, errno);
        return std::nullopt;
    }
    int result;
    do {
        result = ::flock(fd.get(), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        SetError(error, "flock " + path, errno);
        return std::nullopt;
    }
    return FileLock(std::move(fd));
}

}  // namespace platform
