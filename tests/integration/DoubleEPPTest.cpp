// An Altura 6 DOF whose base and gimbal electronics are chained on one parallel port, end to
// end through the flat interface against the simulated chain in lockstep pace: its pose, its
// six motors, the pinch grip with its calibration file, the power assist, lost ticks and
// the faults of either module.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "KinetorServo.h"
#include "SimFixture.h"

namespace {

// Library result codes of the device's own reports.
const int kCodeDeviceFault = -2;
const int kCodeSpeedError = -13;
const int kCodeLinkLost = -28;
const int kFaultFilterLength = 16;

const int kBaseModule = 0;
const int kGimbalModule = 1;

// DAC counts per N·mm of the gimbal motors in the test configuration (1000000 per 1000).
const double kGimbalCountsPerNmm = 1000.0;
// One step of the 12-bit wire word is 16 signed DAC counts.
const double kDacStep = 16.0;

const int64_t kTickNs = 1000000LL;
// DAC word of zero torque on the wire.
const int kZeroTorqueWord = 2047;

class DoubleEPPTest : public CSimFixture {
protected:
    // Opens and homes the arm; nOption is its handle type (1 and 2: with pinch grip).
    int OpenChainedArm(int nOption = 3)
    {
        SIM_TEST_CONFIG c = SimTestConfig(4);
        c.pszCardType = "DBLEPP";
        c.nExtra6DOFOption = nOption;
        int nHandle = OpenSimulatedArm(c, "free");
        if (nHandle >= 0 && HomeAltura() != 0)
            ADD_FAILURE() << "homing the chained arm failed";
        return nHandle;
    }

    void EnableForcesWithoutRamp()
    {
        ASSERT_EQ(0, enable_kinetor_ramp_forces(Handle(), 0));
        ASSERT_EQ(0, enable_kinetor_forces(Handle()));
        ASSERT_TRUE(Arm()->GetAmplifiersEnabled());
        EXPECT_TRUE(SimGetEPPModuleAmplifiers(kGimbalModule));
    }

    int TickWithStatus()
    {
        EXPECT_EQ(0, update_kinetor(Handle()));
        int nStatus = kinetor_status(Handle());
        AwaitTick(Handle());
        return nStatus;
    }
};

TEST_F(DoubleEPPTest, ReadsTheTruePoseAndDrivesAllSixMotors)
{
    ASSERT_GE(OpenChainedArm(), 0);
    ASSERT_EQ(0, enable_kinetor_velocity_check(Handle(), 0));
    double adQ[6] = {0.2, 0.15, -0.1, 0.5, -0.4, 0.3};
    Arm()->SetJointAngles(adQ);
    ASSERT_EQ(0, RunTicks(3));
    float afAngles[6];
    ASSERT_EQ(0, get_kinetor_joint_angles(Handle(), afAngles));
    for (int j = 0; j < 6; j++)
        EXPECT_NEAR(Arm()->GetJointAngle(j), afAngles[j], 2e-3) << "joint " << j;

    EnableForcesWithoutRamp();
    // Joint torques arrive on their own joints: each motor's word went to its own module.
    float afJoint[6] = {150.0f, -120.0f, 90.0f, 1.5f, -2.0f, 0.75f};
    ASSERT_EQ(0, update_kinetor(Handle()));
    ASSERT_EQ(0, send_kinetor_joint_torques(Handle(), afJoint));
    AwaitTick(Handle());
    ASSERT_EQ(0, RunTicks(1));
    for (int j = 0; j < 6; j++) {
        double dStep = j < 3 ? 3.0 : kDacStep / kGimbalCountsPerNmm * 1.5;
        EXPECT_NEAR(afJoint[j], Arm()->GetMotorJointTorque(j), dStep) << "joint " << j;
    }

    // Forces and torques at the stylus: by virtual work the joints feel J transposed times
    // the wrench, with the Jacobian the library reports for this pose.
    float afWrench[6] = {0.6f, -0.4f, 0.3f, 1.0f, -1.5f, 2.0f};
    ASSERT_EQ(0, update_kinetor(Handle()));
    double adJ[6][6];
    ASSERT_EQ(0, get_kinetor_jacobian(Handle(), adJ));
    ASSERT_EQ(0, send_kinetor_force_6dof(Handle(), afWrench));
    AwaitTick(Handle());
    ASSERT_EQ(0, RunTicks(1));
    for (int j = 0; j < 6; j++) {
        double dExpected = 0.0;
        for (int r = 0; r < 6; r++)
            dExpected += adJ[r][j] * afWrench[r];
        double dStep = j < 3 ? 3.0 : 0.05;
        EXPECT_NEAR(dExpected, Arm()->GetMotorJointTorque(j), dStep + 0.01 * fabs(dExpected)) << "joint " << j;
        EXPECT_NE(kZeroTorqueWord, SimGetEPPDACWord(j)) << "motor " << j;
    }
    EXPECT_EQ(0, disable_kinetor_forces(Handle()));
}

TEST_F(DoubleEPPTest, PinchGripReadsThroughItsCalibrationFile)
{
    ASSERT_TRUE(WriteConfigFile("Pinch Calibration(arm)", "PinchMin 100 \nPinchMax 900 \n"));
    ASSERT_GE(OpenChainedArm(1), 0);
    EXPECT_EQ(1, is_pinch_calibrated(Handle()));
    struct {
        int nRaw;
        double dValue;
    } steps[] = {{300, 0.25}, {700, 0.75}, {50, 0.0}, {1000, 1.0}};
    for (const auto& s : steps) {
        Arm()->SetPinchRaw((USHORT)s.nRaw);
        ASSERT_EQ(0, RunTicks(1));
        EXPECT_NEAR(s.dValue, get_pinch_value(Handle()), 1e-6) << s.nRaw;
    }

    // New limits are kept in the file and used at once.
    ASSERT_EQ(0, set_pinch_limits(Handle(), 200, 1000));
    EXPECT_EQ("PinchMin 200 \nPinchMax 1000 \n", ReadConfigFile("Pinch Calibration(arm)"));
    Arm()->SetPinchRaw(300);
    ASSERT_EQ(0, RunTicks(1));
    EXPECT_NEAR(0.125, get_pinch_value(Handle()), 1e-6);
}

TEST_F(DoubleEPPTest, PowerAssistDrivesTheTurningGimbalMotorOnlyWhenAskedFor)
{
    for (bool bAssist : {false, true}) {
        SCOPED_TRACE(bAssist ? "with power assist" : "without power assist");
        if (bAssist)
            setenv("TDL_USE_POWER_ASSIST", "1", 1);
        else
            unsetenv("TDL_USE_POWER_ASSIST");
        int nHandle = OpenChainedArm();
        ASSERT_GE(nHandle, 0);
        EnableForcesWithoutRamp();
        // Joint 3 turns at 10 rad/s, so its motor (sign -1, ratio 1) at -10 rad/s: the
        // friction assist is then -(0.4 + 10 * 0.00008) N·mm, the Coulomb part at its limit.
        double adQ[6];
        for (int j = 0; j < 6; j++)
            adQ[j] = Arm()->GetJointAngle(j);
        for (int n = 0; n < 40; n++) {
            ASSERT_EQ(0, update_kinetor(nHandle)) << n;
            // A fresh array each time: the library may clamp the one it is given.
            float afWrench[6] = {0, 0, 0, 0, 0, 0};
            ASSERT_EQ(0, send_kinetor_force_6dof(nHandle, afWrench)) << n;
            adQ[3] += 10.0 * 1e-3;
            Arm()->SetJointAngles(adQ);
            AwaitTick(nHandle);
        }
        const double dAssist = bAssist ? -(0.4 + 10.0 * 0.00008) * kGimbalCountsPerNmm : 0.0;
        EXPECT_NEAR(dAssist, (double)Arm()->GetMotorDAC(3), kDacStep);
        EXPECT_EQ(0, disable_kinetor_forces(nHandle));
        EXPECT_EQ(0, CloseDevice(nHandle));
    }
    unsetenv("TDL_USE_POWER_ASSIST");
}

TEST_F(DoubleEPPTest, LostTicksStretchTheWaitAndEitherModulesFaultsAreReported)
{
    ASSERT_GE(OpenChainedArm(), 0);
    SimLoseTicks(3);
    int64_t nBefore = SimNowNs();
    AwaitTick(Handle());
    EXPECT_EQ(4 * kTickNs, SimNowNs() - nBefore);
    EXPECT_EQ(0, RunTicks(2));

    struct {
        const char* pszWhat;
        BOOLEAN bBaseSpeed;
        BOOLEAN bGimbalFault;
        int nCode;
    } cases[] = {
        {"gimbal module fault", FALSE, TRUE, kCodeDeviceFault},
        {"base speed error over gimbal fault", TRUE, TRUE, kCodeSpeedError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SimSetEPPModuleSpeedError(kBaseModule, 0, c.bBaseSpeed);
        SimSetEPPModuleFault(kGimbalModule, c.bGimbalFault);
        for (int n = 1; n < kFaultFilterLength; n++)
            EXPECT_EQ(0, TickWithStatus()) << n;
        EXPECT_EQ(c.nCode, TickWithStatus());
        SimSetEPPModuleSpeedError(kBaseModule, 0, FALSE);
        SimSetEPPModuleFault(kGimbalModule, FALSE);
        EXPECT_EQ(0, TickWithStatus());
    }

    // Seven wrong echoes in a row from either module lose the link (the other module's
    // right echoes in between do not hide them); the next sweep recovers it.
    for (int nModule : {kBaseModule, kGimbalModule}) {
        SimInjectEPPEchoErrors(nModule, 7);
        EXPECT_EQ(0, RunTicks(6)) << nModule;
        EXPECT_EQ(kCodeLinkLost, RunTicks(1)) << nModule;
        EXPECT_EQ(0, RunTicks(2)) << nModule;
    }
}

int UpdateInTick(void* pData)
{
    return update_kinetor(*static_cast<int*>(pData)) == 0 ? 0 : -1;
}

// The whole chain, servo thread included, as an application runs it.
TEST_F(DoubleEPPTest, TickThatNeverComesEndsTheProcess)
{
    int nHandle = OpenChainedArm();
    ASSERT_GE(nHandle, 0);
    EXPECT_EXIT(
        {
            SimLoseTicks(-1);
            initOSExtender();
            startServoLoop(UpdateInTick, &nHandle);
            fprintf(stderr, "servo loop started without a tick\n");
            exit(0);
        },
        ::testing::ExitedWithCode(255), "^The EPP connection timedout, exiting\\.\\.\\.$");
}

}  // namespace
