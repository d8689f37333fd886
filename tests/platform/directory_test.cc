// Directory listings on a real directory: kinds, sizes, hidden names and links.
#include "platform/directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

using testing_support::TempDir;

TEST(ListDirectoryTest, ListsEntriesWithKindSizeAndHiddenFlag) {
    TempDir temp("vantry-dir");
    const fs::path dir = temp.path();
    std::ofstream(dir / "page.html") << "12345";
    std::ofstream(dir / ".hidden") << "x";
    fs::create_directory(dir / "sub");
    fs::create_symlink(dir / "page.html", dir / "link");
    fs::create_symlink(dir / "nowhere", dir / "broken");

    auto entries = ListDirectory(dir);
    ASSERT_TRUE(entries);
    auto find = [&](const std::string& name) {
        auto it = std::find_if(entries->begin(), entries->end(),
                               [&](const DirectoryEntry& e) { return e.name == name; });
        return it == entries->end() ? DirectoryEntry{"<missing>"} : *it;
    };
    EXPECT_EQ(find("page.html").size, 5u);
    EXPECT_FALSE(find("page.html").hidden);
    EXPECT_GT(find("page.html").modified, 0);
    EXPECT_TRUE(find(".hidden").hidden);
    EXPECT_TRUE(find("sub").isDirectory);
    EXPECT_EQ(find("sub").size, 0u);
    EXPECT_EQ(find("link").size, 5u);
    EXPECT_FALSE(find("broken").isDirectory);
    EXPECT_EQ(find("broken").size, 0u);
    EXPECT_EQ(find("..").name, "..");

    fs::remove_all(dir);
    EXPECT_FALSE(ListDirectory(dir));
}

TEST(ListDirectoryTest, FilterSeesWhichEntriesMayBeDirectoriesAndDropsTheRest) {
    TempDir temp("vantry-dir");
    const fs::path dir = temp.path();
    std::ofstream(dir / "keep.txt") << "123";
    std::ofstream(dir / "drop.txt") << "x";
    fs::create_directory(dir / "sub");
    fs::create_directory_symlink(dir / "sub", dir / "link");

    std::set<std::pair<std::string, bool>> asked;
    auto entries = ListDirectory(dir, [&](std::string_view name, bool mayBeDirectory) {
        asked.emplace(std::string(name), mayBeDirectory);
        return name != "drop.txt" && name != "." && name != "..";
    });
    ASSERT_TRUE(entries);
    EXPECT_TRUE(asked.count({"keep.txt", false}) && asked.count({"drop.txt", false}) &&
                asked.count({"sub", true}) && asked.count({"link", true}));
    std::map<std::string, DirectoryEntry> byName;
    for (const DirectoryEntry& entry : *entries) byName[entry.name] = entry;
    EXPECT_EQ(byName.size(), 3u);
    EXPECT_EQ(byName["keep.txt"].size, 3u);
    // A directory is the same one whether reached by its name or through a link.
    ASSERT_TRUE(byName["link"].isDirectory);
    EXPECT_EQ(byName["link"].identity, byName["sub"].identity);
    EXPECT_EQ(DirectoryIdentity((dir / "link").string()), byName["sub"].identity);
    EXPECT_NE(DirectoryIdentity(dir.string()), byName["sub"].identity);
    EXPECT_FALSE(DirectoryIdentity((dir / "keep.txt").string()));
}

}  // namespace
}  // namespace platform
