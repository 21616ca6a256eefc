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

// Holds the servo loop at a tick boundary (no callback running, no tick wait in progress)
// for the life of the object, so that a device can be opened into the table or closed and
// destroyed under it. On release the loop paces on the lowest-numbered open device again,
// and ends cleanly when none is left. On the servo thread itself (a device closed from the
// tick callback) nothing is held; the loop looks again once the callback has returned.
class CServoLoopPause {
public:
    CServoLoopPause();
    ~CServoLoopPause();

    // Whether a servo thread was running when the pause began.
    bool LoopAlive() const { return m_bLoopAlive; }

private:
    CServoLoopPause(const CServoLoopPause&) = delete;
    CServoLoopPause& operator=(const CServoLoopPause&) = delete;

    bool m_bHolding;
    bool m_bLoopAlive;
};

// For tests: false makes initOSExtender behave as if the thread that carries out the
// SIGINT shutdown could not be started.
void SetInterruptThreadAllowed(bool bAllowed);

#endif
