#include "transport/epp/DoubleEPPConnection.h"

#include <new>

#include "platform/Trace.h"

namespace {

// Card type of the chained-module transport.
const int kCardTypeDoubleEPP = 5;

// What an operation gives when a half is missing (it could not be built).
const int kNoConnection = -11;
// The status light is not supported by this transport.
const int kNoStatusLight = -7;

// Offset-binary zero torque: the DAC word 2047 on the wire.
const USHORT kZeroTorqueWord = 0x8000;

}  // namespace

// ---- the gimbal module's half ----

CGimbalEPPConnection::CGimbalEPPConnection(ULONG nUnit, ULONG nBaseAddr, PP_PORTMODE nPortMode,
                                           CEPPConnection* pBaseConnection)
    : CEPPConnection(nUnit, nBaseAddr, nPortMode), m_pBaseConnection(pBaseConnection)
{
}

BOOLEAN CGimbalEPPConnection::IsBaseBlock(const _PORT_INPUT* pRegsIn) const
{
    return (m_pBaseConnection != nullptr && pRegsIn == &m_pBaseConnection->GetInputBlock()) ? TRUE
                                                                                            : FALSE;
}

void CGimbalEPPConnection::ResetCommunicationErrors()
{
    CEPPConnection::ResetCommunicationErrors();
    if (m_pBaseConnection != nullptr)
        m_pBaseConnection->ResetCommunicationErrors();
}

// The sweep carries both modules: a base module that stopped answering stops it as surely
// as the gimbal module itself.
BOOLEAN CGimbalEPPConnection::CommunicationError()
{
    if (CEPPConnection::CommunicationError())
        return TRUE;
    return (m_pBaseConnection != nullptr && m_pBaseConnection->CommunicationError()) ? TRUE : FALSE;
}

BOOLEAN CGimbalEPPConnection::ReadKinetorData(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut)
{
    BOOLEAN bWasLost = CommunicationError();
    BOOLEAN bResult = CEPPConnection::ReadKinetorData(pRegsIn, pRegsOut);
    // The recovery found in the sweep's first read zeroed the base module's words only; the
    // gimbal motors' last command is just as stale.
    if (bWasLost && !CommunicationError()) {
        for (int i = 0; i < 3; i++)
            *m_pDToAs[i] = BLOCK_DAC_ZERO;
    }
    return bResult;
}

void CGimbalEPPConnection::ManageWatchdog(_PORT_INPUT* pRegsIn, _PORT_OUTPUT* pRegsOut)
{
    if (IsBaseBlock(pRegsIn))
        m_pBaseConnection->ManageWatchdog(pRegsIn, pRegsOut);
    else
        CEPPConnection::ManageWatchdog(pRegsIn, pRegsOut);
}

// ---- the pair ----

CDoubleEPPConnection::CDoubleEPPConnection(ULONG nUnit, ULONG nBaseAddr, PP_PORTMODE nPortMode)
    : CHapticConnection(kCardTypeDoubleEPP),
      m_pBaseConnection(nullptr),
      m_pGimbalConnection(nullptr),
      m_bAllocated(FALSE)
{
    m_pBaseConnection = new (std::nothrow) CEPPConnection(nUnit, nBaseAddr, nPortMode);
    if (m_pBaseConnection != nullptr)
        m_pGimbalConnection =
            new (std::nothrow) CGimbalEPPConnection(nUnit, nBaseAddr, nPortMode, m_pBaseConnection);
}

// The gimbal half refers to the base half, so it goes first.
CDoubleEPPConnection::~CDoubleEPPConnection()
{
    delete m_pGimbalConnection;
    m_pGimbalConnection = nullptr;
    delete m_pBaseConnection;
    m_pBaseConnection = nullptr;
}

BOOLEAN CDoubleEPPConnection::IsComplete() const
{
    return (m_pBaseConnection != nullptr && m_pGimbalConnection != nullptr) ? TRUE : FALSE;
}

// The channel is the chain's business: the base module is always channel 0 and the gimbal
// module channel 1. Allocating channel 0 first publishes the base blocks that the gimbal
// connection's sweep then carries.
int CDoubleEPPConnection::AllocateConnection(int nChannel)
{
    (void)nChannel;
    if (!IsComplete())
        return kNoConnection;
    int nResult = m_pBaseConnection->AllocateConnection(0);
    if (nResult != 1)
        return nResult;
    nResult = m_pGimbalConnection->AllocateConnection(1);
    m_bAllocated = (nResult == 1) ? TRUE : FALSE;
    LOGV("CDoubleEPPConnection AllocateConnection base 1 gimbal %d\n", nResult);
    return nResult;
}

// The base half gives up the port first, so the gimbal half is its last user and stops the
// tick. Before that both modules get zero torque and the base module's hardware timer is
// told to stop: the gimbal half's closing exchange carries the base blocks as well, but
// would otherwise carry them as they last were.
int CDoubleEPPConnection::DeleteConnection()
{
    if (!IsComplete())
        return kNoConnection;
    USHORT ausZero[3] = {kZeroTorqueWord, kZeroTorqueWord, kZeroTorqueWord};
    m_pBaseConnection->WriteBaseTorques(ausZero);
    m_pGimbalConnection->WriteBaseTorques(ausZero);
    m_pBaseConnection->SetHardwareTimerFlags(FALSE);
    // Only an allocated gimbal half sweeps the base module first; before that its own block
    // would land on the base module's registers.
    if (m_bAllocated)
        m_pGimbalConnection->FlushConnection(TRUE);
    m_bAllocated = FALSE;
    m_pBaseConnection->DeleteConnection();
    m_pGimbalConnection->DeleteConnection();
    return 1;
}

// One sweep moves both modules' blocks.
int CDoubleEPPConnection::FlushConnection(BOOLEAN bFlushOnly)
{
    return m_pGimbalConnection ? m_pGimbalConnection->FlushConnection(bFlushOnly) : kNoConnection;
}

void* CDoubleEPPConnection::GetConnectionData()
{
    return m_pBaseConnection ? m_pBaseConnection->GetConnectionData() : nullptr;
}

// The chain keeps no offsets file: the offsets in use stay at 0.
void CDoubleEPPConnection::ReadEncoderOffsets(char* pszName)
{
    (void)pszName;
}

void CDoubleEPPConnection::WriteEncoderOffsets(char* pszName)
{
    (void)pszName;
}

int CDoubleEPPConnection::ResetBaseEncoders()
{
    return m_pBaseConnection ? m_pBaseConnection->ResetBaseEncoders() : kNoConnection;
}

int CDoubleEPPConnection::ResetGimbalEncoders()
{
    return m_pGimbalConnection ? m_pGimbalConnection->ResetBaseEncoders() : kNoConnection;
}

int CDoubleEPPConnection::ReadBaseEncoders(SHORT* nEncoders)
{
    return m_pBaseConnection ? m_pBaseConnection->ReadBaseEncoders(nEncoders) : kNoConnection;
}

// The gimbal module's encoders are the encoders of its own block, not its pot channels.
int CDoubleEPPConnection::ReadGimbalEncoders(SHORT* nEncoders)
{
    return m_pGimbalConnection ? m_pGimbalConnection->ReadBaseEncoders(nEncoders) : kNoConnection;
}

// The stylus with its pinch grip, switch and presence line hangs on the gimbal module.
int CDoubleEPPConnection::ReadPinchValue(SHORT& nEncoder)
{
    return m_pGimbalConnection ? m_pGimbalConnection->ReadPinchValue(nEncoder) : 0;
}

int CDoubleEPPConnection::ReadSwitch(int switchNum)
{
    return m_pGimbalConnection ? m_pGimbalConnection->ReadSwitch(switchNum) : 0;
}

int CDoubleEPPConnection::ReadPresence(int switchNum)
{
    return m_pGimbalConnection ? m_pGimbalConnection->ReadPresence(switchNum) : 0;
}

// A fault of the base module is reported before any of the gimbal module.
int CDoubleEPPConnection::ReadDeviceFault()
{
    if (!IsComplete())
        return -16;
    int nResult = m_pBaseConnection->ReadDeviceFault();
    if (nResult != 1)
        return nResult;
    return m_pGimbalConnection->ReadDeviceFault();
}

int CDoubleEPPConnection::WriteBaseTorques(USHORT* nTorques)
{
    return m_pBaseConnection ? m_pBaseConnection->WriteBaseTorques(nTorques) : kNoConnection;
}

int CDoubleEPPConnection::WriteGimbalTorques(USHORT* nTorques)
{
    return m_pGimbalConnection ? m_pGimbalConnection->WriteBaseTorques(nTorques) : kNoConnection;
}

int CDoubleEPPConnection::EnableBaseAmplifiers(BOOLEAN bEnable)
{
    return m_pBaseConnection ? m_pBaseConnection->EnableBaseAmplifiers(bEnable) : kNoConnection;
}

int CDoubleEPPConnection::EnableGimbalAmplifiers(BOOLEAN bEnable)
{
    return m_pGimbalConnection ? m_pGimbalConnection->EnableBaseAmplifiers(bEnable) : kNoConnection;
}

// The base module's interrupt is the tick. It takes the port lock itself, only around its
// register steps.
void CDoubleEPPConnection::Await()
{
    if (m_pBaseConnection != nullptr)
        m_pBaseConnection->Await();
}

// The base module's timer paces the chain.
int CDoubleEPPConnection::SetKinetorUpdateRate(ULONG nUpdateRate)
{
    return m_pBaseConnection ? m_pBaseConnection->SetKinetorUpdateRate(nUpdateRate) : kNoConnection;
}

int CDoubleEPPConnection::GetHardwareRevNum()
{
    return m_pBaseConnection ? m_pBaseConnection->GetHardwareRevNum() : 0;
}

int CDoubleEPPConnection::OverrideStatusLight(int nStatus)
{
    (void)nStatus;
    return kNoStatusLight;
}

int CDoubleEPPConnection::RestoreStatusLight()
{
    return kNoStatusLight;
}

int CDoubleEPPConnection::IsStatusLightEnabled()
{
    return kNoStatusLight;
}

int CDoubleEPPConnection::ReadStatusLight()
{
    return kNoStatusLight;
}

// Both halves live on the process-wide parallel-port state.
CKinetorMutex& CDoubleEPPConnection::PortLock()
{
    return EPPPortLock();
}
