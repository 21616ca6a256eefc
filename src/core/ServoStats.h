// Timing statistics of the servo loop. The servo thread is the only writer and adds one
// sample per tick without allocating or locking: every figure is an atomic, and the
// histograms are fixed arrays of atomic counters, so readers on other threads see each
// figure whole and the tick never waits for them.
#ifndef KINETOR_SERVO_STATS_H
#define KINETOR_SERVO_STATS_H

#include <stdint.h>

#include <atomic>

#include "KinetorStats.h"

// Durations in whole microseconds: 1 us bins up to 4 ms (a servo period lives there), then
// 256 bins per octave up to about 19 hours, so a stall is still placed within 0.4 %.
class CDurationHistogram {
public:
    static constexpr int kLinearBins = 4096;
    static constexpr int kOctaveShift = 12;   // log2 of kLinearBins
    static constexpr int kSubBins = 256;
    static constexpr int kSubShift = 8;       // log2 of kSubBins
    static constexpr int kOctaves = 24;
    static constexpr int kBins = kLinearBins + kSubBins * kOctaves;

    CDurationHistogram();

    // One sample of nNs nanoseconds. Single writer.
    void Add(uint64_t nNs);
    // Empties the histogram; any thread.
    void Clear();
    // Percentiles by the nearest-rank rule, count and exact maximum; any thread.
    void Read(KINETOR_PERCENTILES* pOut) const;
    // Sum of all samples in nanoseconds.
    uint64_t GetSumNs() const { return m_nSumNs.load(std::memory_order_relaxed); }

    // The bin of a duration in microseconds, and the smallest duration that bin holds.
    static int BinOf(uint64_t nUs);
    static uint64_t LowerBoundUs(int nBin);

private:
    CDurationHistogram(const CDurationHistogram&) = delete;
    CDurationHistogram& operator=(const CDurationHistogram&) = delete;

    std::atomic<uint64_t> m_anBins[kBins];
    std::atomic<uint64_t> m_nMaxNs;
    std::atomic<uint64_t> m_nSumNs;
};

// The figures of one servo loop run.
class CServoStats {
public:
    CServoStats();

    // One servo tick, from the servo thread: the device-clock time its callback started
    // (ns), how long the callback ran (ns), whether it overran its cycle and so skipped
    // the tick wait, and the servo cycle time (ns) for the late-tick test.
    void AddTick(int64_t nStartNs, uint64_t nCallbackNs, bool bOverrun, uint64_t nCycleNs);
    // Starts afresh; any thread. The servo thread drops its last tick start when it sees
    // the reset, so no period spans it.
    void Reset();
    void Read(KINETOR_SERVO_STATS* pOut) const;

private:
    CServoStats(const CServoStats&) = delete;
    CServoStats& operator=(const CServoStats&) = delete;

    CDurationHistogram m_histPeriod;
    CDurationHistogram m_histCallback;
    std::atomic<uint64_t> m_nTicks;
    std::atomic<uint64_t> m_nOverruns;
    std::atomic<uint64_t> m_nLateTicks;
    std::atomic<unsigned> m_nGeneration;
    // The writer's own: the last tick start and the reset generation it belongs to.
    int64_t m_nLastStartNs;
    bool m_bHaveLastStart;
    unsigned m_nGenerationSeen;
};

// The statistics of the process's servo loop.
CServoStats& GetServoStats();

#endif
