// The CGI gateway: the script's environment, its command line, and the relay between the
// client, the script's standard input and its output.
#include "site/cgi.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "config/mapping_tables.h"
#include "http/connection.h"
#include "http/listener.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/version.h"
#include "site/app_connection.h"

namespace site {
namespace {

constexpr std::string_view kScriptDirectory = "cgi-bin/";
constexpr std::string_view kHeaderPrefix = "HTTP_";
// A client must not be able to hand the script a proxy through a "Proxy:" header.
constexpr std::string_view kProxyVariable = "HTTP_PROXY";
// The longest root the script directory is built from.
constexpr size_t kMaxRootLength = 259;
// An extension that picks an interpreter has at most four characters after its ".".
constexpr size_t kExtensionWindow = 5;
// One read from the client or the script.
constexpr size_t kRelayChunk = 64 * 1024;
// Without a Content-Length the body is what has arrived before the script starts, up to this.
constexpr size_t kMaxUndeclaredBody = 1024 * 1024;
constexpr uint64_t kIdleLimitMs = http::kIdleLimitSeconds * 1000ULL;
constexpr uint64_t kNoDeadline = UINT64_MAX;
// The longest single wait; a far deadline is reached through several.
constexpr uint64_t kMaxWaitMs = 60 * 60 * 1000;

// How often the end of a script is looked for where the system cannot report it.
constexpr int kExitPollMs = 50;

int WaitMs(uint64_t ms) { return static_cast<int>(std::min(ms, kMaxWaitMs)); }
// The shorter of two waits, where -1 stands for no limit.
int ShorterWait(int a, int b) { return a < 0 ? b : (b < 0 ? a : std::min(a, b)); }

std::string Entry(std::string_view name, std::string_view value,
                  size_t limit = kMaxCgiValueLength) {
    std::string entry(name);
    entry.push_back('=');
    entry.append(value.substr(0, limit));
    return entry;
}

std::string_view EntryName(std::string_view entry) { return entry.substr(0, entry.find('=')); }

// The HTTP_ entry of one header line, or nothing for a line that gives none.
std::optional<std::string> HeaderEntry(std::string_view line, bool keepValueCase) {
    line = line.substr(0, line.find('\0'));
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view name = line.substr(0, colon);
    if (name.size() > kMaxCgiValueLength || name.find('=') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view value = line.substr(colon + 1);
    value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
    std::string entry(kHeaderPrefix);
    // As CGI/1.1 names them: "User-Agent" gives HTTP_USER_AGENT.
    for (char c : name) entry.push_back(c == '-' ? '_' : platform::AsciiUpper(c));
    if (entry == kProxyVariable) return std::nullopt;
    entry.push_back('=');
    value = value.substr(0, kMaxCgiValueLength);
    if (keepValueCase) {
        entry.append(value);
    } else {
        for (char c : value) entry.push_back(platform::AsciiUpper(c));
    }
    return entry;
}

// The interpreter's words for a script, from the "Script" table by the script's extension;
// empty when the script is to run by itself.
std::vector<std::string> InterpreterFor(const std::string& programDirectory,
                                        const std::string& scriptPath) {
    std::vector<std::string> words;
    size_t dot = scriptPath.rfind('.');
    if (dot == std::string::npos || dot + kExtensionWindow < scriptPath.size() ||
        scriptPath.find('/', dot) != std::string::npos || dot + 1 == scriptPath.size()) {
        return words;
    }
    std::string interpreter = config::GetScript(programDirectory, scriptPath.substr(dot + 1));
    std::string_view rest = interpreter;
    while (!rest.empty()) {
        size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        size_t end = std::min(rest.find(' '), rest.size());
        words.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    return words;
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

// One run of a script: the body on its way from the client to the script's input, the
// script's output on its way to the client, and the time limit over both.
class CgiRun {
  public:
    CgiRun(AppConnection& connection, platform::ChildProcess& child)
        : connection_(connection), child_(child), chunk_(std::make_unique<char[]>(kRelayChunk)) {}

    // Takes the body that has already arrived, for a request that declares no length.
    uint64_t TakeArrivedBody() {
        while (!bodyDone_ && TakeBody()) {
        }
        bodyDone_ = true;
        return pending_.size();
    }
    void SetBodyDone() { bodyDone_ = true; }

    // Relays until the script has closed its output and ended. The client is watched the
    // whole time: once it has gone (or the server cut the request short) the script's group
    // is killed at once, as it is when the time limit passes.
    void Relay(int timeLimitSeconds) {
        const uint64_t start = platform::MonotonicMillis();
        // With no limit the deadline lies beyond any time the clock reaches.
        const uint64_t deadline =
            timeLimitSeconds > 0 ? start + timeLimitSeconds * 1000ULL : kNoDeadline;
        uint64_t lastBodyProgress = start;
        bool clientReadable = true;  // bytes may wait in the connection's own buffer
        bool outputOpen = true;
        for (;;) {
            bool wantBody = child_.stdinFd() >= 0 && !bodyDone_ && pending_.empty();
            if (wantBody && clientReadable) {
                // After bytes came, ask again: more may be buffered, or the body may be whole.
                if (TakeBody()) {
                    lastBodyProgress = platform::MonotonicMillis();
                } else {
                    clientReadable = false;
                }
                continue;
            }
            // The script reads the end of its input once the whole body is in it.
            if (child_.stdinFd() >= 0 && bodyDone_ && pending_.empty()) child_.CloseStdin();
            // With its output closed the response is complete; what is left is its end.
            if (!outputOpen && child_.TryWait()) return;

            uint64_t now = platform::MonotonicMillis();
            if (now >= deadline) break;
            if (wantBody &&
                (now - lastBodyProgress >= kIdleLimitMs || connection_.BodyPaceLost())) {
                // The client stopped sending, or sends too slowly: the script gets what came.
                bodyDone_ = true;
                continue;
            }
            int waitMs = -1;
            if (deadline != kNoDeadline) waitMs = WaitMs(deadline - now);
            if (wantBody)
                waitMs = ShorterWait(waitMs, WaitMs(lastBodyProgress + kIdleLimitMs - now));
            // Without a descriptor that reports the script's end, look for it now and then.
            if (!outputOpen && child_.exitFd() < 0) waitMs = ShorterWait(waitMs, kExitPollMs);

            platform::PollItem items[4];
            items[0].fd = connection_.socketFd();
            // Once the body is whole, the client is watched for its going away; on a
            // connection that carries further requests, what it sends next is the next
            // request, so only its hang-up tells.
            items[0].wantRead = wantBody || (bodyDone_ && !connection_.Http11());
            items[0].watchHangUp = true;
            items[0].watchPeerClose = connection_.Http11() && !wantBody;
            items[1].fd = child_.stdinFd();
            items[1].wantWrite = !pending_.empty();
            items[2].fd = child_.stdoutFd();
            items[2].wantRead = outputOpen;
            items[3].fd = child_.exitFd();
            items[3].wantRead = !outputOpen;
            // Bytes the connection holds already decrypted leave the socket quiet.
            const bool buffered = items[0].wantRead && connection_.ClientBytesBuffered();
            if (buffered) waitMs = 0;
            if (platform::WaitForDescriptors(items, waitMs) < 0) break;
            if (buffered) items[0].readable = true;
            if (items[0].readable && wantBody) {
                clientReadable = true;
            } else if (items[0].readable || items[0].hungUp) {
                if (items[0].hungUp || ClientGone()) break;
            }
            if (items[1].writable) {
                FeedScript();
                // The client's idle time counts from when the script has taken what came.
                lastBodyProgress = platform::MonotonicMillis();
            }
            if (items[2].readable) {
                platform::PipeResult r = child_.ReadStdout(chunk_.get(), kRelayChunk);
                if (r.status == platform::PipeStatus::kData) {
                    if (!SendToClient(r.bytes, deadline)) break;  // the client went away
                } else if (r.status != platform::PipeStatus::kWouldBlock) {
                    // The script has answered: it gets no more input.
                    outputOpen = false;
                    child_.CloseStdout();
                    child_.CloseStdin();
                    pending_.clear();
                    pendingOffset_ = 0;
                    bodyDone_ = true;
                }
            }
        }
        child_.Kill();
        child_.Wait();
    }

  private:
    // Moves what the body reader has now into the pending bytes. True when bytes came.
    bool TakeBody() {
        size_t room = std::min(kRelayChunk,
                               kMaxUndeclaredBody - std::min(pending_.size(), kMaxUndeclaredBody));
        if (room == 0) return false;
        size_t n = connection_.ReadBody(chunk_.get(), room, 0);
        if (n == 0) {
            if (connection_.BodyComplete()) bodyDone_ = true;
            return false;
        }
        std::string_view got(chunk_.get(), n);
        if (pendingOffset_ == pending_.size()) {
            pending_.clear();
            pendingOffset_ = 0;
        }
        pending_.append(got);
        return true;
    }

    void FeedScript() {
        platform::PipeResult r =
            child_.WriteStdin(pending_.data() + pendingOffset_, pending_.size() - pendingOffset_);
        if (r.status == platform::PipeStatus::kData) {
            pendingOffset_ += r.bytes;
            if (pendingOffset_ == pending_.size()) {
                pending_.clear();
                pendingOffset_ = 0;
            }
        } else if (r.status != platform::PipeStatus::kWouldBlock) {
            // The script wants no more input: the rest of the body is left unread.
            pending_.clear();
            pendingOffset_ = 0;
            bodyDone_ = true;
            child_.CloseStdin();
        }
    }

    // The body is whole, so whatever the client still sends belongs to no request and is
    // dropped; the end of its input means it has gone (a client waiting for its answer
    // keeps its side open), as does a reset or a socket the server shut down.
    bool ClientGone() {
        platform::ReceiveResult r = connection_.ReceiveFromClient(chunk_.get(), kRelayChunk, 0);
        return r.status == platform::ReceiveStatus::kClosed ||
               r.status == platform::ReceiveStatus::kError;
    }

    bool SendToClient(size_t size, uint64_t deadline) {
        uint64_t idleMs = kIdleLimitMs;
        if (deadline != kNoDeadline) {
            uint64_t now = platform::MonotonicMillis();
            idleMs = std::min(idleMs, now < deadline ? deadline - now : 0);
        }
        return connection_.SendToClient(chunk_.get(), size, static_cast<int>(idleMs));
    }

    AppConnection& connection_;
    platform::ChildProcess& child_;
    std::unique_ptr<char[]> chunk_;
    std::string pending_;  // body bytes read and not yet written to the script
    size_t pendingOffset_ = 0;
    bool bodyDone_ = false;
};

// Marks the connection as running a script for as long as it lives.
class ScriptMark {
  public:
    explicit ScriptMark(http::Connection& connection) : connection_(connection) {
        connection_.SetRunningScript(true);
    }
    ~ScriptMark() { connection_.SetRunningScript(false); }
    ScriptMark(const ScriptMark&) = delete;
    ScriptMark& operator=(const ScriptMark&) = delete;

  private:
    http::Connection& connection_;
};

}  // namespace

std::vector<std::string> BuildCgiEnvironment(const std::vector<std::string>& processEnvironment,
                                             const CgiRequest& request) {
    std::vector<std::string> variables;
    variables.push_back(Entry("REQUEST_METHOD", request.isPost ? "POST" : "GET"));
    variables.push_back(Entry("CONTENT_LENGTH", std::to_string(request.contentLength)));
    variables.push_back(Entry("QUERY_STRING", request.queryString));
    variables.push_back(Entry("SERVER_SOFTWARE", vantry::kServerSoftware));
    variables.push_back(Entry("SERVER_NAME", request.serverName));
    variables.push_back(Entry("SERVER_PORT", std::to_string(request.serverPort)));
    std::string address = request.clientAddress.Text();
    variables.push_back(Entry("REMOTE_HOST", address));
    variables.push_back(Entry("REMOTE_ADDR", address));
    variables.push_back(Entry("DOCUMENT_ROOT", request.documentRoot, kMaxCgiPathValueLength));
    variables.push_back(Entry("SCRIPT_FILENAME", request.scriptFilename, kMaxCgiPathValueLength));
    variables.push_back(Entry("REMOTE_PORT", std::to_string(request.clientPort)));
    variables.push_back(Entry("GATEWAY_INTERFACE", vantry::kGatewayInterface));
    variables.push_back(Entry("SERVER_PROTOCOL", request.protocol));
    variables.push_back(Entry("REQUEST_URI", request.requestUri));
    variables.push_back(Entry("SCRIPT_NAME", request.scriptName));

    // After the request's variables, as other servers give them to scripts.
    std::vector<std::string> trailing;
    if (std::optional<std::string_view> type = http::FindHeader(request.headers, "Content-Type")) {
        std::string_view value = type->substr(0, type->find('\0'));
        trailing.push_back(Entry("CONTENT_TYPE", value));
    }
    trailing.push_back(Entry("REDIRECT_STATUS", "200"));

    // The names are copies: the entries they come from move when their vectors grow.
    std::unordered_set<std::string> names;
    for (const std::string& variable : variables) names.emplace(EntryName(variable));
    for (const std::string& variable : trailing) names.emplace(EntryName(variable));
    std::vector<std::string> headerVariables;
    std::string_view rest = request.headers;
    while (!rest.empty()) {
        size_t end = std::min(rest.find('\r'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        std::optional<std::string> entry = HeaderEntry(line, request.keepHeaderCase);
        if (!entry) continue;
        headerVariables.push_back(std::move(*entry));
        // The first line of a name wins: a script reading its environment either way sees it.
        if (!names.emplace(EntryName(headerVariables.back())).second) headerVariables.pop_back();
    }

    // The script sees the request's values, not the server's own of the same names.
    std::vector<std::string> environment;
    environment.reserve(processEnvironment.size() + variables.size() + headerVariables.size() +
                        trailing.size());
    for (const std::string& entry : processEnvironment) {
        if (!names.contains(std::string(EntryName(entry)))) environment.push_back(entry);
    }
    for (std::string& variable : variables) environment.push_back(std::move(variable));
    for (std::string& variable : headerVariables) environment.push_back(std::move(variable));
    for (std::string& variable : trailing) environment.push_back(std::move(variable));
    return environment;
}

std::string CgiDirectory(const std::string& wwwroot) {
    std::string directory = wwwroot.substr(0, kMaxRootLength);
    EndWithSlash(directory);
    directory.append(kScriptDirectory);
    return directory;
}

namespace {}  // namespace

std::optional<std::string> CgiScriptPath(const std::string& wwwroot, std::string_view scriptName) {
    if (!config::IsUsableRoot(wwwroot)) return std::nullopt;
    if (!scriptName.empty() && scriptName.front() == '/') scriptName.remove_prefix(1);
    if (scriptName.empty()) return std::nullopt;
    return CgiDirectory(wwwroot).append(scriptName.substr(0, scriptName.find('?')));
}

namespace {

// True when `path` (links resolved) lies inside a running server's scripts directory; with
// `orIs`, also when it is that directory.
bool LiesInScriptDirectory(const config::ServerConfig& serverConfig, const std::string& path,
                           bool orIs = false) {
    std::vector<platform::FileIdentity> scriptDirectories;
    for (int i = 0; i < (serverConfig.secondPortEnabled ? 2 : 1); ++i) {
        const config::ServerSettings& settings = serverConfig.servers[i];
        if (!settings.cgi || !config::IsUsableRoot(settings.wwwroot)) continue;
        if (auto identity = platform::DirectoryIdentity(CgiDirectory(settings.wwwroot))) {
            scriptDirectories.push_back(*identity);
        }
    }
    if (scriptDirectories.empty()) return false;
    // With the links resolved, every directory above the file is one it really lies in; they
    // are compared by identity, so another spelling of a directory's name counts too.
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error) return false;
    for (std::filesystem::path directory = orIs ? real : real.parent_path();;) {
        std::optional<platform::FileIdentity> identity =
            platform::DirectoryIdentity(directory.string());
        if (identity && std::find(scriptDirectories.begin(), scriptDirectories.end(), *identity) !=
                            scriptDirectories.end()) {
            return true;
        }
        if (directory == directory.parent_path()) return false;
        directory = directory.parent_path();
    }
}

}  // namespace

bool IsScriptFile(const config::ServerConfig& serverConfig, const std::string& path) {
    // The answer costs a look at every directory above the file, and nearly every request
    // asks it of a file asked for a moment before: answers are kept for a short while, and
    // forgotten at once when the configuration changes.
    constexpr uint64_t kRememberMs = 2000;
    constexpr size_t kMostRemembered = 4096;
    static std::mutex mutex;
    static std::unordered_map<std::string, bool> known;
    static const config::ServerConfig* knownFor = nullptr;
    static uint64_t knownSince = 0;
    const uint64_t now = platform::MonotonicMillis();
    {
        std::lock_guard lock(mutex);
        if (knownFor != &serverConfig || now - knownSince >= kRememberMs ||
            known.size() >= kMostRemembered) {
            known.clear();
            knownFor = &serverConfig;
            knownSince = now;
        }
        if (auto found = known.find(path); found != known.end()) return found->second;
    }
    const bool inScriptDirectory = LiesInScriptDirectory(serverConfig, path);
    std::lock_guard lock(mutex);
    if (knownFor == &serverConfig) known.emplace(path, inScriptDirectory);
    return inScriptDirectory;
}

bool IsScriptDirectory(const config::ServerConfig& serverConfig, const std::string& directory) {
    return LiesInScriptDirectory(serverConfig, directory, true);
}

bool RunCgiScript(AppConnection& connection, std::string scriptName) {
    const config::ServerSettings* settings = connection.Settings();
    if (settings == nullptr) return false;
    std::optional<std::string> found = CgiScriptPath(settings->wwwroot, scriptName);
    if (!found || !platform::FileExists(*found)) return false;
    std::string scriptPath = std::move(*found);

    platform::ChildProcess child;
    CgiRun run(connection, child);
    uint64_t contentLength = 0;
    std::optional<uint64_t> declared = connection.DeclaredBodyLength();
    if (!declared) {
        contentLength = run.TakeArrivedBody();
    } else {
        contentLength = *declared;
        // Nothing to stream; waiting for the head's last line feed could only delay the script.
        if (contentLength == 0) run.SetBodyDone();
    }

    const std::string_view requestUri = connection.RoutedTarget();
    // The access log shows the script without its query.
    connection.SetLoggedTarget(std::string(requestUri.substr(0, requestUri.find('?'))));
    CgiRequest request;
    request.isPost = connection.request().IsPost();
    request.contentLength = contentLength;
    if (connection.queryString) request.queryString = *connection.queryString;
    request.serverName = settings->servername;
    // The port the server really listens on: Server 2 may have moved up from its own.
    request.serverPort = connection.server != nullptr ? connection.server->Port() : settings->port;
    request.clientAddress = connection.clientAddress;
    request.clientPort = connection.clientPort;
    request.documentRoot = settings->wwwroot;
    request.scriptFilename = scriptPath;
    request.protocol = connection.request().protocol();
    request.requestUri = requestUri;
    // The script as routed: no other spelling of its path reaches the script's own links.
    const std::string_view routed = connection.routePath;
    const std::string routedScript = "/" + std::string(routed.substr(0, routed.find('?')));
    request.scriptName = routedScript;
    request.headers = connection.request().headerText();
    request.keepHeaderCase = connection.Config().cgiKeepHeaderCase;
    std::vector<std::string> environment =
        BuildCgiEnvironment(platform::ProcessEnvironment(), request);

    // No shell sees the command line: the interpreter's words and the script as one argument.
    std::string absoluteScript = Absolute(scriptPath);
    std::vector<std::string> argv =
        InterpreterFor(connection.Config().programDirectory, scriptPath);
    argv.push_back(absoluteScript);
    std::string error;
    // From here on a server that stops cuts the request short, and with it the script.
    ScriptMark mark(connection);
    if (!child.Start(argv, environment, Absolute(CgiDirectory(settings->wwwroot)), &error)) {
        // The script exists but cannot run (no descriptors left, no interpreter, no execute
        // bit): the client gets an error, never the script's source.
        connection.ReportToOwner("Could not run the CGI script " + scriptPath + ": " + error);
        connection.Answer(http::Response::Error(500));
        return true;
    }

    connection.SendStatusHeaders();
    run.Relay(connection.Config().cgiTimeLimit);
    connection.Answer(http::Response::Sent(200));
    return true;
}

}  // namespace site
