// Throughput of the full servo tick (update, read position, send force, wait for the next
// tick) on the simulated parallel port in lockstep pace, simulator included. Each variant
// of the tick runs for the same time on the same open arm, one after the other, and gets
// its own line. The last variant runs the same tick with the device and port locks
// bypassed: the difference between the two lines is what serialising the servo thread
// with the application's threads costs a tick.
#include "KinetorServo.h"
#include "ServoBenchSetup.h"
#include "platform/KinetorMutex.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct TICK_STATE {
    int nHandle;
    std::atomic<long> nTicks;
};

// The application's side of a tick; a failed call ends the loop (a negative return).
int FullTick(void* pData)
{
    TICK_STATE* pState = static_cast<TICK_STATE*>(pData);
    float afPos[3];
    if (!BenchExpect("update_kinetor", update_kinetor(pState->nHandle)) ||
        !BenchExpect("get_kinetor_pos", get_kinetor_pos(pState->nHandle, afPos)))
        return -1;
    // A weak spring keeps the arm near its start so the force path does real work.
    float afForce[3] = {-0.01f * afPos[0], -0.01f * afPos[1], -0.01f * afPos[2]};
    if (!BenchExpect("send_kinetor_force", send_kinetor_force(pState->nHandle, afForce)))
        return -1;
    pState->nTicks.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

struct TICK_VARIANT {
    const char* pszName;
    int (*pfnTick)(void*);
    bool bBypassLocks;
};

const TICK_VARIANT kVariants[] = {
    {"full tick, lockstep, simulated EPP", FullTick, false},
    {"the same without the locks", FullTick, true},
};

// Runs one variant for dSeconds of wall time and prints its line; false on any failure.
bool RunVariant(int nHandle, const TICK_VARIANT& variant, double dSeconds)
{
    TICK_STATE state;
    state.nHandle = nHandle;
    state.nTicks = 0;
    const int nFailuresBefore = BenchFailureCount().load();
    // Only this thread and the servo thread run, and this one sleeps: nothing to serialise.
    SetKinetorLocksBypassed(variant.bBypassLocks);
    auto tStart = std::chrono::steady_clock::now();
    const int r = startServoLoop(variant.pfnTick, &state);
    if (r != 0) {
        SetKinetorLocksBypassed(false);
        // A tick that failed has said why already.
        if (BenchFailureCount().load() == nFailuresBefore)
            BenchFail("startServoLoop", r);
        return false;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(dSeconds));
    stopServoLoop();
    SetKinetorLocksBypassed(false);
    const double dElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    const long nTicks = state.nTicks.load();
    if (BenchFailureCount().load() != nFailuresBefore)
        return false;
    if (nTicks <= 0) {
        BenchFail("the servo loop's tick count", nTicks);
        return false;
    }
    printf("%-40s %12ld %14.0f\n", variant.pszName, nTicks, nTicks / dElapsed);
    fflush(stdout);
    return true;
}

}  // namespace

int main()
{
    const int nHandle = OpenSimulatedBenchArm("pace=lockstep,hand=hold");
    if (nHandle < 0)
        return 1;
    initOSExtender();
    printf("%-40s %12s %14s\n", "benchmark", "ticks", "ticks/s");
    for (const TICK_VARIANT& variant : kVariants)
        if (!RunVariant(nHandle, variant, 3.0))
            break;
    CloseSimulatedBenchArm(nHandle);
    return BenchExitStatus();
}
