// The force path: enable/disable (also waiting for a fault to clear on the device clock),
// ramp, force kick, the order and arguments of the model operations each command makes,
// temperature guard and the persisted temperatures, saturation presets, friction, pinch
// calibration, closing.
#include <math.h>
#include <stdint.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "DeviceDoubleFixture.h"
#include "platform/TimeSample.h"
#include "support/FileSizeLimit.h"

namespace {

using ForceTest = DeviceDoubleTest;

float Length3(const std::vector<float>& v) { return sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

TEST_F(ForceTest, CommandsNeedForcesEnabled)
{
    float f[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(-12, m_obj.SendKinetorForce6DOF(f));
    long dac[6] = {0};
    EXPECT_EQ(-12, m_obj.CommandMotorDACValues(dac));
    EXPECT_EQ(-12, m_obj.WriteKinetorJointTorques());
    EXPECT_EQ(-12, m_obj.SendKinetorJointTorques(f));
    EXPECT_TRUE(m_pFake->m_forces.empty());
    EXPECT_EQ(0, m_pFake->m_nWriteMotorTorques);
    EXPECT_EQ(4.0f, f[3]);   // nothing touched before the check
}

TEST_F(ForceTest, EnableAndDisable)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(1));
    EXPECT_EQ(1, m_pFake->m_nAmpOn);   // no watchdog circuit: amplifiers switched directly
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
    EXPECT_EQ(0, m_obj.EnableKinetorForces(1));   // second call: nothing more
    EXPECT_EQ(1, m_pFake->m_nAmpOn);
    EXPECT_EQ(0, m_obj.DisableKinetorForces());
    EXPECT_EQ(1, m_pFake->m_nAmpOff);
    EXPECT_EQ(0, m_obj.IsKinetorForcesEnabled());
    EXPECT_TRUE(m_env.Exists("KinetorTemperature(Arm)"));

    // A device whose drive ratio marks it as needing homing refuses until reset.
    Data().fReductionDirect[0] = 32767.0f;
    EXPECT_EQ(-16, m_obj.EnableKinetorForces(0));
    EXPECT_EQ(0, m_obj.ResetKinetor());
    EXPECT_EQ(1, m_obj.m_bHasBeenReset);
    EXPECT_EQ(0, m_obj.EnableKinetorForces(0));
}

TEST_F(ForceTest, EnablingKeepsEveryActiveWatchdogFed)
{
    // A second open device with forces on must be fed while this one enables.
    CIOLibAPI* pOther = new CIOLibAPI();
    CFakeHapticDevice* pOtherFake = new CFakeHapticDevice(pOther->m_szKinetorName, pOther->GetMemberData());
    pOther->m_pDevice = pOtherFake;
    ASSERT_EQ(0, pOther->EnableKinetorForces(0));
    ASSERT_GE(pOther->RegisterInTable(), 0);
    ASSERT_GE(m_obj.RegisterInTable(), 0);
    const int nBefore = pOtherFake->m_nWatchDog;
    ASSERT_EQ(0, m_obj.EnableKinetorForces(1));
    EXPECT_EQ(nBefore + 1, pOtherFake->m_nWatchDog);
    EXPECT_EQ(1, m_pFake->m_nWatchDog);
    delete pOther;
    m_obj.DisableKinetor();
}

TEST_F(ForceTest, ResetZeroesTheMotionStateAndNeedsTheWatchdogWithForcesOn)
{
    for (int i = 0; i < 6; i++) {
        Data().lRawEncoders[i] = 1000 + i;
        Data().fJointAngles[i] = 1.0f;
        Data().nMotorDACValues[i] = 77;
    }
    Data().nRuns = 40;
    EXPECT_EQ(0, m_obj.ResetKinetor());
    EXPECT_EQ(0, Data().lRawEncoders[5]);
    EXPECT_EQ(0.0f, Data().fJointAngles[2]);
    EXPECT_EQ(0, Data().nMotorDACValues[0]);
    EXPECT_EQ(1, Data().nRuns);   // the update inside the reset counted once
    EXPECT_EQ(1, m_obj.m_bHasBeenReset);

    CIOLibAPI obj;
    CFakeHapticDevice* pFake = new CFakeHapticDevice(obj.m_szKinetorName, obj.GetMemberData());
    obj.m_pDevice = pFake;
    ASSERT_EQ(0, obj.EnableKinetorForces(0));
    pFake->m_nWatchDogResult = 1;
    EXPECT_EQ(-4, obj.ResetKinetor());
    EXPECT_EQ(0, obj.m_bHasBeenReset);
}

TEST_F(ForceTest, ForceRampsUpLinearlyInTheRequestedDirection)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(1));
    float f[3] = {6.0f, 8.0f, 0.0f};   // length 10
    // The limit is nRuns x 0.5 / 1000, so 0.0005 per update from zero.
    for (int n = 0; n < 50; n++) {
        float req[3] = {f[0], f[1], f[2]};
        ASSERT_EQ(0, m_obj.SendKinetorForce(req));
        const std::vector<float>& sent = m_pFake->m_forces.back();
        EXPECT_NEAR(n * 0.0005f, Length3(sent), 1e-6) << n;
        if (n > 0) {
            EXPECT_NEAR(0.6f, sent[0] / Length3(sent), 1e-5);
            EXPECT_NEAR(0.8f, sent[1] / Length3(sent), 1e-5);
        }
        Updates(1);
    }
    // Once the limit passes the request the full force goes out.
    Data().nRuns = 20001;   // limit 10.0005
    float req[3] = {f[0], f[1], f[2]};
    ASSERT_EQ(0, m_obj.SendKinetorForce(req));
    EXPECT_FLOAT_EQ(10.0f, Length3(m_pFake->m_forces.back()));
    EXPECT_EQ(0, m_obj.m_bRampForces);
    EXPECT_FLOAT_EQ(6.0f, m_obj.m_fForce[0]);

    // Torques of a 3-DOF model are zeroed in the caller's array.
    float f6[6] = {1, 1, 1, 5, 5, 5};
    ASSERT_EQ(0, m_obj.SendKinetorForce6DOF(f6));
    EXPECT_EQ(0.0f, f6[3]);
    EXPECT_EQ(0.0f, f6[5]);

    // The model asking for a ramp restarts it.
    m_pFake->m_bRampRequest = true;
    float f3[3] = {1, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(f3));
    EXPECT_EQ(0.0f, Length3(m_pFake->m_forces.back()));
    EXPECT_EQ(0, Data().nRuns);
}

TEST_F(ForceTest, ForceKick)
{
    m_obj.EnableKinetorForceKickSafety(1);
    m_obj.EnableKinetorRampForces(0);
    ASSERT_EQ(0, m_obj.EnableKinetorForces(1));
    float a[3] = {1, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(a));
    size_t nSent = m_pFake->m_forces.size();
    float b[3] = {1, 5, 0};   // a jump of 5 over the limit 4
    EXPECT_EQ(-7, m_obj.SendKinetorForce(b));
    EXPECT_EQ(nSent, m_pFake->m_forces.size());
    EXPECT_FLOAT_EQ(1.0f, m_obj.m_fForce[0]);
    EXPECT_FLOAT_EQ(0.0f, m_obj.m_fForce[1]);

    // With ramping allowed, the same jump restarts the ramp instead.
    m_obj.EnableKinetorRampForces(1);
    m_obj.m_bRampForces = 0;
    Data().nRuns = 500;
    float c[3] = {1, 5, 0};
    EXPECT_EQ(0, m_obj.SendKinetorForce(c));
    EXPECT_EQ(1, m_obj.m_bRampForces);
    EXPECT_EQ(0, Data().nRuns);
    EXPECT_EQ(0.0f, Length3(m_pFake->m_forces.back()));

    EXPECT_EQ(-9, m_obj.SetKinetorForceKickSafety(-1.0f));
    EXPECT_EQ(-9, m_obj.SetKinetorForceKickSafety(NAN));
    EXPECT_EQ(-9, m_obj.SetKinetorRampForcesRate(-0.5f));
    EXPECT_EQ(-9, m_obj.SetKinetorRampForcesRate(NAN));
    EXPECT_FLOAT_EQ(4.0f, m_obj.GetKinetorForceKickSafety());
    EXPECT_FLOAT_EQ(0.5f, m_obj.GetKinetorRampForcesRate());
}

TEST_F(ForceTest, NonFiniteForceIsNoneAndKeepsTheKickCheckWorking)
{
    m_obj.EnableKinetorForceKickSafety(1);
    m_obj.EnableKinetorRampForces(0);
    ASSERT_EQ(0, m_obj.EnableKinetorForces(1));
    float a[3] = {0, 2, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(a));
    float n[3] = {NAN, 2, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(n));
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(0.0f, m_obj.m_fForce[i]) << i;
    // A jump of 5 from the zero torque that went out is still caught.
    float b[3] = {0, 5, 0};
    EXPECT_EQ(-7, m_obj.SendKinetorForce(b));
}

TEST_F(ForceTest, FilteredFaultBlocksCommands)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    m_pFake->m_nDeviceFault = -2;
    float f[3] = {0, 0, 0};
    for (int i = 0; i < 15; i++)
        EXPECT_EQ(0, m_obj.SendKinetorForce(f));
    EXPECT_EQ(-2, m_obj.SendKinetorForce(f));
    EXPECT_EQ(15u, m_pFake->m_forces.size());
}

TEST_F(ForceTest, JointTorquesAndDacValues)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    float t[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, m_obj.SendKinetorJointTorques(t));
    EXPECT_EQ(6.0f, Data().dJointTorques[5]);
    EXPECT_EQ(3.0f, Data().fMotorTorques[2]);
    // A failed torque check switches forces off.
    m_pFake->m_nWriteMotorTorquesResult = -1;
    EXPECT_EQ(-1, m_obj.SendKinetorJointTorques(t));
    EXPECT_EQ(0, m_obj.IsKinetorForcesEnabled());

    m_pFake->m_nWriteMotorTorquesResult = 0;
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    long dac[6] = {100, -200, 300, 400, 500, 600};
    EXPECT_EQ(0, m_obj.CommandMotorDACValues(dac));
    EXPECT_EQ(-200, Data().nMotorDACValues[1]);
    EXPECT_EQ(0, Data().nMotorDACValues[3]);   // three values only on a 3-DOF model
    EXPECT_EQ(1, m_pFake->m_nWriteDAC);
}

// The cooling curve of one motor, computed independently in double precision.
void ExpectedDecay(const _KINETOR_DEVICE_DATA& d, int i, double Tcu0, double Tfe0, double t,
                   double& Tcu, double& Tfe)
{
    const double Ta = d.fTatm, K1 = d.fThermalDecayK1[i], K2 = d.fThermalDecayK2[i];
    const double K3 = d.fThermalDecayK3[i], K4 = d.fThermalDecayK4[i], K5 = d.fThermalDecayK5[i];
    const double A1 = d.fThermalDecayA1[i], A2 = d.fThermalDecayA2[i];
    const double D = (Ta + Tcu0 - 2 * Tfe0) * K3 + (Ta - Tcu0) * K2;
    const double Q = -D;
    const double e1 = exp(-A1 * t), e2 = exp(-A2 * t);
    const double c = D * K1 + (Tcu0 - Ta);
    const double tcu = c * e1 + Ta + Q * e2 * K1;
    const double dtcu = -K4 * e1 * c - Q * e2 * K5;
    const double tfe = (double)d.fRcf[i] * d.fCcu * d.fMcu[i] * dtcu + tcu;
    Tcu = std::max(std::min(Tcu0, tcu), Ta);
    Tfe = std::max(std::min(Tfe0, tfe), Ta);
}

void AgeFile(const std::string& strPath, double seconds)
{
    struct timeval tv[2];
    gettimeofday(&tv[0], nullptr);
    tv[0].tv_sec -= (time_t)seconds;
    tv[1] = tv[0];
    ASSERT_EQ(0, utimes(strPath.c_str(), tv));
}

TEST_F(ForceTest, TooWarmMotorsStopForcesAndTheirTemperaturesPersist)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    for (int i = 0; i < 6; i++) {
        Data().fTcu[i] = 60.0f + i;
        Data().fTfe[i] = 40.0f + i;
    }
    m_pFake->m_nTemperatureCheck = 1;
    float f[3] = {1, 0, 0};
    EXPECT_EQ(-1, m_obj.SendKinetorForce(f));
    EXPECT_EQ(0, m_obj.IsKinetorForcesEnabled());
    EXPECT_EQ(1, m_obj.m_bMotorsWarmError);
    EXPECT_TRUE(m_pFake->m_forces.empty());
    EXPECT_EQ("60.00 61.00 62.00\n40.00 41.00 42.00\n63.00 64.00 65.00\n43.00 44.00 45.00\n",
              m_env.ReadFile("KinetorTemperature(Arm)"));

    // Ten minutes later the next command reads them back, cooled by the elapsed time.
    AgeFile(m_env.ConfigPath("KinetorTemperature(Arm)"), 600.0);
    m_pFake->m_nTemperatureCheck = 0;
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    EXPECT_EQ(0, m_obj.SendKinetorForce(f));
    EXPECT_EQ(0, m_obj.m_bMotorsWarmError);
    for (int i = 0; i < 3; i++) {   // the motor-type-20 axes
        double Tcu, Tfe;
        ExpectedDecay(Data(), i, 60.0 + i, 40.0 + i, 600.0, Tcu, Tfe);
        EXPECT_NEAR(Tcu, Data().fTcu[i], 0.02) << i;
        EXPECT_NEAR(Tfe, Data().fTfe[i], 0.02) << i;
        EXPECT_LT(Data().fTcu[i], 60.0f + i);
        EXPECT_GE(Data().fTfe[i], 25.0f);
    }
}

TEST_F(ForceTest, TemperatureFileReadBack)
{
    // Written a moment ago: the values come back as stored.
    ASSERT_TRUE(m_env.WriteFile("KinetorTemperature(Arm)",
                                "60.00 60.00 60.00\n40.00 40.00 40.00\n25.00 25.00 25.00\n25.00 25.00 25.00\n"));
    m_obj.ReadMotorTemperatures();
    EXPECT_NEAR(60.0f, Data().fTcu[0], 0.05);
    EXPECT_NEAR(40.0f, Data().fTfe[2], 0.05);

    // A day later they are ambient.
    AgeFile(m_env.ConfigPath("KinetorTemperature(Arm)"), 86400.0);
    m_obj.ReadMotorTemperatures();
    EXPECT_NEAR(25.0f, Data().fTcu[1], 1e-3);
    EXPECT_NEAR(25.0f, Data().fTfe[1], 1e-3);

    // A short or undefined line resets only its own three values to ambient.
    ASSERT_TRUE(m_env.WriteFile("KinetorTemperature(Arm)",
                                "50.00 50.00 50.00\n45.00 45.00\n30.00 30.00 30.00\nnan 30 30\n"));
    m_obj.ReadMotorTemperatures();
    EXPECT_NEAR(50.0f, Data().fTcu[0], 0.05);
    EXPECT_EQ(25.0f, Data().fTfe[0]);
    EXPECT_EQ(25.0f, Data().fTfe[4]);
    EXPECT_TRUE(std::isfinite(Data().fTcu[4]));

    // Normalised temperature is zero at ambient.
    for (int i = 0; i < 6; i++)
        Data().fTcu[i] = Data().fTfe[i] = 25.0f;
    float n[3] = {1, 1, 1};
    m_obj.GetKinetorTempNormalized(n);
    EXPECT_EQ(0.0f, n[0]);
    Data().fTcu[1] = 62.5f;   // half way to the limit of 100
    m_obj.GetKinetorTempNormalized(n);
    EXPECT_FLOAT_EQ(0.5f, n[1]);
}

TEST_F(ForceTest, StateFilesStayInsideTheConfigurationDirectory)
{
    // A configuration name that would climb out of the directory writes nothing anywhere.
    snprintf(m_obj.m_szKinetorName, sizeof(m_obj.m_szKinetorName), "%s", "../escape");
    m_obj.WriteMotorTemperatures();
    EXPECT_FALSE(m_env.Exists("../KinetorTemperature(../escape)"));
    m_obj.GetMemberData()->nExtra6DOFOption = 1;
    m_obj.SetPinchLimits(1, 2);
    EXPECT_EQ(0, m_obj.IsPinchCalibrated());
}

TEST_F(ForceTest, SaturationPresets)
{
    EXPECT_EQ(0, m_obj.IsKinetorSaturationEnabled());
    m_obj.TruncateForceSaturation();
    EXPECT_EQ(241.0f, Data().fSaturationTorques[0]);
    EXPECT_EQ(241.0f, Data().fSaturationTorques[2]);
    EXPECT_EQ(0.0f, Data().fSaturationTorques[3]);
    EXPECT_EQ(1, m_obj.IsKinetorSaturationEnabled());
    m_obj.m_devInfo.is6DOF = 1;
    EXPECT_EQ(0, m_obj.IsKinetorSaturationEnabled());
    m_obj.ZeroForceSaturation();
    m_obj.m_devInfo.is6DOF = 0;
    EXPECT_EQ(0, m_obj.IsKinetorSaturationEnabled());
}

TEST_F(ForceTest, FrictionAndStuckPosition)
{
    float p[3] = {10, 20, 30};
    for (int i = 0; i < 3; i++)
        Data().fEndpointFrame[3][i] = p[i];
    float fr[3] = {9, 9, 9}, zero[3] = {0, 0, 0};
    EXPECT_EQ(0, m_obj.CalcKinetorFriction(fr, zero, 1.0f, 0.5f, 1.0f));
    EXPECT_EQ(0.0f, fr[0]);
    float s[3];
    m_obj.GetKinetorStuckPos(s);
    EXPECT_EQ(20.0f, s[1]);

    // The stylus moves 1 sideways to the force: friction 2 x 1 below 0.5 x 10 keeps the point.
    Data().fEndpointFrame[3][0] = 11.0f;
    float force[3] = {0, 0, 10};
    m_obj.CalcKinetorFriction(fr, force, 2.0f, 0.5f, 1.0f);
    EXPECT_FLOAT_EQ(-2.0f, fr[0]);
    m_obj.GetKinetorStuckPos(s);
    EXPECT_EQ(10.0f, s[0]);
    // Moving 4 gives 8 > 5: clipped to 5 and the point follows to p + (-5) x 1 / 2.
    Data().fEndpointFrame[3][0] = 14.0f;
    m_obj.CalcKinetorFriction(fr, force, 2.0f, 0.5f, 1.0f);
    EXPECT_FLOAT_EQ(-5.0f, fr[0]);
    m_obj.GetKinetorStuckPos(s);
    EXPECT_FLOAT_EQ(11.5f, s[0]);

    // Set and get agree with and without an application frame.
    float o[3] = {1, 2, 3}, x[3] = {0, 1, 0}, y[3] = {-1, 0, 0}, z[3] = {0, 0, 1};
    m_obj.SetKinetorCoordinateSystem(o, x, y, z);
    float in[3] = {4, -5, 6};
    float copy[3] = {4, -5, 6};
    m_obj.SetKinetorStuckPos(in);
    m_obj.GetKinetorStuckPos(s);
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(copy[i], s[i], 1e-4);
}

TEST_F(ForceTest, PinchCalibration)
{
    // Without the pinch option nothing is stored.
    m_obj.SetPinchLimits(100, 900);
    EXPECT_EQ(0, Data().nPinchMin);
    EXPECT_EQ(1, Data().nPinchMax);
    EXPECT_FALSE(m_env.Exists("Pinch Calibration(Arm)"));
    Data().dPinchValue = 0.7;
    EXPECT_EQ(0.0, m_obj.GetPinchValue());

    Data().nExtra6DOFOption = 1;
    EXPECT_EQ(1, m_obj.CheckForPinch());
    m_obj.SetPinchLimits(100, 900);
    EXPECT_EQ("PinchMin 100 \nPinchMax 900 \n", m_env.ReadFile("Pinch Calibration(Arm)"));
    EXPECT_EQ(1, m_obj.IsPinchCalibrated());
    EXPECT_EQ(0.7, m_obj.GetPinchValue());

    // Negative limits travel as their unsigned 32-bit rendering and come back.
    m_obj.SetPinchLimits(-5, 4);
    EXPECT_EQ("PinchMin 4294967291 \nPinchMax 4 \n", m_env.ReadFile("Pinch Calibration(Arm)"));
    Data().nPinchMin = 0;
    char szName[] = "Arm";
    EXPECT_EQ(1, m_obj.ReadPinchParameters(szName));
    EXPECT_EQ(-5, Data().nPinchMin);
    EXPECT_EQ(4, Data().nPinchMax);

    // An empty file, a missing one and a one-letter name are not calibrations.
    ASSERT_TRUE(m_env.WriteFile("Pinch Calibration(Arm)", ""));
    EXPECT_EQ(0, m_obj.ReadPinchParameters(szName));
    char szOther[] = "Other";
    EXPECT_EQ(0, m_obj.ReadPinchParameters(szOther));
    EXPECT_EQ(0, Data().nPinchMin);
    EXPECT_EQ(1, Data().nPinchMax);
    char szShort[] = "A";
    EXPECT_EQ(0, m_obj.ReadPinchParameters(szShort));
}

// A state file whose rewrite fails part-way (here at a file-size limit) keeps its previous
// content byte for byte, with nothing left beside it; a rewrite that succeeds replaces it
// whole. The temperature writer has no result to report with.
TEST_F(ForceTest, FailedStateFileWritesKeepThePreviousFile)
{
    for (int i = 0; i < 6; i++) {
        Data().fTcu[i] = 50.0f;
        Data().fTfe[i] = 30.5f;
    }
    Data().nPinchMin = 100;
    Data().nPinchMax = 900;
    char szName[] = "Arm";
    struct Writer {
        const char* pszFile;
        std::function<int()> write;   // the writer's result, -1 when it has none
        std::string strNew;
    };
    const std::vector<Writer> aWriters = {
        {"KinetorTemperature(Arm)", [&] { m_obj.WriteMotorTemperatures(); return -1; },
         "50.00 50.00 50.00\n30.50 30.50 30.50\n50.00 50.00 50.00\n30.50 30.50 30.50\n"},
        {"Pinch Calibration(Arm)", [&] { return (int)m_obj.WritePinchParameters(szName); },
         "PinchMin 100 \nPinchMax 900 \n"},
    };
    const std::string strOld = "stored before\n" + std::string(200, 'z') + "\n";
    for (const Writer& w : aWriters) {
        SCOPED_TRACE(w.pszFile);
        ASSERT_TRUE(m_env.WriteFile(w.pszFile, strOld));
        const std::vector<std::string> before = SortedDirectoryEntries(m_env.ConfigDir());
        int nResult;
        {
            CScopedFileSizeLimit limit(16);
            ASSERT_TRUE(limit.Active());
            nResult = w.write();
        }
        EXPECT_NE(1, nResult);
        EXPECT_EQ(strOld, m_env.ReadFile(w.pszFile));
        EXPECT_EQ(before, SortedDirectoryEntries(m_env.ConfigDir()));

        EXPECT_NE(0, w.write());
        EXPECT_EQ(w.strNew, m_env.ReadFile(w.pszFile));
    }
}

TEST_F(ForceTest, CloseWritesTemperaturesAndReleasesTheModel)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    int nSlot = m_obj.RegisterInTable();
    ASSERT_GE(nSlot, 0);
    EXPECT_EQ(0, m_obj.DisableKinetor());
    EXPECT_EQ(nullptr, m_obj.m_pDevice);
    EXPECT_EQ(nullptr, CIOLibAPI::m_kinetorArray.GetAt(nSlot));
    EXPECT_EQ(0, m_obj.IsKinetorForcesEnabled());
    EXPECT_TRUE(m_env.Exists("KinetorTemperature(Arm)"));
    // Without a model the object answers with codes, never a crash.
    EXPECT_EQ(-10, m_obj.UpdateKinetor());
    EXPECT_EQ(-10, m_obj.SubmitClient(1));
    EXPECT_EQ(-10, m_obj.SetKinetorUpdateRate(1000));
    EXPECT_EQ(-10, m_obj.EnableKinetorForces(0));
    EXPECT_EQ(-10, m_obj.ResetKinetor());
    EXPECT_EQ(nullptr, m_obj.GetConnectionData());
    m_obj.Await();
}

TEST_F(ForceTest, ClosingStopsTheMotorsStoresTemperaturesAndFreesTheSlot)
{
    CALL_LOG log;
    delete m_pFake;
    m_pFake = new CLoggingFake(m_obj.m_szKinetorName, m_obj.GetMemberData(), &log);
    m_obj.m_pDevice = m_pFake;
    m_obj.m_bForcesEnabled = 1;
    const int nSlot = m_obj.RegisterInTable();
    ASSERT_GE(nSlot, 0);
    ASSERT_FALSE(m_env.Exists("KinetorTemperature(Arm)"));

    EXPECT_EQ(0, m_obj.DisableKinetor());
    const std::vector<std::string> expected = {"ZeroTorques", "AmpsOff", "delete"};
    EXPECT_EQ(expected, log.calls);
    EXPECT_EQ(nullptr, m_obj.m_pDevice);
    EXPECT_EQ(0, m_obj.IsKinetorForcesEnabled());
    EXPECT_EQ(nullptr, CIOLibAPI::m_kinetorArray.GetAt(nSlot));
    EXPECT_TRUE(m_env.Exists("KinetorTemperature(Arm)"));
    m_pFake = nullptr;
}

// A device double that also records the arguments of the calls whose flags matter and the
// order of the operations that change the hardware.
class CRecordingDevice : public CFakeHapticDevice {
public:
    CRecordingDevice(char* pszName, _KINETOR_DEVICE_DATA* pDevData)
        : CFakeHapticDevice(pszName, pDevData) {}

    int EnableWatchDog(bool bPulse, bool bWait) override {
        m_calls.push_back(std::string("watchdog ") + (bPulse ? "1" : "0") + (bWait ? "1" : "0"));
        return CFakeHapticDevice::EnableWatchDog(bPulse, bWait);
    }
    int EnableAmplifiers(bool bOn) override {
        m_calls.push_back(bOn ? "amp on" : "amp off");
        return CFakeHapticDevice::EnableAmplifiers(bOn);
    }
    int ZeroTorques() override {
        m_calls.push_back("zero");
        return CFakeHapticDevice::ZeroTorques();
    }
    int GetDeviceFault() override {
        m_calls.push_back("fault");
        m_nFaultPolls++;
        if (m_nFaultClearsAfter > 0 && m_nFaultPolls >= m_nFaultClearsAfter)
            return 0;
        return CFakeHapticDevice::GetDeviceFault();
    }
    int WriteMotorTorques(bool bCheck) override {
        m_checks.push_back(bCheck);
        return CFakeHapticDevice::WriteMotorTorques(bCheck);
    }
    int WriteMotorVoltages(const float* volts, float* actual) override {
        m_volts.assign(volts, volts + 6);
        actual[0] = 1.5f;
        return 0;
    }
    int UpdateCalibration() override {
        m_calls.push_back("calibrate");
        return m_nCalibrationResult;
    }
    int GetCalibrationStatus(int& status) override {
        status = 42;
        return -3;
    }

    std::vector<std::string> m_calls;
    std::vector<bool> m_checks;
    std::vector<float> m_volts;
    int m_nFaultPolls = 0;
    int m_nFaultClearsAfter = 0;   // the poll (from 1) from which the fault reads clear
    int m_nCalibrationResult = 0;
};

class ForceCommandTest : public DeviceDoubleTest {
protected:
    void SetUp() override {
        DeviceDoubleTest::SetUp();
        // Replace the fixture's double with the recording one; the object owns it.
        delete m_obj.m_pDevice;
        m_pRec = new CRecordingDevice(m_obj.m_szKinetorName, m_obj.GetMemberData());
        m_obj.m_pDevice = m_pRec;
        m_pFake = m_pRec;
    }

    size_t Count(const std::string& strCall) const {
        size_t n = 0;
        for (const std::string& s : m_pRec->m_calls)
            n += s == strCall ? 1 : 0;
        return n;
    }

    CRecordingDevice* m_pRec = nullptr;
};

TEST_F(ForceCommandTest, WatchdogIsToggledBeforeTheStatusIsAskedOnEveryCommand)
{
    m_obj.m_bWatchdogTimer = 1;
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    // A watchdog circuit switches the amplifiers itself.
    EXPECT_EQ(0u, Count("amp on"));
    m_pRec->m_calls.clear();

    float f[3] = {0, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(f));
    ASSERT_GE(m_pRec->m_calls.size(), 2u);
    EXPECT_EQ("watchdog 10", m_pRec->m_calls[0]);
    EXPECT_EQ("fault", m_pRec->m_calls[1]);

    // Even a command that the filtered fault refuses has fed the watchdog first.
    m_pRec->m_nDeviceFault = -2;
    for (int i = 0; i < 15; i++)
        ASSERT_EQ(0, m_obj.WriteKinetorJointTorques());
    m_pRec->m_calls.clear();
    long dac[6] = {0};
    EXPECT_EQ(-2, m_obj.CommandMotorDACValues(dac));
    ASSERT_EQ(2u, m_pRec->m_calls.size());
    EXPECT_EQ("watchdog 10", m_pRec->m_calls[0]);
    EXPECT_EQ("fault", m_pRec->m_calls[1]);

    // Joint torques given directly skip the toggle.
    m_pRec->m_nDeviceFault = 0;
    m_pRec->m_calls.clear();
    float t[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, m_obj.SendKinetorJointTorques(t));
    EXPECT_EQ(0u, Count("watchdog 10"));
}

TEST_F(ForceCommandTest, OnlyTheCartesianCommandHonoursTheForceCheckSwitch)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    ASSERT_EQ(0, m_obj.EnableKinetorForceCheck(0));
    EXPECT_EQ(0, m_obj.IsKinetorForceCheckEnabled());
    float f[3] = {0, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(f));
    ASSERT_EQ(0, m_obj.WriteKinetorJointTorques());
    float t[6] = {0, 0, 0, 0, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorJointTorques(t));
    ASSERT_EQ(3u, m_pRec->m_checks.size());
    EXPECT_FALSE(m_pRec->m_checks[0]);
    EXPECT_TRUE(m_pRec->m_checks[1]);
    EXPECT_TRUE(m_pRec->m_checks[2]);

    ASSERT_EQ(0, m_obj.EnableKinetorForceCheck(1));
    ASSERT_EQ(0, m_obj.SendKinetorForce(f));
    EXPECT_TRUE(m_pRec->m_checks[3]);
}

TEST_F(ForceCommandTest, VoltagesAndDacValuesFollowTheModelsAxisCount)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    ASSERT_EQ(1, m_obj.m_nModelType);
    float volts[6] = {1, 2, 3, 4, 5, 6};
    float sent[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, m_obj.CommandMotorVoltages(volts, sent));
    EXPECT_EQ(3.0f, volts[2]);
    EXPECT_EQ(0.0f, volts[3]);
    EXPECT_EQ(0.0f, volts[5]);
    EXPECT_EQ(0.0f, m_pRec->m_volts[4]);
    EXPECT_EQ(1.5f, sent[0]);

    m_obj.m_nModelType = 4;
    float volts6[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, m_obj.CommandMotorVoltages(volts6, sent));
    EXPECT_EQ(6.0f, m_pRec->m_volts[5]);
    long dac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, m_obj.CommandMotorDACValues(dac));
    EXPECT_EQ(6, Data().nMotorDACValues[5]);
    float f6[6] = {0, 0, 0, 1, 0, 0};
    m_obj.m_bRampForces = 0;
    ASSERT_EQ(0, m_obj.SendKinetorForce6DOF(f6));
    EXPECT_EQ(1.0f, f6[3]);   // a 6-DOF model keeps its torques
}

TEST_F(ForceCommandTest, WarmRefusalIsFollowedByAReadBackOfTheCooledTemperatures)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    // A file of a moment ago with everything at ambient but one winding.
    ASSERT_TRUE(m_env.WriteFile("KinetorTemperature(Arm)",
                                "30.00 25.00 25.00\n25.00 25.00 25.00\n"
                                "25.00 25.00 25.00\n25.00 25.00 25.00\n"));
    Data().fTcu[0] = 99.0f;
    m_obj.m_bMotorsWarmError = 1;
    float f[3] = {0, 0, 0};
    ASSERT_EQ(0, m_obj.SendKinetorForce(f));
    EXPECT_EQ(0, m_obj.m_bMotorsWarmError);
    EXPECT_NEAR(30.0f, Data().fTcu[0], 0.05f);

    // With the guard off a warm model is not asked at all.
    m_obj.m_bTempCheckEnabled = 0;
    m_pRec->m_nTemperatureCheck = 1;
    EXPECT_EQ(0, m_obj.SendKinetorForce(f));
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
}

TEST_F(ForceCommandTest, TemperatureReadersPickTheirValuesByModel)
{
    for (int i = 0; i < 6; i++) {
        Data().fTcu[i] = 30.0f + i;
        Data().fTfe[i] = 50.0f + i;
        Data().fTmax[i] = 125.0f;
    }
    float t[6] = {-1, -1, -1, -1, -1, -1};
    m_obj.m_nModelType = 5;   // the Cirrel reports its housings
    m_obj.GetKinetorTemp(t);
    EXPECT_EQ(50.0f, t[0]);
    EXPECT_EQ(52.0f, t[2]);
    EXPECT_EQ(-1.0f, t[3]);   // three values only

    m_obj.m_nModelType = 4;
    m_obj.GetKinetorTemp6DOF(t);
    EXPECT_EQ(30.0f, t[0]);
    EXPECT_EQ(33.0f, t[3]);
    EXPECT_EQ(35.0f, t[5]);
    m_obj.GetKinetorTempNormalized6DOF(t);
    EXPECT_FLOAT_EQ((30.0f - 25.0f) / 100.0f, t[0]);
    EXPECT_FLOAT_EQ((35.0f - 25.0f) / 100.0f, t[5]);

    m_obj.m_nModelType = 1;
    m_obj.GetKinetorTemp6DOF(t);
    EXPECT_EQ(31.0f, t[1]);
    EXPECT_EQ(0.0f, t[3]);
    EXPECT_EQ(0.0f, t[5]);
    m_obj.GetKinetorTempNormalized6DOF(t);
    EXPECT_FLOAT_EQ(0.06f, t[1]);
    EXPECT_EQ(0.0f, t[4]);   // not normalised to a negative number
}

TEST_F(ForceCommandTest, UpdateCalibrationStartsAfreshAndReadsThePinchFile)
{
    ASSERT_TRUE(m_env.WriteFile("Pinch Calibration(Arm)", "PinchMin 10 \nPinchMax 20 \n"));
    Data().dPinchValue = 0.4;
    Data().nPinchCalibrated = 0;
    Data().lRawEncoders[1] = 123;
    Data().fJointAngles[0] = 1.0f;
    Data().nRuns = 77;
    m_obj.m_bRampForces = 0;
    EXPECT_EQ(0, m_obj.UpdateCalibration());
    EXPECT_EQ(1, Data().nPinchCalibrated);
    EXPECT_EQ(10, Data().nPinchMin);
    EXPECT_EQ(20, Data().nPinchMax);
    EXPECT_EQ(0.0, Data().dPinchValue);
    EXPECT_EQ(0, Data().lRawEncoders[1]);
    EXPECT_EQ(0.0f, Data().fJointAngles[0]);
    EXPECT_EQ(1, m_obj.m_bRampForces);
    EXPECT_EQ(1, Data().nRuns);   // restarted, then counted once by the update
    // The update's tick goes into the black box with the device's fault of that tick.
    ASSERT_EQ(3u, m_pRec->m_calls.size());
    EXPECT_EQ("calibrate", m_pRec->m_calls[0]);
    EXPECT_EQ("zero", m_pRec->m_calls[1]);
    EXPECT_EQ("fault", m_pRec->m_calls[2]);

    // Without a pinch file the limits return to their defaults and nothing is calibrated.
    ASSERT_EQ(0, remove(m_env.ConfigPath("Pinch Calibration(Arm)").c_str()));
    m_pRec->m_calls.clear();
    m_pRec->m_nCalibrationResult = -5;
    EXPECT_EQ(-5, m_obj.UpdateCalibration());
    EXPECT_EQ(0, Data().nPinchCalibrated);
    EXPECT_EQ(0, Data().nPinchMin);
    EXPECT_EQ(1, Data().nPinchMax);
    EXPECT_EQ(0u, Count("zero"));   // the model's error stops the re-calibration

    int nStatus = 0;
    EXPECT_EQ(-3, m_obj.GetCalibrationStatus(nStatus));
    EXPECT_EQ(42, nStatus);
}

TEST_F(ForceCommandTest, ResetWithForcesOnConfirmsTheWatchdog)
{
    m_obj.m_bWatchdogTimer = 1;
    ASSERT_EQ(0, m_obj.EnableKinetorForces(0));
    m_pRec->m_calls.clear();
    EXPECT_EQ(0, m_obj.ResetKinetor());
    EXPECT_EQ(0u, Count("amp on"));   // the watchdog circuit switches them
    EXPECT_EQ(1u, Count("watchdog 01"));

    m_obj.m_bWatchdogTimer = 0;
    m_pRec->m_calls.clear();
    EXPECT_EQ(0, m_obj.ResetKinetor());
    EXPECT_EQ(1u, Count("amp on"));
    EXPECT_EQ(1u, Count("watchdog 01"));
}

// What a "%s %ld" reading of the two pairs makes of a pinch file, as the C library does it.
struct PINCH_READ {
    int nResult;
    int nMin;
    int nMax;
};

PINCH_READ ScanfPinch(const std::string& strText, int nMin, int nMax)
{
    char szLabel1[256], szLabel2[256];
    long n1 = 0, n2 = 0;
    const int nFields =
        sscanf(strText.c_str(), "%255s %ld %255s %ld", szLabel1, &n1, szLabel2, &n2);
    PINCH_READ r = {0, nMin, nMax};
    if (nFields >= 2)
        r.nMin = (int)(int32_t)(uint32_t)(unsigned long)n1;
    if (nFields == 4) {
        r.nMax = (int)(int32_t)(uint32_t)(unsigned long)n2;
        r.nResult = 1;
    }
    return r;
}

TEST_F(ForceCommandTest, PinchNumbersAreReadAsTheLibraryReadsALong)
{
    const char* apszTexts[] = {
        "PinchMin 100 \nPinchMax 900 \n",
        "PinchMin 100PinchMax 900",         // a number ends at its first non-digit
        "PinchMin 7x PinchMax 9\n",         // ... and the rest is the next label
        "PinchMin -5 PinchMax +12",
        "PinchMin 4294967291 \nPinchMax 4 \n",
        "PinchMin 3\n\n\n   PinchMax\t-0004",
        "A 1 B",
        "PinchMin x",
        "PinchMin - 5 PinchMax 6",
        "",
    };
    char szName[] = "Arm";
    for (const char* pszText : apszTexts) {
        ASSERT_TRUE(m_env.WriteFile("Pinch Calibration(Arm)", pszText));
        Data().nPinchMin = 111;
        Data().nPinchMax = 222;
        const PINCH_READ expected = ScanfPinch(pszText, 111, 222);
        EXPECT_EQ(expected.nResult, m_obj.ReadPinchParameters(szName)) << pszText;
        EXPECT_EQ(expected.nMin, Data().nPinchMin) << pszText;
        EXPECT_EQ(expected.nMax, Data().nPinchMax) << pszText;
    }

    // A number beyond the range of a long is held at the largest one, whose low 32 bits
    // are all ones.
    ASSERT_TRUE(m_env.WriteFile("Pinch Calibration(Arm)",
                                "PinchMin 99999999999999999999999 "
                                "PinchMax -99999999999999999999999\n"));
    EXPECT_EQ(1, m_obj.ReadPinchParameters(szName));
    EXPECT_EQ(-1, Data().nPinchMin);
    EXPECT_EQ(0, Data().nPinchMax);
}

// A device clock that moves one millisecond further at every reading, so that a 3000 ms
// timed loop runs out after a few thousand polls without any real waiting.
struct timespec g_tsStepping;
void SteppingClock(struct timespec* pts)
{
    g_tsStepping.tv_nsec += 1000000L;
    if (g_tsStepping.tv_nsec >= 1000000000L) {
        g_tsStepping.tv_nsec -= 1000000000L;
        g_tsStepping.tv_sec++;
    }
    *pts = g_tsStepping;
}

class ForceEnableWaitTest : public ForceCommandTest {
protected:
    void SetUp() override {
        ForceCommandTest::SetUp();
        struct timespec now;
        ReadDeviceClock(&now);
        g_tsStepping.tv_sec = now.tv_sec + 200000;
        g_tsStepping.tv_nsec = 0;
        SetDeviceClock(SteppingClock);
    }
    void TearDown() override { SetDeviceClock(nullptr); }

    double ClockSeconds() const { return (double)g_tsStepping.tv_sec + g_tsStepping.tv_nsec / 1e9; }
};


TEST_F(ForceEnableWaitTest, FaultThatStaysFailsTheEnableAfterThreeSeconds)
{
    m_pRec->m_nDeviceFault = 1;
    const double fStart = ClockSeconds();
    EXPECT_EQ(-4, m_obj.EnableKinetorForces(1));
    const double fWaited = ClockSeconds() - fStart;
    EXPECT_GE(fWaited, 3.0);
    EXPECT_LT(fWaited, 3.1);
    EXPECT_EQ(0, m_obj.IsKinetorForcesEnabled());
    EXPECT_GT(m_pRec->m_nFaultPolls, 1000);
}

TEST_F(ForceEnableWaitTest, FaultThatClearsLetsTheEnableSucceed)
{
    m_pRec->m_nDeviceFault = 1;
    m_pRec->m_nFaultClearsAfter = 5;
    EXPECT_EQ(0, m_obj.EnableKinetorForces(1));
    EXPECT_EQ(5, m_pRec->m_nFaultPolls);
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
    EXPECT_EQ(0, m_obj.m_nDevFaultCnt);
    EXPECT_EQ(1u, Count("amp on"));
    EXPECT_EQ(0u, Count("amp off"));
}

TEST_F(ForceEnableWaitTest, WithoutWaitingTheFaultIsNotAsked)
{
    m_pRec->m_nDeviceFault = 1;
    EXPECT_EQ(0, m_obj.EnableKinetorForces(0));
    EXPECT_EQ(0, m_pRec->m_nFaultPolls);
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
}

}  // namespace
