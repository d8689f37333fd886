// Opening files for sending: small files come from memory while they are unchanged, and every
// change on disk (a write, a replacement, a removal, new permissions, growth) is seen at once.
#include "platform/open_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace platform {
namespace {

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Sent(const std::string& path, OpenFailure* failure = nullptr) {
    std::optional<OpenedFile> file = OpenRegularFile(path, failure);
    return file ? ReadContents(*file) : "<none>";
}

TEST(OpenFileTest, KeptFilesFollowEveryChangeOnDisk) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vantry-open-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string page = (dir / "page.html").string();
    Write(page, "first version");
    // Only a file whose last change has settled is kept: wait until this one has.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    std::optional<OpenedFile> first = OpenRegularFile(page);
    std::optional<OpenedFile> again = OpenRegularFile(page);
    ASSERT_TRUE(first && again);
    ASSERT_TRUE(again->contents);
    EXPECT_EQ(again->contents.get(), first->contents.get());
    EXPECT_FALSE(again->fd);
    EXPECT_EQ(ReadContents(*again, 6, 3), "ver");
    EXPECT_EQ(ReadContents(*again, 99), "");

    struct Change {
        const char* what;
        std::function<void()> make;
        std::string expected;
    };
    const std::string other = (dir / "other.html").string();
    const Change changes[] = {
        {"a write of the same length", [&] { Write(page, "other version"); }, "other version"},
        {"a replacement",
         [&] {
             Write(other, "replaced");
             std::filesystem::rename(other, page);
         },
         "replaced"},
        {"growth past what is kept", [&] { Write(page, std::string(kLargestFileKept + 1, 'x')); },
         std::string(kLargestFileKept + 1, 'x')},
        {"a removal", [&] { std::filesystem::remove(page); }, "<none>"},
    };
    for (const Change& change : changes) {
        change.make();
        EXPECT_EQ(Sent(page), change.expected) << change.what;
        EXPECT_EQ(Sent(page), change.expected) << change.what << ", asked again";
    }

    // Permissions taken away (which binds no one running as root).
    Write(page, "private");
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(Sent(page), "private");
    EXPECT_EQ(Sent(page), "private");
    ::chmod(page.c_str(), 0);
    if (::geteuid() != 0) {
        OpenFailure failure = OpenFailure::kFailed;
        EXPECT_EQ(Sent(page, &failure), "<none>");
        EXPECT_EQ(failure, OpenFailure::kNotAllowed);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace platform
