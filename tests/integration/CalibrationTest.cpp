// Calibration end to end: a Bravis on the parallel port finds its encoder offsets while the
// user sweeps it through its home flags, a Cirrel finds them in its inkwell; the offsets
// found are compared with the simulated arm's true ones and the pose read through the flat
// interface with the arm's true pose. Lockstep pace, the hand off the stylus.
#include <math.h>
#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "SimFixture.h"

namespace {

// Calibration status word.
const int kAllValid = 0x0F;      // a measured offset for each base axis, and all three
const int kAllIncorrect = 0xF0;  // each offset in use incorrect, and all three

const long kUnknownVelocity = 2147483647L;
const int kCodeLinkLost = -28;
const int kLinkLossMisses = 7;

// Where the home flags of each base axis begin and end, in offset-corrected counts: the
// lower edge of the lowest flag and the upper edge of the highest. A new board has one flag
// per axis; an old one three on axes 0 and 1, with gaps between them. Their centres are the
// ones the library's tables expect.
const long kalNewFlagsFrom[3] = {-675, -6918, 895};
const long kalNewFlagsTo[3] = {675, -5618, 1695};
const long kalOldFlagsFrom[3] = {-5989, -10884, 745};
const long kalOldFlagsTo[3] = {6423, -1314, 1845};

// Counts moved per tick on the way to a sweep; fast enough that a flag crossed on the way
// measures worse than the slow sweep that follows.
const long kApproachStep = 10;
// Counts beyond a flag's edges where a sweep starts and ends.
const long kSweepMargin = 40;

// Encoder readings of a Cirrel resting in its inkwell, as configured for the unit.
const int kanInkwell[6] = {1500, -2300, 1800, 400, -300, 0};

long RoundCount(double dCount)
{
    return (long)floor(dCount + 0.5);
}

// The offsets-file of a configuration, as two rows of six numbers; false when unreadable.
bool ReadOffsetsFile(const std::string& strPath, long alOffsets[6], long alVelocities[6])
{
    FILE* f = fopen(strPath.c_str(), "r");
    if (f == nullptr)
        return false;
    int n = fscanf(f, "%ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld", &alOffsets[0], &alOffsets[1],
                   &alOffsets[2], &alOffsets[3], &alOffsets[4], &alOffsets[5], &alVelocities[0],
                   &alVelocities[1], &alVelocities[2], &alVelocities[3], &alVelocities[4], &alVelocities[5]);
    fclose(f);
    return n == 12;
}

class CalibrationTest : public CSimFixture {
protected:
    int CalibrationStatus()
    {
        int nStatus = -1;
        EXPECT_EQ(0, get_calibration_status(Handle(), &nStatus));
        return nStatus;
    }

    // The joint angle at which motor nMotor's counter, moved by joint nJoint with the other
    // joints where they are, shows the count lCount. The counter is linear in the joint.
    double AngleForCount(int nJoint, int nMotor, long lCount)
    {
        CSimArm* pArm = Arm();
        double dLower, dUpper;
        pArm->GetJointLimits(nJoint, dLower, dUpper);
        const double dSaved = pArm->GetJointAngle(nJoint);
        const double dA = dLower + 0.25 * (dUpper - dLower);
        const double dB = dLower + 0.75 * (dUpper - dLower);
        pArm->SetJointAngle(nJoint, dA);
        const double dCountA = pArm->GetEncoderPosition(nMotor);
        pArm->SetJointAngle(nJoint, dB);
        const double dCountB = pArm->GetEncoderPosition(nMotor);
        pArm->SetJointAngle(nJoint, dSaved);
        // A quarter count inside the whole count, so rounding on the arm cannot tip it over.
        return dA + ((double)lCount + 0.25 - dCountA) * (dB - dA) / (dCountB - dCountA);
    }

    // Moves joint nJoint so that motor nMotor's count goes from where it is to lTo in steps
    // of lStep, one servo tick per step. Returns the first failing update.
    int MoveMotorTo(int nJoint, int nMotor, long lTo, long lStep)
    {
        long lCount = RoundCount(Arm()->GetEncoderPosition(nMotor));
        while (lCount != lTo) {
            if (labs(lTo - lCount) <= lStep)
                lCount = lTo;
            else
                lCount += (lTo > lCount) ? lStep : -lStep;
            Arm()->SetJointAngle(nJoint, AngleForCount(nJoint, nMotor, lCount));
            if (RoundCount(Arm()->GetEncoderPosition(nMotor)) != lCount) {
                ADD_FAILURE() << "joint " << nJoint << " cannot put motor " << nMotor << " at " << lCount;
                return -1;
            }
            int r = RunTicks(1);
            if (r != 0)
                return r;
        }
        return 0;
    }

    // The user takes the arm through the flag of base axis nAxis: quickly to below it, then
    // through it count by count. The library takes an edge at the first count it sees
    // inside or outside the flag, so only a pass in rising counts measures the flag's true
    // centre; the calibration keeps the slowest pass.
    int SweepFlags(int nAxis, SIM_HW_REVISION eRevision)
    {
        const long* plFrom = eRevision == SIM_HW_REV_OLD ? kalOldFlagsFrom : kalNewFlagsFrom;
        const long* plTo = eRevision == SIM_HW_REV_OLD ? kalOldFlagsTo : kalNewFlagsTo;
        int r = MoveMotorTo(nAxis, nAxis, plFrom[nAxis] - kSweepMargin, kApproachStep);
        if (r == 0)
            r = MoveMotorTo(nAxis, nAxis, plTo[nAxis] + kSweepMargin, 1);
        return r;
    }

    // The counter offsets of the simulated arm, as a correct calibration must find them.
    void TrueOffsets(long alOffsets[6])
    {
        for (int k = 0; k < 6; k++)
            alOffsets[k] = Arm()->GetTrueEncoderOffset(k);
    }

    // The pose read through the library equals the arm's true pose: encoder values to the
    // count, joint angles and stylus position to what one count can make of them.
    void ExpectTruePose(int nHandle, int nEncoders)
    {
        long alEncoders[6] = {0};
        ASSERT_EQ(0, get_encoder_values(nHandle, alEncoders));
        for (int k = 0; k < nEncoders; k++)
            EXPECT_EQ(RoundCount(Arm()->GetEncoderPosition(k)), alEncoders[k]) << "encoder " << k;
        float afAngles[6] = {0};
        ASSERT_EQ(0, get_kinetor_joint_angles(nHandle, afAngles));
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(Arm()->GetJointAngle(i), afAngles[i], 5e-4) << "joint " << i;
        float afPos[3] = {0};
        ASSERT_EQ(0, get_kinetor_pos(nHandle, afPos));
        double adTrue[3];
        Arm()->GetStylusPosition(adTrue);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(adTrue[i], afPos[i], 0.2) << "axis " << i;
    }

    // A Bravis that was powered up out of its inkwell: its counters read 0 at a pose that
    // is not the one the flags are measured from, so its true offsets are far from 0.
    int OpenBravisPoweredUpElsewhere()
    {
        SIM_TEST_CONFIG config = SimTestConfig(3);
        config.nTimeoutCircuit = 0;
        int nHandle = OpenSimulatedArm(config);
        if (nHandle < 0)
            return nHandle;
        const double adMove[3] = {0.3, -0.25, 0.5};
        for (int i = 0; i < 3; i++)
            Arm()->SetJointAngle(i, Arm()->GetJointAngle(i) + adMove[i]);
        Arm()->ResetEncoders();
        if (RunTicks(3) != 0)
            ADD_FAILURE() << "first ticks failed";
        return nHandle;
    }

    int OpenCirrel()
    {
        SIM_TEST_CONFIG config = SimTestConfig(5);
        config.nTimeoutCircuit = 0;
        for (int k = 0; k < 6; k++)
            config.anInkwellOffset[k] = kanInkwell[k];
        return OpenSimulatedArm(config);
    }

    // Sweeps the three flags (axis 1 first: it moves axis 2's counter as well) and gives
    // the calibration the ticks after which it has looked at every pass.
    int SweepAllFlags(SIM_HW_REVISION eRevision = SIM_HW_REV_NEW)
    {
        for (int nAxis : {1, 0, 2}) {
            int r = SweepFlags(nAxis, eRevision);
            if (r != 0)
                return r;
        }
        return RunTicks(1000);
    }
};

TEST_F(CalibrationTest, BravisSweptThroughItsFlagsFindsTheTrueOffsets)
{
    int nHandle = OpenBravisPoweredUpElsewhere();
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(SIM_HW_REV_NEW, Arm()->GetHardwareRevision());
    EXPECT_EQ(SIM_HW_REV_NUM_NEW, get_hardware_rev(nHandle));
    EXPECT_EQ(1, is_calibration_supported(nHandle));
    long alTrue[6];
    TrueOffsets(alTrue);
    for (int k = 0; k < 3; k++)
        ASSERT_GT(labs(alTrue[k]), 1000) << k;

    // Nothing measured yet, and the offsets in use (none stored) are wrong.
    EXPECT_EQ(kAllIncorrect, CalibrationStatus());

    ASSERT_EQ(0, SweepAllFlags());
    EXPECT_EQ(kAllValid | kAllIncorrect, CalibrationStatus());
    // Measured is not yet in use: the pose still reads with the power-up counts.
    long alEncoders[6];
    ASSERT_EQ(0, get_encoder_values(nHandle, alEncoders));
    for (int k = 0; k < 3; k++)
        EXPECT_NE(RoundCount(Arm()->GetEncoderPosition(k)), alEncoders[k]) << k;

    ASSERT_EQ(0, update_calibration(nHandle));
    EXPECT_EQ(kAllValid, CalibrationStatus());
    ASSERT_EQ(0, RunTicks(3));
    ExpectTruePose(nHandle, 6);

    // The committed offsets went to the configuration's offsets file, measured by passes
    // of one count per tick at each edge; the gimbal channels are not flag-calibrated.
    long alOffsets[6], alVelocities[6];
    ASSERT_TRUE(ReadOffsetsFile(ConfigPath("KinetorCalibration(arm)"), alOffsets, alVelocities));
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(alTrue[k], alOffsets[k]) << k;
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(2, alVelocities[k]) << k;
    for (int k = 3; k < 6; k++)
        EXPECT_EQ(kUnknownVelocity, alVelocities[k]) << k;

    // The arm moved somewhere else still reads true.
    Arm()->SetJointAngle(0, Arm()->GetJointAngle(0) - 0.05);
    Arm()->SetJointAngle(2, Arm()->GetJointAngle(2) + 0.05);
    ASSERT_EQ(0, RunTicks(3));
    ExpectTruePose(nHandle, 6);
}

TEST_F(CalibrationTest, OldBoardIsCalibratedFromItsFlagsAndGaps)
{
    int nHandle = OpenBravisPoweredUpElsewhere();
    ASSERT_GE(nHandle, 0);
    Arm()->SetHardwareRevision(SIM_HW_REV_OLD);
    ASSERT_EQ(0, RunTicks(2));
    EXPECT_EQ(SIM_HW_REV_NUM_OLD, get_hardware_rev(nHandle));
    long alTrue[6];
    TrueOffsets(alTrue);

    // Every flag and gap of the old tables is crossed at the same slow pace, so each one
    // alone would give the true offset.
    ASSERT_EQ(0, SweepAllFlags(SIM_HW_REV_OLD));
    EXPECT_EQ(kAllValid | kAllIncorrect, CalibrationStatus());
    ASSERT_EQ(0, update_calibration(nHandle));
    EXPECT_EQ(kAllValid, CalibrationStatus());
    ASSERT_EQ(0, RunTicks(3));
    ExpectTruePose(nHandle, 6);
    long alOffsets[6], alVelocities[6];
    ASSERT_TRUE(ReadOffsetsFile(ConfigPath("KinetorCalibration(arm)"), alOffsets, alVelocities));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(alTrue[k], alOffsets[k]) << k;
}

TEST_F(CalibrationTest, EnablingForcesStartsTheSweepAgain)
{
    int nHandle = OpenBravisPoweredUpElsewhere();
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, SweepAllFlags());
    ASSERT_EQ(kAllValid | kAllIncorrect, CalibrationStatus());

    // Switching the amplifiers on forgets the passes seen so far.
    ASSERT_EQ(0, enable_kinetor_forces(nHandle));
    ASSERT_EQ(0, RunTicks(1));
    EXPECT_EQ(kAllIncorrect, CalibrationStatus());

    // The usual way: the application runs with forces on (here commanding none) while the
    // user takes the arm through its flags.
    ASSERT_EQ(0, SweepAllFlags());
    EXPECT_EQ(kAllValid | kAllIncorrect, CalibrationStatus());
    ASSERT_EQ(0, update_calibration(nHandle));
    EXPECT_EQ(kAllValid, CalibrationStatus());
    ASSERT_EQ(0, RunTicks(3));
    ExpectTruePose(nHandle, 6);
    EXPECT_EQ(1, is_kinetor_forces_enabled(nHandle));
    EXPECT_EQ(0, disable_kinetor_forces(nHandle));
}

TEST_F(CalibrationTest, BravisReopenedUsesItsStoredOffsets)
{
    int nHandle = OpenBravisPoweredUpElsewhere();
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, SweepAllFlags());
    ASSERT_EQ(0, update_calibration(nHandle));
    ASSERT_EQ(0, CloseDevice(nHandle));

    // Same arm, same counters: the offsets come back from the file, right from the start.
    nHandle = OpenDevice("arm");
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, RunTicks(3));
    ExpectTruePose(nHandle, 6);
    // Nothing measured in this session, and nothing in use is wrong.
    EXPECT_EQ(0, CalibrationStatus());
}

TEST_F(CalibrationTest, BravisClosedAfterASweepKeepsWhatItMeasured)
{
    int nHandle = OpenBravisPoweredUpElsewhere();
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, SweepAllFlags());
    EXPECT_EQ(kAllValid | kAllIncorrect, CalibrationStatus());
    // Closed without committing: the offsets measured better than those in use are stored.
    ASSERT_EQ(0, CloseDevice(nHandle));
    EXPECT_TRUE(ConfigFileExists("KinetorCalibration(arm)"));

    nHandle = OpenDevice("arm");
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, RunTicks(3));
    ExpectTruePose(nHandle, 6);
}

TEST_F(CalibrationTest, BravisStartsCalibratingAfreshWhenTheLinkComesBack)
{
    int nHandle = OpenBravisPoweredUpElsewhere();
    ASSERT_GE(nHandle, 0);
    long alTrue[6];
    TrueOffsets(alTrue);
    ASSERT_EQ(0, SweepAllFlags());
    ASSERT_EQ(0, update_calibration(nHandle));
    ASSERT_EQ(kAllValid, CalibrationStatus());

    SimInjectEPPEchoErrors(0, kLinkLossMisses);
    ASSERT_EQ(0, RunTicks(kLinkLossMisses - 1));
    EXPECT_EQ(kCodeLinkLost, update_kinetor(nHandle));
    AwaitTick(nHandle);

    // The device answers again: whatever was measured or in use is forgotten, and the
    // counters are read as they come from the device. (The jump this makes in the pose
    // falls within the settling updates after the calibration, so no overspeed is posted.)
    EXPECT_EQ(0, update_kinetor(nHandle));
    AwaitTick(nHandle);
    EXPECT_EQ(kAllIncorrect, CalibrationStatus());
    long alEncoders[6];
    ASSERT_EQ(0, get_encoder_values(nHandle, alEncoders));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(RoundCount(Arm()->GetEncoderPosition(k)) + alTrue[k], alEncoders[k]) << k;

    // A new sweep calibrates it again.
    ASSERT_EQ(0, SweepAllFlags());
    EXPECT_EQ(kAllValid | kAllIncorrect, CalibrationStatus());
    ASSERT_EQ(0, update_calibration(nHandle));
    ASSERT_EQ(0, RunTicks(3));
    ExpectTruePose(nHandle, 6);
}

TEST_F(CalibrationTest, CirrelOutOfItsInkwellWaitsUntilItIsDocked)
{
    int nHandle = OpenCirrel();
    ASSERT_GE(nHandle, 0);
    // Taken out of the inkwell before the first servo tick.
    Arm()->SetJointAngle(0, Arm()->GetJointAngle(0) + 0.2);
    ASSERT_FALSE(Arm()->IsDocked());
    ASSERT_EQ(0, RunTicks(40));
    EXPECT_EQ(kAllIncorrect, CalibrationStatus());

    // Back in the inkwell: the docked reading must hold for ten exchanges to count.
    Arm()->Dock();
    ASSERT_EQ(0, RunTicks(9));
    EXPECT_EQ(kAllIncorrect, CalibrationStatus());
    ASSERT_EQ(0, RunTicks(1));
    EXPECT_EQ(kAllValid | kAllIncorrect, CalibrationStatus());
    ASSERT_EQ(0, update_calibration(nHandle));
    EXPECT_EQ(kAllValid, CalibrationStatus());
    ASSERT_EQ(0, RunTicks(3));
    ExpectTruePose(nHandle, 5);

    // The inkwell gives the offsets of the three base axes and two gimbal channels; they are
    // taken at rest.
    long alTrue[6];
    TrueOffsets(alTrue);
    for (int k = 0; k < 5; k++)
        ASSERT_EQ(-kanInkwell[k], alTrue[k]) << k;
    long alOffsets[6], alVelocities[6];
    ASSERT_TRUE(ReadOffsetsFile(ConfigPath("KinetorCalibration(arm)"), alOffsets, alVelocities));
    for (int k = 0; k < 5; k++) {
        EXPECT_EQ(alTrue[k], alOffsets[k]) << k;
        EXPECT_EQ(0, alVelocities[k]) << k;
    }
}

}  // namespace
