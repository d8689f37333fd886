// The start and stop hooks: command files, redirect pages, the FTP client and the owner's
// scripts.
#include "publish/address_publisher.h"

#include <algorithm>
#include <utility>

#include "http/listener.h"
#include "platform/background_programs.h"
#include "platform/file_io.h"
#include "platform/ip_address.h"
#include "platform/program.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "platform/version.h"

namespace publish {
namespace {

// The command file holds the FTP password: nobody else may read it, not even for a moment.
constexpr mode_t kCommandFileMode = 0600;
// A template larger than this is not a page.
constexpr size_t kMaxTemplateSize = 1024 * 1024;

struct PageTemplate {
    std::string_view name;
    int id;
    bool redirect;  // holds the placeholder; the offline pages do not
};

constexpr PageTemplate kTemplates[] = {
    {"VNTReDirector1.html", 129, true},
    {"VNTReDirector2.html", 130, true},
    {"VNTJavaScriptReDirector1.html", 131, true},
    {"VNTJavaScriptReDirector2.html", 132, true},
    {"VNTOffline1.html", 133, false},
    {"VNTOffline2.html", 134, false},
};

// What a program wrote last, as one line fit for a message.
std::string LastLine(std::string_view output) {
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
        output.remove_suffix(1);
    }
    size_t start = output.find_last_of('\n');
    std::string line(start == std::string_view::npos ? output : output.substr(start + 1));
    for (char& c : line) {
        if (platform::IsControlCharacter(c)) c = ' ';
    }
    return line;
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// A name as the FTP client reads it: in double quotes when it holds a space or a tab.
std::string FtpName(const std::string& name) {
    return name.find_first_of(" \t") == std::string::npos ? name : "\"" + name + "\"";
}

// How every publishing failure shown to the owner begins.
std::string FailureText(const config::ServerSettings& settings) {
    return "Could not publish " + settings.ftpUploadFileName + " to " + settings.ftpSiteName + ": ";
}

}  // namespace

int ServerForPort(const config::ServerConfig& config, int port) {
    if (port == config.server1().port) return 1;
    if (port == config.server2().port) return 2;
    return 0;
}

std::string FtpCommandText(const config::ServerSettings& settings) {
    return "user " + settings.ftpUserID + "\n" + settings.ftpPassword + "\ncd " + settings.ftpPath +
           "\ndelete " + settings.ftpUploadFileName + "\nput " +
           FtpName(settings.ftpUploadFileName) + "\nbye\nquit\n";
}

std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

std::optional<std::string> RedirectPageText(std::string_view templateText,
                                            std::string_view address) {
    size_t at = templateText.find(kAddressPlaceholder);
    if (at == std::string_view::npos) return std::nullopt;
    std::string page(templateText.substr(0, at));
    page.append(address);
    page.append(templateText.substr(at + kAddressPlaceholder.size()));
    return page;
}

std::vector<std::string> ScriptDirectories(const std::string& programDirectory,
                                           const std::string& workingDirectory,
                                           std::string_view searchPath) {
    std::vector<std::string> dirs = {programDirectory, workingDirectory};
    while (!searchPath.empty()) {
        size_t colon = searchPath.find(':');
        std::string dir(searchPath.substr(0, colon));
        if (dir.empty()) dir = workingDirectory;
        platform::EndWithSlash(dir);
        dirs.push_back(std::move(dir));
        if (colon == std::string_view::npos) break;
        searchPath.remove_prefix(colon + 1);
    }
    return dirs;
}

std::vector<std::string> ScriptArguments(const std::string& scriptPath,
                                         const config::ServerSettings& settings,
                                         const std::string& hostAddress, int port) {
    return {"/bin/sh",
            scriptPath,
            settings.ftpSiteName,
            settings.ftpUserID,
            settings.ftpPassword,
            settings.ftpPath,
            settings.ftpUploadFileName,
            std::string(vantry::kProductText),
            hostAddress,
            std::to_string(port)};
}

AddressPublisher::AddressPublisher(http::EngineContext& context,
                                   platform::BackgroundPrograms& programs,
                                   std::string programDirectory)
    : context_(context), programs_(programs), programDirectory_(std::move(programDirectory)) {}

void AddressPublisher::AfterStart(http::ServerInstance& server, int requestedPort) {
    PublishAddress(server, true);
    // The start-up script goes by the port asked for, so it runs also when Server 2 had to
    // move to another port.
    auto snapshot = context_.config.Snapshot();
    int number = ServerForPort(*snapshot, requestedPort);
    if (number == 0) return;
    RunScript("UserStartup" + std::to_string(number) + ".bat", snapshot->servers[number - 1],
              requestedPort);
}

void AddressPublisher::BeforeStop(http::ServerInstance& server) {
    PublishAddress(server, false);
    auto snapshot = context_.config.Snapshot();
    int number = ServerForPort(*snapshot, server.Port());
    if (number == 0) return;
    RunScript("UserShutdown" + std::to_string(number) + ".bat", snapshot->servers[number - 1],
              server.Port());
}

bool AddressPublisher::PublishAddress(http::ServerInstance& server, bool starting) {
    auto snapshot = context_.config.Snapshot();
    int number = ServerForPort(*snapshot, server.Port());
    if (number == 0) return true;
    const config::ServerSettings& settings = snapshot->servers[number - 1];
    if (!settings.redirectorEnabled) return false;

    const std::string n = std::to_string(number);
    const std::string commandFile = (starting ? "VNTReDirector" : "VNTOffline") + n + "ftpCmds.txt";
    std::string templateName = "VNTOffline" + n + ".html";
    if (starting) {
        templateName =
            (settings.useJavaScriptRedirector ? "VNTJavaScriptReDirector" : "VNTReDirector") + n +
            ".html";
    }
    const std::string failure = FailureText(settings);
    std::string error;
    // Without its command file the client would run an old one, or none.
    if (!WriteFtpCommands(number, commandFile, &error)) {
        context_.owner.ShowStatusMessage(failure + error + ".");
        return true;
    }
    // A page that could not be written leaves the old one to be uploaded, as a template
    // without the placeholder does; the owner learns of it either way.
    if (!WriteRedirectPage(templateName, server.Port(), settings.ftpUploadFileName, &error)) {
        context_.owner.ShowStatusMessage(failure + error + ".");
    }
    StartFtpClient(settings, commandFile);
    return true;
}

bool AddressPublisher::WriteFtpCommands(int number, const std::string& fileName,
                                        std::string* error) {
    auto snapshot = context_.config.Snapshot();
    const config::ServerSettings& settings = snapshot->servers[number - 1];
    // A line break would end one command and make another of what follows it.
    for (const std::string* field : {&settings.ftpUserID, &settings.ftpPassword, &settings.ftpPath,
                                     &settings.ftpUploadFileName}) {
        if (HasLineBreak(*field)) {
            *error = "the FTP settings of Server " + std::to_string(number) + " hold a line break";
            return false;
        }
    }
    // Written to a new private file that then replaces the old one: the password is never in
    // a file others may read.
    return platform::WriteFileAtomicallyWithMode(fileName, WithCrLf(FtpCommandText(settings)),
                                                 kCommandFileMode, error);
}

bool AddressPublisher::WriteRedirectPage(const std::string& templateName, int port,
                                         const std::string& outputFileName, std::string* error) {
    const PageTemplate* found =
        std::find_if(std::begin(kTemplates), std::end(kTemplates),
                     [&](const PageTemplate& t) { return t.name == templateName; });
    if (found == std::end(kTemplates)) {
        *error = "no page template " + templateName;
        return false;
    }
    std::optional<std::string> text;
    if (platform::FileExists(templateName)) {
        text = platform::ReadWholeFile(templateName, kMaxTemplateSize, nullptr);
        if (!text) {
            *error = "cannot read " + platform::WorkingDirectory() + templateName;
            return false;
        }
    } else if (std::optional<std::string_view> embedded = platform::FindResource(found->id)) {
        text = std::string(*embedded);
    } else {
        *error = "no page template " + templateName;
        return false;
    }
    if (found->redirect) {
        text = RedirectPageText(*text, platform::UrlAuthority(context_.hostAddress, port));
        if (!text) {
            *error = templateName + " holds no \"" + std::string(kAddressPlaceholder) +
                     "\", so the page was not rewritten";
            return false;
        }
    }
    return platform::WriteFileAtomically(outputFileName, WithCrLf(*text), platform::kNewFileMode,
                                         error);
}

void AddressPublisher::RunScript(const std::string& name, const config::ServerSettings& settings,
                                 int port) {
    std::string searchPath = platform::GetEnv("PATH").value_or("");
    for (const std::string& dir :
         ScriptDirectories(programDirectory_, platform::WorkingDirectory(), searchPath)) {
        if (!platform::FileExists(dir + name)) continue;
        // Fire and forget: what the script does and how it ends is the owner's business.
        std::string ignored;
        programs_.Start(ScriptArguments(dir + name, settings, context_.hostAddress, port), "",
                        {platform::SpawnOptions::Streams::kOutputPipe,
                         platform::SpawnOptions::Group::kNewSession},
                        nullptr, &ignored);
        return;
    }
}

void AddressPublisher::StartFtpClient(const config::ServerSettings& settings,
                                      const std::string& commandFile) {
    std::vector<std::string> argv = {programDirectory_ + std::string(kFtpClientName), "-n",
                                     "-s:" + commandFile, settings.ftpSiteName};
    const std::string failure = FailureText(settings);
    http::ServerOwner& owner = context_.owner;
    auto onExit = [&owner, failure](int status, const std::string& output) {
        if (status == 0) return;
        std::string reason = LastLine(output);
        if (reason.empty())
            reason = std::string(kFtpClientName) + " ended with status " + std::to_string(status);
        owner.ShowStatusMessage(failure + reason);
    };
    std::string error;
    if (!programs_.Start(argv, "",
                         {platform::SpawnOptions::Streams::kOutputPipe,
                          platform::SpawnOptions::Group::kNewSession},
                         std::move(onExit), &error)) {
        owner.ShowStatusMessage(failure + error + ".");
    }
}

}  // namespace publish
