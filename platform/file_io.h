// Whole-file reads, atomic whole-file writes and copies, new files that never replace others,
// directory trees and existence checks.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The mode a written file is created with when nothing else is asked for (less the umask).
inline constexpr mode_t kNewFileMode = 0644;

// The directory that holds `path`, without a trailing "/": "." for a bare name, "/" for a
// name in the root.
std::string DirectoryOf(const std::string& path);

bool FileExists(const std::string& path);       // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);  // a directory (or a link to one)

// The whole file, or std::nullopt when it cannot be opened or read (or is not a regular
// file: a FIFO would block the reader).
std::optional<std::string> ReadWholeFile(const std::string& path);

// Like ReadWholeFile, but a file of more than `maxSize` bytes is refused, and `status` (when
// not null) receives the identity of the file that was read, taken before reading it, so a
// cache keyed by it never holds content older than its key.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxSize,
                                         struct stat* status);

// Writes `content` to a temporary file beside `path`, flushes it and renames it over `path`,
// so readers see the old file or the new one, never a torn one. The new file keeps the mode
// of the file it replaces, or gets `modeForNewFile` (less the umask). When `path` is a link
// to a file, that file is replaced and the link stays. Returns false (and leaves `path`
// untouched) on any failure; `*error`, when not null, then names the call that failed, the
// file it acted on and the error ("rename /srv/Vantry.ini: Permission denied").
bool WriteFileAtomically(const std::string& path, const std::string& content,
                         mode_t modeForNewFile = kNewFileMode, std::string* error = nullptr);

// The same, except that the file always ends up with `mode`, also when it replaces a file
// that had another one (for files holding secrets).
bool WriteFileAtomicallyWithMode(const std::string& path, const std::string& content, mode_t mode,
                                 std::string* error = nullptr);

// Copies the file `from` to `to` the way WriteFileAtomically writes: through a temporary file
// beside `to` that is renamed over it, so `to` is never seen half-written (a running program
// being replaced keeps its old file). The copy gets the permission bits of `from` less the
// umask, so a program stays executable. Returns false on any failure, with the call, the file
// and the error in `*error` when that is given.
bool CopyFileAtomically(const std::string& from, const std::string& to,
                        std::string* error = nullptr);

// Creates every missing directory along `path` with `mode` (less the umask); directories that
// exist already are no error. False when `path` is not a directory afterwards, with the
// failed call in `*error` when that is given.
bool MakeDirectories(const std::string& path, mode_t mode, std::string* error = nullptr);

// What CreateNewFile did.
enum class NewFileResult { kCreated, kNameTaken, kFailed };

// Creates `path` with `content` only when nothing of that name exists yet (not even a link),
// so no file is ever replaced: kNameTaken then, and nothing is touched. The name is reserved
// by the creation itself, so two writers of one name never share a file. A write that fails
// removes the file again: `path` ends up whole or absent. kFailed for any other failure, with
// the failed call, the file and the error in `*error` when that is given.
NewFileResult CreateNewFile(const std::string& path, std::string_view content,
                            mode_t mode = kNewFileMode, std::string* error = nullptr);

}  // namespace platform
