// Request bodies sent with "Transfer-Encoding: chunked": an incremental decoder that takes the
// bytes as they arrive, in pieces of any size, and the few pieces a chunked answer is made of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace http {

// The largest chunk taken: its size must fit in 63 bits.
inline constexpr uint64_t kMaxChunkSize = (uint64_t{1} << 63) - 1;
// The longest chunk-size line, extensions included, its line end not.
inline constexpr size_t kMaxChunkSizeLine = 4096;
// The longest trailer section: every field line with its line end, the closing empty line not.
inline constexpr size_t kMaxTrailerSection = 8192;

// Decodes one chunked body. Chunk extensions and trailer fields are read and dropped. A line
// may end with CR LF or a bare LF, except the line end after a chunk's data, which must be
// CR LF. The decoder stops at the last byte of the body: what follows is the next request's.
class ChunkedDecoder {
  public:
    enum class Error {
        kNone,
        kBadSizeLine,      // a chunk size that is no hex number, or a malformed size line
        kSizeTooLarge,     // a chunk size beyond kMaxChunkSize
        kSizeLineTooLong,  // a size line beyond kMaxChunkSizeLine
        kBadDataEnd,       // a chunk's data not followed by CR LF
        kBadTrailer,       // a trailer line that is no field line
        kTrailerTooLong,   // a trailer section beyond kMaxTrailerSection
        kBodyTooLarge,     // more data than the cap given at construction
    };

    // What one call took and gave.
    struct Step {
        size_t consumed = 0;  // input bytes read, from the start of the input given
        size_t produced = 0;  // data bytes written, from the start of the output given
    };

    // `maxBody` caps the decoded data (0: no cap); a chunk that would pass it fails the body
    // as soon as its size is read.
    explicit ChunkedDecoder(uint64_t maxBody = 0) : maxBody_(maxBody) {}

    // Decodes from `input` into `out`, which has room for `outCapacity` bytes, so that a
    // caller decodes from its input buffer straight into the reader's buffer. Stops when the
    // input is used up, the output is full (only while chunk data is next), the body is done
    // or it has failed; so when neither done nor failed and `produced` < `outCapacity`, all
    // of the input was consumed and more is needed. Once done or failed, it takes nothing.
    // On failure, `consumed` includes the byte found wrong and `produced` the data before it.
    Step Feed(std::string_view input, char* out, size_t outCapacity);
    // Feed appending what it decodes to `out`; never stops for lack of room.
    Step Decode(std::string_view input, std::string* out);

    // For a caller that receives chunk data itself (straight from the socket into the
    // reader's buffer): how many data bytes of the current chunk come next, 0 when the next
    // input byte is no chunk data. It may take up to that many bytes and report them with
    // TakeData(n), n <= dataPending().
    uint64_t dataPending() const { return state_ == State::kData ? remaining_ : 0; }
    void TakeData(uint64_t n);

    // The whole body has been read, trailer section included.
    bool done() const { return state_ == State::kDone; }
    bool failed() const { return state_ == State::kFailed; }
    Error error() const { return error_; }
    // What was wrong, for the log; empty while the body is not failed.
    std::string_view reason() const;
    // The data bytes decoded so far.
    uint64_t decodedSoFar() const { return decoded_; }

  private:
    enum class State {
        kSizeStart,     // the first byte of a size line: a hex digit
        kSize,          // more hex digits
        kSizeTail,      // blanks after the size, before an extension or the line end
        kExtension,     // ";" and whatever follows it to the line end
        kSizeLineFeed,  // the LF after the size line's CR
        kData,
        kDataCR,
        kDataLF,
        kTrailerStart,     // a trailer line's first byte, or the closing empty line
        kTrailerLine,      // the rest of a field line
        kTrailerLineFeed,  // the LF after a field line's CR
        kEndLineFeed,      // the LF after the closing empty line's CR
        kDone,
        kFailed,
    };

    // Takes one byte outside chunk data.
    void TakeByte(unsigned char c);
    void EndSizeLine();
    void Fail(Error error);

    uint64_t maxBody_;
    State state_ = State::kSizeStart;
    Error error_ = Error::kNone;
    uint64_t size_ = 0;       // the chunk size being read
    uint64_t remaining_ = 0;  // data bytes of the current chunk still to come
    uint64_t decoded_ = 0;
    size_t lineLength_ = 0;    // bytes of the size line so far
    size_t trailerBytes_ = 0;  // bytes of the trailer section so far
    bool colonSeen_ = false;   // the trailer line being read has its ':'
};

// Writing a chunked answer: each chunk is ChunkHead(n), n data bytes and kChunkDataEnd;
// kLastChunk ends the body with no trailer.
std::string ChunkHead(size_t n);
inline constexpr std::string_view kChunkDataEnd = "\r\n";
inline constexpr std::string_view kLastChunk = "0\r\n\r\n";

}  // namespace http
