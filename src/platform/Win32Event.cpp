// Events: created, opened by name, set, reset and pulsed.
#include "platform/Win32Handle.h"

#include <new>

void CWin32Event::Pulse(std::vector<CWin32Handle*>& vecDelete)
{
    // Signalling hands the event to the waiters it satisfies at this moment (for an
    // auto-reset event at most one); whoever starts waiting later finds it unsignalled.
    SignalThreads(vecDelete);
    m_bSignalled = false;
}

namespace {

enum EEventOp { EVENT_SET, EVENT_RESET, EVENT_PULSE };

BOOL ChangeEvent(HANDLE hEvent, EEventOp eOp)
{
    std::vector<CWin32Handle*> vecDelete;
    {
        std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
        CWin32Event* pEvent = static_cast<CWin32Event*>(CWin32Table::Find(hEvent, W32_KIND_EVENT));
        if (pEvent == nullptr)
            return FALSE;
        switch (eOp) {
        case EVENT_SET:
            pEvent->SignalThreads(vecDelete);
            break;
        case EVENT_RESET:
            pEvent->SetSignalled(false);
            break;
        case EVENT_PULSE:
            pEvent->Pulse(vecDelete);
            break;
        }
    }
    CWin32Table::DeleteAll(vecDelete);
    return TRUE;
}

}  // namespace

extern "C" {

HANDLE CREATE_EVENT(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName)
{
    (void)lpEventAttributes;
    std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
    bool bNameTaken = false;
    CWin32Handle* pExisting = Win32OpenNamed(lpName, W32_KIND_EVENT, &bNameTaken);
    if (pExisting != nullptr)
        return pExisting->GetHandle();
    if (bNameTaken)
        return 0;
    CWin32Event* pEvent = new (std::nothrow) CWin32Event(bManualReset != 0, bInitialState != 0);
    if (pEvent == nullptr)
        return 0;
    if (!CWin32Table::Register(pEvent, lpName)) {
        delete pEvent;
        return 0;
    }
    return pEvent->GetHandle();
}

HANDLE OpenEvent(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName)
{
    (void)dwDesiredAccess;
    (void)bInheritHandle;
    if (lpName == nullptr)
        return 0;
    std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
    bool bNameTaken = false;
    CWin32Handle* pEvent = Win32OpenNamed(lpName, W32_KIND_EVENT, &bNameTaken);
    return pEvent == nullptr ? 0 : pEvent->GetHandle();
}

BOOL SetEvent(HANDLE hEvent)
{
    return ChangeEvent(hEvent, EVENT_SET);
}

BOOL ResetEvent(HANDLE hEvent)
{
    return ChangeEvent(hEvent, EVENT_RESET);
}

BOOL PulseEvent(HANDLE hEvent)
{
    return ChangeEvent(hEvent, EVENT_PULSE);
}

}  // extern "C"
