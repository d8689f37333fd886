// The If header as clients write it, and the lock table's rules: which locks conflict, which
// changes a lock holds back, and how a lock ends.
#include "webdav/locks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webdav/if_header.h"

namespace webdav {
namespace {

TEST(IfHeaderTest, ListsHoldWhenEveryConditionDoes) {
    const std::string token = "opaquelocktoken:1";
    struct Case {
        std::string header;
        std::optional<bool> holds;  // std::nullopt: the header does not parse
    };
    const Case cases[] = {
        {"(<" + token + ">)", true},
        {"(<" + token + "x>)", false},
        {"(<DAV:no-lock>)", false},
        {"(Not <DAV:no-lock>)", true},
        {"(<" + token + "> [\"t\"])", true},
        {"(<" + token + "> [\"u\"]) (Not <DAV:no-lock> [\"t\"])", true},
        {"([W/\"t\"])", false},  // If compares tags strongly
        {"</here> (<" + token + ">)", true},
        {"</elsewhere> (<" + token + ">)", false},
        {"  (  <" + token + ">  )  ", true},
        {"", std::nullopt},
        {"()", std::nullopt},
        {"(<" + token, std::nullopt},
        {"<" + token + ">", std::nullopt},
        {"(Not)", std::nullopt},
        {"([\"t\"", std::nullopt},
    };
    for (const Case& c : cases) {
        std::optional<IfHeader> header = ParseIfHeader(c.header);
        ASSERT_EQ(header.has_value(), c.holds.has_value()) << c.header;
        if (!header) continue;
        const bool holds = IfHeaderHolds(*header, [&](const std::optional<std::string>& resource) {
            if (resource && *resource != "/here") return std::optional<IfResourceState>();
            IfResourceState state{"\"t\"", [&](std::string_view t) { return t == token; }};
            return std::optional<IfResourceState>(state);
        });
        EXPECT_EQ(holds, *c.holds) << c.header;
    }
    EXPECT_EQ(ParseIfHeader("(<a>) (Not <b>) </r> (<c> [\"t\"])")->Tokens(),
              (std::vector<std::string>{"a", "c"}));
}

Lock Wanted(std::string token, std::string path, bool exclusive, bool infinite) {
    Lock lock;
    lock.token = std::move(token);
    lock.path = std::move(path);
    lock.exclusive = exclusive;
    lock.infinite = infinite;
    lock.timeoutSeconds = 10;
    return lock;
}

TEST(LockTableTest, ConflictsChangesAndEnds) {
    LockTable table;
    ASSERT_TRUE(table.Acquire(Wanted("t1", "/r/docs", true, true), 0));
    struct Case {
        Lock wanted;
        bool granted;
    };
    const Case acquisitions[] = {
        {Wanted("t2", "/r/docs/a.txt", false, false), false},  // below an exclusive tree lock
        {Wanted("t3", "/r", true, true), false},               // a tree holding the lock
        {Wanted("t4", "/r", true, false), true},               // the folder alone
        {Wanted("t5", "/r/docs2", true, false), true},         // a name sharing a prefix
        {Wanted("s1", "/r/shared", false, false), true},
        {Wanted("s2", "/r/shared", false, false), true},
        {Wanted("x1", "/r/shared", true, false), false},
    };
    for (const Case& c : acquisitions) {
        EXPECT_EQ(table.Acquire(c.wanted, 0).has_value(), c.granted) << c.wanted.token;
    }
    struct Step {
        std::string path;
        webdav::Change change;
        std::vector<std::string> tokens;
        bool permitted;
    };
    const Step changes[] = {
        {"/r/docs/a.txt", Change::kContent, {}, false},
        {"/r/docs/a.txt", Change::kContent, {"t1"}, true},
        {"/r/docs/deep/b.txt", Change::kContent, {"t1"}, true},
        {"/r/new.txt", Change::kContent, {}, true},      // /r is locked only as a folder
        {"/r/new.txt", Change::kMembership, {}, false},  // ... which holds its members' list
        {"/r/new.txt", Change::kMembership, {"t4"}, true},
        {"/r/other", Change::kTree, {"t4"}, true},
        {"/r", Change::kTree, {"t4"}, false},  // the tree holds /r/docs and /r/shared too
        {"/r", Change::kTree, {"t1", "t4", "t5", "s1", "s2"}, true},
    };
    for (const Step& c : changes) {
        EXPECT_EQ(table.Permits(c.path, c.change, c.tokens, 0), c.permitted) << c.path;
    }
    EXPECT_FALSE(table.Release("/r/docs", "t4", 0)) << "a token of another resource";
    EXPECT_TRUE(table.Release("/r/docs/a.txt", "t1", 0)) << "the tree lock covers its members";
    EXPECT_TRUE(table.Permits("/r/docs/a.txt", Change::kContent, {}, 0));
    EXPECT_TRUE(table.Refresh("/r", "t4", 100, 5'000).has_value());
    EXPECT_FALSE(table.Permits("/r/x", Change::kMembership, {}, 50'000)) << "refreshed";
    EXPECT_TRUE(table.Covering("/r/docs2", 50'000).empty()) << "its 10 seconds ran out";
    table.ForgetTree("/r");
    EXPECT_TRUE(table.Covering("/r/shared", 0).empty());
}

}  // namespace
}  // namespace webdav
