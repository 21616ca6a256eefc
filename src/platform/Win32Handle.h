// Waitable objects of the Win32-style layer: the handle base with its reference count and
// waiter list, events, waitable timers and threads, and the table of live handles.
//
// All signalled states, waiter lists, reference counts and the tables are guarded by one
// lock (CWin32Table::Mutex). One lock lets a wait for several handles look at all of them
// at once and take them together, and lets a signaller hand its object to exactly the
// waiters it satisfies; per-object locks would need an ordering across every handle of
// every wait. A waiter sleeps on a word of its own, not on the table lock, so a woken
// waiter does not queue behind the signaller.
//
// The table lock is the only lock of the layer; a timer's or thread's own condition waits
// on it. Nothing is called out of the layer while it is held.
#ifndef KINETOR_WIN32_HANDLE_H
#define KINETOR_WIN32_HANDLE_H

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "KinetorWin32.h"

class CWin32Handle;

// One thread's wait on one or more handles, alive for the duration of that wait. The
// handle list, subscription and m_nResult are changed under the table lock. Completion is
// published through m_nDone, an atomic word the waiter sleeps on with a futex: the
// signaller stores it and wakes the address, and the woken waiter needs no lock at all.
// (With a condition variable the woken waiter would first have to take the mutex the
// signaller still holds, and notifying after unlocking could touch a waiter that has
// already returned.)
class CWin32Waiter {
public:
    CWin32Waiter(CWin32Handle* const* ppHandles, size_t nCount, bool bWaitAll);

    // Table lock held: takes the handles this wait needs if they are signalled now
    // (consuming auto-reset ones) and records the result. False when it must wait on.
    bool TryAcquire();
    // Table lock held: joins or leaves the waiter list of every handle of this wait. A
    // subscribed wait holds its handles alive (pins them); leaving may queue an object
    // whose last reference went while the wait slept.
    // False when memory ran out; what was joined is left again by Unsubscribe.
    bool Subscribe();
    void Unsubscribe(std::vector<CWin32Handle*>& vecDelete);
    // Table lock held: leaves the lists, marks the wait satisfied and wakes its thread.
    // The signaller does the leaving so that the woken thread needs no table lock.
    void Complete(std::vector<CWin32Handle*>& vecDelete);
    // No lock held: sleeps until completed or until the deadline; true when completed.
    bool Sleep(bool bInfinite, std::chrono::steady_clock::time_point tDeadline);
    bool IsDone() const { return m_nDone.load(std::memory_order_acquire) != 0; }

    CWin32Handle* const* m_ppHandles;
    size_t m_nCount;
    bool m_bWaitAll;
    DWORD m_nResult;
    std::atomic<int> m_nDone;
};

enum EWin32Kind { W32_KIND_EVENT, W32_KIND_TIMER, W32_KIND_THREAD };

class CWin32Handle {
public:
    CWin32Handle(EWin32Kind eKind, bool bManualReset, bool bSignalled);
    virtual ~CWin32Handle();

    EWin32Kind GetKind() const { return m_eKind; }
    HANDLE GetHandle() const { return reinterpret_cast<HANDLE>(this); }

    // Table lock held for everything below.
    bool IsSignalled() const { return m_bSignalled; }
    void SetSignalled(bool bSignalled) { m_bSignalled = bSignalled; }
    // A waiter took this object: auto-reset objects become unsignalled.
    void Consume();
    // Sets the signalled state and hands the object to the waiters it satisfies, oldest
    // first; an auto-reset object stops at the first waiter that consumes it.
    void SignalThreads(std::vector<CWin32Handle*>& vecDelete);
    // The last reference is gone: stop whatever keeps running on the object's behalf.
    virtual void OnLastClose(std::vector<CWin32Handle*>& vecDelete) { (void)vecDelete; }
    // An auto-reset object that turns signalled again the moment it is taken.
    virtual bool StaysSignalled() const { return false; }

    EWin32Kind m_eKind;
    bool m_bManualReset;
    bool m_bSignalled;
    long m_nRefCount;    // handle references held by the client
    long m_nPins;        // waits that sleep with this object in their list
    std::string m_strName;
    bool m_bNamed;
    std::vector<CWin32Waiter*> m_lstWaiters;

private:
    CWin32Handle(const CWin32Handle&) = delete;
    CWin32Handle& operator=(const CWin32Handle&) = delete;
};

class CWin32Event : public CWin32Handle {
public:
    CWin32Event(bool bManualReset, bool bSignalled) : CWin32Handle(W32_KIND_EVENT, bManualReset, bSignalled) {}
    // Releases the waiters that the signalled state satisfies now, then clears it.
    void Pulse(std::vector<CWin32Handle*>& vecDelete);
};

class CWin32Timer : public CWin32Handle {
public:
    CWin32Timer();
    ~CWin32Timer() override;

    // Starts the timer thread; false when the system refuses a thread.
    bool Start();
    // Table lock held.
    void SetPeriod(long nPeriod);
    void Cancel();
    void OnLastClose(std::vector<CWin32Handle*>& vecDelete) override;
    bool StaysSignalled() const override;

    bool m_bRunning;
    bool m_bPaused;
    long m_nPeriod;
    std::chrono::steady_clock::time_point m_tDue;
    pthread_t m_tid;
    bool m_bThreadStarted;
    std::condition_variable m_cvTimer;

private:
    static void* ThreadMain(void* pTimer);
    void Run();
};

class CWin32Thread : public CWin32Handle {
public:
    CWin32Thread(LPTHREAD_START_ROUTINE pfnStart, void* pParam, bool bSuspended);
    ~CWin32Thread() override;

    // Table lock held.
    void Resume();
    // The thread's body: waits while suspended, runs the routine, signals the object.
    static void* ThreadMain(void* pThread);

    LPTHREAD_START_ROUTINE m_pfnStart;
    void* m_pParam;
    bool m_bSuspended;
    pthread_t m_tid;
    bool m_bThreadStarted;
    std::condition_variable m_cvResume;
};

// The live handles and the names they are registered under. A HANDLE from a client is
// only ever compared with the table's entries, never dereferenced, so a stale or forged
// value is simply not found.
class CWin32Table {
public:
    // Never destroyed: a timer's or thread's own thread may still use it while the
    // process exits.
    static std::mutex& Mutex();

    // Table lock held for everything below.
    static CWin32Handle* Find(HANDLE h);
    static CWin32Handle* Find(HANDLE h, EWin32Kind eKind);
    static CWin32Handle* FindName(const char* pszName);
    // Enters a new object (and its name, when not null) in the table; false, with the
    // table unchanged, when memory ran out.
    static bool Register(CWin32Handle* pObject, const char* pszName);
    // Drops one client reference; at the last one the object leaves the table and, when
    // no wait still holds it, is queued in vecDelete.
    static void RemoveRef(CWin32Handle* pObject, std::vector<CWin32Handle*>& vecDelete);
    static void Unpin(CWin32Handle* pObject, std::vector<CWin32Handle*>& vecDelete);

    // Table lock NOT held: destroys queued objects (their destructors join threads that
    // take the table lock).
    static void DeleteAll(std::vector<CWin32Handle*>& vecDelete);
};

// Looks up an existing object by name for a create call: the object with one more
// reference when it is of eKind, null when the name is free. *pbNameTaken tells the
// two null cases apart. Table lock held.
CWin32Handle* Win32OpenNamed(const char* pszName, EWin32Kind eKind, bool* pbNameTaken);

#endif
