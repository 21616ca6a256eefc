// The library object: one per open device. It owns the device model, shares the device
// data record with it, and carries the safety state that sits between the application's
// requests and the motors. Every operation reports through its result; nothing throws.
#ifndef IO_LIB_API_H
#define IO_LIB_API_H

#include <stddef.h>

#include "KinetorIO.h"
#include "KinetorTypes.h"
#include "core/BlackBox.h"
#include "core/Timer.h"
#include "device/KinetorDeviceData.h"
#include "platform/KinetorMutex.h"
#include "platform/KinetorArray.h"

class CHapticDevice;
class CKinetorDevice;

class CIOLibAPI {
public:
    // The table of open devices; a slot's index is the device handle, null is free.
    static CKinetorArray m_kinetorArray;

    CIOLibAPI();
    virtual ~CIOLibAPI();

    virtual int InitKinetor(char* pszName);
    virtual int DisableKinetor();
    virtual int EnableKinetorForces(BOOLEAN bWait);
    virtual int DisableKinetorForces();
    virtual BOOLEAN IsKinetorForcesEnabled();
    virtual BOOLEAN CheckForGimbal();
    virtual int CheckForPinch();
    virtual int WhichPinch();
    virtual int GetKinetorInfo(KINETOR_INFO_STRUCT* pInfo, size_t nSize);
    virtual int GetHardwareRevNum();
    virtual const char* GetKinetorSerialNumber();
    virtual const char* GetKinetorModelType();
    virtual int UpdateKinetor();
    virtual int KinetorStatus();
    virtual int IsKinetorResetSupported();
    virtual int ResetKinetor();
    virtual int IsCalibrationSupported();
    virtual int GetCalibrationStatus(int& status);
    virtual int UpdateCalibration();
    virtual int SetKinetorCoordinateSystem(float* origin, float* xAxis, float* yAxis, float* zAxis);
    virtual int SetKinetorMaxVelocity(float maxVel);
    virtual float GetKinetorMaxVelocity();
    virtual int EnableKinetorVelocityCheck(BOOLEAN bEnable);
    virtual BOOLEAN IsKinetorVelocityCheckEnabled();
    virtual int ZeroForceSaturation();
    virtual int TruncateForceSaturation();
    virtual int IsKinetorSaturationEnabled();
    virtual int EnableKinetorForceCheck(BOOLEAN bEnable);
    virtual BOOLEAN IsKinetorForceCheckEnabled();
    virtual int SetKinetorRampForcesRate(float rate);
    virtual float GetKinetorRampForcesRate();
    virtual int EnableKinetorRampForces(BOOLEAN bEnable);
    virtual BOOLEAN IsKinetorRampForcesEnabled();
    virtual int SetKinetorForceKickSafety(float limit);
    virtual float GetKinetorForceKickSafety();
    virtual int EnableKinetorForceKickSafety(BOOLEAN bEnable);
    virtual BOOLEAN IsKinetorForceKickSafetyEnabled();
    virtual int SendKinetorForce(float* f);
    virtual int SendKinetorForce6DOF(float* forcesAndTorques);
    virtual int WriteKinetorJointTorques();
    virtual int SendKinetorJointTorques(float* aJointTorques);
    virtual int GetJointAngles(float* aJointAngles);
    virtual int GetKinetorPos(float* pos);
    virtual int GetKinetorVel(float* vel);
    virtual int GetKinetorVel6DOF(float* vel);
    virtual int GetKinetorInstVel(float* vel);
    virtual float GetKinetorInstRate();
    virtual float GetKinetorRate();
    virtual int GetStylusSwitch(int switchNum);
    virtual int GetStylusPresence();
    virtual int GetKinetorTemp(float* temperature);
    virtual int GetKinetorTempNormalized(float* temperature);
    virtual int GetKinetorTemp6DOF(float* temperature);
    virtual int GetKinetorTempNormalized6DOF(float* temperature);
    virtual int GetStylusMatrix(float T[4][4]);
    virtual int GetKinetorEncoders(float* theta);
    virtual int GetKinetorEncoders6DOF(float* theta);
    virtual int GetGimbalEncoders(float* theta);
    virtual int GetKinetorJacobian(double T[6][6]);
    virtual float GetKinetorNominalMaxStiffness();
    virtual float GetKinetorNominalMaxDamping();
    virtual float GetKinetorNominalMaxForce();
    virtual float GetKinetorNominalMaxContinuousForce();
    virtual float GetKinetorNominalMaxTorqueStiffness();
    virtual float GetKinetorNominalMaxTorqueDamping();
    virtual float GetKinetorNominalMaxTorqueForce();
    virtual float GetKinetorNominalMaxTorqueContinuousForce();
    virtual int GetKinetorStuckPos(float* stuckPosition);
    virtual int SetKinetorStuckPos(float* stuckPosition);
    virtual int CalcKinetorFriction(float* frictionForce, float* force, float friction,
                                    float threshold, float stuckMove);
    virtual int CalculateJointAngles(long* lRawEncoders, float* fJointAngles);
    virtual int CalculateEndpointTransform(float* fJointAngles, float T[4][4]);
    virtual int GetInkwellSwitch();
    virtual int OverrideStatusLight(int status);
    virtual int RestoreStatusLight();
    virtual int IsStatusLightEnabled();
    virtual int ReadStatusLight();
    virtual int SubmitClient(BOOLEAN bSet);
    virtual void Await();
    virtual int SetKinetorUpdateRate(ULONG nUpdateRate);
    virtual const char* GetLibraryVersion();
    virtual int GetEncoderValues(long* encoders);
    virtual double GetPinchValue();
    virtual void SetPinchLimits(int min, int max);
    virtual int IsPinchCalibrated();
    virtual BOOLEAN ReadPinchParameters(char* pszName);
    virtual BOOLEAN WritePinchParameters(char* pszName);
    virtual int CommandMotorDACValues(long* dacvalues);
    virtual int CommandMotorVoltages(float* voltsCommanded, float* voltsSent);
    virtual int GetUnfilteredDeviceFault();

    _KINETOR_DEVICE_DATA* GetMemberData();
    void* GetConnectionData();
    void InitializeState();
    int ConfigureByDataSource(char* pszName);
    void LoadKinetorSerialNumber(CKinetorDevice* pDevice);
    int LoadKinetorInfo(CKinetorDevice* pDevice);
    void ReadMotorTemperatures();
    void WriteMotorTemperatures();
    int AllocateDevice(CHapticDevice*& pDevice);
    int DeleteDevice(CHapticDevice*& pDevice);
    void SetKinetorParameters();
    void SetKinetorVelocityFilter(ULONG nUpdateRate);
    int ReadKinetorSwitch();
    int ReadKinetorPresence();
    int ReadKinetorInkwell();
    void MultiplyMatrix(MATRIX m1, MATRIX m2, MATRIX res);
    void IdentityMatrix(MATRIX m);
    void TransformPos(MATRIX t, float* pos);
    void TransformForce(MATRIX t, float* force);
    // Stores this object in the lowest free slot of the table, or appends it when none is
    // free; returns the slot index (the device handle) or -8 when the table cannot grow.
    int RegisterInTable();

    char m_szKinetorName[128];
    char m_szSerialNumber[128];
    CTimer m_timer;
    float m_PI;
    float m_2PI;
    float m_hPI;
    float m_degConv;
    int m_nModelType;
    int m_nCardType;
    ULONG m_nUnit;
    BOOLEAN m_bWatchdogTimer;
    int m_nChannel;
    BOOLEAN m_bHasBeenReset;
    BOOLEAN m_bRampForces;
    BOOLEAN m_bMotorsWarmError;
    BOOLEAN m_bForcesEnabled;
    BOOLEAN m_bGimbalPresent;
    BOOLEAN m_bTempCheckEnabled;
    BOOLEAN m_bVelocityCheckEnabled;
    BOOLEAN m_bForceCheckEnabled;
    BOOLEAN m_bRampForcesEnabled;
    BOOLEAN m_bForceKickSafetyEnabled;
    float m_fRampForcesRate;
    float m_fForceKickLimit;
    float m_fMaxCartesianVelocitySquared;
    float m_fNominalMaxStiffness;
    float m_fNominalMaxDamping;
    float m_fNominalMaxForce;
    float m_fNominalMaxContinuousForce;
    float m_fNominalMaxTorqueStiffness;
    float m_fNominalMaxTorqueDamping;
    float m_fNominalMaxTorqueForce;
    float m_fNominalMaxTorqueContinuousForce;
    int m_nDevFaultCnt;
    unsigned char m_abStylusSwitch[2];
    int m_anStylusSwitchCnt[2];
    BOOLEAN m_bStylusPresence;
    int m_nStylusPresenceCnt;
    float m_fForce[6];
    BOOLEAN m_bTransformCoordinates;
    MATRIX m_matCoordTransform;
    MATRIX m_matCoordTransformInverse;
    float m_fStuckPos[3];
    _KINETOR_DEVICE_DATA m_devData;
    KINETOR_INFO_STRUCT m_devInfo;
    CHapticDevice* m_pDevice;
    BOOLEAN m_bInkwellSwitch;
    int m_nInkwellSwitchCnt;
    // Set while the device reports the link to the hardware lost; its recovery restarts
    // the force ramp.
    BOOLEAN m_bLinkLost;
    // Held by every operation of the flat interface, so that the servo thread's tick and
    // an application thread (enabling forces, say) never interleave on this device's
    // state. Recursive: operations call one another.
    CKinetorMutex m_mutexDevice;
    // The last ticks, written out when a safety check trips. Guarded by m_mutexDevice.
    CBlackBox m_blackBox;

private:
    // The configured link lengths before scaling to millimetres; the model string is
    // chosen from them, and float millimetres would not compare exactly.
    ULONG m_nConfiguredL1;
    ULONG m_nConfiguredL2;

    // Debounce of one input: a new raw value counts only once seen on ten updates in a row.
    static void Debounce(unsigned char nRaw, unsigned char& nAccepted, int& nCount);
    // The steps of UpdateKinetor; the public one adds the tick to the black box.
    int UpdateKinetorSteps();
    // The tick's entry in the black box: time, pose as the application sees it, DAC words
    // and the device's unfiltered fault.
    void RecordBlackBoxTick();
    // Common prelude of the commands that write to the motors.
    int CommandPrelude();
    // Clears the per-axis motion state before homing or re-calibration.
    void ZeroMotionState();
    // Index of this object's table slot, or -1.
    int FindSlot() const;

    CIOLibAPI(const CIOLibAPI&) = delete;
    CIOLibAPI& operator=(const CIOLibAPI&) = delete;
};

#endif
