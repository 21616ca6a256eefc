// Serial numbers of the FireWire interface boards, shared by the configuration store and
// the FireWire transport. Only the low 32 bits of the value carry data; the views below
// name the bits of the two numbering schemes (bit 0 is the least significant).
#ifndef KINETOR_SERIAL_NUMBER_H
#define KINETOR_SERIAL_NUMBER_H

#include "KinetorTypes.h"

typedef struct _SERIAL_NUMBER_SCHEME {
    ULONG bfUnused : 31;
    ULONG bfScheme : 1;
} SERIAL_NUMBER_SCHEME;

typedef struct _SERIAL_NUMBER_FIELDS_V1 {
    ULONG bfParity : 1;
    ULONG bfDailyNumber : 16;
    ULONG bfComputer : 3;
    ULONG bfDay : 5;
    ULONG bfMonth : 4;
    ULONG bfYear : 3;
} SERIAL_NUMBER_FIELDS_V1;

typedef struct _SERIAL_NUMBER_FIELDS_V2 {
    ULONG bfParity : 1;
    ULONG bfDailyNumber : 10;
    ULONG bfComputer : 3;
    ULONG bfDay : 5;
    ULONG bfMonth : 4;
    ULONG bfYear : 3;
    ULONG bfReserved : 5;
    ULONG bfScheme : 1;     // 1 for this layout
} SERIAL_NUMBER_FIELDS_V2;

typedef union _SERIAL_NUMBER {
    ULONG v;
    SERIAL_NUMBER_SCHEME scheme;
    SERIAL_NUMBER_FIELDS_V1 v1;
    SERIAL_NUMBER_FIELDS_V2 v2;
} SERIAL_NUMBER;

// Bit positions of the V2 layout, for code that packs with shifts.
#define SN_V2_PARITY_SHIFT 0
#define SN_V2_DAILY_SHIFT 1
#define SN_V2_DAILY_MASK 1023UL
#define SN_V2_COMPUTER_SHIFT 11
#define SN_V2_COMPUTER_MASK 7UL
#define SN_V2_DAY_SHIFT 14
#define SN_V2_DAY_MASK 31UL
#define SN_V2_MONTH_SHIFT 19
#define SN_V2_MONTH_MASK 15UL
#define SN_V2_YEAR_SHIFT 23
#define SN_V2_YEAR_MASK 7UL
#define SN_V2_RESERVED_SHIFT 26
#define SN_V2_RESERVED_MASK 31UL
#define SN_SCHEME_BIT 31

#define SERIAL_NUMBER_TABLE_SIZE 64
// An entry with all bits set is empty (no board known for that unit).
#define SERIAL_NUMBER_UNKNOWN (~0UL)

typedef struct _SERIAL_NUMBER_TABLE {
    ULONG anSerialNumbers[SERIAL_NUMBER_TABLE_SIZE];
} SERIAL_NUMBER_TABLE;

// Length of the text form, without its terminating NUL.
#define SERIAL_NUMBER_TEXT_LENGTH 11

#endif
