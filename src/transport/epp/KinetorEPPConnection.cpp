#include "transport/epp/KinetorEPPConnection.h"

#include "config/KinetorMgr.h"
#include "transport/epp/EPPConnection.h"

CKinetorEPPConnection::CKinetorEPPConnection(ULONG nUnit)
{
    CKinetorMgr mgr;
    if (mgr.ReadAddresses()) {
        // The manager's tables count units from 1.
        ULONG nAddress = mgr.GetEPPAddress(nUnit + 1);
        int nStored = mgr.GetPortMode(nUnit + 1);
        // A mode the port cannot run in is refused at allocation rather than guessed at.
        PP_PORTMODE nMode = (nStored == PM_EPP || nStored == PM_ECP) ? (PP_PORTMODE)nStored
                                                                     : PM_UNSUPPORTED;
        m_pConnection = new CEPPConnection(nUnit, nAddress, nMode);
        m_bConstructorStatus = TRUE;
    }
}

CKinetorEPPConnection::~CKinetorEPPConnection()
{
    // The base destroys the connection.
}
