// Fuzz target: a chunked body decoded from any bytes. Fed whole, split in two or with room for
// a few data bytes at a time, it gives the same data and ends the same; a body that ends does
// so at its last byte. The input's bytes, written as chunks of input-derived sizes, read back.
#include "http/chunked_body.h"

#include <algorithm>
#include <string>

#include "tests/fuzz/fuzz_engine.h"

namespace {

using http::ChunkedDecoder;

struct Outcome {
    std::string data;
    size_t consumed = 0;
    bool done = false;
    bool failed = false;
    ChunkedDecoder::Error error = ChunkedDecoder::Error::kNone;

    bool operator==(const Outcome&) const = default;
};

// Decodes `input` in two calls, the first given the bytes before `cut`.
Outcome Split(std::string_view input, size_t cut, uint64_t maxBody = 0) {
    ChunkedDecoder decoder(maxBody);
    Outcome o;
    o.consumed = decoder.Decode(input.substr(0, cut), &o.data).consumed;
    FUZZ_CHECK(o.consumed == cut || decoder.done() || decoder.failed());
    o.consumed += decoder.Decode(input.substr(o.consumed), &o.data).consumed;
    o.done = decoder.done();
    o.failed = decoder.failed();
    o.error = decoder.error();
    FUZZ_CHECK(decoder.decodedSoFar() == o.data.size());
    return o;
}

// Decodes with room for `room` data bytes a call, and every other time takes the data the
// decoder says is next itself.
Outcome Narrow(std::string_view input, size_t room) {
    ChunkedDecoder decoder;
    Outcome o;
    char out[8];
    for (bool direct = false;; direct = !direct) {
        const uint64_t pending = decoder.dataPending();
        if (direct && pending > 0 && o.consumed < input.size()) {
            const auto n =
                static_cast<size_t>(std::min<uint64_t>({pending, room, input.size() - o.consumed}));
            o.data.append(input.substr(o.consumed, n));
            o.consumed += n;
            decoder.TakeData(n);
            continue;
        }
        const auto step = decoder.Feed(input.substr(o.consumed), out, room);
        FUZZ_CHECK(step.produced <= room && step.consumed <= input.size() - o.consumed);
        if (step.consumed == 0) break;
        o.consumed += step.consumed;
        o.data.append(out, step.produced);
    }
    o.done = decoder.done();
    o.failed = decoder.failed();
    o.error = decoder.error();
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const unsigned seed = data[0] | data[1] << 8;
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

    const Outcome whole = Split(input, input.size());
    FUZZ_CHECK(!(whole.done && whole.failed) && whole.data.size() <= whole.consumed);
    FUZZ_CHECK(whole.consumed == input.size() || whole.done || whole.failed);
    FUZZ_CHECK(Split(input, seed % (input.size() + 1)) == whole);
    FUZZ_CHECK(Narrow(input, 1 + seed % 8) == whole);
    if (whole.done) {
        // The body ends at its last byte: without it, the body is not over.
        FUZZ_CHECK(Split(input.substr(0, whole.consumed), 0) == whole);
        const Outcome shorter = Split(input.substr(0, whole.consumed - 1), 0);
        FUZZ_CHECK(!shorter.done && !shorter.failed);
    }

    // The input as a payload, in chunks of 1 to `largest` bytes, some with an extension, and
    // a trailer field when the seed says so; the input follows as the next request.
    std::string body;
    const size_t largest = 1 + seed % 64;
    uint32_t state = seed;
    for (size_t at = 0; at < input.size();) {
        state = state * 1103515245u + 12345u;
        const size_t n = std::min<size_t>(1 + (state >> 16) % largest, input.size() - at);
        std::string head = http::ChunkHead(n);
        if (state & 0x8000) head.insert(head.size() - 2, " ;ext=\"a;b\"");
        body += head;
        body += input.substr(at, n);
        body += http::kChunkDataEnd;
        at += n;
    }
    body += seed & 1 ? std::string(http::kLastChunk) : "0\r\nX-Sum: 1\r\n\r\n";
    const size_t bodySize = body.size();
    body += input;
    const Outcome read = Split(body, seed % (body.size() + 1));
    FUZZ_CHECK(read.done && read.data == input && read.consumed == bodySize);
    FUZZ_CHECK(Split(body, seed % (body.size() + 1), input.size()) == read);
    if (input.size() > 1) {  // a cap of 0 is none
        const Outcome capped = Split(body, body.size(), input.size() - 1);
        FUZZ_CHECK(capped.failed && capped.error == ChunkedDecoder::Error::kBodyTooLarge);
    }
    return 0;
}
