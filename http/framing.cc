// The HTTP/1.1 rewriting of answers.
#include "http/framing.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

#include "http/http_date.h"
#include "platform/text.h"

namespace http {
namespace {

using platform::EqualsNoCase;

// A head that has not ended after this many bytes is no head (a script that printed none):
// the answer goes out as it came, and the connection closes after it.
constexpr size_t kMaxHeadBytes = 64 * 1024;

// The line that opens a chunk of `size` bytes: the size in hex and CR LF.
std::string ChunkSizeLine(uint64_t size) {
    char digits[20];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, size, 16);
    (void)error;
    return std::string(digits, end) + "\r\n";
}

// The status code of a status line such as "HTTP/1.0 304 Not Modified"; 0 when none.
int StatusCode(std::string_view line) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return 0;
    std::string_view code = line.substr(space + 1, 3);
    std::optional<uint64_t> value = platform::ParseDigits(code);
    return value ? static_cast<int>(*value) : 0;
}

}  // namespace

size_t AnswerHeadEnd(std::string_view text, size_t* from) {
    size_t start = *from;
    for (;;) {
        const size_t lineFeed = text.find('\n', start);
        if (lineFeed == std::string_view::npos) {
            *from = start;
            return std::string_view::npos;
        }
        std::string_view line = text.substr(start, lineFeed - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() && start > 0) return lineFeed + 1;
        start = lineFeed + 1;
    }
}

void Http11Framing::Begin(bool headOnly, std::time_t now) {
    active_ = true;
    headOnly_ = headOnly;
    persistent_ = false;
    reusable_ = true;
    ended_ = false;
    now_ = now;
    stage_ = Stage::kHead;
    head_.clear();
    scanned_ = 0;
    remaining_ = 0;
}

void Http11Framing::Feed(std::string_view bytes, std::string* wire) {
    if (stage_ != Stage::kHead) {
        FeedBody(bytes, wire);
        return;
    }
    const size_t before = head_.size();
    head_.append(bytes);
    const size_t end = AnswerHeadEnd(head_, &scanned_);
    if (end == std::string::npos) {
        if (head_.size() > kMaxHeadBytes) {
            wire->append(head_);
            head_.clear();
            stage_ = Stage::kUntilClose;
            reusable_ = false;
        }
        return;
    }
    const std::string_view body = bytes.substr(end - before);
    head_.resize(end);
    EmitHead(wire);
    FeedBody(body, wire);
}

void Http11Framing::EmitHead(std::string* wire) {
    std::vector<std::string_view> lines;
    std::string_view text = head_;
    while (!text.empty()) {
        const size_t lineFeed = text.find('\n');
        std::string_view line = text.substr(0, lineFeed);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.push_back(line);
        if (lineFeed == std::string_view::npos) break;
        text.remove_prefix(lineFeed + 1);
    }
    const std::string_view status = lines.empty() ? std::string_view() : lines.front();
    const int code = StatusCode(status);
    if (status.starts_with("HTTP/1.0 ")) {
        wire->append("HTTP/1.1 ").append(status.substr(9));
    } else {
        wire->append(status);
    }
    wire->append("\r\n");

    std::optional<uint64_t> length;
    bool lengthUnclear = false;
    bool ownFraming = false;
    bool dated = false;
    const std::string date = FormatImfFixdate(now_);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t colon = line.find(':');
        const std::string_view name =
            platform::Trim(line.substr(0, colon == std::string_view::npos ? 0 : colon));
        const std::string_view value = colon == std::string_view::npos
                                           ? std::string_view()
                                           : platform::Trim(line.substr(colon + 1));
        // How long this connection lives is the framing's to say.
        if (EqualsNoCase(name, "Connection") || EqualsNoCase(name, "Keep-Alive")) continue;
        if (EqualsNoCase(name, "Date")) {
            if (!dated) wire->append("Date: ").append(date).append("\r\n");
            dated = true;
            continue;
        }
        if (EqualsNoCase(name, "Last-Modified")) {
            if (std::optional<std::time_t> modified = ParseHttpDate(value)) {
                wire->append("Last-Modified: ").append(FormatImfFixdate(*modified)).append("\r\n");
                continue;
            }
        } else if (EqualsNoCase(name, "Content-Length")) {
            std::optional<uint64_t> declared = platform::ParseDigits(value);
            if (!declared || (length && *length != *declared)) lengthUnclear = true;
            length = declared;
        } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            ownFraming = true;
        }
        wire->append(line).append("\r\n");
    }
    if (!dated) wire->append("Date: ").append(date).append("\r\n");

    const bool noBody = headOnly_ || (code >= 100 && code < 200) || code == 204 || code == 304;
    if (noBody) {
        stage_ = Stage::kNoBody;
    } else if (ownFraming || lengthUnclear) {
        // A body framed by someone else (a script), or of two lengths, ends with the
        // connection.
        stage_ = Stage::kUntilClose;
        reusable_ = false;
    } else if (length) {
        stage_ = Stage::kLength;
        remaining_ = *length;
    } else {
        stage_ = Stage::kChunked;
        wire->append("Transfer-Encoding: chunked\r\n");
    }
    if (!persistent_ || !reusable_) wire->append("Connection: close\r\n");
    wire->append("\r\n");
    head_ = std::string();
}

void Http11Framing::FeedBody(std::string_view bytes, std::string* wire) {
    switch (stage_) {
        case Stage::kHead:
        case Stage::kNoBody:
            return;
        case Stage::kLength: {
            const auto take = static_cast<size_t>(std::min<uint64_t>(bytes.size(), remaining_));
            wire->append(bytes.substr(0, take));
            remaining_ -= take;
            // More than the length said would be read as the next answer.
            if (take < bytes.size()) reusable_ = false;
            return;
        }
        case Stage::kChunked: {
            if (bytes.empty()) return;
            wire->append(ChunkSizeLine(bytes.size())).append(bytes).append("\r\n");
            return;
        }
        case Stage::kUntilClose:
            wire->append(bytes);
            return;
    }
}

bool Http11Framing::PassThrough(uint64_t count) {
    if (stage_ == Stage::kUntilClose) return true;
    if (stage_ != Stage::kLength || count > remaining_) return false;
    remaining_ -= count;
    return true;
}

bool Http11Framing::Around(uint64_t count, std::string* before, std::string* after) {
    if (stage_ != Stage::kChunked) return PassThrough(count);
    if (count == 0) return true;
    *before = ChunkSizeLine(count);
    after->assign("\r\n");
    return true;
}

void Http11Framing::End(std::string* wire) {
    if (!active_ || ended_) return;
    ended_ = true;
    switch (stage_) {
        case Stage::kHead:
            // No head ended: what came goes out as it is, and only the close ends it.
            wire->append(head_);
            head_.clear();
            reusable_ = false;
            break;
        case Stage::kChunked:
            wire->append("0\r\n\r\n");
            break;
        case Stage::kLength:
            // A body shorter than its length: the client learns of it by the close.
            if (remaining_ > 0) reusable_ = false;
            break;
        case Stage::kUntilClose:
            reusable_ = false;
            break;
        case Stage::kNoBody:
            break;
    }
}

}  // namespace http
