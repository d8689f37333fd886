// Failed logins from one address: the eleventh is answered 429, other addresses are not.
#include <gtest/gtest.h>

#include <regex>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

TEST(LoginLimitTest, TheEleventhFailedLoginIsRefusedAndAnotherAddressStillAsked) {
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\nservername=Site\n");
    WriteFile(vantry.dir() + "/www/index.html", "welcome");
    WriteFile(vantry.dir() + "/registry.reg",
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n"
              "\"AuthenticationRequiredServerOne\"=dword:00000001\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n\"bob\"=\"pw\"\n");
    vantry.Start();
    auto ask = [&vantry](const std::string& from, const std::string& credentials) {
        Client client(vantry.address(), vantry.port1(), from);
        std::string request = "GET / HTTP/1.0\r\n";
        if (!credentials.empty())
            request += "Authorization: Basic " + Base64Encode(credentials) + "\r\n";
        client.Send(request + "\r\n");
        return client.ReadAll();
    };
    auto status = [](const std::string& response) {
        return response.substr(0, response.find("\r\n"));
    };
    const std::string attacker = "127.0.0.7";
    const std::string other = "127.0.0.8";

    EXPECT_EQ(status(ask(attacker, "")), "HTTP/1.0 401 OK") << "no login: not a failure";
    EXPECT_EQ(BodyOf(ask(attacker, "bob:pw")), "welcome") << "a success does not count";
    for (int i = 1; i <= 10; ++i) {
        ASSERT_EQ(status(ask(attacker, "bob:wrong")), "HTTP/1.0 401 OK") << "failure " << i;
    }
    const std::regex refused(
        "HTTP/1\\.0 429 Too Many Requests\r\nServer: Vantry/1\\.0\r\nRetry-After: (\\d+)\r\n"
        "Content-Type: text/html\r\nX-Content-Type-Options: nosniff\r\nContent-Length: "
        "\\d+\r\n\r\n.+");
    for (const char* credentials : {"bob:wrong", "bob:pw", ""}) {
        std::string response = ask(attacker, credentials);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(response, match, refused)) << credentials << ": " << response;
        int seconds = std::stoi(match[1]);
        EXPECT_TRUE(seconds > 590 && seconds <= 600) << seconds;
    }
    EXPECT_EQ(status(ask(other, "bob:wrong")), "HTTP/1.0 401 OK");
    EXPECT_EQ(BodyOf(ask(other, "bob:pw")), "welcome");

    const std::string told = "Too many failed logins from 127.0.0.7: refused for 10 minutes.";
    ASSERT_TRUE(vantry.WaitForStderr(told, 5s)) << vantry.Stderr();
    std::string errors = vantry.Stderr();
    EXPECT_EQ(errors.find(told), errors.rfind(told)) << "said once";
}

}  // namespace
}  // namespace e2e
