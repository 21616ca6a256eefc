#include "connection/HapticConnection.h"

CKinetorMutex& CHapticConnection::PortLock()
{
    // Never destroyed: a servo thread still running while the process exits may take it.
    static CKinetorMutex* s_pMutex = new CKinetorMutex(false);
    return *s_pMutex;
}
