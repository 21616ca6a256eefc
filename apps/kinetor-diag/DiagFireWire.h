// The FireWire interface boards on the host's buses, as kinetor-diag lists them: each board
// by the serial number in its configuration ROM and the firmware version of the application
// image it boots.
#ifndef DIAG_FIREWIRE_H
#define DIAG_FIREWIRE_H

#include <string>
#include <vector>

#include "KinetorFirmware.h"

typedef struct _DIAG_FIREWIRE_BOARD {
    unsigned long nSerial;
    int nPort;                  // host port the board hangs on
    std::string firmware;       // version text, "unknown" when the board does not tell
} DIAG_FIREWIRE_BOARD;

// Every board on every host port, in port and node order. False when there is no FireWire
// host at all (no adapter, or no access to its device node); boards is empty then.
bool FindFireWireBoards(std::vector<DIAG_FIREWIRE_BOARD>& boards);

// The firmware version of a board's boot configuration as text.
std::string FirmwareVersionText(const zanload_boot_config& config);

#endif
