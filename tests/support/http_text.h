// Texts the tests build or take apart: Base64 credentials, the engine's error page, the body
// of a response, the rows of a page's table, the sentence of an acknowledgement page, login
// lines and challenges, registry files and the administrator's login.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

inline std::string Base64Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        size_t rest = bytes.size() - i;
        uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        if (rest > 1) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (rest > 2) n |= static_cast<uint8_t>(bytes[i + 2]);
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
        out += rest > 1 ? kAlphabet[n >> 6 & 63] : '=';
        out += rest > 2 ? kAlphabet[n & 63] : '=';
    }
    return out;
}

// The type lines of every page the server generates; the administration's also forbid frames.
inline std::string PageTypeLines(bool administration = false) {
    return std::string("Content-Type: text/html\r\nX-Content-Type-Options: nosniff\r\n") +
           (administration
                ? "X-Frame-Options: DENY\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"
                : "");
}

// The exact error page a client receives for a status text such as "404 Object Not Found";
// `administration` for one under /admin/.
inline std::string ErrorPage(const std::string& status, bool administration = false) {
    return "HTTP/1.0 " + status + "\r\n" + PageTypeLines(administration) +
           "\r\n<body><h1>\r\nHTTP/1.0 " + status + "\r\n</h1></body>\r\n";
}

// The status code of a response's status line ("HTTP/1.1 204 No Content" gives 204); 0 when
// there is none.
inline int StatusOf(const std::string& response) {
    const size_t space = response.find(' ');
    if (space == std::string::npos || response.size() < space + 4) return 0;
    const std::string code = response.substr(space + 1, 3);
    return code.find_first_not_of("0123456789") == std::string::npos ? std::stoi(code) : 0;
}

// What follows the empty line that ends a response's head; empty when there is none.
inline std::string BodyOf(const std::string& response) {
    size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? "" : response.substr(end + 4);
}

// The value of the header `name` (spelt as sent) in a response's head; empty when the head
// has none.
inline std::string HeaderOf(const std::string& response, const std::string& name) {
    const size_t end = response.find("\r\n\r\n");
    size_t at = response.find("\r\n" + name + ": ");
    if (at == std::string::npos || at > end) return "";
    at += name.size() + 4;
    return response.substr(at, response.find("\r\n", at) - at);
}

// The lines of `page` after `first` (which ends a line) up to where `last` begins, each
// without its CR LF; none when either is missing.
inline std::vector<std::string> LinesBetween(const std::string& page, const std::string& first,
                                             const std::string& last) {
    std::vector<std::string> lines;
    size_t at = page.find(first);
    const size_t end = page.find(last);
    if (at == std::string::npos || end == std::string::npos) return lines;
    for (at += first.size(); at < end;) {
        const size_t lineEnd = page.find("\r\n", at);
        lines.push_back(page.substr(at, lineEnd - at));
        at = lineEnd + 2;
    }
    return lines;
}

// The sentence an acknowledgement page (of a message, an upload, a form) shows; empty when
// the response has none.
inline std::string AcknowledgedText(const std::string& response) {
    const std::string before = "<TD><font  face='Garamond' size='5'>\r\n";
    size_t at = response.find(before);
    if (at == std::string::npos) return "";
    at += before.size();
    return response.substr(at, response.find("\r\n", at) - at);
}

// The header line that logs in with `credentials` ("name:password").
inline std::string BasicLogin(std::string_view credentials) {
    return "Authorization: Basic " + Base64Encode(credentials) + "\r\n";
}

// A registry file with `users` (lines such as "\"bob\"=\"pw\"\n") that asks for a login on
// the servers named in `loginServers` ("1", "2" or "12").
inline std::string RegistryText(const std::string& users, std::string_view loginServers = "") {
    std::string text = "REGEDIT4\n\n";
    if (!loginServers.empty()) {
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n";
        if (loginServers.find('1') != std::string_view::npos)
            text += "\"AuthenticationRequiredServerOne\"=dword:00000001\n";
        if (loginServers.find('2') != std::string_view::npos)
            text += "\"AuthenticationRequiredServerTwo\"=dword:00000001\n";
        text += "\n";
    }
    return text + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n" + users;
}

// True when `response` is exactly the login challenge of the realm `realm`.
inline bool IsChallenge(const std::string& response, const std::string& realm) {
    const std::regex challenge(
        "HTTP/1\\.0 401 OK\r\nServer: Vantry/1\\.0\r\nDate: [A-Z][a-z]{2}\\. [0-9]{1,2} "
        "[A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT\r\nContent-type: text/html\r\n"
        "WWW-Authenticate: Basic    realm=\"" +
        std::regex_replace(realm, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
        "\"\r\nContent-Length: 0\r\n\r\n");
    return std::regex_match(response, challenge);
}

// A registry file whose one user, Admin with the password Root, is the administrator, and
// the header line by which that user logs in.
inline const std::string kAdminRegistry = RegistryText("\"Admin\"=\"Root\"\n");
inline const std::string kAdminLogin = BasicLogin("Admin:Root");

}  // namespace testing_support
