/* Fixed-width types shared by the library, its public headers and the configuration
 * program. LONG, ULONG and DWORD keep the platform's long width on purpose: stored
 * files and callers exchange them as such. */
/** @file
 * @brief Types shared by the public headers. */
#ifndef KINETOR_TYPES_H
#define KINETOR_TYPES_H

#include <stdint.h>

typedef unsigned char BOOLEAN;
typedef unsigned char BOOL;
typedef unsigned char UCHAR;
typedef unsigned char BYTE;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef long LONG;
typedef unsigned long ULONG;
typedef unsigned long DWORD;
typedef unsigned long HANDLE;

typedef float MATRIX[4][4];

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#if defined(__GNUC__)
#define KINETOR_EXPORT __attribute__((visibility("default")))
#else
#define KINETOR_EXPORT
#endif

#endif
