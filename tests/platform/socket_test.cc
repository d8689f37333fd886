// Sending part of a file over a socket: whatever the range and however the socket takes the
// pieces, the reader gets exactly the file's bytes of that range.
#include "platform/socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/unique_fd.h"

namespace platform {
namespace {

TEST(SocketTest, FileRangesArriveWhole) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("vantry-send-" + std::to_string(::getpid()));
    std::string contents(1024 * 1024 + 777, '\0');
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 31 % 251);
    std::ofstream(path, std::ios::binary) << contents;
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file);

    struct Case {
        uint64_t offset, count;
    };
    // The whole file; ranges starting on and just after a piece's end, large enough to go
    // through a blocking socket or not; the last byte.
    const Case cases[] = {{0, contents.size()},
                          {1000, 700000},
                          {256 * 1024 - 512, 300000},
                          {256 * 1024 - 511, 4096},
                          {contents.size() - 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset) + ", count " + std::to_string(c.count));
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        const UniqueFd sender(pair[0]), receiver(pair[1]);
        ::fcntl(sender.get(), F_SETFL, O_NONBLOCK);
        std::string received;
        std::thread reader([&] {
            char buffer[65536];
            for (ssize_t n; (n = ::read(receiver.get(), buffer, sizeof buffer)) > 0;) {
                received.append(buffer, static_cast<size_t>(n));
            }
        });
        uint64_t sent = 0;
        EXPECT_TRUE(SendFileContents(sender.get(), file.get(), c.offset, c.count, 5000, &sent));
        ::shutdown(sender.get(), SHUT_WR);
        reader.join();
        EXPECT_EQ(sent, c.count);
        EXPECT_EQ(received, contents.substr(c.offset, c.count));
    }
    // A file shorter than its range is a failure, not a success.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const UniqueFd sender(pair[0]), receiver(pair[1]);
    uint64_t offset = contents.size() - 10, count = 20, sent = 0;
    std::thread drain([&] {
        char buffer[64];
        while (::read(receiver.get(), buffer, sizeof buffer) > 0) {
        }
    });
    EXPECT_FALSE(SendFileNow(sender.get(), file.get(), &offset, &count, &sent));
    EXPECT_EQ(sent, 10u);
    ::shutdown(sender.get(), SHUT_WR);
    drain.join();
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace platform
