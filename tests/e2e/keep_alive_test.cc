// HTTP/1.1 on the wire: persistent connections carrying pipelined requests in order, chunked
// answers of unknown length, 100-continue, the idle limit between requests, and the requests
// refused because their end is unclear.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

struct Answer {
    std::string head;  // status line and header lines, each with its CR LF
    std::string body;  // chunks decoded
    std::string Header(const std::string& name) const {
        size_t at = head.find("\r\n" + name + ": ");
        if (at == std::string::npos) return "";
        at += name.size() + 4;
        return head.substr(at, head.find("\r\n", at) - at);
    }
};

// Takes the first whole answer off `bytes`; false while it is not whole. `headOnly`: the answer
// to a HEAD, which has no body whatever its head says.
bool TakeAnswer(std::string& bytes, bool headOnly, Answer* answer) {
    const size_t headEnd = bytes.find("\r\n\r\n");
    if (headEnd == std::string::npos) return false;
    Answer got{bytes.substr(0, headEnd + 2), {}};
    size_t at = headEnd + 4;
    const bool interim = got.head.starts_with("HTTP/1.1 1");
    const bool noBody = headOnly || interim || got.head.starts_with("HTTP/1.1 304");
    if (!noBody && got.Header("Transfer-Encoding") == "chunked") {
        for (;;) {
            const size_t lineEnd = bytes.find("\r\n", at);
            if (lineEnd == std::string::npos) return false;
            const size_t size = std::stoul(bytes.substr(at, lineEnd - at), nullptr, 16);
            if (bytes.size() < lineEnd + 2 + size + 2) return false;
            got.body += bytes.substr(lineEnd + 2, size);
            at = lineEnd + 2 + size + 2;
            if (size == 0) break;
        }
    } else if (!noBody) {
        const std::string length = got.Header("Content-Length");
        if (length.empty()) return false;  // ends with the connection
        const size_t size = std::stoul(length);
        if (bytes.size() < at + size) return false;
        got.body = bytes.substr(at, size);
        at += size;
    }
    bytes.erase(0, at);
    *answer = std::move(got);
    return true;
}

class KeepAliveTest : public ::testing::Test {
  protected:
    KeepAliveTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\ncgi=Y\nlist=Y\n"
              "[Request]\nkeepAliveSeconds=2\nkeepAliveRequests=50\n") {
        const std::string d = vantry.dir();
        std::filesystem::create_directories(d + "/www/cgi-bin");
        std::filesystem::create_directories(d + "/www/dir");
        WriteFile(d + "/www/a.html", "page a");
        WriteFile(d + "/www/big.bin", std::string(100000, 'b'));
        WriteFile(d + "/www/dir/x.txt", "x");
        Script("stream",
               "printf 'Content-Type: text/plain\\r\\n\\r\\n'; printf 'one '; printf two");
        Script("sized",
               "printf 'Content-Type: text/plain\\r\\nContent-Length: 5\\r\\n\\r\\nhello'");
        Script("echo", "printf 'Content-Type: text/plain\\r\\n\\r\\n%s:' \"$CONTENT_LENGTH\"; cat");
    }
    void SetUp() override { vantry.Start(); }

    void Script(const std::string& name, const std::string& text) {
        const std::string path = vantry.dir() + "/www/cgi-bin/" + name;
        WriteFile(path, "#!/bin/sh\n" + text + "\n");
        ::chmod(path.c_str(), 0755);
    }

    // Reads `count` answers from `client`, the `headOnly` ones without bodies.
    std::vector<Answer> Read(Client& client, const std::vector<bool>& headOnly) {
        std::vector<Answer> answers;
        std::string bytes = std::move(leftover_);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (answers.size() < headOnly.size() && std::chrono::steady_clock::now() < deadline) {
            Answer answer;
            if (TakeAnswer(bytes, headOnly[answers.size()], &answer)) {
                answers.push_back(std::move(answer));
                continue;
            }
            const std::string more = client.ReadUntil("\r\n", 500ms);
            if (more.empty() && !client.connected()) break;
            bytes += more;
        }
        leftover_ = bytes;
        return answers;
    }

    VantryInstance vantry;
    std::string leftover_;  // what came after the answers read last
};

TEST_F(KeepAliveTest, PipelinedRequestsAreAnsweredInOrderOnOneConnection) {
    const std::string host = "Host: test\r\n";
    struct Case {
        std::string request;
        std::string status;
        std::string body;  // empty: not checked
    };
    const std::vector<Case> cases = {
        {"GET /a.html HTTP/1.1\r\n" + host + "\r\n", "200 OK", "page a"},
        {"HEAD /a.html HTTP/1.1\r\n" + host + "\r\n", "200 OK", ""},
        {"GET /big.bin HTTP/1.1\r\n" + host + "Range: bytes=10-19\r\n\r\n", "206 Partial Content",
         std::string(10, 'b')},
        {"GET /missing HTTP/1.1\r\n" + host + "\r\n", "404 Object Not Found",
         "<body><h1>\r\nHTTP/1.0 404 Object Not Found\r\n</h1></body>\r\n"},
        {"GET /dir/ HTTP/1.1\r\n" + host + "\r\n", "200 OK", ""},
        {"GET /cgi-bin/stream HTTP/1.1\r\n" + host + "\r\n", "200 OK", "one two"},
        {"GET /cgi-bin/sized HTTP/1.1\r\n" + host + "\r\n", "200 OK", "hello"},
        {"POST /cgi-bin/echo HTTP/1.1\r\n" + host + "Content-Length: 4\r\n\r\nbody", "200 OK",
         "4:body"},
        {"POST /cgi-bin/echo HTTP/1.1\r\n" + host +
             "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;x=y\r\nde\r\n0\r\nT: 1\r\n\r\n",
         "200 OK", "5:abcde"},
        {"GET /big.bin HTTP/1.1\r\n" + host + "\r\n", "200 OK", std::string(100000, 'b')},
        {"GET /a.html HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n", "200 OK", "page a"},
    };
    std::string all;
    std::vector<bool> headOnly;
    for (const Case& c : cases) {
        all += c.request;
        headOnly.push_back(c.request.starts_with("HEAD"));
    }
    Client client(vantry.address(), vantry.port1());
    client.Send(all);
    std::vector<Answer> answers = Read(client, headOnly);
    ASSERT_EQ(answers.size(), cases.size()) << leftover_;
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].request.substr(0, 40));
        EXPECT_TRUE(answers[i].head.starts_with("HTTP/1.1 " + cases[i].status + "\r\n"))
            << answers[i].head;
        if (!cases[i].body.empty()) {
            EXPECT_EQ(answers[i].body, cases[i].body);
        }
        // The standard date form, never the one-request answers' own.
        EXPECT_EQ(answers[i].Header("Date").size(), 29u) << answers[i].head;
        EXPECT_EQ(answers[i].Header("Connection"), i + 1 == cases.size() ? "close" : "");
    }
    EXPECT_NE(answers[4].body.find("x.txt"), std::string::npos) << "the listing, chunked";
    EXPECT_EQ(answers[5].Header("Transfer-Encoding"), "chunked");
    EXPECT_EQ(answers[6].Header("Content-Length"), "5") << "a script's own length is kept";
    EXPECT_EQ(answers[1].Header("Content-Length"), "6") << "HEAD tells the length, sends no body";
    EXPECT_TRUE(client.ClosedWithoutData(5s)) << "Connection: close ends the connection";
    // One log line per request.
    const std::string log = vantry.WaitForLogLines(cases.size());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), static_cast<long>(cases.size())) << log;
}

TEST_F(KeepAliveTest, ContinueIdleLimitAndOneRequestForHttp10) {
    Client client(vantry.address(), vantry.port1());
    client.Send(
        "POST /cgi-bin/echo HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\n"
        "Expect: 100-continue\r\n\r\n");
    std::vector<Answer> answers = Read(client, {false});
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].head, "HTTP/1.1 100 Continue\r\n");
    client.Send("abc");
    answers = Read(client, {false});
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].body, "3:abc");
    // Silent for longer than keepAliveSeconds: the server closes without a word.
    EXPECT_TRUE(client.ClosedWithoutData(6s));

    // HTTP/1.0 asks nothing of the kind: its answer is the one-request answer it always was.
    Client old(vantry.address(), vantry.port1());
    old.Send("GET /a.html HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    const std::string response = old.ReadAll(5s);
    EXPECT_TRUE(response.starts_with("HTTP/1.0 200 OK\r\n")) << response;
    EXPECT_TRUE(response.ends_with("\r\n\r\npage a")) << response;
}

TEST_F(KeepAliveTest, RequestsWhoseEndIsUnclearAreRefusedAndTheConnectionClosed) {
    const std::string cases[] = {
        "GET /a.html HTTP/1.1\r\n\r\n",  // no Host
        "POST /cgi-bin/echo HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\n"
        "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\nGET /a.html HTTP/1.1\r\nHost: t\r\n\r\n",
        "POST /cgi-bin/echo HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\nContent-Length: 40\r\n"
        "\r\nabcGET /a.html HTTP/1.1\r\nHost: t\r\n\r\n",
        "POST /cgi-bin/echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n"
        "3\r\nabcGET /a.html HTTP/1.1\r\nHost: t\r\n\r\n",  // no line end after the data
    };
    for (const std::string& request : cases) {
        SCOPED_TRACE(request);
        Client client(vantry.address(), vantry.port1());
        client.Send(request);
        std::vector<Answer> answers = Read(client, {false});
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_TRUE(answers[0].head.starts_with("HTTP/1.1 400 Bad Request\r\n"));
        EXPECT_EQ(answers[0].Header("Connection"), "close");
        EXPECT_TRUE(client.ClosedWithoutData(5s)) << "the smuggled request gets no answer";
    }
}

}  // namespace
}  // namespace e2e
