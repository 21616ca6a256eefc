// Helpers of the Win32-style layer's tests: seeing how many threads sleep on a handle, so
// that a test signals only once its waiters are really waiting, instead of guessing with
// a sleep.
#ifndef KINETOR_WIN32_TEST_SUPPORT_H
#define KINETOR_WIN32_TEST_SUPPORT_H

#include <chrono>
#include <mutex>
#include <thread>

#include "KinetorWin32.h"
#include "platform/Win32Handle.h"

// Threads currently subscribed to h (0 for an unknown handle).
inline size_t Win32WaiterCount(HANDLE h)
{
    std::lock_guard<std::mutex> lock(CWin32Table::Mutex());
    CWin32Handle* pObject = CWin32Table::Find(h);
    return pObject == nullptr ? 0 : pObject->m_lstWaiters.size();
}

// True once nCount threads wait on h; false after five seconds.
inline bool AwaitWin32Waiters(HANDLE h, size_t nCount)
{
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Win32WaiterCount(h) != nCount) {
        if (std::chrono::steady_clock::now() > tEnd)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

#endif
