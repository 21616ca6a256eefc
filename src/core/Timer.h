// Rate measurement of the servo loop. CTimer keeps the times of the last 250 updates and
// derives the achieved rate over a window of about 10 ms, plus the rate of the last
// interval; CIntervalTimer tells how far into the current tick the loop is.
#ifndef KINETOR_TIMER_H
#define KINETOR_TIMER_H

#include "platform/TimeSample.h"

#define TIMER_HISTORY_SIZE 250

class CTimer {
public:
    CTimer();

    void Init();
    void Update();

    float GetUpdateRate() const { return m_updateRate; }
    float GetUpdateRateInst() const { return m_updateRateInst; }
    float GetFilterTime() const { return m_filterTime; }
    int GetFilterSize() const { return m_filterSize; }
    int GetFilterSizeInst() const { return m_filterSizeInst; }

private:
    // Window length for a rate: clamped to what the ring and the samples so far allow.
    int WindowFor(float fRate) const;

    float m_countsPerSec;
    int m_current;
    int m_filterSize;
    int m_filterSizeInst;
    float m_updateRate;
    float m_updateRateInst;
    float m_filterTime;
    float m_filterConst;
    TIME_SAMPLE m_tsHistory[TIMER_HISTORY_SIZE];
    int m_runs;
};

class CIntervalTimer {
public:
    CIntervalTimer();
    virtual ~CIntervalTimer() {}

    void Restart();
    double GetTime() const;

private:
    static double Now();

    double m_tsStarted;
};

#endif
