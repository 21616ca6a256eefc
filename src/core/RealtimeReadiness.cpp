// The real-time readiness check of the servo thread.
#include "core/RealtimeReadiness.h"

#include <pthread.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>

#include "platform/Trace.h"

namespace {

// Bit of CAP_IPC_LOCK in the capability masks of /proc/self/status.
const int kCapIpcLock = 14;

std::atomic<PFN_REALTIME_PROBE> g_pfnProbe(nullptr);
std::atomic<bool> g_bAdviceShown(false);

// The effective capability set of the process, or 0 when it cannot be read.
uint64_t EffectiveCapabilities()
{
    FILE* pFile = fopen("/proc/self/status", "r");
    if (pFile == nullptr)
        return 0;
    char szLine[256];
    unsigned long long nCaps = 0;
    while (fgets(szLine, sizeof(szLine), pFile) != nullptr) {
        if (sscanf(szLine, "CapEff: %llx", &nCaps) == 1)
            break;
    }
    fclose(pFile);
    return (uint64_t)nCaps;
}

}  // namespace

void SetRealtimeProbe(PFN_REALTIME_PROBE pfnProbe)
{
    g_pfnProbe.store(pfnProbe);
}

void ProbeRealtimeReadiness(REALTIME_READINESS* pReadiness)
{
    int nPolicy = SCHED_OTHER;
    struct sched_param param;
    memset(&param, 0, sizeof(param));
    pReadiness->bFifoGranted =
        pthread_getschedparam(pthread_self(), &nPolicy, &param) == 0 && nPolicy == SCHED_FIFO;

    // mlockall needs CAP_IPC_LOCK, or a memory-lock limit large enough for the whole
    // process, which in practice means an unlimited one.
    struct rlimit limit;
    const bool bUnlimited = getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
    pReadiness->bMemlockAllowed = bUnlimited || (EffectiveCapabilities() >> kCapIpcLock & 1) != 0;
}

bool FormRealtimeAdvice(const REALTIME_READINESS& readiness, char* pszText, size_t nSize)
{
    if (nSize > 0)
        pszText[0] = '\0';
    const bool bFifo = readiness.bFifoGranted;
    const bool bLock = readiness.bMemlockAllowed;
    if (bFifo && bLock)
        return false;
    const char* pszWhat = !bFifo && !bLock ? "no real-time priority (SCHED_FIFO) and no memory locking"
                          : !bFifo         ? "no real-time priority (SCHED_FIFO)"
                                           : "no memory locking";
    const char* pszLimits = !bFifo && !bLock ? "\"@kinetor - rtprio 99\" and \"@kinetor - memlock unlimited\""
                            : !bFifo         ? "\"@kinetor - rtprio 99\""
                                             : "\"@kinetor - memlock unlimited\"";
    const char* pszCaps = !bFifo && !bLock ? "cap_sys_nice,cap_ipc_lock" : !bFifo ? "cap_sys_nice" : "cap_ipc_lock";
    snprintf(pszText, nSize,
             "libKinetorIO: the servo thread has %s, so ticks may come late under load; to fix it add "
             "%s to /etc/security/limits.conf (and log in again), or give the program the capability "
             "(setcap %s+ep PROGRAM), or run it as root",
             pszWhat, pszLimits, pszCaps);
    return true;
}

REALTIME_READINESS CheckRealtimeReadiness()
{
    REALTIME_READINESS readiness;
    PFN_REALTIME_PROBE pfnProbe = g_pfnProbe.load();
    if (pfnProbe != nullptr)
        pfnProbe(&readiness);
    else
        ProbeRealtimeReadiness(&readiness);

    char szAdvice[512];
    if (FormRealtimeAdvice(readiness, szAdvice, sizeof(szAdvice))) {
        LOG("TID(%X, %d) %s\n", (unsigned)pthread_self(), (int)getpid(), szAdvice);
        // The log hooks print nothing by default, so the user would never hear of it.
        if (!g_bAdviceShown.exchange(true))
            fprintf(stderr, "%s\n", szAdvice);
    }
    return readiness;
}

void ResetRealtimeAdviceShown()
{
    g_bAdviceShown.store(false);
}
