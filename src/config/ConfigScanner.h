// Reader of the configuration text with the conversion rules of the C library's formatted
// input (white space in a pattern skips any white space, a comma must match, a conversion
// skips leading white space, the count of conversions or EOF is returned), but over a
// bounded buffer and with every value range-checked: a number that does not fit its field
// or a keyword longer than its field is a hard error, never a silent wrap.
#ifndef KINETOR_CONFIG_SCANNER_H
#define KINETOR_CONFIG_SCANNER_H

#include <stddef.h>

#include "KinetorTypes.h"

// What a conversion stores into.
enum SCAN_KIND {
    SCAN_INT,       // int, decimal, int range
    SCAN_LOW32,     // ULONG, decimal; -2^31 .. 2^32-1 kept as its low 32 bits
    SCAN_HEX32,     // ULONG, hexadecimal with optional 0x; 0 .. 0xFFFFFFFF
    SCAN_FLOAT,     // float, finite
    SCAN_KEYWORD    // char[8]: at most seven characters
};

typedef struct _SCAN_TARGET {
    SCAN_KIND eKind;
    void* pValue;
} SCAN_TARGET;

class CConfigScanner {
public:
    CConfigScanner(const char* pData, size_t nLength);

    // Reads one line as fgets with a buffer of nSize would; FALSE at end of input.
    BOOLEAN ReadLine(char* pszLine, size_t nSize);
    // Applies one pattern; returns the number of conversions stored, or -1 when the input
    // ended before the first one. Conversions in the pattern: %d, %x, %f, %s, taken in
    // order from aTargets (their kinds decide the storage, the letters only mark places).
    int Scan(const char* pszPattern, const SCAN_TARGET* aTargets, int nTargets);

    // Set once any value was out of the range of its field; the read as a whole then fails.
    BOOLEAN HasRangeError() const { return m_bRangeError; }
    int PeekChar() const;

private:
    void SkipSpace();
    BOOLEAN ConvertInteger(SCAN_KIND eKind, void* pValue, BOOLEAN& bMatched);
    BOOLEAN ConvertFloat(float* pValue, BOOLEAN& bMatched);
    BOOLEAN ConvertKeyword(char* pszValue, BOOLEAN& bMatched);

    const char* m_pData;
    size_t m_nLength;
    size_t m_nPos;
    BOOLEAN m_bRangeError;
};

#endif
