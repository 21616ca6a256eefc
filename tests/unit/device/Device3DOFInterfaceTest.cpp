// The 3-DOF model's own behaviour towards its connection: error mapping, construction,
// opening and closing, forwarding, encoders, pinch and the watchdog loop.
#include <limits.h>
#include <stdlib.h>

#include <memory>

#include <gtest/gtest.h>

#include "unit/device/ConnectionDouble.h"
#include "device/Kinetor3DOFDevice.h"

namespace {

// Exposes what the tests need to see of the protected state.
class CProbe3DOFDevice : public CKinetor3DOFDevice {
public:
    CProbe3DOFDevice(char* pszName, int nCardType, unsigned long nUnit, bool bGimbal, _KINETOR_DEVICE_DATA* pData)
        : CKinetor3DOFDevice(pszName, nCardType, nUnit, bGimbal, pData) {}
    float Scale() const { return m_fMotorVoltageScale; }
    int AmpEnableBit() const { return m_nAmpEnableBit; }
};

class Device3DOFInterface : public ::testing::Test {
protected:
    CProbe3DOFDevice* Make(int nCardType = 4, bool bGimbal = false, unsigned long nUnit = 0)
    {
        return new CProbe3DOFDevice(h.m_szName, nCardType, nUnit, bGimbal, &h.m_data);
    }
    CModelHarness h;
};

struct MapCase {
    int nConnection;
    int nLibrary;
};

TEST_F(Device3DOFInterface, MapErrorCoversTheWholeTableOnEveryCardType)
{
    const MapCase aCommon[] = {{1, 0},    {-2, -18},  {-3, -19},  {-4, -20},  {-5, -21},
                               {-6, -3},  {-7, -22},  {-8, -8},   {-9, -25},  {-10, -23},
                               {-12, -24}, {-13, -26}, {-14, -27}, {-16, -4},  {-17, -2},
                               {-18, -13}, {-20, -14}, {0, -10},   {-1, -10},  {-11, -10},
                               {2, -10},  {-21, -10}, {INT_MIN, -10}, {INT_MAX, -10}};
    const int anCards[] = {3, 4, 5, 6};
    for (int nCard : anCards) {
        CKinetor3DOFDevice dev(h.m_szName, nCard, 0, false, &h.m_data);
        for (const MapCase& c : aCommon)
            EXPECT_EQ(c.nLibrary, dev.MapError(c.nConnection)) << "card " << nCard << " code " << c.nConnection;
        EXPECT_EQ(nCard == 6 ? -31 : -28, dev.MapError(-15)) << "card " << nCard;
        const int nTalk = (nCard == 4 || nCard == 5) ? -29 : (nCard == 6 ? -32 : -30);
        EXPECT_EQ(nTalk, dev.MapError(-19)) << "card " << nCard;
    }
}

TEST_F(Device3DOFInterface, VoltageScaleComesFromTheEnvironmentClampedToUnitRange)
{
    const struct {
        const char* pszValue;
        float fScale;
    } aCases[] = {{nullptr, 0.1f}, {"2.5", 1.0f}, {"-1", 0.0f}, {"0.25", 0.25f}, {"nan", 0.0f}, {"abc", 0.0f}};
    for (const auto& c : aCases) {
        if (c.pszValue)
            setenv("TDL_MOTOR_VOLTAGE_SCALE", c.pszValue, 1);
        else
            unsetenv("TDL_MOTOR_VOLTAGE_SCALE");
        std::unique_ptr<CProbe3DOFDevice> dev(Make());
        EXPECT_FLOAT_EQ(c.fScale, dev->Scale()) << (c.pszValue ? c.pszValue : "(unset)");
    }
    unsetenv("TDL_MOTOR_VOLTAGE_SCALE");
}

TEST_F(Device3DOFInterface, OpenPassesCardUnitChannelFlagAndStylusOption)
{
    const int anExpectedFlag[] = {0, 1, 0, 1};
    for (int nChannel = 0; nChannel < 4; nChannel++) {
        h.m_script.Reset();
        h.m_data.nExtra6DOFOption = 2;
        std::unique_ptr<CProbe3DOFDevice> dev(Make(5, false, 3));
        EXPECT_EQ(0, dev->OpenConnection(nChannel));
        EXPECT_EQ(anExpectedFlag[nChannel], h.m_script.m_nAllocatedChannel) << "channel " << nChannel;
        EXPECT_EQ(5, h.m_script.m_nFactoryCardType);
        EXPECT_EQ(3UL, h.m_script.m_nFactoryUnit);
        ASSERT_NE(nullptr, dev->GetConnection());
        EXPECT_EQ(2, dev->GetConnection()->GetExtra6DOFOption());
        EXPECT_EQ(0, dev->AmpEnableBit());
    }
}

TEST_F(Device3DOFInterface, OpenFailuresComeBackMapped)
{
    {
        h.m_script.m_bFactoryFails = true;   // no wrapper: -9
        std::unique_ptr<CProbe3DOFDevice> dev(Make());
        EXPECT_EQ(-25, dev->OpenConnection(2));
    }
    {
        h.m_script.Reset();
        h.m_script.m_bConstructorFails = true;
        std::unique_ptr<CProbe3DOFDevice> dev(Make());
        EXPECT_EQ(-25, dev->OpenConnection(2));
        EXPECT_FALSE(h.m_script.m_bAlive);
    }
    {
        h.m_script.Reset();
        h.m_script.m_anResult[OP_ALLOCATE] = -19;
        std::unique_ptr<CProbe3DOFDevice> dev(Make(6));
        EXPECT_EQ(-32, dev->OpenConnection(2));
        // The failed transport is gone; the model answers without it instead of crashing.
        EXPECT_FALSE(h.m_script.m_bAlive);
        EXPECT_EQ(-10, dev->FlushConnection());
        EXPECT_EQ(-4, dev->GetDeviceFault());
    }
}

TEST_F(Device3DOFInterface, CloseDeletesOnceAndReopenDoesNotLeakTheFirstTransport)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make());
    ASSERT_EQ(0, dev->OpenConnection(2));
    ASSERT_EQ(0, dev->OpenConnection(2));
    EXPECT_EQ(2, h.m_script.m_nWrappers);
    EXPECT_EQ(1, h.m_script.Calls(OP_DELETE));
    EXPECT_TRUE(h.m_script.m_bAlive);
    EXPECT_EQ(0, dev->CloseConnection());
    EXPECT_EQ(0, dev->CloseConnection());
    EXPECT_EQ(2, h.m_script.Calls(OP_DELETE));
    EXPECT_FALSE(h.m_script.m_bAlive);
    EXPECT_EQ(nullptr, dev->GetConnection());

    ASSERT_EQ(0, dev->OpenConnection(2));
    dev.reset();   // the destructor closes
    EXPECT_EQ(3, h.m_script.Calls(OP_DELETE));
    EXPECT_FALSE(h.m_script.m_bAlive);
}

TEST_F(Device3DOFInterface, ForwardingOperationsMapCodesButPassReadingsUnchanged)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make(6));
    ASSERT_EQ(0, dev->OpenConnection(2));
    CConnectionScript& s = h.m_script;

    s.m_anResult[OP_FLUSH] = -15;
    EXPECT_EQ(-31, dev->FlushConnection());
    ASSERT_EQ(1, s.m_nFlushLog);
    EXPECT_EQ(0, s.m_anFlushArg[0]);

    EXPECT_EQ(&s, dev->GetConnectionData());

    EXPECT_EQ(0, dev->EnableAmplifiers(true));
    s.m_anResult[OP_ENABLE_BASE] = -17;
    EXPECT_EQ(-2, dev->EnableAmplifiers(false));
    ASSERT_EQ(2, s.m_nAmpLog);
    EXPECT_EQ(1, s.m_anAmpLevel[0]);
    EXPECT_EQ(0, s.m_anAmpLevel[1]);
    EXPECT_EQ(0, s.m_anAmpGroup[1]);

    EXPECT_EQ(0, dev->GetDeviceFault());
    s.m_nDeviceFault = -18;
    EXPECT_EQ(-13, dev->GetDeviceFault());

    s.m_anSwitch[0] = 1;
    s.m_anSwitch[1] = 1;
    EXPECT_EQ(1, dev->GetSwitch(0));
    EXPECT_EQ(0, s.m_nLastSwitchNum);
    const int nSwitchCalls = s.Calls(OP_READ_SWITCH);
    EXPECT_EQ(0, dev->GetSwitch(1));
    EXPECT_EQ(0, dev->GetSwitch(-1));
    EXPECT_EQ(nSwitchCalls, s.Calls(OP_READ_SWITCH));

    s.m_nPresence = 7;
    EXPECT_EQ(7, dev->GetPresence());
    EXPECT_EQ(0, s.m_nLastPresenceNum);
    s.m_nInkwell = -3;
    EXPECT_EQ(-3, dev->GetInkwell());
    s.m_nHardwareRev = 9;
    EXPECT_EQ(9, dev->GetHardwareRevNum());
    s.m_nLightEnabled = 5;
    s.m_nLight = -7;
    EXPECT_EQ(5, dev->IsStatusLightEnabled());
    EXPECT_EQ(-7, dev->ReadStatusLight());

    EXPECT_EQ(0, dev->OverrideStatusLight(4));
    EXPECT_EQ(4, s.m_nLightOverride);
    s.m_anResult[OP_RESTORE_LIGHT] = -7;
    EXPECT_EQ(-22, dev->RestoreStatusLight());

    s.m_anResult[OP_SET_RATE] = -20;
    EXPECT_EQ(-14, dev->SetKinetorUpdateRate(2000));
    EXPECT_EQ(2000UL, s.m_nLastRate);

    dev->Await();
    EXPECT_EQ(1, s.Calls(OP_AWAIT));

    // Slots the 3-DOF model inherits unchanged.
    EXPECT_EQ(-13, dev->SubmitClient(true));
    EXPECT_EQ(0, s.Calls(OP_SUBMIT));
    int nStatus = 42;
    EXPECT_EQ(0, dev->GetCalibrationStatus(nStatus));
    EXPECT_EQ(42, nStatus);
    EXPECT_EQ(0, dev->UpdateCalibration());
}

TEST_F(Device3DOFInterface, OperationsWithoutConnectionReportErrorsInsteadOfCrashing)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make(4, true));
    short enc[6] = {1, 2, 3, 4, 5, 6};
    double dValue = 0.0;
    h.m_data.nExtra6DOFOption = 1;
    EXPECT_EQ(-10, dev->FlushConnection());
    EXPECT_EQ(-10, dev->EnableAmplifiers(true));
    EXPECT_EQ(-10, dev->ResetEncoders());
    EXPECT_EQ(-10, dev->GetEncoders(enc));
    EXPECT_EQ(-10, dev->GetPinchValue(dValue));
    EXPECT_EQ(-4, dev->GetDeviceFault());
    EXPECT_EQ(1, dev->EnableWatchDog(true, false));
    EXPECT_EQ(0, dev->GetSwitch(0));
    EXPECT_EQ(-10, dev->ZeroTorques());
    EXPECT_EQ(-10, dev->WriteMotorTorques(false));
    EXPECT_EQ(-10, dev->UpdateKinetorJointAngles());
    dev->Await();
    EXPECT_EQ(nullptr, dev->GetConnectionData());
}

TEST_F(Device3DOFInterface, ResetEncodersResetsGimbalOnlyWhenPresentThenFlushes)
{
    for (int nGimbal = 0; nGimbal < 2; nGimbal++) {
        h.m_script.Reset();
        std::unique_ptr<CProbe3DOFDevice> dev(Make(4, nGimbal != 0));
        ASSERT_EQ(0, dev->OpenConnection(2));
        EXPECT_EQ(0, dev->ResetEncoders());
        EXPECT_EQ(1, h.m_script.Calls(OP_RESET_BASE));
        EXPECT_EQ(nGimbal, h.m_script.Calls(OP_RESET_GIMBAL));
        ASSERT_EQ(1, h.m_script.m_nFlushLog);
        EXPECT_EQ(1, h.m_script.m_anFlushArg[0]);
        EXPECT_LT(h.m_script.FindInLog(OP_RESET_BASE), h.m_script.FindInLog(OP_FLUSH));
    }
    h.m_script.Reset();
    std::unique_ptr<CProbe3DOFDevice> dev(Make(4, true));
    ASSERT_EQ(0, dev->OpenConnection(2));
    h.m_script.m_anResult[OP_RESET_GIMBAL] = -15;
    EXPECT_EQ(-28, dev->ResetEncoders());
    EXPECT_EQ(0, h.m_script.Calls(OP_FLUSH));
}

TEST_F(Device3DOFInterface, GetEncodersFillsGimbalEntriesOnlyWhenPresent)
{
    h.m_script.m_asBase[0] = 10;
    h.m_script.m_asBase[1] = -20;
    h.m_script.m_asBase[2] = 32767;
    h.m_script.m_asGimbal[0] = -32768;
    h.m_script.m_asGimbal[1] = 5;
    h.m_script.m_asGimbal[2] = 6;
    {
        std::unique_ptr<CProbe3DOFDevice> dev(Make(4, false));
        ASSERT_EQ(0, dev->OpenConnection(2));
        short enc[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(0, dev->GetEncoders(enc));
        const short expected[6] = {10, -20, 32767, 0, 0, 0};
        for (int k = 0; k < 6; k++)
            EXPECT_EQ(expected[k], enc[k]) << k;
        EXPECT_EQ(0, h.m_script.Calls(OP_READ_GIMBAL));
    }
    {
        std::unique_ptr<CProbe3DOFDevice> dev(Make(4, true));
        ASSERT_EQ(0, dev->OpenConnection(2));
        short enc[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(0, dev->GetEncoders(enc));
        const short expected[6] = {10, -20, 32767, -32768, 5, 6};
        for (int k = 0; k < 6; k++)
            EXPECT_EQ(expected[k], enc[k]) << k;
        h.m_script.m_anResult[OP_READ_BASE] = -15;
        EXPECT_EQ(-28, dev->GetEncoders(enc));
        h.m_script.m_anResult[OP_READ_BASE] = 1;
        h.m_script.m_anResult[OP_READ_GIMBAL] = -15;
        EXPECT_EQ(-28, dev->GetEncoders(enc));
    }
}

TEST_F(Device3DOFInterface, PinchValueNormalisesSnapsAndInverts)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make());
    ASSERT_EQ(0, dev->OpenConnection(2));
    h.m_data.nPinchMin = 100;
    h.m_data.nPinchMax = 200;
    h.m_data.nPinchCalibrated = 1;

    h.m_data.nExtra6DOFOption = 2;
    const struct {
        short sRaw;
        double dValue;
    } aInverted[] = {{150, 0.5}, {200, 0.0}, {100, 1.0}, {300, 0.0}, {0, 1.0}};
    for (const auto& c : aInverted) {
        h.m_script.m_sPinch = c.sRaw;
        double dValue = -1.0;
        EXPECT_EQ(0, dev->GetPinchValue(dValue));
        EXPECT_DOUBLE_EQ(c.dValue, dValue) << "raw " << c.sRaw;
    }

    h.m_data.nExtra6DOFOption = 1;
    const struct {
        short sRaw;
        double dValue;
    } aDirect[] = {{199, 0.99}, {200, 1.0}, {101, 0.01}, {100, 0.0}, {125, 0.25}};
    for (const auto& c : aDirect) {
        h.m_script.m_sPinch = c.sRaw;
        double dValue = -1.0;
        EXPECT_EQ(0, dev->GetPinchValue(dValue));
        EXPECT_DOUBLE_EQ(c.dValue, dValue) << "raw " << c.sRaw;
    }

    // Uncalibrated: the raw reading is the result and the value is left alone.
    h.m_data.nPinchCalibrated = 0;
    h.m_script.m_sPinch = 345;
    double dValue = -1.0;
    EXPECT_EQ(345, dev->GetPinchValue(dValue));
    EXPECT_EQ(-1.0, dValue);

    // No pinch grip: nothing is read.
    h.m_data.nExtra6DOFOption = 0;
    const int nReads = h.m_script.Calls(OP_READ_PINCH);
    EXPECT_EQ(0, dev->GetPinchValue(dValue));
    EXPECT_EQ(nReads, h.m_script.Calls(OP_READ_PINCH));
    EXPECT_EQ(-1.0, dValue);

    h.m_data.nExtra6DOFOption = 1;
    h.m_script.m_anResult[OP_READ_PINCH] = -15;
    EXPECT_EQ(-28, dev->GetPinchValue(dValue));
    EXPECT_EQ(-1.0, dValue);
}

TEST_F(Device3DOFInterface, PinchWithCoincidentLimitsGivesOpenOrClosedNotNaN)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make());
    ASSERT_EQ(0, dev->OpenConnection(2));
    h.m_data.nPinchMin = h.m_data.nPinchMax = 100;
    h.m_data.nPinchCalibrated = 1;
    h.m_data.nExtra6DOFOption = 1;
    double dValue = -1.0;
    h.m_script.m_sPinch = 150;
    EXPECT_EQ(0, dev->GetPinchValue(dValue));
    EXPECT_EQ(1.0, dValue);
    h.m_script.m_sPinch = 100;
    EXPECT_EQ(0, dev->GetPinchValue(dValue));
    EXPECT_EQ(0.0, dValue);
}

TEST_F(Device3DOFInterface, WatchDogWithoutWaitRunsOnePassAndTogglesTheEnableLine)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make());
    ASSERT_EQ(0, dev->OpenConnection(2));
    CConnectionScript& s = h.m_script;

    EXPECT_EQ(0, dev->EnableWatchDog(true, false));
    EXPECT_EQ(1, s.m_nAmpLog);
    EXPECT_EQ(1, s.m_anAmpLevel[0]);
    EXPECT_EQ(1, s.m_nFlushLog);
    EXPECT_EQ(1, s.m_anFlushArg[0]);
    EXPECT_EQ(1, s.Calls(OP_READ_FAULT));
    EXPECT_EQ(1, dev->AmpEnableBit());

    s.m_nDeviceFault = -17;
    EXPECT_EQ(1, dev->EnableWatchDog(true, false));
    EXPECT_EQ(2, s.m_nAmpLog);
    EXPECT_EQ(0, s.m_anAmpLevel[1]);
    EXPECT_EQ(0, dev->AmpEnableBit());
    EXPECT_EQ(0, s.m_anAmpGroup[1]);
    EXPECT_EQ(0, s.Calls(OP_ENABLE_GIMBAL));

    // Without a pulse the line is left alone.
    EXPECT_EQ(1, dev->EnableWatchDog(false, false));
    EXPECT_EQ(2, s.m_nAmpLog);
}

TEST_F(Device3DOFInterface, WatchDogPulseRaisesALineSwitchedOffInBetween)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make());
    ASSERT_EQ(0, dev->OpenConnection(2));
    CConnectionScript& s = h.m_script;

    EXPECT_EQ(0, dev->EnableWatchDog(true, false));  // line high
    EXPECT_EQ(0, dev->EnableAmplifiers(false));        // switched off directly
    EXPECT_EQ(0, dev->EnableWatchDog(true, false));
    ASSERT_EQ(3, s.m_nAmpLog);
    EXPECT_EQ(0, s.m_anAmpLevel[1]);
    // Writing low again would keep the amplifiers off through the next tick.
    EXPECT_EQ(1, s.m_anAmpLevel[2]);
    EXPECT_EQ(1, dev->AmpEnableBit());
}

TEST_F(Device3DOFInterface, WatchDogWaitsUntilTheFaultClears)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make());
    ASSERT_EQ(0, dev->OpenConnection(2));
    CConnectionScript& s = h.m_script;
    const int anFaults[] = {-17, -16, -17, 1};
    s.ScriptFaults(anFaults, 4);
    s.m_nDeviceFault = -17;   // would never clear if the script were not followed
    EXPECT_EQ(0, dev->EnableWatchDog(true, true));
    EXPECT_EQ(4, s.Calls(OP_READ_FAULT));
    ASSERT_EQ(4, s.m_nAmpLog);
    const int anLevels[] = {1, 0, 1, 0};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(anLevels[i], s.m_anAmpLevel[i]) << i;
}

TEST_F(Device3DOFInterface, WatchDogPassThatCouldNotReadTheFaultDoesNotReportClear)
{
    std::unique_ptr<CProbe3DOFDevice> dev(Make());
    ASSERT_EQ(0, dev->OpenConnection(2));
    CConnectionScript& s = h.m_script;

    s.m_anResult[OP_ENABLE_BASE] = -15;
    EXPECT_EQ(1, dev->EnableWatchDog(true, false));
    EXPECT_EQ(0, s.Calls(OP_FLUSH));
    EXPECT_EQ(0, dev->AmpEnableBit());

    s.m_anResult[OP_ENABLE_BASE] = 1;
    s.m_anResult[OP_FLUSH] = -15;
    EXPECT_EQ(1, dev->EnableWatchDog(true, false));
    EXPECT_EQ(0, s.Calls(OP_READ_FAULT));
    EXPECT_EQ(1, dev->AmpEnableBit());
}

}  // namespace
