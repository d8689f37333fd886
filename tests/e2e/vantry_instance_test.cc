// The harness hears the server: a crash or a fault reported in its standard error fails the
// test that ran it, while an end the test asked for does not.
#include "tests/e2e/vantry_instance.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace e2e {
namespace {

using namespace std::chrono_literals;

TEST(FaultLinesTest, FindsTheLineOfEveryKindOfReportAndNothingElse) {
    const std::string running = "127.0.0.1  Vantry Running (Server 1, port 8080)\n";
    const std::string segv =
        "AddressSanitizer:DEADLYSIGNAL\n"
        "==7==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000000 (pc 0x1 T0)\n"
        "SUMMARY: AddressSanitizer: SEGV (/tmp/vantry+0x1)\n";
    struct Case {
        const char* name;
        std::string errors;
        int deliberateSignal;
        std::vector<std::string> faults;
    };
    const Case cases[] = {
        {"a clean run", running + "127.0.0.1  Vantry Not Running (Server 1, port 8080)\n", 0, {}},
        {"memory error",
         running + "==7==ERROR: AddressSanitizer: heap-use-after-free on address 0x6020\n"
                   "    #0 0x55 in OnGet site/app_connection.cc:12\n",
         0,
         {"==7==ERROR: AddressSanitizer: heap-use-after-free on address 0x6020"}},
        {"leak",
         "\n==7==ERROR: LeakSanitizer: detected memory leaks\n",
         0,
         {"==7==ERROR: LeakSanitizer: detected memory leaks"}},
        {"data race, twice",
         "WARNING: ThreadSanitizer: data race (pid=7)\n  Write of size 4\n"
         "WARNING: ThreadSanitizer: data race (pid=7)\nThreadSanitizer: reported 2 warnings\n",
         0,
         {"WARNING: ThreadSanitizer: data race (pid=7)",
          "WARNING: ThreadSanitizer: data race (pid=7)"}},
        {"undefined behaviour",
         "http/range.cc:40:17: runtime error: signed integer overflow\n",
         0,
         {"http/range.cc:40:17: runtime error: signed integer overflow"}},
        {"assertion",
         "vantry: http/range.cc:40: int F(): Assertion `n > 0' failed.\n",
         0,
         {"vantry: http/range.cc:40: int F(): Assertion `n > 0' failed."}},
        {"uncaught exception",
         "terminate called after throwing an instance of 'std::logic_error'\n",
         0,
         {"terminate called after throwing an instance of 'std::logic_error'"}},
        {"crash",
         segv,
         0,
         {"==7==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000000 (pc 0x1 T0)"}},
        {"the crash the test caused", segv, SIGSEGV, {}},
        {"another crash than the one the test caused",
         segv,
         SIGBUS,
         {"==7==ERROR: AddressSanitizer: SEGV on unknown address 0x000000000000 (pc 0x1 T0)"}},
        {"a fault beside the crash the test caused",
         "WARNING: ThreadSanitizer: data race (pid=7)\n" + segv,
         SIGSEGV,
         {"WARNING: ThreadSanitizer: data race (pid=7)"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(testing_support::FaultLines(c.errors, c.deliberateSignal), c.faults) << c.name;
    }
}

// A fault the server reports, or a crash signal, fails the test at the instance's end; a
// deliberate signal and a plain stop do not.
TEST(VantryInstanceTest, TheEndOfAServerThatCrashedOrReportedAFaultFailsTheTest) {
    std::optional<VantryInstance> vantry(std::in_place);
    vantry->Start();
    ASSERT_EQ(::kill(vantry->pid(), SIGABRT), 0);
    vantry->WaitForExit(10s);
    EXPECT_NONFATAL_FAILURE(vantry.reset(), "vantry ended by signal 6 (ABRT)");

    // The report of a run that is followed by another is read before the second start.
    vantry.emplace();
    vantry->Start();
    EXPECT_EQ(vantry->Stop(), 0);
    WriteFile(vantry->dir() + "/stderr.txt",
              vantry->Stderr() + "WARNING: ThreadSanitizer: data race (pid=1)\n");
    EXPECT_NONFATAL_FAILURE(vantry->Start(), "WARNING: ThreadSanitizer: data race (pid=1)");
    vantry->deliberateSignal = SIGSEGV;
    ASSERT_EQ(::kill(vantry->pid(), SIGSEGV), 0);
    vantry->WaitForExit(10s);
    vantry.reset();
}

}  // namespace
}  // namespace e2e
