// Whole-file reads, atomic whole-file writes and copies, new files that never replace others,
// directory trees and existence checks.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <utility>

#include "platform/error_text.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

// How many unique temporary names are tried before a write gives up.
constexpr int kTemporaryNameAttempts = 16;

bool StatFollowingLinks(const std::string& path, struct stat* st) {
    return ::stat(path.c_str(), st) == 0;
}

bool WriteAll(int fd, std::string_view content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The file a write to `path` must replace: the target of a link, so that a configuration
// file kept elsewhere through a link is updated rather than the link turned into a copy.
std::string ResolveTarget(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

std::string TemporaryNameFor(const std::string& target) {
    static std::atomic<unsigned long> counter{0};
    std::size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // A leading "." keeps the temporary file out of directory listings while it exists.
    return dir + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
}

// Flushes the directory entry of a completed rename; a failure only weakens durability
// after a crash, never the content, so it is not reported.
void SyncDirectory(const std::string& dir) {
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

// Creates a new file of a unique name beside `target`, named in `*temporary`.
UniqueFd OpenTemporaryFor(const std::string& target, mode_t mode, std::string* temporary,
                          std::string* error) {
    UniqueFd fd;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && !fd; ++attempt) {
        *temporary = TemporaryNameFor(target);
        fd.Reset(::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!fd && errno != EEXIST) break;
    }
    if (!fd) SetError(error, "open " + *temporary, errno);
    return fd;
}

enum class ModeRule { kKeepExisting, kAlwaysGiven };

bool WriteAtomically(const std::string& path, const std::string& content, mode_t mode,
                     ModeRule rule, std::string* error) {
    const std::string target = ResolveTarget(path);
    struct stat old;
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode)) {
        // Only a regular file is replaced; the rename would refuse a directory the same way.
        SetError(error, "rename " + target, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
        return false;
    }

    // With an old file whose mode is kept, the temporary file starts private and gets that
    // mode explicitly; otherwise the umask applies to the new file as to any created file.
    const bool keepOldMode = replacing && rule == ModeRule::kKeepExisting;
    const mode_t createMode = keepOldMode ? 0600 : (mode & 0777);

    std::string temporary;
    UniqueFd fd = OpenTemporaryFor(target, createMode, &temporary, error);
    if (!fd) return false;

    // The first call that fails is the one reported; the calls after it are skipped, except
    // the close, which must happen whatever came before.
    std::string failedCall;
    int failedErrno = 0;
    auto check = [&](bool succeeded, std::string call) {
        if (!succeeded && failedCall.empty()) {
            failedErrno = errno;
            failedCall = std::move(call);
        }
        return succeeded;
    };
    bool ok = true;
    if (replacing && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Best effort: only a privileged writer can give the file back to its owner.
        (void)::fchown(fd.get(), old.st_uid, old.st_gid);
    }
    if (keepOldMode) {
        ok = check(::fchmod(fd.get(), old.st_mode & 0777) == 0, "fchmod " + temporary);
    } else if (rule == ModeRule::kAlwaysGiven) {
        ok = check(::fchmod(fd.get(), mode & 0777) == 0, "fchmod " + temporary);
    }
    ok = ok && check(WriteAll(fd.get(), content), "write " + temporary) &&
         check(::fsync(fd.get()) == 0, "fsync " + temporary);
    ok = check(::close(fd.Release()) == 0, "close " + temporary) && ok;
    ok = ok && check(::rename(temporary.c_str(), target.c_str()) == 0, "rename " + target);
    if (!ok) {
        ::unlink(temporary.c_str());
        SetError(error, failedCall, failedErrno);
        return false;
    }
    SyncDirectory(DirectoryOf(target));
    return true;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return StatFollowingLinks(path, &st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return StatFollowingLinks(path, &st) && S_ISDIR(st.st_mode);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    return ReadWholeFile(path, std::numeric_limits<std::size_t>::max(), nullptr);
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxSize,
                                         struct stat* status) {
    // O_NONBLOCK keeps the open itself from waiting on a FIFO; it is refused just below.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (static_cast<uint64_t>(st.st_size) > maxSize) return std::nullopt;
    if (status != nullptr) *status = st;

    std::string content;
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        // The size can grow while the file is read; the limit still holds.
        if (static_cast<std::size_t>(n) > maxSize - content.size()) return std::nullopt;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

bool WriteFileAtomically(const std::string& path, const std::string& content, mode_t modeForNewFile,
                         std::string* error) {
    return WriteAtomically(path, content, modeForNewFile, ModeRule::kKeepExisting, error);
}

bool WriteFileAtomicallyWithMode(const std::string& path, const std::string& content, mode_t mode,
                                 std::string* error) {
    return WriteAtomically(path, content, mode, ModeRule::kAlwaysGiven, error);
}

bool CopyFileAtomically(const std::string& from, const std::string& to, std::string* error) {
    UniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!source || ::fstat(source.get(), &st) != 0) {
        SetError(error, "open " + from, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        SetError(error, "open " + from, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    const std::string target = ResolveTarget(to);
    std::string temporary;
    UniqueFd fd = OpenTemporaryFor(target, st.st_mode & 0777, &temporary, error);
    if (!fd) return false;

    std::string failedCall;
    int failedErrno = 0;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(source.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failedErrno = errno;
            failedCall = "read " + from;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(fd.get(), std::string_view(buffer, static_cast<std::size_t>(n)))) {
            failedErrno = errno;
            failedCall = "write " + temporary;
            break;
        }
    }
    if (failedCall.empty() && ::fsync(fd.get()) != 0) {
        failedErrno = errno;
        failedCall = "fsync " + temporary;
    }
    if (::close(fd.Release()) != 0 && failedCall.empty()) {
        failedErrno = errno;
        failedCall = "close " + temporary;
    }
    if (failedCall.empty() && ::rename(temporary.c_str(), target.c_str()) != 0) {
        failedErrno = errno;
        failedCall = "rename " + target;
    }
    if (!failedCall.empty()) {
        ::unlink(temporary.c_str());
        SetError(error, failedCall, failedErrno);
        return false;
    }
    SyncDirectory(DirectoryOf(target));
    return true;
}

bool MakeDirectories(const std::string& path, mode_t mode, std::string* error) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) {
            SetError(error, "mkdir " + prefix, errno);
            return false;
        }
        if (slash == std::string::npos) break;
    }
    if (DirectoryExists(path)) return true;
    SetError(error, "mkdir " + path, EEXIST);
    return false;
}

NewFileResult CreateNewFile(const std::string& path, std::string_view content, mode_t mode,
                            std::string* error) {
    // O_EXCL also refuses a link of that name, dangling or not, so nothing is written
    // through one.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777));
    if (!fd) {
        if (errno == EEXIST) return NewFileResult::kNameTaken;
        SetError(error, "open " + path, errno);
        return NewFileResult::kFailed;
    }
    const bool written = WriteAll(fd.get(), content);
    const int writeErrno = errno;
    const bool closed = ::close(fd.Release()) == 0;
    if (written && closed) return NewFileResult::kCreated;
    SetError(error, (written ? "close " : "write ") + path, written ? errno : writeErrno);
    ::unlink(path.c_str());
    return NewFileResult::kFailed;
}

}  // namespace platform
