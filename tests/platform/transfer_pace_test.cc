// The least pace of a transfer: how long each wait may last, when it gives up, and the gate.
#include "platform/transfer_pace.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

struct CountingGate : WaitGate {
    bool AdmitWait() override {
        ++asked;
        return admit;
    }
    bool admit = true;
    int asked = 0;
};

TEST(TransferPaceTest, WaitsAreCutAtTheWindowThatLacksItsBytes) {
    TransferPace pace;
    pace.Start(1000, nullptr);
    EXPECT_EQ(pace.NextWaitMs(30000, 1000), 30000);
    EXPECT_EQ(pace.NextWaitMs(30000, 21000), 10000) << "the window ends 30 s after the start";
    pace.Moved(TransferPace::kWindowBytes - 1, 25000);
    EXPECT_EQ(pace.NextWaitMs(30000, 30999), 1) << "one byte short of the window's share";
    EXPECT_EQ(pace.NextWaitMs(30000, 31000), 0);
    // A window's share moves the window on from the moment it was complete.
    pace.Start(0, nullptr);
    pace.Moved(TransferPace::kWindowBytes, 20000);
    EXPECT_EQ(pace.NextWaitMs(30000, 31000), 19000);
    EXPECT_EQ(pace.NextWaitMs(5000, 31000), 5000) << "never longer than the idle limit";
    EXPECT_EQ(pace.NextWaitMs(30000, 50000), 0);
}

TEST(TransferPaceTest, GateIsAskedOnceBeforeTheFirstWait) {
    CountingGate gate;
    TransferPace pace;
    pace.Start(0, &gate);
    pace.Moved(100, 10);
    EXPECT_EQ(gate.asked, 0) << "bytes that go at once ask nothing";
    EXPECT_EQ(pace.NextWaitMs(30000, 10), 29990);
    EXPECT_EQ(pace.NextWaitMs(30000, 20), 29980);
    EXPECT_EQ(gate.asked, 1);

    CountingGate full;
    full.admit = false;
    pace.Start(0, &full);
    EXPECT_EQ(pace.NextWaitMs(30000, 10), 0) << "a full share gives the transfer up";
}

}  // namespace
}  // namespace platform
