// The locks that keep the servo thread and the application's threads from interleaving
// their work on one device or one port. Each is a plain pthread mutex held for one
// operation at a time; none is ever held across the wait for the hardware's tick.
//
// Lock order: a device's lock (CIOLibAPI) before its port's lock (the transport). The
// transport never calls back up, so the port lock is always the innermost one.
#ifndef KINETOR_MUTEX_H
#define KINETOR_MUTEX_H

#include <pthread.h>

class CKinetorMutex {
public:
    // A recursive mutex may be taken again by the thread that holds it: the library
    // object's operations call one another (a temperature refusal disables forces).
    explicit CKinetorMutex(bool bRecursive);
    ~CKinetorMutex();

    void Lock();
    void Unlock();

private:
    CKinetorMutex(const CKinetorMutex&) = delete;
    CKinetorMutex& operator=(const CKinetorMutex&) = delete;

    pthread_mutex_t m_mutex;
};

// Holds a mutex for the lifetime of a scope.
class CKinetorLock {
public:
    explicit CKinetorLock(CKinetorMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
    ~CKinetorLock() { m_mutex.Unlock(); }

private:
    CKinetorLock(const CKinetorLock&) = delete;
    CKinetorLock& operator=(const CKinetorLock&) = delete;

    CKinetorMutex& m_mutex;
};

// For the servo benchmarks only, which measure what the locks cost a tick: with true,
// Lock and Unlock do nothing. Not exported; switch it only while no other thread runs.
void SetKinetorLocksBypassed(bool bBypassed);

#endif
