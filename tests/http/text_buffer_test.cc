// The text buffer: its content survives growth and clearing, always followed by a zero byte.
#include "http/text_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace http {
namespace {

TEST(TextBufferTest, ContentStaysWholeAndTerminatedThroughGrowthAndClear) {
    TextBuffer buffer;
    const char bytes[] = {'a', '\0', 'b'};
    EXPECT_EQ(buffer.AppendBytes(bytes, 3), 3u);
    EXPECT_EQ(buffer.view(), std::string_view(bytes, 3));
    buffer.Clear();
    // One character at a time, and a text that just fills the first allocation, grow it.
    for (int i = 0; i < 5000; ++i) buffer.AppendChar(static_cast<char>('a' + i % 26));
    EXPECT_EQ(buffer.Append(std::string(TextBuffer::kInitialCapacity, 'y')), 2048u);
    EXPECT_EQ(std::strlen(buffer.data()), 7048u);
    EXPECT_EQ(buffer.view().substr(4998, 3), "ghy");
    const size_t grown = buffer.capacity();
    buffer.Clear();
    EXPECT_EQ(buffer.length(), 0u);
    EXPECT_EQ(buffer.data()[0], '\0');
    EXPECT_EQ(buffer.capacity(), grown);
    EXPECT_EQ(buffer.Append("abc"), 3u);
    EXPECT_STREQ(buffer.data(), "abc");
}

}  // namespace
}  // namespace http
