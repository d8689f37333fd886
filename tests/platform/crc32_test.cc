// The CRC-32 of ZIP and gzip: known values, continuation across pieces, and the folding path
// (taken where the CPU has carry-less multiplication) against the tables for every length
// around its thresholds, unaligned starts and continued CRCs.
#include "platform/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
namespace {

TEST(Crc32Test, KnownTextsAndContinuationAtEverySplit) {
    EXPECT_EQ(Crc32(""), 0u);
    EXPECT_EQ(Crc32("a"), 0xE8B7BE43u);
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    // Long enough for the folding path, whole and in pieces.
    std::string text;
    for (int i = 0; i < 5; ++i) text += "The quick brown fox jumps over the lazy dog. ";
    const uint32_t whole = 0xA2198229u;
    EXPECT_EQ(Crc32(text), whole);
    EXPECT_EQ(Crc32Portable(text), whole);
    for (size_t split = 0; split <= text.size(); ++split) {
        EXPECT_EQ(Crc32(text.substr(split), Crc32(text.substr(0, split))), whole) << split;
    }
}

TEST(Crc32Test, FastPathEqualsTablesForEveryLengthStartAndPreviousCrc) {
    constexpr size_t kLarge = (1 << 20) + 7;
    constexpr size_t kMaxOffset = 15;
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 300; ++length) lengths.push_back(length);
    for (const size_t length : {size_t{4096}, size_t{65536 + 63}, kLarge})
        lengths.push_back(length);
    std::string buffer(kLarge + kMaxOffset, '\0');
    for (size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    for (const uint32_t previous : {0u, 1u, 0xCBF43926u, 0xFFFFFFFFu}) {
        for (size_t offset = 0; offset <= kMaxOffset; ++offset) {
            for (const size_t length : lengths) {
                const std::string_view piece(buffer.data() + offset, length);
                ASSERT_EQ(Crc32(piece, previous), Crc32Portable(piece, previous))
                    << "length " << length << ", offset " << offset << ", previous " << previous;
            }
        }
    }
}

}  // namespace
}  // namespace platform
