// A connection object fed requests over a socket pair, with the response bytes compared.
#include "http/connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <stdexcept>

#include "tests/support/connection_harness.h"
#include "tests/support/http_text.h"
#include "tests/support/temp_dir.h"

namespace http {
namespace {

// A connection whose GET handler is a test's lambda.
class ScriptedConnection : public Connection {
  public:
    std::function<void(ScriptedConnection&, const std::string&)> onGet;
    void OnGet(std::string requestUrl) override {
        if (onGet) onGet(*this, requestUrl);
    }
};

class ConnectionTest : public ::testing::Test {
  protected:
    // Each piece is sent once the connection has read the one before.
    std::string Exchange(const std::vector<std::string>& pieces) {
        return testing_support::ExchangeOverSocketPair(connection, engine.server, pieces);
    }
    std::string Exchange(const std::string& request) {
        return Exchange(std::vector<std::string>{request});
    }

    testing_support::EngineHarness engine;
    ScriptedConnection connection;
};

using testing_support::ErrorPage;

TEST_F(ConnectionTest, GeneratedPageHasStandardHeadersInOrder) {
    connection.onGet = [](ScriptedConnection& c, const std::string&) { c.AppendBody("hello"); };
    std::string response = Exchange("GET / HTTP/1.0\r\n\r\n");
    std::regex expected(
        "HTTP/1\\.0 200 OK\r\nServer: Vantry/1\\.0\r\nAccept-Ranges: bytes\r\n"
        "Date: ([A-Z][a-z]{2}\\. [0-9]{1,2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} "
        "GMT)\r\n"
        "Content-Type: text/html\r\nX-Content-Type-Options: nosniff\r\nLast-Modified: \\1\r\n"
        "Content-Length: 5\r\n\r\nhello");
    EXPECT_TRUE(std::regex_match(response, expected)) << response;

    std::string head = Exchange("HEAD / HTTP/1.0\r\n\r\n");
    EXPECT_NE(head.find("Content-Length: 5\r\n\r\n"), std::string::npos);
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n") << "HEAD sends no body";
}

TEST_F(ConnectionTest, MethodsDispatchAndErrorPagesAreExact) {
    std::vector<std::string> seen;
    connection.onGet = [&](ScriptedConnection& c, const std::string& u) {
        seen.push_back(std::string(c.request().method()) + " " + u +
                       (c.request().IsPost() ? " post" : "") +
                       (c.request().IsHead() ? " head" : ""));
        c.Answer(Response::Error(404));
    };
    EXPECT_EQ(Exchange("get /a HTTP/1.0\r\n\r\n"), ErrorPage("404 Object Not Found"));
    EXPECT_EQ(Exchange("POST /b HTTP/1.0\r\n\r\n"), ErrorPage("404 Object Not Found"));
    EXPECT_EQ(Exchange("GET /c HTTP/1.0\r\n\r\n"), ErrorPage("404 Object Not Found"));
    EXPECT_EQ(Exchange("HEAD /d HTTP/1.0\r\n\r\n"), ErrorPage("404 Object Not Found"))
        << "the error page is sent whole for HEAD too";
    EXPECT_EQ(Exchange("DELETE / HTTP/1.0\r\n\r\n"), ErrorPage("400 Bad Request"));
    EXPECT_EQ(Exchange("PUT / HTTP/1.0\r\n\r\n"), ErrorPage("501 Not Supported"));
    EXPECT_EQ(Exchange("trace / HTTP/1.0\r\n\r\n"), ErrorPage("501 Not Supported"));
    EXPECT_EQ(seen, (std::vector<std::string>{"GET /a", "POST /b post", "GET /c", "HEAD /d head"}))
        << "a GET after a POST on the same object is not a POST";
}

TEST_F(ConnectionTest, HandlerFailureBecomesInternalErrorAndBodyFollowsErrorPage) {
    connection.onGet = [](ScriptedConnection& c, const std::string&) {
        c.AppendBody("partial");
        throw std::runtime_error("handler failed");
    };
    EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), ErrorPage("500 Internal Error") + "partial");
}

TEST_F(ConnectionTest, DroppedRequestLinesGetNoResponse) {
    int calls = 0;
    connection.onGet = [&](ScriptedConnection&, const std::string&) { ++calls; };
    EXPECT_EQ(Exchange("GET /\r\n\r\n"), "");
    EXPECT_EQ(Exchange("GET\r\n\r\n"), "");
    EXPECT_EQ(Exchange("GET /" + std::string(3000, 'a') + " HTTP/1.0\r\n\r\n"), "");
    EXPECT_EQ(calls, 0);
    // The cut at 2048 characters is made before the protocol is split off.
    EXPECT_EQ(Exchange("GET /" + std::string(2047, 'a') + " HTTP/1.0\r\n\r\n"), "");
    EXPECT_NE(Exchange("GET /" + std::string(2046, 'a') + " HTTP/1.0\r\n\r\n"), "");
    EXPECT_EQ(calls, 1);
}

TEST_F(ConnectionTest, HeadEndsAtEmptyLineWithCrLfOrBareCrAcrossPackets) {
    std::string seenProtocol;
    std::string seenHeaders;
    connection.onGet = [&](ScriptedConnection& c, const std::string&) {
        seenProtocol = c.request().protocol();
        seenHeaders = c.request().headerText();
        c.AppendBody("ok");
    };
    std::string response = Exchange({"GE", "T /x HT", "TP/1.0\r\nHost: a\r", "\n\r", "\n"});
    EXPECT_NE(response.find("\r\n\r\nok"), std::string::npos) << response;
    EXPECT_EQ(seenProtocol, "HTTP/1.0");
    EXPECT_EQ(seenHeaders, "Host: a\r\r");

    response = Exchange("GET /x HTTP/1.0\rHost: b\r\r");
    EXPECT_NE(response.find("\r\n\r\nok"), std::string::npos);
    EXPECT_EQ(seenHeaders, "Host: b\r\r");
}

TEST_F(ConnectionTest, HeadLargerThanLimitIsRefusedWithBadRequest) {
    int calls = 0;
    connection.onGet = [&](ScriptedConnection&, const std::string&) { ++calls; };
    std::string head = "GET / HTTP/1.0\r\n";
    while (head.size() < 65 * 1024) head += "X-Filler: " + std::string(100, 'f') + "\r\n";
    EXPECT_EQ(Exchange(head + "\r\n"), ErrorPage("400 Bad Request"));
    EXPECT_EQ(calls, 0);
    // Just under the limit is served.
    std::string small = "GET / HTTP/1.0\r\nX: " + std::string(60000, 's') + "\r\n\r\n";
    EXPECT_NE(Exchange(small), ErrorPage("400 Bad Request"));
    EXPECT_EQ(calls, 1);
}

TEST_F(ConnectionTest, FormFieldsDecodeAcrossSlowPackets) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<bool> results;
    connection.onGet = [&](ScriptedConnection& c, const std::string&) {
        std::string name, value;
        for (int i = 0; i < 4; ++i) {
            results.push_back(c.ReadFormField(name, 256, value, 256));
            fields.emplace_back(name, value);
        }
    };
    Exchange(
        {"POST /f HTTP/1.0\r\nContent-Length: 23\r\n\r\n", "a=1&b=x+y%2", "1&c=%zz=q\r\n", "&"});
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0], std::make_pair(std::string("a"), std::string("1")));
    EXPECT_EQ(fields[1], std::make_pair(std::string("b"), std::string("x y!")));
    EXPECT_EQ(fields[2], std::make_pair(std::string("c"), std::string("%zzq")))
        << "a further '=' in the value is dropped; a broken escape is kept as sent";
    EXPECT_EQ(fields[3], std::make_pair(std::string(""), std::string("")));
    EXPECT_EQ(results, (std::vector<bool>{true, true, true, false}));
}

TEST_F(ConnectionTest, FormFieldsAreCutToTheirLimitsAndTheRestDropped) {
    std::vector<std::pair<std::string, std::string>> fields;
    connection.onGet = [&](ScriptedConnection& c, const std::string&) {
        std::string name, value;
        while (c.ReadFormField(name, 256, value, 80)) fields.emplace_back(name, value);
    };
    std::string form = std::string(100, 'n') + "=" + std::string(200, 'v') + "&next=1";
    Exchange("POST / HTTP/1.0\r\nContent-Length: " + std::to_string(form.size()) + "\r\n\r\n" +
             form);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0].first, std::string(70, 'n'));
    EXPECT_EQ(fields[0].second, std::string(79, 'v'));
    EXPECT_EQ(fields[1], std::make_pair(std::string("next"), std::string("1")));
}

TEST_F(ConnectionTest, BodyIsDeclaredLengthAfterTheHeadsLineFeed) {
    std::string body;
    bool lineFeed = false;
    connection.onGet = [&](ScriptedConnection& c, const std::string&) {
        char buffer[4];
        body.clear();
        for (size_t n; (n = c.ReadBody(buffer, sizeof buffer)) > 0;) body.append(buffer, n);
        lineFeed = c.HeadEndedWithLineFeed();
    };
    Exchange({"POST / HTTP/1.0\r\nContent-Length: 7\r\n\r", "\n12", "345", "67extra"});
    EXPECT_EQ(body, "1234567");
    EXPECT_TRUE(lineFeed);
    Exchange("POST / HTTP/1.0\rContent-Length: 3\r\rabcdef");
    EXPECT_EQ(body, "abc") << "a bare-CR head has no line feed to pass over";
    EXPECT_FALSE(lineFeed);
    Exchange("POST / HTTP/1.0\r\nContent-Length: 2\r\n\r\n\nx");
    EXPECT_EQ(body, "\nx") << "only the head's own line feed is passed over";
    Exchange("POST / HTTP/1.0\r\n\r\nwhat arrived");
    EXPECT_EQ(body, "what arrived") << "without a length, what has arrived";
    // No line feed follows a bare-CR head: an empty body is complete at once.
    EXPECT_NE(Exchange("POST / HTTP/1.0\rContent-Length: 0\r\r"), "");
    EXPECT_EQ(body, "");
}

class SendFileTest : public ConnectionTest {
  protected:
    void SetUp() override { std::filesystem::create_directories(dir + "/my.site"); }

    std::string Serve(const std::string& path, const std::string& requestMethod = "GET") {
        connection.onGet = [path](ScriptedConnection& c, const std::string&) {
            c.Answer(Response::File(path, std::nullopt));
        };
        return Exchange(requestMethod + " / HTTP/1.0\r\n\r\n");
    }

    testing_support::TempDir temp{"vantry-sendfile"};
    const std::string dir = temp.path();
};

TEST_F(SendFileTest, ContentTypeComesFromTheFileNameNotTheDirectories) {
    testing_support::WriteFile(dir + "/my.site/page", "no extension");
    testing_support::WriteFile(dir + "/my.site/photo.JPG", "jpeg bytes");
    testing_support::WriteFile(dir + "/my.site/archive.tar.gz", "gz");
    std::string r = Serve(dir + "/my.site/page");
    EXPECT_NE(r.find("Content-Type: text/html\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("Content-Length: 12\r\n\r\nno extension"), std::string::npos) << r;
    EXPECT_NE(Serve(dir + "/my.site/photo.JPG").find("Content-Type: image/jpeg\r\n"),
              std::string::npos);
    EXPECT_NE(
        Serve(dir + "/my.site/archive.tar.gz").find("Content-Type: application/octet-stream\r\n"),
        std::string::npos);
}

TEST_F(SendFileTest, HeadSendsLengthWithoutBodyAndMissingFilesAreNotFound) {
    testing_support::WriteFile(dir + "/a.html", std::string(3000, 'z'));
    std::string r = Serve(dir + "/a.html", "HEAD");
    EXPECT_NE(r.find("Content-Length: 3000\r\n\r\n"), std::string::npos);
    EXPECT_EQ(r.find('z'), std::string::npos);
    r = Serve(dir + "/a.html");
    EXPECT_EQ(r.substr(r.size() - 3000), std::string(3000, 'z'));
    EXPECT_EQ(connection.BytesSent(), 3000u);
    EXPECT_EQ(Serve(dir + "/missing.html"), ErrorPage("404 Object Not Found"));
    EXPECT_EQ(Serve(dir + "/my.site"), ErrorPage("404 Object Not Found"))
        << "a directory is no file";
}

TEST_F(ConnectionTest, EmbeddedFileIsSentWithItsLength) {
    connection.onGet = [](ScriptedConnection& c, const std::string&) {
        c.SendResource(7001, "txt");
    };
    std::string r = Exchange("GET / HTTP/1.0\r\n\r\n");
    EXPECT_NE(r.find("Content-Type: application/octet-stream\r\nLast-Modified: "),
              std::string::npos);
    EXPECT_NE(r.find("Content-Length: 15\r\n\r\nembedded bytes\n"), std::string::npos) << r;
    connection.onGet = [](ScriptedConnection& c, const std::string&) {
        c.SendResource(999, "gif");
    };
    EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), ErrorPage("404 Object Not Found"));
}

// Random heads and form bodies: whatever arrives, the reader ends, answers or drops, and the
// object is free again.
TEST_F(ConnectionTest, RandomInputNeverBreaksTheReader) {
    std::mt19937 random(20261206);
    const std::string alphabet = "GETPOSHAD /%=&+\r\n\0aZ9:-";
    int handled = 0;
    connection.onGet = [&](ScriptedConnection& c, const std::string&) {
        ++handled;
        std::string name, value;
        for (int i = 0; i < 50 && c.ReadFormField(name, 80, value, 256); ++i) {
            EXPECT_LE(name.size(), 70u);
            EXPECT_LE(value.size(), 255u);
        }
    };
    for (int round = 0; round < 300; ++round) {
        std::string input = round % 2 == 0 ? "POST / HTTP/1.0\r\n\r\n" : "";
        size_t length = random() % 600;
        for (size_t i = 0; i < length; ++i) {
            input.push_back(round % 3 == 0 ? static_cast<char>(random() & 0xff)
                                           : alphabet[random() % alphabet.size()]);
        }
        input += "\r\r";
        Exchange(input);
        ASSERT_FALSE(connection.busy()) << round;
    }
    EXPECT_GT(handled, 100);
}

}  // namespace
}  // namespace http
