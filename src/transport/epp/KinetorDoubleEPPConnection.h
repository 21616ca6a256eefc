// The double parallel-port transport of one unit: base and gimbal modules chained on one port.
#ifndef KINETOR_DOUBLE_EPP_CONNECTION_H
#define KINETOR_DOUBLE_EPP_CONNECTION_H

#include "KinetorTypes.h"
#include "transport/KernelDevice.h"

class CKinetorDoubleEPPConnection : public CKernelDevice {
public:
    explicit CKinetorDoubleEPPConnection(ULONG nUnit);
    ~CKinetorDoubleEPPConnection() override;

private:
    CKinetorDoubleEPPConnection(const CKinetorDoubleEPPConnection&) = delete;
    CKinetorDoubleEPPConnection& operator=(const CKinetorDoubleEPPConnection&) = delete;
};

#endif
