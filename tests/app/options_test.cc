// The command line: option values by the position of their names, cut to 45 characters.
#include "app/options.h"

#include <gtest/gtest.h>

namespace app {
namespace {

Options Parse(std::vector<const char*> words) {
    words.insert(words.begin(), "vantry");
    return ParseOptions(static_cast<int>(words.size()), words.data());
}

TEST(OptionsTest, BindAndAbsoluteTakeTheWordAfterThem) {
    Options o = Parse({"-bind", "10.0.0.5", "--headless", "-absolute", "203.0.113.7"});
    EXPECT_EQ(o.bind, "10.0.0.5");
    EXPECT_EQ(o.absolute, "203.0.113.7");
    EXPECT_TRUE(o.headless);
    EXPECT_FALSE(o.help);

    o = Parse({"--version"});
    EXPECT_FALSE(o.bind.has_value());
    EXPECT_FALSE(o.absolute.has_value());
    EXPECT_TRUE(o.version);
}

TEST(OptionsTest, ValuesAreCutAndNamesFoundAnywhere) {
    // The longest IPv6 text is kept whole; anything longer is cut.
    const std::string longest = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";
    EXPECT_EQ(OptionValue("-bind " + longest, "-bind"), longest);
    EXPECT_EQ(OptionValue("-bind " + longest + "99", "-bind"), longest);
    // The name may stand inside a longer word; the value is still the next word.
    EXPECT_EQ(OptionValue("x-bindy 1.2.3.4 rest", "-bind"), "1.2.3.4");
    // A name at the very end has an empty value.
    EXPECT_EQ(OptionValue("--headless -bind", "-bind"), "");
    EXPECT_EQ(OptionValue("--headless", "-bind"), std::nullopt);
    // The first occurrence counts.
    EXPECT_EQ(OptionValue("-bind 1.1.1.1 -bind 2.2.2.2", "-bind"), "1.1.1.1");
}

TEST(OptionsTest, HelpSaysBindTakesEitherFamily) {
    EXPECT_NE(UsageText().find("  -bind ADDRESS      listen on this IPv4 or IPv6 address only;"),
              std::string::npos);
}

}  // namespace
}  // namespace app
