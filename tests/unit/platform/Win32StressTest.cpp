// Many threads on few objects, each run bounded to a fraction of a second. The checks are
// conservation laws: an auto-reset event used as a token is held by at most one thread at
// a time and is neither lost nor duplicated, whatever signals, time-outs, pulses and
// resets race with one another.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Win32TestSupport.h"

namespace {

const auto kRunTime = std::chrono::milliseconds(250);

// Runs nThreads copies of body until kRunTime has passed, then joins them.
template <typename BODY>
void RunConcurrently(int nThreads, BODY body)
{
    std::atomic<bool> bStop(false);
    std::vector<std::thread> threads;
    for (int i = 0; i < nThreads; i++)
        threads.emplace_back([&bStop, &body, i] {
            while (!bStop.load())
                body(i);
        });
    std::this_thread::sleep_for(kRunTime);
    bStop = true;
    for (std::thread& t : threads)
        t.join();
}

// One holder at a time: counts entries and notes any overlap.
struct TOKEN_GUARD {
    std::atomic<int> nInside{0};
    std::atomic<int> nOverlaps{0};
    std::atomic<long> nEntries{0};

    void Hold()
    {
        if (nInside.fetch_add(1) != 0)
            nOverlaps++;
        nEntries++;
        nInside.fetch_sub(1);
    }
};

// The token is in the event exactly once: one wait takes it, the next finds nothing.
void ExpectExactlyOneToken(HANDLE h)
{
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 0));
}

TEST(Win32StressTest, SettersAndTimedWaitersPassOneTokenWithoutLossOrCopy)
{
    HANDLE h = CREATE_EVENT(nullptr, FALSE, TRUE, nullptr);
    TOKEN_GUARD guard;
    std::atomic<long> nTimeouts(0);
    // Short time-outs keep expiring while the token is handed over.
    RunConcurrently(8, [&](int i) {
        const DWORD r = WaitForSingleObject(h, 1 + i % 3);
        if (r == WAIT_TIMEOUT) {
            nTimeouts++;
            return;
        }
        ASSERT_EQ(WAIT_OBJECT_0, r);
        guard.Hold();
        ASSERT_TRUE(SetEvent(h));
    });
    EXPECT_EQ(0, guard.nOverlaps.load());
    EXPECT_GT(guard.nEntries.load(), 100);
    ExpectExactlyOneToken(h);
    CloseHandle(h);
}

TEST(Win32StressTest, PulsesWithAndWithoutWaitersReleaseAtMostOneAndLeaveNothingBehind)
{
    HANDLE hAuto = CREATE_EVENT(nullptr, FALSE, FALSE, nullptr);
    HANDLE hManual = CREATE_EVENT(nullptr, TRUE, FALSE, nullptr);
    std::atomic<long> nAutoPulses(0), nAutoReleases(0), nManualReleases(0);
    RunConcurrently(6, [&](int i) {
        switch (i % 3) {
        case 0:  // pulses come whether or not anybody waits
            PulseEvent(hAuto);
            nAutoPulses++;
            PulseEvent(hManual);
            std::this_thread::yield();
            break;
        case 1:
            if (WaitForSingleObject(hAuto, 2) == WAIT_OBJECT_0)
                nAutoReleases++;
            break;
        default:
            if (WaitForSingleObject(hManual, 2) == WAIT_OBJECT_0)
                nManualReleases++;
            break;
        }
    });
    EXPECT_LE(nAutoReleases.load(), nAutoPulses.load());
    EXPECT_GT(nAutoReleases.load() + nManualReleases.load(), 0);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hAuto, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hManual, 0));
    CloseHandle(hAuto);
    CloseHandle(hManual);
}

TEST(Win32StressTest, WaitForAllTakesItsTokensTogetherWhileAGateIsSetAndReset)
{
    HANDLE hA = CREATE_EVENT(nullptr, FALSE, TRUE, nullptr);
    HANDLE hB = CREATE_EVENT(nullptr, FALSE, TRUE, nullptr);
    HANDLE hGate = CREATE_EVENT(nullptr, TRUE, FALSE, nullptr);
    TOKEN_GUARD guardA, guardB;
    std::atomic<long> nBoth(0);
    RunConcurrently(7, [&](int i) {
        if (i == 0) {  // the gate opens and closes under the waiters' feet
            SetEvent(hGate);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            ResetEvent(hGate);
            return;
        }
        HANDLE aAll[3] = {hA, hB, hGate};
        HANDLE aAny[2] = {hA, hB};
        if (i % 2 == 1) {
            const DWORD r = WaitForMultipleObjects(3, aAll, TRUE, 1 + i % 3);
            if (r == WAIT_TIMEOUT)
                return;
            ASSERT_EQ(WAIT_OBJECT_0, r);
            guardA.Hold();
            guardB.Hold();
            nBoth++;
            SetEvent(hB);
            SetEvent(hA);
        } else {
            const DWORD r = WaitForMultipleObjects(2, aAny, FALSE, 2);
            if (r == WAIT_TIMEOUT)
                return;
            ASSERT_LT(r, 2u);
            (r == 0 ? guardA : guardB).Hold();
            SetEvent(aAny[r]);
        }
    });
    EXPECT_EQ(0, guardA.nOverlaps.load());
    EXPECT_EQ(0, guardB.nOverlaps.load());
    EXPECT_GT(nBoth.load(), 0);
    ExpectExactlyOneToken(hA);
    ExpectExactlyOneToken(hB);
    CloseHandle(hA);
    CloseHandle(hB);
    CloseHandle(hGate);
}

TEST(Win32StressTest, HandlesCreatedDuplicatedAndClosedWhileOthersWaitOnThem)
{
    // Waits on handles that other threads close: every call returns one of its defined
    // results and nothing is used after it was destroyed (checked by the sanitizers).
    std::atomic<HANDLE> hShared(CREATE_EVENT(nullptr, TRUE, FALSE, nullptr));
    std::atomic<long> nBadResults(0);
    RunConcurrently(6, [&](int i) {
        const HANDLE h = hShared.load();
        if (i == 0) {
            HANDLE hNew = CREATE_EVENT(nullptr, TRUE, FALSE, nullptr);
            hShared = hNew;
            SetEvent(h);
            CloseHandle(h);
            return;
        }
        HANDLE hCopy = 0;
        const DWORD r = WaitForSingleObject(h, 1);
        if (r != WAIT_OBJECT_0 && r != WAIT_TIMEOUT && r != WAIT_FAILED)
            nBadResults++;
        if (DuplicateHandle(0, h, 0, &hCopy, 0, FALSE, 0))
            CloseHandle(hCopy);
    });
    EXPECT_EQ(0, nBadResults.load());
    EXPECT_TRUE(CloseHandle(hShared.load()));
}

}  // namespace
