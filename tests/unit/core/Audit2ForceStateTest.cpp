// The force path and the persisted state seen from the device model's side: which model
// operations each command makes, in which order and with which arguments, how the
// temperature readers pick their values per model, and how enabling forces waits for a
// device fault to clear on the device clock.
#include <stdint.h>
#include <time.h>

#include <string>
#include <vector>

#include "DeviceDoubleFixture.h"
#include "platform/TimeSample.h"

namespace {

// A device double that also records the arguments of the calls whose flags matter and the
// order of the operations that change the hardware.
class CRecordingDevice : public CFakeHapticDevice {
public:
    CRecordingDevice(char* pszName, _KINETOR_DEVICE_DATA* pDevData)
        : CFakeHapticDevice(pszName, pDevData) {}

    int EnableWatchDog(bool bPulse, bool bWait) override {
        m_calls.push_back(std::string("watchdog ") + (bPulse ? "1" : "0") + (bWait ? "1" : "0"));
        return CFakeHapticDevice::EnableWatchDog(bPulse, bWait);
    }
    int EnableAmplifiers(bool bOn) override {
        m_calls.push_back(bOn ? "amp on" : "amp off");
        return CFakeHapticDevice::EnableAmplifiers(bOn);
    }
    int ZeroTorques() override {
        m_calls.push_back("zero");
        return CFakeHapticDevice::ZeroTorques();
    }
    int GetDeviceFault() override {
        m_calls.push_back("fault");
        m_nFaultPolls++;
        if (m_nFaultClearsAfter > 0 && m_nFaultPolls >= m_nFaultClearsAfter)
            return 0;
        return CFakeHapticDevice::GetDeviceFault();
    }
    int WriteMotorTorques(bool bCheck) override {
        m_checks.push_back(bCheck);
        return CFakeHapticDevice::WriteMotorTorques(bCheck);
    }
    int WriteMotorVoltages(const float* volts, float* actual) override {
        m_volts.assign(volts, volts + 6);
        actual[0] = 1.5f;
        return 0;
    }
    int UpdateCalibration() override {
        m_calls.push_back("calibrate");
        return m_nCalibrationResult;
    }
    int GetCalibrationStatus(int& status) override {
        status = 42;
        return -3;
    }

    std::vector<std::string> m_calls;
    std::vector<bool> m_checks;
    std::vector<float> m_volts;
    int m_nFaultPolls = 0;
    int m_nFaultClearsAfter = 0;   // the poll (from 1) from which the fault reads clear
    int m_nCalibrationResult = 0;
};

class Audit2ForceTest : public DeviceDoubleTest {
protected:
    void SetUp() override {
        DeviceDoubleTest::SetUp();
        // Replace the fixture's double with the recording one; the object owns it.
        delete m_obj.m_pDevice;
        m_pRec = new CRecordingDevice(m_obj.m_szKinetorName, m_obj.GetMemberData());
        m_obj.m_pDevice = m_pRec;
        m_pFake = m_pRec;
    }

    size_t Count(const std::string& strCall) const {
        size_t n = 0;
        for (const std::string& s : m_pRec->m_calls)
            n += s == strCall ? 1 : 0;
        return n;
    }

    CRecordingDevice* m_pRec = nullptr;
};

TEST_F(Audit2ForceTest, WatchdogIsToggledBeforeTheStatusIsAskedOnEveryCommand)
{
    m_obj.m_bWatchdogTimer = 1;
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    // A watchdog circuit switches the amplifiers itself.
    EXPECT_EQ(0u, Count("amp on"));
    m_pRec->m_calls.clear();

    float f[3] = {0, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(f));
    ASSERT_GE(m_pRec->m_calls.size(), 2u);
    EXPECT_EQ("watchdog 10", m_pRec->m_calls[0]);
    EXPECT_EQ("fault", m_pRec->m_calls[1]);

    // Even a command that the filtered fault refuses has fed the watchdog first.
    m_pRec->m_nDeviceFault = -2;
    for (int i = 0; i < 15; i++)
        ASSERT_EQ(0, m_obj.WriteKinetorJointTorques());
    m_pRec->m_calls.clear();
    long dac[6] = {0};
    EXPECT_EQ(-2, m_obj.CommandMotorDACValues(dac));
    ASSERT_EQ(2u, m_pRec->m_calls.size());
    EXPECT_EQ("watchdog 10", m_pRec->m_calls[0]);
    EXPECT_EQ("fault", m_pRec->m_calls[1]);

    // Joint torques given directly skip the toggle.
    m_pRec->m_nDeviceFault = 0;
    m_pRec->m_calls.clear();
    float t[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, m_obj.SendKinetorJointTorques(t));
    EXPECT_EQ(0u, Count("watchdog 10"));
}

TEST_F(Audit2ForceTest, OnlyTheCartesianCommandHonoursTheForceCheckSwitch)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    ASSERT_EQ(0, m_obj.EnableKinetorForceCheck(0));
    EXPECT_EQ(0, m_obj.IsKinetorForceCheckEnabled());
    float f[3] = {0, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(f));
    ASSERT_EQ(0, m_obj.WriteKinetorJointTorques());
    float t[6] = {0, 0, 0, 0, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorJointTorques(t));
    ASSERT_EQ(3u, m_pRec->m_checks.size());
    EXPECT_FALSE(m_pRec->m_checks[0]);
    EXPECT_TRUE(m_pRec->m_checks[1]);
    EXPECT_TRUE(m_pRec->m_checks[2]);

    ASSERT_EQ(0, m_obj.EnableKinetorForceCheck(1));
    ASSERT_EQ(0, m_obj.SendKinetorForce(f));
    EXPECT_TRUE(m_pRec->m_checks[3]);
}

TEST_F(Audit2ForceTest, VoltagesAndDacValuesFollowTheModelsAxisCount)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    ASSERT_EQ(1, m_obj.m_nModelType);
    float volts[6] = {1, 2, 3, 4, 5, 6};
    float sent[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, m_obj.CommandMotorVoltages(volts, sent));
    EXPECT_EQ(3.0f, volts[2]);
    EXPECT_EQ(0.0f, volts[3]);
    EXPECT_EQ(0.0f, volts[5]);
    EXPECT_EQ(0.0f, m_pRec->m_volts[4]);
    EXPECT_EQ(1.5f, sent[0]);

    m_obj.m_nModelType = 4;
    float volts6[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, m_obj.CommandMotorVoltages(volts6, sent));
    EXPECT_EQ(6.0f, m_pRec->m_volts[5]);
    long dac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, m_obj.CommandMotorDACValues(dac));
    EXPECT_EQ(6, Data().nMotorDACValues[5]);
    float f6[6] = {0, 0, 0, 1, 0, 0};
    m_obj.m_bRampForces = 0;
    ASSERT_EQ(0, m_obj.SendKinetorForce6DOF(f6));
    EXPECT_EQ(1.0f, f6[3]);   // a 6-DOF model keeps its torques
}

TEST_F(Audit2ForceTest, WarmRefusalIsFollowedByAReadBackOfTheCooledTemperatures)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    // A file of a moment ago with everything at ambient but one winding.
    ASSERT_TRUE(m_env.WriteFile("KinetorTemperature(Arm)",
                                "30.00 25.00 25.00\n25.00 25.00 25.00\n"
                                "25.00 25.00 25.00\n25.00 25.00 25.00\n"));
    Data().fTcu[0] = 99.0f;
    m_obj.m_bMotorsWarmError = 1;
    float f[3] = {0, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(f));
    EXPECT_EQ(0, m_obj.m_bMotorsWarmError);
    EXPECT_NEAR(30.0f, Data().fTcu[0], 0.05f);

    // With the guard off a warm model is not asked at all.
    m_obj.m_bTempCheckEnabled = 0;
    m_pRec->m_nTemperatureCheck = 1;
    EXPECT_EQ(0, m_obj.SendKinetorForce(f));
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
}

TEST_F(Audit2ForceTest, TemperatureReadersPickTheirValuesByModel)
{
    for (int i = 0; i < 6; i++) {
        Data().fTcu[i] = 30.0f + i;
        Data().fTfe[i] = 50.0f + i;
        Data().fTmax[i] = 125.0f;
    }
    float t[6] = {-1, -1, -1, -1, -1, -1};
    m_obj.m_nModelType = 5;   // the Cirrel reports its housings
    m_obj.GetKinetorTemp(t);
    EXPECT_EQ(50.0f, t[0]);
    EXPECT_EQ(52.0f, t[2]);
    EXPECT_EQ(-1.0f, t[3]);   // three values only

    m_obj.m_nModelType = 4;
    m_obj.GetKinetorTemp6DOF(t);
    EXPECT_EQ(30.0f, t[0]);
    EXPECT_EQ(33.0f, t[3]);
    EXPECT_EQ(35.0f, t[5]);
    m_obj.GetKinetorTempNormalized6DOF(t);
    EXPECT_FLOAT_EQ((30.0f - 25.0f) / 100.0f, t[0]);
    EXPECT_FLOAT_EQ((35.0f - 25.0f) / 100.0f, t[5]);

    m_obj.m_nModelType = 1;
    m_obj.GetKinetorTemp6DOF(t);
    EXPECT_EQ(31.0f, t[1]);
    EXPECT_EQ(0.0f, t[3]);
    EXPECT_EQ(0.0f, t[5]);
    m_obj.GetKinetorTempNormalized6DOF(t);
    EXPECT_FLOAT_EQ(0.06f, t[1]);
    EXPECT_EQ(0.0f, t[4]);   // not normalised to a negative number
}

TEST_F(Audit2ForceTest, UpdateCalibrationStartsAfreshAndReadsThePinchFile)
{
    ASSERT_TRUE(m_env.WriteFile("Pinch Calibration(Arm)", "PinchMin 10 \nPinchMax 20 \n"));
    Data().dPinchValue = 0.4;
    Data().nPinchCalibrated = 0;
    Data().lRawEncoders[1] = 123;
    Data().fJointAngles[0] = 1.0f;
    Data().nRuns = 77;
    m_obj.m_bRampForces = 0;
    EXPECT_EQ(0, m_obj.UpdateCalibration());
    EXPECT_EQ(1, Data().nPinchCalibrated);
    EXPECT_EQ(10, Data().nPinchMin);
    EXPECT_EQ(20, Data().nPinchMax);
    EXPECT_EQ(0.0, Data().dPinchValue);
    EXPECT_EQ(0, Data().lRawEncoders[1]);
    EXPECT_EQ(0.0f, Data().fJointAngles[0]);
    EXPECT_EQ(1, m_obj.m_bRampForces);
    EXPECT_EQ(1, Data().nRuns);   // restarted, then counted once by the update
    ASSERT_EQ(2u, m_pRec->m_calls.size());
    EXPECT_EQ("calibrate", m_pRec->m_calls[0]);
    EXPECT_EQ("zero", m_pRec->m_calls[1]);

    // Without a pinch file the limits return to their defaults and nothing is calibrated.
    ASSERT_EQ(0, remove(m_env.ConfigPath("Pinch Calibration(Arm)").c_str()));
    m_pRec->m_calls.clear();
    m_pRec->m_nCalibrationResult = -5;
    EXPECT_EQ(-5, m_obj.UpdateCalibration());
    EXPECT_EQ(0, Data().nPinchCalibrated);
    EXPECT_EQ(0, Data().nPinchMin);
    EXPECT_EQ(1, Data().nPinchMax);
    EXPECT_EQ(0u, Count("zero"));   // the model's error stops the re-calibration

    int nStatus = 0;
    EXPECT_EQ(-3, m_obj.GetCalibrationStatus(nStatus));
    EXPECT_EQ(42, nStatus);
}

TEST_F(Audit2ForceTest, ResetWithForcesOnConfirmsTheWatchdog)
{
    m_obj.m_bWatchdogTimer = 1;
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    m_pRec->m_calls.clear();
    EXPECT_EQ(0, m_obj.ResetKinetor());
    EXPECT_EQ(0u, Count("amp on"));   // the watchdog circuit switches them
    EXPECT_EQ(1u, Count("watchdog 01"));

    m_obj.m_bWatchdogTimer = 0;
    m_pRec->m_calls.clear();
    EXPECT_EQ(0, m_obj.ResetKinetor());
    EXPECT_EQ(1u, Count("amp on"));
    EXPECT_EQ(1u, Count("watchdog 01"));
}

// What a "%s %ld" reading of the two pairs makes of a pinch file, as the C library does it.
struct PINCH_READ {
    int nResult;
    int nMin;
    int nMax;
};

PINCH_READ ScanfPinch(const std::string& strText, int nMin, int nMax)
{
    char szLabel1[256], szLabel2[256];
    long n1 = 0, n2 = 0;
    const int nFields =
        sscanf(strText.c_str(), "%255s %ld %255s %ld", szLabel1, &n1, szLabel2, &n2);
    PINCH_READ r = {0, nMin, nMax};
    if (nFields >= 2)
        r.nMin = (int)(int32_t)(uint32_t)(unsigned long)n1;
    if (nFields == 4) {
        r.nMax = (int)(int32_t)(uint32_t)(unsigned long)n2;
        r.nResult = 1;
    }
    return r;
}

TEST_F(Audit2ForceTest, PinchNumbersAreReadAsTheLibraryReadsALong)
{
    const char* apszTexts[] = {
        "PinchMin 100 \nPinchMax 900 \n",
        "PinchMin 100PinchMax 900",         // a number ends at its first non-digit
        "PinchMin 7x PinchMax 9\n",         // ... and the rest is the next label
        "PinchMin -5 PinchMax +12",
        "PinchMin 4294967291 \nPinchMax 4 \n",
        "PinchMin 3\n\n\n   PinchMax\t-0004",
        "A 1 B",
        "PinchMin x",
        "PinchMin - 5 PinchMax 6",
        "",
    };
    char szName[] = "Arm";
    for (const char* pszText : apszTexts) {
        ASSERT_TRUE(m_env.WriteFile("Pinch Calibration(Arm)", pszText));
        Data().nPinchMin = 111;
        Data().nPinchMax = 222;
        const PINCH_READ expected = ScanfPinch(pszText, 111, 222);
        EXPECT_EQ(expected.nResult, m_obj.ReadPinchParameters(szName)) << pszText;
        EXPECT_EQ(expected.nMin, Data().nPinchMin) << pszText;
        EXPECT_EQ(expected.nMax, Data().nPinchMax) << pszText;
    }

    // A number beyond the range of a long is held at the largest one, whose low 32 bits
    // are all ones.
    ASSERT_TRUE(m_env.WriteFile("Pinch Calibration(Arm)",
                                "PinchMin 99999999999999999999999 "
                                "PinchMax -99999999999999999999999\n"));
    EXPECT_EQ(1, m_obj.ReadPinchParameters(szName));
    EXPECT_EQ(-1, Data().nPinchMin);
    EXPECT_EQ(0, Data().nPinchMax);
}

// A device clock that moves one millisecond further at every reading, so that a 3000 ms
// timed loop runs out after a few thousand polls without any real waiting.
struct timespec g_tsStepping;
void SteppingClock(struct timespec* pts)
{
    g_tsStepping.tv_nsec += 1000000L;
    if (g_tsStepping.tv_nsec >= 1000000000L) {
        g_tsStepping.tv_nsec -= 1000000000L;
        g_tsStepping.tv_sec++;
    }
    *pts = g_tsStepping;
}

class Audit2EnableWaitTest : public Audit2ForceTest {
protected:
    void SetUp() override {
        Audit2ForceTest::SetUp();
        struct timespec now;
        ReadDeviceClock(&now);
        g_tsStepping.tv_sec = now.tv_sec + 200000;
        g_tsStepping.tv_nsec = 0;
        SetDeviceClock(SteppingClock);
    }
    void TearDown() override { SetDeviceClock(nullptr); }

    double ClockSeconds() const { return (double)g_tsStepping.tv_sec + g_tsStepping.tv_nsec / 1e9; }
};

TEST_F(Audit2EnableWaitTest, FaultThatStaysFailsTheEnableAfterThreeSeconds)
{
    m_pRec->m_nDeviceFault = 1;
    const double fStart = ClockSeconds();
    EXPECT_EQ(-4, m_obj.EnableKinetorForces(1));
    const double fWaited = ClockSeconds() - fStart;
    EXPECT_GE(fWaited, 3.0);
    EXPECT_LT(fWaited, 3.1);
    EXPECT_EQ(0, m_obj.IsKinetorForcesEnabled());
    EXPECT_GT(m_pRec->m_nFaultPolls, 1000);
}

TEST_F(Audit2EnableWaitTest, FaultThatClearsLetsTheEnableSucceed)
{
    m_pRec->m_nDeviceFault = 1;
    m_pRec->m_nFaultClearsAfter = 5;
    EXPECT_EQ(0, m_obj.EnableKinetorForces(1));
    EXPECT_EQ(5, m_pRec->m_nFaultPolls);
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
    EXPECT_EQ(0, m_obj.m_nDevFaultCnt);
    EXPECT_EQ(1u, Count("amp on"));
    EXPECT_EQ(0u, Count("amp off"));
}

TEST_F(Audit2EnableWaitTest, WithoutWaitingTheFaultIsNotAsked)
{
    m_pRec->m_nDeviceFault = 1;
    EXPECT_EQ(0, m_obj.EnableKinetorForces(0));
    EXPECT_EQ(0, m_pRec->m_nFaultPolls);
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
}

}  // namespace
