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
        m_pConnection->DeleteConnection();
    DestroyWrapper();
}

void CIOConnection::DestroyWrapper()
{
    m_pConnection = nullptr;
    delete m_pDevice;
    m_pDevice = nullptr;
}

int CIOConnection::AllocateConnection(int nChannel)
{
    LOGV("CIOConnection AllocateConnection card type %d unit %lu channel %d\n", m_nCardType,
         m_nUnit, nChannel);
    // A second allocation replaces the transport instead of leaking the first one.
    if (m_pDevice != nullptr) {
        if (m_pConnection != nullptr)
            m_pConnection->DeleteConnection();
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
    int nResult = m_pConnection->AllocateConnection(nChannel);
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
    int nResult = m_pConnection->DeleteConnection();
    DestroyWrapper();
    return nResult;
}

int CIOConnection::FlushConnection(BOOLEAN bFlushOnly)
{
    return m_pConnection ? m_pConnection->FlushConnection(bFlushOnly) : -11;
}

void* CIOConnection::GetConnectionData()
{
    return m_pConnection ? m_pConnection->GetConnectionData() : nullptr;
}

int CIOConnection::GetCalibrationStatus(int& status)
{
    return m_pConnection ? m_pConnection->GetCalibrationStatus(status) : 0;
}

int CIOConnection::UpdateCalibration()
{
    return m_pConnection ? m_pConnection->UpdateCalibration() : 0;
}

void CIOConnection::ReadEncoderOffsets(char* pszName)
{
    if (m_pConnection)
        m_pConnection->ReadEncoderOffsets(pszName);
}

void CIOConnection::WriteEncoderOffsets(char* pszName)
{
    if (m_pConnection)
        m_pConnection->WriteEncoderOffsets(pszName);
}

void CIOConnection::SetEncoderOffsets(const SHORT* nOffsets)
{
    if (m_pConnection)
        m_pConnection->SetEncoderOffsets(nOffsets);
}

int CIOConnection::ResetBaseEncoders()
{
    return m_pConnection ? m_pConnection->ResetBaseEncoders() : -11;
}

int CIOConnection::ResetGimbalEncoders()
{
    return m_pConnection ? m_pConnection->ResetGimbalEncoders() : -11;
}

int CIOConnection::ReadBaseEncoders(SHORT* nEncoders)
{
    return m_pConnection ? m_pConnection->ReadBaseEncoders(nEncoders) : -11;
}

int CIOConnection::ReadPinchValue(SHORT& nEncoder)
{
    return m_pConnection ? m_pConnection->ReadPinchValue(nEncoder) : 0;
}

int CIOConnection::ReadGimbalEncoders(SHORT* nEncoders)
{
    return m_pConnection ? m_pConnection->ReadGimbalEncoders(nEncoders) : -11;
}

int CIOConnection::ReadDeviceFault()
{
    return m_pConnection ? m_pConnection->ReadDeviceFault() : -16;
}

int CIOConnection::ReadSwitch(int switchNum)
{
    return m_pConnection ? m_pConnection->ReadSwitch(switchNum) : 0;
}

int CIOConnection::ReadPresence(int switchNum)
{
    return m_pConnection ? m_pConnection->ReadPresence(switchNum) : 0;
}

int CIOConnection::ReadInkwellSensor()
{
    return m_pConnection ? m_pConnection->ReadInkwellSensor() : 0;
}

int CIOConnection::ReadHomeSensor(int sensorNum)
{
    return m_pConnection ? m_pConnection->ReadHomeSensor(sensorNum) : 0;
}

int CIOConnection::WriteBaseTorques(USHORT* nTorques)
{
    return m_pConnection ? m_pConnection->WriteBaseTorques(nTorques) : -11;
}

int CIOConnection::WriteGimbalTorques(USHORT* nTorques)
{
    return m_pConnection ? m_pConnection->WriteGimbalTorques(nTorques) : -11;
}

int CIOConnection::EnableBaseAmplifiers(BOOLEAN bEnable)
{
    return m_pConnection ? m_pConnection->EnableBaseAmplifiers(bEnable) : -11;
}

int CIOConnection::EnableGimbalAmplifiers(BOOLEAN bEnable)
{
    return m_pConnection ? m_pConnection->EnableGimbalAmplifiers(bEnable) : -11;
}

int CIOConnection::SubmitClient(BOOLEAN bSet)
{
    return m_pConnection ? m_pConnection->SubmitClient(bSet) : -11;
}

void CIOConnection::Await()
{
    if (m_pConnection)
        m_pConnection->Await();
}

int CIOConnection::SetKinetorUpdateRate(ULONG nUpdateRate)
{
    return m_pConnection ? m_pConnection->SetKinetorUpdateRate(nUpdateRate) : -11;
}

int CIOConnection::GetHardwareRevNum()
{
    return m_pConnection ? m_pConnection->GetHardwareRevNum() : -11;
}

int CIOConnection::OverrideStatusLight(int nStatus)
{
    return m_pConnection ? m_pConnection->OverrideStatusLight(nStatus) : -11;
}

int CIOConnection::RestoreStatusLight()
{
    return m_pConnection ? m_pConnection->RestoreStatusLight() : -11;
}

int CIOConnection::IsStatusLightEnabled()
{
    return m_pConnection ? m_pConnection->IsStatusLightEnabled() : -11;
}

int CIOConnection::ReadStatusLight()
{
    return m_pConnection ? m_pConnection->ReadStatusLight() : -11;
}
