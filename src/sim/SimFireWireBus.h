// The simulated FireWire bus: host ports, the nodes on them and one Kinetor interface board
// per configured serial number (or added by a test). A board answers asynchronous reads and
// writes at its register map, keeps its configuration ROM, firmware version and sixteen
// flash banks, and, while its frame beacon runs, sends one encoder packet per hardware tick
// on its transmit channel and takes the force packets the host sends on its receive channel.
// Handles and their descriptors are the simulator's own; nothing here touches the system.
//
// Every entry point takes the lock of the simulated hardware.
#ifndef SIM_FIREWIRE_BUS_H
#define SIM_FIREWIRE_BUS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "KinetorTypes.h"
#include "hal/FireWireBus.h"
#include "sim/SimArm.h"

#define SIM_1394_MAX_PORTS 4
#define SIM_1394_BANKS 16
#define SIM_1394_BANK_SIZE 0x10000
#define SIM_1394_GUID_HI 0x00A7E500UL
#define SIM_1394_PACKET_SIZE 32
#define SIM_1394_RING_PACKETS 1000
// First descriptor number of a handle; away from the device nodes' numbers and real ones.
#define SIM_1394_FIRST_FD 0x5B00
// Firmware version a board powers up with: new enough for the frame beacon.
#define SIM_1394_DEFAULT_FIRMWARE 190
// Bus time of one asynchronous request.
#define SIM_1394_REQUEST_NS 20000LL
// Bus time of one isochronous packet sent by the host.
#define SIM_1394_PACKET_NS 10000LL

// What a test can read of a board.
typedef struct _SIM_1394_BOARD_STATE {
    int nPort;
    int nNode;
    int nHostXmitChannel;       // register 0x1000: the board listens there
    int nDeviceXmitChannel;     // register 0x1001: the board sends there
    int nFrameBeacon;           // register 0x1087 (bus cycles per frame; 0 stopped)
    int nRawBeacon;             // register 0x1002
    uint32_t nPacketSize;       // register 0x20010
    int nFirmwareVersion;
    UCHAR ucBootConfig;
    int nJumpBank;              // last jump command, -1 none
    BOOLEAN bExtraWrites;
    ULONG nEncoderPackets;      // sent
    ULONG nForcePackets;        // received
    UCHAR aucLastForce[16];     // last force packet as received
    int nStatusLight;           // light code of the last force packet (ucMiscOut & 7)
} SIM_1394_BOARD_STATE;

class CSimFireWireBus : public CFireWireBus {
public:
    CSimFireWireBus();

    // ---- the bus interface ----
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

    // ---- the simulated hardware ----
    // Power-up: no boards, no handles, one host port.
    void Reset();
    // One hardware tick: every board whose beacon runs sends its encoder packet.
    void OnTick();
    // Period of the frames of the first board whose beacon runs; 0 when none runs.
    int64_t FramePeriodNs();

    // ---- test interface ----
    void SetPortCount(int nPorts);
    // Adds a board without an arm (or finds the one there is); returns FALSE on a bad port.
    BOOLEAN AddBoard(ULONG nSerial, int nPort);
    BOOLEAN SetBoardPort(ULONG nSerial, int nPort);
    BOOLEAN SetBoardPresent(ULONG nSerial, BOOLEAN bPresent);
    // The version the board runs: in its version registers and in the header of the
    // application image it runs from, where a loader reads it.
    BOOLEAN SetFirmwareVersion(ULONG nSerial, int nVersion);
    BOOLEAN InjectBadPackets(ULONG nSerial, int nPackets);
    BOOLEAN InjectLatePackets(ULONG nSerial, long nPackets);
    BOOLEAN SetRatiometric(ULONG nSerial, BOOLEAN bOn);
    BOOLEAN SetCommitFails(ULONG nSerial, BOOLEAN bFails);
    void BusReset(int nPort);
    BOOLEAN GetBoardState(ULONG nSerial, SIM_1394_BOARD_STATE* pState);
    BOOLEAN ReadFlash(ULONG nSerial, int nBank, uint32_t nOffset, UCHAR* pBuffer, size_t nCount);
    BOOLEAN PokeFlash(ULONG nSerial, int nBank, uint32_t nOffset, const UCHAR* pBuffer, size_t nCount);
    int OpenHandleCount();

private:
    struct BOARD {
        ULONG nSerial;
        int nPort;
        BOOLEAN bPresent;
        BOOLEAN bExplicit;
        int nFirmwareVersion;
        UCHAR aucRegs[0x100];       // 0x1000..0x10FF
        uint32_t nPacketSize;
        UCHAR ucBootConfig;
        BOOLEAN bRunningInRam;
        int nJumpBank;
        BOOLEAN bExtraWrites;
        std::vector<UCHAR> flash;
        UCHAR aucLiveRom[0x400];
        UCHAR ucFlashStatus;
        int nBusyPolls;
        int nRebootPolls;
        BOOLEAN bEraseArmed;
        BOOLEAN bCommitFails;
        BOOLEAN bRatiometric;
        int nBadPackets;
        long nLatePackets;
        UCHAR ucTimer;
        ULONG nEncoderPackets;
        ULONG nForcePackets;
        UCHAR aucLastForce[16];
    };
    enum ISO_MODE { ISO_NONE = 0, ISO_RECV, ISO_XMIT };
    struct HANDLE {
        int nId;
        int nPort;
        void* pUser;
        bus_reset_handler_t pfnReset;
        unsigned int nGeneration;
        BOOLEAN bResetPending;
        ISO_MODE nIso;
        BOOLEAN bIsoStarted;
        BOOLEAN bIsoStopped;    // the receive handler asked to stop
        unsigned char ucChannel;
        raw1394_iso_recv_handler_t pfnRecv;
        std::vector<UCHAR> ring;  // queued packets, SIM_1394_PACKET_SIZE each
        size_t nQueued;
        size_t nHead;
    };

    HANDLE* Lookup(raw1394handle_t h);
    HANDLE* LookupFd(int fd);
    BOARD* FindBoard(ULONG nSerial);
    // Runs fnChange on the board of a serial number under the simulator's lock; FALSE
    // when there is no such board.
    template <typename F>
    BOOLEAN WithBoard(ULONG nSerial, F fnChange);
    // Boards present on a port in node order; the host itself is the node after them.
    void NodesOnPort(int nPort, std::vector<BOARD*>& boards);
    BOARD* NodeBoard(int nPort, nodeid_t node);
    // Brings the board list up to the arms the configurations made.
    void SyncBoards();
    void PowerUp(BOARD& b);
    BOOLEAN ReadBoard(BOARD& b, nodeaddr_t addr, size_t nLength, UCHAR* p);
    BOOLEAN WriteBoard(BOARD& b, nodeaddr_t addr, size_t nLength, const UCHAR* p);
    void BuildPacket(BOARD& b, UCHAR* p);
    void TakeForcePacket(BOARD& b, const UCHAR* p, unsigned int nLen);
    BOOLEAN Ready(const HANDLE& hd) const;
    raw1394handle_t AsHandle(const HANDLE* p) const;
    HANDLE* NewHandleObject(int nPort);

    std::vector<BOARD> m_boards;
    std::vector<HANDLE*> m_handles;
    int m_nPorts;
    int m_nNextId;
    unsigned int m_nGeneration;
};

// The process's simulated bus (never destroyed).
CSimFireWireBus& SimFireWireBus();

#endif
