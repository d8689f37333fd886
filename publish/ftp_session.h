// The FTP client's protocol: its command file, the server's replies, passive-mode addresses,
// and one session that carries out the commands against a server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

inline constexpr uint16_t kDefaultFtpPort = 21;
// How long the client waits for a connection or for any one reply.
inline constexpr int kFtpReplyTimeoutMs = 30000;

struct FtpTarget {
    std::string host;
    uint16_t port = kDefaultFtpPort;
};

// "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT"; std::nullopt for an empty host or a port
// that is not a number from 1 to 65535.
std::optional<FtpTarget> ParseFtpTarget(std::string_view text);

struct FtpCommand {
    enum class Kind { kUser, kCd, kDelete, kPut, kBinary, kAscii, kBye };
    Kind kind;
    std::vector<std::string> args;  // user: name and password; put: local and remote
    int line = 0;                   // where it stands in the file, from 1
};

// Reads a command file: "user NAME" with the password on the next line (taken whole, spaces
// and quotes included), "cd DIR", "delete FILE", "put LOCAL [REMOTE]", "binary", "ascii",
// "bye" and "quit". Command words ignore letter case; line ends may be LF or CR LF; blank
// lines are skipped. The argument of cd and delete is the rest of the line; those of put are
// words, where double quotes keep a name with spaces together. Nothing after the first
// bye or quit is read. Returns false with `*error` naming the line for an unknown command or
// a missing argument.
bool ParseFtpCommands(std::string_view text, std::vector<FtpCommand>* commands, std::string* error);

struct FtpReply {
    int code = 0;      // 100 to 599
    std::string text;  // the last line, without its line end
};

// Collects the server's bytes into replies: "DDD text" is one reply; "DDD-text" opens one
// that ends at a line starting "DDD ". A line that does not begin with a reply code outside
// a multi-line reply, or a reply longer than kMaxReplySize, marks the stream as broken.
class FtpReplyParser {
  public:
    static constexpr size_t kMaxReplySize = 64 * 1024;

    void Feed(std::string_view bytes);
    // The next complete reply, if one has arrived.
    std::optional<FtpReply> Next();
    bool broken() const { return broken_; }

  private:
    std::string pending_;  // bytes of a line not yet ended
    std::vector<FtpReply> ready_;
    int openCode_ = 0;  // the code of an open multi-line reply
    size_t openSize_ = 0;
    bool broken_ = false;
};

// The data port of an EPSV reply ("229 Entering Extended Passive Mode (|||6446|)").
std::optional<uint16_t> ParseEpsvPort(std::string_view text);
// The data port of a PASV reply ("227 Entering Passive Mode (127,0,0,1,25,38)"). The address
// in it is not used: data connections go to the control connection's peer, so a server can
// never send the client elsewhere.
std::optional<uint16_t> ParsePasvPort(std::string_view text);

// Text for ASCII mode: every line end as CR LF, whether it was LF or CR LF.
std::string ToNetworkAscii(std::string_view bytes);

// Connects to `target` and carries out `commands` in order, local files relative to the
// working directory. A refused login, a failed cd or put, or a lost connection ends the
// session: it returns false and `*error` is one line naming the command and the server's
// reply ("cd /www: 550 No such directory."). A failed delete is only told on `*notes`, one
// line each, and the session goes on. The session ends with QUIT.
bool RunFtpSession(const FtpTarget& target, const std::vector<FtpCommand>& commands,
                   std::string* error, std::vector<std::string>* notes);

}  // namespace publish
