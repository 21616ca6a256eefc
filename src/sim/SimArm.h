// A simulated Kinetor arm: the mechanics behind the simulated ports. The arm is a small
// physical model (joint inertia, damping, motor torque, a user's hand, joint stops) whose
// encoder counters, home sensors and switches are what the real electronics would report.
// Every conversion is the exact inverse of what the library does with the same numbers, so
// a library that is right reads back the arm's true pose and a wrong one shows.
//
// Units are those of the library: joint angles in rad, lengths in mm, torques in N·mm,
// forces in N, time in s. Joint arrays are indexed by joint (0 base, 1 and 2 the links,
// 3..5 gimbal), motor arrays by motor index; the model's motor map joins the two.
//
// The arm is not thread-safe: the simulated port that owns it serialises every call.
#ifndef SIM_ARM_H
#define SIM_ARM_H

#include "KinetorTypes.h"
#include "config/KinetorDevice.h"

#define SIM_ARM_AXES 6

// The user's hand on the stylus.
typedef enum _SIM_HAND_MODE {
    SIM_HAND_FREE = 0,   // nobody touches the stylus
    SIM_HAND_HOLD = 1,   // a spring-damper holds the stylus where it was when the mode was set
    SIM_HAND_CIRCLE = 2  // the hand leads the stylus round a circle in the x-y plane
} SIM_HAND_MODE;

// Which set of home flags the base axes carry. Old boards report a revision below 9 and
// have three flags with gaps between them on axes 0 and 1; new boards one flag per axis.
// An arm starts as a new board, or as an old one behind FireWire, whose blocks carry no
// revision (so the library applies the old tables).
typedef enum _SIM_HW_REVISION {
    SIM_HW_REV_OLD = 0,
    SIM_HW_REV_NEW = 1
} SIM_HW_REVISION;

#define SIM_HW_REV_NUM_OLD 8
#define SIM_HW_REV_NUM_NEW 9

// Default circle of the circling hand.
#define SIM_CIRCLE_RADIUS_MM 20.0
#define SIM_CIRCLE_PERIOD_S 4.0

class CSimArm {
public:
    // Takes model type, link lengths, ratios, torque scales, counts per revolution, reset
    // angles, inkwell offsets and card type from the record. The arm starts at rest in its
    // power-up pose (Altura models: reset pose; Bravis, Cirrel: docked in the inkwell), every
    // counter reading 0, amplifiers off, the hand holding the stylus.
    explicit CSimArm(const CKinetorDevice& config);

    // ---- from the wire ----
    // Signed DAC count of motor index 0..5, ±32767 full scale (the library's value before
    // the wire encoding). Values beyond the DAC range are clamped; bad indices are ignored.
    void SetMotorDAC(int nMotor, long lDac);
    // No motor torque while disabled; the last DAC counts are kept.
    void SetAmplifiersEnabled(bool bEnabled);
    // The counters read 0 from now on, wherever the arm is.
    void ResetEncoders();
    // The same for the counters of motors nFirstMotor .. nFirstMotor + nMotors - 1 only: the
    // reset line of one module of a chained arm reaches only that module's counters.
    void ResetEncoders(int nFirstMotor, int nMotors);
    // Advance the physics; split internally into short substeps, so any step is stable.
    // Non-positive or non-finite steps do nothing; very long steps are capped at 1 s.
    void Step(double dSeconds);

    // ---- to the wire ----
    // 16-bit wrapping counter of motor index 0..5 (0 for a bad index or an axis without encoder).
    USHORT GetEncoderCounter(int nMotor) const;
    // True while the home sensor of base axis 0..2 is active, in the sense in which
    // ReadHomeSensor uses the word: its light path is clear. A flag on the arm interrupts it;
    // on the models that home from the inkwell (Cirrel; Bravis on FireWire) the docked
    // stylus interrupts all three lines instead. On the wire an inactive (interrupted) line
    // is a SET bit: ucMiscIn 0x10, 0x04, 0x08 for axes 0, 1, 2, which the flag calibration
    // reads as "flag seen" and the inkwell calibration as "docked" (FireWire: input A bit
    // 0x04 is clear while line 1 is inactive).
    bool GetHomeSensor(int nAxis) const;
    // The opposite view of the same line: a flag (or the docked stylus) interrupts it now.
    bool GetHomeFlag(int nAxis) const;
    // Stylus switch 0 or 1 pressed.
    bool GetStylusSwitch(int n) const;
    // Stylus (or gimbal) present. The wire bit 0x01 is the inverse.
    bool GetPresence() const;
    // Stylus in its inkwell (Bravis, Cirrel only; always false on the Altura models).
    bool GetInkwell() const;
    // Pinch potentiometer, raw 12-bit reading.
    USHORT GetPinchRaw() const;
    // Device fault (current limit) reported.
    bool GetDeviceFault() const;
    // Speed error of base axis 0..2 reported.
    bool GetSpeedError(int nAxis) const;
    // Revision number for the low nibble of ucSpeedErrs (8 old, 9 new).
    int GetHardwareRevNum() const;

    // ---- test interface: hand, switches, faults ----
    // Sets the hand; the hold and circle modes anchor at the stylus pose of this moment.
    void SetHand(SIM_HAND_MODE eMode);
    SIM_HAND_MODE GetHand() const;
    // Circle of the circling hand; non-positive or non-finite values keep the current ones.
    void SetCircle(double dRadius, double dPeriod);
    void SetHardwareRevision(SIM_HW_REVISION eRevision);
    SIM_HW_REVISION GetHardwareRevision() const;
    void SetStylusSwitch(int n, bool bPressed);
    void SetPresence(bool bPresent);
    void SetPinchRaw(USHORT usRaw);
    void SetDeviceFault(bool bFault);
    void SetSpeedError(int nAxis, bool bError);
    // A scripted push on a joint, in addition to motors and hand, until changed.
    void SetExternalTorque(int nJoint, double dTorque);

    // ---- test interface: moving the arm by hand ----
    // Teleport to the given joint angles (clamped into the joint limits), at rest.
    void SetJointAngles(const double* pdAngles);
    void SetJointAngle(int nJoint, double dAngle);
    void SetJointVelocity(int nJoint, double dVelocity);
    // Put the arm back into its power-up pose (docked in the inkwell where there is one), at rest.
    void Dock();

    // ---- test interface: ground truth ----
    double GetJointAngle(int nJoint) const;
    double GetJointVelocity(int nJoint) const;
    // Stylus tip in the library's device frame (workspace offsets 0), mm.
    void GetStylusPosition(double* pdPos) const;
    // DAC count last received per motor index (clamped), and the amplifier state.
    long GetMotorDAC(int nMotor) const;
    bool GetAmplifiersEnabled() const;
    // Joint torque the motors produce now (0 while the amplifiers are off), N·mm.
    double GetMotorJointTorque(int nJoint) const;
    // What a correct calibration must find: the offset the library has to subtract from the
    // counter of motor nMotor so that its joint angles are the true ones.
    SHORT GetTrueEncoderOffset(int nMotor) const;
    // The offset-corrected count the library should see, before rounding to whole counts.
    double GetEncoderPosition(int nMotor) const;
    // Power-up pose (reset pose or docked pose) of each joint.
    double GetRestJointAngle(int nJoint) const;
    bool IsDocked() const;
    void GetJointLimits(int nJoint, double& dLower, double& dUpper) const;
    double GetJointInertia(int nJoint) const;
    double GetJointDamping(int nJoint) const;
    int GetModelType() const;
    // Simulated time since construction, s.
    double GetTime() const;

private:
    void ComputeRestPose();
    void ComputeLimits();
    double MotorAngleOfJoint(const double* pdJoints, int i) const;
    void JointsFromMotorTorques(const double* pdMotorTorques, double* pdJointTorques) const;
    void ComputeMotorJointTorques(double* pdJointTorques) const;
    void ComputeHandTorques(double* pdJointTorques) const;
    void StylusPositionOf(const double* pdJoints, double* pdPos) const;
    void HandTarget(double* pdPos, double* pdVel) const;
    void Substep(double dH);
    void AnchorHand();
    bool FlagActive(int nAxis) const;
    bool HomesFromInkwell() const;
    bool HasEncoder(int nMotor) const;

    int m_nModelType;
    int m_nCardType;
    double m_dL1;
    double m_dL2;
    int m_anMotorAxis[SIM_ARM_AXES];    // motor index of each joint
    int m_anMotorSign[SIM_ARM_AXES];    // sign by motor index
    int m_anTorqueSign[SIM_ARM_AXES];   // torque wiring sign by joint slot of the motor
    double m_adRatio[SIM_ARM_AXES];     // drive ratio of each joint (index 3: transfer drive on Bravis, Cirrel)
    double m_adTtm[SIM_ARM_AXES];       // DAC counts per N·mm by motor
    double m_adRadPerCount[SIM_ARM_AXES];  // by motor; 0 = no encoder
    double m_adZero[SIM_ARM_AXES];      // reset angles by joint
    double m_adInkwellCounts[SIM_ARM_AXES];  // by motor
    bool m_bTransferDrive;
    bool m_bGimbalMotors;

    double m_adQ[SIM_ARM_AXES];
    double m_adQd[SIM_ARM_AXES];
    double m_adRest[SIM_ARM_AXES];
    double m_adLower[SIM_ARM_AXES];
    double m_adUpper[SIM_ARM_AXES];
    double m_adInertia[SIM_ARM_AXES];
    double m_adDamping[SIM_ARM_AXES];
    double m_adExternal[SIM_ARM_AXES];
    long m_alCountBase[SIM_ARM_AXES];   // counter = rounded library count + base (mod 65536)

    long m_alDac[SIM_ARM_AXES];
    bool m_bAmpsEnabled;

    SIM_HAND_MODE m_eHand;
    double m_adHandAnchor[3];
    double m_adHandGimbal[3];
    double m_dHandTime;
    double m_dCircleRadius;
    double m_dCirclePeriod;

    SIM_HW_REVISION m_eRevision;
    bool m_abSwitch[2];
    bool m_bPresent;
    USHORT m_usPinch;
    bool m_bFault;
    bool m_abSpeedError[3];
    double m_dTime;
};

#endif
