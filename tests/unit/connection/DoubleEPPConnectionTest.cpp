// The chained-module parallel-port transport against the simulated port, whose chain holds
// the base and the gimbal module of one 6-DOF arm, in lockstep pace.
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/KinetorDevice.h"
#include "sim/SimArm.h"
#include "sim/SimTestInterface.h"
#include "transport/epp/DoubleEPPConnection.h"
#include "transport/epp/KinetorDoubleEPPConnection.h"
#include "TestDirs.h"

namespace {

const ULONG kPortAddr = 0x378;
const int kBaseModule = 0;
const int kGimbalModule = 1;

CKinetorDevice SixAxisConfig()
{
    CKinetorDevice config;
    snprintf(config.m_szName, sizeof(config.m_szName), "%s", "chained");
    config.m_nIndex = 2;
    config.m_nModelType = KINETOR_MODEL_ALTURA_6DOF;
    config.m_nCardType = KINETOR_CARD_DBLEPP;
    config.m_nEPPDevice = 1;
    return config;
}

class DoubleEPPConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetEPPProcessState();
        SimActivate("pace=lockstep,hand=hold");
        SimReset();
        m_pArm = SimAttachArm(SixAxisConfig(), 2);
        SimSetEPPUnit(0);
        m_pConn = new CDoubleEPPConnection(0, kPortAddr, PM_EPP);
    }

    void TearDown() override
    {
        delete m_pConn;
        ResetEPPProcessState();
        SimReset();
        SimDeactivate();
    }

    // Allocated with the arm at a pose whose six counters all differ, and two sweeps run.
    void Allocate(int nChannel = 0)
    {
        ASSERT_TRUE(m_pConn->IsComplete());
        ASSERT_EQ(1, m_pConn->AllocateConnection(nChannel));
        double adAngles[SIM_ARM_AXES] = {0.1, 0.2, 0.3, 0.4, -0.5, 0.6};
        m_pArm->SetJointAngles(adAngles);
        ASSERT_EQ(1, m_pConn->FlushConnection(TRUE));
        ASSERT_EQ(1, m_pConn->FlushConnection(TRUE));
    }

    CSimArm* m_pArm = nullptr;
    CDoubleEPPConnection* m_pConn = nullptr;
};

TEST_F(DoubleEPPConnectionTest, EachOperationReachesItsModule)
{
    // The channel asked for does not matter: the base module is channel 0 either way.
    Allocate(1);
    m_pArm->SetPinchRaw(1234);
    m_pArm->SetStylusSwitch(0, true);
    ASSERT_EQ(1, m_pConn->FlushConnection(FALSE));

    SHORT asBase[3];
    SHORT asGimbal[3];
    ASSERT_EQ(1, m_pConn->ReadBaseEncoders(asBase));
    ASSERT_EQ(1, m_pConn->ReadGimbalEncoders(asGimbal));
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ((SHORT)m_pArm->GetEncoderCounter(i), asBase[i]) << i;
        // The gimbal module's encoder fields, not its pot channel that carries the pinch.
        EXPECT_EQ((SHORT)m_pArm->GetEncoderCounter(3 + i), asGimbal[i]) << i;
    }
    SHORT sPinch = 0;
    ASSERT_EQ(1, m_pConn->ReadPinchValue(sPinch));
    EXPECT_EQ(1234, sPinch);
    EXPECT_EQ(1, m_pConn->ReadSwitch(0));
    EXPECT_EQ(1, m_pConn->ReadPresence(0));
    EXPECT_EQ(SIM_HW_REV_NUM_NEW, m_pConn->GetHardwareRevNum());

    // Words 0x8000 +/- n*16 arrive as signed DAC counts n*16 on the motor they were meant for.
    USHORT ausBase[3] = {0x8000 + 320, 0x8000 - 160, 0x8000 + 48};
    USHORT ausGimbal[3] = {0x8000 - 640, 0x8000 + 800, 0x8000 - 16};
    ASSERT_EQ(1, m_pConn->WriteBaseTorques(ausBase));
    ASSERT_EQ(1, m_pConn->WriteGimbalTorques(ausGimbal));
    ASSERT_EQ(1, m_pConn->FlushConnection(FALSE));
    const long alExpected[6] = {320, -160, 48, -640, 800, -16};
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(alExpected[k], m_pArm->GetMotorDAC(k)) << "motor " << k;

    // Each module's own amplifier group follows its own enable.
    ASSERT_EQ(1, m_pConn->EnableBaseAmplifiers(TRUE));
    EXPECT_TRUE(SimGetEPPModuleAmplifiers(kBaseModule));
    EXPECT_FALSE(SimGetEPPModuleAmplifiers(kGimbalModule));
    ASSERT_EQ(1, m_pConn->EnableGimbalAmplifiers(TRUE));
    EXPECT_TRUE(SimGetEPPModuleAmplifiers(kGimbalModule));

    // No light, no calibration of its own, no offsets file.
    EXPECT_EQ(-7, m_pConn->OverrideStatusLight(3));
    EXPECT_EQ(-7, m_pConn->RestoreStatusLight());
    EXPECT_EQ(-7, m_pConn->IsStatusLightEnabled());
    EXPECT_EQ(-7, m_pConn->ReadStatusLight());
    int nStatus = 42;
    EXPECT_EQ(1, m_pConn->GetCalibrationStatus(nStatus));
    EXPECT_EQ(42, nStatus);
    char szName[] = "chained";
    m_pConn->WriteEncoderOffsets(szName);
    EXPECT_TRUE(ListDirectory(TestConfigDir()).empty());
    EXPECT_EQ(m_pConn->GetBaseConnection(), m_pConn->GetConnectionData());
    EXPECT_EQ(&EPPPortLock(), &m_pConn->PortLock());
}

TEST_F(DoubleEPPConnectionTest, EncoderResetsClearTheirOwnModule)
{
    Allocate();
    ASSERT_EQ(1, m_pConn->ResetGimbalEncoders());
    EXPECT_EQ(0, m_pArm->GetEncoderCounter(3));
    EXPECT_NE(0, m_pArm->GetEncoderCounter(0));
    ASSERT_EQ(1, m_pConn->ResetBaseEncoders());
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(0, m_pArm->GetEncoderCounter(k)) << k;
}

TEST_F(DoubleEPPConnectionTest, BaseModuleFaultsComeFirst)
{
    struct {
        const char* pszWhat;
        BOOLEAN bBaseFault;
        BOOLEAN bBaseSpeed;
        BOOLEAN bGimbalFault;
        BOOLEAN bGimbalSpeed;
        int nExpected;
    } cases[] = {
        {"clean", FALSE, FALSE, FALSE, FALSE, 1},
        {"gimbal fault", FALSE, FALSE, TRUE, FALSE, -17},
        {"gimbal speed error", FALSE, FALSE, FALSE, TRUE, -18},
        {"base speed error over gimbal fault", FALSE, TRUE, TRUE, FALSE, -18},
        {"base fault over gimbal speed error", TRUE, FALSE, FALSE, TRUE, -17},
    };
    Allocate();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SimSetEPPModuleFault(kBaseModule, c.bBaseFault);
        SimSetEPPModuleSpeedError(kBaseModule, 1, c.bBaseSpeed);
        SimSetEPPModuleFault(kGimbalModule, c.bGimbalFault);
        SimSetEPPModuleSpeedError(kGimbalModule, 2, c.bGimbalSpeed);
        ASSERT_EQ(1, m_pConn->FlushConnection(FALSE));
        EXPECT_EQ(c.nExpected, m_pConn->ReadDeviceFault());
    }
}

TEST_F(DoubleEPPConnectionTest, EitherModuleLosesTheChainAfterSevenMissesAndTheTalkTestRecoversIt)
{
    Allocate();
    for (int nModule : {kBaseModule, kGimbalModule}) {
        SCOPED_TRACE(nModule == kBaseModule ? "base module" : "gimbal module");
        // The other module's right echoes in between do not reset this module's count.
        SimInjectEPPEchoErrors(nModule, 6);
        for (int n = 0; n < 6; n++)
            ASSERT_EQ(1, m_pConn->FlushConnection(FALSE)) << n;
        EXPECT_NE(-15, m_pConn->ReadDeviceFault());
        USHORT ausWords[3] = {0x9000, 0x9000, 0x9000};
        m_pConn->WriteBaseTorques(ausWords);
        m_pConn->WriteGimbalTorques(ausWords);
        SimInjectEPPEchoErrors(nModule, 1);
        EXPECT_EQ(-15, m_pConn->FlushConnection(FALSE));
        EXPECT_EQ(-15, m_pConn->ReadDeviceFault());

        // The module answers again: the next sweep recovers and both modules get zero
        // torque instead of the command from before the loss.
        EXPECT_EQ(1, m_pConn->FlushConnection(FALSE));
        EXPECT_EQ(1, m_pConn->ReadDeviceFault());
        for (int k = 0; k < 6; k++)
            EXPECT_EQ(BLOCK_DAC_ZERO, SimGetEPPDACWord(k)) << "motor " << k;
    }
}

TEST_F(DoubleEPPConnectionTest, SilentModuleIsALostLinkNotADeviceFault)
{
    Allocate();
    for (int nModule : {kBaseModule, kGimbalModule}) {
        SimSetEPPSilent(nModule, TRUE);
        int nResult = 1;
        for (int n = 0; n < 7 && nResult == 1; n++)
            nResult = m_pConn->FlushConnection(FALSE);
        EXPECT_EQ(-15, nResult) << nModule;
        EXPECT_EQ(-15, m_pConn->ReadDeviceFault()) << nModule;
        SimSetEPPSilent(nModule, FALSE);
        EXPECT_EQ(1, m_pConn->FlushConnection(FALSE)) << nModule;
    }
}

TEST_F(DoubleEPPConnectionTest, TheBaseModulesTimerIsTheTick)
{
    Allocate();
    ASSERT_EQ(1, m_pConn->SetKinetorUpdateRate(2000));
    EXPECT_EQ(-20, m_pConn->SetKinetorUpdateRate(1500));
    ASSERT_EQ(1, m_pConn->FlushConnection(TRUE));
    m_pConn->Await();
    uint64_t nTicks = SimTickCount();
    int64_t nBefore = SimNowNs();
    m_pConn->Await();
    EXPECT_EQ(nTicks + 1, SimTickCount());
    EXPECT_EQ(500000, SimNowNs() - nBefore);
    // The lock is free again once the tick has come.
    CKinetorLock lock(m_pConn->PortLock());
}

TEST_F(DoubleEPPConnectionTest, DeleteLeavesBothModulesStillAndReleasesThePort)
{
    Allocate();
    m_pConn->Await();
    USHORT ausWords[3] = {0x9000, 0x7000, 0x9000};
    m_pConn->WriteBaseTorques(ausWords);
    m_pConn->WriteGimbalTorques(ausWords);
    ASSERT_EQ(1, m_pConn->FlushConnection(FALSE));
    ASSERT_NE(BLOCK_DAC_ZERO, SimGetEPPDACWord(4));
    EXPECT_EQ(2, GetEPPOpenCount());

    EXPECT_EQ(1, m_pConn->DeleteConnection());
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(BLOCK_DAC_ZERO, SimGetEPPDACWord(k)) << "motor " << k;
    SIM_EPP_STATE state;
    SimGetEPPState(&state);
    EXPECT_FALSE(state.bTimerRunning);
    EXPECT_FALSE(state.bClaimed);
    EXPECT_EQ(0, state.nOpenDescriptors);
    EXPECT_EQ(0, GetEPPOpenCount());
}

TEST_F(DoubleEPPConnectionTest, FailedAllocationsAndTheWrapper)
{
    // A port that cannot talk fails the base half; the gimbal half is never tried.
    SimSetEPPSilent(kBaseModule, TRUE);
    EXPECT_EQ(-19, m_pConn->AllocateConnection(0));
    EXPECT_EQ(0, GetEPPOpenCount());
    SimSetEPPSilent(kBaseModule, FALSE);

    // The wrapper of a configured unit builds a complete pair.
    CKinetorDevice config = SixAxisConfig();
    ASSERT_TRUE(config.Write());
    {
        CKinetorDoubleEPPConnection wrapper(0);
        ASSERT_TRUE(wrapper.ConstructorStatus());
        CHapticConnection* pConn = wrapper.GetEntryPoints();
        ASSERT_NE(nullptr, pConn);
        EXPECT_EQ(1, pConn->AllocateConnection(0));
        EXPECT_EQ(1, pConn->DeleteConnection());
    }
    RemoveDirectoryContents(TestConfigDir());
}

}  // namespace
