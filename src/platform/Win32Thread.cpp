// Threads: created running or suspended, resumed, and signalled when their routine
// returns, so that a client can wait for the end of a thread and then close its handle.
#include "platform/Win32Handle.h"

#include <new>

namespace {

// Signals the thread's object however the routine ends: by returning, or by
// pthread_exit, whose unwinding runs this destructor too.
class CThreadEndSignal {
public:
    explicit CThreadEndSignal(CWin32Thread* pThread) : m_pThread(pThread) {}
    ~CThreadEndSignal()
    {
        std::vector<CWin32Handle*> vecDelete;
        {
            std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
            m_pThread->SignalThreads(vecDelete);
        }
        // From here on the object may be closed and destroyed by another thread; its
        // destructor joins this one, so nothing below may touch it.
        CWin32Table::DeleteAll(vecDelete);
    }

private:
    CWin32Thread* m_pThread;
};

}  // namespace

CWin32Thread::CWin32Thread(LPTHREAD_START_ROUTINE pfnStart, void* pParam, bool bSuspended)
    : CWin32Handle(W32_KIND_THREAD, true, false), m_pfnStart(pfnStart), m_pParam(pParam),
      m_bSuspended(bSuspended), m_tid(), m_bThreadStarted(false)
{
}

CWin32Thread::~CWin32Thread()
{
    if (!m_bThreadStarted)
        return;
    if (pthread_equal(m_tid, pthread_self()))
        pthread_detach(m_tid);
    else
        pthread_join(m_tid, nullptr);
}

void CWin32Thread::Resume()
{
    m_bSuspended = false;
    m_cvResume.notify_all();
}

void* CWin32Thread::ThreadMain(void* pThread)
{
    CWin32Thread* pSelf = static_cast<CWin32Thread*>(pThread);
    {
        std::unique_lock<std::mutex> lock(CWin32Table::Mutex());
        while (pSelf->m_bSuspended)
            pSelf->m_cvResume.wait(lock);
    }
    CThreadEndSignal endSignal(pSelf);
    pSelf->m_pfnStart(pSelf->m_pParam);
    return nullptr;
}

extern "C" {

HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, size_t dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    (void)lpThreadAttributes;
    (void)dwStackSize;
    if (lpStartAddress == nullptr)
        return 0;
    CWin32Thread* pThread =
        new (std::nothrow) CWin32Thread(lpStartAddress, lpParameter, (dwCreationFlags & CREATE_SUSPENDED) != 0);
    if (pThread == nullptr)
        return 0;
    {
        // Registered before the thread exists, so that a registration that fails leaves
        // no thread behind that runs the routine without a handle. The creation holds
        // the object (a pin) until the thread's id is stored in it.
        std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
        if (!CWin32Table::Register(pThread, nullptr)) {
            delete pThread;
            return 0;
        }
        pThread->m_nPins++;
    }
    const HANDLE hThread = pThread->GetHandle();
    pthread_t tid;
    const bool bStarted = pthread_create(&tid, nullptr, CWin32Thread::ThreadMain, pThread) == 0;
    std::vector<CWin32Handle*> vecDelete;
    {
        std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
        if (bStarted) {
            pThread->m_tid = tid;
            pThread->m_bThreadStarted = true;
        } else {
            // Nobody can have closed it: CloseHandle refuses a thread not yet signalled.
            CWin32Table::RemoveRef(pThread, vecDelete);
        }
        CWin32Table::Unpin(pThread, vecDelete);
    }
    CWin32Table::DeleteAll(vecDelete);
    if (!bStarted)
        return 0;
    if (lpThreadId != nullptr)
        *lpThreadId = static_cast<DWORD>(tid);
    return hThread;
}

DWORD ResumeThread(HANDLE hThread)
{
    std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
    CWin32Thread* pThread = static_cast<CWin32Thread*>(CWin32Table::Find(hThread, W32_KIND_THREAD));
    if (pThread == nullptr)
        return static_cast<DWORD>(-1);
    pThread->Resume();
    return 1;
}

DWORD SuspendThread(HANDLE hThread)
{
    // Stopping a thread at an arbitrary point could leave any lock it holds taken for
    // good; POSIX threads offer no safe way, so the request is refused.
    (void)hThread;
    return static_cast<DWORD>(-1);
}

DWORD GetCurrentThreadId(void)
{
    return static_cast<DWORD>(pthread_self());
}

HANDLE GET_CURRENT_PROCESS(void)
{
    return 0;
}

}  // extern "C"
