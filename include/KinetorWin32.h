/* Win32-style synchronisation interface of the library, for client code written against
 * the Win32 names. Implemented on POSIX threads; the names, argument lists and result
 * values are those of the Win32 originals, with LONG, DWORD and HANDLE at the platform's
 * long width. */
#ifndef KINETOR_WIN32_H
#define KINETOR_WIN32_H

#include <pthread.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

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

#ifdef __cplusplus
}
#endif

#endif
