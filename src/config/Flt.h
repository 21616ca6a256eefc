// Decimal constants from integer part, fraction digits and digit count, so that a value
// such as 0.076912 is written FLT(0, 76912, 6) and comes out identically everywhere.
#ifndef KINETOR_FLT_H
#define KINETOR_FLT_H

float FLT(long nInt, long nFrac, unsigned short nDigits);

#endif
