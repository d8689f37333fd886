// The form in which the user store keeps a password (a salted hash, or plain text in entries
// written before hashes) and the check of a given password against it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace auth {

// True when `stored` is a hash; otherwise it is a password kept in plain text. A plain
// password that itself begins with "$y$" or "$6$" would read as a hash and never match,
// which is why new passwords are always stored hashed.
bool IsHashedPassword(std::string_view stored);

// What the store keeps for `password`: a fresh salted hash of it with its letters folded to
// lower case, since passwords match without regard to case. std::nullopt when no hash can be
// made; `*error`, when not null, then says why.
std::optional<std::string> StoredFormOf(std::string_view password, std::string* error = nullptr);

// True when `given` is the password `stored` holds, without regard to letter case. A hashed
// entry is checked with the hash function; a plain one is compared in constant time.
bool PasswordMatches(std::string_view stored, std::string_view given);

}  // namespace auth
