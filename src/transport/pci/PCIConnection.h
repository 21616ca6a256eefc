// The PCI card transport: an arm on a PCI interface card, reached through the card's kernel
// driver node "/dev/kinpci%d". No blocks move here: every operation is one or a few driver
// requests that read or write a card register, read encoder counters or write DACs. The
// card's readiness for poll, once per hardware tick, is the servo tick.
//
// A card serves one arm with its gimbal (channel 0: counters and DACs 0..2 the base, 3..5 the
// gimbal) or two arms (channel 1's base on 3..5). The connections on the two channels of one
// card share its record: the open node and the host's copy of the timer/control register.
// That record and every request on the card's node are guarded by the card's port lock.
#ifndef PCI_CONNECTION_H
#define PCI_CONNECTION_H

#include <stdint.h>

#include "KinetorTypes.h"
#include "connection/HapticConnection.h"

// Cards the process can address, by unit.
#define PCI_MAX_CARDS 4

// Driver requests on the card node and their argument records.
#define KINPCI_READ_REGISTER 0xC0087000UL
#define KINPCI_WRITE_REGISTER 0x40087001UL
#define KINPCI_READ_COUNTERS 0xC0087002UL
#define KINPCI_WRITE_DACS 0x40087003UL

typedef struct kinpci_ioctl_args0 {
    uint32_t reg;
    uint32_t value;
} KINPCI_IOCTL_ARGS0;

typedef struct kinpci_ioctl_args1 {
    uint32_t count;
    uint32_t mask;       // bit i selects counter or DAC channel i
    uint32_t values[8];
} KINPCI_IOCTL_ARGS1;

// Registers: 0 resets the counters its value selects; 6 is timer/control when written and
// status when read.
#define PCI_REG_COUNTER_RESET 0
#define PCI_REG_CONTROL 6

// Bits of register 6 as written (the host's copy, TCRegState).
#define PCI_TC_AMP0_OFF 0x01      // channel 0 base amplifiers disabled
#define PCI_TC_AMP1_OFF 0x02      // channel 1 base, or channel 0 gimbal, amplifiers disabled
#define PCI_TC_TIMER 0x10         // hardware timer and interrupt on
#define PCI_TC_RATE_2000 0x20     // 2000 Hz; clear: 1000 Hz

// Bits of register 6 as read.
#define PCI_STATUS_FAULT0 0x01
#define PCI_STATUS_SWITCH0 0x02   // 0 = pressed
#define PCI_STATUS_FAULT1 0x04
#define PCI_STATUS_SWITCH1 0x08   // 0 = pressed

// Counter and DAC channels of channel 0's base and of the second group.
#define PCI_MASK_LOW 0x07
#define PCI_MASK_HIGH 0x38

// A DAC at zero torque: the 12-bit value of the offset-binary mid-scale word.
#define PCI_DAC_ZERO 0x800

typedef struct _PCI_CARD {
    BOOLEAN bInUse;
    BOOLEAN bDev0InUse;
    BOOLEAN bDev1InUse;
    UCHAR TCRegState;
    ULONG baseMemoryConfig;
    ULONG baseMemoryS0;
    ULONG baseMemoryS1;
    int fd;
    BOOLEAN bInterruptEnabled;
} PCI_CARD;

class CPCIConnection : public CHapticConnection {
public:
    explicit CPCIConnection(ULONG nUnit);
    ~CPCIConnection() override;

    int AllocateConnection(int nChannel) override;
    int DeleteConnection() override;
    int ResetBaseEncoders() override;
    int ResetGimbalEncoders() override;
    int ReadBaseEncoders(SHORT* nEncoders) override;
    int ReadGimbalEncoders(SHORT* nEncoders) override;
    int ReadDeviceFault() override;
    int ReadSwitch(int switchNum) override;
    int ReadPinchValue(SHORT& nEncoder) override;
    int WriteBaseTorques(USHORT* nTorques) override;
    int WriteGimbalTorques(USHORT* nTorques) override;
    int EnableBaseAmplifiers(BOOLEAN bEnable) override;
    int EnableGimbalAmplifiers(BOOLEAN bEnable) override;
    int SetKinetorUpdateRate(ULONG nUpdateRate) override;
    int OverrideStatusLight(int nStatus) override;
    int RestoreStatusLight() override;
    int IsStatusLightEnabled() override;
    int ReadStatusLight() override;
    void Await() override;
    CKinetorMutex& PortLock() override;

    BOOLEAN IsSupportedUpdateRate(ULONG nUpdateRate);
    void EnableInterrupts(BOOLEAN bEnable);
    void SetHardwareTimerFlags(BOOLEAN bEnable);

    ULONG GetUnit() const { return m_nUnit; }
    ULONG GetUpdateRate() const { return m_nUpdateRate; }

private:
    CPCIConnection(const CPCIConnection&) = delete;
    CPCIConnection& operator=(const CPCIConnection&) = delete;

    // Requests on the card's node; FALSE when the driver refused.
    BOOLEAN WriteControl();
    BOOLEAN ReadCounters(uint32_t nMask, SHORT* nEncoders, int nFirst);
    BOOLEAN WriteDACs(uint32_t nMask, const USHORT* nTorques, int nFirst);
    BOOLEAN ResetCounters(const uint32_t* pnValues);
    // Sets or clears amplifier-disable bits and writes register 6.
    int SetAmplifierBits(UCHAR ucBits, BOOLEAN bEnable);

    ULONG m_nUnit;
    PCI_CARD* m_pCard;
    ULONG m_nUpdateRate;
    // Channel this connection holds on the card, -1 for none: a connection gives back only
    // what it took, and only once.
    int m_nHeldChannel;

    static PCI_CARD m_cards[PCI_MAX_CARDS];

    friend void ResetPCIProcessState();
    friend BOOLEAN GetPCICardRecord(ULONG nUnit, PCI_CARD* pCard);
};

// For tests of the transport: closes every card node still open and forgets the records,
// as at process start.
void ResetPCIProcessState();
// For tests: a copy of the record of card nUnit; FALSE for a unit outside the table.
BOOLEAN GetPCICardRecord(ULONG nUnit, PCI_CARD* pCard);

#endif
