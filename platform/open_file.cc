// Opening files for sending.
#include "platform/open_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

OpenFailure Classify(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
        case ENXIO:
        case ENODEV:
        case EISDIR:
            return OpenFailure::kNotFound;
        case EACCES:
        case EPERM:
            return OpenFailure::kNotAllowed;
        default:
            return OpenFailure::kFailed;
    }
}

std::nullopt_t Fail(OpenFailure* failure, OpenFailure reason) {
    if (failure != nullptr) *failure = reason;
    return std::nullopt;
}

// What tells one version of a file from another: a write moves the modification time, a
// change of owner, mode or links the change time, a replacement the inode.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    struct timespec changed {};

    static FileIdentity Of(const struct stat& st) {
        return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

// Small files by path, as they were read. Bounded in entries; any entry gives way to a new
// one when full, since pages asked for often come back at once.
class KeptFiles {
  public:
    std::shared_ptr<const std::string> Find(const std::string& path, FileIdentity* identity) {
        std::lock_guard lock(mutex_);
        auto it = files_.find(path);
        if (it == files_.end()) return nullptr;
        *identity = it->second.identity;
        return it->second.contents;
    }
    void Keep(const std::string& path, const FileIdentity& identity,
              std::shared_ptr<const std::string> contents) {
        std::lock_guard lock(mutex_);
        if (files_.size() >= kMaxFiles && files_.find(path) == files_.end()) {
            files_.erase(files_.begin());
        }
        files_[path] = Entry{identity, std::move(contents)};
    }
    void Forget(const std::string& path) {
        std::lock_guard lock(mutex_);
        files_.erase(path);
    }

  private:
    static constexpr size_t kMaxFiles = 128;
    struct Entry {
        FileIdentity identity;
        std::shared_ptr<const std::string> contents;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> files_;
};

// The file system stamps times with a coarse clock: two writes within one of its ticks may
// leave the same times. A file is kept only once its last change lies this far behind, so
// that any later write stamps a time of its own.
constexpr time_t kSettledSeconds = 1;

bool SettledFor(const struct stat& st, time_t seconds) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return st.st_ctim.tv_sec + seconds <= now.tv_sec && st.st_mtim.tv_sec + seconds <= now.tv_sec;
}

KeptFiles& Kept() {
    static KeptFiles* files = new KeptFiles;  // never destroyed: workers may outlive main
    return *files;
}

void SetTagParts(const struct stat& st, OpenedFile* file) {
    file->inode = static_cast<uint64_t>(st.st_ino);
    file->modifiedNanoseconds =
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

// The kept copy of `path` when the file is still the one it was read from.
std::optional<OpenedFile> FromMemory(const std::string& path) {
    FileIdentity kept;
    std::shared_ptr<const std::string> contents = Kept().Find(path, &kept);
    if (!contents) return std::nullopt;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !(FileIdentity::Of(st) == kept)) {
        Kept().Forget(path);
        return std::nullopt;
    }
    OpenedFile file;
    file.size = static_cast<uint64_t>(st.st_size);
    file.modified = st.st_mtim.tv_sec;
    SetTagParts(st, &file);
    file.contents = std::move(contents);
    return file;
}

}  // namespace

std::string EntityTag(uint64_t inode, uint64_t size, int64_t modifiedNanoseconds) {
    char tag[64];
    const int length =
        std::snprintf(tag, sizeof tag, "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(inode),
                      static_cast<unsigned long long>(size),
                      static_cast<unsigned long long>(modifiedNanoseconds));
    return std::string(tag, static_cast<size_t>(length));
}

std::optional<OpenedFile> OpenRegularFile(const std::string& path, OpenFailure* failure) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return Fail(failure, OpenFailure::kNotFound);
    }
    if (std::optional<OpenedFile> kept = FromMemory(path)) return kept;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) return Fail(failure, Classify(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return Fail(failure, Classify(errno));
    if (S_ISDIR(st.st_mode)) return Fail(failure, OpenFailure::kDirectory);
    if (!S_ISREG(st.st_mode)) return Fail(failure, OpenFailure::kNotFound);
    // The descriptor was opened non-blocking only so that a FIFO cannot hang the open; on a
    // regular file the flag changes nothing. Small files are read in one go anyway, so only
    // large ones get the sequential-access hint.
    constexpr off_t kHintThreshold = 1024 * 1024;
    if (st.st_size >= kHintThreshold) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    OpenedFile file;
    file.fd = std::move(fd);
    file.size = static_cast<uint64_t>(st.st_size);
    file.modified = st.st_mtim.tv_sec;
    SetTagParts(st, &file);
    if (file.size <= kLargestFileKept && SettledFor(st, kSettledSeconds)) {
        // Kept only when read whole: a file that changed meanwhile is read again next time.
        std::string contents = ReadContents(file);
        if (contents.size() == file.size) {
            file.contents = std::make_shared<const std::string>(std::move(contents));
            Kept().Keep(path, FileIdentity::Of(st), file.contents);
        }
    }
    return file;
}

std::string ReadContents(const OpenedFile& file, uint64_t offset, uint64_t count) {
    if (file.contents) {
        const uint64_t kept = file.contents->size();
        if (offset >= kept) return {};
        return file.contents->substr(static_cast<size_t>(offset),
                                     static_cast<size_t>(std::min(count, kept - offset)));
    }
    uint64_t available = offset < file.size ? file.size - offset : 0;
    std::string contents(static_cast<size_t>(std::min(count, available)), '\0');
    size_t done = 0;
    while (done < contents.size()) {
        ssize_t n = ::pread(file.fd.get(), contents.data() + done, contents.size() - done,
                            static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    contents.resize(done);
    return contents;
}

}  // namespace platform
