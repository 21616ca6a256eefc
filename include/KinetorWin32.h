/* Win32-style synchronisation interface of the library, for client code written against
 * the Win32 names. Implemented on POSIX threads; the names, argument lists and result
 * values are those of the Win32 originals, with LONG, DWORD and HANDLE at the platform's
 * long width.
 *
 * A HANDLE is checked against the library's table of live objects before it is used, so
 * a closed, forged or foreign value gets the function's failure result (FALSE, 0, -1 or
 * WAIT_FAILED), never a crash. */
/** @file
 * @brief The Win32-style synchronisation interface.
 * @ingroup win32 */
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
/** Sets g_mp_system, which decides whether critical sections spin before blocking.
 * @param bIsMPSystem true on a multiprocessor system
 * @thread Any thread. */
KINETOR_EXPORT void setIsMPSystem(bool bIsMPSystem);

/* A null critical section is ignored (and reported as failure where there is a result). */
/** Initialises a critical section with a spin count of 0.
 * @param lpCriticalSection the section; null is ignored
 * @thread Any thread. */
KINETOR_EXPORT void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
/** Initialises a critical section.
 * @param lpCriticalSection the section
 * @param dwSpinCount tries before blocking (multiprocessor systems only)
 * @return TRUE, or FALSE for a null section.
 * @thread Any thread. */
KINETOR_EXPORT BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                          DWORD dwSpinCount);
/** Releases a critical section that no thread holds.
 * @param lpCriticalSection the section; null is ignored
 * @thread Any thread. */
KINETOR_EXPORT void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
/** Enters the section, waiting until no other thread holds it; recursive.
 * @param lpCriticalSection the section; null is ignored
 * @thread Any thread. */
KINETOR_EXPORT void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
/** Enters the section when no other thread holds it, without waiting.
 * @param lpCriticalSection the section
 * @return TRUE entered, FALSE held elsewhere or a null section.
 * @thread Any thread. */
KINETOR_EXPORT BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
/** Leaves the section once.
 * @param lpCriticalSection the section, held by the calling thread; null is ignored
 * @thread Any thread. */
KINETOR_EXPORT void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

/* ---- Events ------------------------------------------------------------------------ */

/* A new event, or, when lpName names an existing event, that event with one more
 * reference (close it once more). A name held by a timer or thread gives 0. */
/** Creates an event (CreateEvent).
 * @param lpEventAttributes ignored
 * @param bManualReset TRUE manual reset, FALSE auto reset
 * @param bInitialState TRUE starts signalled
 * @param lpName name to register, or null
 * @return the handle, or 0.
 * @thread Any thread. */
KINETOR_EXPORT HANDLE CREATE_EVENT(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                   BOOL bInitialState, LPCSTR lpName);
#define CreateEvent CREATE_EVENT
/* The event of that name with one more reference, or 0. */
/** @param dwDesiredAccess ignored
 * @param bInheritHandle ignored
 * @param lpName the event's name
 * @return the named event with one more reference, or 0.
 * @thread Any thread. */
KINETOR_EXPORT HANDLE OpenEvent(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
/* A set auto-reset event releases exactly one waiter (or stays set until one comes); a
 * manual-reset event releases every waiter and stays set until ResetEvent. */
/** Signals the event. @param hEvent the event's handle
 * @return TRUE, or FALSE for a handle that is not an event. @thread Any thread. */
KINETOR_EXPORT BOOL SetEvent(HANDLE hEvent);
/** Makes the event unsignalled. @param hEvent the event's handle
 * @return TRUE, or FALSE for a handle that is not an event. @thread Any thread. */
KINETOR_EXPORT BOOL ResetEvent(HANDLE hEvent);
/* Releases the waiters of this moment as SetEvent would (manual reset: all that can be
 * satisfied, auto reset: at most one), then leaves the event unsignalled. */
/** Releases the present waiters and leaves the event unsignalled. @param hEvent the event's handle
 * @return TRUE, or FALSE for a handle that is not an event. @thread Any thread. */
KINETOR_EXPORT BOOL PulseEvent(HANDLE hEvent);

/* ---- Waitable timers --------------------------------------------------------------- */

/* Auto-reset timers only: a manual-reset request gives 0. The timer starts cancelled,
 * with a thread of its own. Lookup by name as for events. */
/** @param lpTimerAttributes ignored
 * @param bManualReset must be FALSE
 * @param lpTimerName name to register, or null
 * @return the timer's handle, or 0 (also for a manual-reset request).
 * @thread Any thread. */
KINETOR_EXPORT HANDLE CreateWaitableTimer(LPSECURITY_ATTRIBUTES lpTimerAttributes, BOOL bManualReset,
                                          LPCSTR lpTimerName);
/* Signals first lPeriod milliseconds after the call, then every lPeriod milliseconds
 * (period 0: signalled again as soon as a waiter takes it). pDueTime, the completion
 * routine and fResume are ignored. Negative periods give FALSE. */
/** Starts the timer with a period.
 * @param hTimer the timer's handle
 * @param pDueTime ignored
 * @param lPeriod period, ms (not negative)
 * @param pfnCompletionRoutine ignored
 * @param lpArgToCompletionRoutine ignored
 * @param fResume ignored
 * @return TRUE, or FALSE for a bad handle or a negative period.
 * @thread Any thread. */
KINETOR_EXPORT BOOL SetWaitableTimer(HANDLE hTimer, const LARGE_INTEGER* pDueTime, LONG lPeriod,
                                     PTIMERAPCROUTINE pfnCompletionRoutine,
                                     LPVOID lpArgToCompletionRoutine, BOOL fResume);
/* Stops the timer without a further signal. */
/** @param hTimer the timer's handle
 * @return TRUE, or FALSE for a handle that is not a timer.
 * @thread Any thread. */
KINETOR_EXPORT BOOL CancelWaitableTimer(HANDLE hTimer);

/* ---- Threads ----------------------------------------------------------------------- */

/* Runs lpStartAddress(lpParameter) on a new thread; CREATE_SUSPENDED holds it until
 * ResumeThread. The handle becomes signalled when the routine returns; only then does
 * CloseHandle accept it. */
/** @param lpThreadAttributes ignored
 * @param dwStackSize stack size in bytes, 0 for the default
 * @param lpStartAddress the thread's routine
 * @param lpParameter passed to the routine
 * @param dwCreationFlags 0, or CREATE_SUSPENDED
 * @param lpThreadId receives the thread's id; may be null
 * @return the thread's handle, or 0.
 * @thread Any thread. */
KINETOR_EXPORT HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, size_t dwStackSize,
                                   LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                   DWORD dwCreationFlags, LPDWORD lpThreadId);
/* 1 on success, (DWORD)-1 for anything that is not a thread. */
/** Lets a thread created with CREATE_SUSPENDED run.
 * @param hThread the thread's handle
 * @return 1, or (DWORD)-1 for anything that is not a thread.
 * @thread Any thread. */
KINETOR_EXPORT DWORD ResumeThread(HANDLE hThread);
/* Not supported: always (DWORD)-1, the thread runs on. */
/** Not supported.
 * @param hThread ignored
 * @return (DWORD)-1 always.
 * @thread Any thread. */
KINETOR_EXPORT DWORD SuspendThread(HANDLE hThread);
/** @return the calling thread's id. @thread Any thread. */
KINETOR_EXPORT DWORD GetCurrentThreadId(void);
/** @return the pseudo handle of the process (GetCurrentProcess). @thread Any thread. */
KINETOR_EXPORT HANDLE GET_CURRENT_PROCESS(void);
#define GetCurrentProcess GET_CURRENT_PROCESS

/* ---- Handles and waits ------------------------------------------------------------- */

/* FALSE for 0, INVALID_HANDLE_VALUE, an unknown value, or a thread still running. The
 * last reference destroys the object (a timer's or thread's own thread is joined). */
/** Drops one reference of an object.
 * @param hObject the handle
 * @return TRUE, or FALSE for 0, INVALID_HANDLE_VALUE, an unknown value or a running thread.
 * @thread Any thread. */
KINETOR_EXPORT BOOL CloseHandle(HANDLE hObject);
/* Adds a reference and stores the same handle in *lpTargetHandle; with
 * DUPLICATE_CLOSE_SOURCE the count stays as it was. */
/** @param hSourceProcessHandle ignored
 * @param hSourceHandle the handle to duplicate
 * @param hTargetProcessHandle ignored
 * @param lpTargetHandle receives the same handle
 * @param dwDesiredAccess ignored
 * @param bInheritHandle ignored
 * @param dwOptions DUPLICATE_CLOSE_SOURCE keeps the reference count
 * @return TRUE, or FALSE for an unknown handle or a null target.
 * @thread Any thread. */
KINETOR_EXPORT BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                    HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                                    DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
/* The registered handle of that name (no new reference), or 0. */
/** @param lpName a registered name
 * @return the object of that name, without a new reference, or 0.
 * @thread Any thread. */
KINETOR_EXPORT HANDLE open_handle(LPCSTR lpName);

/* WAIT_OBJECT_0 + i, WAIT_TIMEOUT, or WAIT_FAILED (bad handle, bad count, bWaitAll not 0
 * or 1, the same handle twice in a wait for all). A wait for all takes its handles
 * together: either all of them are acquired or none is. */
/** Waits for one object.
 * @param hHandle the handle
 * @param dwMilliseconds time-out, ms, on the monotonic clock, or INFINITE
 * @return WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
 * @thread Any thread. */
KINETOR_EXPORT DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
/** Waits for any or all of several objects.
 * @param nCount number of handles, 1 to MAXIMUM_WAIT_OBJECTS
 * @param lpHandles the handles
 * @param bWaitAll TRUE waits for all (taken together), FALSE for any
 * @param dwMilliseconds time-out, ms, or INFINITE
 * @return WAIT_OBJECT_0 + index, WAIT_TIMEOUT or WAIT_FAILED.
 * @thread Any thread. */
KINETOR_EXPORT DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                            DWORD dwMilliseconds);
/* Now on the real-time clock plus dwMilliseconds, for pthread_cond_timedwait. */
/** @param dwMilliseconds delay, ms
 * @param pts receives now on the real-time clock plus the delay
 * @thread Any thread. */
KINETOR_EXPORT void get_abs_timeout_time(DWORD dwMilliseconds, struct timespec* pts);

/* ---- Counters and memory ----------------------------------------------------------- */

/* Kept for clients that lock it around their own counter updates; the interlocked
 * operations themselves are atomic instructions. */
KINETOR_EXPORT extern pthread_mutex_t mutex_interlocked_ops;
/* The new value; a null pointer gives 0. */
/** Atomically adds 1.
 * @param lpAddend the counter
 * @return the new value, or 0 for a null pointer.
 * @thread Any thread. */
KINETOR_EXPORT LONG InterlockedIncrement(LPLONG lpAddend);
/** Atomically subtracts 1.
 * @param lpAddend the counter
 * @return the new value, or 0 for a null pointer.
 * @thread Any thread. */
KINETOR_EXPORT LONG InterlockedDecrement(LPLONG lpAddend);

/* 100-ns ticks of the library's device clock (monotonic, or simulated time when the
 * simulator runs in lockstep); never decreasing. FALSE for a null pointer. */
/** @param lpPerformanceCount receives the count, 100-ns ticks
 * @return TRUE, or FALSE for a null pointer.
 * @thread Any thread. */
KINETOR_EXPORT BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
/* Ticks per second of QueryPerformanceCounter: 10,000,000. */
/** @param lpFrequency receives 10,000,000
 * @return TRUE, or FALSE for a null pointer.
 * @thread Any thread. */
KINETOR_EXPORT BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);

/** Fills memory with zeros.
 * @param Destination the memory
 * @param Length bytes
 * @thread Any thread. */
KINETOR_EXPORT void ZeroMemory(LPVOID Destination, size_t Length);
/* Stubs kept for linking: return 0 and do nothing. */
/** Stub kept for linking; opens nothing.
 * @param lpFileName ignored
 * @param dwDesiredAccess ignored
 * @param dwShareMode ignored
 * @param lpSecurityAttributes ignored
 * @param dwCreationDisposition ignored
 * @param dwFlagsAndAttributes ignored
 * @param hTemplateFile ignored
 * @return 0.
 * @thread Any thread. */
KINETOR_EXPORT HANDLE CreateFile(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                 LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                 DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                 HANDLE hTemplateFile);
/** Stub kept for linking; reads nothing.
 * @param hFile ignored
 * @param lpBuffer ignored
 * @param nNumberOfBytesToRead ignored
 * @param lpNumberOfBytesRead ignored
 * @param lpOverlapped ignored
 * @return 0.
 * @thread Any thread. */
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
/** Prints the debug ring's entries to standard output and frees their texts.
 * @thread Any thread, while no other thread fills the ring. */
KINETOR_EXPORT void print_log(void);
/** Frees the debug ring's texts and starts it again.
 * @thread Any thread, while no other thread fills the ring. */
KINETOR_EXPORT void reset_log_idx(void);

#ifdef __cplusplus
}
#endif

#endif
