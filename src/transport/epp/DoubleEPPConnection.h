// The double parallel-port transport: a 6-DOF arm whose base and gimbal electronics are two
// block devices chained on one parallel port. It is made of two parallel-port connections
// on the same unit, port and mode: the base module on channel 0 and the gimbal module on
// channel 1. The gimbal module reports its three encoders in the encoder fields of its own
// input block and takes its three motor words in the DAC fields of its own output block, so
// every gimbal operation is the matching base operation of the gimbal connection.
//
// One exchange of the gimbal connection sweeps both modules from address 0: the base
// module's blocks first (published by the channel-0 connection as the port's shared
// blocks), then its own. That is the per-tick flush. The servo tick is the base module's
// interrupt.
#ifndef DOUBLE_EPP_CONNECTION_H
#define DOUBLE_EPP_CONNECTION_H

#include "KinetorTypes.h"
#include "connection/HapticConnection.h"
#include "transport/epp/EPPConnection.h"

// The gimbal module's half. Its sweep reads the base module's block as well, so it counts
// that block's watchdog misses in the base connection, where the base's fault reading looks
// for them: a run of misses of one module is never hidden by the right echoes of the other,
// and a lost module loses the chain.
class CGimbalEPPConnection : public CEPPConnection {
public:
    CGimbalEPPConnection(ULONG nUnit, ULONG nBaseAddr, PP_PORTMODE nPortMode,
                         CEPPConnection* pBaseConnection);

    void ResetCommunicationErrors() override;
    BOOLEAN CommunicationError() override;
    BOOLEAN ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) override;
    void ManageWatchdog(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut) override;

private:
    BOOLEAN IsBaseBlock(const _PORT_INPUT* pRegsIn) const;

    CEPPConnection* m_pBaseConnection;
};

class CDoubleEPPConnection : public CHapticConnection {
public:
    CDoubleEPPConnection(ULONG nUnit, ULONG nBaseAddr, PP_PORTMODE nPortMode);
    ~CDoubleEPPConnection() override;

    // Both halves could be built.
    BOOLEAN IsComplete() const;

    int AllocateConnection(int nChannel) override;
    int DeleteConnection() override;
    int FlushConnection(BOOLEAN bFlushOnly) override;
    void* GetConnectionData() override;
    void ReadEncoderOffsets(char* pszName) override;
    void WriteEncoderOffsets(char* pszName) override;
    int ResetBaseEncoders() override;
    int ResetGimbalEncoders() override;
    int ReadBaseEncoders(SHORT* nEncoders) override;
    int ReadPinchValue(SHORT& nEncoder) override;
    int ReadGimbalEncoders(SHORT* nEncoders) override;
    int ReadDeviceFault() override;
    int ReadSwitch(int switchNum) override;
    int ReadPresence(int switchNum) override;
    int WriteBaseTorques(USHORT* nTorques) override;
    int WriteGimbalTorques(USHORT* nTorques) override;
    int EnableBaseAmplifiers(BOOLEAN bEnable) override;
    int EnableGimbalAmplifiers(BOOLEAN bEnable) override;
    void Await() override;
    int SetKinetorUpdateRate(ULONG nUpdateRate) override;
    int GetHardwareRevNum() override;
    int OverrideStatusLight(int nStatus) override;
    int RestoreStatusLight() override;
    int IsStatusLightEnabled() override;
    int ReadStatusLight() override;
    CKinetorMutex& PortLock() override;

    CEPPConnection* GetBaseConnection() const { return m_pBaseConnection; }
    CEPPConnection* GetGimbalConnection() const { return m_pGimbalConnection; }

private:
    CDoubleEPPConnection(const CDoubleEPPConnection&) = delete;
    CDoubleEPPConnection& operator=(const CDoubleEPPConnection&) = delete;

    CEPPConnection* m_pBaseConnection;
    CEPPConnection* m_pGimbalConnection;
    // Both halves are allocated, the gimbal half on channel 1.
    BOOLEAN m_bAllocated;
};

#endif
