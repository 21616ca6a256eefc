// The motor temperature model against steps worked out by hand from the two-node
// equations and the constants of motor type 20.
#include <math.h>

#include <gtest/gtest.h>

#include "ConnectionDouble.h"
#include "device/Kinetor6DOFDevice.h"
#include "device/KinetorAlturaADevice.h"
#include "device/KinetorCirrelDevice.h"

namespace {

char g_szName[] = "thermal";

// The round-robin counters are process-wide; each test starts them from the top.
class CTestAltura : public CKinetorAlturaADevice {
public:
    explicit CTestAltura(_KINETOR_DEVICE_DATA* p) : CKinetorAlturaADevice(g_szName, 4, 0, false, p) {}
    static void RestartRoundRobin() { axisToCheckThisTime = -1; }
};

class CTestCirrel : public CKinetorCirrelDevice {
public:
    explicit CTestCirrel(_KINETOR_DEVICE_DATA* p) : CKinetorCirrelDevice(g_szName, 4, 0, true, p) {}
    static void RestartRoundRobin() { axisToCheckThisTime = -1; }
};

// Motor type 20 as the library object fills it in.
void SetMotorType20(_KINETOR_DEVICE_DATA& d, int k)
{
    d.nMotorType[k] = 20;
    d.fMcu[k] = 0.0105f;
    d.fMfe[k] = 0.12f;
    d.fRcu[k] = 2.34f;
    d.fRcf[k] = 3.1f;
    d.fRfa[k] = 14.0f;
    d.fApT[k] = 12.2f / 32768.0f;
    d.fTmax[k] = 100.0f;
    d.fMaxMotorTorques[k] = 241.0f;
}

class TemperatureModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dirs.Ok());
        FillDefaultDeviceData(m_data);
        for (int k = 0; k < 6; k++) {
            SetMotorType20(m_data, k);
            m_data.fTcu[k] = 60.0f;
            m_data.fTfe[k] = 40.0f;
        }
        CTestAltura::RestartRoundRobin();
        CTestCirrel::RestartRoundRobin();
    }

    // Motors whose temperatures differ from 60 / 40.
    int ChangedMotors() const
    {
        int nMask = 0;
        for (int k = 0; k < 6; k++)
            if (m_data.fTcu[k] != 60.0f || m_data.fTfe[k] != 40.0f)
                nMask |= 1 << k;
        return nMask;
    }

    CTestDirectories m_dirs;
    _KINETOR_DEVICE_DATA m_data;
};

// Hand-worked step, motor type 20, DAC value 10000, winding 60, body 40:
//   I   = 12.2 / 32768 * 10000           = 3.723145 A
//   P   = I^2 * 2.34                      = 32.43662 W
//   Qcf = (60 - 40) / 3.1                 = 6.451613 W
//   Qfa = (40 - 25) / 14                  = 1.071429 W
// With f = 1 (a rate of 3 Hz, each motor every third call):
//   dTcu = (32.43662 - 6.451613) / (0.0105 * 385 * 1) = 25.98501 / 4.0425 = 6.427956
//   dTfe = (6.451613 - 1.071429) / (0.12 * 434 * 1)   =  5.380184 / 52.08  = 0.1033062
TEST_F(TemperatureModelTest, ThreeDofStepMatchesHandComputedStep)
{
    CTestAltura device(&m_data);
    m_data.fUpdateRate = 3.0f;
    m_data.nMotorDACValues[0] = 10000;

    EXPECT_EQ(0, device.CheckKinetorTemperature());
    EXPECT_NEAR(66.427956, m_data.fTcu[0], 2e-4);
    // The body takes the heat flow from before the winding warmed: with the new winding
    // temperature it would have gained 0.1431 instead.
    EXPECT_NEAR(40.103306, m_data.fTfe[0], 2e-5);
    EXPECT_EQ(1, ChangedMotors());

    // At 900 Hz the same motor is visited at 300 Hz: dTcu = 25.98501 / 1212.75 = 0.0214265.
    m_data.fUpdateRate = 900.0f;
    m_data.fTcu[1] = 60.0f;
    m_data.nMotorDACValues[1] = 10000;
    EXPECT_EQ(0, device.CheckKinetorTemperature());
    EXPECT_NEAR(60.0214265, m_data.fTcu[1], 2e-5);
}

// At rest (DAC 0) the winding at 60 cools and the body at 40 warms, one motor per call
// in the order 0, 1, 2, 0; at 300 Hz per motor: dTcu = -6.451613 / 1212.75 = -0.0053198,
// dTfe = 5.380184 / 15624 = 0.00034435.
TEST_F(TemperatureModelTest, ThreeDofVisitsOneMotorPerCallInTurn)
{
    CTestAltura device(&m_data);
    m_data.fUpdateRate = 900.0f;

    const int anExpected[4] = {1, 2, 4, 1};
    for (int n = 0; n < 4; n++) {
        for (int k = 0; k < 6; k++) {
            m_data.fTcu[k] = 60.0f;
            m_data.fTfe[k] = 40.0f;
        }
        EXPECT_EQ(0, device.CheckKinetorTemperature());
        EXPECT_EQ(anExpected[n], ChangedMotors()) << "call " << n;
        const int k = n % 3;
        EXPECT_NEAR(59.9946802, m_data.fTcu[k], 1e-5);
        EXPECT_GT(m_data.fTfe[k], 40.0f);
        EXPECT_NEAR(40.00034435, m_data.fTfe[k], 5e-6);
    }
}

TEST_F(TemperatureModelTest, ThreeDofReportsTheVisitedMotorTooWarm)
{
    CTestAltura device(&m_data);
    m_data.fUpdateRate = 900.0f;
    // Motor 1 is already past its limit but is not visited on the first call; resting, it
    // cools by only 60.5 / 3.1 / 1212.75 = 0.016 on its own call.
    m_data.fTcu[1] = 100.5f;
    EXPECT_EQ(0, device.CheckKinetorTemperature());
    EXPECT_EQ(-1, device.CheckKinetorTemperature());

    // Exactly at the limit is still allowed.
    m_data.fTcu[2] = 100.0f;
    m_data.fTfe[2] = 100.0f;
    m_data.fTmax[2] = 100.0f;
    EXPECT_EQ(0, device.CheckKinetorTemperature());
}

// Before the servo rate has been measured (0) the 3-DOF model assumes 100 Hz rather than
// dividing by zero: at 100/3 Hz per motor, resting at 60 / 40,
// dTcu = -6.451613 / 134.75 = -0.0478784, dTfe = 5.380184 / 1736 = 0.0030992.
TEST_F(TemperatureModelTest, ThreeDofWithoutMeasuredRateStaysFinite)
{
    CTestAltura device(&m_data);
    m_data.fUpdateRate = 0.0f;
    EXPECT_EQ(0, device.CheckKinetorTemperature());
    EXPECT_NEAR(60.0f - 0.0478784f, m_data.fTcu[0], 1e-5);
    EXPECT_NEAR(40.0f + 0.0030992f, m_data.fTfe[0], 1e-5);
}

// A motor type without a table entry leaves every thermal field 0; such a motor is not
// modelled instead of turning its temperatures into NaN (which would then be saved).
TEST_F(TemperatureModelTest, MotorWithoutThermalParametersIsLeftAlone)
{
    for (int k = 0; k < 6; k++) {
        m_data.fMcu[k] = m_data.fMfe[k] = m_data.fRcu[k] = m_data.fRcf[k] = m_data.fRfa[k] = 0.0f;
        m_data.fApT[k] = m_data.fTmax[k] = 0.0f;
        m_data.nMotorDACValues[k] = 20000;
    }
    CTestAltura altura(&m_data);
    CKinetor6DOFDevice sixdof(g_szName, 4, 0, true, &m_data);
    CTestCirrel cirrel(&m_data);
    for (int n = 0; n < 3; n++) {
        EXPECT_EQ(0, altura.CheckKinetorTemperature());
        EXPECT_EQ(0, cirrel.CheckKinetorTemperature());
    }
    EXPECT_EQ(0, sixdof.CheckKinetorTemperature());
    for (int k = 0; k < 6; k++) {
        EXPECT_EQ(60.0f, m_data.fTcu[k]);
        EXPECT_EQ(40.0f, m_data.fTfe[k]);
    }
}

// 6-DOF, motor type 20, DAC 10000, winding 60, body 40: the resistance follows the
// winding, R = 2.34 * (1 + 0.00392 * (60 - 25)) = 2.661048, P = 13.86181 * R = 36.88693.
// With the rate unmeasured (0) the model runs at 100 Hz:
//   dTcu = (36.88693 - 6.451613) / (4.0425 * 100) = 0.0752884
//   dTfe = 5.380184 / (52.08 * 100)                = 0.00103306
TEST_F(TemperatureModelTest, SixDofStepsEveryMotorWithWarmResistance)
{
    CKinetor6DOFDevice device(g_szName, 6, 0, true, &m_data);
    m_data.fUpdateRate = 0.0f;
    for (int k = 0; k < 6; k++)
        m_data.nMotorDACValues[k] = (k == 4) ? -10000 : 10000;

    EXPECT_EQ(0, device.CheckKinetorTemperature());
    for (int k = 0; k < 6; k++) {
        EXPECT_NEAR(60.0752884, m_data.fTcu[k], 1e-5) << "motor " << k;
        EXPECT_NEAR(40.00103306, m_data.fTfe[k], 5e-6) << "motor " << k;
    }

    // A measured rate below 100 Hz still counts as 100; above it the rate is used.
    m_data.fTcu[0] = 60.0f;
    m_data.fTfe[0] = 40.0f;
    m_data.fUpdateRate = 50.0f;
    device.CheckKinetorTemperature();
    EXPECT_NEAR(60.0752884, m_data.fTcu[0], 1e-5);
    m_data.fTcu[0] = 60.0f;
    m_data.fTfe[0] = 40.0f;
    m_data.fUpdateRate = 1000.0f;
    device.CheckKinetorTemperature();
    EXPECT_NEAR(60.00752884, m_data.fTcu[0], 1e-5);
}

TEST_F(TemperatureModelTest, SixDofStopsAtTheFirstMotorTooWarm)
{
    CKinetor6DOFDevice device(g_szName, 6, 0, true, &m_data);
    m_data.fUpdateRate = 1000.0f;
    for (int k = 0; k < 6; k++)
        m_data.nMotorDACValues[k] = 30000;
    m_data.fTcu[2] = 99.999f;

    EXPECT_EQ(-1, device.CheckKinetorTemperature());
    EXPECT_GT(m_data.fTcu[2], 100.0f);
    // Motors 0 and 1 were integrated, 3 to 5 were not reached.
    EXPECT_EQ(0x07, ChangedMotors());
}

// Cirrel at 25 / 25 with f = 1 (rate 3 Hz), motor type 20 constants:
//   DAC +-10000: I = 3.723 A exceeds Imax 1.55 A, P = 1.55^2 * 2.34 = 5.62185 W,
//                dTcu = 5.62185 / 4.0425 = 1.390686, dTfe = 0 (no flows yet)
//   DAC 2000:    I = 0.7446289 A, P = 0.5544725 * 2.34 = 1.297465 W, dTcu = 0.3209561
TEST_F(TemperatureModelTest, CirrelHeatsWithTheLimitedCurrent)
{
    // 1.55 A at 25 C; at 60 C: -0.0045 + 1.8214 e^(-35/216.3713) - 0.2669 e^(-35/19.7791) = 1.499384.
    EXPECT_NEAR(1.55, CKinetorCirrelDevice::MaxMotorCurrent(25.0f), 1e-5);
    EXPECT_NEAR(1.499384, CKinetorCirrelDevice::MaxMotorCurrent(60.0f), 1e-5);

    CTestCirrel device(&m_data);
    m_data.fUpdateRate = 3.0f;
    for (int k = 0; k < 6; k++)
        m_data.fTcu[k] = m_data.fTfe[k] = 25.0f;
    m_data.nMotorDACValues[0] = 10000;
    m_data.nMotorDACValues[1] = -10000;
    m_data.nMotorDACValues[2] = 2000;

    for (int n = 0; n < 3; n++)
        EXPECT_EQ(0, device.CheckKinetorTemperature());
    EXPECT_NEAR(26.390686, m_data.fTcu[0], 2e-5);
    EXPECT_NEAR(26.390686, m_data.fTcu[1], 2e-5);
    EXPECT_NEAR(25.3209561, m_data.fTcu[2], 2e-5);
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(25.0f, m_data.fTfe[k]);
}

// The Cirrel limits on the body: winding 150 over a body of 50 passes (the winding gives
// 100 / 3.1 = 32.26 W to the body: Tcu 142.0203, Tfe 50.58511 at f = 1); a body above
// 100 fails.
TEST_F(TemperatureModelTest, CirrelLimitsOnTheBodyTemperature)
{
    CTestCirrel device(&m_data);
    CTestAltura altura(&m_data);
    m_data.fUpdateRate = 3.0f;
    m_data.fTcu[0] = 150.0f;
    m_data.fTfe[0] = 50.0f;
    EXPECT_EQ(0, device.CheckKinetorTemperature());
    EXPECT_NEAR(142.02027, m_data.fTcu[0], 1e-4);
    EXPECT_NEAR(50.585107, m_data.fTfe[0], 1e-4);

    // The 3-DOF counter is separate: the Altura's calls do not move the Cirrel's turn.
    altura.CheckKinetorTemperature();
    altura.CheckKinetorTemperature();
    m_data.fTfe[1] = 100.5f;
    m_data.fTcu[1] = 100.5f;
    EXPECT_EQ(-1, device.CheckKinetorTemperature());
}

}  // namespace
