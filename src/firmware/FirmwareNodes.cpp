// Node search of the FireWire bus. Until the bus interface is attached this answers as a
// bus without interface boards, so the configuration store runs unchanged without one.
#include "firmware/FirmwareNodes.h"

extern "C" int fw_find_zanter(int serial, void* context)
{
    (void)serial;
    (void)context;
    return -1;
}

extern "C" int fw_release_zanter(int unit, void* context)
{
    (void)unit;
    (void)context;
    return 0;
}
