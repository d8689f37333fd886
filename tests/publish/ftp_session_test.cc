// The FTP client's parsing: host arguments, command files, replies and passive-mode answers.
#include "publish/ftp_session.h"

#include <gtest/gtest.h>

namespace {

using publish::FtpCommand;
using Kind = publish::FtpCommand::Kind;

TEST(FtpSessionTest, HostArguments) {
    struct Case {
        std::string text;
        bool valid;
        std::string host;
        uint16_t port;
    };
    const Case cases[] = {
        {"ftp.example.com", true, "ftp.example.com", 21},
        {"127.0.0.5:2121", true, "127.0.0.5", 2121},
        {"[::1]:990", true, "::1", 990},
        {"[::1]", true, "::1", 21},
        {"::1", true, "::1", 21},
        {"host:", false, "", 0},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:21x", false, "", 0},
        {":21", false, "", 0},
        {"", false, "", 0},
        {"[::1", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<publish::FtpTarget> target = publish::ParseFtpTarget(c.text);
        ASSERT_EQ(target.has_value(), c.valid);
        if (!target) continue;
        EXPECT_EQ(target->host, c.host);
        EXPECT_EQ(target->port, c.port);
    }
}

TEST(FtpSessionTest, CommandFiles) {
    std::vector<FtpCommand> commands;
    std::string error;
    ASSERT_TRUE(publish::ParseFtpCommands(
        "USER bob\r\n  two words \r\n\r\nCd \"/my site\"\nbinary\nascii\nput a.html\n"
        "put \"a b.html\" c.html\ndelete old page.html\nQUIT\nthis is never read\n",
        &commands, &error))
        << error;
    const std::vector<std::pair<Kind, std::vector<std::string>>> expected = {
        {Kind::kUser, {"bob", "  two words "}},
        {Kind::kCd, {"/my site"}},
        {Kind::kBinary, {}},
        {Kind::kAscii, {}},
        {Kind::kPut, {"a.html", "a.html"}},
        {Kind::kPut, {"a b.html", "c.html"}},
        {Kind::kDelete, {"old page.html"}},
        {Kind::kBye, {}},
    };
    ASSERT_EQ(commands.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(commands[i].kind, expected[i].first) << i;
        EXPECT_EQ(commands[i].args, expected[i].second) << i;
    }
    EXPECT_EQ(commands[1].line, 4);

    const std::pair<std::string, std::string> refused[] = {
        {"user bob", "line 1: user needs the password on the next line"},
        {"user\npw\n", "line 1: user needs a name"},
        {"cd\n", "line 1: cd needs a name"},
        {"bye-bye\n", "line 1: unknown command \"bye-bye\""},
        {"\nput a b c\n", "line 2: put needs a local file and at most a remote name"},
    };
    for (const auto& [text, message] : refused) {
        EXPECT_FALSE(publish::ParseFtpCommands(text, &commands, &error)) << text;
        EXPECT_EQ(error, message);
    }
}

TEST(FtpSessionTest, RepliesArriveWholeWhateverTheirPieces) {
    publish::FtpReplyParser parser;
    const std::string stream =
        "220-Welcome\r\n221 not the end\r\n 220 nor this\r\n220-nor this\r\n220 Ready\r\n"
        "331 Password\n230\r\n";
    // One byte at a time: a reply is only complete at its last line end.
    for (char c : stream) parser.Feed(std::string_view(&c, 1));
    std::vector<std::pair<int, std::string>> got;
    while (std::optional<publish::FtpReply> reply = parser.Next()) {
        got.emplace_back(reply->code, reply->text);
    }
    EXPECT_EQ(got, (std::vector<std::pair<int, std::string>>{
                       {220, "220 Ready"}, {331, "331 Password"}, {230, "230"}}));
    EXPECT_FALSE(parser.broken());

    for (const std::string& bad :
         {std::string("HTTP/1.0 200 OK\r\n"), std::string("099 x\r\n"), std::string("2200 x\r\n"),
          std::string(publish::FtpReplyParser::kMaxReplySize + 1, 'x')}) {
        publish::FtpReplyParser broken;
        broken.Feed(bad);
        EXPECT_TRUE(broken.broken()) << bad.substr(0, 20);
        EXPECT_FALSE(broken.Next());
    }
}

TEST(FtpSessionTest, PassiveModePorts) {
    EXPECT_EQ(publish::ParseEpsvPort("229 Entering Extended Passive Mode (|||6446|)"), 6446);
    EXPECT_EQ(publish::ParseEpsvPort("229 Ok (!!!21!)"), 21);
    EXPECT_EQ(publish::ParseEpsvPort("229 Ok (|||0|)"), std::nullopt);
    EXPECT_EQ(publish::ParseEpsvPort("229 Ok (||6446|)"), std::nullopt);
    EXPECT_EQ(publish::ParseEpsvPort("229 Ok"), std::nullopt);
    EXPECT_EQ(publish::ParsePasvPort("227 Entering Passive Mode (127,0,0,1,25,38)"), 25 * 256 + 38);
    EXPECT_EQ(publish::ParsePasvPort("227 =10,0,0,1,0,21"), 21);
    EXPECT_EQ(publish::ParsePasvPort("227 (127,0,0,1,256,1)"), std::nullopt);
    EXPECT_EQ(publish::ParsePasvPort("227 (127,0,0,1,25)"), std::nullopt);
    EXPECT_EQ(publish::ParsePasvPort("227 (1,2,3,4,0,0)"), std::nullopt);
}

TEST(FtpSessionTest, AsciiModeSendsCrLf) {
    EXPECT_EQ(publish::ToNetworkAscii("a\nb\r\nc\n"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(publish::ToNetworkAscii("\n"), "\r\n");
}

}  // namespace
