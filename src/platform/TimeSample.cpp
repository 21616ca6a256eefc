#include "platform/TimeSample.h"

#include <atomic>
#include <climits>
#include <mutex>

namespace {

const long kNanosPerSecond = 1000000000L;

std::atomic<PFN_DEVICE_CLOCK> g_pfnDeviceClock(nullptr);

// Correction state of GetClockWithRolloverCheck. The servo thread and application threads
// read the clock at the same time; the lock keeps one reading from seeing another's half
// updated correction, which would make time jump by the whole clock value.
std::mutex g_clockMutex;
long g_nLastSec = 0;
long g_nLastNsec = 0;
long g_nCorrSec = 0;
long g_nCorrNsec = 0;

long SaturatingAdd(long a, long b)
{
    long r;
    if (__builtin_add_overflow(a, b, &r)) {
        return b > 0 ? LONG_MAX : LONG_MIN;
    }
    return r;
}

void NormaliseTimespec(struct timespec* pts)
{
    long nCarry = pts->tv_nsec / kNanosPerSecond;
    long nRest = pts->tv_nsec % kNanosPerSecond;
    if (nRest < 0) {
        nRest += kNanosPerSecond;
        nCarry -= 1;
    }
    pts->tv_sec = SaturatingAdd(pts->tv_sec, nCarry);
    pts->tv_nsec = nRest;
}

}  // namespace

void SetDeviceClock(PFN_DEVICE_CLOCK pfnClock)
{
    g_pfnDeviceClock.store(pfnClock);
}

void ReadDeviceClock(struct timespec* pts)
{
    if (pts == nullptr) {
        return;
    }
    PFN_DEVICE_CLOCK pfnClock = g_pfnDeviceClock.load();
    if (pfnClock != nullptr) {
        pts->tv_sec = 0;
        pts->tv_nsec = 0;
        pfnClock(pts);
        // A clock hook is outside code; keep its nanoseconds in range before using them.
        NormaliseTimespec(pts);
        return;
    }
    if (clock_gettime(CLOCK_MONOTONIC, pts) != 0) {
        pts->tv_sec = 0;
        pts->tv_nsec = 0;
    }
}

void GetClockWithRolloverCheck(TIME_SAMPLE* pSample)
{
    if (pSample == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_clockMutex);
    struct timespec raw;
    ReadDeviceClock(&raw);
    pSample->ts = raw;

    // A clock that wrapped or was set back continues from the last reading plus a
    // millisecond, so differences of samples never go negative.
    if (static_cast<int32_t>(raw.tv_sec) < static_cast<int32_t>(g_nLastSec)) {
        g_nCorrSec = SaturatingAdd(g_nCorrSec, g_nLastSec);
        g_nCorrNsec = g_nLastNsec - raw.tv_nsec + g_nCorrNsec + 1000000L;
        if (g_nCorrNsec > 999999999L) {
            g_nCorrNsec -= kNanosPerSecond;
            g_nCorrSec += 1;
        }
    }
    pSample->ts.tv_sec = SaturatingAdd(pSample->ts.tv_sec, g_nCorrSec);
    pSample->ts.tv_nsec += g_nCorrNsec;
    NormaliseTimespec(&pSample->ts);

    g_nLastSec = raw.tv_sec;
    g_nLastNsec = raw.tv_nsec;

    int64_t nTicks;
    if (__builtin_mul_overflow(static_cast<int64_t>(pSample->ts.tv_sec), INT64_C(10000000), &nTicks)) {
        nTicks = pSample->ts.tv_sec > 0 ? INT64_MAX : INT64_MIN;
    }
    pSample->QuadPart = SaturatingAdd(nTicks, static_cast<int64_t>(pSample->ts.tv_nsec) / 100);
}

TIME_SAMPLE TS_SUB(const TIME_SAMPLE& a, const TIME_SAMPLE& b)
{
    TIME_SAMPLE r = a;
    // Wrapping arithmetic: a difference of far-apart samples must not be undefined.
    r.QuadPart = static_cast<int64_t>(static_cast<uint64_t>(a.QuadPart) - static_cast<uint64_t>(b.QuadPart));
    return r;
}

TIME_SAMPLE TS_DIV(const TIME_SAMPLE& a, int64_t n)
{
    TIME_SAMPLE r = a;
    if (n == 0) {
        r.QuadPart = 0;
    } else if (n == -1) {
        r.QuadPart = static_cast<int64_t>(0 - static_cast<uint64_t>(a.QuadPart));
    } else {
        r.QuadPart = a.QuadPart / n;
    }
    return r;
}

CTimeSample::CTimeSample()
{
    Update();
}

CTimeSample::CTimeSample(const CTimeSample& other) : m_tsTime(other.m_tsTime) {}

CTimeSample& CTimeSample::operator=(const CTimeSample& other)
{
    m_tsTime = other.m_tsTime;
    return *this;
}

void CTimeSample::Update()
{
    GetClockWithRolloverCheck(&m_tsTime);
    Quantize();
}

void CTimeSample::Quantize()
{
    m_tsTime = TS_DIV(m_tsTime, 10);
}

int64_t CTimeSample::operator-(const CTimeSample& other) const
{
    return TS_SUB(m_tsTime, other.m_tsTime).QuadPart;
}

CTimedLoop::CTimedLoop(int nLength, int nPollDelay)
{
    int64_t nMicros = static_cast<int64_t>(nLength) * 1000;
    if (nMicros > INT_MAX) {
        nMicros = INT_MAX;
    } else if (nMicros < INT_MIN) {
        nMicros = INT_MIN;
    }
    m_nLength = static_cast<int>(nMicros);
    m_nPollDelay = nPollDelay;
}

bool CTimedLoop::IsExpired()
{
    if (m_nPollDelay != 0) {
        CWait(m_nPollDelay);
    }
    m_tNow.Update();
    return (m_tNow - m_tStart) > m_nLength;
}

void CWait(int nDelay)
{
    (void)nDelay;
}

int SetTimerResolution(int nResolution, BOOL bSet)
{
    (void)nResolution;
    (void)bSet;
    return 0;
}
