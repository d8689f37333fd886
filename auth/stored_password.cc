// Stored passwords: hashing new ones and matching given ones, hashed or plain.
#include "auth/stored_password.h"

#include "platform/password_hash.h"
#include "platform/text.h"

namespace auth {

bool IsHashedPassword(std::string_view stored) { return platform::IsHashed(stored); }

std::optional<std::string> StoredFormOf(std::string_view password, std::string* error) {
    return platform::HashPassword(platform::LowerCopy(password), error);
}

bool PasswordMatches(std::string_view stored, std::string_view given) {
    const std::string folded = platform::LowerCopy(given);
    if (IsHashedPassword(stored)) return platform::VerifyPassword(folded, stored);
    return platform::ConstantTimeEquals(platform::LowerCopy(stored), folded);
}

}  // namespace auth
