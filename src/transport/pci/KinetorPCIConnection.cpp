#include "transport/pci/KinetorPCIConnection.h"

#include <new>

#include "transport/pci/PCIConnection.h"

// Nothing is opened here: the card node is opened when a channel is allocated.
CKinetorPCIConnection::CKinetorPCIConnection(ULONG nUnit)
{
    m_pConnection = new (std::nothrow) CPCIConnection(nUnit);
    m_bConstructorStatus = (m_pConnection != nullptr) ? TRUE : FALSE;
}

CKinetorPCIConnection::~CKinetorPCIConnection()
{
    // The base destroys the connection.
}
