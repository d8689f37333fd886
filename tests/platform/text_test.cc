// Whether the first bytes of a file read as text.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

TEST(IsTextSampleTest, TextIsValidUtf8WithoutNulAndACutSequenceAtTheEndIsNoFault) {
    using namespace std::string_literals;
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"plain ASCII\r\n\t<html>", true},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf", true},
        // Cut off by the end of the sample after a right start.
        {"a\xc3", true},
        {"a\xe2\x82", true},
        {"a\xf0\x9f\x98", true},
        {"a\xf0", true},
        {"\x7f"
         "ELF\x02\x01\x01\x00"s,
         false},
        {"text\0"s, false},
        {"\x80", false},      // a continuation byte without a start
        {"\xc0\xaf", false},  // overlong "/"
        {"\xc1\xbf", false},
        {"\xe0\x80\xaf", false},      // overlong, three bytes
        {"\xe0\x9f", false},          // the same, cut off: already wrong
        {"\xed\xa0\x80", false},      // a surrogate
        {"\xf0\x8f\xbf\xbf", false},  // overlong, four bytes
        {"\xf4\x90\x80\x80", false},  // above U+10FFFF
        {"\xf5\x80\x80\x80", false},
        {"\xff", false},
        {"\xc3(", false},  // a start followed by no continuation
        {"\xe2\x82(", false},
        {"\xe2\x82\xac\x80", false},
        {"latin-1 caf\xe9 au lait", false},
    };
    for (const auto& [sample, text] : cases) {
        EXPECT_EQ(IsTextSample(sample), text) << testing::PrintToString(sample);
    }
}

}  // namespace
}  // namespace platform
