// Cirrel: a transfer-drive arm that docks its stylus in an inkwell for calibration, with
// two stylus switches, its own gimbal-angle and motor-voltage conventions, and a
// temperature model that includes the amplifier's current limit.
#ifndef KINETOR_CIRREL_DEVICE_H
#define KINETOR_CIRREL_DEVICE_H

#include "KinetorTypes.h"
#include "device/Kinetor3DOFDevice.h"

class CKinetorCirrelDevice : public CKinetor3DOFDevice {
public:
    CKinetorCirrelDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                         bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData);
    ~CKinetorCirrelDevice() override;

    int OpenConnection(int nChannel) override;
    int CloseConnection() override;
    int GetCalibrationStatus(int& status) override;
    int UpdateCalibration() override;
    int ResetEncoders() override;
    int EnableWatchDog(bool bPulse, bool bWait) override;
    int GetSwitch(int index) override;
    int SendTorques(const unsigned short* dac) override;
    int SubmitClient(bool bSet) override;
    int CalculateJointAngles(const long* enc, float* angles, bool bStore) override;
    int CalculateMotorTorques(const float* jointTorque, float* motorTorque) override;
    int WriteMotorVoltages(const float* volts, float* actual) override;
    // Current-limited temperature model, limited on the motor body temperature.
    int CheckKinetorTemperature() override;
    bool CheckRampForces() override;
    bool HasTransferDrive() const override;

    const SHORT* GetInkWellEncoderOffsets() const { return m_asInkWellEncoderOffsets; }
    float GetMotorVoltageScale() const { return m_fMotorVoltageScale; }

    // Current the amplifier allows at a winding temperature, amperes.
    static float MaxMotorCurrent(float fTcu);

protected:
    SHORT m_asInkWellEncoderOffsets[6];
    // The stored encoder offsets were loaded into the open connection. Only then may
    // closing store them: a connection that never opened holds no calibration, and
    // writing its zeros would wipe the one on disk.
    BOOLEAN m_bEncoderOffsetsLoaded;

    // Motor whose temperature the next check integrates, shared by every Cirrel.
    static int axisToCheckThisTime;
};

#endif
