// kinetor-diag: lists, creates, watches and checks Kinetor devices from a terminal.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vector>

#include "DiagCommands.h"
#include "DiagConfigs.h"

namespace {

void PrintUsage(FILE* pFile)
{
    fprintf(pFile,
            "Usage: kinetor-diag [--json] COMMAND [ARGUMENTS]\n"
            "\n"
            "  list                    the configurations found, where their files are, and\n"
            "                          whether each device answers\n"
            "  new MODEL NAME [opts]   write a configuration for MODEL (%s)\n"
            "      --interface epp|pci|isa|vme   (Altura A and T; default epp)\n"
            "      --unit N            port or card number, 1 to 4 (default 1)\n"
            "      --address HEX       parallel port base address (default 0x378)\n"
            "      --workspace N       workspace size of the model (Altura A/T 0-3, 6 DOF 0-2)\n"
            "      --gimbal none|hires|lores     gimbal encoders (Altura A and T; default hires)\n"
            "      --serial N          serial number of the FireWire board (Cirrel)\n"
            "  show NAME [--seconds N] [--interval S]\n"
            "                          live pose, velocity, switches, temperatures, faults and\n"
            "                          servo timing; until Ctrl-C unless --seconds is given\n"
            "  check NAME [--seconds N] [--move-seconds N] [--rate HZ]\n"
            "                          self-test with a verdict per step and a link test of N\n"
            "                          seconds (default 2); exit status 0 only when all pass\n"
            "  blackbox NAME           the ticks recorded before the last safety stop\n"
            "\n"
            "  --json                  one JSON document per result, for scripts\n"
            "  --help                  this text\n"
            "\n"
            "KINETOR_SIMULATOR=1 runs every command against simulated hardware;\n"
            "KINETOR_CONFIG_FILES=DIR keeps configurations and state files in DIR.\n",
            ModelKeywords());
}

// A number option's value; false when it is missing or not a number within [dMin, dMax].
bool NumberArg(int argc, char** argv, int& i, double dMin, double dMax, double& dValue)
{
    if (i + 1 >= argc)
        return false;
    char* pEnd = nullptr;
    double d = strtod(argv[i + 1], &pEnd);
    if (pEnd == argv[i + 1] || *pEnd != '\0' || !(d >= dMin && d <= dMax))
        return false;
    dValue = d;
    i++;
    return true;
}

int Usage(const char* pszWhat)
{
    fprintf(stderr, "kinetor-diag: %s. Run \"kinetor-diag --help\" for the commands and options.\n", pszWhat);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    bool bJson = false;
    std::vector<char*> args;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--json") == 0) {
            bJson = true;
        } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        } else {
            args.push_back(argv[i]);
        }
    }
    if (args.empty())
        return Usage("no command given");
    const char* pszCommand = args[0];
    int nArgs = static_cast<int>(args.size());
    char** ppArgs = args.data();
    // Positional arguments of the command, then its options.
    auto positional = [&](int nWanted) {
        int n = 0;
        while (1 + n < nArgs && strncmp(ppArgs[1 + n], "--", 2) != 0)
            n++;
        return n == nWanted;
    };
    if (strcmp(pszCommand, "list") == 0) {
        if (nArgs != 1)
            return Usage("list takes no arguments");
        return RunList(bJson);
    }
    if (strcmp(pszCommand, "new") == 0) {
        if (!positional(2))
            return Usage("new needs a MODEL and a NAME");
        DIAG_NEW_OPTIONS options;
        InitNewOptions(options, ppArgs[1], ppArgs[2]);
        for (int i = 3; i < nArgs; i++) {
            double d = 0.0;
            if (strcmp(ppArgs[i], "--interface") == 0 && i + 1 < nArgs) {
                options.pszInterface = ppArgs[++i];
            } else if (strcmp(ppArgs[i], "--gimbal") == 0 && i + 1 < nArgs) {
                options.pszGimbal = ppArgs[++i];
            } else if (strcmp(ppArgs[i], "--unit") == 0 && NumberArg(nArgs, ppArgs, i, 1, 4, d)) {
                options.nUnit = static_cast<unsigned long>(d);
            } else if (strcmp(ppArgs[i], "--workspace") == 0 && NumberArg(nArgs, ppArgs, i, 0, 3, d)) {
                options.nWorkspace = static_cast<int>(d);
            } else if (strcmp(ppArgs[i], "--serial") == 0 && NumberArg(nArgs, ppArgs, i, 1, 4294967295.0, d)) {
                options.nSerial = static_cast<unsigned long>(d);
            } else if (strcmp(ppArgs[i], "--address") == 0 && i + 1 < nArgs) {
                char* pEnd = nullptr;
                long n = strtol(ppArgs[++i], &pEnd, 16);
                if (*pEnd != '\0' || pEnd == ppArgs[i])
                    return Usage("--address needs a hexadecimal port address such as 0x378");
                options.nAddress = n;
            } else {
                return Usage("unknown or incomplete option of new");
            }
        }
        return RunNew(options, bJson);
    }
    if (strcmp(pszCommand, "show") == 0) {
        if (!positional(1))
            return Usage("show needs the NAME of a configuration");
        double dSeconds = 0.0;
        double dInterval = 0.0;
        for (int i = 2; i < nArgs; i++) {
            if (strcmp(ppArgs[i], "--seconds") == 0 && NumberArg(nArgs, ppArgs, i, 0.0, 1e7, dSeconds))
                continue;
            if (strcmp(ppArgs[i], "--interval") == 0 && NumberArg(nArgs, ppArgs, i, 0.05, 3600.0, dInterval))
                continue;
            return Usage("unknown or incomplete option of show");
        }
        return RunShow(ppArgs[1], dSeconds, dInterval, bJson);
    }
    if (strcmp(pszCommand, "check") == 0) {
        if (!positional(1))
            return Usage("check needs the NAME of a configuration");
        DIAG_CHECK_OPTIONS options = {2.0, 10.0, 1000};
        for (int i = 2; i < nArgs; i++) {
            double d = 0.0;
            if (strcmp(ppArgs[i], "--seconds") == 0 && NumberArg(nArgs, ppArgs, i, 0.1, 3600.0, options.dSeconds))
                continue;
            if (strcmp(ppArgs[i], "--move-seconds") == 0 &&
                NumberArg(nArgs, ppArgs, i, 0.1, 3600.0, options.dMoveSeconds))
                continue;
            if (strcmp(ppArgs[i], "--rate") == 0 && NumberArg(nArgs, ppArgs, i, 100.0, 10000.0, d)) {
                options.nRateHz = static_cast<unsigned long>(d);
                continue;
            }
            return Usage("unknown or incomplete option of check");
        }
        return RunCheck(ppArgs[1], options, bJson);
    }
    if (strcmp(pszCommand, "blackbox") == 0) {
        if (!positional(1) || nArgs != 2)
            return Usage("blackbox needs the NAME of a configuration");
        return RunBlackBox(ppArgs[1], bJson);
    }
    return Usage("unknown command");
}
