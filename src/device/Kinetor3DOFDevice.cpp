// Construction, connection handling and the operations that only forward to the
// connection: amplifiers, watchdog, encoders, pinch, switches and the status light.
#include "device/Kinetor3DOFDevice.h"

#include <stdlib.h>

#include <new>

#include "platform/TimeSample.h"

namespace {

// What a CIOConnection without an inner connection answers; the model answers the same
// when it has no connection at all, so a caller that forgets OpenConnection gets an
// error instead of a crash.
const int NO_CONNECTION = -11;
const int NO_CONNECTION_FAULT = -16;

const USHORT ZERO_TORQUE_WORD = 0x8000;

}  // namespace

int CHapticDevice::MapError(int nConnectionCode) const
{
    switch (nConnectionCode) {
    case 1: return 0;
    case -2: return -18;
    case -3: return -19;
    case -4: return -20;
    case -5: return -21;
    case -6: return -3;
    case -7: return -22;
    case -8: return -8;
    case -9: return -25;
    case -10: return -23;
    case -12: return -24;
    case -13: return -26;
    case -14: return -27;
    case -15: return m_nCardType == 6 ? -31 : -28;
    case -16: return -4;
    case -17: return -2;
    case -18: return -13;
    case -19:
        if (m_nCardType == 4 || m_nCardType == 5)
            return -29;
        return m_nCardType == 6 ? -32 : -30;
    case -20: return -14;
    default: return -10;
    }
}

CKinetor3DOFDevice::CKinetor3DOFDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                                       bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData)
    : CHapticDevice(pszKinetorName, nCardType, nUnit, bGimbalPresent, pDevData),
      m_nMotorAxis1(0), m_nMotorAxis2(1), m_nMotorAxis3(2),
      m_nMotorAxis4(3), m_nMotorAxis5(4), m_nMotorAxis6(5),
      m_nWorkspaceOffset0(0), m_nWorkspaceOffset1(0), m_nWorkspaceOffset2(0),
      m_pConnection(nullptr), m_fMotorVoltageScale(0.1f), m_nAmpEnableBit(0)
{
    for (int k = 0; k < 6; k++)
        m_nMotorSign[k] = 1;

    const char* pszScale = getenv("TDL_MOTOR_VOLTAGE_SCALE");
    if (pszScale != nullptr) {
        double dScale = strtod(pszScale, nullptr);
        // "nan" must not survive as a scale: the negated test sends it to 0 like any
        // value below the range.
        if (!(dScale >= 0.0))
            dScale = 0.0;
        if (dScale > 1.0)
            dScale = 1.0;
        m_fMotorVoltageScale = (float)dScale;
    }
}

CKinetor3DOFDevice::~CKinetor3DOFDevice()
{
    CloseConnection();
}

int CKinetor3DOFDevice::getMotorAxis(int i) const
{
    switch (i) {
    case 0: return m_nMotorAxis1;
    case 1: return m_nMotorAxis2;
    case 2: return m_nMotorAxis3;
    case 3: return m_nMotorAxis4;
    case 4: return m_nMotorAxis5;
    case 5: return m_nMotorAxis6;
    default: return 0;
    }
}

int CKinetor3DOFDevice::GetWorkspaceOffset(int nAxis) const
{
    switch (nAxis) {
    case 0: return m_nWorkspaceOffset0;
    case 1: return m_nWorkspaceOffset1;
    case 2: return m_nWorkspaceOffset2;
    default: return 0;
    }
}

int CKinetor3DOFDevice::OpenConnection(int nChannel)
{
    // A second open must not orphan the first transport (and the port it holds).
    CloseConnection();

    m_pConnection = new (std::nothrow) CIOConnection(m_nCardType, m_nUnit);
    if (m_pConnection == nullptr)
        return -8;
    m_nAmpEnableBit = 0;
    m_pConnection->SetExtra6DOFOption(m_pDevData->nExtra6DOFOption);
    // Channels 1 and 3 are the second device on a shared card or port.
    return MapError(m_pConnection->AllocateConnection((nChannel != 0 && nChannel != 2) ? 1 : 0));
}

int CKinetor3DOFDevice::CloseConnection()
{
    if (m_pConnection != nullptr) {
        m_pConnection->DeleteConnection();
        delete m_pConnection;
        m_pConnection = nullptr;
    }
    return 0;
}

int CKinetor3DOFDevice::FlushConnection()
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    return MapError(m_pConnection->FlushConnection(0));
}

void* CKinetor3DOFDevice::GetConnectionData()
{
    if (m_pConnection == nullptr)
        return nullptr;
    return m_pConnection->GetConnectionData();
}

int CKinetor3DOFDevice::EnableAmplifiers(bool bOn)
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    int r = m_pConnection->EnableBaseAmplifiers(bOn ? 1 : 0);
    // The watchdog pulse toggles from the level it last wrote; once the line has been
    // switched off here, its next pulse must raise it again, not write low a second time.
    if (r == 1 && !bOn)
        m_nAmpEnableBit = 0;
    return MapError(r);
}

int CKinetor3DOFDevice::ResetEncoders()
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    int r = m_pConnection->ResetBaseEncoders();
    if (r != 1)
        return MapError(r);
    if (m_bGimbalPresent) {
        r = m_pConnection->ResetGimbalEncoders();
        if (r != 1)
            return MapError(r);
    }
    return MapError(m_pConnection->FlushConnection(1));
}

int CKinetor3DOFDevice::GetEncoders(short* enc)
{
    for (int k = 0; k < 6; k++)
        enc[k] = 0;
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    int r = m_pConnection->ReadBaseEncoders(enc);
    if (r != 1)
        return MapError(r);
    if (m_bGimbalPresent) {
        // A failed gimbal read is reported too: passing on zeros as if they were readings
        // would make the stylus orientation jump.
        r = m_pConnection->ReadGimbalEncoders(enc + 3);
        if (r != 1)
            return MapError(r);
    }
    return 0;
}

double CKinetor3DOFDevice::NormalisedPinch(int nRaw, int nOption) const
{
    const double dMin = (double)m_pDevData->nPinchMin;
    const double dMax = (double)m_pDevData->nPinchMax;
    double dValue;
    if (dMax == dMin) {
        // Both calibration ends at one reading leave no range to scale into; the grip
        // is then either open or closed rather than a division by zero.
        dValue = ((double)nRaw > dMin) ? 1.0 : 0.0;
    } else {
        dValue = ((double)nRaw - dMin) / (dMax - dMin);
    }
    if (dValue > 0.99)
        dValue = 1.0;
    if (dValue < 0.01)
        dValue = 0.0;
    if (nOption == 2)
        dValue = 1.0 - dValue;
    return dValue;
}

int CKinetor3DOFDevice::GetPinchValue(double& value)
{
    const int nOption = m_pDevData->nExtra6DOFOption;
    if (nOption != 1 && nOption != 2)
        return 0;
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    SHORT nRaw = 0;
    int r = m_pConnection->ReadPinchValue(nRaw);
    if (r != 1)
        return MapError(r);
    if (m_pDevData->nPinchCalibrated == 0)
        return nRaw;
    value = NormalisedPinch(nRaw, nOption);
    return 0;
}

int CKinetor3DOFDevice::RunWatchDogLoop(bool bPulse, bool bWait, bool bBothGroups, int nPollDelay)
{
    if (m_pConnection == nullptr)
        return 1;
    CTimedLoop loop(3000, nPollDelay);
    // Until a fault reading succeeds the device counts as faulted: a pass whose flush or
    // toggle failed has not shown that the fault cleared.
    int nFault = 1;
    do {
        if (bPulse) {
            const BOOLEAN bLevel = (m_nAmpEnableBit < 1) ? 1 : 0;
            bool bOk = m_pConnection->EnableBaseAmplifiers(bLevel) == 1;
            if (bOk && bBothGroups)
                bOk = m_pConnection->EnableGimbalAmplifiers(bLevel) == 1;
            if (!bOk)
                continue;
            if (bLevel)
                m_nAmpEnableBit++;
            else
                m_nAmpEnableBit = 0;
        }
        if (m_pConnection->FlushConnection(1) == 1)
            nFault = (m_pConnection->ReadDeviceFault() != 1) ? 1 : 0;
    } while (bWait && nFault != 0 && !loop.IsExpired());
    return nFault;
}

int CKinetor3DOFDevice::EnableWatchDog(bool bPulse, bool bWait)
{
    return RunWatchDogLoop(bPulse, bWait, false, 0);
}

int CKinetor3DOFDevice::GetDeviceFault()
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION_FAULT);
    return MapError(m_pConnection->ReadDeviceFault());
}

int CKinetor3DOFDevice::GetSwitch(int index)
{
    if (index != 0 || m_pConnection == nullptr)
        return 0;
    return m_pConnection->ReadSwitch(0);
}

int CKinetor3DOFDevice::GetPresence()
{
    if (m_pConnection == nullptr)
        return 0;
    return m_pConnection->ReadPresence(0);
}

int CKinetor3DOFDevice::SendTorques(const unsigned short* dac)
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    // The connection takes a writable array; the caller's words stay untouched.
    USHORT ausWords[3] = {dac[0], dac[1], dac[2]};
    int r = m_pConnection->WriteBaseTorques(ausWords);
    if (r != 1)
        return MapError(r);
    return MapError(m_pConnection->FlushConnection(1));
}

int CKinetor3DOFDevice::ZeroTorques()
{
    const unsigned short ausZero[3] = {ZERO_TORQUE_WORD, ZERO_TORQUE_WORD, ZERO_TORQUE_WORD};
    return CKinetor3DOFDevice::SendTorques(ausZero);
}

void CKinetor3DOFDevice::Await()
{
    if (m_pConnection != nullptr)
        m_pConnection->Await();
}

int CKinetor3DOFDevice::SetKinetorUpdateRate(unsigned long rate)
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    return MapError(m_pConnection->SetKinetorUpdateRate(rate));
}

int CKinetor3DOFDevice::GetHardwareRevNum()
{
    if (m_pConnection == nullptr)
        return 0;
    return m_pConnection->GetHardwareRevNum();
}

int CKinetor3DOFDevice::GetInkwell()
{
    if (m_pConnection == nullptr)
        return 0;
    return m_pConnection->ReadInkwellSensor();
}

int CKinetor3DOFDevice::OverrideStatusLight(int state)
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    return MapError(m_pConnection->OverrideStatusLight(state));
}

int CKinetor3DOFDevice::RestoreStatusLight()
{
    if (m_pConnection == nullptr)
        return MapError(NO_CONNECTION);
    return MapError(m_pConnection->RestoreStatusLight());
}

int CKinetor3DOFDevice::IsStatusLightEnabled()
{
    if (m_pConnection == nullptr)
        return 0;
    return m_pConnection->IsStatusLightEnabled();
}

int CKinetor3DOFDevice::ReadStatusLight()
{
    if (m_pConnection == nullptr)
        return 0;
    return m_pConnection->ReadStatusLight();
}

int CKinetor3DOFDevice::GetDOF()
{
    return 3;
}

bool CKinetor3DOFDevice::CheckRampForces()
{
    return false;
}

bool CKinetor3DOFDevice::HasTransferDrive() const
{
    return false;
}
