// Throughput of the full servo tick of an Altura 6 DOF on the double parallel port (base and
// gimbal modules chained on one port) in lockstep pace, simulator included: update with
// six encoders and the pinch grip, read the position, send forces and torques to six
// motors, wait for the base module's next tick. One servo thread on one core must reach
// kMinTicksPerSecond; below that, or on any failed call, the program fails.
#include "KinetorServo.h"
#include "ServoBenchSetup.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

const double kMinTicksPerSecond = 200000.0;
const double kRunSeconds = 3.0;

// An Altura 1.5 6 DOF with a pinch grip, both modules on parallel-port unit 1.
const char kChainedArmBody[] =
    "p6\n"
    "8250, 8250\n"
    "DBLEPP\n"
    "0x378, 0\n"
    "1, 2\n"
    "0.076912, 0.090066, 0.090066, 1.000000, 1.000000, 1.000000\n"
    "114293, 114293, 114293, 1000000, 1000000, 1000000\n"
    "4000, 4000, 4000, 2000, 2000, 2000\n"
    "90, 90, 90, 15, 15, 15\n"
    "-1\n"
    "0.600000, 0.002000, 8.500000, 1.400000\n"
    "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n"
    "-390, 390, -168, 603, -112, 180\n"
    "-140, 140, -20, 440, -78, 78\n"
    "-78, 78, -7, 149, -78, 78\n"
    "34\n"
    "1\n";

bool WriteChainedArmConfiguration(const char* pszDir, const char* pszName)
{
    char szPath[512];
    int n = snprintf(szPath, sizeof(szPath), "%s/Kinetor0.ini", pszDir);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(szPath))
        return false;
    FILE* pFile = fopen(szPath, "w");
    if (!pFile)
        return false;
    bool bOk = fprintf(pFile, "%s\n%s", pszName, kChainedArmBody) > 0;
    return fclose(pFile) == 0 && bOk;
}

struct TICK_STATE {
    int nHandle;
    std::atomic<long> nTicks;
};

int FullTick(void* pData)
{
    TICK_STATE* pState = static_cast<TICK_STATE*>(pData);
    float afPos[3];
    if (!BenchExpect("update_kinetor", update_kinetor(pState->nHandle)) ||
        !BenchExpect("get_kinetor_pos", get_kinetor_pos(pState->nHandle, afPos)))
        return -1;
    // A weak spring on the position and a small twist on the stylus: all six motors work.
    float afWrench[6] = {-0.01f * afPos[0], -0.01f * afPos[1], -0.01f * afPos[2], 0.2f, -0.1f, 0.1f};
    if (!BenchExpect("send_kinetor_force_6dof", send_kinetor_force_6dof(pState->nHandle, afWrench)))
        return -1;
    pState->nTicks.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

}  // namespace

int main()
{
    const int nHandle = OpenSimulatedBenchArm("pace=lockstep,hand=hold", WriteChainedArmConfiguration);
    if (nHandle < 0)
        return 1;
    initOSExtender();
    printf("%-40s %12s %14s\n", "benchmark", "ticks", "ticks/s");
    TICK_STATE state;
    state.nHandle = nHandle;
    state.nTicks = 0;
    auto tStart = std::chrono::steady_clock::now();
    const int r = startServoLoop(FullTick, &state);
    if (r != 0) {
        if (BenchFailureCount().load() == 0)
            BenchFail("startServoLoop", r);
    } else {
        std::this_thread::sleep_for(std::chrono::duration<double>(kRunSeconds));
        stopServoLoop();
        const double dElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
        const long nTicks = state.nTicks.load();
        const double dRate = nTicks / dElapsed;
        printf("%-40s %12ld %14.0f\n", "full tick, lockstep, double EPP 6 DOF", nTicks, dRate);
        fflush(stdout);
        if (dRate < kMinTicksPerSecond)
            BenchFail("the full tick's rate in ticks per second (at least 200000 needed)", (long)dRate);
    }
    CloseSimulatedBenchArm(nHandle);
    return BenchExitStatus();
}
