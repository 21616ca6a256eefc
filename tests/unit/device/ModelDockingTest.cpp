// The Bravis and Cirrel models around their connection: configuration look-up of the
// workspace and inkwell offsets, the stored encoder offsets on open and close, the
// fault-clearing watchdog, and the Cirrel's switches, client submission and voltages.
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "ConnectionDouble.h"
#include "device/KinetorBravisDevice.h"
#include "device/KinetorCirrelDevice.h"

namespace {

char g_szBravis[] = "Bench Bravis";
char g_szCirrel[] = "Desk Cirrel";
char g_szUnknown[] = "Nobody";

class ModelDockingTest : public ::testing::Test {
protected:
    ModelDockingTest() : m_scope(&m_script) {}

    void SetUp() override
    {
        ASSERT_TRUE(m_dirs.Ok());
        FillDefaultDeviceData(m_data);
    }

    // A configuration file as the configuration program writes it for these models.
    void WriteConfiguration(int nIndex, const char* pszName, bool bCirrel)
    {
        char szPath[600];
        snprintf(szPath, sizeof(szPath), "%s/Kinetor%d.ini", m_dirs.ConfigDir().c_str(), nIndex);
        FILE* pFile = fopen(szPath, "w");
        ASSERT_NE(nullptr, pFile);
        fprintf(pFile, "%s\n%s\n5500, 5500\nEPP\n0x378, 0\n1, 2\n", pszName, bCirrel ? "cirrel" : "p");
        fprintf(pFile, "0.076912, 0.090066, 0.090066, 0.800000\n114293\n4000, 2000\n20\n-1\n");
        fprintf(pFile, "0.600000, 0.002000, 8.500000, 1.400000\n");
        fprintf(pFile, "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n");
        fprintf(pFile, "%s\n", bCirrel ? "-7, 8, -9" : "10, -20, 30");
        fprintf(pFile, "-390, 390, -168, 603, -112, 180\n-140, 140, -20, 440, -78, 78\n");
        fprintf(pFile, "-78, 78, -7, 149, -78, 78\n34\n");
        if (bCirrel)
            fprintf(pFile, "70000, -5, 40000, 1, 2, 3\n0\n");
        fclose(pFile);
    }

    CTestDirectories m_dirs;
    CConnectionScript m_script;
    CConnectionDoubleScope m_scope;
    _KINETOR_DEVICE_DATA m_data;
};

TEST_F(ModelDockingTest, OffsetsComeFromTheNamedConfiguration)
{
    WriteConfiguration(0, "Someone else", false);
    WriteConfiguration(3, g_szBravis, false);
    WriteConfiguration(5, g_szCirrel, true);

    CKinetorBravisDevice bravis(g_szBravis, 4, 0, true, &m_data);
    EXPECT_EQ(10, bravis.GetWorkspaceOffset(0));
    EXPECT_EQ(-20, bravis.GetWorkspaceOffset(1));
    EXPECT_EQ(30, bravis.GetWorkspaceOffset(2));
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(0, bravis.GetInkWellEncoderOffsets()[k]);
    // At the home angles the stylus sits at the workspace offset.
    float q[6] = {0, 0, 0, 0, 0, 0};
    float frame[4][4];
    bravis.CalculateEndpointTransform(q, frame, false);
    EXPECT_NEAR(10.0f, frame[3][0], 1e-4);
    EXPECT_NEAR(-20.0f, frame[3][1], 1e-4);
    EXPECT_NEAR(30.0f, frame[3][2], 1e-4);

    // The inkwell offsets are cut to the 16 bits the encoders count in.
    CKinetorCirrelDevice cirrel(g_szCirrel, 4, 0, true, &m_data);
    const SHORT asExpected[6] = {70000 - 65536, -5, 40000 - 65536, 1, 2, 3};
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(asExpected[k], cirrel.GetInkWellEncoderOffsets()[k]) << k;
    EXPECT_EQ(-7, cirrel.GetWorkspaceOffset(0));
    EXPECT_EQ(8, cirrel.GetWorkspaceOffset(1));
    EXPECT_EQ(-9, cirrel.GetWorkspaceOffset(2));

    CKinetorCirrelDevice unknown(g_szUnknown, 4, 0, true, &m_data);
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(0, unknown.GetInkWellEncoderOffsets()[k]);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(0, unknown.GetWorkspaceOffset(i));
    CKinetorBravisDevice nameless(nullptr, 4, 0, true, &m_data);
    EXPECT_EQ(0, nameless.GetWorkspaceOffset(0));
}

TEST_F(ModelDockingTest, MotorVoltageScaleByModelAndCard)
{
    {
        CEnvironmentScope unset("TDL_MOTOR_VOLTAGE_SCALE", nullptr);
        CKinetorBravisDevice parallel(g_szBravis, 4, 0, true, &m_data);
        EXPECT_FLOAT_EQ(0.1f, parallel.GetMotorVoltageScale());
        CKinetorBravisDevice firewire(g_szBravis, 6, 0, true, &m_data);
        EXPECT_FLOAT_EQ(1.0f, firewire.GetMotorVoltageScale());
    }
    CEnvironmentScope scale("TDL_MOTOR_VOLTAGE_SCALE", "0.3");
    CKinetorBravisDevice parallel(g_szBravis, 5, 0, true, &m_data);
    EXPECT_FLOAT_EQ(0.3f, parallel.GetMotorVoltageScale());
    CKinetorBravisDevice firewire(g_szBravis, 6, 0, true, &m_data);
    EXPECT_FLOAT_EQ(1.0f, firewire.GetMotorVoltageScale());
    CKinetorCirrelDevice cirrel(g_szCirrel, 4, 0, true, &m_data);
    EXPECT_FLOAT_EQ(1.0f, cirrel.GetMotorVoltageScale());
}

TEST_F(ModelDockingTest, BravisLoadsAndStoresEncoderOffsets)
{
    // On the parallel port the Bravis calibrates on its flags: no reference offsets.
    {
        CKinetorBravisDevice device(g_szBravis, 4, 0, true, &m_data);
        ASSERT_EQ(0, device.OpenConnection(2));
        EXPECT_EQ(1, m_script.Calls(OP_READ_OFFSETS));
        EXPECT_STREQ(g_szBravis, m_script.m_szOffsetsName);
        EXPECT_EQ(0, m_script.Calls(OP_SET_OFFSETS));
        EXPECT_EQ(0, m_script.Calls(OP_WRITE_OFFSETS));
        m_script.m_szOffsetsName[0] = '\0';
    }
    // Destroying the open model stores the offsets before the connection goes.
    EXPECT_EQ(1, m_script.Calls(OP_WRITE_OFFSETS));
    EXPECT_STREQ(g_szBravis, m_script.m_szOffsetsName);
    EXPECT_LT(m_script.FindInLog(OP_WRITE_OFFSETS), m_script.FindInLog(OP_DELETE));

    // On FireWire it docks: its inkwell offsets become the reference.
    m_script.Reset();
    CKinetorBravisDevice firewire(g_szBravis, 6, 0, true, &m_data);
    ASSERT_EQ(0, firewire.OpenConnection(0));
    EXPECT_EQ(1, m_script.Calls(OP_SET_OFFSETS));
    EXPECT_EQ(0, firewire.CloseConnection());
    EXPECT_EQ(1, m_script.Calls(OP_WRITE_OFFSETS));
    // Closing twice stores nothing more.
    EXPECT_EQ(0, firewire.CloseConnection());
    EXPECT_EQ(1, m_script.Calls(OP_WRITE_OFFSETS));
}

TEST_F(ModelDockingTest, CirrelDocksAndKeepsItsOffsets)
{
    WriteConfiguration(0, g_szCirrel, true);
    {
        CKinetorCirrelDevice device(g_szCirrel, 4, 0, true, &m_data);
        ASSERT_EQ(0, device.OpenConnection(2));
        EXPECT_EQ(1, m_script.Calls(OP_READ_OFFSETS));
        ASSERT_EQ(1, m_script.Calls(OP_SET_OFFSETS));
        EXPECT_EQ(70000 - 65536, m_script.m_asOffsets[0]);
        EXPECT_EQ(3, m_script.m_asOffsets[5]);
    }
    // Offsets found by docking are kept when the library destroys the open model.
    EXPECT_EQ(1, m_script.Calls(OP_WRITE_OFFSETS));
}

// A connection that never opened has loaded no offsets; storing its zeros on the way out
// would wipe the calibration on disk.
TEST_F(ModelDockingTest, FailedOpenStoresNoOffsets)
{
    m_script.m_anResult[OP_ALLOCATE] = -5;
    {
        CKinetorBravisDevice bravis(g_szBravis, 4, 0, true, &m_data);
        EXPECT_EQ(-21, bravis.OpenConnection(2));
        CKinetorCirrelDevice cirrel(g_szCirrel, 4, 0, true, &m_data);
        EXPECT_EQ(-21, cirrel.OpenConnection(2));
    }
    EXPECT_EQ(0, m_script.Calls(OP_READ_OFFSETS));
    EXPECT_EQ(0, m_script.Calls(OP_WRITE_OFFSETS));
}

TEST_F(ModelDockingTest, WatchdogClearsTrippedAmplifiers)
{
    CKinetorBravisDevice bravis(g_szBravis, 4, 0, true, &m_data);
    ASSERT_EQ(0, bravis.OpenConnection(2));

    // A tripped amplifier (-17) is cycled off and on, then the fault clears.
    const int anTripped[2] = {-17, 1};
    m_script.ScriptFaults(anTripped, 2);
    EXPECT_EQ(0, bravis.EnableWatchDog(true, true));
    EXPECT_EQ(2, m_script.Calls(OP_READ_FAULT));
    ASSERT_EQ(2, m_script.m_nAmpLog);
    EXPECT_EQ(0, m_script.m_anAmpLevel[0]);
    EXPECT_EQ(1, m_script.m_anAmpLevel[1]);

    // Any other fault is only reported; without waiting there is one pass.
    m_script.m_nDeviceFault = -16;
    EXPECT_EQ(1, bravis.EnableWatchDog(true, false));
    EXPECT_EQ(2, m_script.m_nAmpLog);
    EXPECT_EQ(3, m_script.Calls(OP_READ_FAULT));

    // A failed flush shows nothing about the fault: it stays reported.
    m_script.m_nDeviceFault = 1;
    m_script.m_anResult[OP_FLUSH] = -3;
    EXPECT_EQ(1, bravis.EnableWatchDog(false, false));
    EXPECT_EQ(3, m_script.Calls(OP_READ_FAULT));

    CKinetorCirrelDevice cirrel(g_szCirrel, 4, 0, true, &m_data);
    m_script.Reset();
    ASSERT_EQ(0, cirrel.OpenConnection(2));
    const int anDisabled[3] = {-18, -18, 1};
    m_script.ScriptFaults(anDisabled, 3);
    EXPECT_EQ(0, cirrel.EnableWatchDog(false, true));
    EXPECT_EQ(4, m_script.m_nAmpLog);
}

// Only a tripped (-17) or disabled (-18) amplifier is cycled; any other fault, such as
// -16, is reported with the amplifiers left as they are.
TEST_F(ModelDockingTest, CirrelCyclesAmplifiersOnlyForTrippedOrDisabledFaults)
{
    CKinetorCirrelDevice cirrel(g_szCirrel, 4, 0, true, &m_data);
    ASSERT_EQ(0, cirrel.OpenConnection(2));

    m_script.m_nDeviceFault = -16;
    EXPECT_EQ(1, cirrel.EnableWatchDog(true, false));
    EXPECT_EQ(1, m_script.Calls(OP_READ_FAULT));
    EXPECT_EQ(0, m_script.m_nAmpLog);

    // One pass with -17: off then on, once.
    m_script.m_nDeviceFault = -17;
    EXPECT_EQ(1, cirrel.EnableWatchDog(false, false));
    ASSERT_EQ(2, m_script.m_nAmpLog);
    EXPECT_EQ(0, m_script.m_anAmpLevel[0]);
    EXPECT_EQ(1, m_script.m_anAmpLevel[1]);
}

// The docking models send their torque words without a flush, but zeroing the torques is
// the base model's: three zero words, then one flush-only exchange.
TEST_F(ModelDockingTest, ZeroTorquesStillFlushOnTheDockingModels)
{
    CKinetorBravisDevice bravis(g_szBravis, 4, 0, true, &m_data);
    ASSERT_EQ(0, bravis.OpenConnection(2));
    const int nLog = m_script.m_nLog;
    const int nFlushes = m_script.m_nFlushLog;
    EXPECT_EQ(0, bravis.ZeroTorques());
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(0x8000, m_script.m_ausBaseWords[k]) << k;
    ASSERT_EQ(nFlushes + 1, m_script.m_nFlushLog);
    EXPECT_EQ(1, m_script.m_anFlushArg[nFlushes]);
    const int nWrite = m_script.FindInLog(OP_WRITE_BASE, nLog);
    ASSERT_GE(nWrite, 0);
    EXPECT_LT(nWrite, m_script.FindInLog(OP_FLUSH, nLog));

    CKinetorCirrelDevice cirrel(g_szCirrel, 6, 0, true, &m_data);
    ASSERT_EQ(0, cirrel.OpenConnection(2));
    const int nWrites = m_script.Calls(OP_WRITE_BASE);
    const int nCirrelFlushes = m_script.Calls(OP_FLUSH);
    EXPECT_EQ(0, cirrel.ZeroTorques());
    EXPECT_EQ(nWrites + 1, m_script.Calls(OP_WRITE_BASE));
    EXPECT_EQ(nCirrelFlushes + 1, m_script.Calls(OP_FLUSH));
}

TEST_F(ModelDockingTest, UnflushedTorquesAndForceRamp)
{
    CKinetorCirrelDevice device(g_szCirrel, 6, 0, true, &m_data);
    ASSERT_EQ(0, device.OpenConnection(2));
    const int nFlushes = m_script.Calls(OP_FLUSH);
    const unsigned short ausWords[3] = {0x8001, 0x7FFF, 0x1234};
    EXPECT_EQ(0, device.SendTorques(ausWords));
    EXPECT_EQ(0x1234, m_script.m_ausBaseWords[2]);
    EXPECT_EQ(nFlushes, m_script.Calls(OP_FLUSH));

    // Forces ramp while home sensor 0 reads 0.
    m_script.m_anHomeSensor[0] = 0;
    EXPECT_TRUE(device.CheckRampForces());
    m_script.m_anHomeSensor[0] = 1;
    EXPECT_FALSE(device.CheckRampForces());

    CKinetorBravisDevice parallel(g_szBravis, 4, 0, true, &m_data);
    m_script.m_anHomeSensor[0] = 0;
    const int nHome = m_script.Calls(OP_READ_HOME);
    EXPECT_FALSE(parallel.CheckRampForces());
    EXPECT_EQ(nHome, m_script.Calls(OP_READ_HOME));
}

TEST_F(ModelDockingTest, CirrelSwitchesAndClientSubmission)
{
    CKinetorCirrelDevice device(g_szCirrel, 6, 0, true, &m_data);
    EXPECT_EQ(0, device.SubmitClient(true));
    ASSERT_EQ(0, device.OpenConnection(2));

    m_script.m_anSwitch[0] = 5;
    m_script.m_anSwitch[1] = 7;
    m_script.m_anSwitch[2] = 9;
    EXPECT_EQ(5, device.GetSwitch(0));
    EXPECT_EQ(7, device.GetSwitch(1));
    const int nReads = m_script.Calls(OP_READ_SWITCH);
    EXPECT_EQ(0, device.GetSwitch(2));
    EXPECT_EQ(0, device.GetSwitch(-1));
    EXPECT_EQ(nReads, m_script.Calls(OP_READ_SWITCH));

    EXPECT_EQ(0, device.SubmitClient(true));
    EXPECT_EQ(1, m_script.m_nLastSubmit);
    m_script.m_anResult[OP_SUBMIT] = -18;
    EXPECT_EQ(-13, device.SubmitClient(false));
    EXPECT_EQ(0, m_script.m_nLastSubmit);
}

// Volts (1, 0.5, 0.25), 2 DAC counts per N.mm, scale 1: torques 16383.5, 8191.75 and,
// for the inverted second-link motor, -4095.875. DAC values (T * 2 + 0.5, truncated):
// 32767, 16384, -8191. Reported voltages use the word without its low four bits:
// 32752 / 32767 = 0.999542, 16368 / 32767 = 0.499527, and -(-8192 / 32767) = 0.250008.
TEST_F(ModelDockingTest, CirrelInvertsTheSecondLinkMotorVoltage)
{
    CKinetorCirrelDevice device(g_szCirrel, 6, 0, true, &m_data);
    ASSERT_EQ(0, device.OpenConnection(2));
    for (int k = 0; k < 6; k++) {
        m_data.fTtm[k] = 2.0f;
        m_data.fMaxMotorTorques[k] = 20000.0f;
    }
    const float afVolts[3] = {1.0f, 0.5f, 0.25f};
    float afActual[3] = {0, 0, 0};
    ASSERT_EQ(0, device.WriteMotorVoltages(afVolts, afActual));
    EXPECT_NEAR(16383.5f, m_data.fMotorTorques[0], 1e-2);
    EXPECT_NEAR(8191.75f, m_data.fMotorTorques[1], 1e-2);
    EXPECT_NEAR(-4095.875f, m_data.fMotorTorques[2], 1e-2);
    EXPECT_EQ(32767, m_data.nMotorDACValues[0]);
    EXPECT_EQ(16384, m_data.nMotorDACValues[1]);
    EXPECT_EQ(-8191, m_data.nMotorDACValues[2]);
    EXPECT_EQ(0xFFFF, m_script.m_ausBaseWords[0]);
    EXPECT_EQ(0x8000 - 8191, m_script.m_ausBaseWords[2]);
    EXPECT_NEAR(0.999542, afActual[0], 1e-5);
    EXPECT_NEAR(0.499527, afActual[1], 1e-5);
    EXPECT_NEAR(0.250008, afActual[2], 1e-5);

    // A torque beyond the motor's maximum is refused and nothing is written.
    m_data.fMaxMotorTorques[2] = 1000.0f;
    const int nWrites = m_script.Calls(OP_WRITE_BASE);
    afActual[0] = afActual[1] = afActual[2] = -5.0f;
    EXPECT_EQ(-2, device.WriteMotorVoltages(afVolts, afActual));
    EXPECT_EQ(nWrites, m_script.Calls(OP_WRITE_BASE));
    EXPECT_EQ(-5.0f, afActual[2]);
}

}  // namespace
