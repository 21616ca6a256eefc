// The servo loop's timing statistics and its real-time readiness check, with the servo
// thread running on the simulated arm in lockstep: every tick is exactly one simulated
// millisecond, so the figures are known in advance.
#include <string>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "KinetorServo.h"
#include "KinetorStats.h"
#include "SimFixture.h"
#include "core/RealtimeReadiness.h"

namespace {

struct STATS_TICK {
    int nHandle;
    int nTicks;
    int nStallEvery;      // 0: never; else every n-th tick runs 2.5 ms
    int nStalls;
    int nStopAfter;
};

int StatsTick(void* pData)
{
    STATS_TICK* p = static_cast<STATS_TICK*>(pData);
    update_kinetor(p->nHandle);
    p->nTicks++;
    if (p->nStallEvery > 0 && p->nTicks % p->nStallEvery == 0) {
        // The callback keeps the arm busy for two and a half ticks.
        SimAdvance(2500000);
        p->nStalls++;
    }
    return p->nTicks >= p->nStopAfter ? -1 : 0;
}

REALTIME_READINESS g_probe;
void FixedProbe(REALTIME_READINESS* p) { *p = g_probe; }

class ServoStatsTest : public CSimFixture {
protected:
    void TearDown() override
    {
        SetRealtimeProbe(nullptr);
        CSimFixture::TearDown();
    }

    // Runs the servo loop until the callback has seen nTicks ticks.
    void RunLoop(STATS_TICK& tick)
    {
        ASSERT_EQ(0, initOSExtender());
        ASSERT_EQ(0, startServoLoop(StatsTick, &tick));
        KINETOR_SERVO_STATS s;
        // The callback ends the loop itself; stopServoLoop then only collects the thread.
        for (int n = 0; n < 20000; n++) {
            ASSERT_EQ(0, getServoLoopStats(&s));  // any thread, while it runs
            if (s.ticks >= (unsigned long)tick.nStopAfter - 1)
                break;
            usleep(1000);
        }
        stopServoLoop();
    }
};

TEST_F(ServoStatsTest, SteadyLockstepLoopHasOneMillisecondPeriodsAndNoLateTicks)
{
    ASSERT_GE(OpenSimulatedArm(1), 0);
    STATS_TICK tick = {Handle(), 0, 0, 0, 400};
    RunLoop(tick);
    KINETOR_SERVO_STATS s;
    ASSERT_EQ(0, getServoLoopStats(&s));
    // The refusing last callback is not a tick.
    EXPECT_EQ(399UL, s.ticks);
    EXPECT_EQ(398UL, s.period.count);
    EXPECT_EQ(399UL, s.callback.count);
    EXPECT_EQ(0UL, s.overruns);
    EXPECT_EQ(0UL, s.late_ticks);
    EXPECT_DOUBLE_EQ(1000.0, s.period.p50_us);
    EXPECT_DOUBLE_EQ(1000.0, s.period.p999_us);
    EXPECT_NEAR(1000.0, s.period.max_us, 1e-9);
    // The first tick starts somewhere inside a hardware tick, so the first period is
    // shorter than the others; over some 400 periods that is worth below 2.5 Hz.
    EXPECT_GE(s.rate_hz, 1000.0);
    EXPECT_LT(s.rate_hz, 1002.5);
    // A parallel-port update is a few block exchanges of some 25 us each.
    EXPECT_GT(s.callback.p50_us, 20.0);
    EXPECT_LT(s.callback.max_us, 500.0);

    // Kept after the run, emptied by a reset.
    resetServoLoopStats();
    ASSERT_EQ(0, getServoLoopStats(&s));
    EXPECT_EQ(0UL, s.ticks);
    EXPECT_EQ(0UL, s.period.count);
}

TEST_F(ServoStatsTest, StalledCallbacksCountAsOverrunsAndTheirPeriodsAsLate)
{
    ASSERT_GE(OpenSimulatedArm(1), 0);
    STATS_TICK tick = {Handle(), 0, 50, 0, 301};
    RunLoop(tick);
    ASSERT_EQ(6, tick.nStalls);
    KINETOR_SERVO_STATS s;
    ASSERT_EQ(0, getServoLoopStats(&s));
    EXPECT_EQ(300UL, s.ticks);
    EXPECT_EQ(6UL, s.overruns);
    // The period after the last stall never ends: its callback ended the loop.
    EXPECT_EQ(5UL, s.late_ticks);
    EXPECT_GE(s.callback.max_us, 2500.0);
    EXPECT_LT(s.callback.max_us, 3000.0);
    EXPECT_GE(s.period.max_us, 2500.0);
    // Between the stalls the loop is back on its 1 ms ticks.
    EXPECT_DOUBLE_EQ(1000.0, s.period.p50_us);
}

TEST_F(ServoStatsTest, LoopStartWithoutRealtimeTellsTheUserOnceHowToFixIt)
{
    ASSERT_GE(OpenSimulatedArm(1), 0);
    SetRealtimeProbe(FixedProbe);
    struct {
        bool bFifo, bLock;
        bool bShownBefore;
        bool bExpectLine;
    } aRuns[] = {
        {true, true, false, false},    // all granted: silent
        {false, true, false, true},    // no SCHED_FIFO: one line
        {false, false, true, false},   // shown already in this process: silent
        {true, false, false, true},    // no memory locking: one line
    };
    for (const auto& r : aRuns) {
        SCOPED_TRACE(std::to_string(r.bFifo) + std::to_string(r.bLock));
        g_probe.bFifoGranted = r.bFifo;
        g_probe.bMemlockAllowed = r.bLock;
        if (!r.bShownBefore)
            ResetRealtimeAdviceShown();
        STATS_TICK tick = {Handle(), 0, 0, 0, 5};
        testing::internal::CaptureStderr();
        RunLoop(tick);
        std::string strErr = testing::internal::GetCapturedStderr();
        if (!r.bExpectLine) {
            EXPECT_EQ("", strErr);
            continue;
        }
        EXPECT_EQ(0u, strErr.find("libKinetorIO: the servo thread has no ")) << strErr;
        EXPECT_NE(std::string::npos, strErr.find("limits.conf")) << strErr;
        EXPECT_NE(std::string::npos, strErr.find("run it as root")) << strErr;
        EXPECT_EQ(strErr.size() - 1, strErr.find('\n')) << strErr;
    }
}

}  // namespace
