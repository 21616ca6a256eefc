// A simulated PCI interface card behind "/dev/kinpci%d", as its kernel driver presents it:
// register 0 (counter reset by bit mask), register 6 (timer/control when written, status
// when read), six encoder counters and six DACs. Channel 0's arm uses counters and DACs
// 0..2 for its base and 3..5 for its gimbal; a channel-1 arm uses 3..5 for its base.
// The card counts the other way round from the library (the transport negates), and its
// DACs take the 12-bit value uninverted. Readiness for poll comes once per hardware tick.
// The DAC request carries eight values: DACs 6 and 7 are on the card's connector but drive
// no motor of any arm. An amplifier group whose arm's board has the timeout circuit is held
// on for a while after its enable bit drops, so that a bit toggled once per tick keeps the
// amplifiers on.
//
// Everything here runs under the lock of the simulated hardware.
#ifndef SIM_PCI_CARD_H
#define SIM_PCI_CARD_H

#include <stdint.h>

#include "KinetorTypes.h"
#include "sim/SimArm.h"

#define SIM_PCI_UNITS 4
#define SIM_PCI_COUNTERS 6
#define SIM_PCI_DACS 8
// Bus time of one driver request on the card.
#define SIM_PCI_REQUEST_NS 2000LL
// Hold time of the amplifiers' timeout circuit after the enable bit drops.
#define SIM_PCI_AMP_HOLD_NS 2500000LL

// The driver's request records and numbers.
typedef struct _SIM_KINPCI_ARGS0 {
    uint32_t reg;
    uint32_t value;
} SIM_KINPCI_ARGS0;

typedef struct _SIM_KINPCI_ARGS1 {
    uint32_t count;
    uint32_t mask;
    uint32_t values[8];
} SIM_KINPCI_ARGS1;

#define SIM_KINPCI_READ_REGISTER 0xC0087000UL
#define SIM_KINPCI_WRITE_REGISTER 0x40087001UL
#define SIM_KINPCI_READ_COUNTERS 0xC0087002UL
#define SIM_KINPCI_WRITE_DACS 0x40087003UL

// Bits of register 6 as written.
#define SIM_PCI_TC_AMP0_OFF 0x01
#define SIM_PCI_TC_AMP1_OFF 0x02
#define SIM_PCI_TC_TIMER 0x10
#define SIM_PCI_TC_RATE_2000 0x20

class CSimPCICard {
public:
    CSimPCICard();

    void Reset();
    // The arms on the card's two channels; bChannel0Gimbal: channel 0's arm drives 3..5 too;
    // bTimeout0/1: the arm's board has the amplifiers' timeout circuit.
    void SetArms(CSimArm* pChannel0, BOOLEAN bChannel0Gimbal, CSimArm* pChannel1, BOOLEAN bTimeout0 = FALSE,
                 BOOLEAN bTimeout1 = FALSE);
    BOOLEAN HasArm() const { return (m_apArm[0] || m_apArm[1]) ? TRUE : FALSE; }

    // Driver requests at simulated time nNowNs; 0 or -1 with errno.
    int Request(unsigned long nRequest, void* pArg, int64_t nNowNs = 0);

    // The hardware tick: readiness while the timer runs (unless the tick is lost), and the
    // timeout circuits notice a hold that has run out.
    void OnTick(int64_t nNowNs = 0, BOOLEAN bLost = FALSE);
    BOOLEAN IsTimerRunning() const { return (m_ucControl & SIM_PCI_TC_TIMER) ? TRUE : FALSE; }
    int GetTickRate() const { return (m_ucControl & SIM_PCI_TC_RATE_2000) ? 2000 : 1000; }
    int PendingTicks() const { return m_nPendingTicks; }
    // Poll readiness is consumed by the poll that reports it.
    void ConsumeTicks() { m_nPendingTicks = 0; }

    UCHAR GetControl() const { return m_ucControl; }
    // DAC value last written (12 bits) of DAC channel 0..7; 2048 at power-up.
    int GetDAC(int nChannel) const;
    // Amplifier group 0 (channel 0's base) or 1 (channel 1's base or channel 0's gimbal) on.
    BOOLEAN IsAmplifierGroupOn(int nGroup) const;
    // Counter as the card reports it (the library's count negated).
    USHORT GetCounter(int nChannel) const;

private:
    void Apply(int64_t nNowNs);
    // Follows the enable bits of register 6 as last written.
    void TrackEnableLines(int64_t nNowNs);
    // Arm and motor index behind counter/DAC channel nChannel; false if none.
    bool Route(int nChannel, CSimArm*& pArm, int& nMotor) const;

    CSimArm* m_apArm[2];
    BOOLEAN m_bChannel0Gimbal;
    BOOLEAN m_abTimeout[2];
    UCHAR m_ucControl;
    int m_anDAC[SIM_PCI_DACS];
    int m_nPendingTicks;
    // Per amplifier group: the enable bit as last written, when it last dropped (INT64_MIN:
    // never), and whether the group is on.
    BOOLEAN m_abLineHigh[2];
    int64_t m_anLineFallNs[2];
    BOOLEAN m_abGroupOn[2];
};

#endif
