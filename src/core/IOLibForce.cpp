// The path from an application's force request to the motors, and the checks that keep
// the arm and its user safe on the way: watchdog, fault filter, temperature guard, force
// kick and ramp.
#include <math.h>
#include <string.h>

#include "core/IOLibAPI.h"
#include "device/HapticDevice.h"
#include "platform/KinetorMutex.h"
#include "platform/TimeSample.h"
#include "platform/Trace.h"

namespace {

// How long enabling forces waits for the amplifiers to report no fault, in milliseconds.
const int kEnableTimeoutMs = 3000;
// A drive ratio this large marks a model whose encoders mean nothing before homing.
const float kResetRequiredReduction = 32767.0f;

float Length3(const float* v) { return sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Scales v (three values) to length fLimit, keeping its direction.
void ClampLength3(float* v, float fLength, float fLimit)
{
    const float k = fLimit / fLength;
    v[0] *= k;
    v[1] *= k;
    v[2] *= k;
}

float SaturationPreset(int nMotorType, float fCurrent)
{
    switch (nMotorType) {
    case 15: return 6.75f;
    case 7: return 66.9f;
    case 8: return 63.0f;
    case 20: return 241.0f;
    case 90: return 1070.0f;
    default: return fCurrent;
    }
}

}  // namespace

void CIOLibAPI::ZeroMotionState()
{
    _KINETOR_DEVICE_DATA& d = m_devData;
    for (int i = 0; i < 6; i++) {
        d.fJointAngles[i] = 0.0f;
        d.fJointVelocity[i] = 0.0f;
        d.fJointTorques[i] = 0.0f;
        d.fMotorAngles[i] = 0.0f;
        d.fLastMotorAngles[i] = 0.0f;
        d.lRawEncoders[i] = 0;
        d.lLastRawEncoders[i] = 0;
        d.fRawMotorVelocity[i] = 0.0f;
        d.fLastRawMotorVelocity[i] = 0.0f;
        d.fSmoothedMotorVelocity[i] = 0.0f;
        d.fLastSmoothedMotorVelocity[i] = 0.0f;
        d.fMotorTorques[i] = 0.0f;
        d.nMotorDACValues[i] = 0;
    }
}

// Called without the device lock held: it takes this device's lock for its own steps and
// each device's lock in turn while it feeds the watchdogs, so that the servo thread keeps
// ticking during the wait of up to three seconds, and two threads enabling two devices at
// once cannot deadlock.
int CIOLibAPI::EnableKinetorForces(BOOLEAN bWait)
{
    {
        CKinetorLock lock(m_mutexDevice);
        if (m_bForcesEnabled)
            return 0;
        if (m_pDevice == nullptr)
            return -10;
        if (!m_bHasBeenReset && m_devData.fReductionDirect[0] >= kResetRequiredReduction)
            return -16;

        m_devData.nRuns = 0;
        m_bRampForces = 1;

        int e = m_pDevice->ZeroTorques();
        if (e != 0)
            return e;
        if (!m_bWatchdogTimer) {
            e = m_pDevice->EnableAmplifiers(true);
            if (e != 0)
                return e;
        }
        m_bForcesEnabled = 1;
    }

    CTimedLoop loop(kEnableTimeoutMs, 0);
    bool bDevFault = false;
    do {
        // Every device with forces on needs its watchdog fed while this one waits.
        for (int i = 0; i < m_kinetorArray.GetSize(); i++) {
            CIOLibAPI* p = static_cast<CIOLibAPI*>(m_kinetorArray.GetAt(i));
            if (p == nullptr)
                continue;
            CKinetorLock lock(p->m_mutexDevice);
            if (p->m_bForcesEnabled && p->m_pDevice != nullptr)
                p->m_pDevice->EnableWatchDog(p->m_bWatchdogTimer != 0, false);
        }
        if (!bWait)
            break;
        CKinetorLock lock(m_mutexDevice);
        bDevFault = m_pDevice->GetDeviceFault() != 0;
    } while (!loop.IsExpired() && bDevFault);

    CKinetorLock lock(m_mutexDevice);
    if (bDevFault) {
        // The handshake has left the amplifiers switched on; an enable that failed must not
        // leave them so, since a later disable sees no forces to turn off. The results are
        // not reported: the fault itself is what the caller has to hear about.
        m_pDevice->ZeroTorques();
        m_pDevice->EnableAmplifiers(false);
        m_bForcesEnabled = 0;
        return -4;
    }

    m_nDevFaultCnt = 0;
    for (int i = 0; i < 6; i++) {
        m_devData.fJointTorques[i] = 0.0f;
        m_devData.fMotorTorques[i] = 0.0f;
        m_devData.nMotorDACValues[i] = 0;
    }
    return 0;
}

int CIOLibAPI::DisableKinetorForces()
{
    CKinetorLock lock(m_mutexDevice);
    if (!m_bForcesEnabled)
        return 0;
    int nResult = 0;
    if (m_pDevice != nullptr) {
        // The amplifiers go off even when zeroing the torques failed: a caller told that
        // forces are off must be able to rely on it. The first error is the one reported.
        nResult = m_pDevice->ZeroTorques();
        const int e = m_pDevice->EnableAmplifiers(false);
        if (nResult == 0)
            nResult = e;
    }
    m_nDevFaultCnt = 0;
    for (int i = 0; i < 6; i++) {
        m_devData.fJointTorques[i] = 0.0f;
        m_devData.fMotorTorques[i] = 0.0f;
        m_devData.nMotorDACValues[i] = 0;
    }
    WriteMotorTemperatures();
    m_bForcesEnabled = 0;
    return nResult;
}

int CIOLibAPI::CommandPrelude()
{
    if (!m_bForcesEnabled)
        return -12;
    if (m_pDevice == nullptr)
        return -10;
    if (m_bWatchdogTimer)
        m_pDevice->EnableWatchDog(true, false);
    int e = KinetorStatus();
    if (e != 0)
        return e;
    if (m_bMotorsWarmError) {
        // The pause since the refusal counts as cooling time.
        m_bMotorsWarmError = 0;
        ReadMotorTemperatures();
    }
    if (m_bTempCheckEnabled) {
        int w = m_pDevice->CheckKinetorTemperature();
        if (w != 0) {
            DisableKinetorForces();
            WriteMotorTemperatures();
            m_bMotorsWarmError = 1;
            m_blackBox.Trip(BLACK_BOX_TEMPERATURE, m_szKinetorName);
            return -1;
        }
        m_blackBox.Rearm(BLACK_BOX_TEMPERATURE);
    }
    return 0;
}

int CIOLibAPI::SendKinetorForce(float* f)
{
    float af[6] = {f[0], f[1], f[2], 0.0f, 0.0f, 0.0f};
    return SendKinetorForce6DOF(af);
}

int CIOLibAPI::SendKinetorForce6DOF(float* f)
{
    int e = CommandPrelude();
    if (e != 0)
        return e;
    _KINETOR_DEVICE_DATA& d = m_devData;

    if (m_nModelType != 4)
        f[3] = f[4] = f[5] = 0.0f;

    if (m_pDevice->CheckRampForces()) {
        m_bRampForces = 1;
        d.nRuns = 0;
    }

    if (m_bForceKickSafetyEnabled) {
        const float diff[3] = {f[0] - m_fForce[0], f[1] - m_fForce[1], f[2] - m_fForce[2]};
        if (Length3(diff) > m_fForceKickLimit) {
            if (!m_bRampForcesEnabled) {
                m_blackBox.Trip(BLACK_BOX_FORCE_KICK, m_szKinetorName);
                return -7;
            }
            if (!m_bRampForces) {
                m_bRampForces = 1;
                d.nRuns = 0;
            }
        } else {
            m_blackBox.Rearm(BLACK_BOX_FORCE_KICK);
        }
    }

    if (m_bRampForcesEnabled && m_bRampForces) {
        const float L = (float)d.nRuns * m_fRampForcesRate / 1000.0f;
        const float F = Length3(f);
        const float T = Length3(f + 3);
        if (L > F && L > T) {
            m_bRampForces = 0;
        } else {
            if (F > L)
                ClampLength3(f, F, L);
            if (T > L)
                ClampLength3(f + 3, T, L);
        }
    }

    e = m_pDevice->CalculateJointTorques(f, d.fJointTorques);
    if (e != 0)
        return e;
    e = m_pDevice->CalculateMotorTorques(d.fJointTorques, d.fMotorTorques);
    if (e != 0)
        return e;
    e = m_pDevice->WriteMotorTorques(m_bForceCheckEnabled != 0);
    if (e == 0) {
        // A force that is not a number left the motors at zero torque; remember it as that.
        // Kept as it came, every later force-kick comparison against it would be false
        // and let any jump through.
        bool bFinite = true;
        for (int i = 0; i < 6; i++)
            bFinite = bFinite && std::isfinite(f[i]);
        if (bFinite)
            memcpy(m_fForce, f, sizeof(m_fForce));
        else
            memset(m_fForce, 0, sizeof(m_fForce));
        m_blackBox.SetSent(m_fForce, d.nMotorDACValues);
    }
    return e;
}

int CIOLibAPI::WriteKinetorJointTorques()
{
    int e = CommandPrelude();
    if (e != 0)
        return e;
    e = m_pDevice->CalculateMotorTorques(m_devData.fJointTorques, m_devData.fMotorTorques);
    if (e != 0)
        return e;
    e = m_pDevice->WriteMotorTorques(true);
    if (e == 0)
        m_blackBox.SetSent(nullptr, m_devData.nMotorDACValues);
    return e;
}

int CIOLibAPI::SendKinetorJointTorques(float* aJointTorques)
{
    if (!m_bForcesEnabled)
        return -12;
    if (m_pDevice == nullptr)
        return -10;
    int e = KinetorStatus();
    if (e != 0)
        return e;
    if (m_pDevice->CheckRampForces()) {
        m_bRampForces = 1;
        m_devData.nRuns = 0;
    }
    for (int i = 0; i < 6; i++)
        m_devData.dJointTorques[i] = aJointTorques[i];
    e = m_pDevice->CalculateMotorTorques(m_devData.dJointTorques, m_devData.fMotorTorques);
    if (e != 0)
        return e;
    e = m_pDevice->WriteMotorTorques(true);
    if (e == -1)
        DisableKinetorForces();
    else if (e == 0)
        m_blackBox.SetSent(nullptr, m_devData.nMotorDACValues);
    return e;
}

int CIOLibAPI::CommandMotorDACValues(long* dacvalues)
{
    int e = CommandPrelude();
    if (e != 0)
        return e;
    const int n = (m_nModelType == 4) ? 6 : 3;
    for (int i = 0; i < n; i++)
        m_devData.nMotorDACValues[i] = dacvalues[i];
    e = m_pDevice->WriteMotorDACValues();
    if (e == 0)
        m_blackBox.SetSent(nullptr, m_devData.nMotorDACValues);
    return e;
}

int CIOLibAPI::CommandMotorVoltages(float* voltsCommanded, float* voltsSent)
{
    int e = CommandPrelude();
    if (e != 0)
        return e;
    if (m_nModelType != 4)
        voltsCommanded[3] = voltsCommanded[4] = voltsCommanded[5] = 0.0f;
    e = m_pDevice->WriteMotorVoltages(voltsCommanded, voltsSent);
    if (e == 0)
        m_blackBox.SetSent(nullptr, m_devData.nMotorDACValues);
    return e;
}

int CIOLibAPI::SetKinetorMaxVelocity(float maxVel)
{
    // NaN would compare false against every speed and silently switch the check off.
    if (!(maxVel >= 0.0f))
        return -15;
    m_fMaxCartesianVelocitySquared = maxVel * maxVel;
    return 0;
}

float CIOLibAPI::GetKinetorMaxVelocity() { return sqrtf(m_fMaxCartesianVelocitySquared); }

int CIOLibAPI::EnableKinetorVelocityCheck(BOOLEAN bEnable)
{
    m_bVelocityCheckEnabled = bEnable;
    return 0;
}

BOOLEAN CIOLibAPI::IsKinetorVelocityCheckEnabled() { return m_bVelocityCheckEnabled; }

int CIOLibAPI::EnableKinetorForceCheck(BOOLEAN bEnable)
{
    m_bForceCheckEnabled = bEnable;
    return 0;
}

BOOLEAN CIOLibAPI::IsKinetorForceCheckEnabled() { return m_bForceCheckEnabled; }

int CIOLibAPI::SetKinetorRampForcesRate(float rate)
{
    // NaN would hold the ramp open forever while letting every force through unscaled.
    if (!(rate >= 0.0f))
        return -9;
    m_fRampForcesRate = rate;
    return 0;
}

float CIOLibAPI::GetKinetorRampForcesRate() { return m_fRampForcesRate; }

int CIOLibAPI::EnableKinetorRampForces(BOOLEAN bEnable)
{
    m_bRampForcesEnabled = bEnable;
    return 0;
}

BOOLEAN CIOLibAPI::IsKinetorRampForcesEnabled() { return m_bRampForcesEnabled; }

int CIOLibAPI::SetKinetorForceKickSafety(float limit)
{
    // NaN would compare false against every jump and switch the kick detection off.
    if (!(limit >= 0.0f))
        return -9;
    m_fForceKickLimit = limit;
    return 0;
}

float CIOLibAPI::GetKinetorForceKickSafety() { return m_fForceKickLimit; }

int CIOLibAPI::EnableKinetorForceKickSafety(BOOLEAN bEnable)
{
    m_bForceKickSafetyEnabled = bEnable;
    return 0;
}

BOOLEAN CIOLibAPI::IsKinetorForceKickSafetyEnabled() { return m_bForceKickSafetyEnabled; }

int CIOLibAPI::ZeroForceSaturation()
{
    for (int i = 0; i < 6; i++)
        m_devData.fSaturationTorques[i] = 0.0f;
    return 0;
}

int CIOLibAPI::TruncateForceSaturation()
{
    for (int i = 0; i < 6; i++)
        m_devData.fSaturationTorques[i] =
            SaturationPreset(m_devData.nMotorType[i], m_devData.fSaturationTorques[i]);
    return 0;
}

int CIOLibAPI::IsKinetorSaturationEnabled()
{
    const int n = m_devInfo.is6DOF ? 6 : 3;
    for (int i = 0; i < n; i++)
        if (!(m_devData.fSaturationTorques[i] > 0.0f))
            return 0;
    return 1;
}

int CIOLibAPI::GetKinetorStuckPos(float* stuckPosition)
{
    for (int i = 0; i < 3; i++)
        stuckPosition[i] = m_fStuckPos[i];
    if (m_bTransformCoordinates)
        TransformPos(m_matCoordTransform, stuckPosition);
    return 0;
}

int CIOLibAPI::SetKinetorStuckPos(float* stuckPosition)
{
    if (m_bTransformCoordinates)
        TransformPos(m_matCoordTransformInverse, stuckPosition);
    for (int i = 0; i < 3; i++)
        m_fStuckPos[i] = stuckPosition[i];
    return 0;
}

int CIOLibAPI::CalcKinetorFriction(float* frictionForce, float* force, float friction,
                                   float threshold, float stuckMove)
{
    const float* p = m_devData.fEndpointFrame[3];

    if (m_bTransformCoordinates)
        TransformForce(m_matCoordTransformInverse, force);

    if (force[0] == 0.0f && force[1] == 0.0f && force[2] == 0.0f) {
        for (int i = 0; i < 3; i++) {
            m_fStuckPos[i] = p[i];
            frictionForce[i] = 0.0f;
        }
    } else {
        float diff[3], n[3], perp[3];
        const float fLen = Length3(force);
        for (int i = 0; i < 3; i++) {
            diff[i] = m_fStuckPos[i] - p[i];
            n[i] = force[i] / fLen;
        }
        const float dot = diff[0] * n[0] + diff[1] * n[1] + diff[2] * n[2];
        for (int i = 0; i < 3; i++) {
            perp[i] = diff[i] - dot * n[i];
            frictionForce[i] = friction * perp[i];
        }
        const float fThreshold = fLen * threshold;
        const float fFriction = Length3(frictionForce);
        if (fFriction > fThreshold) {
            // The contact breaks away: the friction is held at the threshold and the stuck
            // point follows the stylus.
            for (int i = 0; i < 3; i++) {
                frictionForce[i] = fThreshold * frictionForce[i] / fFriction;
                m_fStuckPos[i] = p[i] + frictionForce[i] * stuckMove / friction;
            }
        }
    }

    if (m_bTransformCoordinates) {
        TransformForce(m_matCoordTransform, frictionForce);
        TransformForce(m_matCoordTransform, force);
    }
    return 0;
}

int CIOLibAPI::ResetKinetor()
{
    if (m_pDevice == nullptr)
        return -10;
    m_bRampForces = 1;
    m_devData.nRuns = 0;
    ZeroMotionState();

    int e = m_pDevice->ResetEncoders();
    if (e != 0)
        return e;
    e = m_pDevice->ZeroTorques();
    if (e != 0)
        return e;

    UpdateKinetor();

    if (m_bForcesEnabled) {
        if (!m_bWatchdogTimer) {
            e = m_pDevice->EnableAmplifiers(true);
            if (e != 0)
                return e;
        }
        if (m_pDevice->EnableWatchDog(false, true) != 0)
            return -4;
    }
    m_bHasBeenReset = 1;
    return 0;
}
