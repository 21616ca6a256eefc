#include "transport/epp/KinetorDoubleEPPConnection.h"

#include <new>

#include "config/KinetorMgr.h"
#include "transport/epp/DoubleEPPConnection.h"

CKinetorDoubleEPPConnection::CKinetorDoubleEPPConnection(ULONG nUnit)
{
    CKinetorMgr mgr;
    if (!mgr.ReadAddresses())
        return;
    // The manager's tables count units from 1.
    ULONG nAddress = mgr.GetEPPAddress(nUnit + 1);
    int nStored = mgr.GetPortMode(nUnit + 1);
    // A mode the port cannot run in is refused at allocation rather than guessed at.
    PP_PORTMODE nMode = (nStored == PM_EPP || nStored == PM_ECP) ? (PP_PORTMODE)nStored : PM_UNSUPPORTED;
    CDoubleEPPConnection* pConnection = new (std::nothrow) CDoubleEPPConnection(nUnit, nAddress, nMode);
    m_pConnection = pConnection;
    // A pair missing a half could not serve the arm: the wrapper counts as not constructed.
    m_bConstructorStatus = (pConnection != nullptr && pConnection->IsComplete()) ? TRUE : FALSE;
}

CKinetorDoubleEPPConnection::~CKinetorDoubleEPPConnection()
{
    // The base destroys the connection.
}
