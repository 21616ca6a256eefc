// The simulator's interface for tests (not part of the library's public interface): put the
// process on the simulated hardware, script it, read its ground truth and break it.
// Arms are driven through their own test operations (CSimArm: hand, switches, device fault,
// speed errors, true joint angles, DAC counts and amplifier state received).
#ifndef SIM_TEST_INTERFACE_H
#define SIM_TEST_INTERFACE_H

#include <stdint.h>

#include <mutex>

#include "KinetorTypes.h"
#include "config/KinetorDevice.h"
#include "sim/SimArm.h"
#include "sim/SimOptions.h"

// Makes this process use the simulated hardware from now on, whatever KINETOR_SIMULATOR
// said, with the options of pszOptions (null: defaults).
void SimActivate(const char* pszOptions);
// Undoes SimActivate: the device nodes chosen from the environment again, default options,
// and the library's device clock back on the wall clock.
void SimDeactivate();
// Back to power-up: no arms, no open descriptors, port idle, no faults, simulated time at
// its start. The options stay. Call only while no transport has the port open.
void SimReset();
void SimSetOptions(const SIM_OPTIONS& options);
SIM_OPTIONS SimGetOptions();

// Holds the simulated hardware still: arms are stepped by the servo thread's tick waits,
// so a test that scripts or reads an arm while a servo loop runs does it under this lock.
class CSimLock {
public:
    CSimLock();
    ~CSimLock();

private:
    CSimLock(const CSimLock&) = delete;
    CSimLock& operator=(const CSimLock&) = delete;
};

// ---- arms ----
// Derives the arms from the configurations now (the port does it when first opened).
void SimDeriveArms();
// Attaches an arm for a configuration record, as if configuration nConfigIndex described it.
CSimArm* SimAttachArm(const CKinetorDevice& config, int nConfigIndex);
// The arm of a configuration name, or of a parallel-port unit and channel; null if none.
CSimArm* SimFindArm(const char* pszName);
CSimArm* SimFindEPPArm(ULONG nUnit, int nChannel);
// Chooses the parallel-port unit served by "/dev/kinepp" (negative: lowest-numbered
// parallel-port configuration); takes effect when the port is next opened.
void SimSetEPPUnit(long nUnit);

// ---- time ----
// The simulated hardware's now, ns (simulated time in lockstep).
int64_t SimNowNs();
uint64_t SimTickCount();
// Runs the hardware for a while (lockstep: advances simulated time).
void SimAdvance(int64_t nNs);
// The next nTicks ticks raise no interrupt; negative: none ever again; 0: ticks resume.
void SimLoseTicks(long nTicks);

// ---- the parallel port ----
typedef struct _SIM_EPP_STATE {
    BOOLEAN bClaimed;
    int nMode;
    UCHAR ucControl;
    int nDataDir;
    UCHAR ucAddress;
    int nPendingInterrupts;
    int nTickRate;
    BOOLEAN bTimerRunning;
    int nOpenDescriptors;
} SIM_EPP_STATE;

void SimGetEPPState(SIM_EPP_STATE* pState);
// Output-block registers of module nModule as last written (8 bytes), and counts of the
// block reads and writes it saw.
BOOLEAN SimGetEPPOutputBlock(int nModule, UCHAR* pucOut);
ULONG SimGetEPPBlockReads(int nModule);
// 12-bit DAC word last received for motor nMotor of the arm on the port (2047 when none).
int SimGetEPPDACWord(int nMotor);
// The distinct 12-bit DAC words motor nMotor received since the simulator's reset or the
// last clear, in increasing order: up to nMax into pnWords; returns how many there are.
int SimGetEPPDACWordsReceived(int nMotor, int* pnWords, int nMax);
void SimClearEPPDACWordsReceived();
// Watchdog counter last received by module nModule.
UCHAR SimGetEPPWatchdogCounter(int nModule);
BOOLEAN SimGetEPPWatchdogSatisfied(int nModule);
// The next nReads block reads of module nModule echo a wrong watchdog counter.
void SimInjectEPPEchoErrors(int nModule, int nReads);
// Module nModule stops answering (lost communication) or answers again.
void SimSetEPPSilent(int nModule, BOOLEAN bSilent);
// Module nModule alone reports a device fault, or a speed error of its axis nAxis (0..2),
// whatever its arm reports: the two modules of a chained arm can then disagree.
void SimSetEPPModuleFault(int nModule, BOOLEAN bFault);
void SimSetEPPModuleSpeedError(int nModule, int nAxis, BOOLEAN bError);
// Amplifier group of module nModule powered, as its enable line and watchdog say now.
BOOLEAN SimGetEPPModuleAmplifiers(int nModule);
// FALSE: plain reads see the device (a port that turns its data lines round itself).
void SimSetEPPNeedsDirectionSwitch(BOOLEAN bNeeds);
// Text of "/dev/kinepp_modes"; null: the file cannot be opened.
void SimSetEPPModesText(const char* pszText);

// ---- PCI cards ----
CSimArm* SimFindPCIArm(ULONG nUnit, int nChannel);
typedef struct _SIM_PCI_STATE {
    UCHAR ucControl;        // register 6 as last written
    int anDAC[8];           // 12-bit DAC values as last written (6 and 7 drive no motor)
    USHORT ausCounters[6];  // counters as the card reports them
    BOOLEAN abAmplifierGroupOn[2];  // channel 0's base; channel 1's base or channel 0's gimbal
    BOOLEAN bTimerRunning;
    int nTickRate;          // rate the timer bits select
    int nPendingTicks;
    int nOpenDescriptors;
} SIM_PCI_STATE;
BOOLEAN SimGetPCIState(int nUnit, SIM_PCI_STATE* pState);

// ---- device nodes and requests ----
void SimSetNodePresent(const char* pszPath, BOOLEAN bPresent);
// The next nTimes calls of a request fail with EIO (negative: all of them; 0: none).
// Names: "open", "read", "write", "poll", the ppdev request names ("PPCLAIM", ...) and
// the PCI card's "KINPCI_READ_REGISTER", "KINPCI_WRITE_REGISTER", "KINPCI_READ_COUNTERS",
// "KINPCI_WRITE_DACS".
void SimFailRequest(const char* pszName, int nTimes);
// The same with another error number (EINTR for a poll interrupted by a signal, ...).
void SimFailRequestWith(const char* pszName, int nTimes, int nErrno);

#endif
