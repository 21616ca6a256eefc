// The small rest of the Win32-style layer: interlocked counters, the performance counter,
// memory and file stubs, and the debug ring.
#include <pthread.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "KinetorWin32.h"
#include "platform/TimeSample.h"

pthread_mutex_t mutex_interlocked_ops = PTHREAD_MUTEX_INITIALIZER;
LOG_ENTRY log_entries[LOG_ENTRIES_MAX];
int log_idx = 0;

namespace {

const int64_t kTicksPerSecond = 10000000;
// A device clock that goes back (a simulator restarted at zero) continues from the last
// reading plus a millisecond, as the time samples do.
const int64_t kJumpBackTicks = 10000;

// The performance counter's own correction state; readings are taken under the lock so
// that two threads' readings are corrected in the order they were made.
std::mutex& CounterMutex()
{
    static std::mutex* s_pMutex = new std::mutex;
    return *s_pMutex;
}
bool g_bHaveLastReading = false;
int64_t g_nLastRawTicks = 0;
int64_t g_nOffsetTicks = 0;

int64_t SaturatingTicks(const struct timespec& ts)
{
    int64_t nTicks;
    if (__builtin_mul_overflow(static_cast<int64_t>(ts.tv_sec), kTicksPerSecond, &nTicks))
        return ts.tv_sec > 0 ? INT64_MAX : INT64_MIN;
    if (__builtin_add_overflow(nTicks, static_cast<int64_t>(ts.tv_nsec / 100), &nTicks))
        return INT64_MAX;
    return nTicks;
}

int64_t SaturatingAdd(int64_t a, int64_t b)
{
    int64_t r;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}

// The ring's own functions exclude one another; the client fills entries directly.
std::mutex& RingMutex()
{
    static std::mutex* s_pMutex = new std::mutex;
    return *s_pMutex;
}

int ClampedLogCount()
{
    if (log_idx < 0)
        return 0;
    return log_idx > LOG_ENTRIES_MAX ? LOG_ENTRIES_MAX : log_idx;
}

}  // namespace

extern "C" {

LONG InterlockedIncrement(LPLONG lpAddend)
{
    if (lpAddend == nullptr)
        return 0;
    return __atomic_add_fetch(lpAddend, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LPLONG lpAddend)
{
    if (lpAddend == nullptr)
        return 0;
    return __atomic_sub_fetch(lpAddend, 1, __ATOMIC_SEQ_CST);
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount)
{
    if (lpPerformanceCount == nullptr)
        return FALSE;
    struct timespec ts;
    int64_t nTicks;
    {
        std::lock_guard<std::mutex> lock(CounterMutex());
        ReadDeviceClock(&ts);
        const int64_t nRaw = SaturatingTicks(ts);
        if (g_bHaveLastReading && nRaw < g_nLastRawTicks)
            g_nOffsetTicks = SaturatingAdd(g_nOffsetTicks, SaturatingAdd(g_nLastRawTicks - nRaw, kJumpBackTicks));
        g_bHaveLastReading = true;
        g_nLastRawTicks = nRaw;
        nTicks = SaturatingAdd(nRaw, g_nOffsetTicks);
    }
    lpPerformanceCount->ts = ts;
    lpPerformanceCount->QuadPart = nTicks;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency)
{
    if (lpFrequency == nullptr)
        return FALSE;
    lpFrequency->QuadPart = kTicksPerSecond;
    return TRUE;
}

void ZeroMemory(LPVOID Destination, size_t Length)
{
    if (Destination != nullptr && Length != 0)
        memset(Destination, 0, Length);
}

HANDLE CreateFile(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                  DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    (void)lpFileName;
    (void)dwDesiredAccess;
    (void)dwShareMode;
    (void)lpSecurityAttributes;
    (void)dwCreationDisposition;
    (void)dwFlagsAndAttributes;
    (void)hTemplateFile;
    return 0;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    (void)hFile;
    (void)lpBuffer;
    (void)nNumberOfBytesToRead;
    (void)lpNumberOfBytesRead;
    (void)lpOverlapped;
    return 0;
}

void print_log(void)
{
    std::lock_guard<std::mutex> lock(RingMutex());
    const int nCount = ClampedLogCount();
    for (int i = 0; i < nCount; i++) {
        const double dMs = i == 0 ? 0.0 : (log_entries[i].time - log_entries[i - 1].time) * 1000.0;
        printf("%.3f %s ", dMs, log_entries[i].str != nullptr ? log_entries[i].str : "");
        free(log_entries[i].str);
        log_entries[i].str = nullptr;
    }
    printf("\n");
    fflush(stdout);
    log_idx = 0;
}

void reset_log_idx(void)
{
    std::lock_guard<std::mutex> lock(RingMutex());
    const int nCount = ClampedLogCount();
    for (int i = 0; i < nCount; i++) {
        free(log_entries[i].str);
        log_entries[i].str = nullptr;
    }
    log_idx = 0;
}

}  // extern "C"
