#include "device/KinetorAlturaTDevice.h"

CKinetorAlturaTDevice::CKinetorAlturaTDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                                             bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData)
    : CKinetor3DOFDevice(pszKinetorName, nCardType, nUnit, bGimbalPresent, pDevData)
{
    // Same motor map as the Altura A; only the base motor turns the other way.
    m_nMotorAxis1 = 0;
    m_nMotorAxis2 = 2;
    m_nMotorAxis3 = 1;
    m_nMotorAxis4 = 3;
    m_nMotorAxis5 = 4;
    m_nMotorAxis6 = 5;

    m_nMotorSign[0] = -1;
    m_nMotorSign[1] = -1;
    m_nMotorSign[2] = -1;
    m_nMotorSign[3] = -1;
    m_nMotorSign[4] = 1;
    m_nMotorSign[5] = -1;
}

CKinetorAlturaTDevice::~CKinetorAlturaTDevice() {}
