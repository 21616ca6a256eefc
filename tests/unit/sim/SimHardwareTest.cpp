// The simulated hardware seen from below the transports: its option list, the parallel
// port's register map and data-line direction, the lockstep clock, and the arms it derives
// from the configurations.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <linux/parport.h>
#include <linux/ppdev.h>

#include <string>

#include <gtest/gtest.h>

#include "config/KinetorDevice.h"
#include "hal/DeviceNodes.h"
#include "platform/TimeSample.h"
#include "sim/SimArm.h"
#include "sim/SimDeviceNodes.h"
#include "sim/SimEPPPort.h"
#include "sim/SimHardware.h"
#include "sim/SimOptions.h"
#include "sim/SimPCICard.h"
#include "sim/SimTestInterface.h"

namespace {

TEST(SimOptionsTest, ParsesTheOptionList)
{
    SIM_OPTIONS options;
    char szBad[16];
    struct {
        const char* pszText;
        BOOLEAN bOk;
        SIM_PACE nPace;
        SIM_HAND_MODE nHand;
    } cases[] = {
        {"1", TRUE, SIM_PACE_REALTIME, SIM_HAND_HOLD},
        {"", TRUE, SIM_PACE_REALTIME, SIM_HAND_HOLD},
        {nullptr, TRUE, SIM_PACE_REALTIME, SIM_HAND_HOLD},
        {"pace=lockstep", TRUE, SIM_PACE_LOCKSTEP, SIM_HAND_HOLD},
        {"pace=lockstep,hand=circle", TRUE, SIM_PACE_LOCKSTEP, SIM_HAND_CIRCLE},
        {" hand=free , pace=realtime ,", TRUE, SIM_PACE_REALTIME, SIM_HAND_FREE},
        {"1,hand=hold,,pace=lockstep", TRUE, SIM_PACE_LOCKSTEP, SIM_HAND_HOLD},
        {"pace=fast,hand=free", FALSE, SIM_PACE_REALTIME, SIM_HAND_FREE},
        {"PACE=lockstep", FALSE, SIM_PACE_REALTIME, SIM_HAND_HOLD},
        {"hand=circle,2", FALSE, SIM_PACE_REALTIME, SIM_HAND_CIRCLE},
    };
    for (const auto& c : cases) {
        const char* pszName = c.pszText ? c.pszText : "(null)";
        EXPECT_EQ(c.bOk, SimParseOptions(c.pszText, &options, szBad, sizeof(szBad))) << pszName;
        EXPECT_EQ(c.nPace, options.nPace) << pszName;
        EXPECT_EQ(c.nHand, options.nHand) << pszName;
    }
    EXPECT_FALSE(SimParseOptions("hand=free, pace=whenever ,x", &options, szBad, sizeof(szBad)));
    EXPECT_STREQ("pace=whenever", szBad);
    // The item reported is cut to the buffer.
    EXPECT_FALSE(SimParseOptions("a-very-long-unknown-option", &options, szBad, 8));
    EXPECT_STREQ("a-very-", szBad);
    EXPECT_FALSE(SimParseOptions("1", nullptr, szBad, sizeof(szBad)));
}

TEST(SimOptionsTest, OnlyAValueThatAsksForItSwitchesTheSimulatorOn)
{
    const struct {
        const char* pszValue;
        BOOLEAN bSimulator;
    } cases[] = {
        {nullptr, FALSE}, {"", FALSE},      {" ", FALSE},        {"0", FALSE},
        {"off", FALSE},   {"OFF", FALSE},   {"oFf", FALSE},      {" off\t", FALSE},
        {"1", TRUE},      {"on", TRUE},     {"offset", TRUE},    {"pace=lockstep", TRUE},
        {"10", TRUE},     {"0ff", TRUE},    {"hand=free,pace=lockstep", TRUE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bSimulator, SimRequested(c.pszValue)) << (c.pszValue ? c.pszValue : "(null)");
}

// A fresh configuration and working directory per test, so that nothing else is read.
class SimHardwareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szConfig[] = "/tmp/simhw-config-XXXXXX";
        char szWork[] = "/tmp/simhw-work-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szConfig));
        ASSERT_NE(nullptr, mkdtemp(szWork));
        m_strConfig = szConfig;
        m_strWork = szWork;
        const char* pszOld = getenv("KINETOR_CONFIG_FILES");
        m_bHadOld = pszOld != nullptr;
        if (pszOld)
            m_strOldConfig = pszOld;
        char szCwd[4096];
        ASSERT_NE(nullptr, getcwd(szCwd, sizeof(szCwd)));
        m_strOldCwd = szCwd;
        setenv("KINETOR_CONFIG_FILES", szConfig, 1);
        ASSERT_EQ(0, chdir(szWork));
        SimActivate("pace=lockstep");
        SimReset();
        m_pNodes = &SimDeviceNodes();
    }

    void TearDown() override
    {
        if (m_fd >= 0)
            m_pNodes->Close(m_fd);
        SimReset();
        SimDeactivate();
        for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
            std::string strFile = m_strConfig + "/Kinetor" + std::to_string(i) + ".ini";
            unlink(strFile.c_str());
        }
        if (chdir(m_strOldCwd.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << m_strOldCwd;
        rmdir(m_strWork.c_str());
        rmdir(m_strConfig.c_str());
        if (m_bHadOld)
            setenv("KINETOR_CONFIG_FILES", m_strOldConfig.c_str(), 1);
        else
            unsetenv("KINETOR_CONFIG_FILES");
    }

    static CKinetorDevice Config(int nIndex, ULONG nModel, ULONG nCard, ULONG nUnit, ULONG nChannelSelect)
    {
        CKinetorDevice config;
        snprintf(config.m_szName, sizeof(config.m_szName), "device %d", nIndex);
        config.m_nIndex = nIndex;
        config.m_nModelType = nModel;
        config.m_nCardType = nCard;
        config.m_nChannelSelect = nChannelSelect;
        config.m_nEPPDevice = config.m_nPCIDevice = config.m_nISADevice = config.m_nVMEDevice = nUnit;
        return config;
    }

    void OpenPort()
    {
        m_fd = m_pNodes->Open("/dev/kinepp", O_RDWR);
        ASSERT_GE(m_fd, 0);
        ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLAIM, nullptr));
    }

    void SetMode(int nMode) { ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPSETMODE, &nMode)); }
    void WriteAddress(UCHAR uc)
    {
        SetMode(IEEE1284_MODE_EPP | IEEE1284_ADDR);
        ASSERT_EQ(1, m_pNodes->Write(m_fd, &uc, 1));
    }
    void WriteData(const UCHAR* puc, size_t n)
    {
        SetMode(IEEE1284_MODE_EPP);
        ASSERT_EQ((ssize_t)n, m_pNodes->Write(m_fd, puc, n));
    }
    void ReadData(UCHAR* puc, size_t n, bool bReverse)
    {
        int nDir = bReverse ? 1 : 0;
        ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPDATADIR, &nDir));
        SetMode(IEEE1284_MODE_EPP);
        ASSERT_EQ((ssize_t)n, m_pNodes->Read(m_fd, puc, n));
        nDir = 0;
        ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPDATADIR, &nDir));
    }
    static USHORT Word(const UCHAR* p, int nOffset) { return (USHORT)(p[nOffset] | (p[nOffset + 1] << 8)); }

    CSimDeviceNodes* m_pNodes = nullptr;
    int m_fd = -1;
    std::string m_strConfig;
    std::string m_strWork;
    std::string m_strOldConfig;
    std::string m_strOldCwd;
    bool m_bHadOld = false;
};

TEST_F(SimHardwareTest, RegisterMapAndDirectionSwitch)
{
    CKinetorDevice config = Config(0, KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1, 2);
    CSimArm* pArm = SimAttachArm(config, 0);
    ASSERT_NE(nullptr, pArm);
    double adAngles[SIM_ARM_AXES] = {0.25, -0.15, 0.35, 0, 0, 0};
    pArm->SetJointAngles(adAngles);
    OpenPort();

    // Output block at 16..23: offset-binary words inverted to 12 bits by the host.
    UCHAR aucOut[8] = {0xC1, 0x07, 0xFF, 0x0F, 0x00, 0x00, 0xC8, 0x2A};
    WriteAddress(16);
    WriteData(aucOut, sizeof(aucOut));
    EXPECT_EQ(((4095L - 0x7C1) << 4) - 32768, pArm->GetMotorDAC(0));
    EXPECT_EQ(-32768L, pArm->GetMotorDAC(1));
    EXPECT_EQ(32752L, pArm->GetMotorDAC(2));
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    EXPECT_EQ(0x7C1, SimGetEPPDACWord(0));

    // With the lines still driven by the host, a read sees the host's last byte.
    UCHAR aucIn[16];
    WriteAddress(0);
    ReadData(aucIn, sizeof(aucIn), false);
    for (UCHAR uc : aucIn)
        EXPECT_EQ(0, uc);
    // Turned round, the input block comes through in wire order.
    WriteAddress(0);
    ReadData(aucIn, sizeof(aucIn), true);
    EXPECT_EQ(pArm->GetEncoderCounter(1), Word(aucIn, 0));
    EXPECT_EQ(pArm->GetEncoderCounter(2), Word(aucIn, 2));
    EXPECT_EQ(pArm->GetEncoderCounter(0), Word(aucIn, 4));
    EXPECT_NE(0, Word(aucIn, 4));
    EXPECT_EQ(0x2A, aucIn[14]);
    EXPECT_EQ(0x40, aucIn[13] & 0x60);  // watchdog satisfied, no fault
    EXPECT_EQ(pArm->GetHardwareRevNum(), aucIn[15] & 0x0F);

    // The echo register alone, and the pointer advancing into the output registers.
    UCHAR aucEcho[3];
    WriteAddress(14);
    ReadData(aucEcho, sizeof(aucEcho), true);
    EXPECT_EQ(0x2A, aucEcho[0]);
    EXPECT_EQ(0xC1, aucEcho[2]);

    // Nothing is chained behind the first module: the bus floats.
    UCHAR ucFloat = 0;
    WriteAddress(24);
    ReadData(&ucFloat, 1, true);
    EXPECT_EQ(0xFF, ucFloat);

    // Encoder reset bit: counters read 0 while it is held. The enable line falls with it;
    // the timeout circuit keeps the amplifiers on for its hold time and the first tick
    // after that finds them off.
    aucOut[6] = 0x10;
    WriteAddress(16);
    WriteData(aucOut, sizeof(aucOut));
    EXPECT_EQ(0, pArm->GetEncoderCounter(0));
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    SimAdvance(SIM_EPP_AMP_HOLD_NS + 1000000LL);
    EXPECT_FALSE(pArm->GetAmplifiersEnabled());
    EXPECT_EQ(0, pArm->GetEncoderCounter(0));
}

TEST_F(SimHardwareTest, AmplifierTimeoutCircuitBridgesTheWatchdogPulse)
{
    CKinetorDevice config = Config(0, KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1, 2);
    ASSERT_NE(0u, config.m_nTimeoutCircuit);
    CSimArm* pArm = SimAttachArm(config, 0);
    ASSERT_NE(nullptr, pArm);
    OpenPort();
    // Zero torque, timer flags off (ticks stay at 1 ms), a fresh watchdog value per write.
    UCHAR aucOut[8] = {0xFF, 0x07, 0xFF, 0x07, 0xFF, 0x07, 0x00, 0x01};
    auto write = [&](bool bLineHigh) {
        aucOut[6] = bLineHigh ? 0x08 : 0x00;
        aucOut[7]++;
        WriteAddress(16);
        WriteData(aucOut, sizeof(aucOut));
    };
    EXPECT_FALSE(pArm->GetAmplifiersEnabled());

    // Pulsed once per 1 ms tick, as the library does with every force command: on at every
    // write and at every tick in between, over a hundred ticks.
    int nWrites = 0;
    int nOffAtWrite = 0;
    int nOffAtTick = 0;
    for (int n = 0; n < 100; n++) {
        write(n % 2 == 0);
        nWrites++;
        if (!pArm->GetAmplifiersEnabled())
            nOffAtWrite++;
        uint64_t nTicks = SimTickCount();
        // Two register requests of 25 us each went to the write; the rest of the tick.
        SimAdvance(1000000LL - 2 * 25000LL);
        ASSERT_EQ(nTicks + 1, SimTickCount()) << n;
        if (!pArm->GetAmplifiersEnabled())
            nOffAtTick++;
    }
    EXPECT_EQ(100, nWrites);
    EXPECT_EQ(0, nOffAtWrite);
    EXPECT_EQ(0, nOffAtTick);

    // Held low (the last pulse above left it high): the fall is at the write. Put it
    // 0.2 ms after a tick: the next ticks come 0.8, 1.8, 2.8 ms later, and the hold of 2.5 ms
    // has run out only at the third.
    write(true);
    int64_t nPhase = SimNowNs() % 1000000LL;
    SimAdvance(1000000LL - nPhase + 200000LL - 2 * 25000LL);
    write(false);
    int64_t nFall = SimNowNs();
    ASSERT_EQ(200000LL, nFall % 1000000LL);
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    SimAdvance(800000LL);  // first tick, 0.8 ms
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    SimAdvance(1000000LL);  // 1.8 ms
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    SimAdvance(650000LL);  // 2.45 ms: no tick since, and not yet run out either
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    SimAdvance(350000LL);  // third tick, 2.8 ms
    EXPECT_EQ(2800000LL, SimNowNs() - nFall);
    EXPECT_FALSE(pArm->GetAmplifiersEnabled());
    SimAdvance(10000000LL);
    EXPECT_FALSE(pArm->GetAmplifiersEnabled());

    // A fall just before a tick: ticks 0.1, 1.1, 2.1 ms later keep the amplifiers on; the
    // tick at 3.1 ms finds the hold run out.
    write(true);
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    nPhase = SimNowNs() % 1000000LL;
    SimAdvance(1000000LL - nPhase + 900000LL - 2 * 25000LL);
    write(false);
    nFall = SimNowNs();
    ASSERT_EQ(900000LL, nFall % 1000000LL);
    SimAdvance(2100000LL);
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    SimAdvance(1000000LL);
    EXPECT_FALSE(pArm->GetAmplifiersEnabled());

    // Held high, with the watchdog fed: on, tick after tick, without any edge.
    write(true);
    for (int n = 0; n < 50; n++) {
        SimAdvance(1000000LL);
        EXPECT_TRUE(pArm->GetAmplifiersEnabled()) << n;
        if (n % 10 == 9)
            write(true);
    }
    // The line alone is not enough: once the watchdog value stops changing for its window,
    // a line held high no longer powers them either.
    SimAdvance(SIM_EPP_WATCHDOG_WINDOW_NS + 1000000LL);
    EXPECT_FALSE(pArm->GetAmplifiersEnabled());
}

TEST_F(SimHardwareTest, BoardWithoutTimeoutCircuitSwitchesAmplifiersByLevel)
{
    CKinetorDevice config = Config(0, KINETOR_MODEL_BRAVIS, KINETOR_CARD_EPP, 1, 2);
    config.m_nTimeoutCircuit = 0;
    CSimArm* pArm = SimAttachArm(config, 0);
    ASSERT_NE(nullptr, pArm);
    OpenPort();
    UCHAR aucOut[8] = {0xFF, 0x07, 0xFF, 0x07, 0xFF, 0x07, 0x08, 0x01};
    WriteAddress(16);
    WriteData(aucOut, sizeof(aucOut));
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    SimAdvance(1000000LL);
    EXPECT_TRUE(pArm->GetAmplifiersEnabled());
    // Low: off at once, and a pulse once per tick powers them only while it is high.
    aucOut[6] = 0x00;
    aucOut[7]++;
    WriteAddress(16);
    WriteData(aucOut, sizeof(aucOut));
    EXPECT_FALSE(pArm->GetAmplifiersEnabled());
    int nOn = 0;
    for (int n = 0; n < 10; n++) {
        aucOut[6] = (n % 2 == 0) ? 0x08 : 0x00;
        aucOut[7]++;
        WriteAddress(16);
        WriteData(aucOut, sizeof(aucOut));
        SimAdvance(1000000LL - 2 * 25000LL);
        if (pArm->GetAmplifiersEnabled())
            nOn++;
    }
    EXPECT_EQ(5, nOn);
}

TEST_F(SimHardwareTest, PortRequestsNeedAClaimAndUnknownRequestsFail)
{
    CKinetorDevice config = Config(0, KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1, 2);
    SimAttachArm(config, 0);
    m_fd = m_pNodes->Open("/dev/kinepp", O_RDWR);
    ASSERT_GE(m_fd, 0);
    UCHAR uc = 0;
    EXPECT_EQ(-1, m_pNodes->Read(m_fd, &uc, 1));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(-1, m_pNodes->Ioctl(m_fd, PPRSTATUS, &uc));
    EXPECT_EQ(ENOTTY, errno);
    EXPECT_EQ(-1, m_pNodes->Ioctl(m_fd + 1, PPCLAIM, nullptr));
    EXPECT_EQ(EBADF, errno);
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLAIM, nullptr));
    struct ppdev_frob_struct frob = {0x10, 0x10};
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPFCONTROL, &frob));
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPRCONTROL, &uc));
    EXPECT_EQ(0x10, uc);
    SimFailRequest("PPRCONTROL", 1);
    EXPECT_EQ(-1, m_pNodes->Ioctl(m_fd, PPRCONTROL, &uc));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(0, m_pNodes->Ioctl(m_fd, PPRCONTROL, &uc));
    // Closing the last descriptor gives the port back.
    EXPECT_EQ(0, m_pNodes->Close(m_fd));
    m_fd = -1;
    SIM_EPP_STATE state;
    SimGetEPPState(&state);
    EXPECT_FALSE(state.bClaimed);
    EXPECT_EQ(0, state.nOpenDescriptors);
}

TEST_F(SimHardwareTest, ModesFileReadsLikeAFile)
{
    SimSetEPPModesText("PCSPP,EPP\n");
    int fd = m_pNodes->Open("/dev/kinepp_modes", O_RDONLY);
    ASSERT_GE(fd, 0);
    char sz[8];
    EXPECT_EQ(7, m_pNodes->Read(fd, sz, 7));
    EXPECT_EQ(3, m_pNodes->Read(fd, sz, 7));
    EXPECT_EQ(0, m_pNodes->Read(fd, sz, 7));
    EXPECT_EQ(0, m_pNodes->Close(fd));
    EXPECT_EQ(-1, m_pNodes->Open("/dev/kinepp_modes", O_RDWR));
    SimSetEPPModesText(nullptr);
    EXPECT_EQ(-1, m_pNodes->Open("/dev/kinepp_modes", O_RDONLY));
    EXPECT_EQ(-1, m_pNodes->Open("/dev/kinpci9", O_RDWR));
    EXPECT_FALSE(m_pNodes->Exists("/etc/passwd"));
}

TEST_F(SimHardwareTest, LockstepClockAdvancesByBusTimeAndTicks)
{
    CKinetorDevice config = Config(0, KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1, 2);
    CSimArm* pArm = SimAttachArm(config, 0);
    OpenPort();

    // The library's device clock reads simulated time.
    struct timespec ts;
    ReadDeviceClock(&ts);
    int64_t nStart = (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
    EXPECT_EQ(SimNowNs(), nStart);

    // Every register request costs its bus time.
    UCHAR uc = 0;
    WriteAddress(0);
    ReadData(&uc, 1, false);
    ReadDeviceClock(&ts);
    EXPECT_EQ(nStart + 2 * 25000, (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec);

    // Timer flags on and the interrupt enabled: each wait ends on the next tick and the
    // arm has moved on by exactly one tick.
    UCHAR aucOut[8] = {0xFF, 0x07, 0xFF, 0x07, 0xFF, 0x07, 0xC0, 0x01};
    WriteAddress(16);
    WriteData(aucOut, sizeof(aucOut));
    struct ppdev_frob_struct frob = {0x10, 0x10};
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPFCONTROL, &frob));
    int nCount = 0;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLRIRQ, &nCount));
    for (int n = 0; n < 3; n++) {
        double dArmTime = pArm->GetTime();
        uint64_t nTicks = SimTickCount();
        struct pollfd pfd = {m_fd, POLLIN, 0};
        ASSERT_EQ(1, m_pNodes->Poll(&pfd, 1, 1000));
        EXPECT_EQ(POLLIN, pfd.revents);
        EXPECT_EQ(nTicks + 1, SimTickCount());
        EXPECT_NEAR(dArmTime + 0.001, pArm->GetTime(), 1e-9);
        EXPECT_EQ(0, SimNowNs() % 1000000LL);
        ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLRIRQ, &nCount));
        EXPECT_EQ(1, nCount);
    }

    // The rate bit halves the period.
    aucOut[6] = 0xE0;
    WriteAddress(16);
    WriteData(aucOut, sizeof(aucOut));
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLRIRQ, &nCount));
    struct pollfd pfd = {m_fd, POLLIN, 0};
    ASSERT_EQ(1, m_pNodes->Poll(&pfd, 1, 1000));
    int64_t nFirst = SimNowNs();
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLRIRQ, &nCount));
    ASSERT_EQ(1, m_pNodes->Poll(&pfd, 1, 1000));
    EXPECT_EQ(500000LL, SimNowNs() - nFirst);

    // Lost ticks: the wait times out after its limit of simulated time.
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLRIRQ, &nCount));
    SimLoseTicks(-1);
    int64_t nBefore = SimNowNs();
    EXPECT_EQ(0, m_pNodes->Poll(&pfd, 1, 1000));
    EXPECT_EQ(1000000000LL, SimNowNs() - nBefore);
}

TEST_F(SimHardwareTest, ArmsComeFromTheConfigurations)
{
    // Files 0 and 2 name the same port and channel: one arm, with the model of file 0.
    CKinetorDevice a = Config(0, KINETOR_MODEL_ALTURA_T, KINETOR_CARD_EPP, 1, 2);
    CKinetorDevice b = Config(2, KINETOR_MODEL_BRAVIS, KINETOR_CARD_EPP, 1, 2);
    CKinetorDevice c = Config(3, KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1, 1);
    CKinetorDevice d = Config(5, KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 2, 0);
    ASSERT_TRUE(b.Write());
    ASSERT_TRUE(a.Write());
    ASSERT_TRUE(c.Write());
    ASSERT_TRUE(d.Write());
    SimDeriveArms();
    EXPECT_EQ(3u, CSimHardware::Instance().GetArmCount());
    CSimArm* pA = SimFindArm("device 0");
    ASSERT_NE(nullptr, pA);
    EXPECT_EQ(pA, SimFindArm("device 2"));
    EXPECT_EQ(pA, SimFindEPPArm(0, 0));
    EXPECT_EQ(KINETOR_MODEL_ALTURA_T, pA->GetModelType());
    CSimArm* pC = SimFindEPPArm(0, 1);
    ASSERT_NE(nullptr, pC);
    EXPECT_NE(pA, pC);
    EXPECT_EQ(pC, SimFindArm("device 3"));
    EXPECT_NE(nullptr, SimFindEPPArm(1, 0));
    EXPECT_EQ(nullptr, SimFindEPPArm(2, 0));

    // Deriving again keeps the arms that exist.
    SimDeriveArms();
    EXPECT_EQ(3u, CSimHardware::Instance().GetArmCount());
    EXPECT_EQ(pA, SimFindEPPArm(0, 0));

    // The port serves the unit of the lowest-numbered parallel-port configuration, with the
    // channel-1 device chained behind the channel-0 one.
    OpenPort();
    UCHAR aucOut[8] = {0x00, 0x08, 0xFF, 0x07, 0xFF, 0x07, 0x00, 0x00};
    WriteAddress(16 + 24);
    WriteData(aucOut, sizeof(aucOut));
    EXPECT_EQ(((4095L - 0x800) << 4) - 32768, pC->GetMotorDAC(0));
    EXPECT_EQ(0L, pA->GetMotorDAC(0));
}

TEST_F(SimHardwareTest, RealtimePaceTicksOnTheWallClock)
{
    SIM_OPTIONS options;
    SimParseOptions("pace=realtime", &options, nullptr, 0);
    SimSetOptions(options);
    CKinetorDevice config = Config(0, KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1, 2);
    CSimArm* pArm = SimAttachArm(config, 0);
    OpenPort();
    UCHAR aucOut[8] = {0xFF, 0x07, 0xFF, 0x07, 0xFF, 0x07, 0xC0, 0x01};
    WriteAddress(16);
    WriteData(aucOut, sizeof(aucOut));
    struct ppdev_frob_struct frob = {0x10, 0x10};
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPFCONTROL, &frob));
    int nCount = 0;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLRIRQ, &nCount));
    double dArmTime = pArm->GetTime();
    uint64_t nTicks = SimTickCount();
    struct pollfd pfd = {m_fd, POLLIN, 0};
    ASSERT_EQ(1, m_pNodes->Poll(&pfd, 1, 1000));
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, PPCLRIRQ, &nCount));
    EXPECT_GE(nCount, 1);
    EXPECT_GT(SimTickCount(), nTicks);
    EXPECT_GT(pArm->GetTime(), dArmTime);
}

TEST_F(SimHardwareTest, PCICardServesItsArmsThroughTheDriverRequests)
{
    EXPECT_EQ(-1, m_pNodes->Open("/dev/kinpci0", O_RDWR));
    EXPECT_EQ(ENOENT, errno);
    CSimArm* pFirst = SimAttachArm(Config(0, KINETOR_MODEL_ALTURA_A, KINETOR_CARD_PCI, 1, 0), 0);
    CSimArm* pSecond = SimAttachArm(Config(1, KINETOR_MODEL_ALTURA_T, KINETOR_CARD_PCI, 1, 1), 1);
    ASSERT_EQ(pSecond, SimFindPCIArm(0, 1));
    m_fd = m_pNodes->Open("/dev/kinpci0", O_RDWR);
    ASSERT_GE(m_fd, 0);

    SIM_KINPCI_ARGS0 reg = {6, 0x03};
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_WRITE_REGISTER, &reg));
    EXPECT_FALSE(pFirst->GetAmplifiersEnabled());
    reg.value = 0x02;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_WRITE_REGISTER, &reg));
    EXPECT_TRUE(pFirst->GetAmplifiersEnabled());
    EXPECT_FALSE(pSecond->GetAmplifiersEnabled());

    // DACs take the 12-bit value uninverted; channel 1's base is on 3..5.
    SIM_KINPCI_ARGS1 dacs;
    memset(&dacs, 0, sizeof(dacs));
    dacs.count = 8;
    dacs.mask = 0x3F;
    uint32_t aValues[6] = {0x800, 0x900, 0x700, 0xFFF, 0x000, 0x800};
    memcpy(dacs.values, aValues, sizeof(aValues));
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_WRITE_DACS, &dacs));
    EXPECT_EQ(0, pFirst->GetMotorDAC(0));
    EXPECT_EQ(4096, pFirst->GetMotorDAC(1));
    EXPECT_EQ(-4096, pFirst->GetMotorDAC(2));
    EXPECT_EQ(32752, pSecond->GetMotorDAC(0));
    EXPECT_EQ(-32768, pSecond->GetMotorDAC(1));

    // Counters run opposite to the library's count.
    double adAngles[SIM_ARM_AXES] = {0.2, 0.3, -0.1, 0, 0, 0};
    pFirst->SetJointAngles(adAngles);
    SIM_KINPCI_ARGS1 counters;
    memset(&counters, 0, sizeof(counters));
    counters.count = 6;
    counters.mask = 0x07;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_READ_COUNTERS, &counters));
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(-(SHORT)pFirst->GetEncoderCounter(i), (SHORT)counters.values[i]) << i;
        EXPECT_EQ(0u, counters.values[3 + i]);
    }
    EXPECT_NE(0u, counters.values[0]);
    reg.reg = 0;
    reg.value = 1;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_WRITE_REGISTER, &reg));
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_READ_COUNTERS, &counters));
    EXPECT_EQ(0u, counters.values[0]);

    // Status: faults and switches of both channels.
    pSecond->SetDeviceFault(true);
    pFirst->SetStylusSwitch(0, true);
    reg.reg = 6;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_READ_REGISTER, &reg));
    EXPECT_EQ(0x04u | 0x08u, reg.value);

    // Ready once per tick while the timer runs; 2000 Hz halves the period.
    reg.value = 0x12;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_WRITE_REGISTER, &reg));
    struct pollfd pfd = {m_fd, POLLIN, 0};
    ASSERT_EQ(1, m_pNodes->Poll(&pfd, 1, 1000));
    int64_t nFirst = SimNowNs();
    ASSERT_EQ(1, m_pNodes->Poll(&pfd, 1, 1000));
    EXPECT_EQ(1000000LL, SimNowNs() - nFirst);
    reg.value = 0x32;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_WRITE_REGISTER, &reg));
    ASSERT_EQ(1, m_pNodes->Poll(&pfd, 1, 1000));
    nFirst = SimNowNs();
    ASSERT_EQ(1, m_pNodes->Poll(&pfd, 1, 1000));
    EXPECT_EQ(500000LL, SimNowNs() - nFirst);
    reg.value = 0x02;
    ASSERT_EQ(0, m_pNodes->Ioctl(m_fd, SIM_KINPCI_WRITE_REGISTER, &reg));
    EXPECT_EQ(0, m_pNodes->Poll(&pfd, 1, 1000));
    SIM_PCI_STATE state;
    ASSERT_TRUE(SimGetPCIState(0, &state));
    EXPECT_EQ(0x02, state.ucControl);
    EXPECT_EQ(0xFFF, state.anDAC[3]);
    EXPECT_EQ(1, state.nOpenDescriptors);
}

// The choice between real and simulated nodes is made once per process, so each case
// runs in a child process of its own.
void ExitWithChoice(const char* pszValue)
{
    OverrideDeviceNodes(nullptr);
    if (pszValue)
        setenv(KINETOR_SIMULATOR_ENV, pszValue, 1);
    else
        unsetenv(KINETOR_SIMULATOR_ENV);
    CDeviceNodes* pNodes = GetDeviceNodes();
    bool bSim = dynamic_cast<CSimDeviceNodes*>(pNodes) != nullptr && IsSimulatorActive();
    bool bLockstep = SimGetOptions().nPace == SIM_PACE_LOCKSTEP;
    fprintf(stderr, "[%s%s]", bSim ? "simulated" : "real", bLockstep ? ",lockstep" : "");
    fflush(stderr);
    _exit(GetDeviceNodes() == pNodes ? 0 : 1);
}

TEST(DeviceNodesChoiceDeathTest, ChosenFromTheEnvironment)
{
    EXPECT_EXIT(ExitWithChoice(nullptr), ::testing::ExitedWithCode(0), "\\[real\\]");
    EXPECT_EXIT(ExitWithChoice(""), ::testing::ExitedWithCode(0), "\\[real\\]");
    EXPECT_EXIT(ExitWithChoice("0"), ::testing::ExitedWithCode(0), "\\[real\\]");
    EXPECT_EXIT(ExitWithChoice("Off"), ::testing::ExitedWithCode(0), "\\[real\\]");
    EXPECT_EXIT(ExitWithChoice("1"), ::testing::ExitedWithCode(0), "\\[simulated\\]");
    EXPECT_EXIT(ExitWithChoice("hand=free,pace=lockstep"), ::testing::ExitedWithCode(0),
                "\\[simulated,lockstep\\]");
    EXPECT_EXIT(ExitWithChoice("pace=warp"), ::testing::ExitedWithCode(0),
                "KINETOR_SIMULATOR: option \"pace=warp\" not understood, ignored\n\\[simulated\\]");
}

}  // namespace
