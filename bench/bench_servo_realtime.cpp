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

struct PeriodState {
    int nHandle;
    std::vector<double> periods;  // reserved up front: the tick never allocates
    size_t nCount;
    std::chrono::steady_clock::time_point tLast;
    bool bFirst;
};

int Tick(void* pData)
{
    PeriodState* pState = static_cast<PeriodState*>(pData);
    auto tNow = std::chrono::steady_clock::now();
    if (!pState->bFirst && pState->nCount < pState->periods.size())
        pState->periods[pState->nCount++] = std::chrono::duration<double>(tNow - pState->tLast).count();
    pState->bFirst = false;
    pState->tLast = tNow;
    float afPos[3];
    update_kinetor(pState->nHandle);
    get_kinetor_pos(pState->nHandle, afPos);
    float afForce[3] = {0.0f, 0.0f, 0.0f};
    send_kinetor_force(pState->nHandle, afForce);
    return 0;
}

}  // namespace

int main()
{
    PeriodState state;
    state.nHandle = OpenSimulatedBenchArm("pace=realtime,hand=hold");
    if (state.nHandle < 0)
        return 1;
    const double dSeconds = 10.0, dNominal = 0.001;
    state.periods.assign(static_cast<size_t>(dSeconds * 3000), 0.0);
    state.nCount = 0;
    state.bFirst = true;
    initOSExtender();
    if (startServoLoop(Tick, &state) < 0) {
        fprintf(stderr, "kinetor bench: servo loop did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(dSeconds));
    stopServoLoop();
    disable_kinetor_forces(state.nHandle);
    disable_kinetor(state.nHandle);

    std::vector<double> periods(state.periods.begin(), state.periods.begin() + state.nCount);
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
    return 0;
}
