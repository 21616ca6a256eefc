// Critical sections of the Win32-style layer and the multiprocessor switch that decides
// whether entering one spins first. The declarations are public (KinetorWin32.h); this
// header is what the library's own code includes.
#ifndef KINETOR_CRITICAL_SECTION_H
#define KINETOR_CRITICAL_SECTION_H

#include "KinetorWin32.h"

// Lets a statically allocated critical section start life entered-able before anything
// has run: the state InitializeCriticalSection would give it (recursive, spin count 0).
#define KINETOR_CRITICAL_SECTION_INITIALIZER { PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP, 0 }

#endif
