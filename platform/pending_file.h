// Files written under a temporary name and given their final name only when complete.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace platform {

// Appended to the final name while the file is being written.
inline constexpr std::string_view kPendingSuffix = ".part";

// True when anything of this name exists, a dangling link included.
bool NameTaken(const std::string& path);

// Renames `from` to `to` only while nothing has the name `to`, so that no file is ever
// replaced; 0, or the error (EEXIST when the name is taken).
int RenameWithoutReplacing(const std::string& from, const std::string& to);

// Removes the file `path`; true when it is gone (or was never there).
bool RemoveFile(const std::string& path);

// Sixteen bytes from the system's random source as 32 lowercase hex digits: a name no one
// can guess. Empty when the source fails.
std::string RandomHexName();

// A file filled across several requests: each writes at the offset the one before it ended.
class ContinuedFile {
  public:
    // Opens `path` for writing; `create` makes it, new and empty (mode less the umask), and
    // fails when the name is taken.
    bool Open(const std::string& path, bool create, mode_t mode = kNewFileMode);
    // The bytes the file holds now; std::nullopt when it cannot be looked at.
    std::optional<uint64_t> Size() const;
    // Writes all of `data` at `offset`.
    bool WriteAt(uint64_t offset, std::string_view data);

  private:
    UniqueFd fd_;
};

// A file that no reader sees under its final name before it is complete: it is written as
// the final name followed by kPendingSuffix, renamed by Publish, and removed when the object
// goes away unpublished.
class PendingFile {
  public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // Creates the temporary file exclusively (close-on-exec, `mode` less the umask); false
    // when that name is taken or the directory cannot be written.
    bool Create(std::string finalPath, mode_t mode = kNewFileMode);
    bool created() const { return fd_.valid(); }
    // Writes all of `data`; false, then and for every later call, once a write failed.
    bool Write(std::string_view data);
    uint64_t written() const { return written_; }
    // Closes the file and gives it its final name; false (and the file removed) when a write
    // or the close failed.
    bool Publish();
    // What PublishWithoutReplacing did.
    enum class Outcome { kPublished, kNameTaken, kFailed };
    // Closes the file and gives it the name `finalPath` (which need not be the one it was
    // created for) only while nothing has that name, so that no file is ever replaced.
    // kNameTaken keeps it pending, closed, for another name; kFailed removes it.
    Outcome PublishWithoutReplacing(const std::string& finalPath);
    // Removes the temporary file now.
    void Discard();

  private:
    std::string finalPath_;
    std::string pendingPath_;
    UniqueFd fd_;
    uint64_t written_ = 0;
    bool failed_ = false;
};

}  // namespace platform
