// Opening every arm model on the parallel port and reading its motion back through the flat
// interface, compared with the simulated arm's true pose.
#include <math.h>
#include <string.h>

#include <random>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "SimFixture.h"

namespace {

const double kdTwoPi = 6.28318;  // the library's counts-to-radians constant
const float kfPi = 3.14159f;

typedef double MAT3[3][3];

void Multiply(const MAT3 a, const MAT3 b, MAT3 r)
{
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
}

void Rotation(char cAxis, double a, MAT3 r)
{
    double c = cos(a), s = sin(a);
    MAT3 x = {{1, 0, 0}, {0, c, -s}, {0, s, c}};
    MAT3 y = {{c, 0, s}, {0, 1, 0}, {-s, 0, c}};
    MAT3 z = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
    const MAT3& m = cAxis == 'x' ? x : (cAxis == 'y' ? y : z);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            r[i][j] = m[i][j];
}

// Orientation of the stylus in the base: turn about the vertical by the base angle, tilt
// with the second link, then the gimbal's yaw, pitch and roll. Column j is the stylus's
// j-th axis.
void StylusOrientation(const double* q, MAT3 r)
{
    MAT3 a, b, t1, t2, t3;
    Rotation('y', -q[0], a);
    Rotation('x', -(q[1] + q[2]), b);
    Multiply(a, b, t1);
    Rotation('y', q[3], a);
    Multiply(t1, a, t2);
    Rotation('x', -q[4], a);
    Multiply(t2, a, t3);
    Rotation('z', -q[5], a);
    Multiply(t3, a, r);
}

class OpenAndMotionTest : public CSimFixture {
protected:
    // Angle of one encoder count of each joint, the worst a correct reading may be off by
    // (half a count from rounding on the joint's own motor, and on the first link's motor
    // through the second link's coupling).
    static void JointResolution(const SIM_TEST_CONFIG& c, double dCoupling, double* pdRes)
    {
        for (int i = 0; i < 3; i++)
            pdRes[i] = c.afRatio[i] * kdTwoPi / (double)c.alCPR[i];
        pdRes[2] += fabs(dCoupling) * pdRes[1];
        // Only the 6-DOF arm has gears on its gimbal axes.
        for (int i = 3; i < 6; i++)
            pdRes[i] = (c.nModelType == 4 ? fabs(c.afRatio[i]) : 1.0) * kdTwoPi / (double)c.alCPR[i];
    }

    // Moves the arm to random poses around its power-up pose and checks joint angles and
    // tip position against the truth. pfnGimbal turns a true gimbal angle into what the
    // library reports for that model.
    void CheckRandomPoses(const SIM_TEST_CONFIG& c, double dCoupling, float (*pfnGimbal)(int, double))
    {
        ASSERT_NE(nullptr, Arm());
        double adRes[6];
        JointResolution(c, dCoupling, adRes);
        double adRest[6];
        for (int i = 0; i < 6; i++)
            adRest[i] = Arm()->GetRestJointAngle(i);
        const double adOffset[3] = {(double)c.anWorkspaceOffset[0], (double)c.anWorkspaceOffset[1],
                                    (double)c.anWorkspaceOffset[2]};
        const double dL1 = SimTestLinkMm(c.lL1);
        const double dL2 = SimTestLinkMm(c.lL2);

        std::mt19937 gen(20261207u);
        std::uniform_real_distribution<double> base(-0.9, 0.9);
        std::uniform_real_distribution<double> gimbal(-2.0, 2.0);
        for (int nPose = 0; nPose < 25; nPose++) {
            double adQ[6];
            for (int i = 0; i < 3; i++)
                adQ[i] = adRest[i] + base(gen);
            for (int i = 3; i < 6; i++)
                adQ[i] = adRest[i] + gimbal(gen);
            Arm()->SetJointAngles(adQ);
            ASSERT_EQ(0, RunTicks(2));

            double adTrue[6];
            for (int i = 0; i < 6; i++)
                adTrue[i] = Arm()->GetJointAngle(i);
            for (int i = 0; i < 6; i++)
                ASSERT_NEAR(adQ[i], adTrue[i], 1e-9) << "pose " << nPose << " joint " << i << " was clamped";

            float afAngles[6] = {0, 0, 0, 0, 0, 0};
            ASSERT_EQ(0, get_kinetor_joint_angles(Handle(), afAngles));
            for (int i = 0; i < 3; i++)
                EXPECT_NEAR(adTrue[i], afAngles[i], 0.5 * adRes[i] + 1e-5) << "pose " << nPose << " joint " << i;
            for (int i = 3; i < 6; i++)
                EXPECT_NEAR(pfnGimbal(i, adTrue[i]), afAngles[i], 0.5 * adRes[i] + 1e-5)
                    << "pose " << nPose << " joint " << i;

            // The older readers: base angle, first link, and the second link's absolute angle
            // (measured from the vertical in the 6-DOF form).
            float afEnc[3];
            ASSERT_EQ(0, get_kinetor_encoders(Handle(), afEnc));
            EXPECT_NEAR(adTrue[0], afEnc[0], 0.5 * adRes[0] + 1e-5);
            EXPECT_NEAR(adTrue[1], afEnc[1], 0.5 * adRes[1] + 1e-5);
            EXPECT_NEAR(adTrue[1] + adTrue[2], afEnc[2], 0.5 * (adRes[1] + adRes[2]) + 1e-5);
            float afEnc6[6];
            ASSERT_EQ(0, get_kinetor_encoders_6dof(Handle(), afEnc6));
            EXPECT_NEAR(1.570795 + adTrue[1] + adTrue[2], afEnc6[2], 0.5 * (adRes[1] + adRes[2]) + 1e-5);
            for (int i = 3; i < 6; i++)
                EXPECT_NEAR(c.nModelType == 4 ? adTrue[i] : 0.0, afEnc6[i], 0.5 * adRes[i] + 1e-5);

            double adPos[3];
            SimTestTipPosition(dL1, dL2, adTrue, adOffset, adPos);
            // The position may be off by what the joint resolution moves the tip.
            double adJ[3][3];
            SimTestTipJacobian(dL1, dL2, adTrue, adJ);
            float afPos[3];
            ASSERT_EQ(0, get_kinetor_pos(Handle(), afPos));
            for (int r = 0; r < 3; r++) {
                double dTol = 1e-3;
                for (int j = 0; j < 3; j++)
                    dTol += fabs(adJ[r][j]) * 0.5 * adRes[j];
                EXPECT_NEAR(adPos[r], afPos[r], dTol) << "pose " << nPose << " axis " << r;
            }
            // The simulator's own tip agrees with this geometry (without workspace origin).
            double adSimPos[3], adNoOffset[3];
            Arm()->GetStylusPosition(adSimPos);
            SimTestTipPosition(dL1, dL2, adTrue, nullptr, adNoOffset);
            for (int r = 0; r < 3; r++)
                EXPECT_NEAR(adNoOffset[r], adSimPos[r], 1e-6);

            // The stylus frame: rows are the stylus axes, row 3 the tip.
            float T[4][4];
            ASSERT_EQ(0, get_stylus_matrix(Handle(), T));
            MAT3 adR;
            StylusOrientation(adTrue, adR);
            for (int i = 0; i < 3; i++)
                for (int j = 0; j < 3; j++)
                    EXPECT_NEAR(adR[j][i], T[i][j], 0.01) << "pose " << nPose << " R" << i << j;
            for (int j = 0; j < 3; j++)
                EXPECT_FLOAT_EQ(afPos[j], T[3][j]);
            EXPECT_EQ(1.0f, T[3][3]);

            // The Jacobian the library reports is the derivative of the same geometry.
            double adLibJ[6][6];
            ASSERT_EQ(0, get_kinetor_jacobian(Handle(), adLibJ));
            for (int r = 0; r < 3; r++)
                for (int j = 0; j < 3; j++) {
                    if (r == 1 && j == 0)
                        continue;  // never filled in by the library
                    EXPECT_NEAR(adJ[r][j], adLibJ[r][j], 0.05) << "pose " << nPose << " J" << r << j;
                }
        }
    }
};

TEST_F(OpenAndMotionTest, EveryModelOpensAndNamesItself)
{
    struct {
        int nModel;
        long lLength;
        const char* pszExpected;
    } cases[] = {
        {1, 5500, "KINETOR Altura 1.0"},       {1, 8250, "KINETOR Altura 1.5"},
        {1, 18000, "KINETOR Altura 3.0"},      {2, 5500, "KINETOR Altura T"},
        {3, 5500, "KINETOR Bravis"},           {4, 8250, "KINETOR Altura 1.5 6DOF"},
        {4, 18000, "KINETOR Altura 3.0 6DOF"}, {5, 5500, "KINETOR Cirrel"},
    };
    for (const auto& c : cases) {
        SIM_TEST_CONFIG config = SimTestConfig(c.nModel);
        config.lL1 = c.lLength;
        config.lL2 = c.lLength;
        int nHandle = OpenSimulatedArm(config);
        ASSERT_GE(nHandle, 0) << c.pszExpected;
        const char* pszModel = get_kinetor_model_type(nHandle);
        ASSERT_NE(nullptr, pszModel);
        EXPECT_STREQ(c.pszExpected, pszModel);
        const char* pszSerial = get_hardware_serial_number(nHandle);
        ASSERT_NE(nullptr, pszSerial);
        EXPECT_STREQ("Unavailable", pszSerial);
        ASSERT_NE(nullptr, Arm());
        EXPECT_EQ(c.nModel, Arm()->GetModelType());
        // The device runs: ticks go through and the arm reads back where it rests.
        ASSERT_EQ(0, RunTicks(5)) << c.pszExpected;
        float afAngles[6];
        ASSERT_EQ(0, get_kinetor_joint_angles(nHandle, afAngles));
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(Arm()->GetRestJointAngle(i), afAngles[i], 1e-3) << c.pszExpected << " joint " << i;
        EXPECT_EQ(0, CloseDevice(nHandle));
        EXPECT_EQ(-11, update_kinetor(nHandle));
    }
}

TEST_F(OpenAndMotionTest, UnknownNameDoesNotOpen)
{
    ASSERT_TRUE(WriteConfig(SimTestConfig(1)));
    StartSimulator();
    EXPECT_EQ(-5, OpenDevice("no such arm"));
    EXPECT_EQ(nullptr, get_kinetor_model_type(0));
}

TEST_F(OpenAndMotionTest, AlturaReadsTheTruePose)
{
    SIM_TEST_CONFIG c = SimTestConfig(1, 2);
    c.afResetAngle[1] = 0.35f;
    c.afResetAngle[2] = -0.6f;
    ASSERT_GE(OpenSimulatedArm(c), 0);
    // Altura: no transfer drive, the second link's motor measures the absolute angle.
    CheckRandomPoses(c, 1.0, [](int, double dTrue) { return (float)dTrue; });
}

TEST_F(OpenAndMotionTest, SixDofReadsTheTruePoseThroughItsGimbalGears)
{
    SIM_TEST_CONFIG c = SimTestConfig(4);
    c.afRatio[3] = 0.35f;
    c.afRatio[4] = 0.3f;
    c.afRatio[5] = 0.25f;
    c.afResetAngle[1] = 0.1f;
    c.afResetAngle[4] = -1.2f;
    ASSERT_GE(OpenSimulatedArm(c), 0);
    EXPECT_EQ(1, is_kinetor_reset_supported(Handle()));
    ASSERT_EQ(0, HomeAltura());
    // Jumping from pose to pose would spin the gimbal far beyond what its speed check allows.
    ASSERT_EQ(0, enable_kinetor_velocity_check(Handle(), 0));
    CheckRandomPoses(c, 1.0, [](int, double dTrue) { return (float)dTrue; });
}

TEST_F(OpenAndMotionTest, FineEncodersWrapWithoutLosingThePose)
{
    // 40000 counts per motor turn: a sweep of the base joint turns its 16-bit counter over
    // more than once, which the library has to follow tick by tick.
    SIM_TEST_CONFIG c = SimTestConfig(1, 0);
    for (int i = 0; i < 3; i++)
        c.alCPR[i] = 40000;
    ASSERT_GE(OpenSimulatedArm(c), 0);
    ASSERT_EQ(0, RunTicks(2));
    const double dL1 = SimTestLinkMm(c.lL1);
    const double dL2 = SimTestLinkMm(c.lL2);
    double adQ[6];
    for (int i = 0; i < 6; i++)
        adQ[i] = Arm()->GetJointAngle(i);
    const double dStart = adQ[0];
    unsigned int uWraps = 0;
    USHORT usLast = Arm()->GetEncoderCounter(0);
    // Out and back: 1.2 rad each way in 2 mrad steps, slow enough for the velocity check.
    for (int n = 1; n <= 1200; n++) {
        adQ[0] = dStart + 0.002 * (n <= 600 ? n : 1200 - n);
        adQ[1] = 0.3 * sin(0.01 * n);
        Arm()->SetJointAngles(adQ);
        ASSERT_EQ(0, RunTicks(1)) << "step " << n;
        USHORT usNow = Arm()->GetEncoderCounter(0);
        if ((usNow < 0x4000 && usLast > 0xC000) || (usNow > 0xC000 && usLast < 0x4000))
            uWraps++;
        usLast = usNow;
        if (n % 50 != 0)
            continue;
        float afAngles[6];
        ASSERT_EQ(0, get_kinetor_joint_angles(Handle(), afAngles));
        double adTrue[3] = {Arm()->GetJointAngle(0), Arm()->GetJointAngle(1), Arm()->GetJointAngle(2)};
        EXPECT_NEAR(adTrue[0], afAngles[0], 2e-5 + 1e-6 * fabs(adTrue[0])) << "step " << n;
        EXPECT_NEAR(adTrue[1], afAngles[1], 2e-5) << "step " << n;
        double adPos[3];
        SimTestTipPosition(dL1, dL2, adTrue, nullptr, adPos);
        float afPos[3];
        ASSERT_EQ(0, get_kinetor_pos(Handle(), afPos));
        for (int r = 0; r < 3; r++)
            EXPECT_NEAR(adPos[r], afPos[r], 0.01) << "step " << n << " axis " << r;
        long alEnc[6];
        ASSERT_EQ(0, get_encoder_values(Handle(), alEnc));
        EXPECT_NEAR(Arm()->GetEncoderPosition(0), (double)alEnc[0], 0.5 + 1e-9) << "step " << n;
    }
    EXPECT_GE(uWraps, 2u);  // the counter did wrap, out and back
}

TEST_F(OpenAndMotionTest, ApplicationFrameMovesAndTurnsThePosition)
{
    SIM_TEST_CONFIG c = SimTestConfig(1, 2);
    ASSERT_GE(OpenSimulatedArm(c), 0);
    double adQ[6];
    for (int i = 0; i < 6; i++)
        adQ[i] = Arm()->GetJointAngle(i);
    adQ[0] += 0.4;
    adQ[1] += 0.3;
    adQ[2] -= 0.2;
    Arm()->SetJointAngles(adQ);
    ASSERT_EQ(0, RunTicks(2));
    double adDevice[3];
    Arm()->GetStylusPosition(adDevice);

    // The application's x is the device's y, its y the device's -x, its z the device's z
    // (right-handed); its origin sits at device point -(10, 20, 30).
    float afOrigin[3] = {10.0f, 20.0f, 30.0f};
    float afX[3] = {0.0f, 1.0f, 0.0f};
    float afY[3] = {-1.0f, 0.0f, 0.0f};
    float afZ[3] = {0.0f, 0.0f, 1.0f};
    ASSERT_EQ(0, set_kinetor_coordinate_system(Handle(), afOrigin, afX, afY, afZ));
    float afPos[3];
    ASSERT_EQ(0, get_kinetor_pos(Handle(), afPos));
    double adShifted[3] = {adDevice[0] + 10.0, adDevice[1] + 20.0, adDevice[2] + 30.0};
    const double dTol = 0.02;
    EXPECT_NEAR(adShifted[1], afPos[0], dTol);
    EXPECT_NEAR(-adShifted[0], afPos[1], dTol);
    EXPECT_NEAR(adShifted[2], afPos[2], dTol);
    // Velocities stay in the device frame.
    float afVel[3];
    ASSERT_EQ(0, get_kinetor_vel(Handle(), afVel));
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(0.0f, afVel[i], 1e-3f);
}

TEST_F(OpenAndMotionTest, TipVelocityFollowsTheJointRates)
{
    // Joint rates in rad/s, applied by moving the arm a little on every tick.
    const double adRate[3] = {0.4, -0.7, 0.9};
    for (int nModel : {1, 3, 5}) {
        SIM_TEST_CONFIG c = SimTestConfig(nModel);
        if (nModel != 1)
            c.afRatio[3] = 0.85f;  // the transfer drive couples the link rates
        ASSERT_GE(OpenSimulatedArm(c), 0) << nModel;
        const double dL1 = SimTestLinkMm(c.lL1);
        const double dL2 = SimTestLinkMm(c.lL2);
        double adQ[6];
        for (int i = 0; i < 6; i++)
            adQ[i] = Arm()->GetRestJointAngle(i);
        ASSERT_EQ(0, RunTicksWith(60, [&](int) {
            for (int i = 0; i < 3; i++)
                adQ[i] += adRate[i] / 1000.0;
            Arm()->SetJointAngles(adQ);
            return 0;
        })) << nModel;
        ASSERT_EQ(0, update_kinetor(Handle()));
        // One tick per millisecond of simulated time.
        EXPECT_NEAR(1000.0f, get_kinetor_rate(Handle()), 5.0f) << nModel;
        EXPECT_NEAR(1000.0f, get_kinetor_inst_rate(Handle()), 5.0f) << nModel;
        // The estimate lags the motion by about one tick; compare at the middle of it.
        double adMid[3];
        for (int i = 0; i < 3; i++)
            adMid[i] = adQ[i] - 0.5 * adRate[i] / 1000.0;
        double adJ[3][3];
        SimTestTipJacobian(dL1, dL2, adMid, adJ);
        float afVel[3], afInst[3];
        ASSERT_EQ(0, get_kinetor_vel(Handle(), afVel));
        ASSERT_EQ(0, get_kinetor_inst_vel(Handle(), afInst));
        double dSpeed = 0.0;
        double adExpected[3];
        for (int r = 0; r < 3; r++) {
            adExpected[r] = adJ[r][0] * adRate[0] + adJ[r][1] * adRate[1] + adJ[r][2] * adRate[2];
            dSpeed += adExpected[r] * adExpected[r];
        }
        dSpeed = sqrt(dSpeed);
        ASSERT_GT(dSpeed, 50.0);
        for (int r = 0; r < 3; r++) {
            EXPECT_NEAR(adExpected[r], afVel[r], 0.025 * dSpeed) << "model " << nModel << " axis " << r;
            EXPECT_EQ(afVel[r], afInst[r]);
        }
        ASSERT_EQ(0, CloseDevice(Handle()));
    }
}

TEST_F(OpenAndMotionTest, AlturaOnTheNarrowChannelHasNoGimbal)
{
    SIM_TEST_CONFIG c = SimTestConfig(1, 0);
    ASSERT_GE(OpenSimulatedArm(c), 0);
    ASSERT_EQ(0, RunTicks(2));
    EXPECT_EQ(0, kinetor_check_for_gimbal(Handle()));
    float afTheta[3] = {7.0f, 7.0f, 7.0f};
    EXPECT_EQ(-3, get_gimbal_encoders(Handle(), afTheta));
    EXPECT_EQ(7.0f, afTheta[0]);
    float T[4][4];
    EXPECT_EQ(-3, get_stylus_matrix(Handle(), T));
}

TEST_F(OpenAndMotionTest, BravisReadsTheTruePoseThroughItsTransferDrive)
{
    SIM_TEST_CONFIG c = SimTestConfig(3);
    c.afRatio[3] = 0.85f;  // a transfer drive that is not 1:1 shows a wrong coupling
    c.anWorkspaceOffset[0] = 12;
    c.anWorkspaceOffset[1] = -65;
    c.anWorkspaceOffset[2] = 88;
    c.afResetAngle[1] = -0.2f;
    c.afResetAngle[2] = 0.4f;
    c.afResetAngle[3] = 3.0f;
    c.afResetAngle[4] = 3.0f;
    c.afResetAngle[5] = 3.0f;
    ASSERT_GE(OpenSimulatedArm(c), 0);
    // The Bravis reports its gimbal relative to the upright stylus.
    CheckRandomPoses(c, 0.85, [](int nJoint, double dTrue) {
        float f = (float)dTrue;
        return nJoint == 4 ? kfPi - f : f - kfPi;
    });
}

TEST_F(OpenAndMotionTest, CirrelCalibratesInItsInkwellAndThenReadsTheTruePose)
{
    SIM_TEST_CONFIG c = SimTestConfig(5);
    c.afRatio[3] = 0.9f;
    c.anWorkspaceOffset[0] = -5;
    c.anWorkspaceOffset[1] = -40;
    c.anWorkspaceOffset[2] = 70;
    // Where the counters stand with the stylus in the inkwell, counted from the zero pose.
    const int anInkwell[6] = {1200, -800, 650, 300, -200, 0};
    for (int i = 0; i < 6; i++)
        c.anInkwellOffset[i] = anInkwell[i];
    c.afResetAngle[3] = 0.5f;
    c.afResetAngle[4] = -0.4f;
    ASSERT_GE(OpenSimulatedArm(c), 0);
    ASSERT_TRUE(Arm()->IsDocked());
    EXPECT_EQ(1, is_calibration_supported(Handle()));
    EXPECT_EQ(0, is_kinetor_reset_supported(Handle()));

    // Power-up counters read 0 in the inkwell; until calibrated the library does not know
    // that this is the inkwell pose. The reference is measured in the inkwell at once.
    ASSERT_EQ(0, RunTicks(12));
    int nStatus = 0;
    EXPECT_EQ(0, get_calibration_status(Handle(), &nStatus));
    EXPECT_EQ(0xFF, nStatus);
    ASSERT_EQ(0, update_calibration(Handle()));
    ASSERT_EQ(0, RunTicks(2));
    EXPECT_EQ(0, get_calibration_status(Handle(), &nStatus));
    EXPECT_EQ(0x0F, nStatus);
    long alEnc[6] = {0, 0, 0, 0, 0, 0};
    ASSERT_EQ(0, get_encoder_values(Handle(), alEnc));
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(anInkwell[k], alEnc[k]) << "motor " << k;

    // The Cirrel reports its gimbal turned round by half a revolution.
    CheckRandomPoses(c, 0.9, [](int nJoint, double dTrue) {
        float f = (float)dTrue;
        return nJoint == 4 ? -(kfPi + f) : f + kfPi;
    });
}

}  // namespace
