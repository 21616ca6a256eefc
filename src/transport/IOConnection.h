// The connection the library object holds: it builds the transport wrapper for the
// configured card type and forwards every operation to the wrapper's connection.
#ifndef IO_CONNECTION_H
#define IO_CONNECTION_H

#include "KinetorTypes.h"
#include "connection/HapticConnection.h"
#include "transport/KernelDevice.h"

// Builds the wrapper for a card type and unit; null or a wrapper whose constructor status
// is false counts as "could not be constructed". Device-model tests install one to put a
// connection double behind CIOConnection.
typedef CKernelDevice* (*PFN_CREATE_WRAPPER)(int nCardType, ULONG nUnit);

class CIOConnection : public CHapticConnection {
public:
    CIOConnection(int nCardType, ULONG nUnit);
    ~CIOConnection() override;

    // A non-null factory replaces the card-type table for every later AllocateConnection;
    // null restores the table.
    static void SetWrapperFactory(PFN_CREATE_WRAPPER pfn);

    int AllocateConnection(int nChannel) override;
    int DeleteConnection() override;
    int FlushConnection(BOOLEAN bFlushOnly) override;
    void* GetConnectionData() override;
    int GetCalibrationStatus(int& status) override;
    int UpdateCalibration() override;
    void ReadEncoderOffsets(char* pszName) override;
    void WriteEncoderOffsets(char* pszName) override;
    void SetEncoderOffsets(const SHORT* nOffsets) override;
    int ResetBaseEncoders() override;
    int ResetGimbalEncoders() override;
    int ReadBaseEncoders(SHORT* nEncoders) override;
    int ReadPinchValue(SHORT& nEncoder) override;
    int ReadGimbalEncoders(SHORT* nEncoders) override;
    int ReadDeviceFault() override;
    int ReadSwitch(int switchNum) override;
    int ReadPresence(int switchNum) override;
    int ReadInkwellSensor() override;
    int ReadHomeSensor(int sensorNum) override;
    int WriteBaseTorques(USHORT* nTorques) override;
    int WriteGimbalTorques(USHORT* nTorques) override;
    int EnableBaseAmplifiers(BOOLEAN bEnable) override;
    int EnableGimbalAmplifiers(BOOLEAN bEnable) override;
    int SubmitClient(BOOLEAN bSet) override;
    void Await() override;
    int SetKinetorUpdateRate(ULONG nUpdateRate) override;
    int GetHardwareRevNum() override;
    int OverrideStatusLight(int nStatus) override;
    int RestoreStatusLight() override;
    int IsStatusLightEnabled() override;
    int ReadStatusLight() override;

private:
    CIOConnection(const CIOConnection&) = delete;
    CIOConnection& operator=(const CIOConnection&) = delete;

    void DestroyWrapper();

    // Runs one operation of the transport under its port lock; rNone when there is none.
    template <typename F>
    int Locked(int rNone, F fnOperation)
    {
        if (m_pConnection == nullptr)
            return rNone;
        CKinetorLock lock(m_pConnection->PortLock());
        return fnOperation(m_pConnection);
    }

    CKernelDevice* m_pDevice;
    ULONG m_nUnit;
    CHapticConnection* m_pConnection;
};

#endif
