// The black box the library writes when a safety check trips: the last ticks before it, in
// the text file "KinetorBlackBox(<name>)" of the state directory.
#ifndef DIAG_BLACK_BOX_H
#define DIAG_BLACK_BOX_H

#include <string>
#include <vector>

typedef struct _DIAG_BLACK_BOX_TICK {
    long long nTimeUs;      // device clock
    double adPos[3];        // mm
    double adForce[3];      // N
    long anDac[6];
    long nFaults;           // unfiltered device fault code of that tick
} DIAG_BLACK_BOX_TICK;

typedef struct _DIAG_BLACK_BOX {
    std::string device;
    std::string reason;
    long long nTime;        // seconds since the epoch when written
    std::vector<DIAG_BLACK_BOX_TICK> ticks;   // oldest first
} DIAG_BLACK_BOX;

// The path of the black box of configuration pszName; false when it cannot be formed.
bool BlackBoxPath(const char* pszName, std::string& path);
// Reads and checks a black box file. false with a sentence in error when it is absent,
// of another version, or malformed (a torn file is reported, never half shown).
bool ReadBlackBox(const char* pszPath, DIAG_BLACK_BOX& box, std::string& error);

#endif
