// The 6-DOF arm: both amplifier groups, six encoders and motors, the full Jacobian and
// the gimbal power assist. Its temperature model lives with the others in
// TemperatureModel.cpp.
#include "device/Kinetor6DOFDevice.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

// What a CIOConnection without an inner connection answers; used when the model has no
// connection at all, so a call before OpenConnection is an error rather than a crash.
const int NO_CONNECTION = -11;

const USHORT ZERO_TORQUE_WORD = 0x8000;

// A gimbal turning faster than this (rad/s) is taken for a runaway, not a hand.
const float MAX_GIMBAL_JOINT_VELOCITY = 50.0f;

// Coulomb friction gain of the power assist, torque per rad/s of motor velocity.
const float COULOMB_ASSIST_GAIN = 0.55f;

float Limit(float fValue, float fLimit)
{
    if (fValue > fLimit)
        return fLimit;
    if (fValue < -fLimit)
        return -fLimit;
    return fValue;
}

}  // namespace

CKinetor6DOFDevice::CKinetor6DOFDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                                       bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData)
    : CKinetor3DOFDevice(pszKinetorName, nCardType, nUnit, bGimbalPresent, pDevData),
      m_bPowerAssist(0)
{
    m_nMotorAxis1 = 0;
    m_nMotorAxis2 = 2;
    m_nMotorAxis3 = 1;
    m_nMotorAxis4 = 3;
    m_nMotorAxis5 = 4;
    m_nMotorAxis6 = 5;

    m_nMotorSign[0] = 1;
    m_nMotorSign[2] = -1;
    m_nMotorSign[1] = -1;
    m_nMotorSign[3] = -1;
    m_nMotorSign[4] = 1;
    m_nMotorSign[5] = -1;

    m_bPowerAssist = (getenv("TDL_USE_POWER_ASSIST") != nullptr) ? 1 : 0;

    // Friction of the three gimbal motors, measured per axis; the power assist cancels it.
    const int k3 = m_nMotorAxis4, k4 = m_nMotorAxis5, k5 = m_nMotorAxis6;
    m_pDevData->fFrictionCoefficient[k3] = 0.00008f;
    m_pDevData->fViscousFrictionCutoff[k3] = 0.1f;
    m_pDevData->fCoulombicFrictionCutoff[k3] = 0.4f;
    m_pDevData->fFrictionCoefficient[k4] = 0.000055f;
    m_pDevData->fViscousFrictionCutoff[k4] = 0.05f;
    m_pDevData->fCoulombicFrictionCutoff[k4] = 0.001f;
    m_pDevData->fFrictionCoefficient[k5] = 0.000025f;
    m_pDevData->fViscousFrictionCutoff[k5] = 0.4f;
    m_pDevData->fCoulombicFrictionCutoff[k5] = 0.8f;
}

CKinetor6DOFDevice::~CKinetor6DOFDevice() {}

int CKinetor6DOFDevice::EnableAmplifiers(bool bOn)
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    const BOOLEAN bLevel = bOn ? 1 : 0;
    int r = m_pConnection->EnableBaseAmplifiers(bLevel);
    if (r != 1)
        return MapError(r);
    r = m_pConnection->EnableGimbalAmplifiers(bLevel);
    if (r != 1)
        return MapError(r);
    // As for the base model: the next watchdog pulse raises the line that was switched off.
    if (!bOn)
        m_nAmpEnableBit = 0;
    return 0;
}

int CKinetor6DOFDevice::EnableWatchDog(bool bPulse, bool bWait)
{
    return RunWatchDogLoop(bPulse, bWait, true, 0);
}

int CKinetor6DOFDevice::GetEncoders(short* enc)
{
    for (int k = 0; k < 6; k++)
        enc[k] = 0;
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    // The gimbal encoders are read whatever the gimbal flag says: this arm always has them.
    int r = m_pConnection->ReadBaseEncoders(enc);
    if (r != 1)
        return MapError(r);
    r = m_pConnection->ReadGimbalEncoders(enc + 3);
    if (r != 1)
        return MapError(r);
    return 0;
}

int CKinetor6DOFDevice::GetPinchValue(double& value)
{
    fprintf(stderr, "Entered: GetPinchValue in Kinetor6DOFDevice\n");
    const int nOption = m_pDevData->nExtra6DOFOption;
    if (nOption != 1 && nOption != 2)
        return 0;
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    SHORT nRaw = 0;
    int r = m_pConnection->ReadPinchValue(nRaw);
    if (r != 1)
        return MapError(r);
    if (m_pDevData->nPinchCalibrated == 0) {
        fprintf(stderr, "Pinch Pot value: %d\n", (int)nRaw);
        return nRaw;
    }
    value = NormalisedPinch(nRaw, nOption);
    fprintf(stderr, "PinchValue: %f\n", value);
    return 0;
}

int CKinetor6DOFDevice::ZeroTorques()
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    USHORT ausBase[3] = {ZERO_TORQUE_WORD, ZERO_TORQUE_WORD, ZERO_TORQUE_WORD};
    USHORT ausGimbal[3] = {ZERO_TORQUE_WORD, ZERO_TORQUE_WORD, ZERO_TORQUE_WORD};
    int r = m_pConnection->WriteBaseTorques(ausBase);
    if (r != 1)
        return MapError(r);
    r = m_pConnection->WriteGimbalTorques(ausGimbal);
    if (r != 1)
        return MapError(r);
    return MapError(m_pConnection->FlushConnection(1));
}

int CKinetor6DOFDevice::SendTorques(const unsigned short* dac)
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    // The connection takes writable arrays; the caller's words stay untouched. No flush:
    // the next block exchange of the tick carries the words.
    USHORT ausBase[3] = {dac[0], dac[1], dac[2]};
    USHORT ausGimbal[3] = {dac[3], dac[4], dac[5]};
    int r = m_pConnection->WriteBaseTorques(ausBase);
    if (r != 1)
        return MapError(r);
    r = m_pConnection->WriteGimbalTorques(ausGimbal);
    if (r != 1)
        return MapError(r);
    return 0;
}

int CKinetor6DOFDevice::GetDOF()
{
    return 6;
}

int CKinetor6DOFDevice::CalculateJointAngles(const long* enc, float* angles, bool bStore)
{
    float afScratch[6] = {0, 0, 0, 0, 0, 0};
    float* pfMotorAngles = bStore ? m_pDevData->fMotorAngles : afScratch;
    CalculateMotorAngles(enc, pfMotorAngles, 6);

    // The gimbal joints are geared as well on this arm.
    for (int i = 0; i < 6; i++) {
        const int k = getMotorAxis(i);
        angles[i] = (float)m_nMotorSign[k] * m_pDevData->fReductionDirect[i] * pfMotorAngles[k] +
                    m_pDevData->fZeroPositionJointAngles[i];
    }
    // The second-link motor measures the absolute link angle.
    angles[2] = angles[2] - angles[1];
    return 0;
}

int CKinetor6DOFDevice::CalculateJointVelocities()
{
    CalculateMotorVelocities(6);
    float* pfJointVelocity = m_pDevData->fJointVelocity;
    for (int i = 0; i < 6; i++) {
        const int k = getMotorAxis(i);
        pfJointVelocity[i] = (float)m_nMotorSign[k] * m_pDevData->fReductionDirect[i] *
                             m_pDevData->fSmoothedMotorVelocity[k];
    }
    pfJointVelocity[2] = pfJointVelocity[2] - pfJointVelocity[1];
    return 0;
}

int CKinetor6DOFDevice::CalculateKinetorVelocity(int n)
{
    if (n != 0) {
        for (int i = 3; i < 6; i++) {
            const float w = m_pDevData->fJointVelocity[i];
            if (w > MAX_GIMBAL_JOINT_VELOCITY || w < -MAX_GIMBAL_JOINT_VELOCITY)
                return -13;
        }
    }
    return CKinetor3DOFDevice::CalculateKinetorVelocity(n);
}

int CKinetor6DOFDevice::UpdateKinetorJacobian()
{
    int r = CKinetor3DOFDevice::UpdateKinetorJacobian();
    if (r != 0)
        return r;

    _KINETOR_DEVICE_DATA* p = m_pDevData;
    // The record numbers the angles from 1: fc1 is q0, fc2 q1, fc23 q1+q2, fc4 q3, fc5 q4.
    const float c0 = p->fc1, s0 = p->fs1;
    const float c12 = p->fc23, s12 = p->fs23;
    const float c3 = p->fc4, s3 = p->fs4;
    const float c4 = p->fc5, s4 = p->fs5;
    float (*J)[6] = p->fJacobian;

    // Angular velocity rows: each column is the joint's axis in base coordinates.
    J[3][1] = -c0;
    J[3][2] = -c0;
    J[3][3] = s0 * s12;
    J[3][4] = -c0 * c3 - c12 * s0 * s3;
    J[3][5] = -(c0 * s3 - s0 * c3 * c12) * c4 - s0 * s12 * s4;

    J[4][0] = -1.0f;
    J[4][3] = c12;
    J[4][4] = s12 * s3;
    J[4][5] = -c3 * c4 * s12 - c12 * s4;

    J[5][1] = -s0;
    J[5][2] = -s0;
    J[5][3] = -c0 * s12;
    J[5][4] = c0 * c12 * s3 - c3 * s0;
    J[5][5] = -c4 * s0 * s3 - (c12 * c3 * c4 - s12 * s4) * c0;
    return 0;
}

int CKinetor6DOFDevice::CalculateMotorTorques(const float* jointTorque, float* motorTorque)
{
    for (int i = 0; i < 6; i++) {
        const int k = getMotorAxis(i);
        motorTorque[k] = (float)m_nMotorSign[k] * m_pDevData->fReductionDirect[i] * jointTorque[i];
    }
    // The second-link motor carries the first link's load as well.
    const int k1 = getMotorAxis(1), k2 = getMotorAxis(2);
    motorTorque[k1] = motorTorque[k1] - motorTorque[k2];
    motorTorque[k1] = -motorTorque[k1];
    motorTorque[k2] = -motorTorque[k2];
    return 0;
}

int CKinetor6DOFDevice::ApplyPowerAssist()
{
    _KINETOR_DEVICE_DATA* p = m_pDevData;
    const float d = 3.14159f / 180.0f;
    const float q4 = p->fJointAngles[4];
    const int kFirst = getMotorAxis(3), kLast = getMotorAxis(5);

    for (int k = kFirst; k <= kLast; k++) {
        if (k < 0 || k > 5)
            continue;
        const float w = p->fSmoothedMotorVelocity[k];
        const float c = Limit(COULOMB_ASSIST_GAIN * w, p->fCoulombicFrictionCutoff[k]);
        const float v = Limit(w * p->fFrictionCoefficient[k], p->fViscousFrictionCutoff[k]);
        float a = c + v;

        // With the middle gimbal axis near -90 degrees the outer two axes line up and
        // their velocities stop meaning anything: fade their assist out there.
        if (k == getMotorAxis(3) || k == getMotorAxis(5)) {
            if (q4 >= -110.0f * d && q4 <= -70.0f * d) {
                if (q4 >= -100.0f * d && q4 <= -80.0f * d) {
                    a = 0.0f;
                } else {
                    const float e = fabsf(-3.14159f / 2.0f - q4);
                    const float fFade = (e - 10.0f * d) / (10.0f * d);
                    a *= fFade * fFade;
                }
            }
        }
        p->fMotorTorques[k] += a;
    }
    return 0;
}

int CKinetor6DOFDevice::WriteMotorTorques(bool bCheck)
{
    if (m_bPowerAssist) {
        int r = ApplyPowerAssist();
        if (r != 0)
            return r;
    }
    if (bCheck) {
        int r = CheckMotorTorques();
        if (r != 0)
            return r;
    }
    StoreDACValues(6);
    return WriteMotorDACValues();
}

int CKinetor6DOFDevice::WriteMotorDACValues()
{
    USHORT ausWords[6];
    FormDACWords(ausWords, 6);
    return SendTorques(ausWords);
}

int CKinetor6DOFDevice::CheckMotorTorques()
{
    if (m_pDevData->nAmpDACLimit != ~0UL) {
        int r = DoCumMotorTorqueCheck();
        if (r != 0)
            return r;
    }
    return DoMotorTorqueCheck();
}
