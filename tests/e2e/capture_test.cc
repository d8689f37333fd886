// File upload and form capture through the real program: the refusals and the size limit,
// the files stored and their layouts, bodies that arrive slowly or not at all, and
// submissions that arrive together.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using testing_support::AcknowledgedText;
using testing_support::FileNames;

std::string Received(size_t bytes) {
    return "Reception Acknowledged &nbsp " + std::to_string(bytes) + " Bytes Received";
}

std::string Post(const std::string& target, const std::string& headers, const std::string& body) {
    return "POST " + target + " HTTP/1.0\r\n" + headers + "\r\n" + body;
}

std::string WithLength(const std::string& body) {
    return "Content-Length: " + std::to_string(body.size()) + "\r\n";
}

// Server 1 takes uploads (limit 1000 KB) and no form posts; Server 2 takes form posts without
// a limit and no uploads.
class CaptureTest : public ::testing::Test {
  protected:
    CaptureTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nuploadSaveLocation={dir}/up\n"
              "postSaveLocation={dir}/up\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www2/\nservername=two.test\n"
              "uploadEnabled=N\npostEnabled=Y\npostMaxSizeKB=0\npostSaveLocation={dir}/posts\n"
              "[Server-2]\nsecondPortEnabled=Y\n"),
          uploads(vantry.dir() + "/up"),
          posts(vantry.dir() + "/posts") {
        fs::create_directories(uploads);
        fs::create_directories(posts);
        fs::create_directories(vantry.dir() + "/www2");
    }
    void SetUp() override { vantry.Start(); }
    // Sends the request and closes the sending side, so that a body left unsent ends there.
    std::string Ask(int port, const std::string& request) {
        Client client(vantry.address(), port);
        client.Send(request);
        client.ShutdownSend();
        return client.ReadAll(20s);
    }
    VantryInstance vantry;
    const std::string uploads;
    const std::string posts;
};

TEST_F(CaptureTest, RefusalsAndTheSizeLimit) {
    const std::string justUnder(999'999, 'u');
    const std::string limit(1'000'000, 'l');
    const std::string large(3'000'000, 'x');
    struct Case {
        int server;
        std::string request;
        std::string message;
        bool stored;
    };
    const int one = vantry.port1(), two = vantry.port2();
    const Case cases[] = {
        {one, Post("/VNT/HandleFileUpload.html", WithLength(justUnder), justUnder),
         Received(1'000'000), true},
        {one, Post("/VNT/HandleFileUpload.html", WithLength(limit), limit),
         "Object Is Larger Than Allowed By Administrator", false},
        // Any other header that ends in the name is found first, as the page looks it up.
        {one,
         Post("/VNT/HandleFileUpload.html", "X-Content-Length: 7\r\n" + WithLength(limit), limit),
         "Object Is Larger Than Allowed By Administrator", false},
        {one, Post("/VNT/HandleFileUpload.html", "Content-Length: 18446744073709551615\r\n", ""),
         "Object Is Larger Than Allowed By Administrator", false},
        {one, Post("/VNT/HandleFileUpload.html", "", "abc"), "Object Size Could Not be Determined",
         false},
        {one, Post("/VNT/HandleFileUpload.html", "content-length: 3\r\n", "abc"),
         "Object Size Could Not be Determined", false},
        {one, "GET /VNT/HandlePost.html HTTP/1.0\r\n\r\n", "Feature Not Enabled By Administrator",
         false},
        {two, Post("/VNT/HandleFileUpload.html", WithLength("abc"), "abc"),
         "Feature Not Enabled By Administrator", false},
        {two, "GET /VNT/HandlePost.html HTTP/1.0\r\n\r\n", "Object Size Could Not be Determined",
         false},
        {two, Post("/VNT/HandlePost.html", WithLength(large), large), Received(large.size() + 1),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 80));
        const std::string dir = c.server == one ? uploads : posts;
        const std::string response = Ask(c.server, c.request);
        EXPECT_EQ(response.substr(0, 17), "HTTP/1.0 200 OK\r\n");
        EXPECT_EQ(AcknowledgedText(response), c.message);
        EXPECT_NE(response.find("<TITLE>\r\nData Received\r\n</TITLE>"), std::string::npos);
        std::vector<std::string> files = FileNames(dir);
        ASSERT_EQ(files.size(), c.stored ? 1u : 0u);
        for (const std::string& name : files) fs::remove(dir + "/" + name);
    }
}

TEST_F(CaptureTest, RefusedBodyIsAnsweredWithoutWaitingForIt) {
    for (const auto& [port, declared] :
         {std::pair{vantry.port2(), "900000"}, std::pair{vantry.port1(), "5000000"}}) {
        Client client(vantry.address(), port);
        client.Send(Post("/VNT/HandleFileUpload.html",
                         std::string("Content-Length: ") + declared + "\r\n", "abc"));
        const std::string response = client.ReadUntil("</HTML>", 3s);
        EXPECT_NE(response.find("</HTML>"), std::string::npos) << declared;
    }
}

TEST_F(CaptureTest, UploadFormFollowsTheSwitchAndTheLimit) {
    const std::string on = BodyOf(Ask(vantry.port1(), "GET /VNT/FileUpload.html HTTP/1.0\r\n\r\n"));
    EXPECT_NE(on.find("<FORM action=\"HandleFileUpload.html\" method=\"post\" "
                      "ENCTYPE=\"multipart/form-data\">\r\n"),
              std::string::npos);
    EXPECT_NE(on.find("File uploads are currently limited to files &nbsp 1000 KB or smaller."),
              std::string::npos);
    const std::string off =
        BodyOf(Ask(vantry.port2(), "GET /VNT/fileupload.html HTTP/1.0\r\n\r\n"));
    EXPECT_NE(off.find("\r\n<H2>File Uploads Are Currently Disabled By The Administrator<H2>\r\n"),
              std::string::npos);
    EXPECT_EQ(off.find("<FORM"), std::string::npos);
}

TEST_F(CaptureTest, StoredBodyBeginsWithTheLineFeedAndKeepsOnlyTheDeclaredBytes) {
    const std::string body =
        "--b\r\nContent-Disposition: form-data; name=\"filename\"\r\n\r\nhi\r\n--b--\r\n";
    const std::string response =
        Ask(vantry.port1(), Post("/VNT/HandleFileUpload.html", WithLength(body), body + "extra"));
    EXPECT_EQ(AcknowledgedText(response), Received(body.size() + 1));
    std::vector<std::string> files = FileNames(uploads);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex("[0-9]+-POST\\.mim"))) << files[0];
    EXPECT_EQ(ReadFile(uploads + "/" + files[0]), "\n" + body);
    EXPECT_EQ(fs::status(uploads + "/" + files[0]).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

TEST_F(CaptureTest, SlowBodyIsStoredWhole) {
    Client client(vantry.address(), vantry.port1());
    const std::vector<std::string> pieces = {
        "POST /VNT/HandleFileUpload.html HTTP/1.0\r\nContent-Length: 15\r\n\r\nfirst", "-mid-",
        "last!"};
    for (const std::string& piece : pieces) {
        ASSERT_TRUE(client.WaitUntilServerRead());
        std::this_thread::sleep_for(100ms);  // far longer than any pause a reader might allow
        client.Send(piece);
    }
    EXPECT_EQ(AcknowledgedText(client.ReadAll()), Received(16));
    std::vector<std::string> files = FileNames(uploads);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadFile(uploads + "/" + files[0]), "\nfirst-mid-last!");
}

TEST_F(CaptureTest, ClientLeavingMidHeadOrBodyLeavesNoFile) {
    {
        // The head never ends: the body it declares never came.
        Client client(vantry.address(), vantry.port1());
        client.Send("POST /VNT/HandleFileUpload.html HTTP/1.0\r\nContent-Length: 5\r\n");
        client.ShutdownSend();
        client.ReadAll();
    }
    EXPECT_TRUE(FileNames(uploads).empty());
    {
        Client client(vantry.address(), vantry.port1());
        client.Send("POST /VNT/HandleFileUpload.html HTTP/1.0\r\nContent-Length: 500000\r\n\r\n" +
                    std::string(200'000, 'p'));
        ASSERT_TRUE(client.WaitUntilServerRead());
        // While the body is coming, nothing carries a final name.
        for (const std::string& name : FileNames(uploads))
            EXPECT_EQ(name.substr(name.size() - 5), ".part");
    }
    EXPECT_TRUE(WaitUntil(5s, [&] { return FileNames(uploads).empty(); }));
    // The server goes on serving.
    EXPECT_EQ(AcknowledgedText(
                  Ask(vantry.port1(), Post("/VNT/HandleFileUpload.html", WithLength("a"), "a"))),
              Received(2));
}

TEST_F(CaptureTest, FormCaptureCutShortLeavesNoFile) {
    for (const char* target :
         {"/VNT/HandlePost.html", "/VNT/HandlePostRaw.html", "/VNT/HandlePostPlusHeaders.html"}) {
        EXPECT_EQ(AcknowledgedText(Ask(vantry.port2(), Post(target, "Content-Length: 100\r\n",
                                                            std::string(40, 'c')))),
                  Received(0))
            << target;
        EXPECT_EQ(FileNames(posts), std::vector<std::string>{}) << target;
    }
}

// A value with line ends in it (the query here) is escaped, so the only variable line of a
// name is the server's own.
TEST_F(CaptureTest, ValuesNeverStartALineOfTheirOwn) {
    const std::string query = "?q=1%0d%0aREMOTE_ADDR%20:6.6.6.6%5c";
    for (const char* target : {"/VNT/HandlePostRaw.html", "/VNT/HandlePostPlusHeaders.html"}) {
        SCOPED_TRACE(target);
        Ask(vantry.port2(), Post(target + query, WithLength("a=1"), "a=1"));
        std::string variables;
        for (const std::string& name : FileNames(posts)) {
            if (name.ends_with(".raw") || name.ends_with(".env"))
                variables = ReadFile(posts + "/" + name);
            fs::remove(posts + "/" + name);
        }
        EXPECT_NE(variables.find("QUERY_STRING: Q=1\\r\\nREMOTE_ADDR :6.6.6.6\\\\\r\n"),
                  std::string::npos)
            << variables;
        std::vector<std::string> remoteAddress;
        for (size_t at = 0; at < variables.size();) {
            size_t end = std::min(variables.find_first_of("\r\n", at), variables.size());
            if (variables.compare(at, 11, "REMOTE_ADDR") == 0)
                remoteAddress.push_back(variables.substr(at, end - at));
            at = end + 1;
        }
        ASSERT_EQ(remoteAddress.size(), 1u) << variables;
        EXPECT_EQ(remoteAddress[0].find("6.6.6.6"), std::string::npos) << variables;
    }
}

TEST_F(CaptureTest, SubmissionsArrivingTogetherKeepTheirOwnFiles) {
    constexpr int kClients = 20;
    std::vector<std::string> bodies, responses(kClients);
    for (int i = 0; i < kClients; ++i)
        bodies.push_back("body " + std::to_string(i) +
                         std::string(1000, static_cast<char>('a' + i)));
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            responses[i] = Ask(vantry.port2(), Post("/VNT/HandlePostPlusHeaders.html",
                                                    WithLength(bodies[i]), bodies[i]));
        });
    }
    for (std::thread& t : threads) t.join();
    std::set<std::string> stored;
    std::set<std::string> bases;
    for (const std::string& name : FileNames(posts)) {
        std::smatch m;
        ASSERT_TRUE(
            std::regex_match(name, m, std::regex("([0-9]+(-[0-9]+)?-POST)\\.(hdr|env|mim)")))
            << name;
        bases.insert(m[1]);
        if (m[3] == "mim") stored.insert(ReadFile(posts + "/" + name));
    }
    EXPECT_EQ(bases.size(), static_cast<size_t>(kClients));
    for (const std::string& body : bodies)
        EXPECT_EQ(stored.count("\n" + body), 1u) << body.substr(0, 8);
}

TEST_F(CaptureTest, RequestDataLayouts) {
    // An address of this test alone, so that the port found free stays free.
    const std::string from = NextLoopbackAddress();
    const std::string headers = "Content-Length: 3\r\nX-Note: hi\r\n";
    const std::string headerText = "Content-Length: 3\rX-Note: hi\r\r";
    auto environment = [&](int fromPort, const std::string& target, bool query) {
        const std::string uri = target + (query ? "?X=Y" : "");
        return std::string(query ? "QUERY_STRING: X=Y\r\n" : "") +
               "SERVER_SOFTWARE: Vantry/1.0\r\nSERVER_NAME: two.test\r\nSERVER_PORT: " +
               std::to_string(vantry.port2()) + "\r\nREMOTE_HOST: " + from +
               "\r\nREMOTE_ADDR :" + from + "\r\nDOCUMENT_ROOT: " + vantry.dir() +
               "/www2/\r\nREMOTE_PORT: " + std::to_string(fromPort) +
               "\r\nGATEWAY_INTERFACE: CGI/1.1\r\nREQUEST_URI: " + uri +
               "\r\nSCRIPT_NAME: " + target + "\r\n";
    };
    struct Case {
        const char* target;
        bool query;
        const char* page;  // as the URL shows it
        std::vector<std::string> extensions;
    };
    const Case cases[] = {
        {"/VNT/HandlePostRaw.html?x=y", true, "/VNT/HANDLEPOSTRAW.HTML", {".raw"}},
        {"/VNT/HandlePostRaw.html", false, "/VNT/HANDLEPOSTRAW.HTML", {".raw"}},
        {"/VNT/HandlePostPlusHeaders.html?x=y",
         true,
         "/VNT/HANDLEPOSTPLUSHEADERS.HTML",
         {".env", ".hdr", ".mim"}},
        {"/VNT/HandlePost.html?x=y", true, "/VNT/HANDLEPOST.HTML", {".mim"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const int fromPort = FreePort(from);
        Client client(vantry.address(), vantry.port2(), from, fromPort);
        client.Send(Post(c.target, headers, "a=1"));
        const std::string response = client.ReadAll();
        const std::string env = environment(fromPort, c.page, c.query);
        std::map<std::string, std::string> expected;
        size_t count = 4;  // "\na=1"
        if (c.extensions.size() == 1 && c.extensions[0] == ".raw") {
            expected[".raw"] = headerText.substr(0, headerText.size() - 1) + env + "\r\na=1";
            count += headerText.size() - 1 + env.size();
        } else if (c.extensions.size() == 3) {
            expected = {{".hdr", headerText}, {".env", env}, {".mim", "\na=1"}};
            count += headerText.size() + env.size();
        } else {
            expected[".mim"] = "\na=1";
        }
        EXPECT_EQ(AcknowledgedText(response), Received(count));
        std::vector<std::string> files = FileNames(posts);
        ASSERT_EQ(files.size(), expected.size());
        const std::string base = files[0].substr(0, files[0].size() - 4);
        for (const auto& [extension, content] : expected) {
            EXPECT_EQ(ReadFile(posts + "/" + base + extension), content) << extension;
            fs::remove(posts + "/" + base + extension);
        }
    }
}

// A save location that is not an absolute path stores nothing, wherever the server runs.
TEST(CaptureLocationTest, RelativeOrMissingDirectoryStoresNothing) {
    for (const char* location : {"relative", "{dir}/missing"}) {
        SCOPED_TRACE(location);
        VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\nuploadSaveLocation=" +
                              std::string(location) + "\n");
        fs::create_directories(vantry.dir() + "/relative");
        vantry.Start();
        const std::string response =
            Exchange(vantry.address(), vantry.port1(),
                     Post("/VNT/HandleFileUpload.html", WithLength("abc"), "abc"));
        EXPECT_EQ(AcknowledgedText(response), Received(0));
        EXPECT_TRUE(fs::is_empty(vantry.dir() + "/relative"));
        for (const auto& entry : fs::directory_iterator(vantry.dir())) {
            EXPECT_EQ(entry.path().string().find("-POST"), std::string::npos) << entry.path();
        }
    }
}

// A file that names no locations keeps what visitors send beside the program, outside the web
// root, in folders made for the owner alone when the first item arrives.
TEST(CaptureLocationTest, WithoutLocationsItemsGoToTheIncomingFolders) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\npostEnabled=Y\nmessageUploadEnabled=Y\n");
    vantry.Start();
    const std::pair<std::string, std::string> cases[] = {
        {"/VNT/HandleFileUpload.html", "Uploads"},
        {"/VNT/HandlePost.html", "Forms"},
        {"/VNT/HandleSendMessage.html", "Messages"},
    };
    for (const auto& [target, folder] : cases) {
        const std::string dir = vantry.dir() + "/Incoming/" + folder;
        EXPECT_FALSE(fs::exists(dir)) << folder;
        Exchange(vantry.address(), vantry.port1(),
                 Post(target, WithLength("messageBody=x"), "messageBody=x"));
        ASSERT_TRUE(fs::is_directory(dir)) << folder;
        EXPECT_EQ(FileNames(dir).size(), 1u) << folder;
        EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all) << folder;
    }
    EXPECT_EQ(fs::status(vantry.dir() + "/Incoming").permissions(), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(vantry.dir() + "/www"));
}

}  // namespace
}  // namespace e2e
