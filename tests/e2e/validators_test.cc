// Entity tags of files on the wire: the ETag line of HTTP/1.1 answers (and of HTTP/1.0 ones
// only when asked for), If-Match, If-None-Match and If-Range, and a tag that follows the
// file's rewriting within one second.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "platform/open_file.h"
#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

constexpr time_t kModified = 1700000000;  // Tue, 14 Nov 2023 22:13:20 GMT
const std::string kContents = "0123456789abcdef";

class ValidatorsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = vantry.dir() + "/www/file.txt";
        Rewrite(kContents, 111);
        vantry.Start();
    }
    // Writes the file anew, last written at `nanoseconds` past kModified, and returns its tag.
    std::string Rewrite(const std::string& contents, long nanoseconds) {
        WriteFile(path_, contents);
        const timespec times[2] = {{kModified, nanoseconds}, {kModified, nanoseconds}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
        struct stat st {};
        EXPECT_EQ(::stat(path_.c_str(), &st), 0);
        return platform::EntityTag(st.st_ino, static_cast<uint64_t>(st.st_size),
                                   int64_t{kModified} * 1'000'000'000 + nanoseconds);
    }
    std::string Ask(const std::string& protocol, const std::string& method,
                    const std::string& headers) {
        std::string request = method + " /file.txt " + protocol + "\r\n" + headers;
        if (protocol == "HTTP/1.1") request += "Host: x\r\nConnection: close\r\n";
        return Exchange(vantry.address(), vantry.port1(), request + "\r\n");
    }
    std::string path_;
    VantryInstance vantry{"[Config]\nport={port1}\nwwwroot={dir}/www/\n"};
};

TEST_F(ValidatorsTest, FileAnswersCarryTheTagForHttp11OrWhenAsked) {
    const std::string tag = Rewrite(kContents, 111);
    struct Case {
        const char* protocol;
        const char* method;
        std::string headers;
        int status;
        bool tagged;
    };
    const Case cases[] = {
        {"HTTP/1.1", "GET", "", 200, true},
        {"HTTP/1.1", "HEAD", "", 200, true},
        {"HTTP/1.1", "GET", "Range: bytes=2-5\r\n", 206, true},
        {"HTTP/1.1", "GET", "If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n", 304, true},
        // HTTP/1.0 answers keep their bytes...
        {"HTTP/1.0", "GET", "", 200, false},
        {"HTTP/1.0", "HEAD", "", 200, false},
        {"HTTP/1.0", "GET", "Range: bytes=2-5\r\n", 206, false},
        {"HTTP/1.0", "GET", "If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n", 304, false},
        {"HTTP/1.0", "GET", "Range: bytes=2-5\r\nIf-Range: Tue, 14 Nov 2023 22:13:20 GMT\r\n", 206,
         false},
        // ...unless the request names tags itself.
        {"HTTP/1.0", "GET", "If-None-Match: \"other\"\r\n", 200, true},
        {"HTTP/1.0", "GET", "If-Match: *\r\n", 200, true},
        {"HTTP/1.0", "GET", "Range: bytes=2-5\r\nIf-Range: " + tag + "\r\n", 206, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.protocol) + " " + c.method + " " + c.headers);
        const std::string response = Ask(c.protocol, c.method, c.headers);
        EXPECT_EQ(StatusOf(response), c.status) << response;
        EXPECT_EQ(HeaderOf(response, "ETag"), c.tagged ? tag : "") << response;
    }
}

TEST_F(ValidatorsTest, ConditionsOnTheTag) {
    const std::string tag = Rewrite(kContents, 111);
    const std::string weak = "W/" + tag;
    const std::string future = "If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n";
    const std::string past = "If-Modified-Since: Thu, 01 Jan 2015 00:00:00 GMT\r\n";
    struct Case {
        std::string headers;
        int status;
        std::string body;  // of a GET
    };
    const Case cases[] = {
        // If-None-Match compares weakly, and replaces If-Modified-Since.
        {"If-None-Match: " + tag + "\r\n", 304, ""},
        {"If-None-Match: \"x\", " + weak + "\r\n", 304, ""},
        {"If-None-Match: *\r\n", 304, ""},
        {"If-None-Match: \"x\"\r\n", 200, kContents},
        {"If-None-Match: \"x\"\r\n" + future, 200, kContents},
        {"If-None-Match: " + tag + "\r\n" + past, 304, ""},
        {"If-None-Match: \"" + tag + "\r\n", 200, kContents},  // malformed: names nothing
        // If-Match compares strongly; it is checked first.
        {"If-Match: " + tag + "\r\n", 200, kContents},
        {"If-Match: \"x\",  " + tag + " ,\r\n", 200, kContents},
        {"If-Match: *\r\n", 200, kContents},
        {"If-Match: \"x\"\r\n", 412, ""},
        {"If-Match: " + weak + "\r\n", 412, ""},
        {"If-Match: \"x\"\r\nIf-None-Match: " + tag + "\r\n", 412, ""},
        // If-Range honours the range only for the same tag, strongly.
        {"Range: bytes=2-5\r\nIf-Range: " + tag + "\r\n", 206, "2345"},
        {"Range: bytes=2-5\r\nIf-Range: " + weak + "\r\n", 200, kContents},
        {"Range: bytes=2-5\r\nIf-Range: \"x\"\r\n", 200, kContents},
    };
    for (const char* protocol : {"HTTP/1.0", "HTTP/1.1"}) {
        for (const Case& c : cases) {
            for (const char* method : {"GET", "HEAD"}) {
                SCOPED_TRACE(std::string(protocol) + " " + method + " " + c.headers);
                const std::string response = Ask(protocol, method, c.headers);
                const int status =
                    c.status == 206 && method == std::string("HEAD") ? 200 : c.status;
                EXPECT_EQ(StatusOf(response), status) << response;
                if (status == 412) {
                    EXPECT_NE(response.find(" 412 Precondition Failed\r\n"), std::string::npos);
                    continue;
                }
                EXPECT_EQ(HeaderOf(response, "ETag"), tag);
                EXPECT_EQ(HeaderOf(response, "Last-Modified").empty(), false);
                EXPECT_EQ(BodyOf(response), method == std::string("GET") ? c.body : "");
            }
        }
    }
    // Anything but reading the file does not go on with a copy the client has.
    EXPECT_EQ(StatusOf(Ask("HTTP/1.1", "POST", "If-None-Match: *\r\nContent-Length: 0\r\n")), 412);
}

TEST_F(ValidatorsTest, RewritingWithinTheSameSecondChangesTheTag) {
    const std::string before = Rewrite(kContents, 111);
    ASSERT_EQ(HeaderOf(Ask("HTTP/1.1", "GET", ""), "ETag"), before);
    // The same size, the same second: only the nanoseconds tell the two apart.
    const std::string changed = "fedcba9876543210";
    const std::string after = Rewrite(changed, 222);
    ASSERT_NE(after, before);
    std::string response = Ask("HTTP/1.1", "GET", "If-None-Match: " + before + "\r\n");
    EXPECT_EQ(StatusOf(response), 200);
    EXPECT_EQ(HeaderOf(response, "ETag"), after);
    EXPECT_EQ(BodyOf(response), changed);
    EXPECT_EQ(StatusOf(Ask("HTTP/1.1", "GET", "If-Match: " + before + "\r\n")), 412);
    response = Ask("HTTP/1.1", "GET", "Range: bytes=0-3\r\nIf-Range: " + before + "\r\n");
    EXPECT_EQ(StatusOf(response), 200);
    EXPECT_EQ(BodyOf(response), changed);
    EXPECT_EQ(StatusOf(Ask("HTTP/1.1", "GET", "If-None-Match: " + after + "\r\n")), 304);
}

}  // namespace
}  // namespace e2e
