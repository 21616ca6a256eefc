// Shared set-up of the servo benchmarks: a scratch configuration directory holding the demo
// arm, the simulator switched on with the given options, and the arm opened and homed.
#ifndef SERVO_BENCH_SETUP_H
#define SERVO_BENCH_SETUP_H

#include "DemoConfiguration.h"
#include "KinetorIO.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// Returns the open handle, or a negative code after printing why.
inline int OpenSimulatedBenchArm(const char* pszSimulatorOptions)
{
    static char szDir[] = "/tmp/kinetor-bench-XXXXXX";
    if (!mkdtemp(szDir) || !WriteDemoConfiguration(szDir, g_pszDemoConfigName) || chdir(szDir) != 0) {
        perror("kinetor bench: scratch directory");
        return -1;
    }
    setenv("KINETOR_CONFIG_FILES", szDir, 1);
    setenv("KINETOR_SIMULATOR", pszSimulatorOptions, 1);
    int h = init_kinetor(const_cast<char*>(g_pszDemoConfigName));
    if (h < 0) {
        fprintf(stderr, "kinetor bench: init_kinetor failed (%d)\n", h);
        return h;
    }
    if (kinetor_reset(h) < 0 || enable_kinetor_forces(h) < 0)
        fprintf(stderr, "kinetor bench: homing or force enable failed; measuring without forces\n");
    return h;
}

#endif
