// Directory listings, with the rule that decides which entries are hidden.
#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

namespace platform {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

}  // namespace

bool IsHiddenName(std::string_view name) { return !name.empty() && name[0] == '.'; }

std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) {
    return ListDirectory(path, nullptr);
}

std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path,
                                                         const EntryFilter& keep) {
    UniqueDir dir(::opendir(path.c_str()));
    if (!dir) return std::nullopt;
    const int dirFd = ::dirfd(dir.get());

    std::vector<DirectoryEntry> entries;
    while (const dirent* item = ::readdir(dir.get())) {
        if (keep) {
            const unsigned char type = item->d_type;
            const bool mayBeDirectory = type == DT_DIR || type == DT_LNK || type == DT_UNKNOWN;
            if (!keep(item->d_name, mayBeDirectory)) continue;
        }
        DirectoryEntry entry;
        entry.name = item->d_name;
        entry.hidden = IsHiddenName(entry.name);
        struct stat st;
        if (::fstatat(dirFd, item->d_name, &st, 0) == 0) {
            entry.isDirectory = S_ISDIR(st.st_mode);
            entry.size = entry.isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
            entry.modified = st.st_mtim.tv_sec;
            entry.identity = IdentityOf(st);
        } else if (::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            // A broken link: a file of size 0 that still shows when the link was made.
            entry.modified = st.st_mtim.tv_sec;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<FileIdentity> DirectoryIdentity(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return IdentityOf(st);
}

}  // namespace platform
