// Waitable timers: an auto-reset object and a thread of its own that signals it once per
// period. The thread sleeps on a condition of the table lock until the next due time, so
// a new period, a cancel or the last close takes effect at once instead of after the
// sleep in progress.
#include "platform/Win32Handle.h"

#include <new>

namespace {

// Periods beyond this would overflow the clock's arithmetic; nobody waits a century.
const long kMaxPeriodMs = 100L * 365 * 24 * 3600 * 1000;

}  // namespace

CWin32Timer::CWin32Timer()
    : CWin32Handle(W32_KIND_TIMER, false, false), m_bRunning(true), m_bPaused(true), m_nPeriod(0), m_tid(),
      m_bThreadStarted(false)
{
}

CWin32Timer::~CWin32Timer()
{
    if (!m_bThreadStarted)
        return;
    // Objects are destroyed outside the table lock, after OnLastClose has stopped the
    // loop; the timer's own thread never drops the last hold on its own object.
    if (pthread_equal(m_tid, pthread_self()))
        pthread_detach(m_tid);
    else
        pthread_join(m_tid, nullptr);
}

bool CWin32Timer::Start()
{
    m_bThreadStarted = pthread_create(&m_tid, nullptr, ThreadMain, this) == 0;
    return m_bThreadStarted;
}

void* CWin32Timer::ThreadMain(void* pTimer)
{
    static_cast<CWin32Timer*>(pTimer)->Run();
    return nullptr;
}

void CWin32Timer::Run()
{
    std::vector<CWin32Handle*> vecDelete;
    std::unique_lock<std::mutex> lock(CWin32Table::Mutex());
    while (m_bRunning) {
        if (m_bPaused || m_nPeriod == 0) {
            // Period 0 keeps the timer signalled (StaysSignalled) without a busy loop.
            if (!m_bPaused && !m_bSignalled)
                SignalThreads(vecDelete);
        } else {
            const auto tNow = std::chrono::steady_clock::now();
            if (tNow < m_tDue) {
                m_cvTimer.wait_until(lock, m_tDue);
                continue;
            }
            SignalThreads(vecDelete);
            // The next due time follows the last one, so the rate does not drift; a timer
            // that fell behind by a whole period starts afresh instead of firing in a burst.
            m_tDue += std::chrono::milliseconds(m_nPeriod);
            if (m_tDue <= tNow)
                m_tDue = tNow + std::chrono::milliseconds(m_nPeriod);
        }
        if (!vecDelete.empty()) {
            lock.unlock();
            CWin32Table::DeleteAll(vecDelete);
            lock.lock();
            continue;
        }
        if (m_bPaused || m_nPeriod == 0)
            m_cvTimer.wait(lock);
    }
}

void CWin32Timer::SetPeriod(long nPeriod)
{
    m_nPeriod = nPeriod < kMaxPeriodMs ? nPeriod : kMaxPeriodMs;
    m_tDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nPeriod);
    m_bPaused = false;
    m_cvTimer.notify_one();
}

void CWin32Timer::Cancel()
{
    m_bPaused = true;
    m_cvTimer.notify_one();
}

bool CWin32Timer::StaysSignalled() const
{
    return m_bRunning && !m_bPaused && m_nPeriod == 0;
}

void CWin32Timer::OnLastClose(std::vector<CWin32Handle*>& vecDelete)
{
    m_bRunning = false;
    m_cvTimer.notify_one();
    // Waits that still hold the timer would otherwise sleep for a signal that can no
    // longer come.
    SignalThreads(vecDelete);
}

extern "C" {

HANDLE CreateWaitableTimer(LPSECURITY_ATTRIBUTES lpTimerAttributes, BOOL bManualReset, LPCSTR lpTimerName)
{
    (void)lpTimerAttributes;
    if (bManualReset)
        return 0;
    {
        std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
        bool bNameTaken = false;
        CWin32Handle* pExisting = Win32OpenNamed(lpTimerName, W32_KIND_TIMER, &bNameTaken);
        if (pExisting != nullptr)
            return pExisting->GetHandle();
        if (bNameTaken)
            return 0;
    }
    CWin32Timer* pTimer = new (std::nothrow) CWin32Timer();
    if (pTimer == nullptr)
        return 0;
    if (!pTimer->Start()) {
        delete pTimer;
        return 0;
    }
    std::vector<CWin32Handle*> vecDelete;
    HANDLE hTimer = 0;
    {
        std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
        // Another thread may have created a timer of this name while this one started
        // its thread; the name then belongs to that one.
        bool bNameTaken = false;
        CWin32Handle* pExisting = Win32OpenNamed(lpTimerName, W32_KIND_TIMER, &bNameTaken);
        if (pExisting != nullptr) {
            hTimer = pExisting->GetHandle();
        } else if (!bNameTaken && CWin32Table::Register(pTimer, lpTimerName)) {
            return pTimer->GetHandle();
        }
        pTimer->OnLastClose(vecDelete);
    }
    delete pTimer;
    return hTimer;
}

BOOL SetWaitableTimer(HANDLE hTimer, const LARGE_INTEGER* pDueTime, LONG lPeriod,
                      PTIMERAPCROUTINE pfnCompletionRoutine, LPVOID lpArgToCompletionRoutine, BOOL fResume)
{
    (void)pDueTime;
    (void)pfnCompletionRoutine;
    (void)lpArgToCompletionRoutine;
    (void)fResume;
    if (lPeriod < 0)
        return FALSE;
    std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
    CWin32Timer* pTimer = static_cast<CWin32Timer*>(CWin32Table::Find(hTimer, W32_KIND_TIMER));
    if (pTimer == nullptr)
        return FALSE;
    pTimer->SetPeriod(lPeriod);
    return TRUE;
}

BOOL CancelWaitableTimer(HANDLE hTimer)
{
    std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
    CWin32Timer* pTimer = static_cast<CWin32Timer*>(CWin32Table::Find(hTimer, W32_KIND_TIMER));
    if (pTimer == nullptr)
        return FALSE;
    pTimer->Cancel();
    return TRUE;
}

}  // extern "C"
