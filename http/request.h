// One request's head as a value: the bytes as read, its request line split once, and the
// lookups of its header lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace http {

// The longest URL kept; a longer one loses its protocol and the request is dropped.
inline constexpr size_t kMaxUrlLength = 2048;

// Finds the value of a header (name matched without regard to case at the start of a line)
// in a header text whose lines end in CR, blanks around it removed. std::nullopt when absent.
std::optional<std::string_view> FindHeader(std::string_view headers, std::string_view name);
// Every value of a header that may come in several lines, in their order.
std::vector<std::string_view> FindHeaders(std::string_view headers, std::string_view name);

// The Content-Length of a header text (as FindHeader reads it) when it is a valid one: digits
// only, and a number that fits.
std::optional<uint64_t> DeclaredContentLength(std::string_view headers);

// Each parameter of the query of `target` (what follows its first "?"), name and value
// decoded, in their order; a parameter without "=" has an empty value.
std::vector<std::pair<std::string, std::string>> QueryParameters(std::string_view target);

// The page handlers' header lookup: the first place where the name, a colon and one space
// stand, anywhere in the header text and with the letter case as written; the value runs to
// the end of its line and is cut to `capacity` - 1 characters. std::nullopt when absent.
std::optional<std::string> FindHeaderValue(std::string_view headers, std::string_view name,
                                           size_t capacity);

class Request {
  public:
    // How the request line split: whole, no request at all (nothing is answered), or one to
    // answer with 400 (it holds a zero byte).
    enum class LineResult { kComplete, kDropped, kBad };

    // Empties the request for the next head; the memory stays.
    void Clear();
    // The head is read into the request a byte at a time: CRs kept, LFs removed.
    void AppendHeadByte(char c) { head_.push_back(c); }
    // Splits the request line of the head read, upper-casing the method.
    LineResult SplitLine();
    // For a body that came in chunks and was gathered whole: the head as if it had come with
    // `length` as its Content-Length, its Transfer-Encoding gone.
    void ReplaceTransferCoding(uint64_t length);

    // The whole head as read: CRs kept, LFs removed.
    std::string_view head() const { return head_; }
    // "GET", "POST"... upper-cased; empty when the line did not split.
    std::string_view method() const { return Part(method_); }
    // The URL as sent, at most kMaxUrlLength characters.
    std::string_view target() const { return Part(target_); }
    // Such as "HTTP/1.0"; empty when the line has none.
    std::string_view protocol() const { return Part(protocol_); }
    // The header lines, each ended by CR.
    std::string_view headerText() const { return Part(headers_); }
    bool IsPost() const { return method() == "POST"; }
    bool IsHead() const { return method() == "HEAD"; }

    std::optional<std::string_view> Header(std::string_view name) const {
        return FindHeader(headerText(), name);
    }
    std::vector<std::string_view> Headers(std::string_view name) const {
        return FindHeaders(headerText(), name);
    }
    std::optional<uint64_t> ContentLength() const { return DeclaredContentLength(headerText()); }

  private:
    // A part of the head by position, so that a copy of the request is whole by itself.
    struct Span {
        size_t start = 0;
        size_t length = 0;
    };
    std::string_view Part(Span span) const {
        return std::string_view(head_).substr(span.start, span.length);
    }

    std::string head_;
    Span method_, target_, protocol_, headers_;
};

}  // namespace http
