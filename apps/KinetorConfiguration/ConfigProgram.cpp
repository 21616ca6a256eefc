#include "ConfigProgram.h"

#include "ConfigFiles.h"

BOOLEAN DoApply(CHardwarePage& hardware, CDualPage& dual)
{
    BOOLEAN bResult = hardware.OnApply();
    if (bResult) {
        bResult = dual.OnApply();
    }
    // Even after a partial failure the files that were written describe new devices; their
    // stale state has to go.
    for (int i = 0; i < hardware.GetChangedCount(); i++) {
        RemoveStateFiles(hardware.GetChangedName(i));
    }
    return bResult;
}
