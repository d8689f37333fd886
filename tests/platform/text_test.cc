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

namespace platform {
namespace {

TEST(ListingTextTest, NamesSortAsPeopleReadThemAndSizesReadInPowersOf1000) {
    // Each name comes before the next.
    const char* ordered[] = {"",        "0",         "a",      "a1",     "A2",
                             "a02b",    "a2c",       "a10",    "b",      "file-2.txt",
                             "file-10", "FILE-10.a", "file10", "résumé", "zz"};
    for (size_t i = 0; i + 1 < std::size(ordered); ++i) {
        EXPECT_TRUE(NaturalLess(ordered[i], ordered[i + 1]))
            << ordered[i] << " < " << ordered[i + 1];
        EXPECT_FALSE(NaturalLess(ordered[i + 1], ordered[i])) << ordered[i + 1];
    }
    EXPECT_FALSE(NaturalLess("same", "same"));
    // The sort keys put the names in the same order.
    for (size_t i = 0; i + 1 < std::size(ordered); ++i) {
        const std::string a = NaturalSortKey(ordered[i]);
        const std::string b = NaturalSortKey(ordered[i + 1]);
        EXPECT_TRUE(a < b || (a == b && std::string_view(ordered[i]) < ordered[i + 1]))
            << ordered[i] << " < " << ordered[i + 1];
    }
    // Digit runs longer than any integer still compare by value.
    EXPECT_TRUE(NaturalLess("v99999999999999999999999", "v100000000000000000000000"));

    const std::pair<uint64_t, const char*> sizes[] = {
        {0, "0 bytes"},      {1, "1 byte"},          {999, "999 bytes"},      {1000, "1.0 kB"},
        {1234, "1.2 kB"},    {1250, "1.3 kB"},       {999949, "999.9 kB"},    {999950, "1.0 MB"},
        {4938221, "4.9 MB"}, {1073741824, "1.1 GB"}, {UINT64_MAX, "18.4 EB"},
    };
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(HumanSize(bytes), text) << bytes;
    EXPECT_EQ(GroupedDecimal(0), "0");
    EXPECT_EQ(GroupedDecimal(999), "999");
    EXPECT_EQ(GroupedDecimal(4938221), "4,938,221");
}

}  // namespace
}  // namespace platform
