// Altura T: the Altura arm whose base motor is mounted the other way round.
#ifndef KINETOR_ALTURA_T_DEVICE_H
#define KINETOR_ALTURA_T_DEVICE_H

#include "KinetorTypes.h"
#include "device/Kinetor3DOFDevice.h"

class CKinetorAlturaTDevice : public CKinetor3DOFDevice {
public:
    CKinetorAlturaTDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                          bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData);
    ~CKinetorAlturaTDevice() override;
};

#endif
