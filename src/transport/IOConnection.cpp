// Builds the transport for the configured card type and forwards to it.
#include "transport/IOConnection.h"

#include <new>

#include "platform/Trace.h"
#include "transport/epp/KinetorDoubleEPPConnection.h"
#include "transport/epp/KinetorEPPConnection.h"
#include "transport/firewire/Kinetor1394Connection.h"
#include "transport/pci/KinetorPCIConnection.h"

namespace {

PFN_CREATE_WRAPPER g_pfnCreateWrapper = nullptr;

// A wrapper whose constructor fails for lack of memory counts as not constructed.
CKernelDevice* CreateWrapper(int nCardType, ULONG nUnit)
{
    switch (nCardType) {
    case 3:
        return new (std::nothrow) CKinetorPCIConnection(nUnit);
    case 4:
        return new (std::nothrow) CKinetorEPPConnection(nUnit);
    case 5:
        return new (std::nothrow) CKinetorDoubleEPPConnection(nUnit);
    case 6:
        return new (std::nothrow) CKinetor1394Connection(nUnit);
    default:
        return nullptr;
    }
}

BOOLEAN IsKnownCardType(int nCardType)
{
    return nCardType >= 3 && nCardType <= 6;
}

}  // namespace

void CIOConnection::SetWrapperFactory(PFN_CREATE_WRAPPER pfn)
{
    g_pfnCreateWrapper = pfn;
}

CIOConnection::CIOConnection(int nCardType, ULONG nUnit)
    : CHapticConnection(nCardType), m_pDevice(nullptr), m_nUnit(nUnit), m_pConnection(nullptr)
{
}

// A connection dropped without DeleteConnection still closes its transport (an open port
// or node would otherwise stay claimed for the rest of the process).
CIOConnection::~CIOConnection()
{
    if (m_pConnection != nullptr)
        DeleteConnection();
    DestroyWrapper();
}

// The transport's destructor still talks to the port (it stops the tick and sends zero
// torque), so it runs under the port lock like any other exchange. The lock outlives
// every transport.
void CIOConnection::DestroyWrapper()
{
    if (m_pDevice == nullptr) {
        m_pConnection = nullptr;
        return;
    }
    CHapticConnection* pConnection = m_pConnection;
    m_pConnection = nullptr;
    if (pConnection == nullptr) {
        delete m_pDevice;
    } else {
        CKinetorLock lock(pConnection->PortLock());
        delete m_pDevice;
    }
    m_pDevice = nullptr;
}

int CIOConnection::AllocateConnection(int nChannel)
{
    LOGV("CIOConnection AllocateConnection card type %d unit %lu channel %d\n", m_nCardType,
         m_nUnit, nChannel);
    // A second allocation replaces the transport instead of leaking the first one.
    if (m_pDevice != nullptr) {
        if (m_pConnection != nullptr)
            DeleteConnection();
        DestroyWrapper();
    }

    if (g_pfnCreateWrapper != nullptr) {
        m_pDevice = g_pfnCreateWrapper(m_nCardType, m_nUnit);
    } else {
        if (!IsKnownCardType(m_nCardType))
            return -7;
        m_pDevice = CreateWrapper(m_nCardType, m_nUnit);
    }
    if (m_pDevice == nullptr || !m_pDevice->ConstructorStatus()) {
        DestroyWrapper();
        return -9;
    }
    m_pConnection = m_pDevice->GetEntryPoints();
    if (m_pConnection == nullptr) {
        DestroyWrapper();
        return -11;
    }
    // The transport decodes the stylus inputs by the handle type, so it must know it too.
    m_pConnection->SetExtra6DOFOption(m_nExtra6DOFOption);
    int nResult = Locked(-11, [&](CHapticConnection* p) { return p->AllocateConnection(nChannel); });
    if (nResult != 1) {
        DestroyWrapper();
        return nResult;
    }
    return 1;
}

int CIOConnection::DeleteConnection()
{
    if (m_pConnection == nullptr)
        return -11;
    int nResult = Locked(-11, [](CHapticConnection* p) { return p->DeleteConnection(); });
    DestroyWrapper();
    return nResult;
}

int CIOConnection::FlushConnection(BOOLEAN bFlushOnly)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->FlushConnection(bFlushOnly); });
}

void* CIOConnection::GetConnectionData()
{
    // Plain bookkeeping of the transport: no exchange, no lock.
    return m_pConnection ? m_pConnection->GetConnectionData() : nullptr;
}

int CIOConnection::GetCalibrationStatus(int& status)
{
    return Locked(0, [&](CHapticConnection* p) { return p->GetCalibrationStatus(status); });
}

int CIOConnection::UpdateCalibration()
{
    return Locked(0, [&](CHapticConnection* p) { return p->UpdateCalibration(); });
}

void CIOConnection::ReadEncoderOffsets(char* pszName)
{
    Locked(0, [&](CHapticConnection* p) {
        p->ReadEncoderOffsets(pszName);
        return 0;
    });
}

void CIOConnection::WriteEncoderOffsets(char* pszName)
{
    Locked(0, [&](CHapticConnection* p) {
        p->WriteEncoderOffsets(pszName);
        return 0;
    });
}

void CIOConnection::SetEncoderOffsets(const SHORT* nOffsets)
{
    Locked(0, [&](CHapticConnection* p) {
        p->SetEncoderOffsets(nOffsets);
        return 0;
    });
}

int CIOConnection::ResetBaseEncoders()
{
    return Locked(-11, [&](CHapticConnection* p) { return p->ResetBaseEncoders(); });
}

int CIOConnection::ResetGimbalEncoders()
{
    return Locked(-11, [&](CHapticConnection* p) { return p->ResetGimbalEncoders(); });
}

int CIOConnection::ReadBaseEncoders(SHORT* nEncoders)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->ReadBaseEncoders(nEncoders); });
}

int CIOConnection::ReadPinchValue(SHORT& nEncoder)
{
    return Locked(0, [&](CHapticConnection* p) { return p->ReadPinchValue(nEncoder); });
}

int CIOConnection::ReadGimbalEncoders(SHORT* nEncoders)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->ReadGimbalEncoders(nEncoders); });
}

int CIOConnection::ReadDeviceFault()
{
    return Locked(-16, [&](CHapticConnection* p) { return p->ReadDeviceFault(); });
}

int CIOConnection::ReadSwitch(int switchNum)
{
    return Locked(0, [&](CHapticConnection* p) { return p->ReadSwitch(switchNum); });
}

int CIOConnection::ReadPresence(int switchNum)
{
    return Locked(0, [&](CHapticConnection* p) { return p->ReadPresence(switchNum); });
}

int CIOConnection::ReadInkwellSensor()
{
    return Locked(0, [&](CHapticConnection* p) { return p->ReadInkwellSensor(); });
}

int CIOConnection::ReadHomeSensor(int sensorNum)
{
    return Locked(0, [&](CHapticConnection* p) { return p->ReadHomeSensor(sensorNum); });
}

int CIOConnection::WriteBaseTorques(USHORT* nTorques)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->WriteBaseTorques(nTorques); });
}

int CIOConnection::WriteGimbalTorques(USHORT* nTorques)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->WriteGimbalTorques(nTorques); });
}

int CIOConnection::EnableBaseAmplifiers(BOOLEAN bEnable)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->EnableBaseAmplifiers(bEnable); });
}

int CIOConnection::EnableGimbalAmplifiers(BOOLEAN bEnable)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->EnableGimbalAmplifiers(bEnable); });
}

int CIOConnection::SubmitClient(BOOLEAN bSet)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->SubmitClient(bSet); });
}

// No lock here: the transport takes its port lock for the register steps of the wait
// itself, and must not hold it while it blocks for the tick.
void CIOConnection::Await()
{
    if (m_pConnection)
        m_pConnection->Await();
}

int CIOConnection::SetKinetorUpdateRate(ULONG nUpdateRate)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->SetKinetorUpdateRate(nUpdateRate); });
}

int CIOConnection::GetHardwareRevNum()
{
    return Locked(-11, [&](CHapticConnection* p) { return p->GetHardwareRevNum(); });
}

int CIOConnection::OverrideStatusLight(int nStatus)
{
    return Locked(-11, [&](CHapticConnection* p) { return p->OverrideStatusLight(nStatus); });
}

int CIOConnection::RestoreStatusLight()
{
    return Locked(-11, [&](CHapticConnection* p) { return p->RestoreStatusLight(); });
}

int CIOConnection::IsStatusLightEnabled()
{
    return Locked(-11, [&](CHapticConnection* p) { return p->IsStatusLightEnabled(); });
}

int CIOConnection::ReadStatusLight()
{
    return Locked(-11, [&](CHapticConnection* p) { return p->ReadStatusLight(); });
}
