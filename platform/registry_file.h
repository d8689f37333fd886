// The registry file: a text file in the format of a registry export that holds the user
// store and the authentication switches.
//
//     REGEDIT4
//
//     [HKEY_LOCAL_MACHINE\SOFTWARE\VANTRY]
//     "AuthenticationRequiredServerOne"=dword:00000001
//
//     [HKEY_LOCAL_MACHINE\SOFTWARE\VANTRY\USERS]
//     "Admin"="secret"
//
// Key paths and value names match without regard to case; strings use the export escapes
// (\\ and \"); a dword is a 32-bit number written in 8 hex digits. A missing file reads as a
// missing key. The server only reads it; the password manager is its one writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/file_lock.h"

namespace platform {

// `$VANTRY_REGISTRY` when set, else `$XDG_CONFIG_HOME/vantry/registry.reg` with
// `$XDG_CONFIG_HOME` defaulting to `$HOME/.config`. Empty variables count as unset, and so
// does a relative `$XDG_CONFIG_HOME`.
std::string RegistryFilePath();

using RegistryValue = std::variant<std::string, uint32_t>;

struct RegistryKey {
    std::string path;  // "HKEY_LOCAL_MACHINE\SOFTWARE\VANTRY", as written in the file
    std::vector<std::pair<std::string, RegistryValue>> values;  // in file order
};

// The parsed contents of one registry file. Lines that are not understood are skipped.
class RegistryFile {
  public:
    // Reads the file; a missing or unreadable file gives an empty registry.
    static RegistryFile Load(const std::string& path);
    static RegistryFile Parse(std::string_view text);
    // Reads the file for an edit: a missing file is an empty registry, but one that exists
    // and cannot be read is a failure (`*error` says why), since writing over it would lose
    // what it holds.
    static std::optional<RegistryFile> LoadForChange(const std::string& path, std::string* error);

    // The key with this path, matched without regard to case; null when missing.
    const RegistryKey* FindKey(std::string_view keyPath) const;
    std::optional<RegistryValue> Find(std::string_view keyPath, std::string_view valueName) const;

    // Editing, for the password manager. Set adds the key when it is missing and replaces a
    // value of the same name where it stands (keeping the stored spelling of the name).
    // Line breaks and NULs cannot be written in the format and are dropped from the path,
    // the name and a string value.
    void Set(std::string_view keyPath, std::string_view valueName, RegistryValue value);
    bool Erase(std::string_view keyPath, std::string_view valueName);

    // The export text ("REGEDIT4", a blank line, then each key and its values).
    std::string Serialize() const;
    // Writes atomically with mode 0600, creating the directory when needed. On failure
    // `*error`, when not null, names the call that failed and the error.
    bool SaveAs(const std::string& path, std::string* error = nullptr) const;

    // The lock that writers hold from reading the file at `path` until they have written it
    // back, so that two edits made at once both last: "<path>.lock" beside it (mode 0600),
    // making the directory when needed. Waits while another writer holds it.
    static std::optional<FileLock> LockForEditing(const std::string& path,
                                                  std::string* error = nullptr);

    const std::vector<RegistryKey>& keys() const { return keys_; }

  private:
    std::vector<RegistryKey> keys_;
};

}  // namespace platform
