// Fuzz target: the Range header read against a file's size. A part lies within the file and
// reads back the same when written plainly; whether the whole file is asked for depends on
// the text alone, and a part of a file stays satisfiable in a longer file.
#include "http/byte_range.h"

#include <string>

#include "tests/fuzz/fuzz_engine.h"

namespace {

using http::ByteRange;
using http::ParseByteRange;

// The first line of the input is the file's size in decimal (saturating), the rest the value.
uint64_t SizeOf(std::string_view line) {
    uint64_t size = 0;
    for (char c : line) {
        if (c < '0' || c > '9') continue;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        size = size > (UINT64_MAX - digit) / 10 ? UINT64_MAX : size * 10 + digit;
    }
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t lineEnd = input.find('\n');
    if (lineEnd == std::string_view::npos) return 0;
    const uint64_t fileSize = SizeOf(input.substr(0, lineEnd));
    const std::string_view value = input.substr(lineEnd + 1);

    const ByteRange range = ParseByteRange(value, fileSize);
    for (uint64_t other : {uint64_t{0}, fileSize / 2, fileSize + 1, UINT64_MAX}) {
        FUZZ_CHECK((ParseByteRange(value, other).kind == ByteRange::Kind::kWhole) ==
                   (range.kind == ByteRange::Kind::kWhole));
    }
    if (range.kind != ByteRange::Kind::kPart) return 0;
    FUZZ_CHECK(range.first <= range.last && range.last < fileSize);
    FUZZ_CHECK(range.length() >= 1 && range.length() <= fileSize);
    const ByteRange plain = ParseByteRange(
        "bytes=" + std::to_string(range.first) + "-" + std::to_string(range.last), fileSize);
    FUZZ_CHECK(plain.kind == ByteRange::Kind::kPart && plain.first == range.first &&
               plain.last == range.last);
    if (fileSize < UINT64_MAX) {
        FUZZ_CHECK(ParseByteRange(value, fileSize + 1).kind == ByteRange::Kind::kPart);
    }
    return 0;
}
