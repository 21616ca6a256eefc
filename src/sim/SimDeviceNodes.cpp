#include "sim/SimDeviceNodes.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include <sys/ioctl.h>
#include <linux/ppdev.h>

#include <string>

#include "sim/SimHardware.h"
#include "sim/SimPCICard.h"

CSimDeviceNodes::CSimDeviceNodes() {}

void CSimDeviceNodes::Reset()
{
    std::lock_guard<std::recursive_mutex> lock(CSimHardware::Instance().Mutex());
    m_nodes.clear();
}

int CSimDeviceNodes::OpenPortCount()
{
    std::lock_guard<std::recursive_mutex> lock(CSimHardware::Instance().Mutex());
    int n = 0;
    for (const OPEN_NODE& node : m_nodes) {
        if (node.nKind == NODE_EPP_PORT)
            n++;
    }
    return n;
}

int CSimDeviceNodes::OpenCardCount(int nUnit)
{
    std::lock_guard<std::recursive_mutex> lock(CSimHardware::Instance().Mutex());
    int n = 0;
    for (const OPEN_NODE& node : m_nodes) {
        if (node.nKind == NODE_PCI_CARD && node.nUnit == nUnit)
            n++;
    }
    return n;
}

int CSimDeviceNodes::PCIUnitOf(const char* pszPath)
{
    for (int nUnit = 0; nUnit < SIM_PCI_UNITS; nUnit++) {
        char szNode[32];
        snprintf(szNode, sizeof(szNode), SIM_PCI_NODE_FORMAT, nUnit);
        if (strcmp(pszPath, szNode) == 0)
            return nUnit;
    }
    return -1;
}

CSimDeviceNodes::OPEN_NODE* CSimDeviceNodes::Lookup(int fd)
{
    if (fd < SIM_FIRST_FD)
        return nullptr;
    size_t nIndex = (size_t)(fd - SIM_FIRST_FD);
    if (nIndex >= m_nodes.size() || m_nodes[nIndex].nKind == NODE_FREE)
        return nullptr;
    return &m_nodes[nIndex];
}

BOOLEAN CSimDeviceNodes::Exists(const char* pszPath)
{
    CSimHardware& hw = CSimHardware::Instance();
    if (pszPath && (strcmp(pszPath, SIM_EPP_NODE) == 0 || strcmp(pszPath, SIM_EPP_MODES_NODE) == 0) &&
        hw.NodePresent(pszPath))
        return TRUE;
    int nUnit = pszPath ? PCIUnitOf(pszPath) : -1;
    if (nUnit >= 0 && hw.NodePresent(pszPath)) {
        std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
        if (OpenCardCount(nUnit) == 0) {
            hw.DeriveArms();
            hw.WirePCICard(nUnit);
        }
        if (hw.PCICard(nUnit)->HasArm())
            return TRUE;
    }
    errno = ENOENT;
    return FALSE;
}

int CSimDeviceNodes::Open(const char* pszPath, int nFlags)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    if (!pszPath) {
        errno = EFAULT;
        return -1;
    }
    NODE_KIND nKind;
    int nUnit = PCIUnitOf(pszPath);
    if (nUnit >= 0) {
        nKind = NODE_PCI_CARD;
    } else if (strcmp(pszPath, SIM_EPP_NODE) == 0) {
        nKind = NODE_EPP_PORT;
    } else if (strcmp(pszPath, SIM_EPP_MODES_NODE) == 0) {
        std::string strText;
        if (!hw.GetEPPModesText(strText)) {
            errno = ENOENT;
            return -1;
        }
        if ((nFlags & O_ACCMODE) != O_RDONLY) {
            errno = EACCES;
            return -1;
        }
        nKind = NODE_EPP_MODES;
    } else {
        errno = ENOENT;
        return -1;
    }
    if (!hw.NodePresent(pszPath)) {
        errno = ENOENT;
        return -1;
    }
    if (hw.ShouldFail("open"))
        return -1;
    if (nKind == NODE_EPP_PORT && OpenPortCount() == 0) {
        // The first opening of the port is when the process meets the attached hardware.
        hw.DeriveArms();
        hw.WireEPPPort();
    }
    if (nKind == NODE_PCI_CARD) {
        if (OpenCardCount(nUnit) == 0) {
            hw.DeriveArms();
            hw.WirePCICard(nUnit);
        }
        // No card in that slot: the driver made no node for it.
        if (!hw.PCICard(nUnit)->HasArm()) {
            errno = ENOENT;
            return -1;
        }
    }
    OPEN_NODE node;
    node.nKind = nKind;
    node.nUnit = nUnit;
    node.nFlags = nFlags;
    node.nOffset = 0;
    for (size_t i = 0; i < m_nodes.size(); i++) {
        if (m_nodes[i].nKind == NODE_FREE) {
            m_nodes[i] = node;
            return SIM_FIRST_FD + (int)i;
        }
    }
    if (m_nodes.size() >= 1024) {
        errno = EMFILE;
        return -1;
    }
    m_nodes.push_back(node);
    return SIM_FIRST_FD + (int)(m_nodes.size() - 1);
}

int CSimDeviceNodes::Close(int fd)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    OPEN_NODE* pNode = Lookup(fd);
    if (!pNode) {
        errno = EBADF;
        return -1;
    }
    NODE_KIND nKind = pNode->nKind;
    pNode->nKind = NODE_FREE;
    // Closing the last descriptor gives the port back, as the kernel does.
    if (nKind == NODE_EPP_PORT && OpenPortCount() == 0 && hw.EPPPort().IsClaimed())
        hw.EPPPort().Release();
    return 0;
}

int CSimDeviceNodes::Ioctl(int fd, unsigned long nRequest, void* pArg)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    OPEN_NODE* pNode = Lookup(fd);
    if (!pNode) {
        errno = EBADF;
        return -1;
    }
    if (pNode->nKind == NODE_PCI_CARD) {
        const char* pszCardRequest = nullptr;
        switch (nRequest) {
        case SIM_KINPCI_READ_REGISTER: pszCardRequest = "KINPCI_READ_REGISTER"; break;
        case SIM_KINPCI_WRITE_REGISTER: pszCardRequest = "KINPCI_WRITE_REGISTER"; break;
        case SIM_KINPCI_READ_COUNTERS: pszCardRequest = "KINPCI_READ_COUNTERS"; break;
        case SIM_KINPCI_WRITE_DACS: pszCardRequest = "KINPCI_WRITE_DACS"; break;
        default: break;
        }
        if (pszCardRequest && hw.ShouldFail(pszCardRequest))
            return -1;
        hw.SpendBusTime(SIM_PCI_REQUEST_NS);
        return hw.PCICard(pNode->nUnit)->Request(nRequest, pArg, hw.NowNs());
    }
    if (pNode->nKind != NODE_EPP_PORT) {
        errno = ENOTTY;
        return -1;
    }
    CSimEPPPort& port = hw.EPPPort();
    const char* pszName = nullptr;
    switch (nRequest) {
    case PPCLAIM: pszName = "PPCLAIM"; break;
    case PPRELEASE: pszName = "PPRELEASE"; break;
    case PPSETMODE: pszName = "PPSETMODE"; break;
    case PPNEGOT: pszName = "PPNEGOT"; break;
    case PPRCONTROL: pszName = "PPRCONTROL"; break;
    case PPWCONTROL: pszName = "PPWCONTROL"; break;
    case PPFCONTROL: pszName = "PPFCONTROL"; break;
    case PPDATADIR: pszName = "PPDATADIR"; break;
    case PPCLRIRQ: pszName = "PPCLRIRQ"; break;
    default:
        errno = ENOTTY;
        return -1;
    }
    if (nRequest != PPCLAIM && nRequest != PPRELEASE && !pArg) {
        errno = EFAULT;
        return -1;
    }
    if (hw.ShouldFail(pszName))
        return -1;
    switch (nRequest) {
    case PPCLAIM:
        return port.Claim();
    case PPRELEASE:
        return port.Release();
    case PPSETMODE:
        return port.SetMode(*(int*)pArg);
    case PPNEGOT:
        return port.Negotiate(*(int*)pArg);
    case PPRCONTROL:
        hw.SpendBusTime(SIM_EPP_REQUEST_NS);
        return port.ReadControl((UCHAR*)pArg);
    case PPWCONTROL:
        hw.SpendBusTime(SIM_EPP_REQUEST_NS);
        return port.WriteControl(*(UCHAR*)pArg);
    case PPFCONTROL: {
        hw.SpendBusTime(SIM_EPP_REQUEST_NS);
        const struct ppdev_frob_struct* pFrob = (const struct ppdev_frob_struct*)pArg;
        return port.FrobControl(pFrob->mask, pFrob->val);
    }
    case PPDATADIR:
        return port.SetDataDir(*(int*)pArg);
    case PPCLRIRQ:
        hw.Sync();
        return port.ClearIrq((int*)pArg);
    default:
        errno = ENOTTY;
        return -1;
    }
}

ssize_t CSimDeviceNodes::Read(int fd, void* pBuffer, size_t nCount)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    OPEN_NODE* pNode = Lookup(fd);
    if (!pNode) {
        errno = EBADF;
        return -1;
    }
    if (!pBuffer && nCount > 0) {
        errno = EFAULT;
        return -1;
    }
    if (hw.ShouldFail("read"))
        return -1;
    if (pNode->nKind == NODE_PCI_CARD) {
        errno = EINVAL;
        return -1;
    }
    if (pNode->nKind == NODE_EPP_MODES) {
        std::string strText;
        hw.GetEPPModesText(strText);
        if (pNode->nOffset >= strText.size())
            return 0;
        size_t n = strText.size() - pNode->nOffset;
        if (n > nCount)
            n = nCount;
        memcpy(pBuffer, strText.data() + pNode->nOffset, n);
        pNode->nOffset += n;
        return (ssize_t)n;
    }
    hw.SpendBusTime(SIM_EPP_REQUEST_NS);
    return hw.EPPPort().Read((UCHAR*)pBuffer, nCount, hw.NowNs());
}

ssize_t CSimDeviceNodes::Write(int fd, const void* pBuffer, size_t nCount)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    OPEN_NODE* pNode = Lookup(fd);
    if (!pNode) {
        errno = EBADF;
        return -1;
    }
    if (pNode->nKind != NODE_EPP_PORT) {
        errno = EBADF;
        return -1;
    }
    if (!pBuffer && nCount > 0) {
        errno = EFAULT;
        return -1;
    }
    if (hw.ShouldFail("write"))
        return -1;
    hw.SpendBusTime(SIM_EPP_REQUEST_NS);
    return hw.EPPPort().Write((const UCHAR*)pBuffer, nCount, hw.NowNs());
}

int CSimDeviceNodes::Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs)
{
    CSimHardware& hw = CSimHardware::Instance();
    if (!pFds && nFds > 0) {
        errno = EFAULT;
        return -1;
    }
    if (hw.ShouldFail("poll"))
        return -1;
    BOOLEAN bWaitPort = FALSE;
    int nWaitCard = -1;
    {
        std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
        for (nfds_t i = 0; i < nFds; i++) {
            pFds[i].revents = 0;
            OPEN_NODE* pNode = Lookup(pFds[i].fd);
            if (!pNode)
                pFds[i].revents = POLLNVAL;
            else if (pNode->nKind == NODE_EPP_PORT && (pFds[i].events & POLLIN))
                bWaitPort = TRUE;
            else if (pNode->nKind == NODE_PCI_CARD && (pFds[i].events & POLLIN) && nWaitCard < 0)
                nWaitCard = pNode->nUnit;
            else if (pNode->nKind == NODE_EPP_MODES)
                pFds[i].revents = (short)(pFds[i].events & POLLIN);
        }
        int nReady = 0;
        for (nfds_t i = 0; i < nFds; i++) {
            if (pFds[i].revents)
                nReady++;
        }
        BOOLEAN bMustWait = (nReady == 0 && (bWaitPort || nWaitCard >= 0)) ? TRUE : FALSE;
        if (!bMustWait) {
            if (nReady == 0 && nTimeoutMs != 0)
                hw.SpendBusTime((int64_t)(nTimeoutMs < 0 ? 0 : nTimeoutMs) * 1000000LL);
            return nReady;
        }
    }
    if (nWaitCard >= 0) {
        // The card is ready once per tick; reporting it uses the tick up.
        if (!hw.WaitForPCITick(nWaitCard, nTimeoutMs))
            return 0;
        std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
        hw.PCICard(nWaitCard)->ConsumeTicks();
        int nReady = 0;
        for (nfds_t i = 0; i < nFds; i++) {
            OPEN_NODE* pNode = Lookup(pFds[i].fd);
            if (pNode && pNode->nKind == NODE_PCI_CARD && pNode->nUnit == nWaitCard &&
                (pFds[i].events & POLLIN)) {
                pFds[i].revents = POLLIN;
                nReady++;
            }
        }
        return nReady;
    }
    // The lock is not held while waiting: other threads keep using the hardware.
    BOOLEAN bInterrupt = hw.WaitForEPPInterrupt(nTimeoutMs);
    if (!bInterrupt)
        return 0;
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    int nReady = 0;
    for (nfds_t i = 0; i < nFds; i++) {
        OPEN_NODE* pNode = Lookup(pFds[i].fd);
        if (pNode && pNode->nKind == NODE_EPP_PORT && (pFds[i].events & POLLIN)) {
            pFds[i].revents = POLLIN;
            nReady++;
        }
    }
    return nReady;
}

CSimDeviceNodes& SimDeviceNodes()
{
    static CSimDeviceNodes* s_pNodes = new CSimDeviceNodes();
    return *s_pNodes;
}

CDeviceNodes* GetSimDeviceNodes(const char* pszOptions)
{
    SIM_OPTIONS options;
    char szBad[64];
    if (!SimParseOptions(pszOptions, &options, szBad, sizeof(szBad)))
        fprintf(stderr, "KINETOR_SIMULATOR: option \"%s\" not understood, ignored\n", szBad);
    CSimHardware::Instance().Configure(options);
    return &SimDeviceNodes();
}
