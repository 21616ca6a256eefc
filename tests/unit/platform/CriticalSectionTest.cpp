// Critical sections: recursive ownership, exclusion of other threads, and the spinning
// entry used on multiprocessor systems.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "KinetorWin32.h"
#include "platform/CriticalSection.h"

namespace {

BOOL TryFromOtherThread(CRITICAL_SECTION* pCs)
{
    BOOL bEntered = FALSE;
    std::thread other([&] {
        bEntered = TryEnterCriticalSection(pCs);
        if (bEntered)
            LeaveCriticalSection(pCs);
    });
    other.join();
    return bEntered;
}

// Starts a thread that enters pCs (blocking if needed), marks the entry and leaves.
// Returns whether it got in while this thread still holds pCs, and waits for it.
bool OtherThreadGetsInWhileHeld(CRITICAL_SECTION* pCs)
{
    std::atomic<bool> bEntered(false);
    std::thread other([&] {
        EnterCriticalSection(pCs);
        bEntered = true;
        LeaveCriticalSection(pCs);
    });
    // Give the other thread a fair chance to (wrongly) get in.
    for (int i = 0; i < 20 && !bEntered; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool bGotIn = bEntered;
    LeaveCriticalSection(pCs);
    other.join();
    EXPECT_TRUE(bEntered);
    return bGotIn;
}

class CriticalSectionTest : public ::testing::Test {
protected:
    void TearDown() override { setIsMPSystem(false); }
};

TEST_F(CriticalSectionTest, OwnerMayReenterAndOthersAreExcludedUntilFullyLeft)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EXPECT_EQ(0u, cs.dwSpinCount);

    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));  // the owner again: recursion
    EXPECT_FALSE(TryFromOtherThread(&cs));

    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(TryFromOtherThread(&cs));  // still entered once
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(TryFromOtherThread(&cs));

    DeleteCriticalSection(&cs);
}

TEST_F(CriticalSectionTest, StaticallyInitialisedSectionIsRecursiveFromTheStart)
{
    static CRITICAL_SECTION s_cs = KINETOR_CRITICAL_SECTION_INITIALIZER;
    EXPECT_EQ(0u, s_cs.dwSpinCount);
    EnterCriticalSection(&s_cs);
    EXPECT_TRUE(TryEnterCriticalSection(&s_cs));
    EXPECT_FALSE(TryFromOtherThread(&s_cs));
    LeaveCriticalSection(&s_cs);
    LeaveCriticalSection(&s_cs);
    EXPECT_TRUE(TryFromOtherThread(&s_cs));
}

TEST_F(CriticalSectionTest, EnterBlocksWhileAnotherThreadHoldsIt)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_FALSE(OtherThreadGetsInWhileHeld(&cs));
    DeleteCriticalSection(&cs);
}

TEST_F(CriticalSectionTest, SpinningEntryOnMultiprocessorStillExcludesAndRecurses)
{
    setIsMPSystem(true);
    EXPECT_TRUE(g_mp_system);

    CRITICAL_SECTION cs;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&cs, 4000));
    EXPECT_EQ(4000u, cs.dwSpinCount);

    // Uncontended: the first try succeeds; the owner may spin its way in again.
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_FALSE(TryFromOtherThread(&cs));
    LeaveCriticalSection(&cs);

    // Contended: the other thread exhausts its tries and must then block, not enter.
    EXPECT_FALSE(OtherThreadGetsInWhileHeld(&cs));
    EXPECT_TRUE(TryFromOtherThread(&cs));

    DeleteCriticalSection(&cs);
    EXPECT_EQ(0u, cs.dwSpinCount);

    setIsMPSystem(false);
    EXPECT_FALSE(g_mp_system);
}

}  // namespace
