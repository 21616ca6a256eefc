// The Bravis model, and what it shares with the Cirrel: the configuration look-up of the
// docking offsets, the fault-clearing watchdog handshake and the unflushed torque words.
#include "device/KinetorBravisDevice.h"

#include <string.h>

#include "config/KinetorDevice.h"
#include "config/KinetorMgr.h"
#include "platform/TimeSample.h"

namespace {

// What a CIOConnection without an inner connection answers; used when the model has no
// connection at all, so a call before OpenConnection is an error rather than a crash.
const int NO_CONNECTION = -11;

// Fault codes after which the amplifiers have tripped and must be cycled to run again.
const int FAULT_AMPLIFIER_TRIPPED = -17;
const int FAULT_AMPLIFIER_DISABLED = -18;

// The low 16 bits of a configured offset, as the 16-bit encoder counters see it.
SHORT LowWord(int nValue)
{
    long lWord = (long)((unsigned long)(long)nValue & 0xFFFFUL);
    if (lWord >= 0x8000L)
        lWord -= 0x10000L;
    return (SHORT)lWord;
}

}  // namespace

BOOLEAN ReadDockingConfiguration(const char* pszName, int anWorkspaceOffsets[3],
                                 SHORT asInkWellOffsets[6])
{
    if (pszName == nullptr)
        return FALSE;

    CKinetorMgr mgr;
    CKinetorDevice* apDevices[KINETOR_MAX_CONFIGS];
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++)
        apDevices[i] = nullptr;
    int nDevices = mgr.EnumerateKinetors(apDevices);
    if (nDevices < 0)
        nDevices = 0;
    if (nDevices > KINETOR_MAX_CONFIGS)
        nDevices = KINETOR_MAX_CONFIGS;

    BOOLEAN bFound = FALSE;
    for (int i = 0; i < nDevices; i++) {
        CKinetorDevice* pDevice = apDevices[i];
        if (pDevice == nullptr || strncmp(pDevice->m_szName, pszName, sizeof(pDevice->m_szName)) != 0)
            continue;
        if (pDevice->Read()) {
            anWorkspaceOffsets[0] = pDevice->m_nWorkspaceOffset0;
            anWorkspaceOffsets[1] = pDevice->m_nWorkspaceOffset1;
            anWorkspaceOffsets[2] = pDevice->m_nWorkspaceOffset2;
            asInkWellOffsets[0] = LowWord(pDevice->m_nInkWellEncoderOffset0);
            asInkWellOffsets[1] = LowWord(pDevice->m_nInkWellEncoderOffset1);
            asInkWellOffsets[2] = LowWord(pDevice->m_nInkWellEncoderOffset2);
            asInkWellOffsets[3] = LowWord(pDevice->m_nInkWellEncoderOffset3);
            asInkWellOffsets[4] = LowWord(pDevice->m_nInkWellEncoderOffset4);
            asInkWellOffsets[5] = LowWord(pDevice->m_nInkWellEncoderOffset5);
            bFound = TRUE;
        }
        break;
    }

    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        delete apDevices[i];
        apDevices[i] = nullptr;
    }
    return bFound;
}

int RunFaultClearingWatchDog(CHapticDevice& device, CIOConnection* pConnection, bool bWait,
                             int nPollDelay)
{
    if (pConnection == nullptr)
        return 1;
    CTimedLoop loop(3000, nPollDelay);
    // Until a fault reading succeeds the device counts as faulted: a pass whose flush
    // failed has not shown that the fault cleared.
    int nFault = 1;
    do {
        if (pConnection->FlushConnection(1) == 1) {
            const int nCode = pConnection->ReadDeviceFault();
            nFault = (nCode != 1) ? 1 : 0;
            if (nCode == FAULT_AMPLIFIER_TRIPPED || nCode == FAULT_AMPLIFIER_DISABLED) {
                device.EnableAmplifiers(false);
                device.EnableAmplifiers(true);
            }
        }
    } while (bWait && nFault != 0 && !loop.IsExpired());
    return nFault;
}

int SendBaseTorquesNoFlush(CHapticDevice& device, CIOConnection* pConnection,
                           const unsigned short* dac)
{
    if (pConnection == nullptr)
        return device.MapError(NO_CONNECTION);
    // The connection takes a writable array; the caller's words stay untouched.
    USHORT ausWords[3] = {dac[0], dac[1], dac[2]};
    return device.MapError(pConnection->WriteBaseTorques(ausWords));
}

void LoadCalibratedOffsets(CIOConnection* pConnection, char* pszName, BOOLEAN& bLoaded)
{
    if (pConnection == nullptr || pszName == nullptr)
        return;
    pConnection->ReadEncoderOffsets(pszName);
    bLoaded = 1;
}

void StoreCalibratedOffsets(CIOConnection* pConnection, char* pszName, BOOLEAN& bLoaded)
{
    if (pConnection != nullptr && bLoaded && pszName != nullptr)
        pConnection->WriteEncoderOffsets(pszName);
    bLoaded = 0;
}

int ForwardCalibrationStatus(CHapticDevice& device, CIOConnection* pConnection, int& status)
{
    if (pConnection == nullptr)
        return device.MapError(NO_CONNECTION);
    return device.MapError(pConnection->GetCalibrationStatus(status));
}

int ForwardUpdateCalibration(CHapticDevice& device, CIOConnection* pConnection)
{
    if (pConnection == nullptr)
        return device.MapError(NO_CONNECTION);
    return device.MapError(pConnection->UpdateCalibration());
}

CKinetorBravisDevice::CKinetorBravisDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                                           bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData)
    : CKinetor3DOFDevice(pszKinetorName, nCardType, nUnit, bGimbalPresent, pDevData),
      m_bEncoderOffsetsLoaded(0)
{
    m_nMotorAxis1 = 0;
    m_nMotorAxis2 = 1;
    m_nMotorAxis3 = 2;
    m_nMotorAxis4 = 3;
    m_nMotorAxis5 = 4;
    m_nMotorAxis6 = 5;

    m_nMotorSign[0] = -1;
    m_nMotorSign[1] = -1;
    m_nMotorSign[2] = -1;
    m_nMotorSign[3] = 1;
    m_nMotorSign[4] = 1;
    m_nMotorSign[5] = 1;

    m_nWorkspaceOffset0 = 0;
    m_nWorkspaceOffset1 = 0;
    m_nWorkspaceOffset2 = 0;
    for (int k = 0; k < 6; k++)
        m_asInkWellEncoderOffsets[k] = 0;

    // The FireWire board's amplifiers take the full voltage range.
    if (m_nCardType == 6)
        m_fMotorVoltageScale = 1.0f;

    int anWorkspace[3] = {0, 0, 0};
    if (ReadDockingConfiguration(m_pszKinetorName, anWorkspace, m_asInkWellEncoderOffsets)) {
        m_nWorkspaceOffset0 = anWorkspace[0];
        m_nWorkspaceOffset1 = anWorkspace[1];
        m_nWorkspaceOffset2 = anWorkspace[2];
    }
}

CKinetorBravisDevice::~CKinetorBravisDevice()
{
    CloseConnection();
}

int CKinetorBravisDevice::OpenConnection(int nChannel)
{
    int r = CKinetor3DOFDevice::OpenConnection(nChannel);
    if (r != 0)
        return r;
    LoadCalibratedOffsets(m_pConnection, m_pszKinetorName, m_bEncoderOffsetsLoaded);
    // On FireWire the arm docks in its inkwell to calibrate; elsewhere it uses its flags.
    if (m_nCardType == 6)
        m_pConnection->SetEncoderOffsets(m_asInkWellEncoderOffsets);
    return 0;
}

int CKinetorBravisDevice::CloseConnection()
{
    StoreCalibratedOffsets(m_pConnection, m_pszKinetorName, m_bEncoderOffsetsLoaded);
    return CKinetor3DOFDevice::CloseConnection();
}

int CKinetorBravisDevice::GetCalibrationStatus(int& status)
{
    return ForwardCalibrationStatus(*this, m_pConnection, status);
}

int CKinetorBravisDevice::UpdateCalibration()
{
    return ForwardUpdateCalibration(*this, m_pConnection);
}

int CKinetorBravisDevice::ResetEncoders()
{
    // The offsets come from the home sensors; resetting the counters would lose them.
    return 0;
}

int CKinetorBravisDevice::EnableWatchDog(bool bPulse, bool bWait)
{
    (void)bPulse;
    return RunFaultClearingWatchDog(*this, m_pConnection, bWait, (m_nCardType == 6) ? 1 : 0);
}

int CKinetorBravisDevice::SendTorques(const unsigned short* dac)
{
    return SendBaseTorquesNoFlush(*this, m_pConnection, dac);
}

int CKinetorBravisDevice::CalculateMotorTorques(const float* jointTorque, float* motorTorque)
{
    const float* r = m_pDevData->fReductionDirect;
    for (int i = 0; i < 3; i++) {
        const int k = getMotorAxis(i);
        motorTorque[k] = (float)m_nMotorSign[k] * r[i] * jointTorque[i];
    }
    const int k0 = getMotorAxis(0), k1 = getMotorAxis(1), k2 = getMotorAxis(2);
    // The second-link motor also holds the transfer drive's share of the outer link.
    motorTorque[k1] = motorTorque[k1] - motorTorque[k2] * r[3];
    motorTorque[k0] = -motorTorque[k0];
    motorTorque[k1] = -motorTorque[k1];
    motorTorque[k2] = -motorTorque[k2];
    return 0;
}

bool CKinetorBravisDevice::CheckRampForces()
{
    // Home sensor 0 reads 0 while the stylus is docked, where calibration is taken.
    if (m_nCardType != 6 || m_pConnection == nullptr)
        return false;
    return m_pConnection->ReadHomeSensor(0) == 0;
}

bool CKinetorBravisDevice::HasTransferDrive() const
{
    return true;
}

// On FireWire the board's frames are the servo tick, and they run only while the servo
// client is registered with the connection; without this a Bravis there would never tick.
int CKinetorBravisDevice::SubmitClient(bool bSet)
{
    if (m_nCardType != 6)
        return CKinetor3DOFDevice::SubmitClient(bSet);
    if (m_pConnection == nullptr)
        return 0;
    return MapError(m_pConnection->SubmitClient(bSet ? 1 : 0));
}
