// A folder of the modern listing as a zip: the whole folder or the entries ticked, streamed,
// read back by Python's zipfile and unzip; what the listing hides stays out of the archive.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/e2e/vantry_instance.h"
#include "tests/support/run_shell.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::RunShell;

// The archive's names, one a line, after checking every entry's CRC and bytes against the
// files under the folder it was made of.
constexpr char kListNames[] = R"PY(
import sys, zipfile
archive, source = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z:
    assert z.testzip() is None
    for i in z.infolist():
        assert i.flag_bits & 0x800
        if not i.is_dir():
            with open(source + '/' + i.filename, 'rb') as f:
                assert z.read(i) == f.read(), i.filename
    print('\n'.join(sorted(z.namelist())))
)PY";

class FolderZipTest : public ::testing::Test {
  protected:
    FolderZipTest() : vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\nlook=modern\ncgi=Y\n") {
        const std::string www = vantry.dir() + "/www/";
        fs::create_directories(www + "fotos/sub");
        fs::create_directories(www + "cgi-bin");
        fs::create_directories(vantry.dir() + "/outside");
        WriteFile(www + "fotos/\xC3\xA9t\xC3\xA9.txt", "summer\n");
        WriteFile(www + "fotos/sub/\xC3\xBC.bin", std::string(100000, '\x01'));
        WriteFile(www + "fotos/.secret", "hidden");
        WriteFile(www + "cgi-bin/t.pl", "#!/usr/bin/perl\nprint 'source';\n");
        WriteFile(vantry.dir() + "/outside/secret.txt", "not published");
        fs::create_directory_symlink(vantry.dir() + "/outside", www + "fotos/out");
        fs::create_symlink(vantry.dir() + "/outside/secret.txt", www + "fotos/outfile");
        fs::create_directory_symlink("sub", www + "fotos/in");
        fs::create_directory_symlink("..", www + "fotos/sub/up");
    }
    void SetUp() override { vantry.Start(); }
    std::string Get(const std::string& target, const std::string& version = "HTTP/1.0") {
        return Exchange(
            vantry.address(), vantry.port1(),
            "GET " + target + " " + version + "\r\nHost: a\r\nConnection: close\r\n\r\n");
    }
    // The names of an HTTP/1.0 answer's archive, checked against `source`.
    std::string NamesOf(const std::string& answer, const std::string& source) {
        const std::string archive = vantry.dir() + "/got.zip";
        WriteFile(archive, answer.substr(answer.find("\r\n\r\n") + 4));
        WriteFile(vantry.dir() + "/names.py", kListNames);
        auto [status, output] =
            RunShell("/usr/bin/python3 " + vantry.dir() + "/names.py " + archive + " " + source);
        EXPECT_EQ(status, 0) << output;
        if (fs::exists("/usr/bin/unzip")) {
            auto [unzipStatus, unzipOutput] = RunShell("/usr/bin/unzip -t " + archive);
            EXPECT_EQ(unzipStatus, 0) << unzipOutput;
        }
        return output;
    }
    VantryInstance vantry;
};

TEST_F(FolderZipTest, FolderAndTickedEntriesAreZippedWithoutWhatTheListingHides) {
    const std::string www = vantry.dir() + "/www";
    const std::string root = Get("/?zip");
    ASSERT_EQ(root.substr(0, 15), "HTTP/1.0 200 OK") << root.substr(0, 400);
    EXPECT_EQ(HeaderOf(root, "Content-Type"), "application/zip");
    EXPECT_EQ(HeaderOf(root, "Content-Disposition"),
              "attachment; filename=\"files.zip\"; filename*=UTF-8''files.zip");
    EXPECT_EQ(HeaderOf(root, "Content-Length"), "");
    // No scripts directory, no hidden file, no link out of the root; the link back up is
    // left out rather than followed for ever, the one to a sibling folder is followed.
    EXPECT_EQ(NamesOf(root, www),
              "fotos/\nfotos/in/\nfotos/in/\xC3\xBC.bin\nfotos/sub/\nfotos/sub/\xC3\xBC.bin\n"
              "fotos/\xC3\xA9t\xC3\xA9.txt\n");

    const std::string ticked = Get("/fotos/?n=%C3%A9t%C3%A9.txt&n=sub&n=out&zip=ticked");
    EXPECT_EQ(HeaderOf(ticked, "Content-Disposition"),
              "attachment; filename=\"fotos.zip\"; filename*=UTF-8''fotos.zip");
    EXPECT_EQ(NamesOf(ticked, www + "/fotos"), "sub/\nsub/\xC3\xBC.bin\n\xC3\xA9t\xC3\xA9.txt\n");

    // A name beyond ASCII: plain for old clients, whole as filename*.
    fs::create_directories(www + "/\xC3\xA9t\xC3\xA9 \"x\"");
    EXPECT_EQ(HeaderOf(Get("/%C3%A9t%C3%A9%20%22x%22/?zip"), "Content-Disposition"),
              "attachment; filename=\"__t__ _x_.zip\"; "
              "filename*=UTF-8''%C3%A9t%C3%A9%20%22x%22.zip");

    // HEAD: the head alone, no archive walked.
    const std::string head =
        Exchange(vantry.address(), vantry.port1(), "HEAD /fotos/?zip HTTP/1.0\r\n\r\n");
    EXPECT_EQ(HeaderOf(head, "Content-Type"), "application/zip");
    EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), "");

    // HTTP/1.1 gets the same archive in chunks, the large file's data sent by the system in
    // chunks of their own.
    const std::string chunked = Get("/fotos/?zip", "HTTP/1.1");
    EXPECT_EQ(chunked.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(HeaderOf(chunked, "Transfer-Encoding"), "chunked");
    std::string joined;
    for (size_t at = chunked.find("\r\n\r\n") + 4; at < chunked.size();) {
        const size_t lineEnd = chunked.find("\r\n", at);
        ASSERT_NE(lineEnd, std::string::npos);
        const size_t size = std::stoul(chunked.substr(at, lineEnd - at), nullptr, 16);
        if (size == 0) {
            EXPECT_EQ(chunked.substr(lineEnd), "\r\n\r\n");
            break;
        }
        joined += chunked.substr(lineEnd + 2, size);
        ASSERT_EQ(chunked.substr(lineEnd + 2 + size, 2), "\r\n");
        at = lineEnd + 4 + size;
    }
    EXPECT_TRUE(joined == BodyOf(Get("/fotos/?zip"))) << joined.size();

    // A ticked name is an entry of the folder, nothing else; the scripts are never sent.
    for (const char* target :
         {"/fotos/?n=..&zip", "/fotos/?n=sub%2F%C3%BC.bin&zip", "/fotos/?n=.secret&zip"}) {
        EXPECT_EQ(Get(target).substr(0, 24), "HTTP/1.0 400 Bad Request") << target;
    }
    EXPECT_EQ(Get("/fotos/out/?zip").substr(0, 22), "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(Get("/cgi-bin/?zip").substr(0, 22), "HTTP/1.0 403 Forbidden");

    // The listing offers the folder, and the ticks on the page that asks for them.
    const std::string listing = Get("/fotos/");
    EXPECT_NE(listing.find("href=\"?zip\" download>Download as zip</a>"), std::string::npos);
    EXPECT_NE(listing.find("<a href=\"?select\">"), std::string::npos);
    EXPECT_EQ(listing.find("type=\"checkbox\""), std::string::npos);
    const std::string choosing = Get("/fotos/?select");
    for (const char* part : {"<button type=\"submit\" name=\"zip\" value=\"ticked\">",
                             "<input type=\"checkbox\" name=\"n\" value=\"sub\"",
                             "href=\"?sort=size&amp;order=desc&amp;select\""}) {
        EXPECT_NE(choosing.find(part), std::string::npos) << part;
    }
}

TEST(FolderZipClassicTest, TheClassicListingIgnoresTheZipQuery) {
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\n");
    fs::create_directories(vantry.dir() + "/www");
    vantry.Start();
    const std::string answer =
        Exchange(vantry.address(), vantry.port1(), "GET /?zip HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(HeaderOf(answer, "Content-Type"), "text/html");
    EXPECT_EQ(answer.find("Download as zip"), std::string::npos);
}

}  // namespace
}  // namespace e2e
