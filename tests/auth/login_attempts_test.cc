// The rule of failed logins per address: blocking, its length, other addresses, and the bound
// on the table.
#include "auth/login_attempts.h"

#include <gtest/gtest.h>

#include <vector>

namespace auth {
namespace {

constexpr uint32_t kClient = 0xcb007109;  // 203.0.113.9
constexpr uint32_t kOther = 0xcb00710a;
constexpr uint64_t kMinute = 60 * 1000;

TEST(LoginAttemptsTest, TenFailuresWithinTenMinutesBlockForTenMinutes) {
    struct Step {
        uint64_t at;         // milliseconds on the clock
        const char* action;  // "fail": a failed login of kClient; "other": one of kOther
        bool startsBlock;    // what RecordFailure answers
        int blocked;         // SecondsBlocked(kClient) afterwards
        int otherBlocked;    // SecondsBlocked(kOther) afterwards
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    std::vector<Step> nine;
    for (int i = 0; i < 9; ++i) nine.push_back({uint64_t(i) * kMinute, "fail", false, 0, 0});
    auto with = [&nine](std::vector<Step> more) {
        std::vector<Step> steps = nine;
        steps.insert(steps.end(), more.begin(), more.end());
        return steps;
    };
    const Case cases[] = {
        {"the tenth failure blocks, for 600 seconds, once",
         with({{9 * kMinute, "fail", true, 600, 0},
               {9 * kMinute + 1500, "fail", false, 599, 0},
               {19 * kMinute - 1, "none", false, 1, 0},
               {19 * kMinute, "none", false, 0, 0}})},
        {"another address counts apart", with({{9 * kMinute, "other", false, 0, 0}})},
        {"failures older than ten minutes no longer count",
         with({{10 * kMinute, "fail", false, 0, 0}, {10 * kMinute + 1, "fail", true, 600, 0}})},
        {"after a block the count starts afresh",
         with({{9 * kMinute, "fail", true, 600, 0}, {19 * kMinute, "fail", false, 0, 0}})},
    };
    for (const Case& c : cases) {
        uint64_t now = 0;
        LoginAttempts attempts([&now] { return now; });
        for (const Step& step : c.steps) {
            now = step.at;
            std::string action = step.action;
            if (action == "fail") {
                EXPECT_EQ(attempts.RecordFailure(kClient), step.startsBlock)
                    << c.name << " at " << now;
            } else if (action == "other") {
                EXPECT_FALSE(attempts.RecordFailure(kOther)) << c.name;
            }
            EXPECT_EQ(attempts.SecondsBlocked(kClient), step.blocked) << c.name << " at " << now;
            EXPECT_EQ(attempts.SecondsBlocked(kOther), step.otherBlocked)
                << c.name << " at " << now;
        }
    }
}

TEST(LoginAttemptsTest, IpAddressesOfBothFamiliesCountApart) {
    uint64_t now = 0;
    LoginAttempts attempts([&now] { return now; });
    platform::IpAddress v6 = *platform::IpAddress::Parse("::ffff:203.0.113.9");
    platform::IpAddress other6 = *platform::IpAddress::Parse("2001:db8::9");
    for (int i = 0; i < LoginAttempts::kMaxFailures; ++i) attempts.RecordFailure(v6);
    EXPECT_GT(attempts.SecondsBlocked(kClient), 0) << "the mapped form is the IPv4 address";
    EXPECT_EQ(attempts.SecondsBlocked(other6), 0);
    EXPECT_EQ(attempts.SecondsBlocked(*platform::IpAddress::Parse("::203.0.113.9")), 0);
}

TEST(LoginAttemptsTest, TheTableStaysBoundedForgettingExpiredThenOldestEntries) {
    uint64_t now = 0;
    LoginAttempts attempts([&now] { return now; }, 3);
    attempts.RecordFailure(1);
    now = 5 * kMinute;
    for (int i = 0; i < LoginAttempts::kMaxFailures; ++i) attempts.RecordFailure(kClient);
    now = 11 * kMinute;  // the failure of 1 expired; kClient is still blocked
    attempts.RecordFailure(2);
    attempts.RecordFailure(3);
    EXPECT_EQ(attempts.Size(), 3u) << "1 was forgotten";
    EXPECT_GT(attempts.SecondsBlocked(kClient), 0);
    now += 1;
    attempts.RecordFailure(4);
    EXPECT_EQ(attempts.Size(), 3u);
    EXPECT_EQ(attempts.SecondsBlocked(kClient), 0) << "nothing expired: the oldest went";
}

}  // namespace
}  // namespace auth
