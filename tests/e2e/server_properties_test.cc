// The server properties page and the handling of its post, seen as bytes on the wire and
// as the configuration file on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kConfirmation =
    "<HTML><HEAD><TITLE>Changes Made</TITLE><SCRIPT>window.resizeTo(500, 400);</SCRIPT></HEAD>"
    "<BODY BGCOLOR='#ffffff'><H1> The changes you requested have been made.</H1><P> If you "
    "changed the port, this change will not take effect until the server is restarted (click "
    "stop and then start).\r\n"
    "<P><HR>\r\n"
    "<FORM METHOD='POST' ACTION='/admin/ServerProperties.html'>\r\n"
    "<INPUT TYPE='SUBMIT' VALUE='Continue'>\r\n"
    "</FORM>\r\n"
    "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' color='White'> <A "
    "href=\"http://help.vantry.example/us/help/vnt/HandleChange.shtml\" target='_new'>Help</A> "
    "&nbsp</b></font></div>\r\n"
    "</BODY></HTML>\r\n";

// The per-server switches of the form, by their keys in the configuration file.
const char* const kSwitchKeys[] = {"logs",
                                   "list",
                                   "cgi",
                                   "searchEnabled",
                                   "homeEnabled",
                                   "favoritesEnabled",
                                   "userListEnabled",
                                   "universalNavBarEnabled",
                                   "uploadEnabled",
                                   "messageUploadEnabled",
                                   "messageIsXML",
                                   "postEnabled",
                                   "redirectorEnabled",
                                   "useJavaScriptRedirector"};

class ServerPropertiesTest : public ::testing::Test {
  protected:
    ServerPropertiesTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\nlist=Y\ncgi=Y\n"
              "searchEnabled=Y\nhomeEnabled=Y\nfavoritesEnabled=Y\nuserListEnabled=Y\n"
              "universalNavBarEnabled=Y\nuploadEnabled=Y\nmessageUploadEnabled=Y\n"
              "messageIsXML=Y\npostEnabled=Y\nredirectorEnabled=Y\nuseJavaScriptRedirector=Y\n"
              "userListPublic=Y\nuploadMaxSizeMB=4096\n"
              "[Server-2-Config]\nwwwroot={dir}/Bob's <site>/\nlogs=Y\nlist=N\n"
              "messageIsXML=Y\nredirectorEnabled=Y\nftpPath=/pub/\nwebdav=R\nwebdavPath=/files/\n"
              "[Server-2]\nsecondPortEnabled=N\n") {
        // Server 2 keeps its default port and is not started: only Server 1 answers.
        ::chmod(IniPath().c_str(), 0644);
        WriteFile(vantry.dir() + "/registry.reg", kAdminRegistry);
    }
    void SetUp() override { vantry.Start(); }

    std::string IniPath() const { return vantry.dir() + "/Vantry.ini"; }
    std::string Saved(const std::string& section, const std::string& key) const {
        return platform::GetProfileString(IniPath(), section, key, "<missing>");
    }
    std::string Page() {
        return BodyOf(
            Exchange(vantry.address(), vantry.port1(),
                     "GET /admin/serverproperties.html HTTP/1.0\r\n" + kAdminLogin + "\r\n"));
    }
    std::string Post(const std::string& body, const std::string& extraHeaders = "") {
        return Exchange(vantry.address(), vantry.port1(),
                        "POST /admin/change.html HTTP/1.0\r\n" + kAdminLogin +
                            "Host: " + vantry.address() + ":" + std::to_string(vantry.port1()) +
                            "\r\n" + extraHeaders +
                            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }

    VantryInstance vantry;
};

TEST_F(ServerPropertiesTest, PageShowsBothServersSideBySide) {
    const std::string page = Page();
    const std::string help = "<TD><A HREF=\"http://help.vantry.example/us/help/vnt/";
    const std::string port1 = std::to_string(vantry.port1());
    const std::vector<std::string> pieces = {
        "<HTML><HEAD><TITLE>\r\nVantry Server Properties Page\r\n</TITLE><SCRIPT>window.resizeTo("
        "710, screen.availHeight);</SCRIPT></HEAD>\r\n<BODY bgColor=#ffffff >\r\n"
        "<H2>Vantry Server Properties Page</H2>\r\n"
        "<FORM METHOD='POST' ACTION='/admin/change.html'>\r\n",
        // Server 1 is always running, so it has no switch of its own.
        "<TR bgColor=#cbfad2 >\r\n<TD>Enable Server</TD>\r\n<TD>&nbsp</TD><TD><INPUT "
        "TYPE='CHECKBOX' NAME='SECONDPORTENABLED' ></TD>" +
            help + "EnableServer2.shtml\" target='_new'> Help </A></TD></TR>\r\n",
        "<TR bgColor=#caeaff >\r\n<TD>Port to run Web from:</TD>\r\n<TD><INPUT TYPE='TEXT' "
        "NAME='PORT' VALUE='" +
            port1 +
            "' SIZE='30'></TD><TD><INPUT TYPE='TEXT' NAME='PORT-2' VALUE='9600' "
            "SIZE='30'></TD>" +
            help + "PortNumber.shtml\" target='_new'> Help </A></TD></TR>\r\n",
        "<TD>Website Name(domain i.e. www.example.com):</TD>\r\n",
        // A quote in a root must not end the attribute.
        "NAME='ROOT-2' VALUE='" + vantry.dir() + "/Bob&#39;s &lt;site&gt;/' SIZE='30'>",
        "<TD><INPUT TYPE='CHECKBOX' NAME='LOG' CHECKED></TD><TD><INPUT TYPE='CHECKBOX' "
        "NAME='LOG-2' CHECKED></TD>",
        "<TD><INPUT TYPE='CHECKBOX' NAME='LIST' CHECKED></TD><TD><INPUT TYPE='CHECKBOX' "
        "NAME='LIST-2' ></TD>",
        // The user list's switch, with the other user list row.
        "<TD>User List Page Enabled</TD>\r\n<TD><INPUT TYPE='CHECKBOX' NAME='USERLISTENABLED' "
        "CHECKED></TD><TD><INPUT TYPE='CHECKBOX' NAME='USERLISTENABLED-2' CHECKED></TD>" +
            help +
            "EnableUserList.shtml\" target='_new'> Help </A></TD></TR>\r\n"
            "<TR bgColor=#caeaff >\r\n<TD>User List Shown To Every Visitor</TD>\r\n"
            "<TD><INPUT TYPE='CHECKBOX' NAME='USERLISTPUBLIC' CHECKED></TD><TD><INPUT "
            "TYPE='CHECKBOX' NAME='USERLISTPUBLIC-2' ></TD>" +
            help + "UserListPublic.shtml\" target='_new'> Help </A></TD></TR>\r\n",
        "NAME='MESSAGEMAXSIZEKB' VALUE='32000' SIZE='30'>",
        "NAME='FTPPATH-2' VALUE='/pub/' SIZE='30'>",
        "<INPUT TYPE='SUBMIT' NAME='ACTION' VALUE='Virtual Directories'>\r\n<A "
        "HREF=\"http://help.vantry.example/us/help/vnt/SubPropertyButtons.shtml\" "
        "target='_new'> Help </A></TD>\r\n<TD COLSPAN=2>\r\n",
        "</TABLE></FORM>\r\n<P><A HREF='ServerProperties.html'>[Cancel Changes]</A></P>\r\n",
    };
    for (const std::string& piece : pieces) {
        EXPECT_NE(page.find(piece), std::string::npos) << piece << "\n--- in ---\n" << page;
    }
    EXPECT_TRUE(page.ends_with("</BODY></HTML>\r\n"));
    EXPECT_EQ(page.find("adminpw"), std::string::npos);
    // Server 2's network drive is on, but only the modern form has rows for it.
    for (const char* modernOnly : {"UPLOADMAXSIZEMB", "WEBDAV", "Network drive", "/files/"}) {
        EXPECT_EQ(page.find(modernOnly), std::string::npos) << modernOnly;
    }
}

TEST_F(ServerPropertiesTest, EmptyPostSwitchesEverySwitchOffAndSavesPrivately) {
    const std::string root2 = Saved("Server-2-Config", "wwwroot");
    EXPECT_EQ(BodyOf(Post("")), kConfirmation);

    for (const char* section : {"Config", "Server-2-Config"}) {
        for (const char* key : kSwitchKeys) {
            EXPECT_EQ(Saved(section, key), "N") << section << " " << key;
        }
    }
    EXPECT_EQ(Saved("Server-2", "secondPortEnabled"), "N");
    EXPECT_EQ(Saved("Config", "userListPublic"), "<missing>") << "saved only when on";
    EXPECT_EQ(Saved("Config", "port"), std::to_string(vantry.port1()));
    EXPECT_EQ(Saved("Server-2-Config", "wwwroot"), root2);
    EXPECT_EQ(Saved("Server-2-Config", "ftpPath"), "/pub/");
    EXPECT_EQ(Saved("Config", "uploadMaxSizeMB"), "4096") << "only the modern form has it";
    EXPECT_EQ(Saved("Server-2-Config", "webdav"), "R") << "only the modern form has it";
    EXPECT_EQ(Saved("Server-2-Config", "webdavPath"), "/files/");

    struct stat st {};
    ASSERT_EQ(::stat(IniPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds the passwords";
}

TEST_F(ServerPropertiesTest, SaveAppliesEachFieldWithItsConversionAndLimit) {
    const std::string long150(150, 'h');
    EXPECT_EQ(BodyOf(Post("HOMEPAGELOCATION=" + long150 + "&FTPPATH=" + long150 +
                          "&FAVORITESLOCATION-2=" + std::string(120, 'f') +
                          "&ID-2=x&pw=secret"
                          "&PORT-2=%20%20%2B812%20&UPLOADMAXSIZEKB=x9&log=on&CGI-2=ON&LIST=yes"
                          "&SITE=&DEFUALTPAGEPROPERTIES-2=bgColor%3D%23000000"
                          "&SECONDPORTENABLED=on&SECONDPORTENABLED-2=&unknown=1&USERLISTPUBLIC-2=on"
                          "&UPLOADMAXSIZEMB=&UPLOADMAXSIZEMB-2=%2B25%20&ACTION=SAVE")),
              kConfirmation);
    const std::vector<std::vector<std::string>> expected = {
        {"Config", "homePageLocation", std::string(99, 'h')},
        {"Config", "ftpPath", long150},
        {"Server-2-Config", "favoritesLocation", std::string(99, 'f')},
        {"Config", "adminid", "x"},
        {"Config", "adminpw", "secret"},
        {"Server-2-Config", "port", "812"},
        {"Config", "uploadMaxSizeKB", "0"},
        {"Config", "logs", "Y"},
        {"Server-2-Config", "cgi", "Y"},
        {"Config", "list", "N"},
        {"Config", "servername", ""},
        {"Server-2-Config", "defaultPageProperties", "bgColor=#000000"},
        {"Server-2", "secondPortEnabled", "Y"},
        {"Server-2-Config", "messageIsXML", "N"},
        {"Server-2-Config", "ftpPath", "/pub/"},
        {"Server-2-Config", "userListPublic", "Y"},
        {"Config", "userListPublic", "<missing>"},
        {"Config", "uploadMaxSizeMB", "4096"},
        {"Server-2-Config", "uploadMaxSizeMB", "25"},
    };
    for (const auto& row : expected) {
        EXPECT_EQ(Saved(row[0], row[1]), row[2]) << row[0] << " " << row[1];
    }
}

TEST_F(ServerPropertiesTest, MappingButtonsApplyTheChangeWithoutSaving) {
    const std::string before = ReadFile(IniPath());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"PORT=8080&ACTION=MIME", "8080"},
        {"PORT=%20%2B81%20&ACTION=script", "81"},
        {"ACTION=virtual+directories&PORT=7", "7"},
    };
    for (const auto& [body, port] : cases) {
        Post(body);
        EXPECT_EQ(ReadFile(IniPath()), before) << body;
        EXPECT_NE(Page().find("NAME='PORT' VALUE='" + port + "'"), std::string::npos) << body;
    }
}

TEST_F(ServerPropertiesTest, PortsThatAreNoPortNumbersAreRefusedAndNothingChanges) {
    const std::string before = ReadFile(IniPath());
    const std::vector<std::string> fields = {"PORT=99999", "PORT=65536", "PORT=0", "PORT=-1",
                                             "PORT=abc",   "PORT=80abc", "PORT=",  "PORT-2=99999"};
    for (const std::string& field : fields) {
        const std::string page = BodyOf(Post("SITE=changed&" + field + "&ACTION=MIME"));
        EXPECT_TRUE(page.starts_with("<HTML><HEAD><TITLE>Changes Not Made</TITLE>")) << page;
        EXPECT_NE(page.find(" is not a port number (1-65535).\r\n"), std::string::npos) << page;
        EXPECT_EQ(ReadFile(IniPath()), before) << field;
    }
    EXPECT_NE(BodyOf(Post("PORT=99999")).find("<P> Server 1: Port 99999 is not a port number"),
              std::string::npos);
    const std::string page = Page();
    EXPECT_NE(page.find("NAME='PORT' VALUE='" + std::to_string(vantry.port1()) + "'"),
              std::string::npos);
    EXPECT_EQ(page.find("VALUE='changed'"), std::string::npos) << "nothing applied in memory";
}

// A form that does not arrive whole would clear every switch still to come and could move
// the root to "/": it changes nothing, in memory or on disk.
TEST_F(ServerPropertiesTest, AFormThatDoesNotArriveWholeChangesNothing) {
    const std::string before = ReadFile(IniPath());
    const std::string head = "POST /admin/change.html HTTP/1.0\r\n" + kAdminLogin;
    const std::string form = "LOG=on&ROOT=%2F";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"cut short", head + "Content-Length: 200\r\n\r\n" + form},
        {"no Content-Length", head + "\r\n" + form},
        {"head cut short", head + "Content-Length: 0\r\n"},
        {"not posted", "GET /admin/change.html HTTP/1.0\r\n" + kAdminLogin + "\r\n"},
    };
    for (const auto& [what, request] : cases) {
        Client client(vantry.address(), vantry.port1());
        client.Send(request);
        client.ShutdownSend();
        EXPECT_EQ(client.ReadAll(), ErrorPage("400 Bad Request", true)) << what;
        EXPECT_EQ(ReadFile(IniPath()), before) << what;
    }
    EXPECT_EQ(Exchange(vantry.address(), vantry.port1(), "GET /etc/passwd HTTP/1.0\r\n\r\n"),
              ErrorPage("404 Object Not Found"));
    EXPECT_NE(Page().find("NAME='LIST' CHECKED"), std::string::npos);
}

TEST_F(ServerPropertiesTest, AFormCutShortByTheServerStoppingChangesNothing) {
    const std::string root = Saved("Config", "wwwroot");
    Client client(vantry.address(), vantry.port1());
    client.Send("POST /admin/change.html HTTP/1.0\r\n" + kAdminLogin +
                "Content-Length: 200\r\n\r\nLOG=on&ROOT=%2F");
    ASSERT_TRUE(client.WaitUntilServerRead());
    EXPECT_EQ(vantry.Stop(), 0);
    EXPECT_EQ(Saved("Config", "wwwroot"), root);
    for (const char* key : kSwitchKeys) EXPECT_EQ(Saved("Config", key), "Y") << key;
}

TEST_F(ServerPropertiesTest, AChangeThatCannotBeSavedSaysSo) {
    // A directory where the file was: the change takes effect, the save fails.
    std::filesystem::remove(IniPath());
    std::filesystem::create_directory(IniPath());
    const std::string page = BodyOf(Post("SITE=unsaved"));
    EXPECT_NE(page.find("<H1> The changes you requested have been made.</H1>"), std::string::npos);
    EXPECT_NE(page.find("\r\n<P><B>The changes are in effect, but the configuration file could "
                        "not be saved: " +
                        IniPath() + ": "),
              std::string::npos)
        << page;
    EXPECT_TRUE(vantry.WaitForStderr("Could not save the configuration file " + IniPath(), 5s))
        << vantry.Stderr();
}

}  // namespace
}  // namespace e2e
