// The FireWire transport of one unit. CKinetor1394Connection owns the libraw1394 handles,
// the channel numbers, the receive buffer and the process-wide serial-number table; the
// configuration store also constructs it on its own, without a servo loop, to read the
// serial numbers of the attached boards. C1394Connection is the block connection the device
// model sees; it turns the block operations into calls on its parent.
//
// The board paces the servo loop: each isochronous encoder packet it sends is a tick.
#ifndef KINETOR_1394_CONNECTION_H
#define KINETOR_1394_CONNECTION_H

#include <pthread.h>

#include "KinetorTypes.h"
#include "config/SerialNumber.h"
#include "connection/BlockConnection.h"
#include "hal/FireWireBus.h"
#include "transport/KernelDevice.h"

#define ENCODER_DATA_LENGTH 16
#define FORCE_DATA_LENGTH 8
#define MAX_ISOCH_CHANNEL 64
#define INVALID_1394_CHANNEL 64

#define kRegister_HostXmitChannel 0x1000
#define kRegister_DeviceXmitChannel 0x1001
#define kRegister_1394PacketSize 0x20010
#define kRegister_FrameBeaconRate 0x1087
#define kRegister_RawBeaconRate 0x1002
#define kRegister_FirmwareVersionLow 0x1083
#define kRegister_FirmwareVersionHigh 0x1082

#define kReceive_PacketsToBuffer 1000
#define kReceive_MaxPacketSize 64
#define kReceive_MaxLatencyOfWakeup 1
#define kReceive_DMAReceiveMode RAW1394_DMA_DEFAULT
#define kReceive_StartOnCycle (-1)
#define kTransmit_PacketsToBuffer 1000
#define kTransmit_MaxPacketSize 64
#define kTransmit_PacketSize 16
#define kTransmit_Speed RAW1394_ISO_SPEED_100
#define kTransmit_MaxLatencyOfWakeup 1
#define kTransmit_StartOnCycle (-1)
#define kTransmit_PrebufferPackets (-1)

// Consecutive 10 ms tick waits without a packet after which the process gives up.
#define KINETOR_1394_MAX_LATE_PACKETS 10

class CKinetor1394Connection;

class C1394Connection : public CBlockConnection {
public:
    C1394Connection(ULONG nUnit, CKinetor1394Connection* pParent);
    ~C1394Connection() override;

    int AllocateConnection(int nChannel) override;
    int DeleteConnection() override;
    int ReadDeviceFault() override;
    int ReadSwitch(int switchNum) override;
    int SubmitClient(BOOLEAN bSet) override;
    void Await() override;
    int SetKinetorUpdateRate(ULONG nUpdateRate) override;
    int GetHardwareRevNum() override;
    CKinetorMutex& PortLock() override;

    void ResetCommunicationErrors() override;
    BOOLEAN CommunicationError() override;
    BOOLEAN PortTalkTest() override;
    BOOLEAN ReadBlock(_PORT_INPUT* pBuffer, int nLen, BOOLEAN bReverse) override;
    BOOLEAN WriteBlock(_PORT_OUTPUT* pBuffer, int nLen) override;
    BOOLEAN ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) override;
    BOOLEAN WriteKinetorData(_PORT_OUTPUT* pRegsOut) override;
    BOOLEAN ReadWriteKinetorData(BOOLEAN bFlushOnly) override;
    void ManageWatchdog(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) override;

    BOOLEAN IsSupported1394FrameRate(ULONG nUpdateRate);

    ULONG GetUpdateRate() const { return m_nUpdateRate; }
    const _PORT_OUTPUT& GetOutputBlock() const { return m_regsOut; }
    const _PORT_INPUT& GetInputBlock() const { return m_regsIn; }

private:
    CKinetor1394Connection* m_pParent;
};

class CKinetor1394Connection : public CKernelDevice {
public:
    explicit CKinetor1394Connection(ULONG nUnit);
    virtual ~CKinetor1394Connection();

    // Register access on the asynchronous handle.
    BOOLEAN AsyncRead(void* pBuffer, ULONG nAddress, size_t nLength);
    BOOLEAN AsyncWrite(const void* pBuffer, ULONG nAddress, size_t nLength);
    BOOLEAN AsyncReadByte(UCHAR& ucByte, ULONG nAddress);
    BOOLEAN AsyncWriteByte(UCHAR ucValue, ULONG nAddress);

    BOOLEAN FindKinetorNode();
    UCHAR AcquireChannel();
    void ReleaseChannel(UCHAR ucChannel);
    BOOLEAN AcquireResources();
    BOOLEAN InformChannels();

    BOOLEAN DeviceOpen(ULONG nUnit);
    BOOLEAN DeviceClose();
    BOOLEAN DeviceEnable(BOOLEAN bEnable, ULONG nUpdateRate);
    BOOLEAN DevicePing();
    BOOLEAN DeviceReadData(void* pBuffer, int nLength);
    BOOLEAN DeviceWriteData(const void* pBuffer, int nLength);
    void Await();

    BOOLEAN StartHaptics(ULONG nUpdateRate);
    BOOLEAN StopHaptics();
    BOOLEAN TestBeaconRateSupport();
    // (byte at 0x1082) * 256 + (byte at 0x1083); 0 when a read fails.
    int ReadFirmwareVersion();
    BOOLEAN GetEncoderData(void* pBuffer, int nLength);
    BOOLEAN SendForceData(const void* pBuffer, int nLength);

    int LoadSerialNumber();
    void UnloadSerialNumber();
    // Copies the whole 64-entry serial-number table into pTable.
    void GetSerialNumberTable(SERIAL_NUMBER_TABLE* pTable);
    // Reloads this unit's configured serial number into the table; 0, or -1 when none.
    int InvalidateSerialNumberTable();
    int ReconcileDeviceSerialNumbers();

    // The lock of this connection's host port: every exchange with the board holds it.
    CKinetorMutex& PortLock();

    ULONG GetUnit() const { return m_nUnit; }
    int GetPort() const { return m_port; }
    int GetNodeId() const { return m_kinetor_nodeid; }
    UCHAR GetReceiveChannel() const { return m_recv_chan; }
    UCHAR GetTransmitChannel() const { return m_xmit_chan; }
    UCHAR GetAsyncChannel() const { return m_async_chan; }
    BOOLEAN HapticsStarted() const { return m_bHapticsStarted; }
    unsigned int GetLibrawVersion() const { return m_unLibrawVersion; }

    // For tests: the process-wide tables and counts as at process start.
    static void ResetProcessState();
    static int GetLatePacketCount();

private:
    static enum raw1394_iso_disposition ReceiveHandler(raw1394handle_t h, unsigned char* pData, unsigned int nLen,
                                                       unsigned char ucChannel, unsigned char ucTag,
                                                       unsigned char ucSy, unsigned int nCycle,
                                                       unsigned int nDropped);
    static int BusResetHandler(raw1394handle_t h, unsigned int nGeneration);
    void ReleaseChannels();
    CFireWireBus* Bus();

    pthread_mutex_t m_receiveBufferMutex;
    pthread_mutex_t m_transmitBufferMutex;
    raw1394handle_t m_xmit_handle;
    raw1394handle_t m_recv_handle;
    raw1394handle_t m_async_handle;
    int m_fw_recv_fd;
    int m_fw_xmit_fd;
    int m_kinetor_nodeid;
    int m_port;
    UCHAR m_recv_chan;
    UCHAR m_xmit_chan;
    UCHAR m_async_chan;
    BOOLEAN m_bHapticsStarted;
    ULONG m_nUpdateRate;
    ULONG m_nUnit;
    UCHAR m_abReceiveBuffer[ENCODER_DATA_LENGTH];
    unsigned int m_unLibrawVersion;
    BOOLEAN m_bMutexesInitialized;
    bus_reset_handler_t m_pfnOldRecvReset;
    bus_reset_handler_t m_pfnOldXmitReset;
    // The bus the handles came from (the simulator may be switched on and off by tests).
    CFireWireBus* m_pBus;

    static ULONG m_anSerialNumberTable[SERIAL_NUMBER_TABLE_SIZE];
    static BOOLEAN m_bTableInitialized;
    static bool m_anChannelAllocationTable[MAX_ISOCH_CHANNEL];
};

#endif
