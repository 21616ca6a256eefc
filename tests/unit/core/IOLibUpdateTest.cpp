// The per-tick update: debouncing, the fault filter, the speed limit, the rate window,
// coordinate frames, and the readers of the per-tick state.
#include <math.h>

#include "DeviceDoubleFixture.h"

namespace {

using UpdateTest = DeviceDoubleTest;

TEST_F(UpdateTest, SwitchesAreAcceptedAfterTenEqualReadings)
{
    // A glitch of nine updates is ignored.
    m_pFake->m_anSwitch[0] = 1;
    Updates(9);
    EXPECT_EQ(0, m_obj.GetStylusSwitch(0));
    m_pFake->m_anSwitch[0] = 0;
    Updates(1);
    EXPECT_EQ(0, m_obj.GetStylusSwitch(0));
    // Ten in a row are accepted on the tenth.
    m_pFake->m_anSwitch[0] = 1;
    Updates(9);
    EXPECT_EQ(0, m_obj.GetStylusSwitch(0));
    Updates(1);
    EXPECT_EQ(1, m_obj.GetStylusSwitch(0));
    EXPECT_EQ(0, m_obj.GetStylusSwitch(1));
    EXPECT_EQ(0, m_obj.GetStylusSwitch(2));
    EXPECT_EQ(0, m_obj.GetStylusSwitch(-1));

    // Presence and inkwell debounce independently; a raw value is taken as a byte.
    m_pFake->m_nPresence = 0x101;
    m_pFake->m_nInkwell = 1;
    Updates(10);
    EXPECT_EQ(1, m_obj.GetStylusPresence());
    EXPECT_EQ(1, m_obj.GetInkwellSwitch());
    m_pFake->m_nPresence = 0x100;
    Updates(10);
    EXPECT_EQ(0, m_obj.GetStylusPresence());
}

TEST_F(UpdateTest, FaultsReachTheCallerAfterSixteenInARow)
{
    m_pFake->m_nDeviceFault = -4;
    for (int i = 0; i < 15; i++)
        EXPECT_EQ(0, m_obj.KinetorStatus()) << i;
    EXPECT_EQ(-4, m_obj.KinetorStatus());
    EXPECT_EQ(1, m_obj.m_bRampForces);
    EXPECT_EQ(0, Data().nRuns);
    // An unknown code leaves the count, so the filtered status still passes it on.
    m_pFake->m_nDeviceFault = -5;
    EXPECT_EQ(-5, m_obj.KinetorStatus());
    // One clean reading resets the count; fifteen more faults stay hidden again.
    m_pFake->m_nDeviceFault = 0;
    EXPECT_EQ(0, m_obj.KinetorStatus());
    m_pFake->m_nDeviceFault = -13;
    for (int i = 0; i < 15; i++)
        EXPECT_EQ(0, m_obj.KinetorStatus()) << i;
    EXPECT_EQ(-13, m_obj.KinetorStatus());
    EXPECT_EQ(-13, m_obj.GetUnfilteredDeviceFault());
}

TEST_F(UpdateTest, OverspeedAfterTheGracePeriodDisablesForces)
{
    ASSERT_EQ(0, m_obj.EnableKinetorForces(1));
    ASSERT_EQ(0, Data().nRuns);
    m_pFake->m_afVelocity[0] = 1000.0f;
    m_pFake->m_afVelocity[1] = 800.0f;   // speed about 1281 > 1200
    Updates(101);
    EXPECT_EQ(1, m_obj.IsKinetorForcesEnabled());
    testing::internal::CaptureStderr();
    EXPECT_EQ(-13, m_obj.UpdateKinetor());
    std::string strErr = testing::internal::GetCapturedStderr();
    EXPECT_EQ("Posting max vel error, magnitude 1640000.000/1440000.000, 101 runs\n", strErr);
    EXPECT_EQ(0, m_obj.IsKinetorForcesEnabled());
    EXPECT_EQ(101, Data().nRuns);
    EXPECT_TRUE(m_env.Exists("KinetorTemperature(Arm)"));

    // With the check off the same speed passes.
    m_obj.EnableKinetorVelocityCheck(0);
    EXPECT_EQ(0, m_obj.UpdateKinetor());
    // A higher limit lets it through as well; a negative or undefined one is refused.
    m_obj.EnableKinetorVelocityCheck(1);
    EXPECT_EQ(0, m_obj.SetKinetorMaxVelocity(1300.0f));
    EXPECT_FLOAT_EQ(1300.0f, m_obj.GetKinetorMaxVelocity());
    EXPECT_EQ(0, m_obj.UpdateKinetor());
    EXPECT_EQ(-15, m_obj.SetKinetorMaxVelocity(-1.0f));
    EXPECT_EQ(-15, m_obj.SetKinetorMaxVelocity(NAN));
    EXPECT_FLOAT_EQ(1300.0f, m_obj.GetKinetorMaxVelocity());
}

TEST_F(UpdateTest, DeviceErrorsStopTheUpdateWithoutCounting)
{
    Updates(3);
    m_pFake->m_nFlushResult = -21;
    EXPECT_EQ(-21, m_obj.UpdateKinetor());
    EXPECT_EQ(3, Data().nRuns);
}

TEST_F(UpdateTest, RatesReportTheTargetUntilTwoUpdatesHaveRun)
{
    Data().fUpdateRate = 0.0f;
    Updates(1);
    EXPECT_EQ(1000.0f, m_obj.GetKinetorRate());
    EXPECT_EQ(1000.0f, m_obj.GetKinetorInstRate());
    // The update rate the device accepts resets the filter; a rejected one changes nothing.
    m_pFake->m_nUpdateRateResult = 0;
    EXPECT_EQ(0, m_obj.SetKinetorUpdateRate(500));
    EXPECT_EQ(500ul, m_pFake->m_nLastRate);
    EXPECT_FLOAT_EQ(500.0f, Data().fTargetUpdateRate);
    EXPECT_NEAR(tan(50.0 * 3.14159 / 500.0), Data().fB, 1e-6);
    EXPECT_FLOAT_EQ(400.0f, Data().fInstRateLowerLimit);
    EXPECT_EQ(-14, m_obj.SetKinetorUpdateRate(499));
    m_pFake->m_nUpdateRateResult = -26;
    EXPECT_EQ(-26, m_obj.SetKinetorUpdateRate(2000));
    EXPECT_FLOAT_EQ(500.0f, Data().fTargetUpdateRate);
    // The servo operations reach the model.
    EXPECT_EQ(0, m_obj.SubmitClient(1));
    EXPECT_TRUE(m_pFake->m_bLastSubmit);
    m_obj.Await();
    EXPECT_EQ(1, m_pFake->m_nAwait);
}

// Application coordinates of a device point for orthonormal axes: the origin is added first,
// then the point is expressed along the three axes.
void ExpectedAppPoint(const float* p, const float* o, const float* x, const float* y, const float* z,
                      double* q)
{
    const double s[3] = {(double)p[0] + o[0], (double)p[1] + o[1], (double)p[2] + o[2]};
    const float* axes[3] = {x, y, z};
    for (int k = 0; k < 3; k++)
        q[k] = s[0] * axes[k][0] + s[1] * axes[k][1] + s[2] * axes[k][2];
}

struct FRAME {
    float o[3], x[3], y[3], z[3];
};

// A rotation by the three angles, with y mirrored for a left-handed frame.
FRAME MakeFrame(double a, double b, double c, bool bLeft, float ox, float oy, float oz)
{
    const double ca = cos(a), sa = sin(a), cb = cos(b), sb = sin(b), cc = cos(c), sc = sin(c);
    // Rows of Rz(a) * Ry(b) * Rx(c) as the three axes.
    double R[3][3] = {{ca * cb, ca * sb * sc - sa * cc, ca * sb * cc + sa * sc},
                      {sa * cb, sa * sb * sc + ca * cc, sa * sb * cc - ca * sc},
                      {-sb, cb * sc, cb * cc}};
    FRAME f;
    for (int i = 0; i < 3; i++) {
        f.x[i] = (float)R[i][0];
        f.y[i] = (float)(bLeft ? -R[i][1] : R[i][1]);
        f.z[i] = (float)R[i][2];
    }
    f.o[0] = ox;
    f.o[1] = oy;
    f.o[2] = oz;
    return f;
}

TEST_F(UpdateTest, CoordinateFrameMapsPointsAndForcesAndBack)
{
    const FRAME frames[] = {
        MakeFrame(0.3, -0.7, 1.1, false, 5.0f, -2.0f, 7.5f),
        MakeFrame(2.0, 0.4, -0.2, true, -10.0f, 3.0f, 0.5f),
        {{1, 2, 3}, {0, 0, 1}, {0, -1, 0}, {1, 0, 0}},   // x along the device z axis
        {{0, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}},   // a plain mirror of y
    };
    for (const FRAME& f0 : frames) {
        FRAME f = f0;
        SCOPED_TRACE(f.x[0]);
        ASSERT_EQ(0, m_obj.SetKinetorCoordinateSystem(f.o, f.x, f.y, f.z));
        const float p[3] = {12.5f, -40.0f, 3.25f};
        for (int i = 0; i < 3; i++)
            Data().fEndpointFrame[3][i] = p[i];

        float q[3];
        ASSERT_EQ(0, m_obj.GetKinetorPos(q));
        double expected[3];
        ExpectedAppPoint(p, f.o, f.x, f.y, f.z, expected);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(expected[i], q[i], 1e-3) << i;

        // The inverse brings the point back.
        m_obj.TransformPos(m_obj.m_matCoordTransformInverse, q);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(p[i], q[i], 1e-3) << i;

        // Forces rotate without the origin, and back again.
        float force[3] = {1.5f, -2.0f, 0.25f};
        const float zero[3] = {0, 0, 0};
        double fExpected[3];
        ExpectedAppPoint(force, zero, f.x, f.y, f.z, fExpected);
        m_obj.TransformForce(m_obj.m_matCoordTransform, force);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(fExpected[i], force[i], 1e-4) << i;
        m_obj.TransformForce(m_obj.m_matCoordTransformInverse, force);
        EXPECT_NEAR(1.5f, force[0], 1e-4);
        EXPECT_NEAR(-2.0f, force[1], 1e-4);
        EXPECT_NEAR(0.25f, force[2], 1e-4);
    }
}

TEST_F(UpdateTest, FrameExamplesAndStylusMatrix)
{
    float o[3] = {5, 0, 0}, x[3] = {1, 0, 0}, y[3] = {0, 1, 0}, z[3] = {0, 0, 1};
    m_obj.SetKinetorCoordinateSystem(o, x, y, z);
    float q[3];
    m_obj.GetKinetorPos(q);
    EXPECT_FLOAT_EQ(5.0f, q[0]);
    EXPECT_FLOAT_EQ(0.0f, q[1]);

    float o2[3] = {0, 0, 0}, x2[3] = {0, 1, 0}, y2[3] = {-1, 0, 0};
    m_obj.SetKinetorCoordinateSystem(o2, x2, y2, z);
    Data().fEndpointFrame[3][0] = 1.0f;
    m_obj.GetKinetorPos(q);
    EXPECT_NEAR(0.0f, q[0], 1e-6);
    EXPECT_NEAR(-1.0f, q[1], 1e-6);
    EXPECT_NEAR(0.0f, q[2], 1e-6);

    // The stylus matrix is the endpoint frame followed by the application frame.
    float T[4][4];
    ASSERT_EQ(0, m_obj.GetStylusMatrix(T));
    EXPECT_NEAR(-1.0f, T[3][1], 1e-6);
    EXPECT_NEAR(1.0f, T[3][3], 1e-6);
    // Without a gimbal there is no stylus orientation.
    m_obj.m_bGimbalPresent = 0;
    T[0][0] = 42.0f;
    EXPECT_EQ(-3, m_obj.GetStylusMatrix(T));
    float g[3] = {9, 9, 9};
    EXPECT_EQ(-3, m_obj.GetGimbalEncoders(g));
    EXPECT_EQ(42.0f, T[0][0]);
    EXPECT_EQ(9.0f, g[0]);

    // A singular homogeneous coordinate does not divide by zero.
    MATRIX m = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 0}};
    float pt[3] = {1e-8f, 0, 0};
    m_obj.TransformPos(m, pt);
    EXPECT_TRUE(std::isfinite(pt[0]));
    EXPECT_NEAR(1.0f, pt[0], 1e-3);
}

TEST_F(UpdateTest, JointAngleViewsPerModel)
{
    const float a[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    memcpy(Data().fJointAngles, a, sizeof(a));
    const float pi = 3.14159f;
    float out[6];
    m_obj.m_nModelType = 3;
    m_obj.GetJointAngles(out);
    EXPECT_FLOAT_EQ(0.4f - pi, out[3]);
    EXPECT_FLOAT_EQ(pi - 0.5f, out[4]);
    EXPECT_FLOAT_EQ(0.6f - pi, out[5]);
    m_obj.m_nModelType = 5;
    m_obj.GetJointAngles(out);
    EXPECT_FLOAT_EQ(0.4f + pi, out[3]);
    EXPECT_FLOAT_EQ(-(pi + 0.5f), out[4]);
    EXPECT_FLOAT_EQ(0.2f, out[1]);
    m_obj.GetKinetorEncoders6DOF(out);
    EXPECT_FLOAT_EQ(pi / 2 + 0.5f, out[2]);
    EXPECT_EQ(0.0f, out[3]);
    m_obj.GetKinetorEncoders(out);
    EXPECT_FLOAT_EQ(0.5f, out[2]);

    long enc[6] = {-1, -1, -1, -1, -1, -1};
    for (int i = 0; i < 6; i++)
        Data().lRawEncoders[i] = 100 + i;
    m_obj.m_bGimbalPresent = 0;
    m_obj.GetEncoderValues(enc);
    EXPECT_EQ(102, enc[2]);
    EXPECT_EQ(-1, enc[3]);
}

TEST_F(UpdateTest, InputsDebounceAgainstAnyDifferingValue)
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

TEST_F(UpdateTest, EveryCountedFaultCodeFillsTheFilterButOnlyMinusFourRestartsTheRamp)
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

TEST_F(UpdateTest, SpeedExactlyAtTheLimitPasses)
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

TEST_F(UpdateTest, RateWindowFollowsTheVelocityFilterRate)
{
    m_obj.SetKinetorVelocityFilter(2000);
    const _KINETOR_DEVICE_DATA& d = Data();
    EXPECT_EQ(50.0f, d.fCutoffFrequency);
    EXPECT_EQ(2000.0f, d.fTargetUpdateRate);
    EXPECT_EQ(2000.0f, d.fUpdateRate);
    EXPECT_EQ(2000.0f, d.fInstantaneousRate);
    EXPECT_EQ(1900.0f, d.fInstRateLowerLimit);
    EXPECT_EQ(2100.0f, d.fInstRateUpperLimit);
}

TEST_F(UpdateTest, PureCalculationsLeaveTheDeviceStateAlone)
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

TEST_F(UpdateTest, VelocityReadersAndTheSixDofView)
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

TEST_F(UpdateTest, GimbalAnglesEncodersAndJacobian)
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

TEST_F(UpdateTest, HomogeneousPointsAreDividedByTheirWeight)
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

}  // namespace
