#include "config/Flt.h"

#include <cmath>

namespace {

// Powers of ten by digit count; the closing 0 marks the end of the table.
const long alPow[] = {1L, 10L, 100L, 1000L, 10000L, 100000L, 1000000L, 10000000L, 100000000L,
                      1000000000L, 0L};
const unsigned short kMaxDigits = 9;

}  // namespace

float FLT(long nInt, long nFrac, unsigned short nDigits)
{
    // Worked in double and rounded once, so FLT(0, 76912, 6) is exactly the float 0.076912f.
    double dValue = std::fabs(static_cast<double>(nInt));
    // A digit count beyond the table has no power of ten; the fraction is then left out
    // rather than divided by zero.
    if (nDigits <= kMaxDigits) {
        dValue += std::fabs(static_cast<double>(nFrac)) / static_cast<double>(alPow[nDigits]);
    }
    if (nInt < 0 || (nInt >= 0 && nFrac < 0)) {
        dValue = -dValue;
    }
    return static_cast<float>(dValue);
}
