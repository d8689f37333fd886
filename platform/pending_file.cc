// Files written under a temporary name and given their final name only when complete.
#include "platform/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

bool NameTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

PendingFile::~PendingFile() { Discard(); }

bool PendingFile::Create(std::string finalPath, mode_t mode) {
    Discard();
    finalPath_ = std::move(finalPath);
    pendingPath_ = finalPath_ + std::string(kPendingSuffix);
    written_ = 0;
    failed_ = false;
    fd_.Reset(::open(pendingPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777));
    return fd_.valid();
}

bool PendingFile::Write(std::string_view data) {
    if (!fd_ || failed_) return false;
    while (!data.empty()) {
        ssize_t n = ::write(fd_.get(), data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            failed_ = true;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
        written_ += static_cast<uint64_t>(n);
    }
    return true;
}

bool PendingFile::Publish() {
    if (!fd_) return false;
    bool ok = !failed_ && ::close(fd_.Release()) == 0 &&
              ::rename(pendingPath_.c_str(), finalPath_.c_str()) == 0;
    if (!ok) {
        fd_.Reset();
        ::unlink(pendingPath_.c_str());
    }
    pendingPath_.clear();
    return ok;
}

void PendingFile::Discard() {
    if (!fd_) return;
    fd_.Reset();
    ::unlink(pendingPath_.c_str());
    pendingPath_.clear();
}

}  // namespace platform
