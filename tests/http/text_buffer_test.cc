// The text buffer's growth and termination.
#include "http/text_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace http {
namespace {

TEST(TextBufferTest, SingleCharacterAppendsGrowByDoublingAndStayTerminated) {
    TextBuffer buffer;
    EXPECT_EQ(buffer.capacity(), 2048u);
    for (int i = 0; i < 5000; ++i) buffer.AppendChar(static_cast<char>('a' + i % 26));
    EXPECT_EQ(buffer.length(), 5000u);
    EXPECT_GE(buffer.capacity(), 8192u);
    EXPECT_EQ(buffer.capacity() & (buffer.capacity() - 1), 0u) << "capacity is a power of two";
    EXPECT_EQ(buffer.data()[5000], '\0');
    EXPECT_EQ(std::strlen(buffer.data()), 5000u);
    EXPECT_EQ(buffer.data()[4999], static_cast<char>('a' + 4999 % 26));
}

TEST(TextBufferTest, KeepsFiveBytesOfRoomBeyondEveryAppend) {
    TextBuffer buffer;
    // 2042 bytes plus terminator plus slack no longer fit in 2048.
    buffer.Append(std::string(2042, 'x'));
    EXPECT_EQ(buffer.capacity(), 2048u);
    buffer.Clear();
    buffer.Append(std::string(2043, 'x'));
    EXPECT_EQ(buffer.capacity(), 4096u);
}

TEST(TextBufferTest, BytesWithZerosAndClearKeepCapacity) {
    TextBuffer buffer;
    const char bytes[] = {'a', '\0', 'b'};
    EXPECT_EQ(buffer.AppendBytes(bytes, 3), 3u);
    EXPECT_EQ(buffer.view(), std::string_view(bytes, 3));
    buffer.Append(std::string(10000, 'y'));
    size_t grown = buffer.capacity();
    buffer.Clear();
    EXPECT_EQ(buffer.length(), 0u);
    EXPECT_EQ(buffer.data()[0], '\0');
    EXPECT_EQ(buffer.capacity(), grown);
    EXPECT_EQ(buffer.Append("abc"), 3u);
    EXPECT_STREQ(buffer.data(), "abc");
}

}  // namespace
}  // namespace http
