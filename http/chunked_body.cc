// The chunked body decoder: a state machine fed any split of the bytes, and the chunk head.
#include "http/chunked_body.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/text.h"

namespace http {

namespace {

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// A byte that may stand inside a line: visible characters, blanks and bytes above 127.
bool IsLineByte(unsigned char c) {
    return c == '\t' || !platform::IsControlCharacter(static_cast<char>(c));
}

}  // namespace

ChunkedDecoder::Step ChunkedDecoder::Feed(std::string_view input, char* out, size_t outCapacity) {
    Step step;
    while (step.consumed < input.size() && state_ != State::kDone && state_ != State::kFailed) {
        if (state_ != State::kData) {
            TakeByte(static_cast<unsigned char>(input[step.consumed++]));
            continue;
        }
        const auto take = static_cast<size_t>(std::min<uint64_t>(
            {remaining_, input.size() - step.consumed, outCapacity - step.produced}));
        if (take == 0) break;  // the output is full
        std::memcpy(out + step.produced, input.data() + step.consumed, take);
        step.consumed += take;
        step.produced += take;
        TakeData(take);
    }
    return step;
}

ChunkedDecoder::Step ChunkedDecoder::Decode(std::string_view input, std::string* out) {
    // The data is never longer than the bytes it comes in.
    const size_t before = out->size();
    out->resize(before + input.size());
    const Step step = Feed(input, out->data() + before, input.size());
    out->resize(before + step.produced);
    return step;
}

void ChunkedDecoder::TakeData(uint64_t n) {
    n = std::min(n, dataPending());
    remaining_ -= n;
    decoded_ += n;
    if (state_ == State::kData && remaining_ == 0) state_ = State::kDataCR;
}

void ChunkedDecoder::TakeByte(unsigned char c) {
    switch (state_) {
        case State::kSizeStart:
        case State::kSize:
        case State::kSizeTail:
        case State::kExtension: {
            if (c == '\r' || c == '\n') {
                if (state_ == State::kSizeStart) return Fail(Error::kBadSizeLine);
                if (c == '\n') return EndSizeLine();
                state_ = State::kSizeLineFeed;
                return;
            }
            if (++lineLength_ > kMaxChunkSizeLine) return Fail(Error::kSizeLineTooLong);
            const int digit = platform::HexDigitValue(static_cast<char>(c));
            if (state_ == State::kSizeStart || (state_ == State::kSize && digit >= 0)) {
                if (digit < 0) return Fail(Error::kBadSizeLine);
                if (size_ > (kMaxChunkSize >> 4)) return Fail(Error::kSizeTooLarge);
                size_ = size_ << 4 | static_cast<uint64_t>(digit);
                state_ = State::kSize;
            } else if (state_ == State::kExtension) {
                if (!IsLineByte(c)) return Fail(Error::kBadSizeLine);
            } else if (c == ';') {
                state_ = State::kExtension;
            } else if (IsBlank(c)) {
                state_ = State::kSizeTail;
            } else {
                return Fail(Error::kBadSizeLine);
            }
            return;
        }
        case State::kSizeLineFeed:
            if (c != '\n') return Fail(Error::kBadSizeLine);
            return EndSizeLine();
        case State::kData:
            return;  // Feed and TakeData take chunk data
        case State::kDataCR:
            if (c != '\r') return Fail(Error::kBadDataEnd);
            state_ = State::kDataLF;
            return;
        case State::kDataLF:
            if (c != '\n') return Fail(Error::kBadDataEnd);
            state_ = State::kSizeStart;
            return;
        case State::kTrailerStart:
            if (c == '\r') {
                state_ = State::kEndLineFeed;
                return;
            }
            if (c == '\n') {
                state_ = State::kDone;
                return;
            }
            [[fallthrough]];
        case State::kTrailerLine:
        case State::kTrailerLineFeed:
            if (++trailerBytes_ > kMaxTrailerSection) return Fail(Error::kTrailerTooLong);
            if (state_ == State::kTrailerLineFeed) {
                if (c != '\n') return Fail(Error::kBadTrailer);
                state_ = State::kTrailerStart;
                return;
            }
            if (c == '\r' || c == '\n') {
                // A field line is a name, a colon and a value: the name is not empty.
                if (!colonSeen_) return Fail(Error::kBadTrailer);
                colonSeen_ = false;
                state_ = c == '\r' ? State::kTrailerLineFeed : State::kTrailerStart;
                return;
            }
            if (!IsLineByte(c)) return Fail(Error::kBadTrailer);
            if (!colonSeen_) {
                if (c == ':' && state_ == State::kTrailerLine) {
                    colonSeen_ = true;
                } else if (c == ':' || IsBlank(c)) {
                    return Fail(Error::kBadTrailer);
                }
            }
            state_ = State::kTrailerLine;
            return;
        case State::kEndLineFeed:
            if (c != '\n') return Fail(Error::kBadTrailer);
            state_ = State::kDone;
            return;
        case State::kDone:
        case State::kFailed:
            return;
    }
}

void ChunkedDecoder::EndSizeLine() {
    lineLength_ = 0;
    if (size_ == 0) {
        state_ = State::kTrailerStart;
        return;
    }
    if (maxBody_ != 0 && size_ > maxBody_ - decoded_) return Fail(Error::kBodyTooLarge);
    remaining_ = size_;
    size_ = 0;
    state_ = State::kData;
}

void ChunkedDecoder::Fail(Error error) {
    state_ = State::kFailed;
    error_ = error;
}

std::string_view ChunkedDecoder::reason() const {
    switch (error_) {
        case Error::kNone:
            return {};
        case Error::kBadSizeLine:
            return "malformed chunk size line";
        case Error::kSizeTooLarge:
            return "chunk size too large";
        case Error::kSizeLineTooLong:
            return "chunk size line too long";
        case Error::kBadDataEnd:
            return "chunk data not followed by CR LF";
        case Error::kBadTrailer:
            return "malformed trailer field";
        case Error::kTrailerTooLong:
            return "trailer section too long";
        case Error::kBodyTooLarge:
            return "chunked body larger than allowed";
    }
    return {};
}

std::string ChunkHead(size_t n) {
    char digits[2 * sizeof n];
    const auto end = std::to_chars(digits, digits + sizeof digits, n, 16).ptr;
    std::string head(digits, end);
    head += "\r\n";
    return head;
}

}  // namespace http
