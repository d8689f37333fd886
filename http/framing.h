// HTTP/1.1 answers made from the bytes the handlers send, which are HTTP/1.0 answers: the
// same status, headers and body, with the version of the status line, the dates in the
// standard form, and a body whose end the client can tell without a close (its
// Content-Length, else chunks), so that the connection can carry the next request.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace http {

// The position just past the empty line (CR LF or a bare LF) that ends an answer's head,
// searching lines from `*from`, the start of a line; npos while there is none, with `*from`
// where the search is to go on.
size_t AnswerHeadEnd(std::string_view text, size_t* from);

class Http11Framing {
  public:
    // Starts framing an answer; `headOnly` for a HEAD request, whose answer has no body.
    void Begin(bool headOnly, std::time_t now);
    // Stops framing: bytes go out as the handlers send them.
    void Stop() { active_ = false; }
    bool active() const { return active_; }
    // Whether the connection is meant to carry another request after this answer; read
    // when the head goes out ("Connection: close" otherwise).
    void SetPersistent(bool persistent) { persistent_ = persistent; }
    // True once the head has gone out.
    bool HeadSent() const { return stage_ != Stage::kHead; }

    // Appends to `wire` what goes out for the next `bytes` of the answer.
    void Feed(std::string_view bytes, std::string* wire);
    // `count` bytes of the body go out unchanged by another way (a file sent by the system);
    // false when the body is not sent as it is (chunks), and those bytes must not be sent.
    bool PassThrough(uint64_t count);
    // As PassThrough, for bytes that may be framed: `*before` and `*after` receive what goes
    // out around them (a chunk's size line and its end). False when the body cannot take them.
    bool Around(uint64_t count, std::string* before, std::string* after);
    // Appends the end of the answer: the last chunk, or a head that never ended as it came.
    void End(std::string* wire);
    // The answer went out whole with an end the client can tell, and the head did not say
    // "close": the connection may carry another request.
    bool Reusable() const { return active_ && reusable_ && persistent_ && ended_; }

  private:
    enum class Stage { kHead, kLength, kChunked, kUntilClose, kNoBody };

    // Rewrites the HTTP/1.0 head `head_` (status line and header lines, without its empty
    // line) into `wire` and picks how the body goes.
    void EmitHead(std::string* wire);
    void FeedBody(std::string_view bytes, std::string* wire);

    bool active_ = false;
    bool headOnly_ = false;
    bool persistent_ = false;
    bool reusable_ = true;
    bool ended_ = false;
    std::time_t now_ = 0;
    Stage stage_ = Stage::kHead;
    std::string head_;
    size_t scanned_ = 0;  // where the search for the head's empty line goes on
    uint64_t remaining_ = 0;
};

}  // namespace http
