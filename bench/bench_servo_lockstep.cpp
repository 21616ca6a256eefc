// Throughput of the full servo tick (update, read position, send force, wait for the next
// tick) on the simulated parallel port in lockstep pace, simulator included.
#include "KinetorServo.h"
#include "ServoBenchSetup.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct TickState {
    int nHandle;
    std::atomic<long> nTicks;
};

int Tick(void* pData)
{
    TickState* pState = static_cast<TickState*>(pData);
    float afPos[3];
    update_kinetor(pState->nHandle);
    get_kinetor_pos(pState->nHandle, afPos);
    // A weak spring keeps the arm near its start so the force path does real work.
    float afForce[3] = {-0.01f * afPos[0], -0.01f * afPos[1], -0.01f * afPos[2]};
    send_kinetor_force(pState->nHandle, afForce);
    pState->nTicks.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

}  // namespace

int main()
{
    TickState state;
    state.nHandle = OpenSimulatedBenchArm("pace=lockstep,hand=hold");
    if (state.nHandle < 0)
        return 1;
    state.nTicks = 0;
    initOSExtender();
    const double dSeconds = 3.0;
    auto tStart = std::chrono::steady_clock::now();
    if (startServoLoop(Tick, &state) < 0) {
        fprintf(stderr, "kinetor bench: servo loop did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(dSeconds));
    stopServoLoop();
    double dElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    long nTicks = state.nTicks.load();
    disable_kinetor_forces(state.nHandle);
    disable_kinetor(state.nHandle);
    printf("%-40s %12s %14s\n", "benchmark", "ticks", "ticks/s");
    printf("%-40s %12ld %14.0f\n", "full tick, lockstep, simulated EPP", nTicks, nTicks / dElapsed);
    return 0;
}
