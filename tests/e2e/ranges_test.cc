// Byte ranges and conditional requests of files: 206, 416, 304 on the wire and in the log,
// and a download resumed by curl.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

// Tue, 14 Nov 2023 22:13:20 GMT
constexpr time_t kModified = 1700000000;
const std::string kLastModified = "Last-Modified: Tue. 14 Nov 2023 22:13:20 GMT\r\n";

class RangesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (size_t i = 0; i < 40000; ++i) big_ += static_cast<char>('a' + (i * 7 + i / 26) % 26);
        WriteFile(vantry.dir() + "/www/big.txt", big_);
        WriteFile(vantry.dir() + "/www/small.html", "0123456789");
        for (const char* name : {"/www/big.txt", "/www/small.html"}) {
            timeval times[2] = {{kModified, 0}, {kModified, 0}};
            ASSERT_EQ(::utimes((vantry.dir() + name).c_str(), times), 0);
        }
        vantry.Start();
    }
    std::string Get(const std::string& path, const std::string& headers,
                    const std::string& method = "GET") {
        return Exchange(vantry.address(), vantry.port1(),
                        method + " " + path + " HTTP/1.0\r\n" + headers + "\r\n");
    }
    std::string big_;
    VantryInstance vantry{"[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\n"};
};

std::string HeaderValue(const std::string& response, const std::string& name) {
    size_t at = response.find("\r\n" + name + ": ");
    if (at == std::string::npos || at > response.find("\r\n\r\n")) return "";
    at += name.size() + 4;
    return response.substr(at, response.find("\r\n", at) - at);
}

TEST_F(RangesTest, RangeFormsAnswerTheirPartOrTheWholeFile) {
    struct Case {
        const char* range;
        const char* status;        // the status line's code and text
        const char* contentRange;  // empty when there is none
        size_t first, length;      // the body: big_.substr(first, length)
    };
    const Case cases[] = {
        {"bytes=0-9", "206 Partial Content", "bytes 0-9/40000", 0, 10},
        {"bytes=39990-", "206 Partial Content", "bytes 39990-39999/40000", 39990, 10},
        {"bytes=-5", "206 Partial Content", "bytes 39995-39999/40000", 39995, 5},
        {"bytes=100-99999", "206 Partial Content", "bytes 100-39999/40000", 100, 39900},
        {"bytes=40000-", "416 Range Not Satisfiable", "bytes */40000", 0, 0},
        {"bytes=-0", "416 Range Not Satisfiable", "bytes */40000", 0, 0},
        // Several and reversed ranges get the whole file (the parser's own test has the rest).
        {"bytes=0-1,5-6", "200 OK", "", 0, 40000},
        {"bytes=5-1", "200 OK", "", 0, 40000},
    };
    for (const Case& c : cases) {
        std::string response = Get("/big.txt", std::string("Range: ") + c.range + "\r\n");
        SCOPED_TRACE(c.range);
        EXPECT_EQ(response.substr(0, response.find("\r\n")), std::string("HTTP/1.0 ") + c.status);
        EXPECT_EQ(HeaderValue(response, "Content-Range"), c.contentRange);
        EXPECT_EQ(HeaderValue(response, "Content-Length"), std::to_string(c.length));
        EXPECT_EQ(BodyOf(response), big_.substr(c.first, c.length));
    }
    // A small file (sent from memory) by range, and HEAD, which ignores the range.
    EXPECT_EQ(BodyOf(Get("/small.html", "Range: bytes=3-4\r\n")), "34");
    std::string head = Get("/small.html", "Range: bytes=3-4\r\n", "HEAD");
    EXPECT_EQ(head.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(BodyOf(head), "");

    // Each answer is logged with its status and the bytes really sent.
    std::string log = vantry.WaitForLogLines(std::size(cases) + 2);
    for (const char* line :
         {"\"/big.txt\" 206 10\r\n", "\"/big.txt\" 206 39900\r\n", "\"/big.txt\" 416 0\r\n",
          "\"/big.txt\" 200 40000\r\n", "\"/small.html\" 206 2\r\n", "\"/small.html\" 200 0\r\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    }
}

TEST_F(RangesTest, IfRangeAndIfModifiedSince) {
    // If-Range: the range only while the file is unchanged.
    EXPECT_EQ(
        BodyOf(Get("/big.txt", "Range: bytes=0-3\r\nIf-Range: Tue, 14 Nov 2023 22:13:20 GMT\r\n")),
        big_.substr(0, 4));
    EXPECT_EQ(
        BodyOf(Get("/big.txt", "Range: bytes=0-3\r\nIf-Range: Tue, 14 Nov 2023 22:13:19 GMT\r\n")),
        big_);
    EXPECT_EQ(BodyOf(Get("/big.txt", "Range: bytes=0-3\r\nIf-Range: \"an-etag\"\r\n")), big_);

    const std::string notModified = "HTTP/1.0 304 Not Modified\r\nServer: Vantry/1.0\r\n";
    struct Case {
        const char* since;
        bool notModified;
    };
    const Case cases[] = {
        {"Tue, 14 Nov 2023 22:13:20 GMT", true},   // the fixed form, equal
        {"Tue. 14 Nov 2023 22:13:20 GMT", true},   // our own Last-Modified, sent back
        {"Wed, 15 Nov 2023 00:00:00 GMT", true},   // later
        {"Tue, 14 Nov 2023 22:13:19 GMT", false},  // a second too early
        {"yesterday", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.since);
        for (const char* method : {"GET", "HEAD"}) {
            std::string response =
                Get("/big.txt", std::string("If-Modified-Since: ") + c.since + "\r\n", method);
            if (c.notModified) {
                EXPECT_EQ(response.substr(0, notModified.size()), notModified);
                EXPECT_NE(response.find("\r\nDate: "), std::string::npos);
                EXPECT_NE(response.find(kLastModified), std::string::npos);
                EXPECT_EQ(BodyOf(response), "");
            } else {
                EXPECT_EQ(response.substr(0, 15), "HTTP/1.0 200 OK");
                EXPECT_EQ(BodyOf(response).size(), method == std::string("GET") ? 40000u : 0u);
            }
        }
    }
    // Generated pages are never 304.
    std::string listing = Get("/", "If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n");
    EXPECT_EQ(listing.substr(0, 15), "HTTP/1.0 200 OK");
    std::string log = vantry.WaitForLogLines(3 + 2 * std::size(cases) + 1);
    EXPECT_NE(log.find("\"/big.txt\" 304 0\r\n"), std::string::npos) << log;
}

TEST_F(RangesTest, CurlResumesACutDownload) {
    if (std::system("command -v curl >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "curl is not installed";
    std::string part = vantry.dir() + "/download.txt";
    WriteFile(part, big_.substr(0, 12345));
    std::string url =
        "http://" + vantry.address() + ":" + std::to_string(vantry.port1()) + "/big.txt";
    std::string command = "curl -s -S -f -C - -o " + part + " " + url;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(ReadFile(part), big_);
    EXPECT_NE(vantry.WaitForLogLines(1).find("\"/big.txt\" 206 27655\r\n"), std::string::npos);
}

}  // namespace
}  // namespace e2e
