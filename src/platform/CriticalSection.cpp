// Critical sections on recursive POSIX mutexes. g_mp_system may be switched by the servo
// layer while other threads are entering critical sections, so it is read and written
// with atomic builtins; it stays a plain bool because clients see it under that type.
#include "platform/CriticalSection.h"

#include <pthread.h>

bool g_mp_system = false;

namespace {

bool IsMPSystem() { return __atomic_load_n(&g_mp_system, __ATOMIC_RELAXED); }

BOOL InitRecursive(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount)
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return FALSE;
    BOOL bOk = FALSE;
    if (pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
        pthread_mutex_init(&lpCriticalSection->mutex, &attr) == 0)
        bOk = TRUE;
    pthread_mutexattr_destroy(&attr);
    lpCriticalSection->dwSpinCount = bOk ? dwSpinCount : 0;
    return bOk;
}

}  // namespace

extern "C" {

void setIsMPSystem(bool bIsMPSystem) { __atomic_store_n(&g_mp_system, bIsMPSystem, __ATOMIC_RELAXED); }

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr)
        return;
    InitRecursive(lpCriticalSection, 0);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount)
{
    if (lpCriticalSection == nullptr)
        return FALSE;
    return InitRecursive(lpCriticalSection, dwSpinCount);
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr)
        return;
    pthread_mutex_destroy(&lpCriticalSection->mutex);
    lpCriticalSection->dwSpinCount = 0;
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr)
        return;
    if (IsMPSystem()) {
        // On several processors the owner is likely to leave within a few tries, which is
        // cheaper than sleeping in the kernel and being woken again.
        for (DWORD i = 0; i < lpCriticalSection->dwSpinCount; i++) {
            if (pthread_mutex_trylock(&lpCriticalSection->mutex) == 0)
                return;
        }
    }
    pthread_mutex_lock(&lpCriticalSection->mutex);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr)
        return FALSE;
    return pthread_mutex_trylock(&lpCriticalSection->mutex) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection == nullptr)
        return;
    pthread_mutex_unlock(&lpCriticalSection->mutex);
}

}  // extern "C"
