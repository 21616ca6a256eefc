// The simulated hardware of the process: its pace and clock, the hardware tick, the arms
// derived from the configurations, and the simulated parallel port. One instance per
// process; every entry point takes its lock, so the servo thread and the threads of a test
// may use it together.
#ifndef SIM_HARDWARE_H
#define SIM_HARDWARE_H

#include <stdint.h>
#include <time.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "KinetorTypes.h"
#include "config/KinetorDevice.h"
#include "sim/SimArm.h"
#include "sim/SimEPPPort.h"
#include "sim/SimOptions.h"
#include "sim/SimPCICard.h"

// Buses an arm can be attached to.
typedef enum SIM_BUS {
    SIM_BUS_EPP = 0,    // parallel port unit (EPP and double EPP)
    SIM_BUS_PCI = 1,    // PCI card unit
    SIM_BUS_1394 = 2    // FireWire board, by serial number
} SIM_BUS;

// Bus time of one parallel-port register request.
#define SIM_EPP_REQUEST_NS 25000LL
// Simulated time at which a lockstep process starts.
#define SIM_LOCKSTEP_START_NS 1000000000LL
// Longest stretch of wall-clock time a realtime process catches up on at once; a process
// that was stopped longer finds the arm where it was.
#define SIM_REALTIME_CATCHUP_NS 100000000LL

typedef struct _SIM_ARM_ENTRY {
    SIM_BUS nBus;
    ULONG nUnit;            // zero-based unit, or the FireWire serial number
    int nChannel;           // channel on the bus (0 or 1)
    BOOLEAN bDouble;        // the arm's gimbal is a second module on the same port
    BOOLEAN bGimbalEncoders;  // gimbal encoders read with the base block
    int nConfigIndex;       // file number of the configuration that made it; -1 for tests
    CKinetorDevice* pConfig;
    CSimArm* pArm;
} SIM_ARM_ENTRY;

class CSimHardware {
public:
    static CSimHardware& Instance();

    std::recursive_mutex& Mutex() { return m_mutex; }

    // Applies the options: the pace decides which clock the library's time samples read.
    void Configure(const SIM_OPTIONS& options);
    SIM_OPTIONS GetOptions();

    // Back to power-up: no arms, port closed and idle, default options kept, faults cleared.
    void Reset();

    // ---- time ----
    // Now on the simulated hardware: simulated time in lockstep, CLOCK_MONOTONIC otherwise.
    int64_t NowNs();
    // Brings the hardware up to now (realtime) and runs the ticks that fell due.
    void Sync();
    // Spends bus time (lockstep only; in realtime the wall clock does it).
    void SpendBusTime(int64_t nNs);
    // Waits for a pending parallel-port interrupt, at most nTimeoutMs (negative: no limit).
    // TRUE when one is pending.
    BOOLEAN WaitForEPPInterrupt(int nTimeoutMs);
    // The same for the tick of PCI card nUnit.
    BOOLEAN WaitForPCITick(int nUnit, int nTimeoutMs);
    // Ticks so far, and the period of the next one.
    uint64_t GetTickCount();
    int64_t GetTickPeriodNs();
    // Injected: the next nTicks ticks raise no interrupt (negative: none ever again).
    void LoseTicks(long nTicks);

    // ---- arms ----
    // Derives the arms from the configurations, keeping arms that already exist.
    void DeriveArms();
    // Attaches an arm for a configuration record (tests); an existing arm with the same
    // bus, unit and channel is replaced. Returns the arm.
    CSimArm* AttachArm(const CKinetorDevice& config, int nConfigIndex);
    CSimArm* FindArm(SIM_BUS nBus, ULONG nUnit, int nChannel);
    // The arm made for the configuration of that name, or null.
    CSimArm* FindArmByName(const char* pszName);
    size_t GetArmCount();

    // ---- the parallel port ----
    CSimEPPPort& EPPPort() { return m_eppPort; }
    // Wires the arms of one parallel-port unit onto the port's chain (when the node opens).
    void WireEPPPort();
    // Which unit the port serves: the one of the lowest-numbered parallel-port configuration
    // unless a test chose one.
    void SetEPPUnit(long nUnit);

    // ---- PCI cards ----
    CSimPCICard* PCICard(int nUnit);
    // Wires the arms configured on card nUnit onto it (when its node opens).
    void WirePCICard(int nUnit);

    // ---- device nodes ----
    BOOLEAN NodePresent(const char* pszPath);
    void SetNodePresent(const char* pszPath, BOOLEAN bPresent);
    // Text of "/dev/kinepp_modes"; null makes the file unreadable.
    void SetEPPModesText(const char* pszText);
    BOOLEAN GetEPPModesText(std::string& strText);
    // Injected: the next nTimes calls of the named request ("PPCLAIM", "PPDATADIR", "open",
    // "read", ...) fail with nErrno; negative: every call from now on.
    void FailRequest(const char* pszName, int nTimes, int nErrno);
    // TRUE (one failure used, errno set) when the named request is to fail now.
    BOOLEAN ShouldFail(const char* pszName);

    // ---- FireWire ----
    // Serial numbers of the arms attached to the FireWire bus.
    void Get1394Serials(std::vector<ULONG>& serials);
    // When the next hardware tick falls due.
    int64_t GetNextTickNs();

private:
    CSimHardware();
    ~CSimHardware();
    CSimHardware(const CSimHardware&) = delete;
    CSimHardware& operator=(const CSimHardware&) = delete;

    void AdvanceTo(int64_t nNs);
    // nSource: -1 the parallel port, else a PCI unit.
    BOOLEAN WaitForTick(int nSource, int nTimeoutMs);
    BOOLEAN TickPending(int nSource);
    void OnTick();
    void FreeArms();
    SIM_ARM_ENTRY* FindEntry(SIM_BUS nBus, ULONG nUnit, int nChannel);
    static BOOLEAN EntryOf(const CKinetorDevice& config, SIM_ARM_ENTRY& entry);

    std::recursive_mutex m_mutex;
    SIM_OPTIONS m_options;
    std::atomic<bool> m_bLockstep;   // read by the device clock without the lock
    std::atomic<int64_t> m_nLockstepNs;
    int64_t m_nNextTickNs;
    uint64_t m_nTicks;
    long m_nLostTicks;
    std::vector<SIM_ARM_ENTRY> m_arms;
    // Configurations that share an arm made for another one: name and arm.
    struct ALIAS {
        std::string strName;
        CSimArm* pArm;
    };
    std::vector<ALIAS> m_aliases;
    CSimEPPPort m_eppPort;
    CSimPCICard m_aPCICards[SIM_PCI_UNITS];
    long m_nEPPUnit;
    std::vector<std::string> m_missingNodes;
    BOOLEAN m_bModesReadable;
    std::string m_strModesText;
    struct FAIL_ENTRY {
        std::string strName;
        int nTimes;
        int nErrno;
    };
    std::vector<FAIL_ENTRY> m_failures;
    // How many entries m_failures holds, read without the lock: every request asks, and
    // nearly always none is armed.
    std::atomic<size_t> m_nFailEntries;
};

// The device clock of a lockstep process (simulated time).
void SimDeviceClock(struct timespec* pts);

#endif
