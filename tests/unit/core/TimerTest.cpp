// The rate timer against a scripted device clock.
#include <gtest/gtest.h>

#include "core/Timer.h"
#include "platform/TimeSample.h"

namespace {

struct timespec g_tsFake;

void FakeClock(struct timespec* pts) { *pts = g_tsFake; }

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Start well after any real reading so that the clock never appears to run back.
        struct timespec now;
        ReadDeviceClock(&now);
        g_tsFake.tv_sec = now.tv_sec + 100000;
        g_tsFake.tv_nsec = 0;
        SetDeviceClock(FakeClock);
    }
    void TearDown() override { SetDeviceClock(nullptr); }

    void Advance(long nanoseconds) {
        g_tsFake.tv_nsec += nanoseconds;
        while (g_tsFake.tv_nsec >= 1000000000L) {
            g_tsFake.tv_nsec -= 1000000000L;
            g_tsFake.tv_sec++;
        }
    }
    // Runs n updates spaced by the given period.
    void Run(CTimer& timer, int n, long period) {
        for (int i = 0; i < n; i++) {
            Advance(period);
            timer.Update();
        }
    }
};

TEST_F(TimerTest, SteadyThousandHertz)
{
    CTimer timer;
    timer.Init();
    Run(timer, 1, 1000000);
    EXPECT_EQ(1000.0f, timer.GetUpdateRate());
    EXPECT_EQ(1, timer.GetFilterSize());
    // While fewer samples exist the window is limited to what is there.
    for (int k = 2; k <= 11; k++) {
        Run(timer, 1, 1000000);
        EXPECT_EQ(std::min(10, k - 1), timer.GetFilterSize()) << k;
        EXPECT_NEAR(1000.0f, timer.GetUpdateRate(), 0.01f);
    }
    Run(timer, 300, 1000000);
    EXPECT_EQ(10, timer.GetFilterSize());
    EXPECT_NEAR(0.01f, timer.GetFilterTime(), 1e-6f);
    EXPECT_NEAR(1000.0f, timer.GetUpdateRate(), 0.01f);
    EXPECT_NEAR(1000.0f, timer.GetUpdateRateInst(), 0.01f);
}

TEST_F(TimerTest, WindowIsClampedAtBothEnds)
{
    CTimer slow;
    slow.Init();
    Run(slow, 300, 5000000);   // 200 Hz wants 2 intervals
    EXPECT_EQ(5, slow.GetFilterSize());
    EXPECT_NEAR(200.0f, slow.GetUpdateRate(), 0.01f);

    CTimer fast;
    fast.Init();
    Run(fast, 400, 33333);   // about 30000 Hz wants 300 intervals
    EXPECT_EQ(249, fast.GetFilterSize());
    EXPECT_NEAR(30000.0f, fast.GetUpdateRateInst(), 100.0f);
}

TEST_F(TimerTest, EqualSamplesDoNotBreakTheWindow)
{
    CTimer timer;
    timer.Init();
    Run(timer, 20, 0);   // a stalled clock: infinite rates, but a sane window
    EXPECT_GE(timer.GetFilterSize(), 1);
    EXPECT_LE(timer.GetFilterSize(), 249);
    Run(timer, 300, 1000000);
    EXPECT_NEAR(1000.0f, timer.GetUpdateRate(), 0.01f);
}

TEST_F(TimerTest, InstantaneousRateAndItsWindowFollowTheLastInterval)
{
    CTimer timer;
    timer.Init();
    Run(timer, 300, 1000000);
    EXPECT_EQ(10, timer.GetFilterSizeInst());
    // One interval of 0.1 ms: the instantaneous rate is 10000 Hz and would want a window
    // of 100, while the averaged window still follows the previous rate of 1000 Hz and
    // spans nine intervals of 1 ms and the short one.
    Run(timer, 1, 100000);
    EXPECT_NEAR(10000.0f, timer.GetUpdateRateInst(), 1.0f);
    EXPECT_EQ(100, timer.GetFilterSizeInst());
    EXPECT_EQ(10, timer.GetFilterSize());
    EXPECT_NEAR(0.0091f, timer.GetFilterTime(), 1e-6f);
    EXPECT_NEAR(10.0f / 0.0091f, timer.GetUpdateRate(), 0.1f);
}

TEST(IntervalTimerTest, TimeSinceRestartIsSmallAndNonNegative)
{
    CIntervalTimer t;
    t.Restart();
    double s = t.GetTime();
    EXPECT_GE(s, 0.0);
    EXPECT_LT(s, 5.0);
}

}  // namespace
