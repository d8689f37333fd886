// HTTP Basic authentication against the user store of the registry file, and the 401
// challenge that asks a browser for a login.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ip_address.h"

namespace http {
class Connection;
}

namespace auth {

// Where the registry file keeps the user store: one string value per user, named by the
// user, holding the password as a salted hash (or, in entries from before hashes, as plain
// text; see stored_password.h).
inline constexpr std::string_view kUsersKeyPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS";
// The user whose login opens the administration pages to other computers.
inline constexpr std::string_view kAdminUserName = "Admin";

// The longest user name and the longest password a login may give.
inline constexpr size_t kMaxUserNameLength = 63;
inline constexpr size_t kMaxPasswordLength = 63;
// A stored password longer than this reads as a missing user.
inline constexpr size_t kMaxStoredPasswordBytes = 255;

// Decodes the Base64 characters up to the first character outside the alphabet ("=", a
// blank or anything else ends the input). A trailing group of 2 or 3 characters gives 1 or
// 2 bytes; a single trailing character gives nothing.
std::string Base64Decode(std::string_view encoded);

// The stored password of `userName` (matched without regard to case), read from the
// registry file afresh. std::nullopt when the file, the key or the user is missing, or when
// the value is not a string.
std::optional<std::string> ReadUserPassword(std::string_view userName);

// `credentials` is the Base64 text after "Basic ". True when it decodes to "name:password"
// naming a stored user whose password (hashed or plain) matches without regard to letter
// case; the visit is then recorded under that name. CheckAdminLogin accepts only the user "Admin".
bool CheckUserLogin(std::string_view credentials, const platform::IpAddress& clientAddress);
bool CheckAdminLogin(std::string_view credentials, const platform::IpAddress& clientAddress);

// Finds the Authorization header in the request's header text and checks its credentials
// as a user's or the administrator's. False when the header is missing or the check fails;
// the caller then sends the challenge.
bool CheckAuthorizationHeader(std::string_view headers, bool administrator,
                              const platform::IpAddress& clientAddress);

// Checks the request's login for a protected page and answers it when it fails. An address
// that failed too often (see login_attempts.h) is answered 429 with Retry-After, its login
// unchecked; a login that does not check out is counted against its address and answered with
// the challenge in `realm`, as is a request without a login (not counted). The owner is told
// once when an address becomes blocked. True when the login checks out.
bool AuthorizeRequest(http::Connection& connection, bool administrator, std::string_view realm);

// Sends the complete 401 response asking for a login in `realm`, and marks the response as
// sent with status 401.
void SendAuthChallenge(http::Connection& connection, std::string_view realm);

}  // namespace auth
