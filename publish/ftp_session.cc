// The FTP client's protocol: command file, replies, passive mode and the session itself.
#include "publish/ftp_session.h"

#include <chrono>

#include "platform/file_io.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace publish {
namespace {

// A number of decimal digits only, within [1, max]; std::nullopt otherwise.
std::optional<long> ParseNumber(std::string_view text, long max) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > max) return std::nullopt;
    return value;
}

// The words of a line; a double-quoted stretch is one word without its quotes.
std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        if (at == text.size()) break;
        std::string word;
        while (at < text.size() && text[at] != ' ' && text[at] != '\t') {
            if (text[at] == '"') {
                size_t close = text.find('"', at + 1);
                if (close == std::string_view::npos) close = text.size();
                word.append(text.substr(at + 1, close - at - 1));
                at = close == text.size() ? close : close + 1;
            } else {
                word.push_back(text[at++]);
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string_view WithoutQuotes(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

// The server's text as it may stand in a message: control characters could rewrite the
// owner's terminal.
std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (platform::IsControlCharacter(c)) c = ' ';
    }
    return out;
}

class Session {
  public:
    explicit Session(std::vector<std::string>* notes) : notes_(notes) {}

    bool Connect(const FtpTarget& target, std::string* error) {
        control_ = platform::ConnectTcp(target.host, target.port, kFtpReplyTimeoutMs, error);
        if (!control_) return false;
        peer_ = platform::PeerAddress(control_.get());
        FtpReply greeting;
        std::string failure;
        if (!ReadReply(&greeting, &failure)) return Fail(error, "connect " + target.host, failure);
        if (greeting.code / 100 != 2) return Fail(error, "connect " + target.host, greeting.text);
        return true;
    }

    bool Run(const FtpCommand& command, std::string* error) {
        switch (command.kind) {
            case FtpCommand::Kind::kUser:
                return Login(command.args[0], command.args[1], error);
            case FtpCommand::Kind::kCd:
                return Simple("CWD " + command.args[0], "cd " + command.args[0], error);
            case FtpCommand::Kind::kDelete: {
                std::string failure;
                if (!Simple("DELE " + command.args[0], "delete " + command.args[0], &failure)) {
                    if (!control_) return Fail(error, failure, "");
                    notes_->push_back(failure);
                }
                return true;
            }
            case FtpCommand::Kind::kPut:
                return Put(command.args[0], command.args[1], error);
            case FtpCommand::Kind::kBinary:
                ascii_ = false;
                return true;
            case FtpCommand::Kind::kAscii:
                ascii_ = true;
                return true;
            case FtpCommand::Kind::kBye:
                return true;
        }
        return true;
    }

    // Says goodbye; the answer does not matter any more.
    void Quit(bool waitForAnswer) {
        if (!control_) return;
        if (Send("QUIT") && waitForAnswer) {
            FtpReply reply;
            std::string ignored;
            ReadReply(&reply, &ignored);
        }
        control_.Reset();
    }

  private:
    static bool Fail(std::string* error, const std::string& what, const std::string& why) {
        *error = why.empty() ? what : what + ": " + why;
        return false;
    }

    bool Send(const std::string& line) {
        std::string bytes = line + "\r\n";
        if (platform::SendAll(control_.get(), bytes.data(), bytes.size(), kFtpReplyTimeoutMs,
                              nullptr)) {
            return true;
        }
        control_.Reset();
        return false;
    }

    // The next final reply (preliminary 1xx replies are skipped unless `preliminaryToo`).
    bool ReadReply(FtpReply* reply, std::string* failure, bool preliminaryToo = false) {
        using Clock = std::chrono::steady_clock;
        auto deadline = Clock::now() + std::chrono::milliseconds(kFtpReplyTimeoutMs);
        char buffer[4096];
        for (;;) {
            while (std::optional<FtpReply> next = parser_.Next()) {
                if (next->code / 100 == 1 && !preliminaryToo) continue;
                *reply = *next;
                reply->text = Printable(reply->text);
                return true;
            }
            if (parser_.broken()) {
                control_.Reset();
                *failure = "the server's reply is not FTP";
                return false;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            platform::ReceiveResult got =
                platform::ReceiveSome(control_.get(), buffer, sizeof buffer,
                                      static_cast<int>(std::max<int64_t>(1, left.count())));
            if (got.status == platform::ReceiveStatus::kData) {
                parser_.Feed(std::string_view(buffer, got.bytes));
                continue;
            }
            control_.Reset();
            *failure =
                got.status == platform::ReceiveStatus::kTimedOut
                    ? "no reply within " + std::to_string(kFtpReplyTimeoutMs / 1000) + " seconds"
                    : "the server closed the connection";
            return false;
        }
    }

    // Sends `line` and wants a 2xx reply; `what` names the command in the error.
    bool Simple(const std::string& line, const std::string& what, std::string* error) {
        FtpReply reply;
        if (!Exchange(line, &reply, error, what)) return false;
        if (reply.code / 100 != 2) return Fail(error, what, reply.text);
        return true;
    }

    bool Exchange(const std::string& line, FtpReply* reply, std::string* error,
                  const std::string& what, bool preliminaryToo = false) {
        if (!control_) return Fail(error, what, "the server closed the connection");
        if (!Send(line)) return Fail(error, what, "the connection to the server failed");
        std::string failure;
        if (!ReadReply(reply, &failure, preliminaryToo)) return Fail(error, what, failure);
        return true;
    }

    bool Login(const std::string& name, const std::string& password, std::string* error) {
        const std::string what = "user " + name;
        FtpReply reply;
        if (!Exchange("USER " + name, &reply, error, what)) return false;
        if (reply.code == 331 || reply.code == 332) {
            if (!Exchange("PASS " + password, &reply, error, what)) return false;
        }
        if (reply.code / 100 != 2) return Fail(error, what, reply.text);
        return true;
    }

    // Asks for a passive data port, extended form first.
    bool DataPort(uint16_t* port, std::string* error, const std::string& what) {
        FtpReply reply;
        if (!Exchange("EPSV", &reply, error, what)) return false;
        if (reply.code == 229) {
            if (std::optional<uint16_t> found = ParseEpsvPort(reply.text)) {
                *port = *found;
                return true;
            }
        }
        if (!Exchange("PASV", &reply, error, what)) return false;
        std::optional<uint16_t> found;
        if (reply.code == 227) found = ParsePasvPort(reply.text);
        if (!found) return Fail(error, what, reply.text);
        *port = *found;
        return true;
    }

    bool Put(const std::string& local, const std::string& remote, std::string* error) {
        const std::string what = "put " + local;
        std::optional<std::string> content = platform::ReadWholeFile(local);
        if (!content) return Fail(error, what, "cannot read the local file");
        if (ascii_) *content = ToNetworkAscii(*content);
        if (!Simple(ascii_ ? "TYPE A" : "TYPE I", what, error)) return false;
        uint16_t port = 0;
        if (!DataPort(&port, error, what)) return false;
        std::string failure;
        platform::UniqueFd data = platform::ConnectTcp(peer_, port, kFtpReplyTimeoutMs, &failure);
        if (!data) return Fail(error, what, failure);
        FtpReply reply;
        if (!Exchange("STOR " + remote, &reply, error, what, true)) return false;
        if (reply.code / 100 != 1) return Fail(error, what, reply.text);
        bool sent = platform::SendAll(data.get(), content->data(), content->size(),
                                      kFtpReplyTimeoutMs, nullptr);
        // Closing the data connection marks the end of the file.
        data.Reset();
        if (!ReadReply(&reply, &failure)) return Fail(error, what, failure);
        if (!sent) return Fail(error, what, "sending the file failed");
        if (reply.code / 100 != 2) return Fail(error, what, reply.text);
        return true;
    }

    platform::UniqueFd control_;
    FtpReplyParser parser_;
    std::string peer_;
    bool ascii_ = false;
    std::vector<std::string>* notes_;
};

}  // namespace

std::optional<FtpTarget> ParseFtpTarget(std::string_view text) {
    FtpTarget target;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        target.host = std::string(text.substr(1, close - 1));
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            portText = rest.substr(1);
            if (portText.empty()) return std::nullopt;
        }
    } else {
        size_t colon = text.find(':');
        // More than one colon is an IPv6 address without a port.
        if (colon != std::string_view::npos &&
            text.find(':', colon + 1) == std::string_view::npos) {
            portText = text.substr(colon + 1);
            if (portText.empty()) return std::nullopt;
            text = text.substr(0, colon);
        }
        target.host = std::string(text);
    }
    if (target.host.empty()) return std::nullopt;
    if (!portText.empty()) {
        std::optional<long> port = ParseNumber(portText, 65535);
        if (!port) return std::nullopt;
        target.port = static_cast<uint16_t>(*port);
    }
    return target;
}

bool ParseFtpCommands(std::string_view text, std::vector<FtpCommand>* commands,
                      std::string* error) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    commands->clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i) + 1;
        std::string_view line = platform::Trim(lines[i]);
        if (line.empty()) continue;
        size_t space = line.find_first_of(" \t");
        std::string word = platform::LowerCopy(line.substr(0, space));
        std::string_view rest = space == std::string_view::npos
                                    ? std::string_view()
                                    : platform::Trim(line.substr(space));
        auto fail = [&](const std::string& why) {
            *error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        FtpCommand command{FtpCommand::Kind::kBye, {}, lineNumber};
        if (word == "user") {
            if (rest.empty()) return fail("user needs a name");
            if (i + 1 >= lines.size()) return fail("user needs the password on the next line");
            command.kind = FtpCommand::Kind::kUser;
            command.args = {std::string(rest), std::string(lines[++i])};
        } else if (word == "cd" || word == "delete") {
            std::string_view arg = WithoutQuotes(rest);
            if (arg.empty()) return fail(word + " needs a name");
            command.kind = word == "cd" ? FtpCommand::Kind::kCd : FtpCommand::Kind::kDelete;
            command.args = {std::string(arg)};
        } else if (word == "put") {
            std::vector<std::string> words = SplitWords(rest);
            if (words.empty() || words.size() > 2 || words[0].empty()) {
                return fail("put needs a local file and at most a remote name");
            }
            if (words.size() == 1) words.push_back(words[0]);
            command.kind = FtpCommand::Kind::kPut;
            command.args = std::move(words);
        } else if (word == "binary" || word == "bin") {
            command.kind = FtpCommand::Kind::kBinary;
        } else if (word == "ascii") {
            command.kind = FtpCommand::Kind::kAscii;
        } else if (word == "bye" || word == "quit") {
            commands->push_back(command);
            return true;
        } else {
            return fail("unknown command \"" + Printable(line.substr(0, space)) + "\"");
        }
        commands->push_back(std::move(command));
    }
    return true;
}

void FtpReplyParser::Feed(std::string_view bytes) {
    if (broken_) return;
    pending_.append(bytes);
    size_t start = 0;
    for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string_view line(pending_.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        openSize_ += line.size() + 1;
        if (openSize_ > kMaxReplySize) {
            broken_ = true;
            return;
        }
        std::optional<long> code =
            line.size() >= 3 ? ParseNumber(line.substr(0, 3), 599) : std::nullopt;
        char mark = line.size() > 3 ? line[3] : ' ';
        if (openCode_ != 0) {
            // Inside a multi-line reply only "DDD " with the opening code ends it.
            if (code && *code == openCode_ && mark == ' ') {
                ready_.push_back({openCode_, std::string(line)});
                openCode_ = 0;
                openSize_ = 0;
            }
            continue;
        }
        if (!code || *code < 100 || (mark != ' ' && mark != '-')) {
            broken_ = true;
            return;
        }
        if (mark == '-') {
            openCode_ = static_cast<int>(*code);
        } else {
            ready_.push_back({static_cast<int>(*code), std::string(line)});
            openSize_ = 0;
        }
    }
    pending_.erase(0, start);
    if (openSize_ + pending_.size() > kMaxReplySize) broken_ = true;
}

std::optional<FtpReply> FtpReplyParser::Next() {
    if (ready_.empty()) return std::nullopt;
    FtpReply reply = std::move(ready_.front());
    ready_.erase(ready_.begin());
    return reply;
}

std::optional<uint16_t> ParseEpsvPort(std::string_view text) {
    size_t open = text.find('(');
    if (open == std::string_view::npos || open + 4 >= text.size()) return std::nullopt;
    char delimiter = text[open + 1];
    if (text[open + 2] != delimiter || text[open + 3] != delimiter) return std::nullopt;
    size_t end = text.find(delimiter, open + 4);
    if (end == std::string_view::npos) return std::nullopt;
    std::optional<long> port = ParseNumber(text.substr(open + 4, end - open - 4), 65535);
    if (!port) return std::nullopt;
    return static_cast<uint16_t>(*port);
}

std::optional<uint16_t> ParsePasvPort(std::string_view text) {
    // The six numbers follow the reply code, in parentheses or not.
    size_t at = text.find_first_of("0123456789", text.size() > 3 ? 3 : text.size());
    if (at == std::string_view::npos) return std::nullopt;
    long numbers[6];
    for (int i = 0; i < 6; ++i) {
        size_t end = at;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        std::string_view digits = text.substr(at, end - at);
        std::optional<long> value =
            digits == "0" ? std::optional<long>(0) : ParseNumber(digits, 255);
        if (!value) return std::nullopt;
        numbers[i] = *value;
        if (i < 5) {
            if (end >= text.size() || text[end] != ',') return std::nullopt;
            at = end + 1;
        }
    }
    long port = numbers[4] * 256 + numbers[5];
    if (port == 0) return std::nullopt;
    return static_cast<uint16_t>(port);
}

std::string ToNetworkAscii(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) out.push_back('\r');
        out.push_back(bytes[i]);
    }
    return out;
}

bool RunFtpSession(const FtpTarget& target, const std::vector<FtpCommand>& commands,
                   std::string* error, std::vector<std::string>* notes) {
    Session session(notes);
    if (!session.Connect(target, error)) return false;
    for (const FtpCommand& command : commands) {
        if (command.kind == FtpCommand::Kind::kBye) break;
        if (!session.Run(command, error)) {
            session.Quit(false);
            return false;
        }
    }
    session.Quit(true);
    return true;
}

}  // namespace publish
