// The control panel in a real terminal: vantry runs without --headless in a private tmux
// server, keys and clicks are sent to it and the screen is read back. Headless, the QR code
// of the home page goes to standard error.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/qr_reader.h"
#include "tests/e2e/vantry_instance.h"
#include "tests/support/process_watch.h"

namespace e2e {
namespace {

using std::chrono::seconds;

constexpr int kColumns = 100;
constexpr int kRows = 32;
// A terminal that is back in its normal state reads lines and echoes them.
constexpr const char* kRestoredTerminal = "icanon echo";

// The tray menu's items as the screen shows them, a separator as "-".
const std::vector<std::string> kMenuOneServer = {"Stop Server",
                                                 "-",
                                                 "Hide Control Panel",
                                                 "-",
                                                 "Server 1 Home...",
                                                 "Server 1 Admin...",
                                                 "Server Properties...",
                                                 "Add Or Change Passwords...",
                                                 "-",
                                                 "Help...",
                                                 "About Vantry...",
                                                 "VNT Home...",
                                                 "-",
                                                 "Exit"};
const std::vector<std::string> kMenuTwoServers = {"Stop Server 1",
                                                  "-",
                                                  "Stop Server 2",
                                                  "-",
                                                  "Hide Control Panel",
                                                  "-",
                                                  "Server 1 Home...",
                                                  "Server 2 Home...",
                                                  "Server 1 Admin...",
                                                  "Server 2 Admin...",
                                                  "Server Properties...",
                                                  "Add Or Change Passwords...",
                                                  "-",
                                                  "Help...",
                                                  "About Vantry...",
                                                  "VNT Home...",
                                                  "-",
                                                  "Exit"};

// One vantry instance shown in a tmux pane of its own tmux server. The pane runs a script
// that starts vantry in the instance directory, then writes "EXITED" with its status and
// the terminal's line settings, so the test can see what the program left behind. Its
// standard error goes to the instance's file, which the instance reads for faults at the end.
class PanelSession {
  public:
    // `locale`, when given, is the pane's LC_ALL.
    explicit PanelSession(const std::string& ini = VantryInstance::DefaultIni(),
                          const std::string& locale = "")
        : instance(ini) {
        std::filesystem::copy_file(VANTRY_PASSWD_BINARY, instance.dir() + "/vantry-passwd");
        // The browser notes every address; it fails for help pages, as a missing one would.
        WriteScript(File("browser.sh"),
                    "#!/bin/sh\necho \"$@\" >> '" + File("browser.txt") +
                        "'\ncase \"$1\" in *help*) exit 3;; esac\n",
                    0755);
        WriteScript(File("pane.sh"),
                    "#!/bin/sh\ncd '" + instance.dir() +
                        "'\n"
                        "export TERM=screen XDG_RUNTIME_DIR='" +
                        File("run") + "' VANTRY_REGISTRY='" + File("registry.reg") + "' HOME='" +
                        instance.dir() + "' BROWSER='" + File("browser.sh") + "'\n" +
                        (locale.empty() ? "" : "export LC_ALL=" + locale + "\n") +
                        "sh -c 'echo $$ > vantry.pid; exec ./vantry -bind " + instance.address() +
                        " 2>stderr.txt'\n"
                        "echo EXITED $? $(stty -a | tr ' ;' '\\n\\n' |"
                        " grep -x -e icanon -e -icanon -e echo -e -echo)\n",
                    0755);
        Tmux({"start-server", ";", "set-option", "-g", "remain-on-exit", "on", ";", "new-session",
              "-d", "-x", std::to_string(kColumns), "-y", std::to_string(kRows), File("pane.sh")});
    }
    ~PanelSession() {
        pid_t vantry = VantryPid();
        Tmux({"kill-server"});
        // Its last words (a leak report, say) come as it ends.
        if (vantry > 0) testing_support::ProcessGone(vantry, seconds(10));
    }

    std::string File(const std::string& name) const { return instance.dir() + "/" + name; }

    // Runs one tmux command line against this session's server; returns what it printed.
    std::string Tmux(std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/env", "-u", "TMUX", "tmux", "-S", File("tmux.sock"),
                                   "-f", "/dev/null"});
        pid_t pid = Spawn(args, {}, "/dev/null", File("tmux.out"), File("tmux.err"));
        int status = 0;
        if (!WaitUntil(seconds(10), [&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        return ReadFile(File("tmux.out"));
    }

    std::string Screen() { return Tmux({"capture-pane", "-p"}); }
    // Waits until the screen holds `text` (or, with `present` false, no longer does).
    bool WaitFor(const std::string& text, bool present = true) {
        return WaitUntil(seconds(10),
                         [&] { return (Screen().find(text) != std::string::npos) == present; });
    }
    void Keys(const std::vector<std::string>& keys) {
        std::vector<std::string> args = {"send-keys"};
        args.insert(args.end(), keys.begin(), keys.end());
        Tmux(args);
    }
    // A press and a release of the first button on the cell at `row`, `column` (counted from
    // 0), in the terminal's mouse encoding.
    void Click(int row, int column) {
        for (const char* button : {"20", "23"}) {
            std::ostringstream x, y;
            x << std::hex << 33 + column;
            y << std::hex << 33 + row;
            Tmux({"send-keys", "-H", "1b", "5b", "4d", button, x.str(), y.str()});
        }
    }
    // Where `text` first stands on the screen; {-1, -1} when nowhere.
    std::pair<int, int> Find(const std::string& text) {
        std::istringstream lines(Screen());
        std::string line;
        for (int row = 0; std::getline(lines, line); ++row) {
            size_t at = line.find(text);
            if (at != std::string::npos) return {row, static_cast<int>(at)};
        }
        return {-1, -1};
    }
    // The open tray menu's items, top to bottom.
    std::vector<std::string> Menu() {
        std::vector<std::string> items;
        std::istringstream lines(Screen());
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind("|-", 0) == 0) {
                items.push_back("-");
            } else if (line.rfind("| ", 0) == 0) {
                size_t end = line.find('|', 1);
                std::string label = line.substr(2, end - 2);
                items.push_back(label.substr(0, label.find_last_not_of(' ') + 1));
            }
        }
        return items;
    }
    pid_t VantryPid() { return static_cast<pid_t>(std::stol("0" + ReadFile(File("vantry.pid")))); }
    bool Serving() { return Client(instance.address(), instance.port1()).connected(); }
    std::string Browsed() { return ReadFile(File("browser.txt")); }
    bool WaitForBrowsed(const std::string& line) {
        return WaitUntil(seconds(10),
                         [&] { return Browsed().find(line + "\n") != std::string::npos; });
    }
    // Waits for the pane's script to report that vantry ended, checks the terminal it left
    // and returns vantry's exit status. A resize may have pushed the report into the pane's
    // history.
    int ExpectEndedAndRestored() {
        std::string screen;
        size_t at = std::string::npos;
        bool ended = WaitUntil(seconds(10), [&] {
            screen = Tmux({"capture-pane", "-p", "-S", "-"});
            return (at = screen.find("EXITED ")) != std::string::npos;
        });
        EXPECT_TRUE(ended) << screen;
        if (!ended) return -1;
        std::istringstream report(screen.substr(at + 7));
        int status = -1;
        std::string settings;
        report >> status;
        std::getline(report, settings);
        EXPECT_EQ(settings, std::string(" ") + kRestoredTerminal) << screen;
        EXPECT_EQ(screen.find("Control Panel"), std::string::npos) << screen;
        return status;
    }

    VantryInstance instance;
};

TEST(ControlPanelTest, ShowsTheServerAndRunsItsCommandsUntilExit) {
    PanelSession panel;
    const std::string address = panel.instance.address();
    const std::string port = std::to_string(panel.instance.port1());
    ASSERT_TRUE(panel.WaitFor(address + "  Vantry Running")) << panel.Screen();
    std::string screen = panel.Screen();
    for (const char* text :
         {"Vantry V1.0 Control Panel", "[H] Hide", "[S] Start", "[B] About", "[C] Configure",
          "[T] Stop", "[X] Exit", "[2] Home 2", "[V] VNT Home", "[1] Home 1", "[A] Admin 1",
          "[D] Admin 2", "[P] Passwords", "[?] Help", "[M] Menu",
          "You can hide this Control Panel with the Hide button"}) {
        EXPECT_NE(screen.find(text), std::string::npos) << text << "\n" << screen;
    }
    EXPECT_NE(screen.find("IP Address:  " + address + " "), std::string::npos) << screen;
    EXPECT_NE(screen.find("[            Vantry Running            ]"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("certificate"), std::string::npos) << "obtains none" << screen;

    // Stop and Start, each disabled while it makes no sense.
    panel.Keys({"t"});
    ASSERT_TRUE(panel.WaitFor(address + "  Vantry Not Running")) << panel.Screen();
    EXPECT_NE(panel.Screen().find("[          Vantry Not Running          ]"), std::string::npos);
    EXPECT_FALSE(panel.Serving());
    // Help comes from Server 1: while it is down the panel says so instead.
    panel.Keys({"?"});
    ASSERT_TRUE(panel.WaitFor("Server 1, which is not running")) << panel.Screen();
    panel.Keys({"t", "s"});
    ASSERT_TRUE(panel.WaitFor(address + "  Vantry Running")) << panel.Screen();
    EXPECT_TRUE(panel.Serving());

    panel.Keys({"m"});
    ASSERT_TRUE(panel.WaitFor("| Exit")) << panel.Screen();
    EXPECT_EQ(panel.Menu(), kMenuOneServer);
    panel.Keys({"Escape"});
    ASSERT_TRUE(panel.WaitFor("| Exit", false));

    panel.Keys({"1", "a", "b"});
    EXPECT_TRUE(panel.WaitForBrowsed("http://" + address + ":" + port));
    EXPECT_TRUE(panel.WaitForBrowsed("http://" + address + ":" + port + "/admin/index.html"));
    EXPECT_TRUE(panel.WaitForBrowsed("http://" + address + ":" + port + "/admin/about.html"));

    // Hide leaves the tray line alone; its menu brings the panel back.
    panel.Keys({"h"});
    ASSERT_TRUE(panel.WaitFor("Vantry V1.0 Control Panel", false)) << panel.Screen();
    EXPECT_NE(panel.Screen().find(address + "  Vantry Running"), std::string::npos);
    panel.Keys({"t", "m"});  // no buttons while hidden
    ASSERT_TRUE(panel.WaitFor("| Show Control Panel")) << panel.Screen();
    EXPECT_TRUE(panel.Serving());
    panel.Keys({"Down", "Enter"});
    ASSERT_TRUE(panel.WaitFor("Vantry V1.0 Control Panel")) << panel.Screen();

    // A new size lays the panel out afresh; a tiny one shows what fits.
    panel.Tmux({"resize-window", "-x", "60", "-y", "20"});
    ASSERT_TRUE(WaitUntil(seconds(10), [&] { return panel.Find("[M] Menu") == std::pair(19, 51); }))
        << panel.Screen();
    EXPECT_EQ(panel.Find("[X] Exit").second, 1) << panel.Screen();
    panel.Tmux({"resize-window", "-x", "8", "-y", "2"});
    panel.Tmux({"resize-window", "-x", std::to_string(kColumns), "-y", std::to_string(kRows)});
    ASSERT_TRUE(panel.WaitFor("[S] Start  [B] About")) << panel.Screen();

    // Exit asks first: No keeps it running, Yes ends it and saves the configuration.
    panel.Keys({"x"});
    ASSERT_TRUE(panel.WaitFor("Are you sure you want to quit Vantry and stop the server?"))
        << panel.Screen();
    EXPECT_NE(panel.Screen().find("+- Vantry V1.0 -"), std::string::npos) << panel.Screen();
    panel.Keys({"n"});
    ASSERT_TRUE(panel.WaitFor("Are you sure", false));
    EXPECT_TRUE(panel.Serving());
    panel.Keys({"x", "y"});
    EXPECT_EQ(panel.ExpectEndedAndRestored(), 0);
    EXPECT_NE(ReadFile(panel.File("Vantry.ini")).find("secondPortEnabled=N"), std::string::npos);
}

TEST(ControlPanelTest, MenuOfTwoServersClicksAndTermination) {
    PanelSession panel(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\n"
        "[Server-2]\nsecondPortEnabled=Y\n"
        "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\n");
    const std::string address = panel.instance.address();
    ASSERT_TRUE(panel.WaitFor(address + "  Vantry Running")) << panel.Screen();
    panel.Keys({"F10"});
    ASSERT_TRUE(panel.WaitFor("| Exit")) << panel.Screen();
    EXPECT_EQ(panel.Menu(), kMenuTwoServers);

    // Server 2 shows only in the menu.
    panel.Keys({"Down", "Enter"});
    ASSERT_TRUE(panel.WaitFor("| Exit", false));
    EXPECT_NE(panel.Screen().find(address + "  Vantry Running"), std::string::npos);
    EXPECT_FALSE(Client(address, panel.instance.port2()).connected());
    panel.Keys({"2"});
    std::string port2 = std::to_string(panel.instance.port2());
    EXPECT_TRUE(panel.WaitForBrowsed("http://" + address + ":" + port2));

    // A click on the tray line opens the menu, one on an item chooses it, one on a button
    // presses it.
    panel.Click(kRows - 1, 10);
    ASSERT_TRUE(panel.WaitFor("| Start Server 2")) << panel.Screen();
    auto [row, column] = panel.Find("Stop Server 1");
    panel.Click(row, column);
    ASSERT_TRUE(panel.WaitFor(address + "  Vantry Not Running")) << panel.Screen();
    auto start = panel.Find("[S] Start");
    panel.Click(start.first, start.second + 2);
    ASSERT_TRUE(panel.WaitFor(address + "  Vantry Running")) << panel.Screen();
    EXPECT_TRUE(panel.Serving());
    EXPECT_TRUE(Client(address, panel.instance.port2()).connected());

    // SIGTERM is a confirmed Exit, and the terminal is put back.
    ASSERT_EQ(::kill(panel.VantryPid(), SIGTERM), 0);
    EXPECT_EQ(panel.ExpectEndedAndRestored(), 0);
}

TEST(ControlPanelTest, PasswordsBorrowTheTerminalAndMessagesAreModal) {
    PanelSession panel("[Config]\nport={port1}\nwwwroot=www/\n");
    ASSERT_TRUE(panel.WaitFor("Vantry Running")) << panel.Screen();

    // A status message stays on its line until the next key.
    const std::string notice =
        "Server 1 serves no files: its root \"www/\" is not an absolute path.";
    EXPECT_EQ(panel.Find(notice), std::pair(kRows - 2, 0)) << panel.Screen();
    panel.Keys({"Escape"});
    ASSERT_TRUE(panel.WaitFor(notice, false)) << panel.Screen();

    // The password manager gets the terminal; SIGINT meant for it leaves the servers alone.
    panel.Keys({"p"});
    ASSERT_TRUE(panel.WaitFor("Choice:")) << panel.Screen();
    ASSERT_EQ(::kill(panel.VantryPid(), SIGINT), 0);
    // The password prompts drop what was typed ahead: each answer waits for its prompt.
    panel.Keys({"2", "Enter", "bob", "Enter"});
    ASSERT_TRUE(panel.WaitFor("New password for bob:")) << panel.Screen();
    panel.Keys({"secret", "Enter"});
    ASSERT_TRUE(panel.WaitFor("Retype the password:")) << panel.Screen();
    panel.Keys({"secret", "Enter"});
    ASSERT_TRUE(panel.WaitFor("Added the user bob.")) << panel.Screen();
    EXPECT_TRUE(panel.Serving());
    panel.Keys({"6", "Enter"});
    ASSERT_TRUE(panel.WaitFor("Vantry V1.0 Control Panel")) << panel.Screen();
    std::string registry = ReadFile(panel.File("registry.reg"));
    EXPECT_NE(registry.find("\"bob\"=\"$"), std::string::npos) << "stored as a hash: " << registry;
    EXPECT_EQ(registry.find("secret"), std::string::npos) << registry;
    EXPECT_EQ(panel.Screen().find("Are you sure"), std::string::npos);

    std::filesystem::remove(panel.File("vantry-passwd"));
    panel.Keys({"p"});
    ASSERT_TRUE(
        panel.WaitFor("The Program vantry-passwd Was Not Found In The Same Location As vantry"))
        << panel.Screen();
    EXPECT_NE(panel.Screen().find("+- Sorry -"), std::string::npos) << panel.Screen();
    panel.Keys({"Enter"});
    ASSERT_TRUE(panel.WaitFor("+- Sorry -", false));

    panel.Keys({"?"});
    ASSERT_TRUE(panel.WaitFor("Error: Can't locate a browser.")) << panel.Screen();
    EXPECT_NE(panel.Screen().find("+- Vantry -"), std::string::npos) << panel.Screen();
    EXPECT_NE(
        panel.Browsed().find("http://" + panel.instance.address() + ":" +
                             std::to_string(panel.instance.port1()) + "/VNT/help/ControlPanel"),
        std::string::npos);
    panel.Keys({"Escape"});
    ASSERT_TRUE(panel.WaitFor("Error: Can't", false));

    // Outside the password manager, SIGINT asks first.
    ASSERT_EQ(::kill(panel.VantryPid(), SIGINT), 0);
    ASSERT_TRUE(panel.WaitFor("Are you sure you want to quit Vantry")) << panel.Screen();
    panel.Keys({"Enter"});
    EXPECT_EQ(panel.ExpectEndedAndRestored(), 0);
}

TEST(ControlPanelTest, ACrashStillRestoresTheTerminal) {
    PanelSession panel;
    ASSERT_TRUE(panel.WaitFor("Vantry Running")) << panel.Screen();
    panel.instance.deliberateSignal = SIGSEGV;
    ASSERT_EQ(::kill(panel.VantryPid(), SIGSEGV), 0);
    // The signal ends it (a sanitizer's report ends it with status 1 instead).
    EXPECT_NE(panel.ExpectEndedAndRestored(), 0);
}

// Each server that obtains its certificate shows it under the state: waiting while it has
// none, then the day it expires once its keeper finds one. The others show nothing of it.
TEST(ControlPanelTest, ShowsTheCertificatesTheServersObtain) {
    PanelSession panel(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nacmeDomains=example.com\n"
        "[Server-2]\nsecondPortEnabled=Y\n"
        "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\nacmeDomains=example.org\n");
    ASSERT_TRUE(panel.WaitFor("Vantry Running")) << panel.Screen();
    ASSERT_TRUE(panel.WaitFor("Server 2 certificate: waiting")) << panel.Screen();
    const int state = panel.Find("Vantry Running").first;
    EXPECT_EQ(panel.Find("Server 1 certificate: waiting").first, state + 1) << panel.Screen();
    EXPECT_EQ(panel.Find("Server 2 certificate: waiting").first, state + 2) << panel.Screen();

    // A certificate (vantry-cert's, valid ten years) where Server 1 keeps the one it obtains:
    // the keeper started with the server's next start finds it.
    const std::string folder = panel.File("certificates/example.com/");
    std::filesystem::create_directories(folder);
    const std::time_t made = std::time(nullptr);
    ASSERT_EQ(WaitForProgram(Spawn({VANTRY_CERT_BINARY, "-o", folder, "example.com"}, {},
                                   "/dev/null", panel.File("cert.out"), panel.File("cert.err"))),
              0);
    std::filesystem::rename(folder + "vantry.crt", folder + "fullchain.pem");
    std::filesystem::rename(folder + "vantry.key", folder + "privkey.pem");
    panel.Keys({"t"});
    ASSERT_TRUE(panel.WaitFor("Vantry Not Running")) << panel.Screen();
    panel.Keys({"s"});
    ASSERT_TRUE(panel.WaitFor("Server 1 certificate valid until ")) << panel.Screen();
    const std::time_t expiry = made + 3650 * 24 * 3600;
    std::tm parts{};
    gmtime_r(&expiry, &parts);
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &parts);
    EXPECT_EQ(panel.Find(std::string("Server 1 certificate valid until ") + day).first, state + 1)
        << panel.Screen();
    EXPECT_EQ(panel.Find("Server 2 certificate: waiting").first, state + 2) << panel.Screen();
    panel.Keys({"x", "y"});
    EXPECT_EQ(panel.ExpectEndedAndRestored(), 0);
}

TEST(ControlPanelTest, QShowsTheQrCodeOfTheHomePageUntilAnyKey) {
    // Half blocks where the terminal takes UTF-8; reversed blanks elsewhere, where the tray
    // line at the bottom is reversed too and not part of the code.
    struct Case {
        const char* locale;
        std::vector<std::string> capture;
        ModuleRows (*modules)(const std::string& screen);
    };
    const Case cases[] = {
        {"C.UTF-8",
         {"capture-pane", "-p"},
         [](const std::string& s) { return HalfBlockModules(s); }},
        {"C",
         {"capture-pane", "-p", "-e", "-N"},
         [](const std::string& s) { return ReversedCellModules(s, 1); }},
    };
    for (const Case& test : cases) {
        PanelSession panel(VantryInstance::DefaultIni(), test.locale);
        const std::string url = "http://" + panel.instance.address() + ":" +
                                std::to_string(panel.instance.port1()) + "/";
        ASSERT_TRUE(panel.WaitFor("Vantry Running")) << panel.Screen();
        panel.Keys({"q"});
        ASSERT_TRUE(panel.WaitFor(url + "  (any key returns)")) << panel.Screen();
        std::string screen = panel.Tmux(test.capture);
        EXPECT_EQ(DecodeQrCode(test.modules(screen), panel.instance.dir()), url)
            << test.locale << "\n"
            << screen;
        panel.Keys({"z"});
        ASSERT_TRUE(panel.WaitFor("Vantry V1.0 Control Panel")) << panel.Screen();
        EXPECT_TRUE(panel.Serving());
        panel.Keys({"x", "y"});
        EXPECT_EQ(panel.ExpectEndedAndRestored(), 0);
    }
}

// The QR code of Server 1's home page: written headless at start and by --qr, and read back
// by a decoder as the address the links carry.
TEST(QrCodeTest, HeadlessStartAndQrOptionWriteACodeOfTheHomePage) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool qrCode;
    };
    const Case cases[] = {{"headless start", {}, true}, {"--no-qr", {"--no-qr"}, false}};
    for (const Case& test : cases) {
        VantryInstance server;
        server.Start(test.args);
        const std::string url =
            "http://" + server.address() + ":" + std::to_string(server.port1()) + "/";
        const std::string running =
            "Vantry Running (Server 1, port " + std::to_string(server.port1()) + ")\n";
        if (test.qrCode) {
            ASSERT_TRUE(server.WaitForStderr(url + "\n", std::chrono::seconds(10)))
                << test.name << server.Stderr();
            // The status line comes first, whole, as the tools that read it expect.
            std::string errors = server.Stderr();
            EXPECT_LT(errors.find(running), errors.find("\u2588")) << errors;
            EXPECT_EQ(DecodeQrCode(HalfBlockModules(errors), server.dir()), url) << errors;
        } else {
            ASSERT_TRUE(server.WaitForStderr(running, seconds(10))) << server.Stderr();
            EXPECT_EQ(server.Stderr().find("\u2588"), std::string::npos) << server.Stderr();
        }
        EXPECT_EQ(server.Stop(), 0) << test.name;

        // --qr prints the same code and the address, and ends.
        if (!test.qrCode) continue;
        pid_t pid = Spawn({server.dir() + "/vantry", "--qr", "-bind", server.address()}, {},
                          "/dev/null", server.dir() + "/qr-out.txt", server.dir() + "/qr-err.txt");
        int status = -1;
        if (!WaitUntil(seconds(10), [&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        EXPECT_EQ(status, 0);
        ExpectNoFaults(server.dir() + "/qr-err.txt", "vantry --qr");
        std::string printed = ReadFile(server.dir() + "/qr-out.txt");
        EXPECT_TRUE(printed.ends_with("\n" + url + "\n")) << printed;
        EXPECT_EQ(DecodeQrCode(HalfBlockModules(printed), server.dir()), url) << printed;
    }
}

}  // namespace
}  // namespace e2e
