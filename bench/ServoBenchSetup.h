// Shared set-up of the servo benchmarks: a scratch configuration directory holding the demo
// arm (removed again when the program ends, however it ends), the simulator switched on
// with the given options, and the arm opened, homed and with its forces on.
#ifndef SERVO_BENCH_SETUP_H
#define SERVO_BENCH_SETUP_H

#include "BenchCheck.h"
#include "DemoConfiguration.h"
#include "KinetorIO.h"

#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

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

// Writes the configuration named pszName into the directory pszDir.
typedef bool (*PFN_WRITE_BENCH_CONFIG)(const char* pszDir, const char* pszName);

// Returns the open handle, or a negative code after printing what failed. The arm is the
// demo arm unless pfnWriteConfig writes another configuration of the demo's name.
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

#endif
