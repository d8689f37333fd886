// Salted one-way password hashes made and checked with the system's crypt library, and a
// comparison whose time does not depend on where two texts differ.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// True when `stored` carries the mark of a hash: the "$y$" (yescrypt) or "$6$" (SHA-512)
// prefix that HashPassword's results begin with.
bool IsHashed(std::string_view stored);

// A new salted hash of `password` with yescrypt, or with SHA-512 where the library has no
// yescrypt. std::nullopt when neither can be made (or the password holds a NUL); `*error`,
// when not null, then names the failed call and the error.
std::optional<std::string> HashPassword(std::string_view password, std::string* error = nullptr);

// True when `hashed` (a result of HashPassword) is the hash of `password`. A malformed hash
// or a password holding a NUL never verifies.
bool VerifyPassword(std::string_view password, std::string_view hashed);

// True when `a` and `b` are the same bytes; the time taken depends only on their lengths.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace platform
