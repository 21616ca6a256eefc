// Arms on simulated PCI cards end to end: two arms sharing the channels of one card, an arm
// on a second card, a 6-DOF arm with its gimbal on the card, lost ticks, device faults, and
// the servo loop that loses its tick.
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "KinetorServo.h"
#include "SimFixture.h"
#include "transport/pci/PCIConnection.h"

namespace {

// A device fault on the card reads as the device not reporting its watchdog as running.
const int kCodeCardFault = -4;
// Consecutive faulty readings the library holds back before reporting one.
const int kFaultFilterLength = 16;

SIM_TEST_CONFIG CardConfig(int nModelType, int nChannel, const char* pszName, int nIndex, int nCard)
{
    SIM_TEST_CONFIG c = SimTestConfig(nModelType, nChannel, pszName, nIndex);
    c.pszCardType = "PCI";
    c.ulPortAddress = 0;
    c.nUnit = nCard;
    return c;
}

class PCITransportTest : public CSimFixture {
protected:
    void TearDown() override
    {
        // A device that failed to close must not leave its card open for the next test. The
        // cards are forgotten while the simulator still serves their nodes; closing what is
        // still open afterwards finds nothing left to do on them.
        ResetPCIProcessState();
        CSimFixture::TearDown();
    }

    // Writes the configurations, starts the simulator and opens each; false on any failure.
    bool OpenAll(const SIM_TEST_CONFIG* pConfigs, int nCount, int* pnHandles, CSimArm** ppArms)
    {
        for (int i = 0; i < nCount; i++) {
            if (!WriteConfig(pConfigs[i]))
                return false;
        }
        StartSimulator("free");
        for (int i = 0; i < nCount; i++) {
            pnHandles[i] = OpenDevice(pConfigs[i].szName);
            ppArms[i] = Arm();
            if (pnHandles[i] < 0 || ppArms[i] == nullptr) {
                ADD_FAILURE() << pConfigs[i].szName << ": " << pnHandles[i];
                return false;
            }
        }
        return true;
    }

    // One servo tick of several devices, paced by the first: every device updated, then the
    // force of each (null: none) sent, then the wait.
    static int Tick(const int* pnHandles, int nCount, const float (*pafForces)[3] = nullptr)
    {
        for (int i = 0; i < nCount; i++) {
            int r = update_kinetor(pnHandles[i]);
            if (r != 0)
                return r;
        }
        for (int i = 0; pafForces != nullptr && i < nCount; i++) {
            if (pafForces[i][0] == 0.0f && pafForces[i][1] == 0.0f && pafForces[i][2] == 0.0f)
                continue;
            int r = send_kinetor_force(pnHandles[i], const_cast<float*>(pafForces[i]));
            if (r != 0)
                return r;
        }
        AwaitTick(pnHandles[0]);
        return 0;
    }

    static void JointAngles(CSimArm* pArm, double* pdQ)
    {
        for (int i = 0; i < 3; i++)
            pdQ[i] = pArm->GetJointAngle(i);
    }

    static double Moved(CSimArm* pArm, const double* pdBefore)
    {
        double dMax = 0.0;
        for (int i = 0; i < 3; i++)
            dMax = fmax(dMax, fabs(pArm->GetJointAngle(i) - pdBefore[i]));
        return dMax;
    }
};

TEST_F(PCITransportTest, TwoArmsOnTheChannelsOfOneCardEachMoveOnlyTheirOwn)
{
    const SIM_TEST_CONFIG configs[2] = {CardConfig(1, 0, "card left", 0, 1), CardConfig(2, 1, "card right", 1, 1)};
    int anHandles[2];
    CSimArm* apArms[2];
    ASSERT_TRUE(OpenAll(configs, 2, anHandles, apArms));
    ASSERT_NE(apArms[0], apArms[1]);
    EXPECT_EQ(1, apArms[0]->GetModelType());
    EXPECT_EQ(2, apArms[1]->GetModelType());
    SIM_PCI_STATE state;
    ASSERT_TRUE(SimGetPCIState(0, &state));
    EXPECT_EQ(1, state.nOpenDescriptors);

    for (int n = 0; n < 3; n++)
        ASSERT_EQ(0, Tick(anHandles, 2));
    ASSERT_EQ(0, kinetor_reset(anHandles[0]));
    ASSERT_EQ(0, kinetor_reset(anHandles[1]));
    // Each arm reads its own pose from its own counters.
    double adQ[6] = {0.3, 0.2, -0.25, 0, 0, 0};
    for (int i = 0; i < 3; i++)
        adQ[i] += apArms[1]->GetJointAngle(i);
    apArms[1]->SetJointAngles(adQ);
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(0, Tick(anHandles, 2));
    for (int k = 0; k < 2; k++) {
        float afQ[6];
        ASSERT_EQ(0, get_kinetor_joint_angles(anHandles[k], afQ));
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(apArms[k]->GetJointAngle(i), afQ[i], 1e-3) << k << " joint " << i;
    }

    // Forces on one arm at a time: it moves, the other keeps still with its motors at zero,
    // and homing the other arm meanwhile leaves the amplifiers of the pushed one on.
    const float afPush[3] = {0.3f, 0.2f, -0.2f};
    for (int k = 0; k < 2; k++) {
        SCOPED_TRACE(k == 0 ? "left pushed" : "right pushed");
        const int nOther = 1 - k;
        ASSERT_EQ(0, enable_kinetor_ramp_forces(anHandles[k], 0));
        ASSERT_EQ(0, enable_kinetor_forces(anHandles[k]));
        ASSERT_EQ(0, kinetor_reset(anHandles[nOther]));
        ASSERT_TRUE(SimGetPCIState(0, &state));
        EXPECT_EQ(0, state.ucControl & (k == 0 ? 0x01 : 0x02));
        EXPECT_TRUE(apArms[k]->GetAmplifiersEnabled());
        EXPECT_FALSE(apArms[nOther]->GetAmplifiersEnabled());
        // Both at rest where they are: what moves from here was pushed.
        for (CSimArm* pArm : apArms) {
            double adRest[6];
            for (int i = 0; i < 6; i++)
                adRest[i] = pArm->GetJointAngle(i);
            pArm->SetJointAngles(adRest);
        }
        double adPushed[3], adStill[3];
        JointAngles(apArms[k], adPushed);
        JointAngles(apArms[nOther], adStill);
        float afForces[2][3] = {{0, 0, 0}, {0, 0, 0}};
        memcpy(afForces[k], afPush, sizeof(afPush));
        for (int n = 0; n < 50; n++)
            ASSERT_EQ(0, Tick(anHandles, 2, afForces)) << n;
        EXPECT_TRUE(apArms[k]->GetAmplifiersEnabled());
        EXPECT_GT(Moved(apArms[k], adPushed), 0.01);
        EXPECT_EQ(0.0, Moved(apArms[nOther], adStill));
        for (int m = 0; m < 3; m++) {
            EXPECT_NE(0, apArms[k]->GetMotorDAC(m)) << m;
            EXPECT_EQ(0, apArms[nOther]->GetMotorDAC(m)) << m;
        }
        ASSERT_EQ(0, disable_kinetor_forces(anHandles[k]));
        OutlastAmplifierHold();
        EXPECT_FALSE(apArms[k]->GetAmplifiersEnabled());
    }

    // Closing one arm leaves the other running on the card.
    EXPECT_EQ(0, CloseDevice(anHandles[1]));
    ASSERT_TRUE(SimGetPCIState(0, &state));
    EXPECT_EQ(1, state.nOpenDescriptors);
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(0, Tick(anHandles, 1));
    EXPECT_EQ(0, CloseDevice(anHandles[0]));
    ASSERT_TRUE(SimGetPCIState(0, &state));
    EXPECT_EQ(0, state.nOpenDescriptors);
    EXPECT_FALSE(state.bTimerRunning);
}

TEST_F(PCITransportTest, SixAxisArmOnASecondCardWithItsGimbalOnTheCard)
{
    const SIM_TEST_CONFIG configs[2] = {CardConfig(1, 0, "first card", 0, 1), CardConfig(4, 2, "second card", 1, 2)};
    int anHandles[2];
    CSimArm* apArms[2];
    ASSERT_TRUE(OpenAll(configs, 2, anHandles, apArms));
    SIM_PCI_STATE state;
    ASSERT_TRUE(SimGetPCIState(1, &state));
    EXPECT_EQ(1, state.nOpenDescriptors);
    EXPECT_EQ(4, apArms[1]->GetModelType());

    for (int n = 0; n < 3; n++)
        ASSERT_EQ(0, Tick(anHandles, 2));
    ASSERT_EQ(0, kinetor_reset(anHandles[1]));
    double adQ[6];
    for (int i = 0; i < 6; i++)
        adQ[i] = apArms[1]->GetJointAngle(i);
    const double adDelta[6] = {0.2, -0.1, 0.15, 0.4, -0.3, 0.5};
    for (int i = 0; i < 6; i++)
        adQ[i] += adDelta[i];
    apArms[1]->SetJointAngles(adQ);
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(0, Tick(anHandles, 2));
    float afQ[6];
    ASSERT_EQ(0, get_kinetor_joint_angles(anHandles[1], afQ));
    for (int i = 0; i < 6; i++)
        EXPECT_NEAR(apArms[1]->GetJointAngle(i), afQ[i], 2e-3) << "joint " << i;

    // Its forces need both amplifier groups of its card, and nothing of the first card.
    ASSERT_EQ(0, enable_kinetor_forces(anHandles[1]));
    ASSERT_TRUE(SimGetPCIState(1, &state));
    EXPECT_TRUE(state.abAmplifierGroupOn[0]);
    EXPECT_TRUE(state.abAmplifierGroupOn[1]);
    EXPECT_TRUE(apArms[1]->GetAmplifiersEnabled());
    ASSERT_TRUE(SimGetPCIState(0, &state));
    EXPECT_FALSE(state.abAmplifierGroupOn[0]);
    EXPECT_FALSE(apArms[0]->GetAmplifiersEnabled());
    EXPECT_EQ(0, disable_kinetor_forces(anHandles[1]));
}

TEST_F(PCITransportTest, LostTicksAndDeviceFaultsStayWithTheirArm)
{
    const SIM_TEST_CONFIG configs[2] = {CardConfig(1, 0, "card left", 0, 1), CardConfig(2, 1, "card right", 1, 1)};
    int anHandles[2];
    CSimArm* apArms[2];
    ASSERT_TRUE(OpenAll(configs, 2, anHandles, apArms));
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(0, Tick(anHandles, 2));

    // Lost ticks delay the tick wait; the loop goes on when they come back.
    SimLoseTicks(40);
    uint64_t nTicks = SimTickCount();
    ASSERT_EQ(0, Tick(anHandles, 2));
    EXPECT_EQ(nTicks + 41, SimTickCount());
    ASSERT_EQ(0, Tick(anHandles, 2));

    apArms[1]->SetDeviceFault(true);
    for (int n = 1; n < kFaultFilterLength; n++) {
        ASSERT_EQ(0, Tick(anHandles, 2));
        EXPECT_EQ(kCodeCardFault, unfiltered_device_fault(anHandles[1])) << n;
        EXPECT_EQ(0, unfiltered_device_fault(anHandles[0])) << n;
        EXPECT_EQ(0, kinetor_status(anHandles[1])) << n;
    }
    ASSERT_EQ(0, Tick(anHandles, 2));
    EXPECT_EQ(kCodeCardFault, kinetor_status(anHandles[1]));
    EXPECT_EQ(0, kinetor_status(anHandles[0]));
    apArms[1]->SetDeviceFault(false);
    ASSERT_EQ(0, Tick(anHandles, 2));
    EXPECT_EQ(0, kinetor_status(anHandles[1]));
}

class PCITransportDeathTest : public PCITransportTest {
protected:
    void SetUp() override
    {
        // The child runs in a fresh process of its own: the servo thread is not forked.
        m_strOldStyle = GTEST_FLAG_GET(death_test_style);
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        PCITransportTest::SetUp();
    }
    void TearDown() override
    {
        PCITransportTest::TearDown();
        GTEST_FLAG_SET(death_test_style, m_strOldStyle);
    }

private:
    std::string m_strOldStyle;
};

int UpdateInTick(void* pData)
{
    return update_kinetor(*static_cast<int*>(pData)) == 0 ? 0 : -1;
}

TEST_F(PCITransportDeathTest, ServoLoopWithoutTicksEndsTheProcess)
{
    int nHandle = OpenSimulatedArm(CardConfig(1, 0, "card arm", 0, 1));
    ASSERT_GE(nHandle, 0);
    const std::string strWork = WorkDir();
    const std::string strConfig = ConfigDir();
    EXPECT_EXIT(
        {
            // The child ends without its tear-down: it removes its scratch files itself.
            if (chdir("/") == 0) {
                unlink((strConfig + "/Kinetor0.ini").c_str());
                rmdir(strConfig.c_str());
                rmdir(strWork.c_str());
            }
            SimLoseTicks(-1);
            initOSExtender();
            startServoLoop(UpdateInTick, &nHandle);
            fprintf(stderr, "servo loop started without a tick\n");
            exit(0);
        },
        ::testing::ExitedWithCode(255), "^The PCI connection timed out, exiting\\.\\.\\.$");
}

}  // namespace
