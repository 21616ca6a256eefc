// A Cirrel and a Bravis on a FireWire interface board, end to end through the flat
// interface against the simulated bus in lockstep pace: opened by the board's serial number,
// paced by its encoder packets, calibrated in the inkwell, forces reaching the board.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

#include "SimFixture.h"
#include "core/IOLibAPI.h"
#include "firmware/FirmwareInternal.h"
#include "sim/SimFireWireBus.h"
#include "transport/firewire/Kinetor1394Connection.h"
#include "transport/firewire/ZanterConvert.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define KIO_LEAK_CHECKER 1
#endif
#endif

namespace {

const ULONG kSerial = 2071;
// Encoder readings of the arm resting in its inkwell, as configured.
const int kanInkwell[6] = {1500, -2300, 1800, 400, -300, 0};
const int kAllValid = 0x0F;
const int kAllIncorrect = 0xF0;

class FireWireTest : public CSimFixture {
protected:
    void SetUp() override
    {
        CSimFixture::SetUp();
        CKinetor1394Connection::ResetProcessState();
        zanter_reset_filters();
        fw_reset_state();
    }
    void TearDown() override
    {
        CSimFixture::TearDown();
        CKinetor1394Connection::ResetProcessState();
        fw_reset_state();
    }

    int OpenOnFireWire(int nModelType, ULONG nSerial = kSerial)
    {
        SIM_TEST_CONFIG c = SimTestConfig(nModelType, 2, nModelType == 5 ? "cirrel" : "bravis", 0);
        c.pszCardType = "1394";
        c.nTimeoutCircuit = 0;
        c.l1394Serial = (long)nSerial;
        for (int k = 0; k < 6; k++)
            c.anInkwellOffset[k] = kanInkwell[k];
        return OpenSimulatedArm(c);
    }
    // What the servo loop does for its clients when it starts: the board's frames begin.
    static int StartFrames(int nHandle)
    {
        CIOLibAPI* pLib = static_cast<CIOLibAPI*>(CIOLibAPI::m_kinetorArray.GetAt(nHandle));
        return pLib ? pLib->SubmitClient(1) : -1;
    }
    SIM_1394_BOARD_STATE Board(ULONG nSerial = kSerial)
    {
        SIM_1394_BOARD_STATE st;
        EXPECT_TRUE(SimFireWireBus().GetBoardState(nSerial, &st));
        return st;
    }
    int CalibrationStatus()
    {
        int nStatus = -1;
        EXPECT_EQ(0, get_calibration_status(Handle(), &nStatus));
        return nStatus;
    }
    // Docked, the inkwell gives the offsets the arm really has, and the pose read back is true.
    void ExpectInkwellCalibration()
    {
        ASSERT_EQ(0, RunTicks(12));
        EXPECT_EQ(kAllValid | kAllIncorrect, CalibrationStatus());
        ASSERT_EQ(0, update_calibration(Handle()));
        EXPECT_EQ(kAllValid, CalibrationStatus());
        ASSERT_EQ(0, RunTicks(3));
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(-kanInkwell[k], Arm()->GetTrueEncoderOffset(k)) << k;
        float afAngles[6] = {0};
        ASSERT_EQ(0, get_kinetor_joint_angles(Handle(), afAngles));
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(Arm()->GetJointAngle(i), afAngles[i], 5e-4) << "joint " << i;
    }
};

TEST_F(FireWireTest, ArmsOpenBySerialNumberRunAndCalibrateInTheInkwell)
{
    for (int nModel : {5, 3}) {
        SCOPED_TRACE(nModel == 5 ? "Cirrel" : "Bravis");
        int nHandle = OpenOnFireWire(nModel);
        ASSERT_GE(nHandle, 0);
        EXPECT_STREQ("00000002071", get_hardware_serial_number(nHandle));
        // Channels and packet size went to the board when the connection was made; the
        // frames start with the loop.
        SIM_1394_BOARD_STATE st = Board();
        EXPECT_EQ(0, st.nDeviceXmitChannel);
        EXPECT_EQ(1, st.nHostXmitChannel);
        EXPECT_EQ(0x0FF8u, st.nPacketSize);
        EXPECT_EQ(0, st.nFrameBeacon);
        ASSERT_EQ(0, StartFrames(nHandle));
        EXPECT_EQ(8, Board().nFrameBeacon);
        uint64_t nTicks = SimTickCount();
        ASSERT_NO_FATAL_FAILURE(ExpectInkwellCalibration());
        // One packet each way per tick, one tick per millisecond of simulated time.
        EXPECT_EQ(15u, SimTickCount() - nTicks);
        EXPECT_GE(Board().nForcePackets, 15u);
        EXPECT_EQ(0, CalibrationStatus() & kAllIncorrect);
        ASSERT_EQ(0, CloseDevice(nHandle));
        EXPECT_EQ(0, Board().nFrameBeacon);
        SimReset();
        CKinetor1394Connection::ResetProcessState();
    }
}

TEST_F(FireWireTest, ForcesReachTheBoardAsDacWordsWithTheStatusLight)
{
    int nHandle = OpenOnFireWire(5);
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, StartFrames(nHandle));
    // Light codes on this board: 1 while the offsets are unknown, 3 once the inkwell gave
    // them, 0 with the amplifiers off.
    ASSERT_EQ(0, RunTicks(2));
    EXPECT_EQ(1, Board().nStatusLight);
    ASSERT_EQ(0, RunTicks(10));
    EXPECT_EQ(3, Board().nStatusLight);
    ASSERT_EQ(0, update_calibration(nHandle));
    ASSERT_EQ(0, enable_kinetor_forces(nHandle));
    ASSERT_EQ(0, RunTicks(2));
    EXPECT_EQ(3, Board().nStatusLight);
    EXPECT_TRUE(Arm()->GetAmplifiersEnabled());

    // Counts of 16384, -8192 and 0 leave as 12-bit words 4095 - (offset binary >> 4):
    // 1023 (or 3071 with the motor's sign), 2559 (or 1535) and 2047.
    long alDac[3] = {16384, -8192, 0};
    ASSERT_EQ(0, update_kinetor(nHandle));
    ASSERT_EQ(0, command_motor_dac_values(nHandle, alDac));
    AwaitTick(nHandle);
    ASSERT_EQ(0, update_kinetor(nHandle));
    SIM_1394_BOARD_STATE st = Board();
    int anDistance[3];
    for (int k = 0; k < 3; k++) {
        int nWord = st.aucLastForce[2 * k] | (st.aucLastForce[2 * k + 1] << 8);
        anDistance[k] = abs(nWord - 2047);
        // The arm got back exactly the count the word stands for.
        EXPECT_EQ(((long)(4095 - nWord) << 4) - 32768L, Arm()->GetMotorDAC(k)) << k;
    }
    std::sort(anDistance, anDistance + 3);
    EXPECT_EQ(0, anDistance[0]);
    EXPECT_EQ(512, anDistance[1]);
    EXPECT_EQ(1024, anDistance[2]);
    // The rest of the packet: the timer bits and the constant watchdog character.
    EXPECT_EQ(0xC0, st.aucLastForce[6] & 0xC0);
    EXPECT_EQ(0x53, st.aucLastForce[7]);
    for (int i = 8; i < 16; i++)
        EXPECT_EQ(0, st.aucLastForce[i]) << i;
    ASSERT_EQ(0, disable_kinetor_forces(nHandle));
    EXPECT_EQ(0, Board().nStatusLight);
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
}

TEST_F(FireWireTest, BusResetRestartsTheFramesAndTheArmRunsOn)
{
    int nHandle = OpenOnFireWire(5);
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, StartFrames(nHandle));
    ASSERT_EQ(0, RunTicks(20));
    SimFireWireBus().BusReset(0);
    EXPECT_EQ(0, Board().nFrameBeacon);
    ASSERT_EQ(0, RunTicks(5));
    EXPECT_EQ(8, Board().nFrameBeacon);
    ULONG nPackets = Board().nEncoderPackets;
    ASSERT_EQ(0, RunTicks(30));
    EXPECT_EQ(nPackets + 30, Board().nEncoderPackets);
    EXPECT_EQ(0, CKinetor1394Connection::GetLatePacketCount());
    ASSERT_NO_FATAL_FAILURE(ExpectInkwellCalibration());
}

TEST_F(FireWireTest, BadSignatureStopsReceptionAndTicksGoLate)
{
    int nHandle = OpenOnFireWire(5);
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, StartFrames(nHandle));
    ASSERT_EQ(0, RunTicks(5));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(SimFireWireBus().InjectBadPackets(kSerial, 1));
    ASSERT_EQ(0, RunTicks(6));
    EXPECT_EQ("zanter_convert: bad signature\n", testing::internal::GetCapturedStdout());
    // The packets still come, but nobody receives them: every wait runs out.
    EXPECT_GE(CKinetor1394Connection::GetLatePacketCount(), 4);
    EXPECT_LE(CKinetor1394Connection::GetLatePacketCount(), 10);
}

TEST_F(FireWireTest, MissingBoardOrNoHostFailsToOpen)
{
    SIM_TEST_CONFIG c = SimTestConfig(5, 2, "cirrel", 0);
    c.pszCardType = "1394";
    c.l1394Serial = (long)kSerial;
    ASSERT_TRUE(WriteConfig(c));
    StartSimulator();
    SimDeriveArms();
    ASSERT_TRUE(SimFireWireBus().SetBoardPresent(kSerial, FALSE));
    char szName[] = "cirrel";
    EXPECT_EQ(-5, init_kinetor(szName));
    ASSERT_TRUE(SimFireWireBus().SetBoardPresent(kSerial, TRUE));
    SimFireWireBus().SetPortCount(0);
    EXPECT_EQ(-5, init_kinetor(szName));
    SimFireWireBus().SetPortCount(1);
    // The transport on its own: a board that stops answering its GUID read is not found.
    SimFailRequest("raw1394_read", -1);
    CKinetor1394Connection conn(0);
    EXPECT_FALSE(conn.ConstructorStatus());
    SimFailRequest("raw1394_read", 0);
}

TEST_F(FireWireTest, ChannelsAndFrameRates)
{
    int nHandle = OpenOnFireWire(5);
    ASSERT_GE(nHandle, 0);
    // Two more connections of the same unit, as the configuration store makes them.
    CKinetor1394Connection second(0);
    ASSERT_TRUE(second.ConstructorStatus());
    EXPECT_EQ(3, second.GetReceiveChannel());
    {
        CKinetor1394Connection third(0);
        ASSERT_TRUE(third.ConstructorStatus());
        EXPECT_EQ(6, third.GetReceiveChannel());
        EXPECT_EQ(7, third.GetTransmitChannel());
        EXPECT_EQ(8, third.GetAsyncChannel());
    }
    CKinetor1394Connection fourth(0);
    EXPECT_EQ(6, fourth.GetReceiveChannel());

    C1394Connection* p = static_cast<C1394Connection*>(second.GetEntryPoints());
    struct CASE {
        int nFirmware;
        ULONG nRate;
        int nResult;
    } cases[] = {
        {189, 1000, 1}, {189, 500, -20}, {190, 500, 1}, {190, 1600, 1},
        {190, 2000, -20}, {190, 1500, -20}, {190, 0, -20},
    };
    for (const CASE& c : cases) {
        ASSERT_TRUE(SimFireWireBus().SetFirmwareVersion(kSerial, c.nFirmware));
        EXPECT_EQ(c.nResult, p->SetKinetorUpdateRate(c.nRate)) << c.nFirmware << " " << c.nRate;
    }
    EXPECT_TRUE(p->IsSupported1394FrameRate(2000));

    // Old firmware runs on the raw beacon, new firmware on bus cycles per frame.
    ASSERT_TRUE(SimFireWireBus().SetFirmwareVersion(kSerial, 189));
    ASSERT_TRUE(second.StartHaptics(1000));
    EXPECT_EQ(10, Board().nRawBeacon);
    EXPECT_EQ(0, Board().nFrameBeacon);
    ASSERT_TRUE(second.StopHaptics());
    EXPECT_EQ(0, Board().nRawBeacon);
    ASSERT_TRUE(SimFireWireBus().SetFirmwareVersion(kSerial, 190));
    for (ULONG nRate : {500UL, 1600UL}) {
        ASSERT_TRUE(second.StartHaptics(nRate));
        EXPECT_EQ(nRate == 500 ? 16 : 5, Board().nFrameBeacon);
        ASSERT_TRUE(second.StopHaptics());
    }
}

class FireWireDeathTest : public FireWireTest {
protected:
    void SetUp() override
    {
        m_strOldStyle = GTEST_FLAG_GET(death_test_style);
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        FireWireTest::SetUp();
    }
    void TearDown() override
    {
        FireWireTest::TearDown();
        GTEST_FLAG_SET(death_test_style, m_strOldStyle);
    }

private:
    std::string m_strOldStyle;
};

TEST_F(FireWireDeathTest, ElevenLatePacketsEndTheProcess)
{
    int nHandle = OpenOnFireWire(5);
    ASSERT_GE(nHandle, 0);
    ASSERT_EQ(0, StartFrames(nHandle));
    ASSERT_EQ(0, RunTicks(5));
    EXPECT_EXIT(
        {
#ifdef KIO_LEAK_CHECKER
            // exit() destroys the handle table before the leak check runs; the device the
            // child ends with is the process's own, not a leak.
            __lsan_ignore_object(CIOLibAPI::m_kinetorArray.GetAt(nHandle));
#endif
            ASSERT_TRUE(SimFireWireBus().InjectLatePackets(kSerial, -1));
            // The packet already there is taken; then ten late ones are survived.
            RunTicks(10);
            fprintf(stderr, "survived ten\n");
            RunTicks(1);
            exit(0);
        },
        ::testing::ExitedWithCode(255), "^survived ten\nTimeout reading from 1394 bus, exiting\\.\\.\\.\n$");
}

}  // namespace
