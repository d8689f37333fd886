// Files written under a temporary name and given their final name only when complete.
#include "platform/pending_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace platform {

bool NameTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
    int result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the exclusive rename: a new link fails just as well on a
        // name that is taken.
        result = ::link(from.c_str(), to.c_str());
        if (result == 0) ::unlink(from.c_str());
    }
    return result == 0 ? 0 : errno;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

std::string RandomHexName() {
    unsigned char bytes[16];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        filled += static_cast<size_t>(n);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name;
    for (unsigned char b : bytes) {
        name.push_back(kDigits[b >> 4]);
        name.push_back(kDigits[b & 15]);
    }
    return name;
}

bool ContinuedFile::Open(const std::string& path, bool create, mode_t mode) {
    const int flags = O_WRONLY | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
    fd_.Reset(::open(path.c_str(), flags, mode & 0777));
    return fd_.valid();
}

std::optional<uint64_t> ContinuedFile::Size() const {
    struct stat st;
    if (!fd_ || ::fstat(fd_.get(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool ContinuedFile::WriteAt(uint64_t offset, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::pwrite(fd_.get(), data.data(), data.size(), static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

PendingFile::~PendingFile() { Discard(); }

bool PendingFile::Create(std::string finalPath, mode_t mode) {
    Discard();
    finalPath_ = std::move(finalPath);
    pendingPath_ = finalPath_ + std::string(kPendingSuffix);
    written_ = 0;
    failed_ = false;
    fd_.Reset(::open(pendingPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777));
    // A name that was taken is another's file: never removed by Discard.
    if (!fd_.valid()) pendingPath_.clear();
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

PendingFile::Outcome PendingFile::PublishWithoutReplacing(const std::string& finalPath) {
    if (pendingPath_.empty() || failed_ || (fd_ && ::close(fd_.Release()) != 0)) {
        Discard();
        return Outcome::kFailed;
    }
    const int result = RenameWithoutReplacing(pendingPath_, finalPath);
    if (result == 0) {
        pendingPath_.clear();
        return Outcome::kPublished;
    }
    if (result == EEXIST) return Outcome::kNameTaken;
    Discard();
    return Outcome::kFailed;
}

void PendingFile::Discard() {
    fd_.Reset();
    if (pendingPath_.empty()) return;
    ::unlink(pendingPath_.c_str());
    pendingPath_.clear();
}

}  // namespace platform
