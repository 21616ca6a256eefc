// The wire-independent block protocol, driven through a scripted wire.
#include <string.h>

#include <gtest/gtest.h>

#include "TestDirs.h"
#include "WireDouble.h"
#include "config/KinetorDevice.h"
#include "platform/TimeSample.h"

namespace {

// The bytes of a block as they arrive on the wire land in the right fields.
TEST(BlockLayout, WireBytesMapToFields)
{
    const unsigned char abIn[16] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                    0x09, 0x0A, 0x0B, 0x0C, 0xD1, 0xD2, 0xD3, 0xD4};
    _PORT_INPUT in;
    memcpy(&in, abIn, sizeof(abIn));
    EXPECT_EQ(0x0201, in.usQuad1);
    EXPECT_EQ(0x0403, in.usQuad2);
    EXPECT_EQ(0x0605, in.usQuad0);
    EXPECT_EQ(0x0807, in.usPot0);
    EXPECT_EQ(0x0A09, in.usPot1);
    EXPECT_EQ(0x0C0B, in.usPot2);
    EXPECT_EQ(0xD1, in.ucTimerCnt);
    EXPECT_EQ(0xD2, in.ucMiscIn);
    EXPECT_EQ(0xD3, in.ucWatchdogCntrIn);
    EXPECT_EQ(0xD4, in.ucSpeedErrs);

    _PORT_OUTPUT out;
    out.usDToA0 = 0x1234;
    out.usDToA1 = 0x5678;
    out.usDToA2 = 0x9ABC;
    out.ucMiscOut = 0xDE;
    out.ucWatchdogCntrOut = 0xF0;
    unsigned char abOut[8];
    memcpy(abOut, &out, sizeof(abOut));
    const unsigned char abExpected[8] = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xDE, 0xF0};
    EXPECT_EQ(0, memcmp(abExpected, abOut, 8));
}

TEST(BlockAllocate, ChannelAndUnitChecks)
{
    CWireDouble badChannel(4, 0);
    EXPECT_EQ(-6, badChannel.AllocateConnection(2));
    EXPECT_EQ(-6, badChannel.AllocateConnection(-1));
    CWireDouble badUnit(4, 4);
    EXPECT_EQ(-12, badUnit.AllocateConnection(0));

    CWireDouble conn(4, 3);
    USHORT anTorques[3] = {0, 0, 0};
    conn.WriteBaseTorques(anTorques);
    conn.SetCantCommunicate(true);
    EXPECT_EQ(1, conn.AllocateConnection(1));
    EXPECT_EQ(2047, conn.Out().usDToA0);
    EXPECT_EQ(2047, conn.Out().usDToA1);
    EXPECT_EQ(2047, conn.Out().usDToA2);
    EXPECT_FALSE(conn.CommunicationError());
    EXPECT_EQ(&conn, conn.GetConnectionData());
}

TEST(BlockTorques, CommandReducedTo12BitsAndInverted)
{
    CWireDouble conn;
    USHORT anTorques[3] = {0, 65535, 0x8000};
    EXPECT_EQ(1, conn.WriteBaseTorques(anTorques));
    EXPECT_EQ(4095, conn.Out().usDToA0);
    EXPECT_EQ(0, conn.Out().usDToA1);
    EXPECT_EQ(2047, conn.Out().usDToA2);
    USHORT anMore[3] = {0x1234, 0x0010, 0xFFF0};
    conn.WriteBaseTorques(anMore);
    EXPECT_EQ(4095 - 0x123, conn.Out().usDToA0);
    EXPECT_EQ(4094, conn.Out().usDToA1);
    EXPECT_EQ(0, conn.Out().usDToA2);
    EXPECT_EQ(-13, conn.WriteBaseTorques(nullptr));
}

// Offsets in use loaded from a calibration file are subtracted modulo 65536.
TEST(BlockOffsets, SubtractionWrapsAt16Bits)
{
    const std::string strPath = TestConfigDir() + "/KinetorCalibration(wrap)";
    FILE* fp = fopen(strPath.c_str(), "w");
    ASSERT_NE(nullptr, fp);
    fprintf(fp, "10 -3 65535 7 0 -32768\n1 1 1 1 1 1\n");
    fclose(fp);

    CWireDouble conn;
    char szName[] = "wrap";
    conn.ReadEncoderOffsets(szName);
    unlink(strPath.c_str());

    _PORT_INPUT in = QuietBlock();
    in.usQuad0 = 5;
    in.usQuad1 = 65534;
    in.usQuad2 = 3;
    in.usPot0 = 2;
    in.usPot1 = 40000;
    in.usPot2 = 1;
    conn.Push(in);
    EXPECT_EQ(1, conn.FlushConnection(TRUE));

    EXPECT_EQ(65531, conn.In().usQuad0);
    EXPECT_EQ(1, conn.In().usQuad1);  // 65534 + 3
    EXPECT_EQ(4, conn.In().usQuad2);  // 3 - 65535
    EXPECT_EQ(65531, conn.In().usPot0);
    EXPECT_EQ(40000, conn.In().usPot1);
    EXPECT_EQ(32769, conn.In().usPot2);

    SHORT anBase[3];
    SHORT anGimbal[3];
    EXPECT_EQ(1, conn.ReadBaseEncoders(anBase));
    EXPECT_EQ(1, conn.ReadGimbalEncoders(anGimbal));
    EXPECT_EQ(-5, anBase[0]);
    EXPECT_EQ(1, anBase[1]);
    EXPECT_EQ(4, anBase[2]);
    EXPECT_EQ(-5, anGimbal[0]);
    EXPECT_EQ(40000 - 65536, anGimbal[1]);
    EXPECT_EQ(32769 - 65536, anGimbal[2]);
}

TEST(BlockDecoding, SwitchPresencePinchHome)
{
    CWireDouble conn;
    _PORT_INPUT in = QuietBlock();
    const short nSaved = globalExtra6DOFOption;

    // Stylus switch from its own bit when the handle has no pinch sensor.
    globalExtra6DOFOption = 3;
    in.ucMiscIn = 0x40;
    conn.SetRegsIn(in);
    EXPECT_EQ(1, conn.ReadSwitch(0));
    EXPECT_EQ(0, conn.ReadSwitch(1));
    in.ucMiscIn = 0x42;
    conn.SetRegsIn(in);
    EXPECT_EQ(0, conn.ReadSwitch(0));

    // Otherwise from the pinch channel: pressed for 0 to 24 only.
    globalExtra6DOFOption = 0;
    in.usPot0 = 24;
    conn.SetRegsIn(in);
    EXPECT_EQ(1, conn.ReadSwitch(0));
    in.usPot0 = 25;
    conn.SetRegsIn(in);
    EXPECT_EQ(0, conn.ReadSwitch(0));
    globalExtra6DOFOption = nSaved;

    SHORT nPinch = -1;
    EXPECT_EQ(1, conn.ReadPinchValue(nPinch));
    EXPECT_EQ(0, nPinch);
    in.usPot0 = 26;
    conn.SetRegsIn(in);
    conn.ReadPinchValue(nPinch);
    EXPECT_EQ(26, nPinch);
    in.usPot0 = 0;
    conn.SetRegsIn(in);
    conn.ReadPinchValue(nPinch);
    EXPECT_EQ(0, nPinch);

    in.ucMiscIn = 0x01;
    conn.SetRegsIn(in);
    EXPECT_EQ(0, conn.ReadPresence(0));
    in.ucMiscIn = 0x00;
    conn.SetRegsIn(in);
    EXPECT_EQ(1, conn.ReadPresence(0));

    // Home sensors are active low on bits 0x04, 0x08, 0x10.
    const UCHAR aMasks[3] = {0x04, 0x08, 0x10};
    for (int nSensor = 0; nSensor < 3; nSensor++) {
        in.ucMiscIn = static_cast<UCHAR>(0x1C & ~aMasks[nSensor]);
        conn.SetRegsIn(in);
        for (int n = 0; n < 3; n++)
            EXPECT_EQ(n == nSensor ? 1 : 0, conn.ReadHomeSensor(n)) << nSensor << " " << n;
    }
    in.ucMiscIn = 0;
    conn.SetRegsIn(in);
    EXPECT_EQ(0, conn.ReadHomeSensor(3));
    EXPECT_EQ(0, conn.ReadHomeSensor(-1));

    in.ucSpeedErrs = 0x7B;
    conn.SetRegsIn(in);
    EXPECT_EQ(0x0B, conn.GetHardwareRevNum());
}

TEST(BlockDeviceFault, DecodesStatusBitsWhileWatchdogCounts)
{
    CWireDouble conn;
    _PORT_INPUT in = QuietBlock();
    conn.SetRegsIn(in);
    EXPECT_EQ(1, conn.ReadDeviceFault());

    in.ucMiscIn = 0x00;
    conn.SetRegsIn(in);
    EXPECT_EQ(-16, conn.ReadDeviceFault());
    in.ucMiscIn = 0x60;
    conn.SetRegsIn(in);
    EXPECT_EQ(-17, conn.ReadDeviceFault());
    for (UCHAR ucBit : {0x10, 0x20, 0x40}) {
        in.ucMiscIn = 0x40;
        in.ucSpeedErrs = static_cast<UCHAR>(ucBit | 0x05);
        conn.SetRegsIn(in);
        EXPECT_EQ(-18, conn.ReadDeviceFault());
    }
    in.ucSpeedErrs = 0x8F;  // bit 7 and the revision are not speed errors
    conn.SetRegsIn(in);
    EXPECT_EQ(1, conn.ReadDeviceFault());

    // While the watchdog misses, the status bits are not trusted.
    in.ucMiscIn = 0x20;
    conn.SetRegsIn(in);
    conn.SetWatchdogErrors(2);
    EXPECT_EQ(1, conn.ReadDeviceFault());

    conn.SetCantCommunicate(true);
    EXPECT_EQ(-15, conn.ReadDeviceFault());
}

// Lost communication fails the exchanges until the talk test passes again, and a device
// that answers again starts its calibration afresh.
TEST(BlockCommunication, LostAndRecovered)
{
    CWireDouble conn;
    conn.SetIdle(QuietBlock());
    conn.m_bTalks = false;
    conn.SetCantCommunicate(true);
    EXPECT_EQ(-15, conn.FlushConnection(FALSE));
    EXPECT_EQ(-15, conn.FlushConnection(TRUE));
    EXPECT_EQ(-15, conn.ResetBaseEncoders());
    EXPECT_EQ(-15, conn.ResetGimbalEncoders());
    EXPECT_EQ(0x00, conn.Out().ucMiscOut & 0x10);
    EXPECT_TRUE(conn.m_written.empty());

    // Offsets in use from a file, which a recovery must discard in flag mode.
    const std::string strPath = TestConfigDir() + "/KinetorCalibration(recover)";
    FILE* fp = fopen(strPath.c_str(), "w");
    ASSERT_NE(nullptr, fp);
    fprintf(fp, "100 200 300 0 0 0\n5 5 5 5 5 5\n");
    fclose(fp);
    char szName[] = "recover";
    conn.ReadEncoderOffsets(szName);
    unlink(strPath.c_str());
    EXPECT_EQ(100, conn.Offset(0));

    conn.m_bTalks = true;
    EXPECT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_FALSE(conn.CommunicationError());
    EXPECT_EQ(0, conn.Offset(0));
    EXPECT_EQ(0, conn.Offset(2));
    EXPECT_EQ(BLOCK_UNKNOWN_VELOCITY, conn.OffsetVel(1));
    EXPECT_EQ(1u, conn.m_written.size());
}

// In reference mode the offsets in use belong to the docking position, not to the flag
// search: a device that answers again keeps them and only starts its sensor data afresh.
TEST(BlockCommunication, RecoveryInReferenceModeKeepsTheOffsets)
{
    CWireDouble conn;
    const std::string strPath = TestConfigDir() + "/KinetorCalibration(docked)";
    FILE* fp = fopen(strPath.c_str(), "w");
    ASSERT_NE(nullptr, fp);
    fprintf(fp, "100 200 300 0 0 0\n5 5 5 5 5 5\n");
    fclose(fp);
    char szName[] = "docked";
    conn.ReadEncoderOffsets(szName);
    unlink(strPath.c_str());
    const SHORT anRef[6] = {1, 2, 3, 4, 5, 6};
    conn.SetEncoderOffsets(anRef);
    ASSERT_FALSE(conn.AutoCalibrate());

    conn.SetIdle(QuietBlock());
    conn.SetCantCommunicate(true);
    EXPECT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_EQ(1, conn.m_nTalkTests);
    EXPECT_FALSE(conn.CommunicationError());
    EXPECT_EQ(100, conn.Offset(0));
    EXPECT_EQ(200, conn.Offset(1));
    EXPECT_EQ(300, conn.Offset(2));
    EXPECT_EQ(5, conn.OffsetVel(0));
}

// Only an offset in use that is 0 and has no velocity counts as unset: a loaded offset
// without a velocity, or a loaded 0 with one, is left alone by the exchange.
TEST(BlockOffsets, UnsetMeansZeroWithoutVelocity)
{
    const std::string strPath = TestConfigDir() + "/KinetorCalibration(unset)";
    FILE* fp = fopen(strPath.c_str(), "w");
    ASSERT_NE(nullptr, fp);
    fprintf(fp, "100 0 0 0 0 0\nnone\n");
    fclose(fp);
    CWireDouble conn;
    char szName[] = "unset";
    conn.ReadEncoderOffsets(szName);
    ASSERT_EQ(BLOCK_UNKNOWN_VELOCITY, conn.OffsetVel(0));
    conn.SetIdle(QuietBlock());
    EXPECT_EQ(1, conn.FlushConnection(FALSE));
    int nStatus = -1;
    conn.GetCalibrationStatus(nStatus);
    EXPECT_EQ(0x20 | 0x40, nStatus);
    EXPECT_EQ(2, conn.Out().ucMiscOut & 0x07);
    EXPECT_EQ(1, conn.FlushConnection(TRUE));  // the light goes out with the next exchange
    EXPECT_EQ(2, conn.m_written.back().ucMiscOut & 0x07);

    fp = fopen(strPath.c_str(), "w");
    ASSERT_NE(nullptr, fp);
    fprintf(fp, "100 0 0 0 0 0\n7 7 7 7 7 7\n");
    fclose(fp);
    CWireDouble loaded;
    loaded.ReadEncoderOffsets(szName);
    unlink(strPath.c_str());
    loaded.SetIdle(QuietBlock());
    EXPECT_EQ(1, loaded.FlushConnection(FALSE));
    loaded.GetCalibrationStatus(nStatus);
    EXPECT_EQ(0x00, nStatus);
    EXPECT_EQ(6, loaded.Out().ucMiscOut & 0x07);
}

TEST(BlockCommunication, WatchdogRunsOnEveryRead)
{
    CWireDouble conn;
    _PORT_INPUT in = QuietBlock();
    in.ucWatchdogCntrIn = 41;
    conn.Push(in);
    in.ucWatchdogCntrIn = 255;
    conn.Push(in);
    conn.FlushConnection(FALSE);
    EXPECT_EQ(42, conn.m_written.back().ucWatchdogCntrOut);
    conn.FlushConnection(TRUE);
    EXPECT_EQ(0, conn.m_written.back().ucWatchdogCntrOut);
    EXPECT_EQ(2, conn.m_nWatchdogCalls);
    // A healthy connection never runs the talk test.
    EXPECT_EQ(0, conn.m_nTalkTests);
}

TEST(BlockEncoders, ResetBitHeldForOneExchange)
{
    CWireDouble conn;
    conn.SetIdle(QuietBlock());
    EXPECT_EQ(1, conn.ResetBaseEncoders());
    EXPECT_EQ(1, conn.ResetGimbalEncoders());
    ASSERT_EQ(2u, conn.m_written.size());
    EXPECT_EQ(0x10, conn.m_written[0].ucMiscOut & 0x10);
    EXPECT_EQ(0x10, conn.m_written[1].ucMiscOut & 0x10);
    EXPECT_EQ(0, conn.Out().ucMiscOut & 0x10);
    conn.FlushConnection(FALSE);
    EXPECT_EQ(0, conn.m_written.back().ucMiscOut & 0x10);
}

struct LightCodes {
    int nCardType;
    int nEnabled;
    int nDisabled;
    int nNeedsCalibration;
};

class BlockStatusLight : public ::testing::TestWithParam<LightCodes> {};

TEST_P(BlockStatusLight, CodesAndOverride)
{
    const LightCodes codes = GetParam();
    CWireDouble conn(codes.nCardType, 0);
    conn.SetIdle(QuietBlock());
    conn.OverrideStatusLight(0);
    conn.RestoreStatusLight();
    const UCHAR ucOther = 0xF8 & conn.Out().ucMiscOut;

    conn.SetStatusLight(AMPLIFIERS_ENABLED);
    EXPECT_EQ(codes.nEnabled, conn.Out().ucMiscOut & 0x07);
    conn.SetStatusLight(AMPLIFIERS_DISABLED);
    EXPECT_EQ(codes.nDisabled, conn.Out().ucMiscOut & 0x07);
    conn.SetStatusLight(NEEDS_CALIBRATION);
    EXPECT_EQ(codes.nNeedsCalibration, conn.Out().ucMiscOut & 0x07);
    conn.SetStatusLight(INVALID_LIGHT_STATE);
    EXPECT_EQ(0, conn.Out().ucMiscOut & 0x07);
    EXPECT_EQ(ucOther, 0xF8 & conn.Out().ucMiscOut);

    // The user's raw code wins until restored; the automatic state is still recorded.
    EXPECT_EQ(0, conn.IsStatusLightEnabled());
    EXPECT_EQ(1, conn.OverrideStatusLight(0x0F));
    EXPECT_EQ(1, conn.IsStatusLightEnabled());
    EXPECT_EQ(0x0F, conn.ReadStatusLight());
    EXPECT_EQ(7, conn.Out().ucMiscOut & 0x07);
    EXPECT_EQ(ucOther, 0xF8 & conn.Out().ucMiscOut);
    conn.SetStatusLight(AMPLIFIERS_DISABLED);
    EXPECT_EQ(7, conn.Out().ucMiscOut & 0x07);
    conn.FlushConnection(FALSE);  // sets the automatic state on every full exchange
    EXPECT_EQ(7, conn.m_written.back().ucMiscOut & 0x07);
    conn.SetStatusLight(AMPLIFIERS_DISABLED);
    EXPECT_EQ(1, conn.RestoreStatusLight());
    EXPECT_EQ(0, conn.IsStatusLightEnabled());
    EXPECT_EQ(codes.nDisabled, conn.Out().ucMiscOut & 0x07);
}

INSTANTIATE_TEST_SUITE_P(CardTypes, BlockStatusLight,
                         ::testing::Values(LightCodes{4, 6, 5, 2}, LightCodes{6, 3, 0, 1}));

class BlockAmplifiers : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The handshake polls on the device clock; a simulated clock left behind by another
        // test would not advance without simulated exchanges.
        SetDeviceClock(nullptr);
        m_conn.SetIdle(QuietBlock());
    }
    CWireDouble m_conn;
};

TEST_F(BlockAmplifiers, EnableWithoutFaultIsOnePass)
{
    EXPECT_EQ(1, m_conn.EnableBaseAmplifiers(TRUE));
    ASSERT_EQ(2u, m_conn.m_written.size());
    for (const _PORT_OUTPUT& out : m_conn.m_written) {
        EXPECT_EQ(0x08, out.ucMiscOut & 0x08);
        EXPECT_EQ(6, out.ucMiscOut & 0x07);  // no exchange has judged the offsets yet
    }
    EXPECT_EQ(1, m_conn.EnableBaseAmplifiers(FALSE));
    ASSERT_EQ(4u, m_conn.m_written.size());
    EXPECT_EQ(0, m_conn.m_written[2].ucMiscOut & 0x08);
    EXPECT_EQ(5, m_conn.m_written[3].ucMiscOut & 0x07);
    EXPECT_EQ(0, m_conn.Out().ucMiscOut & 0x08);
}

// A latched fault is cleared with a pulse of the opposite amplifier state.
TEST_F(BlockAmplifiers, FaultIsPulsedAway)
{
    _PORT_INPUT fault = QuietBlock();
    fault.ucMiscIn |= 0x20;
    _PORT_INPUT speed = QuietBlock();
    speed.ucSpeedErrs = 0x20;
    m_conn.Push(fault);  // first flush
    m_conn.Push(fault);  // pulse
    m_conn.Push(speed);  // second pass
    m_conn.Push(speed);  // pulse
    m_conn.Push(QuietBlock());
    EXPECT_EQ(1, m_conn.EnableBaseAmplifiers(TRUE));
    const UCHAR aExpected[6] = {0x08, 0x00, 0x08, 0x00, 0x08, 0x08};
    ASSERT_EQ(6u, m_conn.m_written.size());
    for (size_t i = 0; i < 6; i++)
        EXPECT_EQ(aExpected[i], m_conn.m_written[i].ucMiscOut & 0x08) << i;
}

// Switching off against a latched fault pulses the amplifier line on, then leaves it off.
TEST_F(BlockAmplifiers, DisablingPulsesTheLineOn)
{
    _PORT_INPUT fault = QuietBlock();
    fault.ucMiscIn |= 0x20;
    m_conn.Push(fault);  // first flush
    m_conn.Push(fault);  // pulse
    m_conn.Push(QuietBlock());
    EXPECT_EQ(1, m_conn.EnableBaseAmplifiers(FALSE));
    const UCHAR aExpected[4] = {0x00, 0x08, 0x00, 0x00};
    ASSERT_EQ(4u, m_conn.m_written.size());
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(aExpected[i], m_conn.m_written[i].ucMiscOut & 0x08) << i;
        EXPECT_EQ(5, m_conn.m_written[i].ucMiscOut & 0x07) << i;
    }
}

// Without a watchdog the loop runs out its time without pulses and still leaves the
// amplifier bit as asked.
TEST_F(BlockAmplifiers, NoWatchdogRunsOutTheLoop)
{
    _PORT_INPUT dead = QuietBlock();
    dead.ucMiscIn &= static_cast<UCHAR>(~0x40);
    m_conn.SetIdle(dead);
    EXPECT_EQ(1, m_conn.EnableBaseAmplifiers(TRUE));
    ASSERT_GE(m_conn.m_written.size(), 3u);
    for (const _PORT_OUTPUT& out : m_conn.m_written)
        EXPECT_EQ(0x08, out.ucMiscOut & 0x08);
}

}  // namespace
