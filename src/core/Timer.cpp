// The rate the application sees is measured, not assumed: the loop's pace is set by the
// hardware tick, so only the time between updates tells what was achieved.
#include "core/Timer.h"

#include <string.h>
#include <sys/time.h>

namespace {

const int kMinWindow = 5;
const int kMaxWindow = TIMER_HISTORY_SIZE - 1;

}  // namespace

CTimer::CTimer()
    : m_countsPerSec(1.0f), m_current(0), m_filterSize(0), m_filterSizeInst(0),
      m_updateRate(0.0f), m_updateRateInst(0.0f), m_filterTime(0.0f), m_filterConst(0.0f),
      m_runs(0)
{
    memset(m_tsHistory, 0, sizeof(m_tsHistory));
}

void CTimer::Init()
{
    m_countsPerSec = 10000000.0f;
    m_runs = 0;
    m_current = 0;
    m_updateRateInst = m_updateRate = 1000.0f;
    m_filterConst = 0.01f;
    for (int i = 0; i < TIMER_HISTORY_SIZE; i++)
        GetClockWithRolloverCheck(&m_tsHistory[i]);
}

int CTimer::WindowFor(float fRate) const
{
    // The product is clamped while still a float: an infinite or undefined rate (two
    // samples with the same count) must not reach the integer conversion.
    float fWindow = m_filterConst * fRate;
    int n;
    if (!(fWindow >= (float)kMinWindow))
        n = kMinWindow;
    else if (fWindow > (float)kMaxWindow)
        n = kMaxWindow;
    else
        n = (int)fWindow;
    if (n >= m_runs)
        n = m_runs - 1;
    return n;
}

void CTimer::Update()
{
    if (m_runs < TIMER_HISTORY_SIZE)
        m_runs++;
    m_current = (m_current + 1) % TIMER_HISTORY_SIZE;
    GetClockWithRolloverCheck(&m_tsHistory[m_current]);

    if (m_runs < 2) {
        m_updateRate = m_updateRateInst = 1000.0f;
        m_filterSize = m_filterSizeInst = 1;
        m_filterTime = 0.001f;
        return;
    }

    const uint64_t newest = (uint64_t)m_tsHistory[m_current].QuadPart;

    int n = WindowFor(m_updateRate);
    m_filterSize = n;
    int past = m_current - n;
    if (past < 0)
        past += TIMER_HISTORY_SIZE;
    m_filterTime = (float)(newest - (uint64_t)m_tsHistory[past].QuadPart) / m_countsPerSec;
    m_updateRate = (float)n / m_filterTime;

    int prev = m_current - 1;
    if (prev < 0)
        prev = TIMER_HISTORY_SIZE - 1;
    m_updateRateInst = m_countsPerSec / (float)(newest - (uint64_t)m_tsHistory[prev].QuadPart);

    m_filterSizeInst = WindowFor(m_updateRateInst);
}

CIntervalTimer::CIntervalTimer() : m_tsStarted(0.0) { Restart(); }

double CIntervalTimer::Now()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (double)tv.tv_sec + (double)tv.tv_usec / 1000000.0;
}

void CIntervalTimer::Restart() { m_tsStarted = Now(); }

double CIntervalTimer::GetTime() const { return Now() - m_tsStarted; }
