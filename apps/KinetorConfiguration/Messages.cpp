#include "Messages.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kAdapter[] = "The adapter number you entered is invalid or out of range.\nPlease enter a value between %s and %s.";
const char kAddress[] = "The base address you entered is invalid or out of range.\nPlease enter a value between %s and %s.";
const char kPort[] = "The port number you entered is invalid or out of range.\nPlease enter a value between %s and %s.";

BOOLEAN ParseNumber(const char* pszText, int nBase, long& value)
{
    if (pszText == nullptr) {
        return FALSE;
    }
    while (isspace(static_cast<unsigned char>(*pszText))) {
        pszText++;
    }
    if (*pszText == '\0' || *pszText == '-' || *pszText == '+') {
        return FALSE;
    }
    errno = 0;
    char* pszEnd = nullptr;
    long v = strtol(pszText, &pszEnd, nBase);
    if (errno != 0 || pszEnd == pszText) {
        return FALSE;
    }
    while (isspace(static_cast<unsigned char>(*pszEnd))) {
        pszEnd++;
    }
    if (*pszEnd != '\0') {
        return FALSE;
    }
    value = v;
    return TRUE;
}

int CheckRange(CMessageSink* pSink, int nPrompt, long value, long minVal, long maxVal, const char* pszFormat)
{
    if (value >= minVal && value <= maxVal) {
        return 0;
    }
    FailMinMaxWithFormat(pSink, minVal, maxVal, pszFormat, nPrompt);
    return -1;
}

}  // namespace

const char* const apszRes[MSG_COUNT] = {
    kAdapter,
    kAddress,
    kAdapter,
    kPort,
    kAddress,
    kAdapter,
    kAddress,
    "There are too many Kinetor devices in the list already.",
    "The last Kinetor device in the list cannot be deleted.",
    "Are sure you want to delete this Kinetor device?",
    "A Dual Kinetor Configuration may not be set up with both Kinetors referring\nto the same device.  Please "
    "choose two different Kinetor devices for your\nDual Configuration.",
    "A Dual Kinetor Configuration may not be set up with both Kinetors referring\nto devices on ISA cards using "
    "the same base address.  Please choose two\ndifferent addresses for the Kinetor devices in this Dual "
    "Configuration.",
    "A Dual Kinetor Configuration may not be set up with both Kinetors referring\nto devices on VME cards using "
    "the same base address.  Please choose two\ndifferent addresses for the Kinetor devices in this Dual "
    "Configuration.",
};

void FormatRangeMessage(char* pszText, size_t nSize, int nPrompt, long minVal, long maxVal,
                        const char* pszFormat)
{
    if (pszText == nullptr || nSize == 0) {
        return;
    }
    pszText[0] = '\0';
    if (nPrompt < 0 || nPrompt > 6 || pszFormat == nullptr) {
        return;
    }
    char szMin[32];
    char szMax[32];
    // The formats come from this program only; each is one conversion of a long.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(szMin, sizeof(szMin), pszFormat, minVal);
    snprintf(szMax, sizeof(szMax), pszFormat, maxVal);
    char szMessage[256];
    snprintf(szMessage, sizeof(szMessage), apszRes[nPrompt], szMin, szMax);
#pragma GCC diagnostic pop
    snprintf(pszText, nSize, "%s", szMessage);
}

void FailMinMaxWithFormat(CMessageSink* pSink, long minVal, long maxVal, const char* pszFormat, int nPrompt)
{
    char szMessage[256];
    FormatRangeMessage(szMessage, sizeof(szMessage), nPrompt, minVal, maxVal, pszFormat);
    if (pSink != nullptr) {
        pSink->ShowError(szMessage);
    }
}

int DDV_MinMaxLong(CMessageSink* pSink, int nPrompt, long value, long minVal, long maxVal)
{
    return CheckRange(pSink, nPrompt, value, minVal, maxVal, "%ld");
}

int DDV_MinMaxLongHex(CMessageSink* pSink, int nPrompt, long value, long minVal, long maxVal)
{
    return CheckRange(pSink, nPrompt, value, minVal, maxVal, "0x%lX");
}

int DDV_MinEntries(CMessageSink* pSink, int nPrompt, long value, long minVal, long maxVal)
{
    return CheckRange(pSink, nPrompt, value, minVal, maxVal, "%lu");
}

BOOLEAN ParseDecimal(const char* pszText, long& value)
{
    return ParseNumber(pszText, 10, value);
}

BOOLEAN ParseHex(const char* pszText, long& value)
{
    return ParseNumber(pszText, 16, value);
}
