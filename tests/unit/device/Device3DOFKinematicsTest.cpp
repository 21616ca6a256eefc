// Encoder unwrapping, joint angles and velocities, the stylus frame and the Jacobian of
// the 3-DOF arm, each compared with a computation written here from the arm's geometry
// and motor maps rather than with the model's own code.
#include <math.h>
#include <string.h>

#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "unit/device/ConnectionDouble.h"
#include "unit/device/KinematicsCheck.h"
#include "device/Kinetor3DOFDevice.h"
#include "device/KinetorAlturaADevice.h"
#include "device/KinetorAlturaTDevice.h"

namespace {

const double PI = 3.14159265358979323846;

// The base model with test knobs: a transfer drive and workspace offsets.
class CProbe3DOFDevice : public CKinetor3DOFDevice {
public:
    CProbe3DOFDevice(char* pszName, bool bGimbal, _KINETOR_DEVICE_DATA* pData, bool bTransfer = false)
        : CKinetor3DOFDevice(pszName, 4, 0, bGimbal, pData), m_bTransfer(bTransfer) {}
    bool HasTransferDrive() const override { return m_bTransfer; }
    void SetOffsets(int x, int y, int z)
    {
        m_nWorkspaceOffset0 = x;
        m_nWorkspaceOffset1 = y;
        m_nWorkspaceOffset2 = z;
    }

private:
    bool m_bTransfer;
};

// Altura motor maps, written out from the model tables: motor of each joint and sign of
// each motor.
struct AlturaMap {
    int anMotor[6];
    int anSign[6];
};
const AlturaMap ALTURA_A = {{0, 2, 1, 3, 4, 5}, {+1, -1, -1, -1, +1, -1}};
const AlturaMap ALTURA_T = {{0, 2, 1, 3, 4, 5}, {-1, -1, -1, -1, +1, -1}};

// Joint angles straight from the encoder counts, in double precision.
void ExpectedAngles(const AlturaMap& map, const _KINETOR_DEVICE_DATA& d, const long* enc, bool bGimbal,
                    double* q)
{
    for (int i = 0; i < 3; i++) {
        const int m = map.anMotor[i];
        const double dMotor = (double)enc[m] * 2.0 * 3.14159 / (double)(m < 3 ? 4000 : 2000);
        q[i] = map.anSign[m] * (double)d.fReductionDirect[i] * dMotor + d.fZeroPositionJointAngles[i];
    }
    q[2] -= q[1];
    for (int i = 3; i < 6; i++) {
        const int m = map.anMotor[i];
        q[i] = bGimbal ? map.anSign[m] * (double)enc[m] * 2.0 * 3.14159 / 2000.0 + d.fZeroPositionJointAngles[i] : 0.0;
    }
}

class Device3DOFKinematics : public ::testing::Test {
protected:
    CModelHarness h;
};

TEST_F(Device3DOFKinematics, UnwrapAccumulatesSixteenBitStepsAcrossTheWrap)
{
    CKinetorAlturaADevice dev(h.m_szName, 4, 0, true, &h.m_data);
    ASSERT_EQ(0, dev.OpenConnection(2));
    // Readings of motors 0, 1 and 3 (a gimbal counter) and the accumulated counts worked
    // out by hand. Motor 1's last step is +32769, which a 16-bit counter cannot tell from
    // -32767; motor 3's steps of exactly 32768 either way are taken as -32768.
    const struct {
        short sBase0, sBase1, sGimbal0;
        long lBase0, lBase1, lGimbal0;
    } aSteps[] = {
        {32767, -1, 100, 32767, -1, 100},
        {-32768, -2, -32668, 32768, -2, -32668},
        {-32767, 32767, 100, 32769, -32769, -65436},
    };
    for (int n = 0; n < 3; n++) {
        h.m_script.m_asBase[0] = aSteps[n].sBase0;
        h.m_script.m_asBase[1] = aSteps[n].sBase1;
        h.m_script.m_asGimbal[0] = aSteps[n].sGimbal0;
        ASSERT_EQ(0, dev.UpdateKinetorJointAngles());
        EXPECT_EQ(aSteps[n].lBase0, h.m_data.lRawEncoders[0]) << "tick " << n;
        EXPECT_EQ(aSteps[n].lBase1, h.m_data.lRawEncoders[1]) << "tick " << n;
        EXPECT_EQ(aSteps[n].lGimbal0, h.m_data.lRawEncoders[3]) << "tick " << n;
        EXPECT_EQ((long)aSteps[n].sBase0, h.m_data.lLastRawEncoders[0]);
        EXPECT_EQ((long)aSteps[n].sGimbal0, h.m_data.lLastRawEncoders[3]);
    }
}

TEST_F(Device3DOFKinematics, UnwrapOverManyTicksTracksTheTruePosition)
{
    CKinetorAlturaADevice dev(h.m_szName, 4, 0, false, &h.m_data);
    ASSERT_EQ(0, dev.OpenConnection(2));
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> step(-30000, 30000);
    long lTrue = 0;
    for (int n = 0; n < 200; n++) {
        lTrue += step(rng);
        // The counter shows the low 16 bits of the true position.
        h.m_script.m_asBase[2] = (short)(unsigned short)((unsigned long)lTrue & 0xFFFF);
        ASSERT_EQ(0, dev.UpdateKinetorJointAngles());
        ASSERT_EQ(lTrue, h.m_data.lRawEncoders[2]) << "tick " << n;
    }
}

TEST_F(Device3DOFKinematics, JointAnglesFollowTheAlturaMotorMaps)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<long> count(-200000, 200000);
    for (int nModel = 0; nModel < 2; nModel++) {
        const AlturaMap& map = nModel == 0 ? ALTURA_A : ALTURA_T;
        for (int nGimbal = 0; nGimbal < 2; nGimbal++) {
            for (int i = 0; i < 6; i++)
                h.m_data.fZeroPositionJointAngles[i] = 0.1f * (float)(i + 1);
            std::unique_ptr<CKinetor3DOFDevice> dev;
            if (nModel == 0)
                dev.reset(new CKinetorAlturaADevice(h.m_szName, 4, 0, nGimbal != 0, &h.m_data));
            else
                dev.reset(new CKinetorAlturaTDevice(h.m_szName, 4, 0, nGimbal != 0, &h.m_data));
            for (int n = 0; n < 50; n++) {
                long enc[6];
                for (int k = 0; k < 6; k++)
                    enc[k] = count(rng);
                float angles[6] = {77, 77, 77, 77, 77, 77};
                ASSERT_EQ(0, dev->CalculateJointAngles(enc, angles, n % 2 == 0));
                double q[6];
                ExpectedAngles(map, h.m_data, enc, nGimbal != 0, q);
                for (int i = 0; i < 3; i++)
                    EXPECT_NEAR(q[i], angles[i], 1e-5 * (1.0 + fabs(q[i]))) << "model " << nModel << " joint " << i;
                for (int i = 3; i < 6; i++) {
                    if (nGimbal)
                        EXPECT_NEAR(q[i], angles[i], 1e-5 * (1.0 + fabs(q[i]))) << "gimbal joint " << i;
                    else
                        EXPECT_EQ(77.0f, angles[i]) << "untouched without gimbal";
                }
            }
        }
    }
}

TEST_F(Device3DOFKinematics, AlturaAAndTDifferOnlyInTheBaseRotation)
{
    CKinetorAlturaADevice devA(h.m_szName, 4, 0, true, &h.m_data);
    CKinetorAlturaTDevice devT(h.m_szName, 4, 0, true, &h.m_data);
    const long enc[6] = {1234, -555, 9999, 17, -300, 42};
    float qA[6], qT[6];
    devA.CalculateJointAngles(enc, qA, false);
    devT.CalculateJointAngles(enc, qT, false);
    EXPECT_NE(0.0f, qA[0]);
    EXPECT_FLOAT_EQ(qA[0], -qT[0]);
    for (int i = 1; i < 6; i++)
        EXPECT_FLOAT_EQ(qA[i], qT[i]) << i;
}

TEST_F(Device3DOFKinematics, SecondLinkCouplingUsesTheTransferRatioOnlyWithATransferDrive)
{
    h.m_data.fReductionDirect[0] = h.m_data.fReductionDirect[1] = h.m_data.fReductionDirect[2] = 1.0f;
    h.m_data.fReductionDirect[3] = 2.5f;
    h.m_data.fCPRToRadians[1] = h.m_data.fCPRToRadians[2] = 0.001f;
    const long enc[6] = {0, 100, 300, 0, 0, 0};   // motor 1 -> joint 1 = 0.1, motor 2 -> 0.3
    float q[6] = {0, 0, 0, 0, 0, 0};
    CProbe3DOFDevice plain(h.m_szName, false, &h.m_data, false);
    plain.CalculateJointAngles(enc, q, false);
    EXPECT_NEAR(0.1, q[1], 1e-6);
    EXPECT_NEAR(0.3 - 0.1, q[2], 1e-6);
    CProbe3DOFDevice transfer(h.m_szName, false, &h.m_data, true);
    transfer.CalculateJointAngles(enc, q, false);
    EXPECT_NEAR(0.3 - 0.1 * 2.5, q[2], 1e-6);

    // The same coupling holds for the velocities.
    h.m_data.fSmoothedMotorVelocity[1] = 1.0f;
    h.m_data.fSmoothedMotorVelocity[2] = 3.0f;
    h.m_data.nRuns = 1;   // keep the present smoothed values
    plain.CalculateJointVelocities();
    EXPECT_FLOAT_EQ(2.0f, h.m_data.fJointVelocity[2]);
    transfer.CalculateJointVelocities();
    EXPECT_FLOAT_EQ(0.5f, h.m_data.fJointVelocity[2]);
}

TEST_F(Device3DOFKinematics, VelocityFilterFollowsTheRunCountAndTheRateWindow)
{
    CKinetorAlturaADevice dev(h.m_szName, 4, 0, false, &h.m_data);
    _KINETOR_DEVICE_DATA& d = h.m_data;
    d.fFilterC0 = d.fFilterC1 = 0.2f;
    d.fFilterD1 = 0.6f;
    const float afAngle[3] = {0.50f, -0.25f, 1.00f};
    const float afLast[3] = {0.49f, -0.20f, 1.00f};
    auto Prime = [&]() {
        for (int k = 0; k < 3; k++) {
            d.fMotorAngles[k] = afAngle[k];
            d.fLastMotorAngles[k] = afLast[k];
            d.fRawMotorVelocity[k] = 3.0f + k;
            d.fSmoothedMotorVelocity[k] = 2.0f + k;
            d.fLastRawMotorVelocity[k] = 7.0f + k;
            d.fLastSmoothedMotorVelocity[k] = 5.0f + k;
        }
    };

    Prime();
    d.nRuns = 0;
    dev.CalculateJointVelocities();
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(0.0f, d.fSmoothedMotorVelocity[k]);
        EXPECT_EQ(0.0f, d.fLastRawMotorVelocity[k]);
        EXPECT_EQ(afAngle[k], d.fLastMotorAngles[k]);
        EXPECT_EQ(0.0f, d.fJointVelocity[k]);
    }

    for (int nRuns = 1; nRuns <= 2; nRuns++) {
        Prime();
        d.nRuns = nRuns;
        dev.CalculateJointVelocities();
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(3.0f + k, d.fRawMotorVelocity[k]);
            EXPECT_EQ(2.0f + k, d.fSmoothedMotorVelocity[k]);
            EXPECT_EQ(3.0f + k, d.fLastRawMotorVelocity[k]);
            EXPECT_EQ(2.0f + k, d.fLastSmoothedMotorVelocity[k]);
        }
    }

    // Inside the window: differentiate and filter.
    Prime();
    d.nRuns = 3;
    d.fInstantaneousRate = 1000.0f;
    dev.CalculateJointVelocities();
    double adSmoothed[3];
    for (int k = 0; k < 3; k++) {
        const double dRaw = ((double)afAngle[k] - (double)afLast[k]) * 1000.0;
        adSmoothed[k] = 0.2 * dRaw + 0.2 * (7.0 + k) + 0.6 * (5.0 + k);
        EXPECT_NEAR(dRaw, d.fRawMotorVelocity[k], 1e-3);
        EXPECT_NEAR(adSmoothed[k], d.fSmoothedMotorVelocity[k], 1e-3);
        EXPECT_EQ(d.fSmoothedMotorVelocity[k], d.fLastSmoothedMotorVelocity[k]);
    }
    // Joint velocities through the Altura A map: joint 1 is motor 2, joint 2 is motor 1,
    // both with sign -1, and joint 2 loses joint 1.
    const double r0 = d.fReductionDirect[0], r1 = d.fReductionDirect[1], r2 = d.fReductionDirect[2];
    EXPECT_NEAR(r0 * adSmoothed[0], d.fJointVelocity[0], 1e-4);
    EXPECT_NEAR(-r1 * adSmoothed[2], d.fJointVelocity[1], 1e-4);
    EXPECT_NEAR(-r2 * adSmoothed[1] + r1 * adSmoothed[2], d.fJointVelocity[2], 1e-4);

    // On either edge of the window the previous tick's values are kept.
    const float afEdges[2] = {1500.0f, 500.0f};
    for (float fRate : afEdges) {
        Prime();
        d.fInstantaneousRate = fRate;
        dev.CalculateJointVelocities();
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(7.0f + k, d.fRawMotorVelocity[k]) << fRate;
            EXPECT_EQ(5.0f + k, d.fSmoothedMotorVelocity[k]) << fRate;
        }
    }

    // A smoothed value too small to matter becomes exactly 0.
    Prime();
    d.fInstantaneousRate = 1000.0f;
    for (int k = 0; k < 3; k++) {
        d.fMotorAngles[k] = d.fLastMotorAngles[k] = 0.5f;
        d.fLastRawMotorVelocity[k] = 0.0f;
        d.fLastSmoothedMotorVelocity[k] = 1e-11f;
    }
    dev.CalculateJointVelocities();
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(0.0f, d.fSmoothedMotorVelocity[k]);
}

// Stylus frame in double precision from the product of elementary rotations.
void ExpectedFrame(const float* qf, double L1, double L2, const double* off, double F[4][4])
{
    double q[6];
    for (int i = 0; i < 6; i++)
        q[i] = qf[i];
    auto Rx = [](double a, double R[3][3]) {
        double M[3][3] = {{1, 0, 0}, {0, cos(a), -sin(a)}, {0, sin(a), cos(a)}};
        memcpy(R, M, sizeof(M));
    };
    auto Ry = [](double a, double R[3][3]) {
        double M[3][3] = {{cos(a), 0, sin(a)}, {0, 1, 0}, {-sin(a), 0, cos(a)}};
        memcpy(R, M, sizeof(M));
    };
    auto Rz = [](double a, double R[3][3]) {
        double M[3][3] = {{cos(a), -sin(a), 0}, {sin(a), cos(a), 0}, {0, 0, 1}};
        memcpy(R, M, sizeof(M));
    };
    auto Mul = [](double A[3][3], double B[3][3]) {
        double C[3][3];
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++) {
                C[i][j] = 0;
                for (int k = 0; k < 3; k++)
                    C[i][j] += A[i][k] * B[k][j];
            }
        memcpy(A, C, sizeof(C));
    };
    double R[3][3], T[3][3];
    Ry(-q[0], R);
    Rx(-(q[1] + q[2]), T);
    Mul(R, T);
    Ry(q[3], T);
    Mul(R, T);
    Rx(-q[4], T);
    Mul(R, T);
    Rz(-q[5], T);
    Mul(R, T);
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            F[i][j] = R[j][i];
        F[i][3] = 0.0;
    }
    // Geometry: the first link rises from the shoulder, the second hangs from the elbow.
    const double rho = L2 * sin(q[1] + q[2]) + L1 * cos(q[1]);
    F[3][0] = off[0] - rho * sin(q[0]);
    F[3][1] = off[1] + L1 * sin(q[1]) - L2 * cos(q[1] + q[2]) + L2;
    F[3][2] = off[2] + rho * cos(q[0]) - L1;
    F[3][3] = 1.0;
}

TEST_F(Device3DOFKinematics, EndpointAtZeroIsIdentityAtTheWorkspaceOffset)
{
    CProbe3DOFDevice dev(h.m_szName, true, &h.m_data);
    float q[6] = {0, 0, 0, 0, 0, 0};
    float F[4][4];
    dev.CalculateEndpointTransform(q, F, false);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            EXPECT_NEAR(i == j ? 1.0 : 0.0, F[i][j], 1e-6) << i << "," << j;
    dev.SetOffsets(10, -20, 30);
    dev.CalculateEndpointTransform(q, F, false);
    EXPECT_NEAR(10.0, F[3][0], 1e-4);
    EXPECT_NEAR(-20.0, F[3][1], 1e-4);
    EXPECT_NEAR(30.0, F[3][2], 1e-4);
}

TEST_F(Device3DOFKinematics, BaseQuarterTurnMovesTheEndpointBackAndDown)
{
    CProbe3DOFDevice dev(h.m_szName, false, &h.m_data);
    float q[6] = {(float)(PI / 2), 0, 0, 0, 0, 0};
    float F[4][4];
    dev.CalculateEndpointTransform(q, F, false);
    const double L1 = h.m_data.fL1;
    EXPECT_NEAR(-L1, F[3][0], 1e-3);
    EXPECT_NEAR(0.0, F[3][1], 1e-3);
    EXPECT_NEAR(-L1, F[3][2], 1e-3);
}

TEST_F(Device3DOFKinematics, EndpointMatchesTheProductOfElementaryRotations)
{
    CProbe3DOFDevice dev(h.m_szName, true, &h.m_data);
    dev.SetOffsets(5, 7, -11);
    const double off[3] = {5, 7, -11};
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    for (int n = 0; n < 100; n++) {
        float q[6];
        for (int i = 0; i < 6; i++)
            q[i] = angle(rng);
        float F[4][4];
        double E[4][4];
        dev.CalculateEndpointTransform(q, F, n % 2 == 0);
        ExpectedFrame(q, h.m_data.fL1, h.m_data.fL2, off, E);
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++)
                ASSERT_NEAR(E[i][j], F[i][j], i == 3 ? 2e-3 : 2e-6) << "sample " << n << " [" << i << "][" << j << "]";
    }
}

TEST_F(Device3DOFKinematics, AlturaJacobiansMatchFiniteDifferencesOfTheEndpoint)
{
    CKinetorAlturaADevice devA(h.m_szName, 4, 0, false, &h.m_data);
    CKinetorAlturaTDevice devT(h.m_szName, 4, 0, false, &h.m_data);
    CHapticDevice* apDev[2] = {&devA, &devT};
    for (CHapticDevice* pDev : apDev) {
        // Unequal links so that swapped L1 and L2 would show.
        h.m_data.fL1 = 5500 * 0.0254f;
        h.m_data.fL2 = 8250 * 0.0254f;
        JACOBIAN_CHECK c = CheckJacobianAgainstFiniteDifferences(pDev, &h.m_data, 3, 0, 3, 200);
        EXPECT_LT(c.dMaxError, 0.05) << "row " << c.nRow << " col " << c.nCol << " expected " << c.dExpected
                                     << " got " << c.dActual;
        // The check itself must notice a wrong entry.
        h.m_data.fJointAngles[0] = 0.3f;
        h.m_data.fJointAngles[1] = 0.2f;
        h.m_data.fJointAngles[2] = -0.4f;
        pDev->UpdateKinetorEndpointTransform();
        pDev->UpdateKinetorJacobian();
        double col[6];
        FiniteDifferenceColumn(pDev, h.m_data.fJointAngles, 1, 1e-2, col);
        EXPECT_NEAR(col[1], h.m_data.fJacobian[1][1], 0.05);
        EXPECT_GT(fabs(col[1] + h.m_data.fJacobian[1][1]), 1.0);
    }
}

TEST_F(Device3DOFKinematics, TickTurnsEncodersAndPinchIntoState)
{
    CKinetorAlturaADevice dev(h.m_szName, 4, 0, false, &h.m_data);
    ASSERT_EQ(0, dev.OpenConnection(2));
    h.m_data.nExtra6DOFOption = 2;
    h.m_data.nPinchCalibrated = 1;
    h.m_data.nPinchMin = 0;
    h.m_data.nPinchMax = 1000;
    h.m_script.m_sPinch = 250;
    h.m_script.m_asBase[0] = 400;
    ASSERT_EQ(0, dev.UpdateKinetorJointAngles());
    EXPECT_DOUBLE_EQ(0.75, h.m_data.dPinchValue);
    EXPECT_NEAR(400 * 6.28318 / 4000 * h.m_data.fReductionDirect[0], h.m_data.fJointAngles[0], 1e-6);

    h.m_data.nPinchCalibrated = 0;
    ASSERT_EQ(0, dev.UpdateKinetorJointAngles());
    EXPECT_EQ(250.0, h.m_data.dPinchValue);

    // Calibrated limits but no pinch grip: 0; uncalibrated without a grip: 0 as well.
    h.m_data.nExtra6DOFOption = 0;
    h.m_data.nPinchCalibrated = 1;
    ASSERT_EQ(0, dev.UpdateKinetorJointAngles());
    EXPECT_EQ(0.0, h.m_data.dPinchValue);

    h.m_data.nExtra6DOFOption = 1;
    h.m_script.m_anResult[OP_READ_PINCH] = -15;
    EXPECT_EQ(-28, dev.UpdateKinetorJointAngles());
    h.m_script.m_anResult[OP_READ_PINCH] = 1;
    h.m_script.m_anResult[OP_READ_BASE] = -17;
    EXPECT_EQ(-2, dev.UpdateKinetorJointAngles());
}

}  // namespace
