// Basic authentication: decoding, the login rules against a registry file on disk, the
// visits recorded for logins, and the challenge bytes on the wire.
#include "auth/basic_auth.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "http/connection.h"
#include "platform/text.h"
#include "tests/support/connection_harness.h"
#include "tests/support/http_text.h"
#include "tests/support/temp_dir.h"

namespace auth {
namespace {

using testing_support::Base64Encode;

TEST(Base64DecodeTest, DecodesUpToTheFirstCharacterOutsideTheAlphabet) {
    struct Case {
        std::string encoded;
        std::string decoded;
    };
    const Case cases[] = {
        {"", ""},
        {"TWFu", "Man"},
        {"TWE=", "Ma"},
        {"TWE", "Ma"},
        {"TQ==", "M"},
        {"TQ", "M"},
        {"T", ""},
        {"TWFuT", "Man"},
        {"TWFuTQ", "ManM"},
        {"Ym9iOnNlY3JldA==", "bob:secret"},
        {"TWFu TWFu", "Man"},
        {"TW=Fu", "M"},
        {"TWFu\r\n", "Man"},
        {"-_-_", ""},
        {"+/+/", "\xfb\xff\xbf"},
        {"////", "\xff\xff\xff"},
        {"AAAA", std::string(3, '\0')},
        {"YQ==YWFh", "a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Base64Decode(c.encoded), c.decoded) << "\"" << c.encoded << "\"";
    }
}

TEST(Base64DecodeTest, RoundTripsEveryLengthAndByte) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(255 - i);
    for (size_t length = 0; length <= bytes.size(); length += 1) {
        std::string_view original = std::string_view(bytes).substr(0, length);
        ASSERT_EQ(Base64Decode(Base64Encode(original)), original) << length;
    }
}

// Points VANTRY_REGISTRY at a file in a temporary directory for the test's duration.
class BasicAuthLoginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteRegistry(
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n"
            "\"AuthenticationRequiredServerOne\"=dword:00000001\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n"
            "\"Admin\"=\"Secret\"\n"
            "\"bob\"=\"Pa:ss\"\n"
            "\"number\"=dword:00000001\n"
            "\"" +
            std::string(63, 'n') +
            "\"=\"x\"\n"
            "\"" +
            std::string(64, 'm') +
            "\"=\"x\"\n"
            "\"longpass\"=\"" +
            std::string(64, 'p') +
            "\"\n"
            "\"maxpass\"=\"" +
            std::string(63, 'p') +
            "\"\n"
            "\"huge\"=\"" +
            std::string(300, 'h') + "\"\n");
    }
    void WriteRegistry(const std::string& text) { testing_support::WriteFile(path_, text); }

    static bool User(std::string_view credentials) {
        return CheckUserLogin(Base64Encode(credentials), kClient);
    }
    static bool Admin(std::string_view credentials) {
        return CheckAdminLogin(Base64Encode(credentials), kClient);
    }

    static constexpr uint32_t kClient = 0x0a000001;  // 10.0.0.1
    testing_support::TempDir dir_;
    std::string path_ = dir_.File("registry.reg");
    testing_support::ScopedEnv registry_{"VANTRY_REGISTRY", path_};
};

TEST_F(BasicAuthLoginTest, UserLoginRules) {
    EXPECT_TRUE(User("bob:Pa:ss")) << "the first colon separates; the password keeps its colon";
    EXPECT_TRUE(User("BOB:pA:SS")) << "names and passwords match without regard to case";
    EXPECT_TRUE(User("admin:secret")) << "the administrator is a user too";
    EXPECT_FALSE(User("bob:Pa:s"));
    EXPECT_FALSE(User("bob:Pa:ssx"));
    EXPECT_FALSE(User("bob")) << "no colon";
    EXPECT_FALSE(User(":Pa:ss")) << "empty name";
    EXPECT_FALSE(User("bob:")) << "empty password";
    EXPECT_FALSE(User("nobody:x"));
    EXPECT_FALSE(User("number:00000001")) << "a value that is not text is no user";
    EXPECT_FALSE(User("number:1"));
    EXPECT_FALSE(CheckUserLogin("", kClient));
    EXPECT_FALSE(CheckUserLogin("!!!!", kClient)) << "not Base64";
}

TEST_F(BasicAuthLoginTest, NamesAndPasswordsOverSixtyThreeCharactersNeverLogIn) {
    EXPECT_TRUE(User(std::string(63, 'n') + ":x"));
    EXPECT_FALSE(User(std::string(64, 'm') + ":x"));
    EXPECT_TRUE(User("maxpass:" + std::string(63, 'p')));
    EXPECT_FALSE(User("longpass:" + std::string(64, 'p')));
    EXPECT_FALSE(User("longpass:" + std::string(63, 'p'))) << "a longer stored password is not cut";
    EXPECT_FALSE(User("huge:" + std::string(300, 'h')));
    EXPECT_FALSE(ReadUserPassword("huge").has_value());
}

TEST_F(BasicAuthLoginTest, DecodedCredentialsEndAtAZeroByte) {
    EXPECT_FALSE(User(std::string("bob\0:Pa:ss", 10)));
    EXPECT_TRUE(User(std::string("bob:Pa:ss\0tail", 14)));
}

TEST_F(BasicAuthLoginTest, AdminLoginAcceptsOnlyTheAdminUser) {
    EXPECT_TRUE(Admin("Admin:Secret"));
    EXPECT_TRUE(Admin("ADMIN:secret"));
    EXPECT_FALSE(Admin("Admin:wrong"));
    EXPECT_FALSE(Admin("bob:Pa:ss"));
    EXPECT_TRUE(User("bob:Pa:ss"));
    EXPECT_FALSE(Admin("Admin"));
    EXPECT_FALSE(Admin("Admin:"));
}

TEST_F(BasicAuthLoginTest, PasswordsAreReadAfreshAtEveryLogin) {
    EXPECT_EQ(ReadUserPassword("BOB"), "Pa:ss");
    EXPECT_TRUE(User("bob:Pa:ss"));

    WriteRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n\"Bob\"=\"new \\\"one\\\"\"\n");
    EXPECT_EQ(ReadUserPassword("bob"), "new \"one\"");
    EXPECT_FALSE(User("bob:Pa:ss"));
    EXPECT_TRUE(User("bob:NEW \"ONE\""));
    EXPECT_FALSE(User("admin:secret"));

    WriteRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n\"bob\"=\"Pa:ss\"\n");
    EXPECT_FALSE(ReadUserPassword("bob").has_value()) << "only the USERS key holds users";

    ASSERT_EQ(::unlink(path_.c_str()), 0);
    EXPECT_FALSE(ReadUserPassword("bob").has_value());
    EXPECT_FALSE(User("bob:NEW \"ONE\""));
}

// The logins the observer was told of, in order.
std::vector<std::pair<platform::IpAddress, std::string>> observedLogins;

TEST_F(BasicAuthLoginTest, SuccessfulLoginsAreReportedAndFailuresAreNot) {
    WriteRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n\"visit-check\"=\"pw\"\n");
    observedLogins.clear();
    SetLoginObserver([](const platform::IpAddress& client, std::string_view user) {
        observedLogins.emplace_back(client, std::string(user));
    });
    const uint32_t failed = 0x0a580001;     // 10.88.0.1
    const uint32_t succeeded = 0x0a580002;  // 10.88.0.2
    EXPECT_FALSE(CheckUserLogin(Base64Encode("visit-check:wrong"), failed));
    EXPECT_FALSE(CheckAdminLogin(Base64Encode("visit-check:pw"), failed));
    EXPECT_TRUE(CheckUserLogin(Base64Encode("VISIT-CHECK:PW"), succeeded));
    SetLoginObserver(nullptr);
    EXPECT_TRUE(CheckUserLogin(Base64Encode("visit-check:pw"), succeeded));
    using Login = std::pair<platform::IpAddress, std::string>;
    EXPECT_EQ(observedLogins,
              (std::vector<Login>{{platform::IpAddress(succeeded), "VISIT-CHECK"}}));
}

TEST_F(BasicAuthLoginTest, AuthorizationHeaderIsFoundAndItsSchemeSkipped) {
    const std::string bob = Base64Encode("bob:Pa:ss");
    const std::string admin = Base64Encode("Admin:Secret");
    auto check = [](const std::string& headers, bool administrator) {
        return CheckAuthorizationHeader(headers, administrator, kClient);
    };
    EXPECT_TRUE(check("Host: a\rAuthorization: Basic " + bob + "\rAccept: */*\r", false));
    EXPECT_TRUE(check("Authorization: basic " + bob + "\r", false));
    EXPECT_TRUE(check("Authorization: BASIC=" + bob + "\r", false))
        << "six characters are skipped whatever the sixth is";
    EXPECT_TRUE(check("Authorization: " + bob + "\r", false)) << "the scheme may be left out";
    EXPECT_TRUE(check("Authorization: Basic " + bob + " trailing\r", false));
    EXPECT_FALSE(check("Authorization: Basic  " + bob + "\r", false)) << "a second blank ends it";
    EXPECT_FALSE(check("authorization: Basic " + bob + "\r", false))
        << "the header name is matched as written";
    EXPECT_FALSE(check("Authorization:Basic " + bob + "\r", false));
    EXPECT_FALSE(check("Host: a\r", false));
    EXPECT_FALSE(check("", false));
    EXPECT_FALSE(check("Authorization: Basic\r", false));
    EXPECT_FALSE(check("Authorization: \r", false));
    EXPECT_FALSE(check("Authorization: Basic " + bob + "\r", true));
    EXPECT_TRUE(check("Authorization: Basic " + admin + "\r", true));
    EXPECT_FALSE(check("Authorization: Basic " + std::string(100000, 'A') + "\r", false));
}

// A connection whose GET handler guards a page with a login, as the router does.
class GuardedConnection : public http::Connection {
  public:
    std::string realm;
    bool administrator = false;
    int loggedStatus = -1;

    void OnGet(std::string) override {
        if (!CheckAuthorizationHeader(request().headerText(), administrator, clientAddress)) {
            SendAuthChallenge(*this, realm);
            return;
        }
        AppendBody("welcome");
    }
    void LogRequest() override { loggedStatus = response().status(); }
};

class AuthChallengeTest : public BasicAuthLoginTest {
  protected:
    std::string Exchange(const std::string& request) {
        return testing_support::ExchangeOverSocketPair(connection, engine.server, {request});
    }

    testing_support::EngineHarness engine;
    GuardedConnection connection;
};

// The bytes of the challenge, and a login that passes, are the end-to-end tests'; here, a
// realm that would end the header line, or the header itself, cannot.
TEST_F(AuthChallengeTest, TheChallengeIsLoggedAndItsRealmCannotBreakTheHeader) {
    const std::pair<std::string, std::string> realms[] = {
        {"My \"Home\"\r\nSet-Cookie: x=1\n", "My HomeSet-Cookie: x=1"}, {"", ""}};
    for (const auto& [realm, shown] : realms) {
        connection.realm = realm;
        const std::string response =
            Exchange("HEAD / HTTP/1.0\r\n" + testing_support::BasicLogin("bob:wrong") + "\r\n");
        EXPECT_TRUE(testing_support::IsChallenge(response, shown)) << response;
        EXPECT_EQ(connection.loggedStatus, 401);
    }
}

}  // namespace
}  // namespace auth
