// The user store in the registry file: the users and their stored passwords, and the two
// servers' login switches. The server reads it at every login; the password manager is its
// one writer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_lock.h"
#include "platform/registry_file.h"

namespace auth {

// Where the registry file keeps the user store: one string value per user, named by the
// user, holding the password as a salted hash (or, in entries from before hashes, as plain
// text; see stored_password.h).
inline constexpr std::string_view kUsersKeyPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS";
// The longest user name and the longest password a login may give, and the password
// manager may store.
inline constexpr size_t kMaxUserNameLength = 63;
inline constexpr size_t kMaxPasswordLength = 63;
// A stored password longer than this reads as a missing user.
inline constexpr size_t kMaxStoredPasswordBytes = 255;

// The stored password of `userName` (matched without regard to case), read from the
// registry file afresh. std::nullopt when the file, the key or the user is missing, or when
// the value is not a string.
std::optional<std::string> ReadUserPassword(std::string_view userName);

// The registry file as one change sees it: read before the change, written after it.
class UserStore {
  public:
    explicit UserStore(std::string path) : path_(std::move(path)) {}

    // Takes the writers' lock and then loads the file: the caller keeps the lock until it
    // has saved, so that a change made by another writer at the same time is not lost.
    std::optional<platform::FileLock> LoadForEditing(std::string* error);
    // Reads the file without the lock, to show it. A missing file is an empty store; one
    // that cannot be read is a failure.
    bool Load(std::string* error);
    bool Save(std::string* error);

    std::vector<std::string> UserNames() const;
    // How many users' passwords are hashed, and how many still plain text.
    std::pair<int, int> HashedAndPlainCounts() const;
    bool HasUser(std::string_view name) const;
    // `stored` is the stored form of the password (see StoredFormOf).
    void SetUser(std::string_view name, const std::string& stored);
    bool DeleteUser(std::string_view name);

    // Server 1 or 2 asks for logins: on when the value is a 32-bit number other than zero,
    // as the server reads it.
    bool LoginRequired(int server) const;
    // Off removes the value, which reads as off whatever else might be read into it.
    void SetLoginRequired(int server, bool on);

    const std::string& path() const { return path_; }

  private:
    std::string path_;
    platform::RegistryFile file_;
};

}  // namespace auth
