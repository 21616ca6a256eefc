#include "DiagBlackBox.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/KinetorPaths.h"

namespace {

// More than the library ever keeps; a larger count marks a damaged file.
const long kMaxTicks = 65536;

bool ReadLine(FILE* pFile, char* pszLine, size_t nSize)
{
    if (fgets(pszLine, static_cast<int>(nSize), pFile) == nullptr)
        return false;
    size_t n = strlen(pszLine);
    if (n == 0 || pszLine[n - 1] != '\n')
        return false;   // over-long or unterminated: not what the writer produces
    pszLine[n - 1] = '\0';
    return true;
}

// The value after "<key> " on pszLine, or null.
const char* ValueOf(const char* pszLine, const char* pszKey)
{
    size_t n = strlen(pszKey);
    if (strncmp(pszLine, pszKey, n) != 0 || pszLine[n] != ' ')
        return nullptr;
    return pszLine + n + 1;
}

}  // namespace

bool BlackBoxPath(const char* pszName, std::string& path)
{
    char szPath[KINETOR_MAX_PATH + 1];
    if (!FormStateFilePath(szPath, sizeof(szPath), "KinetorBlackBox(%s)", pszName))
        return false;
    path = szPath;
    return true;
}

bool ReadBlackBox(const char* pszPath, DIAG_BLACK_BOX& box, std::string& error)
{
    char szText[640];
    FILE* pFile = fopen(pszPath, "r");
    if (pFile == nullptr) {
        if (errno == ENOENT)
            snprintf(szText, sizeof(szText),
                     "No black box has been recorded (%.400s does not exist): no safety check has "
                     "tripped on this device.",
                     pszPath);
        else
            snprintf(szText, sizeof(szText), "Cannot read the black box %.400s: %s.", pszPath, strerror(errno));
        error = szText;
        return false;
    }
    char szLine[512];
    bool bOk = ReadLine(pFile, szLine, sizeof(szLine)) && strcmp(szLine, "Kinetor black box 1") == 0;
    const char* pszValue = nullptr;
    if (bOk && (bOk = ReadLine(pFile, szLine, sizeof(szLine)) && (pszValue = ValueOf(szLine, "device")) != nullptr))
        box.device = pszValue;
    if (bOk && (bOk = ReadLine(pFile, szLine, sizeof(szLine)) && (pszValue = ValueOf(szLine, "reason")) != nullptr))
        box.reason = pszValue;
    char cExtra = 0;
    bOk = bOk && ReadLine(pFile, szLine, sizeof(szLine)) && (pszValue = ValueOf(szLine, "time")) != nullptr &&
          sscanf(pszValue, "%lld %c", &box.nTime, &cExtra) == 1;
    long nTicks = -1;
    bOk = bOk && ReadLine(pFile, szLine, sizeof(szLine)) && (pszValue = ValueOf(szLine, "ticks")) != nullptr &&
          sscanf(pszValue, "%ld %c", &nTicks, &cExtra) == 1 && nTicks >= 0 && nTicks <= kMaxTicks;
    bOk = bOk && ReadLine(pFile, szLine, sizeof(szLine)) && szLine[0] == '#';
    box.ticks.clear();
    for (long i = 0; bOk && i < nTicks; i++) {
        DIAG_BLACK_BOX_TICK t;
        bOk = ReadLine(pFile, szLine, sizeof(szLine)) &&
              sscanf(szLine, "%lld %lf %lf %lf %lf %lf %lf %ld %ld %ld %ld %ld %ld %ld %c", &t.nTimeUs, &t.adPos[0],
                     &t.adPos[1], &t.adPos[2], &t.adForce[0], &t.adForce[1], &t.adForce[2], &t.anDac[0],
                     &t.anDac[1], &t.anDac[2], &t.anDac[3], &t.anDac[4], &t.anDac[5], &t.nFaults, &cExtra) == 14;
        if (bOk)
            box.ticks.push_back(t);
    }
    fclose(pFile);
    if (!bOk) {
        snprintf(szText, sizeof(szText),
                 "The black box %.400s is damaged or of another version; it cannot be shown. Remove it; "
                 "the library writes a new one at the next safety stop.",
                 pszPath);
        error = szText;
    }
    return bOk;
}
