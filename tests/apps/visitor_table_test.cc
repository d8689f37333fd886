// The visitor table: which entry a visit counts on, pruning a full table, and recording
// from many threads at once.
#include "apps/visitor_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace apps {
namespace {

constexpr uint32_t Address(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

Visitor Entry(const VisitorTable& table, size_t index) {
    std::optional<Visitor> visitor = table.CopyVisitor(index);
    EXPECT_TRUE(visitor.has_value()) << "no entry " << index;
    return visitor.value_or(Visitor{});
}

auto TimeKey(const platform::CalendarTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
}

TEST(VisitorTableTest, UserKeepsOneEntryAcrossAddressesAndLetterCase) {
    VisitorTable table;
    table.RecordVisit(Address(10, 0, 0, 1), "bob");
    table.RecordVisit(Address(10, 0, 0, 2), "BOB");
    ASSERT_EQ(table.VisitorCount(), 1u);
    Visitor bob = Entry(table, 0);
    EXPECT_EQ(bob.address, Address(10, 0, 0, 2));
    EXPECT_EQ(bob.hits, 2u);
    EXPECT_EQ(bob.userName, "bob") << "the name keeps the spelling of the first visit";
    EXPECT_FALSE(table.CopyVisitor(1).has_value());

    // With both the name and the address matching, the name test decides: the entry moves
    // (nowhere) and keeps its name rather than taking the new spelling.
    table.RecordVisit(Address(10, 0, 0, 2), "Bob");
    EXPECT_EQ(Entry(table, 0).userName, "bob");
    EXPECT_EQ(Entry(table, 0).hits, 3u);
}

TEST(VisitorTableTest, AnonymousVisitsFromManyAddressesShareOneEntry) {
    VisitorTable table;
    table.RecordVisit(Address(10, 0, 0, 1), "");
    table.RecordVisit(Address(10, 0, 0, 2), "");
    ASSERT_EQ(table.VisitorCount(), 1u);
    EXPECT_EQ(Entry(table, 0).address, Address(10, 0, 0, 2));
    EXPECT_EQ(Entry(table, 0).hits, 2u);
    EXPECT_EQ(Entry(table, 0).userName, "");
}

TEST(VisitorTableTest, FirstEntryThatMatchesByNameOrAddressTakesTheVisit) {
    VisitorTable table;
    table.RecordVisit(Address(10, 0, 0, 5), "alice");
    table.RecordVisit(Address(10, 0, 0, 6), "carol");
    // Carol from alice's address: the earlier entry passes the address test first and
    // becomes carol's, while carol's own entry stays as it was.
    table.RecordVisit(Address(10, 0, 0, 5), "Carol");
    ASSERT_EQ(table.VisitorCount(), 2u);
    EXPECT_EQ(Entry(table, 0).userName, "Carol");
    EXPECT_EQ(Entry(table, 0).address, Address(10, 0, 0, 5));
    EXPECT_EQ(Entry(table, 0).hits, 2u);
    EXPECT_EQ(Entry(table, 1).hits, 1u);

    // An anonymous visit from a named entry's address takes that entry and its name away.
    table.RecordVisit(Address(10, 0, 0, 6), "");
    ASSERT_EQ(table.VisitorCount(), 2u);
    EXPECT_EQ(Entry(table, 1).userName, "");
    EXPECT_EQ(Entry(table, 1).hits, 2u);

    // Carol from a new address: entry 1 takes the anonymous visit by its empty name, and
    // carol's visit then finds entry 0 by name before entry 1 by address.
    table.RecordVisit(Address(10, 0, 0, 9), "");
    table.RecordVisit(Address(10, 0, 0, 9), "carol");
    EXPECT_EQ(Entry(table, 0).address, Address(10, 0, 0, 9));
    EXPECT_EQ(Entry(table, 0).hits, 3u);
    EXPECT_EQ(Entry(table, 1).address, Address(10, 0, 0, 9));
    EXPECT_EQ(Entry(table, 1).hits, 3u);
}

TEST(VisitorTableTest, NewcomerToAFullTableKeepsTheNewerHalf) {
    VisitorTable table;
    for (uint32_t i = 0; i < 200; ++i) {
        table.RecordVisit(Address(10, 1, 0, 0) + i, "user" + std::to_string(i));
    }
    table.RecordVisit(Address(10, 1, 0, 150), "user150");
    ASSERT_EQ(table.VisitorCount(), 200u);

    table.RecordVisit(Address(10, 2, 0, 1), "newcomer");
    ASSERT_EQ(table.VisitorCount(), 101u);
    for (size_t i = 0; i < 100; ++i) {
        Visitor moved = Entry(table, i);
        EXPECT_EQ(moved.userName, "user" + std::to_string(i + 100));
        EXPECT_EQ(moved.address, Address(10, 1, 0, 0) + static_cast<uint32_t>(i + 100));
    }
    EXPECT_EQ(Entry(table, 50).hits, 2u) << "a moved entry keeps its count";
    EXPECT_EQ(Entry(table, 100).userName, "newcomer");
    EXPECT_EQ(Entry(table, 100).hits, 1u);
    EXPECT_FALSE(table.CopyVisitor(101).has_value());

    // A pruned visitor comes back as a new entry at the end.
    table.RecordVisit(Address(10, 1, 0, 0), "user0");
    ASSERT_EQ(table.VisitorCount(), 102u);
    EXPECT_EQ(Entry(table, 101).userName, "user0");
    EXPECT_EQ(Entry(table, 101).hits, 1u);
}

TEST(VisitorTableTest, LongNamesAreCutAndStillFindTheirEntry) {
    VisitorTable table;
    std::string longName(70, 'n');
    table.RecordVisit(Address(10, 0, 0, 1), longName);
    table.RecordVisit(Address(10, 0, 0, 2), longName);
    ASSERT_EQ(table.VisitorCount(), 1u);
    EXPECT_EQ(Entry(table, 0).userName, std::string(63, 'n'));
    EXPECT_EQ(Entry(table, 0).hits, 2u);
}

TEST(VisitorTableTest, EveryVisitStampsTheLocalTime) {
    VisitorTable table;
    platform::CalendarTime before = platform::LocalNow();
    table.RecordVisit(Address(10, 0, 0, 1), "dave");
    table.RecordVisit(Address(10, 0, 0, 1), "dave");
    platform::CalendarTime after = platform::LocalNow();
    Visitor dave = Entry(table, 0);
    EXPECT_LE(TimeKey(before), TimeKey(dave.lastAccess));
    EXPECT_LE(TimeKey(dave.lastAccess), TimeKey(after));
}

TEST(VisitorTableTest, ConcurrentVisitsAreAllCounted) {
    constexpr int kThreads = 8;
    constexpr int kVisitsPerThread = 2000;
    constexpr int kNamesPerThread = 20;  // 160 visitors in all: no pruning
    VisitorTable table;
    std::atomic<bool> writing{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&table, t] {
            for (int i = 0; i < kVisitsPerThread; ++i) {
                int n = t * kNamesPerThread + i % kNamesPerThread;
                table.RecordVisit(Address(10, 3, 0, 0) + static_cast<uint32_t>(n),
                                  "visitor" + std::to_string(n));
            }
        });
    }
    // A reader that copies entries while they change sees only whole entries.
    std::thread reader([&] {
        while (writing.load()) {
            size_t count = table.VisitorCount();
            for (size_t i = 0; i < count; ++i) {
                std::optional<Visitor> v = table.CopyVisitor(i);
                ASSERT_TRUE(v.has_value());
                ASSERT_EQ(v->userName,
                          "visitor" + std::to_string(v->address.Ipv4() - Address(10, 3, 0, 0)));
            }
        }
    });
    for (std::thread& thread : threads) thread.join();
    writing.store(false);
    reader.join();

    ASSERT_EQ(table.VisitorCount(), static_cast<size_t>(kThreads * kNamesPerThread));
    uint64_t hits = 0;
    for (size_t i = 0; i < table.VisitorCount(); ++i) hits += Entry(table, i).hits;
    EXPECT_EQ(hits, static_cast<uint64_t>(kThreads * kVisitsPerThread));
}

}  // namespace
}  // namespace apps
