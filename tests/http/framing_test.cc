// HTTP/1.1 answers made from HTTP/1.0 ones, fed in the pieces handlers send them in.
#include "http/framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace http {
namespace {

// Sun, 06 Nov 1994 08:49:37 GMT
constexpr std::time_t kNow = 784111777;

TEST(Http11FramingTest, AnswersKeepTheirBytesAndGainAnEndTheClientCanTell) {
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        bool headOnly;
        bool persistent;
        std::string wire;
        bool reusable;
    };
    const std::string date = "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n";
    const Case cases[] = {
        {"a length is kept, the dates are rewritten",
         {"HTTP/1.0 200 OK\r\nDate: Sun. 6 Nov 1994 08:49:37 GMT\r\nLast-Modified: Sun. 6 Nov "
          "1994 08:49:37 GMT\r\nContent-Length: 3\r\n\r\nabc"},
         false,
         true,
         "HTTP/1.1 200 OK\r\n" + date +
             "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\nContent-Length: 3\r\n\r\nabc",
         true},
        {"no length: chunks, and a head with bare line feeds split anywhere",
         {"HTTP/1.0 200 OK\r\nServer: V\r\n", "Content-Type: text/plain\n", "\nhel", "", "lo"},
         false,
         true,
         "HTTP/1.1 200 OK\r\nServer: V\r\nContent-Type: text/plain\r\n" + date +
             "Transfer-Encoding: chunked\r\n\r\n3\r\nhel\r\n2\r\nlo\r\n0\r\n\r\n",
         true},
        {"HEAD: the head says the length, no body goes",
         {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", "hello"},
         true,
         true,
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" + date + "\r\n",
         true},
        {"304 has no body; the handler's own Keep-Alive goes",
         {"HTTP/1.0 304 Not Modified\r\nKeep-Alive: timeout=15\r\n\r\n"},
         false,
         true,
         "HTTP/1.1 304 Not Modified\r\n" + date + "\r\n",
         true},
        {"not to be kept: the head says close",
         {"HTTP/1.0 404 Object Not Found\r\n\r\nx"},
         false,
         false,
         "HTTP/1.1 404 Object Not Found\r\n" + date +
             "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n1\r\nx\r\n0\r\n\r\n",
         false},
        {"more than the length: cut, and the connection closes",
         {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nabc"},
         false,
         true,
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n" + date + "\r\nab",
         false},
        {"less than the length",
         {"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc"},
         false,
         true,
         "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n" + date + "\r\nabc",
         false},
        {"two lengths: the body ends with the connection",
         {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc"},
         false,
         true,
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n" + date +
             "Connection: close\r\n\r\nabc",
         false},
        {"a script's own chunks are left alone",
         {"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nz\r\n0\r\n\r\n"},
         false,
         true,
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n" + date +
             "Connection: close\r\n\r\n1\r\nz\r\n0\r\n\r\n",
         false},
        {"a head that never ends goes out as it came",
         {"HTTP/1.0 200 OK\r\nno end"},
         false,
         true,
         "HTTP/1.0 200 OK\r\nno end",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Http11Framing framing;
        framing.Begin(c.headOnly, kNow);
        framing.SetPersistent(c.persistent);
        std::string wire;
        for (const std::string& piece : c.pieces) framing.Feed(piece, &wire);
        framing.End(&wire);
        EXPECT_EQ(wire, c.wire);
        EXPECT_EQ(framing.Reusable(), c.reusable);
    }
}

TEST(Http11FramingTest, FileBytesPassThroughOnlyUnderALength) {
    Http11Framing framing;
    framing.Begin(false, kNow);
    framing.SetPersistent(true);
    std::string wire;
    framing.Feed("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n", &wire);
    EXPECT_TRUE(framing.PassThrough(6));
    EXPECT_FALSE(framing.PassThrough(5)) << "past the length";
    EXPECT_TRUE(framing.PassThrough(4));
    framing.End(&wire);
    EXPECT_TRUE(framing.Reusable());

    framing.Begin(false, kNow);
    framing.Feed("HTTP/1.0 200 OK\r\n\r\n", &wire);
    EXPECT_FALSE(framing.PassThrough(1)) << "chunks cannot be sent by the system";
}

}  // namespace
}  // namespace http
