// Turning a named configuration into the library object's parameters.
#include <stdio.h>
#include <string.h>

#include <new>

#include "config/KinetorDevice.h"
#include "config/KinetorMgr.h"
#include "config/SerialNumber.h"
#include "core/IOLibAPI.h"
#include "platform/Trace.h"

namespace {

const int kMaxConfigs = 20;

// Zero-based unit from a configured one-based unit number; false for 0, which has no
// zero-based counterpart and would otherwise wrap to the largest unit number.
bool ZeroBasedUnit(ULONG nConfigured, ULONG& nUnit)
{
    if (nConfigured == 0)
        return false;
    nUnit = nConfigured - 1;
    return true;
}

}  // namespace

int CIOLibAPI::ConfigureByDataSource(char* pszName)
{
    int nResult = -5;

    if (pszName != nullptr)
        snprintf(m_szKinetorName, sizeof(m_szKinetorName), "%.127s", pszName);

    CKinetorMgr* pMgr = new (std::nothrow) CKinetorMgr();
    if (pMgr == nullptr)
        return -8;
    CKinetorDevice* apDevices[kMaxConfigs];
    memset(apDevices, 0, sizeof(apDevices));
    int n = pMgr->EnumerateKinetors(apDevices);
    if (n > kMaxConfigs)
        n = kMaxConfigs;

    CKinetorDevice* pChosen = nullptr;
    for (int i = 0; i < n && pChosen == nullptr; i++) {
        CKinetorDevice* pRecord = apDevices[i];
        if (pRecord == nullptr)
            continue;
        if (strcmp(pRecord->m_szName, m_szKinetorName) == 0) {
            pChosen = pRecord;
        } else if (m_szKinetorName[0] == '\0') {
            snprintf(m_szKinetorName, sizeof(m_szKinetorName), "%.127s", pRecord->m_szName);
            pChosen = pRecord;
        }
    }

    do {
        if (pChosen == nullptr || !pChosen->Read()) {
            nResult = -5;
            break;
        }
        CKinetorDevice& rec = *pChosen;

        m_devData.dPinchValue = 0.0;
        m_devData.nPinchMin = 0;
        m_devData.nPinchMax = 1;
        m_devData.nPinchCalibrated = ReadPinchParameters(m_szKinetorName) == 1 ? 1 : 0;

        if (!pMgr->ReadAddresses()) {
            nResult = -5;
            break;
        }

        if (rec.m_nModelType < 1 || rec.m_nModelType > 5) {
            nResult = -5;
            break;
        }
        m_nModelType = (int)rec.m_nModelType;

        const ULONG nCard = rec.m_nCardType;
        if (nCard != 0 && nCard != 2 && nCard != 3 && nCard != 4 && nCard != 5 && nCard != 6) {
            nResult = -22;
            break;
        }
        m_nCardType = (int)nCard;

        if (rec.m_nChannelSelect > 3) {
            nResult = -5;
            break;
        }

        bool bUnitFound = false;
        if (nCard == 3) {
            bUnitFound = ZeroBasedUnit(rec.m_nPCIDevice, m_nUnit);
        } else if (nCard == 4 || nCard == 5) {
            bUnitFound = ZeroBasedUnit(rec.m_nEPPDevice, m_nUnit);
        } else if (nCard == 6) {
            ULONG nSerial = rec.m_n1394SerialNumber;
            bUnitFound = pMgr->Get1394SerialNumberUnit(nSerial, m_nUnit) != 0;
        } else {
            nResult = -22;
            break;
        }
        if (!bUnitFound) {
            nResult = -5;
            break;
        }

        m_bWatchdogTimer = (BOOLEAN)(rec.m_nTimeoutCircuit & 0xFF);
        m_nChannel = (int)rec.m_nChannelSelect;
        m_devData.bIs6DOF = (m_nModelType == 4) ? 1 : 0;
        m_devData.nExtra6DOFOption = (int)rec.m_nExtra6DOFOption;

        m_nConfiguredL1 = rec.m_nL1;
        m_nConfiguredL2 = rec.m_nL2;
        m_devData.fL1 = 0.0254f * (float)rec.m_nL1;
        m_devData.fL2 = 0.0254f * (float)rec.m_nL2;

        const float afR[6] = {rec.m_fR1, rec.m_fR2, rec.m_fR3, rec.m_fR4, rec.m_fR5, rec.m_fR6};
        const ULONG anTtm[6] = {rec.m_nTtm1, rec.m_nTtm2, rec.m_nTtm3,
                                rec.m_nTtm4, rec.m_nTtm5, rec.m_nTtm6};
        const ULONG anCPR[6] = {rec.m_nCPR1, rec.m_nCPR2, rec.m_nCPR3,
                                rec.m_nCPR4, rec.m_nCPR5, rec.m_nCPR6};
        const ULONG anMtr[6] = {rec.m_nMtrType1, rec.m_nMtrType2, rec.m_nMtrType3,
                                rec.m_nMtrType4, rec.m_nMtrType5, rec.m_nMtrType6};
        const float afReset[6] = {rec.m_fResetAngle0, rec.m_fResetAngle1, rec.m_fResetAngle2,
                                  rec.m_fResetAngle3, rec.m_fResetAngle4, rec.m_fResetAngle5};
        for (int i = 0; i < 6; i++) {
            m_devData.fReductionDirect[i] = afR[i];
            m_devData.fTtm[i] = (float)anTtm[i] / 1000.0f;
            // A short file leaves the gimbal's counts per revolution at 0: such an axis has
            // no encoder and reads angle 0, rather than an infinite scale that would turn
            // its angle, and the stylus frame built from it, into NaN.
            m_devData.fCPRToRadians[i] = anCPR[i] != 0 ? m_2PI / (float)anCPR[i] : 0.0f;
            m_devData.nMotorType[i] = (int)anMtr[i];
            m_devData.fZeroPositionJointAngles[i] = afReset[i];
        }
        m_devData.nAmpDACLimit = rec.m_nAmpDACLimit;

        m_fNominalMaxStiffness = rec.m_fNominalMaxStiffness;
        m_fNominalMaxDamping = rec.m_fNominalMaxDamping;
        m_fNominalMaxForce = rec.m_fNominalMaxForce;
        m_fNominalMaxContinuousForce = rec.m_fNominalMaxContinuousForce;
        m_fNominalMaxTorqueStiffness = rec.m_fNominalMaxTorqueStiffness;
        m_fNominalMaxTorqueDamping = rec.m_fNominalMaxTorqueDamping;
        m_fNominalMaxTorqueForce = rec.m_fNominalMaxTorqueForce;
        m_fNominalMaxTorqueContinuousForce = rec.m_fNominalMaxTorqueContinuousForce;

        LoadKinetorSerialNumber(pChosen);
        nResult = LoadKinetorInfo(pChosen);
    } while (false);

    for (int i = 0; i < kMaxConfigs; i++) {
        delete apDevices[i];
        apDevices[i] = nullptr;
    }
    delete pMgr;
    return nResult;
}

void CIOLibAPI::LoadKinetorSerialNumber(CKinetorDevice* pDevice)
{
    if (pDevice != nullptr && pDevice->m_nCardType == 6) {
        SERIAL_NUMBER sn;
        sn.v = pDevice->m_n1394SerialNumber;
        char szText[sizeof(m_szSerialNumber)];
        memset(szText, 0, sizeof(szText));
        if (CKinetorMgr::UnpackSerialNumber(&sn, szText)) {
            snprintf(m_szSerialNumber, sizeof(m_szSerialNumber), "%s", szText);
            return;
        }
    }
    snprintf(m_szSerialNumber, sizeof(m_szSerialNumber), "%s", "Unavailable");
}

int CIOLibAPI::LoadKinetorInfo(CKinetorDevice* pDevice)
{
    m_devInfo.hasGimbal = CheckForGimbal();
    if (pDevice == nullptr)
        return 0;
    m_devInfo.is6DOF = (pDevice->m_nModelType == 4) ? 1 : 0;
    m_devInfo.isBravis = (pDevice->m_nModelType == 3) ? 1 : 0;
    m_devInfo.is1394Device = (pDevice->m_nCardType == 6) ? 1 : 0;
    KINETOR_DIMENSIONS* apDims[3] = {&m_devInfo.maxWorkspace, &m_devInfo.maxUsableWorkspace,
                                     &m_devInfo.cubeWorkspace};
    const int* apSrc[3] = {pDevice->m_nMaxWorkspace, pDevice->m_nMaxUsableWorkspace,
                           pDevice->m_nCubeWorkspace};
    for (int k = 0; k < 3; k++) {
        apDims[k]->xMin = apSrc[k][0];
        apDims[k]->xMax = apSrc[k][1];
        apDims[k]->yMin = apSrc[k][2];
        apDims[k]->yMax = apSrc[k][3];
        apDims[k]->zMin = apSrc[k][4];
        apDims[k]->zMax = apSrc[k][5];
    }
    m_devInfo.tableTopOffset = pDevice->m_nTableTopOffset;
    // Reported as the pinch queries report it, so that the record is complete on its own.
    m_devInfo.extra6DOFOption = (int)pDevice->m_nExtra6DOFOption;
    return 0;
}
