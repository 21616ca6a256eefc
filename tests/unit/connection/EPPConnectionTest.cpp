// The parallel-port transport against the simulated port and arm, in lockstep pace.
#include <errno.h>
#include <string.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "config/KinetorDevice.h"
#include "hal/DeviceNodes.h"
#include "sim/SimArm.h"
#include "sim/SimTestInterface.h"
#include "transport/epp/EPPConnection.h"
#include "transport/epp/KinetorEPPConnection.h"
#include "TestDirs.h"

namespace {

const ULONG kPortAddr = 0x378;

class EPPConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetEPPProcessState();
        SimActivate("pace=lockstep,hand=hold");
        SimReset();
        m_pArm = AttachArm(0, KINETOR_MODEL_ALTURA_A, 2);
        SimSetEPPUnit(0);
    }

    void TearDown() override
    {
        ResetEPPProcessState();
        SimReset();
        SimDeactivate();
    }

    static CSimArm* AttachArm(int nIndex, ULONG nModel, ULONG nChannelSelect)
    {
        CKinetorDevice config;
        snprintf(config.m_szName, sizeof(config.m_szName), "arm%d", nIndex);
        config.m_nIndex = nIndex;
        config.m_nModelType = nModel;
        config.m_nCardType = KINETOR_CARD_EPP;
        config.m_nChannelSelect = nChannelSelect;
        config.m_nEPPDevice = 1;
        return SimAttachArm(config, nIndex);
    }

    static SIM_EPP_STATE PortState()
    {
        SIM_EPP_STATE state;
        SimGetEPPState(&state);
        return state;
    }

    CSimArm* m_pArm = nullptr;
};

TEST_F(EPPConnectionTest, AllocationSharesTheNodeAndReleasesItWithTheLastUser)
{
    CEPPConnection first(0, kPortAddr, PM_EPP);
    CEPPConnection second(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, first.AllocateConnection(0));
    SIM_EPP_STATE state = PortState();
    EXPECT_TRUE(state.bClaimed);
    EXPECT_EQ(0x40, state.nMode);
    EXPECT_EQ(1, state.nOpenDescriptors);
    EXPECT_EQ(0, state.nDataDir);
    // Strobe, auto-feed, init, select-in and direction are cleared at allocation.
    EXPECT_EQ(0, state.ucControl & 0x2F);
    EXPECT_EQ(0xC0, first.GetOutputBlock().ucMiscOut & 0xC0);

    ASSERT_EQ(1, second.AllocateConnection(1));
    EXPECT_EQ(2, GetEPPOpenCount());
    EXPECT_EQ(1, PortState().nOpenDescriptors);
    EXPECT_EQ(first.GetPortIndex(), second.GetPortIndex());

    EXPECT_EQ(1, first.DeleteConnection());
    EXPECT_EQ(1, GetEPPOpenCount());
    EXPECT_TRUE(PortState().bClaimed);
    EXPECT_EQ(1, second.DeleteConnection());
    EXPECT_EQ(0, GetEPPOpenCount());
    EXPECT_EQ(0, GetEPPModeWord());
    state = PortState();
    EXPECT_FALSE(state.bClaimed);
    EXPECT_EQ(0, state.nOpenDescriptors);
    EXPECT_EQ(0x100, state.nMode);
}

TEST_F(EPPConnectionTest, OpenFailuresReportAndReturnMinus11)
{
    {
        SimSetNodePresent("/dev/kinepp", FALSE);
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        testing::internal::CaptureStderr();
        EXPECT_EQ(-11, conn.AllocateConnection(0));
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("KDD Error: /dev/kinepp: "));
        SimSetNodePresent("/dev/kinepp", TRUE);
    }
    {
        SimFailRequest("open", 1);
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        testing::internal::CaptureStderr();
        EXPECT_EQ(-11, conn.AllocateConnection(0));
        EXPECT_NE(std::string::npos,
                  testing::internal::GetCapturedStderr().find("KDD Error: accessing parallel port"));
    }
    for (const char* pszRequest : {"PPCLAIM", "PPSETMODE", "PPNEGOT"}) {
        SimFailRequest(pszRequest, 1);
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        testing::internal::CaptureStderr();
        EXPECT_EQ(-11, conn.AllocateConnection(0)) << pszRequest;
        std::string strErr = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, strErr.find(std::string(pszRequest) + ": ")) << strErr;
        EXPECT_EQ(0, GetEPPOpenCount());
        EXPECT_EQ(0, PortState().nOpenDescriptors) << pszRequest;
        EXPECT_EQ(0, GetEPPModeWord());
    }
}

TEST_F(EPPConnectionTest, ModesFileDecidesTheWarning)
{
    const char* pszWarning = "\n** WARNING: EPP mode not detected in /dev/kinepp_modes **\n\n";
    struct {
        const char* pszText;
        bool bWarns;
    } cases[] = {{"PCSPP,TRISTATE,COMPAT,EPP,ECP\n", false},
                 {"compat,epp\n", false},
                 {"PCSPP,Epp", false},
                 {"PCSPP,TRISTATE,COMPAT,ECP\n", true},
                 {nullptr, true}};
    for (const auto& c : cases) {
        SimSetEPPModesText(c.pszText);
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        testing::internal::CaptureStderr();
        EXPECT_EQ(1, conn.AllocateConnection(0));
        std::string strErr = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.bWarns, strErr.find(pszWarning) != std::string::npos)
            << (c.pszText ? c.pszText : "(no file)");
        conn.DeleteConnection();
    }
}

TEST_F(EPPConnectionTest, TalkTestMethods)
{
    // A port that turns its lines round itself passes the plain read (method 1) and never
    // needs the direction switch.
    SimSetEPPNeedsDirectionSwitch(FALSE);
    SimFailRequest("PPDATADIR", -1);
    {
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        EXPECT_EQ(1, conn.AllocateConnection(0));
        conn.DeleteConnection();
    }
    // The default port needs the switch: method 2, which fails with the switch.
    SimSetEPPNeedsDirectionSwitch(TRUE);
    {
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        testing::internal::CaptureStderr();
        EXPECT_EQ(-19, conn.AllocateConnection(0));
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("PPDATADIR: "));
        EXPECT_EQ(0, GetEPPOpenCount());
        EXPECT_EQ(0, PortState().nOpenDescriptors);
    }
    SimFailRequest("PPDATADIR", 0);
    {
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        EXPECT_EQ(1, conn.AllocateConnection(0));
        EXPECT_TRUE(conn.PortTalkTest());
        EXPECT_EQ(0, PortState().nDataDir);
        conn.DeleteConnection();
    }
}

TEST_F(EPPConnectionTest, DeviceThatDoesNotAnswerOrUnsupportedModeGivesMinus19)
{
    SimSetEPPSilent(0, TRUE);
    {
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        EXPECT_EQ(-19, conn.AllocateConnection(0));
        // The failed talk test leaves strobe set.
        EXPECT_EQ(0x01, PortState().ucControl & 0x01);
        EXPECT_EQ(0, GetEPPOpenCount());
    }
    SimSetEPPSilent(0, FALSE);
    {
        CEPPConnection conn(0, kPortAddr, PM_UNSUPPORTED);
        EXPECT_EQ(-19, conn.AllocateConnection(0));
        EXPECT_EQ(0, GetEPPOpenCount());
        EXPECT_FALSE(PortState().bClaimed);
    }
    {
        CEPPConnection conn(0, kPortAddr, PM_ECP);
        EXPECT_EQ(1, conn.AllocateConnection(0));
        EXPECT_EQ(0x50, PortState().nMode);
    }
    {
        CEPPConnection conn(4, kPortAddr, PM_EPP);
        EXPECT_EQ(-12, conn.AllocateConnection(0));
        EXPECT_EQ(-6, conn.AllocateConnection(2));
        EXPECT_EQ(0, PortState().nOpenDescriptors);
    }
}

// Encoder counters the arm shows arrive in the connection; DAC words sent arrive at the arm.
void CheckRoundTrip(CEPPConnection& conn, CSimArm* pArm)
{
    double adAngles[SIM_ARM_AXES] = {0.3, -0.2, 0.4, 0, 0, 0};
    pArm->SetJointAngles(adAngles);
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    SHORT asEncoders[3];
    ASSERT_EQ(1, conn.ReadBaseEncoders(asEncoders));
    for (int i = 0; i < 3; i++)
        EXPECT_EQ((SHORT)pArm->GetEncoderCounter(i), asEncoders[i]) << i;
    EXPECT_NE(0, asEncoders[0]);

    USHORT ausWords[3] = {0x8000 + 1000, 0x8000 - 4000, 0xFFFF};
    ASSERT_EQ(1, conn.WriteBaseTorques(ausWords));
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    // 12 bits on the wire, inverted: 4095 - (word >> 4).
    EXPECT_EQ(1985, SimGetEPPDACWord(0));
    EXPECT_EQ(2297, SimGetEPPDACWord(1));
    EXPECT_EQ(0, SimGetEPPDACWord(2));
    // The arm sees the library's count with its lowest four bits gone.
    EXPECT_EQ(992, pArm->GetMotorDAC(0));
    EXPECT_EQ(-4000, pArm->GetMotorDAC(1));
    EXPECT_EQ(32752, pArm->GetMotorDAC(2));
}

TEST_F(EPPConnectionTest, BlockRoundTripThroughTheReverseModeCheck)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    CheckRoundTrip(conn, m_pArm);
    EXPECT_FALSE(conn.CommunicationError());
    EXPECT_EQ(1, conn.ReadDeviceFault());
    // The counter sent is the echo plus one, and it is what the device holds now.
    EXPECT_EQ((UCHAR)(conn.GetInputBlock().ucWatchdogCntrIn + 1), conn.GetOutputBlock().ucWatchdogCntrOut);
    EXPECT_EQ(conn.GetOutputBlock().ucWatchdogCntrOut, SimGetEPPWatchdogCounter(0));
}

TEST_F(EPPConnectionTest, BlockRoundTripWithoutReverseMode)
{
    SimSetEPPNeedsDirectionSwitch(FALSE);
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    CheckRoundTrip(conn, m_pArm);
    EXPECT_EQ(1, conn.ReadDeviceFault());
}

TEST_F(EPPConnectionTest, ChannelOneExchangesTheChannelZeroBlocksFirst)
{
    CSimArm* pSecond = AttachArm(1, KINETOR_MODEL_ALTURA_T, 1);
    CEPPConnection base(0, kPortAddr, PM_EPP);
    CEPPConnection other(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, base.AllocateConnection(0));
    ASSERT_EQ(1, other.AllocateConnection(1));
    double adFirst[SIM_ARM_AXES] = {0.1, 0.2, 0.3, 0, 0, 0};
    double adSecond[SIM_ARM_AXES] = {-0.3, -0.1, 0.2, 0, 0, 0};
    m_pArm->SetJointAngles(adFirst);
    pSecond->SetJointAngles(adSecond);
    USHORT ausBase[3] = {0x9000, 0x8000, 0x8000};
    USHORT ausOther[3] = {0x7000, 0x8000, 0x8000};
    base.WriteBaseTorques(ausBase);
    other.WriteBaseTorques(ausOther);
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(1, other.FlushConnection(TRUE));
    SHORT asBase[3];
    SHORT asOther[3];
    base.ReadBaseEncoders(asBase);
    other.ReadBaseEncoders(asOther);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ((SHORT)m_pArm->GetEncoderCounter(i), asBase[i]);
        EXPECT_EQ((SHORT)pSecond->GetEncoderCounter(i), asOther[i]);
    }
    EXPECT_EQ(0x9000 - 32768, m_pArm->GetMotorDAC(0));
    EXPECT_EQ(0x7000 - 32768, pSecond->GetMotorDAC(0));
    EXPECT_EQ(1, base.ReadDeviceFault());
    EXPECT_EQ(1, other.ReadDeviceFault());
}

TEST_F(EPPConnectionTest, ChainedGimbalModuleOfASixAxisArm)
{
    SimReset();
    CKinetorDevice config;
    snprintf(config.m_szName, sizeof(config.m_szName), "%s", "six");
    config.m_nModelType = KINETOR_MODEL_ALTURA_6DOF;
    config.m_nCardType = KINETOR_CARD_DBLEPP;
    config.m_nEPPDevice = 1;
    config.m_nTtm4 = config.m_nTtm5 = config.m_nTtm6 = 3193762;
    CSimArm* pArm = SimAttachArm(config, 0);
    ASSERT_NE(nullptr, pArm);
    CEPPConnection base(0, kPortAddr, PM_EPP);
    CEPPConnection gimbal(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, base.AllocateConnection(0));
    ASSERT_EQ(1, gimbal.AllocateConnection(1));
    double adAngles[SIM_ARM_AXES] = {0.1, 0.2, 0.3, 0.4, -0.5, 0.6};
    pArm->SetJointAngles(adAngles);
    USHORT ausBase[3] = {0x8000 + 320, 0x8000, 0x8000};
    USHORT ausGimbal[3] = {0x8000, 0x8000 - 640, 0x8000};
    base.WriteBaseTorques(ausBase);
    gimbal.WriteBaseTorques(ausGimbal);
    ASSERT_EQ(1, gimbal.FlushConnection(TRUE));
    ASSERT_EQ(1, gimbal.FlushConnection(TRUE));
    SHORT asBase[3];
    SHORT asGimbal[3];
    base.ReadBaseEncoders(asBase);
    gimbal.ReadBaseEncoders(asGimbal);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ((SHORT)pArm->GetEncoderCounter(i), asBase[i]) << i;
        EXPECT_EQ((SHORT)pArm->GetEncoderCounter(3 + i), asGimbal[i]) << i;
    }
    EXPECT_EQ(320, pArm->GetMotorDAC(0));
    EXPECT_EQ(-640, pArm->GetMotorDAC(4));
    EXPECT_EQ(1, gimbal.ReadDeviceFault());
}

TEST_F(EPPConnectionTest, SevenWatchdogMissesLoseTheLinkAndTheTalkTestRecoversIt)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    ASSERT_EQ(0, conn.GetWatchdogErrors());

    // Six misses, a right echo, six more: the link holds.
    SimInjectEPPEchoErrors(0, 6);
    for (int n = 0; n < 6; n++)
        ASSERT_EQ(1, conn.FlushConnection(TRUE)) << n;
    EXPECT_EQ(6, conn.GetWatchdogErrors());
    EXPECT_NE(-15, conn.ReadDeviceFault());
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_EQ(0, conn.GetWatchdogErrors());
    SimInjectEPPEchoErrors(0, 6);
    for (int n = 0; n < 6; n++)
        ASSERT_EQ(1, conn.FlushConnection(TRUE)) << n;
    EXPECT_FALSE(conn.CommunicationError());

    // The seventh consecutive miss loses it.
    SimInjectEPPEchoErrors(0, 1);
    EXPECT_EQ(-15, conn.FlushConnection(TRUE));
    EXPECT_TRUE(conn.CommunicationError());
    EXPECT_EQ(-15, conn.ReadDeviceFault());

    // The device answers the talk test again: the next exchange recovers and sends zero
    // torque, not the stale command from before the loss; the output block still lands on
    // the output registers, so the next command arrives as sent.
    USHORT ausWords[3] = {0x8000 + 1600, 0x8000, 0x8000};
    conn.WriteBaseTorques(ausWords);
    EXPECT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_FALSE(conn.CommunicationError());
    EXPECT_EQ(BLOCK_DAC_ZERO, SimGetEPPDACWord(0));
    conn.WriteBaseTorques(ausWords);
    EXPECT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_EQ(4095 - ((0x8000 + 1600) >> 4), SimGetEPPDACWord(0));
    EXPECT_EQ(1, conn.ReadDeviceFault());
}

TEST_F(EPPConnectionTest, LinkStaysLostWhileTheDeviceIsSilent)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    SimSetEPPSilent(0, TRUE);
    int nResult = 1;
    for (int n = 0; n < 7 && nResult == 1; n++)
        nResult = conn.FlushConnection(TRUE);
    EXPECT_EQ(-15, nResult);
    EXPECT_EQ(-15, conn.FlushConnection(TRUE));
    EXPECT_EQ(-15, conn.ReadDeviceFault());
    SimSetEPPSilent(0, FALSE);
    EXPECT_EQ(1, conn.FlushConnection(TRUE));
}

TEST_F(EPPConnectionTest, DeviceFaultAndSpeedErrorReachReadDeviceFault)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    m_pArm->SetDeviceFault(true);
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_EQ(-17, conn.ReadDeviceFault());
    m_pArm->SetDeviceFault(false);
    m_pArm->SetSpeedError(2, true);
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_EQ(-18, conn.ReadDeviceFault());
    m_pArm->SetSpeedError(2, false);
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_EQ(1, conn.ReadDeviceFault());
}

TEST_F(EPPConnectionTest, UpdateRateSelection)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    EXPECT_EQ(1000UL, conn.GetUpdateRate());

    EXPECT_EQ(1, conn.SetKinetorUpdateRate(2000));
    EXPECT_EQ(0xE0, conn.GetOutputBlock().ucMiscOut & 0xE0);
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_EQ(2000, PortState().nTickRate);
    EXPECT_TRUE(PortState().bTimerRunning);

    UCHAR ucBefore = conn.GetOutputBlock().ucMiscOut;
    EXPECT_EQ(1, conn.SetKinetorUpdateRate(500));
    EXPECT_EQ(500UL, conn.GetUpdateRate());
    EXPECT_EQ(ucBefore & 0xE0, conn.GetOutputBlock().ucMiscOut & 0xE0);

    EXPECT_EQ(-20, conn.SetKinetorUpdateRate(1500));
    EXPECT_EQ(-20, conn.SetKinetorUpdateRate(0));
    EXPECT_EQ(500UL, conn.GetUpdateRate());

    EXPECT_EQ(1, conn.SetKinetorUpdateRate(1000));
    EXPECT_EQ(0xC0, conn.GetOutputBlock().ucMiscOut & 0xE0);
    ASSERT_EQ(1, conn.FlushConnection(TRUE));
    EXPECT_EQ(1000, PortState().nTickRate);
}

// Asking for the rate already in use changes no bit, even timer flags that were cleared.
TEST_F(EPPConnectionTest, SameUpdateRateLeavesTheBits)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    ASSERT_TRUE(conn.EnableInterrupts(TRUE));
    ASSERT_TRUE(conn.EnableInterrupts(FALSE));
    EXPECT_EQ(0x00, conn.GetOutputBlock().ucMiscOut & 0xE0);
    EXPECT_EQ(1, conn.SetKinetorUpdateRate(1000));
    EXPECT_EQ(0x00, conn.GetOutputBlock().ucMiscOut & 0xE0);
    EXPECT_EQ(1, conn.SetKinetorUpdateRate(2000));
    EXPECT_EQ(0xE0, conn.GetOutputBlock().ucMiscOut & 0xE0);
    conn.DeleteConnection();
}

TEST_F(EPPConnectionTest, AwaitWaitsOneHardwareTick)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    conn.Await();
    EXPECT_EQ(0x10, PortState().ucControl & 0x10);
    for (ULONG nRate : {1000UL, 2000UL}) {
        ASSERT_EQ(1, conn.SetKinetorUpdateRate(nRate));
        ASSERT_EQ(1, conn.FlushConnection(TRUE));
        conn.Await();  // aligns on the new rate
        uint64_t nTicks = SimTickCount();
        for (int n = 0; n < 5; n++) {
            conn.Await();
            EXPECT_EQ(nTicks + 1, SimTickCount()) << nRate;
            nTicks = SimTickCount();
        }
        int64_t nBefore = SimNowNs();
        conn.Await();
        int64_t nStep = SimNowNs() - nBefore;
        EXPECT_GT(nStep, 0);
        EXPECT_LE(nStep, 1000000000LL / (int64_t)nRate) << nRate;
    }
}

TEST_F(EPPConnectionTest, InterruptBeforeAwaitReturnsWithoutWaiting)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    conn.Await();
    SimAdvance(3000000);
    EXPECT_GT(PortState().nPendingInterrupts, 0);
    int64_t nBefore = SimNowNs();
    uint64_t nTicks = SimTickCount();
    conn.Await();
    EXPECT_EQ(nBefore, SimNowNs());
    EXPECT_EQ(nTicks, SimTickCount());
    EXPECT_EQ(0, PortState().nPendingInterrupts);
}

TEST_F(EPPConnectionTest, ServoThreadAndScriptingThreadShareTheHardware)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    conn.Await();
    uint64_t nStart = SimTickCount();
    const int kTicks = 200;
    int nFailures = 0;
    std::thread servo([&conn, &nFailures]() {
        for (int n = 0; n < kTicks; n++) {
            conn.Await();
            if (conn.FlushConnection(FALSE) != 1)
                nFailures++;
        }
    });
    for (int n = 0; n < 50; n++) {
        CSimLock lock;
        m_pArm->SetJointAngle(0, 0.001 * n);
        (void)m_pArm->GetEncoderCounter(0);
    }
    servo.join();
    EXPECT_EQ(0, nFailures);
    EXPECT_EQ(nStart + kTicks, SimTickCount());
}

TEST_F(EPPConnectionTest, SignalDuringTheTickWaitIsNotAnError)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    conn.Await();
    uint64_t nTicks = SimTickCount();
    SimFailRequestWith("poll", 2, EINTR);
    conn.Await();
    EXPECT_EQ(nTicks + 1, SimTickCount());
}

TEST_F(EPPConnectionTest, DestructionDisablesInterruptsAndZeroesTheDACs)
{
    {
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        ASSERT_EQ(1, conn.AllocateConnection(0));
        conn.Await();
        USHORT ausWords[3] = {0x9000, 0x9000, 0x9000};
        conn.WriteBaseTorques(ausWords);
        ASSERT_EQ(1, conn.FlushConnection(TRUE));
        EXPECT_NE(2047, SimGetEPPDACWord(0));
        conn.DeleteConnection();
    }
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(2047, SimGetEPPDACWord(i));
    SIM_EPP_STATE state = PortState();
    EXPECT_EQ(0, state.ucControl & 0x10);
    EXPECT_FALSE(state.bTimerRunning);
    EXPECT_FALSE(state.bClaimed);
}

TEST_F(EPPConnectionTest, FailedReverseModeCheck)
{
    {
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        ASSERT_EQ(1, conn.AllocateConnection(0));
        // Nothing answers during the check: the link is lost and stays lost.
        SimSetEPPSilent(0, TRUE);
        EXPECT_EQ(-15, conn.FlushConnection(TRUE));
        EXPECT_EQ(-15, conn.ReadDeviceFault());
        EXPECT_EQ(-15, conn.FlushConnection(TRUE));
        // The check is not repeated; once the talk test passes, blocks move in reverse mode.
        SimSetEPPSilent(0, FALSE);
        EXPECT_EQ(1, conn.FlushConnection(TRUE));
        CheckRoundTrip(conn, m_pArm);
        conn.DeleteConnection();
    }
    ResetEPPProcessState();
    {
        // A device that echoes nonsense in both directions but answers the talk test fails
        // the check and is taken back by the talk test in the same exchange.
        CEPPConnection conn(0, kPortAddr, PM_EPP);
        ASSERT_EQ(1, conn.AllocateConnection(0));
        SimInjectEPPEchoErrors(0, 4);
        EXPECT_EQ(1, conn.FlushConnection(TRUE));
        EXPECT_FALSE(conn.CommunicationError());
        CheckRoundTrip(conn, m_pArm);
    }
}

TEST_F(EPPConnectionTest, PortTableHoldsFourAddresses)
{
    CEPPConnection a(0, 0x378, PM_EPP);
    CEPPConnection b(0, 0x278, PM_EPP);
    CEPPConnection c(0, 0x3BC, PM_EPP);
    CEPPConnection d(0, 0x278, PM_EPP);
    CEPPConnection e(0, 0x2BC, PM_EPP);
    CEPPConnection f(0, 0x1BC, PM_EPP);
    EXPECT_EQ(0, a.GetPortIndex());
    EXPECT_EQ(1, b.GetPortIndex());
    EXPECT_EQ(2, c.GetPortIndex());
    EXPECT_EQ(1, d.GetPortIndex());
    EXPECT_EQ(3, e.GetPortIndex());
    EXPECT_EQ(EPP_NO_PORT_INDEX, f.GetPortIndex());
    // A connection outside the table shares no blocks but still exchanges its own.
    ASSERT_EQ(1, f.AllocateConnection(1));
    SHORT asEncoders[3];
    double adAngles[SIM_ARM_AXES] = {0.2, 0.1, 0.3, 0, 0, 0};
    m_pArm->SetJointAngles(adAngles);
    ASSERT_EQ(1, f.FlushConnection(TRUE));
    f.ReadBaseEncoders(asEncoders);
    EXPECT_EQ((SHORT)m_pArm->GetEncoderCounter(0), asEncoders[0]);
}

TEST_F(EPPConnectionTest, WrapperBuildsTheConnectionOfAConfiguredArm)
{
    SimReset();
    SimSetEPPUnit(-1);
    CKinetorDevice config;
    snprintf(config.m_szName, sizeof(config.m_szName), "%s", "parallel arm");
    config.m_nIndex = 3;
    config.m_nModelType = KINETOR_MODEL_ALTURA_T;
    config.m_nCardType = KINETOR_CARD_EPP;
    config.m_nEPPDevice = 1;
    ASSERT_TRUE(config.Write());
    {
        CKinetorEPPConnection wrapper(0);
        ASSERT_TRUE(wrapper.ConstructorStatus());
        CHapticConnection* pConn = wrapper.GetEntryPoints();
        ASSERT_NE(nullptr, pConn);
        ASSERT_EQ(1, pConn->AllocateConnection(0));
        CSimArm* pArm = SimFindArm("parallel arm");
        ASSERT_NE(nullptr, pArm);
        EXPECT_EQ(KINETOR_MODEL_ALTURA_T, pArm->GetModelType());
        double adAngles[SIM_ARM_AXES] = {-0.2, 0.3, 0.1, 0, 0, 0};
        pArm->SetJointAngles(adAngles);
        ASSERT_EQ(1, pConn->FlushConnection(TRUE));
        SHORT asEncoders[3];
        pConn->ReadBaseEncoders(asEncoders);
        for (int i = 0; i < 3; i++)
            EXPECT_EQ((SHORT)pArm->GetEncoderCounter(i), asEncoders[i]);
        EXPECT_EQ(1, pConn->DeleteConnection());
    }
    unlink((TestConfigDir() + "/Kinetor3.ini").c_str());
}

using EPPConnectionDeathTest = EPPConnectionTest;

TEST_F(EPPConnectionDeathTest, TickThatNeverComesEndsTheProcess)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    conn.Await();
    SimLoseTicks(-1);
    EXPECT_EXIT(conn.Await(), ::testing::ExitedWithCode(255), "^The EPP connection timedout, exiting\\.\\.\\.$");
}

TEST_F(EPPConnectionDeathTest, FailingInterruptRequestEndsTheProcess)
{
    CEPPConnection conn(0, kPortAddr, PM_EPP);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    conn.Await();
    SimFailRequest("PPCLRIRQ", 1);
    EXPECT_EXIT(conn.Await(), ::testing::ExitedWithCode(255),
                "An EPP connection error occurred: ioctl PPCLRIRQ - : ");
    SimFailRequest("PPCLRIRQ", 0);
    SimFailRequest("poll", 1);
    EXPECT_EXIT(conn.Await(), ::testing::ExitedWithCode(255), "An EPP connection error occurred: poll : ");
}

}  // namespace
