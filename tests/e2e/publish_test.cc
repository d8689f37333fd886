// Address publishing against a real FTP server on loopback: the pages uploaded at start and
// stop, the command files left behind, the owner's scripts and their arguments, and the
// failures the owner is told of.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kTemplates = VANTRY_SOURCE_DIR "/resources/publish/";

// A pyftpdlib server on its own loopback address, with one user who may write in `home()`.
class FtpServer {
  public:
    FtpServer(const std::string& user, const std::string& password) {
        address_ = NextLoopbackAddress();
        port_ = FreePort(address_);
        pid_ = Spawn({"/usr/bin/python3", "-m", "pyftpdlib", "-i", address_, "-p",
                      std::to_string(port_), "-u", user, "-P", password, "-d", home(), "-w"},
                     {}, "/dev/null", dir_.File("log.txt"), dir_.File("log.txt"));
        if (!WaitUntil(10s, [this] { return Client(address_, port_).connected(); })) {
            throw std::runtime_error("the FTP server did not start: " +
                                     ReadFile(dir_.File("log.txt")));
        }
    }
    ~FtpServer() {
        ::kill(pid_, SIGTERM);
        bool ended = WaitUntil(5s, [this] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; });
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    std::string site() const { return address_ + ":" + std::to_string(port_); }
    const std::string& home() const { return dir_.path(); }

  private:
    testing_support::TempDir dir_{"vantry-ftp-home"};
    std::string address_;
    int port_ = 0;
    pid_t pid_ = -1;
};

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The page a template becomes for `address`, as it is written and uploaded.
std::string PageFor(const std::string& templateText, const std::string& address) {
    std::string page = templateText;
    const std::string placeholder = "Place Your IP Address Here";
    page.replace(page.find(placeholder), placeholder.size(), address);
    return WithCrLf(page);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

bool FileHolds(const std::string& path, const std::string& content) {
    return WaitUntil(10s, [&] { return ReadFile(path) == content; });
}

// A script that writes its arguments, one a line, to `output` once they are all there.
std::string ArgumentsScript(const std::string& output) {
    return "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + output + ".tmp && mv " + output +
           ".tmp " + output + "\n";
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::string PublishingIni(const std::string& server1, const std::string& server2 = "") {
    std::string ini = "[Config]\nport={port1}\nwwwroot={dir}/www/\n" + server1;
    if (!server2.empty()) {
        ini += "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\n" + server2 +
               "[Server-2]\nsecondPortEnabled=Y\n";
    }
    return ini;
}

TEST(PublishTest, StartUploadsTheRedirectPageAndStopTheOfflinePage) {
    FtpServer ftp("bob", "s3cret");
    std::filesystem::create_directories(ftp.home() + "/site");
    VantryInstance vantry(PublishingIni("redirectorEnabled=Y\nftpSiteName=" + ftp.site() +
                                        "\nftpUserID=bob\nftpPassword=s3cret\nftpPath=site\n"));
    // An older command file readable by others must not pass its mode on.
    WriteScript(vantry.dir() + "/VNTReDirector1ftpCmds.txt", "old", 0644);
    vantry.Start();

    const std::string uploaded = ftp.home() + "/site/index.html";
    const std::string redirect = PageFor(ReadFile(kTemplates + "VNTReDirector.html"),
                                         vantry.address() + ":" + std::to_string(vantry.port1()));
    EXPECT_TRUE(FileHolds(uploaded, redirect)) << ReadFile(uploaded) << vantry.Stderr();
    EXPECT_EQ(ReadFile(vantry.dir() + "/index.html"), redirect);
    const std::string commands =
        "user bob\r\ns3cret\r\ncd site\r\ndelete index.html\r\nput index.html\r\nbye\r\nquit\r\n";
    EXPECT_EQ(ReadFile(vantry.dir() + "/VNTReDirector1ftpCmds.txt"), commands);
    EXPECT_EQ(ModeOf(vantry.dir() + "/VNTReDirector1ftpCmds.txt"), 0600u);

    // The shut-down waits for the offline upload.
    EXPECT_EQ(vantry.Stop(), 0);
    EXPECT_EQ(ReadFile(uploaded), WithCrLf(ReadFile(kTemplates + "VNTOffline.html")));
    EXPECT_EQ(ReadFile(vantry.dir() + "/VNTOffline1ftpCmds.txt"), commands);
    EXPECT_EQ(ModeOf(vantry.dir() + "/VNTOffline1ftpCmds.txt"), 0600u);
    EXPECT_EQ(vantry.Stderr().find("Could not publish"), std::string::npos) << vantry.Stderr();
}

TEST(PublishTest, OwnTemplateAndJavaScriptTemplatePerServer) {
    FtpServer ftp("ann", "pw");
    std::filesystem::create_directories(ftp.home() + "/one");
    std::filesystem::create_directories(ftp.home() + "/two");
    const std::string settings = "redirectorEnabled=Y\nftpSiteName=" + ftp.site() +
                                 "\nftpUserID=ann\nftpPassword=pw\nftpUploadFileName=";
    VantryInstance vantry(PublishingIni(settings + "one.html\nftpPath=one\n",
                                        settings + "two.html\nftpPath=two\n"
                                                   "useJavaScriptRedirector=Y\n"));
    // The owner's template replaces the shipped one; only its first placeholder is replaced.
    WriteFile(vantry.dir() + "/VNTReDirector1.html",
              "<a href=\"http://Place Your IP Address Here/\">Place Your IP Address Here</a>\n");
    vantry.Start();
    ASSERT_TRUE(vantry.WaitForStderr("Server 2", 5s)) << vantry.Stderr();

    const std::string base = vantry.address() + ":";
    EXPECT_TRUE(FileHolds(ftp.home() + "/one/one.html",
                          "<a href=\"http://" + base + std::to_string(vantry.port1()) +
                              "/\">Place Your IP Address Here</a>\r\n"))
        << vantry.Stderr();
    EXPECT_TRUE(FileHolds(ftp.home() + "/two/two.html",
                          PageFor(ReadFile(kTemplates + "VNTJavaScriptReDirector2.html"),
                                  base + std::to_string(vantry.port2()))))
        << vantry.Stderr();
    EXPECT_EQ(vantry.Stop(), 0);
    EXPECT_EQ(ReadFile(ftp.home() + "/two/two.html"),
              WithCrLf(ReadFile(kTemplates + "VNTOffline.html")));
}

TEST(PublishTest, RedirectorOffStillRunsTheScriptsWithEachArgumentOneWord) {
    const std::string password = "two  words \"and 'quotes'\" $HOME";
    VantryInstance vantry(
        PublishingIni("redirectorEnabled=N\nftpSiteName=ftp.invalid\n"
                      "ftpUserID=me\nftpPassword=" +
                      password + "\nftpPath=/www\n"));
    WriteScript(vantry.dir() + "/UserStartup1.bat", ArgumentsScript("started.txt"));
    WriteScript(vantry.dir() + "/UserShutdown1.bat", ArgumentsScript("stopped.txt"));
    vantry.Start();

    const std::string arguments =
        Lines({"ftp.invalid", "me", password, "/www", "index.html", "Vantry V1.0", vantry.address(),
               std::to_string(vantry.port1())});
    EXPECT_TRUE(FileHolds(vantry.dir() + "/started.txt", arguments));
    EXPECT_EQ(vantry.Stop(), 0);
    EXPECT_EQ(ReadFile(vantry.dir() + "/stopped.txt"), arguments);
    for (const char* file : {"index.html", "VNTReDirector1ftpCmds.txt", "VNTOffline1ftpCmds.txt"}) {
        EXPECT_FALSE(std::filesystem::exists(vantry.dir() + "/" + file)) << file;
    }
    EXPECT_EQ(vantry.Stderr().find("Could not publish"), std::string::npos) << vantry.Stderr();
}

TEST(PublishTest, MovedServer2PublishesNothingAndFailuresAreReported) {
    FtpServer ftp("bob", "right");
    VantryInstance vantry(PublishingIni(
        "redirectorEnabled=Y\nftpSiteName=" + ftp.site() + "\nftpUserID=bob\nftpPassword=wrong\n",
        "redirectorEnabled=Y\nftpSiteName=" + ftp.site() + "\nftpUserID=bob\nftpPassword=right\n"));
    // Server 1's start-up command file cannot be written; its offline upload is refused.
    std::filesystem::create_directories(vantry.dir() + "/VNTReDirector1ftpCmds.txt");
    WriteScript(vantry.dir() + "/UserStartup2.bat", ArgumentsScript("started2.txt"));
    WriteScript(vantry.dir() + "/UserShutdown2.bat", ArgumentsScript("stopped2.txt"));
    // Something else holds Server 2's port, so it moves to another.
    std::optional<PortBlocker> blocker(std::in_place, vantry.address(), vantry.port2());
    vantry.Start();

    const std::string failure = "Could not publish index.html to " + ftp.site() + ": ";
    EXPECT_TRUE(
        vantry.WaitForStderr(failure + "rename VNTReDirector1ftpCmds.txt: Is a directory.\n", 5s))
        << vantry.Stderr();
    // The start-up script still runs, with the port Server 2 was configured for.
    EXPECT_TRUE(
        FileHolds(vantry.dir() + "/started2.txt",
                  Lines({ftp.site(), "bob", "right", "Your Home Page Location", "index.html",
                         "Vantry V1.0", vantry.address(), std::to_string(vantry.port2())})));
    EXPECT_EQ(vantry.Stop(), 0);
    blocker.reset();
    EXPECT_NE(vantry.Stderr().find(failure + "user bob: 530 "), std::string::npos)
        << vantry.Stderr();
    for (const char* file :
         {"VNTReDirector2ftpCmds.txt", "VNTOffline2ftpCmds.txt", "stopped2.txt"}) {
        EXPECT_FALSE(std::filesystem::exists(vantry.dir() + "/" + file)) << file;
    }
    EXPECT_FALSE(std::filesystem::exists(ftp.home() + "/index.html"));
}

}  // namespace
}  // namespace e2e
