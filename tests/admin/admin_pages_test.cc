// The pages that no URL of their own reaches (the mapping tables' listings) and the rows of
// the webmaster home, driven on a connection over a socket pair.
#include "admin/admin_pages.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "tests/support/connection_harness.h"
#include "tests/support/http_text.h"
#include "tests/support/temp_dir.h"

namespace admin {
namespace {

class PageConnection : public http::Connection {
  public:
    std::function<void(PageConnection&)> page;
    std::string baseUrl;
    void OnGet(std::string) override {
        baseUrl = BaseUrl();
        page(*this);
    }
};

using testing_support::BodyOf;

class AdminPagesTest : public ::testing::Test {
  protected:
    // Installs a configuration whose program directory is the test's own.
    void Configure(const std::function<void(config::ServerConfig&)>& change) {
        config::ServerConfig next = testing_support::EngineHarness::DefaultConfig();
        next.programDirectory = directory.path() + "/";
        change(next);
        engine.config.Replace(next);
    }
    std::string Show(void (*page)(http::Connection&), const std::string& form = "") {
        connection.page = [page](PageConnection& c) { page(c); };
        std::string request =
            form.empty() ? "GET /x HTTP/1.0\r\n\r\n"
                         : "POST /x HTTP/1.0\r\nContent-Length: " + std::to_string(form.size()) +
                               "\r\n\r\n" + form;
        return BodyOf(
            testing_support::ExchangeOverSocketPair(connection, engine.server, {request}));
    }

    testing_support::TempDir directory;
    testing_support::EngineHarness engine;
    PageConnection connection;
};

TEST_F(AdminPagesTest, AnEmptyMimeTableGivesThePageWithItsHeaderRowOnly) {
    Configure([](config::ServerConfig& c) {
        c.adminid = "Ad'min";
        c.adminpw = "p\"w<&>";
    });
    const std::string hidden =
        "<INPUT TYPE='HIDDEN' NAME='AID' VALUE='Ad&#39;min'>\r\n"
        "<INPUT TYPE='HIDDEN' NAME='APW' VALUE='p&quot;w&lt;&amp;&gt;'>\r\n";
    EXPECT_EQ(Show(HandleMime),
              "<HTML><HEAD><TITLE>MIME Config</TITLE><SCRIPT>window.resizeTo(500, "
              "screen.availHeight);</SCRIPT></HEAD><BODY BGCOLOR='#ffffff'><H1>MIME Type "
              "Configuration</H1><P>Mime types allow a web server to communicate to a browser what "
              "sort of file is being sent.  Web browsers recognize standard mime tags. This "
              "utility allows you to associate certain MIME tags with file extensions.</P><TABLE "
              "BORDER=1><TR><TD><B>File Extension(i.e. .gif, .jpg, .html etc)</B></TD><TD><B>Mime "
              "Tag to Map</B></TD></TR>\r\n"
              "</TABLE><HR><FORM METHOD='POST' ACTION='/admin/changemime.html'><H2>Add/Change a "
              "MIME Mapping</H2>\r\n" +
                  hidden +
                  "<TABLE><TR><TD>File Extension</TD><TD><INPUT TYPE='TEXT' NAME='EXT'></TD></TR>"
                  "<TR><TD>Mime Mapping</TD><TD><INPUT TYPE='TEXT' NAME='TAG'></TD></TR></TABLE>"
                  "<INPUT TYPE='SUBMIT' VALUE='Add/Change'></FORM>\r\n"
                  "<HR><FORM METHOD='POST' ACTION='/admin/delmime.html'><H2>Delete a MIME "
                  "Mapping</H2>\r\n" +
                  hidden +
                  "<TABLE>\r\n"
                  "<TR><TD>File Extension to Delete:</TD><TD><INPUT TYPE='TEXT' NAME='EXT'></TD>"
                  "</TR></TABLE><INPUT TYPE='SUBMIT' VALUE='Delete'></FORM><HR>\r\n"
                  "<FORM METHOD='POST' ACTION='/admin/ServerProperties.html'>\r\n"
                  "<INPUT TYPE='SUBMIT' VALUE='Continue'>\r\n"
                  "</FORM>\r\n"
                  "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' "
                  "color='White'> <A href=\"http://help.vantry.example/us/help/vnt/"
                  "HandleMime.shtml\" target='_new'>Help</A> &nbsp</b></font></div>\r\n"
                  "</BODY></HTML>\r\n");
}

// Each family: a row added through its change handler shows with its key in small letters
// and without the dot, hand-written rows show escaped and cut to 79 characters.
TEST_F(AdminPagesTest, EachListingShowsItsRowsEscapedAndCut) {
    struct Family {
        void (*page)(http::Connection&);
        void (*change)(http::Connection&);
        std::string section;
        std::string form;
        std::string addedRow;
        std::vector<std::string> pieces;  // its own texts on the page
    };
    const std::vector<Family> families = {
        {HandleMime,
         HandleChangeMime,
         "Mime",
         "EXT=.TXT&TAG=Text%2FPlain",
         "<TR><TD>txt</TD><TD>text/plain</TD></TR>\r\n",
         {"<H1>MIME Type Configuration</H1>", "ACTION='/admin/delmime.html'"}},
        {HandleScript,
         HandleChangeScript,
         "Script",
         "AID=x&EXT=.PY&TAG=%2Fusr%2Fbin%2Fpython3",
         "<TR><TD>py</TD><TD>/usr/bin/python3</TD></TR>\r\n",
         {"<TITLE>Script Config</TITLE>", "<H1>Script Configuration</H1>",
          "\r\n</TABLE>\r\n<HR><FORM METHOD='POST' ACTION='/admin/changescript.html'>",
          "ACTION='/admin/delscript.html'", "HandleScript.shtml"}},
        {HandleVirtualDirectory,
         HandleChangeVirtualDirectory,
         "VirtualDirectories",
         "EXT=Media&TAG=%2Fsrv%2Fmedia&APW=y",
         "<TR><TD>media</TD><TD>/srv/media</TD></TR>\r\n",
         {"<TITLE>Script Config</TITLE>", "<H1>Virtual Directory Configuration</H1>",
          "ACTION='/admin/changevirtualdirectory.html'",
          "<TR><TD>Virtual Directory to Delete:</TD>", "HandleVirtualDirectory.shtml"}},
    };
    Configure([](config::ServerConfig&) {});
    const std::string longValue(100, 'v');
    for (const Family& family : families) {
        SCOPED_TRACE(family.section);
        ASSERT_TRUE(platform::WriteFileAtomically(
            directory.File("Vantry.ini"),
            "[" + family.section + "]\nA<b=x&\"y\nlong=" + longValue + "\n"));
        EXPECT_NE(Show(family.change, family.form).find("</H1>"), std::string::npos);
        std::string page = Show(family.page);
        EXPECT_NE(
            page.find("</TD></TR>\r\n<TR><TD>A&lt;b</TD><TD>x&amp;&quot;y</TD></TR>\r\n"
                      "<TR><TD>long</TD><TD>" +
                      longValue.substr(0, 79) + "</TD></TR>\r\n" + family.addedRow + "</TABLE>"),
            std::string::npos)
            << page;
        for (const std::string& piece : family.pieces) {
            EXPECT_NE(page.find(piece), std::string::npos) << piece;
        }
    }
}

TEST_F(AdminPagesTest, IncomingDirectoriesAreLinkedWhenTheyLieInTheRoot) {
    struct Case {
        std::string root;
        std::string location;
        std::string doIt;  // "{base}" stands for the server's base address
    };
    const std::vector<Case> cases = {
        {"/srv/www", "/srv/www/in", "<A HREF=\"{base}/in/\"> Display </A>"},
        {"/srv/www/", "/srv/www/in", "<A HREF=\"{base}/in/\"> Display </A>"},
        {"/srv/www", "/SRV/Www/In/Box/", "<A HREF=\"{base}/In/Box/\"> Display </A>"},
        {"/srv/www", "/SRV/WWW", "<A HREF=\"{base}\"> Display </A>"},
        {"/srv/www/", "/srv/www", "<A HREF=\"{base}\"> Display </A>"},
        {"/", "/in", "<A HREF=\"{base}/in/\"> Display </A>"},
        {"/srv/www", "/srv/www/a&b <'\">",
         "<A HREF=\"{base}/a&amp;b &lt;&#39;&quot;&gt;/\"> Display </A>"},
        {"/srv/www", "/srv/wwwdata/in", "Path Not In Web"},
        {"/srv/www", "/home/uploads", "Path Not In Web"},
        {"", "/srv/www/in", "Path Not In Web"},
        {"/srv/www", "", "Path Empty"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.root + " " + test.location);
        Configure([&](config::ServerConfig& c) {
            c.servers[0].wwwroot = test.root;
            c.servers[0].uploadEnabled = true;
            c.servers[0].uploadSaveLocation = test.location;
        });
        std::string page = Show(WebMasterHome);
        std::string doIt = test.doIt;
        if (size_t at = doIt.find("{base}"); at != std::string::npos) {
            doIt.replace(at, 6, connection.baseUrl);
        }
        EXPECT_NE(page.find("<TD>Incoming Uploads</TD><TD>" + doIt +
                            "</TD><TD><A HREF=\"http://help.vantry.example/us/help/vnt/"
                            "CheckingUploads.shtml\"> Help </A></TD></TR>\r\n"),
                  std::string::npos)
            << page;
    }
}

TEST(WebMasterHomeTest, AConnectionOfNoServerHasNoHeadingAndNoDirectoryRows) {
    testing_support::EngineHarness engine;
    http::ServerInstance noServer{engine.context, 0};
    PageConnection connection;
    connection.page = [](PageConnection& c) { WebMasterHome(c); };
    std::string page = BodyOf(
        testing_support::ExchangeOverSocketPair(connection, noServer, {"GET / HTTP/1.0\r\n\r\n"}));
    EXPECT_EQ(page.find("<H3>"), std::string::npos) << page;
    EXPECT_EQ(page.find("Incoming"), std::string::npos);
    EXPECT_NE(page.find("<TD>Server Properties</TD>"), std::string::npos);
    EXPECT_NE(page.find("<TD>Accessing This Page Remotely</TD>"), std::string::npos);
}

}  // namespace
}  // namespace admin
