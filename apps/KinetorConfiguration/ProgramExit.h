// How the program ends and how it is built up and torn down; tests build the same window
// in their own process and catch the end instead of leaving.
#ifndef PROGRAM_EXIT_H
#define PROGRAM_EXIT_H

#include <X11/Intrinsic.h>

#include "KinetorTypes.h"

typedef void (*PFN_PROGRAM_EXIT)(int nStatus);

// Ends the program with nStatus (through the handler set below, else exit()).
void EndConfigurationProgram(int nStatus);
void SetConfigurationExitHandler(PFN_PROGRAM_EXIT pfnExit);

// Steps 1 to 4 of the start and the realised window with both pages filled. FALSE, after
// the message on standard output, when there is no display.
BOOLEAN CreateConfigurationProgram(int argc, char** argv);
// Destroys the window, the pages and the application context.
void DestroyConfigurationProgram();
// The whole program: create, run until OK or Cancel.
int RunConfigurationProgram(int argc, char** argv);

#endif
