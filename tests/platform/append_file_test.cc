// Lines appended to a shared file: whole, in order, and never doubled by a retry.
#include "platform/append_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testing_support::ReadFile;

// The file-size limit lets a write through only partly and then refuses the rest; the
// signal that refusal raises lifts the limit, as an owner freeing disk space would.
constexpr rlim_t kSizeLimit = 20;
struct rlimit originalLimit;
void LiftLimit(int) { ::setrlimit(RLIMIT_FSIZE, &originalLimit); }

TEST(AppendFileTest, ShortWriteIsContinuedNeverWrittenAgainFromItsStart) {
    testing_support::TempDir dir;
    AppendFile log(dir.File("access.log"));
    ASSERT_TRUE(log.Append("0123456789abcdef\r\n"));  // 18 bytes: two left below the limit

    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &originalLimit), 0);
    struct sigaction lift {
    }, previous{};
    lift.sa_handler = LiftLimit;
    ASSERT_EQ(::sigaction(SIGXFSZ, &lift, &previous), 0);
    struct rlimit low {
        kSizeLimit, originalLimit.rlim_max
    };
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &low), 0);
    std::string error;
    bool appended = log.Append("second line\r\n", &error);
    ::setrlimit(RLIMIT_FSIZE, &originalLimit);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_TRUE(appended) << error;
    EXPECT_EQ(ReadFile(dir.File("access.log")), "0123456789abcdef\r\nsecond line\r\n");
}

TEST(AppendFileTest, FailureNamesTheCallAndThePath) {
    testing_support::TempDir dir;
    AppendFile log(dir.File("missing/access.log"));
    std::string error;
    EXPECT_FALSE(log.Append("line\r\n", &error));
    EXPECT_EQ(error, "open " + dir.File("missing/access.log") + ": No such file or directory");
}

}  // namespace
}  // namespace platform
