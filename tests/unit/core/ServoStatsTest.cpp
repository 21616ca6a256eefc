// The servo timing statistics and the real-time readiness advice, without a servo loop:
// samples are fed by hand and the figures compared with values worked out on paper.
#include <pthread.h>
#include <sched.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "KinetorStats.h"
#include "core/RealtimeReadiness.h"
#include "core/ServoStats.h"

namespace {

const uint64_t kUs = 1000;  // ns

TEST(ServoStatsTest, HistogramPercentilesFollowTheNearestRankRule)
{
    struct {
        const char* pszCase;
        uint64_t nFirstUs, nStepUs;
        int nSamples;
        double dP50, dP90, dP99, dP999, dMax;
    } aCases[] = {
        // 1..1000 us: rank ceil(q n) is the value itself.
        {"1 to 1000 us", 1, 1, 1000, 500, 900, 990, 999, 1000},
        // Ten samples: ranks 5, 9, 10, 10.
        {"ten samples", 100, 100, 10, 500, 900, 1000, 1000, 1000},
        {"one sample", 1234, 0, 1, 1234, 1234, 1234, 1234, 1234},
        // Past 4 ms the bins are 1/256 of an octave: 10000 us lies in the bin from 9984 us.
        {"a long stall", 10000, 0, 3, 9984, 9984, 9984, 9984, 10000},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszCase);
        static CDurationHistogram hist;
        hist.Clear();
        for (int i = 0; i < c.nSamples; i++)
            hist.Add((c.nFirstUs + c.nStepUs * (uint64_t)i) * kUs);
        KINETOR_PERCENTILES p;
        hist.Read(&p);
        EXPECT_EQ((unsigned long)c.nSamples, p.count);
        EXPECT_DOUBLE_EQ(c.dP50, p.p50_us);
        EXPECT_DOUBLE_EQ(c.dP90, p.p90_us);
        EXPECT_DOUBLE_EQ(c.dP99, p.p99_us);
        EXPECT_DOUBLE_EQ(c.dP999, p.p999_us);
        EXPECT_DOUBLE_EQ(c.dMax, p.max_us);
    }
    static CDurationHistogram empty;
    KINETOR_PERCENTILES p;
    empty.Read(&p);
    EXPECT_EQ(0UL, p.count);
    EXPECT_EQ(0.0, p.max_us);
    EXPECT_EQ(0.0, p.p50_us);
}

TEST(ServoStatsTest, EveryDurationFallsInABinThatStartsAtMostAQuarterPercentBelowIt)
{
    int nLastBin = -1;
    for (uint64_t nUs = 0; nUs < (1ULL << 38); nUs = nUs < 5000 ? nUs + 1 : nUs + nUs / 97 + 1) {
        const int nBin = CDurationHistogram::BinOf(nUs);
        ASSERT_GE(nBin, nLastBin) << nUs;  // never decreasing
        ASSERT_LT(nBin, CDurationHistogram::kBins) << nUs;
        nLastBin = nBin;
        if (nUs >= (1ULL << 36))
            continue;  // beyond the last octave everything shares the last bin
        const uint64_t nLow = CDurationHistogram::LowerBoundUs(nBin);
        ASSERT_LE(nLow, nUs) << nUs;
        ASSERT_LE((double)(nUs - nLow), (double)nUs / 256.0) << nUs;
        if (nUs < 4096) {
            ASSERT_EQ(nUs, nLow);
        }
    }
    EXPECT_EQ(CDurationHistogram::kBins - 1, nLastBin);
}

TEST(ServoStatsTest, TicksOverrunsLateTicksAndRateOfAHandFedRun)
{
    static CServoStats stats;
    stats.Reset();
    const uint64_t nCycle = 1000 * kUs;
    // Starts at 0, 1000, 2000, 3600, 5100, 6100 us: periods 1000, 1000, 1600 (late: more
    // than 1500), 1500 (not late), 1000. The third callback ran 1200 us: an overrun.
    const int64_t anStartUs[6] = {0, 1000, 2000, 3600, 5100, 6100};
    const uint64_t anCallbackUs[6] = {100, 200, 1200, 300, 150, 250};
    for (int i = 0; i < 6; i++)
        stats.AddTick(anStartUs[i] * (int64_t)kUs, anCallbackUs[i] * kUs, anCallbackUs[i] * kUs >= nCycle, nCycle);
    KINETOR_SERVO_STATS s;
    stats.Read(&s);
    EXPECT_EQ(6UL, s.ticks);
    EXPECT_EQ(1UL, s.overruns);
    EXPECT_EQ(1UL, s.late_ticks);
    EXPECT_EQ(5UL, s.period.count);
    EXPECT_EQ(6UL, s.callback.count);
    // Five periods in 6.1 ms.
    EXPECT_NEAR(5.0 / 0.0061, s.rate_hz, 1e-6);
    EXPECT_DOUBLE_EQ(1000.0, s.period.p50_us);
    EXPECT_DOUBLE_EQ(1600.0, s.period.max_us);
    // Sorted 1000, 1000, 1000, 1500, 1600: p90 is rank ceil(4.5) = 5.
    EXPECT_DOUBLE_EQ(1600.0, s.period.p90_us);
    EXPECT_DOUBLE_EQ(200.0, s.callback.p50_us);
    EXPECT_DOUBLE_EQ(1200.0, s.callback.max_us);

    // A reset empties everything, and no period spans it.
    stats.Reset();
    stats.Read(&s);
    EXPECT_EQ(0UL, s.ticks);
    EXPECT_EQ(0UL, s.period.count);
    EXPECT_EQ(0.0, s.rate_hz);
    stats.AddTick(90000 * (int64_t)kUs, 10 * kUs, false, nCycle);
    stats.AddTick(91000 * (int64_t)kUs, 10 * kUs, false, nCycle);
    stats.Read(&s);
    EXPECT_EQ(2UL, s.ticks);
    EXPECT_EQ(1UL, s.period.count);
    EXPECT_DOUBLE_EQ(1000.0, s.period.max_us);
    EXPECT_NEAR(1000.0, s.rate_hz, 1e-9);
}

TEST(ServoStatsTest, ExportedReaderRefusesANullPointer)
{
    EXPECT_EQ(-9, getServoLoopStats(nullptr));
    resetServoLoopStats();
    KINETOR_SERVO_STATS s;
    memset(&s, 0xff, sizeof(s));
    EXPECT_EQ(0, getServoLoopStats(&s));
    EXPECT_EQ(0UL, s.ticks);
    EXPECT_EQ(0UL, s.callback.count);
}

// ---- real-time readiness ----

REALTIME_READINESS g_probeResult;
void FixedProbe(REALTIME_READINESS* p) { *p = g_probeResult; }

TEST(RealtimeReadinessTest, AdviceNamesWhatIsMissingAndIsShownOncePerProcess)
{
    struct {
        bool bFifo, bLock;
        const char* apszPresent[4];
        const char* apszAbsent[3];
    } aCases[] = {
        {true, true, {nullptr}, {"SCHED_FIFO", "memory", "limits.conf"}},
        {false, true, {"SCHED_FIFO", "rtprio", "cap_sys_nice", "root"}, {"memlock", "cap_ipc_lock", nullptr}},
        {true, false, {"memory locking", "memlock unlimited", "cap_ipc_lock", "root"}, {"rtprio", "SCHED_FIFO", nullptr}},
        {false, false, {"rtprio 99", "memlock unlimited", "cap_sys_nice,cap_ipc_lock", "limits.conf"}, {nullptr}},
    };
    SetRealtimeProbe(FixedProbe);
    for (const auto& c : aCases) {
        SCOPED_TRACE(std::to_string(c.bFifo) + std::to_string(c.bLock));
        g_probeResult.bFifoGranted = c.bFifo;
        g_probeResult.bMemlockAllowed = c.bLock;
        ResetRealtimeAdviceShown();
        testing::internal::CaptureStderr();
        REALTIME_READINESS r = CheckRealtimeReadiness();
        CheckRealtimeReadiness();  // a second loop start: nothing more on the terminal
        std::string strErr = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.bFifo, r.bFifoGranted);
        EXPECT_EQ(c.bLock, r.bMemlockAllowed);
        if (c.bFifo && c.bLock) {
            EXPECT_EQ("", strErr);
            continue;
        }
        // One line, ending the output.
        ASSERT_FALSE(strErr.empty());
        EXPECT_EQ(strErr.size() - 1, strErr.find('\n')) << strErr;
        for (const char* psz : c.apszPresent) {
            if (psz != nullptr) {
                EXPECT_NE(std::string::npos, strErr.find(psz)) << psz << " in " << strErr;
            }
        }
        for (const char* psz : c.apszAbsent) {
            if (psz != nullptr) {
                EXPECT_EQ(std::string::npos, strErr.find(psz)) << psz << " in " << strErr;
            }
        }
    }
    SetRealtimeProbe(nullptr);

    // A buffer too small for the advice gets a cut but terminated text.
    char szSmall[16];
    REALTIME_READINESS none = {false, false};
    EXPECT_TRUE(FormRealtimeAdvice(none, szSmall, sizeof(szSmall)));
    EXPECT_EQ(15u, strlen(szSmall));
}

void* ProbeOnThread(void* pResult)
{
    ProbeRealtimeReadiness(static_cast<REALTIME_READINESS*>(pResult));
    return nullptr;
}

TEST(RealtimeReadinessTest, RealProbeSeesTheSchedulingTheThreadWasGiven)
{
    // A thread asked to run under SCHED_FIFO: the probe on it agrees with whether the
    // system granted the request (it may refuse, in a container say).
    pthread_attr_t attr;
    ASSERT_EQ(0, pthread_attr_init(&attr));
    struct sched_param param;
    memset(&param, 0, sizeof(param));
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    ASSERT_EQ(0, pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED));
    ASSERT_EQ(0, pthread_attr_setschedpolicy(&attr, SCHED_FIFO));
    ASSERT_EQ(0, pthread_attr_setschedparam(&attr, &param));
    REALTIME_READINESS fifo = {false, false};
    pthread_t tid;
    const bool bGranted = pthread_create(&tid, &attr, ProbeOnThread, &fifo) == 0;
    pthread_attr_destroy(&attr);
    if (bGranted) {
        ASSERT_EQ(0, pthread_join(tid, nullptr));
    }
    EXPECT_EQ(bGranted, fifo.bFifoGranted);

    // An ordinary thread never runs under SCHED_FIFO.
    REALTIME_READINESS plain = {true, false};
    ASSERT_EQ(0, pthread_create(&tid, nullptr, ProbeOnThread, &plain));
    ASSERT_EQ(0, pthread_join(tid, nullptr));
    EXPECT_FALSE(plain.bFifoGranted);
    // Memory locking is a property of the process, the same on every thread.
    if (bGranted) {
        EXPECT_EQ(plain.bMemlockAllowed, fifo.bMemlockAllowed);
    }
}

}  // namespace
