// The texts of the message boxes and the range checks that show them.
#ifndef CONFIG_MESSAGES_H
#define CONFIG_MESSAGES_H

#include "PageControls.h"

#define MSG_COUNT 13
enum {
    MSG_RANGE_ADAPTER = 2,
    MSG_RANGE_PORT = 3,
    MSG_RANGE_ADDRESS = 4,
    MSG_TOO_MANY = 7,
    MSG_LAST_DEVICE = 8,
    MSG_CONFIRM_DELETE = 9,
    MSG_DUAL_SAME = 10,
    MSG_DUAL_ISA = 11,
    MSG_DUAL_VME = 12
};

extern const char* const apszRes[MSG_COUNT];

// The message composed into pszText (at most 255 characters): message nPrompt with its two
// bounds formatted by pszFormat (each at most 31 characters).
void FormatRangeMessage(char* pszText, size_t nSize, int nPrompt, long minVal, long maxVal,
                        const char* pszFormat);
void FailMinMaxWithFormat(CMessageSink* pSink, long minVal, long maxVal, const char* pszFormat, int nPrompt);
// 0 when minVal <= value <= maxVal; otherwise the range message in the error box and -1.
int DDV_MinMaxLong(CMessageSink* pSink, int nPrompt, long value, long minVal, long maxVal);
int DDV_MinMaxLongHex(CMessageSink* pSink, int nPrompt, long value, long minVal, long maxVal);
int DDV_MinEntries(CMessageSink* pSink, int nPrompt, long value, long minVal, long maxVal);

// Whole-text number parsing: TRUE only when pszText (blanks around it allowed) is a number
// of the base and nothing else, so that "12abc" or "" never pass as 12 or 0.
BOOLEAN ParseDecimal(const char* pszText, long& value);
BOOLEAN ParseHex(const char* pszText, long& value);

#endif
