/* Timing statistics of the servo loop: how regularly the ticks came and how long the tick
 * callback took, kept by the servo thread in fixed-size histograms on the device clock.
 * Reading them never disturbs the loop, so any thread may ask at any time. */
#ifndef KINETOR_STATS_H
#define KINETOR_STATS_H

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _KINETOR_PERCENTILES {
    double p50_us, p90_us, p99_us, p999_us, max_us; /* microseconds */
    unsigned long count;                           /* samples in the histogram */
} KINETOR_PERCENTILES;

typedef struct _KINETOR_SERVO_STATS {
    unsigned long ticks;       /* servo ticks since start or reset */
    unsigned long overruns;    /* callbacks that used the whole cycle (no tick wait) */
    unsigned long late_ticks;  /* tick periods longer than 1.5 servo cycles */
    double rate_hz;            /* ticks per second over the sampled periods */
    KINETOR_PERCENTILES period;    /* time between the starts of two ticks */
    KINETOR_PERCENTILES callback;  /* duration of the tick callback */
} KINETOR_SERVO_STATS;

/* Copies the statistics of the current (or last) servo loop run; 0, or -9 for a null
 * pointer. Any thread. Percentiles follow the nearest-rank rule with a resolution of 1 us
 * up to 4 ms and better than 0.4 % above; max_us is exact. All zero before the first tick.
 * startServoLoop starts the statistics afresh. */
KINETOR_EXPORT int getServoLoopStats(KINETOR_SERVO_STATS* stats);
/* Starts the statistics afresh; any thread. */
KINETOR_EXPORT void resetServoLoopStats(void);

#ifdef __cplusplus
}
#endif

#endif
