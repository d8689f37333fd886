// The Range header of a file request: one byte range, or the reason to send the whole file.
#pragma once

#include <cstdint>
#include <string_view>

namespace http {

struct ByteRange {
    enum class Kind {
        kWhole,          // no usable single range: the whole file, 200
        kPart,           // bytes first..last (inclusive) of the file, 206
        kUnsatisfiable,  // no byte of the range lies in the file, 416
    };
    Kind kind = Kind::kWhole;
    uint64_t first = 0;
    uint64_t last = 0;

    uint64_t length() const { return last - first + 1; }
};

// Reads the value of a Range header ("bytes=a-b", "bytes=a-", "bytes=-n") against a file
// of `size` bytes. Several ranges and anything malformed ask for the whole file, which a
// server may always send instead.
ByteRange ParseByteRange(std::string_view value, uint64_t size);

}  // namespace http
