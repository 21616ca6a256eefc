/* Timing statistics of the servo loop: how regularly the ticks came and how long the tick
 * callback took, kept by the servo thread in fixed-size histograms on the device clock.
 * Reading them never disturbs the loop, so any thread may ask at any time. */
/** @file
 * @brief Servo timing statistics: tick periods, callback durations, overruns, late ticks.
 * @ingroup stats */
#ifndef KINETOR_STATS_H
#define KINETOR_STATS_H

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Percentiles of one duration histogram, in microseconds on the device clock. A
 * percentile is the lower edge of the histogram bin holding its nearest-rank sample (1 us
 * wide up to 4 ms, under 0.4 % of the value above), so it never exceeds max_us.
 * @ingroup stats */
typedef struct _KINETOR_PERCENTILES {
    double p50_us, p90_us, p99_us, p999_us, max_us; /* microseconds */
    unsigned long count;                           /**< samples in the histogram */
} KINETOR_PERCENTILES;
/** @var _KINETOR_PERCENTILES::p50_us
 * median, us */
/** @var _KINETOR_PERCENTILES::p90_us
 * 90th percentile, us */
/** @var _KINETOR_PERCENTILES::p99_us
 * 99th percentile, us */
/** @var _KINETOR_PERCENTILES::p999_us
 * 99.9th percentile, us */
/** @var _KINETOR_PERCENTILES::max_us
 * the longest sample, exact, us */

/** The timing figures of the current (or last) servo loop run, as getServoLoopStats()
 * copies them out. All zero before the first tick.
 * @ingroup stats */
typedef struct _KINETOR_SERVO_STATS {
    unsigned long ticks;       /**< servo ticks since start or reset */
    unsigned long overruns;    /**< callbacks that used the whole cycle (no tick wait) */
    unsigned long late_ticks;  /**< tick periods longer than 1.5 servo cycles */
    double rate_hz;            /**< ticks per second over the sampled periods, Hz */
    KINETOR_PERCENTILES period;    /**< time between the starts of two ticks */
    KINETOR_PERCENTILES callback;  /**< duration of the tick callback */
} KINETOR_SERVO_STATS;

/** Copies the statistics of the current (or last) servo loop run. startServoLoop() starts
 * them afresh; they stay readable after stopServoLoop(). All zero before the first tick.
 * Percentiles follow the nearest-rank rule with a resolution of 1 us up to 4 ms and better
 * than 0.4 % above; max_us is exact. While the loop runs, each figure is read whole, but
 * figures read during a tick may be one tick apart (ticks against period.count, say).
 * @param stats where the figures go; never null
 * @return 0; -9 for a null stats.
 * @thread Any thread, at any time, also while the servo loop runs: reading takes no lock
 *         and never delays a tick.
 * @ingroup stats */
KINETOR_EXPORT int getServoLoopStats(KINETOR_SERVO_STATS* stats);
/** Starts the statistics afresh: counters and histograms to zero. The first tick after
 * the reset gives no period sample, so no period spans the reset.
 * @thread Any thread, at any time, also while the servo loop runs.
 * @ingroup stats */
KINETOR_EXPORT void resetServoLoopStats(void);

#ifdef __cplusplus
}
#endif

#endif
