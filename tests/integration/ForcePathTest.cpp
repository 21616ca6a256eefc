// The force path end to end: a Cartesian force asked of the library arrives at the simulated
// motors as the DAC words the arm's geometry, motor wiring and torque scales call for, moves
// a free arm, and the safety checks (ramp, force kick, overspeed, motor temperature) act on
// the real hardware state.
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KinetorIO.h"
#include "KinetorServo.h"
#include "SimFixture.h"

namespace {

// How each model wires its three base motors: motor index of joints 0..2, direction of each
// motor, and how the second link's torque reaches the first link's motor.
typedef struct _MOTOR_WIRING {
    int anMotorOfJoint[3];
    int anSignOfMotor[3];
    bool bTransferDrive;    // coupling through the transfer drive ratio instead of 1:1
    double dCouplingSign;   // the second link's drive torque adds to or subtracts from the first's
} MOTOR_WIRING;

const MOTOR_WIRING kAlturaAWiring = {{0, 2, 1}, {+1, -1, -1}, false, -1.0};
const MOTOR_WIRING kBravisWiring = {{0, 1, 2}, {-1, -1, -1}, true, -1.0};
const MOTOR_WIRING kCirrelWiring = {{0, 1, 2}, {-1, -1, +1}, true, +1.0};

// Zero torque on the 12-bit wire.
const int kZeroWord = 2047;

// The 12-bit word a signed DAC count becomes on the parallel port: offset binary in 16
// bits, the top twelve bits kept, inverted.
int WireWord(long lDac)
{
    if (lDac > 32767)
        lDac = 32767;
    if (lDac < -32768)
        lDac = -32768;
    unsigned int uWord = (unsigned int)(lDac + 32768);
    return 4095 - (int)(uWord >> 4);
}

// Motor torques (N·mm, by motor index) for a Cartesian force at joint angles pdQ.
void MotorTorques(const SIM_TEST_CONFIG& c, const MOTOR_WIRING& w, const double* pdQ, const double* pdF,
                  double* pdMotor)
{
    double adJ[3][3];
    SimTestTipJacobian(SimTestLinkMm(c.lL1), SimTestLinkMm(c.lL2), pdQ, adJ);
    double adTau[3];
    for (int j = 0; j < 3; j++)
        adTau[j] = adJ[0][j] * pdF[0] + adJ[1][j] * pdF[1] + adJ[2][j] * pdF[2];
    for (int j = 0; j < 3; j++) {
        int k = w.anMotorOfJoint[j];
        pdMotor[k] = w.anSignOfMotor[k] * (double)c.afRatio[j] * adTau[j];
    }
    int k1 = w.anMotorOfJoint[1];
    int k2 = w.anMotorOfJoint[2];
    // The first link's motor also carries the reaction of the second link's drive.
    pdMotor[k1] += w.dCouplingSign * pdMotor[k2] * (w.bTransferDrive ? (double)c.afRatio[3] : 1.0);
    // The motors push against the sense in which their encoders count.
    pdMotor[k1] = -pdMotor[k1];
    pdMotor[k2] = -pdMotor[k2];
    if (w.bTransferDrive)
        pdMotor[w.anMotorOfJoint[0]] = -pdMotor[w.anMotorOfJoint[0]];
}

// The acceptable wire words of one motor: the torque scaled to counts and rounded half up,
// allowing for the library's single-precision arithmetic where the count sits on a rounding
// boundary.
std::vector<int> ExpectedWords(const SIM_TEST_CONFIG& c, int nMotor, double dTorque)
{
    double dCounts = (double)((float)c.alTtm[nMotor] / 1000.0f) * dTorque + 0.5;
    // Far beyond the DAC range every count gives the same word; keep the conversion defined.
    if (dCounts > 1e6)
        dCounts = 1e6;
    if (dCounts < -1e6)
        dCounts = -1e6;
    std::vector<int> words;
    for (double dSlack : {-0.05, 0.0, 0.05}) {
        int nWord = WireWord((long)trunc(dCounts + dSlack));
        bool bKnown = false;
        for (int n : words)
            bKnown = bKnown || n == nWord;
        if (!bKnown)
            words.push_back(nWord);
    }
    return words;
}

bool Contains(const std::vector<int>& words, int nWord)
{
    for (int n : words)
        if (n == nWord)
            return true;
    return false;
}

std::string Describe(const std::vector<int>& words)
{
    std::string s;
    for (int n : words)
        s += std::to_string(n) + " ";
    return s;
}

double Norm(const double* pd)
{
    return sqrt(pd[0] * pd[0] + pd[1] * pd[1] + pd[2] * pd[2]);
}

// Thermal constants of the 20-type motor, from its data sheet.
const double kdTa = 25.0;
const double kdK1 = 0.0006452, kdK2 = 844.1424, kdK3 = 729.12, kdA1 = 0.08609, kdA2 = 0.001271;

// Winding temperature t seconds after the motor was left at winding Tcu0 and body Tfe0.
double CooledWinding(double dTcu0, double dTfe0, double t)
{
    double dD = (kdTa + dTcu0 - 2.0 * dTfe0) * kdK3 + (kdTa - dTcu0) * kdK2;
    double dQ = -kdK2 * (kdTa - dTcu0) - (kdTa + dTcu0 - 2.0 * dTfe0) * kdK3;
    double dT = (dD * kdK1 + (dTcu0 - kdTa)) * exp(-kdA1 * t) + kdTa + dQ * exp(-kdA2 * t) * kdK1;
    if (dT > dTcu0)
        dT = dTcu0;
    return dT < kdTa ? kdTa : dT;
}

bool ReadTemperatureFile(const std::string& strPath, double adLines[4][3])
{
    FILE* f = fopen(strPath.c_str(), "r");
    if (f == nullptr)
        return false;
    bool bOk = true;
    for (int i = 0; i < 4 && bOk; i++)
        bOk = fscanf(f, "%lf %lf %lf", &adLines[i][0], &adLines[i][1], &adLines[i][2]) == 3;
    fclose(f);
    return bOk;
}

class ForcePathTest : public CSimFixture {
protected:
    // The library's current joint angles, the ones its Jacobian was built from.
    void LibraryAngles(double* pdQ)
    {
        float afQ[6];
        ASSERT_EQ(0, get_kinetor_joint_angles(Handle(), afQ));
        for (int i = 0; i < 3; i++)
            pdQ[i] = afQ[i];
    }

    // Checks the three base DAC words on the wire against the force pdF at angles pdQ.
    void ExpectWords(const SIM_TEST_CONFIG& c, const MOTOR_WIRING& w, const double* pdQ, const double* pdF,
                     const char* pszWhere)
    {
        double adMotor[3];
        MotorTorques(c, w, pdQ, pdF, adMotor);
        for (int k = 0; k < 3; k++) {
            std::vector<int> words = ExpectedWords(c, k, adMotor[k]);
            int nWord = SimGetEPPDACWord(k);
            EXPECT_TRUE(Contains(words, nWord))
                << pszWhere << ": motor " << k << " torque " << adMotor[k] << " expected " << Describe(words)
                << "got " << nWord;
        }
    }

    void ExpectZeroWords(const char* pszWhere)
    {
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(kZeroWord, SimGetEPPDACWord(k)) << pszWhere << ": motor " << k;
    }

    // The docking models send their words without a flush: a force commanded in one tick
    // goes out with the next tick's block exchange. Sends pdF with the ramp off for nTicks
    // ticks and checks, every tick, the words of the previous command; pdLastQ receives the
    // angles of the last command sent.
    void ExpectDeferredWords(const SIM_TEST_CONFIG& c, const MOTOR_WIRING& w, const double* pdF, int nTicks,
                             double* pdLastQ)
    {
        ASSERT_EQ(0, enable_kinetor_ramp_forces(Handle(), 0));
        ASSERT_EQ(0, enable_kinetor_forces(Handle()));
        for (int i = 0; i < 3; i++)
            pdLastQ[i] = 0.0;
        bool bSent = false;
        int r = RunTicksWith(nTicks, [&](int nTick) {
            char szWhere[32];
            snprintf(szWhere, sizeof(szWhere), "tick %d", nTick);
            if (bSent)
                ExpectWords(c, w, pdLastQ, pdF, szWhere);
            LibraryAngles(pdLastQ);
            float afSend[3] = {(float)pdF[0], (float)pdF[1], (float)pdF[2]};
            int e = send_kinetor_force(Handle(), afSend);
            bSent = e == 0;
            return e;
        });
        ASSERT_EQ(0, r);
    }

    // An Altura A 1.0 with gimbal, homed at its power-up pose, forces on.
    void OpenHomedAltura(SIM_TEST_CONFIG& c, const char* pszHand, bool bRamp)
    {
        c = SimTestConfig(1, 2);
        c.afResetAngle[1] = 0.25f;
        c.afResetAngle[2] = 0.3f;
        ASSERT_GE(OpenSimulatedArm(c, pszHand), 0);
        ASSERT_EQ(1, is_kinetor_reset_supported(Handle()));
        ASSERT_EQ(0, HomeAltura());
        ASSERT_EQ(0, enable_kinetor_ramp_forces(Handle(), bRamp ? 1 : 0));
        ASSERT_EQ(0, enable_kinetor_forces(Handle()));
        ASSERT_EQ(1, is_kinetor_forces_enabled(Handle()));
        ASSERT_TRUE(Arm()->GetAmplifiersEnabled());
    }
};

TEST_F(ForcePathTest, ForceArrivesAsDacWordsAndMovesAFreeArm)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "free", false);
    if (HasFatalFailure())
        return;
    const double adF[3] = {0.6, -0.5, 0.7};
    float afF[3] = {(float)adF[0], (float)adF[1], (float)adF[2]};

    double adStart[3];
    Arm()->GetStylusPosition(adStart);
    int r = RunTicksWith(40, [&](int nTick) {
        double adQ[3];
        LibraryAngles(adQ);
        float afSend[3] = {afF[0], afF[1], afF[2]};
        int e = send_kinetor_force(Handle(), afSend);
        if (e != 0)
            return e;
        char szWhere[32];
        snprintf(szWhere, sizeof(szWhere), "tick %d", nTick);
        ExpectWords(c, kAlturaAWiring, adQ, adF, szWhere);
        // The arm turns the words it received into counts of the same size (to the wire's
        // resolution of 16 counts).
        double adMotor[3];
        MotorTorques(c, kAlturaAWiring, adQ, adF, adMotor);
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(114.293 * adMotor[k], (double)Arm()->GetMotorDAC(k), 17.0) << szWhere;
        // The enable line toggles with every command, yet the amplifiers never drop out:
        // the arm gets the whole force on every tick, not on every other one.
        EXPECT_TRUE(Arm()->GetAmplifiersEnabled()) << szWhere;
        return 0;
    });
    ASSERT_EQ(0, r);
    // Some words are far from zero, or the test shows nothing.
    EXPECT_NE(kZeroWord, SimGetEPPDACWord(0));
    EXPECT_NE(kZeroWord, SimGetEPPDACWord(1));

    double adEnd[3];
    Arm()->GetStylusPosition(adEnd);
    double adMove[3] = {adEnd[0] - adStart[0], adEnd[1] - adStart[1], adEnd[2] - adStart[2]};
    double dAlong = (adMove[0] * adF[0] + adMove[1] * adF[1] + adMove[2] * adF[2]) / Norm(adF);
    EXPECT_GT(dAlong, 2.0) << "the stylus moved " << adMove[0] << " " << adMove[1] << " " << adMove[2];
    // Mostly along the force: the arm's inertia is not isotropic, but not that far off.
    EXPECT_GT(dAlong / Norm(adMove), 0.7);
    // The library saw the same motion.
    float afPos[3];
    ASSERT_EQ(0, get_kinetor_pos(Handle(), afPos));
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(adEnd[i], afPos[i], 1.0);

    // Disabling forces puts the motors to zero torque at once, and the amplifiers off once
    // the timeout circuit has run out.
    EXPECT_EQ(0, disable_kinetor_forces(Handle()));
    ExpectZeroWords("disabled");
    OutlastAmplifierHold();
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
    EXPECT_EQ(-12, send_kinetor_force(Handle(), afF));
}

// What the tick callback of the servo-thread test shares with the test thread.
typedef struct _SERVO_RUN {
    int nHandle;
    int nTicks;            // ticks to run before the callback ends the loop
    int nDone;
    int nFirstError;
    double dWorstAngleError;
    std::mutex mutex;
    std::condition_variable cond;
    bool bFinished;
} SERVO_RUN;

int ServoTick(void* pData)
{
    SERVO_RUN* pRun = static_cast<SERVO_RUN*>(pData);
    int r = update_kinetor(pRun->nHandle);
    if (r == 0) {
        float afQ[6];
        r = get_kinetor_joint_angles(pRun->nHandle, afQ);
        CSimArm* pArm = SimFindArm("arm");
        if (r == 0 && pArm != nullptr) {
            CSimLock lock;
            for (int i = 0; i < 3; i++) {
                double dErr = fabs(pArm->GetJointAngle(i) - afQ[i]);
                if (dErr > pRun->dWorstAngleError)
                    pRun->dWorstAngleError = dErr;
            }
        }
    }
    if (r == 0) {
        float afF[3] = {0.0f, 0.8f, 0.0f};
        r = send_kinetor_force(pRun->nHandle, afF);
    }
    std::lock_guard<std::mutex> guard(pRun->mutex);
    if (r != 0 && pRun->nFirstError == 0)
        pRun->nFirstError = r;
    if (++pRun->nDone < pRun->nTicks && r == 0)
        return 0;
    pRun->bFinished = true;
    pRun->cond.notify_all();
    return -1;
}

TEST_F(ForcePathTest, ServoThreadRunsTheForceLoopInLockstep)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "free", false);
    if (HasFatalFailure())
        return;
    SERVO_RUN run;
    run.nHandle = Handle();
    run.nTicks = 60;
    run.nDone = 0;
    run.nFirstError = 0;
    run.dWorstAngleError = 0.0;
    run.bFinished = false;
    double adStart[3];
    Arm()->GetStylusPosition(adStart);
    uint64_t nTicksBefore = SimTickCount();

    ASSERT_EQ(0, initOSExtender());
    ASSERT_EQ(0, startServoLoop(ServoTick, &run));
    {
        std::unique_lock<std::mutex> lock(run.mutex);
        // Generous: lockstep runs as fast as the machine allows; this only guards a hang.
        run.cond.wait_for(lock, std::chrono::seconds(60), [&] { return run.bFinished; });
    }
    stopServoLoop();
    ASSERT_TRUE(run.bFinished);
    EXPECT_EQ(0, run.nFirstError);
    EXPECT_EQ(60, run.nDone);
    // Each tick waited for the next one of the simulated hardware.
    EXPECT_GE(SimTickCount() - nTicksBefore, 50u);
    // The library's angles were the arm's, tick by tick, to an encoder count.
    EXPECT_LT(run.dWorstAngleError, 2e-3);
    double adEnd[3];
    Arm()->GetStylusPosition(adEnd);
    EXPECT_GT(adEnd[1] - adStart[1], 2.0);  // pushed along +y
}

TEST_F(ForcePathTest, BravisForceLeavesWithTheNextExchange)
{
    SIM_TEST_CONFIG c = SimTestConfig(3);
    c.afRatio[3] = 0.85f;
    c.afResetAngle[1] = -0.2f;
    c.afResetAngle[2] = 0.45f;
    ASSERT_GE(OpenSimulatedArm(c, "hold"), 0);
    ASSERT_EQ(0, RunTicks(3));
    const double adF[3] = {-0.4, 0.3, 0.5};
    double adLastQ[3];
    ExpectDeferredWords(c, kBravisWiring, adF, 20, adLastQ);
    if (HasFatalFailure())
        return;
    ASSERT_EQ(0, update_kinetor(Handle()));
    ExpectWords(c, kBravisWiring, adLastQ, adF, "last");
}

TEST_F(ForcePathTest, CirrelForceOutOfTheInkwell)
{
    SIM_TEST_CONFIG c = SimTestConfig(5);
    c.afRatio[3] = 0.9f;
    ASSERT_GE(OpenSimulatedArm(c, "free"), 0);
    ASSERT_EQ(0, RunTicks(12));
    ASSERT_EQ(0, update_calibration(Handle()));
    double adQ[6];
    for (int i = 0; i < 6; i++)
        adQ[i] = Arm()->GetRestJointAngle(i);
    adQ[0] += 0.3;
    adQ[1] += 0.25;
    adQ[2] -= 0.35;
    Arm()->SetJointAngles(adQ);
    ASSERT_EQ(0, RunTicks(3));
    const double adF[3] = {0.3, -0.6, -0.2};
    double adLastQ[3];
    ExpectDeferredWords(c, kCirrelWiring, adF, 20, adLastQ);
    if (HasFatalFailure())
        return;
    EXPECT_NE(kZeroWord, SimGetEPPDACWord(1));
}

TEST_F(ForcePathTest, ClosingWithForcesOnLeavesTheMotorsOffAndTheTemperaturesStored)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "hold", false);
    if (HasFatalFailure())
        return;
    CSimArm* pArm = Arm();
    ASSERT_EQ(0, RunTicksWith(5, [&](int) {
        float afSend[3] = {0.5f, 0.5f, 0.5f};
        return send_kinetor_force(Handle(), afSend);
    }));
    ASSERT_NE(0, pArm->GetMotorDAC(0));
    ASSERT_FALSE(ConfigFileExists("KinetorTemperature(arm)"));
    ASSERT_EQ(0, CloseDevice(Handle()));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(0, pArm->GetMotorDAC(k)) << "motor " << k;
    OutlastAmplifierHold();
    EXPECT_FALSE(pArm->GetAmplifiersEnabled());
    double adLines[4][3];
    ASSERT_TRUE(ReadTemperatureFile(ConfigPath("KinetorTemperature(arm)"), adLines));
    // Barely warmed by five gentle ticks.
    EXPECT_GE(adLines[0][0], 25.0);
    EXPECT_LT(adLines[0][0], 25.5);
}

TEST_F(ForcePathTest, TwoArmsOnOnePortKeepTheirOwnMotionAndForces)
{
    SIM_TEST_CONFIG first = SimTestConfig(1, 2, "left", 0);
    SIM_TEST_CONFIG second = SimTestConfig(1, 3, "right", 1);
    ASSERT_TRUE(WriteConfig(first));
    ASSERT_TRUE(WriteConfig(second));
    StartSimulator("hold");
    int nLeft = OpenDevice("left");
    ASSERT_GE(nLeft, 0);
    CSimArm* pLeft = Arm();
    int nRight = OpenDevice("right");
    ASSERT_GE(nRight, 0);
    CSimArm* pRight = Arm();
    ASSERT_NE(nullptr, pLeft);
    ASSERT_NE(nullptr, pRight);
    ASSERT_NE(pLeft, pRight);
    ASSERT_NE(nLeft, nRight);

    // The tick paces on the first device; both are updated in it.
    auto tick = [&]() {
        int r = update_kinetor(nLeft);
        if (r == 0)
            r = update_kinetor(nRight);
        AwaitTick(nLeft);
        return r;
    };
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(0, tick());
    ASSERT_EQ(0, kinetor_reset(nLeft));
    ASSERT_EQ(0, kinetor_reset(nRight));

    double adQ[6];
    for (int i = 0; i < 6; i++)
        adQ[i] = pRight->GetJointAngle(i);
    adQ[0] += 0.5;
    adQ[1] -= 0.3;
    pRight->SetJointAngles(adQ);
    pRight->SetHand(SIM_HAND_HOLD);
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(0, tick());
    float afLeft[6], afRight[6];
    ASSERT_EQ(0, get_kinetor_joint_angles(nLeft, afLeft));
    ASSERT_EQ(0, get_kinetor_joint_angles(nRight, afRight));
    for (int i = 0; i < 3; i++) {
        EXPECT_NEAR(pLeft->GetJointAngle(i), afLeft[i], 1e-3) << "left joint " << i;
        EXPECT_NEAR(pRight->GetJointAngle(i), afRight[i], 1e-3) << "right joint " << i;
    }
    EXPECT_NEAR(0.5, afRight[0] - afLeft[0], 1e-3);

    // Forces on the right arm only.
    ASSERT_EQ(0, enable_kinetor_ramp_forces(nRight, 0));
    ASSERT_EQ(0, enable_kinetor_forces(nRight));
    EXPECT_TRUE(pRight->GetAmplifiersEnabled());
    EXPECT_FALSE(pLeft->GetAmplifiersEnabled());
    ASSERT_EQ(0, update_kinetor(nLeft));
    ASSERT_EQ(0, update_kinetor(nRight));
    float afF[3] = {0.8f, 0.0f, -0.4f};
    ASSERT_EQ(0, send_kinetor_force(nRight, afF));
    // The right arm's enable line is pulsed as its watchdog with every command; its timeout
    // circuit keeps the amplifiers on between the pulses.
    EXPECT_TRUE(pRight->GetAmplifiersEnabled());
    EXPECT_FALSE(pLeft->GetAmplifiersEnabled());
    ASSERT_EQ(0, get_kinetor_joint_angles(nRight, afRight));
    double adRightQ[3] = {afRight[0], afRight[1], afRight[2]};
    const double adF[3] = {0.8, 0.0, -0.4};
    double adMotor[3];
    MotorTorques(second, kAlturaAWiring, adRightQ, adF, adMotor);
    for (int k = 0; k < 3; k++) {
        EXPECT_NEAR(114.293 * adMotor[k], (double)pRight->GetMotorDAC(k), 17.0) << "right motor " << k;
        EXPECT_EQ(0, pLeft->GetMotorDAC(k)) << "left motor " << k;
    }
    AwaitTick(nLeft);
    // Closing one arm leaves the other running on the shared port.
    EXPECT_EQ(0, CloseDevice(nRight));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(0, pRight->GetMotorDAC(k)) << "right motor " << k;
    OutlastAmplifierHold();
    EXPECT_FALSE(pRight->GetAmplifiersEnabled());
    for (int n = 0; n < 3; n++) {
        ASSERT_EQ(0, update_kinetor(nLeft));
        AwaitTick(nLeft);
    }
    ASSERT_EQ(0, get_kinetor_joint_angles(nLeft, afLeft));
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(pLeft->GetJointAngle(i), afLeft[i], 1e-3) << "left joint " << i;
}

// What the shared DAC budget of the three base motors leaves of motor torques pdT (in
// place), with every motor saturating at dSaturation: the worst motor is brought to its
// saturation torque and the others scaled with it, so the force keeps its direction; then
// counts beyond the budget are shared out in proportion.
void SaturateWithBudget(const SIM_TEST_CONFIG& c, double dSaturation, double dBudget, double* pdT)
{
    int nWorst = -1;
    double dWorst = 0.0;
    for (int k = 0; k < 3; k++) {
        double dExcess = fabs(pdT[k]) - dSaturation;
        if (nWorst < 0 || dExcess > dWorst) {
            nWorst = k;
            dWorst = dExcess;
        }
    }
    if (dWorst > 0.0) {
        double dFactor = dSaturation / fabs(pdT[nWorst]);
        for (int k = 0; k < 3; k++)
            pdT[k] *= dFactor;
    }
    double adCounts[3];
    double dSum = 0.0;
    for (int k = 0; k < 3; k++) {
        double dTtm = (double)((float)c.alTtm[k] / 1000.0f);
        adCounts[k] = trunc(pdT[k] * dTtm);
        dSum += fabs(adCounts[k]);
    }
    for (int k = 0; k < 3; k++) {
        double dTtm = (double)((float)c.alTtm[k] / 1000.0f);
        if (dSum > dBudget)
            adCounts[k] = trunc(adCounts[k] / dSum * dBudget);
        pdT[k] = adCounts[k] / dTtm;
    }
}

TEST_F(ForcePathTest, LargeForcesAreRefusedOrScaledByTheSaturationMode)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "hold", false);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(0, is_force_saturation_enabled(Handle()));
    double adQ[3];
    ASSERT_EQ(0, update_kinetor(Handle()));
    LibraryAngles(adQ);
    const double adSmall[3] = {0.5, 0.5, 0.5};
    float afSmall[3] = {0.5f, 0.5f, 0.5f};
    ASSERT_EQ(0, send_kinetor_force(Handle(), afSmall));
    ExpectWords(c, kAlturaAWiring, adQ, adSmall, "small");
    int anWords[3];
    for (int k = 0; k < 3; k++)
        anWords[k] = SimGetEPPDACWord(k);

    // Far beyond what the 20-type motors may deliver (241 N·mm each).
    const double adLarge[3] = {30.0, 25.0, -35.0};
    double adMotor[3];
    MotorTorques(c, kAlturaAWiring, adQ, adLarge, adMotor);
    int nBeyond = 0;
    for (int k = 0; k < 3; k++)
        nBeyond += fabs(adMotor[k]) > 241.0 ? 1 : 0;
    ASSERT_GE(nBeyond, 2);
    float afLarge[3] = {30.0f, 25.0f, -35.0f};
    EXPECT_EQ(-2, send_kinetor_force(Handle(), afLarge));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(anWords[k], SimGetEPPDACWord(k)) << "refused, motor " << k;
    EXPECT_EQ(1, is_kinetor_forces_enabled(Handle()));

    // With saturation the force is scaled down until its worst motor sits at its limit. (A
    // "no limit" budget in the file reads back as the largest 32-bit count, so the shared
    // budget check is the one in charge.)
    ASSERT_EQ(0, truncate_force_saturation(Handle()));
    EXPECT_EQ(1, is_force_saturation_enabled(Handle()));
    float afAgain[3] = {30.0f, 25.0f, -35.0f};
    ASSERT_EQ(0, send_kinetor_force(Handle(), afAgain));
    SaturateWithBudget(c, 241.0, 4294967295.0, adMotor);
    for (int k = 0; k < 3; k++) {
        std::vector<int> words = ExpectedWords(c, k, adMotor[k]);
        EXPECT_TRUE(Contains(words, SimGetEPPDACWord(k)))
            << "scaled, motor " << k << " expected " << Describe(words) << "got " << SimGetEPPDACWord(k);
    }
    ASSERT_EQ(0, zero_force_saturation(Handle()));
    EXPECT_EQ(0, is_force_saturation_enabled(Handle()));
    float afOnceMore[3] = {30.0f, 25.0f, -35.0f};
    EXPECT_EQ(-2, send_kinetor_force(Handle(), afOnceMore));
}

TEST_F(ForcePathTest, AnAmplifierBudgetLimitsTheSumOfTheMotorCounts)
{
    SIM_TEST_CONFIG c = SimTestConfig(1, 2);
    c.lAmpDACLimit = 20000;
    ASSERT_GE(OpenSimulatedArm(c, "hold"), 0);
    ASSERT_EQ(0, HomeAltura());
    ASSERT_EQ(0, enable_kinetor_ramp_forces(Handle(), 0));
    ASSERT_EQ(0, enable_kinetor_forces(Handle()));
    ASSERT_EQ(0, update_kinetor(Handle()));
    double adQ[3];
    LibraryAngles(adQ);
    // Every motor well inside its own limit, the three together beyond the budget.
    const double adF[3] = {6.0, 5.0, -5.0};
    double adMotor[3];
    MotorTorques(c, kAlturaAWiring, adQ, adF, adMotor);
    double dSum = 0.0;
    for (int k = 0; k < 3; k++) {
        ASSERT_LT(fabs(adMotor[k]), 241.0);
        dSum += fabs(adMotor[k]) * 114.293;
    }
    ASSERT_GT(dSum, 20500.0);
    float afF[3] = {6.0f, 5.0f, -5.0f};
    EXPECT_EQ(-2, send_kinetor_force(Handle(), afF));
    ExpectZeroWords("over budget");

    ASSERT_EQ(0, truncate_force_saturation(Handle()));
    float afAgain[3] = {6.0f, 5.0f, -5.0f};
    ASSERT_EQ(0, send_kinetor_force(Handle(), afAgain));
    SaturateWithBudget(c, 241.0, 20000.0, adMotor);
    double dSent = 0.0;
    for (int k = 0; k < 3; k++) {
        std::vector<int> words = ExpectedWords(c, k, adMotor[k]);
        EXPECT_TRUE(Contains(words, SimGetEPPDACWord(k)))
            << "shared out, motor " << k << " expected " << Describe(words) << "got " << SimGetEPPDACWord(k);
        dSent += fabs((double)Arm()->GetMotorDAC(k));
    }
    EXPECT_LE(dSent, 20000.0 + 3 * 16.0);  // the wire's resolution
}

TEST_F(ForcePathTest, NonFiniteOrHugeForcesNeverReachTheMotorsAsGarbage)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "hold", false);
    if (HasFatalFailure())
        return;
    ASSERT_EQ(0, update_kinetor(Handle()));
    double adQ[3];
    LibraryAngles(adQ);

    // Not a number: nothing but zero torque may leave.
    float afNaN[3] = {nanf(""), 0.2f, 0.1f};
    int r = send_kinetor_force(Handle(), afNaN);
    EXPECT_TRUE(r == 0 || r == -2) << r;
    ExpectZeroWords("NaN force");

    const double adSmall[3] = {0.3, 0.2, 0.1};
    float afSmall[3] = {0.3f, 0.2f, 0.1f};
    ASSERT_EQ(0, send_kinetor_force(Handle(), afSmall));
    ExpectWords(c, kAlturaAWiring, adQ, adSmall, "small");
    int anWords[3];
    for (int k = 0; k < 3; k++)
        anWords[k] = SimGetEPPDACWord(k);
    // Infinite: beyond every motor's limit, refused.
    float afInf[3] = {INFINITY, 0.0f, 0.0f};
    EXPECT_EQ(-2, send_kinetor_force(Handle(), afInf));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(anWords[k], SimGetEPPDACWord(k)) << "infinite, motor " << k;

    // With the torque check switched off a huge force drives the DACs to full scale in its
    // own direction, and no further.
    ASSERT_EQ(0, enable_kinetor_force_check(Handle(), 0));
    EXPECT_EQ(0, is_kinetor_force_check_enabled(Handle()));
    const double adHuge[3] = {1e30, -1e30, 1e30};
    float afHuge[3] = {1e30f, -1e30f, 1e30f};
    ASSERT_EQ(0, send_kinetor_force(Handle(), afHuge));
    double adMotor[3];
    MotorTorques(c, kAlturaAWiring, adQ, adHuge, adMotor);
    for (int k = 0; k < 3; k++) {
        int nFull = adMotor[k] > 0 ? WireWord(32767) : WireWord(-32768);
        EXPECT_EQ(nFull, SimGetEPPDACWord(k)) << "huge, motor " << k;
    }
}

TEST_F(ForcePathTest, ForcesRampUpAtTheConfiguredRate)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "hold", true);
    if (HasFatalFailure())
        return;
    // 0.05 N more per update: a force of 1 N is reached on the 20th update after enabling.
    ASSERT_EQ(0, set_kinetor_ramp_forces_rate(Handle(), 50.0f));
    EXPECT_FLOAT_EQ(50.0f, get_kinetor_ramp_forces_rate(Handle()));
    EXPECT_EQ(-9, set_kinetor_ramp_forces_rate(Handle(), -1.0f));
    const double adF[3] = {0.0, 0.6, 0.8};
    int r = RunTicksWith(30, [&](int nTick) {
        double adQ[3];
        LibraryAngles(adQ);
        float afSend[3] = {(float)adF[0], (float)adF[1], (float)adF[2]};
        int e = send_kinetor_force(Handle(), afSend);
        if (e != 0)
            return e;
        // Updates since enabling, this one included.
        double dLimit = (nTick + 1) * 50.0 / 1000.0;
        double dScale = dLimit < 1.0 ? dLimit : 1.0;
        double adRamped[3] = {adF[0] * dScale, adF[1] * dScale, adF[2] * dScale};
        char szWhere[32];
        snprintf(szWhere, sizeof(szWhere), "tick %d", nTick);
        ExpectWords(c, kAlturaAWiring, adQ, adRamped, szWhere);
        return 0;
    });
    ASSERT_EQ(0, r);
}

TEST_F(ForcePathTest, ForceKickIsRefusedWithoutRampAndRestartsTheRampWithIt)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "hold", false);
    if (HasFatalFailure())
        return;
    ASSERT_EQ(0, enable_kinetor_force_kick_safety(Handle(), 1));
    EXPECT_EQ(1, is_kinetor_force_kick_safety_enabled(Handle()));
    EXPECT_FLOAT_EQ(4.0f, get_kinetor_force_kick_safety(Handle()));

    double adQ[3];
    const double adFirst[3] = {1.0, 0.0, 0.0};
    ASSERT_EQ(0, update_kinetor(Handle()));
    LibraryAngles(adQ);
    float afFirst[3] = {1.0f, 0.0f, 0.0f};
    ASSERT_EQ(0, send_kinetor_force(Handle(), afFirst));
    ExpectWords(c, kAlturaAWiring, adQ, adFirst, "first");
    int anWords[3];
    for (int k = 0; k < 3; k++)
        anWords[k] = SimGetEPPDACWord(k);
    AwaitTick(Handle());

    // A jump of 4.5 N: refused, nothing written.
    ASSERT_EQ(0, update_kinetor(Handle()));
    float afKick[3] = {1.0f, 0.0f, 4.5f};
    EXPECT_EQ(-7, send_kinetor_force(Handle(), afKick));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(anWords[k], SimGetEPPDACWord(k)) << "motor " << k;
    // The limit is measured from the last force that was written, not the refused one.
    float afNear[3] = {1.0f, 0.0f, 3.9f};
    LibraryAngles(adQ);
    EXPECT_EQ(0, send_kinetor_force(Handle(), afNear));
    const double adNear[3] = {1.0, 0.0, 3.9};
    ExpectWords(c, kAlturaAWiring, adQ, adNear, "near");
    AwaitTick(Handle());

    // With ramping allowed, once a ramp has run its course, a jump starts a new one from zero.
    ASSERT_EQ(0, enable_kinetor_ramp_forces(Handle(), 1));
    ASSERT_EQ(0, set_kinetor_ramp_forces_rate(Handle(), 100.0f));
    ASSERT_EQ(0, disable_kinetor_forces(Handle()));
    ASSERT_EQ(0, enable_kinetor_forces(Handle()));
    const double adSteady[3] = {1.0, 0.0, 0.0};
    ASSERT_EQ(0, RunTicksWith(15, [&](int) {
        float afSend[3] = {1.0f, 0.0f, 0.0f};
        return send_kinetor_force(Handle(), afSend);
    }));
    ASSERT_EQ(0, update_kinetor(Handle()));
    LibraryAngles(adQ);
    float afSteady[3] = {1.0f, 0.0f, 0.0f};
    ASSERT_EQ(0, send_kinetor_force(Handle(), afSteady));
    ExpectWords(c, kAlturaAWiring, adQ, adSteady, "ramp done");
    AwaitTick(Handle());

    ASSERT_EQ(0, update_kinetor(Handle()));
    float afJump[3] = {-3.5f, 0.0f, 0.0f};
    EXPECT_EQ(0, send_kinetor_force(Handle(), afJump));
    ExpectZeroWords("ramp restarted");
    AwaitTick(Handle());
    ASSERT_EQ(0, update_kinetor(Handle()));
    LibraryAngles(adQ);
    float afAgain[3] = {-3.5f, 0.0f, 0.0f};
    EXPECT_EQ(0, send_kinetor_force(Handle(), afAgain));
    const double adRamped[3] = {-0.1, 0.0, 0.0};
    ExpectWords(c, kAlturaAWiring, adQ, adRamped, "ramping");
}

TEST_F(ForcePathTest, OverspeedDisablesForcesAfterTheGracePeriod)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "free", false);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(1, is_kinetor_velocity_check_enabled(Handle()));
    EXPECT_NEAR(1200.0f, get_kinetor_max_velocity(Handle()), 0.01f);
    const double dL1 = SimTestLinkMm(c.lL1);
    const double dL2 = SimTestLinkMm(c.lL2);

    // Sweep the base joint by hand at a steady 12 rad/s: about 1700 mm/s at the tip.
    const double dStep = 0.012;
    double adQ[6];
    for (int i = 0; i < 6; i++)
        adQ[i] = Arm()->GetJointAngle(i);
    adQ[0] -= 0.6;
    Arm()->SetJointAngles(adQ);
    testing::internal::CaptureStderr();
    int nFailedAt = -1;
    int nFailure = 0;
    float afVel[3] = {0, 0, 0};
    for (int n = 1; n <= 110 && nFailedAt < 0; n++) {
        int r = update_kinetor(Handle());
        if (r != 0) {
            nFailedAt = n;
            nFailure = r;
            break;
        }
        EXPECT_EQ(0, get_kinetor_vel(Handle(), afVel));
        float afZero[3] = {0, 0, 0};
        EXPECT_EQ(0, send_kinetor_force(Handle(), afZero));
        adQ[0] += dStep;
        Arm()->SetJointAngles(adQ);
        AwaitTick(Handle());
    }
    std::string strErr = testing::internal::GetCapturedStderr();
    // The first 101 updates after enabling are exempt; the 102nd reports.
    EXPECT_EQ(102, nFailedAt);
    EXPECT_EQ(-13, nFailure);
    EXPECT_NE(std::string::npos, strErr.find("Posting max vel error, magnitude ")) << strErr;
    EXPECT_NE(std::string::npos, strErr.find("/1440000.000, 101 runs\n")) << strErr;
    EXPECT_EQ(0, is_kinetor_forces_enabled(Handle()));
    ExpectZeroWords("after overspeed");
    OutlastAmplifierHold();
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
    float afForce[3] = {0.1f, 0, 0};
    EXPECT_EQ(-12, send_kinetor_force(Handle(), afForce));

    // The speed the library measured before it stopped was the true one: J times the rate.
    double adJ[3][3];
    double adTrueQ[3] = {adQ[0], adQ[1], adQ[2]};
    SimTestTipJacobian(dL1, dL2, adTrueQ, adJ);
    double dRate = dStep * 1000.0;  // one step per millisecond tick
    for (int r = 0; r < 3; r++)
        EXPECT_NEAR(adJ[r][0] * dRate, afVel[r], 0.03 * fabs(adJ[0][0] * dRate) + 1.0) << "axis " << r;
}

TEST_F(ForcePathTest, SixDofGimbalSpinningTooFastStopsTheForces)
{
    SIM_TEST_CONFIG c = SimTestConfig(4);
    ASSERT_GE(OpenSimulatedArm(c, "free"), 0);
    ASSERT_EQ(0, HomeAltura());
    ASSERT_EQ(0, enable_kinetor_ramp_forces(Handle(), 0));
    // The gimbal joints may turn at up to 50 rad/s: 30 rad/s passes, 60 rad/s does not,
    // from the first updates after enabling on.
    for (double dRate : {30.0, 60.0}) {
        double adQ[6];
        for (int i = 0; i < 6; i++)
            adQ[i] = Arm()->GetRestJointAngle(i);
        adQ[3] -= 1.2;
        // Taking the gimbal to its start is itself a jump; let the speed estimate settle.
        ASSERT_EQ(0, enable_kinetor_velocity_check(Handle(), 0));
        Arm()->SetJointAngles(adQ);
        ASSERT_EQ(0, RunTicks(40));
        ASSERT_EQ(0, enable_kinetor_velocity_check(Handle(), 1));
        ASSERT_EQ(0, enable_kinetor_forces(Handle()));
        int nResult = 0;
        int n = 0;
        for (; n < 30 && nResult == 0; n++) {
            nResult = update_kinetor(Handle());
            if (nResult != 0)
                break;
            float afPush[3] = {0.2f, 0.0f, 0.0f};
            EXPECT_EQ(0, send_kinetor_force(Handle(), afPush));
            adQ[3] += dRate / 1000.0;
            Arm()->SetJointAngles(adQ);
            AwaitTick(Handle());
        }
        if (dRate < 50.0) {
            EXPECT_EQ(0, nResult) << "at " << dRate << " rad/s";
            EXPECT_EQ(1, is_kinetor_forces_enabled(Handle()));
            ASSERT_EQ(0, disable_kinetor_forces(Handle()));
        } else {
            EXPECT_EQ(-13, nResult) << "at " << dRate << " rad/s";
            EXPECT_LT(n, 15);  // as soon as the filtered speed passes the limit
            // Like every overspeed: forces off, motors at zero torque and unpowered.
            EXPECT_EQ(0, is_kinetor_forces_enabled(Handle()));
            ExpectZeroWords("gimbal overspeed");
            OutlastAmplifierHold();
            EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
            float afPush[3] = {0.2f, 0.0f, 0.0f};
            EXPECT_EQ(-12, send_kinetor_force(Handle(), afPush));
        }
    }
}

TEST_F(ForcePathTest, SlowMotionPassesAndAHigherLimitIsHonoured)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "free", false);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(-15, set_kinetor_max_velocity(Handle(), -1.0f));
    ASSERT_EQ(0, set_kinetor_max_velocity(Handle(), 2500.0f));
    double adQ[6];
    for (int i = 0; i < 6; i++)
        adQ[i] = Arm()->GetJointAngle(i);
    adQ[0] -= 0.7;
    Arm()->SetJointAngles(adQ);
    // 1700 mm/s passes a 2500 mm/s limit for as long as the joint's travel allows.
    int r = RunTicksWith(115, [&](int) {
        float afZero[3] = {0, 0, 0};
        int e = send_kinetor_force(Handle(), afZero);
        adQ[0] += 0.012;
        Arm()->SetJointAngles(adQ);
        return e;
    });
    EXPECT_EQ(0, r);
    EXPECT_EQ(1, is_kinetor_forces_enabled(Handle()));
}

TEST_F(ForcePathTest, StoredTemperaturesAreRestoredOnOpen)
{
    ASSERT_TRUE(WriteConfig(SimTestConfig(1, 2)));
    StartSimulator("hold");
    const std::string strFile = "KinetorTemperature(arm)";
    struct {
        const char* pszText;
        long lAgeSeconds;  // negative: dated in the future
        double dExpected0;
        double dExpected1;
    } cases[] = {
        // Just written: as stored.
        {"60.00 30.00 25.00\n40.00 28.00 25.00\n25.00 25.00 25.00\n25.00 25.00 25.00\n", 0, 60.0, 30.0},
        // A clock that went backwards does not warm the motors up.
        {"60.00 30.00 25.00\n40.00 28.00 25.00\n25.00 25.00 25.00\n25.00 25.00 25.00\n", -3600, 60.0, 30.0},
        // A day later everything is at ambient.
        {"60.00 30.00 25.00\n40.00 28.00 25.00\n25.00 25.00 25.00\n25.00 25.00 25.00\n", 86400, 25.0, 25.0},
        // A damaged housing line puts those three at ambient; the windings then cool
        // towards a housing at ambient (checked by the formula below).
        {"60.00 30.00 25.00\n40.00 28.00\n25.00 25.00 25.00\n25.00 25.00 25.00\n", 600, -1.0, -1.0},
    };
    for (const auto& t : cases) {
        ASSERT_TRUE(WriteConfigFile(strFile, t.pszText));
        time_t tWritten = time(nullptr) - t.lAgeSeconds;
        struct timeval atv[2];
        atv[0].tv_sec = tWritten;
        atv[0].tv_usec = 0;
        atv[1] = atv[0];
        ASSERT_EQ(0, utimes(ConfigPath(strFile).c_str(), atv));
        time_t tBefore = time(nullptr);
        int nHandle = OpenDevice("arm");
        time_t tAfter = time(nullptr);
        ASSERT_GE(nHandle, 0);
        float afTemp[3];
        ASSERT_EQ(0, get_kinetor_temp(nHandle, afTemp));
        if (t.dExpected0 >= 0.0) {
            EXPECT_NEAR(t.dExpected0, afTemp[0], 0.02) << t.lAgeSeconds;
            EXPECT_NEAR(t.dExpected1, afTemp[1], 0.02) << t.lAgeSeconds;
        } else {
            double dWarm = CooledWinding(60.0, 25.0, (double)(tBefore - tWritten));
            double dCool = CooledWinding(60.0, 25.0, (double)(tAfter - tWritten));
            EXPECT_LE(afTemp[0], dWarm + 0.02);
            EXPECT_GE(afTemp[0], dCool - 0.02);
            EXPECT_LT(afTemp[0], 50.0);
        }
        EXPECT_FLOAT_EQ(25.0f, afTemp[2]);
        // Closing stores the restored values again, dated now.
        ASSERT_EQ(0, CloseDevice(nHandle));
        double adLines[4][3];
        ASSERT_TRUE(ReadTemperatureFile(ConfigPath(strFile), adLines));
        EXPECT_NEAR(afTemp[0], adLines[0][0], 0.006);
        struct stat st;
        ASSERT_EQ(0, stat(ConfigPath(strFile).c_str(), &st));
        EXPECT_GE(st.st_mtime, tBefore);
    }
}

TEST_F(ForcePathTest, HotMotorStopsForcesAndCoolsWhileClosed)
{
    SIM_TEST_CONFIG c;
    OpenHomedAltura(c, "hold", false);
    if (HasFatalFailure())
        return;
    // The arm is pushed hard against the hand; its speed is not what this test is about.
    ASSERT_EQ(0, enable_kinetor_velocity_check(Handle(), 0));
    const std::string strTempFile = ConfigPath("KinetorTemperature(arm)");

    long alDac[3] = {27000, 0, 0};
    int nResult = 0;
    int nTicks = 0;
    for (; nTicks < 4000; nTicks++) {
        ASSERT_EQ(0, update_kinetor(Handle()));
        nResult = command_motor_dac_values(Handle(), alDac);
        if (nResult != 0)
            break;
        AwaitTick(Handle());
    }
    ASSERT_EQ(-1, nResult) << "after " << nTicks << " ticks";
    // About 10 A into 2.34 ohm heat the winding by some 60 K/s at first: over a second.
    EXPECT_GT(nTicks, 900);
    float afTemp[3];
    ASSERT_EQ(0, get_kinetor_temp(Handle(), afTemp));
    EXPECT_GT(afTemp[0], 100.0f);
    EXPECT_LT(afTemp[0], 101.0f);
    EXPECT_FLOAT_EQ(25.0f, afTemp[1]);
    EXPECT_FLOAT_EQ(25.0f, afTemp[2]);
    float afNorm[3];
    ASSERT_EQ(0, get_kinetor_temp_normalized(Handle(), afNorm));
    EXPECT_NEAR((afTemp[0] - 25.0) / 75.0, afNorm[0], 1e-5);
    EXPECT_FLOAT_EQ(0.0f, afNorm[1]);

    EXPECT_EQ(0, is_kinetor_forces_enabled(Handle()));
    ExpectZeroWords("too warm");
    OutlastAmplifierHold();
    EXPECT_FALSE(Arm()->GetAmplifiersEnabled());
    EXPECT_EQ(-12, command_motor_dac_values(Handle(), alDac));

    double adLines[4][3];
    ASSERT_TRUE(ReadTemperatureFile(strTempFile, adLines));
    EXPECT_NEAR(afTemp[0], adLines[0][0], 0.006);
    EXPECT_GT(adLines[1][0], 25.1);  // the body has begun to warm too
    EXPECT_LT(adLines[1][0], adLines[0][0]);
    for (int i = 1; i < 3; i++) {
        EXPECT_DOUBLE_EQ(25.0, adLines[0][i]);
        EXPECT_DOUBLE_EQ(25.0, adLines[1][i]);
    }
    for (int i = 0; i < 3; i++) {
        EXPECT_DOUBLE_EQ(25.0, adLines[2][i]);
        EXPECT_DOUBLE_EQ(25.0, adLines[3][i]);
    }
    std::string strText = ReadConfigFile("KinetorTemperature(arm)");
    char szFirst[64];
    snprintf(szFirst, sizeof(szFirst), "%.2f 25.00 25.00\n", adLines[0][0]);
    EXPECT_EQ(0u, strText.find(szFirst)) << strText;

    // Still too warm a moment later: enabling again is allowed, the next command is refused.
    // The model looks at one motor per command, so the hot one comes up within three.
    ASSERT_EQ(0, enable_kinetor_forces(Handle()));
    nResult = 0;
    for (int n = 0; n < 3 && nResult == 0; n++) {
        ASSERT_EQ(0, update_kinetor(Handle()));
        nResult = command_motor_dac_values(Handle(), alDac);
        AwaitTick(Handle());
    }
    EXPECT_EQ(-1, nResult);
    EXPECT_EQ(0, is_kinetor_forces_enabled(Handle()));

    // Closed for two minutes: the motor has cooled by then.
    ASSERT_EQ(0, CloseDevice(Handle()));
    ASSERT_TRUE(ReadTemperatureFile(strTempFile, adLines));
    const double dTcu0 = adLines[0][0];
    const double dTfe0 = adLines[1][0];
    time_t tWritten = time(nullptr) - 120;
    struct timeval atv[2];
    atv[0].tv_sec = tWritten;
    atv[0].tv_usec = 0;
    atv[1] = atv[0];
    ASSERT_EQ(0, utimes(strTempFile.c_str(), atv));

    time_t tBefore = time(nullptr);
    ASSERT_GE(OpenDevice("arm"), 0);
    time_t tAfter = time(nullptr);
    ASSERT_EQ(0, get_kinetor_temp(Handle(), afTemp));
    double dWarmest = CooledWinding(dTcu0, dTfe0, (double)(tBefore - tWritten));
    double dCoolest = CooledWinding(dTcu0, dTfe0, (double)(tAfter - tWritten));
    EXPECT_LT(dWarmest, dTcu0 - 20.0);  // the check is not trivially met by the old value
    EXPECT_GT(dCoolest, kdTa + 5.0);    // nor by ambient
    EXPECT_GE(afTemp[0], dCoolest - 0.02);
    EXPECT_LE(afTemp[0], dWarmest + 0.02);
    EXPECT_FLOAT_EQ(25.0f, afTemp[1]);
    EXPECT_FLOAT_EQ(25.0f, afTemp[2]);

    // Cool enough now: forces run again.
    ASSERT_EQ(0, HomeAltura());
    ASSERT_EQ(0, enable_kinetor_forces(Handle()));
    ASSERT_EQ(0, update_kinetor(Handle()));
    long alGentle[3] = {1000, 0, 0};
    EXPECT_EQ(0, command_motor_dac_values(Handle(), alGentle));
    EXPECT_EQ(WireWord(1000), SimGetEPPDACWord(0));
}

}  // namespace
