// Loggers writing to standard error. The message is formatted once into a bounded buffer
// and written as text, so a '%' produced by the formatting can never be interpreted again.
#include "KinetorLog.h"

#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/time.h>

namespace {

const int kLogBufferSize = 256;

// Wall-clock seconds with microsecond resolution.
double WallClockSeconds()
{
    struct timeval tv;
    if (gettimeofday(&tv, nullptr) != 0) {
        return 0.0;
    }
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1000000.0;
}

}  // namespace

extern "C" KINETOR_EXPORT void Log(const char* pszFormat, ...)
{
    if (pszFormat == nullptr) {
        return;
    }
    char szBuffer[kLogBufferSize];
    va_list args;
    va_start(args, pszFormat);
    int n = vsnprintf(szBuffer, sizeof(szBuffer), pszFormat, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    fputs(szBuffer, stderr);
}

extern "C" KINETOR_EXPORT void LogV(const char* sourceFile, int sourceLine, const char* pszFunName,
                                    const char* pszMsg, int verbosity)
{
    if (verbosity >= 2) {
        return;
    }
    // One lock around the whole line keeps lines of different threads from interleaving.
    flockfile(stderr);
    fprintf(stderr, "%s, %d, %lu, %g: ", sourceFile != nullptr ? sourceFile : "", sourceLine,
            static_cast<unsigned long>(pthread_self()), WallClockSeconds());
    if (pszFunName != nullptr) {
        fputs(pszFunName, stderr);
        fputc(' ', stderr);
    }
    if (pszMsg != nullptr) {
        fputs(pszMsg, stderr);
    }
    fputc('\n', stderr);
    fflush(stderr);
    funlockfile(stderr);
}
