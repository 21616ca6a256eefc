// The simulated arm must be the mirror image of the library: what the library computes from
// the arm's counters must be the arm's true pose, and the torques the library means must be
// the ones the joints feel. The library's conversions are restated here from its documented
// formulas and tables, independently of the arm's own inverses.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "config/KinetorDevice.h"
#include "sim/SimArm.h"

namespace {

class CSimArmTestDirs : public ::testing::Environment {
public:
    void SetUp() override
    {
        char szConfig[] = "/tmp/simarm-config-XXXXXX";
        char szWork[] = "/tmp/simarm-work-XXXXXX";
        ASSERT_NE(mkdtemp(szConfig), nullptr);
        ASSERT_NE(mkdtemp(szWork), nullptr);
        m_strConfig = szConfig;
        m_strWork = szWork;
        setenv("KINETOR_CONFIG_FILES", szConfig, 1);
        ASSERT_EQ(chdir(szWork), 0);
    }
    void TearDown() override
    {
        rmdir(m_strWork.c_str());
        rmdir(m_strConfig.c_str());
    }

private:
    std::string m_strConfig, m_strWork;
};
[[maybe_unused]] ::testing::Environment* const g_pDirs = ::testing::AddGlobalTestEnvironment(new CSimArmTestDirs);

const double kdPi = 3.14159265358979323846;
const int kanModels[] = {1, 2, 3, 4, 5};

// ---- the library's view of a configuration ----
struct LIB {
    int nModel;
    int anMap[6];   // motor index of joint 0..5
    int anSign[6];  // sign by motor index
    float afR[6], afRpc[6], afTtm[6], afZero[6];
    long alInk[6];
    bool bTransfer;
    int nJoints;    // joints with encoders
};

LIB Lib(const CKinetorDevice& c)
{
    static const int anSwap[6] = {0, 2, 1, 3, 4, 5}, anId[6] = {0, 1, 2, 3, 4, 5};
    static const int anSigns[6][6] = {{0}, {1, -1, -1, -1, 1, -1}, {-1, -1, -1, -1, 1, -1},
                                      {-1, -1, -1, 1, 1, 1}, {1, -1, -1, -1, 1, -1}, {-1, -1, 1, -1, -1, -1}};
    LIB l;
    l.nModel = (int)c.m_nModelType;
    l.bTransfer = l.nModel == 3 || l.nModel == 5;
    l.nJoints = (l.nModel == 1 || l.nModel == 2) && c.m_nChannelSelect < 2 ? 3 : 6;
    const float afR[6] = {c.m_fR1, c.m_fR2, c.m_fR3, c.m_fR4, c.m_fR5, c.m_fR6};
    const ULONG anCpr[6] = {c.m_nCPR1, c.m_nCPR2, c.m_nCPR3, c.m_nCPR4, c.m_nCPR5, c.m_nCPR6};
    const ULONG anTtm[6] = {c.m_nTtm1, c.m_nTtm2, c.m_nTtm3, c.m_nTtm4, c.m_nTtm5, c.m_nTtm6};
    const float afZero[6] = {c.m_fResetAngle0, c.m_fResetAngle1, c.m_fResetAngle2,
                             c.m_fResetAngle3, c.m_fResetAngle4, c.m_fResetAngle5};
    const int anInk[6] = {c.m_nInkWellEncoderOffset0, c.m_nInkWellEncoderOffset1, c.m_nInkWellEncoderOffset2,
                          c.m_nInkWellEncoderOffset3, c.m_nInkWellEncoderOffset4, c.m_nInkWellEncoderOffset5};
    for (int i = 0; i < 6; ++i) {
        l.anMap[i] = (l.nModel == 1 || l.nModel == 2 || l.nModel == 4) ? anSwap[i] : anId[i];
        l.anSign[i] = anSigns[l.nModel][i];
        l.afR[i] = afR[i];
        l.afRpc[i] = 6.28318f / (float)anCpr[i];
        l.afTtm[i] = (float)anTtm[i] / 1000.0f;
        l.afZero[i] = afZero[i];
        l.alInk[i] = (SHORT)anInk[i];
    }
    return l;
}

// Joint angles from offset-corrected counts.
void LibAngles(const LIB& l, const long* plCounts, float* pfAngles)
{
    float afMotor[6];
    for (int k = 0; k < 6; ++k)
        afMotor[k] = (float)plCounts[k] * l.afRpc[k];
    for (int i = 0; i < 6; ++i) {
        float fMotor = l.anSign[l.anMap[i]] * afMotor[l.anMap[i]];
        if (i < 3 || l.nModel == 4)
            pfAngles[i] = fMotor * l.afR[i] + l.afZero[i];
        else
            pfAngles[i] = l.nModel == 5 ? fMotor - l.afZero[i] : fMotor + l.afZero[i];
    }
    pfAngles[2] = pfAngles[2] - pfAngles[1] * (l.bTransfer ? l.afR[3] : 1.0f);
}

// DAC counts for joint torques, through the model's motor torques.
void LibDacs(const LIB& l, const float* pfJoint, long* plDac)
{
    float afMotor[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < (l.nModel == 4 ? 6 : 3); ++i)
        afMotor[l.anMap[i]] = l.anSign[l.anMap[i]] * l.afR[i] * pfJoint[i];
    int m0 = l.anMap[0], m1 = l.anMap[1], m2 = l.anMap[2];
    if (l.nModel == 3)
        afMotor[m1] = afMotor[m1] - afMotor[m2] * l.afR[3];
    else if (l.nModel == 5)
        afMotor[m1] = afMotor[m1] + afMotor[m2] * l.afR[3];
    else
        afMotor[m1] = afMotor[m1] - afMotor[m2];
    afMotor[m1] = -afMotor[m1];
    afMotor[m2] = -afMotor[m2];
    if (l.bTransfer)
        afMotor[m0] = -afMotor[m0];
    for (int k = 0; k < 6; ++k)
        plDac[k] = (long)(l.afTtm[k] * afMotor[k] + 0.5f);
}

// Stylus tip from joint angles (workspace offsets 0).
void LibPosition(const CKinetorDevice& c, const CSimArm& arm, double* pdPos)
{
    double dL1 = 0.0254 * (double)c.m_nL1, dL2 = 0.0254 * (double)c.m_nL2;
    double q0 = arm.GetJointAngle(0), q1 = arm.GetJointAngle(1), q2 = arm.GetJointAngle(2);
    double dRho = dL2 * sin(q1 + q2) + dL1 * cos(q1);
    pdPos[0] = -dRho * sin(q0);
    pdPos[1] = dL1 * sin(q1) - dL2 * cos(q1 + q2) + dL2;
    pdPos[2] = dRho * cos(q0) - dL1;
}

// Every model with non-trivial numbers, so that a confused ratio, sign or zero shows.
CKinetorDevice MakeConfig(int nModel, int nCard = KINETOR_CARD_EPP)
{
    CKinetorDevice c;
    c.m_nModelType = (ULONG)nModel;
    c.m_nCardType = (ULONG)nCard;
    c.m_fResetAngle0 = 0.05f;
    c.m_fResetAngle1 = -0.10f;
    c.m_fResetAngle2 = 0.20f;
    if (nModel == 2)
        c.m_nChannelSelect = 0;  // no gimbal encoders
    if (nModel == 3) {
        c.m_fR1 = 0.08f, c.m_fR2 = 0.095f, c.m_fR3 = 0.085f, c.m_fR4 = 0.8f, c.m_fR5 = c.m_fR6 = 0.0f;
        c.m_fResetAngle3 = 0.3f;
        c.m_nInkWellEncoderOffset0 = 120, c.m_nInkWellEncoderOffset1 = -340;
        c.m_nInkWellEncoderOffset2 = 75, c.m_nInkWellEncoderOffset3 = 10;
    }
    if (nModel == 4) {
        c.m_fR4 = 0.5f, c.m_fR5 = 0.6f, c.m_fR6 = 0.7f;
        c.m_nTtm4 = c.m_nTtm5 = c.m_nTtm6 = 40000;
        c.m_nL1 = c.m_nL2 = 18000;
        c.m_fResetAngle4 = -0.2f;
    }
    if (nModel == 5) {
        c.m_fR1 = 0.07f, c.m_fR2 = 0.1f, c.m_fR3 = 0.1f, c.m_fR4 = 1.2f, c.m_fR5 = c.m_fR6 = 0.0f;
        c.m_nCPR1 = c.m_nCPR2 = c.m_nCPR3 = 2048;
        c.m_nCPR4 = c.m_nCPR5 = c.m_nCPR6 = 1024;
        c.m_fResetAngle3 = 0.4f, c.m_fResetAngle5 = -0.3f;
        c.m_nInkWellEncoderOffset0 = -900, c.m_nInkWellEncoderOffset1 = 1500;
        c.m_nInkWellEncoderOffset2 = -2000, c.m_nInkWellEncoderOffset4 = 33;
    }
    return c;
}

// Angle of one count of joint i's motor (plus the coupled first-link count for joint 2).
double CountTolerance(const LIB& l, int i)
{
    double dTol = (i < 3 || l.nModel == 4 ? fabs(l.afR[i]) : 1.0) * l.afRpc[l.anMap[i]];
    if (i == 2)
        dTol += (l.bTransfer ? fabs(l.afR[3]) : 1.0) * fabs(l.afR[1]) * l.afRpc[l.anMap[1]];
    return dTol;
}

}  // namespace

TEST(SimArmKinematics, CountersReadTheTruePoseThroughTheLibraryFormula)
{
    std::mt19937 gen(20261207u);
    std::uniform_real_distribution<double> spread(-1.0, 1.0);
    for (int nModel : kanModels) {
        SCOPED_TRACE("model " + std::to_string(nModel));
        CKinetorDevice c = MakeConfig(nModel);
        LIB l = Lib(c);
        CSimArm arm(c);
        // Power-up: every counter reads 0, and the pose is what the library makes of its
        // reference counts there (0 after homing on the Altura models, the inkwell readings
        // on the docking models).
        long alRef[6] = {0, 0, 0, 0, 0, 0};
        for (int k = 0; k < l.nJoints; ++k) {
            EXPECT_EQ(arm.GetEncoderCounter(k), 0) << "motor " << k;
            alRef[k] = l.bTransfer ? l.alInk[k] : 0;
        }
        float afAngles[6];
        LibAngles(l, alRef, afAngles);
        for (int i = 0; i < l.nJoints; ++i)
            EXPECT_NEAR(arm.GetJointAngle(i), afAngles[i], 1e-5) << "joint " << i;

        for (int nPose = 0; nPose < 40; ++nPose) {
            for (int i = 0; i < 6; ++i)
                arm.SetJointAngle(i, arm.GetRestJointAngle(i) + spread(gen));
            // Through the library's own offsets, and through the offset a calibration must find.
            for (bool bTrueOffset : {false, true}) {
                long alCounts[6] = {0, 0, 0, 0, 0, 0};
                for (int k = 0; k < l.nJoints; ++k) {
                    USHORT usOffset = bTrueOffset ? (USHORT)arm.GetTrueEncoderOffset(k) : (USHORT)-alRef[k];
                    alCounts[k] = (SHORT)(USHORT)(arm.GetEncoderCounter(k) - usOffset);
                }
                LibAngles(l, alCounts, afAngles);
                for (int i = 0; i < l.nJoints; ++i)
                    ASSERT_NEAR(afAngles[i], arm.GetJointAngle(i), CountTolerance(l, i))
                        << "joint " << i << " pose " << nPose << " true offset " << bTrueOffset;
            }
        }
    }
}

TEST(SimArmKinematics, ResetCountersReadZeroThenWrapLikeSixteenBitCounters)
{
    CKinetorDevice c = MakeConfig(1);
    LIB l = Lib(c);
    CSimArm arm(c);
    arm.SetJointAngle(0, 0.4);
    arm.ResetEncoders();
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(arm.GetEncoderCounter(k), 0);
    // Joint 0 of the Altura A turns with its motor: lower angles count down through zero.
    double dPerCount = l.afR[0] * l.afRpc[0];
    arm.SetJointAngle(0, 0.4 - 10.0 * dPerCount);
    EXPECT_EQ(arm.GetEncoderCounter(0), 65526);
    // The offset a calibration must find follows the reset.
    long alCounts[6] = {0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 3; ++k)
        alCounts[k] = (SHORT)(USHORT)(arm.GetEncoderCounter(k) - (USHORT)arm.GetTrueEncoderOffset(k));
    float afAngles[6];
    LibAngles(l, alCounts, afAngles);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(afAngles[i], arm.GetJointAngle(i), CountTolerance(l, i)) << "joint " << i;
}

TEST(SimArmDynamics, FreeArmWithoutTorqueNeverGainsEnergy)
{
    for (int nModel : kanModels) {
        SCOPED_TRACE("model " + std::to_string(nModel));
        CSimArm arm(MakeConfig(nModel));
        arm.SetHand(SIM_HAND_FREE);
        arm.SetAmplifiersEnabled(true);
        const double adV[6] = {0.6, -0.5, 0.4, 0.8, -0.7, 0.9};
        auto energy = [&arm]() {
            double dE = 0.0;
            for (int i = 0; i < 6; ++i)
                dE += 0.5 * arm.GetJointInertia(i) * arm.GetJointVelocity(i) * arm.GetJointVelocity(i);
            return dE;
        };
        for (int i = 0; i < 6; ++i)
            arm.SetJointVelocity(i, adV[i]);
        double dStart = energy(), dLast = dStart;
        ASSERT_GT(dStart, 0.0);
        for (int n = 0; n < 2000; ++n) {
            arm.Step(0.001);
            ASSERT_LE(energy(), dLast * (1.0 + 1e-12)) << "step " << n;
            dLast = energy();
        }
        // The damping really takes energy out, rather than just not adding any.
        EXPECT_LT(dLast, 0.5 * dStart);
    }
}

TEST(SimArmDynamics, TorqueTheLibraryMeansIsTheTorqueTheJointFeels)
{
    const double dT = 0.01;
    for (int nModel : kanModels) {
        CKinetorDevice c = MakeConfig(nModel);
        LIB l = Lib(c);
        for (int j = 0; j < (nModel == 4 ? 6 : 3); ++j) {
            for (float fSign : {1.0f, -1.0f}) {
                SCOPED_TRACE("model " + std::to_string(nModel) + " joint " + std::to_string(j) +
                             (fSign > 0 ? " +" : " -"));
                CSimArm arm(c);
                arm.SetHand(SIM_HAND_FREE);
                float afJoint[6] = {0, 0, 0, 0, 0, 0};
                afJoint[j] = fSign * (j < 3 ? 40.0f : 5.0f);
                long alDac[6];
                LibDacs(l, afJoint, alDac);
                for (int k = 0; k < 6; ++k)
                    arm.SetMotorDAC(k, alDac[k]);
                // Nothing moves until the amplifiers are on.
                arm.Step(dT);
                for (int i = 0; i < 6; ++i)
                    ASSERT_EQ(arm.GetJointVelocity(i), 0.0);
                arm.SetAmplifiersEnabled(true);
                arm.Step(dT);
                double dExpected = afJoint[j] / arm.GetJointInertia(j) * dT;
                EXPECT_NEAR(arm.GetJointVelocity(j), dExpected, 0.05 * fabs(dExpected));
                for (int i = 0; i < 6; ++i) {
                    if (i != j) {
                        EXPECT_LT(fabs(arm.GetJointVelocity(i)), 0.02 * fabs(dExpected)) << "joint " << i;
                    }
                }
            }
        }
    }
    // Counts beyond the DAC's range are clamped; switching off keeps them but drops the torque.
    CSimArm arm(MakeConfig(1));
    arm.SetMotorDAC(0, 40000);
    arm.SetMotorDAC(1, -40000);
    EXPECT_EQ(arm.GetMotorDAC(0), 32767);
    EXPECT_EQ(arm.GetMotorDAC(1), -32768);
    arm.SetAmplifiersEnabled(true);
    EXPECT_GT(arm.GetMotorJointTorque(0), 0.0);
    arm.SetAmplifiersEnabled(false);
    EXPECT_EQ(arm.GetMotorDAC(0), 32767);
    EXPECT_EQ(arm.GetMotorJointTorque(0), 0.0);
}

TEST(SimArmDynamics, JointStopsHoldAgainstFullMotorTorque)
{
    for (int nModel : kanModels) {
        CKinetorDevice c = MakeConfig(nModel);
        LIB l = Lib(c);
        for (int j = 0; j < 3; ++j) {
            for (float fSign : {1.0f, -1.0f}) {
                SCOPED_TRACE("model " + std::to_string(nModel) + " joint " + std::to_string(j) +
                             (fSign > 0 ? " +" : " -"));
                CSimArm arm(c);
                arm.SetHand(SIM_HAND_FREE);
                arm.SetAmplifiersEnabled(true);
                float afJoint[6] = {0, 0, 0, 0, 0, 0};
                afJoint[j] = fSign * 1.0e6f;  // saturates the DACs
                long alDac[6];
                LibDacs(l, afJoint, alDac);
                for (int k = 0; k < 3; ++k)
                    arm.SetMotorDAC(k, alDac[k]);
                double dLo, dHi, dWorst = 0.0;
                arm.GetJointLimits(j, dLo, dHi);
                for (int n = 0; n < 1500; ++n) {
                    arm.Step(0.001);
                    dWorst = fmax(dWorst, fSign > 0 ? arm.GetJointAngle(j) - dHi : dLo - arm.GetJointAngle(j));
                }
                // It hit the stop, overshot little and came to rest against it.
                EXPECT_GT(dWorst, -0.01);
                EXPECT_LT(dWorst, 0.1);
                EXPECT_LT(fabs(arm.GetJointVelocity(j)), 0.05);
            }
        }
    }
}

TEST(SimArmHand, HoldingHandBringsTheStylusBack)
{
    for (int nModel : kanModels) {
        SCOPED_TRACE("model " + std::to_string(nModel));
        CKinetorDevice c = MakeConfig(nModel);
        CSimArm arm(c);
        EXPECT_EQ(arm.GetHand(), SIM_HAND_HOLD);
        double adStart[3], adPos[3];
        LibPosition(c, arm, adStart);
        arm.SetExternalTorque(0, 300.0);
        arm.SetExternalTorque(1, -200.0);
        arm.SetExternalTorque(4, 3.0);
        for (int n = 0; n < 300; ++n)
            arm.Step(0.001);
        LibPosition(c, arm, adPos);
        EXPECT_GT(fabs(adPos[0] - adStart[0]) + fabs(adPos[1] - adStart[1]), 2.0);
        EXPECT_GT(fabs(arm.GetJointAngle(4) - arm.GetRestJointAngle(4)), 0.05);
        for (int i : {0, 1, 4})
            arm.SetExternalTorque(i, 0.0);
        for (int n = 0; n < 3000; ++n)
            arm.Step(0.001);
        LibPosition(c, arm, adPos);
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR(adPos[r], adStart[r], 0.2) << "axis " << r;
        EXPECT_NEAR(arm.GetJointAngle(4), arm.GetRestJointAngle(4), 0.01);
    }
}

TEST(SimArmHand, CirclingHandLeadsTheStylusRoundACircle)
{
    for (int nCase = 0; nCase < 4; ++nCase) {
        int nModel = nCase < 2 ? 1 : 5;
        SCOPED_TRACE("model " + std::to_string(nModel) + (nCase % 2 ? " moved" : " from rest"));
        CKinetorDevice c = MakeConfig(nModel);
        CSimArm arm(c);
        if (nCase % 2) {
            arm.SetJointAngle(1, arm.GetRestJointAngle(1) + 0.3);
            arm.SetJointAngle(2, arm.GetRestJointAngle(2) + 0.5);
        }
        double adAnchor[3], adP[3];
        LibPosition(c, arm, adAnchor);
        arm.SetCircle(25.0, 2.0);
        arm.SetHand(SIM_HAND_CIRCLE);
        const double dCx = adAnchor[0] - 25.0, dCy = adAnchor[1];
        double dSwept = 0.0, dLastPhi = 0.0, dWorstRadius = 0.0, dWorstZ = 0.0;
        for (int n = 1; n <= 2000; ++n) {
            arm.Step(0.001);
            LibPosition(c, arm, adP);
            double dPhi = atan2(adP[1] - dCy, adP[0] - dCx);
            dSwept += remainder(dPhi - dLastPhi, 2.0 * kdPi);
            dLastPhi = dPhi;
            dWorstRadius = fmax(dWorstRadius, fabs(hypot(adP[0] - dCx, adP[1] - dCy) - 25.0));
            dWorstZ = fmax(dWorstZ, fabs(adP[2] - adAnchor[2]));
        }
        // One period: one full counter-clockwise turn in the x-y plane.
        EXPECT_NEAR(dSwept, 2.0 * kdPi, 0.3);
        EXPECT_LT(dWorstRadius, 2.0);
        EXPECT_LT(dWorstZ, 2.0);
    }
}

namespace {

// Acceptance windows and centres (lower, upper, centre) of the calibration tables.
struct TABLE_ENTRY {
    long lLower, lUpper, lCenter;
};
const TABLE_ENTRY kaOldFlags[3][3] = {{{950, 1350, -5439}, {1425, 1750, 0}, {1850, 2250, 5439}},
                                      {{950, 1250, -10334}, {1325, 1600, -6268}, {1675, 2000, -2202}},
                                      {{800, 1400, 1295}, {0, 0, 0}, {0, 0, 0}}};
const TABLE_ENTRY kaOldGaps[2][2] = {{{3925, 4275, -2828}, {3450, 3850, 2611}},
                                     {{2625, 2950, -8385}, {2250, 2580, -4320}}};
const TABLE_ENTRY kaNewFlags[3][3] = {{{0, 0, 0}, {950, 1750, 0}, {0, 0, 0}},
                                      {{0, 0, 0}, {900, 1700, -6268}, {0, 0, 0}},
                                      {{400, 1200, 1295}, {0, 0, 0}, {0, 0, 0}}};

// Sweeps the joint that turns motor nAxis through its travel, like a user moving the arm
// slowly, and derives an offset (midpoint minus tabled centre) from every completed flag
// and gap, by table entry; an unidentified stretch is recorded with a null entry.
std::vector<std::pair<const TABLE_ENTRY*, long>> SweepAndCalibrate(CSimArm& arm, const LIB& l, int nAxis,
                                                                 bool bUp, bool bOld)
{
    int nJoint = l.anMap[1] == nAxis ? 1 : (l.anMap[2] == nAxis ? 2 : 0);
    std::vector<std::pair<const TABLE_ENTRY*, long>> found;
    double dLo, dHi;
    arm.GetJointLimits(nJoint, dLo, dHi);
    const int nSteps = 60000;
    bool bLast = false, bHaveEdge = false;
    long lEdge = 0;
    for (int n = 0; n <= nSteps; ++n) {
        double dFrac = (double)n / nSteps;
        arm.SetJointAngle(nJoint, bUp ? dLo + (dHi - dLo) * dFrac : dHi - (dHi - dLo) * dFrac);
        bool bNow = arm.GetHomeFlag(nAxis);
        EXPECT_NE(bNow, arm.GetHomeSensor(nAxis));
        long lCount = (SHORT)arm.GetEncoderCounter(nAxis);
        if (n > 0 && bNow != bLast) {
            long lWidth = labs(lCount - lEdge), lMid = (lCount + lEdge) / 2;
            const TABLE_ENTRY* pTable = bLast ? (bOld ? kaOldFlags[nAxis] : kaNewFlags[nAxis])
                                              : (bOld && nAxis < 2 ? kaOldGaps[nAxis] : nullptr);
            int nEntries = bLast ? (nAxis == 2 ? 1 : 3) : 2;
            if (bHaveEdge && pTable != nullptr) {
                const TABLE_ENTRY* pEntry = nullptr;
                for (int e = 0; e < nEntries && pEntry == nullptr; ++e)
                    if (pTable[e].lLower < lWidth && lWidth < pTable[e].lUpper)
                        pEntry = &pTable[e];
                found.push_back({pEntry, pEntry ? (long)(SHORT)(lMid - pEntry->lCenter) : 0});
            }
            lEdge = lCount;
            bHaveEdge = true;
        }
        bLast = bNow;
    }
    arm.Dock();
    return found;
}

}  // namespace

TEST(SimArmHomeSensors, FlagsAndGapsSitWhereTheCalibrationTablesExpectThem)
{
    for (int nModel : {3, 1}) {
        for (bool bOld : {true, false}) {
            SCOPED_TRACE("model " + std::to_string(nModel) + (bOld ? " old board" : " new board"));
            CKinetorDevice c = MakeConfig(nModel);
            LIB l = Lib(c);
            CSimArm arm(c);
            arm.SetHardwareRevision(bOld ? SIM_HW_REV_OLD : SIM_HW_REV_NEW);
            EXPECT_EQ(arm.GetHardwareRevNum() < 9, bOld);
            for (int nAxis = 0; nAxis < 3; ++nAxis) {
                SCOPED_TRACE("axis " + std::to_string(nAxis));
                auto up = SweepAndCalibrate(arm, l, nAxis, true, bOld);
                auto down = SweepAndCalibrate(arm, l, nAxis, false, bOld);
                size_t nExpected = !bOld || nAxis == 2 ? 1 : 5;  // three flags and two gaps
                ASSERT_EQ(up.size(), nExpected);
                ASSERT_EQ(down.size(), nExpected);
                // Every stretch identifies, and the two directions straddle the offset that
                // makes the library read true angles (edges land on whole counts).
                long lTrue = arm.GetTrueEncoderOffset(nAxis);
                for (size_t n = 0; n < nExpected; ++n) {
                    const auto& d = down[nExpected - 1 - n];
                    ASSERT_NE(up[n].first, nullptr);
                    ASSERT_EQ(up[n].first, d.first);
                    EXPECT_NEAR(up[n].second, lTrue, 1);
                    EXPECT_NEAR(d.second, lTrue, 1);
                    EXPECT_LE(labs(up[n].second + d.second - 2 * lTrue), 1);
                }
            }
        }
    }
}

TEST(SimArmHomeSensors, DockingModelsReportTheInkwell)
{
    struct CASE {
        int nModel, nCard;
        bool bInkwellHoming;
    };
    for (CASE k : {CASE{5, KINETOR_CARD_EPP, true}, CASE{5, KINETOR_CARD_1394, true},
                   CASE{3, KINETOR_CARD_1394, true}, CASE{3, KINETOR_CARD_EPP, false},
                   CASE{1, KINETOR_CARD_EPP, false}}) {
        SCOPED_TRACE("model " + std::to_string(k.nModel) + " card " + std::to_string(k.nCard));
        CSimArm arm(MakeConfig(k.nModel, k.nCard));
        // Behind FireWire the library always applies the old flag tables.
        EXPECT_EQ(arm.GetHardwareRevision(), k.nCard == KINETOR_CARD_1394 ? SIM_HW_REV_OLD : SIM_HW_REV_NEW);
        bool bHasInkwell = k.nModel != 1;
        for (int nPass = 0; nPass < 3; ++nPass) {
            bool bDocked = nPass != 1;
            if (nPass == 1)
                arm.SetJointAngle(0, arm.GetRestJointAngle(0) + 0.2);
            if (nPass == 2)
                arm.Dock();
            EXPECT_EQ(arm.GetInkwell(), bHasInkwell && bDocked);
            for (int nAxis = 0; nAxis < 3 && k.bInkwellHoming; ++nAxis) {
                EXPECT_EQ(arm.GetHomeFlag(nAxis), bDocked);
                EXPECT_EQ(arm.GetHomeSensor(nAxis), !bDocked);
            }
        }
    }
}

TEST(SimArmRobustness, OddConfigurationsAndArgumentsDoNoHarm)
{
    CKinetorDevice c = MakeConfig(4);
    c.m_nCPR2 = 0;   // an encoder the library cannot scale
    c.m_nTtm3 = 0;   // a motor the library cannot drive
    c.m_fR5 = 0.0f;  // a gimbal axis without drive
    CSimArm arm(c);
    EXPECT_TRUE(arm.GetPresence());
    EXPECT_FALSE(arm.GetDeviceFault());
    EXPECT_FALSE(arm.GetStylusSwitch(0));
    arm.SetAmplifiersEnabled(true);
    for (int k = 0; k < 6; ++k)
        arm.SetMotorDAC(k, 30000);
    arm.Step(NAN);
    arm.Step(-1.0);
    arm.Step(1e9);  // capped, never a hang
    arm.SetJointAngle(0, NAN);
    arm.SetJointVelocity(1, INFINITY);
    arm.SetExternalTorque(2, NAN);
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(isfinite(arm.GetJointAngle(i))) << "joint " << i;
        EXPECT_TRUE(isfinite(arm.GetJointVelocity(i))) << "joint " << i;
    }
    EXPECT_EQ(arm.GetEncoderCounter(1), 0);
    EXPECT_EQ(arm.GetEncoderCounter(-1), 0);
    EXPECT_EQ(arm.GetEncoderCounter(6), 0);
    EXPECT_FALSE(arm.GetHomeSensor(3));
    EXPECT_FALSE(arm.GetHomeFlag(-1));
    EXPECT_FALSE(arm.GetStylusSwitch(2));
    EXPECT_FALSE(arm.GetSpeedError(3));
    EXPECT_EQ(arm.GetJointAngle(9), 0.0);

    CKinetorDevice unknown;
    unknown.m_nModelType = 9;
    CSimArm odd(unknown);
    odd.Step(0.01);
    EXPECT_EQ(odd.GetEncoderCounter(0), 0);
}
