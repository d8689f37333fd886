// The texts the address publishing writes: command files the FTP client reads back, pages made
// from the shipped templates, and where the owner's scripts are looked for.
#include "publish/address_publisher.h"

#include <gtest/gtest.h>

#include "publish/ftp_session.h"
#include "tests/support/temp_dir.h"

namespace {

using publish::FtpCommand;

config::ServerSettings FtpSettings(const std::string& password, const std::string& page) {
    config::ServerSettings settings;
    settings.ftpSiteName = "ftp.example.com";
    settings.ftpUserID = "bob smith";
    settings.ftpPassword = password;
    settings.ftpPath = "Your Home Page Location";
    settings.ftpUploadFileName = page;
    return settings;
}

TEST(AddressPublisherTest, CommandFileIsReadBackByTheClientAsWritten) {
    struct Case {
        std::string password;
        std::string page;
        std::string expectedFile;
        std::string putName;
    };
    const Case cases[] = {
        {"s3cret", "index.html",
         "user bob smith\r\ns3cret\r\ncd Your Home Page Location\r\ndelete index.html\r\n"
         "put index.html\r\nbye\r\nquit\r\n",
         "index.html"},
        // A password keeps its spaces and quotes; a page name with a space stays one name.
        {" a \"b\" c ", "my page.html",
         "user bob smith\r\n a \"b\" c \r\ncd Your Home Page Location\r\ndelete my page.html\r\n"
         "put \"my page.html\"\r\nbye\r\nquit\r\n",
         "my page.html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        const std::string file =
            publish::WithCrLf(publish::FtpCommandText(FtpSettings(c.password, c.page)));
        EXPECT_EQ(file, c.expectedFile);

        std::vector<FtpCommand> commands;
        std::string error;
        ASSERT_TRUE(publish::ParseFtpCommands(file, &commands, &error)) << error;
        ASSERT_EQ(commands.size(), 5u);
        EXPECT_EQ(commands[0].args, (std::vector<std::string>{"bob smith", c.password}));
        EXPECT_EQ(commands[1].args, std::vector<std::string>{"Your Home Page Location"});
        EXPECT_EQ(commands[2].args, std::vector<std::string>{c.page});
        EXPECT_EQ(commands[3].args, (std::vector<std::string>{c.putName, c.putName}));
        EXPECT_EQ(commands[4].kind, FtpCommand::Kind::kBye);
    }
}

TEST(AddressPublisherTest, OnlyTheFirstPlaceholderIsReplaced) {
    EXPECT_EQ(publish::RedirectPageText("a Place Your IP Address Here b Place Your IP Address Here",
                                        "10.0.0.1:81"),
              "a 10.0.0.1:81 b Place Your IP Address Here");
    EXPECT_EQ(publish::RedirectPageText("no address here", "10.0.0.1"), std::nullopt);
    // Line ends are written as CR LF, so a template's own CR LF gains a CR.
    EXPECT_EQ(publish::WithCrLf("a\nb\r\n"), "a\r\nb\r\r\n");
}

TEST(AddressPublisherTest, ShippedTemplatesHoldThePlaceholderExactlyWhenTheyRedirect) {
    struct Template {
        std::string file;
        std::string title;
        bool redirect;
    };
    const Template templates[] = {
        {"VNTReDirector.html", "<title>Browser Redirect</title>", true},
        {"VNTJavaScriptReDirector1.html", "<title>redirector page</title>", true},
        {"VNTJavaScriptReDirector2.html", "<title>Resume Redirector Page</title>", true},
        {"VNTOffline.html", "<title>Vantry Is Offline</title>", false},
    };
    for (const Template& t : templates) {
        SCOPED_TRACE(t.file);
        const std::string text =
            testing_support::ReadFile(VANTRY_SOURCE_DIR "/resources/publish/" + t.file);
        EXPECT_NE(text.find(t.title), std::string::npos);
        std::optional<std::string> page = publish::RedirectPageText(text, "198.51.100.7:8080");
        EXPECT_EQ(page.has_value(), t.redirect);
        if (page) {
            EXPECT_NE(page->find("http://198.51.100.7:8080\""), std::string::npos);
        }
    }
}

TEST(AddressPublisherTest, ScriptsAreLookedForInProgramThenWorkingDirectoryThenPath) {
    EXPECT_EQ(
        publish::ScriptDirectories("/opt/vantry/", "/home/me/", "/usr/bin::/bin/"),
        (std::vector<std::string>{"/opt/vantry/", "/home/me/", "/usr/bin/", "/home/me/", "/bin/"}));
    EXPECT_EQ(publish::ScriptDirectories("/p/", "/w/", ""),
              (std::vector<std::string>{"/p/", "/w/"}));
}

}  // namespace
