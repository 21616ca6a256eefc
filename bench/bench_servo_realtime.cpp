// The servo loop in real-time pace at 1000 Hz for ten seconds on the simulated parallel
// port: achieved rate, tick-period percentiles and missed ticks.
#include "KinetorServo.h"
#include "Report.h"
#include "ServoBenchSetup.h"

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace {

struct PERIOD_STATE {
    int nHandle;
    std::vector<double> periods;  // sized up front: the tick never allocates
    size_t nCount;
    std::chrono::steady_clock::time_point tLast;
    bool bFirst;
};

// Records the period since the last tick, then does the application's work; a failed call
// ends the loop (a negative return).
int Tick(void* pData)
{
    PERIOD_STATE* pState = static_cast<PERIOD_STATE*>(pData);
    auto tNow = std::chrono::steady_clock::now();
    if (!pState->bFirst && pState->nCount < pState->periods.size())
        pState->periods[pState->nCount++] = std::chrono::duration<double>(tNow - pState->tLast).count();
    pState->bFirst = false;
    pState->tLast = tNow;
    float afPos[3];
    float afForce[3] = {0.0f, 0.0f, 0.0f};
    if (!BenchExpect("update_kinetor", update_kinetor(pState->nHandle)) ||
        !BenchExpect("get_kinetor_pos", get_kinetor_pos(pState->nHandle, afPos)) ||
        !BenchExpect("send_kinetor_force", send_kinetor_force(pState->nHandle, afForce)))
        return -1;
    return 0;
}

// Runs the loop for dSeconds; false on any failure.
bool Measure(PERIOD_STATE& state, double dSeconds)
{
    const int r = startServoLoop(Tick, &state);
    if (r != 0) {
        if (BenchFailureCount().load() == 0)
            BenchFail("startServoLoop", r);
        return false;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(dSeconds));
    stopServoLoop();
    if (BenchFailureCount().load() != 0)
        return false;
    if (state.nCount == 0) {
        BenchFail("the servo loop's tick count", 0);
        return false;
    }
    return true;
}

void Report(const std::vector<double>& periods, double dNominal)
{
    double dTotal = 0.0;
    long nMissed = 0;
    for (double p : periods) {
        dTotal += p;
        // A period of about two nominal periods means one tick was not served.
        long nSlots = std::lround(p / dNominal);
        if (nSlots > 1)
            nMissed += nSlots - 1;
    }
    printf("%-24s %s\n", "servo loop, real time", "simulated EPP at 1000 Hz, 10 s");
    printf("%-24s %zu\n", "ticks", periods.size() + 1);
    printf("%-24s %.1f Hz\n", "achieved rate", dTotal > 0 ? periods.size() / dTotal : 0.0);
    printf("%-24s %.1f us\n", "period p50", Percentile(periods, 0.5) * 1e6);
    printf("%-24s %.1f us\n", "period p99", Percentile(periods, 0.99) * 1e6);
    printf("%-24s %.1f us\n", "period p99.9", Percentile(periods, 0.999) * 1e6);
    printf("%-24s %.1f us\n", "period max", Percentile(periods, 1.0) * 1e6);
    printf("%-24s %ld\n", "missed ticks", nMissed);
}

}  // namespace

int main()
{
    PERIOD_STATE state;
    state.nHandle = OpenSimulatedBenchArm("pace=realtime,hand=hold");
    if (state.nHandle < 0)
        return 1;
    const double dSeconds = 10.0, dNominal = 0.001;
    state.periods.assign(static_cast<size_t>(dSeconds * 3000), 0.0);
    state.nCount = 0;
    state.bFirst = true;
    initOSExtender();
    const bool bMeasured = Measure(state, dSeconds);
    const bool bClosed = CloseSimulatedBenchArm(state.nHandle);
    if (bMeasured && bClosed)
        Report(std::vector<double>(state.periods.begin(), state.periods.begin() + state.nCount), dNominal);
    return BenchExitStatus();
}
