// The page template pieces, built on a connection fed over a socket pair: the navigation bar
// by switches, the row bands, and the owner's override files with their precedence.
#include "pages/page_template.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/support/connection_harness.h"
#include "tests/support/temp_dir.h"

namespace pages {
namespace {

class PieceConnection : public http::Connection {
  public:
    std::function<void(http::Connection&)> build;
    void OnGet(std::string) override { build(*this); }
};

class PageTemplateTest : public ::testing::Test {
  protected:
    PageTemplateTest() {
        std::filesystem::create_directories(root.File("VNT"));
        Configure([](config::ServerSettings&) {});
    }
    // Server 1's settings: the defaults pages start from, changed by `change`.
    void Configure(const std::function<void(config::ServerSettings&)>& change) {
        config::ServerConfig c = testing_support::EngineHarness::DefaultConfig();
        config::ServerSettings& s = c.servers[0];
        s.wwwroot = root.path() + "/";
        s.vpEnablePageHeaders = true;
        s.universalNavBarEnabled = true;
        s.vpTHRowProperties = "head";
        s.vpOddRowProperties = "odd";
        s.vpEvenRowProperties = "even";
        s.vpNavBarBtnProperties = "BP";
        s.vpNavBarBtnImgProperties = "IP";
        change(s);
        engine.config.Replace(std::move(c));
    }
    // The page body the pieces built.
    std::string Build(std::function<void(http::Connection&)> build) {
        connection.build = std::move(build);
        std::string response = testing_support::ExchangeOverSocketPair(connection, engine.server,
                                                                       {"GET / HTTP/1.0\r\n\r\n"});
        return response.substr(response.find("\r\n\r\n") + 4);
    }
    void Override(const std::string& name, const std::string& text) {
        std::ofstream(root.File("VNT/" + name), std::ios::binary) << text;
    }

    testing_support::TempDir root;
    testing_support::EngineHarness engine;
    PieceConnection connection;
};

TEST_F(PageTemplateTest, NavigationBarShowsTheSwitchedOnFeatures) {
    const std::string base = "http://127.0.0.1:" + std::to_string(engine.server.Port());
    auto button = [&](const std::string& target, const std::string& images,
                      const std::string& image) {
        return "<TD><A HREF='" + base + target + "' BP><IMG border='0' SRC='" + base + images +
               image + "' IP></A></TD>\n";
    };
    auto bar = [&](const std::string& buttons) {
        return "<P><table border='0'>\n<tr>\n" + buttons + "</tr>\n</table></P>\n\r\n";
    };
    Configure([](config::ServerSettings& s) {
        s.homeEnabled = s.searchEnabled = s.favoritesEnabled = s.list = s.uploadEnabled =
            s.messageUploadEnabled = s.userListEnabled = true;
    });
    std::string all;
    for (auto [target, image] : {std::pair{"", "home.gif"},
                                 {"/VNT/search.html", "search.gif"},
                                 {"/VNT/FAVORITES/", "favorites.gif"},
                                 {"/VNTFileDownload.html", "download.gif"},
                                 {"/VNT/fileupload.html", "upload.gif"},
                                 {"/VNT/sendmessage.html", "message.gif"},
                                 {"/VNT/userlist.html", "userlist.gif"}}) {
        all += button(target, "/VNT/", image);
    }
    EXPECT_EQ(Build([](http::Connection& c) { AppendNavigationBar(c, "UserList"); }), bar(all));
    // The administration pages take the same buttons from /Admin/.
    std::string admin = Build([](http::Connection& c) { AppendNavigationBar(c, "WebMasterHome"); });
    EXPECT_NE(admin.find(button("", "/Admin/", "home.gif")), std::string::npos) << admin;

    Configure([](config::ServerSettings& s) {
        s.universalNavBarEnabled = true;
        s.homeEnabled = s.searchEnabled = s.favoritesEnabled = s.list = s.uploadEnabled =
            s.messageUploadEnabled = s.userListEnabled = false;
    });
    EXPECT_EQ(Build([](http::Connection& c) { AppendNavigationBar(c, "Search"); }), bar(""));
    // Without the universal bar only the navigator page carries one.
    Configure([](config::ServerSettings& s) { s.universalNavBarEnabled = false; });
    EXPECT_EQ(Build([](http::Connection& c) { AppendNavigationBar(c, "Search"); }), "");
    EXPECT_NE(Build([](http::Connection& c) { AppendNavigationBar(c, "Navigator"); }), "");
}

TEST_F(PageTemplateTest, RowBandsAndOverrideFilesWithTheirPrecedence) {
    EXPECT_EQ(Build([](http::Connection& c) {
                  for (int band : {0, 1, 2, 3}) AppendRowTag(c, "UserList", band);
              }),
              "<TR head >\r\n<TR odd >\r\n<TR even >\r\n<TR odd >\r\n");

    auto heading = [](http::Connection& c) {
        AppendPageHeading(c, "UserList");
        AppendPageHeading(c, "Search");
        AppendPageHeading(c, "NoSuchPage");
    };
    EXPECT_EQ(Build(heading), "<H2>User List</H2>\r\n<H2>Search</H2>\r\n");
    Override("SiteHeader.html", "site-wide");
    Override("UserListHeader.html", std::string(1000, 'u'));
    EXPECT_EQ(Build(heading), std::string(1000, 'u') + "\r\nsite-wide\r\nsite-wide\r\n");
    Configure([](config::ServerSettings& s) { s.vpEnablePageHeaders = false; });
    EXPECT_EQ(Build(heading), "");

    Override("SiteFooter.html", "footer");
    Override("SiteNavBar.html", "owner's bar");
    EXPECT_EQ(Build([](http::Connection& c) {
                  AppendHtmlHeader(c, "Search");
                  AppendBodyFile(c, "Search");
                  AppendNavigationBar(c, "Navigator");
                  AppendFooter(c, "Search");
              }),
              "owner's bar\r\nfooter\r\n");
}

}  // namespace
}  // namespace pages
