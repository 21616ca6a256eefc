#include "device/KinetorAlturaADevice.h"

CKinetorAlturaADevice::CKinetorAlturaADevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                                             bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData)
    : CKinetor3DOFDevice(pszKinetorName, nCardType, nUnit, bGimbalPresent, pDevData)
{
    // The second-link motor sits on joint 1 and the first-link motor on joint 2.
    m_nMotorAxis1 = 0;
    m_nMotorAxis2 = 2;
    m_nMotorAxis3 = 1;
    m_nMotorAxis4 = 3;
    m_nMotorAxis5 = 4;
    m_nMotorAxis6 = 5;

    m_nMotorSign[0] = 1;
    m_nMotorSign[1] = -1;
    m_nMotorSign[2] = -1;
    m_nMotorSign[3] = -1;
    m_nMotorSign[4] = 1;
    m_nMotorSign[5] = -1;
}

CKinetorAlturaADevice::~CKinetorAlturaADevice() {}
