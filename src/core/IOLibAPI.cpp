// Construction, opening and closing of a device, the per-motor parameters and the
// identification queries of the library object.
#include "core/IOLibAPI.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "KinetorVersion.h"
#include "core/ServoLoop.h"
#include "device/HapticDevice.h"
#include "hal/DeviceNodes.h"
#include "platform/Trace.h"

// The five models switch on together: a library that could open only some of them would
// fail in confusing ways on the others.
#if __has_include("device/KinetorAlturaADevice.h") && __has_include("device/KinetorAlturaTDevice.h") && \
    __has_include("device/KinetorBravisDevice.h") && __has_include("device/Kinetor6DOFDevice.h") &&   \
    __has_include("device/KinetorCirrelDevice.h")
#define KIO_HAVE_DEVICE_MODELS 1
#include "device/Kinetor6DOFDevice.h"
#include "device/KinetorAlturaADevice.h"
#include "device/KinetorAlturaTDevice.h"
#include "device/KinetorBravisDevice.h"
#include "device/KinetorCirrelDevice.h"
#else
#define KIO_HAVE_DEVICE_MODELS 0
#endif


CKinetorArray CIOLibAPI::m_kinetorArray;

namespace {

const int kTableSize = 20;
const char kLibraryVersion[] = KIO_VERSION_STRING;

// Thermal and torque constants of one motor type.
struct MOTOR_PARAMETERS {
    int nMotorType;
    float fMcu, fMfe, fRcu, fRcf, fRfa, fApT, fTmax, fMaxMotorTorques, fSaturationTorques;
    float fK1, fK2, fK3, fK4, fK5, fA1, fA2;
};

const MOTOR_PARAMETERS kMotorParameters[] = {
    {20, 0.0105f, 0.12f, 2.34f, 3.1f, 14.0f, 12.2f / 32768.0f, 100.0f, 241.0f, 0.0f,
     0.0006452f, 844.1424f, 729.12f, 0.08609f, 0.000000082f, 0.08609f, 0.001271f},
    {90, 0.0381f, 0.244f, 2.07f, 2.0f, 3.1f, 26.9f / 32768.0f, 100.0f, 1070.0f, 0.0f,
     0.0005221f, 1036.624f, 914.872f, 0.0554f, 0.000000054f, 0.0554f, 0.001025f},
    {15, 0.0025f, 0.0229f, 19.8f, 4.5f, 31.0f, 0.9f / 32768.0f, 100.0f, 6.75f, 0.0f,
     0.00149532f, 368.545f, 308.1f, 0.25353f, 0.0000044f, 0.25353f, 0.00296f},
    {7, 0.0105f, 0.099f, 4.99f, 3.2f, 13.2f, 4.32f / 32768.0f, 85.0f, 66.9f, 0.0f,
     0.0008228f, 670.855f, 567.151f, 0.08859f, 0.000001329f, 0.0886f, 0.00162f},
    {8, 0.0116f, 0.249f, 9.99f, 2.8402f, 17.6488f, 1.6f / 32768.0f, 95.0f, 63.0f, 0.0f,
     0.0002532f, 2065.887f, 1907.24f, 0.0821f, 0.0000000127f, 0.0821f, 0.000503f},
};

const MOTOR_PARAMETERS* FindMotorParameters(int nMotorType)
{
    for (size_t i = 0; i < sizeof(kMotorParameters) / sizeof(kMotorParameters[0]); i++)
        if (kMotorParameters[i].nMotorType == nMotorType)
            return &kMotorParameters[i];
    return nullptr;
}

}  // namespace

CIOLibAPI::CIOLibAPI()
    : m_pDevice(nullptr), m_mutexDevice(true), m_nConfiguredL1(0), m_nConfiguredL2(0)
{
    // Settle real or simulated hardware before the first time sample: in lockstep the
    // device clock is simulated time, and a timer started on the wall clock would be off.
    IsSimulatorActive();
    m_kinetorArray.SetSize(kTableSize, -1);
    InitializeState();
}

CIOLibAPI::~CIOLibAPI()
{
    DeleteDevice(m_pDevice);
    int nSlot = FindSlot();
    if (nSlot >= 0)
        m_kinetorArray.SetAt(nSlot, nullptr);
}

int CIOLibAPI::FindSlot() const
{
    for (int i = 0; i < m_kinetorArray.GetSize(); i++)
        if (m_kinetorArray.GetAt(i) == this)
            return i;
    return -1;
}

void CIOLibAPI::InitializeState()
{
    memset(m_szKinetorName, 0, sizeof(m_szKinetorName));
    memset(m_szSerialNumber, 0, sizeof(m_szSerialNumber));

    m_PI = 3.14159f;
    m_2PI = 6.28318f;
    m_hPI = 1.570795f;
    m_degConv = 360.0f / m_2PI;

    m_nModelType = 0;
    m_nCardType = 0;
    m_nUnit = 0;
    m_nChannel = 0;
    m_nConfiguredL1 = 0;
    m_nConfiguredL2 = 0;
    m_bWatchdogTimer = 0;
    m_bHasBeenReset = 0;
    m_bMotorsWarmError = 0;
    m_bForcesEnabled = 0;
    m_bGimbalPresent = 0;
    m_bRampForces = 1;

    m_bTempCheckEnabled = 1;
    m_bVelocityCheckEnabled = 1;
    m_bForceCheckEnabled = 1;
    m_bRampForcesEnabled = 1;
    m_bForceKickSafetyEnabled = 0;
    // Presence alone counts, so that an empty value still switches the check off.
    if (getenv("TDL_DISABLE_TEMP_CHECK") != nullptr)
        m_bTempCheckEnabled = 0;

    m_fRampForcesRate = 0.5f;
    m_fForceKickLimit = 4.0f;
    m_fMaxCartesianVelocitySquared = 1440000.0f;
    m_fNominalMaxStiffness = 0.0f;
    m_fNominalMaxDamping = 0.0f;
    m_fNominalMaxForce = 0.0f;
    m_fNominalMaxContinuousForce = 0.0f;
    m_fNominalMaxTorqueStiffness = 0.0f;
    m_fNominalMaxTorqueDamping = 0.0f;
    m_fNominalMaxTorqueForce = 0.0f;
    m_fNominalMaxTorqueContinuousForce = 0.0f;
    m_nDevFaultCnt = 0;

    for (int i = 0; i < 2; i++) {
        m_abStylusSwitch[i] = 0;
        m_anStylusSwitchCnt[i] = 0;
    }
    m_bStylusPresence = 0;
    m_nStylusPresenceCnt = 0;
    m_bInkwellSwitch = 0;
    m_nInkwellSwitchCnt = 0;
    m_bLinkLost = 0;
    for (int i = 0; i < 6; i++)
        m_fForce[i] = 0.0f;
    m_bTransformCoordinates = 0;
    IdentityMatrix(m_matCoordTransform);
    IdentityMatrix(m_matCoordTransformInverse);
    for (int i = 0; i < 3; i++)
        m_fStuckPos[i] = 0.0f;

    // Everything the list below does not name starts at zero as well.
    memset(&m_devData, 0, sizeof(m_devData));
    memset(&m_devInfo, 0, sizeof(m_devInfo));
    _KINETOR_DEVICE_DATA& d = m_devData;
    d.fCcu = 385.0f;
    d.fCfe = 434.0f;
    d.fAcu = 0.00392f;
    d.fTatm = 25.0f;
    d.fL1 = 5500.0f;
    d.fL2 = 5500.0f;
    d.fc1 = d.fc2 = d.fc3 = d.fc4 = d.fc5 = d.fc6 = d.fc23 = 1.0f;
    d.fFilterC0 = 1.0f;
    for (int i = 0; i < 6; i++) {
        d.fReductionDirect[i] = 1.0f;
        d.fCPRToRadians[i] = 1.0f;
        d.fTtm[i] = 1.0f;
        d.fTcu[i] = d.fTatm;
        d.fTfe[i] = d.fTatm;
    }
    IdentityMatrix(d.fEndpointFrame);

    m_pDevice = nullptr;
}

int CIOLibAPI::InitKinetor(char* pszName)
{
    // A second opening through the same object must not leave the first device model
    // (and its open connection) behind, nor a second table entry.
    DeleteDevice(m_pDevice);
    int nOldSlot = FindSlot();
    if (nOldSlot >= 0)
        m_kinetorArray.SetAt(nOldSlot, nullptr);

    InitializeState();
    int r = ConfigureByDataSource(pszName);
    if (r != 0)
        return r;
    SetKinetorParameters();
    r = AllocateDevice(m_pDevice);
    if (r != 0)
        return r;
    m_timer.Init();
    ReadMotorTemperatures();
    return RegisterInTable();
}

int CIOLibAPI::RegisterInTable()
{
    // A running servo loop reads the table on every tick; it must not do so while the
    // table changes or grows.
    CServoLoopPause pause;
    int nSlot = -1;
    for (int i = 0; i < m_kinetorArray.GetSize() && nSlot < 0; i++) {
        if (m_kinetorArray.GetAt(i) == nullptr) {
            m_kinetorArray.SetAt(i, this);
            nSlot = i;
        }
    }
    if (nSlot < 0) {
        nSlot = m_kinetorArray.GetSize();
        if (!m_kinetorArray.SetAtGrow(nSlot, this))
            return -8;
    }
    // A device that joins a running loop is its client like those opened before the start.
    if (pause.LoopAlive())
        SubmitClient(1);
    return nSlot;
}

int CIOLibAPI::DisableKinetor()
{
    if (m_pDevice != nullptr) {
        m_pDevice->ZeroTorques();
        m_pDevice->EnableAmplifiers(false);
    }
    WriteMotorTemperatures();
    m_bForcesEnabled = 0;
    DeleteDevice(m_pDevice);
    int nSlot = FindSlot();
    if (nSlot >= 0)
        m_kinetorArray.SetAt(nSlot, nullptr);
    return 0;
}

int CIOLibAPI::AllocateDevice(CHapticDevice*& pDevice)
{
#if KIO_HAVE_DEVICE_MODELS
    CHapticDevice* pNew = nullptr;
    const bool bGimbal = m_bGimbalPresent != 0;
    switch (m_nModelType) {
    case 1:
        pNew = new (std::nothrow)
            CKinetorAlturaADevice(m_szKinetorName, m_nCardType, m_nUnit, bGimbal, &m_devData);
        break;
    case 2:
        pNew = new (std::nothrow)
            CKinetorAlturaTDevice(m_szKinetorName, m_nCardType, m_nUnit, bGimbal, &m_devData);
        break;
    case 3:
        pNew = new (std::nothrow)
            CKinetorBravisDevice(m_szKinetorName, m_nCardType, m_nUnit, bGimbal, &m_devData);
        break;
    case 4:
        pNew = new (std::nothrow)
            CKinetor6DOFDevice(m_szKinetorName, m_nCardType, m_nUnit, bGimbal, &m_devData);
        break;
    case 5:
        pNew = new (std::nothrow)
            CKinetorCirrelDevice(m_szKinetorName, m_nCardType, m_nUnit, bGimbal, &m_devData);
        break;
    default:
        break;
    }
    if (pNew == nullptr)
        return -8;
    // A model left over from an earlier opening would otherwise be lost here.
    DeleteDevice(pDevice);
    pDevice = pNew;
    return pDevice->OpenConnection(m_nChannel);
#else
    (void)pDevice;
    return -8;
#endif
}

int CIOLibAPI::DeleteDevice(CHapticDevice*& pDevice)
{
    if (pDevice != nullptr)
        delete pDevice;
    pDevice = nullptr;
    return 0;
}

void CIOLibAPI::SetKinetorParameters()
{
    if (m_nChannel == 2 || m_nChannel == 3 || m_nModelType == 3 || m_nModelType == 4 ||
        m_nModelType == 5) {
        m_bGimbalPresent = 1;
        m_devInfo.hasGimbal = 1;
    }

    _KINETOR_DEVICE_DATA& d = m_devData;
    for (int i = 0; i < 6; i++) {
        const MOTOR_PARAMETERS* p = FindMotorParameters(d.nMotorType[i]);
        if (p != nullptr) {
            d.fMcu[i] = p->fMcu;
            d.fMfe[i] = p->fMfe;
            d.fRcu[i] = p->fRcu;
            d.fRcf[i] = p->fRcf;
            d.fRfa[i] = p->fRfa;
            d.fApT[i] = p->fApT;
            // The parallel-port amplifiers of this motor deliver a different current per count.
            if (p->nMotorType == 90 && (m_nCardType == 4 || m_nCardType == 5))
                d.fApT[i] = 15.0f / 32768.0f;
            d.fTmax[i] = p->fTmax;
            d.fMaxMotorTorques[i] = p->fMaxMotorTorques;
            d.fSaturationTorques[i] = p->fSaturationTorques;
            d.fThermalDecayK1[i] = p->fK1;
            d.fThermalDecayK2[i] = p->fK2;
            d.fThermalDecayK3[i] = p->fK3;
            d.fThermalDecayK4[i] = p->fK4;
            d.fThermalDecayK5[i] = p->fK5;
            d.fThermalDecayA1[i] = p->fA1;
            d.fThermalDecayA2[i] = p->fA2;
        }
        d.fTcu[i] = d.fTatm;
        d.fTfe[i] = d.fTatm;
    }

    if (m_nCardType == 6)
        TruncateForceSaturation();

    m_fMaxCartesianVelocitySquared = 1440000.0f;
    d.nRuns = 0;
    SetKinetorVelocityFilter(1000);
}

_KINETOR_DEVICE_DATA* CIOLibAPI::GetMemberData() { return &m_devData; }

void* CIOLibAPI::GetConnectionData()
{
    if (m_pDevice == nullptr)
        return nullptr;
    return m_pDevice->GetConnectionData();
}

BOOLEAN CIOLibAPI::IsKinetorForcesEnabled() { return m_bForcesEnabled; }

BOOLEAN CIOLibAPI::CheckForGimbal() { return m_bGimbalPresent; }

int CIOLibAPI::CheckForPinch()
{
    return (m_devData.nExtra6DOFOption == 1 || m_devData.nExtra6DOFOption == 2) ? 1 : 0;
}

int CIOLibAPI::WhichPinch() { return m_devData.nExtra6DOFOption; }

int CIOLibAPI::GetKinetorInfo(KINETOR_INFO_STRUCT* pInfo, size_t nSize)
{
    if (pInfo == nullptr)
        return 0;
    size_t n = nSize < sizeof(m_devInfo) ? nSize : sizeof(m_devInfo);
    memcpy(pInfo, &m_devInfo, n);
    return 0;
}

int CIOLibAPI::GetHardwareRevNum()
{
    if (m_pDevice == nullptr)
        return -10;
    return m_pDevice->GetHardwareRevNum();
}

const char* CIOLibAPI::GetKinetorSerialNumber() { return m_szSerialNumber; }

const char* CIOLibAPI::GetKinetorModelType()
{
    const ULONG l1 = m_nConfiguredL1;
    const ULONG l2 = m_nConfiguredL2;
    switch (m_nModelType) {
    case 1:
        if (l1 == 5500 && l2 == 5500)
            return "KINETOR Altura 1.0";
        if (l1 == 8250 && l2 == 8250)
            return "KINETOR Altura 1.5";
        if (l1 == 18000 && l2 == 18000)
            return "KINETOR Altura 3.0";
        break;
    case 4:
        if (l1 == 18000 && l2 == 18000)
            return "KINETOR Altura 3.0 6DOF";
        if (l1 == 8250 && l2 == 8250)
            return "KINETOR Altura 1.5 6DOF";
        break;
    case 2:
        return "KINETOR Altura T";
    case 3:
        return "KINETOR Bravis";
    case 5:
        return "KINETOR Cirrel";
    default:
        break;
    }
    return "KINETOR Device";
}

int CIOLibAPI::IsKinetorResetSupported()
{
    return (m_nModelType == 1 || m_nModelType == 2 || m_nModelType == 4) ? 1 : 0;
}

int CIOLibAPI::IsCalibrationSupported() { return (m_nModelType == 3 || m_nModelType == 5) ? 1 : 0; }

const char* CIOLibAPI::GetLibraryVersion() { return kLibraryVersion; }

int CIOLibAPI::GetUnfilteredDeviceFault()
{
    if (m_pDevice == nullptr)
        return -10;
    return m_pDevice->GetDeviceFault();
}

int CIOLibAPI::OverrideStatusLight(int status)
{
    if (m_nModelType != 3 || m_pDevice == nullptr)
        return -10;
    return m_pDevice->OverrideStatusLight(status);
}

int CIOLibAPI::RestoreStatusLight()
{
    if (m_nModelType != 3 || m_pDevice == nullptr)
        return -10;
    return m_pDevice->RestoreStatusLight();
}

int CIOLibAPI::IsStatusLightEnabled()
{
    if (m_nModelType != 3 || m_pDevice == nullptr)
        return -10;
    return m_pDevice->IsStatusLightEnabled();
}

int CIOLibAPI::ReadStatusLight()
{
    if (m_nModelType != 3 || m_pDevice == nullptr)
        return -10;
    return m_pDevice->ReadStatusLight();
}

int CIOLibAPI::SubmitClient(BOOLEAN bSet)
{
    if (m_pDevice == nullptr)
        return -10;
    return m_pDevice->SubmitClient(bSet != 0);
}

void CIOLibAPI::Await()
{
    if (m_pDevice != nullptr)
        m_pDevice->Await();
}

int CIOLibAPI::SetKinetorUpdateRate(ULONG nUpdateRate)
{
    if (nUpdateRate < 500)
        return -14;
    if (m_pDevice == nullptr)
        return -10;
    int r = m_pDevice->SetKinetorUpdateRate(nUpdateRate);
    if (r != 0)
        LOG("Failed to set Kinetor update rate\n");
    else
        SetKinetorVelocityFilter(nUpdateRate);
    return r;
}

float CIOLibAPI::GetKinetorNominalMaxStiffness() { return m_fNominalMaxStiffness; }
float CIOLibAPI::GetKinetorNominalMaxDamping() { return m_fNominalMaxDamping; }
float CIOLibAPI::GetKinetorNominalMaxForce() { return m_fNominalMaxForce; }
float CIOLibAPI::GetKinetorNominalMaxContinuousForce() { return m_fNominalMaxContinuousForce; }
float CIOLibAPI::GetKinetorNominalMaxTorqueStiffness() { return m_fNominalMaxTorqueStiffness; }
float CIOLibAPI::GetKinetorNominalMaxTorqueDamping() { return m_fNominalMaxTorqueDamping; }
float CIOLibAPI::GetKinetorNominalMaxTorqueForce() { return m_fNominalMaxTorqueForce; }
float CIOLibAPI::GetKinetorNominalMaxTorqueContinuousForce()
{
    return m_fNominalMaxTorqueContinuousForce;
}
