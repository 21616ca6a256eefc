// Throughput of the full servo tick (update, read position, send force, wait for the next
// tick) of the demo arm moved onto the first simulated PCI card, in lockstep pace,
// simulator included: every counter read, DAC write and register request goes through the
// card's driver requests, and every tick wait through the card's readiness.
#include "KinetorServo.h"
#include "ServoBenchSetup.h"

#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

const double kMinTicksPerSecond = 200000.0;

struct TICK_STATE {
    int nHandle;
    std::atomic<long> nTicks;
};

// The demo configuration with its interface line and address line replaced: channel 0 of
// card 1, where the arm's gimbal encoders are read from counters 3..5.
bool WritePCIDemoConfiguration(const char* pszDir, const char* pszName)
{
    if (!WriteDemoConfiguration(pszDir, pszName))
        return false;
    char szPath[512];
    int n = snprintf(szPath, sizeof(szPath), "%s/Kinetor0.ini", pszDir);
    if (n < 0 || (size_t)n >= sizeof(szPath))
        return false;
    std::string strText;
    FILE* pFile = fopen(szPath, "r");
    if (!pFile)
        return false;
    int c;
    while ((c = fgetc(pFile)) != EOF)
        strText.push_back((char)c);
    fclose(pFile);
    const std::string strParallel = "\nEPP\n0x378, 0\n";
    size_t nAt = strText.find(strParallel);
    if (nAt == std::string::npos)
        return false;
    strText.replace(nAt, strParallel.size(), "\nPCI\n0, 0\n");
    pFile = fopen(szPath, "w");
    if (!pFile)
        return false;
    bool bOk = fputs(strText.c_str(), pFile) >= 0;
    return fclose(pFile) == 0 && bOk;
}

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

}  // namespace

int main()
{
    const int nHandle = OpenSimulatedBenchArm("pace=lockstep,hand=hold", WritePCIDemoConfiguration);
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
        std::this_thread::sleep_for(std::chrono::duration<double>(3.0));
        stopServoLoop();
        const double dElapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
        const long nTicks = state.nTicks.load();
        const double dRate = nTicks / dElapsed;
        if (nTicks <= 0)
            BenchFail("the servo loop's tick count", nTicks);
        else if (BenchFailureCount().load() == 0)
            printf("%-40s %12ld %14.0f\n", "full tick, lockstep, simulated PCI", nTicks, dRate);
        // The simulated card has to leave room for many servo loops' worth of ticks on one
        // core; below this the card or the transport has grown a slow path.
        if (nTicks > 0 && dRate < kMinTicksPerSecond)
            BenchFail("ticks per second (at least 200000 needed)", (long)dRate);
    }
    CloseSimulatedBenchArm(nHandle);
    return BenchExitStatus();
}
