// Basic authentication: decoding credentials, checking them against the registry file's
// user store, and the 401 challenge.
#include "auth/basic_auth.h"

#include <algorithm>
#include <atomic>
#include <variant>

#include "auth/login_attempts.h"
#include "auth/stored_password.h"
#include "http/connection.h"
#include "http/http_date.h"
#include "platform/clock.h"
#include "platform/registry_file.h"
#include "platform/text.h"
#include "platform/version.h"

namespace auth {
namespace {

// The Authorization value is read into a text of this capacity: at most 255 characters.
constexpr size_t kAuthorizationCapacity = 256;
constexpr std::string_view kAuthorizationHeader = "Authorization";
constexpr std::string_view kBasicScheme = "Basic";
// "Basic" and the one character that separates it from the credentials.
constexpr size_t kBasicPrefixLength = 6;

constexpr std::string_view kChallengeStart =
    "HTTP/1.0 401 OK\r\n"
    "Server: " VANTRY_SERVER_HEADER
    "\r\n"
    "Date: ";
constexpr std::string_view kChallengeTypeAndRealm =
    "\r\n"
    "Content-type: text/html\r\n"
    "WWW-Authenticate: Basic    realm=\"";
constexpr std::string_view kChallengeEnd =
    "\"\r\n"
    "Content-Length: 0\r\n"
    "\r\n";
constexpr int kChallengeStatus = 401;

constexpr std::string_view kTooManyStart =
    "HTTP/1.0 429 Too Many Requests\r\n"
    "Server: " VANTRY_SERVER_HEADER
    "\r\n"
    "Retry-After: ";
constexpr std::string_view kTooManyPage =
    "<HTML><BODY>Too many failed logins. Try again later.</BODY></HTML>";
constexpr int kTooManyStatus = 429;

std::atomic<LoginObserver> loginObserver{nullptr};

bool CheckLogin(std::string_view credentials, const platform::IpAddress& clientAddress,
                bool administrator) {
    std::string decoded = Base64Decode(credentials);
    // The decoded credentials are text, which a zero byte ends.
    std::string_view text(decoded);
    text = text.substr(0, text.find('\0'));

    // The first colon separates: a password may hold colons, a user name cannot.
    size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view userName = text.substr(0, colon);
    std::string_view password = text.substr(colon + 1);
    if (password.empty() || userName.empty()) return false;
    if (userName.size() > kMaxUserNameLength || password.size() > kMaxPasswordLength) {
        return false;
    }
    if (administrator && !platform::EqualsNoCase(userName, kAdminUserName)) return false;

    std::optional<std::string> stored = ReadUserPassword(userName);
    if (!stored || !PasswordMatches(*stored, password)) return false;
    if (LoginObserver observer = loginObserver.load()) observer(clientAddress, userName);
    return true;
}

// The credentials of the request's Authorization header checked; std::nullopt without one.
std::optional<bool> CheckHeaderLogin(std::string_view headers, bool administrator,
                                     const platform::IpAddress& clientAddress) {
    std::optional<std::string> value =
        http::FindHeaderValue(headers, kAuthorizationHeader, kAuthorizationCapacity);
    if (!value) return std::nullopt;
    std::string_view credentials = *value;
    if (platform::StartsWithNoCase(credentials, kBasicScheme)) {
        credentials.remove_prefix(std::min(credentials.size(), kBasicPrefixLength));
    }
    return administrator ? CheckAdminLogin(credentials, clientAddress)
                         : CheckUserLogin(credentials, clientAddress);
}

void SendTooManyLogins(http::Connection& connection, int secondsLeft) {
    std::string response(kTooManyStart);
    response.append(std::to_string(secondsLeft));
    response.append("\r\n").append(connection.PageTypeLines()).append("\r\nContent-Length: ");
    response.append(std::to_string(kTooManyPage.size()));
    response.append("\r\n\r\n");
    if (!connection.request().IsHead()) response.append(kTooManyPage);
    connection.SendText(response);
    connection.Answer(http::Response::Sent(kTooManyStatus));
}

// A configured realm could otherwise end the header line or its quoted text.
std::string SafeRealm(std::string_view realm) {
    return platform::WithoutCharacters(realm, "\r\n\"");
}

}  // namespace

void SetLoginObserver(LoginObserver observer) { loginObserver.store(observer); }

bool CheckUserLogin(std::string_view credentials, const platform::IpAddress& clientAddress) {
    return CheckLogin(credentials, clientAddress, false);
}

bool CheckAdminLogin(std::string_view credentials, const platform::IpAddress& clientAddress) {
    return CheckLogin(credentials, clientAddress, true);
}

bool CheckAuthorizationHeader(std::string_view headers, bool administrator,
                              const platform::IpAddress& clientAddress) {
    return CheckHeaderLogin(headers, administrator, clientAddress).value_or(false);
}

bool AuthorizeRequest(http::Connection& connection, bool administrator, std::string_view realm) {
    LoginAttempts& attempts = SharedLoginAttempts();
    const platform::IpAddress& client = connection.clientAddress;
    if (int secondsLeft = attempts.SecondsBlocked(client); secondsLeft > 0) {
        SendTooManyLogins(connection, secondsLeft);
        return false;
    }
    std::optional<bool> accepted =
        CheckHeaderLogin(connection.request().headerText(), administrator, client);
    if (accepted.value_or(false)) return true;
    if (accepted && attempts.RecordFailure(client)) {
        connection.ReportToOwner("Too many failed logins from " + client.Text() + ": refused for " +
                                 std::to_string(LoginAttempts::kBlockMillis / 60000) + " minutes.");
    }
    SendAuthChallenge(connection, realm);
    return false;
}

void SendAuthChallenge(http::Connection& connection, std::string_view realm) {
    std::string response(kChallengeStart);
    response.append(http::FormatHttpDate(platform::NowUtc()));
    if (connection.ModernLook()) {
        // A visitor who cancels the login sees this page rather than a blank one.
        std::string page;
        http::AppendModernErrorPage(kChallengeStatus, "401 Unauthorized", &page);
        response.append(
            "\r\nContent-Type: text/html; charset=utf-8\r\nWWW-Authenticate: Basic realm=\"");
        response.append(SafeRealm(realm));
        response.append("\"\r\nContent-Length: ").append(std::to_string(page.size()));
        response.append("\r\n\r\n").append(page);
    } else {
        response.append(kChallengeTypeAndRealm);
        response.append(SafeRealm(realm));
        response.append(kChallengeEnd);
    }
    connection.SendText(response);
    connection.Answer(http::Response::Sent(kChallengeStatus));
}

}  // namespace auth
