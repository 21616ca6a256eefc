// Whether the servo thread got what a steady servo rate needs: real-time scheduling
// (SCHED_FIFO) and the right to lock the process's memory. Without either the loop still
// runs, but ticks come late under load; the user hears once how to fix it.
#ifndef KINETOR_REALTIME_READINESS_H
#define KINETOR_REALTIME_READINESS_H

#include <stddef.h>

typedef struct _REALTIME_READINESS {
    bool bFifoGranted;      // the calling (servo) thread runs under SCHED_FIFO
    bool bMemlockAllowed;   // mlockall would be permitted (capability or unlimited limit)
} REALTIME_READINESS;

// A replacement probe for tests; null restores the real one.
typedef void (*PFN_REALTIME_PROBE)(REALTIME_READINESS* pReadiness);
void SetRealtimeProbe(PFN_REALTIME_PROBE pfnProbe);

// The real probe, for the calling thread. Memory is not locked, only the permission read.
void ProbeRealtimeReadiness(REALTIME_READINESS* pReadiness);

// The one-line advice for what is missing; false, with an empty text, when nothing is.
bool FormRealtimeAdvice(const REALTIME_READINESS& readiness, char* pszText, size_t nSize);

// Run by the servo thread once per loop start: probes, puts the advice into the library's
// log every time and on standard error once per process. Returns what it found.
REALTIME_READINESS CheckRealtimeReadiness();

// For tests: the next advice goes to standard error again.
void ResetRealtimeAdviceShown();

#endif
