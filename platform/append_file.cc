// Appending whole lines to a shared file.
#include "platform/append_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/error_text.h"

namespace platform {
namespace {
// How often the path is checked for a file that replaced the open one.
constexpr uint64_t kRecheckMs = 1000;
}  // namespace

bool AppendFile::OpenLocked() {
    fd_ =
        UniqueFd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    if (!fd_) return false;
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) {
        fd_.Reset();
        return false;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    lastCheckMs_ = MonotonicMillis();
    return true;
}

bool AppendFile::StillCurrentLocked() {
    uint64_t now = MonotonicMillis();
    if (now - lastCheckMs_ < kRecheckMs) return true;
    lastCheckMs_ = now;
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
}

bool AppendFile::Append(std::string_view line, std::string* error) {
    std::lock_guard lock(mutex_);
    // What a short write left over is continued, in a fresh file if need be, and never
    // written again from the start: a line may be cut by a failure, but never doubled.
    const char* p = line.data();
    size_t left = line.size();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if ((!fd_ || !StillCurrentLocked()) && !OpenLocked()) {
            if (error != nullptr) *error = "open " + path_ + ": " + ErrorText(errno);
            return false;
        }
        while (left > 0) {
            ssize_t n = ::write(fd_.get(), p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // A write that takes nothing without an error is a full device too.
                if (error != nullptr)
                    *error = "write " + path_ + ": " + ErrorText(n < 0 ? errno : ENOSPC);
                break;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        if (left == 0) return true;
        fd_.Reset();  // try once more with a freshly opened file
    }
    return false;
}

}  // namespace platform
