// Servo timing statistics: fixed histograms fed once per tick by the servo thread.
#include "core/ServoStats.h"

#include <string.h>

namespace {

// The smallest rank covering the fraction dFraction of nCount samples (at least 1).
uint64_t NearestRank(double dFraction, uint64_t nCount)
{
    double dRank = dFraction * (double)nCount;
    uint64_t nRank = (uint64_t)dRank;
    if ((double)nRank < dRank)
        nRank++;
    return nRank < 1 ? 1 : nRank;
}

int HighestBit(uint64_t n)
{
    int nBit = 0;
    while (n >>= 1)
        nBit++;
    return nBit;
}

}  // namespace

CDurationHistogram::CDurationHistogram()
{
    Clear();
}

int CDurationHistogram::BinOf(uint64_t nUs)
{
    if (nUs < (uint64_t)kLinearBins)
        return (int)nUs;
    const int nOctave = HighestBit(nUs) - kOctaveShift;
    if (nOctave >= kOctaves)
        return kBins - 1;
    const int nSub = (int)(nUs >> (nOctave + kOctaveShift - kSubShift)) - kSubBins;
    return kLinearBins + nOctave * kSubBins + nSub;
}

uint64_t CDurationHistogram::LowerBoundUs(int nBin)
{
    if (nBin < kLinearBins)
        return (uint64_t)nBin;
    const int nOctave = (nBin - kLinearBins) / kSubBins;
    const int nSub = (nBin - kLinearBins) % kSubBins;
    return (uint64_t)(kSubBins + nSub) << (nOctave + kOctaveShift - kSubShift);
}

void CDurationHistogram::Add(uint64_t nNs)
{
    m_anBins[BinOf(nNs / 1000)].fetch_add(1, std::memory_order_relaxed);
    m_nSumNs.fetch_add(nNs, std::memory_order_relaxed);
    uint64_t nMax = m_nMaxNs.load(std::memory_order_relaxed);
    while (nNs > nMax && !m_nMaxNs.compare_exchange_weak(nMax, nNs, std::memory_order_relaxed)) {
    }
}

void CDurationHistogram::Clear()
{
    for (int i = 0; i < kBins; i++)
        m_anBins[i].store(0, std::memory_order_relaxed);
    m_nMaxNs.store(0, std::memory_order_relaxed);
    m_nSumNs.store(0, std::memory_order_relaxed);
}

void CDurationHistogram::Read(KINETOR_PERCENTILES* pOut) const
{
    memset(pOut, 0, sizeof(*pOut));
    // The count is taken from the bins themselves. The writer may add samples between the
    // two passes; a rank the second pass does not reach then reads as the maximum.
    static const double adFractions[4] = {0.50, 0.90, 0.99, 0.999};
    uint64_t nCount = 0;
    for (int i = 0; i < kBins; i++)
        nCount += m_anBins[i].load(std::memory_order_relaxed);
    const double dMaxUs = (double)m_nMaxNs.load(std::memory_order_relaxed) / 1000.0;
    pOut->count = (unsigned long)nCount;
    pOut->max_us = dMaxUs;
    if (nCount == 0)
        return;
    double adValues[4];
    int nNext = 0;
    uint64_t nCumulative = 0;
    for (int i = 0; i < kBins && nNext < 4; i++) {
        nCumulative += m_anBins[i].load(std::memory_order_relaxed);
        while (nNext < 4 && nCumulative >= NearestRank(adFractions[nNext], nCount)) {
            const double dValue = (double)LowerBoundUs(i);
            adValues[nNext++] = dValue < dMaxUs ? dValue : dMaxUs;
        }
    }
    for (; nNext < 4; nNext++)
        adValues[nNext] = dMaxUs;
    pOut->p50_us = adValues[0];
    pOut->p90_us = adValues[1];
    pOut->p99_us = adValues[2];
    pOut->p999_us = adValues[3];
}

CServoStats::CServoStats()
    : m_nTicks(0), m_nOverruns(0), m_nLateTicks(0), m_nGeneration(0), m_nLastStartNs(0),
      m_bHaveLastStart(false), m_nGenerationSeen(0)
{
}

void CServoStats::AddTick(int64_t nStartNs, uint64_t nCallbackNs, bool bOverrun, uint64_t nCycleNs)
{
    const unsigned nGeneration = m_nGeneration.load(std::memory_order_acquire);
    if (nGeneration != m_nGenerationSeen) {
        m_nGenerationSeen = nGeneration;
        m_bHaveLastStart = false;
    }
    if (m_bHaveLastStart && nStartNs >= m_nLastStartNs) {
        const uint64_t nPeriodNs = (uint64_t)(nStartNs - m_nLastStartNs);
        m_histPeriod.Add(nPeriodNs);
        // 1.5 cycles, in integers: twice the period against three cycles.
        if (2 * nPeriodNs > 3 * nCycleNs)
            m_nLateTicks.fetch_add(1, std::memory_order_relaxed);
    }
    m_nLastStartNs = nStartNs;
    m_bHaveLastStart = true;
    m_histCallback.Add(nCallbackNs);
    if (bOverrun)
        m_nOverruns.fetch_add(1, std::memory_order_relaxed);
    m_nTicks.fetch_add(1, std::memory_order_relaxed);
}

void CServoStats::Reset()
{
    m_histPeriod.Clear();
    m_histCallback.Clear();
    m_nTicks.store(0, std::memory_order_relaxed);
    m_nOverruns.store(0, std::memory_order_relaxed);
    m_nLateTicks.store(0, std::memory_order_relaxed);
    m_nGeneration.fetch_add(1, std::memory_order_release);
}

void CServoStats::Read(KINETOR_SERVO_STATS* pOut) const
{
    memset(pOut, 0, sizeof(*pOut));
    pOut->ticks = (unsigned long)m_nTicks.load(std::memory_order_relaxed);
    pOut->overruns = (unsigned long)m_nOverruns.load(std::memory_order_relaxed);
    pOut->late_ticks = (unsigned long)m_nLateTicks.load(std::memory_order_relaxed);
    m_histPeriod.Read(&pOut->period);
    m_histCallback.Read(&pOut->callback);
    const uint64_t nSumNs = m_histPeriod.GetSumNs();
    if (pOut->period.count > 0 && nSumNs > 0)
        pOut->rate_hz = (double)pOut->period.count * 1e9 / (double)nSumNs;
}

CServoStats& GetServoStats()
{
    // Never destroyed: a servo thread may still tick while the process exits.
    static CServoStats* s_pStats = new CServoStats();
    return *s_pStats;
}
