#include "DemoConfiguration.h"

#include <cstdio>

const char g_pszDemoConfigName[] = "Kinetor Demo Arm";

// An Altura 1.5 with gimbal encoders on the first parallel port: what a fresh installation
// would typically have. Everything after the name is the configuration file's own layout.
static const char g_pszDemoConfigurationBody[] =
    "a\n"
    "8250, 8250\n"
    "EPP\n"
    "0x378, 0\n"
    "1, 2\n"
    "0.076912, 0.090066\n"
    "114293\n"
    "4000, 2000\n"
    "20\n"
    "-1\n"
    "0.600000, 0.002000, 8.500000, 1.400000\n"
    "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n"
    "-390, 390, -168, 603, -112, 180\n"
    "-140, 140, -20, 440, -78, 78\n"
    "-78, 78, -7, 149, -78, 78\n"
    "34\n"
    "0\n";

bool WriteConfigurationFile(const char* pszDir, const char* pszName, const char* pszBody)
{
    char szPath[512];
    int n = snprintf(szPath, sizeof(szPath), "%s/Kinetor0.ini", pszDir);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(szPath))
        return false;
    FILE* pFile = fopen(szPath, "w");
    if (!pFile)
        return false;
    bool bOk = fprintf(pFile, "%s\n%s", pszName, pszBody) > 0;
    return fclose(pFile) == 0 && bOk;
}

bool WriteDemoConfiguration(const char* pszDir, const char* pszName)
{
    return WriteConfigurationFile(pszDir, pszName, g_pszDemoConfigurationBody);
}
