// The black box end to end: each safety check tripped on the simulated arm writes the last
// ticks to "KinetorBlackBox(<name>)", once per trip, and the lines agree with what the
// simulated hardware really did: the DAC words it received, the pose of its joints, the
// fault the device reported and the simulated clock.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "SimFixture.h"

namespace {

const char kFile[] = "KinetorBlackBox(arm)";
const int kRingLength = 256;
const int kFaultFilterLength = 16;
const int kLinkLossMisses = 7;
const int kCodeLinkLost = -28;
const int64_t kTickNs = 1000000LL;

typedef struct _BOX_LINE {
    long long llTimeUs;
    double adPos[3];
    double adForce[3];
    long alDac[6];
    int nFault;
} BOX_LINE;

typedef struct _BOX_FILE {
    std::vector<std::string> astrHeader;  // the six lines before the ticks
    long long llTime;
    int nTicks;
    std::vector<BOX_LINE> aLines;
} BOX_FILE;

// Reads the file as a reader without the library would: header lines, then one tick a line.
bool ParseBox(const std::string& strText, BOX_FILE* pBox)
{
    std::istringstream in(strText);
    std::string strLine;
    pBox->astrHeader.clear();
    pBox->aLines.clear();
    for (int i = 0; i < 6; i++) {
        if (!std::getline(in, strLine))
            return false;
        pBox->astrHeader.push_back(strLine);
    }
    if (sscanf(pBox->astrHeader[3].c_str(), "time %lld", &pBox->llTime) != 1 ||
        sscanf(pBox->astrHeader[4].c_str(), "ticks %d", &pBox->nTicks) != 1)
        return false;
    while (std::getline(in, strLine)) {
        BOX_LINE l;
        char cExtra;
        if (sscanf(strLine.c_str(), "%lld %lf %lf %lf %lf %lf %lf %ld %ld %ld %ld %ld %ld %d %c", &l.llTimeUs,
                   &l.adPos[0], &l.adPos[1], &l.adPos[2], &l.adForce[0], &l.adForce[1], &l.adForce[2], &l.alDac[0],
                   &l.alDac[1], &l.alDac[2], &l.alDac[3], &l.alDac[4], &l.alDac[5], &l.nFault, &cExtra) != 14)
            return false;
        pBox->aLines.push_back(l);
    }
    return (int)pBox->aLines.size() == pBox->nTicks;
}

// The 12-bit word a signed DAC count becomes on the parallel port (offset binary, top twelve
// bits, inverted), as the simulated port receives it.
int WireWord(long lDac)
{
    if (lDac > 32767)
        lDac = 32767;
    if (lDac < -32768)
        lDac = -32768;
    return 4095 - (int)((unsigned int)(lDac + 32768) >> 4);
}

// What the test saw of one tick on the hardware side.
typedef struct _TRUTH {
    long long llTimeUs;   // simulated clock at the update, us
    double adTip[3];      // tip from the arm's true joint angles
    int anWords[3];       // words the port received once the tick's command was sent
    int nFault;
} TRUTH;

class BlackBoxTest : public CSimFixture {
protected:
    void OpenHomedAltura(const char* pszHand)
    {
        m_config = SimTestConfig(1, 2);
        ASSERT_GE(OpenSimulatedArm(m_config, pszHand), 0);
        ASSERT_EQ(0, HomeAltura());
        // Enough ticks to fill the ring before the test begins.
        ASSERT_EQ(0, RunTicks(kRingLength));
        ASSERT_EQ(0, enable_kinetor_ramp_forces(Handle(), 0));
        ASSERT_EQ(0, enable_kinetor_forces(Handle()));
    }

    // The hardware's side of the tick just updated; the words are filled in after the command.
    TRUTH Observe(long long llTimeUs)
    {
        TRUTH t;
        t.llTimeUs = llTimeUs;
        double adQ[3];
        for (int i = 0; i < 3; i++)
            adQ[i] = Arm()->GetJointAngle(i);
        SimTestTipPosition(SimTestLinkMm(m_config.lL1), SimTestLinkMm(m_config.lL2), adQ, nullptr, t.adTip);
        t.nFault = unfiltered_device_fault(Handle());
        return t;
    }

    static void Words(TRUTH& t)
    {
        for (int i = 0; i < 3; i++)
            t.anWords[i] = SimGetEPPDACWord(i);
    }

    bool ReadBox(BOX_FILE* pBox)
    {
        if (!ConfigFileExists(kFile))
            return false;
        return ParseBox(ReadConfigFile(kFile), pBox);
    }

    // The file's last lines against the ticks observed last, tick for tick.
    void ExpectMatchesTruth(const BOX_FILE& box, const std::vector<TRUTH>& aTruth, size_t nLast)
    {
        ASSERT_GE(box.aLines.size(), nLast);
        ASSERT_GE(aTruth.size(), nLast);
        for (size_t k = 0; k < nLast; k++) {
            const BOX_LINE& l = box.aLines[box.aLines.size() - nLast + k];
            const TRUTH& t = aTruth[aTruth.size() - nLast + k];
            SCOPED_TRACE("line " + std::to_string(box.aLines.size() - nLast + k));
            // The update's exchange costs bus time after the tick began.
            EXPECT_GE(l.llTimeUs, t.llTimeUs);
            EXPECT_LT(l.llTimeUs, t.llTimeUs + 500);
            for (int i = 0; i < 3; i++) {
                EXPECT_NEAR(t.adTip[i], l.adPos[i], 0.02) << "axis " << i;
                EXPECT_EQ(t.anWords[i], WireWord(l.alDac[i])) << "motor " << i;
            }
            EXPECT_EQ(t.nFault, l.nFault);
        }
    }

    SIM_TEST_CONFIG m_config;
};

TEST_F(BlackBoxTest, OverspeedWritesTheLastTicksOnceAndTheyMatchTheHardware)
{
    OpenHomedAltura("free");
    if (HasFatalFailure())
        return;
    ASSERT_FALSE(ConfigFileExists(kFile));
    double adQ[6];
    for (int i = 0; i < 6; i++)
        adQ[i] = Arm()->GetJointAngle(i);
    adQ[0] -= 0.6;
    Arm()->SetJointAngles(adQ);
    std::vector<TRUTH> aTruth;
    const time_t tBefore = time(nullptr);
    testing::internal::CaptureStderr();
    int nResult = 0;
    for (int n = 0; n < 400 && nResult == 0; n++) {
        const long long llNow = SimNowNs() / 1000;
        nResult = update_kinetor(Handle());
        TRUTH t = Observe(llNow);
        if (nResult == 0) {
            float afForce[3] = {0.2f, 0.1f * (float)(n % 3), 0.0f};
            EXPECT_EQ(0, send_kinetor_force(Handle(), afForce));
        }
        Words(t);
        aTruth.push_back(t);
        adQ[0] += 0.012;
        Arm()->SetJointAngles(adQ);
        AwaitTick(Handle());
    }
    testing::internal::GetCapturedStderr();
    const time_t tAfter = time(nullptr);
    ASSERT_EQ(-13, nResult);

    BOX_FILE box;
    ASSERT_TRUE(ReadBox(&box)) << ReadConfigFile(kFile);
    EXPECT_EQ("Kinetor black box 1", box.astrHeader[0]);
    EXPECT_EQ("device arm", box.astrHeader[1]);
    EXPECT_EQ("reason overspeed", box.astrHeader[2]);
    EXPECT_EQ("# t_us x_mm y_mm z_mm fx_N fy_N fz_N dac0 dac1 dac2 dac3 dac4 dac5 faults", box.astrHeader[5]);
    EXPECT_GE(box.llTime, (long long)tBefore);
    EXPECT_LE(box.llTime, (long long)tAfter);
    // Homing and the sweep gave more ticks than the ring holds: it is full.
    ASSERT_EQ(kRingLength, box.nTicks);
    // Oldest first, one tick a line.
    for (size_t k = 1; k < box.aLines.size(); k++) {
        EXPECT_GE(box.aLines[k].llTimeUs - box.aLines[k - 1].llTimeUs, 500) << k;
        EXPECT_LE(box.aLines[k].llTimeUs - box.aLines[k - 1].llTimeUs, 1500) << k;
    }
    // The sweep's ticks, the tripping one last: forces off, words at zero torque.
    const size_t nSweep = aTruth.size();
    ASSERT_LT(nSweep, (size_t)kRingLength);
    ExpectMatchesTruth(box, aTruth, nSweep);
    const BOX_LINE& last = box.aLines.back();
    EXPECT_EQ(2047, WireWord(last.alDac[0]));
    EXPECT_EQ(0.0, last.adForce[0]);
    // The force sent in each tick before, exactly as asked (no ramp).
    for (size_t k = 2; k < nSweep; k++) {
        const BOX_LINE& l = box.aLines[box.aLines.size() - k];
        const size_t n = nSweep - k;
        EXPECT_NEAR(0.2, l.adForce[0], 1e-9) << n;
        EXPECT_NEAR(0.1 * (double)(n % 3), l.adForce[1], 5e-4) << n;
    }

    // Still too fast on the next ticks: the trip is not written again.
    ASSERT_EQ(0, unlink(ConfigPath(kFile).c_str()));
    testing::internal::CaptureStderr();
    for (int n = 0; n < 3; n++) {
        EXPECT_EQ(-13, update_kinetor(Handle()));
        adQ[0] += 0.012;
        Arm()->SetJointAngles(adQ);
        AwaitTick(Handle());
    }
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ConfigFileExists(kFile));
}

TEST_F(BlackBoxTest, HotMotorWritesTheDacWordsThatHeatedIt)
{
    OpenHomedAltura("hold");
    if (HasFatalFailure())
        return;
    ASSERT_EQ(0, enable_kinetor_velocity_check(Handle(), 0));
    std::vector<TRUTH> aTruth;
    int nResult = 0;
    for (int n = 0; n < 4000 && nResult == 0; n++) {
        const long long llNow = SimNowNs() / 1000;
        ASSERT_EQ(0, update_kinetor(Handle()));
        TRUTH t = Observe(llNow);
        long alDac[3] = {27000 - 10 * (n % 7), 0, -300};
        nResult = command_motor_dac_values(Handle(), alDac);
        Words(t);
        aTruth.push_back(t);
        AwaitTick(Handle());
    }
    ASSERT_EQ(-1, nResult);
    BOX_FILE box;
    ASSERT_TRUE(ReadBox(&box));
    EXPECT_EQ("reason temperature", box.astrHeader[2]);
    ASSERT_EQ(kRingLength, box.nTicks);
    // The refused tick carried the words of the one before; the guard then zeroed them.
    BOX_FILE before = box;
    before.aLines.pop_back();
    ExpectMatchesTruth(before, std::vector<TRUTH>(aTruth.begin(), aTruth.end() - 1), kRingLength - 1);
    const size_t nTicks = aTruth.size();
    for (int k = 2; k <= kRingLength; k++) {
        const size_t n = nTicks - (size_t)k;
        const BOX_LINE& l = box.aLines[kRingLength - k];
        EXPECT_EQ(27000 - 10 * (long)(n % 7), l.alDac[0]) << n;
        EXPECT_EQ(-300, l.alDac[2]) << n;
        EXPECT_EQ(0.0, l.adForce[0]);
    }
    EXPECT_EQ(box.aLines[kRingLength - 2].alDac[0], box.aLines[kRingLength - 1].alDac[0]);
}

TEST_F(BlackBoxTest, ForceKickWritesOncePerTripAndRearmsWhenACommandPasses)
{
    OpenHomedAltura("hold");
    if (HasFatalFailure())
        return;
    ASSERT_EQ(0, enable_kinetor_force_kick_safety(Handle(), 1));
    float afSteady[3] = {1.0f, 0.0f, 0.0f};
    float afKick[3] = {1.0f, 0.0f, 4.5f};
    ASSERT_EQ(0, RunTicksWith(5, [&](int) { return send_kinetor_force(Handle(), afSteady); }));
    ASSERT_FALSE(ConfigFileExists(kFile));

    struct {
        const char* pszStep;
        float* pfForce;
        int nResult;
        bool bWritten;
    } aSteps[] = {
        {"first kick", afKick, -7, true},
        {"kick held", afKick, -7, false},
        {"kick held again", afKick, -7, false},
        {"steady passes", afSteady, 0, false},
        {"new kick", afKick, -7, true},
    };
    for (const auto& s : aSteps) {
        SCOPED_TRACE(s.pszStep);
        unlink(ConfigPath(kFile).c_str());
        ASSERT_EQ(0, update_kinetor(Handle()));
        EXPECT_EQ(s.nResult, send_kinetor_force(Handle(), s.pfForce));
        AwaitTick(Handle());
        EXPECT_EQ(s.bWritten, ConfigFileExists(kFile));
    }
    BOX_FILE box;
    ASSERT_TRUE(ReadBox(&box));
    EXPECT_EQ("reason force kick", box.astrHeader[2]);
    // The refused ticks sent no force; the steady one did, exactly.
    const size_t n = box.aLines.size();
    const double adSent[5] = {0.0, 1.0, 0.0, 0.0, 0.0};
    for (int k = 0; k < 5; k++) {
        EXPECT_EQ(adSent[k], box.aLines[n - 1 - k].adForce[0]) << k;
        EXPECT_EQ(0.0, box.aLines[n - 1 - k].adForce[2]) << k;
    }
    EXPECT_EQ(1.0, box.aLines[n - 6].adForce[0]);
}

TEST_F(BlackBoxTest, LostLinkWritesWhenTheFilterReportsItWithTheFaultOfEachTick)
{
    SIM_TEST_CONFIG config = SimTestConfig(3);
    config.nTimeoutCircuit = 0;
    m_config = config;
    ASSERT_GE(OpenSimulatedArm(config, "free"), 0);
    ASSERT_EQ(0, RunTicks(300));
    ASSERT_EQ(0, enable_kinetor_forces(Handle()));
    ASSERT_EQ(0, RunTicks(5));

    // A silent device raises no ticks either, so simulated time is moved on by hand.
    SimSetEPPSilent(0, TRUE);
    std::vector<int> anFaults;
    int nStatus = 0;
    int nSilent = 0;
    while (nStatus == 0 && nSilent < 100) {
        update_kinetor(Handle());
        anFaults.push_back(unfiltered_device_fault(Handle()));
        nStatus = kinetor_status(Handle());
        SimAdvance(kTickNs);
        nSilent++;
    }
    ASSERT_EQ(kCodeLinkLost, nStatus);
    EXPECT_EQ(kLinkLossMisses - 1 + kFaultFilterLength, nSilent);
    BOX_FILE box;
    ASSERT_TRUE(ReadBox(&box));
    EXPECT_EQ("reason link lost", box.astrHeader[2]);
    ASSERT_EQ(kRingLength, box.nTicks);
    for (int k = 0; k < nSilent; k++)
        EXPECT_EQ(anFaults[k], box.aLines[kRingLength - nSilent + k].nFault) << k;
    EXPECT_EQ(kCodeLinkLost, box.aLines.back().nFault);
    EXPECT_EQ(0, box.aLines[kRingLength - nSilent - 1].nFault);

    // Reported again while the link stays lost: not written again. Back, and lost anew: written.
    ASSERT_EQ(0, unlink(ConfigPath(kFile).c_str()));
    update_kinetor(Handle());
    EXPECT_EQ(kCodeLinkLost, kinetor_status(Handle()));
    SimAdvance(kTickNs);
    EXPECT_FALSE(ConfigFileExists(kFile));
    SimSetEPPSilent(0, FALSE);
    ASSERT_EQ(0, update_kinetor(Handle()));
    EXPECT_EQ(0, kinetor_status(Handle()));
    AwaitTick(Handle());
    SimSetEPPSilent(0, TRUE);
    nStatus = 0;
    for (int n = 0; n < 100 && nStatus == 0; n++) {
        update_kinetor(Handle());
        nStatus = kinetor_status(Handle());
        SimAdvance(kTickNs);
    }
    EXPECT_EQ(kCodeLinkLost, nStatus);
    EXPECT_TRUE(ConfigFileExists(kFile));
    SimSetEPPSilent(0, FALSE);
    EXPECT_EQ(0, update_kinetor(Handle()));
}

}  // namespace
