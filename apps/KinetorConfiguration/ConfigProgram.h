// What Apply does for the whole window: both pages, then the clean-up of per-device state.
#ifndef CONFIG_PROGRAM_H
#define CONFIG_PROGRAM_H

#include "DualPage.h"
#include "HardwarePage.h"

// Hardware page, then dual page. The calibration, temperature and pinch files of every
// configuration whose file changed are removed from both directories, so the library starts
// an edited device uncalibrated and cold; the files of untouched devices stay, above all
// their motor temperatures. TRUE when everything was stored.
BOOLEAN DoApply(CHardwarePage& hardware, CDualPage& dual);

#endif
