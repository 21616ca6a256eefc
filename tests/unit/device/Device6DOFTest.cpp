// The 6-DOF model against the scripted connection: its frame and Jacobian against
// independent computations, its motor map, the two amplifier groups, the six DAC words
// and the gimbal power assist.
#include <math.h>
#include <stdlib.h>

#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "ConnectionDouble.h"
#include "KinematicsCheck.h"
#include "device/Kinetor6DOFDevice.h"

namespace {

char g_szName[] = "six";

class Device6DOFTest : public ::testing::Test {
protected:
    Device6DOFTest() : m_scope(&m_script) {}

    void SetUp() override
    {
        ASSERT_TRUE(m_dirs.Ok());
        FillDefaultDeviceData(m_data);
        // An Altura 3.0 6DOF: geared gimbal axes with their own motors.
        m_data.bIs6DOF = 1;
        m_data.fL1 = m_data.fL2 = 18000 * 0.0254f;
        const float afRatio[6] = {0.076912f, 0.090066f, 0.090066f, 0.5f, 0.7f, 0.9f};
        for (int k = 0; k < 6; k++) {
            m_data.fReductionDirect[k] = afRatio[k];
            m_data.fTtm[k] = 1.0f;
            m_data.fMaxMotorTorques[k] = 50000.0f;
        }
        m_data.fZeroPositionJointAngles[0] = 0.1f;
        m_data.fZeroPositionJointAngles[1] = -0.2f;
        m_data.fZeroPositionJointAngles[2] = 0.3f;
        m_data.fZeroPositionJointAngles[3] = 0.4f;
        m_data.fZeroPositionJointAngles[4] = -0.5f;
        m_data.fZeroPositionJointAngles[5] = 0.6f;
    }

    CKinetor6DOFDevice* Open(bool bGimbal = true)
    {
        CKinetor6DOFDevice* pDevice = new CKinetor6DOFDevice(g_szName, 4, 0, bGimbal, &m_data);
        EXPECT_EQ(0, pDevice->OpenConnection(2));
        return pDevice;
    }

    CTestDirectories m_dirs;
    CConnectionScript m_script;
    CConnectionDoubleScope m_scope;
    _KINETOR_DEVICE_DATA m_data;
};

// Column-vector elementary rotations, in double.
void Rx(double a, double R[3][3])
{
    const double c = cos(a), s = sin(a);
    double M[3][3] = {{1, 0, 0}, {0, c, -s}, {0, s, c}};
    memcpy(R, M, sizeof(M));
}
void Ry(double a, double R[3][3])
{
    const double c = cos(a), s = sin(a);
    double M[3][3] = {{c, 0, s}, {0, 1, 0}, {-s, 0, c}};
    memcpy(R, M, sizeof(M));
}
void Rz(double a, double R[3][3])
{
    const double c = cos(a), s = sin(a);
    double M[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
    memcpy(R, M, sizeof(M));
}
void Multiply(const double A[3][3], const double B[3][3], double C[3][3])
{
    double T[3][3];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            T[i][j] = 0.0;
            for (int k = 0; k < 3; k++)
                T[i][j] += A[i][k] * B[k][j];
        }
    memcpy(C, T, sizeof(T));
}

TEST_F(Device6DOFTest, FrameRotationIsTheProductOfElementaryRotations)
{
    CKinetor6DOFDevice device(g_szName, 4, 0, true, &m_data);
    std::mt19937 rng(777u);
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    for (int n = 0; n < 50; n++) {
        float q[6];
        for (int j = 0; j < 6; j++)
            q[j] = angle(rng);
        float frame[4][4];
        ASSERT_EQ(0, device.CalculateEndpointTransform(q, frame, false));

        double R[3][3], E[3][3];
        Ry(-(double)q[0], R);
        Rx(-((double)q[1] + (double)q[2]), E);
        Multiply(R, E, R);
        Ry((double)q[3], E);
        Multiply(R, E, R);
        Rx(-(double)q[4], E);
        Multiply(R, E, R);
        Rz(-(double)q[5], E);
        Multiply(R, E, R);
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++)
                ASSERT_NEAR(R[j][i], frame[i][j], 2e-6) << "sample " << n << " [" << i << "][" << j << "]";
    }
}

TEST_F(Device6DOFTest, JacobianMatchesFiniteDifferencesOfTheEndpoint)
{
    CKinetor6DOFDevice device(g_szName, 4, 0, true, &m_data);
    const JACOBIAN_CHECK translation = CheckJacobianAgainstFiniteDifferences(&device, &m_data, 6, 0, 3, 30);
    EXPECT_LT(translation.dMaxError, 0.1) << "row " << translation.nRow << " col " << translation.nCol
                                          << " expected " << translation.dExpected << " got " << translation.dActual;
    const JACOBIAN_CHECK rotation = CheckJacobianAgainstFiniteDifferences(&device, &m_data, 6, 3, 6, 30);
    EXPECT_LT(rotation.dMaxError, 1e-3) << "row " << rotation.nRow << " col " << rotation.nCol
                                        << " expected " << rotation.dExpected << " got " << rotation.dActual;
}

// Joint angles from the encoder readings, written out from the motor map (joints 1 and 2
// swap motors), the signs (+ - - - + -) and the gears of every joint. The gimbal is read
// even when the gimbal flag is clear: this arm always has it.
TEST_F(Device6DOFTest, JointAnglesFollowTheMotorMapSignsAndGears)
{
    std::unique_ptr<CKinetor6DOFDevice> pDevice(Open(false));
    const SHORT asBase[3] = {1234, -2345, 3456};
    const SHORT asGimbal[3] = {-456, 567, -678};
    for (int i = 0; i < 3; i++) {
        m_script.m_asBase[i] = asBase[i];
        m_script.m_asGimbal[i] = asGimbal[i];
    }
    ASSERT_EQ(0, pDevice->UpdateKinetorJointAngles());

    const double enc[6] = {1234, -2345, 3456, -456, 567, -678};
    const double cpr[6] = {4000, 4000, 4000, 2000, 2000, 2000};
    double phi[6];
    for (int k = 0; k < 6; k++)
        phi[k] = enc[k] * 6.28318 / cpr[k];
    const float* r = m_data.fReductionDirect;
    double q[6];
    q[0] = r[0] * phi[0] + 0.1;
    q[1] = -r[1] * phi[2] - 0.2;
    q[2] = -r[2] * phi[1] + 0.3 - q[1];
    q[3] = -r[3] * phi[3] + 0.4;
    q[4] = r[4] * phi[4] - 0.5;
    q[5] = -r[5] * phi[5] + 0.6;
    for (int i = 0; i < 6; i++)
        EXPECT_NEAR(q[i], m_data.fJointAngles[i], 1e-5) << "joint " << i;
}

TEST_F(Device6DOFTest, VelocitiesUseAllSixMotorsAndGuardTheGimbal)
{
    CKinetor6DOFDevice device(g_szName, 4, 0, true, &m_data);
    m_data.nRuns = 5;
    m_data.fInstantaneousRate = 1000.0f;
    m_data.fFilterC0 = 1.0f;
    m_data.fFilterC1 = 0.0f;
    m_data.fFilterD1 = 0.0f;
    const float afStep[6] = {0.001f, 0.002f, 0.003f, 0.004f, 0.005f, 0.006f};
    for (int k = 0; k < 6; k++) {
        m_data.fLastMotorAngles[k] = 1.0f;
        m_data.fMotorAngles[k] = 1.0f + afStep[k];
    }
    ASSERT_EQ(0, device.CalculateJointVelocities());
    // Motor velocities are step * 1000 rad/s: 1, 2, 3, 4, 5, 6.
    const float* r = m_data.fReductionDirect;
    double w[6];
    w[0] = r[0] * 1.0;
    w[1] = -r[1] * 3.0;
    w[2] = -r[2] * 2.0 - w[1];
    w[3] = -r[3] * 4.0;
    w[4] = r[4] * 5.0;
    w[5] = -r[5] * 6.0;
    for (int i = 0; i < 6; i++)
        EXPECT_NEAR(w[i], m_data.fJointVelocity[i], 2e-3) << "joint " << i;

    // A gimbal joint above 50 rad/s is refused when checking, computed otherwise.
    for (int i = 0; i < 6; i++)
        for (int j = 0; j < 6; j++)
            m_data.fJacobian[i][j] = (i == j) ? 1.0f : 0.0f;
    m_data.fJointVelocity[4] = -50.5f;
    m_data.fVelocity[4] = 7.0f;
    EXPECT_EQ(-13, device.CalculateKinetorVelocity(1));
    EXPECT_EQ(7.0f, m_data.fVelocity[4]);
    EXPECT_EQ(0, device.CalculateKinetorVelocity(0));
    EXPECT_EQ(-50.5f, m_data.fVelocity[4]);
    m_data.fJointVelocity[4] = 50.0f;
    EXPECT_EQ(0, device.CalculateKinetorVelocity(1));
}

// Joint torques (10, 20, 30, 1, 2, 3) with gears (0.1, 0.2, 0.3, 0.5, 0.7, 0.9):
// motor 0 = 1; motor 2 = -(0.2 * 20) = -4; motor 1 = -(0.3 * 30) = -9; motor 2 - motor 1
// = 5; both negated: motor 1 = 9, motor 2 = -5; gimbal: -0.5, 1.4, -2.7.
TEST_F(Device6DOFTest, MotorTorquesMapAllSixJoints)
{
    CKinetor6DOFDevice device(g_szName, 4, 0, true, &m_data);
    const float afRatio[6] = {0.1f, 0.2f, 0.3f, 0.5f, 0.7f, 0.9f};
    for (int k = 0; k < 6; k++)
        m_data.fReductionDirect[k] = afRatio[k];
    const float afJoint[6] = {10, 20, 30, 1, 2, 3};
    float afMotor[6] = {0, 0, 0, 0, 0, 0};
    ASSERT_EQ(0, device.CalculateMotorTorques(afJoint, afMotor));
    const float afExpected[6] = {1.0f, 9.0f, -5.0f, -0.5f, 1.4f, -2.7f};
    for (int k = 0; k < 6; k++)
        EXPECT_NEAR(afExpected[k], afMotor[k], 1e-5) << "motor " << k;
}

TEST_F(Device6DOFTest, SixDACWordsGoToBothGroupsWithoutFlush)
{
    CEnvironmentScope assist("TDL_USE_POWER_ASSIST", nullptr);
    std::unique_ptr<CKinetor6DOFDevice> pDevice(Open());
    const float afTorque[6] = {40000.0f, -40000.0f, 0.0f, 2.6f, -2.3f, 32768.0f};
    for (int k = 0; k < 6; k++)
        m_data.fMotorTorques[k] = afTorque[k];
    const int nFlushes = m_script.Calls(OP_FLUSH);
    ASSERT_EQ(0, pDevice->WriteMotorTorques(false));

    const long anDAC[6] = {40000, -39999, 0, 3, -1, 32768};
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(anDAC[k], m_data.nMotorDACValues[k]) << "motor " << k;
    EXPECT_EQ(0xFFFF, m_script.m_ausBaseWords[0]);
    EXPECT_EQ(0x0000, m_script.m_ausBaseWords[1]);
    EXPECT_EQ(0x8000, m_script.m_ausBaseWords[2]);
    EXPECT_EQ(0x8003, m_script.m_ausGimbalWords[0]);
    EXPECT_EQ(0x7FFF, m_script.m_ausGimbalWords[1]);
    EXPECT_EQ(0xFFFF, m_script.m_ausGimbalWords[2]);
    EXPECT_EQ(nFlushes, m_script.Calls(OP_FLUSH));

    // A failing base write stops before the gimbal words.
    m_script.m_anResult[OP_WRITE_BASE] = -4;
    const int nGimbalWrites = m_script.Calls(OP_WRITE_GIMBAL);
    EXPECT_EQ(-20, pDevice->WriteMotorDACValues());
    EXPECT_EQ(nGimbalWrites, m_script.Calls(OP_WRITE_GIMBAL));

    // Zero torque on both groups, then one flush.
    m_script.m_anResult[OP_WRITE_BASE] = 1;
    ASSERT_EQ(0, pDevice->ZeroTorques());
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(0x8000, m_script.m_ausBaseWords[i]);
        EXPECT_EQ(0x8000, m_script.m_ausGimbalWords[i]);
    }
    EXPECT_EQ(nFlushes + 1, m_script.Calls(OP_FLUSH));
    EXPECT_EQ(1, m_script.m_anFlushArg[m_script.m_nFlushLog - 1]);
}

TEST_F(Device6DOFTest, TorqueCheckCoversTheGimbalAfterTheCumulativeBudget)
{
    CEnvironmentScope assist("TDL_USE_POWER_ASSIST", nullptr);
    std::unique_ptr<CKinetor6DOFDevice> pDevice(Open());
    for (int k = 0; k < 6; k++) {
        m_data.fMaxMotorTorques[k] = 241.0f;
        m_data.fTtm[k] = 10.0f;
        m_data.fMotorTorques[k] = 100.0f;
    }
    m_data.nAmpDACLimit = 10000;
    // Base within the budget (3000 counts), a gimbal motor over its maximum.
    m_data.fMotorTorques[4] = 241.5f;
    const int nWrites = m_script.Calls(OP_WRITE_BASE);
    EXPECT_EQ(-2, pDevice->WriteMotorTorques(true));
    EXPECT_EQ(nWrites, m_script.Calls(OP_WRITE_BASE));
    // Base motors within their maximum but over the budget: 3 * 400 * 10 = 12000 counts.
    m_data.fMotorTorques[4] = 100.0f;
    for (int k = 0; k < 3; k++) {
        m_data.fMaxMotorTorques[k] = 500.0f;
        m_data.fMotorTorques[k] = 400.0f;
    }
    m_data.fMotorTorques[1] = -400.0f;
    EXPECT_EQ(-2, pDevice->CheckMotorTorques());
    // Without a budget the per-motor check alone decides, over all six motors.
    m_data.nAmpDACLimit = ~0UL;
    EXPECT_EQ(0, pDevice->CheckMotorTorques());
    m_data.fSaturationTorques[5] = 150.0f;
    m_data.fMotorTorques[5] = -400.0f;
    EXPECT_EQ(0, pDevice->CheckMotorTorques());
    EXPECT_EQ(-150.0f, m_data.fMotorTorques[5]);
    EXPECT_EQ(0, pDevice->WriteMotorTorques(true));
    // -150 * 10 + 0.5 = -1499.5, truncated to -1499.
    EXPECT_EQ(0x8000 - 1499, m_script.m_ausGimbalWords[2]);
}

// Gimbal motor velocities 0.5, 2 and -3 rad/s:
//   motor 3: Coulomb 0.275 (cut-off 0.4), viscous 0.5 * 0.00008 = 0.00004 -> 0.27504
//   motor 4: Coulomb 1.1 cut to 0.001, viscous 2 * 0.000055 = 0.00011    -> 0.00111
//   motor 5: Coulomb -1.65 cut to -0.8, viscous -3 * 0.000025            -> -0.800075
TEST_F(Device6DOFTest, PowerAssistCompensatesGimbalFriction)
{
    CEnvironmentScope assist("TDL_USE_POWER_ASSIST", "");
    std::unique_ptr<CKinetor6DOFDevice> pDevice(Open());
    ASSERT_TRUE(pDevice->IsPowerAssistEnabled());
    EXPECT_FLOAT_EQ(0.00008f, m_data.fFrictionCoefficient[3]);
    EXPECT_FLOAT_EQ(0.05f, m_data.fViscousFrictionCutoff[4]);
    EXPECT_FLOAT_EQ(0.8f, m_data.fCoulombicFrictionCutoff[5]);

    const float d = 3.14159f / 180.0f;
    m_data.fSmoothedMotorVelocity[3] = 0.5f;
    m_data.fSmoothedMotorVelocity[4] = 2.0f;
    m_data.fSmoothedMotorVelocity[5] = -3.0f;
    m_data.fSmoothedMotorVelocity[0] = 100.0f;   // base motors get no assist

    struct {
        float fQ4Degrees;
        float fFade;   // factor on the motors of joints 3 and 5
    } aCases[] = {{0.0f, 1.0f}, {-90.0f, 0.0f}, {-80.0f, 0.0f}, {-75.0f, 0.25f},
                  {-105.0f, 0.25f}, {-110.0f, 1.0f}, {-69.0f, 1.0f}};
    for (const auto& c : aCases) {
        for (int k = 0; k < 6; k++)
            m_data.fMotorTorques[k] = 0.0f;
        m_data.fJointAngles[4] = c.fQ4Degrees * d;
        ASSERT_EQ(0, pDevice->WriteMotorTorques(false));
        EXPECT_EQ(0.0f, m_data.fMotorTorques[0]);
        EXPECT_NEAR(0.27504 * c.fFade, m_data.fMotorTorques[3], 2e-6) << c.fQ4Degrees;
        EXPECT_NEAR(0.00111, m_data.fMotorTorques[4], 1e-7) << c.fQ4Degrees;
        EXPECT_NEAR(-0.800075 * c.fFade, m_data.fMotorTorques[5], 2e-6) << c.fQ4Degrees;
    }
}

TEST_F(Device6DOFTest, WithoutPowerAssistTorquesAreSentAsComputed)
{
    CEnvironmentScope assist("TDL_USE_POWER_ASSIST", nullptr);
    std::unique_ptr<CKinetor6DOFDevice> pDevice(Open());
    EXPECT_FALSE(pDevice->IsPowerAssistEnabled());
    m_data.fSmoothedMotorVelocity[3] = 5.0f;
    m_data.fMotorTorques[3] = 12.0f;
    ASSERT_EQ(0, pDevice->WriteMotorTorques(false));
    EXPECT_EQ(12.0f, m_data.fMotorTorques[3]);
    EXPECT_EQ(12, m_data.nMotorDACValues[3]);
}

TEST_F(Device6DOFTest, AmplifiersAndWatchdogDriveBothGroups)
{
    std::unique_ptr<CKinetor6DOFDevice> pDevice(Open());
    ASSERT_EQ(0, pDevice->EnableAmplifiers(true));
    ASSERT_EQ(2, m_script.m_nAmpLog);
    EXPECT_EQ(0, m_script.m_anAmpGroup[0]);
    EXPECT_EQ(1, m_script.m_anAmpGroup[1]);
    EXPECT_EQ(1, m_script.m_anAmpLevel[1]);

    // A failing base group is reported and the gimbal group is left alone.
    m_script.m_anResult[OP_ENABLE_BASE] = -17;
    EXPECT_EQ(-2, pDevice->EnableAmplifiers(false));
    EXPECT_EQ(3, m_script.m_nAmpLog);
    m_script.m_anResult[OP_ENABLE_BASE] = 1;

    // Each watchdog pass toggles both groups together: on, then off.
    m_script.m_nAmpLog = 0;
    EXPECT_EQ(0, pDevice->EnableWatchDog(true, false));
    EXPECT_EQ(0, pDevice->EnableWatchDog(true, false));
    ASSERT_EQ(4, m_script.m_nAmpLog);
    const int anGroup[4] = {0, 1, 0, 1}, anLevel[4] = {1, 1, 0, 0};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(anGroup[i], m_script.m_anAmpGroup[i]) << i;
        EXPECT_EQ(anLevel[i], m_script.m_anAmpLevel[i]) << i;
    }
    // A failed gimbal toggle leaves the level where it was: the next pass enables again.
    m_script.m_anResult[OP_ENABLE_GIMBAL] = -2;
    EXPECT_EQ(1, pDevice->EnableWatchDog(true, false));
    m_script.m_anResult[OP_ENABLE_GIMBAL] = 1;
    EXPECT_EQ(0, pDevice->EnableWatchDog(true, false));
    EXPECT_EQ(1, m_script.m_anAmpLevel[m_script.m_nAmpLog - 1]);
}

TEST_F(Device6DOFTest, PinchValueIsTracedOnStandardError)
{
    std::unique_ptr<CKinetor6DOFDevice> pDevice(Open());
    m_data.nExtra6DOFOption = 1;
    m_data.nPinchMin = 100;
    m_data.nPinchMax = 200;
    m_script.m_sPinch = 150;

    double dValue = -1.0;
    m_data.nPinchCalibrated = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(150, pDevice->GetPinchValue(dValue));
    EXPECT_EQ("Entered: GetPinchValue in Kinetor6DOFDevice\nPinch Pot value: 150\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ(-1.0, dValue);

    m_data.nPinchCalibrated = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, pDevice->GetPinchValue(dValue));
    EXPECT_EQ("Entered: GetPinchValue in Kinetor6DOFDevice\nPinchValue: 0.500000\n",
              testing::internal::GetCapturedStderr());
    EXPECT_DOUBLE_EQ(0.5, dValue);
}

}  // namespace
