// Time samples of the library: the rate timer, the timed polling loops and the
// performance counter all read one device clock. That clock is CLOCK_MONOTONIC, so a
// thread that sleeps in its tick wait still sees real seconds pass; the simulator's
// lockstep pace replaces it with simulated time through SetDeviceClock.
#ifndef KINETOR_TIME_SAMPLE_H
#define KINETOR_TIME_SAMPLE_H

#include <stdint.h>
#include <time.h>

#include "KinetorTypes.h"

typedef struct _TIME_SAMPLE {
    union {
        int64_t QuadPart;   // time in the sample's unit (100 ns, or 1 us once quantized)
        struct {
            uint32_t LowPart;
            int32_t HighPart;
        } u;
    };
    struct timespec ts;     // the clock reading the count came from
} TIME_SAMPLE;

// A replacement device clock; it must fill *pts and may be called from any thread. It is
// called with the clock's correction lock held, so it must not take a time sample itself,
// nor wait for a lock whose holder may be taking one.
typedef void (*PFN_DEVICE_CLOCK)(struct timespec* pts);

// Null restores CLOCK_MONOTONIC.
void SetDeviceClock(PFN_DEVICE_CLOCK pfnClock);
// The raw device clock (the hook when set, else CLOCK_MONOTONIC), without correction.
void ReadDeviceClock(struct timespec* pts);

// Reads the device clock into pSample: ts as corrected, QuadPart in 100 ns ticks.
void GetClockWithRolloverCheck(TIME_SAMPLE* pSample);

// Count of a minus count of b; only the count of the result is meaningful.
TIME_SAMPLE TS_SUB(const TIME_SAMPLE& a, const TIME_SAMPLE& b);
// Count of a divided by n, truncating toward zero.
TIME_SAMPLE TS_DIV(const TIME_SAMPLE& a, int64_t n);

// A time sample in microseconds.
class CTimeSample {
public:
    CTimeSample();
    CTimeSample(const CTimeSample& other);
    CTimeSample& operator=(const CTimeSample& other);

    void Update();
    void Quantize();
    // (this - other) in microseconds.
    int64_t operator-(const CTimeSample& other) const;

    int64_t GetMicroseconds() const { return m_tsTime.QuadPart; }
    const TIME_SAMPLE& GetSample() const { return m_tsTime; }

private:
    TIME_SAMPLE m_tsTime;
};

// Bounded polling loop: IsExpired turns true once more than nLength milliseconds have
// passed on the device clock since construction.
class CTimedLoop {
public:
    CTimedLoop(int nLength, int nPollDelay);
    bool IsExpired();

private:
    int m_nLength;
    int m_nPollDelay;
    CTimeSample m_tStart;
    CTimeSample m_tNow;
};

// Kept for callers written against the timer interface; neither waits nor changes anything.
void CWait(int nDelay);
int SetTimerResolution(int nResolution, BOOL bSet);

#endif
