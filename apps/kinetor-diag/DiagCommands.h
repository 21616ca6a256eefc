// The commands of kinetor-diag. Each prints its result (text, or one JSON document with
// --json) and returns the process's exit status: 0 success, 1 failure, 2 wrong usage.
#ifndef DIAG_COMMANDS_H
#define DIAG_COMMANDS_H

#include "DiagConfigs.h"

typedef struct _DIAG_CHECK_OPTIONS {
    double dSeconds;        // length of the link test
    double dMoveSeconds;    // how long to wait for the encoders to change
    unsigned long nRateHz;  // servo rate the link test runs at
} DIAG_CHECK_OPTIONS;

int RunList(bool bJson);
int RunNew(const DIAG_NEW_OPTIONS& options, bool bJson);
// dSeconds <= 0 runs until Ctrl-C; dInterval is the time between two plain lines.
int RunShow(const char* pszName, double dSeconds, double dInterval, bool bJson);
int RunCheck(const char* pszName, const DIAG_CHECK_OPTIONS& options, bool bJson);
int RunBlackBox(const char* pszName, bool bJson);

#endif
