// The user store: reading one user's password for a login, and the edits of the password
// manager under the writers' lock.
#include "auth/user_store.h"

#include <cstdint>
#include <variant>

#include "auth/stored_password.h"
#include "config/server_config.h"

namespace auth {
namespace {

std::string_view SwitchName(int server) { return config::kAuthSwitchNames[server - 1]; }

}  // namespace

std::optional<std::string> ReadUserPassword(std::string_view userName) {
    std::optional<platform::RegistryValue> value =
        platform::RegistryFile::Load(platform::RegistryFilePath()).Find(kUsersKeyPath, userName);
    if (!value) return std::nullopt;
    std::string* password = std::get_if<std::string>(&*value);
    // A stored password too long to be read counts as a user who cannot log in.
    if (password == nullptr || password->size() > kMaxStoredPasswordBytes) return std::nullopt;
    return std::move(*password);
}

std::optional<platform::FileLock> UserStore::LoadForEditing(std::string* error) {
    std::optional<platform::FileLock> lock = platform::RegistryFile::LockForEditing(path_, error);
    if (!lock) {
        *error = "cannot lock the registry file " + path_ + ": " + *error;
        return std::nullopt;
    }
    if (!Load(error)) return std::nullopt;
    return lock;
}

bool UserStore::Load(std::string* error) {
    std::optional<platform::RegistryFile> file =
        platform::RegistryFile::LoadForChange(path_, error);
    if (!file) return false;
    file_ = std::move(*file);
    return true;
}

bool UserStore::Save(std::string* error) {
    if (file_.SaveAs(path_, error)) return true;
    *error = "cannot write the registry file " + path_ + ": " + *error;
    return false;
}

std::vector<std::string> UserStore::UserNames() const {
    std::vector<std::string> names;
    if (const platform::RegistryKey* key = file_.FindKey(kUsersKeyPath)) {
        for (const auto& value : key->values) names.push_back(value.first);
    }
    return names;
}

std::pair<int, int> UserStore::HashedAndPlainCounts() const {
    std::pair<int, int> counts{0, 0};
    if (const platform::RegistryKey* key = file_.FindKey(kUsersKeyPath)) {
        for (const auto& value : key->values) {
            const std::string* stored = std::get_if<std::string>(&value.second);
            if (stored != nullptr && IsHashedPassword(*stored)) {
                ++counts.first;
            } else {
                ++counts.second;
            }
        }
    }
    return counts;
}

bool UserStore::HasUser(std::string_view name) const {
    return file_.Find(kUsersKeyPath, name).has_value();
}

void UserStore::SetUser(std::string_view name, const std::string& stored) {
    file_.Set(kUsersKeyPath, name, stored);
}

bool UserStore::DeleteUser(std::string_view name) { return file_.Erase(kUsersKeyPath, name); }

bool UserStore::LoginRequired(int server) const {
    std::optional<platform::RegistryValue> value =
        file_.Find(config::kAuthSwitchesKeyPath, SwitchName(server));
    const uint32_t* number = value ? std::get_if<uint32_t>(&*value) : nullptr;
    return number != nullptr && *number != 0;
}

void UserStore::SetLoginRequired(int server, bool on) {
    if (on) {
        file_.Set(config::kAuthSwitchesKeyPath, SwitchName(server), uint32_t{1});
    } else {
        file_.Erase(config::kAuthSwitchesKeyPath, SwitchName(server));
    }
}

}  // namespace auth
