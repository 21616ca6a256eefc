// The simulated PC parallel port behind "/dev/kinepp" and the Kinetor interface modules
// chained on it. The modules sit one after the other in the EPP address space, 24
// addresses each (16 input-block registers, then 8 output-block registers), so a sweep
// that starts at address 0 meets the first module's blocks and then the second's. The
// device's address pointer advances by one with every data byte.
//
// The port's data lines do not turn round by themselves: a read with the lines still
// driven by the host sees the host's own last byte. Only after the explicit direction
// switch does the device's answer come through. That makes the transports run their
// second talk-test method and their reverse-mode check, as on the ports they were built for.
//
// Everything here runs under the lock of the simulated hardware.
#ifndef SIM_EPP_PORT_H
#define SIM_EPP_PORT_H

#include <stdint.h>
#include <sys/types.h>

#include "KinetorTypes.h"
#include "sim/SimArm.h"

#define SIM_EPP_MODULES 2
#define SIM_EPP_MODULE_SPAN 24
#define SIM_EPP_INPUT_SIZE 16
#define SIM_EPP_OUTPUT_SIZE 8
// Control register bit that lets the port raise its interrupt.
#define SIM_EPP_CONTROL_IRQ 0x10
// The device's watchdog is satisfied for this long after the last new counter value.
#define SIM_EPP_WATCHDOG_WINDOW_NS 100000000LL
// On a board with the timeout circuit the amplifier-enable input is retriggerable: a line
// pulsed once per tick keeps the amplifiers on; once it stays low they drop out after this
// hold time. A board without it switches them by the line's level.
#define SIM_EPP_AMP_HOLD_NS 2500000LL

// One interface module on the chain: the base electronics of an arm (motors 0..2), or the
// gimbal electronics of a 6-DOF arm (motors 3..5).
typedef struct _SIM_EPP_MODULE {
    CSimArm* pArm;              // null: nothing answers at these addresses
    int nMotorBase;             // 0 base module, 3 gimbal module
    BOOLEAN bGimbalEncodersOnPots;  // base module of an arm with gimbal encoders on usPot0..2
    BOOLEAN bTimeoutCircuit;    // the enable line drives a retriggerable timeout circuit
    UCHAR aucOut[SIM_EPP_OUTPUT_SIZE];  // output-block registers as last written
    UCHAR aucSnapshot[SIM_EPP_INPUT_SIZE];  // input block latched at the start of a read
    UCHAR ucTimerCnt;
    int64_t nLastWatchdogChangeNs;
    BOOLEAN bAmpLineHigh;       // amplifier-enable line as last applied
    int64_t nAmpLineFallNs;     // when it last went low
    int nEchoErrors;            // injected: so many block reads echo a wrong counter
    BOOLEAN bSilent;            // injected: the module does not answer (lost communication)
    BOOLEAN bFault;             // injected: this module alone reports a device fault
    UCHAR ucSpeedErrs;          // injected: speed-error bits (0x70) this module alone reports
    BOOLEAN bAmpsEnabled;       // its amplifier group is powered (the base module's drives the arm)
    ULONG nBlockReads;
    ULONG nBlockWrites;
} SIM_EPP_MODULE;

class CSimEPPPort {
public:
    CSimEPPPort();

    // Power-on state of the port and empty chain (arms are not owned).
    void Reset();
    // Puts an arm on the chain at position nModule; nMotorBase 0 or 3.
    void SetModule(int nModule, CSimArm* pArm, int nMotorBase, BOOLEAN bGimbalEncodersOnPots,
                   BOOLEAN bTimeoutCircuit, int64_t nNowNs);
    SIM_EPP_MODULE* GetModule(int nModule);

    // ppdev requests; return 0 or -1 with errno.
    int Claim();
    int Release();
    int SetMode(int nMode);
    int Negotiate(int nMode);
    int ReadControl(UCHAR* pucControl);
    int WriteControl(UCHAR ucControl);
    int FrobControl(UCHAR ucMask, UCHAR ucVal);
    int SetDataDir(int nReverse);
    // Returns the interrupts counted since the last call and clears the count.
    int ClearIrq(int* pnCount);
    ssize_t Read(UCHAR* pBuffer, size_t nCount, int64_t nNowNs);
    ssize_t Write(const UCHAR* pBuffer, size_t nCount, int64_t nNowNs);

    // One tick of the device's hardware timer; counts an interrupt when the timer runs and
    // the port may interrupt, unless bLost.
    void OnTick(int64_t nNowNs, BOOLEAN bLost);
    // Ticks per second of the hardware timer as the first module is set now.
    int GetTickRate() const;
    BOOLEAN IsTimerRunning() const;
    BOOLEAN IsInterruptEnabled() const { return (m_ucControl & SIM_EPP_CONTROL_IRQ) ? TRUE : FALSE; }
    int PendingInterrupts() const { return m_nIrqCount; }
    // Re-evaluates what the modules' outputs do to their arms (amplifiers follow the watchdog).
    void ApplyOutputs(int64_t nNowNs);

    BOOLEAN IsClaimed() const { return m_bClaimed; }
    int GetMode() const { return m_nMode; }
    UCHAR GetControl() const { return m_ucControl; }
    int GetDataDir() const { return m_nDataDir; }
    UCHAR GetAddress() const { return m_ucAddress; }
    BOOLEAN WatchdogSatisfied(int nModule, int64_t nNowNs) const;
    // 12-bit DAC word last received for motor index nMotor; 2047 when none.
    int GetDACWord(int nMotor) const;
    // Every distinct DAC word a motor received since the last reset or clear: what a test
    // compares with the words the library meant to send.
    bool WasDACWordReceived(int nMotor, int nWord) const;
    void ClearDACWordsReceived();

    // Port behaviour for tests: FALSE makes plain reads see the device like a port that
    // turns its lines round by itself.
    void SetNeedsDirectionSwitch(BOOLEAN bNeeds) { m_bNeedsDirSwitch = bNeeds; }

private:
    UCHAR ReadRegister(UCHAR ucAddress);
    void WriteRegister(UCHAR ucAddress, UCHAR ucValue, int64_t nNowNs);
    void LatchInputBlock(int nModule, int64_t nNowNs);
    void ApplyModule(int nModule, int64_t nNowNs);

    SIM_EPP_MODULE m_aModules[SIM_EPP_MODULES];
    BOOLEAN m_bClaimed;
    int m_nMode;
    UCHAR m_ucControl;
    int m_nDataDir;
    UCHAR m_ucLatch;       // last byte the host drove onto the data lines
    UCHAR m_ucAddress;     // the device's address pointer
    int m_nIrqCount;
    BOOLEAN m_bNeedsDirSwitch;
    bool m_abDACReceived[SIM_EPP_MODULES * 3][4096];
};

#endif
