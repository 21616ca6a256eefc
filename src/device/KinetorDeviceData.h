// Per-device state shared by the library object and its device model. Arrays of six are
// indexed by joint unless the comment says "by motor".
#ifndef KINETOR_DEVICE_DATA_H
#define KINETOR_DEVICE_DATA_H

#include "KinetorTypes.h"

typedef struct _KINETOR_DEVICE_DATA {
    BOOLEAN bIs6DOF;
    float fCcu;
    float fCfe;
    float fAcu;
    float fTatm;
    float fL1, fL2;
    float fUpdateRate;
    float fInstantaneousRate;
    float fTargetUpdateRate;
    float fInstRateUpperLimit, fInstRateLowerLimit;
    int nRuns;
    float fc1, fc2, fc3, fc4, fc5, fc6, fc23;
    float fs1, fs2, fs3, fs4, fs5, fs6, fs23;
    float fEndpointFrame[4][4];
    float fJacobian[6][6];
    float fVelocity[6];
    float fB, fFilterC0, fFilterC1, fFilterD1, fCutoffFrequency;
    float fReductionDirect[6];
    long lRawEncoders[6];            // by motor
    long lLastRawEncoders[6];        // by motor
    double dPinchValue;
    int nPinchMin, nPinchMax;
    int nPinchCalibrated;
    int nExtra6DOFOption;
    float fCPRToRadians[6];          // by motor
    float fMotorAngles[6], fLastMotorAngles[6];                       // by motor
    float fRawMotorVelocity[6], fSmoothedMotorVelocity[6];           // by motor
    float fLastRawMotorVelocity[6], fLastSmoothedMotorVelocity[6];   // by motor
    float fFrictionCoefficient[6], fViscousFrictionCutoff[6], fCoulombicFrictionCutoff[6]; // by motor
    float fMotorTorques[6];          // by motor
    int nMotorType[6];               // by motor
    float fTtm[6];                   // by motor
    float fMaxMotorTorques[6];       // by motor
    float fSaturationTorques[6];     // by motor
    float fTcu[6], fTfe[6];          // by motor
    float fMcu[6], fMfe[6];          // by motor
    float fRcu[6];                   // by motor
    float fRcf[6], fRfa[6];          // by motor
    float fApT[6];                   // by motor
    float fTmax[6];                  // by motor
    float fThermalDecayK1[6], fThermalDecayK2[6], fThermalDecayK3[6], fThermalDecayK4[6],
          fThermalDecayK5[6], fThermalDecayA1[6], fThermalDecayA2[6];   // by motor
    float fJointAngles[6];
    float fJointVelocity[6];
    float fZeroPositionJointAngles[6];
    ULONG nAmpDACLimit;
    long nMotorDACValues[6];         // by motor
    float fJointTorques[6];
    float dJointTorques[6];          // single precision despite the prefix
} KINETOR_DEVICE_DATA;

#endif
