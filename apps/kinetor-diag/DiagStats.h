// The servo timing statistics of the library. Libraries built before these functions
// existed lack the header; the tool then declares the same records itself and reports the
// statistics as unavailable instead of failing to build.
#ifndef DIAG_STATS_H
#define DIAG_STATS_H

#if __has_include("KinetorStats.h")
#include "KinetorStats.h"
#define DIAG_HAS_SERVO_STATS 1
#else
#define DIAG_HAS_SERVO_STATS 0
typedef struct _KINETOR_PERCENTILES {
    double p50_us, p90_us, p99_us, p999_us, max_us;
    unsigned long count;
} KINETOR_PERCENTILES;

typedef struct _KINETOR_SERVO_STATS {
    unsigned long ticks;
    unsigned long overruns;
    unsigned long late_ticks;
    double rate_hz;
    KINETOR_PERCENTILES period;
    KINETOR_PERCENTILES callback;
} KINETOR_SERVO_STATS;
#endif

// getServoLoopStats where the library has it; false (and the record zeroed) otherwise.
bool DiagGetServoStats(KINETOR_SERVO_STATS* pStats);
// resetServoLoopStats where the library has it.
void DiagResetServoStats();

#endif
