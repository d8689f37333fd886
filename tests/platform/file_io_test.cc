// Whole-file reads, atomic writes and new files, checked on real files: modes, links, failures.
#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

using testing_support::TempDir;

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::size_t EntriesIn(const std::string& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
}

class FileIoTest : public ::testing::Test {
  protected:
    TempDir dir_{"vantry-io"};
    std::string file_ = dir_.File("data.txt");
};

TEST_F(FileIoTest, AtomicWriteCreatesReplacesAndLeavesNoTemporaryFile) {
    EXPECT_TRUE(WriteFileAtomically(file_, "first", 0600));
    EXPECT_EQ(ModeOf(file_), 0600u);
    EXPECT_TRUE(WriteFileAtomically(file_, std::string("second\0binary", 13)));
    EXPECT_EQ(ReadWholeFile(file_), std::string("second\0binary", 13));
    EXPECT_EQ(ModeOf(file_), 0600u);  // the old file's mode wins over the default
    EXPECT_EQ(EntriesIn(dir_.path()), 1u);
}

TEST_F(FileIoTest, WritingThroughALinkReplacesItsTargetAndKeepsTheLink) {
    std::ofstream(file_) << "old";
    const std::string link = dir_.File("link.txt");
    fs::create_symlink(file_, link);
    EXPECT_TRUE(FileExists(link));
    EXPECT_TRUE(DirectoryExists(dir_.path()));
    EXPECT_FALSE(DirectoryExists(link));
    EXPECT_TRUE(WriteFileAtomically(link, "new"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(file_), "new");
}

TEST_F(FileIoTest, FailedWritesLeaveTheTargetUntouched) {
    EXPECT_FALSE(WriteFileAtomically(dir_.File("no/such/dir.txt"), "x"));
    fs::create_directory(dir_.File("a-directory"));
    EXPECT_FALSE(WriteFileAtomically(dir_.File("a-directory"), "x"));
    EXPECT_TRUE(fs::is_directory(dir_.File("a-directory")));

    const std::string longName = dir_.File(std::string(255, 'x'));
    std::ofstream(longName) << "kept";
    EXPECT_FALSE(WriteFileAtomically(longName, "lost"));
    EXPECT_EQ(ReadWholeFile(longName), "kept");
    EXPECT_EQ(EntriesIn(dir_.path()), 2u);
}

TEST_F(FileIoTest, ReadingRefusesWhatIsNotARegularFileOrTooLarge) {
    EXPECT_FALSE(ReadWholeFile(dir_.File("missing")));
    EXPECT_FALSE(ReadWholeFile(dir_.path()));
    const std::string fifo = dir_.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadWholeFile(fifo));  // returns at once instead of waiting for a writer
    EXPECT_FALSE(FileExists(fifo));

    std::ofstream(file_) << "12345";
    struct stat st;
    EXPECT_FALSE(ReadWholeFile(file_, 4, &st));
    EXPECT_EQ(ReadWholeFile(file_, 5, &st), "12345");
    EXPECT_EQ(st.st_size, 5);
}

TEST_F(FileIoTest, NewFilesNeverReplaceAnythingAndAreWholeOrAbsent) {
    EXPECT_EQ(CreateNewFile(file_, "first"), NewFileResult::kCreated);
    EXPECT_EQ(CreateNewFile(file_, "second"), NewFileResult::kNameTaken);
    EXPECT_EQ(ReadWholeFile(file_), "first");
    const std::string dangling = dir_.File("dangling");
    fs::create_symlink(dir_.File("target"), dangling);
    EXPECT_EQ(CreateNewFile(dangling, "x"), NewFileResult::kNameTaken);
    EXPECT_FALSE(fs::exists(dir_.File("target")));

    std::string error;
    EXPECT_EQ(CreateNewFile(dir_.File("no/such/dir.txt"), "x", kNewFileMode, &error),
              NewFileResult::kFailed);
    EXPECT_NE(error.find("open " + dir_.File("no/such/dir.txt") + ": "), std::string::npos);

    // A file size limit makes the write fail half way: the file must not stay behind.
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    NewFileResult cut = CreateNewFile(dir_.File("cut.txt"), "longer than four bytes");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(cut, NewFileResult::kFailed);
    EXPECT_FALSE(fs::exists(dir_.File("cut.txt")));
}

}  // namespace
}  // namespace platform
