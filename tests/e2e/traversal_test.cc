// The traversal and injection corpus against the real program: whatever a request target
// holds, nothing outside what the owner published is served, no header line comes from the
// target, and the server keeps answering.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Texts that live only outside the published folders.
const std::string kSecretMarker = "SECRET-MARKER-5d1c";
const std::string kOutsideMarker = "OUTSIDE-MARKER-r4e";
const std::string kEnvironmentMarker = "ENV-MARKER-k2p";
const std::string kIniMarker = "INI-MARKER-j7v";
// Names of entries outside the published folders that no target mentions: a listing of
// their folder would show them.
const std::string kUnlistedName = "unlisted-z8k.txt";
const std::string kOutsideOnlyName = "outside-only-w3q.txt";

// Directory names that would carry a target's CR LF into the redirect's Location line.
const std::string kCookieDirectory = "crlf\r\nSet-Cookie: x=1";
const std::string kLocationDirectory = "crlf\r\nLocation: http://evil.example/";

constexpr size_t kMaxTargetLength = 2048;

const std::vector<std::string> kBases = {"/",
                                         "/sub/",
                                         "/docs/",
                                         "/cgi-bin/",
                                         "/VNT/FAVORITES/",
                                         "/VNTFileDownload.html",
                                         "/VNT/",
                                         "/VNT/HandleSearch.html?searchTarget="};

// The payloads of the corpus file, each "{An}" expanded to n "A"s.
std::vector<std::string> CorpusPayloads() {
    std::ifstream in(std::string(VANTRY_SOURCE_DIR) + "/tests/e2e/traversal_corpus.txt");
    std::vector<std::string> payloads;
    static const std::regex kLongSegment(R"(\{A(\d+)\})");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        for (std::smatch m; std::regex_search(line, m, kLongSegment);) {
            line.replace(m.position(), m.length(), std::string(std::stoul(m[1]), 'A'));
        }
        payloads.push_back(line);
    }
    return payloads;
}

// Every line of a response head has a form the server writes; a line that a target split
// off matches none of them.
::testing::AssertionResult HeadIsWhole(const std::string& response) {
    static const std::regex kStatus(R"(HTTP/1\.0 [1-5]\d\d [ -~]+)");
    static const std::regex kHeader(
        "Server: Vantry/1\\.0|Accept-Ranges: bytes|Date: [ -~]+ GMT|Last-Modified: [ -~]+ GMT|"
        "Content-[Tt]ype: [a-z]+/[-+.\\w]+(; ?charset=[-\\w]+)?|Content-Length: \\d+|"
        "Keep-Alive: timeout=15, max=100|WWW-Authenticate: Basic realm=\"[ -~]*\"|"
        "X-Content-Type-Options: nosniff|X-Frame-Options: DENY|"
        "Content-Security-Policy: frame-ancestors 'none'|"
        "Location: (/|http://[-.:\\w]+/)[!-~]*");
    size_t end = response.find("\r\n\r\n");
    if (end == std::string::npos) return ::testing::AssertionFailure() << "no end of head";
    std::string head = response.substr(0, end);
    size_t start = 0;
    bool first = true;
    while (start <= head.size()) {
        size_t next = head.find("\r\n", start);
        if (next == std::string::npos) next = head.size();
        std::string line = head.substr(start, next - start);
        if (!std::regex_match(line, first ? kStatus : kHeader)) {
            return ::testing::AssertionFailure() << "unknown head line \"" << line << "\"";
        }
        first = false;
        start = next + 2;
    }
    return ::testing::AssertionSuccess();
}

class TraversalTest : public ::testing::Test {
  protected:
    TraversalTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\ncgi=Y\nlist=Y\n"
              "favoritesLocation={dir}/Favorites\n"
              "[VirtualDirectories]\ndocs={dir}/shared\nscripts={dir}/www/cgi-bin\n"
              "[Traversal]\nmarker=" +
              kIniMarker + "\n") {
        const std::string& d = vantry.dir();
        // Every published folder holds the same kinds of entries, so each payload means
        // something under every base.
        for (const char* folder : {"www", "www/sub", "shared", "www/cgi-bin", "Favorites"}) {
            const std::string path = d + "/" + folder;
            const std::string name = folder;
            fs::create_directories(path + "/inner");
            fs::create_directories(path + "/" + kCookieDirectory);
            fs::create_directories(path + "/" + kLocationDirectory);
            WriteFile(path + "/index.html", "PUBLISHED " + name);
            WriteFile(path + "/inner/index.html", "PUBLISHED inner of " + name);
            published.insert("PUBLISHED " + name);
            published.insert("PUBLISHED inner of " + name);
        }
        published.insert("PUBLISHED hello\n");
        WriteScript(d + "/www/cgi-bin/hello",
                    "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\nPUBLISHED hello\\n'\n",
                    0755);
        WriteFile(d + "/Favorites/Example.url", "[InternetShortcut]\nURL=http://example.test/\n");
        WriteFile(d + "/private-secret.txt", kSecretMarker);
        WriteFile(d + "/" + kUnlistedName, kSecretMarker);
        fs::create_directories(d + "/outside");
        WriteFile(d + "/outside/" + kOutsideOnlyName, kOutsideMarker);
        // Links the owner placed in the root, leading out of it.
        fs::create_symlink(d + "/private-secret.txt", d + "/www/to-secret");
        fs::create_symlink(d + "/outside", d + "/www/to-outside");
        fs::create_symlink(d + "/www/cgi-bin", d + "/www/to-scripts");
        vantry.extraEnv["TRAVERSAL_MARKER"] = kEnvironmentMarker;
    }
    void SetUp() override { vantry.Start(); }
    std::string Ask(const std::string& target) {
        return Exchange(vantry.address(), vantry.port1(), "GET " + target + " HTTP/1.0\r\n\r\n",
                        5s);
    }
    VantryInstance vantry;
    std::set<std::string> published;
};

TEST_F(TraversalTest, CorpusNeverLeavesThePublishedFoldersNorSplitsTheHead) {
    std::set<std::string> targets;
    for (const std::string& payload : CorpusPayloads()) {
        for (const std::string& base : kBases) targets.insert(base + payload);
    }
    ASSERT_GE(targets.size(), 300u);
    for (const std::string& target : targets) {
        std::string response = Ask(target);
        SCOPED_TRACE(target.substr(0, 200));
        // A target longer than the request reader takes drops the request unanswered.
        if (target.size() > kMaxTargetLength) {
            EXPECT_EQ(response, "");
            continue;
        }
        ASSERT_FALSE(response.empty()) << "no answer";
        EXPECT_TRUE(HeadIsWhole(response)) << response.substr(0, 400);
        for (const std::string& forbidden :
             {kSecretMarker, kOutsideMarker, kEnvironmentMarker, kIniMarker, kUnlistedName,
              kOutsideOnlyName, std::string("root:x:0:0"), std::string("<script>alert(1)")}) {
            EXPECT_EQ(response.find(forbidden), std::string::npos)
                << forbidden << " in " << response;
        }
        // What is served whole is a file the owner published, the script's output or a page
        // the server builds (a listing, the favorites).
        if (response.rfind("HTTP/1.0 200 OK", 0) == 0) {
            std::string body = BodyOf(response);
            EXPECT_TRUE(published.count(body) || body.rfind("<HTML>", 0) == 0)
                << response.substr(0, 400);
        }
    }
    ASSERT_TRUE(vantry.Running());
    EXPECT_EQ(BodyOf(Ask("/")), "PUBLISHED www");
}

TEST_F(TraversalTest, OwnersLinksAreFollowedButDotDotNeverLeavesThroughThem) {
    // The owner placed the links: what they lead to counts as published.
    EXPECT_EQ(BodyOf(Ask("/to-secret")), kSecretMarker);
    EXPECT_EQ(BodyOf(Ask("/to-outside/" + kOutsideOnlyName)), kOutsideMarker);
    EXPECT_NE(Ask("/to-outside/").find(kOutsideOnlyName), std::string::npos) << "listed";
    // The kernel would resolve ".." after the link, into the instance directory.
    for (const std::string& target : std::vector<std::string>{
             "/to-outside/../private-secret.txt", "/to-outside/%2e%2e/private-secret.txt",
             "/to-outside/..%2f" + kUnlistedName, "/to-outside/%2e%2e/", "/to-outside/..",
             "/to-secret/..", "/to-outside/..%5c" + kUnlistedName}) {
        std::string response = Ask(target);
        EXPECT_EQ(response, ErrorPage("403 Forbidden")) << target;
    }
}

}  // namespace
}  // namespace e2e
