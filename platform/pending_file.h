// Files written under a temporary name and given their final name only when complete.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace platform {

// Appended to the final name while the file is being written.
inline constexpr std::string_view kPendingSuffix = ".part";

// True when anything of this name exists, a dangling link included.
bool NameTaken(const std::string& path);

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
