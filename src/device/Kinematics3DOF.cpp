// Encoder counts to joint angles and velocities, the stylus frame and the Jacobian of
// the three-link arm. Runs every servo tick: no allocation, no system call, and each
// sine and cosine is taken once per tick and cached in the device data for the Jacobian.
#include <math.h>

#include "device/Kinetor3DOFDevice.h"

int CKinetor3DOFDevice::UpdateKinetorJointAngles()
{
    short asEncoders[6];
    int r = GetEncoders(asEncoders);
    if (r != 0)
        return r;

    _KINETOR_DEVICE_DATA* pData = m_pDevData;
    const int nOption = pData->nExtra6DOFOption;
    int nRawPinch = 0;
    if (nOption == 1 || nOption == 2) {
        if (m_pConnection == nullptr)
            return MapError(-11);
        SHORT sPinch = 0;
        r = m_pConnection->ReadPinchValue(sPinch);
        if (r != 1)
            return MapError(r);
        nRawPinch = sPinch;
    }
    if (pData->nPinchCalibrated != 0)
        pData->dPinchValue = (nOption == 1 || nOption == 2) ? NormalisedPinch(nRawPinch, nOption) : 0.0;
    else
        pData->dPinchValue = (double)nRawPinch;

    // The hardware counters are 16 bits and wrap; the step since the last reading is
    // taken modulo 65536 into -32768..32767 and accumulated. Unsigned arithmetic keeps
    // the wrap well defined.
    for (int k = 0; k < 6; k++) {
        const USHORT usStep = (USHORT)((unsigned long)(long)asEncoders[k] -
                                       (unsigned long)pData->lLastRawEncoders[k]);
        const long lStep = (usStep >= 0x8000) ? (long)usStep - 65536L : (long)usStep;
        pData->lRawEncoders[k] = (long)((unsigned long)pData->lRawEncoders[k] + (unsigned long)lStep);
        pData->lLastRawEncoders[k] = asEncoders[k];
    }

    r = CalculateJointAngles(pData->lRawEncoders, pData->fJointAngles, true);
    if (r != 0)
        return r;
    return CalculateJointVelocities();
}

void CKinetor3DOFDevice::CalculateMotorAngles(const long* enc, float* motorAngles, int nMotors) const
{
    for (int k = 0; k < nMotors; k++)
        motorAngles[k] = (float)enc[k] * m_pDevData->fCPRToRadians[k];
}

int CKinetor3DOFDevice::CalculateJointAngles(const long* enc, float* angles, bool bStore)
{
    // The scratch array is zeroed so that a pure calculation never reads stale values.
    float afScratch[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    float* pfMotor = bStore ? m_pDevData->fMotorAngles : afScratch;
    const float* pfRatio = m_pDevData->fReductionDirect;
    const float* pfZero = m_pDevData->fZeroPositionJointAngles;

    CalculateMotorAngles(enc, pfMotor, m_bGimbalPresent ? 6 : 3);

    for (int i = 0; i < 3; i++) {
        const int m = getMotorAxis(i);
        angles[i] = (float)m_nMotorSign[m] * pfRatio[i] * pfMotor[m] + pfZero[i];
    }
    if (m_bGimbalPresent) {
        for (int i = 3; i < 6; i++) {
            const int m = getMotorAxis(i);
            angles[i] = (float)m_nMotorSign[m] * pfMotor[m] + pfZero[i];
        }
    }
    // The second-link motor sits on the base: through a transfer drive it turns the link
    // relative to the first link, otherwise it measures the absolute link angle.
    if (HasTransferDrive())
        angles[2] = angles[2] - angles[1] * pfRatio[3];
    else
        angles[2] = angles[2] - angles[1];
    return 0;
}

void CKinetor3DOFDevice::CalculateMotorVelocities(int nMotors)
{
    _KINETOR_DEVICE_DATA* pData = m_pDevData;
    for (int k = 0; k < nMotors; k++) {
        float fRaw = pData->fRawMotorVelocity[k];
        float fSmoothed = pData->fSmoothedMotorVelocity[k];
        if (pData->nRuns == 0) {
            fRaw = 0.0f;
            fSmoothed = 0.0f;
        } else if (pData->nRuns > 2) {
            // A tick whose measured rate lies outside the window (a late or doubled tick)
            // would turn an ordinary angle step into a velocity spike.
            if (pData->fInstRateLowerLimit < pData->fInstantaneousRate &&
                pData->fInstantaneousRate < pData->fInstRateUpperLimit) {
                fRaw = (pData->fMotorAngles[k] - pData->fLastMotorAngles[k]) * pData->fInstantaneousRate;
                fSmoothed = pData->fFilterC0 * fRaw + pData->fFilterC1 * pData->fLastRawMotorVelocity[k] +
                            pData->fFilterD1 * pData->fLastSmoothedMotorVelocity[k];
                if (fabsf(fSmoothed) < 1e-10f)
                    fSmoothed = 0.0f;
            } else {
                fRaw = pData->fLastRawMotorVelocity[k];
                fSmoothed = pData->fLastSmoothedMotorVelocity[k];
            }
        }
        pData->fRawMotorVelocity[k] = fRaw;
        pData->fSmoothedMotorVelocity[k] = fSmoothed;
        pData->fLastMotorAngles[k] = pData->fMotorAngles[k];
        pData->fLastRawMotorVelocity[k] = fRaw;
        pData->fLastSmoothedMotorVelocity[k] = fSmoothed;
    }
}

int CKinetor3DOFDevice::CalculateJointVelocities()
{
    _KINETOR_DEVICE_DATA* pData = m_pDevData;
    CalculateMotorVelocities(m_bGimbalPresent ? 6 : 3);

    const float* pfRatio = pData->fReductionDirect;
    const float* pfSmoothed = pData->fSmoothedMotorVelocity;
    for (int i = 0; i < 3; i++) {
        const int m = getMotorAxis(i);
        pData->fJointVelocity[i] = (float)m_nMotorSign[m] * pfRatio[i] * pfSmoothed[m];
    }
    if (m_bGimbalPresent) {
        for (int i = 3; i < 6; i++) {
            const int m = getMotorAxis(i);
            pData->fJointVelocity[i] = (float)m_nMotorSign[m] * pfSmoothed[m];
        }
    }
    if (HasTransferDrive())
        pData->fJointVelocity[2] = pData->fJointVelocity[2] - pData->fJointVelocity[1] * pfRatio[3];
    else
        pData->fJointVelocity[2] = pData->fJointVelocity[2] - pData->fJointVelocity[1];
    return 0;
}

int CKinetor3DOFDevice::CalculateEndpointTransform(float* angles, float frame[4][4], bool bStore)
{
    _KINETOR_DEVICE_DATA* pData = m_pDevData;
    const float c0 = cosf(angles[0]), s0 = sinf(angles[0]);
    const float c1 = cosf(angles[1]), s1 = sinf(angles[1]);
    const float c2 = cosf(angles[2]), s2 = sinf(angles[2]);
    const float c3 = cosf(angles[3]), s3 = sinf(angles[3]);
    const float c4 = cosf(angles[4]), s4 = sinf(angles[4]);
    const float c5 = cosf(angles[5]), s5 = sinf(angles[5]);
    const float c12 = cosf(angles[1] + angles[2]), s12 = sinf(angles[1] + angles[2]);

    if (bStore) {
        pData->fc1 = c0; pData->fs1 = s0;
        pData->fc2 = c1; pData->fs2 = s1;
        pData->fc3 = c2; pData->fs3 = s2;
        pData->fc4 = c3; pData->fs4 = s3;
        pData->fc5 = c4; pData->fs5 = s4;
        pData->fc6 = c5; pData->fs6 = s5;
        pData->fc23 = c12; pData->fs23 = s12;
    }

    // Rows are the stylus axes in base coordinates: the transpose of
    // Ry(-q0) Rx(-(q1+q2)) Ry(q3) Rx(-q4) Rz(-q5), written out.
    frame[0][0] = s0 * (c12 * s3 * c5 - (c3 * s4 * c12 + c4 * s12) * s5) + c0 * (s3 * s4 * s5 + c3 * c5);
    frame[0][1] = (c3 * s12 * s4 - c12 * c4) * s5 - s12 * s3 * c5;
    frame[0][2] = c3 * (c0 * c12 * s4 * s5 + s0 * c5) + s0 * s3 * s4 * s5 + c0 * (c4 * s12 * s5 - c12 * s3 * c5);
    frame[1][0] = (s0 * c12 * s3 + c0 * c3) * s5 + ((s0 * c3 * c12 - c0 * s3) * s4 + s0 * c4 * s12) * c5;
    frame[1][1] = c12 * c4 * c5 - (s3 * s5 + c3 * c5 * s4) * s12;
    frame[1][2] = (s0 * c3 - c0 * c12 * s3) * s5 - (c0 * (c4 * s12 + c3 * s4 * c12) + s0 * s3 * s4) * c5;
    frame[2][0] = s0 * s12 * s4 + (c0 * s3 - s0 * c3 * c12) * c4;
    frame[2][1] = c12 * s4 + c3 * c4 * s12;
    frame[2][2] = (c12 * c3 * c4 - s12 * s4) * c0 + c4 * s0 * s3;

    const float fL1 = pData->fL1, fL2 = pData->fL2;
    const float fRho = fL2 * s12 + fL1 * c1;
    frame[3][0] = (float)m_nWorkspaceOffset0 - fRho * s0;
    frame[3][1] = (float)m_nWorkspaceOffset1 + fL1 * s1 - fL2 * c12 + fL2;
    frame[3][2] = (float)m_nWorkspaceOffset2 + fRho * c0 - fL1;

    frame[0][3] = 0.0f;
    frame[1][3] = 0.0f;
    frame[2][3] = 0.0f;
    frame[3][3] = 1.0f;
    return 0;
}

int CKinetor3DOFDevice::UpdateKinetorEndpointTransform()
{
    return CalculateEndpointTransform(m_pDevData->fJointAngles, m_pDevData->fEndpointFrame, true);
}

int CKinetor3DOFDevice::UpdateKinetorJacobian()
{
    _KINETOR_DEVICE_DATA* pData = m_pDevData;
    const float fL1 = pData->fL1, fL2 = pData->fL2;
    // The record numbers the angles from 1: fc1/fs1 belong to q0, fc2/fs2 to q1.
    const float fRho = fL2 * pData->fs23 + fL1 * pData->fc2;

    pData->fJacobian[0][0] = -fRho * pData->fc1;
    pData->fJacobian[0][1] = (fL1 * pData->fs2 - fL2 * pData->fc23) * pData->fs1;
    pData->fJacobian[0][2] = -fL2 * pData->fc23 * pData->fs1;

    pData->fJacobian[1][1] = fRho;
    pData->fJacobian[1][2] = fL2 * pData->fs23;

    pData->fJacobian[2][0] = -fRho * pData->fs1;
    pData->fJacobian[2][1] = (fL2 * pData->fc23 - fL1 * pData->fs2) * pData->fc1;
    pData->fJacobian[2][2] = fL2 * pData->fc1 * pData->fc23;
    return 0;
}

int CKinetor3DOFDevice::CalculateKinetorVelocity(int n)
{
    (void)n;
    _KINETOR_DEVICE_DATA* pData = m_pDevData;
    for (int i = 0; i < 6; i++) {
        float fSum = 0.0f;
        for (int j = 0; j < 6; j++)
            fSum += pData->fJacobian[i][j] * pData->fJointVelocity[j];
        pData->fVelocity[i] = fSum;
    }
    return 0;
}
