// The parallel-port transport: moves the input and output blocks between the host and an
// arm on a PC parallel port run in EPP mode, through the ppdev requests of "/dev/kinepp".
// The port's interrupt, raised by the device's own hardware timer, is the servo tick; a
// watchdog counter that the device echoes checks the link.
//
// The node, the mode word, the port table, the shared blocks, the interrupt state and the
// reverse-mode check are process-wide: every connection in the process (channel 0 and 1 on
// one port, the two halves of a double connection) shares them, under one port lock.
#ifndef EPP_CONNECTION_H
#define EPP_CONNECTION_H

#include "KinetorTypes.h"
#include "connection/BlockConnection.h"

typedef enum PP_PORTMODE {
    PM_EPP = 0,
    PM_ECP = 1,
    PM_UNSUPPORTED = 2
} PP_PORTMODE;

// Ports the process can tell apart.
#define EPP_MAX_PORTS 4
// Port index of a connection whose address found no room in the port table; such a
// connection shares no blocks.
#define EPP_NO_PORT_INDEX 0xFF

class CEPPConnection : public CBlockConnection {
public:
    CEPPConnection(ULONG nUnit, ULONG nBaseAddr, PP_PORTMODE nPortMode);
    ~CEPPConnection() override;

    int AllocateConnection(int nChannel) override;
    int DeleteConnection() override;
    void Await() override;
    CKinetorMutex& PortLock() override;
    int SetKinetorUpdateRate(ULONG nUpdateRate) override;
    void ResetCommunicationErrors() override;
    BOOLEAN CommunicationError() override;
    BOOLEAN PortTalkTest() override;
    BOOLEAN ReadBlock(_PORT_INPUT* pBuffer, int nLen, BOOLEAN bReverse) override;
    BOOLEAN WriteBlock(_PORT_OUTPUT* pBuffer, int nLen) override;
    BOOLEAN ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) override;
    BOOLEAN WriteKinetorData(_PORT_OUTPUT* pRegsOut) override;
    BOOLEAN ReadWriteKinetorData(BOOLEAN bFlushOnly) override;
    void ManageWatchdog(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) override;

    BOOLEAN IsSupportedUpdateRate(ULONG nUpdateRate);
    BOOLEAN EnableInterrupts(BOOLEAN bEnable);
    void SetHardwareTimerFlags(BOOLEAN bEnable);

    ULONG GetUpdateRate() const { return m_nUpdateRate; }
    UCHAR GetPortIndex() const { return m_nPortIndex; }
    ULONG GetBaseAddr() const { return m_nBaseAddr; }
    int GetWatchdogErrors() const { return m_nWatchdogErrors; }
    const _PORT_OUTPUT& GetOutputBlock() const { return m_regsOut; }
    const _PORT_INPUT& GetInputBlock() const { return m_regsIn; }

private:
    // Gives up this connection's use of the node, once.
    void CloseNode();

    ULONG m_nBaseAddr;
    PP_PORTMODE m_nPortMode;
    UCHAR m_nPortIndex;
    // This connection counts as a user of the open node (so that it is closed only once,
    // whichever path gives it up).
    BOOLEAN m_bNodeHeld;
};

// The one lock of the process-wide parallel-port state, the one CEPPConnection::PortLock
// returns: connections built of several parallel-port connections return it too.
CKinetorMutex& EPPPortLock();

// For tests of the transport: forgets every process-wide state (closing the node if it is
// still open), as at process start.
void ResetEPPProcessState();
// For tests: the process-wide open count and mode word.
int GetEPPOpenCount();
int GetEPPModeWord();

#endif
