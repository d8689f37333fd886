// The network drive on the wire: what it refuses (ways out of the root, scripts, the program's
// folder, hidden names, writes without a login from another machine, a read-only drive), what
// a cut upload leaves, and how its listings name what they hold.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Another address on the loopback network is no interface's own: a remote client.
constexpr const char* kRemote = "127.0.0.254";

class NetworkDriveTest : public ::testing::Test {
  protected:
    NetworkDriveTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\ncgi=Y\nwebdav=W\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\nwebdav=R\n"
              "[Server-2]\nsecondPortEnabled=Y\n"
              "[VirtualDirectories]\nprogram={dir}\nshared={dir}/shared\n") {
        WriteFile(vantry.dir() + "/registry.reg", RegistryText("\"bob\"=\"pw\"\n"));
        WriteFile(Www("a.txt"), "first");
        WriteFile(Www(".secret"), "hidden");
        for (const char* folder : {"www/cgi-bin", "www/sub", "shared"}) {
            fs::create_directories(vantry.dir() + "/" + folder);
        }
        WriteFile(Www("sub/inner.txt"), "inner");
        WriteScript(Www("cgi-bin/show.pl"), "#!/bin/sh\necho script source\n", 0755);
        WriteFile(vantry.dir() + "/shared/note.txt", "note");
        vantry.Start();
    }
    std::string Www(const std::string& name) const { return vantry.dir() + "/www/" + name; }
    std::string Ask(const std::string& request, int port = 0, const std::string& from = "") {
        const int to = port == 0 ? vantry.port1() : port;
        return from.empty() ? Exchange(vantry.address(), to, request)
                            : ExchangeFrom(from, vantry.address(), to, request);
    }
    VantryInstance vantry;
};

TEST_F(NetworkDriveTest, RefusesEveryWayOutAndEveryWriteItMayNotTake) {
    struct Case {
        std::string request;
        int status;
        bool fromRemote = false;
        bool readOnlyServer = false;
    };
    const std::string move = "MOVE /a.txt HTTP/1.1\r\nHost: h\r\nConnection: close\r\n";
    const Case cases[] = {
        // Destinations out of the drive, however they are spelled.
        {move + "Destination: /../a.txt\r\n\r\n", 502},
        {move + "Destination: /%2e%2e/a.txt\r\n\r\n", 502},
        {move + "Destination: http://h/sub/..%2F..%2Fa.txt\r\n\r\n", 502},
        {move + "Destination: /sub/%2E%2E/%2E%2E/escaped\r\n\r\n", 502},
        {move + "Destination: /a%00.txt\r\n\r\n", 502},
        {move + "\r\n", 400},
        // Scripts: never moved or written onto, never read as source, never removed.
        {move + "Destination: /cgi-bin/a.txt\r\n\r\n", 403},
        {"PUT /cgi-bin/new.pl HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi", 403},
        {"DELETE /cgi-bin/ HTTP/1.0\r\n\r\n", 403},
        {"MOVE /cgi-bin/ HTTP/1.0\r\nDestination: /scripts/\r\n\r\n", 403},
        {"COPY /cgi-bin/show.pl HTTP/1.0\r\nDestination: /show.txt\r\n\r\n", 403},
        {"PROPFIND /cgi-bin/show.pl HTTP/1.0\r\nDepth: 0\r\n\r\n", 403},
        // The program's folder and its configuration, even through a virtual directory.
        {"PROPFIND /program/Vantry.ini HTTP/1.0\r\nDepth: 0\r\n\r\n", 404},
        {"PUT /program/planted.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi", 404},
        {"DELETE /program/ HTTP/1.0\r\n\r\n", 404},
        {"PROPFIND /sub/../../Vantry.ini HTTP/1.0\r\nDepth: 0\r\n\r\n", 403},
        // Hidden names are not written, but for the ones Apple systems leave beside files.
        {"PUT /.htaccess HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi", 403},
        {"PUT /._a.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi", 201},
        {"MKCOL /.git/ HTTP/1.0\r\n\r\n", 403},
        {"COPY /a.txt HTTP/1.0\r\nDestination: /.config/a.txt\r\n\r\n", 403},
        // Another machine writes only with a login; it reads as the server's login switch says.
        {"PUT /remote.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi", 401, true},
        {"PUT /remote.txt HTTP/1.0\r\nContent-Length: 2\r\n" + BasicLogin("bob:pw") + "\r\nhi", 201,
         true},
        {"PROPFIND /a.txt HTTP/1.0\r\nDepth: 0\r\n\r\n", 207, true},
        // A read-only drive answers what it holds and changes nothing.
        {"PUT /ro.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi", 403, false, true},
        {"PROPFIND /a.txt HTTP/1.0\r\nDepth: 0\r\n\r\n", 207, false, true},
        // Conditions and shapes of writes.
        {"PUT /a.txt HTTP/1.0\r\nIf-Match: \"nope\"\r\nContent-Length: 2\r\n\r\nhi", 412},
        {"PUT /a.txt HTTP/1.0\r\nIf-None-Match: *\r\nContent-Length: 2\r\n\r\nhi", 412},
        {"PUT /missing/x.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi", 409},
        {"MKCOL /sub/ HTTP/1.0\r\n\r\n", 405},
        {"MKCOL /a/b/ HTTP/1.0\r\n\r\n", 409},
        {"COPY /sub HTTP/1.0\r\nDestination: /sub/deeper/\r\n\r\n", 409},
        {"COPY /a.txt HTTP/1.0\r\nDestination: /sub/inner.txt\r\nOverwrite: F\r\n\r\n", 412},
        {"PROPFIND / HTTP/1.0\r\nDepth: infinity\r\n\r\n", 403},
        {"PROPFIND / HTTP/1.0\r\nContent-Length: 9\r\n\r\n<propfind", 400},
        {"PUT /chunked.txt HTTP/1.1\r\nHost: h\r\nConnection: close\r\nTransfer-Encoding: "
         "Chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         201},
    };
    for (const Case& c : cases) {
        const std::string answer =
            Ask(c.request, c.readOnlyServer ? vantry.port2() : 0, c.fromRemote ? kRemote : "");
        EXPECT_EQ(StatusOf(answer), c.status) << c.request << "\n" << answer.substr(0, 400);
    }
    EXPECT_EQ(ReadFile(Www("a.txt")), "first");
    EXPECT_EQ(ReadFile(Www("cgi-bin/show.pl")), "#!/bin/sh\necho script source\n");
    EXPECT_EQ(ReadFile(Www("chunked.txt")), "abc");
    EXPECT_EQ(ReadFile(Www("remote.txt")), "hi");
    for (const char* absent : {"cgi-bin/new.pl", "cgi-bin/a.txt", "show.txt", ".htaccess", "ro.txt",
                               "scripts", "../planted.txt", "../escaped"}) {
        EXPECT_FALSE(fs::exists(Www(absent))) << absent;
    }
    EXPECT_TRUE(fs::exists(vantry.dir() + "/Vantry.ini"));
    // What the drive moves goes where it was sent, with or without the folder's slash.
    EXPECT_EQ(StatusOf(Ask("MOVE /sub HTTP/1.0\r\nDestination: http://public.example/moved/"
                           "\r\n\r\n")),
              201);
    EXPECT_EQ(ReadFile(Www("moved/inner.txt")), "inner");
}

TEST_F(NetworkDriveTest, UploadsInChunksStreamAndACutUploadLeavesNoFile) {
    // Larger than any body the server gathers whole before it runs a request.
    constexpr size_t kChunk = 1 << 20;
    constexpr size_t kChunks = 70;
    {
        Client client(vantry.address(), vantry.port1());
        ASSERT_TRUE(client.connected());
        client.Send("PUT /big.bin HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n");
        const std::string chunk = "100000\r\n" + std::string(kChunk, 'b') + "\r\n";
        for (size_t i = 0; i < kChunks; ++i) client.Send(chunk);
        client.Send("0\r\n\r\n");
        EXPECT_EQ(StatusOf(client.ReadUntil("\r\n\r\n", 30s)), 201);
    }
    EXPECT_EQ(fs::file_size(Www("big.bin")), kChunk * kChunks);

    const std::string cutBodies[] = {
        "Content-Length: 100000\r\n\r\n" + std::string(1000, 'x'),
        "Transfer-Encoding: chunked\r\n\r\n186a0\r\n" + std::string(1000, 'x'),
        "Transfer-Encoding: chunked\r\n\r\n3\r\nabcdef\r\n0\r\n\r\n",
    };
    for (const char* name : {"new.bin", "a.txt"}) {
        for (const std::string& body : cutBodies) {
            Client client(vantry.address(), vantry.port1());
            ASSERT_TRUE(client.connected());
            client.Send("PUT /" + std::string(name) + " HTTP/1.1\r\nHost: h\r\n" + body);
            client.ShutdownSend();
            client.ReadAll(10s);
        }
    }
    const auto leftovers = [this] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(vantry.dir() + "/www")) {
            if (entry.path().filename().string().rfind(".vantry-put-", 0) == 0) ++count;
        }
        return count;
    };
    EXPECT_TRUE(WaitUntil(5s, [&] { return leftovers() == 0; }));
    EXPECT_FALSE(fs::exists(Www("new.bin")));
    EXPECT_EQ(ReadFile(Www("a.txt")), "first");
}

TEST_F(NetworkDriveTest, ListingsNameEntriesAsTheClientAskedAndHideWhatIsHidden) {
    WriteFile(Www("été 1&2.txt"), "utf");
    const std::string listing =
        Ask("PROPFIND / HTTP/1.1\r\nHost: h\r\nConnection: close\r\n"
            "Depth: 1\r\n\r\n");
    EXPECT_EQ(StatusOf(listing), 207) << listing.substr(0, 300);
    EXPECT_TRUE(Has(listing, "Transfer-Encoding: chunked\r\n") || Has(listing, "Content-Length: "));
    for (const char* href :
         {"<D:href>/</D:href>", "<D:href>/a.txt</D:href>", "<D:href>/sub/</D:href>",
          "<D:href>/%C3%A9t%C3%A9%201%262.txt</D:href>", "<D:href>/shared/</D:href>"}) {
        EXPECT_TRUE(Has(listing, href)) << href << "\n" << listing;
    }
    EXPECT_TRUE(Has(listing, "<D:displayname>été 1&amp;2.txt</D:displayname>"));
    EXPECT_FALSE(Has(listing, ".secret"));
    EXPECT_FALSE(Has(listing, "cgi-bin/show.pl"));
    EXPECT_FALSE(Has(listing, "Vantry.ini"));
    EXPECT_TRUE(std::regex_search(
        listing, std::regex("<D:getlastmodified>[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} "
                            "[0-9]{2}:[0-9]{2}:[0-9]{2} GMT</D:getlastmodified>")));
    // The tag a listing gives is the one a GET answers with.
    const std::string got = Ask("GET /a.txt HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(
        Has(listing, "<D:getetag>" +
                         std::regex_replace(HeaderOf(got, "ETag"), std::regex("\""), "&quot;") +
                         "</D:getetag>"))
        << HeaderOf(got, "ETag");
    // OPTIONS answers anywhere, with the classes the drive has.
    const std::string options = Ask("OPTIONS /VNT/anything HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(Has(options, "DAV: 1, 2\r\n")) << options;
    EXPECT_TRUE(Has(Ask("OPTIONS / HTTP/1.0\r\n\r\n", vantry.port2()), "DAV: 1\r\n"));
}

TEST(NetworkDrivePrefixTest, ServesOnlyUnderItsPrefixAndShowsTheWayThere) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nwebdav=W\n"
        "webdavPath=/files/\n");
    fs::create_directories(vantry.dir() + "/www/files");
    WriteFile(vantry.dir() + "/www/files/in.txt", "in");
    WriteFile(vantry.dir() + "/www/out.txt", "out");
    vantry.Start();
    const auto ask = [&](const std::string& request) {
        return Exchange(vantry.address(), vantry.port1(), request);
    };
    const std::string root = ask("PROPFIND / HTTP/1.0\r\nDepth: 1\r\n\r\n");
    EXPECT_EQ(StatusOf(root), 207);
    EXPECT_TRUE(Has(root, "<D:href>/files/</D:href>")) << root;
    EXPECT_FALSE(Has(root, "out.txt"));
    EXPECT_TRUE(Has(ask("PROPFIND /files/ HTTP/1.0\r\nDepth: 1\r\n\r\n"),
                    "<D:href>/files/in.txt</D:href>"));
    EXPECT_EQ(StatusOf(ask("PUT /out.txt HTTP/1.0\r\nContent-Length: 1\r\n\r\nx")), 501);
    EXPECT_EQ(StatusOf(ask("DELETE /out.txt HTTP/1.0\r\n\r\n")), 400);
    EXPECT_EQ(StatusOf(ask("MOVE /files/in.txt HTTP/1.0\r\nDestination: /out2.txt\r\n\r\n")), 502);
    EXPECT_EQ(ReadFile(vantry.dir() + "/www/out.txt"), "out");
    EXPECT_EQ(StatusOf(ask("DELETE /files/in.txt HTTP/1.0\r\n\r\n")), 204);
    EXPECT_FALSE(fs::exists(vantry.dir() + "/www/files/in.txt"));
}

}  // namespace
}  // namespace e2e
