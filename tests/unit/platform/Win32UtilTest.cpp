// Interlocked counters, the performance counter on the device clock, the absolute time-out
// helper and the debug ring.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "KinetorWin32.h"
#include "platform/TimeSample.h"

namespace {

std::atomic<long long> g_nFakeNanos(0);

void FakeClock(struct timespec* pts)
{
    const long long n = g_nFakeNanos.load();
    pts->tv_sec = static_cast<time_t>(n / 1000000000LL);
    pts->tv_nsec = static_cast<long>(n % 1000000000LL);
}

int64_t Counter()
{
    LARGE_INTEGER li;
    EXPECT_TRUE(QueryPerformanceCounter(&li));
    return li.QuadPart;
}

TEST(Win32UtilTest, InterlockedCountersLoseNoUpdate)
{
    LONG nCount = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&nCount] {
            for (int i = 0; i < 10000; i++) {
                InterlockedIncrement(&nCount);
                InterlockedIncrement(&nCount);
                InterlockedDecrement(&nCount);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(40000, nCount);
    EXPECT_EQ(40001, InterlockedIncrement(&nCount));
    EXPECT_EQ(40000, InterlockedDecrement(&nCount));
    EXPECT_EQ(0, InterlockedIncrement(nullptr));
    EXPECT_EQ(0, InterlockedDecrement(nullptr));
}

TEST(Win32UtilTest, PerformanceCounterFollowsTheDeviceClockAndNeverGoesBack)
{
    LARGE_INTEGER li;
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
    ASSERT_TRUE(QueryPerformanceFrequency(&li));
    EXPECT_EQ(10000000, li.QuadPart);

    // The real device clock keeps counting while the thread sleeps (CPU time would not).
    const int64_t nBefore = Counter();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const int64_t nSlept = Counter() - nBefore;
    EXPECT_GE(nSlept, 300000);
    EXPECT_LT(nSlept, 100000000);

    // Simulated time: the counter moves with it, and a clock set back does not take
    // the counter back (it continues 1 ms above its last reading).
    g_nFakeNanos = 5000000000LL;
    SetDeviceClock(FakeClock);
    const int64_t n1 = Counter();
    g_nFakeNanos += 2500;  // 2.5 us = 25 ticks
    const int64_t n2 = Counter();
    g_nFakeNanos = 1000000000LL;
    const int64_t n3 = Counter();
    g_nFakeNanos += 100000;
    const int64_t n4 = Counter();
    SetDeviceClock(nullptr);
    const int64_t n5 = Counter();
    EXPECT_EQ(25, n2 - n1);
    EXPECT_EQ(n2 + 10000, n3);
    EXPECT_EQ(1000, n4 - n3);
    EXPECT_GE(n5, n4);
}

TEST(Win32UtilTest, AbsoluteTimeoutIsNowPlusTheDelayNormalised)
{
    for (DWORD nMs : {DWORD(0), DWORD(1), DWORD(999), DWORD(1999), DWORD(123456)}) {
        SCOPED_TRACE(nMs);
        struct timespec tBefore, tAt, tAfter;
        clock_gettime(CLOCK_REALTIME, &tBefore);
        get_abs_timeout_time(nMs, &tAt);
        clock_gettime(CLOCK_REALTIME, &tAfter);
        const long double dAt = tAt.tv_sec + tAt.tv_nsec / 1e9L;
        EXPECT_GE(dAt, tBefore.tv_sec + tBefore.tv_nsec / 1e9L + nMs / 1000.0L);
        EXPECT_LE(dAt, tAfter.tv_sec + tAfter.tv_nsec / 1e9L + nMs / 1000.0L);
        EXPECT_GE(tAt.tv_nsec, 0);
        EXPECT_LT(tAt.tv_nsec, 1000000000L);
    }
    struct timespec tFar;
    get_abs_timeout_time(INFINITE, &tFar);
    EXPECT_GT(tFar.tv_sec, 0);  // saturated, not wrapped
    get_abs_timeout_time(10, nullptr);
}

TEST(Win32UtilTest, DebugRingPrintsIntervalsAndFreesItsTexts)
{
    const double adTimes[] = {2.0, 2.0015, 2.0035};
    const char* apszTexts[] = {"start", "middle", "end"};
    for (int i = 0; i < 3; i++) {
        log_entries[i].str = strdup(apszTexts[i]);
        log_entries[i].time = adTimes[i];
    }
    log_idx = 3;
    testing::internal::CaptureStdout();
    print_log();
    EXPECT_EQ("0.000 start 1.500 middle 2.000 end \n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(0, log_idx);
    EXPECT_EQ(nullptr, log_entries[0].str);

    // A fill index beyond the ring is clamped, not followed.
    log_entries[0].str = strdup("x");
    log_idx = 1000;
    reset_log_idx();
    EXPECT_EQ(0, log_idx);
    EXPECT_EQ(nullptr, log_entries[0].str);

    char acBuffer[8];
    memset(acBuffer, 0x5a, sizeof(acBuffer));
    ZeroMemory(acBuffer, 4);
    ZeroMemory(nullptr, 4);
    EXPECT_EQ(0, acBuffer[3]);
    EXPECT_EQ(0x5a, acBuffer[4]);
}

}  // namespace
