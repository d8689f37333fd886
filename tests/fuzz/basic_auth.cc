// Fuzz target: a request's header lines checked for Basic credentials against a user store;
// Base64 decoding and the login check agree with a plain reading of the header.
#include "auth/basic_auth.h"

#include <algorithm>
#include <string>

#include "platform/text.h"
#include "tests/fuzz/fuzz_engine.h"
#include "tests/support/temp_dir.h"

namespace {

std::string ReferenceBase64(std::string_view text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        size_t value = alphabet.find(c);
        if (value == std::string::npos) break;
        bits = bits << 6 | static_cast<uint32_t>(value);
        if (++count % 4 == 0) {
            out += static_cast<char>(bits >> 16 & 0xff);
            out += static_cast<char>(bits >> 8 & 0xff);
            out += static_cast<char>(bits & 0xff);
            bits = 0;
        }
    }
    if (count % 4 == 2) out += static_cast<char>(bits >> 4 & 0xff);
    if (count % 4 == 3) {
        out += static_cast<char>(bits >> 10 & 0xff);
        out += static_cast<char>(bits >> 2 & 0xff);
    }
    return out;
}

// Whether the header text carries a login of a stored user: "Authorization: " with an
// optional "Basic" and the Base64 of "name:password" before the line's CR.
bool ReferenceLogin(std::string_view headers, bool administrator) {
    size_t at = headers.find("Authorization: ");
    if (at == std::string_view::npos) return false;
    std::string_view value = headers.substr(at + 15);
    size_t end = value.find('\r');
    if (end == std::string_view::npos) return false;
    value = value.substr(0, std::min<size_t>(end, 255));
    // The scheme word and the character after it are skipped.
    if (platform::StartsWithNoCase(value, "Basic"))
        value.remove_prefix(std::min<size_t>(6, value.size()));
    std::string decoded = ReferenceBase64(value);
    std::string_view login(decoded);
    login = login.substr(0, login.find('\0'));
    size_t colon = login.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view name = login.substr(0, colon);
    std::string_view password = login.substr(colon + 1);
    if (platform::EqualsNoCase(name, "Admin")) return platform::EqualsNoCase(password, "secret");
    return !administrator && platform::EqualsNoCase(name, "user") &&
           platform::EqualsNoCase(password, "pw");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testing_support::TempDir dir("vantry-fuzz-auth");
    static testing_support::ScopedEnv registry("VANTRY_REGISTRY", [] {
        std::string path = dir.File("registry.reg");
        testing_support::WriteFile(path,
                                   "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n"
                                   "\"Admin\"=\"secret\"\n\"user\"=\"pw\"\n");
        return path;
    }());
    if (size > 4096) return 0;
    std::string_view headers(reinterpret_cast<const char*>(data), size);

    std::string decoded = auth::Base64Decode(headers);
    FUZZ_CHECK(decoded == ReferenceBase64(headers));
    FUZZ_CHECK(decoded.size() <= size / 4 * 3 + 2);

    for (bool administrator : {false, true}) {
        FUZZ_CHECK(auth::CheckAuthorizationHeader(headers, administrator, 0x7f000001u) ==
                   ReferenceLogin(headers, administrator));
    }
    return 0;
}
