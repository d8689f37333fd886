// The names under /admin/ and /VNT/: which answer with an embedded file, an owner's image or
// 404, exact names against prefixes, the upper-cased log line, and the refusal of
// administration posts made by another site's page.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kNotFound = ErrorPage("404 Object Not Found");

std::string Resource(const std::string& name) {
    return ReadFile(std::string(VANTRY_SOURCE_DIR) + "/resources/" + name);
}

class PageRoutesTest : public ::testing::Test {
  protected:
    PageRoutesTest() : vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\n") {
        fs::create_directories(vantry.dir() + "/www/VNT");
        WriteFile(vantry.dir() + "/www/VNT/Search.GIF", "owner's search button");
        WriteFile(vantry.dir() + "/registry.reg", kAdminRegistry);
    }
    void SetUp() override { vantry.Start(); }
    std::string Ask(const std::string& target, const std::string& method = "GET",
                    const std::string& headers = kAdminLogin) {
        return Exchange(vantry.address(), vantry.port1(),
                        method + " " + target + " HTTP/1.0\r\n" + headers + "\r\n");
    }
    VantryInstance vantry;
};

TEST_F(PageRoutesTest, EmbeddedFilesAndOwnersImagesByExactName) {
    struct Case {
        const char* target;
        std::string body;  // empty: 404
        const char* type;
    };
    const Case cases[] = {
        {"/VNT/file.gif", Resource("images/file.gif"), "image/gif"},
        {"/vnt/FOLDER.Gif", Resource("images/folder.gif"), "image/gif"},
        {"/VNT/home.gif", Resource("images/home.gif"), "image/gif"},
        {"/VNT/search.gif", "owner's search button", "image/gif"},
        {"/admin/search.gif", "owner's search button", "image/gif"},
        {"/admin/userlist.gif", Resource("images/userlist.gif"), "image/gif"},
        {"/admin/vnticon.gif", Resource("images/vnticon.gif"), "image/gif"},
        {"/admin/about.html", Resource("admin/about.html"), "text/html"},
        {"/admin/Version.Html", Resource("admin/version.html"), "text/html"},
        {"/admin/license.html", Resource("admin/license.html"), "text/html"},
        // Exact names take nothing after them; the desktop's bitmaps are no web files.
        {"/VNT/file.gif?x", "", ""},
        {"/admin/about.html?x=1", "", ""},
        {"/VNT/VNTICON.BMP", "", ""},
        {"/admin/vntgrayicon.bmp", "", ""},
        {"/VNT/nothing.html", "", ""},
        {"/admin/nothing.html", "", ""},
    };
    for (const Case& c : cases) {
        std::string response = Ask(c.target);
        if (c.body.empty()) {
            EXPECT_EQ(response, ErrorPage("404 Object Not Found",
                                          std::string_view(c.target).starts_with("/admin/")))
                << c.target;
            continue;
        }
        ASSERT_FALSE(c.body.empty());
        EXPECT_EQ(response.substr(0, 15), "HTTP/1.0 200 OK") << c.target;
        EXPECT_EQ(HeaderOf(response, "Content-Type"), c.type) << c.target;
        EXPECT_EQ(HeaderOf(response, "Content-Length"), std::to_string(c.body.size())) << c.target;
        EXPECT_EQ(BodyOf(response), c.body) << c.target;
    }
}

// Another site may not frame the administration, and no page the server builds may be taken
// for anything but HTML; the owner's own files go out as they are.
TEST_F(PageRoutesTest, AdministrationRefusesFramesAndGeneratedPagesRefuseSniffing) {
    WriteFile(vantry.dir() + "/www/plain.txt", "the owner's text");
    struct Case {
        const char* target;
        bool framesRefused;
        bool sniffingRefused;
    };
    for (const Case& c :
         {Case{"/admin/", true, true}, Case{"/admin/about.html", true, false},
          Case{"/admin/serverproperties.html", true, true}, Case{"/VNT/userlist.html", false, true},
          Case{"/VNTFileDownload.html", false, true}, Case{"/VNT/nothing.html", false, true},
          Case{"/plain.txt", false, false}}) {
        const std::string response = Ask(c.target);
        EXPECT_EQ(HeaderOf(response, "X-Frame-Options"), c.framesRefused ? "DENY" : "") << c.target;
        EXPECT_EQ(HeaderOf(response, "Content-Security-Policy"),
                  c.framesRefused ? "frame-ancestors 'none'" : "")
            << c.target;
        EXPECT_EQ(HeaderOf(response, "X-Content-Type-Options"), c.sniffingRefused ? "nosniff" : "")
            << c.target;
    }
}

TEST_F(PageRoutesTest, LicensePageCarriesTheTextAndTheLogShowsTheUpperCasedName) {
    std::string page = BodyOf(Ask("/admin/licenseanddisclaimer.html?from=about"));
    EXPECT_NE(page.find("<PRE>\r\n" + Resource("admin/license.txt") + "\r\n</PRE>\r\n"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("/us/terms/SoftwareLicenseAndDisclaimer.shtml\" target='_new'>"),
              std::string::npos);
    std::string log;
    WaitUntil(5s, [&] {
        log = ReadFile(vantry.dir() + "/access.log");
        return log.find("LICENSEANDDISCLAIMER") != std::string::npos;
    });
    EXPECT_NE(log.find("\"/admin/LICENSEANDDISCLAIMER.HTML?FROM=ABOUT\" 200 "), std::string::npos)
        << log;
}

TEST_F(PageRoutesTest, AdministrationPostsFromAnotherSiteAreRefused) {
    const std::string own = "http://" + vantry.address() + ":" + std::to_string(vantry.port1());
    const std::string host =
        "Host: " + vantry.address() + ":" + std::to_string(vantry.port1()) + "\r\n";
    struct Case {
        std::string headers;
        bool refused;
    };
    const Case cases[] = {
        {"", false},  // a tool sends neither header
        {"Origin: " + own + "\r\n", false},
        {"Referer: " + own + "/admin/ServerProperties.html\r\n", false},
        {"Origin: http://evil.example\r\n", true},
        {"Origin: null\r\n", true},
        {"Referer: http://evil.example/page.html\r\n", true},
        {"Origin: https://" + vantry.address() + ":" + std::to_string(vantry.port1()) + "\r\n",
         true},
        {"Origin: " + own + "0\r\n", true},
    };
    for (const Case& c : cases) {
        std::string response = Ask("/admin/about.html", "POST", kAdminLogin + host + c.headers);
        if (c.refused) {
            EXPECT_EQ(response, ErrorPage("403 Forbidden", true)) << c.headers;
        } else {
            EXPECT_EQ(BodyOf(response), Resource("admin/about.html")) << c.headers;
        }
    }
    // A GET changes nothing and is answered whoever links to it.
    EXPECT_EQ(
        BodyOf(Ask("/admin/about.html", "GET", kAdminLogin + "Referer: http://evil.example/\r\n")),
        Resource("admin/about.html"));
}

}  // namespace
}  // namespace e2e
