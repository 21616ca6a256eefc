#include "sim/SimFireWireBus.h"

#include <errno.h>
#include <string.h>
#include <time.h>

#include <mutex>

#include "sim/SimHardware.h"

namespace {

// Board registers (high part 0) and loader registers (high part 1).
const nodeaddr_t kRegBase = 0x1000;
const nodeaddr_t kRegHostXmit = 0x1000;
const nodeaddr_t kRegDeviceXmit = 0x1001;
const nodeaddr_t kRegRawBeacon = 0x1002;
const nodeaddr_t kRegFirmwareHigh = 0x1082;
const nodeaddr_t kRegFirmwareLow = 0x1083;
const nodeaddr_t kRegFrameBeacon = 0x1087;
const nodeaddr_t kRegPacketSize = 0x20010;
const nodeaddr_t kFlashView = 0x10000000ULL;
const nodeaddr_t kLoader = 0x000100000000ULL;
const nodeaddr_t kLoaderBootConfig = kLoader + 0x1080;
const nodeaddr_t kLoaderFlashStatus = kLoader + 0x1081;
const nodeaddr_t kLoaderRunningInRam = kLoader + 0x1085;
const nodeaddr_t kLoaderExtraWrites = kLoader + 0x1003;
const nodeaddr_t kLoaderJump = kLoader + 0x1007;
const nodeaddr_t kLoaderCommit = kLoader + 0x00020014ULL;
const nodeaddr_t kLoaderFlash = kLoader + 0x10000000ULL;
const nodeaddr_t kLoaderErase = kLoader + 0x20000000ULL;
const nodeaddr_t kLiveRom = 0xFFFFF0000400ULL;
const size_t kLiveRomSize = 0x400;
const nodeid_t kLocalBus = 0xFFC0;
// Polls the flash status reads busy after an erase, and the boot byte stays unreadable
// while the board restarts after a commit.
const int kEraseBusyPolls = 2;
const int kCommitRebootPolls = 3;
const size_t kMaxAsyncPayload = 2048;

std::recursive_mutex& SimMutex()
{
    return CSimHardware::Instance().Mutex();
}

void PutBig32(UCHAR* p, uint32_t v)
{
    p[0] = (UCHAR)(v >> 24);
    p[1] = (UCHAR)(v >> 16);
    p[2] = (UCHAR)(v >> 8);
    p[3] = (UCHAR)v;
}

// The ROM's CRC as the board's own boot code computes it (bitwise, polynomial 0x1021).
uint16_t RomCrc(const UCHAR* p, size_t nBytes)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < nBytes; i++) {
        crc = (uint16_t)(crc ^ (p[i] << 8));
        for (int b = 0; b < 8; b++)
            crc = (uint16_t)((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// The version a board runs is also written in the header of the application image it runs
// from (bytes 0x2E and 0x2F of the bank, high byte first), where a loader reads it.
void PutRunningVersion(std::vector<UCHAR>& flash, UCHAR ucBootConfig, int nVersion)
{
    size_t nBank = (ucBootConfig & 0x04) ? 5 : 4;
    flash[nBank * SIM_1394_BANK_SIZE + 0x2E] = (UCHAR)(nVersion >> 8);
    flash[nBank * SIM_1394_BANK_SIZE + 0x2F] = (UCHAR)nVersion;
}

void PutWord(UCHAR* p, USHORT w)
{
    p[0] = (UCHAR)(w & 0xFF);
    p[1] = (UCHAR)(w >> 8);
}

}  // namespace

CSimFireWireBus& SimFireWireBus()
{
    static CSimFireWireBus* s_pBus = new CSimFireWireBus();
    return *s_pBus;
}

CSimFireWireBus::CSimFireWireBus() : m_nPorts(1), m_nNextId(0), m_nGeneration(1) {}

void CSimFireWireBus::Reset()
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    m_boards.clear();
    for (HANDLE* p : m_handles)
        delete p;
    m_handles.clear();
    m_nPorts = 1;
    m_nNextId = 0;
    m_nGeneration = 1;
}

void CSimFireWireBus::PowerUp(BOARD& b)
{
    memset(b.aucRegs, 0, sizeof(b.aucRegs));
    b.aucRegs[kRegHostXmit - kRegBase] = 63;
    b.aucRegs[kRegDeviceXmit - kRegBase] = 63;
    b.aucRegs[kRegFirmwareHigh - kRegBase] = (UCHAR)(b.nFirmwareVersion >> 8);
    b.aucRegs[kRegFirmwareLow - kRegBase] = (UCHAR)b.nFirmwareVersion;
    b.nPacketSize = 0;
    b.ucFlashStatus = 1;
    b.nBusyPolls = 0;
    b.nRebootPolls = 0;
    b.bEraseArmed = FALSE;
    b.bExtraWrites = FALSE;
    b.ucTimer = 0;
    // The live configuration ROM is what the GUID bank held when the board started.
    memcpy(b.aucLiveRom, &b.flash[6 * SIM_1394_BANK_SIZE], kLiveRomSize);
}

BOOLEAN CSimFireWireBus::AddBoard(ULONG nSerial, int nPort)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    if (nPort < 0 || nPort >= SIM_1394_MAX_PORTS)
        return FALSE;
    BOARD* pOld = FindBoard(nSerial);
    if (pOld) {
        pOld->nPort = nPort;
        pOld->bExplicit = TRUE;
        return TRUE;
    }
    BOARD b;
    b.nSerial = nSerial;
    b.nPort = nPort;
    b.bPresent = TRUE;
    b.bExplicit = TRUE;
    b.nFirmwareVersion = SIM_1394_DEFAULT_FIRMWARE;
    b.ucBootConfig = 0;
    b.bRunningInRam = FALSE;
    b.nJumpBank = -1;
    b.flash.assign((size_t)SIM_1394_BANKS * SIM_1394_BANK_SIZE, 0xFF);
    // The GUID bank carries the bus information block with the serial number as the low
    // half of the GUID, as the factory programmed it.
    UCHAR* pRom = &b.flash[6 * SIM_1394_BANK_SIZE];
    PutBig32(pRom + 4, 0x31333934UL);
    PutBig32(pRom + 8, 0x60645000UL);
    PutBig32(pRom + 12, SIM_1394_GUID_HI);
    PutBig32(pRom + 16, (uint32_t)nSerial);
    PutBig32(pRom, (4UL << 24) | (4UL << 16) | RomCrc(pRom + 4, 16));
    PutRunningVersion(b.flash, b.ucBootConfig, b.nFirmwareVersion);
    b.bCommitFails = FALSE;
    b.bRatiometric = FALSE;
    b.nBadPackets = 0;
    b.nLatePackets = 0;
    b.nEncoderPackets = 0;
    b.nForcePackets = 0;
    memset(b.aucLastForce, 0, sizeof(b.aucLastForce));
    PowerUp(b);
    m_boards.push_back(b);
    return TRUE;
}

void CSimFireWireBus::SyncBoards()
{
    std::vector<ULONG> serials;
    CSimHardware::Instance().Get1394Serials(serials);
    for (ULONG n : serials) {
        if (!FindBoard(n)) {
            AddBoard(n, 0);
            FindBoard(n)->bExplicit = FALSE;
        }
    }
}

CSimFireWireBus::BOARD* CSimFireWireBus::FindBoard(ULONG nSerial)
{
    for (BOARD& b : m_boards) {
        if (b.nSerial == nSerial)
            return &b;
    }
    return nullptr;
}

void CSimFireWireBus::NodesOnPort(int nPort, std::vector<BOARD*>& boards)
{
    boards.clear();
    for (BOARD& b : m_boards) {
        if (b.bPresent && b.nPort == nPort)
            boards.push_back(&b);
    }
}

CSimFireWireBus::BOARD* CSimFireWireBus::NodeBoard(int nPort, nodeid_t node)
{
    if ((node & kLocalBus) != kLocalBus)
        return nullptr;
    std::vector<BOARD*> boards;
    NodesOnPort(nPort, boards);
    size_t nNode = node & 0x3F;
    return nNode < boards.size() ? boards[nNode] : nullptr;
}

CSimFireWireBus::HANDLE* CSimFireWireBus::Lookup(raw1394handle_t h)
{
    for (HANDLE* p : m_handles) {
        if (AsHandle(p) == h)
            return p;
    }
    return nullptr;
}

CSimFireWireBus::HANDLE* CSimFireWireBus::LookupFd(int fd)
{
    for (HANDLE* p : m_handles) {
        if (p->nId + SIM_1394_FIRST_FD == fd)
            return p;
    }
    return nullptr;
}

raw1394handle_t CSimFireWireBus::AsHandle(const HANDLE* p) const
{
    return reinterpret_cast<raw1394handle_t>(const_cast<HANDLE*>(p));
}

CSimFireWireBus::HANDLE* CSimFireWireBus::NewHandleObject(int nPort)
{
    if (CSimHardware::Instance().ShouldFail("raw1394_new_handle"))
        return nullptr;
    // Opening the bus is when the simulator looks at the configurations, as the parallel
    // port does when its node opens.
    CSimHardware::Instance().DeriveArms();
    SyncBoards();
    HANDLE* p = new HANDLE();
    p->nId = m_nNextId++;
    p->nPort = nPort;
    p->pUser = nullptr;
    p->pfnReset = nullptr;
    p->nGeneration = m_nGeneration;
    p->bResetPending = FALSE;
    p->nIso = ISO_NONE;
    p->bIsoStarted = FALSE;
    p->bIsoStopped = FALSE;
    p->ucChannel = 0;
    p->pfnRecv = nullptr;
    p->nQueued = 0;
    p->nHead = 0;
    m_handles.push_back(p);
    return p;
}

const char* CSimFireWireBus::GetLibVersion()
{
    return "2.1.2";
}

raw1394handle_t CSimFireWireBus::NewHandle()
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = NewHandleObject(-1);
    if (!p) {
        errno = ENOENT;
        return nullptr;
    }
    return AsHandle(p);
}

raw1394handle_t CSimFireWireBus::NewHandleOnPort(int nPort)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    if (nPort < 0 || nPort >= m_nPorts) {
        errno = ENXIO;
        return nullptr;
    }
    HANDLE* p = NewHandleObject(nPort);
    if (!p) {
        errno = ENOENT;
        return nullptr;
    }
    return AsHandle(p);
}

void CSimFireWireBus::DestroyHandle(raw1394handle_t h)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    for (size_t i = 0; i < m_handles.size(); i++) {
        if (AsHandle(m_handles[i]) == h) {
            delete m_handles[i];
            m_handles.erase(m_handles.begin() + (long)i);
            return;
        }
    }
}

int CSimFireWireBus::GetPortInfo(raw1394handle_t h, struct raw1394_portinfo* pInfo, int nMaxPorts)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    if (!Lookup(h)) {
        errno = EINVAL;
        return -1;
    }
    for (int i = 0; pInfo && i < nMaxPorts && i < m_nPorts; i++) {
        std::vector<BOARD*> boards;
        NodesOnPort(i, boards);
        pInfo[i].nodes = (int)boards.size() + 1;
        snprintf(pInfo[i].name, sizeof(pInfo[i].name), "sim1394-%d", i);
    }
    return m_nPorts;
}

int CSimFireWireBus::SetPort(raw1394handle_t h, int nPort)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p || nPort < 0 || nPort >= m_nPorts) {
        errno = p ? ENXIO : EINVAL;
        return -1;
    }
    if (CSimHardware::Instance().ShouldFail("raw1394_set_port"))
        return -1;
    p->nPort = nPort;
    p->nGeneration = m_nGeneration;
    return 0;
}

int CSimFireWireBus::GetNodeCount(raw1394handle_t h)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p || p->nPort < 0)
        return 0;
    std::vector<BOARD*> boards;
    NodesOnPort(p->nPort, boards);
    return (int)boards.size() + 1;
}

int CSimFireWireBus::GetFd(raw1394handle_t h)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p) {
        errno = EINVAL;
        return -1;
    }
    return SIM_1394_FIRST_FD + p->nId;
}

void CSimFireWireBus::SetUserData(raw1394handle_t h, void* pData)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (p)
        p->pUser = pData;
}

void* CSimFireWireBus::GetUserData(raw1394handle_t h)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    return p ? p->pUser : nullptr;
}

BOOLEAN CSimFireWireBus::ReadBoard(BOARD& b, nodeaddr_t addr, size_t n, UCHAR* p)
{
    if (addr >= kRegBase && addr + n <= kRegBase + sizeof(b.aucRegs)) {
        memcpy(p, &b.aucRegs[addr - kRegBase], n);
        return TRUE;
    }
    if (addr == kRegPacketSize && n == 4) {
        PutBig32(p, b.nPacketSize);
        return TRUE;
    }
    if (addr >= kFlashView && addr + n <= kFlashView + b.flash.size()) {
        memcpy(p, &b.flash[addr - kFlashView], n);
        return TRUE;
    }
    if (addr >= kLoaderFlash && addr + n <= kLoaderFlash + b.flash.size()) {
        memcpy(p, &b.flash[addr - kLoaderFlash], n);
        return TRUE;
    }
    if (addr >= kLiveRom && addr + n <= kLiveRom + kLiveRomSize) {
        memcpy(p, &b.aucLiveRom[addr - kLiveRom], n);
        return TRUE;
    }
    if (n != 1)
        return FALSE;
    switch (addr) {
    case kLoaderBootConfig:
        // A board restarting after a commit does not answer yet.
        if (b.nRebootPolls > 0) {
            b.nRebootPolls--;
            return FALSE;
        }
        p[0] = b.ucBootConfig;
        return TRUE;
    case kLoaderFlashStatus:
        if (b.nBusyPolls > 0) {
            b.nBusyPolls--;
            p[0] = 255;
        } else {
            p[0] = b.ucFlashStatus;
        }
        return TRUE;
    case kLoaderRunningInRam:
        p[0] = b.bRunningInRam ? 1 : 0;
        return TRUE;
    default:
        return FALSE;
    }
}

BOOLEAN CSimFireWireBus::WriteBoard(BOARD& b, nodeaddr_t addr, size_t n, const UCHAR* p)
{
    if (addr >= kRegBase && addr + n <= kRegBase + sizeof(b.aucRegs)) {
        for (size_t i = 0; i < n; i++) {
            nodeaddr_t a = addr + i;
            // The firmware version is read-only.
            if (a == kRegFirmwareHigh || a == kRegFirmwareLow)
                continue;
            b.aucRegs[a - kRegBase] = p[i];
        }
        return TRUE;
    }
    if (addr == kRegPacketSize && n == 4) {
        b.nPacketSize = ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
        return TRUE;
    }
    if (addr >= kLoaderFlash && addr + n <= kLoaderFlash + b.flash.size()) {
        size_t nOffset = (size_t)(addr - kLoaderFlash);
        int nBank = (int)(nOffset >> 16);
        if ((nBank == 7 || nBank == 15) && !b.bExtraWrites)
            return FALSE;
        // Flash only clears bits; an erase sets them again.
        for (size_t i = 0; i < n; i++)
            b.flash[nOffset + i] &= p[i];
        return TRUE;
    }
    if (addr >= kLoaderErase && addr < kLoaderErase + b.flash.size() && n == 4) {
        uint32_t nAddress = (uint32_t)(addr - kLoaderErase);
        if (!b.bEraseArmed) {
            b.bEraseArmed = (p[0] == 'x' && p[1] == 'V' && p[2] == '4' && p[3] == 0x12) ? TRUE : FALSE;
            return TRUE;
        }
        b.bEraseArmed = FALSE;
        UCHAR ucBank = (UCHAR)((nAddress >> 16) & 0x0F);
        UCHAR ucLow = (UCHAR)(nAddress & 0xFF);
        UCHAR ucHigh = (UCHAR)((nAddress >> 8) & 0xFF);
        if (p[0] != ucLow || p[1] != ucHigh || p[2] != ucBank || p[3] != (UCHAR)(ucBank ^ ucLow ^ ucHigh ^ 0x55)) {
            b.ucFlashStatus = 2;
            return TRUE;
        }
        size_t nStart = nAddress & 0xFFFF;
        size_t nSize = SIM_1394_BANK_SIZE;
        if (ucBank == 7 || ucBank == 15) {
            nStart = nStart < 0x8000 ? 0 : (nStart & ~(size_t)0x1FFF);
            nSize = nStart == 0 ? 0x8000 : 0x2000;
        } else {
            nStart = 0;
        }
        memset(&b.flash[(size_t)ucBank * SIM_1394_BANK_SIZE + nStart], 0xFF, nSize);
        b.ucFlashStatus = 1;
        b.nBusyPolls = kEraseBusyPolls;
        return TRUE;
    }
    if (addr == kLoaderCommit && n == 4) {
        UCHAR ucBank = p[3];
        if (p[0] != 0 || p[1] != 0 || p[2] != (UCHAR)(ucBank ^ 0x55) || ucBank >= SIM_1394_BANKS)
            return FALSE;
        if (!b.bCommitFails) {
            if (ucBank == 0)
                b.ucBootConfig &= (UCHAR)~0x02;
            else if (ucBank == 1)
                b.ucBootConfig |= 0x02;
            else if (ucBank == 4)
                b.ucBootConfig &= (UCHAR)~0x04;
            else if (ucBank == 5)
                b.ucBootConfig |= 0x04;
        }
        b.nRebootPolls = kCommitRebootPolls;
        return TRUE;
    }
    if (n != 1)
        return FALSE;
    if (addr == kLoaderExtraWrites) {
        b.bExtraWrites = (p[0] == 'E') ? TRUE : FALSE;
        return TRUE;
    }
    if (addr == kLoaderJump) {
        b.nJumpBank = p[0];
        return TRUE;
    }
    return FALSE;
}

int CSimFireWireBus::Read(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t nLength, quadlet_t* pBuffer)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    CSimHardware::Instance().SpendBusTime(SIM_1394_REQUEST_NS);
    HANDLE* p = Lookup(h);
    if (!p || !pBuffer || nLength == 0 || nLength > kMaxAsyncPayload) {
        errno = EINVAL;
        return -1;
    }
    if (CSimHardware::Instance().ShouldFail("raw1394_read"))
        return -1;
    BOARD* pBoard = NodeBoard(p->nPort, node);
    // The host's own node has no such registers: its reads fail like any absent address.
    if (!pBoard || !ReadBoard(*pBoard, addr, nLength, reinterpret_cast<UCHAR*>(pBuffer))) {
        errno = EIO;
        return -1;
    }
    return 0;
}

int CSimFireWireBus::Write(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t nLength, quadlet_t* pData)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    CSimHardware::Instance().SpendBusTime(SIM_1394_REQUEST_NS);
    HANDLE* p = Lookup(h);
    if (!p || !pData || nLength == 0 || nLength > kMaxAsyncPayload) {
        errno = EINVAL;
        return -1;
    }
    if (CSimHardware::Instance().ShouldFail("raw1394_write"))
        return -1;
    BOARD* pBoard = NodeBoard(p->nPort, node);
    if (!pBoard || !WriteBoard(*pBoard, addr, nLength, reinterpret_cast<const UCHAR*>(pData))) {
        errno = EIO;
        return -1;
    }
    return 0;
}

int CSimFireWireBus::IsoRecvInit(raw1394handle_t h, raw1394_iso_recv_handler_t pfnHandler,
                                 unsigned int nBufPackets, unsigned int nMaxPacketSize, unsigned char ucChannel,
                                 enum raw1394_iso_dma_recv_mode nMode, int nIrqInterval)
{
    (void)nMode;
    (void)nIrqInterval;
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p || p->nIso != ISO_NONE || !pfnHandler || ucChannel >= 64 || nMaxPacketSize < SIM_1394_PACKET_SIZE ||
        nBufPackets == 0 || CSimHardware::Instance().ShouldFail("raw1394_iso_recv_init")) {
        errno = EINVAL;
        return -1;
    }
    p->nIso = ISO_RECV;
    p->ucChannel = ucChannel;
    p->pfnRecv = pfnHandler;
    p->bIsoStarted = FALSE;
    p->bIsoStopped = FALSE;
    size_t nRing = nBufPackets < SIM_1394_RING_PACKETS ? nBufPackets : SIM_1394_RING_PACKETS;
    p->ring.assign(nRing * SIM_1394_PACKET_SIZE, 0);
    p->nQueued = 0;
    p->nHead = 0;
    return 0;
}

int CSimFireWireBus::IsoRecvStart(raw1394handle_t h, int nStartOnCycle, int nTagMask, int nSync)
{
    (void)nStartOnCycle;
    (void)nTagMask;
    (void)nSync;
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p || p->nIso != ISO_RECV) {
        errno = EINVAL;
        return -1;
    }
    p->bIsoStarted = TRUE;
    return 0;
}

int CSimFireWireBus::IsoXmitInit(raw1394handle_t h, raw1394_iso_xmit_handler_t pfnHandler,
                                 unsigned int nBufPackets, unsigned int nMaxPacketSize, unsigned char ucChannel,
                                 enum raw1394_iso_speed nSpeed, int nIrqInterval)
{
    (void)pfnHandler;
    (void)nBufPackets;
    (void)nSpeed;
    (void)nIrqInterval;
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p || p->nIso != ISO_NONE || ucChannel >= 64 || nMaxPacketSize == 0 ||
        CSimHardware::Instance().ShouldFail("raw1394_iso_xmit_init")) {
        errno = EINVAL;
        return -1;
    }
    p->nIso = ISO_XMIT;
    p->ucChannel = ucChannel;
    p->bIsoStarted = FALSE;
    return 0;
}

int CSimFireWireBus::IsoXmitStart(raw1394handle_t h, int nStartOnCycle, int nPrebufferPackets)
{
    (void)nStartOnCycle;
    (void)nPrebufferPackets;
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p || p->nIso != ISO_XMIT) {
        errno = EINVAL;
        return -1;
    }
    p->bIsoStarted = TRUE;
    return 0;
}

void CSimFireWireBus::TakeForcePacket(BOARD& b, const UCHAR* p, unsigned int nLen)
{
    memset(b.aucLastForce, 0, sizeof(b.aucLastForce));
    memcpy(b.aucLastForce, p, nLen < sizeof(b.aucLastForce) ? nLen : sizeof(b.aucLastForce));
    b.nForcePackets++;
    if (nLen < 8)
        return;
    CSimArm* pArm = CSimHardware::Instance().FindArm(SIM_BUS_1394, b.nSerial, 0);
    if (!pArm)
        return;
    // The board's DACs take the 12-bit words the transport made from the library's
    // offset-binary words: word = 4095 - (dac16 >> 4).
    for (int i = 0; i < 3; i++) {
        int nWord = (p[2 * i] | (p[2 * i + 1] << 8)) & 0x0FFF;
        pArm->SetMotorDAC(i, ((long)(4095 - nWord) << 4) - 32768L);
    }
    UCHAR ucMisc = p[6];
    if (ucMisc & 0x10)
        pArm->ResetEncoders();
    pArm->SetAmplifiersEnabled((ucMisc & 0x08) != 0);
}

int CSimFireWireBus::IsoXmitWrite(raw1394handle_t h, unsigned char* pData, unsigned int nLen, unsigned char ucTag,
                                  unsigned char ucSy)
{
    (void)ucTag;
    (void)ucSy;
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    // A packet takes its slot on the bus: the device clock moves on in lockstep, so timed
    // loops that exchange packets come to their end as on the real bus.
    CSimHardware::Instance().SpendBusTime(SIM_1394_PACKET_NS);
    HANDLE* p = Lookup(h);
    if (!p || p->nIso != ISO_XMIT || !p->bIsoStarted || !pData) {
        errno = EINVAL;
        return -1;
    }
    std::vector<BOARD*> boards;
    NodesOnPort(p->nPort, boards);
    for (BOARD* pBoard : boards) {
        if (pBoard->aucRegs[kRegHostXmit - kRegBase] == p->ucChannel)
            TakeForcePacket(*pBoard, pData, nLen);
    }
    return 0;
}

void CSimFireWireBus::IsoShutdown(raw1394handle_t h)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p)
        return;
    p->nIso = ISO_NONE;
    p->bIsoStarted = FALSE;
    p->bIsoStopped = FALSE;
    p->pfnRecv = nullptr;
    p->ring.clear();
    p->nQueued = 0;
    p->nHead = 0;
}

BOOLEAN CSimFireWireBus::Ready(const HANDLE& hd) const
{
    if (hd.bResetPending)
        return TRUE;
    return (hd.nIso == ISO_RECV && hd.bIsoStarted && !hd.bIsoStopped && hd.nQueued > 0) ? TRUE : FALSE;
}

int CSimFireWireBus::LoopIterate(raw1394handle_t h)
{
    std::unique_lock<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p) {
        errno = EINVAL;
        return -1;
    }
    if (CSimHardware::Instance().ShouldFail("raw1394_loop_iterate"))
        return -1;
    if (p->bResetPending) {
        p->bResetPending = FALSE;
        bus_reset_handler_t pfn = p->pfnReset;
        unsigned int nGeneration = m_nGeneration;
        // The handler talks to the bus again (and may shut this handle's reception down).
        lock.unlock();
        if (pfn)
            pfn(h, nGeneration);
        lock.lock();
        p = Lookup(h);
        if (!p)
            return 0;
    }
    // Every packet that arrived since the last iteration is handed over, oldest first.
    while (p && p->nIso == ISO_RECV && p->bIsoStarted && !p->bIsoStopped && p->nQueued > 0) {
        UCHAR aucPacket[SIM_1394_PACKET_SIZE];
        memcpy(aucPacket, &p->ring[p->nHead * SIM_1394_PACKET_SIZE], SIM_1394_PACKET_SIZE);
        size_t nSlots = p->ring.size() / SIM_1394_PACKET_SIZE;
        p->nHead = (p->nHead + 1) % nSlots;
        p->nQueued--;
        raw1394_iso_recv_handler_t pfn = p->pfnRecv;
        unsigned char ucChannel = p->ucChannel;
        lock.unlock();
        enum raw1394_iso_disposition nDisp = pfn(h, aucPacket, SIM_1394_PACKET_SIZE, ucChannel, 0, 0, 0, 0);
        lock.lock();
        p = Lookup(h);
        if (p && nDisp == RAW1394_ISO_STOP) {
            p->bIsoStopped = TRUE;
            p->nQueued = 0;
        }
    }
    return 0;
}

bus_reset_handler_t CSimFireWireBus::SetBusResetHandler(raw1394handle_t h, bus_reset_handler_t pfnHandler)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p)
        return nullptr;
    bus_reset_handler_t pfnOld = p->pfnReset;
    p->pfnReset = pfnHandler;
    return pfnOld;
}

int CSimFireWireBus::UpdateGeneration(raw1394handle_t h, unsigned int nGeneration)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    HANDLE* p = Lookup(h);
    if (!p) {
        errno = EINVAL;
        return -1;
    }
    p->nGeneration = nGeneration;
    return 0;
}

int CSimFireWireBus::Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::unique_lock<std::recursive_mutex> lock(SimMutex());
    if (hw.ShouldFail("poll"))
        return -1;
    // Even a look without waiting takes its time on the device clock in lockstep, so a
    // loop that only looks still comes to the end of its time.
    if (nTimeoutMs == 0)
        hw.SpendBusTime(SIM_1394_PACKET_NS);
    hw.Sync();
    int64_t nDeadline = hw.NowNs() + (nTimeoutMs < 0 ? 60LL * 1000000000LL : (int64_t)nTimeoutMs * 1000000LL);
    for (;;) {
        int nReady = 0;
        for (nfds_t i = 0; i < nFds; i++) {
            pFds[i].revents = 0;
            HANDLE* p = LookupFd(pFds[i].fd);
            if (!p) {
                pFds[i].revents = POLLNVAL;
                nReady++;
            } else if (Ready(*p) && (pFds[i].events & (POLLIN | POLLPRI))) {
                pFds[i].revents = (short)(pFds[i].events & (POLLIN | POLLPRI));
                nReady++;
            }
        }
        int64_t nNow = hw.NowNs();
        if (nReady > 0 || nNow >= nDeadline)
            return nReady;
        int64_t nNext = hw.GetNextTickNs();
        if (hw.GetOptions().nPace == SIM_PACE_LOCKSTEP) {
            hw.SpendBusTime((nNext < nDeadline ? nNext : nDeadline) - nNow);
            continue;
        }
        int64_t nWake = nNext < nDeadline ? nNext : nDeadline;
        struct timespec ts;
        ts.tv_sec = (time_t)(nWake / 1000000000LL);
        ts.tv_nsec = (long)(nWake % 1000000000LL);
        lock.unlock();
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        lock.lock();
        hw.Sync();
    }
}

void CSimFireWireBus::BuildPacket(BOARD& b, UCHAR* p)
{
    memset(p, 0, SIM_1394_PACKET_SIZE);
    CSimArm* pArm = CSimHardware::Instance().FindArm(SIM_BUS_1394, b.nSerial, 0);
    p[2] = (UCHAR)b.nFirmwareVersion;
    p[3] = (UCHAR)~b.nFirmwareVersion;
    UCHAR ucA = 0x01 | 0x02 | 0x04;   // switches released, home line 1 clear
    UCHAR ucB = 0;
    if (pArm) {
        PutWord(p + 4, pArm->GetEncoderCounter(0));
        PutWord(p + 6, pArm->GetEncoderCounter(1));
        PutWord(p + 8, pArm->GetEncoderCounter(2));
        // The gimbal's angle sensors on ADC channels 0..2 (12 bits, read inverted).
        // Ratiometric boards report the wiper against both rails: the library works out
        // under * 4095 / (under + over), here with under + over = 4095.
        for (int k = 0; k < 3; k++) {
            USHORT usCode = (USHORT)(pArm->GetEncoderCounter(3 + k) & 0x0FFF);
            USHORT usOver = b.bRatiometric ? usCode : (USHORT)(4095 - usCode);
            PutWord(p + 22 + 2 * k, usOver);
            PutWord(p + 10 + 2 * k, (USHORT)(4095 - usOver));
        }
        ucA = 0;
        if (!pArm->GetStylusSwitch(0))
            ucA |= 0x01;
        if (!pArm->GetStylusSwitch(1))
            ucA |= 0x02;
        if (pArm->GetHomeSensor(1))
            ucA |= 0x04;
        if (pArm->GetDeviceFault())
            ucB |= 0x08;
        for (int nAxis = 0; nAxis < 3; nAxis++) {
            if (pArm->GetSpeedError(nAxis))
                ucB |= (UCHAR)(0x20 << nAxis);
        }
    }
    if (b.bRatiometric)
        ucA |= 0x10;
    p[18] = b.ucTimer++;
    p[19] = ucA;
    p[21] = ucB;
    p[30] = 'F';
    p[31] = 'W';
    if (b.nBadPackets > 0) {
        b.nBadPackets--;
        p[31] = 'X';
    }
}

int64_t CSimFireWireBus::FramePeriodNs()
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    for (const BOARD& b : m_boards) {
        if (!b.bPresent)
            continue;
        int nCycles = b.aucRegs[kRegFrameBeacon - kRegBase];
        if (b.nFirmwareVersion > 189 && nCycles > 0)
            return (int64_t)nCycles * 125000LL;
        // Older firmware polls at its fixed raw rate.
        if (b.aucRegs[kRegRawBeacon - kRegBase] != 0)
            return 1000000LL;
    }
    return 0;
}

void CSimFireWireBus::OnTick()
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    for (BOARD& b : m_boards) {
        BOOLEAN bBeacon = (b.nFirmwareVersion > 189) ? (b.aucRegs[kRegFrameBeacon - kRegBase] != 0)
                                                     : (b.aucRegs[kRegRawBeacon - kRegBase] != 0);
        if (!b.bPresent || !bBeacon || b.nPacketSize == 0)
            continue;
        if (b.nLatePackets != 0) {
            if (b.nLatePackets > 0)
                b.nLatePackets--;
            continue;
        }
        UCHAR aucPacket[SIM_1394_PACKET_SIZE];
        BuildPacket(b, aucPacket);
        b.nEncoderPackets++;
        UCHAR ucChannel = b.aucRegs[kRegDeviceXmit - kRegBase];
        for (HANDLE* p : m_handles) {
            if (p->nPort != b.nPort || p->nIso != ISO_RECV || !p->bIsoStarted || p->bIsoStopped ||
                p->ucChannel != ucChannel)
                continue;
            size_t nSlots = p->ring.size() / SIM_1394_PACKET_SIZE;
            // A full ring drops the packet, as the DMA buffer would.
            if (nSlots == 0 || p->nQueued >= nSlots)
                continue;
            size_t nTail = (p->nHead + p->nQueued) % nSlots;
            memcpy(&p->ring[nTail * SIM_1394_PACKET_SIZE], aucPacket, SIM_1394_PACKET_SIZE);
            p->nQueued++;
        }
    }
}

// ---- test interface ----

void CSimFireWireBus::SetPortCount(int nPorts)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    if (nPorts >= 0 && nPorts <= SIM_1394_MAX_PORTS)
        m_nPorts = nPorts;
}

BOOLEAN CSimFireWireBus::SetBoardPort(ULONG nSerial, int nPort)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    SyncBoards();
    BOARD* p = FindBoard(nSerial);
    if (!p || nPort < 0 || nPort >= SIM_1394_MAX_PORTS)
        return FALSE;
    p->nPort = nPort;
    return TRUE;
}

BOOLEAN CSimFireWireBus::SetBoardPresent(ULONG nSerial, BOOLEAN bPresent)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    SyncBoards();
    BOARD* p = FindBoard(nSerial);
    if (!p)
        return FALSE;
    p->bPresent = bPresent;
    return TRUE;
}

BOOLEAN CSimFireWireBus::SetFirmwareVersion(ULONG nSerial, int nVersion)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    SyncBoards();
    BOARD* p = FindBoard(nSerial);
    if (!p || nVersion < 0 || nVersion > 0xFFFF)
        return FALSE;
    p->nFirmwareVersion = nVersion;
    PutRunningVersion(p->flash, p->ucBootConfig, nVersion);
    p->aucRegs[kRegFirmwareHigh - kRegBase] = (UCHAR)(nVersion >> 8);
    p->aucRegs[kRegFirmwareLow - kRegBase] = (UCHAR)nVersion;
    return TRUE;
}

template <typename F>
BOOLEAN CSimFireWireBus::WithBoard(ULONG nSerial, F fnChange)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    SyncBoards();
    BOARD* p = FindBoard(nSerial);
    if (!p)
        return FALSE;
    fnChange(*p);
    return TRUE;
}

BOOLEAN CSimFireWireBus::InjectBadPackets(ULONG nSerial, int nPackets)
{
    return WithBoard(nSerial, [&](BOARD& board) { board.nBadPackets = nPackets; });
}

BOOLEAN CSimFireWireBus::InjectLatePackets(ULONG nSerial, long nPackets)
{
    return WithBoard(nSerial, [&](BOARD& board) { board.nLatePackets = nPackets; });
}

BOOLEAN CSimFireWireBus::SetRatiometric(ULONG nSerial, BOOLEAN bOn)
{
    return WithBoard(nSerial, [&](BOARD& board) { board.bRatiometric = bOn; });
}

BOOLEAN CSimFireWireBus::SetCommitFails(ULONG nSerial, BOOLEAN bFails)
{
    return WithBoard(nSerial, [&](BOARD& board) { board.bCommitFails = bFails; });
}

void CSimFireWireBus::BusReset(int nPort)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    m_nGeneration++;
    // The boards stop their frames until the host starts them again, and reload their
    // configuration ROM; registers and flash stay.
    for (BOARD& b : m_boards) {
        if (b.nPort != nPort)
            continue;
        b.aucRegs[kRegFrameBeacon - kRegBase] = 0;
        b.aucRegs[kRegRawBeacon - kRegBase] = 0;
        memcpy(b.aucLiveRom, &b.flash[6 * SIM_1394_BANK_SIZE], kLiveRomSize);
    }
    for (HANDLE* p : m_handles) {
        if (p->nPort == nPort)
            p->bResetPending = TRUE;
    }
}

BOOLEAN CSimFireWireBus::GetBoardState(ULONG nSerial, SIM_1394_BOARD_STATE* pState)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    SyncBoards();
    BOARD* p = FindBoard(nSerial);
    if (!p || !pState)
        return FALSE;
    memset(pState, 0, sizeof(*pState));
    pState->nPort = p->nPort;
    pState->nNode = -1;
    std::vector<BOARD*> boards;
    NodesOnPort(p->nPort, boards);
    for (size_t i = 0; i < boards.size(); i++) {
        if (boards[i] == p)
            pState->nNode = (int)i;
    }
    pState->nHostXmitChannel = p->aucRegs[kRegHostXmit - kRegBase];
    pState->nDeviceXmitChannel = p->aucRegs[kRegDeviceXmit - kRegBase];
    pState->nFrameBeacon = p->aucRegs[kRegFrameBeacon - kRegBase];
    pState->nRawBeacon = p->aucRegs[kRegRawBeacon - kRegBase];
    pState->nPacketSize = p->nPacketSize;
    pState->nFirmwareVersion = p->nFirmwareVersion;
    pState->ucBootConfig = p->ucBootConfig;
    pState->nJumpBank = p->nJumpBank;
    pState->bExtraWrites = p->bExtraWrites;
    pState->nEncoderPackets = p->nEncoderPackets;
    pState->nForcePackets = p->nForcePackets;
    memcpy(pState->aucLastForce, p->aucLastForce, sizeof(pState->aucLastForce));
    pState->nStatusLight = p->aucLastForce[6] & 0x07;
    return TRUE;
}

BOOLEAN CSimFireWireBus::ReadFlash(ULONG nSerial, int nBank, uint32_t nOffset, UCHAR* pBuffer, size_t nCount)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    SyncBoards();
    BOARD* p = FindBoard(nSerial);
    if (!p || !pBuffer || nBank < 0 || nBank >= SIM_1394_BANKS || nOffset + nCount > SIM_1394_BANK_SIZE)
        return FALSE;
    memcpy(pBuffer, &p->flash[(size_t)nBank * SIM_1394_BANK_SIZE + nOffset], nCount);
    return TRUE;
}

BOOLEAN CSimFireWireBus::PokeFlash(ULONG nSerial, int nBank, uint32_t nOffset, const UCHAR* pBuffer, size_t nCount)
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    SyncBoards();
    BOARD* p = FindBoard(nSerial);
    if (!p || !pBuffer || nBank < 0 || nBank >= SIM_1394_BANKS || nOffset + nCount > SIM_1394_BANK_SIZE)
        return FALSE;
    memcpy(&p->flash[(size_t)nBank * SIM_1394_BANK_SIZE + nOffset], pBuffer, nCount);
    return TRUE;
}

int CSimFireWireBus::OpenHandleCount()
{
    std::lock_guard<std::recursive_mutex> lock(SimMutex());
    return (int)m_handles.size();
}
