// KinetorConfiguration: adds, edits and deletes the device configurations and sets up the
// dual configuration.
#include "ProgramExit.h"

int main(int argc, char** argv)
{
    return RunConfigurationProgram(argc, argv);
}
