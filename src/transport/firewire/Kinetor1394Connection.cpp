#include "transport/firewire/Kinetor1394Connection.h"

#include <errno.h>
#include <math.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "KinetorFirmware.h"
#include "config/KinetorMgr.h"
#include "platform/Trace.h"
#include "transport/firewire/ZanterConvert.h"

namespace {

const int kCardType1394 = 6;
const nodeid_t kLocalBus = 0xFFC0;
const uint32_t kGuidHighAddress = 0x1006000C;
const uint32_t kZanterGuidHigh = 0x00A7E500;
const uint32_t kPacketSizeSetting = 0x00000FF8;
const float kBusCyclesPerSecond = 8000.0f;
const ULONG kMaxFrameRate = 1600;
const int kNewestOldFirmware = 189;
const UCHAR kRawBeaconValue = 10;
const int kAwaitTimeoutMs = 10;
const useconds_t kBusResetSettleUs = 100000;
const int kMaxPorts = 16;

// Consecutive tick waits that saw no packet, for the whole process.
std::atomic<int> g_nLatePackets(0);

// One lock per host port: the boards on a port share its bus. Never destroyed, as a servo
// thread may still use one while the process exits.
CKinetorMutex& PortLockOf(int nPort)
{
    static CKinetorMutex* s_apLocks[kMaxPorts] = {};
    static CKinetorMutex s_guard(false);
    int n = (nPort >= 0 && nPort < kMaxPorts) ? nPort : 0;
    CKinetorLock lock(s_guard);
    if (!s_apLocks[n])
        s_apLocks[n] = new CKinetorMutex(false);
    return *s_apLocks[n];
}

// Guards the process-wide channel and serial-number tables: the configuration store may
// build connections on an application thread while a device runs.
CKinetorMutex& TableLock()
{
    static CKinetorMutex* s_pMutex = new CKinetorMutex(false);
    return *s_pMutex;
}

unsigned int VersionNumber(const char* psz)
{
    unsigned int n = 0;
    for (const char* p = psz; p && *p; p++) {
        if (*p >= '0' && *p <= '9' && n < 100000000U)
            n = n * 10 + (unsigned int)(*p - '0');
    }
    return n;
}

}  // namespace

ULONG CKinetor1394Connection::m_anSerialNumberTable[SERIAL_NUMBER_TABLE_SIZE];
BOOLEAN CKinetor1394Connection::m_bTableInitialized = FALSE;
bool CKinetor1394Connection::m_anChannelAllocationTable[MAX_ISOCH_CHANNEL];

// ---------------------------------------------------------------------------------------
// C1394Connection

C1394Connection::C1394Connection(ULONG nUnit, CKinetor1394Connection* pParent)
    : CBlockConnection(kCardType1394, nUnit), m_pParent(pParent)
{
    m_nUpdateRate = 1000;
    m_bCantCommunicate = FALSE;
    m_nWatchdogErrors = 0;
}

C1394Connection::~C1394Connection() {}

int C1394Connection::AllocateConnection(int nChannel)
{
    int nResult = CBlockConnection::AllocateConnection(nChannel);
    if (nResult < 0)
        return nResult;
    m_regsOut.ucMiscOut |= BLOCK_MISCOUT_TIMER;
    if (!m_pParent || !m_pParent->DeviceOpen(m_nUnit))
        return -11;
    return PortTalkTest() ? 1 : -19;
}

int C1394Connection::DeleteConnection()
{
    CBlockConnection::DeleteConnection();
    if (m_pParent)
        m_pParent->DeviceClose();
    return 1;
}

int C1394Connection::ReadDeviceFault()
{
    return CBlockConnection::ReadDeviceFault();
}

int C1394Connection::ReadSwitch(int switchNum)
{
    if (switchNum == 0)
        return (m_regsIn.ucMiscIn & BLOCK_MISCIN_SWITCH0) == 0 ? 1 : 0;
    if (switchNum == 1)
        return (m_regsIn.ucMiscIn & BLOCK_MISCIN_PRESENCE) == 0 ? 1 : 0;
    return 0;
}

int C1394Connection::SubmitClient(BOOLEAN bSet)
{
    if (!m_pParent)
        return -11;
    return m_pParent->DeviceEnable(bSet, m_nUpdateRate) ? 1 : -11;
}

void C1394Connection::Await()
{
    if (m_pParent)
        m_pParent->Await();
}

BOOLEAN C1394Connection::IsSupported1394FrameRate(ULONG nUpdateRate)
{
    if (nUpdateRate == 1000)
        return TRUE;
    if (nUpdateRate == 0 || GetHardwareRevNum() <= kNewestOldFirmware)
        return FALSE;
    float q = kBusCyclesPerSecond / (float)nUpdateRate;
    return fabsf(q - truncf(q + 0.5f)) < 0.015f ? TRUE : FALSE;
}

int C1394Connection::SetKinetorUpdateRate(ULONG nUpdateRate)
{
    if (!IsSupported1394FrameRate(nUpdateRate) || nUpdateRate > kMaxFrameRate)
        return -20;
    m_nUpdateRate = nUpdateRate;
    return 1;
}

int C1394Connection::GetHardwareRevNum()
{
    return m_pParent ? m_pParent->ReadFirmwareVersion() : 0;
}

CKinetorMutex& C1394Connection::PortLock()
{
    return m_pParent ? m_pParent->PortLock() : PortLockOf(0);
}

void C1394Connection::ResetCommunicationErrors()
{
    m_nWatchdogErrors = 0;
    m_bCantCommunicate = FALSE;
}

BOOLEAN C1394Connection::CommunicationError()
{
    return m_bCantCommunicate ? TRUE : FALSE;
}

BOOLEAN C1394Connection::PortTalkTest()
{
    return (m_pParent && m_pParent->DevicePing()) ? TRUE : FALSE;
}

BOOLEAN C1394Connection::ReadBlock(_PORT_INPUT* pBuffer, int nLen, BOOLEAN bReverse)
{
    (void)bReverse;
    return (m_pParent && m_pParent->DeviceReadData(pBuffer, nLen)) ? TRUE : FALSE;
}

BOOLEAN C1394Connection::WriteBlock(_PORT_OUTPUT* pBuffer, int nLen)
{
    return (m_pParent && m_pParent->DeviceWriteData(pBuffer, nLen)) ? TRUE : FALSE;
}

BOOLEAN C1394Connection::ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut)
{
    if (!ReadBlock(pRegsIn, ENCODER_DATA_LENGTH, FALSE)) {
        m_bCantCommunicate = TRUE;
        return FALSE;
    }
    return CBlockConnection::ReadKinetorData(pRegsIn, pRegsOut);
}

BOOLEAN C1394Connection::WriteKinetorData(_PORT_OUTPUT* pRegsOut)
{
    if (!WriteBlock(pRegsOut, FORCE_DATA_LENGTH)) {
        m_bCantCommunicate = TRUE;
        return FALSE;
    }
    return TRUE;
}

BOOLEAN C1394Connection::ReadWriteKinetorData(BOOLEAN bFlushOnly)
{
    ReadKinetorData(&m_regsIn, &m_regsOut);
    WriteKinetorData(&m_regsOut);
    if (CommunicationError())
        return FALSE;
    CBlockConnection::ReadWriteKinetorData(bFlushOnly);
    return TRUE;
}

void C1394Connection::ManageWatchdog(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut)
{
    (void)pRegsIn;
    pRegsOut->ucWatchdogCntrOut = 0x53;
}

// ---------------------------------------------------------------------------------------
// CKinetor1394Connection

CKinetor1394Connection::CKinetor1394Connection(ULONG nUnit)
    : m_xmit_handle(nullptr),
      m_recv_handle(nullptr),
      m_async_handle(nullptr),
      m_fw_recv_fd(-1),
      m_fw_xmit_fd(-1),
      m_kinetor_nodeid(-1),
      m_port(-1),
      m_recv_chan(INVALID_1394_CHANNEL),
      m_xmit_chan(INVALID_1394_CHANNEL),
      m_async_chan(INVALID_1394_CHANNEL),
      m_bHapticsStarted(FALSE),
      m_nUpdateRate(0),
      m_nUnit(nUnit),
      m_unLibrawVersion(0),
      m_bMutexesInitialized(FALSE),
      m_pfnOldRecvReset(nullptr),
      m_pfnOldXmitReset(nullptr),
      m_pBus(GetFireWireBus())
{
    memset(m_abReceiveBuffer, 0, sizeof(m_abReceiveBuffer));
    {
        CKinetorLock lock(TableLock());
        if (!m_bTableInitialized) {
            for (ULONG& n : m_anSerialNumberTable)
                n = SERIAL_NUMBER_UNKNOWN;
            m_bTableInitialized = TRUE;
        }
    }
    m_unLibrawVersion = VersionNumber(Bus()->GetLibVersion());

    m_pConnection = new (std::nothrow) C1394Connection(nUnit, this);
    if (!m_pConnection)
        return;
    m_recv_handle = Bus()->NewHandle();
    m_xmit_handle = m_recv_handle ? Bus()->NewHandle() : nullptr;
    m_async_handle = m_xmit_handle ? Bus()->NewHandle() : nullptr;
    if (!m_async_handle) {
        LOG("TID(%X, %d) raw1394_new_handle()) == NULL\n", (unsigned)pthread_self(), (int)getpid());
        return;
    }
    ULONG nSerial = 0;
    CKinetorMgr mgr;
    if (!mgr.Get1394SerialNumber(nUnit, nSerial, nullptr)) {
        LOG("TID(%X, %d) Get1394SerialNumber failed\n", (unsigned)pthread_self(), (int)getpid());
        return;
    }
    if (fw_find_zanter_port((int)nSerial, &m_port) != 0) {
        LOG("TID(%X, %d) fw_find_zanter_port(sn)\n", (unsigned)pthread_self(), (int)getpid());
        return;
    }
    if (Bus()->SetPort(m_recv_handle, m_port) < 0 || Bus()->SetPort(m_xmit_handle, m_port) < 0 ||
        Bus()->SetPort(m_async_handle, m_port) < 0) {
        LOG("TID(%X, %d) raw1394_set_port failed\n", (unsigned)pthread_self(), (int)getpid());
        return;
    }
    m_fw_recv_fd = Bus()->GetFd(m_recv_handle);
    m_fw_xmit_fd = Bus()->GetFd(m_xmit_handle);
    if (!FindKinetorNode()) {
        LOG("TID(%X, %d) FindKinetorNode() == FALSE\n", (unsigned)pthread_self(), (int)getpid());
        return;
    }
    if (!AcquireResources()) {
        LOG("TID(%X, %d) AcquireResources failed\n", (unsigned)pthread_self(), (int)getpid());
        return;
    }
    if (pthread_mutex_init(&m_receiveBufferMutex, nullptr) != 0) {
        LOG("TID(%X, %d) pthread_mutex_init failed\n", (unsigned)pthread_self(), (int)getpid());
        return;
    }
    if (pthread_mutex_init(&m_transmitBufferMutex, nullptr) != 0) {
        pthread_mutex_destroy(&m_receiveBufferMutex);
        LOG("TID(%X, %d) pthread_mutex_init failed\n", (unsigned)pthread_self(), (int)getpid());
        return;
    }
    m_bMutexesInitialized = TRUE;
    LoadSerialNumber();
    m_bConstructorStatus = TRUE;
}

CKinetor1394Connection::~CKinetor1394Connection()
{
    // A connection dropped while its board still streams stops the beacon first, so that
    // nothing keeps pacing a bus nobody listens to.
    if (m_bHapticsStarted)
        StopHaptics();
    delete m_pConnection;
    m_pConnection = nullptr;
    if (m_xmit_handle)
        Bus()->DestroyHandle(m_xmit_handle);
    if (m_recv_handle)
        Bus()->DestroyHandle(m_recv_handle);
    if (m_async_handle)
        Bus()->DestroyHandle(m_async_handle);
    m_xmit_handle = m_recv_handle = m_async_handle = nullptr;
    if (m_bMutexesInitialized) {
        pthread_mutex_destroy(&m_receiveBufferMutex);
        pthread_mutex_destroy(&m_transmitBufferMutex);
    }
    ReleaseChannels();
}

CFireWireBus* CKinetor1394Connection::Bus()
{
    return m_pBus;
}

CKinetorMutex& CKinetor1394Connection::PortLock()
{
    return PortLockOf(m_port);
}

BOOLEAN CKinetor1394Connection::AsyncRead(void* pBuffer, ULONG nAddress, size_t nLength)
{
    if (!m_async_handle || m_kinetor_nodeid < 0)
        return FALSE;
    return Bus()->Read(m_async_handle, (nodeid_t)(m_kinetor_nodeid | kLocalBus), nAddress, nLength,
                       static_cast<quadlet_t*>(pBuffer)) < 0
               ? FALSE
               : TRUE;
}

BOOLEAN CKinetor1394Connection::AsyncWrite(const void* pBuffer, ULONG nAddress, size_t nLength)
{
    if (!m_async_handle || m_kinetor_nodeid < 0)
        return FALSE;
    return Bus()->Write(m_async_handle, (nodeid_t)(m_kinetor_nodeid | kLocalBus), nAddress, nLength,
                        static_cast<quadlet_t*>(const_cast<void*>(pBuffer))) < 0
               ? FALSE
               : TRUE;
}

BOOLEAN CKinetor1394Connection::AsyncReadByte(UCHAR& ucByte, ULONG nAddress)
{
    return AsyncRead(&ucByte, nAddress, 1);
}

BOOLEAN CKinetor1394Connection::AsyncWriteByte(UCHAR ucValue, ULONG nAddress)
{
    return AsyncWrite(&ucValue, nAddress, 1);
}

BOOLEAN CKinetor1394Connection::FindKinetorNode()
{
    m_kinetor_nodeid = -1;
    if (!m_recv_handle || !m_async_handle)
        return FALSE;
    int nNodes = Bus()->GetNodeCount(m_recv_handle);
    for (int nNode = 0; nNode < nNodes; nNode++) {
        UCHAR auc[4];
        if (Bus()->Read(m_async_handle, (nodeid_t)(nNode | kLocalBus), kGuidHighAddress, 4,
                        reinterpret_cast<quadlet_t*>(auc)) < 0)
            continue;
        uint32_t n = ((uint32_t)auc[0] << 24) | ((uint32_t)auc[1] << 16) | ((uint32_t)auc[2] << 8) | auc[3];
        if (n == kZanterGuidHigh) {
            m_kinetor_nodeid = nNode;
            return TRUE;
        }
    }
    return FALSE;
}

UCHAR CKinetor1394Connection::AcquireChannel()
{
    CKinetorLock lock(TableLock());
    for (int i = 0; i < MAX_ISOCH_CHANNEL; i++) {
        if (!m_anChannelAllocationTable[i]) {
            m_anChannelAllocationTable[i] = true;
            return (UCHAR)i;
        }
    }
    return INVALID_1394_CHANNEL;
}

void CKinetor1394Connection::ReleaseChannel(UCHAR ucChannel)
{
    CKinetorLock lock(TableLock());
    if (ucChannel < MAX_ISOCH_CHANNEL)
        m_anChannelAllocationTable[ucChannel] = false;
}

void CKinetor1394Connection::ReleaseChannels()
{
    ReleaseChannel(m_recv_chan);
    ReleaseChannel(m_xmit_chan);
    ReleaseChannel(m_async_chan);
    m_recv_chan = m_xmit_chan = m_async_chan = INVALID_1394_CHANNEL;
}

BOOLEAN CKinetor1394Connection::AcquireResources()
{
    m_recv_chan = AcquireChannel();
    m_xmit_chan = AcquireChannel();
    m_async_chan = AcquireChannel();
    if (m_recv_chan == INVALID_1394_CHANNEL || m_xmit_chan == INVALID_1394_CHANNEL ||
        m_async_chan == INVALID_1394_CHANNEL) {
        ReleaseChannels();
        return FALSE;
    }
    return TRUE;
}

BOOLEAN CKinetor1394Connection::InformChannels()
{
    return (AsyncWriteByte(m_xmit_chan, kRegister_HostXmitChannel) &&
            AsyncWriteByte(m_recv_chan, kRegister_DeviceXmitChannel))
               ? TRUE
               : FALSE;
}

BOOLEAN CKinetor1394Connection::DeviceOpen(ULONG nUnit)
{
    (void)nUnit;
    if (!InformChannels())
        return FALSE;
    const UCHAR aucSize[4] = {(UCHAR)(kPacketSizeSetting >> 24), (UCHAR)(kPacketSizeSetting >> 16),
                              (UCHAR)(kPacketSizeSetting >> 8), (UCHAR)kPacketSizeSetting};
    return AsyncWrite(aucSize, kRegister_1394PacketSize, 4);
}

BOOLEAN CKinetor1394Connection::DeviceClose()
{
    UnloadSerialNumber();
    return TRUE;
}

BOOLEAN CKinetor1394Connection::DeviceEnable(BOOLEAN bEnable, ULONG nUpdateRate)
{
    if (bEnable) {
        if (!StartHaptics(nUpdateRate)) {
            StopHaptics();
            return FALSE;
        }
        return TRUE;
    }
    return StopHaptics();
}

BOOLEAN CKinetor1394Connection::DevicePing()
{
    UCHAR ucKept = 0;
    UCHAR ucBack = 0;
    if (!AsyncReadByte(ucKept, kRegister_DeviceXmitChannel) ||
        !AsyncWriteByte(INVALID_1394_CHANNEL, kRegister_DeviceXmitChannel) ||
        !AsyncReadByte(ucBack, kRegister_DeviceXmitChannel) || ucBack != INVALID_1394_CHANNEL)
        return FALSE;
    return AsyncWriteByte(ucKept, kRegister_DeviceXmitChannel);
}

BOOLEAN CKinetor1394Connection::DeviceReadData(void* pBuffer, int nLength)
{
    return GetEncoderData(pBuffer, nLength);
}

BOOLEAN CKinetor1394Connection::DeviceWriteData(const void* pBuffer, int nLength)
{
    return SendForceData(pBuffer, nLength);
}

int CKinetor1394Connection::ReadFirmwareVersion()
{
    UCHAR ucHigh = 0;
    UCHAR ucLow = 0;
    if (!AsyncReadByte(ucHigh, kRegister_FirmwareVersionHigh) || !AsyncReadByte(ucLow, kRegister_FirmwareVersionLow))
        return 0;
    return ucHigh * 256 + ucLow;
}

BOOLEAN CKinetor1394Connection::TestBeaconRateSupport()
{
    return ReadFirmwareVersion() > kNewestOldFirmware ? TRUE : FALSE;
}

BOOLEAN CKinetor1394Connection::StartHaptics(ULONG nUpdateRate)
{
    if (m_bHapticsStarted)
        return TRUE;
    m_nUpdateRate = nUpdateRate;
    BOOLEAN bBeacon = TestBeaconRateSupport();
    if (bBeacon) {
        UCHAR ucCycles = nUpdateRate ? (UCHAR)((ULONG)(kBusCyclesPerSecond / (float)nUpdateRate + 0.5f) & 0xFF) : 0;
        if (!AsyncWriteByte(ucCycles, kRegister_FrameBeaconRate))
            return FALSE;
    } else if (!AsyncWriteByte(kRawBeaconValue, kRegister_RawBeaconRate)) {
        return FALSE;
    }
    Bus()->SetUserData(m_recv_handle, this);
    Bus()->SetUserData(m_xmit_handle, this);
    BOOLEAN bRecv = FALSE;
    BOOLEAN bXmit = FALSE;
    BOOLEAN bOk = FALSE;
    do {
        if (Bus()->IsoRecvInit(m_recv_handle, ReceiveHandler, kReceive_PacketsToBuffer, kReceive_MaxPacketSize,
                               m_recv_chan, kReceive_DMAReceiveMode, kReceive_MaxLatencyOfWakeup) < 0)
            break;
        bRecv = TRUE;
        if (Bus()->IsoRecvStart(m_recv_handle, kReceive_StartOnCycle, -1, 0) < 0)
            break;
        m_pfnOldRecvReset = Bus()->SetBusResetHandler(m_recv_handle, BusResetHandler);
        if (Bus()->IsoXmitInit(m_xmit_handle, nullptr, kTransmit_PacketsToBuffer, kTransmit_MaxPacketSize,
                               m_xmit_chan, kTransmit_Speed, kTransmit_MaxLatencyOfWakeup) < 0)
            break;
        bXmit = TRUE;
        if (Bus()->IsoXmitStart(m_xmit_handle, kTransmit_StartOnCycle, kTransmit_PrebufferPackets) < 0)
            break;
        m_pfnOldXmitReset = Bus()->SetBusResetHandler(m_xmit_handle, BusResetHandler);
        bOk = TRUE;
    } while (false);
    if (!bOk) {
        // What was set up goes again, so that the next start finds the handles idle and
        // the board does not stream to nobody.
        Bus()->SetBusResetHandler(m_recv_handle, m_pfnOldRecvReset);
        if (bXmit)
            Bus()->IsoShutdown(m_xmit_handle);
        if (bRecv)
            Bus()->IsoShutdown(m_recv_handle);
        AsyncWriteByte(0, bBeacon ? kRegister_FrameBeaconRate : kRegister_RawBeaconRate);
        return FALSE;
    }
    m_bHapticsStarted = TRUE;
    return TRUE;
}

BOOLEAN CKinetor1394Connection::StopHaptics()
{
    if (!m_bHapticsStarted)
        return TRUE;
    AsyncWriteByte(0, TestBeaconRateSupport() ? kRegister_FrameBeaconRate : kRegister_RawBeaconRate);
    Bus()->SetBusResetHandler(m_recv_handle, m_pfnOldRecvReset);
    Bus()->SetBusResetHandler(m_xmit_handle, m_pfnOldXmitReset);
    Bus()->IsoShutdown(m_xmit_handle);
    Bus()->IsoShutdown(m_recv_handle);
    m_bHapticsStarted = FALSE;
    return TRUE;
}

enum raw1394_iso_disposition CKinetor1394Connection::ReceiveHandler(raw1394handle_t h, unsigned char* pData,
                                                                    unsigned int nLen, unsigned char ucChannel,
                                                                    unsigned char ucTag, unsigned char ucSy,
                                                                    unsigned int nCycle, unsigned int nDropped)
{
    (void)ucChannel;
    (void)ucTag;
    (void)ucSy;
    (void)nCycle;
    (void)nDropped;
    CKinetor1394Connection* pThis = static_cast<CKinetor1394Connection*>(GetFireWireBus()->GetUserData(h));
    if (!pThis || !pThis->m_bMutexesInitialized)
        return RAW1394_ISO_STOP;
    if (pthread_mutex_lock(&pThis->m_receiveBufferMutex) != 0)
        return RAW1394_ISO_STOP;
    _PORT_INPUT block;
    // A short packet is no packet of the board.
    int nResult = (pData && nLen >= ZANTER_PACKET_SIZE) ? zanter_convert(pData, &block) : -1;
    if (nResult != 0)
        memset(pThis->m_abReceiveBuffer, 0, sizeof(pThis->m_abReceiveBuffer));
    else
        memcpy(pThis->m_abReceiveBuffer, &block, sizeof(pThis->m_abReceiveBuffer));
    if (pthread_mutex_unlock(&pThis->m_receiveBufferMutex) != 0)
        return RAW1394_ISO_STOP;
    return nResult == 0 ? RAW1394_ISO_OK : RAW1394_ISO_STOP;
}

BOOLEAN CKinetor1394Connection::GetEncoderData(void* pBuffer, int nLength)
{
    if (!pBuffer || nLength < 0 || nLength > ENCODER_DATA_LENGTH || !m_bMutexesInitialized)
        return FALSE;
    // Only what has arrived is dispatched: with nothing pending the loop would block until
    // the next packet, and a stopped reception would hang the tick for good.
    struct pollfd pfd;
    pfd.fd = m_fw_recv_fd;
    pfd.events = POLLIN | POLLPRI;
    pfd.revents = 0;
    BOOLEAN bPending = Bus()->Poll(&pfd, 1, 0) > 0 ? TRUE : FALSE;
    if (m_bHapticsStarted && bPending && Bus()->LoopIterate(m_recv_handle) != 0) {
        memset(pBuffer, 0, (size_t)nLength);
        return FALSE;
    }
    if (pthread_mutex_lock(&m_receiveBufferMutex) != 0)
        return FALSE;
    memcpy(pBuffer, m_abReceiveBuffer, (size_t)nLength);
    pthread_mutex_unlock(&m_receiveBufferMutex);
    return TRUE;
}

BOOLEAN CKinetor1394Connection::SendForceData(const void* pBuffer, int nLength)
{
    if (!pBuffer || nLength < 0 || nLength > FORCE_DATA_LENGTH)
        return FALSE;
    unsigned char aucPacket[kTransmit_PacketSize];
    memset(aucPacket, 0, sizeof(aucPacket));
    memcpy(aucPacket, pBuffer, (size_t)nLength);
    if (m_bHapticsStarted)
        Bus()->IsoXmitWrite(m_xmit_handle, aucPacket, kTransmit_PacketSize, 0, 0);
    return TRUE;
}

void CKinetor1394Connection::Await()
{
    struct pollfd pfd;
    pfd.fd = m_fw_recv_fd;
    pfd.events = POLLIN | POLLPRI;
    pfd.revents = 0;
    int nReady = Bus()->Poll(&pfd, 1, kAwaitTimeoutMs);
    if (nReady > 0) {
        g_nLatePackets = 0;
        return;
    }
    if (nReady == 0) {
        if (++g_nLatePackets > KINETOR_1394_MAX_LATE_PACKETS) {
            fputs("Timeout reading from 1394 bus, exiting...\n", stderr);
            exit(-1);
        }
        return;
    }
    perror("reporting 1394 connection error");
}

int CKinetor1394Connection::BusResetHandler(raw1394handle_t h, unsigned int nGeneration)
{
    CKinetor1394Connection* pThis = static_cast<CKinetor1394Connection*>(GetFireWireBus()->GetUserData(h));
    if (!pThis)
        return -1;
    usleep(kBusResetSettleUs);
    pThis->Bus()->UpdateGeneration(h, nGeneration);
    if (pThis->m_bHapticsStarted)
        pThis->StopHaptics();
    pThis->ReleaseChannels();
    if (!pThis->AcquireResources() || !pThis->InformChannels() || !pThis->FindKinetorNode())
        return -1;
    return pThis->StartHaptics(pThis->m_nUpdateRate) ? 0 : -1;
}

int CKinetor1394Connection::LoadSerialNumber()
{
    ULONG nSerial = 0;
    CKinetorMgr mgr;
    if (!mgr.Get1394SerialNumber(m_nUnit, nSerial, nullptr))
        return -1;
    if (m_nUnit < SERIAL_NUMBER_TABLE_SIZE) {
        CKinetorLock lock(TableLock());
        m_anSerialNumberTable[m_nUnit] = nSerial;
    }
    return 0;
}

void CKinetor1394Connection::UnloadSerialNumber()
{
    if (m_nUnit < SERIAL_NUMBER_TABLE_SIZE) {
        CKinetorLock lock(TableLock());
        m_anSerialNumberTable[m_nUnit] = SERIAL_NUMBER_UNKNOWN;
    }
    ReconcileDeviceSerialNumbers();
}

void CKinetor1394Connection::GetSerialNumberTable(SERIAL_NUMBER_TABLE* pTable)
{
    if (!pTable)
        return;
    CKinetorLock lock(TableLock());
    for (int i = 0; i < SERIAL_NUMBER_TABLE_SIZE; i++)
        pTable->anSerialNumbers[i] = m_anSerialNumberTable[i];
}

int CKinetor1394Connection::InvalidateSerialNumberTable()
{
    return LoadSerialNumber();
}

int CKinetor1394Connection::ReconcileDeviceSerialNumbers()
{
    ULONG nKnown = SERIAL_NUMBER_UNKNOWN;
    int nCount = 0;
    {
        CKinetorLock lock(TableLock());
        for (ULONG n : m_anSerialNumberTable) {
            if (n != SERIAL_NUMBER_UNKNOWN) {
                nKnown = n;
                nCount++;
            }
        }
    }
    if (nCount != 1)
        return 0;
    CKinetorMgr mgr;
    CKinetorDevice* aDevices[KINETOR_MAX_CONFIGS] = {};
    int nDevices = mgr.EnumerateKinetors(aDevices);
    if (nDevices > KINETOR_MAX_CONFIGS)
        nDevices = KINETOR_MAX_CONFIGS;
    for (int i = 0; i < nDevices; i++) {
        CKinetorDevice* p = aDevices[i];
        // Only a FireWire configuration that names no board yet gets the one known board:
        // one that names another board keeps it, or that arm could never be opened again.
        if (p && p->Read() && p->m_nCardType == (ULONG)kCardType1394 && p->m_n1394SerialNumber == 0) {
            p->m_n1394SerialNumber = nKnown;
            p->Write();
        }
    }
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++)
        delete aDevices[i];
    return 0;
}

void CKinetor1394Connection::ResetProcessState()
{
    CKinetorLock lock(TableLock());
    for (ULONG& n : m_anSerialNumberTable)
        n = SERIAL_NUMBER_UNKNOWN;
    m_bTableInitialized = TRUE;
    for (bool& b : m_anChannelAllocationTable)
        b = false;
    g_nLatePackets = 0;
}

int CKinetor1394Connection::GetLatePacketCount()
{
    return g_nLatePackets.load();
}
