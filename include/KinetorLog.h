/* Loggers of the library. Both write to standard error only; the library's own trace
 * texts go through the silent hooks instead, so nothing reaches the terminal unless a
 * caller asks for it. */
#ifndef KINETOR_LOG_H
#define KINETOR_LOG_H

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* printf-style; the formatted text (at most 255 characters) goes out unchanged. */
KINETOR_EXPORT void Log(const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* One line "file, line, thread, seconds: function message" when verbosity is below 2. */
KINETOR_EXPORT void LogV(const char* sourceFile, int sourceLine, const char* pszFunName,
                         const char* pszMsg, int verbosity);

#ifdef __cplusplus
}
#endif

#endif
