// The arm with three motorised gimbal axes: six encoders, six motors in a base and a
// gimbal amplifier group, a full 6x6 Jacobian so torques about the stylus can be
// commanded, and an optional power assist that cancels the gimbal motors' friction.
#ifndef KINETOR_6DOF_DEVICE_H
#define KINETOR_6DOF_DEVICE_H

#include "KinetorTypes.h"
#include "device/Kinetor3DOFDevice.h"

class CKinetor6DOFDevice : public CKinetor3DOFDevice {
public:
    CKinetor6DOFDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                       bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData);
    ~CKinetor6DOFDevice() override;

    int EnableAmplifiers(bool bOn) override;
    int GetEncoders(short* enc) override;
    int GetPinchValue(double& value) override;
    int EnableWatchDog(bool bPulse, bool bWait) override;

    int ZeroTorques() override;
    int SendTorques(const unsigned short* dac) override;

    int GetDOF() override;

    int UpdateKinetorJacobian() override;
    int CalculateJointAngles(const long* enc, float* angles, bool bStore) override;
    int CalculateJointVelocities() override;
    int CalculateKinetorVelocity(int n) override;

    int CalculateMotorTorques(const float* jointTorque, float* motorTorque) override;
    int WriteMotorTorques(bool bCheck) override;
    int WriteMotorDACValues() override;
    int CheckMotorTorques() override;

    // The 6-DOF motor temperature model (winding resistance follows its temperature).
    int CheckKinetorTemperature() override;

    // Adds the gimbal motors' friction compensation to their motor torques.
    virtual int ApplyPowerAssist();

    BOOLEAN IsPowerAssistEnabled() const { return m_bPowerAssist; }

protected:
    BOOLEAN m_bPowerAssist;
};

#endif
