// Stored passwords: new ones are salted hashes, and both hashes and old plain entries match
// the given password without regard to letter case and refuse anything else.
#include "auth/stored_password.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/password_hash.h"

namespace auth {
namespace {

TEST(StoredPasswordTest, NewPasswordsAreSaltedHashesThatMatchWithoutRegardToCase) {
    std::optional<std::string> first = StoredFormOf("Pa:ss w0rd");
    std::optional<std::string> second = StoredFormOf("Pa:ss w0rd");
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(IsHashedPassword(*first)) << *first;
    EXPECT_TRUE(first->starts_with("$y$") || first->starts_with("$6$")) << *first;
    EXPECT_NE(*first, *second) << "each hash has its own salt";
    EXPECT_EQ(first->find("ss w0rd"), std::string::npos);

    for (const char* given : {"Pa:ss w0rd", "pa:ss w0rd", "PA:SS W0RD"}) {
        EXPECT_TRUE(PasswordMatches(*first, given)) << given;
        EXPECT_TRUE(PasswordMatches(*second, given)) << given;
    }
    for (const char* wrong : {"Pa:ss w0r", "Pa:ss w0rdd", "", "Pa:ss_w0rd"}) {
        EXPECT_FALSE(PasswordMatches(*first, wrong)) << wrong;
    }
}

TEST(StoredPasswordTest, PlainEntriesStillMatchAndMalformedHashesNeverDo) {
    EXPECT_FALSE(IsHashedPassword("secret"));
    EXPECT_TRUE(PasswordMatches("Secret", "sECRET"));
    EXPECT_FALSE(PasswordMatches("Secret", "Secret!"));
    EXPECT_FALSE(PasswordMatches("Secret", "Secre"));
    EXPECT_FALSE(PasswordMatches("Secret", ""));
    // A plain entry that looks like a hash is read as one, and nothing matches it.
    EXPECT_TRUE(IsHashedPassword("$6$notreally"));
    EXPECT_FALSE(PasswordMatches("$6$notreally", "$6$notreally"));
    EXPECT_FALSE(PasswordMatches("$y$", "$y$"));
}

TEST(StoredPasswordTest, ConstantTimeEqualsComparesEveryByteAndTheLength) {
    const struct {
        std::string a, b;
        bool equal;
    } cases[] = {
        {"", "", true},       {"abc", "abc", true},    {"abc", "abd", false},
        {"abc", "ab", false}, {"ab", "abc", false},    {std::string("a\0b", 3), "a", false},
        {"", "x", false},     {"\xff", "\x7f", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::ConstantTimeEquals(c.a, c.b), c.equal) << c.a << " / " << c.b;
    }
}

}  // namespace
}  // namespace auth
