// The ZIP writer's archives, read back by Python's zipfile and by unzip: names (UTF-8 flagged),
// bytes, times, folders, and the ZIP64 records for large archives and many entries.
#include "platform/zip_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/support/run_shell.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testing_support::RunShell;
using testing_support::TempDir;
using testing_support::WriteFile;

// Checks an archive against the files under `source`, and prints one line per entry: its
// name, size, whether the name is flagged UTF-8, its time and whether it carries ZIP64 fields.
constexpr char kReadBack[] = R"PY(
import sys, time, zipfile
archive, source = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z:
    assert z.testzip() is None
    for i in z.infolist():
        if not i.is_dir():
            with open(source + '/' + i.filename, 'rb') as f:
                assert z.read(i) == f.read(), i.filename
        print(i.filename, i.file_size, bool(i.flag_bits & 0x800), '%04d-%02d-%02d %02d:%02d:%02d' % i.date_time,
              b'\x01\x00' in i.extra[:2])
    print(len(z.infolist()))
)PY";

std::string ReadBack(const TempDir& dir, const std::string& archive) {
    WriteFile(dir.File("read_back.py"), kReadBack);
    auto [status, output] = RunShell("/usr/bin/python3 " + dir.File("read_back.py") + " " +
                                     archive + " " + dir.File("src"));
    EXPECT_EQ(status, 0) << output;
    return output;
}

// A local time as Python's zipfile shows it (seconds rounded down to even).
std::string DosText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec / 2 * 2);
    return text;
}

TEST(ZipWriterTest, ArchivesReadBackWithNamesBytesAndTimes) {
    for (const bool forceZip64 : {false, true}) {
        SCOPED_TRACE(forceZip64 ? "ZIP64" : "classic");
        TempDir dir("zip-writer");
        std::filesystem::create_directories(dir.File("src/sub"));
        // Larger than the writer's buffer, and of no round size.
        std::string large(200 * 1024 + 7, '\0');
        for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7919 >> 3);
        struct File {
            std::string name;
            std::string content;
        };
        const std::vector<File> files = {
            {"sub/a.txt", "hello\n"}, {"\xC3\xBCn\xC3\xAF \xE2\x82\xAC.bin", large}, {"empty", ""}};
        const std::time_t when = 1700000001;
        size_t pieces = 0;
        size_t largestPiece = 0;
        {
            UniqueFd out(::open(dir.File("out.zip").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
            ASSERT_TRUE(out);
            ZipWriter zip(
                [&](std::string_view piece) {
                    ++pieces;
                    largestPiece = std::max(largestPiece, piece.size());
                    return ::write(out.get(), piece.data(), piece.size()) ==
                           static_cast<ssize_t>(piece.size());
                },
                {.forceZip64 = forceZip64});
            EXPECT_TRUE(zip.AddDirectory("sub", when));
            for (const File& file : files) {
                WriteFile(dir.File("src/" + file.name), file.content);
                UniqueFd in(::open(dir.File("src/" + file.name).c_str(), O_RDONLY));
                ASSERT_TRUE(in);
                EXPECT_TRUE(zip.AddFile(file.name, in.get(), file.content.size(), when));
            }
            EXPECT_TRUE(zip.AddDirectory("old", 0));  // before 1980
            EXPECT_TRUE(zip.Finish());
        }
        EXPECT_GT(pieces, 3u);
        EXPECT_LE(largestPiece, 64u * 1024);
        const std::string z64 = forceZip64 ? "True" : "False";
        const std::string time = DosText(when);
        EXPECT_EQ(ReadBack(dir, dir.File("out.zip")),
                  "sub/ 0 True " + time + " " + z64 + "\n" + "sub/a.txt 6 True " + time + " " +
                      z64 + "\n" + files[1].name + " " + std::to_string(large.size()) + " True " +
                      time + " " + z64 + "\n" + "empty 0 True " + time + " " + z64 + "\n" +
                      "old/ 0 True 1980-01-01 00:00:00 " + z64 + "\n5\n");
        if (std::filesystem::exists("/usr/bin/unzip")) {
            auto [status, output] = RunShell("/usr/bin/unzip -t " + dir.File("out.zip"));
            EXPECT_EQ(status, 0) << output;
        }
    }
}

TEST(ZipWriterTest, AFileThatShrankIsStoredAsFarAsItWasRead) {
    TempDir dir("zip-writer");
    std::filesystem::create_directories(dir.File("src"));
    WriteFile(dir.File("src/short"), "four");
    std::string archive;
    ZipWriter zip([&](std::string_view piece) {
        archive.append(piece);
        return true;
    });
    UniqueFd in(::open(dir.File("src/short").c_str(), O_RDONLY));
    ASSERT_TRUE(in);
    EXPECT_TRUE(zip.AddFile("short", in.get(), 1000, 0));  // the size once seen was larger
    EXPECT_TRUE(zip.Finish());
    WriteFile(dir.File("out.zip"), archive);
    EXPECT_EQ(ReadBack(dir, dir.File("out.zip")), "short 4 True 1980-01-01 00:00:00 False\n1\n");
}

TEST(ZipWriterTest, MoreThan65534EntriesGetTheZip64EndRecords) {
    TempDir dir("zip-writer");
    std::filesystem::create_directories(dir.File("src"));
    std::string archive;
    ZipWriter zip([&](std::string_view piece) {
        archive.append(piece);
        return true;
    });
    constexpr int kEntries = 65536;
    for (int i = 0; i < kEntries; ++i) zip.AddDirectory(std::to_string(i), 0);
    EXPECT_TRUE(zip.Finish());
    EXPECT_EQ(zip.Offset(), archive.size());
    WriteFile(dir.File("out.zip"), archive);
    const std::string output = ReadBack(dir, dir.File("out.zip"));
    EXPECT_EQ(output.substr(output.rfind('\n', output.size() - 2) + 1), "65536\n");
    // The classic end record says "see the ZIP64 one".
    EXPECT_EQ(archive.substr(archive.size() - 22, 4), std::string("PK\x05\x06", 4));
    EXPECT_EQ(archive.substr(archive.size() - 12, 2), std::string("\xFF\xFF", 2));
}

TEST(ZipWriterTest, ASinkThatRefusesStopsTheWriting) {
    int calls = 0;
    ZipWriter zip([&](std::string_view) {
        ++calls;
        return false;
    });
    TempDir dir("zip-writer");
    WriteFile(dir.File("big"), std::string(300 * 1024, 'x'));
    UniqueFd in(::open(dir.File("big").c_str(), O_RDONLY));
    ASSERT_TRUE(in);
    EXPECT_FALSE(zip.AddFile("big", in.get(), 300 * 1024, 0));
    EXPECT_FALSE(zip.Finish());
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace platform
