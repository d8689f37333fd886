// The password manager run as a program: the registry file it leaves on disk (hashed
// passwords, mode 0600, changes of runs at the same time all kept), what it prints, its exit
// status for bad input and for a file it cannot write, and logins to a running vantry with
// the passwords it stores.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "auth/stored_password.h"
#include "platform/registry_file.h"
#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

constexpr const char* kUsers = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS";
constexpr const char* kSwitches = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY";

struct Outcome {
    int status = -1;  // the exit status, or -1 when the program did not end by itself
    std::string out;
    std::string err;
};

class PasswdTest : public ::testing::Test {
  protected:
    // Runs vantry-passwd with `args`, `input` as its standard input and VANTRY_REGISTRY
    // pointing at `registry`; gives up (and kills it) after ten seconds.
    Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
        return Finish(Begin(args, input));
    }

    // Starts a run whose files are named by `tag`, so that several can run at once.
    pid_t Begin(const std::vector<std::string>& args, const std::string& input = "",
                const std::string& tag = "run") {
        WriteFile(dir.File(tag + ".in"), input);
        std::vector<std::string> argv = {VANTRY_PASSWD_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        return Spawn(argv, {{"VANTRY_REGISTRY", registry}}, dir.File(tag + ".in"),
                     dir.File(tag + ".out"), dir.File(tag + ".err"));
    }

    Outcome Finish(pid_t pid, const std::string& tag = "run") {
        Outcome outcome;
        int status = 0;
        if (!WaitUntil(std::chrono::seconds(10),
                       [&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        } else if (WIFEXITED(status)) {
            outcome.status = WEXITSTATUS(status);
        }
        outcome.out = ReadFile(dir.File(tag + ".out"));
        outcome.err = ReadFile(dir.File(tag + ".err"));
        ExpectNoFaults(dir.File(tag + ".err"), "vantry-passwd");
        return outcome;
    }

    platform::RegistryFile Registry() const { return platform::RegistryFile::Load(registry); }

    std::optional<platform::RegistryValue> Password(const std::string& user) const {
        return Registry().Find(kUsers, user);
    }

    // True when `user`'s stored password is a hash that `password` matches.
    bool HoldsHashed(const std::string& user, const std::string& password) const {
        std::optional<platform::RegistryValue> value = Password(user);
        const std::string* stored = value ? std::get_if<std::string>(&*value) : nullptr;
        return stored != nullptr && auth::IsHashedPassword(*stored) &&
               auth::PasswordMatches(*stored, password);
    }

    mode_t RegistryMode() const {
        struct stat st {};
        if (::stat(registry.c_str(), &st) != 0) return 0;
        return st.st_mode & 07777;
    }

    bool RegistryExists() const { return std::filesystem::exists(registry); }

    testing_support::TempDir dir{"vantry-passwd"};
    // In a directory that does not exist yet: the program makes it.
    std::string registry = dir.File("config/vantry/registry.reg");
};

using Text = platform::RegistryValue;

TEST_F(PasswdTest, SetWritesAPrivateFileWithAHashAndListShowsOnlyNames) {
    Outcome set = Run({"set", "bob", "pa\"ss\\word"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(RegistryMode(), 0600u);
    EXPECT_TRUE(HoldsHashed("bob", "PA\"SS\\WORD")) << ReadFile(registry);
    EXPECT_EQ(ReadFile(registry).find("ss\\"), std::string::npos) << ReadFile(registry);

    EXPECT_EQ(Run({"set", "Admin", "Secret"}).status, 0);
    Outcome list = Run({"list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "bob\nAdmin\n");
    EXPECT_EQ(list.err, "");
}

TEST_F(PasswdTest, ChangingAPasswordKeepsTheNameAndEverythingElseInTheFile) {
    std::filesystem::create_directories(std::filesystem::path(registry).parent_path());
    WriteFile(registry,
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OTHER]\r\n"
              "\"Keep\"=\"me\"\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\r\n"
              "\"Bob\"=\"old\"\r\n");
    ::chmod(registry.c_str(), 0644);

    EXPECT_NE(Run({"status"}).out.find("\n1 user: 0 hashed, 1 still plain.\n"), std::string::npos);

    Outcome set = Run({"set", "BOB", "new"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("Changed"), std::string::npos) << set.out;
    EXPECT_EQ(Run({"list"}).out, "Bob\n");
    EXPECT_TRUE(HoldsHashed("bob", "new")) << "the plain entry became a hash";
    EXPECT_NE(Run({"status"}).out.find("\n1 user: 1 hashed, 0 still plain.\n"), std::string::npos);
    EXPECT_EQ(Registry().Find("HKEY_LOCAL_MACHINE\\SOFTWARE\\OTHER", "Keep"),
              Text(std::string("me")));
    EXPECT_EQ(RegistryMode(), 0600u) << "a file holding passwords becomes private";
}

TEST_F(PasswdTest, PasswordIsReadAsOneLineFromStandardInput) {
    Outcome set = Run({"set", "carol"}, "from stdin\r\nsecond line\n");
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_TRUE(HoldsHashed("carol", "from stdin"));

    Outcome unterminated = Run({"set", "dave"}, "no line end");
    EXPECT_EQ(unterminated.status, 0) << unterminated.err;
    EXPECT_TRUE(HoldsHashed("dave", "no line end"));

    Outcome empty = Run({"set", "erin"}, "");
    EXPECT_EQ(empty.status, 2);
    EXPECT_FALSE(Password("erin"));
    EXPECT_EQ(Run({"set", "erin"}, "\n").status, 2);
    EXPECT_EQ(Run({"set", "erin"}, std::string(64, 'x') + "\n").status, 2);
    EXPECT_FALSE(Password("erin"));
}

TEST_F(PasswdTest, DeleteRemovesTheUserAndAnUnknownUserIsBadInput) {
    ASSERT_EQ(Run({"set", "bob", "one"}).status, 0);
    ASSERT_EQ(Run({"set", "carol", "two"}).status, 0);
    EXPECT_EQ(Run({"delete", "BOB"}).status, 0);
    EXPECT_EQ(Run({"list"}).out, "carol\n");
    EXPECT_FALSE(Password("bob"));

    Outcome again = Run({"delete", "bob"});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("bob"), std::string::npos) << again.err;
    EXPECT_EQ(Run({"list"}).out, "carol\n");
}

TEST_F(PasswdTest, SwitchesAreSetAsNumbersAndClearedByRemoval) {
    Outcome status = Run({"status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out,
              "Server 1: no login required\nServer 2: no login required\n"
              "0 users: 0 hashed, 0 still plain.\n");
    EXPECT_FALSE(RegistryExists()) << "reading never creates the file";

    EXPECT_EQ(Run({"require", "2", "on"}).status, 0);
    EXPECT_EQ(Registry().Find(kSwitches, "AuthenticationRequiredServerTwo"), Text(uint32_t{1}));
    EXPECT_FALSE(Registry().Find(kSwitches, "AuthenticationRequiredServerOne"));
    EXPECT_NE(ReadFile(registry).find("\"AuthenticationRequiredServerTwo\"=dword:00000001\n"),
              std::string::npos);
    EXPECT_EQ(
        Run({"status"}).out.rfind("Server 1: no login required\nServer 2: login required\n", 0),
        0u);

    EXPECT_EQ(Run({"require", "1", "on"}).status, 0);
    EXPECT_EQ(Run({"require", "2", "off"}).status, 0);
    EXPECT_FALSE(Registry().Find(kSwitches, "AuthenticationRequiredServerTwo"));
    EXPECT_EQ(
        Run({"status"}).out.rfind("Server 1: login required\nServer 2: no login required\n", 0),
        0u);
}

TEST_F(PasswdTest, BadCommandsAndInputEndWithStatusTwoAndWriteNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {"set", "", "x"},
        {"set", std::string(64, 'u'), "x"},
        {"set", "a:b", "x"},
        {"set", "tab\tname", "x"},
        {"set", "bob", std::string(64, 'p')},
        {"set", "bob", "line\nbreak"},
        {"set", "bob", ""},
        {"set"},
        {"set", "bob", "x", "y"},
        {"delete"},
        {"require", "3", "on"},
        {"require", "1", "yes"},
        {"require", "1"},
        {"list", "extra"},
        {"frobnicate"},
    };
    for (const auto& args : bad) {
        Outcome outcome = Run(args);
        std::string shown;
        for (const std::string& a : args) shown += " [" + a + "]";
        EXPECT_EQ(outcome.status, 2) << shown;
        EXPECT_FALSE(outcome.err.empty()) << shown;
    }
    EXPECT_FALSE(RegistryExists());

    EXPECT_EQ(Run({"set", std::string(63, 'u'), std::string(63, 'p')}).status, 0);
    EXPECT_TRUE(HoldsHashed(std::string(63, 'u'), std::string(63, 'p')));
}

TEST_F(PasswdTest, FileThatCannotBeReadOrWrittenIsStatusOne) {
    std::filesystem::create_directories(registry);  // a directory where the file should be
    EXPECT_EQ(Run({"list"}).status, 1);
    Outcome set = Run({"set", "bob", "x"});
    EXPECT_EQ(set.status, 1);
    EXPECT_NE(set.err.find(registry), std::string::npos) << set.err;

    WriteFile(dir.File("plain"), "");
    registry = dir.File("plain/registry.reg");  // under a file, so no directory can be made
    EXPECT_EQ(Run({"require", "1", "on"}).status, 1);
}

TEST_F(PasswdTest, HelpNamesEveryCommand) {
    Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* text : {"list", "set USER [PASSWORD]", "delete USER", "require 1|2 on|off",
                             "status", "VANTRY_REGISTRY", "0600"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
}

TEST_F(PasswdTest, MenuWithoutArgumentsReadsItsChoicesFromStandardInput) {
    Outcome menu = Run({}, "2\ndave\nsecret\n5\n7\n1\n3\nnobody\n6\nignored\n");
    EXPECT_EQ(menu.status, 0) << menu.err;
    EXPECT_TRUE(HoldsHashed("dave", "secret"));
    EXPECT_EQ(Registry().Find(kSwitches, "AuthenticationRequiredServerTwo"), Text(uint32_t{1}));
    EXPECT_NE(menu.out.find("Please choose"), std::string::npos);
    EXPECT_NE(menu.out.find("dave\n"), std::string::npos) << menu.out;
    EXPECT_NE(menu.err.find("nobody"), std::string::npos) << "a failed action is reported";
    EXPECT_EQ(menu.out.find("secret"), std::string::npos) << "passwords are never shown";

    // The menu shows each switch's state and flips it; the end of input quits.
    menu = Run({}, "5\n");
    EXPECT_EQ(menu.status, 0);
    EXPECT_NE(menu.out.find("Server 2 login (now on)"), std::string::npos) << menu.out;
    EXPECT_FALSE(Registry().Find(kSwitches, "AuthenticationRequiredServerTwo"));
}

TEST_F(PasswdTest, RunsAtTheSameTimeAllKeepTheirChanges) {
    // Many runs that each read, change and write the file, started together.
    constexpr int kRuns = 12;
    std::vector<pid_t> pids;
    for (int i = 0; i < kRuns; ++i) {
        std::string tag = "run" + std::to_string(i);
        pids.push_back(
            i % 4 == 3
                ? Begin({"require", i % 8 == 3 ? "1" : "2", "on"}, "", tag)
                : Begin({"set", "user" + std::to_string(i), "pw" + std::to_string(i)}, "", tag));
    }
    for (int i = 0; i < kRuns; ++i) {
        Outcome outcome = Finish(pids[i], "run" + std::to_string(i));
        EXPECT_EQ(outcome.status, 0) << i << ": " << outcome.err;
    }
    for (int i = 0; i < kRuns; ++i) {
        if (i % 4 != 3) {
            EXPECT_TRUE(HoldsHashed("user" + std::to_string(i), "PW" + std::to_string(i))) << i;
        }
    }
    EXPECT_EQ(Registry().Find(kSwitches, "AuthenticationRequiredServerOne"), Text(uint32_t{1}));
    EXPECT_EQ(Registry().Find(kSwitches, "AuthenticationRequiredServerTwo"), Text(uint32_t{1}));
    std::string list = Run({"list"}).out;
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), kRuns - kRuns / 4) << list;
    EXPECT_EQ(RegistryMode(), 0600u);
    EXPECT_EQ(testing_support::FileNames(std::filesystem::path(registry).parent_path()),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}))
        << "no temporary file is left behind";
}

TEST_F(PasswdTest, RunningVantryAcceptsHashedAndOldPlainPasswords) {
    VantryInstance vantry;
    registry = vantry.dir() + "/registry.reg";
    WriteFile(vantry.dir() + "/www/index.html", "welcome");
    WriteFile(registry, RegistryText("\"old\"=\"Plain:1\"\n", "1"));
    vantry.Start();
    auto status = [&](const std::string& credentials) {
        const std::string response =
            Exchange(vantry.address(), vantry.port1(),
                     "GET / HTTP/1.0\r\n" + BasicLogin(credentials) + "\r\n");
        return response.substr(0, response.find("\r\n"));
    };
    const std::string ok = "HTTP/1.0 200 OK";
    const std::string challenge = "HTTP/1.0 401 OK";

    ASSERT_EQ(Run({"set", "New", "Hashed:Pw"}).status, 0);
    EXPECT_EQ(status("new:hASHED:pW"), ok) << "a hashed entry, letter case ignored";
    EXPECT_EQ(status("new:Hashed:Pw!"), challenge);
    EXPECT_EQ(status("old:PLAIN:1"), ok) << "an old plain entry still works";
    EXPECT_EQ(status("old:Plain:2"), challenge);

    ASSERT_EQ(Run({"set", "old", "Changed"}).status, 0);
    EXPECT_TRUE(HoldsHashed("old", "changed"));
    EXPECT_EQ(status("old:CHANGED"), ok);
    EXPECT_EQ(status("old:Plain:1"), challenge);
    EXPECT_EQ(RegistryMode(), 0600u);
}

}  // namespace
}  // namespace e2e
