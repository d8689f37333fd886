// The Content-Type of files: the owner's "Mime" rows, then the system's MIME database, then
// application/octet-stream.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

TEST(ContentTypesTest, OwnerRowsThenTheSystemDatabaseThenOctetStream) {
    if (!std::filesystem::exists("/etc/mime.types")) {
        GTEST_SKIP() << "no /etc/mime.types (Debian package media-types)";
    }
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\n[Mime]\nsvg=image/x-owner\n");
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
        std::string response =
            Exchange(vantry.address(), vantry.port1(), std::string("GET /") + name + " HTTP/1.0\r\n\r\n");
        EXPECT_NE(response.find(std::string("\r\nContent-Type: ") + type + "\r\n"), std::string::npos)
            << name << "\n" << response;
    }
}

}  // namespace
}  // namespace e2e
