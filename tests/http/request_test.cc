// A request's head split once: the request line's parts, what is dropped or refused, and a
// copy that stands by itself.
#include "http/request.h"

#include <gtest/gtest.h>

#include <string>

namespace http {
namespace {

Request Split(const std::string& head, Request::LineResult* result) {
    Request request;
    for (char c : head) request.AppendHeadByte(c);
    *result = request.SplitLine();
    return request;
}

TEST(RequestTest, TheLineSplitsOnceIntoItsParts) {
    using R = Request::LineResult;
    const std::string longUrl = "/" + std::string(kMaxUrlLength + 10, 'a');
    struct Case {
        std::string head;  // CRs kept, LFs removed, as the reader stores it
        R result;
        const char* method;
        std::string target;
        const char* protocol;
        const char* headers;
    };
    const Case cases[] = {
        {"get /a?b=1 HTTP/1.0\rHost: x\r\r", R::kComplete, "GET", "/a?b=1", "HTTP/1.0",
         "Host: x\r\r"},
        {"POST / HTTP/1.1\r\r", R::kComplete, "POST", "/", "HTTP/1.1", "\r"},
        {"GET /only\r\r", R::kDropped, "", "", "", "\r"},
        {"GET\r\r", R::kDropped, "", "", "", "\r"},
        {"GET / HTTP/1.0", R::kDropped, "", "", "", ""},
        // A zero byte anywhere in the line is answered 400, with what URL there is.
        {std::string("GET /a\0b HTTP/1.0\r\r", 19), R::kBad, "GET", std::string("/a\0b", 4),
         "HTTP/1.0", "\r"},
        {std::string("GET /a\0\r\r", 9), R::kBad, "", std::string("/a\0", 3), "", "\r"},
        // An over-long URL is cut, and loses the protocol beyond it.
        {"GET " + longUrl + " HTTP/1.0\r\r", R::kDropped, "", "", "", "\r"},
        {"GET / HTTP/1.0 extra\r\r", R::kComplete, "GET", "/", "HTTP/1.0 extra", "\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.head));
        R result;
        Request request = Split(c.head, &result);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(request.method(), c.method);
        EXPECT_EQ(request.target(), c.target);
        EXPECT_EQ(request.protocol(), c.protocol);
        EXPECT_EQ(request.headerText(), c.headers);
    }
}

TEST(RequestTest, ACopyKeepsItsPartsAndLookupsWhenTheOriginalIsReused) {
    Request::LineResult result;
    Request original =
        Split("post /form HTTP/1.0\rcontent-length: 12\rX-A: 1\rX-A: 2\r\r", &result);
    const Request copy = original;
    original.Clear();
    for (char c : std::string("GET /other HTTP/1.0\r\r")) original.AppendHeadByte(c);
    original.SplitLine();
    EXPECT_TRUE(copy.IsPost());
    EXPECT_EQ(copy.target(), "/form");
    EXPECT_EQ(copy.ContentLength(), 12u);
    EXPECT_EQ(copy.Headers("x-a"), (std::vector<std::string_view>{"1", "2"}));
    EXPECT_EQ(original.target(), "/other");
    EXPECT_FALSE(original.ContentLength());
}

}  // namespace
}  // namespace http
