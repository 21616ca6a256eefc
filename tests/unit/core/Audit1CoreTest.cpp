// Library-object behaviour checked value by value: the defaults of a fresh object, closing a
// device, the readers of the per-tick state, the fault filter's counted codes, the speed
// limit's boundary and the velocity filter at another rate.
#include <math.h>

#include <string>
#include <vector>

#include "DeviceDoubleFixture.h"
#include "config/KinetorDevice.h"

namespace {

using Audit1Test = DeviceDoubleTest;

// Records the order of the calls that closing a device makes, and outlives the model.
struct CALL_LOG {
    std::vector<std::string> calls;
    std::vector<bool> storeFlags;
};

class CLoggingFake : public CFakeHapticDevice {
public:
    CLoggingFake(char* pszName, _KINETOR_DEVICE_DATA* pDevData, CALL_LOG* pLog)
        : CFakeHapticDevice(pszName, pDevData), m_pLog(pLog) {}
    ~CLoggingFake() override { m_pLog->calls.push_back("delete"); }
    int ZeroTorques() override {
        m_pLog->calls.push_back("ZeroTorques");
        return -21;   // results are ignored when closing
    }
    int EnableAmplifiers(bool bOn) override {
        m_pLog->calls.push_back(bOn ? "AmpsOn" : "AmpsOff");
        return -21;
    }
    int CalculateJointAngles(const long*, float*, bool bStore) override {
        m_pLog->storeFlags.push_back(bStore);
        return 0;
    }
    int CalculateEndpointTransform(float*, float[4][4], bool bStore) override {
        m_pLog->storeFlags.push_back(bStore);
        return 0;
    }

private:
    CALL_LOG* m_pLog;
};

TEST(Audit1Defaults, FreshObjectStartsFromTheDocumentedValues)
{
    CScratchEnvironment env;
    ASSERT_TRUE(env.Ok());
    CIOLibAPI obj;
    EXPECT_EQ(3.14159f, obj.m_PI);
    EXPECT_EQ(6.28318f, obj.m_2PI);
    EXPECT_EQ(1.570795f, obj.m_hPI);
    EXPECT_EQ(360.0f / 6.28318f, obj.m_degConv);
    EXPECT_EQ(0, obj.m_nModelType);
    EXPECT_EQ(0, obj.m_nCardType);
    EXPECT_EQ(0u, obj.m_nUnit);
    EXPECT_EQ(0, obj.m_nChannel);
    EXPECT_EQ(1, obj.m_bRampForces);
    EXPECT_EQ(0, obj.m_bForcesEnabled);
    EXPECT_EQ(0, obj.m_bHasBeenReset);
    EXPECT_EQ(1, obj.m_bForceCheckEnabled);
    EXPECT_EQ(1, obj.m_bRampForcesEnabled);
    EXPECT_EQ(0.5f, obj.m_fRampForcesRate);
    EXPECT_EQ(4.0f, obj.m_fForceKickLimit);
    EXPECT_EQ(1440000.0f, obj.m_fMaxCartesianVelocitySquared);
    EXPECT_EQ(0.0f, obj.GetKinetorNominalMaxTorqueContinuousForce());
    EXPECT_EQ(0, obj.m_bTransformCoordinates);
    EXPECT_EQ(nullptr, obj.m_pDevice);
    EXPECT_STREQ("", obj.m_szKinetorName);
    EXPECT_STREQ("", obj.GetKinetorSerialNumber());
    EXPECT_STREQ("KINETOR Device", obj.GetKinetorModelType());

    const _KINETOR_DEVICE_DATA& d = *obj.GetMemberData();
    EXPECT_EQ(385.0f, d.fCcu);
    EXPECT_EQ(434.0f, d.fCfe);
    EXPECT_EQ(0.00392f, d.fAcu);
    EXPECT_EQ(25.0f, d.fTatm);
    EXPECT_EQ(5500.0f, d.fL1);
    EXPECT_EQ(5500.0f, d.fL2);
    EXPECT_EQ(0.0f, d.fTargetUpdateRate);
    EXPECT_EQ(0, d.nRuns);
    EXPECT_EQ(1.0f, d.fc1);
    EXPECT_EQ(1.0f, d.fc23);
    EXPECT_EQ(0.0f, d.fs23);
    EXPECT_EQ(1.0f, d.fFilterC0);
    EXPECT_EQ(0.0f, d.fFilterD1);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(1.0f, d.fReductionDirect[i]) << i;
        EXPECT_EQ(1.0f, d.fCPRToRadians[i]) << i;
        EXPECT_EQ(1.0f, d.fTtm[i]) << i;
        EXPECT_EQ(25.0f, d.fTcu[i]) << i;
        EXPECT_EQ(25.0f, d.fTfe[i]) << i;
        EXPECT_EQ(0, d.nMotorType[i]) << i;
    }
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            const float fExpected = (i == j) ? 1.0f : 0.0f;
            EXPECT_EQ(fExpected, d.fEndpointFrame[i][j]);
            EXPECT_EQ(fExpected, obj.m_matCoordTransform[i][j]);
            EXPECT_EQ(fExpected, obj.m_matCoordTransformInverse[i][j]);
        }
}

TEST_F(Audit1Test, ClosingStopsTheMotorsStoresTemperaturesAndFreesTheSlot)
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

TEST_F(Audit1Test, PureCalculationsLeaveTheDeviceStateAlone)
{
    CALL_LOG log;
    delete m_pFake;
    m_pFake = new CLoggingFake(m_obj.m_szKinetorName, m_obj.GetMemberData(), &log);
    m_obj.m_pDevice = m_pFake;
    long enc[6] = {0};
    float angles[6] = {0};
    float T[4][4];
    EXPECT_EQ(0, m_obj.CalculateJointAngles(enc, angles));
    EXPECT_EQ(0, m_obj.CalculateEndpointTransform(angles, T));
    const std::vector<bool> expected = {false, false};
    EXPECT_EQ(expected, log.storeFlags);
    // The log dies with this test; the model must not outlive it.
    m_obj.DeleteDevice(m_obj.m_pDevice);
    m_pFake = nullptr;
}

TEST_F(Audit1Test, VelocityReadersAndTheSixDofView)
{
    const float v[6] = {1.5f, -2.5f, 3.5f, 0.25f, -0.5f, 0.75f};
    memcpy(Data().fVelocity, v, sizeof(v));
    float a[3] = {9, 9, 9}, b[3] = {8, 8, 8}, six[6];
    EXPECT_EQ(0, m_obj.GetKinetorVel(a));
    EXPECT_EQ(0, m_obj.GetKinetorInstVel(b));
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(v[i], a[i]) << i;
        EXPECT_EQ(v[i], b[i]) << i;
    }
    // The angular part only for the 6-DOF model; the Altura here reports zeros.
    m_obj.m_nModelType = 1;
    EXPECT_EQ(0, m_obj.GetKinetorVel6DOF(six));
    EXPECT_EQ(-2.5f, six[1]);
    EXPECT_EQ(0.0f, six[3]);
    EXPECT_EQ(0.0f, six[5]);
    m_obj.m_nModelType = 4;
    EXPECT_EQ(0, m_obj.GetKinetorVel6DOF(six));
    EXPECT_EQ(0.25f, six[3]);
    EXPECT_EQ(-0.5f, six[4]);
    EXPECT_EQ(0.75f, six[5]);
    // Velocities are never moved into the application frame.
    float o[3] = {5, 6, 7}, x[3] = {0, 1, 0}, y[3] = {-1, 0, 0}, z[3] = {0, 0, 1};
    ASSERT_EQ(0, m_obj.SetKinetorCoordinateSystem(o, x, y, z));
    EXPECT_EQ(0, m_obj.GetKinetorVel(a));
    EXPECT_EQ(1.5f, a[0]);
}

TEST_F(Audit1Test, GimbalAnglesEncodersAndJacobian)
{
    ASSERT_EQ(1, m_obj.CheckForGimbal());   // channel 2
    const float q[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    memcpy(Data().fJointAngles, q, sizeof(q));
    float g[3];
    EXPECT_EQ(0, m_obj.GetGimbalEncoders(g));
    EXPECT_EQ(0.4f, g[0]);
    EXPECT_EQ(0.5f, g[1]);
    EXPECT_EQ(0.6f, g[2]);
    // The 6-DOF model shows its gimbal in the six-encoder view.
    m_obj.m_nModelType = 4;
    float theta[6];
    EXPECT_EQ(0, m_obj.GetKinetorEncoders6DOF(theta));
    EXPECT_EQ(0.1f, theta[0]);
    EXPECT_EQ(0.2f, theta[1]);
    EXPECT_EQ(3.14159f / 2.0f + 0.2f + 0.3f, theta[2]);
    EXPECT_EQ(0.4f, theta[3]);
    EXPECT_EQ(0.6f, theta[5]);
    // Other models keep their gimbal angles as they are.
    m_obj.m_nModelType = 1;
    float out[6];
    EXPECT_EQ(0, m_obj.GetJointAngles(out));
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(q[i], out[i]) << i;

    for (int i = 0; i < 6; i++)
        Data().lRawEncoders[i] = -300 + 7 * i;
    long enc[6] = {0};
    EXPECT_EQ(0, m_obj.GetEncoderValues(enc));
    EXPECT_EQ(-300, enc[0]);
    EXPECT_EQ(-265, enc[5]);

    for (int i = 0; i < 6; i++)
        for (int j = 0; j < 6; j++)
            Data().fJacobian[i][j] = (float)(i * 6 + j) + 0.25f;
    double J[6][6];
    EXPECT_EQ(0, m_obj.GetKinetorJacobian(J));
    EXPECT_EQ(0.25, J[0][0]);
    EXPECT_EQ(13.25, J[2][1]);
    EXPECT_EQ(35.25, J[5][5]);

    // Without a transform the stylus matrix is the endpoint frame itself.
    Data().fEndpointFrame[3][0] = 12.0f;
    Data().fEndpointFrame[0][1] = -0.5f;
    float T[4][4];
    EXPECT_EQ(0, m_obj.GetStylusMatrix(T));
    EXPECT_EQ(12.0f, T[3][0]);
    EXPECT_EQ(-0.5f, T[0][1]);
    EXPECT_EQ(1.0f, T[3][3]);
}

TEST_F(Audit1Test, EveryCountedFaultCodeFillsTheFilterButOnlyMinusFourRestartsTheRamp)
{
    for (int nCode : {-2, -28}) {
        SCOPED_TRACE(nCode);
        m_pFake->m_nDeviceFault = 0;
        EXPECT_EQ(0, m_obj.KinetorStatus());
        Updates(3);
        const int nRuns = Data().nRuns;
        m_obj.m_bRampForces = 0;
        m_pFake->m_nDeviceFault = nCode;
        for (int i = 0; i < 15; i++)
            EXPECT_EQ(0, m_obj.KinetorStatus()) << i;
        EXPECT_EQ(nCode, m_obj.KinetorStatus());
        EXPECT_EQ(0, m_obj.m_bRampForces);
        EXPECT_EQ(nRuns, Data().nRuns);
    }
    // A fault -4 restarts the ramp on its first reading, before the filter lets it through.
    m_pFake->m_nDeviceFault = 0;
    EXPECT_EQ(0, m_obj.KinetorStatus());
    m_pFake->m_nDeviceFault = -4;
    EXPECT_EQ(0, m_obj.KinetorStatus());
    EXPECT_EQ(1, m_obj.m_bRampForces);
    EXPECT_EQ(0, Data().nRuns);
    // -1 is not a counted fault: with the count at 1 it is neither counted nor reported.
    m_pFake->m_nDeviceFault = -1;
    EXPECT_EQ(0, m_obj.KinetorStatus());
    EXPECT_EQ(1, m_obj.m_nDevFaultCnt);
}

TEST_F(Audit1Test, SpeedExactlyAtTheLimitPasses)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(1));
    m_pFake->m_afVelocity[0] = 1200.0f;   // squared exactly 1440000
    Updates(150);
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
    EXPECT_EQ(150, Data().nRuns);
    // The angular part does not count towards the tip speed.
    m_pFake->m_afVelocity[0] = 0.0f;
    m_pFake->m_afVelocity[4] = 5000.0f;
    Updates(1);
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
}

TEST_F(Audit1Test, InputsDebounceAgainstAnyDifferingValue)
{
    // Readings that differ from the accepted value count together even when they differ
    // from each other; the tenth one is what gets accepted.
    m_pFake->m_nInkwell = 1;
    Updates(5);
    m_pFake->m_nInkwell = 2;
    Updates(4);
    EXPECT_EQ(0, m_obj.GetInkwellSwitch());
    Updates(1);
    EXPECT_EQ(2, m_obj.GetInkwellSwitch());
    EXPECT_EQ(0, m_obj.m_nInkwellSwitchCnt);
    // Switch 1 debounces on its own counter.
    m_pFake->m_anSwitch[1] = 1;
    Updates(10);
    EXPECT_EQ(1, m_obj.GetStylusSwitch(1));
    EXPECT_EQ(0, m_obj.GetStylusSwitch(0));
}

TEST_F(Audit1Test, VelocityFilterAtTwoKilohertz)
{
    m_obj.SetKinetorVelocityFilter(2000);
    const _KINETOR_DEVICE_DATA& d = Data();
    const double dB = tan(50.0 * 3.14159 / 2000.0);
    EXPECT_NEAR(dB, d.fB, 1e-6);
    EXPECT_NEAR(dB / (1.0 + dB), d.fFilterC0, 1e-6);
    EXPECT_NEAR(dB / (1.0 + dB), d.fFilterC1, 1e-6);
    EXPECT_NEAR((1.0 - dB) / (1.0 + dB), d.fFilterD1, 1e-6);
    EXPECT_EQ(50.0f, d.fCutoffFrequency);
    EXPECT_EQ(2000.0f, d.fTargetUpdateRate);
    EXPECT_EQ(2000.0f, d.fUpdateRate);
    EXPECT_EQ(2000.0f, d.fInstantaneousRate);
    EXPECT_EQ(1900.0f, d.fInstRateLowerLimit);
    EXPECT_EQ(2100.0f, d.fInstRateUpperLimit);
}

TEST_F(Audit1Test, HomogeneousPointsAreDividedByTheirWeight)
{
    // out_j = t[0][j] x + t[1][j] y + t[2][j] z + t[3][j], divided by the fourth column's sum.
    MATRIX t = {{2, 0, 0, 0}, {0, 3, 0, 1}, {0, 0, 4, 0}, {1, 2, 3, 2}};
    float p[3] = {1, 2, 3};
    m_obj.TransformPos(t, p);
    // w = 2 + 2 = 4; out = (2 + 1, 6 + 2, 12 + 3) / 4
    EXPECT_EQ(0.75f, p[0]);
    EXPECT_EQ(2.0f, p[1]);
    EXPECT_EQ(3.75f, p[2]);
    // Forces use the rotation part only, in the same row-vector convention.
    float f[3] = {1, 2, 3};
    m_obj.TransformForce(t, f);
    EXPECT_EQ(2.0f, f[0]);
    EXPECT_EQ(6.0f, f[1]);
    EXPECT_EQ(12.0f, f[2]);
}

TEST_F(Audit1Test, PinchAndModelQueries)
{
    const struct {
        int nOption, nPinch;
    } cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 0}};
    for (const auto& c : cases) {
        Data().nExtra6DOFOption = c.nOption;
        EXPECT_EQ(c.nPinch, m_obj.CheckForPinch()) << c.nOption;
        EXPECT_EQ(c.nOption, m_obj.WhichPinch());
    }
    const int anReset[6] = {0, 1, 1, 0, 1, 0};
    const int anCalib[6] = {0, 0, 0, 1, 0, 1};
    for (int nModel = 0; nModel <= 5; nModel++) {
        m_obj.m_nModelType = nModel;
        EXPECT_EQ(anReset[nModel], m_obj.IsKinetorResetSupported()) << nModel;
        EXPECT_EQ(anCalib[nModel], m_obj.IsCalibrationSupported()) << nModel;
    }
    // The status light exists on the Bravis only; there the model answers.
    m_obj.m_nModelType = 3;
    EXPECT_EQ(1, m_obj.IsStatusLightEnabled());
    EXPECT_EQ(1, m_obj.ReadStatusLight());
    EXPECT_EQ(0, m_obj.OverrideStatusLight(1));
    EXPECT_EQ(0, m_obj.RestoreStatusLight());
    m_obj.m_nModelType = 1;
    EXPECT_EQ(-10, m_obj.IsStatusLightEnabled());
    EXPECT_EQ(-10, m_obj.RestoreStatusLight());
    EXPECT_EQ(7, m_obj.GetHardwareRevNum());
    EXPECT_EQ(m_pFake, m_obj.GetConnectionData());
}

TEST(Audit1Serial, FireWireDevicesReportTheirSerialNumberText)
{
    CScratchEnvironment env;
    ASSERT_TRUE(env.Ok());
    CIOLibAPI obj;
    CKinetorDevice rec;
    rec.m_nCardType = 6;
    rec.m_n1394SerialNumber = 12345;   // first scheme: the number itself in eleven digits
    obj.LoadKinetorSerialNumber(&rec);
    EXPECT_STREQ("00000012345", obj.GetKinetorSerialNumber());
    // The same number on a parallel-port card is not a board serial number.
    rec.m_nCardType = 4;
    obj.LoadKinetorSerialNumber(&rec);
    EXPECT_STREQ("Unavailable", obj.GetKinetorSerialNumber());
}

}  // namespace
