// Opening files for sending.
#include "platform/open_file.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

std::optional<OpenedFile> OpenRegularFile(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
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

}  // namespace platform
