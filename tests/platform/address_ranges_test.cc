// The owner's lists of trusted addresses and ranges: what each entry covers, and what is left
// out of a list as no address.
#include "platform/address_ranges.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(AddressRangesTest, EntriesCoverTheirAddressesOnly) {
    struct Case {
        const char* list;
        const char* address;
        bool contained;
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.2", false},
        {"10.0.0.0/8", "10.255.1.2", true},
        {"10.0.0.0/8", "11.0.0.1", false},
        {"192.168.1.77/24", "192.168.1.5", true},  // bits past the prefix do not count
        {"172.16.0.0/12", "172.31.255.255", true},
        {"172.16.0.0/12", "172.32.0.0", false},
        {"0.0.0.0/0", "203.0.113.9", true},
        {"0.0.0.0/0", "::1", false},  // a range holds its own family only
        {"::1", "::1", true},
        {"::1", "127.0.0.1", false},
        {"2001:db8::/32", "2001:db8:ffff::1", true},
        {"2001:db8::/33", "2001:db8:8000::1", false},
        {"fd00::/7", "fdff::1", true},
        // A dual-stack socket's IPv4 client is its IPv4 address, also in a mapped range.
        {"::ffff:10.0.0.0/104", "::ffff:10.9.8.7", true},
        {"127.0.0.1, 10.0.0.0/8  ::1", "::1", true},
        {"", "127.0.0.1", false},
    };
    for (const Case& c : cases) {
        std::optional<IpAddress> address = IpAddress::Parse(c.address);
        ASSERT_TRUE(address) << c.address;
        EXPECT_EQ(AddressRanges::Parse(c.list).Contains(*address), c.contained)
            << c.list << " / " << c.address;
    }
}

TEST(AddressRangesTest, EntriesThatAreNoRangeAreLeftOutAndNamed) {
    std::vector<std::string> rejected;
    AddressRanges ranges = AddressRanges::Parse(
        "10.0.0.0/33,proxy.example 127.0.0.1/ ::1/129 1.2.3.4/-1 1.2.3.4/8x 192.0.2.1", &rejected);
    EXPECT_EQ(rejected, (std::vector<std::string>{"10.0.0.0/33", "proxy.example", "127.0.0.1/",
                                                  "::1/129", "1.2.3.4/-1", "1.2.3.4/8x"}));
    EXPECT_TRUE(ranges.Contains(*IpAddress::Parse("192.0.2.1")));
    EXPECT_FALSE(ranges.Contains(*IpAddress::Parse("10.0.0.1")));
}

}  // namespace
}  // namespace platform
