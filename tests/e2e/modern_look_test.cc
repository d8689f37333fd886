// The modern look, switched on with look=modern: pages in HTML5 and UTF-8 with a viewport and
// the built-in stylesheet, text navigation at the top, error and login pages that say what
// went wrong and lead home. Without the switch no page shows any of it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ModernLookTest : public ::testing::Test {
  protected:
    ModernLookTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\nsearchEnabled=Y\n"
              "homeEnabled=Y\nuniversalNavBarEnabled=Y\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\n"
              "[Server-2]\nsecondPortEnabled=Y\n") {
        fs::create_directories(vantry.dir() + "/www");
        WriteFile(vantry.dir() + "/registry.reg",
                  testing_support::RegistryText("\"bob\"=\"pw\"\n", "2"));
    }
    void SetUp() override { vantry.Start(); }
    std::string Get(const std::string& target, int port = 0, const std::string& headers = "") {
        return Exchange(vantry.address(), port == 0 ? vantry.port1() : port,
                        "GET " + target + " HTTP/1.0\r\n" + headers + "\r\n");
    }
    VantryInstance vantry;
};

TEST_F(ModernLookTest, PagesAreHtml5InUtf8WithTheStylesheetAndTextNavigation) {
    const std::string page = Get("/VNT/search.html");
    ASSERT_EQ(page.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(HeaderOf(page, "Content-Type"), "text/html; charset=utf-8");
    const std::string body = BodyOf(page);
    EXPECT_EQ(body.substr(0, 15), "<!DOCTYPE html>");
    for (const char* part :
         {"<meta charset=\"utf-8\">",
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">",
          "<link rel=\"stylesheet\" href=\"/VNT/vantry.css\">",
          "<nav class=\"site\" aria-label=\"Site\"><a href=\"/\">Home</a><a "
          "href=\"/VNT/search.html\">Search</a>",
          "</main>", "</body></html>"}) {
        EXPECT_NE(body.find(part), std::string::npos) << part;
    }
    // Nothing of the classic frame: no resizing script, no image buttons, no help site.
    for (const char* classic : {"resizeTo", "<IMG", "help.vantry.example", "<BODY"}) {
        EXPECT_EQ(body.find(classic), std::string::npos) << classic;
    }
}

TEST_F(ModernLookTest, PagesWithAStartOfTheirOwnGetTheModernFrameWhole) {
    const std::string pages[] = {"/VNT/navigator.html", "/VNTFileDownload.html",
                                 "/admin/serverproperties.html", "/admin/index.html"};
    for (const std::string& target : pages) {
        SCOPED_TRACE(target);
        const std::string answer = Get(target);
        ASSERT_EQ(answer.substr(0, 15), "HTTP/1.0 200 OK");
        const std::string body = BodyOf(answer);
        EXPECT_EQ(body.substr(0, 15), "<!DOCTYPE html>");
        // One frame: the navigation at the top, one main part, closed once.
        EXPECT_NE(body.find("<nav class=\"site\""), std::string::npos);
        EXPECT_LT(body.find("</nav>"), body.find("<main>"));
        EXPECT_EQ(body.find("<main>"), body.rfind("<main>"));
        EXPECT_EQ(body.find("</main>"), body.rfind("</main>"));
        EXPECT_LT(body.find("<main>"), body.find("</main>"));
        EXPECT_EQ(body.find("<HTML>"), std::string::npos);
        EXPECT_EQ(body.find("resizeTo"), std::string::npos);
    }
}

TEST_F(ModernLookTest, StylesheetIsServedOnceAndKept) {
    const std::string sheet = Get("/VNT/vantry.css");
    ASSERT_EQ(sheet.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(HeaderOf(sheet, "Content-Type"), "text/css; charset=utf-8");
    EXPECT_EQ(HeaderOf(sheet, "Cache-Control"), "public, max-age=86400");
    EXPECT_EQ(BodyOf(sheet),
              ReadFile(std::string(VANTRY_SOURCE_DIR) + "/resources/modern/vantry.css"));
    const std::string again = Get(
        "/VNT/vantry.css", 0, "If-Modified-Since: " + HeaderOf(sheet, "Last-Modified") + "\r\n");
    EXPECT_EQ(again.substr(0, 25), "HTTP/1.0 304 Not Modified");
    EXPECT_EQ(BodyOf(again), "");
    // Server 2 asks for a login, but not for the stylesheet its login page needs, nor for help.
    EXPECT_EQ(Get("/VNT/vantry.css", vantry.port2()).substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(Get("/VNT/help/Search", vantry.port2()).substr(0, 15), "HTTP/1.0 200 OK");
}

TEST_F(ModernLookTest, ErrorsAndTheLoginNameTheProblemAndLeadHome) {
    struct Case {
        std::string target;
        int port;
        const char* statusLine;
        const char* words;
        const char* headers = "";
    };
    WriteFile(vantry.dir() + "/www/file.txt", "x");
    const Case cases[] = {
        {"/no-such-page.html", 0, "HTTP/1.0 404 Object Not Found", "Page not found"},
        {"/a/../b.html", 0, "HTTP/1.0 403 Forbidden", "Not allowed"},
        {"/VNT/search.html", 1, "HTTP/1.0 401 OK", "Login needed"},
        {"/file.txt", 0, "HTTP/1.0 412 Precondition Failed", "Changed meanwhile",
         "If-Match: \"gone\"\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string answer = Get(c.target, c.port == 1 ? vantry.port2() : 0, c.headers);
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), c.statusLine);
        EXPECT_EQ(HeaderOf(answer, "Content-Type"), "text/html; charset=utf-8");
        const std::string body = BodyOf(answer);
        EXPECT_EQ(body.substr(0, 15), "<!DOCTYPE html>");
        EXPECT_NE(body.find(std::string("<h1>") + c.words + "</h1>"), std::string::npos);
        EXPECT_NE(body.find("<a class=\"button\" href=\"/\">"), std::string::npos);
    }
    // The login challenge is still one, with the length of its page.
    const std::string challenge = Get("/VNT/search.html", vantry.port2());
    EXPECT_NE(HeaderOf(challenge, "WWW-Authenticate").find("Basic realm="), std::string::npos);
    EXPECT_EQ(HeaderOf(challenge, "Content-Length"), std::to_string(BodyOf(challenge).size()));
}

// The names a listing shows, in the order it shows them.
std::vector<std::string> ListedNames(const std::string& body) {
    std::vector<std::string> names;
    const std::string marker = "\"/></svg>";
    for (size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at)) {
        at += marker.size();
        names.push_back(body.substr(at, body.find("</a>", at) - at));
    }
    return names;
}

TEST_F(ModernLookTest, ListingsSortFoldersFirstInNaturalOrderWithSizesAPersonReads) {
    const std::string www = vantry.dir() + "/www/";
    fs::create_directories(www + "photos/été 2026");
    fs::create_directories(www + "Zebra");
    WriteFile(www + "file-10.txt", std::string(4938221, 'x'));
    WriteFile(www + "file-2.txt", std::string(1234, 'x'));
    WriteFile(www + "résumé & co.txt", "x");
    WriteFile(www + ".hidden", "x");
    WriteFile(www + "photos/été 2026/a.jpg", "x");
    fs::last_write_time(www + "file-2.txt", fs::last_write_time(www + "file-10.txt") - 1h);

    struct Case {
        const char* query;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"", {"photos", "Zebra", "file-2.txt", "file-10.txt", "résumé &amp; co.txt"}},
        {"?sort=name&order=desc",
         {"Zebra", "photos", "résumé &amp; co.txt", "file-10.txt", "file-2.txt"}},
        {"?sort=size&order=desc",
         {"photos", "Zebra", "file-10.txt", "file-2.txt", "résumé &amp; co.txt"}},
        {"?sort=date", {"photos", "Zebra", "file-2.txt", "file-10.txt", "résumé &amp; co.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const std::string body = BodyOf(Get(std::string("/") + c.query));
        EXPECT_EQ(ListedNames(body), c.names);
    }

    const std::string root = BodyOf(Get("/"));
    for (const char* part :
         {"title=\"4,938,221 bytes\">4.9 MB</span>", "title=\"1,234 bytes\">1.2 kB</span>",
          "<span class=\"size\">1 byte</span>", "<a href=\"résumé%20%26%20co.txt\"",
          "<a class=\"name\" href=\"?sort=name&amp;order=desc\" aria-current=\"true\"",
          "<a class=\"size\" href=\"?sort=size&amp;order=desc\">",
          "<svg><use href=\"#i-text\"/></svg>", "aria-label=\"Folder\""}) {
        EXPECT_NE(root.find(part), std::string::npos) << part;
    }
    // The root has no way up; the disk path is nowhere on the page.
    EXPECT_EQ(root.find("Parent folder"), std::string::npos);
    EXPECT_EQ(root.find(vantry.dir()), std::string::npos);

    const std::string inner = BodyOf(Get("/photos/%C3%A9t%C3%A9%202026/"));
    EXPECT_NE(inner.find("<nav class=\"crumbs\" aria-label=\"Folder\"><a href=\"/\">Files</a> / "
                         "<a href=\"/photos/\">photos</a> / <span aria-current=\"page\">été "
                         "2026</span></nav>"),
              std::string::npos);
    EXPECT_LT(inner.find("Parent folder"), inner.find("a.jpg"));
    EXPECT_EQ(inner.find(vantry.dir()), std::string::npos);
}

// The page's own address, as a phone would open it: one QR code folded away above the entries,
// named by the address without the query, escaped as the entries' links are.
TEST_F(ModernLookTest, ListingsOfferTheirAddressAsOneQrCodeAboveTheEntries) {
    fs::create_directories(vantry.dir() + "/www/photos/été 2026");
    const std::string base = "http://" + vantry.address() + ":" + std::to_string(vantry.port1());
    struct Case {
        std::string target;
        std::string address;
    };
    const Case cases[] = {
        {"/", base + "/"},
        {"/photos/%C3%A9t%C3%A9%202026/?sort=size&order=desc", base + "/photos/été%202026/"},
        {"/photos/?select", base + "/photos/"},
        {"/VNTFileDownload.html", base + "/VNTFileDownload.html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string page = BodyOf(Get(c.target));
        const size_t code = page.find("<svg class=\"qr\"");
        ASSERT_NE(code, std::string::npos);
        EXPECT_EQ(page.find("<svg class=\"qr\"", code + 1), std::string::npos) << "only one";
        EXPECT_NE(page.find("role=\"img\" aria-label=\"QR code of " + c.address + "\"", code),
                  std::string::npos);
        EXPECT_LT(page.find("<details class=\"qr\"><summary>"), code);
        EXPECT_LT(code, page.find("<ul class=\"listing\">"));
    }
}

TEST(ClassicLookTest, StylesheetAndHelpAreServedButClassicPagesDoNotUseThem) {
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\nsearchEnabled=Y\n");
    fs::create_directories(vantry.dir() + "/www");
    vantry.Start();
    auto get = [&](const char* target) {
        return Exchange(vantry.address(), vantry.port1(),
                        std::string("GET ") + target + " HTTP/1.0\r\n\r\n");
    };
    // The help pages are drawn with the stylesheet, whatever the look.
    for (const char* target : {"/VNT/vantry.css", "/VNT/help/"}) {
        EXPECT_EQ(get(target).substr(0, 15), "HTTP/1.0 200 OK") << target;
    }
    // A classic page links neither: it keeps its bytes.
    const std::string page = BodyOf(get("/VNT/search.html"));
    EXPECT_EQ(page.find("vantry.css"), std::string::npos);
    EXPECT_EQ(page.find("/VNT/help/"), std::string::npos);
    EXPECT_NE(page.find("http://help.vantry.example/us/help/vnt/Search.shtml"), std::string::npos);
    // Nor does a classic listing show a QR code.
    const std::string listing = BodyOf(get("/"));
    EXPECT_NE(listing.find("Directory Listing Of"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("<svg"), std::string::npos);
}

}  // namespace
}  // namespace e2e
