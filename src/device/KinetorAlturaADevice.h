// Altura A: the three-link arm with its base motor turning the same way as the joint.
#ifndef KINETOR_ALTURA_A_DEVICE_H
#define KINETOR_ALTURA_A_DEVICE_H

#include "KinetorTypes.h"
#include "device/Kinetor3DOFDevice.h"

class CKinetorAlturaADevice : public CKinetor3DOFDevice {
public:
    CKinetorAlturaADevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                          bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData);
    ~CKinetorAlturaADevice() override;
};

#endif
