// The one way the FireWire transport and the firmware library reach the FireWire bus. The
// calls mirror the libraw1394 ones they stand for, with the same types, arguments and
// results (-1 with errno set on failure), so the code above reads as if it called the
// library directly. Handles are libraw1394 handles on the real bus and the simulator's own
// objects behind the same pointer type on the simulated one; they are only ever passed back.
#ifndef FIREWIRE_BUS_H
#define FIREWIRE_BUS_H

#include <poll.h>
#include <stddef.h>

#include <libraw1394/raw1394.h>

class CFireWireBus {
public:
    virtual ~CFireWireBus() {}

    virtual const char* GetLibVersion() = 0;
    virtual raw1394handle_t NewHandle() = 0;
    virtual raw1394handle_t NewHandleOnPort(int nPort) = 0;
    virtual void DestroyHandle(raw1394handle_t h) = 0;
    virtual int GetPortInfo(raw1394handle_t h, struct raw1394_portinfo* pInfo, int nMaxPorts) = 0;
    virtual int SetPort(raw1394handle_t h, int nPort) = 0;
    virtual int GetNodeCount(raw1394handle_t h) = 0;
    virtual int GetFd(raw1394handle_t h) = 0;
    virtual void SetUserData(raw1394handle_t h, void* pData) = 0;
    virtual void* GetUserData(raw1394handle_t h) = 0;
    virtual int Read(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t nLength, quadlet_t* pBuffer) = 0;
    virtual int Write(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t nLength, quadlet_t* pData) = 0;
    virtual int IsoRecvInit(raw1394handle_t h, raw1394_iso_recv_handler_t pfnHandler, unsigned int nBufPackets,
                            unsigned int nMaxPacketSize, unsigned char ucChannel,
                            enum raw1394_iso_dma_recv_mode nMode, int nIrqInterval) = 0;
    virtual int IsoRecvStart(raw1394handle_t h, int nStartOnCycle, int nTagMask, int nSync) = 0;
    virtual int IsoXmitInit(raw1394handle_t h, raw1394_iso_xmit_handler_t pfnHandler, unsigned int nBufPackets,
                            unsigned int nMaxPacketSize, unsigned char ucChannel, enum raw1394_iso_speed nSpeed,
                            int nIrqInterval) = 0;
    virtual int IsoXmitStart(raw1394handle_t h, int nStartOnCycle, int nPrebufferPackets) = 0;
    virtual int IsoXmitWrite(raw1394handle_t h, unsigned char* pData, unsigned int nLen, unsigned char ucTag,
                             unsigned char ucSy) = 0;
    virtual void IsoShutdown(raw1394handle_t h) = 0;
    virtual int LoopIterate(raw1394handle_t h) = 0;
    virtual bus_reset_handler_t SetBusResetHandler(raw1394handle_t h, bus_reset_handler_t pfnHandler) = 0;
    virtual int UpdateGeneration(raw1394handle_t h, unsigned int nGeneration) = 0;
    // poll on descriptors of handles (GetFd).
    virtual int Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs) = 0;
};

// Thin pass-through to the linked libraw1394.
class CRealFireWireBus : public CFireWireBus {
public:
    const char* GetLibVersion() override;
    raw1394handle_t NewHandle() override;
    raw1394handle_t NewHandleOnPort(int nPort) override;
    void DestroyHandle(raw1394handle_t h) override;
    int GetPortInfo(raw1394handle_t h, struct raw1394_portinfo* pInfo, int nMaxPorts) override;
    int SetPort(raw1394handle_t h, int nPort) override;
    int GetNodeCount(raw1394handle_t h) override;
    int GetFd(raw1394handle_t h) override;
    void SetUserData(raw1394handle_t h, void* pData) override;
    void* GetUserData(raw1394handle_t h) override;
    int Read(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t nLength, quadlet_t* pBuffer) override;
    int Write(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t nLength, quadlet_t* pData) override;
    int IsoRecvInit(raw1394handle_t h, raw1394_iso_recv_handler_t pfnHandler, unsigned int nBufPackets,
                    unsigned int nMaxPacketSize, unsigned char ucChannel, enum raw1394_iso_dma_recv_mode nMode,
                    int nIrqInterval) override;
    int IsoRecvStart(raw1394handle_t h, int nStartOnCycle, int nTagMask, int nSync) override;
    int IsoXmitInit(raw1394handle_t h, raw1394_iso_xmit_handler_t pfnHandler, unsigned int nBufPackets,
                    unsigned int nMaxPacketSize, unsigned char ucChannel, enum raw1394_iso_speed nSpeed,
                    int nIrqInterval) override;
    int IsoXmitStart(raw1394handle_t h, int nStartOnCycle, int nPrebufferPackets) override;
    int IsoXmitWrite(raw1394handle_t h, unsigned char* pData, unsigned int nLen, unsigned char ucTag,
                     unsigned char ucSy) override;
    void IsoShutdown(raw1394handle_t h) override;
    int LoopIterate(raw1394handle_t h) override;
    bus_reset_handler_t SetBusResetHandler(raw1394handle_t h, bus_reset_handler_t pfnHandler) override;
    int UpdateGeneration(raw1394handle_t h, unsigned int nGeneration) override;
    int Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs) override;
};

// The process's FireWire bus: the simulated one when KINETOR_SIMULATOR asks for the
// simulator (the same decision as for the device nodes), else the real one. Never null.
CFireWireBus* GetFireWireBus();

// Test seam, not for applications: makes the process use pBus from now on (null goes back
// to the choice made from the environment). The object stays owned by the caller.
void OverrideFireWireBus(CFireWireBus* pBus);

#endif
