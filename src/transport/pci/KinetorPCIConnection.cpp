#include "transport/pci/KinetorPCIConnection.h"

// The card's connection is not part of this build: without one the constructor status
// stays false, and opening the device reports that the transport could not be built.
CKinetorPCIConnection::CKinetorPCIConnection(ULONG nUnit)
{
    (void)nUnit;
}

CKinetorPCIConnection::~CKinetorPCIConnection()
{
}
