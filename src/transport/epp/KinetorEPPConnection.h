// The parallel-port transport of one unit: builds its connection from the port address
// and port mode configured for that unit.
#ifndef KINETOR_EPP_CONNECTION_H
#define KINETOR_EPP_CONNECTION_H

#include "KinetorTypes.h"
#include "transport/KernelDevice.h"

class CKinetorEPPConnection : public CKernelDevice {
public:
    explicit CKinetorEPPConnection(ULONG nUnit);
    virtual ~CKinetorEPPConnection();

private:
    CKinetorEPPConnection(const CKinetorEPPConnection&) = delete;
    CKinetorEPPConnection& operator=(const CKinetorEPPConnection&) = delete;
};

#endif
