// Password hashes on libcrypt's crypt_gensalt_rn and crypt_rn.
#include "platform/password_hash.h"

#include <crypt.h>
#include <errno.h>

#include <array>
#include <memory>

#include "platform/error_text.h"

namespace platform {
namespace {

constexpr std::string_view kYescryptPrefix = "$y$";
constexpr std::string_view kSha512Prefix = "$6$";

// A setting (method, cost and fresh salt) for `prefix` with the library's default cost and
// random bytes from the system; empty when the library cannot make one.
std::string MakeSetting(const char* prefix, int* failure) {
    std::array<char, CRYPT_GENSALT_OUTPUT_SIZE> setting{};
    if (::crypt_gensalt_rn(prefix, 0, nullptr, 0, setting.data(),
                           static_cast<int>(setting.size())) == nullptr) {
        *failure = errno;
        return {};
    }
    return setting.data();
}

// crypt_rn of `password` with `setting`; empty on failure. Its work area is large, so it is
// kept off the stack of the worker threads.
std::string Crypt(const std::string& password, const std::string& setting, int* failure) {
    auto data = std::make_unique<crypt_data>();
    const char* result = ::crypt_rn(password.c_str(), setting.c_str(), data.get(),
                                    static_cast<int>(sizeof(crypt_data)));
    if (result == nullptr || result[0] == '*') {
        *failure = result == nullptr ? errno : EINVAL;
        return {};
    }
    return result;
}

}  // namespace

bool IsHashed(std::string_view stored) {
    return stored.starts_with(kYescryptPrefix) || stored.starts_with(kSha512Prefix);
}

std::optional<std::string> HashPassword(std::string_view password, std::string* error) {
    if (password.find('\0') != std::string_view::npos) {
        SetError(error, "crypt_rn", EINVAL);
        return std::nullopt;
    }
    int failure = 0;
    std::string setting = MakeSetting(std::string(kYescryptPrefix).c_str(), &failure);
    if (setting.empty()) setting = MakeSetting(std::string(kSha512Prefix).c_str(), &failure);
    if (setting.empty()) {
        SetError(error, "crypt_gensalt_rn", failure);
        return std::nullopt;
    }
    std::string hashed = Crypt(std::string(password), setting, &failure);
    if (hashed.empty()) {
        SetError(error, "crypt_rn", failure);
        return std::nullopt;
    }
    return hashed;
}

bool VerifyPassword(std::string_view password, std::string_view hashed) {
    if (!IsHashed(hashed) || password.find('\0') != std::string_view::npos ||
        hashed.find('\0') != std::string_view::npos) {
        return false;
    }
    int failure = 0;
    std::string computed = Crypt(std::string(password), std::string(hashed), &failure);
    return !computed.empty() && ConstantTimeEquals(computed, hashed);
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
    // Every byte of the longer text is looked at, whatever the shorter one holds.
    const std::size_t length = a.size() > b.size() ? a.size() : b.size();
    unsigned difference = a.size() == b.size() ? 0u : 1u;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}

}  // namespace platform
