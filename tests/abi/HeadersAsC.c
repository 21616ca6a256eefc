/* Compiled as C by the test suite: the public headers must stay usable from C. */
#include "KinetorTypes.h"
#include "KinetorLog.h"
#include "KinetorIO.h"
#include "KinetorWin32.h"
#include "KinetorStats.h"
#include "KinetorFirmware.h"

/* Taking the addresses makes the compiler check every declaration it uses. */
int headers_as_c_probe(void);

int headers_as_c_probe(void) {
    KINETOR_INFO_STRUCT info;
    int (*pfnInit)(char*) = init_kinetor;
    float (*pfnRate)(int) = get_kinetor_rate;
    double (*pfnPinch)(int) = get_pinch_value;
    DWORD (*pfnWait)(DWORD, const HANDLE*, BOOL, DWORD) = WaitForMultipleObjects;
    int (*pfnStats)(KINETOR_SERVO_STATS*) = getServoLoopStats;
    const char* (*pfnErr)(int) = zanload_errstr;
    zanload_firmware* pFirmware = 0;
    LARGE_INTEGER li;
    li.QuadPart = 0;
    info.cubeWorkspace.zMax = globalExtra6DOFOption + (int)li.LowPart + (pfnWait != 0);
    return info.cubeWorkspace.zMax + (pfnInit != 0) + (pfnRate != 0) + (pfnPinch != 0) +
           (int)sizeof(KINETOR_INFO_STRUCT) + (pfnStats != 0) + (pfnErr != 0) + (pFirmware != 0);
}
