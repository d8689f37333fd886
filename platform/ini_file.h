// INI files with the private-profile semantics the configuration relies on.
//
// Sections and keys match without regard to case and the first match wins; values are
// trimmed of surrounding blanks; a missing file or section reads as empty. Writing adds or
// replaces one key and keeps every other line (unknown keys, comments, order). CRLF and LF
// files are read; LF is written. Every write is atomic (temporary file, then rename) and
// serialised by a process-wide mutex plus an advisory lock, so concurrent savers never leave
// a torn or mixed file. Reads are cached per path and revalidated by the file's identity
// (inode, size, modification time), so an edit made by hand is seen on the next read.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The value of `key` in `section`, or `defaultValue` when the file, section or key is
// missing.
std::string GetProfileString(const std::string& path, std::string_view section,
                             std::string_view key, std::string_view defaultValue);

// The same lookup in an INI text held in memory, for files read once (such as Internet
// shortcuts) that should not take the place of the configuration in the cache.
std::string GetIniTextString(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view defaultValue);

// The decimal prefix of the value (an optional sign, then digits). A missing key or an empty
// value gives `defaultValue`; a value that does not start with a number gives 0.
long GetProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   long defaultValue);

// One change of a batch: a value to set, or std::nullopt to delete the key.
struct ProfileChange {
    std::string section;
    std::string key;
    std::optional<std::string> value;
};

// Applies the changes in order in one atomic rewrite; the result equals applying them one by
// one. A key that is set and missing is added after the last key line of its section; a
// missing section is appended to the file. Returns false when the file could not be written
// (the old file is then untouched); `*error`, when not null, then says why, naming the call
// that failed and the error. With `mode` the file always ends up with that mode, also when
// it had another one or the changes leave its text as it was (for files that hold secrets);
// without it a new file gets 0644 less the umask and an old one keeps its mode.
bool WriteProfileChanges(const std::string& path, const std::vector<ProfileChange>& changes,
                         std::optional<mode_t> mode = std::nullopt, std::string* error = nullptr);

// Adds or replaces one key.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// Removes the key's line; a missing key is not an error.
bool DeleteProfileKey(const std::string& path, std::string_view section, std::string_view key);

// The keys of a section in file order (first occurrence of each); empty when missing.
std::vector<std::string> ListProfileKeys(const std::string& path, std::string_view section);

}  // namespace platform
