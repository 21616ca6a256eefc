// Time samples on a fake device clock: counts, rollover correction and timed loops.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/TimeSample.h"

namespace {

std::atomic<long long> g_nFakeNanos(0);

void FakeClock(struct timespec* pts)
{
    long long n = g_nFakeNanos.load();
    pts->tv_sec = static_cast<time_t>(n / 1000000000LL);
    pts->tv_nsec = static_cast<long>(n % 1000000000LL);
}

void SetFake(long long nSeconds, long long nNanos)
{
    g_nFakeNanos.store(nSeconds * 1000000000LL + nNanos);
}

class TimeSampleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetFake(100, 0);
        SetDeviceClock(FakeClock);
    }
    void TearDown() override { SetDeviceClock(nullptr); }
};

TEST_F(TimeSampleTest, CountsHundredNanosecondTicksOfTheDeviceClock)
{
    TIME_SAMPLE a;
    TIME_SAMPLE b;
    SetFake(200, 123456789);
    GetClockWithRolloverCheck(&a);
    SetFake(201, 123456889);
    GetClockWithRolloverCheck(&b);
    EXPECT_EQ(TS_SUB(b, a).QuadPart, 10000001);
    // The count is the corrected reading in ticks.
    EXPECT_EQ(b.QuadPart, static_cast<int64_t>(b.ts.tv_sec) * 10000000 + b.ts.tv_nsec / 100);
}

TEST_F(TimeSampleTest, ClockSetBackContinuesAMillisecondOn)
{
    TIME_SAMPLE a;
    TIME_SAMPLE b;
    TIME_SAMPLE c;
    SetFake(300, 500000000);
    GetClockWithRolloverCheck(&a);
    SetFake(5, 200000000);  // the clock restarted
    GetClockWithRolloverCheck(&b);
    // Continues from the last reading plus the new raw value plus 1 ms.
    EXPECT_EQ(TS_SUB(b, a).QuadPart, 50000000 + 10000);
    SetFake(7, 0);
    GetClockWithRolloverCheck(&c);
    EXPECT_EQ(TS_SUB(c, b).QuadPart, 18000000);
    EXPECT_GE(c.ts.tv_nsec, 0);
    EXPECT_LT(c.ts.tv_nsec, 1000000000);
}

TEST_F(TimeSampleTest, MicrosecondSamplesAndDivision)
{
    SetFake(400, 1000);
    CTimeSample start;
    SetFake(400, 2999);
    CTimeSample later;
    EXPECT_EQ(later - start, 1);  // quantized to whole microseconds: 2 - 1
    SetFake(401, 1000);
    later.Update();
    EXPECT_EQ(later - start, 1000000);
    EXPECT_EQ(start - later, -1000000);
    CTimeSample copy(later);
    EXPECT_EQ(copy - later, 0);
    copy = start;
    EXPECT_EQ(later - copy, 1000000);

    TIME_SAMPLE s = {};
    s.QuadPart = -15;
    EXPECT_EQ(TS_DIV(s, 10).QuadPart, -1);
    s.QuadPart = 15;
    EXPECT_EQ(TS_DIV(s, 10).QuadPart, 1);
    EXPECT_EQ(TS_DIV(s, 0).QuadPart, 0);
    s.QuadPart = INT64_MIN;
    EXPECT_EQ(TS_DIV(s, -1).QuadPart, INT64_MIN);
}

TEST_F(TimeSampleTest, TimedLoopExpiresOnlyAfterItsLength)
{
    for (int nPollDelay : {0, 5}) {
        SCOPED_TRACE(nPollDelay);
        SetFake(500, 0);
        CTimedLoop loop(3000, nPollDelay);
        EXPECT_FALSE(loop.IsExpired());
        SetFake(502, 999999000);
        EXPECT_FALSE(loop.IsExpired());
        SetFake(503, 0);
        EXPECT_FALSE(loop.IsExpired());  // exactly the length is not yet beyond it
        SetFake(503, 1000);
        EXPECT_TRUE(loop.IsExpired());
    }
    SetFake(600, 0);
    CTimedLoop zero(0, 0);
    EXPECT_FALSE(zero.IsExpired());
    SetFake(600, 1000);
    EXPECT_TRUE(zero.IsExpired());
}

TEST(TimeSampleRealClockTest, MonotonicClockNeverGoesBack)
{
    SetDeviceClock(nullptr);
    CTimeSample a;
    CTimeSample b;
    EXPECT_GE(b - a, 0);
    struct timespec ts;
    ReadDeviceClock(&ts);
    struct timespec mono;
    clock_gettime(CLOCK_MONOTONIC, &mono);
    EXPECT_LE(ts.tv_sec, mono.tv_sec);
    EXPECT_EQ(SetTimerResolution(1, TRUE), 0);
    CWait(10);
}

}  // namespace
