// The Content-Type of files: the owner's "Mime" rows, then the system's MIME database, then
// application/octet-stream; a file without an extension by its first bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

TEST(ContentTypesTest, OwnerRowsThenTheSystemDatabaseThenOctetStream) {
    if (!std::filesystem::exists("/etc/mime.types")) {
        GTEST_SKIP() << "no /etc/mime.types (Debian package media-types)";
    }
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\n[Mime]\nsvg=image/x-owner\n");
    const std::pair<const char*, const char*> cases[] = {
        {"a.css", "text/css"},
        {"a.js", "text/javascript"},
        {"a.txt", "text/plain"},
        {"a.pdf", "application/pdf"},
        {"A.WOFF2", "font/woff2"},
        {"a.html", "text/html"},
        {"a.svg", "image/x-owner"},
        {"a.zzq", "application/octet-stream"},
        // The extension runs from the first full stop: "zzz.gif" is known to neither.
        {"data.zzz.gif", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases) WriteFile(vantry.dir() + "/www/" + name, "x");
    vantry.Start();
    for (const auto& [name, type] : cases) {
        std::string response = Exchange(vantry.address(), vantry.port1(),
                                        std::string("GET /") + name + " HTTP/1.0\r\n\r\n");
        EXPECT_NE(response.find(std::string("\r\nContent-Type: ") + type + "\r\n"),
                  std::string::npos)
            << name << "\n"
            << response;
    }
}

TEST(ContentTypesTest, FileWithoutExtensionIsAPageOnlyWhenItsFirstBytesAreText) {
    using namespace std::string_literals;
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\n");
    // A program large enough to go out with sendfile, and a refresh tag inside it.
    std::string program =
        "\x7f"
        "ELF\x02\x01\x01\0\0\0"s +
        std::string(20000, '\0') +
        "<meta http-equiv=refresh content=\"0;url=http://203.0.113.9/\">";
    // Text whose 512th byte starts a three-byte character.
    std::string cutText = std::string(511, 'a') + "\xe2\x82\xac and more";
    const std::pair<std::string, std::string> files[] = {
        {"program", program},
        {"latin1", "caf\xe9 <b>au lait</b>"},
        {"notes", "<b>plain text</b>\n"},
        {"empty", ""},
        {"euro", cutText},
    };
    for (const auto& [name, contents] : files) WriteFile(vantry.dir() + "/www/" + name, contents);
    vantry.Start();
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"GET", "program", "application/octet-stream"},
        {"HEAD", "program", "application/octet-stream"},
        {"GET", "latin1", "application/octet-stream"},
        {"GET", "notes", "text/html"},
        {"GET", "empty", "text/html"},
        {"GET", "euro", "text/html"},
    };
    for (const auto& [method, name, type] : cases) {
        std::string response = Exchange(vantry.address(), vantry.port1(),
                                        std::string(method) + " /" + name + " HTTP/1.0\r\n\r\n");
        EXPECT_NE(response.find(std::string("\r\nContent-Type: ") + type + "\r\n"),
                  std::string::npos)
            << method << " " << name << "\n"
            << response.substr(0, 300);
    }
    std::string ranged = Exchange(vantry.address(), vantry.port1(),
                                  "GET /program HTTP/1.0\r\nRange: bytes=20000-\r\n\r\n");
    EXPECT_NE(ranged.find("206 Partial Content\r\n"), std::string::npos) << ranged.substr(0, 300);
    EXPECT_NE(ranged.find("\r\nContent-Type: application/octet-stream\r\n"), std::string::npos)
        << "a part is typed by the start of the file";
}

}  // namespace
}  // namespace e2e
