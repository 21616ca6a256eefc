// The Cirrel model: docking calibration in the inkwell, two stylus switches, gimbal home
// angles subtracted rather than added, and the motor of the second link driven through
// an inverted voltage. Its temperature model lives in TemperatureModel.cpp.
#include "device/KinetorCirrelDevice.h"

#include "device/KinetorBravisDevice.h"

CKinetorCirrelDevice::CKinetorCirrelDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
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
    m_nMotorSign[2] = 1;
    m_nMotorSign[3] = -1;
    m_nMotorSign[4] = -1;
    m_nMotorSign[5] = -1;

    m_nWorkspaceOffset0 = 0;
    m_nWorkspaceOffset1 = 0;
    m_nWorkspaceOffset2 = 0;
    for (int k = 0; k < 6; k++)
        m_asInkWellEncoderOffsets[k] = 0;

    // This arm's amplifiers always take the full voltage range.
    m_fMotorVoltageScale = 1.0f;

    int anWorkspace[3] = {0, 0, 0};
    if (ReadDockingConfiguration(m_pszKinetorName, anWorkspace, m_asInkWellEncoderOffsets)) {
        m_nWorkspaceOffset0 = anWorkspace[0];
        m_nWorkspaceOffset1 = anWorkspace[1];
        m_nWorkspaceOffset2 = anWorkspace[2];
    }
}

CKinetorCirrelDevice::~CKinetorCirrelDevice()
{
    // Store the offsets found by docking during this session, as closing does; the
    // library destroys an open model without closing it first.
    CloseConnection();
}

int CKinetorCirrelDevice::OpenConnection(int nChannel)
{
    int r = CKinetor3DOFDevice::OpenConnection(nChannel);
    if (r != 0)
        return r;
    LoadCalibratedOffsets(m_pConnection, m_pszKinetorName, m_bEncoderOffsetsLoaded);
    // The arm calibrates by docking in its inkwell.
    m_pConnection->SetEncoderOffsets(m_asInkWellEncoderOffsets);
    return 0;
}

int CKinetorCirrelDevice::CloseConnection()
{
    StoreCalibratedOffsets(m_pConnection, m_pszKinetorName, m_bEncoderOffsetsLoaded);
    return CKinetor3DOFDevice::CloseConnection();
}

int CKinetorCirrelDevice::GetCalibrationStatus(int& status)
{
    return ForwardCalibrationStatus(*this, m_pConnection, status);
}

int CKinetorCirrelDevice::UpdateCalibration()
{
    return ForwardUpdateCalibration(*this, m_pConnection);
}

int CKinetorCirrelDevice::ResetEncoders()
{
    // The offsets come from docking; resetting the counters would lose them.
    return 0;
}

int CKinetorCirrelDevice::EnableWatchDog(bool bPulse, bool bWait)
{
    (void)bPulse;
    return RunFaultClearingWatchDog(*this, m_pConnection, bWait, 1);
}

int CKinetorCirrelDevice::GetSwitch(int index)
{
    if ((index != 0 && index != 1) || m_pConnection == nullptr)
        return 0;
    return m_pConnection->ReadSwitch(index);
}

int CKinetorCirrelDevice::SendTorques(const unsigned short* dac)
{
    return SendBaseTorquesNoFlush(*this, m_pConnection, dac);
}

int CKinetorCirrelDevice::SubmitClient(bool bSet)
{
    if (m_pConnection == nullptr)
        return 0;
    return MapError(m_pConnection->SubmitClient(bSet ? 1 : 0));
}

int CKinetorCirrelDevice::CalculateJointAngles(const long* enc, float* angles, bool bStore)
{
    float afScratch[6] = {0, 0, 0, 0, 0, 0};
    float* pfMotorAngles = bStore ? m_pDevData->fMotorAngles : afScratch;
    CalculateMotorAngles(enc, pfMotorAngles, 6);

    const float* r = m_pDevData->fReductionDirect;
    const float* pfZero = m_pDevData->fZeroPositionJointAngles;
    for (int i = 0; i < 3; i++) {
        const int k = getMotorAxis(i);
        angles[i] = (float)m_nMotorSign[k] * r[i] * pfMotorAngles[k] + pfZero[i];
    }
    // The gimbal's home angles are measured the other way round on this arm.
    for (int i = 3; i < 6; i++) {
        const int k = getMotorAxis(i);
        angles[i] = (float)m_nMotorSign[k] * pfMotorAngles[k] - pfZero[i];
    }
    angles[2] = angles[2] - angles[1] * r[3];
    return 0;
}

int CKinetorCirrelDevice::CalculateMotorTorques(const float* jointTorque, float* motorTorque)
{
    const float* r = m_pDevData->fReductionDirect;
    for (int i = 0; i < 3; i++) {
        const int k = getMotorAxis(i);
        motorTorque[k] = (float)m_nMotorSign[k] * r[i] * jointTorque[i];
    }
    const int k0 = getMotorAxis(0), k1 = getMotorAxis(1), k2 = getMotorAxis(2);
    motorTorque[k1] = motorTorque[k1] + motorTorque[k2] * r[3];
    motorTorque[k0] = -motorTorque[k0];
    motorTorque[k1] = -motorTorque[k1];
    motorTorque[k2] = -motorTorque[k2];
    return 0;
}

int CKinetorCirrelDevice::WriteMotorVoltages(const float* volts, float* actual)
{
    const int nDOF = GetDOF();
    for (int i = 0; i < nDOF; i++) {
        const int k = getMotorAxis(i);
        m_pDevData->fMotorTorques[k] = m_fMotorVoltageScale * volts[i] * 32767.0f / m_pDevData->fTtm[k];
    }
    // The second-link motor is wired with the opposite polarity.
    const int k2 = getMotorAxis(2);
    m_pDevData->fMotorTorques[k2] = -m_pDevData->fMotorTorques[k2];

    int r = CheckMotorTorques();
    if (r != 0)
        return r;

    for (int i = 0; i < nDOF; i++) {
        actual[i] = ActualMotorVoltage(getMotorAxis(i));
        if (i == 2)
            actual[i] = -actual[i];
    }
    return WriteMotorTorques(false);
}

bool CKinetorCirrelDevice::CheckRampForces()
{
    if (m_pConnection == nullptr)
        return false;
    return m_pConnection->ReadHomeSensor(0) == 0;
}

bool CKinetorCirrelDevice::HasTransferDrive() const
{
    return true;
}
