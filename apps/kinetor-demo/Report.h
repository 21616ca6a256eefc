// Recording of the demo run and its summary: tick statistics and an SVG plot.
#ifndef KINETOR_DEMO_REPORT_H
#define KINETOR_DEMO_REPORT_H

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <vector>

typedef struct _DEMO_SAMPLE {
    double dTime;        // s since the first tick
    double dPeriod;      // s since the previous tick (0 for the first)
    float afPos[3];      // mm
    float afForce[3];    // N
    float fDepth;        // wall penetration, mm
} DEMO_SAMPLE;

// Fixed-capacity recorder: the servo thread only writes into storage reserved up front,
// so recording never allocates on the tick.
class CDemoRecorder {
public:
    explicit CDemoRecorder(size_t nCapacity);
    // Called by the servo thread only; other threads see a sample once the count covers it.
    void Add(const DEMO_SAMPLE& sample);
    size_t GetCount() const { return m_nCount.load(std::memory_order_acquire); }
    const DEMO_SAMPLE& GetAt(size_t i) const { return m_samples[i]; }

private:
    std::vector<DEMO_SAMPLE> m_samples;
    std::atomic<size_t> m_nCount;
};

typedef struct _DEMO_SUMMARY {
    size_t nTicks;
    double dDuration;      // s from first to last tick
    double dAchievedRate;  // Hz
    double dPeriodP50, dPeriodP99, dPeriodP999, dPeriodMax;  // s
    float fMaxForce;       // N
    float fMaxDepth;       // mm
} DEMO_SUMMARY;

// Percentile by the nearest-rank rule over a copy of the values; 0 for no values.
double Percentile(std::vector<double> values, double dFraction);

DEMO_SUMMARY Summarise(const CDemoRecorder& recorder);
void PrintSummary(FILE* pOut, const DEMO_SUMMARY& summary);

// True when pszPath can be written, so a run is not spent on a plot that cannot be kept.
// Leaves no file behind where none was; an existing file is left as it is.
bool CanWritePlot(const char* pszPath);

// Writes position, force and tick period against time; false when the file cannot be written.
bool WriteSvgPlot(const char* pszPath, const CDemoRecorder& recorder);

#endif
