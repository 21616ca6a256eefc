#include "config/KinetorPaths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char g_szKinetorConfigDir[] = KINETOR_CONFIG_DIR;

const char* GetConfigFilesDir()
{
    // An empty value names no directory; taking it literally would put the files in "/".
    const char* pszDir = getenv(KINETOR_CONFIG_ENV);
    if (pszDir == nullptr || pszDir[0] == '\0') {
        return nullptr;
    }
    return pszDir;
}

BOOLEAN FormConfigPath(char* pszPath, size_t nSize, const char* pszDir, const char* pszFileName)
{
    if (pszPath == nullptr || nSize == 0) {
        return FALSE;
    }
    pszPath[0] = '\0';
    if (pszDir == nullptr || pszFileName == nullptr) {
        return FALSE;
    }
    int n = snprintf(pszPath, nSize, "%s/%s", pszDir, pszFileName);
    if (n < 0 || static_cast<size_t>(n) >= nSize || n > KINETOR_MAX_PATH) {
        pszPath[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

BOOLEAN FormStateFilePath(char* pszPath, size_t nSize, const char* pszPattern, const char* pszName)
{
    if (pszPath == nullptr || nSize == 0) {
        return FALSE;
    }
    pszPath[0] = '\0';
    if (pszPattern == nullptr || pszName == nullptr) {
        return FALSE;
    }
    // A configuration name must never lead the library to a file outside its directory.
    if (strchr(pszName, '/') != nullptr) {
        return FALSE;
    }
    char szFileName[KINETOR_MAX_PATH + 1];
    int n = snprintf(szFileName, sizeof(szFileName), pszPattern, pszName);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(szFileName) || strchr(szFileName, '/') != nullptr ||
        strcmp(szFileName, ".") == 0 || strcmp(szFileName, "..") == 0) {
        return FALSE;
    }
    const char* pszDir = GetConfigFilesDir();
    if (pszDir == nullptr) {
        pszDir = g_szKinetorConfigDir;
    }
    size_t nDirLen = strlen(pszDir);
    const char* pszSeparator = (nDirLen > 0 && pszDir[nDirLen - 1] == '/') ? "" : "/";
    n = snprintf(pszPath, nSize, "%s%s%s", pszDir, pszSeparator, szFileName);
    if (n < 0 || static_cast<size_t>(n) >= nSize) {
        pszPath[0] = '\0';
        return FALSE;
    }
    return TRUE;
}
