// The "Mime", "Script" and "VirtualDirectories" tables kept in the configuration file.
#include "config/mapping_tables.h"

#include "config/server_config.h"
#include "config/system_mime_types.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace config {
namespace {

// Set operations keep this many characters of a key and of a value.
constexpr std::size_t kSetLimit = 255;
// Get operations give at most this many characters.
constexpr std::size_t kGetLimit = 79;
// A listing holds the keys as a buffer of this size would: each key ended by a NUL, the
// list ended by one more.
constexpr std::size_t kListBufferSize = 4096;

constexpr std::string_view kContentTypePrefix = "Content-Type: ";
// The longest type that keeps the header line within 79 characters.
constexpr std::size_t kMaxContentType = kGetLimit - kContentTypePrefix.size();
constexpr std::string_view kOctetStream = "application/octet-stream";

struct Table {
    std::string_view section;
    std::string_view absentValue;
    // MIME types are stored in small letters; interpreters and directories are paths, whose
    // letter case matters on this system, and keep theirs.
    bool lowerCaseValues;
};

constexpr Table kMimeTable{"Mime", kOctetStream, true};
// The same table read without its absent value, to tell a missing row from a stored one.
constexpr Table kMimeRows{kMimeTable.section, "", kMimeTable.lowerCaseValues};
constexpr Table kScriptTable{"Script", "", false};
constexpr Table kVirtualDirectoryTable{"VirtualDirectories", "", false};

struct Row {
    std::string_view key;
    std::string_view value;
};

constexpr Row kBuiltInMimeRows[] = {
    {"gif", "image/gif"},       {"jpeg", "image/jpeg"},     {"jpg", "image/jpeg"},
    {"html", "text/html"},      {"htm", "text/html"},       {"pps", "application/pps"},
    {"pot", "application/pot"}, {"ppt", "application/ppt"}, {"doc", "application/msword"},
};

constexpr Row kBuiltInScriptRows[] = {
    {"pl", "perl"},
    {"cgi", "perl"},
};

// ".html" and "html" name the same row.
std::string_view RowKey(std::string_view key) {
    if (key.starts_with('.')) key.remove_prefix(1);
    return key;
}

std::string Cut(std::string_view text) { return std::string(text.substr(0, kSetLimit)); }

std::string CutAndLower(std::string_view text) {
    return platform::LowerCopy(text.substr(0, kSetLimit));
}

bool SetRow(const Table& table, const std::string& programDirectory, std::string_view key,
            std::string_view value, std::string* error) {
    return platform::WriteProfileChanges(
        IniFilePath(programDirectory),
        {{std::string(table.section), CutAndLower(RowKey(key)),
          table.lowerCaseValues ? CutAndLower(value) : Cut(value)}},
        std::nullopt, error);
}

std::string GetRow(const Table& table, const std::string& programDirectory, std::string_view key) {
    std::string value = platform::GetProfileString(RecentIniFilePath(programDirectory),
                                                   table.section, RowKey(key), table.absentValue);
    if (value.size() > kGetLimit) value.resize(kGetLimit);
    return value;
}

bool DeleteRow(const Table& table, const std::string& programDirectory, std::string_view key,
               std::string* error) {
    return platform::WriteProfileChanges(
        IniFilePath(programDirectory),
        {{std::string(table.section), std::string(RowKey(key)), std::nullopt}}, std::nullopt,
        error);
}

std::vector<std::string> ListRows(const Table& table, const std::string& programDirectory) {
    std::vector<std::string> keys =
        platform::ListProfileKeys(IniFilePath(programDirectory), table.section);
    std::size_t used = 1;  // the NUL that ends the list
    std::size_t fitting = 0;
    for (; fitting < keys.size(); ++fitting) {
        std::size_t needed = keys[fitting].size() + 1;
        if (needed > kListBufferSize - used) break;
        used += needed;
    }
    keys.resize(fitting);
    return keys;
}

template <std::size_t N>
bool WriteRows(const std::string& iniPath, std::string_view section, const Row (&rows)[N]) {
    std::vector<platform::ProfileChange> changes;
    for (const Row& row : rows) {
        changes.push_back({std::string(section), std::string(row.key), std::string(row.value)});
    }
    return platform::WriteProfileChanges(iniPath, changes);
}

// A type sent as it stands must keep the header on one line and within its length.
bool UsableContentType(std::string_view type) {
    return !type.empty() && type.size() <= kMaxContentType && !platform::HasControlCharacter(type);
}

}  // namespace

bool SetMime(const std::string& programDirectory, std::string_view key, std::string_view value,
             std::string* error) {
    return SetRow(kMimeTable, programDirectory, key, value, error);
}
std::string GetMime(const std::string& programDirectory, std::string_view key) {
    return GetRow(kMimeTable, programDirectory, key);
}
bool DeleteMime(const std::string& programDirectory, std::string_view key, std::string* error) {
    return DeleteRow(kMimeTable, programDirectory, key, error);
}
std::vector<std::string> ListMime(const std::string& programDirectory) {
    return ListRows(kMimeTable, programDirectory);
}

bool SetScript(const std::string& programDirectory, std::string_view key, std::string_view value,
               std::string* error) {
    return SetRow(kScriptTable, programDirectory, key, value, error);
}
std::string GetScript(const std::string& programDirectory, std::string_view key) {
    return GetRow(kScriptTable, programDirectory, key);
}
bool DeleteScript(const std::string& programDirectory, std::string_view key, std::string* error) {
    return DeleteRow(kScriptTable, programDirectory, key, error);
}
std::vector<std::string> ListScript(const std::string& programDirectory) {
    return ListRows(kScriptTable, programDirectory);
}

bool SetVirtualDirectory(const std::string& programDirectory, std::string_view key,
                         std::string_view value, std::string* error) {
    return SetRow(kVirtualDirectoryTable, programDirectory, key, value, error);
}
std::string GetVirtualDirectory(const std::string& programDirectory, std::string_view key) {
    return GetRow(kVirtualDirectoryTable, programDirectory, key);
}
bool DeleteVirtualDirectory(const std::string& programDirectory, std::string_view key,
                            std::string* error) {
    return DeleteRow(kVirtualDirectoryTable, programDirectory, key, error);
}
std::vector<std::string> ListVirtualDirectory(const std::string& programDirectory) {
    return ListRows(kVirtualDirectoryTable, programDirectory);
}

bool WriteDefaultMimeTable(const std::string& iniPath) {
    return WriteRows(iniPath, kMimeTable.section, kBuiltInMimeRows);
}

bool WriteDefaultScriptTable(const std::string& iniPath) {
    return WriteRows(iniPath, kScriptTable.section, kBuiltInScriptRows);
}

std::string ContentTypeFor(const std::string& programDirectory, std::string_view extension) {
    // The owner's row wins; without one the system's database names the type.
    std::string type = GetRow(kMimeRows, programDirectory, extension);
    if (type.empty()) {
        std::optional<std::string_view> known = SystemMimeType(RowKey(extension));
        if (known) return std::string(kContentTypePrefix).append(*known);
    }
    if (!UsableContentType(type)) type = kOctetStream;
    return std::string(kContentTypePrefix) + type;
}

}  // namespace config
