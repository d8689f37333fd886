// The single-copy guard on flock.
#include "platform/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>

#include "platform/program.h"

namespace platform {

std::optional<SingleInstanceLock> SingleInstanceLock::Acquire(const std::string& name) {
    std::string path = RuntimeDirectory() + "/" + name + ".lock";
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return SingleInstanceLock(UniqueFd());
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return std::nullopt;
    }
    return SingleInstanceLock(std::move(fd));
}

}  // namespace platform
