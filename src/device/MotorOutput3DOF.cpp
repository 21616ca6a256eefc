// Cartesian force to joint torques, motor torques, DAC values and offset-binary words,
// with the per-motor and the cumulative torque checks. Runs every servo tick while forces
// are commanded: no allocation, no system call, every float-to-integer conversion guarded.
#include <limits.h>
#include <math.h>

#include "device/Kinetor3DOFDevice.h"

namespace {

const double TRUNCATION_BOUND = 4611686018427387904.0;   // 2^62

}  // namespace

long CKinetor3DOFDevice::TruncateToLong(double dValue)
{
    // A NaN torque (a NaN force from the caller, or a zero torque constant) commands
    // nothing rather than an undefined conversion.
    if (dValue != dValue)
        return 0;
    if (dValue >= TRUNCATION_BOUND)
        return (long)TRUNCATION_BOUND;
    if (dValue <= -TRUNCATION_BOUND)
        return -(long)TRUNCATION_BOUND;
    return (long)dValue;
}

USHORT CKinetor3DOFDevice::DACWord(long nDACValue)
{
    long nClamped = nDACValue;
    if (nClamped > 32767)
        nClamped = 32767;
    if (nClamped < -32768)
        nClamped = -32768;
    return (USHORT)(nClamped + 32768);
}

long CKinetor3DOFDevice::RoundedDACValue(int nMotor) const
{
    return TruncateToLong((double)(m_pDevData->fTtm[nMotor] * m_pDevData->fMotorTorques[nMotor]) + 0.5);
}

void CKinetor3DOFDevice::StoreDACValues(int nMotors)
{
    for (int k = 0; k < nMotors; k++)
        m_pDevData->nMotorDACValues[k] = RoundedDACValue(k);
}

void CKinetor3DOFDevice::FormDACWords(USHORT* pusWords, int nMotors) const
{
    for (int k = 0; k < 6; k++)
        pusWords[k] = (k < nMotors) ? DACWord(m_pDevData->nMotorDACValues[k]) : (USHORT)0x8000;
}

float CKinetor3DOFDevice::ActualMotorVoltage(int nMotor) const
{
    long d = TruncateToLong(m_pDevData->fTtm[nMotor] * m_pDevData->fMotorTorques[nMotor]);
    // The word that leaves is clamped to the DAC range, so the voltage it produces is too.
    if (d > 32767)
        d = 32767;
    if (d < -32768)
        d = -32768;
    const long q = ((d + 32768) & ~0xFL) - 32768;
    // A zero scale commands nothing; report nothing instead of 0/0.
    if (m_fMotorVoltageScale == 0.0f)
        return 0.0f;
    return (float)q / 32767.0f / m_fMotorVoltageScale;
}

int CKinetor3DOFDevice::CalculateJointTorques(const float* force, float* torque)
{
    const int n = GetDOF();
    for (int i = 0; i < n; i++) {
        float fSum = 0.0f;
        for (int j = 0; j < n; j++)
            fSum += m_pDevData->fJacobian[j][i] * force[j];
        torque[i] = fSum;
    }
    return 0;
}

int CKinetor3DOFDevice::CalculateMotorTorques(const float* jointTorque, float* motorTorque)
{
    const float* pfRatio = m_pDevData->fReductionDirect;
    const int m0 = getMotorAxis(0), m1 = getMotorAxis(1), m2 = getMotorAxis(2);
    motorTorque[m0] = (float)m_nMotorSign[m0] * pfRatio[0] * jointTorque[0];
    motorTorque[m1] = (float)m_nMotorSign[m1] * pfRatio[1] * jointTorque[1];
    motorTorque[m2] = (float)m_nMotorSign[m2] * pfRatio[2] * jointTorque[2];
    // The second-link motor also carries the first link's share: the transpose of the
    // angle coupling.
    motorTorque[m1] = motorTorque[m1] - motorTorque[m2];
    motorTorque[m1] = -motorTorque[m1];
    motorTorque[m2] = -motorTorque[m2];
    return 0;
}

int CKinetor3DOFDevice::WriteMotorTorques(bool bCheck)
{
    if (bCheck) {
        int r = CheckMotorTorques();
        if (r != 0)
            return r;
    }
    StoreDACValues(3);
    return WriteMotorDACValues();
}

int CKinetor3DOFDevice::WriteMotorDACValues()
{
    USHORT ausWords[6];
    FormDACWords(ausWords, 3);
    return SendTorques(ausWords);
}

int CKinetor3DOFDevice::WriteMotorVoltages(const float* volts, float* actual)
{
    const int n = GetDOF();
    for (int i = 0; i < n; i++) {
        const int k = getMotorAxis(i);
        m_pDevData->fMotorTorques[k] = m_fMotorVoltageScale * volts[i] * 32767.0f / m_pDevData->fTtm[k];
    }
    int r = CheckMotorTorques();
    if (r != 0)
        return r;
    for (int i = 0; i < n; i++)
        actual[i] = ActualMotorVoltage(getMotorAxis(i));
    return WriteMotorTorques(false);
}

int CKinetor3DOFDevice::CheckMotorTorques()
{
    if (m_pDevData->nAmpDACLimit < ULONG_MAX)
        return DoCumMotorTorqueCheck();
    return DoMotorTorqueCheck();
}

int CKinetor3DOFDevice::DoMotorTorqueCheck()
{
    const int n = GetDOF();
    for (int k = 0; k < n; k++) {
        float T = m_pDevData->fMotorTorques[k];
        const float S = m_pDevData->fSaturationTorques[k];
        const float M = m_pDevData->fMaxMotorTorques[k];
        if (T > S) {
            if (S > 0.0f)
                T = S;
            else if (T > M)
                return -2;
        }
        if (T < -S) {
            if (S > 0.0f)
                T = -S;
            else if (T < -M)
                return -2;
        }
        m_pDevData->fMotorTorques[k] = T;
    }
    return 0;
}

int CKinetor3DOFDevice::DoCumMotorTorqueCheck()
{
    _KINETOR_DEVICE_DATA* pData = m_pDevData;
    float* T = pData->fMotorTorques;
    const float* S = pData->fSaturationTorques;
    const float* M = pData->fMaxMotorTorques;
    const float* ttm = pData->fTtm;
    const unsigned long nLimit = pData->nAmpDACLimit;
    long d[3];
    unsigned long nSum = 0;

    if (S[0] > 0.0f && S[1] > 0.0f && S[2] > 0.0f) {
        // Scaling all three by the worst motor's factor keeps the force direction.
        int nWorst = 0;
        float fWorst = fabsf(T[0]) - S[0];
        for (int k = 1; k < 3; k++) {
            const float e = fabsf(T[k]) - S[k];
            if (e > fWorst) {
                fWorst = e;
                nWorst = k;
            }
        }
        if (fWorst > 0.0f) {
            const float fFactor = S[nWorst] / fabsf(T[nWorst]);
            for (int k = 0; k < 3; k++)
                T[k] = T[k] * fFactor;
        }
        for (int k = 0; k < 3; k++) {
            d[k] = TruncateToLong(T[k] * ttm[k]);
            nSum += (unsigned long)labs(d[k]);
        }
        if (nSum > nLimit) {
            for (int k = 0; k < 3; k++)
                d[k] = TruncateToLong((float)d[k] / (float)nSum * (float)nLimit);
        }
        for (int k = 0; k < 3; k++) {
            // Without a torque constant no DAC count makes torque, so none is left.
            T[k] = (ttm[k] != 0.0f) ? (float)d[k] / ttm[k] : 0.0f;
        }
        return 0;
    }

    for (int k = 0; k < 3; k++) {
        if (T[k] > M[k] || T[k] < -M[k])
            return -2;
        d[k] = TruncateToLong(T[k] * ttm[k]);
        nSum += (unsigned long)labs(d[k]);
    }
    return (nSum <= nLimit) ? 0 : -2;
}
