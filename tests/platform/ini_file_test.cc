// INI semantics through files on disk: lookups, the integer reader, rewrites and concurrency.
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/file_io.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace platform {
namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

class IniFileTest : public ::testing::Test {
  protected:
    TempDir dir_{"vantry-ini"};
    std::string ini_ = dir_.File("Vantry.ini");
};

TEST_F(IniFileTest, LookupFollowsTheProfileRules) {
    const std::string text =
        "orphan=before any section\r\n"
        "[Config]\r\n"
        "Port = 8080 \r\n"
        "port=9999\r\n"
        "\tName\t=\t two words \r\n"
        ";hidden=comment\r\n"
        "not a key line\r\n"
        "equation=a=b\r\n"
        "empty=\r\n"
        " \xEF\xBB\xBF marked = after an editor's mark\r\n"
        "[  Other Section  ] trailing text\r\n"
        "key=other\r\n"
        "[CONFIG]\r\n"
        "late=second section of the same name\r\n";
    WriteFile(ini_, text);
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"config", "PORT", "8080"},
        {"Config", "name", "two words"},
        {"Config", ";hidden", "<default>"},
        {"Config", "not a key line", "<default>"},
        {"Config", "equation", "a=b"},
        {"Config", "empty", ""},
        {"other section", "key", "other"},
        {"Config", "late", "<default>"},
        {"Config", "marked", "after an editor's mark"},
        {"Config", "orphan", "<default>"},
        {"Missing", "port", "<default>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetProfileString(ini_, c.section, c.key, "<default>"), c.expected)
            << c.section << " " << c.key;
        EXPECT_EQ(GetIniTextString(text, c.section, c.key, "<default>"), c.expected)
            << "in memory: " << c.section << " " << c.key;
    }
    EXPECT_EQ(GetProfileString(dir_.File("absent.ini"), "Config", "port", "d"), "d");
}

TEST_F(IniFileTest, IntegerReaderTakesTheDecimalPrefix) {
    struct Case {
        const char* stored;
        long expected;
    } cases[] = {
        {"42", 42},
        {"-17", -17},
        {"+5", 5},
        {"12abc", 12},
        {"abc", 0},
        {"0x1F", 0},
        {"- 3", 0},
        {"", 77},
        {"99999999999999999999999", LONG_MAX},
        {"-99999999999999999999999", LONG_MIN},
    };
    for (const Case& c : cases) {
        WriteFile(ini_, std::string("[S]\nk=") + c.stored + "\n");
        EXPECT_EQ(GetProfileInt(ini_, "s", "K", 77), c.expected) << c.stored;
    }
    EXPECT_EQ(GetProfileInt(ini_, "S", "missing", 77), 77);
}

TEST_F(IniFileTest, WritingChangesOnlyTheAffectedLines) {
    WriteFile(ini_,
              "; settings\r\n"
              "[Config]\r\n"
              "port=80\r\n"
              "unknown = kept\r\n"
              "\r\n"
              "; trailing comment\r\n"
              "[Empty]\r\n"
              "[Mime]\r\n"
              "gif=image/gif\r\n");
    EXPECT_TRUE(WriteProfileString(ini_, "CONFIG", "PORT", "8080"));
    EXPECT_TRUE(WriteProfileString(ini_, "config", "logs", "Y"));
    EXPECT_TRUE(WriteProfileString(ini_, "Empty", "first", "1"));
    EXPECT_TRUE(WriteProfileString(ini_, "Server-2", "secondPortEnabled", "N"));
    EXPECT_TRUE(DeleteProfileKey(ini_, "mime", "GIF"));
    EXPECT_TRUE(DeleteProfileKey(ini_, "Mime", "not-there"));
    EXPECT_EQ(ReadFile(ini_),
              "; settings\n"
              "[Config]\n"
              "PORT=8080\n"
              "unknown = kept\n"
              "logs=Y\n"
              "\n"
              "; trailing comment\n"
              "[Empty]\n"
              "first=1\n"
              "[Mime]\n"
              "\n"
              "[Server-2]\n"
              "secondPortEnabled=N\n");
}

TEST_F(IniFileTest, WritingCreatesAMissingFileButDeletingDoesNot) {
    EXPECT_TRUE(DeleteProfileKey(ini_, "S", "k"));
    EXPECT_FALSE(FileExists(ini_));
    EXPECT_TRUE(WriteProfileString(ini_, "S", "k", "v"));
    EXPECT_EQ(ReadFile(ini_), "[S]\nk=v\n");
}

TEST_F(IniFileTest, DeletingRemovesEveryLineOfTheKeySoItReadsAsMissing) {
    WriteFile(ini_, "[S]\nk=1\nother=x\nK=2\n[T]\nk=3\n");
    EXPECT_TRUE(DeleteProfileKey(ini_, "S", "k"));
    EXPECT_EQ(ReadFile(ini_), "[S]\nother=x\n[T]\nk=3\n");
    EXPECT_EQ(GetProfileString(ini_, "S", "k", "gone"), "gone");
}

TEST_F(IniFileTest, ListingGivesFirstOccurrencesInFileOrder) {
    WriteFile(ini_, "[Mime]\nhtml=a\n;x=y\nGIF=b\nHTML=c\njpg=d\n[mime]\nlater=e\n");
    EXPECT_EQ(ListProfileKeys(ini_, "MIME"), (std::vector<std::string>{"html", "GIF", "jpg"}));
    EXPECT_TRUE(ListProfileKeys(ini_, "None").empty());
}

TEST_F(IniFileTest, ABatchEqualsTheSameChangesOneByOne) {
    const std::string start = "[A]\nx=1\n\n[B]\ny=2\n";
    const std::string single = dir_.File("single.ini");
    WriteFile(ini_, start);
    WriteFile(single, start);
    std::vector<ProfileChange> changes = {
        {"A", "x", "10"},         {"B", "z", "3"},  {"C", "w", "4"},
        {"B", "y", std::nullopt}, {"A", "x", "11"},
    };
    EXPECT_TRUE(WriteProfileChanges(ini_, changes));
    for (const ProfileChange& change : changes) {
        if (change.value) {
            WriteProfileString(single, change.section, change.key, *change.value);
        } else {
            DeleteProfileKey(single, change.section, change.key);
        }
    }
    EXPECT_EQ(ReadFile(ini_), ReadFile(single));
}

TEST_F(IniFileTest, ValuesCannotInjectLinesAndUnreadableKeysAreRefused) {
    WriteFile(ini_, "[S]\nk=1\n");
    EXPECT_TRUE(WriteProfileString(ini_, "S", "k", "a\r\n[Evil]\nkey=b"));
    EXPECT_TRUE(ListProfileKeys(ini_, "Evil").empty());
    const std::string before = ReadFile(ini_);
    EXPECT_FALSE(WriteProfileString(ini_, "S", "a=b", "v"));
    EXPECT_FALSE(WriteProfileString(ini_, "S", "", "v"));
    EXPECT_FALSE(WriteProfileString(ini_, "S]x", "k", "v"));
    EXPECT_EQ(ReadFile(ini_), before);
}

TEST_F(IniFileTest, AFailedWriteLeavesTheOldFileByteIdentical) {
    // The temporary name beside a file whose name is at the length limit cannot be created.
    const std::string longName = dir_.File(std::string(255, 'n'));
    const std::string original = "[S]\r\nk=old\r\n";
    WriteFile(longName, original);
    EXPECT_FALSE(WriteProfileString(longName, "S", "k", "new"));
    EXPECT_EQ(ReadFile(longName), original);
    EXPECT_EQ(GetProfileString(longName, "S", "k", ""), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);

    EXPECT_FALSE(WriteProfileString(dir_.File("missing/Vantry.ini"), "S", "k", "v"));
}

TEST_F(IniFileTest, HandEditsAreSeenByTheNextRead) {
    // Rewritten in place with the same size, many times within one timestamp tick.
    for (int i = 0; i < 200; ++i) {
        WriteFile(ini_, "[S]\nk=" + std::to_string(i % 10) + "\n");
        ASSERT_EQ(GetProfileString(ini_, "S", "k", ""), std::to_string(i % 10));
    }
    WriteFile(ini_, "[S]\nk=three\n");
    EXPECT_EQ(GetProfileString(ini_, "S", "k", ""), "three");
    std::filesystem::remove(ini_);
    EXPECT_EQ(GetProfileString(ini_, "S", "k", "gone"), "gone");
}

TEST_F(IniFileTest, HandEditsOfASettledFileAreSeenWithinHalfASecond) {
    using namespace std::chrono_literals;
    auto settle = [&] {
        // As if the file had last changed a minute ago.
        auto past = std::filesystem::file_time_type::clock::now() - 60s;
        std::filesystem::last_write_time(ini_, past);
    };
    WriteFile(ini_, "[S]\nk=old\n");
    settle();
    ASSERT_EQ(GetProfileString(ini_, "S", "k", ""), "old");
    WriteFile(ini_, "[S]\nk=newer\n");
    settle();
    // The cached copy is trusted for half a second at most; a second is ample on any machine.
    EXPECT_TRUE(testing_support::WaitUntil(
        1s, [&] { return GetProfileString(ini_, "S", "k", "") == "newer"; }));
    // This process's own writes are seen at once.
    ASSERT_TRUE(WriteProfileString(ini_, "S", "k", "ours"));
    EXPECT_EQ(GetProfileString(ini_, "S", "k", ""), "ours");
}

TEST_F(IniFileTest, ConcurrentSaversNeverLoseKeysOrTearTheFile) {
    const std::string head = "[Head]\nname=x\n\n[Threads]\n\n";
    const std::string tail = "[Tail]\nend=yes\n";
    WriteFile(ini_, head + tail);
    constexpr int kRounds = 150;
    std::atomic<bool> saving{true};
    std::atomic<int> tornReads{0};

    std::thread reader([&] {
        while (saving) {
            std::string text = ReadFile(ini_);
            if (!text.starts_with("[Head]\nname=x\n") || !text.ends_with(tail)) ++tornReads;
            if (GetProfileString(ini_, "Tail", "end", "") != "yes") ++tornReads;
        }
    });
    auto saver = [&](const char* key) {
        for (int i = 0; i < kRounds; ++i) {
            EXPECT_TRUE(WriteProfileString(ini_, "Threads", key, std::to_string(i)));
        }
    };
    std::thread first(saver, "first");
    std::thread second(saver, "second");
    first.join();
    second.join();
    saving = false;
    reader.join();

    EXPECT_EQ(tornReads, 0);
    EXPECT_EQ(GetProfileString(ini_, "Threads", "first", ""), std::to_string(kRounds - 1));
    EXPECT_EQ(GetProfileString(ini_, "Threads", "second", ""), std::to_string(kRounds - 1));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}

}  // namespace
}  // namespace platform
