// The safety chain end to end: the fault filter, the watchdog handshake of the force enable,
// the loss and recovery of the parallel-port link and the lost servo tick, from the flat
// interface down to the simulated arm's electronics, in lockstep pace.
#include <dirent.h>
#include <math.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "KinetorServo.h"
#include "SimFixture.h"
#include "core/ServoLoop.h"

namespace {

// Library result codes; the first four are what the device model makes of the connection's
// codes on a parallel port (-17, -18, -16 and -15).
const int kCodeDeviceFault = -2;      // the device reports a fault
const int kCodeSpeedError = -13;      // the device reports a speed error
const int kCodeFaultNotCleared = -4;  // the device's watchdog is starved; also: a fault did
                                      // not clear while forces were being enabled
const int kCodeLinkLost = -28;        // communication with the device lost
const int kCodeForcesDisabled = -12;
const int kCodeBadArgument = -9;

// Consecutive fault readings before the filter lets a fault through.
const int kFaultFilterLength = 16;
// Consecutive wrong watchdog echoes that lose the link.
const int kLinkLossMisses = 7;

// Bits of the output block's control byte.
const UCHAR kAmpEnableBit = 0x08;
const UCHAR kLightMask = 0x07;
const UCHAR kLightAmplifiersDisabled = 5;

// DAC word of zero torque on the wire.
const int kZeroTorqueWord = 2047;

// One simulated millisecond at the default rate: a servo tick.
const int64_t kTickNs = 1000000LL;
// The device's watchdog lets the amplifiers run this long after the last new counter value.
const int64_t kWatchdogWindowNs = 100000000LL;
// How long the force enable waits for a fault to clear.
const int64_t kEnableWaitNs = 3000000000LL;

UCHAR OutputControl()
{
    UCHAR aucOut[8] = {0};
    EXPECT_TRUE(SimGetEPPOutputBlock(0, aucOut));
    return aucOut[6];
}

void DacWords(int anWords[3])
{
    for (int i = 0; i < 3; i++)
        anWords[i] = SimGetEPPDACWord(i);
}

class SafetyTest : public CSimFixture {
protected:
    // A Bravis powers its amplifiers with the enable line alone (no timeout circuit), so
    // its force commands leave the line alone and the output block shows only their words.
    int OpenBravis(const char* pszHand = "free")
    {
        SIM_TEST_CONFIG config = SimTestConfig(3);
        config.nTimeoutCircuit = 0;
        int nHandle = OpenSimulatedArm(config, pszHand);
        if (nHandle >= 0 && RunTicks(3) != 0)
            ADD_FAILURE() << "first ticks of the Bravis failed";
        return nHandle;
    }

    int OpenHomedAltura()
    {
        int nHandle = OpenSimulatedArm(1);
        if (nHandle >= 0 && HomeAltura() != 0)
            ADD_FAILURE() << "homing the Altura failed";
        return nHandle;
    }

    // One servo tick of an application that reads the filtered status after its update.
    int TickWithStatus()
    {
        int r = update_kinetor(Handle());
        EXPECT_EQ(0, r);
        int nStatus = kinetor_status(Handle());
        AwaitTick(Handle());
        return nStatus;
    }
};

// ---- the fault filter ----

TEST_F(SafetyTest, ShortFaultsAreFilteredAndTheSixteenthConsecutiveIsReported)
{
    struct {
        const char* pszWhat;
        void (*pfnSet)(CSimArm*, bool);
        int nCode;
    } cases[] = {
        {"device fault", [](CSimArm* p, bool b) { p->SetDeviceFault(b); }, kCodeDeviceFault},
        {"speed error", [](CSimArm* p, bool b) { p->SetSpeedError(1, b); }, kCodeSpeedError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        int nHandle = OpenHomedAltura();
        ASSERT_GE(nHandle, 0);
        EXPECT_EQ(0, TickWithStatus());
        EXPECT_EQ(0, unfiltered_device_fault(nHandle));

        // Fifteen faulty readings: the unfiltered view shows the fault at once, the filter
        // holds it back, and the update itself is not concerned.
        c.pfnSet(Arm(), true);
        for (int n = 1; n < kFaultFilterLength; n++) {
            ASSERT_EQ(0, update_kinetor(nHandle)) << n;
            EXPECT_EQ(c.nCode, unfiltered_device_fault(nHandle)) << n;
            EXPECT_EQ(0, kinetor_status(nHandle)) << n;
            AwaitTick(nHandle);
        }
        // One clean reading starts the count again.
        c.pfnSet(Arm(), false);
        EXPECT_EQ(0, TickWithStatus());
        EXPECT_EQ(0, unfiltered_device_fault(nHandle));

        c.pfnSet(Arm(), true);
        for (int n = 1; n < kFaultFilterLength; n++)
            EXPECT_EQ(0, TickWithStatus()) << n;
        EXPECT_EQ(c.nCode, TickWithStatus());
        EXPECT_EQ(c.nCode, TickWithStatus());
        EXPECT_EQ(c.nCode, TickWithStatus());

        // The first clean reading after a reported fault clears it.
        c.pfnSet(Arm(), false);
        EXPECT_EQ(0, TickWithStatus());
        EXPECT_EQ(0, CloseDevice(nHandle));
    }
}

TEST_F(SafetyTest, ReportedFaultRefusesForceCommandsUntilItClears)
{
    int nHandle = OpenBravis();
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, enable_kinetor_ramp_forces(nHandle, 0));
    ASSERT_EQ(0, enable_kinetor_forces(nHandle));
    ASSERT_TRUE(Arm()->GetAmplifiersEnabled());

    float afPush[3] = {1.0f, 0.0f, 0.0f};
    ASSERT_EQ(0, RunTicksWith(5, [&](int) { return send_kinetor_force(nHandle, afPush); }));
    int anWords[3];
    DacWords(anWords);
    EXPECT_NE(kZeroTorqueWord, anWords[0]);

    // While the filter holds a fault back, commands still reach the motors.
    Arm()->SetDeviceFault(true);
    ASSERT_EQ(0, RunTicksWith(kFaultFilterLength - 1, [&](int) { return send_kinetor_force(nHandle, afPush); }));

    // The sixteenth faulty reading refuses the command: a different force is not written.
    float afOther[3] = {0.0f, 1.5f, 0.0f};
    ASSERT_EQ(0, update_kinetor(nHandle));
    int anPushWords[3];
    DacWords(anPushWords);
    EXPECT_EQ(kCodeDeviceFault, send_kinetor_force(nHandle, afOther));
    AwaitTick(nHandle);
    ASSERT_EQ(0, RunTicks(1));
    DacWords(anWords);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(anPushWords[i], anWords[i]) << i;
    // A reported fault leaves the force state as it was; the application decides.
    EXPECT_EQ(1, is_kinetor_forces_enabled(nHandle));

    // Once the device is clean again the next command goes through.
    Arm()->SetDeviceFault(false);
    ASSERT_EQ(0, update_kinetor(nHandle));
    EXPECT_EQ(0, send_kinetor_force(nHandle, afOther));
    AwaitTick(nHandle);
    ASSERT_EQ(0, RunTicks(1));
    DacWords(anWords);
    EXPECT_NE(anPushWords[1], anWords[1]);
    EXPECT_EQ(0, disable_kinetor_forces(nHandle));
}

TEST_F(SafetyTest, StarvedDeviceWatchdogRestartsTheForceRamp)
{
    // The hand holds the stylus, so the same force keeps giving the same motor words.
    int nHandle = OpenBravis("hold");
    ASSERT_GE(nHandle, 0);
    // A steep ramp: 0.1 force units per update.
    ASSERT_EQ(0, set_kinetor_ramp_forces_rate(nHandle, 100.0f));
    ASSERT_EQ(0, enable_kinetor_forces(nHandle));
    float afPush[3] = {0.5f, 0.0f, 0.0f};
    ASSERT_EQ(0, RunTicksWith(20, [&](int) { return send_kinetor_force(nHandle, afPush); }));
    int anFull[3];
    DacWords(anFull);
    ASSERT_NE(kZeroTorqueWord, anFull[0]);

    // The application stalls past the device's watchdog window; the device drops its
    // amplifiers and reports the starved watchdog on the next exchange.
    SimAdvance(2 * kWatchdogWindowNs);
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
    ASSERT_EQ(0, update_kinetor(nHandle));
    EXPECT_EQ(kCodeFaultNotCleared, unfiltered_device_fault(nHandle));
    // A single such reading is filtered, but the force starts again from nothing.
    EXPECT_EQ(0, send_kinetor_force(nHandle, afPush));
    AwaitTick(nHandle);
    ASSERT_EQ(0, update_kinetor(nHandle));
    int anWords[3];
    DacWords(anWords);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(kZeroTorqueWord, anWords[i]) << i;
    EXPECT_TRUE(Arm()->GetAmplifiersEnabled());
    EXPECT_EQ(0, send_kinetor_force(nHandle, afPush));
    AwaitTick(nHandle);

    // ... and is back at full strength after the ramp.
    ASSERT_EQ(0, RunTicksWith(20, [&](int) { return send_kinetor_force(nHandle, afPush); }));
    EXPECT_EQ(0, kinetor_status(nHandle));
    DacWords(anWords);
    EXPECT_NEAR(anFull[0], anWords[0], 2);
    EXPECT_EQ(0, disable_kinetor_forces(nHandle));
}

// ---- the watchdog handshake of force enable and disable ----

TEST_F(SafetyTest, EnableTogglesTheAmplifierLineAndCommandsKeepTheWatchdogFed)
{
    int nHandle = OpenHomedAltura();
    ASSERT_GE(nHandle, 0);
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
    EXPECT_EQ(0, OutputControl() & kAmpEnableBit);

    ASSERT_EQ(0, enable_kinetor_forces(nHandle));
    EXPECT_EQ(1, is_kinetor_forces_enabled(nHandle));
    EXPECT_TRUE(Arm()->GetAmplifiersEnabled());
    EXPECT_TRUE(SimGetEPPWatchdogSatisfied(0));
    UCHAR ucLast = OutputControl() & kAmpEnableBit;
    EXPECT_EQ(kAmpEnableBit, ucLast);

    // With a timeout circuit every command toggles the enable line; for three watchdog
    // windows the device never sees its watchdog starve, and the circuit keeps the
    // amplifiers on through every tick, the line's low half included.
    const int nTicks = (int)(3 * kWatchdogWindowNs / kTickNs);
    int nToggles = 0;
    int nUnpowered = 0;
    float afForce[3] = {0.5f, 0.0f, 0.0f};
    ASSERT_EQ(0, RunTicksWith(nTicks, [&](int) {
        int r = send_kinetor_force(nHandle, afForce);
        UCHAR ucNow = OutputControl() & kAmpEnableBit;
        if (ucNow != ucLast)
            nToggles++;
        ucLast = ucNow;
        if (!Arm()->GetAmplifiersEnabled())
            nUnpowered++;
        EXPECT_TRUE(SimGetEPPWatchdogSatisfied(0));
        return r;
    }));
    EXPECT_EQ(nTicks, nToggles);
    EXPECT_EQ(0, nUnpowered);
    // Between the commands, as the arm's physics sees it at each tick, too.
    EXPECT_TRUE(Arm()->GetAmplifiersEnabled());

    // Disabling turns the amplifiers off for good: line low, light "disabled", zero torque
    // and commands refused at once; the amplifiers go off when the timeout circuit has run
    // out and stay off while the ticks go on.
    ASSERT_EQ(0, disable_kinetor_forces(nHandle));
    EXPECT_EQ(0, is_kinetor_forces_enabled(nHandle));
    EXPECT_EQ(0, OutputControl() & kAmpEnableBit);
    EXPECT_EQ(kLightAmplifiersDisabled, OutputControl() & kLightMask);
    int anWords[3];
    DacWords(anWords);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(kZeroTorqueWord, anWords[i]) << i;
    OutlastAmplifierHold();
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
    ASSERT_EQ(0, RunTicksWith(nTicks, [&](int) {
        EXPECT_EQ(kCodeForcesDisabled, send_kinetor_force(nHandle, afForce));
        EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
        return 0;
    }));
    EXPECT_TRUE(SimGetEPPWatchdogSatisfied(0));
}

TEST_F(SafetyTest, EnableWaitsForAFaultToClearAndGivesUpAfterThreeSeconds)
{
    for (int nModel : {1, 3}) {
        SCOPED_TRACE(nModel);
        int nHandle = nModel == 1 ? OpenHomedAltura() : OpenBravis();
        ASSERT_GE(nHandle, 0);
        Arm()->SetDeviceFault(true);
        int64_t nStart = SimNowNs();
        EXPECT_EQ(kCodeFaultNotCleared, enable_kinetor_forces(nHandle));
        int64_t nWaited = SimNowNs() - nStart;
        EXPECT_GE(nWaited, kEnableWaitNs);
        EXPECT_LT(nWaited, kEnableWaitNs + kWatchdogWindowNs);
        // Given up, the amplifiers are off as after a disable: nothing else would ever turn
        // them off, since a disable finds no forces enabled. Line and words change at once;
        // the Bravis switches by level, the Altura's timeout circuit runs out first.
        EXPECT_EQ(0, is_kinetor_forces_enabled(nHandle));
        EXPECT_EQ(0, OutputControl() & kAmpEnableBit);
        int anWords[3];
        DacWords(anWords);
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(kZeroTorqueWord, anWords[i]) << i;
        if (nModel == 3) {
            EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
        }
        OutlastAmplifierHold();
        EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
        float afForce[3] = {0.5f, 0.0f, 0.0f};
        EXPECT_EQ(kCodeForcesDisabled, send_kinetor_force(nHandle, afForce));
        EXPECT_EQ(0, disable_kinetor_forces(nHandle));

        // Cleared, the same call succeeds without waiting out the limit.
        Arm()->SetDeviceFault(false);
        ASSERT_EQ(0, RunTicks(2));
        nStart = SimNowNs();
        EXPECT_EQ(0, enable_kinetor_forces(nHandle));
        EXPECT_LT(SimNowNs() - nStart, kWatchdogWindowNs);
        EXPECT_EQ(1, is_kinetor_forces_enabled(nHandle));
        EXPECT_TRUE(SimGetEPPWatchdogSatisfied(0));
        // The Bravis switches its amplifiers by level; the Altura's line is a watchdog pulse,
        // which its timeout circuit bridges from the first command on, through the tick.
        if (nModel == 3) {
            EXPECT_TRUE(Arm()->GetAmplifiersEnabled());
        }
        ASSERT_EQ(0, update_kinetor(nHandle));
        EXPECT_EQ(0, send_kinetor_force(nHandle, afForce));
        EXPECT_TRUE(Arm()->GetAmplifiersEnabled());
        AwaitTick(nHandle);
        EXPECT_TRUE(Arm()->GetAmplifiersEnabled());
        EXPECT_EQ(0, disable_kinetor_forces(nHandle));
        if (nModel == 3) {
            EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
        }
        OutlastAmplifierHold();
        EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
        EXPECT_EQ(0, CloseDevice(nHandle));
        SimDeactivate();
    }
}

TEST_F(SafetyTest, EnableWithoutWaitingLeavesTheFaultToTheFilter)
{
    int nHandle = OpenBravis();
    ASSERT_GE(nHandle, 0);
    Arm()->SetDeviceFault(true);
    int64_t nStart = SimNowNs();
    ASSERT_EQ(0, enable_kinetor_forces_no_wait(nHandle));
    EXPECT_LT(SimNowNs() - nStart, kWatchdogWindowNs);
    EXPECT_EQ(1, is_kinetor_forces_enabled(nHandle));
    EXPECT_TRUE(Arm()->GetAmplifiersEnabled());

    // The fault then reaches the application through its commands, after the filter.
    float afForce[3] = {0.5f, 0.0f, 0.0f};
    ASSERT_EQ(0, RunTicksWith(kFaultFilterLength - 1, [&](int) { return send_kinetor_force(nHandle, afForce); }));
    ASSERT_EQ(0, update_kinetor(nHandle));
    EXPECT_EQ(kCodeDeviceFault, send_kinetor_force(nHandle, afForce));
    AwaitTick(nHandle);
    EXPECT_EQ(0, disable_kinetor_forces_no_wait(nHandle));
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
}

TEST_F(SafetyTest, EnableRevivesAStarvedWatchdog)
{
    for (int nModel : {1, 3}) {
        SCOPED_TRACE(nModel);
        int nHandle = nModel == 1 ? OpenHomedAltura() : OpenBravis();
        ASSERT_GE(nHandle, 0);
        // The application paused longer than the device's watchdog window.
        SimAdvance(2 * kWatchdogWindowNs);
        EXPECT_FALSE(SimGetEPPWatchdogSatisfied(0));
        ASSERT_EQ(0, enable_kinetor_forces(nHandle));
        EXPECT_TRUE(SimGetEPPWatchdogSatisfied(0));
        EXPECT_TRUE(Arm()->GetAmplifiersEnabled());
        ASSERT_EQ(0, RunTicks(5));
        EXPECT_EQ(0, kinetor_status(nHandle));
        EXPECT_EQ(0, disable_kinetor_forces(nHandle));
        EXPECT_EQ(0, CloseDevice(nHandle));
        SimDeactivate();
    }
}

// ---- losing and recovering the link ----

TEST_F(SafetyTest, SevenWrongEchoesLoseTheLinkAndAPassingTalkTestRecoversIt)
{
    int nHandle = OpenHomedAltura();
    ASSERT_GE(nHandle, 0);

    // Six wrong echoes in a row, a right one, six more: the link holds.
    for (int nRound = 0; nRound < 2; nRound++) {
        SimInjectEPPEchoErrors(0, kLinkLossMisses - 1);
        EXPECT_EQ(0, RunTicks(kLinkLossMisses - 1)) << nRound;
        EXPECT_EQ(0, RunTicks(1)) << nRound;
    }
    EXPECT_EQ(0, unfiltered_device_fault(nHandle));

    // The seventh consecutive wrong echo loses it.
    SimInjectEPPEchoErrors(0, kLinkLossMisses);
    EXPECT_EQ(0, RunTicks(kLinkLossMisses - 1));
    EXPECT_EQ(kCodeLinkLost, update_kinetor(nHandle));
    EXPECT_EQ(kCodeLinkLost, unfiltered_device_fault(nHandle));
    AwaitTick(nHandle);

    // The device answers the talk test: the very next exchange is good again.
    EXPECT_EQ(0, update_kinetor(nHandle));
    EXPECT_EQ(0, unfiltered_device_fault(nHandle));
    AwaitTick(nHandle);
    EXPECT_EQ(0, RunTicks(20));
    EXPECT_EQ(0, kinetor_status(nHandle));
}

TEST_F(SafetyTest, SilentDeviceIsReportedAfterTheFilterAndItsWatchdogCutsTheAmplifiers)
{
    int nHandle = OpenBravis();
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, enable_kinetor_forces(nHandle));
    ASSERT_TRUE(Arm()->GetAmplifiersEnabled());

    // A silent device raises no ticks either, so simulated time is moved on by hand.
    SimSetEPPSilent(0, TRUE);
    int nLost = 0;
    int nStatus = 0;
    for (int n = 0; n < kLinkLossMisses - 1; n++) {
        EXPECT_EQ(0, update_kinetor(nHandle)) << n;
        EXPECT_EQ(0, kinetor_status(nHandle)) << n;
        SimAdvance(kTickNs);
    }
    for (int n = 0; n < kFaultFilterLength; n++) {
        EXPECT_EQ(kCodeLinkLost, update_kinetor(nHandle)) << n;
        nStatus = kinetor_status(nHandle);
        if (nStatus == 0)
            nLost++;
        SimAdvance(kTickNs);
    }
    EXPECT_EQ(kFaultFilterLength - 1, nLost);
    EXPECT_EQ(kCodeLinkLost, nStatus);
    // The library leaves the force state to the application; the device's own watchdog
    // takes the amplifiers off once the host has been quiet for its window.
    EXPECT_EQ(1, is_kinetor_forces_enabled(nHandle));
    SimAdvance(kWatchdogWindowNs);
    EXPECT_FALSE(SimGetEPPWatchdogSatisfied(0));
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
    EXPECT_EQ(kCodeLinkLost, update_kinetor(nHandle));

    SimSetEPPSilent(0, FALSE);
    EXPECT_EQ(0, update_kinetor(nHandle));
    EXPECT_EQ(0, kinetor_status(nHandle));
    AwaitTick(nHandle);
    EXPECT_EQ(0, disable_kinetor_forces(nHandle));
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
}

// ---- safety paths that must not report success while the arm is unsafe ----

TEST_F(SafetyTest, DisableSwitchesTheAmplifiersOffEvenWhenZeroTorqueCannotBeWritten)
{
    int nHandle = OpenBravis();
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, enable_kinetor_forces(nHandle));
    ASSERT_TRUE(Arm()->GetAmplifiersEnabled());

    // The zero-torque exchange loses its input block; the next one recovers the link.
    SimFailRequest("read", 1);
    EXPECT_EQ(kCodeLinkLost, disable_kinetor_forces(nHandle));
    EXPECT_EQ(0, is_kinetor_forces_enabled(nHandle));
    EXPECT_EQ(0, OutputControl() & kAmpEnableBit);
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
}

TEST_F(SafetyTest, ForceRampsUpFromZeroAgainAfterTheLinkRecovers)
{
    int nHandle = OpenBravis("hold");
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, set_kinetor_ramp_forces_rate(nHandle, 50.0f));  // full force in 40 ticks
    ASSERT_EQ(0, enable_kinetor_forces(nHandle));
    auto push = [&](int) {
        float afForce[3] = {0.0f, 2.0f, 0.0f};
        send_kinetor_force(nHandle, afForce);
        return 0;
    };
    ASSERT_EQ(0, RunTicksWith(100, push));
    int anFull[3];
    DacWords(anFull);
    int nFullSwing = 0;
    for (int i = 0; i < 3; i++)
        nFullSwing = std::max(nFullSwing, abs(anFull[i] - kZeroTorqueWord));
    ASSERT_GT(nFullSwing, 40);

    // Seven wrong echoes lose the link; the exchange after them recovers it.
    SimInjectEPPEchoErrors(0, kLinkLossMisses);
    for (int n = 0; n < kLinkLossMisses; n++) {
        update_kinetor(nHandle);
        push(n);
        AwaitTick(nHandle);
    }
    ASSERT_EQ(kCodeLinkLost, unfiltered_device_fault(nHandle));
    // The exchange that recovers the link carries zero torque, not the stale command.
    ASSERT_EQ(0, update_kinetor(nHandle));
    int anRecovered[3];
    DacWords(anRecovered);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(kZeroTorqueWord, anRecovered[i]) << i;
    push(0);
    AwaitTick(nHandle);
    for (int n = 0; n < 3; n++) {
        ASSERT_EQ(0, RunTicksWith(1, push)) << n;
        int anWords[3];
        DacWords(anWords);
        for (int i = 0; i < 3; i++)
            EXPECT_LT(abs(anWords[i] - kZeroTorqueWord), nFullSwing / 4) << "tick " << n;
    }
    ASSERT_EQ(0, RunTicksWith(100, push));
    int anBack[3];
    DacWords(anBack);
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(anFull[i], anBack[i], 2) << i;
}

TEST_F(SafetyTest, FrameWithoutThreeIndependentAxesIsRefusedAndTheOldOneKept)
{
    int nHandle = OpenHomedAltura();
    ASSERT_GE(nHandle, 0);
    float afOrigin[3] = {10.0f, -20.0f, 30.0f};
    float afX[3] = {0.0f, 1.0f, 0.0f}, afY[3] = {-1.0f, 0.0f, 0.0f}, afZ[3] = {0.0f, 0.0f, 1.0f};
    ASSERT_EQ(0, set_kinetor_coordinate_system(nHandle, afOrigin, afX, afY, afZ));
    float afBefore[3];
    ASSERT_EQ(0, get_kinetor_pos(nHandle, afBefore));

    struct {
        const char* pszCase;
        float afX[3], afY[3], afZ[3];
        float fOriginX;
    } aCases[] = {
        {"zero x axis", {0, 0, 0}, {0, 1, 0}, {0, 0, 1}, 0},
        {"zero y axis", {1, 0, 0}, {0, 0, 0}, {0, 0, 1}, 0},
        {"zero z axis", {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, 0},
        {"x along z", {0, 0, 1}, {0, 1, 0}, {0, 0, 2}, 0},
        {"x along y", {1, 1, 0}, {-2, -2, 0}, {0, 0, 1}, 0},
        {"y along z", {1, 0, 0}, {0, 0, 3}, {0, 0, 1}, 0},
        {"axis not a number", {NAN, 0, 0}, {0, 1, 0}, {0, 0, 1}, 0},
        {"origin not a number", {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, NAN},
        {"axis overflows", {3e38f, 3e38f, 0}, {0, 0, 1}, {1, -1, 0}, 0},
    };
    for (auto& c : aCases) {
        float afO[3] = {c.fOriginX, 0.0f, 0.0f};
        EXPECT_EQ(kCodeBadArgument, set_kinetor_coordinate_system(nHandle, afO, c.afX, c.afY, c.afZ))
            << c.pszCase;
        float afAfter[3];
        ASSERT_EQ(0, get_kinetor_pos(nHandle, afAfter));
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(afBefore[i], afAfter[i]) << c.pszCase;
    }
}

TEST_F(SafetyTest, NullArraysAreRefusedWithAnErrorInsteadOfACrash)
{
    int h = OpenHomedAltura();
    ASSERT_GE(h, 0);
    ASSERT_EQ(0, enable_kinetor_forces(h));
    float af[6] = {0}, afT[4][4];
    long al[6] = {0};
    const std::pair<const char*, std::function<int()>> aCalls[] = {
        {"set_kinetor_coordinate_system", [&] { return set_kinetor_coordinate_system(h, af, af, nullptr, af); }},
        {"get_kinetor_pos", [&] { return get_kinetor_pos(h, nullptr); }},
        {"get_kinetor_vel", [&] { return get_kinetor_vel(h, nullptr); }},
        {"get_kinetor_inst_vel", [&] { return get_kinetor_inst_vel(h, nullptr); }},
        {"get_kinetor_vel_6dof", [&] { return get_kinetor_vel_6dof(h, nullptr); }},
        {"get_stylus_matrix", [&] { return get_stylus_matrix(h, nullptr); }},
        {"get_kinetor_joint_angles", [&] { return get_kinetor_joint_angles(h, nullptr); }},
        {"get_kinetor_encoders", [&] { return get_kinetor_encoders(h, nullptr); }},
        {"get_kinetor_encoders_6dof", [&] { return get_kinetor_encoders_6dof(h, nullptr); }},
        {"get_gimbal_encoders", [&] { return get_gimbal_encoders(h, nullptr); }},
        {"get_encoder_values", [&] { return get_encoder_values(h, nullptr); }},
        {"get_kinetor_jacobian", [&] { return get_kinetor_jacobian(h, nullptr); }},
        {"calc_joint_angles_from_enc", [&] { return calc_joint_angles_from_enc(h, al, nullptr); }},
        {"calc_endpoint_from_joint", [&] { return calc_endpoint_from_joint(h, nullptr, afT); }},
        {"get_kinetor_temp", [&] { return get_kinetor_temp(h, nullptr); }},
        {"get_kinetor_temp_normalized", [&] { return get_kinetor_temp_normalized(h, nullptr); }},
        {"get_kinetor_temp_6dof", [&] { return get_kinetor_temp_6dof(h, nullptr); }},
        {"get_kinetor_temp_normalized_6dof", [&] { return get_kinetor_temp_normalized_6dof(h, nullptr); }},
        {"get_kinetor_info", [&] { return get_kinetor_info(h, nullptr, 8); }},
        {"send_kinetor_force", [&] { return send_kinetor_force(h, nullptr); }},
        {"send_kinetor_force_6dof", [&] { return send_kinetor_force_6dof(h, nullptr); }},
        {"send_kinetor_joint_torques", [&] { return send_kinetor_joint_torques(h, nullptr); }},
        {"command_motor_dac_values", [&] { return command_motor_dac_values(h, nullptr); }},
        {"command_motor_voltages", [&] { return command_motor_voltages(h, af, nullptr); }},
        {"get_kinetor_stuck_pos", [&] { return get_kinetor_stuck_pos(h, nullptr); }},
        {"set_kinetor_stuck_pos", [&] { return set_kinetor_stuck_pos(h, nullptr); }},
        {"calc_kinetor_friction", [&] { return calc_kinetor_friction(h, af, nullptr, 1, 1, 1); }},
    };
    for (const auto& call : aCalls)
        EXPECT_EQ(kCodeBadArgument, call.second()) << call.first;
    // A bad handle is still reported as such, and nothing was disturbed.
    EXPECT_EQ(-11, get_kinetor_pos(h + 1, nullptr));
    EXPECT_EQ(1, is_kinetor_forces_enabled(h));
    EXPECT_EQ(0, get_kinetor_pos(h, af));
}

// ---- the tick that never comes ----

int UpdateInTick(void* pData)
{
    return update_kinetor(*static_cast<int*>(pData)) == 0 ? 0 : -1;
}

// Removes a scratch directory that holds plain files only.
void RemoveScratchDirectory(const std::string& strDir)
{
    DIR* pDir = opendir(strDir.c_str());
    if (pDir == nullptr)
        return;
    while (struct dirent* pEntry = readdir(pDir)) {
        std::string strName = pEntry->d_name;
        if (strName != "." && strName != "..")
            unlink((strDir + "/" + strName).c_str());
    }
    closedir(pDir);
    rmdir(strDir.c_str());
}

class SafetyDeathTest : public SafetyTest {
protected:
    void SetUp() override
    {
        // The child runs in a fresh process of its own: the servo thread is not forked.
        m_strOldStyle = GTEST_FLAG_GET(death_test_style);
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        SafetyTest::SetUp();
    }
    void TearDown() override
    {
        SafetyTest::TearDown();
        GTEST_FLAG_SET(death_test_style, m_strOldStyle);
    }

    // The child ends without its tear-down, so it leaves no scratch directories behind.
    void RemoveScratchDirectories()
    {
        if (chdir("/") != 0)
            return;
        RemoveScratchDirectory(WorkDir());
        RemoveScratchDirectory(ConfigDir());
    }

private:
    std::string m_strOldStyle;
};

// The whole chain: servo thread, library object, device model, forwarding connection and
// parallel-port transport, with the device's hardware timer interrupts gone.
TEST_F(SafetyDeathTest, ServoLoopWithoutTicksEndsTheProcess)
{
    int nHandle = OpenHomedAltura();
    ASSERT_GE(nHandle, 0);
    EXPECT_EXIT(
        {
            RemoveScratchDirectories();
            SimLoseTicks(-1);
            initOSExtender();
            startServoLoop(UpdateInTick, &nHandle);
            // startServoLoop returns only after a first tick, which never comes.
            fprintf(stderr, "servo loop started without a tick\n");
            exit(0);
        },
        ::testing::ExitedWithCode(255), "^The EPP connection timedout, exiting\\.\\.\\.$");
}

// ---- SIGINT without the thread that normally carries out the shutdown ----

std::string g_strTemperatureFile;
pthread_t g_mainThread;

// Runs at exit in the child: tells on which thread the process ended and whether the
// devices were closed (closing writes the temperature file).
void ReportShutdown()
{
    const bool bWritten = access(g_strTemperatureFile.c_str(), F_OK) == 0;
    fprintf(stderr, "%s%s\n",
            pthread_equal(pthread_self(), g_mainThread) ? "shutdown inside the signal handler"
                                                        : "devices closed outside the handler",
            bWritten ? ", temperatures written" : "");
}

TEST_F(SafetyDeathTest, InterruptWithoutTheShutdownThreadClosesDevicesFromTheServoThread)
{
    int nHandle = OpenHomedAltura();
    ASSERT_GE(nHandle, 0);
    EXPECT_EXIT(
        {
            g_strTemperatureFile = ConfigPath("KinetorTemperature(arm)");
            g_mainThread = pthread_self();
            SetInterruptThreadAllowed(false);
            initOSExtender();
            startServoLoop(UpdateInTick, &nHandle);
            atexit(ReportShutdown);
            raise(SIGINT);
            for (int n = 0; n < 100; n++)
                usleep(100000);
            fprintf(stderr, "still running after the interrupt\n");
            _exit(0);
        },
        ::testing::ExitedWithCode(255), "devices closed outside the handler, temperatures written");
}

TEST_F(SafetyDeathTest, InterruptWithoutTheShutdownThreadOrALoopEndsAtOnce)
{
    int nHandle = OpenHomedAltura();
    ASSERT_GE(nHandle, 0);
    EXPECT_EXIT(
        {
            RemoveScratchDirectories();
            SetInterruptThreadAllowed(false);
            initOSExtender();
            raise(SIGINT);
            fprintf(stderr, "still running after the interrupt\n");
            _exit(0);
        },
        ::testing::ExitedWithCode(255), "^Interrupted: exiting without closing the devices\n$");
}

}  // namespace
