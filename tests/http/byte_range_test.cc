// The Range header read against a file's size: the part sent, the whole file or 416.
#include "http/byte_range.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace http {
namespace {

constexpr ByteRange::Kind kWhole = ByteRange::Kind::kWhole;
constexpr ByteRange::Kind kPart = ByteRange::Kind::kPart;
constexpr ByteRange::Kind kUnsatisfiable = ByteRange::Kind::kUnsatisfiable;

TEST(ByteRangeTest, EachFormAgainstTheFileSize) {
    struct Case {
        const char* value;
        uint64_t size;
        ByteRange::Kind kind;
        uint64_t first, last;  // only for kPart
    };
    const Case cases[] = {
        // bytes=a-b, clipped to the file.
        {"bytes=0-9", 100, kPart, 0, 9},
        {"bytes=0-0", 100, kPart, 0, 0},
        {"bytes=99-99", 100, kPart, 99, 99},
        {"bytes=90-100", 100, kPart, 90, 99},
        {"bytes=90-18446744073709551615", 100, kPart, 90, 99},
        {"bytes=0-99999999999999999999999", 100, kPart, 0, 99},
        // bytes=a-: to the end.
        {"bytes=0-", 100, kPart, 0, 99},
        {"bytes=99-", 100, kPart, 99, 99},
        {"bytes=100-", 100, kUnsatisfiable, 0, 0},
        {"bytes=18446744073709551615-", 100, kUnsatisfiable, 0, 0},
        {"bytes=99999999999999999999999-", 100, kUnsatisfiable, 0, 0},
        {"bytes=100-200", 100, kUnsatisfiable, 0, 0},
        // bytes=-n: the last n bytes, or all of a shorter file.
        {"bytes=-1", 100, kPart, 99, 99},
        {"bytes=-10", 100, kPart, 90, 99},
        {"bytes=-100", 100, kPart, 0, 99},
        {"bytes=-101", 100, kPart, 0, 99},
        {"bytes=-99999999999999999999999", 100, kPart, 0, 99},
        {"bytes=-0", 100, kUnsatisfiable, 0, 0},
        // An empty file has no byte to send.
        {"bytes=0-", 0, kUnsatisfiable, 0, 0},
        {"bytes=0-0", 0, kUnsatisfiable, 0, 0},
        {"bytes=-5", 0, kUnsatisfiable, 0, 0},
        // The unit in any case, blanks around every piece.
        {"BYTES=1-2", 100, kPart, 1, 2},
        {" \tBytes = 1 - 2 \t", 100, kPart, 1, 2},
        {"bytes= -3", 100, kPart, 97, 99},
        // Reversed, several or malformed ranges ask for the whole file.
        {"bytes=5-1", 100, kWhole, 0, 0},
        {"bytes=500-1", 100, kWhole, 0, 0},
        {"bytes=0-1,5-6", 100, kWhole, 0, 0},
        {"bytes=0-1,", 100, kWhole, 0, 0},
        {"bytes=-", 100, kWhole, 0, 0},
        {"bytes=", 100, kWhole, 0, 0},
        {"bytes", 100, kWhole, 0, 0},
        {"bytes 0-1", 100, kWhole, 0, 0},
        {"bytesx=0-1", 100, kWhole, 0, 0},
        {"lines=0-1", 100, kWhole, 0, 0},
        {"bytes=1", 100, kWhole, 0, 0},
        {"bytes=+1-2", 100, kWhole, 0, 0},
        {"bytes=1-+2", 100, kWhole, 0, 0},
        {"bytes=--1", 100, kWhole, 0, 0},
        {"bytes=1-2-3", 100, kWhole, 0, 0},
        {"bytes=0x10-20", 100, kWhole, 0, 0},
        {"bytes=1 2-3", 100, kWhole, 0, 0},
        {"", 100, kWhole, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " of " + std::to_string(c.size));
        const ByteRange range = ParseByteRange(c.value, c.size);
        EXPECT_EQ(range.kind, c.kind);
        if (c.kind == kPart) {
            EXPECT_EQ(range.first, c.first);
            EXPECT_EQ(range.last, c.last);
            EXPECT_EQ(range.length(), c.last - c.first + 1);
        }
    }
}

TEST(ByteRangeTest, TheLargestFilesKeepTheirLastByte) {
    constexpr uint64_t kMax = UINT64_MAX;
    const ByteRange tail = ParseByteRange("bytes=-10", kMax);
    EXPECT_EQ(tail.kind, kPart);
    EXPECT_EQ(tail.first, kMax - 10);
    EXPECT_EQ(tail.last, kMax - 1);
    const ByteRange open = ParseByteRange("bytes=18446744073709551614-", kMax);
    EXPECT_EQ(open.kind, kPart);
    EXPECT_EQ(open.first, kMax - 1);
    EXPECT_EQ(open.length(), 1u);
    // A first byte past every number saturates: it is beyond any file.
    EXPECT_EQ(ParseByteRange("bytes=99999999999999999999999-", kMax).kind, kUnsatisfiable);
}

}  // namespace
}  // namespace http
