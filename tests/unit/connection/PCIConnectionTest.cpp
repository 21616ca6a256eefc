// The PCI card transport against the simulated card and its arms, in lockstep pace.
#include <errno.h>
#include <string.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "config/KinetorDevice.h"
#include "sim/SimArm.h"
#include "sim/SimTestInterface.h"
#include "transport/IOConnection.h"
#include "transport/pci/PCIConnection.h"

namespace {

class PCIConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetPCIProcessState();
        SimActivate("pace=lockstep,hand=hold");
        SimReset();
        // An Altura A alone on channel 0 and an Altura T on channel 1 of the first card.
        m_pArm0 = AttachArm(0, KINETOR_MODEL_ALTURA_A, 1, 0);
        m_pArm1 = AttachArm(1, KINETOR_MODEL_ALTURA_T, 1, 1);
    }

    void TearDown() override
    {
        ResetPCIProcessState();
        SimReset();
        SimDeactivate();
    }

    static CSimArm* AttachArm(int nIndex, ULONG nModel, ULONG nCard, ULONG nChannelSelect)
    {
        CKinetorDevice config;
        snprintf(config.m_szName, sizeof(config.m_szName), "card arm %d", nIndex);
        config.m_nIndex = nIndex;
        config.m_nModelType = nModel;
        config.m_nCardType = KINETOR_CARD_PCI;
        config.m_nChannelSelect = nChannelSelect;
        config.m_nPCIDevice = nCard;
        config.m_nTimeoutCircuit = 0;
        return SimAttachArm(config, nIndex);
    }

    static SIM_PCI_STATE CardState(int nUnit = 0)
    {
        SIM_PCI_STATE state;
        memset(&state, 0, sizeof(state));
        EXPECT_TRUE(SimGetPCIState(nUnit, &state));
        return state;
    }

    static PCI_CARD Record(ULONG nUnit = 0)
    {
        PCI_CARD card;
        memset(&card, 0, sizeof(card));
        EXPECT_TRUE(GetPCICardRecord(nUnit, &card));
        return card;
    }

    CSimArm* m_pArm0 = nullptr;
    CSimArm* m_pArm1 = nullptr;
};

TEST_F(PCIConnectionTest, AllocationRefusesBadChannelsUnitsAndTakenChannels)
{
    struct {
        ULONG nUnit;
        int nChannel;
        int nExpected;
    } refused[] = {{0, 2, -6}, {0, -1, -6}, {4, 0, -12}, {0x7FFFFFFF, 1, -12}, {4, 2, -6}};
    for (const auto& c : refused) {
        CPCIConnection conn(c.nUnit);
        EXPECT_EQ(c.nExpected, conn.AllocateConnection(c.nChannel)) << c.nUnit << "/" << c.nChannel;
        EXPECT_EQ(0, CardState().nOpenDescriptors);
    }

    SimSetNodePresent("/dev/kinpci0", FALSE);
    {
        CPCIConnection conn(0);
        EXPECT_EQ(-9, conn.AllocateConnection(0));
    }
    SimSetNodePresent("/dev/kinpci0", TRUE);
    SimFailRequest("open", 1);
    {
        CPCIConnection conn(0);
        EXPECT_EQ(-9, conn.AllocateConnection(0));
    }
    // A card slot with nothing configured has no node.
    {
        CPCIConnection conn(2);
        EXPECT_EQ(-9, conn.AllocateConnection(0));
    }
    EXPECT_FALSE(Record().bInUse);

    CPCIConnection first(0);
    CPCIConnection second(0);
    ASSERT_EQ(1, first.AllocateConnection(0));
    EXPECT_EQ(0x03, CardState().ucControl);
    EXPECT_EQ(-5, second.AllocateConnection(0));
    ASSERT_EQ(1, second.AllocateConnection(1));
    EXPECT_EQ(1, CardState().nOpenDescriptors);
    PCI_CARD card = Record();
    EXPECT_TRUE(card.bInUse && card.bDev0InUse && card.bDev1InUse);
    EXPECT_EQ(&first.PortLock(), &second.PortLock());
    CPCIConnection other(1);
    EXPECT_NE(&first.PortLock(), &other.PortLock());

    EXPECT_EQ(1, first.DeleteConnection());
    EXPECT_EQ(1, CardState().nOpenDescriptors);
    EXPECT_EQ(1, second.DeleteConnection());
    EXPECT_EQ(0, CardState().nOpenDescriptors);
    EXPECT_FALSE(Record().bInUse);
}

TEST_F(PCIConnectionTest, ConnectionBuiltForAnOpenCardLeavesItsRecordAlone)
{
    CPCIConnection first(0);
    ASSERT_EQ(1, first.AllocateConnection(0));
    ASSERT_EQ(1, first.EnableBaseAmplifiers(TRUE));
    first.Await();
    const PCI_CARD before = Record();
    ASSERT_EQ(0x12, before.TCRegState);

    CPCIConnection late(0);
    PCI_CARD after = Record();
    EXPECT_TRUE(after.bInUse);
    EXPECT_TRUE(after.bDev0InUse);
    EXPECT_EQ(before.fd, after.fd);
    EXPECT_EQ(before.TCRegState, after.TCRegState);
    EXPECT_TRUE(after.bInterruptEnabled);
    ASSERT_EQ(1, late.AllocateConnection(1));
    // The first arm keeps its amplifiers, and its node still answers.
    EXPECT_TRUE(m_pArm0->GetAmplifiersEnabled());
    SHORT asEncoders[3];
    EXPECT_EQ(1, first.ReadBaseEncoders(asEncoders));
}

TEST_F(PCIConnectionTest, CountersReadNegatedFromTheChannelsOwnCounters)
{
    CPCIConnection conn0(0);
    CPCIConnection conn1(0);
    ASSERT_EQ(1, conn0.AllocateConnection(0));
    ASSERT_EQ(1, conn1.AllocateConnection(1));
    const double adAngles0[SIM_ARM_AXES] = {0.2, 0.3, -0.1, 0, 0, 0};
    const double adAngles1[SIM_ARM_AXES] = {-0.15, 0.05, 0.25, 0, 0, 0};
    m_pArm0->SetJointAngles(adAngles0);
    m_pArm1->SetJointAngles(adAngles1);

    SHORT as0[3];
    SHORT as1[3];
    SHORT asGimbal[3] = {77, 77, 77};
    ASSERT_EQ(1, conn0.ReadBaseEncoders(as0));
    ASSERT_EQ(1, conn1.ReadBaseEncoders(as1));
    ASSERT_EQ(1, conn1.ReadGimbalEncoders(asGimbal));
    const SIM_PCI_STATE state = CardState();
    for (int i = 0; i < 3; i++) {
        // The library's count is the arm's own; the card reports it negated.
        EXPECT_EQ((SHORT)m_pArm0->GetEncoderCounter(i), as0[i]) << i;
        EXPECT_EQ((SHORT)m_pArm1->GetEncoderCounter(i), as1[i]) << i;
        EXPECT_EQ((USHORT)(-as0[i]), state.ausCounters[i]) << i;
        EXPECT_EQ((USHORT)(-as1[i]), state.ausCounters[3 + i]) << i;
        EXPECT_EQ(0, asGimbal[i]);
    }
    EXPECT_NE(0, as0[1]);
    EXPECT_NE(0, as1[2]);

    // Channel 1's reset clears its own counters only.
    ASSERT_EQ(1, conn1.ResetBaseEncoders());
    ASSERT_EQ(1, conn1.ReadBaseEncoders(as1));
    ASSERT_EQ(1, conn0.ReadBaseEncoders(as0));
    EXPECT_EQ(0, as1[0]);
    EXPECT_EQ(0, as1[2]);
    EXPECT_EQ((SHORT)m_pArm0->GetEncoderCounter(1), as0[1]);
    EXPECT_NE(0, as0[1]);
}

TEST_F(PCIConnectionTest, TorqueWordsReachTheChannelsDACsUninverted)
{
    struct {
        USHORT usWord;
        int nDAC;
    } cases[] = {{0x8000, 0x800}, {0x0000, 0x000}, {0xFFFF, 0xFFF}, {0x1234, 0x123}, {0x800F, 0x800}};
    CPCIConnection conn0(0);
    CPCIConnection conn1(0);
    ASSERT_EQ(1, conn0.AllocateConnection(0));
    ASSERT_EQ(1, conn1.AllocateConnection(1));
    for (const auto& c : cases) {
        USHORT ausWords[3] = {c.usWord, 0x8000, c.usWord};
        USHORT ausOther[3] = {0x9000, 0x9000, 0x9000};
        ASSERT_EQ(1, conn0.WriteBaseTorques(ausWords));
        ASSERT_EQ(1, conn1.WriteBaseTorques(ausOther));
        SIM_PCI_STATE state = CardState();
        EXPECT_EQ(c.nDAC, state.anDAC[0]) << c.usWord;
        EXPECT_EQ(0x800, state.anDAC[1]);
        EXPECT_EQ(c.nDAC, state.anDAC[2]) << c.usWord;
        for (int i = 3; i < 6; i++)
            EXPECT_EQ(0x900, state.anDAC[i]);
    }
    // Channel 0's gimbal DACs are channel 1's base while an arm sits there, and channel 1
    // has no gimbal of its own.
    USHORT ausGimbal[3] = {0x4000, 0x4000, 0x4000};
    EXPECT_EQ(1, conn0.WriteGimbalTorques(ausGimbal));
    EXPECT_EQ(1, conn1.WriteGimbalTorques(ausGimbal));
    EXPECT_EQ(0x900, CardState().anDAC[3]);
    // 0x900 is 0x100 above mid-scale: 4096 counts of torque on the arm's first motor.
    EXPECT_EQ(4096, m_pArm1->GetMotorDAC(0));
    ASSERT_EQ(1, conn1.DeleteConnection());
    EXPECT_EQ(1, conn0.WriteGimbalTorques(ausGimbal));
    EXPECT_EQ(0x400, CardState().anDAC[3]);
}

TEST_F(PCIConnectionTest, AmplifierAndResetBitsOfRegisterSix)
{
    CPCIConnection conn0(0);
    CPCIConnection conn1(0);
    ASSERT_EQ(1, conn0.AllocateConnection(0));
    ASSERT_EQ(1, conn1.AllocateConnection(1));
    struct {
        CPCIConnection* pConn;
        int nOp;  // 0 enable base, 1 disable base, 2 reset base, 3 enable gimbal, 4 reset gimbal
        UCHAR ucControl;
        bool bArm0On;
        bool bArm1On;
    } steps[] = {
        {&conn0, 0, 0x02, true, false},  {&conn1, 0, 0x00, true, true},  {&conn0, 1, 0x01, false, true},
        {&conn0, 0, 0x00, true, true},   {&conn1, 2, 0x02, true, false}, {&conn1, 0, 0x00, true, true},
        {&conn0, 2, 0x01, false, true},  {&conn1, 1, 0x03, false, false},
        // Channel 0's gimbal group is channel 1's base here: left alone.
        {&conn0, 3, 0x03, false, false}, {&conn0, 4, 0x03, false, false},
    };
    for (size_t n = 0; n < sizeof(steps) / sizeof(steps[0]); n++) {
        const auto& s = steps[n];
        int r = 0;
        switch (s.nOp) {
        case 0: r = s.pConn->EnableBaseAmplifiers(TRUE); break;
        case 1: r = s.pConn->EnableBaseAmplifiers(FALSE); break;
        case 2: r = s.pConn->ResetBaseEncoders(); break;
        case 3: r = s.pConn->EnableGimbalAmplifiers(TRUE); break;
        default: r = s.pConn->ResetGimbalEncoders(); break;
        }
        EXPECT_EQ(1, r) << n;
        EXPECT_EQ(s.ucControl, CardState().ucControl) << n;
        EXPECT_EQ(s.bArm0On, m_pArm0->GetAmplifiersEnabled()) << n;
        EXPECT_EQ(s.bArm1On, m_pArm1->GetAmplifiersEnabled()) << n;
    }
}

TEST_F(PCIConnectionTest, FaultAndSwitchBitsFollowTheirChannel)
{
    CPCIConnection conn0(0);
    CPCIConnection conn1(0);
    ASSERT_EQ(1, conn0.AllocateConnection(0));
    ASSERT_EQ(1, conn1.AllocateConnection(1));
    struct {
        bool bFault0, bFault1, bSwitch0, bSwitch1;
    } cases[] = {{false, false, false, false}, {true, false, false, true}, {false, true, true, false},
                 {true, true, true, true}};
    for (const auto& c : cases) {
        m_pArm0->SetDeviceFault(c.bFault0);
        m_pArm1->SetDeviceFault(c.bFault1);
        m_pArm0->SetStylusSwitch(0, c.bSwitch0);
        m_pArm1->SetStylusSwitch(0, c.bSwitch1);
        EXPECT_EQ(c.bFault0 ? -16 : 1, conn0.ReadDeviceFault());
        EXPECT_EQ(c.bFault1 ? -16 : 1, conn1.ReadDeviceFault());
        EXPECT_EQ(c.bSwitch0 ? 1 : 0, conn0.ReadSwitch(0));
        EXPECT_EQ(c.bSwitch1 ? 1 : 0, conn1.ReadSwitch(1));
    }
    // No light on this card; no pinch either.
    EXPECT_EQ(-7, conn0.OverrideStatusLight(3));
    EXPECT_EQ(-7, conn0.RestoreStatusLight());
    EXPECT_EQ(-7, conn0.IsStatusLightEnabled());
    EXPECT_EQ(-7, conn0.ReadStatusLight());
    SHORT sPinch = 1234;
    EXPECT_EQ(0, conn0.ReadPinchValue(sPinch));
    EXPECT_EQ(1234, sPinch);
}

TEST_F(PCIConnectionTest, RefusedRequestsAreReportedNotPassedOff)
{
    CPCIConnection conn(0);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    SHORT asEncoders[3] = {11, 22, 33};
    SimFailRequest("KINPCI_READ_COUNTERS", 2);
    EXPECT_EQ(-15, conn.ReadBaseEncoders(asEncoders));
    EXPECT_EQ(-15, conn.ReadGimbalEncoders(asEncoders));
    EXPECT_EQ(11, asEncoders[0]);
    EXPECT_EQ(33, asEncoders[2]);

    SimFailRequest("KINPCI_READ_REGISTER", 2);
    EXPECT_EQ(-15, conn.ReadDeviceFault());
    EXPECT_EQ(0, conn.ReadSwitch(0));
    EXPECT_EQ(1, conn.ReadDeviceFault());

    USHORT ausWords[3] = {0x9000, 0x9000, 0x9000};
    SimFailRequest("KINPCI_WRITE_DACS", 1);
    EXPECT_EQ(-15, conn.WriteBaseTorques(ausWords));
    SimFailRequest("KINPCI_WRITE_REGISTER", 1);
    EXPECT_EQ(-15, conn.EnableBaseAmplifiers(TRUE));
    EXPECT_EQ(1, conn.WriteBaseTorques(ausWords));
    EXPECT_EQ(0x900, CardState().anDAC[0]);
}

TEST_F(PCIConnectionTest, UpdateRateSelectsTheTimerBits)
{
    CPCIConnection conn(0);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    struct {
        ULONG nRate;
        int nResult;
        UCHAR ucControl;
    } cases[] = {{1000, 1, 0x03}, {2000, 1, 0x33}, {500, 1, 0x33}, {3000, -20, 0x33}, {1000, 1, 0x13},
                 {0, -20, 0x13}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.nResult, conn.SetKinetorUpdateRate(c.nRate)) << c.nRate;
        EXPECT_EQ(c.ucControl, CardState().ucControl) << c.nRate;
    }
    EXPECT_EQ(1000UL, conn.GetUpdateRate());
}

TEST_F(PCIConnectionTest, AwaitReturnsOncePerTickAtTheSelectedRate)
{
    CPCIConnection conn(0);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    conn.Await();
    EXPECT_EQ(0x10, CardState().ucControl & 0x10);
    EXPECT_TRUE(Record().bInterruptEnabled);
    for (ULONG nRate : {1000UL, 2000UL}) {
        ASSERT_EQ(1, conn.SetKinetorUpdateRate(nRate));
        conn.Await();  // aligns on the new rate
        for (int n = 0; n < 3; n++) {
            uint64_t nTicks = SimTickCount();
            int64_t nBefore = SimNowNs();
            conn.Await();
            EXPECT_EQ(nTicks + 1, SimTickCount()) << nRate;
            EXPECT_EQ(1000000000LL / (int64_t)nRate, SimNowNs() - nBefore) << nRate;
        }
    }
    // Lost ticks delay the wait, they do not end it.
    SimLoseTicks(5);
    uint64_t nTicks = SimTickCount();
    conn.Await();
    EXPECT_EQ(nTicks + 6, SimTickCount());
    // Neither does a signal meant for someone else.
    SimFailRequestWith("poll", 2, EINTR);
    nTicks = SimTickCount();
    conn.Await();
    EXPECT_EQ(nTicks + 1, SimTickCount());
}

TEST_F(PCIConnectionTest, GivingUpAChannelStopsItsArmAndTheLastUserTheCard)
{
    CPCIConnection conn0(0);
    CPCIConnection* pConn1 = new CPCIConnection(0);
    ASSERT_EQ(1, conn0.AllocateConnection(0));
    ASSERT_EQ(1, pConn1->AllocateConnection(1));
    USHORT ausWords[3] = {0x9000, 0x7000, 0xA000};
    for (CPCIConnection* p : {&conn0, pConn1}) {
        ASSERT_EQ(1, p->EnableBaseAmplifiers(TRUE));
        ASSERT_EQ(1, p->WriteBaseTorques(ausWords));
    }
    conn0.Await();

    // Dropped without DeleteConnection: its channel is still given back.
    delete pConn1;
    SIM_PCI_STATE state = CardState();
    EXPECT_EQ(0x12, state.ucControl);
    EXPECT_EQ(0x900, state.anDAC[0]);
    for (int i = 3; i < 6; i++)
        EXPECT_EQ(0x800, state.anDAC[i]) << i;
    EXPECT_TRUE(m_pArm0->GetAmplifiersEnabled());
    EXPECT_FALSE(m_pArm1->GetAmplifiersEnabled());
    EXPECT_EQ(1, state.nOpenDescriptors);
    EXPECT_FALSE(Record().bDev1InUse);

    EXPECT_EQ(1, conn0.DeleteConnection());
    EXPECT_EQ(1, conn0.DeleteConnection());
    state = CardState();
    EXPECT_EQ(0x03, state.ucControl);
    EXPECT_EQ(0x800, state.anDAC[0]);
    EXPECT_EQ(0, state.nOpenDescriptors);
    EXPECT_FALSE(m_pArm0->GetAmplifiersEnabled());
    PCI_CARD card = Record();
    EXPECT_FALSE(card.bInUse);
    EXPECT_FALSE(card.bInterruptEnabled);
    SHORT asEncoders[3];
    EXPECT_EQ(-11, conn0.ReadBaseEncoders(asEncoders));
}

// The servo thread waits on the card and reads its arm while another thread drives the arm
// on the other channel through its own forwarding connection.
TEST_F(PCIConnectionTest, TwoChannelsFromTwoThreads)
{
    CIOConnection io0(3, 0);
    CIOConnection io1(3, 0);
    ASSERT_EQ(1, io0.AllocateConnection(0));
    ASSERT_EQ(1, io1.AllocateConnection(1));
    io0.Await();
    const uint64_t nStart = SimTickCount();
    const int kTicks = 200;
    int nFailures = 0;
    std::thread servo([&]() {
        SHORT asEncoders[3];
        for (int n = 0; n < kTicks; n++) {
            io0.Await();
            if (io0.ReadBaseEncoders(asEncoders) != 1 || io0.ReadDeviceFault() != 1)
                nFailures++;
        }
    });
    int nOtherFailures = 0;
    for (int n = 0; n < 100; n++) {
        USHORT ausWords[3] = {(USHORT)(0x8000 + 16 * n), 0x8000, 0x8000};
        if (io1.WriteBaseTorques(ausWords) != 1 || io1.EnableBaseAmplifiers(n % 2 == 0) != 1)
            nOtherFailures++;
    }
    servo.join();
    EXPECT_EQ(0, nFailures);
    EXPECT_EQ(0, nOtherFailures);
    EXPECT_EQ(nStart + kTicks, SimTickCount());
}

using PCIConnectionDeathTest = PCIConnectionTest;

TEST_F(PCIConnectionDeathTest, TickThatNeverComesOrAFailingWaitEndsTheProcess)
{
    CPCIConnection conn(0);
    ASSERT_EQ(1, conn.AllocateConnection(0));
    conn.Await();
    SimLoseTicks(-1);
    EXPECT_EXIT(conn.Await(), ::testing::ExitedWithCode(255), "^The PCI connection timed out, exiting\\.\\.\\.$");
    SimLoseTicks(0);
    SimFailRequest("poll", 1);
    EXPECT_EXIT(conn.Await(), ::testing::ExitedWithCode(255), "^A PCI connection error occurred: poll: : ");
}

}  // namespace
