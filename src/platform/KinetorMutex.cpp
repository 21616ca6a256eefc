#include "platform/KinetorMutex.h"

#include <atomic>

namespace {

std::atomic<bool> g_bLocksBypassed(false);

}  // namespace

CKinetorMutex::CKinetorMutex(bool bRecursive)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, bRecursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_NORMAL);
    pthread_mutex_init(&m_mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

CKinetorMutex::~CKinetorMutex()
{
    pthread_mutex_destroy(&m_mutex);
}

void CKinetorMutex::Lock()
{
    if (!g_bLocksBypassed.load(std::memory_order_relaxed))
        pthread_mutex_lock(&m_mutex);
}

void CKinetorMutex::Unlock()
{
    if (!g_bLocksBypassed.load(std::memory_order_relaxed))
        pthread_mutex_unlock(&m_mutex);
}

void SetKinetorLocksBypassed(bool bBypassed)
{
    g_bLocksBypassed.store(bBypassed);
}
