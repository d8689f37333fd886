// HTTPS through the real program and curl: the certificate vantry-cert makes, files, listings,
// scripts, uploads and logins over TLS beside plain HTTP, and a key file that is missing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "platform/ini_file.h"
#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kEchoScript = R"(binmode STDIN;
local $/;
my $in = <STDIN>;
print "Content-Type: text/plain\r\n\r\n";
print length($in), " [$in]";
)";

struct Outcome {
    int status = -1;  // curl's exit status
    std::string head;
    std::string body;
};

// Server 1 asks for logins, lists directories, runs scripts and takes uploads, over plain
// HTTP and over TLS on a port of its own, with a certificate made by vantry-cert for the
// instance's address.
class HttpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tlsPort = FreePort(vantry.address());
        ASSERT_NE(tlsPort, vantry.port1());
        const std::string& d = vantry.dir();
        ASSERT_EQ(Run({VANTRY_CERT_BINARY, "-o", d, vantry.address()}), 0);
        WriteFile(d + "/Vantry.ini",
                  "[Config]\nport=" + std::to_string(vantry.port1()) + "\nwwwroot=" + d +
                      "/www/\nlist=Y\ncgi=Y\nlogs=Y\n"
                      "uploadSaveLocation=" +
                      d + "/up\ntlsPort=" + std::to_string(tlsPort) + "\n" + tlsFiles);
        WriteFile(d + "/registry.reg", RegistryText("\"bob\"=\"pw\"\n", "1"));
        std::filesystem::create_directories(d + "/www/dir");
        std::filesystem::create_directories(d + "/www/cgi-bin");
        std::filesystem::create_directories(d + "/up");
        WriteFile(d + "/www/index.html", "<p>hello</p>\n");
        WriteFile(d + "/www/dir/a.txt", "a");
        WriteScript(d + "/www/cgi-bin/echo.pl", kEchoScript);
        std::string big(3 * 1024 * 1024 + 17, '\0');
        std::mt19937 random(11);
        for (char& c : big) c = static_cast<char>(random());
        WriteFile(d + "/www/big.bin", big);
        vantry.Start();
    }

    int Run(const std::vector<std::string>& args) {
        const std::string& d = vantry.dir();
        int status = WaitForProgram(Spawn(args, {}, "/dev/null", d + "/run.out", d + "/run.err"));
        ExpectNoFaults(d + "/run.err", args[0]);
        return status;
    }

    // curl over TLS, trusting only the test's certificate.
    Outcome Curl(const std::string& target, const std::vector<std::string>& options) {
        const std::string& d = vantry.dir();
        std::vector<std::string> args = {
            "/usr/bin/curl",   "-sS", "--max-time",     "30", "--cacert",
            d + "/vantry.crt", "-D",  d + "/curl.head", "-o", d + "/curl.body"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("https://" + vantry.address() + ":" + std::to_string(tlsPort) + target);
        std::filesystem::remove(d + "/curl.head");
        std::filesystem::remove(d + "/curl.body");
        Outcome outcome;
        outcome.status = Run(args);
        if (std::filesystem::exists(d + "/curl.head")) outcome.head = ReadFile(d + "/curl.head");
        if (std::filesystem::exists(d + "/curl.body")) outcome.body = ReadFile(d + "/curl.body");
        return outcome;
    }

    VantryInstance vantry;
    int tlsPort = 0;
    std::string tlsFiles = "tlsCertificate=vantry.crt\ntlsKey=vantry.key\n";
};

TEST_F(HttpsTest, ServesFilesListingsScriptsUploadsAndLoginsOverTls) {
    ASSERT_TRUE(vantry.WaitForStderr("Server 1: HTTPS on port " + std::to_string(tlsPort), 5s))
        << vantry.Stderr();
    const std::string& d = vantry.dir();
    const std::vector<std::string> login = {"-u", "bob:pw"};
    // Under the upload limit, and in many TLS records: the script and the upload get it whole.
    std::string upload;
    for (int i = 0; upload.size() < 900000; ++i) upload += std::to_string(i) + ",";
    WriteFile(d + "/upload.bin", upload);
    struct Case {
        std::string target;
        std::vector<std::string> options;
        std::string status;  // the status code
        std::string body;    // a part of the body; all of it when `whole`
        bool whole;
    };
    const std::vector<Case> cases = {
        {"/index.html", login, "200", ReadFile(d + "/www/index.html"), true},
        {"/big.bin", login, "200", ReadFile(d + "/www/big.bin"), true},
        {"/big.bin",
         {"-u", "bob:pw", "-r", "100000-"},
         "206",
         ReadFile(d + "/www/big.bin").substr(100000),
         true},
        {"/dir/", login, "200", "a.txt", false},
        {"/cgi-bin/echo.pl",
         {"-u", "bob:pw", "--data-binary", "x=1&y=2"},
         "200",
         "7 [x=1&y=2]",
         true},
        {"/cgi-bin/echo.pl",
         {"-u", "bob:pw", "--data-binary", "@" + d + "/upload.bin"},
         "200",
         std::to_string(upload.size()) + " [" + upload + "]",
         true},
        {"/VNT/HandleFileUpload.html",
         {"-u", "bob:pw", "--data-binary", "@" + d + "/upload.bin"},
         // The line feed that ends the head counts, as over plain HTTP.
         "200",
         std::to_string(upload.size() + 1) + " Bytes Received",
         false},
        {"/nothing.html", login, "404", "404 Object Not Found", false},
        {"/index.html", {}, "401", "", false},
    };
    // Over HTTP/1.1 and over HTTP/2, which a client that offers it gets.
    for (const auto& [protocol, statusLine] :
         {std::pair{"--http1.1", "HTTP/1.1 "}, std::pair{"--http2", "HTTP/2 "}}) {
        for (Case c : cases) {
            SCOPED_TRACE(c.target + " " + protocol);
            c.options.push_back(protocol);
            Outcome got = Curl(c.target, c.options);
            EXPECT_EQ(got.status, 0) << ReadFile(d + "/run.err");
            EXPECT_TRUE(got.head.starts_with(statusLine + c.status)) << got.head;
            if (c.whole) {
                EXPECT_TRUE(got.body == c.body)
                    << got.body.size() << " bytes, not " << c.body.size();
            } else {
                EXPECT_NE(got.body.find(c.body), std::string::npos) << got.body.substr(0, 500);
            }
        }
    }
    // HTTP/2 answers carry the file's entity tag, and a client that has the file gets 304.
    std::vector<std::string> http2 = login;
    http2.push_back("--http2");
    const std::string tagged = Curl("/index.html", http2).head;
    const size_t tagAt = tagged.find("etag: \"");
    ASSERT_NE(tagAt, std::string::npos) << tagged;
    const std::string tag = tagged.substr(tagAt + 6, tagged.find('\r', tagAt) - tagAt - 6);
    http2.insert(http2.end(), {"-H", "If-None-Match: " + tag});
    EXPECT_TRUE(Curl("/index.html", http2).head.starts_with("HTTP/2 304")) << tag;
    // Over TLS the pages link to the server over TLS: nothing of a listing leaves it.
    const std::string listing = Curl("/dir/", login).body;
    EXPECT_EQ(listing.find("http://" + vantry.address()), std::string::npos) << listing;
    EXPECT_NE(listing.find("https://" + vantry.address() + ":" + std::to_string(tlsPort) + "/VNT/"),
              std::string::npos)
        << listing;
    // Two requests share one TLS connection, the second a large file sent after the first.
    const std::string base = "https://" + vantry.address() + ":" + std::to_string(tlsPort);
    EXPECT_EQ(Run({"/usr/bin/curl", "-sS", "--max-time", "30", "--cacert", d + "/vantry.crt", "-u",
                   "bob:pw", "-o", "/dev/null", "-o", "/dev/null", "-w", "%{num_connects},",
                   base + "/index.html", base + "/big.bin"}),
              0);
    EXPECT_EQ(ReadFile(d + "/run.out"), "1,0,");
    // The upload is on disk whole.
    bool stored = false;
    for (const auto& entry : std::filesystem::directory_iterator(d + "/up")) {
        stored = stored || ReadFile(entry.path()).find(upload) != std::string::npos;
    }
    EXPECT_TRUE(stored);
    // Every answered request is logged as over plain HTTP.
    std::string log = vantry.WaitForLogLines(2 * cases.size() + 2);
    EXPECT_NE(log.find("127.0.0.1 - - ["), std::string::npos) << log;
    EXPECT_NE(log.find("\"/cgi-bin/echo.pl\" 200 "), std::string::npos) << log;

    // Plain HTTP goes on at the same time on its own port.
    std::string plain = Exchange(vantry.address(), vantry.port1(),
                                 "GET /index.html HTTP/1.0\r\n" + BasicLogin("bob:pw") + "\r\n");
    EXPECT_EQ(BodyOf(plain), ReadFile(d + "/www/index.html")) << plain;
    // TLS before 1.2 is refused.
    EXPECT_NE(Curl("/index.html", {"-u", "bob:pw", "--tls-max", "1.1"}).status, 0);
}

TEST_F(HttpsTest, Http2StreamsAtOnceOverFewConnectionsAreAllAnswered) {
    ASSERT_TRUE(vantry.WaitForStderr("Server 1: HTTPS on port " + std::to_string(tlsPort), 5s))
        << vantry.Stderr();
    const std::string& d = vantry.dir();
    const std::string base = "https://" + vantry.address() + ":" + std::to_string(tlsPort);
    // 400 requests, 50 streams at a time on each of 4 connections, files and a script.
    EXPECT_EQ(Run({"/usr/bin/h2load", "-n", "400", "-c", "4", "-m", "50", "-H",
                   "Authorization: Basic " + Base64Encode("bob:pw"), base + "/index.html",
                   base + "/big.bin", base + "/cgi-bin/echo.pl"}),
              0);
    const std::string report = ReadFile(d + "/run.out");
    EXPECT_NE(report.find("400 succeeded, 0 failed, 0 errored, 0 timeout"), std::string::npos)
        << report;
    EXPECT_NE(report.find("status codes: 400 2xx"), std::string::npos) << report;
    // Each stream is a request of its own in the log.
    const std::string log = vantry.WaitForLogLines(400);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 400);
}

// Bodies sent on many streams of one connection at once are held only up to a total: three
// streams of 60 MB each, sent side by side, cannot all be held, and what is refused is told
// 503 while the others are answered.
TEST_F(HttpsTest, Http2StreamsOfOneConnectionHoldOnlySoMuchOfTheirBodies) {
    ASSERT_TRUE(vantry.WaitForStderr("Server 1: HTTPS on port " + std::to_string(tlsPort), 5s))
        << vantry.Stderr();
    const std::string& d = vantry.dir();
    WriteFile(d + "/body.bin", std::string(60 * 1000 * 1000, 'b'));
    const std::string base = "https://" + vantry.address() + ":" + std::to_string(tlsPort);
    EXPECT_EQ(Run({"/usr/bin/h2load", "-n", "3", "-c", "1", "-m", "3", "-d", d + "/body.bin", "-H",
                   "Authorization: Basic " + Base64Encode("bob:pw"), base + "/index.html"}),
              0);
    const std::string report = ReadFile(d + "/run.out");
    EXPECT_NE(report.find("3 done"), std::string::npos) << report;
    std::smatch codes;
    ASSERT_TRUE(std::regex_search(report, codes,
                                  std::regex("status codes: (\\d+) 2xx, 0 3xx, 0 4xx, (\\d+) 5xx")))
        << report;
    EXPECT_GE(std::stoi(codes[1]), 1) << report;
    EXPECT_GE(std::stoi(codes[2]), 1) << report;
    EXPECT_TRUE(vantry.Running());
}

// An HTTP/2 client of its own frames over OpenSSL, with blocking reads bounded by a receive
// time-out: enough to open a connection, let it idle, and ask for one page on it.
class Http2Client {
  public:
    Http2Client(const std::string& address, int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        timeval limit{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return;
        context_ = SSL_CTX_new(TLS_client_method());
        static const unsigned char kAlpn[] = {2, 'h', '2'};
        SSL_CTX_set_alpn_protos(context_, kAlpn, sizeof kAlpn);
        ssl_ = SSL_new(context_);
        SSL_set_fd(ssl_, fd_);
        if (SSL_connect(ssl_) != 1) return;
        const unsigned char* protocol = nullptr;
        unsigned length = 0;
        SSL_get0_alpn_selected(ssl_, &protocol, &length);
        if (length != 2 || std::memcmp(protocol, "h2", 2) != 0) return;
        // The preface and empty settings; the server's settings are acknowledged when read.
        ok_ = Write("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n" + Frame(4, 0, 0, ""));
    }
    ~Http2Client() {
        if (ssl_ != nullptr) SSL_free(ssl_);
        if (context_ != nullptr) SSL_CTX_free(context_);
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return ok_; }

    // GET `path` on a new stream; the body of its answer, or nullopt when none came whole.
    std::optional<std::string> Get(const std::string& path, const std::string& authority,
                                   const std::string& authorization) {
        // Header fields as literals without indexing: an indexed name where the static
        // table has it (:authority 1, :path 4), GET and https indexed whole (2, 7).
        std::string block = "\x82\x87";
        block += Literal(4, "", path) + Literal(1, "", authority) +
                 Literal(0, "authorization", authorization);
        const uint32_t stream = nextStream_;
        nextStream_ += 2;
        if (!Write(Frame(1, 0x5, stream, block))) return std::nullopt;
        std::string body;
        bool headed = false;
        for (int frames = 0; frames < 1000; ++frames) {
            std::string header = Read(9);
            if (header.size() != 9) return std::nullopt;
            const size_t length = (static_cast<uint8_t>(header[0]) << 16) |
                                  (static_cast<uint8_t>(header[1]) << 8) |
                                  static_cast<uint8_t>(header[2]);
            const uint8_t type = static_cast<uint8_t>(header[3]);
            const uint8_t flags = static_cast<uint8_t>(header[4]);
            const uint32_t id = ntohl(ReadUint32(header.data() + 5)) & 0x7fffffffu;
            const std::string payload = Read(length);
            if (payload.size() != length) return std::nullopt;
            if (type == 4 && (flags & 1) == 0 && !Write(Frame(4, 1, 0, ""))) return std::nullopt;
            if (id != stream) continue;
            if (type == 1) headed = true;
            if (type == 0) body += payload;
            if ((type == 0 || type == 1) && (flags & 1) != 0) {
                if (headed) return body;
                return std::nullopt;
            }
            if (type == 3) return std::nullopt;  // reset
        }
        return std::nullopt;
    }

  private:
    static uint32_t ReadUint32(const char* bytes) {
        uint32_t value;
        std::memcpy(&value, bytes, 4);
        return value;
    }
    static std::string Frame(uint8_t type, uint8_t flags, uint32_t stream,
                             const std::string& payload) {
        std::string frame;
        frame += static_cast<char>(payload.size() >> 16);
        frame += static_cast<char>(payload.size() >> 8);
        frame += static_cast<char>(payload.size());
        frame += static_cast<char>(type);
        frame += static_cast<char>(flags);
        const uint32_t id = htonl(stream);
        frame.append(reinterpret_cast<const char*>(&id), 4);
        return frame + payload;
    }
    // Names and values of fewer than 127 bytes.
    static std::string Literal(int nameIndex, const std::string& name, const std::string& value) {
        std::string field(1, static_cast<char>(nameIndex));
        if (nameIndex == 0) field += static_cast<char>(name.size()) + name;
        return field + static_cast<char>(value.size()) + value;
    }
    bool Write(const std::string& bytes) {
        return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) ==
               static_cast<int>(bytes.size());
    }
    std::string Read(size_t count) {
        std::string bytes(count, '\0');
        size_t got = 0;
        while (got < count) {
            const int n = SSL_read(ssl_, bytes.data() + got, static_cast<int>(count - got));
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

    int fd_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    bool ok_ = false;
    uint32_t nextStream_ = 1;
};

TEST_F(HttpsTest, IdleHttp2ConnectionsHoldNoWorkerAndGoOnWhenAskedAgain) {
    ASSERT_TRUE(vantry.WaitForStderr("Server 1: HTTPS on port " + std::to_string(tlsPort), 5s))
        << vantry.Stderr();
    const std::string authority = vantry.address() + ":" + std::to_string(tlsPort);
    const std::string login = "Basic " + Base64Encode("bob:pw");
    const std::string page = ReadFile(vantry.dir() + "/www/index.html");
    // More HTTP/2 connections than the pool has objects, each asking once and then idle.
    std::vector<std::unique_ptr<Http2Client>> clients;
    for (int i = 0; i < 110; ++i) {
        clients.push_back(std::make_unique<Http2Client>(vantry.address(), tlsPort));
        ASSERT_TRUE(clients.back()->ok()) << i;
        ASSERT_EQ(clients.back()->Get("/index.html", authority, login), page) << i;
    }
    // A new client is answered at once, and so is each idle one when it asks again.
    Outcome fresh = Curl("/index.html", {"--http2", "-u", "bob:pw", "--max-time", "5"});
    EXPECT_EQ(fresh.status, 0) << ReadFile(vantry.dir() + "/run.err");
    EXPECT_EQ(fresh.body, page);
    for (size_t i : {size_t{0}, size_t{57}, clients.size() - 1}) {
        EXPECT_EQ(clients[i]->Get("/index.html", authority, login), page) << i;
        EXPECT_EQ(clients[i]->Get("/dir/a.txt", authority, login), "a") << i;
    }
}

TEST_F(HttpsTest, StalledAndBrokenHandshakesHoldNoWorker) {
    ASSERT_TRUE(vantry.WaitForStderr("Server 1: HTTPS on port " + std::to_string(tlsPort), 5s))
        << vantry.Stderr();
    // More clients than the pool has objects stop inside their hello: a record header that
    // announces 128 bytes, and no more.
    std::vector<std::unique_ptr<Client>> stalled;
    for (int i = 0; i < 110; ++i) {
        stalled.push_back(std::make_unique<Client>(vantry.address(), tlsPort));
        ASSERT_TRUE(stalled.back()->connected());
        stalled.back()->Send(std::string("\x16\x03\x01\x00\x80", 5));
    }
    for (auto& client : stalled) ASSERT_TRUE(client->WaitUntilServerRead());
    // Plain HTTP on the TLS port is no handshake: closed at once with a TLS alert at most.
    Client plain(vantry.address(), tlsPort);
    plain.Send("GET /index.html HTTP/1.0\r\n\r\n");
    const auto before = std::chrono::steady_clock::now();
    std::string alert = plain.ReadAll(5s);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 4s);
    EXPECT_LT(alert.size(), 16u);
    // A real client is answered at once all the same.
    Outcome got = Curl("/index.html", {"-u", "bob:pw", "--max-time", "5"});
    EXPECT_EQ(got.status, 0) << ReadFile(vantry.dir() + "/run.err");
    EXPECT_EQ(got.body, ReadFile(vantry.dir() + "/www/index.html"));
}

TEST_F(HttpsTest, VantryCertNamesTheMachineAndKeepsTheKeyPrivate) {
    const std::string& d = vantry.dir();
    ASSERT_EQ(Run({"/usr/bin/openssl", "x509", "-noout", "-text", "-in", d + "/vantry.crt"}), 0);
    std::string text = ReadFile(d + "/run.out");
    for (const std::string& name :
         {"Subject: CN = " + vantry.address(), "IP Address:" + vantry.address() + ", ",
          std::string("DNS:localhost"), std::string("IP Address:127.0.0.1"),
          std::string("IP Address:0:0:0:0:0:0:0:1"), std::string("CA:FALSE"),
          std::string("TLS Web Server Authentication")}) {
        EXPECT_NE(text.find(name), std::string::npos) << name << "\n" << text;
    }
    struct stat info {};
    ASSERT_EQ(::stat((d + "/vantry.key").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(HttpsTest, TheAdministrationTakesPostsFromItsOwnHttpsOrigin) {
    ASSERT_TRUE(vantry.WaitForStderr("Server 1: HTTPS on port " + std::to_string(tlsPort), 5s))
        << vantry.Stderr();
    const std::string host = vantry.address() + ":";
    struct Case {
        std::string origin;
        std::string statusLine;
    };
    const std::vector<Case> cases = {
        {"https://" + host + std::to_string(tlsPort), "HTTP/2 200"},
        {"http://" + host + std::to_string(tlsPort), "HTTP/2 403"},
        {"https://" + host + std::to_string(vantry.port1()), "HTTP/2 403"},
    };
    int serial = 0;
    for (const Case& c : cases) {
        const std::string site = "tls" + std::to_string(++serial);
        Outcome got = Curl("/admin/change.html",
                           {"-H", "Origin: " + c.origin, "--data", "SITE=" + site + "&LIST=on"});
        EXPECT_TRUE(got.head.starts_with(c.statusLine)) << c.origin << "\n" << got.head;
        const bool saved = platform::GetProfileString(vantry.dir() + "/Vantry.ini", "Config",
                                                      "servername", "") == site;
        EXPECT_EQ(saved, c.statusLine.find("200") != std::string::npos) << c.origin;
    }
}

class HttpsOnlyTest : public HttpsTest {
  protected:
    HttpsOnlyTest() { tlsFiles += "httpsOnly=Y\n"; }
    std::string AskPlain(const std::string& from, const std::string& request) {
        return ExchangeFrom(from, vantry.address(), vantry.port1(), request, 5s);
    }
};

TEST_F(HttpsOnlyTest, PlainRequestsOfOtherMachinesAreSentToTheSamePathOverTls) {
    ASSERT_TRUE(vantry.WaitForStderr("Server 1: HTTPS on port " + std::to_string(tlsPort), 5s))
        << vantry.Stderr();
    const std::string tls = ":" + std::to_string(tlsPort);
    const std::string redirect =
        "HTTP/1.0 301 Moved Permanently\r\nServer: Vantry/1.0\r\nLocation: ";
    EXPECT_EQ(AskPlain("127.0.0.3", "GET /dir/a%20b.txt?x=1 HTTP/1.0\r\n\r\n"),
              redirect + "https://" + vantry.address() + tls +
                  "/dir/a%20b.txt?x=1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(AskPlain("127.0.0.3", "POST /admin/ HTTP/1.0\r\nHost: home.example:8080\r\n\r\n"),
              redirect + "https://home.example" + tls + "/admin/\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(AskPlain("127.0.0.3", "GET / HTTP/1.0\r\nHost: evil\"><x\r\n\r\n"),
              redirect + "https://" + vantry.address() + tls + "/\r\nContent-Length: 0\r\n\r\n");
    // This machine's own clients (a proxy in front, say) are served as they ask.
    const std::string local =
        AskPlain("127.0.0.1", "GET /index.html HTTP/1.0\r\n" + BasicLogin("bob:pw") + "\r\n");
    EXPECT_EQ(BodyOf(local), "<p>hello</p>\n") << local;
    EXPECT_EQ(Curl("/index.html", {"-u", "bob:pw"}).body, "<p>hello</p>\n");
}

// A load balancer that passes TLS through sends its PROXY header before the handshake.
class ProxiedHttpsTest : public HttpsTest {
  protected:
    ProxiedHttpsTest() { tlsFiles += "proxyProtocol=Y\n"; }
};

TEST_F(ProxiedHttpsTest, TheHeaderComesBeforeTheHandshake) {
    ASSERT_TRUE(vantry.WaitForStderr("Server 1: HTTPS on port " + std::to_string(tlsPort), 5s))
        << vantry.Stderr();
    Outcome proxied = Curl("/index.html", {"-u", "bob:pw", "--haproxy-protocol"});
    EXPECT_EQ(proxied.body, "<p>hello</p>\n") << ReadFile(vantry.dir() + "/run.err");
    Outcome direct = Curl("/index.html", {"-u", "bob:pw"});
    EXPECT_NE(direct.status, 0) << "a handshake without the header is refused";
}

class MissingKeyTest : public HttpsTest {
  protected:
    MissingKeyTest() { tlsFiles = "tlsCertificate=vantry.crt\ntlsKey=gone.key\n"; }
};

TEST_F(MissingKeyTest, IsReportedAndOnlyPlainHttpRuns) {
    EXPECT_TRUE(vantry.WaitForStderr(
        "Server 1: HTTPS off: can't read tls key file gone.key: No such file or directory\n", 5s))
        << vantry.Stderr();
    std::string plain = Exchange(vantry.address(), vantry.port1(),
                                 "GET /index.html HTTP/1.0\r\n" + BasicLogin("bob:pw") + "\r\n");
    EXPECT_TRUE(plain.starts_with("HTTP/1.0 200 OK\r\n")) << plain;
    EXPECT_FALSE(Client(vantry.address(), tlsPort).connected());
}

}  // namespace
}  // namespace e2e
