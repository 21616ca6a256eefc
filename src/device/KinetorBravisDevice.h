// Bravis: a three-link arm with a transfer drive on the second link, home-sensor
// calibrated encoders whose offsets are kept between uses, and a watchdog handshake that
// clears amplifier faults instead of pulsing the enable line.
#ifndef KINETOR_BRAVIS_DEVICE_H
#define KINETOR_BRAVIS_DEVICE_H

#include "KinetorTypes.h"
#include "device/HapticDevice.h"
#include "device/Kinetor3DOFDevice.h"
#include "transport/IOConnection.h"

class CKinetorBravisDevice : public CKinetor3DOFDevice {
public:
    CKinetorBravisDevice(char* pszKinetorName, int nCardType, unsigned long nUnit,
                         bool bGimbalPresent, _KINETOR_DEVICE_DATA* pDevData);
    ~CKinetorBravisDevice() override;

    int OpenConnection(int nChannel) override;
    int CloseConnection() override;
    int GetCalibrationStatus(int& status) override;
    int UpdateCalibration() override;
    int ResetEncoders() override;
    int EnableWatchDog(bool bPulse, bool bWait) override;
    int SendTorques(const unsigned short* dac) override;
    int SubmitClient(bool bSet) override;
    int CalculateMotorTorques(const float* jointTorque, float* motorTorque) override;
    bool CheckRampForces() override;
    bool HasTransferDrive() const override;

    // Encoder readings of the arm resting in its inkwell (the home position).
    const SHORT* GetInkWellEncoderOffsets() const { return m_asInkWellEncoderOffsets; }
    float GetMotorVoltageScale() const { return m_fMotorVoltageScale; }

protected:
    SHORT m_asInkWellEncoderOffsets[6];
    // The stored encoder offsets were loaded into the open connection. Only then may
    // closing store them: a connection that never opened holds no calibration, and
    // writing its zeros would wipe the one on disk.
    BOOLEAN m_bEncoderOffsetsLoaded;
};

// Workspace and inkwell offsets of the named configuration. FALSE, with the outputs left
// untouched, when the name is null, not configured, or its file cannot be read. The
// inkwell offsets are cut to their low 16 bits as the encoders count.
BOOLEAN ReadDockingConfiguration(const char* pszName, int anWorkspaceOffsets[3],
                                 SHORT asInkWellOffsets[6]);

// Watchdog handshake of the docking models: flush and read the fault until it clears (or
// once when !bWait, or until 3 s have passed), cycling the amplifiers of pDevice when the
// fault code says they have tripped. Returns 1 when a fault is still present, else 0.
int RunFaultClearingWatchDog(CHapticDevice& device, CIOConnection* pConnection, bool bWait,
                             int nPollDelay);

// Forwards three base DAC words without a flush: the next block exchange carries them.
int SendBaseTorquesNoFlush(CHapticDevice& device, CIOConnection* pConnection,
                           const unsigned short* dac);

// The calibration file of the docking models: loaded into a freshly opened connection, and
// stored again on close only when it was loaded (bLoaded), so that a connection that never
// opened cannot wipe the file with its zeros.
void LoadCalibratedOffsets(CIOConnection* pConnection, char* pszName, BOOLEAN& bLoaded);
void StoreCalibratedOffsets(CIOConnection* pConnection, char* pszName, BOOLEAN& bLoaded);

// Calibration status and update come from the connection, which does the calibrating.
int ForwardCalibrationStatus(CHapticDevice& device, CIOConnection* pConnection, int& status);
int ForwardUpdateCalibration(CHapticDevice& device, CIOConnection* pConnection);

#endif
