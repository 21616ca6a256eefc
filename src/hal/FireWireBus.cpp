#include "hal/FireWireBus.h"

#include <errno.h>

#include <atomic>

#include "hal/DeviceNodes.h"
#include "sim/SimDeviceNodes.h"
#include "sim/SimFireWireBus.h"

const char* CRealFireWireBus::GetLibVersion()
{
    return raw1394_get_libversion();
}

raw1394handle_t CRealFireWireBus::NewHandle()
{
    return raw1394_new_handle();
}

raw1394handle_t CRealFireWireBus::NewHandleOnPort(int nPort)
{
    return raw1394_new_handle_on_port(nPort);
}

void CRealFireWireBus::DestroyHandle(raw1394handle_t h)
{
    if (h)
        raw1394_destroy_handle(h);
}

int CRealFireWireBus::GetPortInfo(raw1394handle_t h, struct raw1394_portinfo* pInfo, int nMaxPorts)
{
    return raw1394_get_port_info(h, pInfo, nMaxPorts);
}

int CRealFireWireBus::SetPort(raw1394handle_t h, int nPort)
{
    return raw1394_set_port(h, nPort);
}

int CRealFireWireBus::GetNodeCount(raw1394handle_t h)
{
    return raw1394_get_nodecount(h);
}

int CRealFireWireBus::GetFd(raw1394handle_t h)
{
    return raw1394_get_fd(h);
}

void CRealFireWireBus::SetUserData(raw1394handle_t h, void* pData)
{
    raw1394_set_userdata(h, pData);
}

void* CRealFireWireBus::GetUserData(raw1394handle_t h)
{
    return raw1394_get_userdata(h);
}

int CRealFireWireBus::Read(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t nLength, quadlet_t* pBuffer)
{
    return raw1394_read(h, node, addr, nLength, pBuffer);
}

int CRealFireWireBus::Write(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t nLength, quadlet_t* pData)
{
    return raw1394_write(h, node, addr, nLength, pData);
}

int CRealFireWireBus::IsoRecvInit(raw1394handle_t h, raw1394_iso_recv_handler_t pfnHandler,
                                  unsigned int nBufPackets, unsigned int nMaxPacketSize, unsigned char ucChannel,
                                  enum raw1394_iso_dma_recv_mode nMode, int nIrqInterval)
{
    return raw1394_iso_recv_init(h, pfnHandler, nBufPackets, nMaxPacketSize, ucChannel, nMode, nIrqInterval);
}

int CRealFireWireBus::IsoRecvStart(raw1394handle_t h, int nStartOnCycle, int nTagMask, int nSync)
{
    return raw1394_iso_recv_start(h, nStartOnCycle, nTagMask, nSync);
}

int CRealFireWireBus::IsoXmitInit(raw1394handle_t h, raw1394_iso_xmit_handler_t pfnHandler,
                                  unsigned int nBufPackets, unsigned int nMaxPacketSize, unsigned char ucChannel,
                                  enum raw1394_iso_speed nSpeed, int nIrqInterval)
{
    return raw1394_iso_xmit_init(h, pfnHandler, nBufPackets, nMaxPacketSize, ucChannel, nSpeed, nIrqInterval);
}

int CRealFireWireBus::IsoXmitStart(raw1394handle_t h, int nStartOnCycle, int nPrebufferPackets)
{
    return raw1394_iso_xmit_start(h, nStartOnCycle, nPrebufferPackets);
}

int CRealFireWireBus::IsoXmitWrite(raw1394handle_t h, unsigned char* pData, unsigned int nLen,
                                   unsigned char ucTag, unsigned char ucSy)
{
    return raw1394_iso_xmit_write(h, pData, nLen, ucTag, ucSy);
}

void CRealFireWireBus::IsoShutdown(raw1394handle_t h)
{
    raw1394_iso_shutdown(h);
}

int CRealFireWireBus::LoopIterate(raw1394handle_t h)
{
    return raw1394_loop_iterate(h);
}

bus_reset_handler_t CRealFireWireBus::SetBusResetHandler(raw1394handle_t h, bus_reset_handler_t pfnHandler)
{
    return raw1394_set_bus_reset_handler(h, pfnHandler);
}

int CRealFireWireBus::UpdateGeneration(raw1394handle_t h, unsigned int nGeneration)
{
    raw1394_update_generation(h, nGeneration);
    return 0;
}

int CRealFireWireBus::Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs)
{
    return ::poll(pFds, nFds, nTimeoutMs);
}

namespace {

std::atomic<CFireWireBus*> g_pBusOverride(nullptr);

// Decided once, like the device nodes; the objects live as long as the process because a
// servo thread may still poll the bus while it exits.
CFireWireBus* ChosenBus()
{
    static CFireWireBus* s_pBus = IsSimulatorActive() ? static_cast<CFireWireBus*>(&SimFireWireBus())
                                                      : static_cast<CFireWireBus*>(new CRealFireWireBus());
    return s_pBus;
}

}  // namespace

CFireWireBus* GetFireWireBus()
{
    CFireWireBus* p = g_pBusOverride.load();
    if (p)
        return p;
    // SimActivate switches the device nodes at run time; the bus follows the same switch.
    if (GetDeviceNodes() == static_cast<CDeviceNodes*>(&SimDeviceNodes()))
        return &SimFireWireBus();
    return ChosenBus();
}

void OverrideFireWireBus(CFireWireBus* pBus)
{
    g_pBusOverride.store(pBus);
}
