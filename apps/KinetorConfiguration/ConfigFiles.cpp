#include "ConfigFiles.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/KinetorDevice.h"
#include "config/KinetorPaths.h"

namespace {

const char* g_pszFixedStateDir = nullptr;

const char* const aszStatePatterns[] = {"KinetorCalibration(%s)", "KinetorTemperature(%s)", "Pinch Calibration(%s)"};

void RemoveStateFilesIn(const char* pszDir, const char* pszName)
{
    if (pszDir == nullptr) {
        return;
    }
    for (const char* pszPattern : aszStatePatterns) {
        char szFileName[KINETOR_MAX_PATH + 1];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        int n = snprintf(szFileName, sizeof(szFileName), pszPattern, pszName);
#pragma GCC diagnostic pop
        char szPath[KINETOR_MAX_PATH + 1];
        if (n > 0 && static_cast<size_t>(n) < sizeof(szFileName) &&
            FormConfigPath(szPath, sizeof(szPath), pszDir, szFileName)) {
            unlink(szPath);
        }
    }
}

}  // namespace

const char* ConfigWriteDir()
{
    const char* pszDir = GetConfigFilesDir();
    return pszDir != nullptr ? pszDir : g_szKinetorConfigDir;
}

BOOLEAN DirectoryIsWritable(const char* pszDir)
{
    struct stat st;
    if (pszDir == nullptr || stat(pszDir, &st) != 0 || !S_ISDIR(st.st_mode)) {
        return FALSE;
    }
    return access(pszDir, W_OK | X_OK) == 0 ? TRUE : FALSE;
}

BOOLEAN ReadStoredText(const char* pszFileName, std::string& strText)
{
    strText.clear();
    CKinetorDevice opener;
    FILE* pFile = opener.OpenConfigurationFile(".", pszFileName, TRUE);
    if (pFile == nullptr && GetConfigFilesDir() != nullptr) {
        pFile = opener.OpenConfigurationFile(GetConfigFilesDir(), pszFileName, TRUE);
    }
    if (pFile == nullptr) {
        pFile = opener.OpenConfigurationFile(g_szKinetorConfigDir, pszFileName, TRUE);
    }
    if (pFile == nullptr) {
        return FALSE;
    }
    char szBuffer[1024];
    size_t n;
    while ((n = fread(szBuffer, 1, sizeof(szBuffer), pFile)) > 0) {
        strText.append(szBuffer, n);
    }
    fclose(pFile);
    return TRUE;
}

void RemoveStateFiles(const char* pszName)
{
    // A name with a '/' never had state files: the library refuses to form their paths.
    if (pszName == nullptr || strchr(pszName, '/') != nullptr) {
        return;
    }
    RemoveStateFilesIn(g_pszFixedStateDir != nullptr ? g_pszFixedStateDir : g_szKinetorConfigDir, pszName);
    RemoveStateFilesIn(GetConfigFilesDir(), pszName);
}

void SetFixedStateDir(const char* pszDir)
{
    g_pszFixedStateDir = pszDir;
}
