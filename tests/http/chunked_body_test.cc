// Chunked request bodies: the data decoded, where the body ends and why a body fails, the same
// whichever way the bytes are split and however little room the output has.
#include "http/chunked_body.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace http {
namespace {

using namespace std::string_literals;
using Error = ChunkedDecoder::Error;

enum class End { kMore, kDone, kFailed };

struct Outcome {
    std::string data;
    End end = End::kMore;
    Error error = Error::kNone;
    size_t consumed = 0;

    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << testing::PrintToString(o.data.substr(0, 40)) << " end " << static_cast<int>(o.end)
        << " error " << static_cast<int>(o.error) << " consumed " << o.consumed;
}

Outcome Seen(const ChunkedDecoder& decoder, std::string data, size_t consumed) {
    const End end = decoder.done() ? End::kDone : decoder.failed() ? End::kFailed : End::kMore;
    return {std::move(data), end, decoder.error(), consumed};
}

// The input in two pieces; the second starts at the first byte the first call left.
Outcome SplitAt(const std::string& input, size_t cut, uint64_t maxBody) {
    ChunkedDecoder decoder(maxBody);
    std::string data;
    size_t consumed = decoder.Decode(std::string_view(input).substr(0, cut), &data).consumed;
    if (consumed < cut) {
        EXPECT_TRUE(decoder.done() || decoder.failed()) << cut;
    }
    consumed += decoder.Decode(std::string_view(input).substr(consumed), &data).consumed;
    return Seen(decoder, std::move(data), consumed);
}

// The input whole, with room for one byte of data per call; every other byte of data is
// taken by the caller itself, as a caller receiving straight into its own buffer does.
Outcome OneDataByteAtATime(const std::string& input, uint64_t maxBody) {
    ChunkedDecoder decoder(maxBody);
    std::string data;
    size_t consumed = 0;
    for (bool direct = false;; direct = !direct) {
        if (direct && decoder.dataPending() > 0 && consumed < input.size()) {
            data += input[consumed++];
            decoder.TakeData(1);
            continue;
        }
        char c;
        const auto step = decoder.Feed(std::string_view(input).substr(consumed), &c, 1);
        if (step.consumed == 0) break;
        consumed += step.consumed;
        data.append(&c, step.produced);
    }
    return Seen(decoder, std::move(data), consumed);
}

TEST(ChunkedBodyTest, DecodesAndFailsTheSameWhateverTheSplit) {
    struct Case {
        std::string input;
        Outcome expected;  // `consumed` counts from the end: the bytes left after the body
        uint64_t maxBody = 0;
    };
    const std::string next = "GET / HTTP/1.1\r\n";
    const std::string longestLine = "5;" + std::string(kMaxChunkSizeLine - 2, 'x') + "\r\n";
    const std::string longestTrailer = "X:" + std::string(kMaxTrailerSection - 4, 'v') + "\r\n";
    const std::vector<Case> cases = {
        // Whole bodies; the bytes after one are the next request's.
        {"5\r\nhello\r\n0\r\n\r\n", {"hello", End::kDone}},
        {"3\r\nabc\r\nA\r\n0123456789\r\nf\r\n" + std::string(15, 'z') + "\r\n0\r\n\r\n" + next,
         {"abc0123456789" + std::string(15, 'z'), End::kDone, Error::kNone, next.size()}},
        {"0\r\n\r\n" + next, {"", End::kDone, Error::kNone, next.size()}},
        {"0005\r\nhello\r\n000\r\n\r\n0\r\n\r\n", {"hello", End::kDone, Error::kNone, 5}},
        {"4\r\n\r\n\0\n\r\n0\r\n\r\n"s, {"\r\n\0\n"s, End::kDone}},
        // Extensions and trailers are dropped; bare LF ends every line but a chunk's data.
        {"5;a=1\r\nhello\r\n2 ;b=\"x;y\" ; c\t\r\nab\r\n0;end\r\n\r\n", {"helloab", End::kDone}},
        {"2\r\nab\r\n0\r\nExpires: never\r\nX-Sum:1\r\n\r\n" + next,
         {"ab", End::kDone, Error::kNone, next.size()}},
        {"2\nab\r\n0\nA: b\n\n" + next, {"ab", End::kDone, Error::kNone, next.size()}},
        {longestLine + "hello\r\n0\r\n" + longestTrailer + "\r\n", {"hello", End::kDone}},
        // A body not yet ended takes all it is given.
        {"5\r\nhel", {"hel"}},
        {"00007fffffffffffffff\r\nab", {"ab"}},
        {"2\r\nab\r\n0\r\nX: y\r\n", {"ab"}},
        {"5\r\nhello\r\n0\r\n\r\n", {"hello", End::kDone}, 5},
        // Malformed size lines.
        {"x\r\n", {"", End::kFailed, Error::kBadSizeLine, 2}},
        {"\r\n", {"", End::kFailed, Error::kBadSizeLine, 1}},
        {"0x5\r\nhello\r\n", {"", End::kFailed, Error::kBadSizeLine, 10}},
        {"-1\r\n", {"", End::kFailed, Error::kBadSizeLine, 3}},
        {"5 5\r\n", {"", End::kFailed, Error::kBadSizeLine, 2}},
        {"5\rhello", {"", End::kFailed, Error::kBadSizeLine, 4}},
        {"5;a\x01\r\n", {"", End::kFailed, Error::kBadSizeLine, 2}},
        {"8000000000000000\r\n", {"", End::kFailed, Error::kSizeTooLarge, 2}},
        {"10000000000000000\r\n", {"", End::kFailed, Error::kSizeTooLarge, 2}},
        {"5;" + std::string(kMaxChunkSizeLine - 1, 'x') + "\r\n",
         {"", End::kFailed, Error::kSizeLineTooLong, 2}},
        {std::string(kMaxChunkSizeLine + 1, '0') + "\r\n",
         {"", End::kFailed, Error::kSizeLineTooLong, 2}},
        // A chunk's data ends with CR LF, nothing else.
        {"5\r\nhelloX\r\n0\r\n\r\n", {"hello", End::kFailed, Error::kBadDataEnd, 7}},
        {"5\r\nhello\n0\r\n\r\n", {"hello", End::kFailed, Error::kBadDataEnd, 5}},
        {"5\r\nhello\r0\r\n\r\n", {"hello", End::kFailed, Error::kBadDataEnd, 4}},
        // Trailer lines are field lines, within their limit.
        {"0\r\nnocolon\r\n\r\n", {"", End::kFailed, Error::kBadTrailer, 3}},
        {"0\r\n: v\r\n\r\n", {"", End::kFailed, Error::kBadTrailer, 6}},
        {"0\r\n folded: v\r\n\r\n", {"", End::kFailed, Error::kBadTrailer, 13}},
        {"0\r\nA : v\r\n\r\n", {"", End::kFailed, Error::kBadTrailer, 7}},
        {"0\r\nA: \x7f\r\n\r\n", {"", End::kFailed, Error::kBadTrailer, 4}},
        {"0\r\n\rX", {"", End::kFailed, Error::kBadTrailer}},
        {"0\r\nX:" + std::string(kMaxTrailerSection, 'v') + "\r\n\r\n",
         {"", End::kFailed, Error::kTrailerTooLong, 5}},
        // The cap fails the body at the size of the chunk that would pass it.
        {"5\r\nhello\r\n0\r\n\r\n", {"", End::kFailed, Error::kBodyTooLarge, 12}, 4},
        {"5\r\nhello\r\n4\r\nabcd\r\n0\r\n\r\n",
         {"hello", End::kFailed, Error::kBodyTooLarge, 11},
         8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.input.substr(0, 60)));
        Outcome expected = c.expected;
        expected.consumed = c.input.size() - expected.consumed;

        ChunkedDecoder whole(c.maxBody);
        std::string data;
        const auto step = whole.Decode(c.input, &data);
        EXPECT_EQ(Seen(whole, data, step.consumed), expected);
        EXPECT_EQ(whole.decodedSoFar(), expected.data.size());
        EXPECT_EQ(whole.reason().empty(), expected.end != End::kFailed);
        if (expected.end != End::kMore) {
            // Nothing is taken after the end, good or bad.
            const auto after = whole.Decode("5\r\nhello\r\n", &data);
            EXPECT_EQ(after.consumed + after.produced, 0u);
        }
        for (size_t cut = 0; cut <= c.input.size(); ++cut) {
            const Outcome split = SplitAt(c.input, cut, c.maxBody);
            if (split == expected) continue;
            EXPECT_EQ(split, expected) << "cut at " << cut;
            break;
        }
        EXPECT_EQ(OneDataByteAtATime(c.input, c.maxBody), expected);
    }
}

TEST(ChunkedBodyTest, ChunksWrittenForAnAnswerReadBack) {
    const std::pair<size_t, const char*> heads[] = {
        {1, "1\r\n"}, {15, "f\r\n"}, {16, "10\r\n"}, {300, "12c\r\n"}};
    std::string body;
    for (const auto& [n, head] : heads) {
        EXPECT_EQ(ChunkHead(n), head);
        body += head + std::string(n, 'd') + std::string(kChunkDataEnd);
    }
    EXPECT_EQ(ChunkHead(0) + std::string(kChunkDataEnd), kLastChunk);
    body += kLastChunk;
    ChunkedDecoder decoder;
    std::string data;
    EXPECT_EQ(decoder.Decode(body, &data).consumed, body.size());
    EXPECT_TRUE(decoder.done());
    EXPECT_EQ(data, std::string(332, 'd'));
}

}  // namespace
}  // namespace http
