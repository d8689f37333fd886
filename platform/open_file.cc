// Opening files for sending.
#include "platform/open_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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

}  // namespace

std::optional<OpenedFile> OpenRegularFile(const std::string& path, OpenFailure* failure) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return Fail(failure, OpenFailure::kNotFound);
    }
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
    return file;
}

std::string ReadContents(const OpenedFile& file, uint64_t offset, uint64_t count) {
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
