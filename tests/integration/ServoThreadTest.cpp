// The servo thread beside the application's threads, in the order the README teaches: the
// loop runs, and forces are enabled and disabled, and devices closed, from other threads.
// Lockstep pace: every tick the servo thread waits for advances simulated time by one tick.
#include <stdint.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "KinetorServo.h"
#include "SimFixture.h"

namespace {

const int kZeroTorqueWord = 2047;

// Motor DAC values the tick commands in turn: three distinct commands per motor.
const long kDacPatterns[3][3] = {{1600, -800, 400}, {-1600, 800, -400}, {800, 1600, -1600}};

// What the tick callback of these tests shares with the test thread.
struct SERVO_SHARED {
    std::atomic<int> anHandles[2];
    std::atomic<int> nCallbacks{0};
    std::atomic<int> nCloseOwnAfter{-1};  // the callback closes anHandles[0] at that count
    std::mutex mutex;
    std::condition_variable cond;
    bool bEnded = false;  // the post-servo callback ran
};

// Updates every device still named, then commands the next DAC pattern (refused with -12
// while forces are off, which is part of the test).
int CommandingTick(void* pData)
{
    SERVO_SHARED* pShared = static_cast<SERVO_SHARED*>(pData);
    const int nCount = pShared->nCallbacks.fetch_add(1);
    for (std::atomic<int>& nHandle : pShared->anHandles) {
        const int h = nHandle.load();
        if (h < 0)
            continue;
        update_kinetor(h);
        long alDac[3];
        for (int i = 0; i < 3; i++)
            alDac[i] = kDacPatterns[nCount % 3][i];
        command_motor_dac_values(h, alDac);
    }
    if (nCount == pShared->nCloseOwnAfter.load()) {
        disable_kinetor(pShared->anHandles[0].load());
        pShared->anHandles[0].store(-1);
    }
    return 0;
}

int MarkEnded(void* pData)
{
    SERVO_SHARED* pShared = static_cast<SERVO_SHARED*>(pData);
    std::lock_guard<std::mutex> lock(pShared->mutex);
    pShared->bEnded = true;
    pShared->cond.notify_all();
    return 0;
}

class ServoThreadTest : public CSimFixture {
protected:
    void SetUp() override
    {
        CSimFixture::SetUp();
        m_shared.anHandles[0].store(-1);
        m_shared.anHandles[1].store(-1);
        ASSERT_EQ(0, initOSExtender());
        setPostServoCallback(MarkEnded, &m_shared);
    }

    void TearDown() override
    {
        stopServoLoop();
        setPostServoCallback(nullptr, nullptr);
        CSimFixture::TearDown();
    }

    // Waits (bounded, only a guard against a hang) until the callback has run nCount times.
    bool WaitForCallbacks(int nCount)
    {
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (m_shared.nCallbacks.load() < nCount) {
            if (std::chrono::steady_clock::now() > tEnd)
                return false;
            std::this_thread::yield();
        }
        return true;
    }

    bool WaitForLoopEnd()
    {
        std::unique_lock<std::mutex> lock(m_shared.mutex);
        return m_shared.cond.wait_for(lock, std::chrono::seconds(60),
                                      [&] { return m_shared.bEnded; });
    }

    std::set<int> ReceivedWords(int nMotor)
    {
        int anWords[4096];
        const int n = SimGetEPPDACWordsReceived(nMotor, anWords, 4096);
        return std::set<int>(anWords, anWords + n);
    }

    SERVO_SHARED m_shared;
};

TEST_F(ServoThreadTest, ForcesSwitchedFromOtherThreadsReachTheMotorsOnlyAsCommanded)
{
    const int h = OpenSimulatedArm(1, 2, "hold");
    ASSERT_GE(h, 0);
    ASSERT_EQ(0, HomeAltura());

    // The words each command becomes, learnt with one thread only.
    SimClearEPPDACWordsReceived();
    ASSERT_EQ(0, enable_kinetor_forces(h));
    for (int n = 0; n < 3; n++) {
        long alDac[3];
        for (int i = 0; i < 3; i++)
            alDac[i] = kDacPatterns[n][i];
        ASSERT_EQ(0, update_kinetor(h));
        ASSERT_EQ(0, command_motor_dac_values(h, alDac));
        AwaitTick(h);
    }
    ASSERT_EQ(0, disable_kinetor_forces(h));
    std::set<int> aIntended[3];
    for (int i = 0; i < 3; i++) {
        aIntended[i] = ReceivedWords(i);
        aIntended[i].insert(kZeroTorqueWord);
        ASSERT_EQ(4u, aIntended[i].size()) << "motor " << i;
    }

    // The README's order, many times over, from the test thread and from another one.
    SimClearEPPDACWordsReceived();
    m_shared.anHandles[0].store(h);
    ASSERT_EQ(0, startServoLoop(CommandingTick, &m_shared));
    for (int nRound = 0; nRound < 40; nRound++) {
        ASSERT_EQ(0, enable_kinetor_forces(h)) << nRound;
        ASSERT_TRUE(WaitForCallbacks(m_shared.nCallbacks.load() + 5));
        ASSERT_EQ(0, disable_kinetor_forces(h)) << nRound;
        int nOther = -1;
        std::thread other([&] { nOther = enable_kinetor_forces(h); });
        other.join();
        ASSERT_EQ(0, nOther) << nRound;
        ASSERT_TRUE(WaitForCallbacks(m_shared.nCallbacks.load() + 5));
        ASSERT_EQ(0, disable_kinetor_forces(h)) << nRound;
    }
    stopServoLoop();

    for (int i = 0; i < 3; i++) {
        const std::set<int> received = ReceivedWords(i);
        EXPECT_GT(received.size(), 1u) << "motor " << i << " never saw a command";
        for (int nWord : received)
            EXPECT_EQ(1u, aIntended[i].count(nWord)) << "motor " << i << " got word " << nWord;
    }
}

TEST_F(ServoThreadTest, ClosingDevicesWhileTheLoopRunsKeepsTheOthersTickingThenEndsIt)
{
    ASSERT_TRUE(WriteConfig(SimTestConfig(1, 2, "left", 0)));
    ASSERT_TRUE(WriteConfig(SimTestConfig(1, 3, "right", 1)));
    StartSimulator("hold");
    const int nLeft = OpenDevice("left");
    const int nRight = OpenDevice("right");
    ASSERT_GE(nLeft, 0);
    ASSERT_GE(nRight, 0);
    m_shared.anHandles[0].store(nLeft);
    m_shared.anHandles[1].store(nRight);
    ASSERT_EQ(0, startServoLoop(CommandingTick, &m_shared));
    ASSERT_TRUE(WaitForCallbacks(20));

    // The loop paces on the left arm; closing it moves the loop on to the right one.
    m_shared.anHandles[0].store(-1);
    ASSERT_EQ(0, CloseDevice(nLeft));
    const uint64_t nTicks = SimTickCount();
    ASSERT_TRUE(WaitForCallbacks(m_shared.nCallbacks.load() + 50));
    EXPECT_GE(SimTickCount() - nTicks, 40u);
    EXPECT_EQ(-11, update_kinetor(nLeft));

    // Closing the last one ends the loop cleanly, and a new one can start.
    m_shared.anHandles[1].store(-1);
    ASSERT_EQ(0, CloseDevice(nRight));
    ASSERT_TRUE(WaitForLoopEnd());
    stopServoLoop();

    // Closed from inside the tick: the loop ends after that callback.
    const int nAgain = OpenDevice("left");
    ASSERT_GE(nAgain, 0);
    m_shared.bEnded = false;
    m_shared.anHandles[0].store(nAgain);
    m_shared.nCloseOwnAfter.store(m_shared.nCallbacks.load() + 10);
    ASSERT_EQ(0, startServoLoop(CommandingTick, &m_shared));
    ASSERT_TRUE(WaitForLoopEnd());
    EXPECT_EQ(-11, update_kinetor(nAgain));
}

TEST_F(ServoThreadTest, BusyApplicationThreadDoesNotMakeTicksLookOverrun)
{
    const int h = OpenSimulatedArm(1, 2, "hold");
    ASSERT_GE(h, 0);
    m_shared.anHandles[0].store(h);

    // A thread that burns CPU time the whole run, as a graphics thread would.
    std::atomic<bool> bStop(false);
    std::thread busy([&] {
        volatile uint64_t n = 0;
        while (!bStop.load())
            n = n + 1;
    });
    const uint64_t nTicksBefore = SimTickCount();
    ASSERT_EQ(0, startServoLoop(CommandingTick, &m_shared));
    const bool bRan = WaitForCallbacks(60000);
    stopServoLoop();
    bStop.store(true);
    busy.join();
    ASSERT_TRUE(bRan);

    // Every callback was followed by one tick wait: none was taken for an overrun.
    const int64_t nTicks = (int64_t)(SimTickCount() - nTicksBefore);
    EXPECT_NEAR(m_shared.nCallbacks.load(), nTicks, 1);
}

}  // namespace
