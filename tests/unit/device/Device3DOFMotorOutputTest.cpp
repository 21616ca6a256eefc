// Force to joint torques, motor torques, DAC values and words, and the two torque checks.
// Expected values are worked out by hand or recomputed here in double precision.
#include <math.h>
#include <stdlib.h>

#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "unit/device/ConnectionDouble.h"
#include "device/Kinetor3DOFDevice.h"
#include "device/KinetorAlturaADevice.h"

namespace {

class Device3DOFMotorOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TDL_MOTOR_VOLTAGE_SCALE");
        m_pDev.reset(new CKinetorAlturaADevice(h.m_szName, 4, 0, false, &h.m_data));
        ASSERT_EQ(0, m_pDev->OpenConnection(2));
    }
    void TearDown() override { unsetenv("TDL_MOTOR_VOLTAGE_SCALE"); }

    void SetTorques(float t0, float t1, float t2)
    {
        h.m_data.fMotorTorques[0] = t0;
        h.m_data.fMotorTorques[1] = t1;
        h.m_data.fMotorTorques[2] = t2;
    }
    void SetAll(float* pf, float f)
    {
        for (int k = 0; k < 6; k++)
            pf[k] = f;
    }

    CModelHarness h;
    std::unique_ptr<CKinetor3DOFDevice> m_pDev;
};

TEST_F(Device3DOFMotorOutput, JointTorquesAreTheJacobianTransposeOnTheFirstThreeRows)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> value(-100.0f, 100.0f);
    for (int i = 0; i < 6; i++)
        for (int j = 0; j < 6; j++)
            h.m_data.fJacobian[i][j] = value(rng);
    const float afForce[6] = {1.5f, -2.0f, 3.25f, 1000.0f, 1000.0f, 1000.0f};
    float afTorque[6] = {0, 0, 0, 99, 99, 99};
    EXPECT_EQ(0, m_pDev->CalculateJointTorques(afForce, afTorque));
    for (int i = 0; i < 3; i++) {
        double s = 0.0;
        for (int j = 0; j < 3; j++)
            s += (double)h.m_data.fJacobian[j][i] * afForce[j];
        EXPECT_NEAR(s, afTorque[i], 1e-3) << i;
    }
    for (int i = 3; i < 6; i++)
        EXPECT_EQ(99.0f, afTorque[i]);
}

TEST_F(Device3DOFMotorOutput, MotorTorquesOfTheAlturaMapWorkedByHand)
{
    const float afJoint[6] = {1000.0f, 2000.0f, 3000.0f, 5.0f, 5.0f, 5.0f};
    float afMotor[6] = {0, 0, 0, 99, 99, 99};
    EXPECT_EQ(0, m_pDev->CalculateMotorTorques(afJoint, afMotor));
    // motor 0 = +r0*1000; motor 2 (joint 1, sign -1) = -r1*2000; motor 1 (joint 2, sign -1)
    // = -r2*3000; motor 2 -= motor 1; motors 2 and 1 negated.
    EXPECT_NEAR(76.912, afMotor[0], 1e-3);
    EXPECT_NEAR(270.198, afMotor[1], 1e-3);
    EXPECT_NEAR(-90.066, afMotor[2], 1e-3);
    for (int k = 3; k < 6; k++)
        EXPECT_EQ(99.0f, afMotor[k]);
}

TEST_F(Device3DOFMotorOutput, DACValuesRoundHalfUpThenTruncateTowardZero)
{
    SetAll(h.m_data.fTtm, 1.0f);
    const struct {
        float fTorque;
        long nDAC;
    } aCases[] = {{-2.3f, -1}, {2.6f, 3}, {2.4f, 2}, {-0.4f, 0}, {-0.6f, 0}, {-1.6f, -1}, {0.0f, 0}};
    for (const auto& c : aCases) {
        SetTorques(c.fTorque, 0.0f, 0.0f);
        ASSERT_EQ(0, m_pDev->WriteMotorTorques(false));
        EXPECT_EQ(c.nDAC, h.m_data.nMotorDACValues[0]) << c.fTorque;
        EXPECT_EQ((USHORT)(c.nDAC + 32768), h.m_script.m_ausBaseWords[0]);
    }
}

TEST_F(Device3DOFMotorOutput, DACWordsAreClampedOffsetBinaryAndTheStoredValuesStay)
{
    h.m_data.nMotorDACValues[0] = 40000;
    h.m_data.nMotorDACValues[1] = -40000;
    h.m_data.nMotorDACValues[2] = 0;
    EXPECT_EQ(0, m_pDev->WriteMotorDACValues());
    EXPECT_EQ(0xFFFF, h.m_script.m_ausBaseWords[0]);
    EXPECT_EQ(0x0000, h.m_script.m_ausBaseWords[1]);
    EXPECT_EQ(0x8000, h.m_script.m_ausBaseWords[2]);
    EXPECT_EQ(40000, h.m_data.nMotorDACValues[0]);
    EXPECT_EQ(-40000, h.m_data.nMotorDACValues[1]);

    h.m_data.nMotorDACValues[0] = 32767;
    h.m_data.nMotorDACValues[1] = -32768;
    h.m_data.nMotorDACValues[2] = 32768;
    EXPECT_EQ(0, m_pDev->WriteMotorDACValues());
    EXPECT_EQ(0xFFFF, h.m_script.m_ausBaseWords[0]);
    EXPECT_EQ(0x0000, h.m_script.m_ausBaseWords[1]);
    EXPECT_EQ(0xFFFF, h.m_script.m_ausBaseWords[2]);
    // Words leave with a flush-only exchange, after the write.
    ASSERT_EQ(2, h.m_script.m_nFlushLog);
    EXPECT_EQ(1, h.m_script.m_anFlushArg[1]);
    EXPECT_LT(h.m_script.FindInLog(OP_WRITE_BASE), h.m_script.FindInLog(OP_FLUSH));
}

TEST_F(Device3DOFMotorOutput, SendAndZeroReportMappedFailuresWithoutFlushing)
{
    EXPECT_EQ(0, m_pDev->ZeroTorques());
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(0x8000, h.m_script.m_ausBaseWords[k]);
    EXPECT_EQ(1, h.m_script.m_nFlushLog);

    h.m_script.m_anResult[OP_WRITE_BASE] = -15;
    const unsigned short ausWords[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(-28, m_pDev->SendTorques(ausWords));
    EXPECT_EQ(1, h.m_script.m_ausBaseWords[0]);
    EXPECT_EQ(3, h.m_script.m_ausBaseWords[2]);
    EXPECT_EQ(-28, m_pDev->ZeroTorques());
    EXPECT_EQ(1, h.m_script.m_nFlushLog);

    h.m_script.m_anResult[OP_WRITE_BASE] = 1;
    h.m_script.m_anResult[OP_FLUSH] = -16;
    EXPECT_EQ(-4, m_pDev->SendTorques(ausWords));
}

TEST_F(Device3DOFMotorOutput, PerMotorCheckClampsWithSaturationAndFailsWithout)
{
    SetAll(h.m_data.fMaxMotorTorques, 241.0f);
    SetAll(h.m_data.fSaturationTorques, 0.0f);

    SetTorques(241.0f, -241.0f, 0.0f);
    EXPECT_EQ(0, m_pDev->DoMotorTorqueCheck());
    SetTorques(241.5f, 0.0f, 0.0f);
    EXPECT_EQ(-2, m_pDev->DoMotorTorqueCheck());
    SetTorques(0.0f, 0.0f, -241.5f);
    EXPECT_EQ(-2, m_pDev->DoMotorTorqueCheck());

    h.m_data.fSaturationTorques[0] = 100.0f;
    h.m_data.fSaturationTorques[2] = 100.0f;
    SetTorques(241.5f, 200.0f, -241.5f);
    EXPECT_EQ(0, m_pDev->DoMotorTorqueCheck());
    EXPECT_EQ(100.0f, h.m_data.fMotorTorques[0]);
    EXPECT_EQ(200.0f, h.m_data.fMotorTorques[1]);
    EXPECT_EQ(-100.0f, h.m_data.fMotorTorques[2]);

    // Only the model's three motors are checked.
    h.m_data.fMotorTorques[3] = 1e9f;
    SetTorques(0.0f, 0.0f, 0.0f);
    EXPECT_EQ(0, m_pDev->DoMotorTorqueCheck());
    EXPECT_EQ(1e9f, h.m_data.fMotorTorques[3]);
}

TEST_F(Device3DOFMotorOutput, CumulativeCheckScalesByTheWorstMotorThenAppliesTheBudget)
{
    SetAll(h.m_data.fSaturationTorques, 200.0f);
    SetAll(h.m_data.fTtm, 1.0f);
    h.m_data.nAmpDACLimit = 1000000;
    SetTorques(300.0f, 150.0f, 0.0f);
    EXPECT_EQ(0, m_pDev->DoCumMotorTorqueCheck());
    EXPECT_NEAR(200.0f, h.m_data.fMotorTorques[0], 1e-4);
    EXPECT_NEAR(100.0f, h.m_data.fMotorTorques[1], 1e-4);
    EXPECT_EQ(0.0f, h.m_data.fMotorTorques[2]);

    // The same torques with 10 counts per N·mm: DAC (2000, 1000, 0), budget 1500, so each
    // is scaled by 1500/3000 and the torques come back as DAC / ttm.
    SetAll(h.m_data.fTtm, 10.0f);
    h.m_data.nAmpDACLimit = 1500;
    SetTorques(300.0f, 150.0f, 0.0f);
    EXPECT_EQ(0, m_pDev->DoCumMotorTorqueCheck());
    EXPECT_FLOAT_EQ(100.0f, h.m_data.fMotorTorques[0]);
    EXPECT_FLOAT_EQ(50.0f, h.m_data.fMotorTorques[1]);
    EXPECT_EQ(0.0f, h.m_data.fMotorTorques[2]);

    // Equal excess: the first motor's factor wins (200/300, not 250/350).
    h.m_data.fSaturationTorques[1] = 250.0f;
    SetAll(h.m_data.fTtm, 1.0f);
    h.m_data.nAmpDACLimit = 1000000;
    SetTorques(300.0f, -350.0f, 0.0f);
    EXPECT_EQ(0, m_pDev->DoCumMotorTorqueCheck());
    EXPECT_NEAR(200.0f, h.m_data.fMotorTorques[0], 1e-3);
    // -350 * 2/3 = -233.33, truncated to a whole DAC count.
    EXPECT_EQ(-233.0f, h.m_data.fMotorTorques[1]);

    // Within saturation nothing is scaled; only the DAC truncation shows.
    SetTorques(150.7f, -20.2f, 3.9f);
    EXPECT_EQ(0, m_pDev->DoCumMotorTorqueCheck());
    EXPECT_EQ(150.0f, h.m_data.fMotorTorques[0]);
    EXPECT_EQ(-20.0f, h.m_data.fMotorTorques[1]);
    EXPECT_EQ(3.0f, h.m_data.fMotorTorques[2]);
}

TEST_F(Device3DOFMotorOutput, CumulativeCheckWithoutSaturationEnforcesMaximaAndBudget)
{
    SetAll(h.m_data.fSaturationTorques, 0.0f);
    h.m_data.fSaturationTorques[0] = 500.0f;   // one motor alone does not activate it
    SetAll(h.m_data.fMaxMotorTorques, 1e6f);
    SetAll(h.m_data.fTtm, 1.0f);
    h.m_data.nAmpDACLimit = 10000;

    SetTorques(6000.0f, -5000.0f, 0.0f);
    EXPECT_EQ(-2, m_pDev->DoCumMotorTorqueCheck());
    SetTorques(6000.0f, -4000.0f, 0.0f);
    EXPECT_EQ(0, m_pDev->DoCumMotorTorqueCheck());
    EXPECT_EQ(-4000.0f, h.m_data.fMotorTorques[1]);

    h.m_data.fMaxMotorTorques[2] = 241.0f;
    SetTorques(0.0f, 0.0f, -241.5f);
    EXPECT_EQ(-2, m_pDev->DoCumMotorTorqueCheck());
}

TEST_F(Device3DOFMotorOutput, CheckMotorTorquesPicksTheCheckByTheBudget)
{
    SetAll(h.m_data.fSaturationTorques, 200.0f);
    SetAll(h.m_data.fTtm, 1.0f);

    h.m_data.nAmpDACLimit = ~0UL;   // per motor: each clamped on its own
    SetTorques(300.0f, 150.0f, 0.0f);
    EXPECT_EQ(0, m_pDev->CheckMotorTorques());
    EXPECT_EQ(200.0f, h.m_data.fMotorTorques[0]);
    EXPECT_EQ(150.0f, h.m_data.fMotorTorques[1]);

    h.m_data.nAmpDACLimit = ~0UL - 1;   // cumulative: scaled together
    SetTorques(300.0f, 150.0f, 0.0f);
    EXPECT_EQ(0, m_pDev->CheckMotorTorques());
    EXPECT_NEAR(200.0f, h.m_data.fMotorTorques[0], 1e-4);
    EXPECT_NEAR(100.0f, h.m_data.fMotorTorques[1], 1e-4);
}

TEST_F(Device3DOFMotorOutput, FailedCheckWritesNothing)
{
    SetAll(h.m_data.fSaturationTorques, 0.0f);
    SetTorques(241.5f, 0.0f, 0.0f);
    h.m_data.nMotorDACValues[0] = 12;
    EXPECT_EQ(-2, m_pDev->WriteMotorTorques(true));
    EXPECT_EQ(0, h.m_script.Calls(OP_WRITE_BASE));
    EXPECT_EQ(12, h.m_data.nMotorDACValues[0]);
}

TEST_F(Device3DOFMotorOutput, NaNTorqueCommandsZeroInsteadOfAnUndefinedConversion)
{
    SetTorques(nanf(""), INFINITY, -INFINITY);
    EXPECT_EQ(0, m_pDev->WriteMotorTorques(false));
    EXPECT_EQ(0, h.m_data.nMotorDACValues[0]);
    EXPECT_EQ(0x8000, h.m_script.m_ausBaseWords[0]);
    EXPECT_EQ(0xFFFF, h.m_script.m_ausBaseWords[1]);
    EXPECT_EQ(0x0000, h.m_script.m_ausBaseWords[2]);
}

class Device3DOFVoltage : public Device3DOFMotorOutput {
protected:
    void Remake(const char* pszScale)
    {
        if (pszScale)
            setenv("TDL_MOTOR_VOLTAGE_SCALE", pszScale, 1);
        else
            unsetenv("TDL_MOTOR_VOLTAGE_SCALE");
        m_pDev.reset(new CKinetorAlturaADevice(h.m_szName, 4, 0, false, &h.m_data));
        ASSERT_EQ(0, m_pDev->OpenConnection(2));
        SetAll(h.m_data.fMaxMotorTorques, 1e6f);
        SetAll(h.m_data.fSaturationTorques, 0.0f);
    }
};

TEST_F(Device3DOFVoltage, DefaultScaleReportsTheVoltageOfTheTruncatedWord)
{
    Remake(nullptr);
    SetAll(h.m_data.fTtm, 2.0f);
    const float afVolts[3] = {1.0f, 0.0f, 0.0f};
    float afActual[3] = {-9, -9, -9};
    EXPECT_EQ(0, m_pDev->WriteMotorVoltages(afVolts, afActual));
    EXPECT_NEAR(1638.35, h.m_data.fMotorTorques[0], 1e-2);   // joint 0 drives motor 0
    EXPECT_NEAR(3264.0 / 32767.0 / 0.1, afActual[0], 1e-5);
    EXPECT_NEAR(0.9961, afActual[0], 1e-4);
    EXPECT_EQ(0.0f, afActual[1]);
    // The word sent is the rounded DAC value.
    EXPECT_EQ(3277, h.m_data.nMotorDACValues[0]);
    EXPECT_EQ((USHORT)(3277 + 32768), h.m_script.m_ausBaseWords[0]);
}

TEST_F(Device3DOFVoltage, FullScaleReportsTheTopWordAndMapsJointsToMotors)
{
    Remake("1.0");
    SetAll(h.m_data.fTtm, 1.0f);
    h.m_data.fTtm[2] = 4.0f;
    const float afVolts[3] = {1.0f, -0.5f, 0.0f};
    float afActual[3];
    EXPECT_EQ(0, m_pDev->WriteMotorVoltages(afVolts, afActual));
    EXPECT_NEAR(32752.0 / 32767.0, afActual[0], 1e-6);
    EXPECT_NEAR(0.99954, afActual[0], 1e-5);
    // Joint 1 is driven by motor 2 on the Altura A: -0.5 of full scale over 4 counts per N·mm.
    EXPECT_NEAR(-0.5 * 32767.0 / 4.0, h.m_data.fMotorTorques[2], 1e-2);
    const long d = (long)(-0.5f * 32767.0f);                       // -16383
    const long q = ((d + 32768) & ~0xFL) - 32768;                   // -16384
    EXPECT_NEAR((double)q / 32767.0, afActual[1], 1e-4);

    // Overdrive: the words are clamped, and so is the voltage reported for them.
    const float afOver[3] = {2.0f, 0.0f, 0.0f};
    h.m_data.fTtm[2] = 1.0f;
    EXPECT_EQ(0, m_pDev->WriteMotorVoltages(afOver, afActual));
    EXPECT_NEAR(32752.0 / 32767.0, afActual[0], 1e-6);
}

TEST_F(Device3DOFVoltage, FailedCheckLeavesActualUnfilledAndWritesNothing)
{
    Remake("1.0");
    SetAll(h.m_data.fTtm, 1.0f);
    SetAll(h.m_data.fMaxMotorTorques, 100.0f);
    const float afVolts[3] = {1.0f, 0.0f, 0.0f};
    float afActual[3] = {-9, -9, -9};
    EXPECT_EQ(-2, m_pDev->WriteMotorVoltages(afVolts, afActual));
    EXPECT_EQ(-9.0f, afActual[0]);
    EXPECT_EQ(0, h.m_script.Calls(OP_WRITE_BASE));
}

TEST_F(Device3DOFVoltage, ZeroScaleReportsZeroNotNaN)
{
    Remake("0");
    SetAll(h.m_data.fTtm, 1.0f);
    const float afVolts[3] = {1.0f, 1.0f, 1.0f};
    float afActual[3] = {-9, -9, -9};
    EXPECT_EQ(0, m_pDev->WriteMotorVoltages(afVolts, afActual));
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(0.0f, afActual[i]);
    EXPECT_EQ(0x8000, h.m_script.m_ausBaseWords[0]);
}

}  // namespace
