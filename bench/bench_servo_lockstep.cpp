// Throughput of the full servo tick (update, read position, send force, wait for the next
// tick) on the simulated parallel port in lockstep pace, simulator included. Each variant
// of the tick runs for the same time on the same open arm, one after the other, and gets
// its own line. The last variant runs the same tick with the device and port locks
// bypassed: the difference between the two lines is what serialising the servo thread
// with the application's threads costs a tick.
#include "KinetorServo.h"
#include "ServoBenchSetup.h"
#include "platform/KinetorMutex.h"

namespace {

struct TICK_VARIANT {
    const char* pszName;
    bool bBypassLocks;
};

const TICK_VARIANT kVariants[] = {
    {"full tick, lockstep, simulated EPP", false},
    {"the same without the locks", true},
};

}  // namespace

int main()
{
    const int nHandle = OpenSimulatedBenchArm("pace=lockstep,hand=hold");
    if (nHandle < 0)
        return 1;
    initOSExtender();
    printf("%-40s %12s %14s\n", "benchmark", "ticks", "ticks/s");
    SERVO_BENCH_STATE state;
    state.nHandle = nHandle;
    state.bWrench = false;
    for (const TICK_VARIANT& variant : kVariants) {
        // Only this thread and the servo thread run, and this one sleeps: nothing to
        // serialise.
        SetKinetorLocksBypassed(variant.bBypassLocks);
        const bool bOk = RunServoBench(variant.pszName, state, 3.0, 0.0);
        SetKinetorLocksBypassed(false);
        if (!bOk)
            break;
    }
    CloseSimulatedBenchArm(nHandle);
    return BenchExitStatus();
}
