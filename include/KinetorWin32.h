/* Win32-style synchronisation interface of the library, for client code written against
 * the Win32 names. Implemented on POSIX threads; the names, argument lists and result
 * values are those of the Win32 originals, with LONG, DWORD and HANDLE at the platform's
 * long width.
 *
 * A HANDLE is checked against the library's table of live objects before it is used, so
 * a closed, forged or foreign value gets the function's failure result (FALSE, 0, -1 or
 * WAIT_FAILED), never a crash. */
#ifndef KINETOR_WIN32_H
#define KINETOR_WIN32_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* LPVOID;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef LONG* LPLONG;
typedef HANDLE* LPHANDLE;
typedef void* LPSECURITY_ATTRIBUTES; /* accepted and ignored everywhere */
typedef void* LPOVERLAPPED;

/* "No handle" is 0; the all-ones value is the invalid handle. */
#define INVALID_HANDLE_VALUE ((HANDLE)~0UL)

/* Wait results and the timeout without limit (all 64 bits set). */
#define WAIT_OBJECT_0 0UL
#define WAIT_TIMEOUT 258UL
#define WAIT_FAILED 0xFFFFFFFFUL
#define INFINITE (~0UL)
/* The most handles one wait accepts. */
#define MAXIMUM_WAIT_OBJECTS 64

/* dwCreationFlags of CreateThread: the thread waits for ResumeThread before it runs. */
#define CREATE_SUSPENDED 0x1UL
/* dwOptions of DuplicateHandle: the source handle is closed by the duplication. */
#define DUPLICATE_CLOSE_SOURCE 0x1UL
#define DUPLICATE_SAME_ACCESS 0x2UL

/* A 64-bit count readable as two halves; ts is scratch space of QueryPerformanceCounter. */
typedef struct _LARGE_INTEGER {
    __extension__ union {
        __extension__ struct {
            uint32_t LowPart;
            int32_t HighPart;
        };
        struct {
            uint32_t LowPart;
            int32_t HighPart;
        } u;
        int64_t QuadPart;
    };
    struct timespec ts;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef void* (*LPTHREAD_START_ROUTINE)(void* lpParameter);
typedef void (*PTIMERAPCROUTINE)(LPVOID lpArgToCompletionRoutine, DWORD dwTimerLowValue,
                                 DWORD dwTimerHighValue);

/* ---- Critical sections ------------------------------------------------------------ */

/* A recursive mutex: the owning thread may enter again and must leave as often as it
 * entered. The spin count only matters on a multiprocessor system. */
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t mutex;
    DWORD dwSpinCount;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

/* True once the library has found more than one processor and a multiprocessor kernel;
 * only then does EnterCriticalSection spin before it blocks. */
KINETOR_EXPORT extern bool g_mp_system;
KINETOR_EXPORT void setIsMPSystem(bool bIsMPSystem);

/* A null critical section is ignored (and reported as failure where there is a result). */
KINETOR_EXPORT void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
KINETOR_EXPORT BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                          DWORD dwSpinCount);
KINETOR_EXPORT void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
KINETOR_EXPORT void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
KINETOR_EXPORT BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
KINETOR_EXPORT void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

/* ---- Events ------------------------------------------------------------------------ */

/* A new event, or, when lpName names an existing event, that event with one more
 * reference (close it once more). A name held by a timer or thread gives 0. */
KINETOR_EXPORT HANDLE CREATE_EVENT(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                   BOOL bInitialState, LPCSTR lpName);
#define CreateEvent CREATE_EVENT
/* The event of that name with one more reference, or 0. */
KINETOR_EXPORT HANDLE OpenEvent(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
/* A set auto-reset event releases exactly one waiter (or stays set until one comes); a
 * manual-reset event releases every waiter and stays set until ResetEvent. */
KINETOR_EXPORT BOOL SetEvent(HANDLE hEvent);
KINETOR_EXPORT BOOL ResetEvent(HANDLE hEvent);
/* Releases the waiters of this moment as SetEvent would (manual reset: all that can be
 * satisfied, auto reset: at most one), then leaves the event unsignalled. */
KINETOR_EXPORT BOOL PulseEvent(HANDLE hEvent);

/* ---- Waitable timers --------------------------------------------------------------- */

/* Auto-reset timers only: a manual-reset request gives 0. The timer starts cancelled,
 * with a thread of its own. Lookup by name as for events. */
KINETOR_EXPORT HANDLE CreateWaitableTimer(LPSECURITY_ATTRIBUTES lpTimerAttributes, BOOL bManualReset,
                                          LPCSTR lpTimerName);
/* Signals first lPeriod milliseconds after the call, then every lPeriod milliseconds
 * (period 0: signalled again as soon as a waiter takes it). pDueTime, the completion
 * routine and fResume are ignored. Negative periods give FALSE. */
KINETOR_EXPORT BOOL SetWaitableTimer(HANDLE hTimer, const LARGE_INTEGER* pDueTime, LONG lPeriod,
                                     PTIMERAPCROUTINE pfnCompletionRoutine,
                                     LPVOID lpArgToCompletionRoutine, BOOL fResume);
/* Stops the timer without a further signal. */
KINETOR_EXPORT BOOL CancelWaitableTimer(HANDLE hTimer);

/* ---- Threads ----------------------------------------------------------------------- */

/* Runs lpStartAddress(lpParameter) on a new thread; CREATE_SUSPENDED holds it until
 * ResumeThread. The handle becomes signalled when the routine returns; only then does
 * CloseHandle accept it. */
KINETOR_EXPORT HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, size_t dwStackSize,
                                   LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                   DWORD dwCreationFlags, LPDWORD lpThreadId);
/* 1 on success, (DWORD)-1 for anything that is not a thread. */
KINETOR_EXPORT DWORD ResumeThread(HANDLE hThread);
/* Not supported: always (DWORD)-1, the thread runs on. */
KINETOR_EXPORT DWORD SuspendThread(HANDLE hThread);
KINETOR_EXPORT DWORD GetCurrentThreadId(void);
KINETOR_EXPORT HANDLE GET_CURRENT_PROCESS(void);
#define GetCurrentProcess GET_CURRENT_PROCESS

/* ---- Handles and waits ------------------------------------------------------------- */

/* FALSE for 0, INVALID_HANDLE_VALUE, an unknown value, or a thread still running. The
 * last reference destroys the object (a timer's or thread's own thread is joined). */
KINETOR_EXPORT BOOL CloseHandle(HANDLE hObject);
/* Adds a reference and stores the same handle in *lpTargetHandle; with
 * DUPLICATE_CLOSE_SOURCE the count stays as it was. */
KINETOR_EXPORT BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                    HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                                    DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
/* The registered handle of that name (no new reference), or 0. */
KINETOR_EXPORT HANDLE open_handle(LPCSTR lpName);

/* WAIT_OBJECT_0 + i, WAIT_TIMEOUT, or WAIT_FAILED (bad handle, bad count, bWaitAll not 0
 * or 1, the same handle twice in a wait for all). A wait for all takes its handles
 * together: either all of them are acquired or none is. */
KINETOR_EXPORT DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
KINETOR_EXPORT DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                            DWORD dwMilliseconds);
/* Now on the real-time clock plus dwMilliseconds, for pthread_cond_timedwait. */
KINETOR_EXPORT void get_abs_timeout_time(DWORD dwMilliseconds, struct timespec* pts);

/* ---- Counters and memory ----------------------------------------------------------- */

/* Kept for clients that lock it around their own counter updates; the interlocked
 * operations themselves are atomic instructions. */
KINETOR_EXPORT extern pthread_mutex_t mutex_interlocked_ops;
/* The new value; a null pointer gives 0. */
KINETOR_EXPORT LONG InterlockedIncrement(LPLONG lpAddend);
KINETOR_EXPORT LONG InterlockedDecrement(LPLONG lpAddend);

/* 100-ns ticks of the library's device clock (monotonic, or simulated time when the
 * simulator runs in lockstep); never decreasing. FALSE for a null pointer. */
KINETOR_EXPORT BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
/* Ticks per second of QueryPerformanceCounter: 10,000,000. */
KINETOR_EXPORT BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);

KINETOR_EXPORT void ZeroMemory(LPVOID Destination, size_t Length);
/* Stubs kept for linking: return 0 and do nothing. */
KINETOR_EXPORT HANDLE CreateFile(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                 LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                 DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                 HANDLE hTemplateFile);
KINETOR_EXPORT BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                             LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);

/* ---- Debug ring -------------------------------------------------------------------- */

/* A client may fill entries (str from malloc, time in seconds) and advance log_idx;
 * print_log prints them with the milliseconds since the previous entry and frees the
 * texts, reset_log_idx only frees them. An out-of-range log_idx is clamped. */
#define LOG_ENTRIES_MAX 100
typedef struct _LOG_ENTRY {
    char* str;
    double time;
} LOG_ENTRY;
KINETOR_EXPORT extern LOG_ENTRY log_entries[LOG_ENTRIES_MAX];
KINETOR_EXPORT extern int log_idx;
KINETOR_EXPORT void print_log(void);
KINETOR_EXPORT void reset_log_idx(void);

#ifdef __cplusplus
}
#endif

#endif
