/* Loggers of the library. Both write to standard error only; the library's own trace
 * texts go through the silent hooks instead, so nothing reaches the terminal unless a
 * caller asks for it. */
/** @file
 * @brief The loggers.
 * @ingroup logging */
#ifndef KINETOR_LOG_H
#define KINETOR_LOG_H

#include "KinetorTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* printf-style; the formatted text (at most 255 characters) goes out unchanged. */
/** Writes a printf-style message to standard error.
 * @param pszFormat printf format; the text is cut at 255 characters
 * @thread Any thread. */
KINETOR_EXPORT void Log(const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* One line "file, line, thread, seconds: function message" when verbosity is below 2. */
/** Writes one line "file, line, thread, seconds: function message" to standard error
 * when verbosity is below 2, and nothing otherwise.
 * @param sourceFile source file name, usually __FILE__
 * @param sourceLine source line, usually __LINE__
 * @param pszFunName function name
 * @param pszMsg the message
 * @param verbosity 0 or 1 is written; 2 and above is not
 * @thread Any thread. */
KINETOR_EXPORT void LogV(const char* sourceFile, int sourceLine, const char* pszFunName,
                         const char* pszMsg, int verbosity);

#ifdef __cplusplus
}
#endif

#endif
