#include "DemoOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// An option that takes a value: the value is the next argument, which must exist.
const char* TakeValue(int argc, char** argv, int* pI)
{
    if (*pI + 1 >= argc)
        return nullptr;
    return argv[++*pI];
}

}  // namespace

EDemoOptionsResult ParseDemoOptions(int argc, char** argv, DEMO_OPTIONS* pOptions, char* pszError,
                                    size_t nErrorSize)
{
    pOptions->pszConfig = nullptr;
    pOptions->dSeconds = 10.0;
    pOptions->pszSvg = "kinetor-demo.svg";
    pszError[0] = '\0';
    for (int i = 1; i < argc; i++) {
        const char* pszArg = argv[i];
        if (!strcmp(pszArg, "--help") || !strcmp(pszArg, "-h"))
            return DEMO_OPTIONS_HELP;
        if (!strcmp(pszArg, "--seconds")) {
            const char* pszValue = TakeValue(argc, argv, &i);
            char* pEnd = nullptr;
            double d = pszValue ? strtod(pszValue, &pEnd) : 0.0;
            // NaN fails both comparisons, so it is refused with the rest.
            if (!pszValue || pEnd == pszValue || *pEnd || !(d > 0.0 && d <= 3600.0)) {
                snprintf(pszError, nErrorSize, "--seconds needs a number above 0 and at most 3600%s%.64s%s",
                         pszValue ? " (got '" : "", pszValue ? pszValue : "", pszValue ? "')" : "");
                return DEMO_OPTIONS_ERROR;
            }
            pOptions->dSeconds = d;
        } else if (!strcmp(pszArg, "--svg")) {
            const char* pszValue = TakeValue(argc, argv, &i);
            if (!pszValue || !pszValue[0]) {
                snprintf(pszError, nErrorSize, "--svg needs a file name");
                return DEMO_OPTIONS_ERROR;
            }
            pOptions->pszSvg = pszValue;
        } else if (pszArg[0] == '-' && pszArg[1] != '\0') {
            snprintf(pszError, nErrorSize, "unknown option '%.64s'", pszArg);
            return DEMO_OPTIONS_ERROR;
        } else if (pOptions->pszConfig) {
            snprintf(pszError, nErrorSize, "only one configuration may be named (got '%.64s' after '%.64s')",
                     pszArg, pOptions->pszConfig);
            return DEMO_OPTIONS_ERROR;
        } else {
            pOptions->pszConfig = pszArg;
        }
    }
    return DEMO_OPTIONS_RUN;
}

void PrintDemoUsage(FILE* pOut)
{
    fprintf(pOut,
            "usage: kinetor-demo [CONFIGURATION] [--seconds N] [--svg FILE]\n"
            "  Without CONFIGURATION a simulated arm is set up in a fresh temporary directory.\n"
            "  --seconds N   length of the haptic scene (default 10, at most 3600)\n"
            "  --svg FILE    where to write the plot (default kinetor-demo.svg)\n"
            "  Ctrl-C ends the scene early; the summary and the plot still follow.\n");
}
