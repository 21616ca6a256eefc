#include "Report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

CDemoRecorder::CDemoRecorder(size_t nCapacity) : m_samples(nCapacity), m_nCount(0) {}

void CDemoRecorder::Add(const DEMO_SAMPLE& sample)
{
    size_t n = m_nCount.load(std::memory_order_relaxed);
    if (n < m_samples.size()) {
        m_samples[n] = sample;
        m_nCount.store(n + 1, std::memory_order_release);
    }
}

double Percentile(std::vector<double> values, double dFraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    double dRank = std::ceil(dFraction * static_cast<double>(values.size()));
    size_t nIndex = dRank < 1.0 ? 0 : static_cast<size_t>(dRank) - 1;
    if (nIndex >= values.size())
        nIndex = values.size() - 1;
    return values[nIndex];
}

static float Magnitude(const float af[3])
{
    return std::sqrt(af[0] * af[0] + af[1] * af[1] + af[2] * af[2]);
}

DEMO_SUMMARY Summarise(const CDemoRecorder& recorder)
{
    DEMO_SUMMARY s = {};
    s.nTicks = recorder.GetCount();
    std::vector<double> periods;
    periods.reserve(s.nTicks);
    for (size_t i = 0; i < s.nTicks; i++) {
        const DEMO_SAMPLE& smp = recorder.GetAt(i);
        if (i > 0)
            periods.push_back(smp.dPeriod);
        s.fMaxForce = std::max(s.fMaxForce, Magnitude(smp.afForce));
        s.fMaxDepth = std::max(s.fMaxDepth, smp.fDepth);
    }
    if (s.nTicks > 1) {
        s.dDuration = recorder.GetAt(s.nTicks - 1).dTime - recorder.GetAt(0).dTime;
        if (s.dDuration > 0.0)
            s.dAchievedRate = static_cast<double>(s.nTicks - 1) / s.dDuration;
    }
    s.dPeriodP50 = Percentile(periods, 0.50);
    s.dPeriodP99 = Percentile(periods, 0.99);
    s.dPeriodP999 = Percentile(periods, 0.999);
    s.dPeriodMax = Percentile(periods, 1.0);
    return s;
}

void PrintSummary(FILE* pOut, const DEMO_SUMMARY& s)
{
    fprintf(pOut, "Summary\n");
    fprintf(pOut, "  ticks                 %zu\n", s.nTicks);
    fprintf(pOut, "  duration              %.3f s\n", s.dDuration);
    fprintf(pOut, "  achieved rate         %.1f Hz\n", s.dAchievedRate);
    fprintf(pOut, "  tick period p50       %.1f us\n", s.dPeriodP50 * 1e6);
    fprintf(pOut, "  tick period p99       %.1f us\n", s.dPeriodP99 * 1e6);
    fprintf(pOut, "  tick period p99.9     %.1f us\n", s.dPeriodP999 * 1e6);
    fprintf(pOut, "  tick period max       %.1f us\n", s.dPeriodMax * 1e6);
    fprintf(pOut, "  largest force         %.3f N\n", s.fMaxForce);
    fprintf(pOut, "  deepest penetration   %.3f mm\n", s.fMaxDepth);
}

namespace {

// One panel of the plot: a set of series sharing a time axis and a value range.
struct Panel {
    const char* pszTitle;
    const char* pszUnit;
    int nSeries;
    const char* apszNames[3];
    double (*pfnValue)(const DEMO_SAMPLE&, int);
};

double PosValue(const DEMO_SAMPLE& s, int k) { return s.afPos[k]; }
double ForceValue(const DEMO_SAMPLE& s, int k) { return s.afForce[k]; }
double PeriodValue(const DEMO_SAMPLE& s, int) { return s.dPeriod * 1e6; }

const char* const g_apszColours[3] = {"#d62728", "#2ca02c", "#1f77b4"};

}  // namespace

bool CanWritePlot(const char* pszPath)
{
    int fd = open(pszPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        close(fd);
        unlink(pszPath);
        return true;
    }
    if (errno != EEXIST)
        return false;
    // A directory of that name exists too, and opening it for writing fails as it should.
    fd = open(pszPath, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool WriteSvgPlot(const char* pszPath, const CDemoRecorder& recorder)
{
    FILE* pFile = fopen(pszPath, "w");
    if (!pFile)
        return false;
    const Panel panels[3] = {
        {"Stylus position", "mm", 3, {"x", "y", "z"}, PosValue},
        {"Force sent", "N", 3, {"Fx", "Fy", "Fz"}, ForceValue},
        {"Tick period", "us", 1, {"period", nullptr, nullptr}, PeriodValue},
    };
    const int nWidth = 900, nPanelHeight = 220, nLeft = 70, nRight = 20, nTop = 30, nGap = 40;
    const int nHeight = nTop + 3 * (nPanelHeight + nGap);
    size_t nCount = recorder.GetCount();
    // A few thousand points per line are plenty for the eye and keep the file small.
    size_t nStride = nCount > 3000 ? nCount / 3000 : 1;
    double dT0 = nCount ? recorder.GetAt(0).dTime : 0.0;
    double dT1 = nCount ? recorder.GetAt(nCount - 1).dTime : 1.0;
    if (dT1 <= dT0)
        dT1 = dT0 + 1.0;

    fprintf(pFile, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                   "font-family=\"sans-serif\" font-size=\"12\">\n", nWidth, nHeight);
    fprintf(pFile, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    for (int p = 0; p < 3; p++) {
        const Panel& panel = panels[p];
        int nY0 = nTop + p * (nPanelHeight + nGap);
        double dMin = 0.0, dMax = 0.0;
        bool bFirst = true;
        for (size_t i = (p == 2 ? 1 : 0); i < nCount; i++) {
            for (int k = 0; k < panel.nSeries; k++) {
                double v = panel.pfnValue(recorder.GetAt(i), k);
                if (bFirst || v < dMin) dMin = v;
                if (bFirst || v > dMax) dMax = v;
                bFirst = false;
            }
        }
        if (dMax - dMin < 1e-9) { dMin -= 1.0; dMax += 1.0; }
        int nPlotW = nWidth - nLeft - nRight;
        fprintf(pFile, "<text x=\"%d\" y=\"%d\" font-weight=\"bold\">%s (%s)</text>\n", nLeft, nY0 - 8,
                panel.pszTitle, panel.pszUnit);
        fprintf(pFile, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#888\"/>\n",
                nLeft, nY0, nPlotW, nPanelHeight);
        fprintf(pFile, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%.3g</text>\n", nLeft - 4, nY0 + 10, dMax);
        fprintf(pFile, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%.3g</text>\n", nLeft - 4,
                nY0 + nPanelHeight, dMin);
        for (int k = 0; k < panel.nSeries; k++) {
            fprintf(pFile, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1\" points=\"",
                    g_apszColours[k]);
            for (size_t i = (p == 2 ? 1 : 0); i < nCount; i += nStride) {
                const DEMO_SAMPLE& s = recorder.GetAt(i);
                double x = nLeft + (s.dTime - dT0) / (dT1 - dT0) * nPlotW;
                double y = nY0 + nPanelHeight - (panel.pfnValue(s, k) - dMin) / (dMax - dMin) * nPanelHeight;
                fprintf(pFile, "%.1f,%.1f ", x, y);
            }
            fprintf(pFile, "\"/>\n");
            fprintf(pFile, "<text x=\"%d\" y=\"%d\" fill=\"%s\">%s</text>\n", nLeft + nPlotW - 60 + 20 * k,
                    nY0 - 8, g_apszColours[k], panel.apszNames[k]);
        }
        fprintf(pFile, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%.1f s</text>\n", nLeft + nPlotW,
                nY0 + nPanelHeight + 14, dT1 - dT0);
    }
    fprintf(pFile, "</svg>\n");
    bool bOk = !ferror(pFile);
    return fclose(pFile) == 0 && bOk;
}
