#include "transport/epp/KinetorDoubleEPPConnection.h"

// The chained-module connection is not part of this build: without one the constructor
// status stays false, and opening the device reports that the transport could not be built.
CKinetorDoubleEPPConnection::CKinetorDoubleEPPConnection(ULONG nUnit)
{
    (void)nUnit;
}

CKinetorDoubleEPPConnection::~CKinetorDoubleEPPConnection()
{
}
