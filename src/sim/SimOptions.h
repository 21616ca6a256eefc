// The option list of the simulated hardware, as given in KINETOR_SIMULATOR: a
// comma-separated list of "pace=realtime|lockstep", "hand=free|hold|circle" and "1"
// (the defaults). Spaces around items are allowed; empty items are skipped.
#ifndef SIM_OPTIONS_H
#define SIM_OPTIONS_H

#include <stddef.h>

#include "KinetorTypes.h"
#include "sim/SimArm.h"

typedef enum SIM_PACE {
    SIM_PACE_REALTIME = 0,  // ticks follow the wall clock
    SIM_PACE_LOCKSTEP = 1   // every tick wait advances simulated time to the next tick
} SIM_PACE;

typedef struct _SIM_OPTIONS {
    SIM_PACE nPace;
    SIM_HAND_MODE nHand;
} SIM_OPTIONS;

void SimDefaultOptions(SIM_OPTIONS* pOptions);

// Whether a KINETOR_SIMULATOR value asks for the simulated hardware. Unset (null), empty,
// "0" and "off" (any letter case, spaces around allowed) mean the real hardware: those are
// how people write "switched off", and reading them as an option list would put a
// simulator behind an application that was meant to drive a real arm.
BOOLEAN SimRequested(const char* pszValue);

// Parses pszText over the defaults. Every item that is understood is applied. Returns
// FALSE when an item is not understood; the first such item goes to pszBad (cut to fit,
// may be null). A null or empty text gives the defaults and TRUE.
BOOLEAN SimParseOptions(const char* pszText, SIM_OPTIONS* pOptions, char* pszBad, size_t nBadSize);

#endif
