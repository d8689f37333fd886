// The first-run installer through the real vantry: a headless installation checked file by
// file and then served, and the terminal questions answered through a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "platform/unique_fd.h"
#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kInstallResources = VANTRY_SOURCE_DIR "/resources/install/";
const std::string kSuccess = "This application was installed successfully on your machine.";

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A vantry without a configuration, with vantry-passwd and vantry-ftp beside it, a home whose
// name has a space in it and XDG directories of its own.
class InstallerTest : public ::testing::Test {
  protected:
    InstallerTest() : installer("") {
        std::filesystem::copy_file(VANTRY_PASSWD_BINARY, installer.dir() + "/vantry-passwd");
        std::filesystem::create_directories(home);
        installer.extraEnv = {
            {"HOME", home}, {"XDG_CONFIG_HOME", configHome}, {"XDG_DATA_HOME", dataHome}};
    }

    // Runs the installer on a pseudo-terminal, typing `input`; returns its exit status (-1
    // when it did not end by itself) and leaves what it showed in `screen`.
    int RunOnTerminal(const std::string& input, std::string& screen) {
        platform::UniqueFd terminal(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!terminal || ::grantpt(terminal.get()) != 0 || ::unlockpt(terminal.get()) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return -1;
        }
        const std::string side = ::ptsname(terminal.get());
        std::map<std::string, std::string> env = installer.extraEnv;
        env["XDG_RUNTIME_DIR"] = installer.dir() + "/run";
        pid_t pid = Spawn({installer.dir() + "/vantry"}, env, side, side,
                          installer.dir() + "/stderr.txt", installer.dir());
        // The terminal keeps the lines until the program reads them, one per question.
        EXPECT_EQ(::write(terminal.get(), input.data(), input.size()),
                  static_cast<ssize_t>(input.size()));
        int status = 0;
        bool ended = WaitUntil(30s, [&] {
            pollfd ready{terminal.get(), POLLIN, 0};
            char buffer[4096];
            while (::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0) {
                ssize_t n = ::read(terminal.get(), buffer, sizeof buffer);
                if (n <= 0) break;
                screen.append(buffer, static_cast<size_t>(n));
            }
            return ::waitpid(pid, &status, WNOHANG) == pid;
        });
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        // The next run replaces the standard error of this one.
        ExpectNoFaults(installer.dir() + "/stderr.txt", "the installer");
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool NothingWritten() const {
        return std::filesystem::is_empty(home) && !std::filesystem::exists(configHome) &&
               !std::filesystem::exists(dataHome);
    }

    VantryInstance installer;
    std::string home = installer.dir() + "/my home";
    std::string configHome = installer.dir() + "/config";
    std::string dataHome = installer.dir() + "/data";
    std::string installDir = home + "/Vantry/";
    std::string webRoot = installDir + "WWWRoot";
};

TEST_F(InstallerTest, HeadlessInstallationWritesEverythingAndTheInstalledCopyServesIt) {
    installer.Start({}, false);
    ASSERT_EQ(installer.WaitForExit(60s), 0) << installer.Stderr();
    EXPECT_NE(installer.Stderr().find(kSuccess + "\n"), std::string::npos) << installer.Stderr();

    const std::string menuEntry =
        "[Desktop Entry]\nType=Application\nName=Vantry\n"
        "Comment=Vantry V1.0\nExec=\"" +
        installDir +
        "vantry\"\n"
        "Path=" +
        installDir +
        "\nTerminal=true\n"
        "Categories=Network;WebServer;\n";
    struct Expected {
        std::string path;
        std::string content;
        mode_t mode;
    };
    const Expected files[] = {
        {installDir + "vantry", ReadFile(VANTRY_BINARY), 0755},
        {installDir + "vantry-passwd", ReadFile(VANTRY_PASSWD_BINARY), 0755},
        {installDir + "vantry-ftp", ReadFile(VANTRY_FTP_BINARY), 0755},
        {webRoot + "/Get Your Copy Of Vantry Here/vantry", ReadFile(VANTRY_BINARY), 0755},
        {installDir + "Re Distributing Vantry.doc",
         ReadFile(kInstallResources + "redistributing.txt"), 0644},
        {installDir + "Vantry Release Notes.html",
         ReadFile(kInstallResources + "release_notes.html"), 0644},
        {installDir + "fileid.diz", ReadFile(kInstallResources + "fileid.diz"), 0644},
        {dataHome + "/applications/vantry.desktop", menuEntry, 0644},
        {configHome + "/vantry/installation", installDir + "\n", 0644},
    };
    const mode_t umask = ::umask(0);  // the installer's too: it inherited it
    ::umask(umask);
    for (const Expected& file : files) {
        EXPECT_TRUE(ReadFile(file.path) == file.content) << file.path;
        EXPECT_EQ(ModeOf(file.path), file.mode & ~umask) << file.path;
    }
    // The starter site is one page in the modern look: the owner's texts under the navigation.
    const std::string starterPage = ReadFile(webRoot + "/index.html");
    for (const char* part : {"<!DOCTYPE html>", "<title>My Home Page</title>",
                             "<nav class=\"site\" aria-label=\"Site\"><a href=\"/\">Home</a>",
                             "<h1>Vantry</h1>\n<p>Thank you for visiting my web site.</p>\n"
                             "<p><a href=\"/VNT/help/\">Vantry Help</a></p>"}) {
        EXPECT_NE(starterPage.find(part), std::string::npos) << part << starterPage;
    }
    EXPECT_EQ(ModeOf(webRoot + "/index.html"), 0644 & ~umask);
    EXPECT_FALSE(std::filesystem::exists(webRoot + "/homepage.html"));
    EXPECT_TRUE(std::filesystem::is_directory(webRoot + "/cgi-bin"));
    EXPECT_FALSE(std::filesystem::exists(configHome + "/autostart")) << "autostart is off";
    EXPECT_FALSE(std::filesystem::exists(configHome + "/systemd")) << "the service is off";

    const std::string ini = installDir + "Vantry.ini";
    EXPECT_EQ(ModeOf(ini), 0600u);
    // The values themselves are the first configuration's (unit-tested): here, that the file
    // lands beside the installed program with the folders of this home.
    const std::pair<const char*, std::string> keys[] = {
        {"wwwroot", webRoot},
        {"favoritesLocation", home + "/Favorites"},
        {"uploadSaveLocation", installDir + "Incoming/Uploads"},
        {"messageSaveLocation", installDir + "Incoming/Messages"},
        {"postSaveLocation", installDir + "Incoming/Forms"}};
    for (const char* section : {"Config", "Server-2-Config"}) {
        for (const auto& [key, value] : keys) {
            EXPECT_EQ(platform::GetProfileString(ini, section, key, "(missing)"), value)
                << section << " " << key;
        }
    }
    std::string port1 = platform::GetProfileString(ini, "Config", "port", "");
    EXPECT_TRUE(port1 == "80" || port1 == "8080") << port1;
    // Switches that are off are not written at all.
    for (const char* key : {"httpsOnly", "userListPublic"}) {
        EXPECT_EQ(platform::GetProfileString(ini, "Config", key, "(missing)"), "(missing)") << key;
    }
    // The folders of what visitors send are the owner's alone.
    for (const char* folder :
         {"Incoming", "Incoming/Uploads", "Incoming/Messages", "Incoming/Forms"}) {
        EXPECT_EQ(ModeOf(installDir + folder), 0700u) << folder;
    }
    // The network drive is named in each server's section, off until the owner turns it on.
    for (const char* section : {"Config", "Server-2-Config"}) {
        EXPECT_EQ(platform::GetProfileString(ini, section, "webdav", "(missing)"), "N") << section;
        EXPECT_EQ(platform::GetProfileString(ini, section, "webdavPath", "(missing)"), "/")
            << section;
    }
    // A new installation keeps the case of header values for scripts, and says so.
    EXPECT_EQ(platform::GetProfileString(ini, "Request", "cgiKeepHeaderCase", ""), "Y");
    EXPECT_NE(ReadFile(ini).find("; Scripts see header values"), std::string::npos);

    // The installed copy starts as an ordinary installation (on a port of the test's own).
    VantryInstance server("");
    server.programDirectory = installDir;
    ASSERT_TRUE(
        platform::WriteProfileString(ini, "Config", "port", std::to_string(server.port1())));
    server.Start();
    auto ask = [&server](const std::string& request) {
        return Exchange(server.address(), server.port1(), request);
    };
    EXPECT_EQ(BodyOf(ask("GET / HTTP/1.0\r\n\r\n")), starterPage);
    EXPECT_EQ(server.Stop(), 0);

    // Installing again over it from another copy keeps the owner's configuration.
    const std::string configured = ReadFile(ini);
    installer.Start({}, false);
    ASSERT_EQ(installer.WaitForExit(60s), 0) << installer.Stderr();
    EXPECT_NE(installer.Stderr().find("Kept the existing " + ini + ".\n"), std::string::npos)
        << installer.Stderr();
    EXPECT_EQ(ReadFile(ini), configured);
}

TEST_F(InstallerTest, TerminalQuestionsTakeChangedAnswersAndQuitWritesNothing) {
    // One line per question: the first dialog's choice; the two folders, seven boxes (the
    // authority's certificate is asked after no to the self-signed one) and the choice of the
    // second; then title, heading, body, the Include box, the link's name and location and the
    // choice of the third.
    struct Case {
        const char* name;
        std::string input;
    };
    const Case quits[] = {
        {"Quit in the second dialog", "\n\n\n\n\n\n\n\n\n\nq\n"},
        {"end of input in the third dialog", "\n\n\n\n\n\n\n\n\n\n\nNew Title\n\x04"},
    };
    for (const Case& quit : quits) {
        std::string screen;
        EXPECT_EQ(RunOnTerminal(quit.input, screen), 1) << quit.name << "\n" << screen;
        EXPECT_TRUE(NothingWritten()) << quit.name;
    }

    // Installed into the directory the program runs from: it is not copied onto itself.
    const std::string here = installer.dir() + "/";
    struct stat before {};
    ASSERT_EQ(::stat((here + "vantry").c_str(), &before), 0);
    std::string screen;
    // After HTTPS, the network drive with writing, under /dav/.
    ASSERT_EQ(
        RunOnTerminal("\n" + here + "\n\nn\ny\ny\ny\ny\ny\ny\ndav\n\n\nNew Title\n\n\nn\n\n\n\n",
                      screen),
        0)
        << screen << installer.Stderr();
    struct stat after {};
    ASSERT_EQ(::stat((here + "vantry").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_NE(screen.find("Install Vantry To: [" + installDir + "] "), std::string::npos) << screen;
    EXPECT_NE(screen.find(kSuccess), std::string::npos) << screen;
    EXPECT_EQ(ModeOf(here + "Vantry.ini"), 0600u);
    EXPECT_EQ(ReadFile(configHome + "/vantry/installation"), here + "\n");
    // The page's own bytes are the starter page's (unit-tested): here, that the answers reach it.
    const std::string starterPage = ReadFile(webRoot + "/index.html");
    EXPECT_NE(starterPage.find("<title>New Title</title>"), std::string::npos) << starterPage;
    EXPECT_EQ(starterPage.find("Vantry Help"), std::string::npos) << "Include was cleared";
    EXPECT_FALSE(std::filesystem::exists(dataHome + "/applications/vantry.desktop"));
    std::string autostart = ReadFile(configHome + "/autostart/vantry.desktop");
    EXPECT_NE(autostart.find("\nExec=" + here + "vantry --headless\n"), std::string::npos)
        << autostart;
    std::string unit = ReadFile(configHome + "/systemd/user/vantry.service");
    for (const std::string& line :
         {"\nWorkingDirectory=" + here + "\n", "\nExecStart=\"" + here + "vantry\" --headless\n",
          std::string("\nRestart=on-failure\n"), std::string("\nKillSignal=SIGTERM\n")}) {
        EXPECT_NE(unit.find(line), std::string::npos) << line << unit;
    }
    EXPECT_NE(screen.find("systemctl --user enable --now vantry"), std::string::npos) << screen;
    // The certificate asked for is made beside the program, and Server 1 serves HTTPS with it,
    // and with the follow-up question answered yes, to other computers only over HTTPS.
    EXPECT_NE(screen.find("Send other computers' plain HTTP requests on to HTTPS. [y/N] "),
              std::string::npos)
        << screen;
    EXPECT_TRUE(ReadFile(here + "vantry.crt").starts_with("-----BEGIN CERTIFICATE-----\n"));
    EXPECT_EQ(ModeOf(here + "vantry.key"), 0600u);
    EXPECT_NE(ReadFile(here + "Vantry.ini")
                  .find("tlsPort=8443\ntlsCertificate=" + here + "vantry.crt\ntlsKey=" + here +
                        "vantry.key\nhttpsOnly=Y\n"),
              std::string::npos)
        << ReadFile(here + "Vantry.ini");
    EXPECT_NE(screen.find("Let visitors change the files on the network drive (a login is needed "
                          "unless they are on this machine). [y/N] "),
              std::string::npos)
        << screen;
    const std::string ini = here + "Vantry.ini";
    for (const char* section : {"Config", "Server-2-Config"}) {
        EXPECT_EQ(platform::GetProfileString(ini, section, "webdav", "(missing)"), "W") << section;
        EXPECT_EQ(platform::GetProfileString(ini, section, "webdavPath", "(missing)"), "/dav/")
            << section;
    }

    // Without the starter page there is no page dialog and no home page: the root is listed.
    // A web root of several new levels is made level by level. The certificate authority's
    // dialog follows its box: a name that is none is asked again, and with the terms accepted
    // Server 1's section names the authority, and HTTPS on 443.
    std::filesystem::remove(here + "Vantry.ini");
    screen.clear();
    ASSERT_EQ(RunOnTerminal("\n\n~/a/b/c\nn\nn\n\n\ny\n\n\nn\n\n"
                            "example.com:443\nexample.com www.example.com\n\ny\n\n",
                            screen),
              0)
        << screen;
    EXPECT_NE(screen.find("\"example.com:443\" is not a domain name."), std::string::npos)
        << screen;
    const std::string firstIni = installDir + "Vantry.ini";
    const std::pair<const char*, std::string> acmeKeys[] = {
        {"acmeDomains", "example.com www.example.com"},
        {"acmeDirectory", "https://acme-v02.api.letsencrypt.org/directory"},
        {"acmeAccept", "Y"},
        {"tlsPort", "443"}};
    for (const auto& [key, value] : acmeKeys) {
        EXPECT_EQ(platform::GetProfileString(firstIni, "Config", key, "(missing)"), value) << key;
    }
    EXPECT_EQ(platform::GetProfileString(firstIni, "Config", "port", "") == "80",
              screen.find("forward port 80 to 8080") == std::string::npos)
        << screen;
    EXPECT_EQ(screen.find("Page Title:"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("on to HTTPS"), std::string::npos) << "asked only with the certificate";
    EXPECT_TRUE(std::filesystem::is_directory(home + "/a/b/c"));
    EXPECT_FALSE(std::filesystem::exists(home + "/a/b/c/index.html"));
    EXPECT_EQ(screen.find("URL prefix"), std::string::npos) << "asked only with the drive";
    EXPECT_EQ(
        platform::GetProfileString(installDir + "Vantry.ini", "Server-2-Config", "webdav", "(no)"),
        "N");
}

}  // namespace
}  // namespace e2e
