// The per-tick update, the state readers and the application's coordinate frame.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "core/IOLibAPI.h"
#include "device/HapticDevice.h"
#include "platform/TimeSample.h"
#include "platform/Trace.h"

namespace {

// A changed input must hold this many updates in a row before it is believed.
const int kDebounceCount = 10;
// Consecutive fault readings before a fault reaches the caller.
const int kDevFaultFilter = 16;
// Updates after a counter reset during which the arm may still be settling.
const int kVelocityGraceRuns = 100;

// The device's code for a link that stopped answering.
const int kLinkLostFault = -28;

bool IsCountedFault(int e) { return e == -2 || e == -4 || e == -13 || e == kLinkLostFault; }

// Result for a coordinate frame that cannot be built.
const int kBadFrame = -9;
// Two axes closer to parallel than this (sine of the angle between them) span no frame.
const float kParallelSine = 1e-6f;

float Length3(const float* v) { return sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// A frame the transform can be built from: finite numbers, no zero axis, no two axes
// parallel. Anything else would install a matrix of NaN that stays for good.
bool IsUsableFrame(const float* o, const float* x, const float* y, const float* z)
{
    const float* apAxes[3] = {x, y, z};
    float afLength[3];
    for (int i = 0; i < 3; i++) {
        if (!isfinite(o[i]))
            return false;
        afLength[i] = Length3(apAxes[i]);
        if (!isfinite(afLength[i]) || afLength[i] <= 0.0f)
            return false;
    }
    for (int i = 0; i < 3; i++) {
        const float* a = apAxes[i];
        const float* b = apAxes[(i + 1) % 3];
        const float c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                            a[0] * b[1] - a[1] * b[0]};
        if (!(Length3(c) > kParallelSine * afLength[i] * afLength[(i + 1) % 3]))
            return false;
    }
    return true;
}

bool IsFiniteMatrix(MATRIX m)
{
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            if (!isfinite(m[i][j]))
                return false;
    return true;
}

}  // namespace

int CIOLibAPI::UpdateKinetor()
{
    const int e = UpdateKinetorSteps();
    if (m_pDevice == nullptr)
        return e;
    // Every exchanged tick goes in, the failed ones too: they are what a trip is about.
    RecordBlackBoxTick();
    if (e == -13)
        m_blackBox.Trip(BLACK_BOX_OVERSPEED, m_szKinetorName);
    else if (e == 0)
        m_blackBox.Rearm(BLACK_BOX_OVERSPEED);
    return e;
}

void CIOLibAPI::RecordBlackBoxTick()
{
    struct timespec ts;
    ReadDeviceClock(&ts);
    const int64_t nTimeUs = (int64_t)ts.tv_sec * 1000000LL + (int64_t)ts.tv_nsec / 1000;
    float afPos[3];
    GetKinetorPos(afPos);
    const int nFault = m_pDevice->GetDeviceFault();
    m_blackBox.BeginTick(nTimeUs, afPos, m_devData.nMotorDACValues, nFault);
}

int CIOLibAPI::UpdateKinetorSteps()
{
    _KINETOR_DEVICE_DATA& d = m_devData;

    m_timer.Update();
    if (d.nRuns > 1) {
        d.fUpdateRate = m_timer.GetUpdateRate();
        d.fInstantaneousRate = m_timer.GetUpdateRateInst();
    } else {
        d.fUpdateRate = d.fTargetUpdateRate;
        d.fInstantaneousRate = d.fTargetUpdateRate;
    }

    if (m_pDevice == nullptr)
        return -10;

    int e = m_pDevice->FlushConnection();
    if (e != 0)
        return e;
    e = m_pDevice->UpdateKinetorJointAngles();
    if (e != 0)
        return e;
    e = m_pDevice->UpdateKinetorEndpointTransform();
    if (e != 0)
        return e;
    e = m_pDevice->UpdateKinetorJacobian();
    if (e != 0)
        return e;
    ReadKinetorSwitch();
    ReadKinetorPresence();
    ReadKinetorInkwell();
    e = m_pDevice->CalculateKinetorVelocity(m_bVelocityCheckEnabled);
    if (e != 0) {
        // -13 tells the caller that forces are off: a gimbal spinning too fast is an
        // overspeed like a fast tip, so the motors stop the same way.
        if (e == -13)
            DisableKinetorForces();
        return e;
    }

    if (m_bVelocityCheckEnabled) {
        float s = d.fVelocity[0] * d.fVelocity[0] + d.fVelocity[1] * d.fVelocity[1] +
                  d.fVelocity[2] * d.fVelocity[2];
        if (s > m_fMaxCartesianVelocitySquared && d.nRuns > kVelocityGraceRuns) {
            fprintf(stderr, "Posting max vel error, magnitude %.3f/%.3f, %d runs\n", (double)s,
                    (double)m_fMaxCartesianVelocitySquared, d.nRuns);
            LOG("Posting max vel error, magnitude %.3f/%.3f, %d runs\n", (double)s,
                (double)m_fMaxCartesianVelocitySquared, d.nRuns);
            DisableKinetorForces();
            return -13;
        }
    }

    d.nRuns++;
    return 0;
}

void CIOLibAPI::Debounce(unsigned char nRaw, unsigned char& nAccepted, int& nCount)
{
    if (nRaw != nAccepted) {
        nCount++;
        if (nCount >= kDebounceCount) {
            nAccepted = nRaw;
            nCount = 0;
        }
    } else {
        nCount = 0;
    }
}

int CIOLibAPI::ReadKinetorSwitch()
{
    if (m_pDevice == nullptr)
        return 0;
    for (int i = 0; i < 2; i++)
        Debounce((unsigned char)m_pDevice->GetSwitch(i), m_abStylusSwitch[i], m_anStylusSwitchCnt[i]);
    return 0;
}

int CIOLibAPI::ReadKinetorPresence()
{
    if (m_pDevice == nullptr)
        return 0;
    Debounce((unsigned char)m_pDevice->GetPresence(), m_bStylusPresence, m_nStylusPresenceCnt);
    return 0;
}

int CIOLibAPI::ReadKinetorInkwell()
{
    if (m_pDevice == nullptr)
        return 0;
    Debounce((unsigned char)m_pDevice->GetInkwell(), m_bInkwellSwitch, m_nInkwellSwitchCnt);
    return 0;
}

int CIOLibAPI::KinetorStatus()
{
    if (m_pDevice == nullptr)
        return -10;
    int e = m_pDevice->GetDeviceFault();
    if (IsCountedFault(e)) {
        // Saturates rather than wrapping after a very long fault.
        if (m_nDevFaultCnt < kDevFaultFilter)
            m_nDevFaultCnt++;
    } else if (e == 0) {
        m_nDevFaultCnt = 0;
    }
    if (e == -4) {
        m_bRampForces = 1;
        m_devData.nRuns = 0;
        LOG("Device Fault occurred.  Ramping up forces.\n");
    }
    // A link that answers again must not bring the last force back at once: like a device
    // fault, its recovery starts the ramp from zero.
    if (e == kLinkLostFault) {
        m_bLinkLost = 1;
    } else if (m_bLinkLost) {
        m_bLinkLost = 0;
        m_bRampForces = 1;
        m_devData.nRuns = 0;
    }
    const int nReported = (m_nDevFaultCnt >= kDevFaultFilter) ? e : 0;
    if (nReported == kLinkLostFault)
        m_blackBox.Trip(BLACK_BOX_LINK_LOST, m_szKinetorName);
    else if (nReported == 0)
        m_blackBox.Rearm(BLACK_BOX_LINK_LOST);
    return nReported;
}

void CIOLibAPI::SetKinetorVelocityFilter(ULONG nUpdateRate)
{
    _KINETOR_DEVICE_DATA& d = m_devData;
    const float fRate = (float)nUpdateRate;
    float fUpdatePeriod = 1.0f / fRate;
    d.fCutoffFrequency = 50.0f;
    d.fB = (float)tan(50.0f * m_PI * fUpdatePeriod);
    d.fFilterC0 = d.fFilterC1 = d.fB / (1.0f + d.fB);
    d.fFilterD1 = (1.0f - d.fB) / (1.0f + d.fB);
    d.fTargetUpdateRate = fRate;
    d.fUpdateRate = fRate;
    d.fInstantaneousRate = fRate;
    // In float: an unsigned subtraction would wrap for rates below 100.
    d.fInstRateLowerLimit = fRate - 100.0f;
    d.fInstRateUpperLimit = fRate + 100.0f;
}

int CIOLibAPI::GetKinetorPos(float* pos)
{
    for (int i = 0; i < 3; i++)
        pos[i] = m_devData.fEndpointFrame[3][i];
    if (m_bTransformCoordinates)
        TransformPos(m_matCoordTransform, pos);
    return 0;
}

int CIOLibAPI::GetKinetorVel(float* vel)
{
    for (int i = 0; i < 3; i++)
        vel[i] = m_devData.fVelocity[i];
    return 0;
}

int CIOLibAPI::GetKinetorInstVel(float* vel) { return GetKinetorVel(vel); }

int CIOLibAPI::GetKinetorVel6DOF(float* vel)
{
    for (int i = 0; i < 3; i++)
        vel[i] = m_devData.fVelocity[i];
    for (int i = 3; i < 6; i++)
        vel[i] = (m_nModelType == 4) ? m_devData.fVelocity[i] : 0.0f;
    return 0;
}

float CIOLibAPI::GetKinetorRate() { return m_devData.fUpdateRate; }

float CIOLibAPI::GetKinetorInstRate() { return m_devData.fInstantaneousRate; }

int CIOLibAPI::GetStylusSwitch(int switchNum)
{
    if (switchNum == 0 || switchNum == 1)
        return m_abStylusSwitch[switchNum];
    return 0;
}

int CIOLibAPI::GetStylusPresence() { return m_bStylusPresence; }

int CIOLibAPI::GetInkwellSwitch() { return m_bInkwellSwitch; }

int CIOLibAPI::GetStylusMatrix(float T[4][4])
{
    if (!m_bGimbalPresent)
        return -3;
    if (m_bTransformCoordinates) {
        MultiplyMatrix(m_devData.fEndpointFrame, m_matCoordTransform, T);
    } else {
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++)
                T[i][j] = m_devData.fEndpointFrame[i][j];
    }
    return 0;
}

int CIOLibAPI::GetJointAngles(float* aJointAngles)
{
    for (int i = 0; i < 6; i++)
        aJointAngles[i] = m_devData.fJointAngles[i];
    // The gimbals of these two models measure from a different zero; applications see the
    // angles as on the other models.
    if (m_nModelType == 3) {
        aJointAngles[3] = aJointAngles[3] - m_PI;
        aJointAngles[4] = m_PI - aJointAngles[4];
        aJointAngles[5] = aJointAngles[5] - m_PI;
    } else if (m_nModelType == 5) {
        aJointAngles[3] = aJointAngles[3] + m_PI;
        aJointAngles[4] = -(m_PI + aJointAngles[4]);
        aJointAngles[5] = aJointAngles[5] + m_PI;
    }
    return 0;
}

int CIOLibAPI::GetKinetorEncoders(float* theta)
{
    const float* a = m_devData.fJointAngles;
    theta[0] = a[0];
    theta[1] = a[1];
    theta[2] = a[1] + a[2];
    return 0;
}

int CIOLibAPI::GetKinetorEncoders6DOF(float* theta)
{
    const float* a = m_devData.fJointAngles;
    theta[0] = a[0];
    theta[1] = a[1];
    theta[2] = m_PI / 2.0f + a[1] + a[2];
    for (int i = 3; i < 6; i++)
        theta[i] = (m_nModelType == 4) ? a[i] : 0.0f;
    return 0;
}

int CIOLibAPI::GetGimbalEncoders(float* theta)
{
    if (!m_bGimbalPresent)
        return -3;
    for (int i = 0; i < 3; i++)
        theta[i] = m_devData.fJointAngles[3 + i];
    return 0;
}

int CIOLibAPI::GetEncoderValues(long* encoders)
{
    const int n = m_bGimbalPresent ? 6 : 3;
    for (int i = 0; i < n; i++)
        encoders[i] = m_devData.lRawEncoders[i];
    return 0;
}

int CIOLibAPI::GetKinetorJacobian(double T[6][6])
{
    for (int i = 0; i < 6; i++)
        for (int j = 0; j < 6; j++)
            T[i][j] = (double)m_devData.fJacobian[i][j];
    return 0;
}

int CIOLibAPI::CalculateJointAngles(long* lRawEncoders, float* fJointAngles)
{
    if (m_pDevice == nullptr)
        return -10;
    return m_pDevice->CalculateJointAngles(lRawEncoders, fJointAngles, false);
}

int CIOLibAPI::CalculateEndpointTransform(float* fJointAngles, float T[4][4])
{
    if (m_pDevice == nullptr)
        return -10;
    return m_pDevice->CalculateEndpointTransform(fJointAngles, T, false);
}

void CIOLibAPI::IdentityMatrix(MATRIX m)
{
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            m[i][j] = (i == j) ? 1.0f : 0.0f;
}

void CIOLibAPI::MultiplyMatrix(MATRIX m1, MATRIX m2, MATRIX res)
{
    // Through a temporary, so that the result may be one of the operands.
    MATRIX tmp;
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            float s = 0.0f;
            for (int k = 0; k < 4; k++)
                s += m1[i][k] * m2[k][j];
            tmp[i][j] = s;
        }
    }
    memcpy(res, tmp, sizeof(tmp));
}

void CIOLibAPI::TransformPos(MATRIX t, float* pos)
{
    const float x = pos[0], y = pos[1], z = pos[2];
    float out[3];
    for (int j = 0; j < 3; j++)
        out[j] = t[0][j] * x + t[1][j] * y + t[2][j] * z + t[3][j];
    float w = t[0][3] * x + t[1][3] * y + t[2][3] * z + t[3][3];
    if (w == 0.0f)
        w = 0.00000001f;
    for (int j = 0; j < 3; j++)
        pos[j] = out[j] / w;
}

void CIOLibAPI::TransformForce(MATRIX t, float* force)
{
    const float f0 = force[0], f1 = force[1], f2 = force[2];
    float out[3];
    for (int i = 0; i < 3; i++)
        out[i] = t[0][i] * f0 + t[1][i] * f1 + t[2][i] * f2;
    for (int i = 0; i < 3; i++)
        force[i] = out[i];
}

int CIOLibAPI::SetKinetorCoordinateSystem(float* o, float* x, float* y, float* z)
{
    // A refused frame leaves the one installed before in place.
    if (!IsUsableFrame(o, x, y, z))
        return kBadFrame;
    MATRIX T, Rz, A, Ry, B, Rx, C, mTransform, mInverse;

    IdentityMatrix(T);
    T[3][0] = o[0];
    T[3][1] = o[1];
    T[3][2] = o[2];
    T[3][3] = 1.0f;

    const float r = sqrtf(x[0] * x[0] + x[1] * x[1]);
    IdentityMatrix(Rz);
    if (r != 0.0f) {
        const float c = x[0] / r, s = x[1] / r;
        Rz[0][0] = c;
        Rz[0][1] = -s;
        Rz[1][0] = s;
        Rz[1][1] = c;
    }
    MultiplyMatrix(T, Rz, A);

    const float R = sqrtf(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    IdentityMatrix(Ry);
    Ry[0][0] = r / R;
    Ry[0][2] = -x[2] / R;
    Ry[2][0] = x[2] / R;
    Ry[2][2] = r / R;
    MultiplyMatrix(A, Ry, B);

    IdentityMatrix(Rx);
    float sinTheta, cosTheta;
    if (r == 0.0f) {
        const float d = -z[0] * x[2] / R;
        const float h = sqrtf(d * d + z[1] * z[1]);
        sinTheta = z[1] / h;
        cosTheta = d / h;
    } else {
        const float d = z[1] * x[0] - z[0] * x[1];
        const float h = sqrtf(d * d + z[2] * z[2] * R * R);
        sinTheta = d / h;
        cosTheta = z[2] * R / h;
    }
    Rx[1][1] = cosTheta;
    Rx[1][2] = sinTheta;
    Rx[2][1] = -sinTheta;
    Rx[2][2] = cosTheta;

    const float zCrossX[3] = {x[2] * z[1] - z[2] * x[1], z[2] * x[0] - x[2] * z[0],
                              x[1] * z[0] - z[1] * x[0]};
    const bool bRightHanded = zCrossX[0] * y[0] + zCrossX[1] * y[1] + zCrossX[2] * y[2] > 0.0f;

    MultiplyMatrix(B, Rx, C);
    if (bRightHanded) {
        memcpy(mTransform, C, sizeof(C));
    } else {
        MATRIX M;
        IdentityMatrix(M);
        M[1][1] = -1.0f;
        MultiplyMatrix(C, M, mTransform);
    }

    for (int j = 0; j < 3; j++) {
        mInverse[0][j] = x[j];
        mInverse[1][j] = y[j];
        mInverse[2][j] = z[j];
        mInverse[3][j] = -o[j];
    }
    mInverse[0][3] = mInverse[1][3] = mInverse[2][3] = 0.0f;
    mInverse[3][3] = 1.0f;

    // Huge but finite axes can still overflow on the way.
    if (!IsFiniteMatrix(mTransform))
        return kBadFrame;
    memcpy(m_matCoordTransform, mTransform, sizeof(mTransform));
    memcpy(m_matCoordTransformInverse, mInverse, sizeof(mInverse));
    m_bTransformCoordinates = 1;
    return 0;
}
