// The servo loop's library-internal entry points: the multiprocessor probes and the
// hooks through which tests point them at prepared files and observe the cycle time.
// The exported interface is in KinetorServo.h.
#ifndef KINETOR_SERVO_LOOP_H
#define KINETOR_SERVO_LOOP_H

#include <stdint.h>

#include "KinetorServo.h"

// Files read by the multiprocessor probes; null restores "/proc/cpuinfo" and
// "/proc/sys/kernel/osrelease". Returns false (nothing changed) for a path too long to keep.
bool SetServoProcPaths(const char* pszCpuInfo, const char* pszOsRelease);

// True when the processor-information file lists at least two processors.
bool is_mp_sys();
// True when the kernel release text contains "smp" in any letter case.
bool is_smp_kernel();

// Disables and destroys every open device (the SIGINT path).
void cleanupKinetors();

// The servo cycle time in nanoseconds (the overrun threshold of a tick).
uint64_t GetServoCycleTime();

#endif
