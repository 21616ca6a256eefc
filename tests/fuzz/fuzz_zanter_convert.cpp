// Feeds arbitrary bytes from the bus to the packet decoder, 32 bytes per packet, so that
// the analogue filters see whole sequences. Every decoded block must be one the library can
// use: analogue codes within 12 bits, no watchdog echo, no revision bits.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "transport/firewire/ZanterConvert.h"

// A packet with a bad signature is reported on standard output, as the decoder must; over
// millions of inputs those lines would fill the disk, so the run sends them nowhere.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (freopen("/dev/null", "w", stdout) == nullptr)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    zanter_reset_filters();
    for (size_t n = 0; n + ZANTER_PACKET_SIZE <= nSize; n += ZANTER_PACKET_SIZE) {
        _PORT_INPUT block;
        if (zanter_convert(pData + n, &block) != 0)
            continue;
        if (block.usPot0 > 4095 || block.usPot1 > 4095 || block.usPot2 > 4095 || block.ucWatchdogCntrIn != 0 ||
            (block.ucSpeedErrs & 0x8F) != 0)
            abort();
    }
    return 0;
}
