#include "transport/epp/EPPConnection.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <linux/parport.h>
#include <linux/ppdev.h>

#include "hal/DeviceNodes.h"
#include "platform/Trace.h"

namespace {

const char kEPPNode[] = "/dev/kinepp";
const char* const epp_modes_path = "/dev/kinepp_modes";

// Register addresses of the device.
const UCHAR kAddrInputBlock = 0x00;
const UCHAR kAddrWatchdogIn = 0x0E;
const UCHAR kAddrWatchdogOut = 0x17;

const int kInterruptTimeoutMs = 1000;

// Process-wide state of the transport.
int epp_fd = -1;
int mode = 0;
int open_cnt = 0;
ULONG g_aPortAddr[EPP_MAX_PORTS] = {0, 0, 0, 0};
_PORT_INPUT* g_pSharedRegsIn[EPP_MAX_PORTS] = {nullptr, nullptr, nullptr, nullptr};
_PORT_OUTPUT* g_pSharedRegsOut[EPP_MAX_PORTS] = {nullptr, nullptr, nullptr, nullptr};
BOOLEAN g_bInterruptsEnabled = FALSE;
BOOLEAN g_bReverseChecked = FALSE;
BOOLEAN g_bReverseMode = FALSE;
// Where the device's address pointer stands, as far as the host's own transfers moved it.
UCHAR g_ucAddress = 0;

// Guards everything above and every exchange on the port: the node, the mode word and the
// device's address pointer are one for the whole process, so two threads' requests must
// never interleave. Never destroyed: the servo thread may still wait on the port while the
// process exits.
CKinetorMutex& EPPLock()
{
    static CKinetorMutex* s_pMutex = new CKinetorMutex(false);
    return *s_pMutex;
}

CDeviceNodes* Nodes()
{
    return GetDeviceNodes();
}

// ---- register primitives: no-ops while the node is closed; failing requests are
// reported and the transfer carries on ----

void SetMode(int nMode)
{
    if (Nodes()->Ioctl(epp_fd, PPSETMODE, &nMode) < 0)
        perror("PPSETMODE");
}

void epp_write_addr(UCHAR b)
{
    if (epp_fd < 0)
        return;
    SetMode(mode | IEEE1284_ADDR);
    Nodes()->Write(epp_fd, &b, 1);
    g_ucAddress = b;
}

ssize_t epp_read_data(void* pBuffer, size_t n)
{
    if (epp_fd < 0)
        return 0;
    SetMode(mode);
    ssize_t nRead = Nodes()->Read(epp_fd, pBuffer, n);
    g_ucAddress = (UCHAR)(g_ucAddress + n);
    return nRead;
}

ssize_t epp_write_data(const void* pBuffer, size_t n)
{
    if (epp_fd < 0)
        return 0;
    SetMode(mode);
    ssize_t nWritten = Nodes()->Write(epp_fd, pBuffer, n);
    g_ucAddress = (UCHAR)(g_ucAddress + n);
    return nWritten;
}

UCHAR epp_read_control()
{
    unsigned char uc = 0;
    if (epp_fd < 0)
        return 0;
    if (Nodes()->Ioctl(epp_fd, PPRCONTROL, &uc) < 0)
        perror("PPRCONTROL");
    return uc;
}

void epp_write_control(UCHAR b)
{
    unsigned char uc = b;
    if (epp_fd < 0)
        return;
    if (Nodes()->Ioctl(epp_fd, PPWCONTROL, &uc) < 0)
        perror("PPWCONTROL");
}

void epp_frob_control(UCHAR ucMask, UCHAR ucVal)
{
    struct ppdev_frob_struct frob;
    if (epp_fd < 0)
        return;
    frob.mask = ucMask;
    frob.val = ucVal;
    if (Nodes()->Ioctl(epp_fd, PPFCONTROL, &frob) < 0)
        perror("PPFCONTROL");
}

// PPDATADIR: 1 turns the data lines to input, 0 back to output.
BOOLEAN epp_data_dir(int nReverse)
{
    if (epp_fd < 0)
        return TRUE;
    if (Nodes()->Ioctl(epp_fd, PPDATADIR, &nReverse) < 0) {
        perror("PPDATADIR");
        return FALSE;
    }
    return TRUE;
}

UCHAR getPortIndex(ULONG nBaseAddr)
{
    for (int i = 0; i < EPP_MAX_PORTS; i++) {
        if (g_aPortAddr[i] == nBaseAddr)
            return (UCHAR)i;
    }
    for (int i = 0; i < EPP_MAX_PORTS; i++) {
        if (g_aPortAddr[i] == 0) {
            g_aPortAddr[i] = nBaseAddr;
            return (UCHAR)i;
        }
    }
    return EPP_NO_PORT_INDEX;
}

BOOLEAN ContainsEPP(const char* psz)
{
    for (const char* p = psz; p[0] && p[1] && p[2]; p++) {
        if ((p[0] == 'e' || p[0] == 'E') && (p[1] == 'p' || p[1] == 'P') && (p[2] == 'p' || p[2] == 'P'))
            return TRUE;
    }
    return FALSE;
}

BOOLEAN is_epp_mode_available()
{
    char szModes[1024];
    int fd = Nodes()->Open(epp_modes_path, O_RDONLY);
    if (fd < 0)
        return FALSE;
    ssize_t n = Nodes()->Read(fd, szModes, sizeof(szModes) - 1);
    if (n < 0)
        n = 0;
    if (n > (ssize_t)(sizeof(szModes) - 1))
        n = (ssize_t)(sizeof(szModes) - 1);
    szModes[n] = '\0';
    Nodes()->Close(fd);
    return ContainsEPP(szModes);
}

void IO_CLOSE()
{
    if (epp_fd < 0 || open_cnt <= 0)
        return;
    open_cnt--;
    if (open_cnt > 0)
        return;
    int nCompat = IEEE1284_MODE_COMPAT;
    if (Nodes()->Ioctl(epp_fd, PPSETMODE, &nCompat) < 0)
        perror("PPSETMODE");
    mode = 0;
    if (Nodes()->Ioctl(epp_fd, PPRELEASE, nullptr) < 0)
        perror("PPRELEASE");
    if (Nodes()->Close(epp_fd) < 0)
        perror("close");
    epp_fd = -1;
}

BOOLEAN IO_OPEN()
{
    if (open_cnt > 0) {
        open_cnt++;
        return TRUE;
    }
    if (!Nodes()->Exists(kEPPNode)) {
        perror("KDD Error: /dev/kinepp: ");
        return FALSE;
    }
    int fd = Nodes()->Open(kEPPNode, O_RDWR);
    if (fd < 0) {
        perror("KDD Error: accessing parallel port");
        return FALSE;
    }
    epp_fd = fd;
    open_cnt++;
    if (!is_epp_mode_available())
        fprintf(stderr, "\n** WARNING: EPP mode not detected in %s **\n\n", epp_modes_path);

    int nMode = mode;
    const char* pszFailed = nullptr;
    if (Nodes()->Ioctl(epp_fd, PPCLAIM, nullptr) < 0)
        pszFailed = "PPCLAIM";
    else if (Nodes()->Ioctl(epp_fd, PPSETMODE, &nMode) < 0)
        pszFailed = "PPSETMODE";
    else if (Nodes()->Ioctl(epp_fd, PPNEGOT, &nMode) < 0)
        pszFailed = "PPNEGOT";
    if (pszFailed) {
        perror(pszFailed);
        IO_CLOSE();
        return FALSE;
    }
    return TRUE;
}

}  // namespace

CEPPConnection::CEPPConnection(ULONG nUnit, ULONG nBaseAddr, PP_PORTMODE nPortMode)
    : CBlockConnection(4, nUnit),
      m_nBaseAddr(nBaseAddr),
      m_nPortMode(nPortMode),
      m_nPortIndex(getPortIndex(nBaseAddr)),
      m_bNodeHeld(FALSE)
{
    m_nUpdateRate = 1000;
    m_bLEDOverride = FALSE;
}

CEPPConnection::~CEPPConnection()
{
    EnableInterrupts(FALSE);
    if (m_nChannel == 0 && m_nPortIndex < EPP_MAX_PORTS) {
        // Only our own blocks are withdrawn; a later channel-0 connection may have replaced them.
        if (g_pSharedRegsIn[m_nPortIndex] == &m_regsIn)
            g_pSharedRegsIn[m_nPortIndex] = nullptr;
        if (g_pSharedRegsOut[m_nPortIndex] == &m_regsOut)
            g_pSharedRegsOut[m_nPortIndex] = nullptr;
    }
    CloseNode();
}

void CEPPConnection::CloseNode()
{
    if (!m_bNodeHeld)
        return;
    m_bNodeHeld = FALSE;
    IO_CLOSE();
}

int CEPPConnection::AllocateConnection(int nChannel)
{
    int nResult = CBlockConnection::AllocateConnection(nChannel);
    if (nResult < 0)
        return nResult;
    SetHardwareTimerFlags(TRUE);
    if (m_nPortMode == PM_EPP)
        mode |= IEEE1284_MODE_EPP;
    else if (m_nPortMode == PM_ECP)
        mode |= IEEE1284_MODE_ECP | IEEE1284_MODE_EPP;
    if (!m_bNodeHeld) {
        if (!IO_OPEN())
            return -11;
        m_bNodeHeld = TRUE;
    }
    if (m_nChannel == 0 && m_nPortIndex < EPP_MAX_PORTS) {
        g_pSharedRegsIn[m_nPortIndex] = &m_regsIn;
        g_pSharedRegsOut[m_nPortIndex] = &m_regsOut;
    }
    epp_write_control((UCHAR)(epp_read_control() & 0xD0));
    // A connection that cannot talk gives the node back at once, so that the port is
    // released when nobody else uses it.
    if (m_nPortMode == PM_UNSUPPORTED) {
        CloseNode();
        return -19;
    }
    if (!PortTalkTest()) {
        CloseNode();
        return -19;
    }
    return 1;
}

int CEPPConnection::DeleteConnection()
{
    CBlockConnection::DeleteConnection();
    // The last user stops the tick and sends zero torque while the port is still open.
    if (m_bNodeHeld && open_cnt == 1)
        EnableInterrupts(FALSE);
    CloseNode();
    return 1;
}

BOOLEAN CEPPConnection::PortTalkTest()
{
    UCHAR ucSaved = epp_read_control();
    UCHAR ucOne = 1;
    epp_write_addr(kAddrWatchdogOut);
    epp_write_data(&ucOne, 1);

    UCHAR ucByte = 0;
    epp_write_addr(kAddrWatchdogIn);
    epp_write_control((UCHAR)(ucSaved & ~0x01));
    epp_read_data(&ucByte, 1);
    epp_write_control(ucSaved);
    if (ucByte == 1) {
        LOGV("TID(%X, %d) EPP talk test passed (method 1)\n", (unsigned)pthread_self(), (int)getpid());
        return TRUE;
    }

    ucByte = 0;
    epp_write_addr(kAddrWatchdogIn);
    if (!epp_data_dir(1)) {
        CloseNode();
        return FALSE;
    }
    epp_read_data(&ucByte, 1);
    if (!epp_data_dir(0)) {
        CloseNode();
        return FALSE;
    }
    if (ucByte == 1) {
        LOGV("TID(%X, %d) EPP talk test passed (method 2)\n", (unsigned)pthread_self(), (int)getpid());
        return TRUE;
    }
    epp_write_control((UCHAR)(ucSaved | 0x01));
    return FALSE;
}

BOOLEAN CEPPConnection::ReadBlock(_PORT_INPUT* pBuffer, int nLen, BOOLEAN bReverse)
{
    if (!pBuffer || nLen < 0 || nLen > (int)sizeof(_PORT_INPUT))
        return FALSE;
    if (bReverse && !epp_data_dir(1)) {
        CloseNode();
        return FALSE;
    }
    ssize_t nRead = epp_read_data(pBuffer, (size_t)nLen);
    if (bReverse && !epp_data_dir(0)) {
        CloseNode();
        return FALSE;
    }
    // A block that did not arrive whole is no reading of the device.
    return nRead == nLen ? TRUE : FALSE;
}

BOOLEAN CEPPConnection::WriteBlock(_PORT_OUTPUT* pBuffer, int nLen)
{
    if (!pBuffer || nLen < 0 || nLen > (int)sizeof(_PORT_OUTPUT))
        return FALSE;
    ssize_t nWritten = epp_write_data(pBuffer, (size_t)nLen);
    return nWritten == nLen ? TRUE : FALSE;
}

BOOLEAN CEPPConnection::ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut)
{
    _PORT_INPUT normal;
    _PORT_INPUT reverse;
    UCHAR ucExpected = 0;
    if (!g_bReverseChecked) {
        memset(&normal, 0, sizeof(normal));
        memset(&reverse, 0, sizeof(reverse));
        epp_write_addr(kAddrInputBlock);
        ReadBlock(&normal, sizeof(normal), FALSE);
        epp_write_addr(kAddrInputBlock);
        ReadBlock(&reverse, sizeof(reverse), TRUE);
        ucExpected = (UCHAR)(normal.ucWatchdogCntrIn + 1);
        epp_write_addr(kAddrWatchdogOut);
        epp_write_data(&ucExpected, 1);
        epp_write_addr(kAddrInputBlock);
    }
    for (;;) {
        if (!ReadBlock(pRegsIn, sizeof(_PORT_INPUT), g_bReverseMode)) {
            m_bCantCommunicate = TRUE;
            return FALSE;
        }
        if (g_bReverseChecked)
            break;
        if (pRegsIn->ucWatchdogCntrIn == ucExpected) {
            pRegsIn->ucWatchdogCntrIn =
                g_bReverseMode ? reverse.ucWatchdogCntrIn : normal.ucWatchdogCntrIn;
            g_bReverseChecked = TRUE;
            break;
        }
        if (!g_bReverseMode) {
            ucExpected = (UCHAR)(reverse.ucWatchdogCntrIn + 1);
            epp_write_addr(kAddrWatchdogOut);
            epp_write_data(&ucExpected, 1);
            g_bReverseMode = TRUE;
            // The echo write moved the address pointer on; the block is read from its start.
            epp_write_addr(kAddrInputBlock);
            continue;
        }
        pRegsIn->ucWatchdogCntrIn = reverse.ucWatchdogCntrIn;
        m_bCantCommunicate = TRUE;
        g_bReverseChecked = TRUE;
        break;
    }
    // The talk test of a recovering connection moves the address pointer; the output block
    // that follows must still land on its own registers.
    UCHAR ucAddress = g_ucAddress;
    BOOLEAN bResult = CBlockConnection::ReadKinetorData(pRegsIn, pRegsOut);
    if (g_ucAddress != ucAddress)
        epp_write_addr(ucAddress);
    return bResult;
}

BOOLEAN CEPPConnection::WriteKinetorData(_PORT_OUTPUT* pRegsOut)
{
    if (!WriteBlock(pRegsOut, sizeof(_PORT_OUTPUT))) {
        m_bCantCommunicate = TRUE;
        return FALSE;
    }
    return TRUE;
}

BOOLEAN CEPPConnection::ReadWriteKinetorData(BOOLEAN bFlushOnly)
{
    epp_write_addr(kAddrInputBlock);
    if (m_nChannel == 1 && m_nPortIndex < EPP_MAX_PORTS && g_pSharedRegsIn[m_nPortIndex] &&
        g_pSharedRegsOut[m_nPortIndex] && g_pSharedRegsIn[m_nPortIndex] != &m_regsIn) {
        _PORT_INPUT* pSharedIn = g_pSharedRegsIn[m_nPortIndex];
        _PORT_OUTPUT* pSharedOut = g_pSharedRegsOut[m_nPortIndex];
        ReadKinetorData(pSharedIn, pSharedOut);
        if (CommunicationError())
            return FALSE;
        if (!WriteKinetorData(pSharedOut))
            return FALSE;
    }
    ReadKinetorData(&m_regsIn, &m_regsOut);
    if (CommunicationError())
        return FALSE;
    if (!WriteKinetorData(&m_regsOut))
        return FALSE;
    CBlockConnection::ReadWriteKinetorData(bFlushOnly);
    return TRUE;
}

void CEPPConnection::ManageWatchdog(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut)
{
    if (pRegsOut->ucWatchdogCntrOut != pRegsIn->ucWatchdogCntrIn) {
        if (m_nWatchdogErrors > 5)
            m_bCantCommunicate = TRUE;
        if (m_nWatchdogErrors < INT_MAX)
            m_nWatchdogErrors++;
    } else {
        m_nWatchdogErrors = 0;
    }
    pRegsOut->ucWatchdogCntrOut = (UCHAR)(pRegsIn->ucWatchdogCntrIn + 1);
}

void CEPPConnection::ResetCommunicationErrors()
{
    m_nWatchdogErrors = 0;
    m_bCantCommunicate = FALSE;
}

BOOLEAN CEPPConnection::CommunicationError()
{
    return m_bCantCommunicate ? TRUE : FALSE;
}

void CEPPConnection::SetHardwareTimerFlags(BOOLEAN bEnable)
{
    if (bEnable)
        m_regsOut.ucMiscOut |= BLOCK_MISCOUT_TIMER;
    else
        m_regsOut.ucMiscOut &= (UCHAR)~BLOCK_MISCOUT_TIMER;
    if (m_nUpdateRate == 1000)
        m_regsOut.ucMiscOut &= (UCHAR)~BLOCK_MISCOUT_RATE_2000;
    else if (m_nUpdateRate == 2000)
        m_regsOut.ucMiscOut |= BLOCK_MISCOUT_RATE_2000;
}

BOOLEAN CEPPConnection::IsSupportedUpdateRate(ULONG nUpdateRate)
{
    return (nUpdateRate == 500 || nUpdateRate == 1000 || nUpdateRate == 2000) ? TRUE : FALSE;
}

int CEPPConnection::SetKinetorUpdateRate(ULONG nUpdateRate)
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

BOOLEAN CEPPConnection::EnableInterrupts(BOOLEAN bEnable)
{
    if ((g_bInterruptsEnabled ? TRUE : FALSE) == (bEnable ? TRUE : FALSE))
        return TRUE;
    if (bEnable) {
        SetHardwareTimerFlags(TRUE);
        epp_frob_control(0x10, 0x10);
    } else {
        epp_frob_control(0x10, 0);
        SetHardwareTimerFlags(FALSE);
    }
    for (int i = 0; i < 3; i++)
        *m_pDToAs[i] = BLOCK_DAC_ZERO;
    g_bInterruptsEnabled = bEnable ? TRUE : FALSE;
    return ReadWriteKinetorData(TRUE);
}

CKinetorMutex& CEPPConnection::PortLock()
{
    return EPPLock();
}

// The register steps before and after the wait hold the port lock; the wait itself does
// not, so that the application's threads can talk to the port while the tick is pending.
void CEPPConnection::Await()
{
    int nCount = 0;
    int fd;
    int nCleared;
    {
        CKinetorLock lock(EPPLock());
        EnableInterrupts(TRUE);
        fd = epp_fd;
        nCleared = Nodes()->Ioctl(fd, PPCLRIRQ, &nCount);
    }
    if (nCleared < 0) {
        perror("An EPP connection error occurred: ioctl PPCLRIRQ - ");
        exit(-1);
    }
    if (nCount != 0)
        return;

    const int nReady = PollForInput(Nodes(), fd, kInterruptTimeoutMs, nullptr);
    if (nReady == 0) {
        fputs("The EPP connection timedout, exiting...", stderr);
        exit(-1);
    }
    if (nReady < 0) {
        perror("An EPP connection error occurred: poll ");
        exit(-1);
    }
    {
        CKinetorLock lock(EPPLock());
        nCleared = Nodes()->Ioctl(fd, PPCLRIRQ, &nCount);
    }
    if (nCleared < 0) {
        perror("An EPP connection error occurred: ioctl PPCLRIRQ ");
        exit(-1);
    }
}

CKinetorMutex& EPPPortLock()
{
    return EPPLock();
}

void ResetEPPProcessState()
{
    if (epp_fd >= 0) {
        open_cnt = 1;
        IO_CLOSE();
    }
    epp_fd = -1;
    mode = 0;
    open_cnt = 0;
    for (int i = 0; i < EPP_MAX_PORTS; i++) {
        g_aPortAddr[i] = 0;
        g_pSharedRegsIn[i] = nullptr;
        g_pSharedRegsOut[i] = nullptr;
    }
    g_bInterruptsEnabled = FALSE;
    g_bReverseChecked = FALSE;
    g_bReverseMode = FALSE;
    g_ucAddress = 0;
}

int GetEPPOpenCount()
{
    return open_cnt;
}

int GetEPPModeWord()
{
    return mode;
}
