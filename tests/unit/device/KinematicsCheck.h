// Checks a model's Jacobian against finite differences of its own endpoint transform:
// an independent computation, since the Jacobian is written out by hand while the
// differences only use the forward kinematics. Usable for every model.
#ifndef TESTS_DEVICE_KINEMATICS_CHECK_H
#define TESTS_DEVICE_KINEMATICS_CHECK_H

#include <math.h>
#include <string.h>

#include <random>

#include "device/HapticDevice.h"
#include "device/KinetorDeviceData.h"

typedef struct _JACOBIAN_CHECK {
    double dMaxError;   // largest |finite difference - model| over the checked entries
    int nRow, nCol;     // where it was
    double dExpected;   // finite-difference value there
    double dActual;     // model value there
} JACOBIAN_CHECK;

// Central difference of the endpoint (rows 0..2: position, mm per rad; rows 3..5: angular
// velocity of the stylus frame in base coordinates, rad/s per rad/s) with respect to
// joint j at the angles q (six entries; entries a model ignores may be 0).
inline void FiniteDifferenceColumn(CHapticDevice* pDevice, const float* q, int j, double h, double* pdColumn)
{
    float qPlus[6], qMinus[6];
    memcpy(qPlus, q, sizeof(qPlus));
    memcpy(qMinus, q, sizeof(qMinus));
    qPlus[j] = (float)((double)q[j] + h);
    qMinus[j] = (float)((double)q[j] - h);
    const double dStep = (double)qPlus[j] - (double)qMinus[j];
    float fPlus[4][4], fMinus[4][4], fHere[4][4];
    float qHere[6];
    memcpy(qHere, q, sizeof(qHere));
    pDevice->CalculateEndpointTransform(qPlus, fPlus, false);
    pDevice->CalculateEndpointTransform(qMinus, fMinus, false);
    pDevice->CalculateEndpointTransform(qHere, fHere, false);
    for (int r = 0; r < 3; r++)
        pdColumn[r] = ((double)fPlus[3][r] - (double)fMinus[3][r]) / dStep;
    // Rows of the frame are the stylus axes in base coordinates, so with R = frame
    // transposed the skew matrix of the angular velocity is dR/dq * R^T.
    double W[3][3];
    for (int a = 0; a < 3; a++)
        for (int b = 0; b < 3; b++) {
            double s = 0.0;
            for (int k = 0; k < 3; k++) {
                const double dRak = ((double)fPlus[k][a] - (double)fMinus[k][a]) / dStep;
                s += dRak * (double)fHere[k][b];
            }
            W[a][b] = s;
        }
    pdColumn[3] = W[2][1];
    pdColumn[4] = W[0][2];
    pdColumn[5] = W[1][0];
}

// Sets the model's joint angles to nSamples random poses (joints 0..nJoints-1 uniform in
// [-pi, pi), the rest 0), runs its endpoint and Jacobian updates, and compares rows
// nFirstRow..nEndRow-1 (0..3 translation in mm per rad, 3..6 rotation) and columns
// 0..nJoints-1 of fJacobian with finite differences. The record's
// Jacobian is cleared first, so entries a model leaves unwritten must really be 0.
inline JACOBIAN_CHECK CheckJacobianAgainstFiniteDifferences(CHapticDevice* pDevice, _KINETOR_DEVICE_DATA* pData,
                                                            int nJoints, int nFirstRow, int nEndRow, int nSamples,
                                                            unsigned nSeed = 12345u)
{
    JACOBIAN_CHECK result = {0.0, -1, -1, 0.0, 0.0};
    std::mt19937 rng(nSeed);
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    for (int n = 0; n < nSamples; n++) {
        float q[6] = {0, 0, 0, 0, 0, 0};
        for (int j = 0; j < nJoints; j++)
            q[j] = angle(rng);
        memset(pData->fJacobian, 0, sizeof(pData->fJacobian));
        memcpy(pData->fJointAngles, q, sizeof(q));
        pDevice->UpdateKinetorEndpointTransform();
        pDevice->UpdateKinetorJacobian();
        for (int j = 0; j < nJoints; j++) {
            double col[6];
            FiniteDifferenceColumn(pDevice, q, j, 1e-2, col);
            for (int r = nFirstRow; r < nEndRow; r++) {
                const double dError = fabs(col[r] - (double)pData->fJacobian[r][j]);
                if (dError > result.dMaxError || result.nRow < 0) {
                    result.dMaxError = dError;
                    result.nRow = r;
                    result.nCol = j;
                    result.dExpected = col[r];
                    result.dActual = pData->fJacobian[r][j];
                }
            }
        }
    }
    return result;
}

#endif
