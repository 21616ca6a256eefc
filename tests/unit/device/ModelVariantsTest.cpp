// Each model's joint angles against encoder formulas written out from its own motor map,
// signs and gearing; the torque mappings of the transfer-drive models; their Jacobians.
#include <math.h>

#include <memory>

#include <gtest/gtest.h>

#include "ConnectionDouble.h"
#include "KinematicsCheck.h"
#include "device/KinetorAlturaADevice.h"
#include "device/KinetorAlturaTDevice.h"
#include "device/KinetorBravisDevice.h"
#include "device/KinetorCirrelDevice.h"

namespace {

char g_szName[] = "variant";

const SHORT g_asBase[3] = {1234, -2345, 3456};
const SHORT g_asGimbal[3] = {-456, 567, -678};

class ModelVariantsTest : public ::testing::Test {
protected:
    ModelVariantsTest() : m_scope(&m_script) {}

    void SetUp() override
    {
        ASSERT_TRUE(m_dirs.Ok());
        FillDefaultDeviceData(m_data);
        // r3 is the transfer drive's ratio on the Bravis and Cirrel; the Altura ignores it.
        m_data.fReductionDirect[3] = 0.8f;
        const float afZero[6] = {0.1f, -0.2f, 0.3f, 0.4f, -0.5f, 0.6f};
        for (int i = 0; i < 6; i++)
            m_data.fZeroPositionJointAngles[i] = afZero[i];
        for (int i = 0; i < 3; i++) {
            m_script.m_asBase[i] = g_asBase[i];
            m_script.m_asGimbal[i] = g_asGimbal[i];
        }
        const double cpr[6] = {4000, 4000, 4000, 2000, 2000, 2000};
        for (int k = 0; k < 6; k++) {
            const double enc = (k < 3) ? (double)g_asBase[k] : (double)g_asGimbal[k - 3];
            m_phi[k] = enc * 6.28318 / cpr[k];
            m_r[k] = m_data.fReductionDirect[k];
        }
    }

    // Opens the model, runs one joint-angle update from counters at 0 and compares.
    void ExpectAngles(CHapticDevice* pDevice, const double* pdExpected, int nJoints)
    {
        ASSERT_EQ(0, pDevice->OpenConnection(2));
        ASSERT_EQ(0, pDevice->UpdateKinetorJointAngles());
        for (int i = 0; i < nJoints; i++)
            EXPECT_NEAR(pdExpected[i], m_data.fJointAngles[i], 1e-5) << "joint " << i;
    }

    CTestDirectories m_dirs;
    CConnectionScript m_script;
    CConnectionDoubleScope m_scope;
    _KINETOR_DEVICE_DATA m_data;
    double m_phi[6];   // motor angles of the scripted readings
    double m_r[6];
};

// Altura A: joints 1 and 2 on motors 2 and 1, signs + - - - + -, no gimbal gearing,
// second link measured absolutely.
TEST_F(ModelVariantsTest, AlturaAAnglesFromEncoders)
{
    CKinetorAlturaADevice device(g_szName, 4, 0, true, &m_data);
    double q[6];
    q[0] = m_r[0] * m_phi[0] + 0.1;
    q[1] = -m_r[1] * m_phi[2] - 0.2;
    q[2] = -m_r[2] * m_phi[1] + 0.3 - q[1];
    q[3] = -m_phi[3] + 0.4;
    q[4] = m_phi[4] - 0.5;
    q[5] = -m_phi[5] + 0.6;
    ExpectAngles(&device, q, 6);
}

// Altura T: as the Altura A but the base motor turns the other way.
TEST_F(ModelVariantsTest, AlturaTAnglesFromEncoders)
{
    CKinetorAlturaTDevice device(g_szName, 4, 0, true, &m_data);
    double q[6];
    q[0] = -m_r[0] * m_phi[0] + 0.1;
    q[1] = -m_r[1] * m_phi[2] - 0.2;
    q[2] = -m_r[2] * m_phi[1] + 0.3 - q[1];
    q[3] = -m_phi[3] + 0.4;
    q[4] = m_phi[4] - 0.5;
    q[5] = -m_phi[5] + 0.6;
    ExpectAngles(&device, q, 6);
}

// Bravis: motors in joint order, signs - - - + + +, second link through the transfer drive.
TEST_F(ModelVariantsTest, BravisAnglesFromEncoders)
{
    CKinetorBravisDevice device(g_szName, 4, 0, true, &m_data);
    double q[6];
    q[0] = -m_r[0] * m_phi[0] + 0.1;
    q[1] = -m_r[1] * m_phi[1] - 0.2;
    q[2] = -m_r[2] * m_phi[2] + 0.3 - q[1] * 0.8;
    q[3] = m_phi[3] + 0.4;
    q[4] = m_phi[4] - 0.5;
    q[5] = m_phi[5] + 0.6;
    ExpectAngles(&device, q, 6);
}

// Cirrel: signs - - + - - -, transfer drive, and the gimbal's home angles subtracted; the
// gimbal is computed even when the gimbal flag is clear.
TEST_F(ModelVariantsTest, CirrelAnglesFromEncoders)
{
    CKinetorCirrelDevice device(g_szName, 4, 0, true, &m_data);
    double q[6];
    q[0] = -m_r[0] * m_phi[0] + 0.1;
    q[1] = -m_r[1] * m_phi[1] - 0.2;
    q[2] = m_r[2] * m_phi[2] + 0.3 - q[1] * 0.8;
    q[3] = -m_phi[3] - 0.4;
    q[4] = -m_phi[4] + 0.5;
    q[5] = -m_phi[5] - 0.6;
    ExpectAngles(&device, q, 6);

    CKinetorCirrelDevice noGimbal(g_szName, 4, 0, false, &m_data);
    const long alEnc[6] = {g_asBase[0], g_asBase[1], g_asBase[2], g_asGimbal[0], g_asGimbal[1], g_asGimbal[2]};
    float afAngles[6] = {0, 0, 0, 0, 0, 0};
    ASSERT_EQ(0, noGimbal.CalculateJointAngles(alEnc, afAngles, false));
    for (int i = 0; i < 6; i++)
        EXPECT_NEAR(q[i], afAngles[i], 1e-5) << "joint " << i;
}

// Joint torques (10, 20, 30), gears (0.1, 0.2, 0.3), transfer ratio 0.8:
//   Bravis: (-1, -4, -9); motor 1 = -4 - (-9 * 0.8) = 3.2; all negated: (1, -3.2, 9)
//   Cirrel: (-1, -4, 9);  motor 1 = -4 + 9 * 0.8 = 3.2;    all negated: (1, -3.2, -9)
TEST_F(ModelVariantsTest, TransferDriveMotorTorques)
{
    const float afRatio[4] = {0.1f, 0.2f, 0.3f, 0.8f};
    for (int i = 0; i < 4; i++)
        m_data.fReductionDirect[i] = afRatio[i];
    const float afJoint[3] = {10, 20, 30};

    CKinetorBravisDevice bravis(g_szName, 4, 0, true, &m_data);
    float afMotor[6] = {0, 0, 0, 7, 7, 7};
    ASSERT_EQ(0, bravis.CalculateMotorTorques(afJoint, afMotor));
    EXPECT_NEAR(1.0f, afMotor[0], 1e-5);
    EXPECT_NEAR(-3.2f, afMotor[1], 1e-5);
    EXPECT_NEAR(9.0f, afMotor[2], 1e-5);
    EXPECT_EQ(7.0f, afMotor[3]);

    CKinetorCirrelDevice cirrel(g_szName, 4, 0, true, &m_data);
    ASSERT_EQ(0, cirrel.CalculateMotorTorques(afJoint, afMotor));
    EXPECT_NEAR(1.0f, afMotor[0], 1e-5);
    EXPECT_NEAR(-3.2f, afMotor[1], 1e-5);
    EXPECT_NEAR(-9.0f, afMotor[2], 1e-5);
    EXPECT_EQ(7.0f, afMotor[5]);
}

TEST_F(ModelVariantsTest, TransferDriveJacobiansMatchFiniteDifferences)
{
    m_data.fL1 = m_data.fL2 = 5500 * 0.0254f;
    CKinetorBravisDevice bravis(g_szName, 4, 0, true, &m_data);
    const JACOBIAN_CHECK b = CheckJacobianAgainstFiniteDifferences(&bravis, &m_data, 3, 0, 3, 30, 99u);
    EXPECT_LT(b.dMaxError, 0.05) << "row " << b.nRow << " col " << b.nCol;
    CKinetorCirrelDevice cirrel(g_szName, 4, 0, true, &m_data);
    const JACOBIAN_CHECK c = CheckJacobianAgainstFiniteDifferences(&cirrel, &m_data, 3, 0, 3, 30, 4242u);
    EXPECT_LT(c.dMaxError, 0.05) << "row " << c.nRow << " col " << c.nCol;
}

}  // namespace
