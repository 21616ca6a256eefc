// The demo's command line, read apart from main so that every way of getting it wrong can
// be checked without starting an arm.
#ifndef KINETOR_DEMO_OPTIONS_H
#define KINETOR_DEMO_OPTIONS_H

#include <cstddef>
#include <cstdio>

typedef struct _DEMO_OPTIONS {
    const char* pszConfig;  // null: set up the simulated demo arm
    double dSeconds;        // length of the scene
    const char* pszSvg;     // where the plot goes
} DEMO_OPTIONS;

enum EDemoOptionsResult { DEMO_OPTIONS_RUN, DEMO_OPTIONS_HELP, DEMO_OPTIONS_ERROR };

// Fills pOptions from argv (defaults first). On DEMO_OPTIONS_ERROR pszError holds one line
// naming the offending argument, without the program name.
EDemoOptionsResult ParseDemoOptions(int argc, char** argv, DEMO_OPTIONS* pOptions, char* pszError,
                                    size_t nErrorSize);

void PrintDemoUsage(FILE* pOut);

#endif
