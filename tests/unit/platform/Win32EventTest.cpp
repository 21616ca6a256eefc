// Events and waits: reset modes, pulses, waits for any and for all, time-outs, names,
// reference counts, and what bad handles and arguments get.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Win32TestSupport.h"

namespace {

// Starts nCount threads that each wait (without limit) on h and record the result.
class CWaiterGroup {
public:
    CWaiterGroup(HANDLE h, int nCount) : m_nReleased(0)
    {
        for (int i = 0; i < nCount; i++) {
            m_threads.emplace_back([this, h] {
                if (WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0)
                    m_nReleased++;
            });
        }
    }
    ~CWaiterGroup()
    {
        for (std::thread& t : m_threads)
            t.join();
    }
    std::atomic<int> m_nReleased;

private:
    std::vector<std::thread> m_threads;
};

// Waits until nCount threads of the group are released; false after five seconds.
bool AwaitReleased(CWaiterGroup& group, int nCount)
{
    const auto tStart = std::chrono::steady_clock::now();
    while (group.m_nReleased.load() < nCount && MillisecondsSince(tStart) < 5000)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return group.m_nReleased.load() == nCount;
}

struct SIGNAL_CASE {
    const char* pszName;
    BOOL bManualReset;
    bool bPulse;
    int nReleased;           // of three waiters
    bool bSignalledAfter;    // state once the released waiters have gone
};

TEST(Win32EventTest, OneSignalReleasesWaitersAccordingToResetMode)
{
    const SIGNAL_CASE aCases[] = {
        {"auto set", FALSE, false, 1, false},
        {"auto pulse", FALSE, true, 1, false},
        {"manual set", TRUE, false, 3, true},
        {"manual pulse", TRUE, true, 3, false},
    };
    for (const SIGNAL_CASE& c : aCases) {
        SCOPED_TRACE(c.pszName);
        HANDLE h = CREATE_EVENT(nullptr, c.bManualReset, FALSE, nullptr);
        ASSERT_NE(0u, h);
        {
            CWaiterGroup group(h, 3);
            ASSERT_TRUE(AwaitWin32Waiters(h, 3));
            ASSERT_TRUE(c.bPulse ? PulseEvent(h) : SetEvent(h));
            EXPECT_TRUE(AwaitReleased(group, c.nReleased));
            // Nobody else follows late: the rest still sleep on the handle.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(c.nReleased, group.m_nReleased.load());
            EXPECT_EQ(size_t(3 - c.nReleased), Win32WaiterCount(h));
            EXPECT_EQ(c.bSignalledAfter ? WAIT_OBJECT_0 : WAIT_TIMEOUT, WaitForSingleObject(h, 0));
            // Let the remaining waiters go.
            for (int i = c.nReleased; i < 3; i++)
                SetEvent(h);
        }
        EXPECT_TRUE(CloseHandle(h));
    }
}

TEST(Win32EventTest, StateSetBeforeTheWaitAndPulseWithoutWaiters)
{
    HANDLE hAuto = CREATE_EVENT(nullptr, FALSE, TRUE, nullptr);
    HANDLE hManual = CREATE_EVENT(nullptr, TRUE, FALSE, nullptr);
    // Auto reset: created signalled, one wait takes it.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hAuto, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hAuto, 0));
    // Manual reset: any number of waits until reset.
    EXPECT_TRUE(SetEvent(hManual));
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hManual, 0));
    EXPECT_TRUE(ResetEvent(hManual));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hManual, 0));
    // A pulse nobody waits for is lost.
    EXPECT_TRUE(PulseEvent(hAuto));
    EXPECT_TRUE(PulseEvent(hManual));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hAuto, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hManual, 0));
    CloseHandle(hAuto);
    CloseHandle(hManual);
}

TEST(Win32EventTest, WaitForAnyTakesTheFirstSignalledAndWaitForAllTakesAllOrNone)
{
    HANDLE a[3];
    for (HANDLE& h : a)
        h = CREATE_EVENT(nullptr, FALSE, FALSE, nullptr);
    SetEvent(a[1]);
    SetEvent(a[2]);
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(3, a, FALSE, 0));
    EXPECT_EQ(WAIT_OBJECT_0 + 2, WaitForMultipleObjects(3, a, FALSE, 0));  // left signalled

    // Two of three set: a wait for all times out and takes neither.
    SetEvent(a[0]);
    SetEvent(a[1]);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(3, a, TRUE, 20));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, a, TRUE, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(3, a, FALSE, 0));

    // A sleeping wait for all is completed by the last missing signal.
    std::atomic<DWORD> nResult(WAIT_FAILED);
    SetEvent(a[0]);
    SetEvent(a[2]);
    std::thread waiter([&] { nResult = WaitForMultipleObjects(3, a, TRUE, INFINITE); });
    ASSERT_TRUE(AwaitWin32Waiters(a[1], 1));
    SetEvent(a[1]);
    waiter.join();
    EXPECT_EQ(WAIT_OBJECT_0, nResult.load());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForMultipleObjects(3, a, FALSE, 0));
    for (HANDLE h : a)
        CloseHandle(h);
}

TEST(Win32EventTest, TimedWaitEndsAfterItsTimeAndUnlimitedWaitOnlyOnSignal)
{
    HANDLE h = CREATE_EVENT(nullptr, FALSE, FALSE, nullptr);
    auto tStart = std::chrono::steady_clock::now();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 50));
    const double dElapsed = MillisecondsSince(tStart);
    EXPECT_GE(dElapsed, 50.0);
    EXPECT_LT(dElapsed, 2000.0);

    std::atomic<DWORD> nResult(WAIT_FAILED);
    std::thread waiter([&] { nResult = WaitForSingleObject(h, INFINITE); });
    ASSERT_TRUE(AwaitWin32Waiters(h, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(WAIT_FAILED, nResult.load());  // still waiting
    SetEvent(h);
    waiter.join();
    EXPECT_EQ(WAIT_OBJECT_0, nResult.load());
    CloseHandle(h);
}

TEST(Win32EventTest, NamedObjectsAreSharedCountedAndTyped)
{
    char szName1[] = "kinetor.test.event";
    char szName2[] = "kinetor.test.event";
    HANDLE h = CREATE_EVENT(nullptr, TRUE, FALSE, szName1);
    ASSERT_NE(0u, h);
    EXPECT_EQ(h, CREATE_EVENT(nullptr, FALSE, TRUE, szName2));  // existing one, as it was
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 0));
    EXPECT_EQ(h, OpenEvent(0, FALSE, szName2));
    EXPECT_EQ(h, open_handle(szName2));

    HANDLE hTimer = CreateWaitableTimer(nullptr, FALSE, "kinetor.test.timer");
    ASSERT_NE(0u, hTimer);
    EXPECT_EQ(0u, OpenEvent(0, FALSE, "kinetor.test.timer"));
    EXPECT_EQ(0u, CREATE_EVENT(nullptr, FALSE, FALSE, "kinetor.test.timer"));
    EXPECT_EQ(0u, CreateWaitableTimer(nullptr, FALSE, szName1));
    EXPECT_EQ(0u, OpenEvent(0, FALSE, "kinetor.test.none"));
    EXPECT_EQ(0u, OpenEvent(0, FALSE, nullptr));
    EXPECT_EQ(0u, open_handle(nullptr));

    // Created twice and opened once: three closes, the name goes with the last.
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(h, open_handle(szName1));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(0u, open_handle(szName1));
    EXPECT_TRUE(CloseHandle(hTimer));
}

TEST(Win32EventTest, DuplicateAddsAReferenceUnlessItClosesTheSource)
{
    HANDLE h = CREATE_EVENT(nullptr, FALSE, FALSE, nullptr);
    HANDLE hCopy = 0;
    ASSERT_TRUE(DuplicateHandle(GET_CURRENT_PROCESS(), h, GET_CURRENT_PROCESS(), &hCopy, 0, FALSE, 0));
    EXPECT_EQ(h, hCopy);
    ASSERT_TRUE(DuplicateHandle(0, h, 0, &hCopy, 0, FALSE, DUPLICATE_CLOSE_SOURCE));
    EXPECT_TRUE(CloseHandle(hCopy));
    EXPECT_TRUE(SetEvent(h));  // one reference left
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_FALSE(SetEvent(h));
}

TEST(Win32EventTest, BadHandlesAndArgumentsGetTheFailureResult)
{
    HANDLE hEvent = CREATE_EVENT(nullptr, FALSE, TRUE, nullptr);
    HANDLE hTimer = CreateWaitableTimer(nullptr, FALSE, nullptr);
    HANDLE hClosed = CREATE_EVENT(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(hClosed);
    long nOnStack = 0;
    const HANDLE hForged = reinterpret_cast<HANDLE>(&nOnStack);

    // Handles that are no object at all.
    for (HANDLE h : {HANDLE(0), INVALID_HANDLE_VALUE, hForged, hClosed, HANDLE(1)}) {
        SCOPED_TRACE(h);
        HANDLE hCopy = 0;
        EXPECT_FALSE(SetEvent(h));
        EXPECT_FALSE(ResetEvent(h));
        EXPECT_FALSE(PulseEvent(h));
        EXPECT_FALSE(SetWaitableTimer(h, nullptr, 10, nullptr, nullptr, FALSE));
        EXPECT_FALSE(CancelWaitableTimer(h));
        EXPECT_EQ(DWORD(-1), ResumeThread(h));
        EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(h, 0));
        HANDLE aMixed[2] = {hEvent, h};
        EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(2, aMixed, FALSE, 0));
        EXPECT_FALSE(DuplicateHandle(0, h, 0, &hCopy, 0, FALSE, 0));
        EXPECT_FALSE(CloseHandle(h));
    }
    // Objects of the wrong kind.
    EXPECT_FALSE(SetEvent(hTimer));
    EXPECT_FALSE(PulseEvent(hTimer));
    EXPECT_FALSE(SetWaitableTimer(hEvent, nullptr, 10, nullptr, nullptr, FALSE));
    EXPECT_FALSE(CancelWaitableTimer(hEvent));
    EXPECT_EQ(DWORD(-1), ResumeThread(hEvent));

    // Bad arguments.
    HANDLE aTwice[2] = {hEvent, hEvent};
    HANDLE aMany[MAXIMUM_WAIT_OBJECTS + 1];
    for (HANDLE& h : aMany)
        h = hTimer;
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(1, nullptr, FALSE, 0));
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(0, aTwice, FALSE, 0));
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, aMany, FALSE, 0));
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(1, aTwice, 2, 0));
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(2, aTwice, TRUE, 0));
    EXPECT_FALSE(DuplicateHandle(0, hEvent, 0, nullptr, 0, FALSE, 0));
    EXPECT_FALSE(SetWaitableTimer(hTimer, nullptr, -1, nullptr, nullptr, FALSE));
    EXPECT_EQ(0u, CreateWaitableTimer(nullptr, TRUE, nullptr));
    EXPECT_EQ(0u, CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(DWORD(-1), SuspendThread(hEvent));

    // None of it disturbed the valid event: still signalled once.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, aTwice, FALSE, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hEvent, 0));
    EXPECT_TRUE(CloseHandle(hEvent));
    EXPECT_TRUE(CloseHandle(hTimer));
}

}  // namespace
