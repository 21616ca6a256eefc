// The transport between one device model and the hardware of one arm. Operations return
// 1 for success or a negative connection code; the reading-style ones return plain values.
#ifndef HAPTIC_CONNECTION_H
#define HAPTIC_CONNECTION_H

#include "KinetorTypes.h"
#include "platform/KinetorMutex.h"

class CHapticConnection {
public:
    explicit CHapticConnection(int nCardType)
        : m_nCardType(nCardType), m_nChannel(-1), m_nExtra6DOFOption(0) {}
    virtual ~CHapticConnection() {}

    virtual int AllocateConnection(int nChannel) = 0;
    virtual int DeleteConnection() = 0;
    virtual int FlushConnection(BOOLEAN bFlushOnly) { (void)bFlushOnly; return 1; }
    virtual void* GetConnectionData() { return nullptr; }
    virtual int GetCalibrationStatus(int& status) { (void)status; return 1; }
    virtual int UpdateCalibration() { return 1; }
    virtual void ReadEncoderOffsets(char* pszName) { (void)pszName; }
    virtual void WriteEncoderOffsets(char* pszName) { (void)pszName; }
    virtual void SetEncoderOffsets(const SHORT* nOffsets) { (void)nOffsets; }
    virtual int ResetBaseEncoders() = 0;
    virtual int ResetGimbalEncoders() = 0;
    virtual int ReadBaseEncoders(SHORT* nEncoders) = 0;
    virtual int ReadPinchValue(SHORT& nEncoder) = 0;
    virtual int ReadGimbalEncoders(SHORT* nEncoders) = 0;
    virtual int ReadDeviceFault() = 0;
    virtual int ReadSwitch(int switchNum) = 0;
    virtual int ReadPresence(int switchNum) { (void)switchNum; return 1; }
    virtual int ReadInkwellSensor() { return 0; }
    virtual int ReadHomeSensor(int sensorNum) { (void)sensorNum; return 0; }
    virtual int WriteBaseTorques(USHORT* nTorques) = 0;
    virtual int WriteGimbalTorques(USHORT* nTorques) { (void)nTorques; return 1; }
    virtual int EnableBaseAmplifiers(BOOLEAN bEnable) = 0;
    virtual int EnableGimbalAmplifiers(BOOLEAN bEnable) { (void)bEnable; return 1; }
    virtual int SubmitClient(BOOLEAN bSet) { (void)bSet; return -13; }
    virtual void Await() {}
    virtual int SetKinetorUpdateRate(ULONG nUpdateRate) { (void)nUpdateRate; return -13; }
    virtual int GetHardwareRevNum() { return 0; }
    virtual int OverrideStatusLight(int nStatus) = 0;
    virtual int RestoreStatusLight() = 0;
    virtual int IsStatusLightEnabled() = 0;
    virtual int ReadStatusLight() = 0;

    // The lock that every exchange with this connection's hardware holds (CIOConnection
    // takes it around each operation it forwards). Connections that share hardware state
    // must return the same lock; the default is one lock for the whole process.
    virtual CKinetorMutex& PortLock();

    void SetExtra6DOFOption(int nOption) { m_nExtra6DOFOption = nOption; }
    int GetExtra6DOFOption() const { return m_nExtra6DOFOption; }

protected:
    int m_nCardType;
    int m_nChannel;
    int m_nExtra6DOFOption;
};

#endif
