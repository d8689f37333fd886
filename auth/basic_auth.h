// HTTP Basic authentication against the user store of the registry file, and the 401
// challenge that asks a browser for a login.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "auth/user_store.h"
#include "platform/ip_address.h"
#include "platform/text.h"

namespace http {
class Connection;
}

namespace auth {

// The user whose login opens the administration pages to other computers.
inline constexpr std::string_view kAdminUserName = "Admin";

// Told of every login that checks out, with the client and the user name as given. The
// program sets it once at start, before any request (the visitor table keeps the visit);
// without one a login is only checked.
using LoginObserver = void (*)(const platform::IpAddress& client, std::string_view userName);
void SetLoginObserver(LoginObserver observer);

using platform::Base64Decode;

// `credentials` is the Base64 text after "Basic ". True when it decodes to "name:password"
// naming a stored user whose password (hashed or plain) matches without regard to letter
// case; the login observer is then told. CheckAdminLogin accepts only the user "Admin".
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
