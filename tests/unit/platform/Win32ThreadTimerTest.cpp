// Threads (suspended start, resume, end signalled, closing) and waitable timers (periods,
// cancel, period 0, closing while waited on).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Win32TestSupport.h"

namespace {

struct THREAD_ARG {
    std::atomic<bool> bRan{false};
    std::atomic<DWORD> nSelfId{0};
    HANDLE hGo = 0;  // the routine waits for it when set
};

void* Routine(void* pParam)
{
    THREAD_ARG* pArg = static_cast<THREAD_ARG*>(pParam);
    pArg->nSelfId = GetCurrentThreadId();
    pArg->bRan = true;
    if (pArg->hGo != 0)
        WaitForSingleObject(pArg->hGo, INFINITE);
    return nullptr;
}

TEST(Win32ThreadTest, SuspendedThreadRunsOnlyAfterResume)
{
    THREAD_ARG arg;
    DWORD nId = 0;
    HANDLE h = CreateThread(nullptr, 0, Routine, &arg, CREATE_SUSPENDED, &nId);
    ASSERT_NE(0u, h);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(arg.bRan.load());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 0));
    EXPECT_EQ(1u, ResumeThread(h));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 5000));
    EXPECT_TRUE(arg.bRan.load());
    EXPECT_EQ(nId, arg.nSelfId.load());
    EXPECT_TRUE(CloseHandle(h));
}

TEST(Win32ThreadTest, EndOfRoutineSignalsEveryWaiterAndAllowsTheClose)
{
    THREAD_ARG arg;
    arg.hGo = CREATE_EVENT(nullptr, TRUE, FALSE, nullptr);
    HANDLE h = CreateThread(nullptr, 0, Routine, &arg, 0, nullptr);
    ASSERT_NE(0u, h);
    std::atomic<int> nReleased(0);
    std::thread w1([&] { nReleased += WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0; });
    std::thread w2([&] { nReleased += WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0; });
    ASSERT_TRUE(AwaitWin32Waiters(h, 2));
    EXPECT_FALSE(CloseHandle(h));  // still running
    SetEvent(arg.hGo);
    w1.join();
    w2.join();
    EXPECT_EQ(2, nReleased.load());
    // A finished thread stays signalled.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    CloseHandle(arg.hGo);
}

TEST(Win32TimerTest, PeriodicTimerSignalsOncePerPeriodUntilCancelled)
{
    HANDLE h = CreateWaitableTimer(nullptr, FALSE, nullptr);
    ASSERT_NE(0u, h);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 30));  // created cancelled
    const auto tStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(SetWaitableTimer(h, nullptr, 10, nullptr, nullptr, FALSE));
    for (int i = 0; i < 5; i++)
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 2000)) << i;
    EXPECT_GE(MillisecondsSince(tStart), 49.0);

    ASSERT_TRUE(CancelWaitableTimer(h));
    WaitForSingleObject(h, 0);  // a signal that came before the cancel
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 50));

    // A new period restarts it; the first signal comes one period after the call.
    ASSERT_TRUE(SetWaitableTimer(h, nullptr, 200, nullptr, nullptr, FALSE));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 100));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 2000));
    EXPECT_TRUE(CloseHandle(h));
}

TEST(Win32TimerTest, PeriodZeroKeepsTheTimerSignalled)
{
    HANDLE h = CreateWaitableTimer(nullptr, FALSE, nullptr);
    ASSERT_TRUE(SetWaitableTimer(h, nullptr, 0, nullptr, nullptr, FALSE));
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 2000)) << i;
    ASSERT_TRUE(CancelWaitableTimer(h));
    WaitForSingleObject(h, 0);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 20));
    EXPECT_TRUE(CloseHandle(h));
}

TEST(Win32TimerTest, ClosingATimerReleasesItsWaiter)
{
    HANDLE h = CreateWaitableTimer(nullptr, FALSE, nullptr);
    std::atomic<DWORD> nResult(WAIT_FAILED);
    std::thread waiter([&] { nResult = WaitForSingleObject(h, INFINITE); });
    ASSERT_TRUE(AwaitWin32Waiters(h, 1));
    EXPECT_TRUE(CloseHandle(h));
    waiter.join();
    EXPECT_EQ(WAIT_OBJECT_0, nResult.load());
    EXPECT_FALSE(CancelWaitableTimer(h));
}

}  // namespace
