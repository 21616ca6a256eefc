// Shared set-up of the servo benchmarks: a scratch configuration directory holding the demo
// arm (removed again when the program ends, however it ends), the simulator switched on
// with the given options, and the arm opened, homed and with its forces on.
#ifndef SERVO_BENCH_SETUP_H
#define SERVO_BENCH_SETUP_H

#include "BenchCheck.h"
#include "DemoConfiguration.h"
#include "KinetorIO.h"
#include "KinetorServo.h"

#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

inline char* BenchScratchDir()
{
    static char s_szDir[] = "/tmp/kinetor-bench-XXXXXX";
    return s_szDir;
}

// Set once mkdtemp has made the directory, so that nothing else is ever removed.
inline bool& BenchScratchDirMade()
{
    static bool s_bMade = false;
    return s_bMade;
}

inline int RemoveBenchScratchEntry(const char* pszPath, const struct stat*, int, struct FTW*)
{
    return remove(pszPath);
}

// Registered with atexit, so that it also runs when a failure ends the program early or
// the library's interrupt handler exits. Only a directory this program made is touched.
inline void RemoveBenchScratchDir()
{
    if (BenchScratchDirMade())
        nftw(BenchScratchDir(), RemoveBenchScratchEntry, 8, FTW_DEPTH | FTW_PHYS);
}

// Writes the configuration of the arm to open into the scratch directory.
typedef bool (*PFN_WRITE_BENCH_CONFIG)(const char* pszDir, const char* pszName);

// Returns the open handle, or a negative code after printing what failed. The demo arm
// unless another configuration writer is given.
inline int OpenSimulatedBenchArm(const char* pszSimulatorOptions,
                                 PFN_WRITE_BENCH_CONFIG pfnWriteConfig = WriteDemoConfiguration)
{
    char* pszDir = BenchScratchDir();
    if (!mkdtemp(pszDir)) {
        BenchFail("mkdtemp of the scratch directory (errno)", errno);
        return -1;
    }
    BenchScratchDirMade() = true;
    atexit(RemoveBenchScratchDir);
    if (!pfnWriteConfig(pszDir, g_pszDemoConfigName) || chdir(pszDir) != 0) {
        BenchFail("writing the demo configuration", -1);
        return -1;
    }
    setenv("KINETOR_CONFIG_FILES", pszDir, 1);
    setenv("KINETOR_SIMULATOR", pszSimulatorOptions, 1);
    const int h = init_kinetor(const_cast<char*>(g_pszDemoConfigName));
    if (h < 0) {
        BenchFail("init_kinetor", h);
        return h;
    }
    // Without homing or forces the tick would skip the force path and look cheaper.
    int r = 0;
    if (is_kinetor_reset_supported(h) == 1 && (r = kinetor_reset(h)) != 0)
        BenchFail("kinetor_reset", r);
    else if ((r = enable_kinetor_forces(h)) != 0)
        BenchFail("enable_kinetor_forces", r);
    if (r != 0) {
        disable_kinetor(h);
        return r < 0 ? r : -1;
    }
    return h;
}

// Switches the forces off and closes the arm; false after printing what failed.
inline bool CloseSimulatedBenchArm(int nHandle)
{
    const bool bForcesOff = BenchExpect("disable_kinetor_forces", disable_kinetor_forces(nHandle));
    const bool bClosed = BenchExpect("disable_kinetor", disable_kinetor(nHandle));
    return bForcesOff && bClosed;
}

// What a full-tick benchmark's callback shares with the thread that times it.
struct SERVO_BENCH_STATE {
    int nHandle;
    bool bWrench;  // a six-axis arm: a small twist on the stylus as well
    std::atomic<long> nTicks;
};

// The application's side of a full tick: update, read the position, send the force of a
// weak spring that keeps the arm near its start (so the force path does real work; with
// bWrench all six motors work), count the tick. A failed call ends the loop.
inline int ServoBenchFullTick(void* pData)
{
    SERVO_BENCH_STATE* pState = static_cast<SERVO_BENCH_STATE*>(pData);
    float afPos[3];
    if (!BenchExpect("update_kinetor", update_kinetor(pState->nHandle)) ||
        !BenchExpect("get_kinetor_pos", get_kinetor_pos(pState->nHandle, afPos)))
        return -1;
    float afWrench[6] = {-0.01f * afPos[0], -0.01f * afPos[1], -0.01f * afPos[2], 0.2f, -0.1f, 0.1f};
    const int r = pState->bWrench ? send_kinetor_force_6dof(pState->nHandle, afWrench)
                                  : send_kinetor_force(pState->nHandle, afWrench);
    if (!BenchExpect(pState->bWrench ? "send_kinetor_force_6dof" : "send_kinetor_force", r))
        return -1;
    pState->nTicks.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

// Runs the servo loop with ServoBenchFullTick for dSeconds of wall time and prints one
// line: the name, the ticks and the ticks per second, and with a target rate (dMinRate
// above 0) whether it was met. A rate is a figure of this machine at this moment, not a
// result of the library, so missing the target is said, not failed. False after printing
// what failed: a failed call, or no tick at all.
inline bool RunServoBench(const char* pszName, SERVO_BENCH_STATE& state, double dSeconds, double dMinRate)
{
    state.nTicks = 0;
    const int nFailuresBefore = BenchFailureCount().load();
    const auto tStart = std::chrono::steady_clock::now();
    const int r = startServoLoop(ServoBenchFullTick, &state);
    if (r != 0) {
        // A tick that failed has said why already.
        if (BenchFailureCount().load() == nFailuresBefore)
            BenchFail("startServoLoop", r);
        return false;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(dSeconds));
    stopServoLoop();
    const double dElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    const long nTicks = state.nTicks.load();
    if (BenchFailureCount().load() != nFailuresBefore)
        return false;
    if (nTicks <= 0) {
        BenchFail("the servo loop's tick count", nTicks);
        return false;
    }
    const double dRate = nTicks / dElapsed;
    printf("%-40s %12ld %14.0f", pszName, nTicks, dRate);
    if (dMinRate > 0.0)
        printf("   target %.0f: %s", dMinRate, dRate >= dMinRate ? "met" : "NOT MET");
    printf("\n");
    fflush(stdout);
    return true;
}

#endif
