// The owner's inbox at /admin/inbox: the stored messages shown as escaped text, newest first;
// a stored file viewed, downloaded and deleted; names that reach outside a folder refused; the
// same login rule as every administration page; and the webmaster home's QR code of the
// site's address read back by a real decoder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/e2e/qr_reader.h"
#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool Has(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

class InboxTest : public ::testing::Test {
  protected:
    InboxTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\nservername=Home\n"
              "messageUploadEnabled=Y\nmessageSaveLocation={dir}/in/messages\n"
              "uploadEnabled=Y\nuploadSaveLocation={dir}/in/uploads\n"
              "postEnabled=Y\npostSaveLocation={dir}/in/posts\n"
              "[Server-2-Config]\nwwwroot={dir}/www/\n[Server-2]\nsecondPortEnabled=N\n") {
        WriteFile(vantry.dir() + "/registry.reg", kAdminRegistry);
        for (const char* folder : {"/in/messages", "/in/uploads", "/in/posts"}) {
            fs::create_directories(vantry.dir() + folder);
        }
    }
    void SetUp() override { vantry.Start(); }

    std::string Ask(const std::string& method, const std::string& target,
                    const std::string& form = "") {
        std::string request = method + " " + target + " HTTP/1.0\r\n" + kAdminLogin;
        if (method == "POST") {
            request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                       std::to_string(form.size()) + "\r\n";
        }
        return Exchange(vantry.address(), vantry.port1(), request + "\r\n" + form);
    }
    std::string Uploads() const { return vantry.dir() + "/in/uploads/"; }

    VantryInstance vantry;
};

TEST_F(InboxTest, ListsMessagesAsEscapedTextAndServesViewsDownloadsAndDeletes) {
    for (const char* subject : {"Older", "Newer"}) {
        Ask("POST", "/VNT/HandleSendMessage.html",
            "messageFrom=%3Cb%3EAnn%3C%2Fb%3E&messageTo=Bob&messageSubject=" +
                std::string(subject) +
                "&messageBody=caf%C3%A9+%3Cscript%3Ealert(1)%3C%2Fscript%3E");
        if (std::string(subject) == "Older") {
            // The first message is an hour older than the second.
            for (const auto& entry : fs::directory_iterator(vantry.dir() + "/in/messages")) {
                fs::last_write_time(entry.path(), fs::last_write_time(entry.path()) - 1h);
            }
        }
    }
    const std::string upload = "20261208120000-POST.mim";
    WriteFile(Uploads() + upload, "--b\r\nfile <bytes>\r\n");
    WriteFile(Uploads() + ".hidden-POST.mim", "x");
    WriteFile(Uploads() + "photo.jpg.part", "still arriving");
    WriteFile(Uploads() + "Ünïcödé notes.doc", "stored under its own name");
    WriteFile(vantry.dir() + "/in/posts/20261208120001-POST.raw", "a=1");
    WriteFile(vantry.dir() + "/in/posts/notes.doc", "the owner's, not a capture");

    const std::string page = BodyOf(Ask("GET", "/admin/inbox"));
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u) << page.substr(0, 200);
    for (const char* piece :
         {"<dd>&lt;b&gt;Ann&lt;/b&gt;</dd>", "<dd>Bob</dd>",
          "caf\xC3\xA9 &lt;script&gt;alert(1)&lt;/script&gt;", "Messages (2)", "Uploads (2)",
          "Ünïcödé notes.doc", "Form captures (1)", "20261208120001-POST.raw",
          "/admin/inbox/download?kind=upload&amp;name=20261208120000-POST.mim"}) {
        EXPECT_TRUE(Has(page, piece)) << piece;
    }
    EXPECT_FALSE(Has(page, "<script>"));
    EXPECT_FALSE(Has(page, ".hidden") || Has(page, ".part") || Has(page, ">notes.doc"))
        << "only the server's files";
    EXPECT_LT(page.find("<dd>Newer</dd>"), page.find("<dd>Older</dd>")) << "newest first";

    const std::string item = "?kind=upload&name=" + upload;
    const std::string view = Ask("GET", "/admin/inbox/view" + item);
    EXPECT_TRUE(Has(view, "Content-Type: text/plain; charset=utf-8\r\n")) << view;
    EXPECT_EQ(BodyOf(view), "--b\r\nfile <bytes>\r\n");
    const std::string download = Ask("GET", "/admin/inbox/download" + item);
    EXPECT_TRUE(Has(download, "Content-Disposition: attachment; filename*=UTF-8''" + upload))
        << download;
    EXPECT_EQ(BodyOf(download), "--b\r\nfile <bytes>\r\n");

    const std::string question = BodyOf(Ask("GET", "/admin/inbox/delete" + item));
    EXPECT_TRUE(Has(question, "<form method=\"post\" action=\"/admin/inbox/delete\">"));
    EXPECT_TRUE(fs::exists(Uploads() + upload)) << "asking deletes nothing";
    const std::string deleted = Ask("POST", "/admin/inbox/delete", "kind=upload&name=" + upload);
    EXPECT_EQ(deleted.rfind("HTTP/1.0 200", 0), 0u) << deleted;
    EXPECT_FALSE(fs::exists(Uploads() + upload));
    EXPECT_EQ(Ask("GET", "/admin/inbox/view" + item).rfind("HTTP/1.0 404", 0), 0u);
}

TEST_F(InboxTest, RefusesNamesOutsideItsFoldersAndVisitorsWithoutTheLogin) {
    WriteFile(Uploads() + ".hidden-POST.mim", "x");
    WriteFile(vantry.dir() + "/in/secret-POST.mim", "x");
    struct Case {
        std::string method;
        std::string target;
        std::string form;
        int status;
    };
    const Case cases[] = {
        {"GET", "/admin/inbox/view?kind=upload&name=..%2Fsecret-POST.mim", "", 400},
        {"GET", "/admin/inbox/download?kind=upload&name=%2Fetc%2Fpasswd", "", 400},
        {"GET", "/admin/inbox/view?kind=upload&name=.hidden-POST.mim", "", 400},
        {"GET", "/admin/inbox/view?kind=upload&name=..", "", 400},
        {"GET", "/admin/inbox/view?kind=upload&name=Vantry.ini", "", 404},
        {"GET", "/admin/inbox/view?kind=capture&name=Vantry.ini", "", 400},
        {"GET", "/admin/inbox/view?kind=wwwroot&name=x-POST.mim", "", 400},
        {"GET", "/admin/inbox/view?kind=upload", "", 400},
        {"GET", "/admin/inbox/view?kind=upload&name=missing-POST.mim", "", 404},
        {"POST", "/admin/inbox/delete", "kind=upload&name=..%2Fsecret-POST.mim", 400},
        {"POST", "/admin/inbox/delete", "kind=upload&name=.hidden-POST.mim", 400},
    };
    for (const Case& c : cases) {
        const std::string answer = Ask(c.method, c.target, c.form);
        EXPECT_EQ(answer.rfind("HTTP/1.0 " + std::to_string(c.status), 0), 0u)
            << c.method << " " << c.target << " " << c.form << "\n"
            << answer.substr(0, 200);
    }
    EXPECT_TRUE(fs::exists(vantry.dir() + "/in/secret-POST.mim"));
    EXPECT_TRUE(fs::exists(Uploads() + ".hidden-POST.mim"));

    // Another address on the loopback network is no interface's own: a remote visitor.
    const std::string remote = "127.0.0.254";
    const std::string refused =
        ExchangeFrom(remote, vantry.address(), vantry.port1(), "GET /admin/inbox HTTP/1.0\r\n\r\n");
    EXPECT_EQ(refused.rfind("HTTP/1.0 401", 0), 0u) << refused.substr(0, 300);
    EXPECT_TRUE(Has(refused, "WWW-Authenticate: Basic realm=\"Home\"\r\n"));
    EXPECT_FALSE(Has(refused, "Uploads ("));
    const std::string admitted =
        ExchangeFrom(remote, vantry.address(), vantry.port1(),
                     "GET /admin/inbox HTTP/1.0\r\n" + kAdminLogin + "\r\n");
    EXPECT_TRUE(Has(admitted, "Uploads (0)")) << admitted.substr(0, 300);
}

TEST_F(InboxTest, WebmasterHomeCountsTheInboxAndShowsTheSiteAddressAsAQrCodeThatScans) {
    WriteFile(Uploads() + "1-POST.mim", "x");
    WriteFile(Uploads() + "2-POST.mim", "x");
    const std::string page = BodyOf(Ask("GET", "/admin/"));
    EXPECT_TRUE(Has(page,
                    "<span class=\"count\">2 items</span>"
                    "<a href=\"/admin/inbox#uploads\">Open the inbox</a>"));
    const std::string address =
        "http://" + vantry.address() + ":" + std::to_string(vantry.port1()) + "/";
    EXPECT_TRUE(Has(page, "aria-label=\"QR code of " + address + "\""));
    EXPECT_TRUE(Has(page, "<a href=\"" + address + "\">" + address + "</a>"));

    // The modules back from the SVG path: each "M<x> <y>h<n>v1h-<n>z" is a run of dark ones.
    std::smatch match;
    ASSERT_TRUE(std::regex_search(page, match, std::regex("viewBox=\"0 0 (\\d+) \\1\"")));
    const size_t side = std::stoul(match[1]);
    ASSERT_TRUE(
        std::regex_search(page, match, std::regex("<path fill=\"currentColor\" d=\"([^\"]*)\"")));
    const std::string path = match[1];
    ModuleRows modules(side, std::vector<bool>(side, true));
    const std::regex run("M(\\d+) (\\d+)h(\\d+)v1h-\\3z");
    size_t covered = 0;
    for (std::sregex_iterator it(path.begin(), path.end(), run), end; it != end; ++it) {
        const size_t x = std::stoul((*it)[1]), y = std::stoul((*it)[2]), n = std::stoul((*it)[3]);
        ASSERT_LE(x + n, side - 4);
        ASSERT_LT(y, side - 4);
        for (size_t i = 0; i < n; ++i) modules[y][x + i] = false;
        covered += it->length();
    }
    EXPECT_EQ(covered, path.size()) << "the path is runs and nothing else";
    EXPECT_EQ(DecodeQrCode(modules, vantry.dir()), address);
}

TEST(InboxClassicTest, IsAPlainPageInTheClassicFrameThatStatesItsCharset) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nuploadEnabled=Y\n"
        "uploadSaveLocation={dir}/up\n[Server-2]\nsecondPortEnabled=N\n");
    fs::create_directories(vantry.dir() + "/up");
    WriteFile(vantry.dir() + "/up/1-POST.mim", "x");
    vantry.Start();
    const std::string page =
        BodyOf(Exchange(vantry.address(), vantry.port1(), "GET /admin/inbox HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(page.rfind("<HTML><HEAD><TITLE>\r\nInbox\r\n</TITLE>\r\n<META HTTP-EQUIV=", 0), 0u)
        << page.substr(0, 200);
    EXPECT_TRUE(Has(page, "Uploads (1)") && Has(page, "1-POST.mim")) << page;
    EXPECT_EQ(page.substr(page.size() - 16), "</BODY></HTML>\r\n");
}

// Uploads kept in the program's own folder: only the timestamped ones are the server's, never
// the settings and programs beside them.
TEST(InboxSharedFolderTest, TakesOnlyTimestampedUploadsFromTheProgramsFolder) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\nuploadEnabled=Y\n"
        "uploadSaveLocation={dir}\n[Server-2]\nsecondPortEnabled=N\n");
    WriteFile(vantry.dir() + "/1-POST.mim", "x");
    vantry.Start();
    auto ask = [&](const std::string& target) {
        return Exchange(vantry.address(), vantry.port1(), "GET " + target + " HTTP/1.0\r\n\r\n");
    };
    const std::string page = BodyOf(ask("/admin/inbox"));
    EXPECT_TRUE(Has(page, "Uploads (1)") && Has(page, "1-POST.mim")) << page;
    EXPECT_FALSE(Has(page, "Vantry.ini"));
    EXPECT_EQ(StatusOf(ask("/admin/inbox/download?kind=upload&name=Vantry.ini")), 400);
}

}  // namespace
}  // namespace e2e
