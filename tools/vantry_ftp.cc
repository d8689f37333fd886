// vantry-ftp: the FTP client that uploads the redirect and offline pages, driven by a command
// file.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "publish/ftp_session.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

// A command file is a few lines; a larger one is not a command file.
constexpr size_t kMaxCommandFileSize = 1024 * 1024;

constexpr std::string_view kUsage =
    "Usage: vantry-ftp [-n] -s:FILE HOST[:PORT]\n"
    "Carries out the commands of FILE on the FTP server HOST (port 21 unless given).\n"
    "\n"
    "  -n         no automatic login (the file logs in with user; accepted for\n"
    "             compatibility, as the client never logs in by itself)\n"
    "  -s:FILE    the command file\n"
    "  --help     show this text\n"
    "\n"
    "Commands, one a line (command words in any letter case):\n"
    "  user NAME          log in as NAME; the next line of the file is the password\n"
    "  cd DIR             change to the remote directory DIR\n"
    "  delete FILE        delete the remote FILE; a failure is reported and the rest\n"
    "                     goes on\n"
    "  put LOCAL [REMOTE] upload LOCAL as REMOTE (default: LOCAL); double quotes keep\n"
    "                     a name with spaces together\n"
    "  binary, ascii      send the following files unchanged (the default) or as text\n"
    "                     with CR LF line ends\n"
    "  bye, quit          end the session\n"
    "Transfers use passive mode. Any wait for the server ends after 30 seconds.\n"
    "\n"
    "Exit status: 0 done, 1 a connection, login, cd or put failed (one line on standard\n"
    "error names the command and the server's reply), 2 bad arguments or command file.\n";

int Fail(int status, const std::string& message) {
    std::cerr << message << '\n';
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> commandFile;
    std::optional<std::string> host;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
        if (arg == "-n") continue;
        if (arg.substr(0, 3) == "-s:" && arg.size() > 3) {
            commandFile = std::string(arg.substr(3));
        } else if (!arg.empty() && arg.front() != '-' && !host) {
            host = std::string(arg);
        } else {
            return Fail(kExitBadInput, "vantry-ftp: unexpected argument \"" + std::string(arg) +
                                           "\"\n" + std::string(kUsage));
        }
    }
    if (!commandFile || !host) return Fail(kExitBadInput, std::string(kUsage));

    std::optional<publish::FtpTarget> target = publish::ParseFtpTarget(*host);
    if (!target) return Fail(kExitBadInput, "vantry-ftp: not a host or host:port: " + *host);
    std::optional<std::string> text =
        platform::ReadWholeFile(*commandFile, kMaxCommandFileSize, nullptr);
    if (!text)
        return Fail(kExitBadInput, "vantry-ftp: cannot read the command file " + *commandFile);
    std::vector<publish::FtpCommand> commands;
    std::string error;
    if (!publish::ParseFtpCommands(*text, &commands, &error)) {
        return Fail(kExitBadInput, "vantry-ftp: " + *commandFile + " " + error);
    }

    std::vector<std::string> notes;
    bool done = publish::RunFtpSession(*target, commands, &error, &notes);
    for (const std::string& note : notes) std::cout << note << '\n';
    std::cout.flush();
    if (!done) return Fail(kExitFailed, error);
    return kExitOk;
}
