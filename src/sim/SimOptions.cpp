#include "sim/SimOptions.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

void SimDefaultOptions(SIM_OPTIONS* pOptions)
{
    if (!pOptions)
        return;
    pOptions->nPace = SIM_PACE_REALTIME;
    pOptions->nHand = SIM_HAND_HOLD;
}

BOOLEAN SimRequested(const char* pszValue)
{
    if (!pszValue)
        return FALSE;
    const char* pBegin = pszValue;
    const char* pEnd = pszValue + strlen(pszValue);
    while (pBegin < pEnd && (*pBegin == ' ' || *pBegin == '\t'))
        ++pBegin;
    while (pEnd > pBegin && (pEnd[-1] == ' ' || pEnd[-1] == '\t'))
        --pEnd;
    const size_t nLen = (size_t)(pEnd - pBegin);
    if (nLen == 0 || (nLen == 1 && pBegin[0] == '0'))
        return FALSE;
    if (nLen == 3 && tolower((unsigned char)pBegin[0]) == 'o' && tolower((unsigned char)pBegin[1]) == 'f' &&
        tolower((unsigned char)pBegin[2]) == 'f')
        return FALSE;
    return TRUE;
}

namespace {

// Compares the item [pBegin, pEnd) with a NUL-terminated word.
bool ItemIs(const char* pBegin, const char* pEnd, const char* pszWord)
{
    size_t nLen = strlen(pszWord);
    return (size_t)(pEnd - pBegin) == nLen && memcmp(pBegin, pszWord, nLen) == 0;
}

bool ApplyItem(const char* pBegin, const char* pEnd, SIM_OPTIONS* pOptions)
{
    if (ItemIs(pBegin, pEnd, "1"))
        return true;
    if (ItemIs(pBegin, pEnd, "pace=realtime")) {
        pOptions->nPace = SIM_PACE_REALTIME;
        return true;
    }
    if (ItemIs(pBegin, pEnd, "pace=lockstep")) {
        pOptions->nPace = SIM_PACE_LOCKSTEP;
        return true;
    }
    if (ItemIs(pBegin, pEnd, "hand=free")) {
        pOptions->nHand = SIM_HAND_FREE;
        return true;
    }
    if (ItemIs(pBegin, pEnd, "hand=hold")) {
        pOptions->nHand = SIM_HAND_HOLD;
        return true;
    }
    if (ItemIs(pBegin, pEnd, "hand=circle")) {
        pOptions->nHand = SIM_HAND_CIRCLE;
        return true;
    }
    return false;
}

}  // namespace

BOOLEAN SimParseOptions(const char* pszText, SIM_OPTIONS* pOptions, char* pszBad, size_t nBadSize)
{
    if (pszBad && nBadSize > 0)
        pszBad[0] = '\0';
    if (!pOptions)
        return FALSE;
    SimDefaultOptions(pOptions);
    if (!pszText)
        return TRUE;

    BOOLEAN bOk = TRUE;
    const char* p = pszText;
    while (*p) {
        const char* pEnd = strchr(p, ',');
        if (!pEnd)
            pEnd = p + strlen(p);
        const char* pBegin = p;
        const char* pLast = pEnd;
        while (pBegin < pLast && (*pBegin == ' ' || *pBegin == '\t'))
            ++pBegin;
        while (pLast > pBegin && (pLast[-1] == ' ' || pLast[-1] == '\t'))
            --pLast;
        if (pBegin < pLast && !ApplyItem(pBegin, pLast, pOptions)) {
            if (bOk && pszBad && nBadSize > 0) {
                size_t nLen = (size_t)(pLast - pBegin);
                if (nLen > (size_t)0x7fffffff)
                    nLen = (size_t)0x7fffffff;
                snprintf(pszBad, nBadSize, "%.*s", (int)nLen, pBegin);
            }
            bOk = FALSE;
        }
        p = *pEnd ? pEnd + 1 : pEnd;
    }
    return bOk;
}
