// The favorites listing, the navigator page and the user list of the real program: the
// pages' bytes, which entries show and how, the switches, and the escaping of what comes
// from files and visitors.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::string_view kHeaderRow = "<TR bgColor=#66ccff height='30' align='left' >";
const std::string kHelp =
    "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' color='White'> "
    "<A href=\"http://help.vantry.example/us/help/vnt/";

// The body of a generated page; empty unless the answer is a 200 HTML page.
std::string Ask(const VantryInstance& vantry, const std::string& target, int port,
                const std::string& credentials = "", const std::string& from = "") {
    const std::string response =
        ExchangeFrom(from, vantry.address(), port,
                     "GET " + target + " HTTP/1.0\r\n" +
                         (credentials.empty() ? "" : BasicLogin(credentials)) + "\r\n");
    if (!response.starts_with("HTTP/1.0 200 OK\r\n") ||
        response.find("\r\nContent-Type: text/html\r\n") == std::string::npos) {
        ADD_FAILURE() << target << ": " << response;
        return "";
    }
    return BodyOf(response);
}

std::string PageOpening(std::string_view title, std::string_view heading,
                        std::string_view body = "<BODY bgColor=#ffffff >") {
    return "<HTML><HEAD><TITLE>\r\n" + std::string(title) +
           "\r\n</TITLE>\r\n<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>\r\n"
           "</HEAD>\r\n" +
           std::string(body) + "\r\n" + std::string(heading) + "\r\n";
}

class FavoritesTest : public ::testing::Test {
  protected:
    FavoritesTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\nfavoritesEnabled=N\n"
              "[Server-2]\nsecondPortEnabled=Y\n") {
        // The instance's HOME is its directory, so this is the default favorites folder.
        const std::string favorites = vantry.dir() + "/Favorites";
        fs::create_directories(favorites + "/My.Links");
        fs::create_directories(favorites + "/a b&c");
        fs::create_directories(favorites + "/.secret");
        fs::create_directories(favorites + "/Links/News");
        fs::create_directories(favorites + "/javascript:alert(1)");
        WriteFile(favorites + "/Example.url",
                  "[InternetShortcut]\r\nURL=http://example.com/a?b=1&c=2\r\n");
        WriteFile(favorites + "/Lower.URL", "[internetshortcut]\nurl = http://lower.example/\n");
        WriteFile(favorites + "/NoAddress.url", "[Other]\nURL=http://elsewhere/\n");
        WriteFile(favorites + "/<b>Bold.url",
                  "[InternetShortcut]\nURL=javascript:alert(\"x\")<script>\n");
        WriteFile(favorites + "/.hidden.url", "[InternetShortcut]\nURL=http://hidden/\n");
        WriteFile(favorites + "/notes.txt", "not a shortcut");
        WriteFile(favorites + "/Links/Inner.url", "[InternetShortcut]\nURL=http://inner/\n");
    }
    void SetUp() override { vantry.Start(); }
    std::string Base() const {
        return "http://" + vantry.address() + ":" + std::to_string(vantry.port1());
    }
    std::string Folder(const std::string& link, const std::string& text) const {
        return "<TD><A HREF=\"" + link + "\"><img src=\"" + Base() +
               "/VNT/folder.gif\" border='0'></A></TD><TD><A HREF=\"" + link + "\">" + text +
               "</A></TD>";
    }
    std::string Shortcut(const std::string& address, const std::string& text) const {
        return "<TD><A HREF=\"" + address + "\" target='_new'><img src=\"" + Base() +
               "/VNT/shortcut.gif\" border='0'></TD><TD><A HREF=\"" + address + "\">" + text +
               "</A></TD>";
    }
    // The entries' cells of a listing, checking that the row tags alternate odd and even
    // from the first row on.
    static std::multiset<std::string> Entries(const std::string& page) {
        const std::string header = "<TH>Type</TH><TH>Web Site Name</TH></TR>\r\n";
        const std::string footer = std::string(kHeaderRow) + "\r\n<TD COLSPAN=2 height='30'>";
        size_t at = page.find(header);
        size_t end = page.find(footer);
        EXPECT_NE(at, std::string::npos) << page;
        EXPECT_NE(end, std::string::npos) << page;
        std::multiset<std::string> entries;
        if (at == std::string::npos || end == std::string::npos) return entries;
        // Each row is its tag on a line of its own, then its cells without a line end.
        static const std::regex row("<TR (bgColor=#cbfad2|bgColor=#caeaff) >\r\n(.*?)(?=<TR )");
        std::string rows = page.substr(at + header.size(), end - at - header.size() + 4);
        int band = 1;
        for (std::sregex_iterator it(rows.begin(), rows.end(), row), last; it != last; ++it) {
            EXPECT_EQ((*it)[1], band++ % 2 == 1 ? "bgColor=#cbfad2" : "bgColor=#caeaff");
            entries.insert((*it)[2]);
        }
        return entries;
    }
    VantryInstance vantry;
};

TEST_F(FavoritesTest, TopLevelShowsFoldersAndShortcutsByTheirStems) {
    std::string page = Ask(vantry, "/VNT/FAVORITES/", vantry.port1());
    const std::string opening = PageOpening("Favorites Listng", "<H2>Favorites Listng</H2>") +
                                "<TABLE BORDER=0 CELLSPACING='1' CELLPADDING='2' >\r\n" +
                                std::string(kHeaderRow) +
                                "\r\n<TH>Type</TH><TH>Web Site Name</TH></TR>\r\n";
    EXPECT_EQ(page.substr(0, opening.size()), opening);
    const std::multiset<std::string> expected = {
        Folder("My/", "My"),
        Folder("a%20b%26c/", "a b&amp;c"),
        Folder("Links/", "Links"),
        Folder("./javascript:alert(1)/", "javascript:alert(1)"),
        Shortcut("http://example.com/a?b=1&amp;c=2", "Example"),
        Shortcut("http://lower.example/", "Lower"),
        Shortcut("", "NoAddress"),
        Shortcut("javascript:alert(&quot;x&quot;)&lt;script&gt;", "&lt;b&gt;Bold"),
    };
    EXPECT_EQ(Entries(page), expected) << page;
    const std::string closing = std::string(kHeaderRow) + "\r\n<TD COLSPAN=2 height='30'>\r\n" +
                                kHelp +
                                "Favorites.shtml\" target='_new'>Help</A> &nbsp</b>"
                                "</font></div>\r\n</TD> </TABLE>\r\n<P><table border='0'>\n";
    EXPECT_NE(page.find(closing), std::string::npos) << page;
    EXPECT_TRUE(page.ends_with("</tr>\n</table></P>\n\r\n</BODY></HTML>\r\n")) << page;
}

TEST_F(FavoritesTest, SubFoldersLeadBackUpAndListTheirOwnEntries) {
    for (const char* target : {"/VNT/FAVORITES/Links/", "/vnt/favorites/%4Cinks/"}) {
        const std::multiset<std::string> expected = {
            Folder("../", "Parent Directory"),
            Folder("News/", "News"),
            Shortcut("http://inner/", "Inner"),
        };
        EXPECT_EQ(Entries(Ask(vantry, target, vantry.port1())), expected) << target;
    }
    EXPECT_EQ(Entries(Ask(vantry, "/VNT/FAVORITES/Links/News/", vantry.port1())),
              std::multiset<std::string>{Folder("../", "Parent Directory")});
    EXPECT_EQ(Entries(Ask(vantry, "/VNT/FAVORITES/Missing/", vantry.port1())),
              std::multiset<std::string>{})
        << "a folder that is not there lists nothing";
}

TEST_F(FavoritesTest, PathsLeadingOutOfTheFavoritesAreForbidden) {
    for (const char* target : {"/VNT/FAVORITES/../", "/VNT/FAVORITES/Links/../../",
                               "/VNT/FAVORITES/%2E%2E/www/", "/VNT/FAVORITES/.."}) {
        EXPECT_EQ(Exchange(vantry.address(), vantry.port1(),
                           "GET " + std::string(target) + " HTTP/1.0\r\n\r\n"),
                  ErrorPage("403 Forbidden"))
            << target;
    }
}

TEST_F(FavoritesTest, SwitchedOffTheListingSaysSo) {
    std::string page = Ask(vantry, "/VNT/FAVORITES/", vantry.port2());
    const std::string expected =
        PageOpening("Favorites Listng", "<H2>Favorites Listng</H2>", "<BODY  bgColor=#ffffff >") +
        "<H2>The Favorites List Is Currently Disabled By The Administrator<H2><P><table ";
    EXPECT_EQ(page.substr(0, expected.size()), expected) << page;
    EXPECT_EQ(page.find("Example"), std::string::npos);
}

// The bar is off everywhere but on the navigator page; search and the user list are off.
class NavigatorTest : public ::testing::Test {
  protected:
    NavigatorTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nuniversalNavBarEnabled=N\n"
              "searchEnabled=N\nuserListEnabled=N\n") {}
    void SetUp() override { vantry.Start(); }
    VantryInstance vantry;
};

TEST_F(NavigatorTest, NavigatorCarriesTheBarThatOtherPagesLeaveOut) {
    const std::string b = "http://" + vantry.address() + ":" + std::to_string(vantry.port1());
    auto button = [&b](const std::string& target, const std::string& image) {
        return "<TD><A HREF='" + b + target + "' target='_parent'><IMG border='0' SRC='" + b +
               "/VNT/" + image + "' height='25' width='75'></A></TD>\n";
    };
    const std::string navigator =
        "<HTML><HEAD><TITLE>Navigator</TITLE>\r\n</HEAD>\r\n"
        "<BODY bgColor=#ffffff >\r\n<P><table border='0'>\n<tr>\n" +
        button("", "home.gif") + button("/VNT/FAVORITES/", "favorites.gif") +
        button("/VNTFileDownload.html", "download.gif") +
        button("/VNT/fileupload.html", "upload.gif") +
        "</tr>\n</table></P>\n\r\n</BODY></HTML>\r\n";
    for (const char* target : {"/VNT/Navigator.html", "/vnt/NAVIGATION.HTML?frame=top"}) {
        EXPECT_EQ(Ask(vantry, target, vantry.port1()), navigator) << target;
    }
    EXPECT_EQ(Ask(vantry, "/VNT/userlist.html", vantry.port1()),
              PageOpening("User List", "<H2>User List</H2>") +
                  "<H2>The User List Is Currently Disabled By The Administrator<H2>\r\n"
                  "</BODY></HTML>\r\n");
}

// Server 2 asks for logins, Server 1 does not; both publish the one table of visitors, to
// every visitor.
class UserListTest : public ::testing::Test {
  protected:
    UserListTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nuniversalNavBarEnabled=N\n"
              "userListPublic=Y\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\nuniversalNavBarEnabled=N\n"
              "userListPublic=Y\n[Server-2]\nsecondPortEnabled=Y\n") {
        WriteFile(vantry.dir() + "/registry.reg",
                  RegistryText("\"bob\"=\"pw\"\n\"<i>eve\"=\"pw\"\n", "2"));
    }
    void SetUp() override { vantry.Start(); }
    // The rows between the table's head and its help row, each without its CR LF.
    static std::vector<std::string> Rows(const std::string& page, const std::string& head) {
        return testing_support::LinesBetween(
            page,
            head +
                "<TH>IP Address</TH><TH>WEB</TH><TH>FTP</TH><TH>SEARCH</TH><TH>Hits</TH>"
                "<TH>Last Accessed</TH></TR>\r\n",
            std::string(kHeaderRow) + "\r\n<TD COLSPAN=");
    }
    // A visitor's cells up to the hits, and the pattern of the time that follows.
    static std::string Cells(const std::string& user, const std::string& address, int hits) {
        const std::string web = "http://" + address;
        return user + "<TD><A HREF=\"" + web + "\"> " + address + " </A><TD><A HREF=\"" + web +
               "\">WEB</TD><TD><A HREF=\"" + web + ":21\">FTP</TD><TD><A HREF=\"" + web +
               "/VNT/Search.html\">SEARCH</TD></TD><TD>" + std::to_string(hits) + "</TD><TD>";
    }
    VantryInstance vantry;
};

TEST_F(UserListTest, VisitsShowWithTheUserColumnWhereLoginsAreRequired) {
    const std::string other = vantry.address() == "127.0.0.3" ? "127.0.0.4" : "127.0.0.3";
    // Anonymous visits to Server 1's applications, then logins on Server 2.
    Ask(vantry, "/VNT/Navigator.html", vantry.port1(), "", other);
    Ask(vantry, "/VNT/userlist.html", vantry.port2(), "bob:pw", "127.0.0.5");
    std::string two = Ask(vantry, "/VNT/userlist.html", vantry.port2(), "<i>eve:pw", "127.0.0.6");
    std::string one = Ask(vantry, "/VNT/USERLIST.HTML", vantry.port1(), "", other);

    static const std::regex time(
        "[A-Z][a-z]{2}\\. [0-9]{1,2} [A-Z][a-z]{2} [0-9]{4} "
        "[0-9]{2}:[0-9]{2}:[0-9]{2} GMT</TD></TR>");
    struct Case {
        const std::string& page;
        std::string bodyTag;
        std::string head;
        std::vector<std::string> cells;  // the rows' cells up to the time
        std::string footer;
    } cases[] = {
        {two,
         "<BODY  bgColor=#ffffff >",
         "<TH>User</TH>",
         {Cells("<TD></TD>", other, 1), Cells("<TD>bob</TD>", "127.0.0.5", 1),
          Cells("<TD>&lt;i&gt;eve</TD>", "127.0.0.6", 1)},
         "<TD COLSPAN=7 height='30'>"},
        {one,
         "<BODY bgColor=#ffffff >",
         "",
         {Cells("", other, 2), Cells("", "127.0.0.5", 1), Cells("", "127.0.0.6", 1)},
         "<TD COLSPAN=6 height='30'>"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(c.page.starts_with(PageOpening("User List", "<H2>User List</H2>", c.bodyTag)))
            << c.page;
        std::vector<std::string> rows = Rows(c.page, c.head);
        ASSERT_EQ(rows.size(), 2 * c.cells.size()) << c.page;
        for (size_t i = 0; i < c.cells.size(); ++i) {
            EXPECT_EQ(rows[2 * i], i % 2 == 0 ? "<TR bgColor=#cbfad2 >" : "<TR bgColor=#caeaff >");
            const std::string& row = rows[2 * i + 1];
            EXPECT_EQ(row.substr(0, c.cells[i].size()), c.cells[i]) << "row " << i + 1;
            EXPECT_TRUE(std::regex_match(row.substr(std::min(row.size(), c.cells[i].size())), time))
                << row;
        }
        EXPECT_NE(c.page.find(std::string(kHeaderRow) + "\r\n" + c.footer + "\r\n" + kHelp +
                              "UserList.shtml\""),
                  std::string::npos)
            << c.page;
    }
}

// Without the switch the list shows visitors' addresses only to this machine's own clients
// and to the administrator. Server 2 asks every visitor for a login, Server 1 does not.
TEST(UserListAccessTest, OtherMachinesSeeTheListOnlyAsTheAdministrator) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nservername=Home\n"
        "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\n[Server-2]\nsecondPortEnabled=Y\n");
    WriteFile(vantry.dir() + "/registry.reg",
              RegistryText("\"Admin\"=\"Root\"\n\"bob\"=\"pw\"\n", "2"));
    vantry.Start();
    const std::string other = vantry.address() == "127.0.0.3" ? "127.0.0.4" : "127.0.0.3";
    auto ask = [&](int port, const std::string& from, const std::string& login,
                   const std::string& target = "/VNT/userlist.html",
                   const std::string& header = "") {
        return ExchangeFrom(from, vantry.address(), port,
                            "GET " + target + " HTTP/1.0\r\n" + header +
                                (login.empty() ? "" : BasicLogin(login)) + "\r\n");
    };
    const int one = vantry.port1(), two = vantry.port2();
    struct Case {
        int port;
        std::string from;  // empty: this machine's own 127.0.0.1
        std::string login;
        std::string header;
        bool shown;
    };
    const Case cases[] = {
        {one, "", "", "", true},
        {one, "", "", "X-Forwarded-For: 203.0.113.9\r\n", false},
        {one, other, "", "", false},
        {one, other, "bob:pw", "", false},
        {one, other, "Admin:Root", "", true},
        {two, other, "bob:pw", "", false},
        {two, other, "Admin:Root", "", true},
        {two, "", "bob:pw", "", true},
    };
    for (const Case& c : cases) {
        const std::string answer = ask(c.port, c.from, c.login, "/VNT/userlist.html", c.header);
        SCOPED_TRACE((c.port == one ? "Server 1 " : "Server 2 ") + c.from + " " + c.login + " " +
                     c.header);
        if (c.shown) {
            EXPECT_TRUE(answer.starts_with("HTTP/1.0 200 OK\r\n")) << answer;
            EXPECT_NE(answer.find("<TH>IP Address</TH>"), std::string::npos) << answer;
        } else {
            EXPECT_TRUE(answer.starts_with("HTTP/1.0 401 OK\r\n")) << answer;
            EXPECT_NE(answer.find("WWW-Authenticate: Basic    realm=\"Home\"\r\n"),
                      std::string::npos);
            EXPECT_EQ(answer.find("<TH>IP Address</TH>"), std::string::npos);
        }
    }
    // A visitor's own login that is not the administrator's is asked again, but never counts
    // as a failed login: asking often does not lock the visitor out.
    for (int i = 0; i < 12; ++i) ask(two, other, "bob:pw");
    EXPECT_TRUE(ask(two, other, "bob:pw", "/VNT/Navigator.html").starts_with("HTTP/1.0 200 OK"));
}

}  // namespace
}  // namespace e2e
