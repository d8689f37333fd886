// Conditions' lists of entity tags read against a file's tag, strongly and weakly, and
// values no client should send.
#include "http/entity_tags.h"

#include <gtest/gtest.h>

#include <string>

namespace http {
namespace {

TEST(EntityTagsTest, ListsMatchStronglyOrWeakly) {
    struct Case {
        std::string value;
        const char* tag;
        bool strong;  // the answer of the strong comparison
        bool weak;    // the answer of the weak comparison
    };
    const std::string many = [] {
        std::string list;
        for (int i = 0; i < 20000; ++i) list += "\"t" + std::to_string(i) + "\", ";
        return list;
    }();
    const Case cases[] = {
        {"\"a-1\"", "\"a-1\"", true, true},
        {"\"a-2\"", "\"a-1\"", false, false},
        {"*", "\"a-1\"", true, true},
        {" \t* ", "\"a-1\"", true, true},
        // Lists, odd spacing and empty entries.
        {"\"x\", \"a-1\"", "\"a-1\"", true, true},
        {"\"x\",\"a-1\",\"y\"", "\"a-1\"", true, true},
        {" ,, \"x\" ,\t\"a-1\" , ,", "\"a-1\"", true, true},
        {"\"x\", \"y\"", "\"a-1\"", false, false},
        // Weak tags on either side match only weakly; W/ is case-sensitive.
        {"W/\"a-1\"", "\"a-1\"", false, true},
        {"\"x\", W/\"a-1\"", "\"a-1\"", false, true},
        {"\"a-1\"", "W/\"a-1\"", false, true},
        {"w/\"a-1\"", "\"a-1\"", false, false},
        // The quotes belong to the tag, and so does a comma inside them.
        {"a-1", "\"a-1\"", false, false},
        {"\"a-1,\"", "\"a-1,\"", true, true},
        {"\"\"", "\"\"", true, true},
        // Malformed values name nothing, even beside the right tag.
        {"\"a-1", "\"a-1\"", false, false},
        {"\"a-1\", \"b", "\"a-1\"", false, false},
        {"\"a-1\"x", "\"a-1\"", false, false},
        {"\"a-1\" \"b\"", "\"a-1\"", false, false},
        {"\"a 1\"", "\"a 1\"", false, false},
        {"\"a-1\", *", "\"a-1\"", false, false},
        {"W/", "\"a-1\"", false, false},
        {"\"", "\"a-1\"", false, false},
        {"", "\"a-1\"", false, false},
        {" , ", "\"a-1\"", false, false},
        {std::string("\"a-1\"\0", 6), "\"a-1\"", false, false},
        // A tag that is no entity tag matches nothing, not even "*".
        {"*", "a-1", false, false},
        {"\"a-1\"", "", false, false},
        // A long list is read whole; its last tag counts.
        {many + "\"a-1\"", "\"a-1\"", true, true},
        {many, "\"a-1\"", false, false},
        {many + "\"a-1", "\"a-1\"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.substr(0, 60) + " against " + c.tag);
        EXPECT_EQ(EntityTagListMatches(c.value, c.tag, false), c.strong);
        EXPECT_EQ(EntityTagListMatches(c.value, c.tag, true), c.weak);
    }
}

TEST(EntityTagsTest, IfRangeHoldsATagOrSomethingElse) {
    for (const char* tag : {"\"a-1\"", " W/\"a-1\" ", "\"\""}) EXPECT_TRUE(IsEntityTag(tag)) << tag;
    for (const char* other :
         {"Tue, 14 Nov 2023 22:13:20 GMT", "*", "\"a\", \"b\"", "\"a", "", "a-1", "\"a\"b"}) {
        EXPECT_FALSE(IsEntityTag(other)) << other;
    }
}

}  // namespace
}  // namespace http
