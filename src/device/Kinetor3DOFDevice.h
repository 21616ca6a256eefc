// The three-link arm that every Kinetor model builds on: encoder unwrapping, joint angles
// and velocities, the stylus frame and Jacobian, torque mapping, torque checks and DAC
// output, and the forwarding of all hardware access to its one connection.
#ifndef KINETOR_3DOF_DEVICE_H
#define KINETOR_3DOF_DEVICE_H

#include "KinetorTypes.h"
#include "device/HapticDevice.h"
#include "device/KinetorDeviceData.h"
#include "transport/IOConnection.h"

class CKinetor3DOFDevice : public CHapticDevice {
public:
    CKinetor3DOFDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                       bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData);
    ~CKinetor3DOFDevice() override;

    // Connection handling (slots 2 to 5)
    int OpenConnection(int nChannel) override;
    int CloseConnection() override;
    int FlushConnection() override;
    void* GetConnectionData() override;

    // Amplifiers, encoders, watchdog, switches (slots 8 to 15)
    int EnableAmplifiers(bool bOn) override;
    int ResetEncoders() override;
    int GetEncoders(short* enc) override;
    int GetPinchValue(double& value) override;
    int EnableWatchDog(bool bPulse, bool bWait) override;
    int GetDeviceFault() override;
    int GetSwitch(int index) override;
    int GetPresence() override;

    // Torque words (slots 16, 17)
    int ZeroTorques() override;
    int SendTorques(const unsigned short* dac) override;

    // Servo pacing (slots 19, 20)
    void Await() override;
    int SetKinetorUpdateRate(unsigned long rate) override;

    // Identification and status light (slots 21 to 27)
    int GetHardwareRevNum() override;
    int GetInkwell() override;
    int OverrideStatusLight(int state) override;
    int RestoreStatusLight() override;
    int IsStatusLightEnabled() override;
    int ReadStatusLight() override;
    int GetDOF() override;

    // Kinematics (slots 28 to 34)
    int UpdateKinetorJointAngles() override;
    int UpdateKinetorEndpointTransform() override;
    int UpdateKinetorJacobian() override;
    int CalculateJointAngles(const long* enc, float* angles, bool bStore) override;
    int CalculateJointVelocities() override;
    int CalculateEndpointTransform(float* angles, float frame[4][4], bool bStore) override;
    int CalculateKinetorVelocity(int n) override;

    // Torque output and checks (slots 35 to 40)
    int CalculateJointTorques(const float* force, float* torque) override;
    int CalculateMotorTorques(const float* jointTorque, float* motorTorque) override;
    int WriteMotorVoltages(const float* volts, float* actual) override;
    int WriteMotorTorques(bool bCheck) override;
    int WriteMotorDACValues() override;
    int CheckMotorTorques() override;

    // Temperature model (slot 41, built in TemperatureModel.cpp) and force ramp (slot 42)
    int CheckKinetorTemperature() override;
    bool CheckRampForces() override;

    // Slots this class adds (43 to 45)
    virtual bool HasTransferDrive() const;
    virtual int DoMotorTorqueCheck();
    virtual int DoCumMotorTorqueCheck();

    // Motor index driving joint i (0..5); 0 for any other i.
    int getMotorAxis(int i) const;
    // Workspace offset added to endpoint coordinate nAxis (0..2), mm; 0 for any other axis.
    int GetWorkspaceOffset(int nAxis) const;

    // The open connection, or null; tests and tools look at it, the servo path does not.
    CIOConnection* GetConnection() const { return m_pConnection; }

protected:
    // Offset-binary word for a signed DAC value, clamped to the 16-bit range first so a
    // large positive value never wraps round to full negative torque.
    static USHORT DACWord(long nDACValue);
    // Truncates toward zero, saturating at +-2^62 (far beyond any DAC range, yet three
    // of them still sum inside 64 bits) so that an infinite or huge product cannot make
    // the conversion undefined; NaN gives 0.
    static long TruncateToLong(double dValue);
    // (T * ttm + 0.5) truncated toward zero: the DAC value of a motor torque.
    long RoundedDACValue(int nMotor) const;
    // Voltage (of full scale) that the DAC word of a motor really produces once the
    // hardware drops its lowest four bits.
    float ActualMotorVoltage(int nMotor) const;

    // Normalised pinch value for a raw reading under the stored calibration limits and
    // the given stylus option (2 reads inverted).
    double NormalisedPinch(int nRaw, int nOption) const;

    // Motor angle k = encoder k * radians per count, for motors 0 .. nMotors-1.
    void CalculateMotorAngles(const long* enc, float* motorAngles, int nMotors) const;
    // Differentiator and first-order filter of the motor velocities, motors 0 .. nMotors-1.
    void CalculateMotorVelocities(int nMotors);
    // nMotorDACValues[k] = rounded DAC value of fMotorTorques[k], motors 0 .. nMotors-1.
    void StoreDACValues(int nMotors);
    // Offset-binary words of the DAC values of motors 0 .. nMotors-1; the rest of the six
    // words are zero torque.
    void FormDACWords(USHORT* pusWords, int nMotors) const;

    // The watchdog loop: each pass optionally toggles the amplifier-enable line (of the
    // gimbal group as well when bBothGroups), flushes and reads the fault.
    int RunWatchDogLoop(bool bPulse, bool bWait, bool bBothGroups, int nPollDelay);

    int m_nMotorAxis1, m_nMotorAxis2, m_nMotorAxis3, m_nMotorAxis4, m_nMotorAxis5, m_nMotorAxis6;
    int m_nMotorSign[6];
    int m_nWorkspaceOffset0, m_nWorkspaceOffset1, m_nWorkspaceOffset2;
    CIOConnection* m_pConnection;
    float m_fMotorVoltageScale;
    int m_nAmpEnableBit;

    // --- temperature model and model variants ---
    // Motor whose temperature the next 3-DOF check integrates; one counter for every
    // device of this variant, so each call models one motor at a third of the tick rate.
    static int axisToCheckThisTime;

private:
    CKinetor3DOFDevice(const CKinetor3DOFDevice&) = delete;
    CKinetor3DOFDevice& operator=(const CKinetor3DOFDevice&) = delete;
};

#endif
