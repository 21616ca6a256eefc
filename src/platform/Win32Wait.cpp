// WaitForSingleObject and WaitForMultipleObjects.
//
// A wait first tries to take its handles under the table lock. If it cannot, it joins the
// waiter list of every handle before it lets go of the lock, so a signal that comes
// between that moment and the sleep finds it in the list and completes it: the sleep then
// sees the wait completed and does not start. Time-outs are measured on the monotonic
// clock so that a change of the wall-clock time neither ends a wait early nor stretches it.
#include "platform/Win32Handle.h"

#include <algorithm>
#include <climits>
#include <ctime>

namespace {

// Longer waits than this are waits without limit: the deadline would overflow the clock.
const DWORD kMaxFiniteWaitMs = DWORD(100) * 365 * 24 * 3600 * 1000;

bool HasDuplicates(CWin32Handle* const* ppHandles, size_t nCount)
{
    for (size_t i = 0; i < nCount; i++) {
        for (size_t j = i + 1; j < nCount; j++) {
            if (ppHandles[i] == ppHandles[j])
                return true;
        }
    }
    return false;
}

}  // namespace

extern "C" {

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (lpHandles == nullptr || nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || bWaitAll > 1)
        return WAIT_FAILED;
    const bool bInfinite = dwMilliseconds == INFINITE || dwMilliseconds > kMaxFiniteWaitMs;
    const auto tDeadline = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(bInfinite ? 0 : static_cast<long long>(dwMilliseconds));

    CWin32Handle* apHandles[MAXIMUM_WAIT_OBJECTS];
    CWin32Waiter waiter(apHandles, nCount, bWaitAll != 0);
    std::vector<CWin32Handle*> vecDelete;
    {
        std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
        for (DWORD i = 0; i < nCount; i++) {
            apHandles[i] = CWin32Table::Find(lpHandles[i]);
            if (apHandles[i] == nullptr)
                return WAIT_FAILED;
        }
        // Taking one auto-reset object twice for one wait is not possible; the result
        // would depend on the order of the scan.
        if (waiter.m_bWaitAll && HasDuplicates(apHandles, nCount))
            return WAIT_FAILED;
        if (waiter.TryAcquire())
            return waiter.m_nResult;
        if (dwMilliseconds == 0)
            return WAIT_TIMEOUT;
        if (!waiter.Subscribe()) {
            waiter.Unsubscribe(vecDelete);
            return WAIT_FAILED;
        }
    }

    if (waiter.Sleep(bInfinite, tDeadline))
        return waiter.m_nResult;

    // Timed out, unless a signaller completed the wait after the sleep ended: that
    // happens under the table lock, so looking again under it settles the race.
    DWORD nResult = WAIT_TIMEOUT;
    {
        std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
        if (waiter.IsDone())
            nResult = waiter.m_nResult;
        else
            waiter.Unsubscribe(vecDelete);
    }
    CWin32Table::DeleteAll(vecDelete);
    return nResult;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, TRUE, dwMilliseconds);
}

void get_abs_timeout_time(DWORD dwMilliseconds, struct timespec* pts)
{
    if (pts == nullptr)
        return;
    if (clock_gettime(CLOCK_REALTIME, pts) != 0) {
        pts->tv_sec = 0;
        pts->tv_nsec = 0;
    }
    const DWORD nSeconds = dwMilliseconds / 1000;
    long nNanos = pts->tv_nsec + static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    long nSec = pts->tv_sec;
    if (nNanos >= 1000000000L) {
        nNanos -= 1000000000L;
        nSec = nSec < LONG_MAX ? nSec + 1 : LONG_MAX;
    }
    // A deadline beyond the clock's range is as good as none.
    if (nSeconds > static_cast<DWORD>(LONG_MAX - nSec))
        nSec = LONG_MAX;
    else
        nSec += static_cast<long>(nSeconds);
    pts->tv_sec = nSec;
    pts->tv_nsec = nNanos;
}

}  // extern "C"
