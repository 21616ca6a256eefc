// The handle base, the waiter record and the table of live handles; CloseHandle,
// DuplicateHandle and the name lookup.
#include "platform/Win32Handle.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <unordered_set>

namespace {

struct WIN32_TABLE {
    std::mutex mutex;
    std::unordered_set<HANDLE> handles;
    std::map<std::string, CWin32Handle*> names;
};

// Leaked on purpose, see CWin32Table::Mutex.
WIN32_TABLE& Table()
{
    static WIN32_TABLE* s_pTable = new WIN32_TABLE;
    return *s_pTable;
}

void Forget(CWin32Handle* pObject)
{
    WIN32_TABLE& table = Table();
    table.handles.erase(pObject->GetHandle());
    if (pObject->m_bNamed) {
        auto it = table.names.find(pObject->m_strName);
        if (it != table.names.end() && it->second == pObject)
            table.names.erase(it);
    }
}

}  // namespace

CWin32Waiter::CWin32Waiter(CWin32Handle* const* ppHandles, size_t nCount, bool bWaitAll)
    : m_ppHandles(ppHandles), m_nCount(nCount), m_bWaitAll(bWaitAll), m_nResult(WAIT_FAILED), m_nDone(0)
{
}

bool CWin32Waiter::TryAcquire()
{
    if (m_bWaitAll) {
        for (size_t i = 0; i < m_nCount; i++) {
            if (!m_ppHandles[i]->IsSignalled())
                return false;
        }
        for (size_t i = 0; i < m_nCount; i++)
            m_ppHandles[i]->Consume();
        m_nResult = WAIT_OBJECT_0;
        return true;
    }
    for (size_t i = 0; i < m_nCount; i++) {
        if (m_ppHandles[i]->IsSignalled()) {
            m_ppHandles[i]->Consume();
            m_nResult = WAIT_OBJECT_0 + i;
            return true;
        }
    }
    return false;
}

bool CWin32Waiter::Subscribe()
{
    for (size_t i = 0; i < m_nCount; i++) {
        CWin32Handle* pObject = m_ppHandles[i];
        // A wait for any may name one handle twice; it is in that list once.
        std::vector<CWin32Waiter*>& lst = pObject->m_lstWaiters;
        if (std::find(lst.begin(), lst.end(), this) != lst.end())
            continue;
        try {
            lst.push_back(this);
        } catch (...) {
            return false;
        }
        pObject->m_nPins++;
    }
    return true;
}

void CWin32Waiter::Unsubscribe(std::vector<CWin32Handle*>& vecDelete)
{
    for (size_t i = 0; i < m_nCount; i++) {
        CWin32Handle* pObject = m_ppHandles[i];
        std::vector<CWin32Waiter*>& lst = pObject->m_lstWaiters;
        auto it = std::find(lst.begin(), lst.end(), this);
        if (it == lst.end())
            continue;
        lst.erase(it);
        CWin32Table::Unpin(pObject, vecDelete);
    }
}

void CWin32Waiter::Complete(std::vector<CWin32Handle*>& vecDelete)
{
    Unsubscribe(vecDelete);
    int* pnWord = reinterpret_cast<int*>(&m_nDone);
    m_nDone.store(1, std::memory_order_release);
    // The waiter may return (and its record end) as soon as it sees the store; the wake
    // only names the address and is harmless when nobody sleeps there any more.
    syscall(SYS_futex, pnWord, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

bool CWin32Waiter::Sleep(bool bInfinite, std::chrono::steady_clock::time_point tDeadline)
{
    int* pnWord = reinterpret_cast<int*>(&m_nDone);
    while (!IsDone()) {
        struct timespec tsLeft;
        struct timespec* ptsLeft = nullptr;
        if (!bInfinite) {
            const auto tLeft = tDeadline - std::chrono::steady_clock::now();
            if (tLeft <= std::chrono::steady_clock::duration::zero())
                return false;
            const auto nNanos = std::chrono::duration_cast<std::chrono::nanoseconds>(tLeft).count();
            tsLeft.tv_sec = static_cast<time_t>(nNanos / 1000000000LL);
            tsLeft.tv_nsec = static_cast<long>(nNanos % 1000000000LL);
            ptsLeft = &tsLeft;
        }
        // Sleeps only while the word is still 0, so a completion between the check and
        // the call is not missed; wakes by signal or spuriously just go round again.
        syscall(SYS_futex, pnWord, FUTEX_WAIT_PRIVATE, 0, ptsLeft, nullptr, 0);
    }
    return true;
}

CWin32Handle::CWin32Handle(EWin32Kind eKind, bool bManualReset, bool bSignalled)
    : m_eKind(eKind), m_bManualReset(bManualReset), m_bSignalled(bSignalled), m_nRefCount(1), m_nPins(0),
      m_bNamed(false)
{
}

CWin32Handle::~CWin32Handle() {}

void CWin32Handle::Consume()
{
    if (!m_bManualReset && !StaysSignalled())
        m_bSignalled = false;
}

void CWin32Handle::SignalThreads(std::vector<CWin32Handle*>& vecDelete)
{
    m_bSignalled = true;
    // Each waiter is offered the object in the order it began to wait. A satisfied waiter
    // leaves the list (Complete), so the same index then holds the next one.
    size_t i = 0;
    while (i < m_lstWaiters.size() && m_bSignalled) {
        CWin32Waiter* pWaiter = m_lstWaiters[i];
        if (pWaiter->TryAcquire())
            pWaiter->Complete(vecDelete);
        else
            i++;
    }
}

std::mutex& CWin32Table::Mutex()
{
    return Table().mutex;
}

CWin32Handle* CWin32Table::Find(HANDLE h)
{
    if (h == 0 || h == INVALID_HANDLE_VALUE)
        return nullptr;
    WIN32_TABLE& table = Table();
    if (table.handles.find(h) == table.handles.end())
        return nullptr;
    return reinterpret_cast<CWin32Handle*>(h);
}

CWin32Handle* CWin32Table::Find(HANDLE h, EWin32Kind eKind)
{
    CWin32Handle* pObject = Find(h);
    return (pObject != nullptr && pObject->GetKind() == eKind) ? pObject : nullptr;
}

CWin32Handle* CWin32Table::FindName(const char* pszName)
{
    if (pszName == nullptr)
        return nullptr;
    WIN32_TABLE& table = Table();
    auto it = table.names.find(pszName);
    return it == table.names.end() ? nullptr : it->second;
}

bool CWin32Table::Register(CWin32Handle* pObject, const char* pszName)
{
    WIN32_TABLE& table = Table();
    try {
        if (pszName != nullptr) {
            pObject->m_strName = pszName;
            table.names[pObject->m_strName] = pObject;
            pObject->m_bNamed = true;
        }
        table.handles.insert(pObject->GetHandle());
    } catch (...) {
        Forget(pObject);
        return false;
    }
    return true;
}

void CWin32Table::RemoveRef(CWin32Handle* pObject, std::vector<CWin32Handle*>& vecDelete)
{
    if (pObject->m_nRefCount > 1) {
        pObject->m_nRefCount--;
        return;
    }
    // The name and the handle value are free from now on, even if a sleeping wait still
    // holds the object itself.
    Forget(pObject);
    // While the count is still 1, waits that OnLastClose completes leave the object to
    // this function instead of queueing it themselves.
    pObject->OnLastClose(vecDelete);
    pObject->m_nRefCount = 0;
    if (pObject->m_nPins == 0)
        vecDelete.push_back(pObject);
}

void CWin32Table::Unpin(CWin32Handle* pObject, std::vector<CWin32Handle*>& vecDelete)
{
    if (--pObject->m_nPins == 0 && pObject->m_nRefCount <= 0)
        vecDelete.push_back(pObject);
}

void CWin32Table::DeleteAll(std::vector<CWin32Handle*>& vecDelete)
{
    for (CWin32Handle* pObject : vecDelete)
        delete pObject;
    vecDelete.clear();
}

CWin32Handle* Win32OpenNamed(const char* pszName, EWin32Kind eKind, bool* pbNameTaken)
{
    CWin32Handle* pObject = CWin32Table::FindName(pszName);
    *pbNameTaken = pObject != nullptr;
    if (pObject == nullptr || pObject->GetKind() != eKind)
        return nullptr;
    // Every successful create or open is one more handle the caller will close; without
    // the reference, the first close would destroy the object under the other holders.
    pObject->m_nRefCount++;
    return pObject;
}

extern "C" {

BOOL CloseHandle(HANDLE hObject)
{
    std::vector<CWin32Handle*> vecDelete;
    {
        std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
        CWin32Handle* pObject = CWin32Table::Find(hObject);
        if (pObject == nullptr)
            return FALSE;
        // A running thread's object must outlive the thread; it closes once it ended.
        if (pObject->GetKind() == W32_KIND_THREAD && !pObject->IsSignalled())
            return FALSE;
        CWin32Table::RemoveRef(pObject, vecDelete);
    }
    CWin32Table::DeleteAll(vecDelete);
    return TRUE;
}

BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                     LPHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions)
{
    (void)hSourceProcessHandle;
    (void)hTargetProcessHandle;
    (void)dwDesiredAccess;
    (void)bInheritHandle;
    if (lpTargetHandle == nullptr)
        return FALSE;
    std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
    CWin32Handle* pObject = CWin32Table::Find(hSourceHandle);
    if (pObject == nullptr)
        return FALSE;
    // Closing the source as part of the duplication leaves the count as it was; doing it
    // as add-then-close would fail for a running thread and leave one reference too many.
    if ((dwOptions & DUPLICATE_CLOSE_SOURCE) == 0)
        pObject->m_nRefCount++;
    *lpTargetHandle = hSourceHandle;
    return TRUE;
}

HANDLE open_handle(LPCSTR lpName)
{
    if (lpName == nullptr)
        return 0;
    std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
    CWin32Handle* pObject = CWin32Table::FindName(lpName);
    return pObject == nullptr ? 0 : pObject->GetHandle();
}

}  // extern "C"
