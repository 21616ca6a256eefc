#include "config/ConfigScanner.h"

#include <errno.h>
#include <locale.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool IsSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(int c)
{
    return c >= '0' && c <= '9';
}

int HexValue(int c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The files always use '.' as the decimal point, whatever locale the application chose.
locale_t CLocale()
{
    static locale_t s_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return s_locale;
}

const size_t kMaxFloatToken = 64;
const int64_t kMagnitudeCap = INT64_C(1) << 40;  // far beyond any accepted field value

}  // namespace

CConfigScanner::CConfigScanner(const char* pData, size_t nLength)
    : m_pData(pData), m_nLength(pData != nullptr ? nLength : 0), m_nPos(0), m_bRangeError(FALSE)
{
}

int CConfigScanner::PeekChar() const
{
    if (m_nPos >= m_nLength) {
        return -1;
    }
    return static_cast<unsigned char>(m_pData[m_nPos]);
}

void CConfigScanner::SkipSpace()
{
    while (m_nPos < m_nLength && IsSpace(static_cast<unsigned char>(m_pData[m_nPos]))) {
        m_nPos++;
    }
}

BOOLEAN CConfigScanner::ReadLine(char* pszLine, size_t nSize)
{
    if (pszLine == nullptr || nSize == 0) {
        return FALSE;
    }
    pszLine[0] = '\0';
    if (m_nPos >= m_nLength) {
        return FALSE;
    }
    size_t n = 0;
    while (n + 1 < nSize && m_nPos < m_nLength) {
        char c = m_pData[m_nPos++];
        pszLine[n++] = c;
        if (c == '\n') {
            break;
        }
    }
    pszLine[n] = '\0';
    return TRUE;
}

BOOLEAN CConfigScanner::ConvertInteger(SCAN_KIND eKind, void* pValue, BOOLEAN& bMatched)
{
    bMatched = FALSE;
    size_t nStart = m_nPos;
    size_t nPos = m_nPos;
    bool bNegative = false;
    if (nPos < m_nLength && (m_pData[nPos] == '+' || m_pData[nPos] == '-')) {
        bNegative = m_pData[nPos] == '-';
        nPos++;
    }
    int nBase = 10;
    if (eKind == SCAN_HEX32) {
        nBase = 16;
        if (nPos + 2 < m_nLength && m_pData[nPos] == '0' &&
            (m_pData[nPos + 1] == 'x' || m_pData[nPos + 1] == 'X') &&
            HexValue(static_cast<unsigned char>(m_pData[nPos + 2])) >= 0) {
            nPos += 2;
        }
    }
    int64_t nMagnitude = 0;
    size_t nDigits = 0;
    while (nPos < m_nLength) {
        int c = static_cast<unsigned char>(m_pData[nPos]);
        int nDigit = (nBase == 16) ? HexValue(c) : (IsDigit(c) ? c - '0' : -1);
        if (nDigit < 0) {
            break;
        }
        if (nMagnitude < kMagnitudeCap) {
            nMagnitude = nMagnitude * nBase + nDigit;
        }
        nDigits++;
        nPos++;
    }
    if (nDigits == 0) {
        m_nPos = nStart;
        return TRUE;  // matching failure: nothing stored, not a range error
    }
    m_nPos = nPos;
    bMatched = TRUE;
    int64_t nValue = bNegative ? -nMagnitude : nMagnitude;
    switch (eKind) {
    case SCAN_INT:
        if (nValue < INT32_MIN || nValue > INT32_MAX) {
            return FALSE;
        }
        *static_cast<int*>(pValue) = static_cast<int>(nValue);
        return TRUE;
    case SCAN_LOW32:
        // Values were written as the signed low 32 bits; both readings of those bits are valid.
        if (nValue < INT32_MIN || nValue > static_cast<int64_t>(UINT32_MAX)) {
            return FALSE;
        }
        *static_cast<ULONG*>(pValue) = static_cast<ULONG>(static_cast<uint32_t>(nValue));
        return TRUE;
    case SCAN_HEX32:
        if (nValue < 0 || nValue > static_cast<int64_t>(UINT32_MAX)) {
            return FALSE;
        }
        *static_cast<ULONG*>(pValue) = static_cast<ULONG>(nValue);
        return TRUE;
    default:
        return FALSE;
    }
}

BOOLEAN CConfigScanner::ConvertFloat(float* pValue, BOOLEAN& bMatched)
{
    bMatched = FALSE;
    // Only plain decimal notation: no infinities, NaNs or hexadecimal floats in a file.
    char szToken[kMaxFloatToken + 1];
    size_t n = 0;
    size_t nPos = m_nPos;
    while (nPos < m_nLength) {
        char c = m_pData[nPos];
        if (!(IsDigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.' || c == 'e' ||
              c == 'E')) {
            break;
        }
        if (n == kMaxFloatToken) {
            return FALSE;  // a number this long is not a value of this file
        }
        szToken[n++] = c;
        nPos++;
    }
    szToken[n] = '\0';
    if (n == 0) {
        return TRUE;
    }
    char* pEnd = nullptr;
    errno = 0;
    locale_t loc = CLocale();
    float fValue = (loc != static_cast<locale_t>(0)) ? strtof_l(szToken, &pEnd, loc) : strtof(szToken, &pEnd);
    if (pEnd == szToken) {
        return TRUE;  // matching failure
    }
    bMatched = TRUE;
    m_nPos += static_cast<size_t>(pEnd - szToken);
    if (!isfinite(fValue)) {
        return FALSE;
    }
    *pValue = fValue;
    return TRUE;
}

BOOLEAN CConfigScanner::ConvertKeyword(char* pszValue, BOOLEAN& bMatched)
{
    bMatched = FALSE;
    size_t nStart = m_nPos;
    size_t nPos = m_nPos;
    while (nPos < m_nLength && !IsSpace(static_cast<unsigned char>(m_pData[nPos]))) {
        nPos++;
    }
    size_t n = nPos - nStart;
    if (n == 0) {
        return TRUE;
    }
    m_nPos = nPos;
    bMatched = TRUE;
    if (n > 7) {
        return FALSE;  // the keyword fields hold seven characters and the NUL
    }
    memcpy(pszValue, &m_pData[nStart], n);
    pszValue[n] = '\0';
    return TRUE;
}

int CConfigScanner::Scan(const char* pszPattern, const SCAN_TARGET* aTargets, int nTargets)
{
    int nCount = 0;
    int nTarget = 0;
    if (pszPattern == nullptr) {
        return 0;
    }
    for (const char* p = pszPattern; *p != '\0'; p++) {
        if (IsSpace(static_cast<unsigned char>(*p))) {
            SkipSpace();
            continue;
        }
        if (*p != '%') {
            if (m_nPos >= m_nLength) {
                return nCount > 0 ? nCount : -1;
            }
            if (m_pData[m_nPos] != *p) {
                return nCount;
            }
            m_nPos++;
            continue;
        }
        p++;
        if (*p == '\0' || nTarget >= nTargets || aTargets == nullptr) {
            return nCount;
        }
        SkipSpace();
        if (m_nPos >= m_nLength) {
            return nCount > 0 ? nCount : -1;
        }
        const SCAN_TARGET& target = aTargets[nTarget++];
        BOOLEAN bMatched = FALSE;
        BOOLEAN bInRange = TRUE;
        switch (target.eKind) {
        case SCAN_INT:
        case SCAN_LOW32:
        case SCAN_HEX32:
            bInRange = ConvertInteger(target.eKind, target.pValue, bMatched);
            break;
        case SCAN_FLOAT:
            bInRange = ConvertFloat(static_cast<float*>(target.pValue), bMatched);
            break;
        case SCAN_KEYWORD:
            bInRange = ConvertKeyword(static_cast<char*>(target.pValue), bMatched);
            break;
        }
        if (!bInRange) {
            m_bRangeError = TRUE;
            return nCount;
        }
        if (!bMatched) {
            return nCount;
        }
        nCount++;
    }
    return nCount;
}
