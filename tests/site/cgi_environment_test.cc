// The environment a CGI script receives: order, header conversion and what is left out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "site/cgi.h"

namespace site {
namespace {

using Strings = std::vector<std::string>;

CgiRequest SampleRequest() {
    CgiRequest request;
    request.isPost = true;
    request.contentLength = 7;
    request.queryString = "x=1";
    request.serverName = "myhost";
    request.serverPort = 8080;
    request.clientAddress = (127u << 24) | (0u << 16) | (3u << 8) | 9u;
    request.clientPort = 54321;
    request.documentRoot = "/srv/www/";
    request.scriptFilename = "/srv/www/cgi-bin/t.pl";
    request.protocol = "HTTP/1.0";
    request.requestUri = "/cgi-bin/t.pl?x=1";
    request.scriptName = "/cgi-bin/t.pl";
    request.headers = "Cookie: id=ab1\rUser-Agent: Tester/2.0\r\r";
    return request;
}

// The HTTP_ entries of an environment built from `headers` alone.
Strings HeaderVariables(std::string_view headers) {
    CgiRequest request;
    request.headers = headers;
    Strings environment = BuildCgiEnvironment({}, request);
    Strings result;
    for (const std::string& entry : environment) {
        if (entry.rfind("HTTP_", 0) == 0) result.push_back(entry);
    }
    return result;
}

TEST(CgiEnvironmentTest, ProcessEnvironmentComesFirstThenTheRequestInFixedOrder) {
    Strings process = {"PATH=/usr/bin:/bin", "HOME=/home/owner", "LANG=C"};
    EXPECT_EQ(BuildCgiEnvironment(process, SampleRequest()),
              (Strings{"PATH=/usr/bin:/bin",
                       "HOME=/home/owner",
                       "LANG=C",
                       "REQUEST_METHOD=POST",
                       "CONTENT_LENGTH=7",
                       "QUERY_STRING=x=1",
                       "SERVER_SOFTWARE=Vantry/1.0",
                       "SERVER_NAME=myhost",
                       "SERVER_PORT=8080",
                       "REMOTE_HOST=127.0.3.9",
                       "REMOTE_ADDR=127.0.3.9",
                       "DOCUMENT_ROOT=/srv/www/",
                       "SCRIPT_FILENAME=/srv/www/cgi-bin/t.pl",
                       "REMOTE_PORT=54321",
                       "GATEWAY_INTERFACE=CGI/1.1",
                       "SERVER_PROTOCOL=HTTP/1.0",
                       "REQUEST_URI=/cgi-bin/t.pl?x=1",
                       "SCRIPT_NAME=/cgi-bin/t.pl",
                       "HTTP_COOKIE=ID=AB1",
                       "HTTP_USER_AGENT=TESTER/2.0",
                       "REDIRECT_STATUS=200"}));
}

TEST(CgiEnvironmentTest, KeptCaseAndTheBodysTypeForScriptsThatNeedThem) {
    CgiRequest request = SampleRequest();
    request.headers = "Cookie: PHPSESSID=ab1C\rContent-Type: multipart/form-data; boundary=xY\r";
    for (bool keep : {false, true}) {
        request.keepHeaderCase = keep;
        Strings environment =
            BuildCgiEnvironment({"CONTENT_TYPE=server", "REDIRECT_STATUS=1"}, request);
        Strings tail(environment.end() - 4, environment.end());
        EXPECT_EQ(tail, (keep ? Strings{"HTTP_COOKIE=PHPSESSID=ab1C",
                                        "HTTP_CONTENT_TYPE=multipart/form-data; boundary=xY",
                                        "CONTENT_TYPE=multipart/form-data; boundary=xY",
                                        "REDIRECT_STATUS=200"}
                              : Strings{"HTTP_COOKIE=PHPSESSID=AB1C",
                                        "HTTP_CONTENT_TYPE=MULTIPART/FORM-DATA; BOUNDARY=XY",
                                        "CONTENT_TYPE=multipart/form-data; boundary=xY",
                                        "REDIRECT_STATUS=200"}));
        EXPECT_EQ(environment.size(), 15u + 4u) << "the server's own values are replaced";
    }
}

TEST(CgiEnvironmentTest, RequestWithoutBodyOrQueryIsAGetWithEmptyValues) {
    CgiRequest request;
    Strings environment = BuildCgiEnvironment({}, request);
    ASSERT_GE(environment.size(), 3u);
    EXPECT_EQ(environment[0], "REQUEST_METHOD=GET");
    EXPECT_EQ(environment[1], "CONTENT_LENGTH=0");
    EXPECT_EQ(environment[2], "QUERY_STRING=");
}

TEST(CgiEnvironmentTest, ServerVariablesOfTheGatewayNamesAreReplacedByTheRequests) {
    // A server started from another gateway's script carries such names; the script must
    // see its own request, and see each name once.
    Strings process = {"QUERY_STRING=server", "TERM=xterm",       "SCRIPT_NAME=/old",
                       "HTTP_COOKIE=stale",   "HTTP_ACCEPT=kept", "REMOTE_PORT=1"};
    Strings environment = BuildCgiEnvironment(process, SampleRequest());
    EXPECT_EQ(environment[0], "TERM=xterm");
    EXPECT_EQ(environment[1], "HTTP_ACCEPT=kept") << "no header of the request sets it";
    EXPECT_EQ(environment[2], "REQUEST_METHOD=POST");
    for (const char* name : {"QUERY_STRING=", "SCRIPT_NAME=", "HTTP_COOKIE=", "REMOTE_PORT="}) {
        int count = 0;
        for (const std::string& entry : environment) count += entry.rfind(name, 0) == 0;
        EXPECT_EQ(count, 1) << name;
    }
}

TEST(CgiEnvironmentTest, HeaderLinesBecomeUpperCasedHttpVariables) {
    struct Case {
        std::string_view headers;
        Strings expected;
    };
    const Case cases[] = {
        {"Cookie: id=ab1\r\r", {"HTTP_COOKIE=ID=AB1"}},
        {"Content-Type: text/plain\r", {"HTTP_CONTENT_TYPE=TEXT/PLAIN"}},
        // Only the first colon ends the name; every space after it is skipped, later ones stay.
        {"Host:   example.com:8080\r", {"HTTP_HOST=EXAMPLE.COM:8080"}},
        // A "-" in the name becomes "_", as CGI/1.1 names the variables; the first line of a
        // name spelled either way counts.
        {"User-Agent: T/1\rX-Forwarded-For: a\rX_forwarded-FOR: b\r",
         {"HTTP_USER_AGENT=T/1", "HTTP_X_FORWARDED_FOR=A"}},
        {"X-Note: two  words \r", {"HTTP_X_NOTE=TWO  WORDS "}},
        {"Empty:\r", {"HTTP_EMPTY="}},
        {"Accept: */*\rReferer: http://a/b\r", {"HTTP_ACCEPT=*/*", "HTTP_REFERER=HTTP://A/B"}},
        // The line feeds of the head are gone; the last line needs no CR.
        {"Last: line", {"HTTP_LAST=LINE"}},
        // Short entries, enough of them for their list to grow, and repeated names after
        // it grew: the first of each name is kept and the repeats are recognised.
        {"A: 1\rB: 2\rC: 3\rD: 4\rE: 5\ra: 6\rb: 7\rE: 8\r",
         {"HTTP_A=1", "HTTP_B=2", "HTTP_C=3", "HTTP_D=4", "HTTP_E=5"}},
    };
    for (const Case& c : cases) EXPECT_EQ(HeaderVariables(c.headers), c.expected) << c.headers;
}

TEST(CgiEnvironmentTest, HeaderLinesThatGiveNoSafeVariableAreSkipped) {
    struct Case {
        std::string_view headers;
        Strings expected;
    };
    using namespace std::string_view_literals;
    const Case cases[] = {
        {"no colon here\rA: 1\r", {"HTTP_A=1"}},
        {"\r\r\rA: 1\r", {"HTTP_A=1"}},
        {": no name\rA: 1\r", {"HTTP_A=1"}},
        // A client must not be able to give the script a proxy, in any spelling.
        {"Proxy: http://evil:3128\rA: 1\r", {"HTTP_A=1"}},
        {"proxy: http://evil\r", {}},
        // An "=" in the name would move the variable's name.
        {"PROXY=x: y\rB=c: d\r", {}},
        // A zero byte ends its line.
        {"X-A: ab\0cd\r"sv, {"HTTP_X_A=AB"}},
        {"Pro\0xy: evil\rA: 1\r"sv, {"HTTP_A=1"}},
        // Of two lines of one name the first counts.
        {"Cookie: first\rCOOKIE: second\r", {"HTTP_COOKIE=FIRST"}},
    };
    for (const Case& c : cases) EXPECT_EQ(HeaderVariables(c.headers), c.expected) << c.headers;
}

TEST(CgiEnvironmentTest, LongValuesAreCutToTheirBounds) {
    std::string longValue(10000, 'v');
    std::string headers = "X-Long: " + longValue + "\r" + "X-" + std::string(5000, 'n') + ": 1\r";
    Strings variables = HeaderVariables(headers);
    ASSERT_EQ(variables.size(), 1u) << "an over-long name is dropped";
    EXPECT_EQ(variables[0], "HTTP_X_LONG=" + std::string(4096, 'V'));

    CgiRequest request;
    std::string root = "/" + std::string(400, 'r');
    request.documentRoot = root;
    request.scriptFilename = root;
    std::string query(9000, 'q');
    request.queryString = query;
    Strings environment = BuildCgiEnvironment({}, request);
    EXPECT_EQ(environment[2], "QUERY_STRING=" + std::string(4096, 'q'));
    EXPECT_EQ(environment[8], "DOCUMENT_ROOT=" + root.substr(0, 255));
    EXPECT_EQ(environment[9], "SCRIPT_FILENAME=" + root.substr(0, 255));
}

}  // namespace
}  // namespace site
