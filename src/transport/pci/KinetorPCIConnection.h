// The PCI card transport of one unit: builds the connection of that card.
#ifndef KINETOR_PCI_CONNECTION_H
#define KINETOR_PCI_CONNECTION_H

#include "KinetorTypes.h"
#include "transport/KernelDevice.h"

class CKinetorPCIConnection : public CKernelDevice {
public:
    explicit CKinetorPCIConnection(ULONG nUnit);
    ~CKinetorPCIConnection() override;

private:
    CKinetorPCIConnection(const CKinetorPCIConnection&) = delete;
    CKinetorPCIConnection& operator=(const CKinetorPCIConnection&) = delete;
};

#endif
