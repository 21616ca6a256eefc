// The device-model interface: one arm model's mechanics over one connection. Operations
// that return int return 0 or a negative library code.
#ifndef HAPTIC_DEVICE_H
#define HAPTIC_DEVICE_H

#include "KinetorTypes.h"
#include "device/KinetorDeviceData.h"

class CHapticDevice {
public:
    CHapticDevice(char* pszKinetorName, int nCardType, unsigned long nUnit, bool bGimbalPresent,
                  _KINETOR_DEVICE_DATA* pDevData)
        : m_pszKinetorName(pszKinetorName), m_nCardType(nCardType), m_nUnit(nUnit),
          m_bGimbalPresent(bGimbalPresent), m_pDevData(pDevData), m_degConv(360.0f / 6.28318f) {}
    virtual ~CHapticDevice() {}

    virtual int OpenConnection(int nChannel) = 0;
    virtual int CloseConnection() = 0;
    virtual int FlushConnection() = 0;
    virtual void* GetConnectionData() = 0;
    virtual int GetCalibrationStatus(int& status) { (void)status; return 0; }
    virtual int UpdateCalibration() { return 0; }
    virtual int EnableAmplifiers(bool bOn) = 0;
    virtual int ResetEncoders() = 0;
    virtual int GetEncoders(short* enc) = 0;
    virtual int GetPinchValue(double& value) = 0;
    virtual int EnableWatchDog(bool bPulse, bool bWait) = 0;
    virtual int GetDeviceFault() = 0;
    virtual int GetSwitch(int index) = 0;
    virtual int GetPresence() = 0;
    virtual int ZeroTorques() = 0;
    virtual int SendTorques(const unsigned short* dac) = 0;
    virtual int SubmitClient(bool bSet) { (void)bSet; return -13; }
    virtual void Await() {}
    virtual int SetKinetorUpdateRate(unsigned long rate) { (void)rate; return -13; }
    virtual int GetHardwareRevNum() = 0;
    virtual int GetInkwell() = 0;
    virtual int OverrideStatusLight(int state) = 0;
    virtual int RestoreStatusLight() = 0;
    virtual int IsStatusLightEnabled() = 0;
    virtual int ReadStatusLight() = 0;
    virtual int GetDOF() = 0;
    virtual int UpdateKinetorJointAngles() = 0;
    virtual int UpdateKinetorEndpointTransform() = 0;
    virtual int UpdateKinetorJacobian() = 0;
    virtual int CalculateJointAngles(const long* enc, float* angles, bool bStore) = 0;
    virtual int CalculateJointVelocities() = 0;
    virtual int CalculateEndpointTransform(float* angles, float frame[4][4], bool bStore) = 0;
    virtual int CalculateKinetorVelocity(int n) = 0;
    virtual int CalculateJointTorques(const float* force, float* torque) = 0;
    virtual int CalculateMotorTorques(const float* jointTorque, float* motorTorque) = 0;
    virtual int WriteMotorVoltages(const float* volts, float* actual) = 0;
    virtual int WriteMotorTorques(bool bCheck) = 0;
    virtual int WriteMotorDACValues() = 0;
    virtual int CheckMotorTorques() = 0;
    virtual int CheckKinetorTemperature() = 0;
    virtual bool CheckRampForces() = 0;

    // Library code for a connection result code (connection success 1 becomes 0).
    int MapError(int nConnectionCode) const;

protected:
    char* m_pszKinetorName;
    int m_nCardType;
    unsigned long m_nUnit;
    bool m_bGimbalPresent;
    _KINETOR_DEVICE_DATA* m_pDevData;
    float m_degConv;
};

#endif
