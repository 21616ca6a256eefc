// Trace hooks. Every layer hands its trace texts to LOG, LOGV and LOGT; they are kept in
// the source as documentation of the control flow but must never print or cost time in
// the servo loop. The dead call keeps the arguments "used" for the compiler, so a
// variable that exists only for a trace does not trip -Werror, and is removed entirely.
#ifndef KINETOR_TRACE_H
#define KINETOR_TRACE_H

static inline void KinetorTraceDiscard(const char* /*pszFormat*/, ...) {}

#define LOG(...)  do { if (0) KinetorTraceDiscard(__VA_ARGS__); } while (0)
#define LOGV(...) do { if (0) KinetorTraceDiscard(__VA_ARGS__); } while (0)
#define LOGT(...) do { if (0) KinetorTraceDiscard(__VA_ARGS__); } while (0)

#endif
