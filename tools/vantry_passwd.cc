// vantry-passwd: the password manager, the one program that writes the registry file's
// user store and the two servers' login switches.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "auth/stored_password.h"
#include "auth/user_store.h"
#include "platform/file_lock.h"
#include "platform/registry_file.h"
#include "platform/terminal.h"
#include "platform/text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitIoFailure = 1;
constexpr int kExitBadInput = 2;

constexpr std::string_view kProgram = "vantry-passwd";
// Longer lines of standard input are cut here; the rest of the line is dropped.
constexpr size_t kMaxInputLine = 1024;

constexpr std::string_view kUsage =
    "Usage: vantry-passwd [COMMAND]\n"
    "Manages the users who may log in to Vantry and whether each server asks for a login.\n"
    "\n"
    "Commands:\n"
    "  list                 print the user names, one per line (never the passwords)\n"
    "  set USER [PASSWORD]  add USER, or change USER's password; without PASSWORD it is\n"
    "                       asked for twice without echo on a terminal, or read as one\n"
    "                       line from standard input otherwise. A PASSWORD given here is\n"
    "                       visible to other users of this machine while the program runs.\n"
    "  delete USER          remove USER\n"
    "  require 1|2 on|off   make every request to Server 1 or Server 2 need a login (on),\n"
    "                       or none (off); Vantry reads this switch when it starts\n"
    "  status               show whether each server needs a login, and how many users'\n"
    "                       passwords are stored hashed and how many still in plain text\n"
    "  --help               show this text\n"
    "Without a command, a menu of the same actions reads its choices from standard input.\n"
    "\n"
    "User names have 1 to 63 characters, without control characters or colons; passwords\n"
    "have 1 to 63 characters, without control characters. User names match without regard\n"
    "to letter case, and so do passwords when a user logs in.\n"
    "\n"
    "Passwords are stored as salted hashes (yescrypt, or SHA-512 where it is missing).\n"
    "Entries written in plain text by older versions still work, and are stored hashed\n"
    "the next time their password is set.\n"
    "\n"
    "The registry file is $VANTRY_REGISTRY when set, else\n"
    "$XDG_CONFIG_HOME/vantry/registry.reg ($XDG_CONFIG_HOME defaults to ~/.config). It is\n"
    "written atomically with mode 0600; changes made at the same time wait for each other\n"
    "on a lock file beside it, named like it with \".lock\" added.\n"
    "\n"
    "Exit status: 0 done, 1 the registry file could not be read or written (or the\n"
    "password could not be hashed), 2 bad command or input.\n";

int Fail(int status, std::string_view message) {
    std::cerr << kProgram << ": " << message << '\n';
    return status;
}

int UsageError(std::string_view message) {
    std::cerr << kProgram << ": " << message << "\nTry 'vantry-passwd --help'.\n";
    return kExitBadInput;
}

// An error message for a user name that cannot be stored or could never log in; empty
// when the name is fine.
std::string CheckUserName(std::string_view name) {
    if (name.empty() || name.size() > auth::kMaxUserNameLength) {
        return "a user name has 1 to 63 characters";
    }
    if (platform::HasControlCharacter(name) || name.find(':') != std::string_view::npos) {
        return "a user name may not contain control characters or a colon";
    }
    return {};
}

std::string CheckPassword(std::string_view password) {
    if (password.empty() || password.size() > auth::kMaxPasswordLength) {
        return "a password has 1 to 63 characters";
    }
    if (platform::HasControlCharacter(password)) {
        return "a password may not contain control characters";
    }
    return {};
}

// One line of standard input without its line end; std::nullopt at the end of input.
std::optional<std::string> ReadLine() {
    std::string line;
    bool any = false;
    for (int c = std::cin.get(); c != std::char_traits<char>::eof(); c = std::cin.get()) {
        any = true;
        if (c == '\n') break;
        if (line.size() < kMaxInputLine) line += static_cast<char>(c);
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> ReadHiddenLine(std::string_view prompt) {
    std::cout << prompt << std::flush;
    platform::EchoOff echoOff;
    std::optional<std::string> line = ReadLine();
    // The typed line end was not echoed either.
    std::cout << '\n';
    return line;
}

// The new password of `user`: asked twice without echo on a terminal, else one line of
// standard input. Sets `status` and gives std::nullopt when there is none to take.
std::optional<std::string> AskPassword(std::string_view user, int& status) {
    if (!platform::InputIsTerminal()) {
        std::optional<std::string> line = ReadLine();
        if (!line) status = Fail(kExitBadInput, "no password on standard input");
        return line;
    }
    std::optional<std::string> first =
        ReadHiddenLine("New password for " + std::string(user) + ": ");
    if (!first) {
        status = Fail(kExitBadInput, "no password given");
        return std::nullopt;
    }
    if (std::string problem = CheckPassword(*first); !problem.empty()) {
        status = Fail(kExitBadInput, problem);
        return std::nullopt;
    }
    std::optional<std::string> second = ReadHiddenLine("Retype the password: ");
    if (!second || *second != *first) {
        status = Fail(kExitBadInput, "the passwords do not match; nothing was changed");
        return std::nullopt;
    }
    return first;
}

using auth::UserStore;

// The store's reads and writes, each telling the owner what failed.
bool Loaded(UserStore& store) {
    std::string error;
    if (store.Load(&error)) return true;
    Fail(kExitIoFailure, error);
    return false;
}

std::optional<platform::FileLock> LockedAndLoaded(UserStore& store) {
    std::string error;
    std::optional<platform::FileLock> lock = store.LoadForEditing(&error);
    if (!lock) Fail(kExitIoFailure, error);
    return lock;
}

bool Saved(UserStore& store) {
    std::string error;
    if (store.Save(&error)) return true;
    Fail(kExitIoFailure, error);
    return false;
}

int ListUsers(UserStore& store) {
    if (!Loaded(store)) return kExitIoFailure;
    for (const std::string& name : store.UserNames()) std::cout << name << '\n';
    return kExitOk;
}

// Stores `password` for `user` (asking for it when not given).
int SetUser(UserStore& store, const std::string& user, std::optional<std::string> password) {
    if (std::string problem = CheckUserName(user); !problem.empty()) {
        return Fail(kExitBadInput, problem);
    }
    if (!password) {
        int status = kExitOk;
        password = AskPassword(user, status);
        if (!password) return status;
    }
    if (std::string problem = CheckPassword(*password); !problem.empty()) {
        return Fail(kExitBadInput, problem);
    }
    // Hashing takes a while: it is done before the lock is taken.
    std::string error;
    std::optional<std::string> stored = auth::StoredFormOf(*password, &error);
    if (!stored) return Fail(kExitIoFailure, "cannot hash the password: " + error);
    std::optional<platform::FileLock> lock = LockedAndLoaded(store);
    if (!lock) return kExitIoFailure;
    bool existed = store.HasUser(user);
    store.SetUser(user, *stored);
    if (!Saved(store)) return kExitIoFailure;
    std::cout << (existed ? "Changed the password of " : "Added the user ") << user << ".\n";
    return kExitOk;
}

int DeleteUser(UserStore& store, const std::string& user) {
    std::optional<platform::FileLock> lock = LockedAndLoaded(store);
    if (!lock) return kExitIoFailure;
    if (!store.DeleteUser(user)) return Fail(kExitBadInput, "there is no user named " + user);
    if (!Saved(store)) return kExitIoFailure;
    std::cout << "Deleted the user " << user << ".\n";
    return kExitOk;
}

std::string SwitchText(int server, bool on) {
    return "Server " + std::to_string(server) + ": " +
           (on ? "login required" : "no login required");
}

int SetSwitch(UserStore& store, int server, bool on) {
    std::optional<platform::FileLock> lock = LockedAndLoaded(store);
    if (!lock) return kExitIoFailure;
    store.SetLoginRequired(server, on);
    if (!Saved(store)) return kExitIoFailure;
    std::cout << SwitchText(server, on) << " (from the next start of Vantry).\n";
    return kExitOk;
}

int ShowStatus(UserStore& store) {
    if (!Loaded(store)) return kExitIoFailure;
    auto [hashed, plain] = store.HashedAndPlainCounts();
    int users = hashed + plain;
    std::cout << SwitchText(1, store.LoginRequired(1)) << '\n'
              << SwitchText(2, store.LoginRequired(2)) << '\n'
              << users << (users == 1 ? " user: " : " users: ") << hashed << " hashed, " << plain
              << " still plain.\n";
    return kExitOk;
}

// The menu shown without a command. It ends at "Quit" or at the end of input; an action
// that fails is reported and the menu goes on.
int RunMenu(UserStore& store) {
    for (;;) {
        bool server1 = false;
        bool server2 = false;
        if (Loaded(store)) {
            server1 = store.LoginRequired(1);
            server2 = store.LoginRequired(2);
        }
        std::cout << "\nVantry password manager (" << store.path() << ")\n"
                  << "  1  List users\n"
                  << "  2  Add a user or change a password\n"
                  << "  3  Delete a user\n"
                  << "  4  Switch Server 1 login (now " << (server1 ? "on" : "off") << ")\n"
                  << "  5  Switch Server 2 login (now " << (server2 ? "on" : "off") << ")\n"
                  << "  6  Quit\n"
                  << "Choice: " << std::flush;
        std::optional<std::string> choice = ReadLine();
        if (!choice || *choice == "6") {
            if (!choice) std::cout << '\n';
            return kExitOk;
        }
        if (*choice == "1") {
            ListUsers(store);
        } else if (*choice == "2" || *choice == "3") {
            std::cout << "User name: " << std::flush;
            std::optional<std::string> user = ReadLine();
            if (!user) return kExitOk;
            if (*choice == "2") {
                SetUser(store, *user, std::nullopt);
            } else {
                DeleteUser(store, *user);
            }
        } else if (*choice == "4") {
            SetSwitch(store, 1, !server1);
        } else if (*choice == "5") {
            SetSwitch(store, 2, !server2);
        } else {
            std::cout << "Please choose 1 to 6.\n";
        }
    }
}

int Run(const std::vector<std::string_view>& args) {
    UserStore store(platform::RegistryFilePath());
    if (args.empty()) return RunMenu(store);

    std::string_view command = args[0];
    size_t operands = args.size() - 1;
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (command == "list" || command == "status") {
        if (operands != 0) return UsageError(std::string(command) + " takes no operands");
        return command == "list" ? ListUsers(store) : ShowStatus(store);
    }
    if (command == "set") {
        if (operands < 1 || operands > 2) {
            return UsageError("set takes USER and an optional PASSWORD");
        }
        std::optional<std::string> password;
        if (operands == 2) password = std::string(args[2]);
        return SetUser(store, std::string(args[1]), std::move(password));
    }
    if (command == "delete") {
        if (operands != 1) return UsageError("delete takes one USER");
        return DeleteUser(store, std::string(args[1]));
    }
    if (command == "require") {
        if (operands != 2 || (args[1] != "1" && args[1] != "2") ||
            (args[2] != "on" && args[2] != "off")) {
            return UsageError("require takes a server (1 or 2) and on or off");
        }
        return SetSwitch(store, args[1] == "1" ? 1 : 2, args[2] == "on");
    }
    return UsageError("unknown command '" + std::string(command) + "'");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    try {
        return Run(args);
    } catch (const std::exception& e) {
        return Fail(kExitIoFailure, e.what());
    }
}
