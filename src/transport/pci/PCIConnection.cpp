#include "transport/pci/PCIConnection.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "hal/DeviceNodes.h"
#include "platform/Trace.h"

namespace {

const char kPCINodeFormat[] = "/dev/kinpci%lu";
const int kTickTimeoutMs = 1000;

CDeviceNodes* Nodes()
{
    return GetDeviceNodes();
}

// One lock per card: the two channels of a card share its node and its control register,
// cards do not share anything. Never destroyed: the servo thread may still wait on a card
// while the process exits.
CKinetorMutex& CardLock(ULONG nUnit)
{
    static CKinetorMutex** s_apLocks = [] {
        CKinetorMutex** ap = new CKinetorMutex*[PCI_MAX_CARDS];
        for (int i = 0; i < PCI_MAX_CARDS; i++)
            ap[i] = new CKinetorMutex(false);
        return ap;
    }();
    return *s_apLocks[nUnit];
}

void ClearCard(PCI_CARD& card)
{
    memset(&card, 0, sizeof(card));
    card.fd = -1;
}

}  // namespace

PCI_CARD CPCIConnection::m_cards[PCI_MAX_CARDS] = {
    {FALSE, FALSE, FALSE, 0, 0, 0, 0, -1, FALSE},
    {FALSE, FALSE, FALSE, 0, 0, 0, 0, -1, FALSE},
    {FALSE, FALSE, FALSE, 0, 0, 0, 0, -1, FALSE},
    {FALSE, FALSE, FALSE, 0, 0, 0, 0, -1, FALSE},
};

// A card that is open already belongs to the connection on its other channel: clearing its
// record here would lose the open node and the amplifier and timer state that connection
// relies on. A unit outside the table has no record to clear; allocation refuses it.
CPCIConnection::CPCIConnection(ULONG nUnit)
    : CHapticConnection(3), m_nUnit(nUnit), m_pCard(nullptr), m_nUpdateRate(1000), m_nHeldChannel(-1)
{
    if (nUnit >= PCI_MAX_CARDS)
        return;
    CKinetorLock lock(CardLock(nUnit));
    if (!m_cards[nUnit].bInUse)
        ClearCard(m_cards[nUnit]);
}

// Runs under the port lock (the forwarding connection destroys its transport holding it).
// A connection dropped without DeleteConnection still gives its channel back, so that the
// card's node is closed and its timer stopped when nobody uses it any more.
CPCIConnection::~CPCIConnection()
{
    if (m_nHeldChannel >= 0)
        DeleteConnection();
}

CKinetorMutex& CPCIConnection::PortLock()
{
    if (m_nUnit >= PCI_MAX_CARDS)
        return CHapticConnection::PortLock();
    return CardLock(m_nUnit);
}

BOOLEAN CPCIConnection::WriteControl()
{
    KINPCI_IOCTL_ARGS0 args;
    args.reg = PCI_REG_CONTROL;
    args.value = m_pCard->TCRegState;
    return Nodes()->Ioctl(m_pCard->fd, KINPCI_WRITE_REGISTER, &args) < 0 ? FALSE : TRUE;
}

int CPCIConnection::AllocateConnection(int nChannel)
{
    LOGV("CPCIConnection AllocateConnection unit %lu channel %d\n", m_nUnit, nChannel);
    // A second allocation of the same connection gives up the first channel rather than
    // holding two.
    if (m_nHeldChannel >= 0)
        DeleteConnection();
    m_nChannel = nChannel;
    if (nChannel != 0 && nChannel != 1)
        return -6;
    if (m_nUnit >= PCI_MAX_CARDS)
        return -12;
    PCI_CARD& card = m_cards[m_nUnit];
    if (card.bInUse) {
        if ((nChannel == 0 && card.bDev0InUse) || (nChannel == 1 && card.bDev1InUse))
            return -5;
    } else {
        char szNode[32];
        snprintf(szNode, sizeof(szNode), kPCINodeFormat, m_nUnit);
        int fd = Nodes()->Open(szNode, O_RDWR);
        if (fd < 0)
            return -9;
        card.fd = fd;
        // Both amplifier groups off, timer off, 1000 Hz, until someone asks otherwise.
        card.TCRegState = PCI_TC_AMP0_OFF | PCI_TC_AMP1_OFF;
        card.bInUse = TRUE;
        card.bInterruptEnabled = FALSE;
        m_pCard = &card;
        WriteControl();
    }
    m_pCard = &card;
    if (nChannel == 0)
        card.bDev0InUse = TRUE;
    else
        card.bDev1InUse = TRUE;
    m_nHeldChannel = nChannel;
    return 1;
}

// Before the channel is given up its arm gets zero torque and its amplifiers go off: the
// card keeps its last DAC values and enable bits, and nobody would turn them off later.
// The last user of the card also stops its timer before the node is closed.
int CPCIConnection::DeleteConnection()
{
    if (m_nHeldChannel < 0 || m_pCard == nullptr)
        return 1;
    PCI_CARD& card = *m_pCard;
    const BOOLEAN bOtherInUse = (m_nHeldChannel == 0) ? card.bDev1InUse : card.bDev0InUse;
    const USHORT ausZero[3] = {0x8000, 0x8000, 0x8000};
    UCHAR ucOff = 0;
    if (m_nHeldChannel == 0) {
        WriteDACs(PCI_MASK_LOW, ausZero, 0);
        ucOff = PCI_TC_AMP0_OFF;
        // The second group is channel 0's gimbal only while channel 1 is free.
        if (!bOtherInUse) {
            WriteDACs(PCI_MASK_HIGH, ausZero, 3);
            ucOff |= PCI_TC_AMP1_OFF;
        }
    } else {
        WriteDACs(PCI_MASK_HIGH, ausZero, 3);
        ucOff = PCI_TC_AMP1_OFF;
    }
    card.TCRegState |= ucOff;
    if (!bOtherInUse) {
        card.TCRegState &= (UCHAR)~PCI_TC_TIMER;
        card.bInterruptEnabled = FALSE;
    }
    WriteControl();
    if (m_nHeldChannel == 0)
        card.bDev0InUse = FALSE;
    else
        card.bDev1InUse = FALSE;
    if (!card.bDev0InUse && !card.bDev1InUse) {
        Nodes()->Close(card.fd);
        card.fd = -1;
        card.bInUse = FALSE;
    }
    m_pCard = nullptr;
    m_nHeldChannel = -1;
    return 1;
}

BOOLEAN CPCIConnection::ReadCounters(uint32_t nMask, SHORT* nEncoders, int nFirst)
{
    KINPCI_IOCTL_ARGS1 args;
    memset(&args, 0, sizeof(args));
    args.count = 6;
    args.mask = nMask;
    if (Nodes()->Ioctl(m_pCard->fd, KINPCI_READ_COUNTERS, &args) < 0)
        return FALSE;
    // The card counts the other way round.
    for (int i = 0; i < 3; i++)
        nEncoders[i] = (SHORT)(USHORT)(0u - args.values[nFirst + i]);
    return TRUE;
}

BOOLEAN CPCIConnection::WriteDACs(uint32_t nMask, const USHORT* nTorques, int nFirst)
{
    KINPCI_IOCTL_ARGS1 args;
    memset(&args, 0, sizeof(args));
    args.count = 8;
    args.mask = nMask;
    // 12-bit DACs in offset binary like the words themselves: not inverted.
    for (int i = 0; i < 3; i++)
        args.values[nFirst + i] = (uint32_t)(nTorques[i] >> 4);
    return Nodes()->Ioctl(m_pCard->fd, KINPCI_WRITE_DACS, &args) < 0 ? FALSE : TRUE;
}

BOOLEAN CPCIConnection::ResetCounters(const uint32_t* pnValues)
{
    BOOLEAN bOk = TRUE;
    for (int i = 0; i < 4; i++) {
        KINPCI_IOCTL_ARGS0 args;
        args.reg = PCI_REG_COUNTER_RESET;
        args.value = pnValues[i];
        if (Nodes()->Ioctl(m_pCard->fd, KINPCI_WRITE_REGISTER, &args) < 0)
            bOk = FALSE;
    }
    return bOk;
}

// A request the driver refused is reported as lost communication: the caller's data would
// otherwise be whatever it was before, passed off as a fresh reading or a torque sent.
int CPCIConnection::ReadBaseEncoders(SHORT* nEncoders)
{
    if (m_pCard == nullptr)
        return -11;
    uint32_t nMask = (m_nHeldChannel == 0) ? PCI_MASK_LOW : PCI_MASK_HIGH;
    int nFirst = (m_nHeldChannel == 0) ? 0 : 3;
    return ReadCounters(nMask, nEncoders, nFirst) ? 1 : -15;
}

int CPCIConnection::ReadGimbalEncoders(SHORT* nEncoders)
{
    if (m_pCard == nullptr)
        return -11;
    if (m_nHeldChannel != 0) {
        for (int i = 0; i < 3; i++)
            nEncoders[i] = 0;
        return 1;
    }
    return ReadCounters(PCI_MASK_HIGH, nEncoders, 3) ? 1 : -15;
}

// Resetting the counters switches the channel's base amplifiers off: the arm's position
// jumps to the new origin, and torques computed from the old one must not drive it. Channel
// 1 switches off its own group; channel 0's bit belongs to the other arm.
int CPCIConnection::ResetBaseEncoders()
{
    if (m_pCard == nullptr)
        return -11;
    static const uint32_t kanLow[4] = {0, 1, 2, 4};
    static const uint32_t kanHigh[4] = {0, 8, 16, 32};
    BOOLEAN bOk = ResetCounters(m_nHeldChannel == 0 ? kanLow : kanHigh);
    m_pCard->TCRegState |= (m_nHeldChannel == 0) ? PCI_TC_AMP0_OFF : PCI_TC_AMP1_OFF;
    if (!WriteControl())
        bOk = FALSE;
    return bOk ? 1 : -15;
}

// Channel 0's gimbal counters are channel 1's base counters when an arm sits there: the
// gimbal operations of channel 0 leave them to that arm.
int CPCIConnection::ResetGimbalEncoders()
{
    if (m_pCard == nullptr)
        return -11;
    if (m_nHeldChannel != 0 || m_pCard->bDev1InUse)
        return 1;
    static const uint32_t kanHigh[4] = {0, 8, 16, 32};
    BOOLEAN bOk = ResetCounters(kanHigh);
    m_pCard->TCRegState |= PCI_TC_AMP0_OFF;
    if (!WriteControl())
        bOk = FALSE;
    return bOk ? 1 : -15;
}

int CPCIConnection::WriteBaseTorques(USHORT* nTorques)
{
    if (m_pCard == nullptr)
        return -11;
    BOOLEAN bOk = (m_nHeldChannel == 0) ? WriteDACs(PCI_MASK_LOW, nTorques, 0)
                                        : WriteDACs(PCI_MASK_HIGH, nTorques, 3);
    return bOk ? 1 : -15;
}

int CPCIConnection::WriteGimbalTorques(USHORT* nTorques)
{
    if (m_pCard == nullptr)
        return -11;
    if (m_nHeldChannel != 0 || m_pCard->bDev1InUse)
        return 1;
    return WriteDACs(PCI_MASK_HIGH, nTorques, 3) ? 1 : -15;
}

int CPCIConnection::SetAmplifierBits(UCHAR ucBits, BOOLEAN bEnable)
{
    if (bEnable)
        m_pCard->TCRegState &= (UCHAR)~ucBits;
    else
        m_pCard->TCRegState |= ucBits;
    return WriteControl() ? 1 : -15;
}

int CPCIConnection::EnableBaseAmplifiers(BOOLEAN bEnable)
{
    if (m_pCard == nullptr)
        return -11;
    return SetAmplifierBits((m_nHeldChannel == 0) ? PCI_TC_AMP0_OFF : PCI_TC_AMP1_OFF, bEnable);
}

int CPCIConnection::EnableGimbalAmplifiers(BOOLEAN bEnable)
{
    if (m_pCard == nullptr)
        return -11;
    if (m_nHeldChannel != 0 || m_pCard->bDev1InUse)
        return 1;
    return SetAmplifierBits(PCI_TC_AMP1_OFF, bEnable);
}

int CPCIConnection::ReadDeviceFault()
{
    if (m_pCard == nullptr)
        return -11;
    KINPCI_IOCTL_ARGS0 args;
    args.reg = PCI_REG_CONTROL;
    args.value = 0;
    // An unreadable status is no proof that the device is fine.
    if (Nodes()->Ioctl(m_pCard->fd, KINPCI_READ_REGISTER, &args) < 0)
        return -15;
    uint32_t nFault = (m_nHeldChannel == 0) ? PCI_STATUS_FAULT0 : PCI_STATUS_FAULT1;
    return (args.value & nFault) ? -16 : 1;
}

int CPCIConnection::ReadSwitch(int switchNum)
{
    (void)switchNum;
    if (m_pCard == nullptr)
        return 0;
    KINPCI_IOCTL_ARGS0 args;
    args.reg = PCI_REG_CONTROL;
    args.value = 0;
    // The switch reads 0 when pressed: a status that never came must not press it.
    if (Nodes()->Ioctl(m_pCard->fd, KINPCI_READ_REGISTER, &args) < 0)
        return 0;
    uint32_t nSwitch = (m_nHeldChannel == 0) ? PCI_STATUS_SWITCH0 : PCI_STATUS_SWITCH1;
    return (args.value & nSwitch) ? 0 : 1;
}

int CPCIConnection::ReadPinchValue(SHORT& nEncoder)
{
    (void)nEncoder;
    return 0;
}

// The card has no status light.
int CPCIConnection::OverrideStatusLight(int nStatus)
{
    (void)nStatus;
    return -7;
}

int CPCIConnection::RestoreStatusLight()
{
    return -7;
}

int CPCIConnection::IsStatusLightEnabled()
{
    return -7;
}

int CPCIConnection::ReadStatusLight()
{
    return -7;
}

BOOLEAN CPCIConnection::IsSupportedUpdateRate(ULONG nUpdateRate)
{
    return (nUpdateRate == 500 || nUpdateRate == 1000 || nUpdateRate == 2000) ? TRUE : FALSE;
}

int CPCIConnection::SetKinetorUpdateRate(ULONG nUpdateRate)
{
    if (!IsSupportedUpdateRate(nUpdateRate))
        return -20;
    if (nUpdateRate != m_nUpdateRate) {
        m_nUpdateRate = nUpdateRate;
        if (nUpdateRate == 1000 || nUpdateRate == 2000)
            SetHardwareTimerFlags(TRUE);
    }
    return 1;
}

void CPCIConnection::SetHardwareTimerFlags(BOOLEAN bEnable)
{
    if (m_pCard == nullptr)
        return;
    if (bEnable)
        m_pCard->TCRegState |= PCI_TC_TIMER;
    else
        m_pCard->TCRegState &= (UCHAR)~PCI_TC_TIMER;
    if (m_nUpdateRate == 1000)
        m_pCard->TCRegState &= (UCHAR)~PCI_TC_RATE_2000;
    else if (m_nUpdateRate == 2000)
        m_pCard->TCRegState |= PCI_TC_RATE_2000;
    WriteControl();
}

void CPCIConnection::EnableInterrupts(BOOLEAN bEnable)
{
    if (m_pCard == nullptr)
        return;
    if ((m_pCard->bInterruptEnabled ? TRUE : FALSE) == (bEnable ? TRUE : FALSE))
        return;
    if (bEnable)
        m_pCard->TCRegState |= PCI_TC_TIMER;
    else
        m_pCard->TCRegState &= (UCHAR)~PCI_TC_TIMER;
    WriteControl();
    m_pCard->bInterruptEnabled = bEnable ? TRUE : FALSE;
}

// The register step before the wait holds the card's lock; the wait itself does not, so
// that the application's threads (and the other channel's arm) can use the card while the
// tick is pending.
void CPCIConnection::Await()
{
    int fd;
    {
        CKinetorLock lock(PortLock());
        if (m_pCard == nullptr)
            return;
        EnableInterrupts(TRUE);
        fd = m_pCard->fd;
    }
    short nEvents = 0;
    int nReady = PollForInput(Nodes(), fd, kTickTimeoutMs, &nEvents);
    if (nReady == 0) {
        fputs("The PCI connection timed out, exiting...", stderr);
        exit(-1);
    }
    // A node that reports an error instead of readiness would return at once, tick after
    // tick: the servo loop would run unpaced.
    if (nReady > 0 && !(nEvents & POLLIN)) {
        errno = EIO;
        nReady = -1;
    }
    if (nReady < 0) {
        perror("A PCI connection error occurred: poll: ");
        exit(-1);
    }
}

void ResetPCIProcessState()
{
    for (ULONG nUnit = 0; nUnit < PCI_MAX_CARDS; nUnit++) {
        CKinetorLock lock(CardLock(nUnit));
        PCI_CARD& card = CPCIConnection::m_cards[nUnit];
        if (card.bInUse && card.fd >= 0)
            Nodes()->Close(card.fd);
        ClearCard(card);
    }
}

BOOLEAN GetPCICardRecord(ULONG nUnit, PCI_CARD* pCard)
{
    if (nUnit >= PCI_MAX_CARDS || pCard == nullptr)
        return FALSE;
    CKinetorLock lock(CardLock(nUnit));
    *pCard = CPCIConnection::m_cards[nUnit];
    return TRUE;
}
