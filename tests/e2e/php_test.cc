// PHP pages through Debian's php-cgi: queries, forms, sessions kept by their cookie, and
// uploads through $_FILES; with the header case setting off, the upper-cased values older
// scripts expect (and so the session of the first page is lost).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

constexpr const char* kIni = "[Config]\nport={port1}\nwwwroot={dir}/www/\ncgi=Y\n[Request]\n";

// Counts the visits of one session; sessions are kept beside the web root.
const std::string kCountPage = R"(<?php
session_save_path(getenv("DOCUMENT_ROOT") . "/../sessions");
session_start();
$_SESSION["n"] = ($_SESSION["n"] ?? 0) + 1;
echo "visit ", $_SESSION["n"], " cookie ", $_SERVER["HTTP_COOKIE"] ?? "-";
)";

class PhpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v php-cgi >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "php-cgi is not installed (Debian package php-cgi)";
        }
    }
    static void StartWith(VantryInstance& vantry) {
        std::filesystem::create_directories(vantry.dir() + "/www/cgi-bin");
        std::filesystem::create_directories(vantry.dir() + "/sessions");
        WriteFile(vantry.dir() + "/www/cgi-bin/count.php", kCountPage);
        WriteFile(vantry.dir() + "/www/cgi-bin/hello.php",
                  "<?php echo 'q=', $_GET['q'] ?? '', ' a+b=', ($_POST['a'] ?? '') . ($_POST['b'] "
                  "?? '');\n");
        WriteFile(vantry.dir() + "/www/cgi-bin/upload.php", R"(<?php
$f = $_FILES["f"];
move_uploaded_file($f["tmp_name"], getenv("DOCUMENT_ROOT") . "/../stored.bin");
echo $f["name"], " ", $f["size"], " ", $f["error"];
)");
        vantry.Start();
    }
    // Adds the "php" row through the administration's Script page, as an owner would.
    static void AddPhpRow(VantryInstance& vantry) {
        WriteFile(vantry.dir() + "/registry.reg", kAdminRegistry);
        const std::string form = "EXT=php&TAG=php-cgi";
        std::string answer =
            Ask(vantry, "POST /admin/ChangeScript.html HTTP/1.0\r\n" + kAdminLogin +
                            "Content-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form);
        ASSERT_NE(answer.find("The Script changes you requested have been made."),
                  std::string::npos)
            << answer;
    }
    static std::string Ask(VantryInstance& vantry, const std::string& request) {
        return Exchange(vantry.address(), vantry.port1(), request);
    }
    // Visits the counting page three times, sending back the session cookie of the first.
    static std::vector<std::string> ThreeVisits(VantryInstance& vantry) {
        std::string first = Ask(vantry, "GET /cgi-bin/count.php HTTP/1.0\r\n\r\n");
        size_t at = first.find("Set-Cookie: ");
        if (at == std::string::npos) return {first};
        std::string cookie = first.substr(at + 12, first.find(';', at) - at - 12);
        std::vector<std::string> pages = {BodyOf(first)};
        for (int i = 0; i < 2; ++i) {
            pages.push_back(BodyOf(
                Ask(vantry, "GET /cgi-bin/count.php HTTP/1.0\r\nCookie: " + cookie + "\r\n\r\n")));
        }
        return pages;
    }
};

TEST_F(PhpTest, QueriesFormsSessionsAndUploads) {
    VantryInstance vantry{std::string(kIni) + "cgiKeepHeaderCase=Y\n"};
    StartWith(vantry);
    AddPhpRow(vantry);
    std::string page = Ask(vantry, "GET /cgi-bin/hello.php?q=Hi+there HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_EQ(BodyOf(page), "q=Hi there a+b=");
    EXPECT_EQ(
        BodyOf(Ask(vantry,
                   "POST /cgi-bin/hello.php HTTP/1.0\r\nContent-Type: "
                   "application/x-www-form-urlencoded\r\nContent-Length: 11\r\n\r\na=Up&b=Down")),
        "q= a+b=UpDown");

    std::vector<std::string> visits = ThreeVisits(vantry);
    ASSERT_EQ(visits.size(), 3u) << visits[0];
    EXPECT_EQ(visits[0], "visit 1 cookie -");
    EXPECT_EQ(visits[2].substr(0, 7), "visit 3");

    std::string data;
    for (size_t i = 0; i < 1024 * 1024; ++i)
        data.push_back(static_cast<char>((i * 131 + i / 997) & 0xff));
    std::string body =
        "--Bnd7\r\nContent-Disposition: form-data; name=\"f\"; filename=\"Data.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        data + "\r\n--Bnd7--\r\n";
    std::string answer =
        Ask(vantry,
            "POST /cgi-bin/upload.php HTTP/1.0\r\nContent-Type: multipart/form-data; "
            "boundary=Bnd7\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(BodyOf(answer), "Data.bin 1048576 0");
    EXPECT_TRUE(ReadFile(vantry.dir() + "/stored.bin") == data) << "the upload is stored whole";
}

TEST_F(PhpTest, WithoutTheSettingValuesAreUpperCasedAndTheSessionIsLost) {
    VantryInstance vantry{std::string(kIni) + "[Script]\nphp=php-cgi\n"};
    StartWith(vantry);
    std::vector<std::string> visits = ThreeVisits(vantry);
    ASSERT_EQ(visits.size(), 3u) << visits[0];
    // The cookie comes back upper-cased, naming no session the first page made.
    EXPECT_EQ(visits[1].substr(0, 8), "visit 1 ") << visits[1];
    EXPECT_NE(visits[1].find("cookie PHPSESSID="), std::string::npos);
    std::string sent = visits[1].substr(visits[1].find('=') + 1);
    EXPECT_EQ(sent.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << sent;
}

}  // namespace
}  // namespace e2e
