// The simulated arm. Joint space is the arm's own truth; everything the wire carries is
// derived from it by inverting, step by step, what the library does with the wire values,
// using the library's own constants (6.28318 per revolution, Ttm/1000 counts per N·mm,
// 0.0254 mm per thousandth of an inch) so that a correct library reads back the truth.
#include "sim/SimArm.h"

#include <math.h>

namespace {

// The library turns counts into radians with this value, not with pi; so must we.
const float kfTwoPi = 6.28318f;
const double kdInchMm = 0.0254;
const double kdPi = 3.14159265358979323846;

// Longest substep: keeps every spring of the model far inside the stable region of the
// integrator, for any servo rate the caller steps at.
const double kdMaxSubstep = 0.00025;
const double kdMaxStep = 1.0;

// Mechanics. Inertia in N·mm·s²/rad, damping in N·mm·s/rad.
const double kdBaseInertia = 2.0;
const double kdBaseDamping = 2.0;
const double kdGimbalInertia = 0.05;
const double kdGimbalDamping = 0.05;
// The joint stops ring at this angular frequency (rad/s) with this damping ratio.
const double kdStopOmega = 1000.0;
const double kdStopZeta = 0.7;
// Joint travel around the power-up pose, widened so every home flag can be swept.
const double kdBaseTravel = 1.5;
const double kdGimbalTravel = 2.5;
const double kdFlagMargin = 0.05;

// The hand: a Cartesian spring-damper on the stylus tip (N/mm, N·s/mm) and a joint spring
// on the gimbal (N·mm/rad, N·mm·s/rad).
const double kdHandStiffness = 0.4;
const double kdHandDamping = 0.004;
const double kdGimbalHandStiffness = 20.0;
const double kdGimbalHandDamping = 1.4;

// The inkwell's switch closes within this distance of the docked angles (rad, base joints).
const double kdDockTolerance = 0.02;

// One home flag of a base axis: active for offset-corrected counts start <= c < stop. The
// widths are chosen so that flags and the gaps between them measure inside the acceptance
// windows of the calibration tables, with midpoints on the tabled centres.
struct SIM_FLAG {
    long lStart;
    long lStop;
};

struct SIM_AXIS_FLAGS {
    int nCount;
    SIM_FLAG aFlags[3];
};

// Old boards (revision below 9). Axis 0: centres -5439, 0, 5439, widths 1100, 1534, 1968,
// giving gaps of 4122 (centre -2828) and 3688 (centre 2611). Axis 1: centres -10334,
// -6268, -2202, widths 1100, 1436, 1776, gaps 2798 (centre -8385) and 2460 (centre -4320).
// Axis 2: one flag, centre 1295, width 1100.
const SIM_AXIS_FLAGS kaOldFlags[3] = {
    {3, {{-5989, -4889}, {-767, 767}, {4455, 6423}}},
    {3, {{-10884, -9784}, {-6986, -5550}, {-3090, -1314}}},
    {1, {{745, 1845}, {0, 0}, {0, 0}}},
};

// New boards: one flag per axis. Centres 0, -6268, 1295, widths 1350, 1300, 800.
const SIM_AXIS_FLAGS kaNewFlags[3] = {
    {1, {{-675, 675}, {0, 0}, {0, 0}}},
    {1, {{-6918, -5618}, {0, 0}, {0, 0}}},
    {1, {{895, 1695}, {0, 0}, {0, 0}}},
};

double Finite(double d)
{
    return isfinite(d) ? d : 0.0;
}

// Whole count the encoder shows for a continuous count, kept inside a range that every
// later conversion to long and to 16 bits handles without overflow.
long RoundCount(double dCount)
{
    if (!isfinite(dCount))
        return 0;
    const double dLimit = 1.0e12;
    if (dCount > dLimit)
        dCount = dLimit;
    if (dCount < -dLimit)
        dCount = -dLimit;
    return (long)floor(dCount + 0.5);
}

bool ValidJoint(int n)
{
    return n >= 0 && n < SIM_ARM_AXES;
}

}  // namespace

CSimArm::CSimArm(const CKinetorDevice& config)
{
    m_nModelType = (int)config.m_nModelType;
    m_nCardType = (int)config.m_nCardType;
    m_dL1 = kdInchMm * (double)config.m_nL1;
    m_dL2 = kdInchMm * (double)config.m_nL2;

    // Motor map and signs of each model; unknown models keep the plain 3-DOF defaults.
    static const int anIdentity[SIM_ARM_AXES] = {0, 1, 2, 3, 4, 5};
    static const int anSwapped[SIM_ARM_AXES] = {0, 2, 1, 3, 4, 5};
    static const int anSignA[SIM_ARM_AXES] = {1, -1, -1, -1, 1, -1};
    static const int anSignT[SIM_ARM_AXES] = {-1, -1, -1, -1, 1, -1};
    static const int anSignBravis[SIM_ARM_AXES] = {-1, -1, -1, 1, 1, 1};
    static const int anSignCirrel[SIM_ARM_AXES] = {-1, -1, 1, -1, -1, -1};
    static const int anSignPlain[SIM_ARM_AXES] = {1, 1, 1, 1, 1, 1};
    const int* pnMap = anIdentity;
    const int* pnSign = anSignPlain;
    switch (m_nModelType) {
    case KINETOR_MODEL_ALTURA_A:
    case KINETOR_MODEL_ALTURA_6DOF:
        pnMap = anSwapped;
        pnSign = anSignA;
        break;
    case KINETOR_MODEL_ALTURA_T:
        pnMap = anSwapped;
        pnSign = anSignT;
        break;
    case KINETOR_MODEL_BRAVIS:
        pnSign = anSignBravis;
        break;
    case KINETOR_MODEL_CIRREL:
        pnSign = anSignCirrel;
        break;
    default:
        break;
    }
    m_bTransferDrive = m_nModelType == KINETOR_MODEL_BRAVIS || m_nModelType == KINETOR_MODEL_CIRREL;
    m_bGimbalMotors = m_nModelType == KINETOR_MODEL_ALTURA_6DOF;

    // The library negates the second and third motor torque on the Altura models and all
    // three on the transfer-drive models: the motors push against their encoders' sense.
    for (int i = 0; i < SIM_ARM_AXES; ++i) {
        m_anMotorAxis[i] = pnMap[i];
        m_anMotorSign[i] = pnSign[i];
        m_anTorqueSign[i] = 1;
    }
    m_anTorqueSign[1] = -1;
    m_anTorqueSign[2] = -1;
    if (m_bTransferDrive)
        m_anTorqueSign[0] = -1;

    const float afR[SIM_ARM_AXES] = {config.m_fR1, config.m_fR2, config.m_fR3,
                                     config.m_fR4, config.m_fR5, config.m_fR6};
    const ULONG anTtm[SIM_ARM_AXES] = {config.m_nTtm1, config.m_nTtm2, config.m_nTtm3,
                                       config.m_nTtm4, config.m_nTtm5, config.m_nTtm6};
    const ULONG anCpr[SIM_ARM_AXES] = {config.m_nCPR1, config.m_nCPR2, config.m_nCPR3,
                                       config.m_nCPR4, config.m_nCPR5, config.m_nCPR6};
    const float afReset[SIM_ARM_AXES] = {config.m_fResetAngle0, config.m_fResetAngle1,
                                         config.m_fResetAngle2, config.m_fResetAngle3,
                                         config.m_fResetAngle4, config.m_fResetAngle5};
    const int anInk[SIM_ARM_AXES] = {config.m_nInkWellEncoderOffset0, config.m_nInkWellEncoderOffset1,
                                     config.m_nInkWellEncoderOffset2, config.m_nInkWellEncoderOffset3,
                                     config.m_nInkWellEncoderOffset4, config.m_nInkWellEncoderOffset5};
    // Gimbal encoders exist on the Bravis, Cirrel and 6-DOF arms, and on an Altura wired
    // to the channels that carry them.
    bool bGimbal = m_nModelType == KINETOR_MODEL_BRAVIS || m_nModelType == KINETOR_MODEL_CIRREL ||
                   m_nModelType == KINETOR_MODEL_ALTURA_6DOF || config.m_nChannelSelect == 2 ||
                   config.m_nChannelSelect == 3;
    for (int k = 0; k < SIM_ARM_AXES; ++k) {
        m_adRatio[k] = Finite((double)afR[k]);
        // The library's counts per N·mm are the configured value / 1000 in single precision.
        m_adTtm[k] = Finite((double)((float)anTtm[k] / 1000.0f));
        m_adRadPerCount[k] = 0.0;
        if (anCpr[k] != 0 && (k < 3 || bGimbal))
            m_adRadPerCount[k] = Finite((double)(kfTwoPi / (float)anCpr[k]));
        m_adZero[k] = Finite((double)afReset[k]);
        // The library keeps the inkwell readings as 16-bit values.
        m_adInkwellCounts[k] = (double)(SHORT)(USHORT)((unsigned int)anInk[k] & 0xFFFFu);
    }

    for (int i = 0; i < SIM_ARM_AXES; ++i) {
        m_adQd[i] = 0.0;
        m_adExternal[i] = 0.0;
        m_alDac[i] = 0;
        m_alCountBase[i] = 0;
        bool bBase = i < 3;
        m_adInertia[i] = bBase ? kdBaseInertia : kdGimbalInertia;
        m_adDamping[i] = bBase ? kdBaseDamping : kdGimbalDamping;
    }
    m_bAmpsEnabled = false;

    // The FireWire board reports no revision, so the library always applies the old tables
    // there; the arm carries the flags those tables expect.
    m_eRevision = m_nCardType == KINETOR_CARD_1394 ? SIM_HW_REV_OLD : SIM_HW_REV_NEW;
    m_abSwitch[0] = m_abSwitch[1] = false;
    m_bPresent = true;
    m_usPinch = 2048;
    m_bFault = false;
    m_abSpeedError[0] = m_abSpeedError[1] = m_abSpeedError[2] = false;
    m_dTime = 0.0;
    m_dCircleRadius = SIM_CIRCLE_RADIUS_MM;
    m_dCirclePeriod = SIM_CIRCLE_PERIOD_S;

    ComputeRestPose();
    ComputeLimits();
    Dock();
    ResetEncoders();
    m_eHand = SIM_HAND_HOLD;
    AnchorHand();
}

// The power-up pose is where the library puts the arm when it reads the power-up counts:
// 0 on the Altura models (homed there), the inkwell readings on the docking models.
void CSimArm::ComputeRestPose()
{
    double adCounts[SIM_ARM_AXES];
    for (int k = 0; k < SIM_ARM_AXES; ++k)
        adCounts[k] = m_bTransferDrive ? m_adInkwellCounts[k] : 0.0;
    double adTheta[SIM_ARM_AXES];
    for (int k = 0; k < SIM_ARM_AXES; ++k)
        adTheta[k] = adCounts[k] * m_adRadPerCount[k];
    for (int i = 0; i < 3; ++i)
        m_adRest[i] = m_anMotorSign[m_anMotorAxis[i]] * m_adRatio[i] * adTheta[m_anMotorAxis[i]] + m_adZero[i];
    double dCoupling = m_bTransferDrive ? m_adRatio[3] : 1.0;
    m_adRest[2] -= m_adRest[1] * dCoupling;
    for (int i = 3; i < SIM_ARM_AXES; ++i) {
        double dMotor = m_anMotorSign[m_anMotorAxis[i]] * adTheta[m_anMotorAxis[i]];
        if (m_nModelType == KINETOR_MODEL_CIRREL)
            m_adRest[i] = dMotor - m_adZero[i];
        else if (m_bGimbalMotors)
            m_adRest[i] = dMotor * m_adRatio[i] + m_adZero[i];
        else
            m_adRest[i] = dMotor + m_adZero[i];
    }
    for (int i = 0; i < SIM_ARM_AXES; ++i)
        m_adRest[i] = Finite(m_adRest[i]);
}

void CSimArm::ComputeLimits()
{
    for (int i = 0; i < SIM_ARM_AXES; ++i) {
        double dTravel = i < 3 ? kdBaseTravel : kdGimbalTravel;
        m_adLower[i] = m_adRest[i] - dTravel;
        m_adUpper[i] = m_adRest[i] + dTravel;
    }
    // Widen the base joints so that a sweep of one joint from the power-up pose crosses
    // every flag of either board revision.
    double dCoupling = m_bTransferDrive ? m_adRatio[3] : 1.0;
    for (int nRev = 0; nRev < 2; ++nRev) {
        const SIM_AXIS_FLAGS* pFlags = nRev == 0 ? kaOldFlags : kaNewFlags;
        for (int nAxis = 0; nAxis < 3; ++nAxis) {
            int nJoint = -1;
            for (int i = 0; i < 3; ++i)
                if (m_anMotorAxis[i] == nAxis)
                    nJoint = i;
            if (nJoint < 0 || m_adRadPerCount[nAxis] == 0.0 || m_adRatio[nJoint] == 0.0)
                continue;
            for (int f = 0; f < pFlags[nAxis].nCount; ++f) {
                const long alEdges[2] = {pFlags[nAxis].aFlags[f].lStart, pFlags[nAxis].aFlags[f].lStop};
                for (int e = 0; e < 2; ++e) {
                    double dTheta = (double)alEdges[e] * m_adRadPerCount[nAxis];
                    double dQ = m_anMotorSign[nAxis] * m_adRatio[nJoint] * dTheta + m_adZero[nJoint];
                    if (nJoint == 2)
                        dQ -= dCoupling * m_adRest[1];
                    dQ = Finite(dQ);
                    if (dQ - kdFlagMargin < m_adLower[nJoint])
                        m_adLower[nJoint] = dQ - kdFlagMargin;
                    if (dQ + kdFlagMargin > m_adUpper[nJoint])
                        m_adUpper[nJoint] = dQ + kdFlagMargin;
                }
            }
        }
    }
}

// Inverse of the library's angle computation: joint angles to motor shaft angles.
// The angle of the motor that joint i drives, at joint angles pdJoints: the inverse of the
// library's motor-to-joint mapping, so that the encoders read what the library expects.
double CSimArm::MotorAngleOfJoint(const double* pdJoints, int i) const
{
    if (i < 3) {
        const double dCoupling = m_bTransferDrive ? m_adRatio[3] : 1.0;
        // The second-link motor sees the link angle before the library's coupling correction.
        const double dLink = (i == 2) ? pdJoints[2] + pdJoints[1] * dCoupling : pdJoints[i];
        const double dScale = m_anMotorSign[m_anMotorAxis[i]] * m_adRatio[i];
        return dScale != 0.0 ? (dLink - m_adZero[i]) / dScale : 0.0;
    }
    const double dSign = m_anMotorSign[m_anMotorAxis[i]];
    if (m_nModelType == KINETOR_MODEL_CIRREL)
        return (pdJoints[i] + m_adZero[i]) / dSign;
    if (m_bGimbalMotors)
        return m_adRatio[i] != 0.0 ? (pdJoints[i] - m_adZero[i]) / (dSign * m_adRatio[i]) : 0.0;
    return (pdJoints[i] - m_adZero[i]) / dSign;
}

// Inverse of the library's joint-to-motor torque mapping, so that the joint torques the
// library asked for are the ones the joints feel.
void CSimArm::JointsFromMotorTorques(const double* pdMotorTorques, double* pdJointTorques) const
{
    for (int i = 0; i < SIM_ARM_AXES; ++i)
        pdJointTorques[i] = 0.0;
    double adU[3];
    for (int i = 0; i < 3; ++i)
        adU[i] = m_anTorqueSign[i] * pdMotorTorques[m_anMotorAxis[i]];
    // Coupling the library applies to the first-link motor: minus the second-link term on
    // the Altura models, minus or plus r_3 times it through the transfer drive.
    double dCoupling = -1.0;
    if (m_nModelType == KINETOR_MODEL_BRAVIS)
        dCoupling = -m_adRatio[3];
    else if (m_nModelType == KINETOR_MODEL_CIRREL)
        dCoupling = m_adRatio[3];
    double adA[3] = {adU[0], adU[1] - dCoupling * adU[2], adU[2]};
    for (int i = 0; i < 3; ++i) {
        double dScale = m_anMotorSign[m_anMotorAxis[i]] * m_adRatio[i];
        if (dScale != 0.0)
            pdJointTorques[i] = adA[i] / dScale;
    }
    if (m_bGimbalMotors) {
        for (int i = 3; i < SIM_ARM_AXES; ++i) {
            double dScale = m_anMotorSign[m_anMotorAxis[i]] * m_adRatio[i];
            if (dScale != 0.0)
                pdJointTorques[i] = pdMotorTorques[m_anMotorAxis[i]] / dScale;
        }
    }
    for (int i = 0; i < SIM_ARM_AXES; ++i)
        pdJointTorques[i] = Finite(pdJointTorques[i]);
}

void CSimArm::ComputeMotorJointTorques(double* pdJointTorques) const
{
    double adMotor[SIM_ARM_AXES];
    int nMotors = m_bGimbalMotors ? SIM_ARM_AXES : 3;
    for (int k = 0; k < SIM_ARM_AXES; ++k) {
        adMotor[k] = 0.0;
        // A motor without a torque scale cannot be driven by the library either.
        if (m_bAmpsEnabled && k < nMotors && m_adTtm[k] > 0.0)
            adMotor[k] = (double)m_alDac[k] / m_adTtm[k];
    }
    JointsFromMotorTorques(adMotor, pdJointTorques);
}

void CSimArm::StylusPositionOf(const double* pdJoints, double* pdPos) const
{
    double dS0 = sin(pdJoints[0]), dC0 = cos(pdJoints[0]);
    double dS1 = sin(pdJoints[1]), dC1 = cos(pdJoints[1]);
    double dS12 = sin(pdJoints[1] + pdJoints[2]), dC12 = cos(pdJoints[1] + pdJoints[2]);
    double dRho = m_dL2 * dS12 + m_dL1 * dC1;
    pdPos[0] = -dRho * dS0;
    pdPos[1] = m_dL1 * dS1 - m_dL2 * dC12 + m_dL2;
    pdPos[2] = dRho * dC0 - m_dL1;
}

// Tip velocity from joint rates; the same partial derivatives give the hand's joint torques
// as their transpose.
static void TipJacobian(double dL1, double dL2, const double* pdJoints, double adJ[3][3])
{
    double dS0 = sin(pdJoints[0]), dC0 = cos(pdJoints[0]);
    double dS1 = sin(pdJoints[1]), dC1 = cos(pdJoints[1]);
    double dS12 = sin(pdJoints[1] + pdJoints[2]), dC12 = cos(pdJoints[1] + pdJoints[2]);
    double dRho = dL2 * dS12 + dL1 * dC1;
    double dLean = dL2 * dC12 - dL1 * dS1;
    adJ[0][0] = -dRho * dC0;
    adJ[0][1] = -dS0 * dLean;
    adJ[0][2] = -dS0 * dL2 * dC12;
    adJ[1][0] = 0.0;
    adJ[1][1] = dRho;
    adJ[1][2] = dL2 * dS12;
    adJ[2][0] = -dRho * dS0;
    adJ[2][1] = dC0 * dLean;
    adJ[2][2] = dC0 * dL2 * dC12;
}

void CSimArm::HandTarget(double* pdPos, double* pdVel) const
{
    for (int r = 0; r < 3; ++r) {
        pdPos[r] = m_adHandAnchor[r];
        pdVel[r] = 0.0;
    }
    if (m_eHand != SIM_HAND_CIRCLE)
        return;
    // The circle starts at the anchor, so taking hold of the stylus gives no jerk.
    double dOmega = 2.0 * kdPi / m_dCirclePeriod;
    double dPhi = dOmega * m_dHandTime;
    pdPos[0] = m_adHandAnchor[0] - m_dCircleRadius + m_dCircleRadius * cos(dPhi);
    pdPos[1] = m_adHandAnchor[1] + m_dCircleRadius * sin(dPhi);
    pdVel[0] = -m_dCircleRadius * dOmega * sin(dPhi);
    pdVel[1] = m_dCircleRadius * dOmega * cos(dPhi);
}

void CSimArm::ComputeHandTorques(double* pdJointTorques) const
{
    for (int i = 0; i < SIM_ARM_AXES; ++i)
        pdJointTorques[i] = 0.0;
    if (m_eHand == SIM_HAND_FREE)
        return;
    double adTarget[3], adTargetVel[3], adPos[3], adJ[3][3];
    HandTarget(adTarget, adTargetVel);
    StylusPositionOf(m_adQ, adPos);
    TipJacobian(m_dL1, m_dL2, m_adQ, adJ);
    double adForce[3];
    for (int r = 0; r < 3; ++r) {
        double dVel = adJ[r][0] * m_adQd[0] + adJ[r][1] * m_adQd[1] + adJ[r][2] * m_adQd[2];
        adForce[r] = kdHandStiffness * (adTarget[r] - adPos[r]) + kdHandDamping * (adTargetVel[r] - dVel);
    }
    for (int i = 0; i < 3; ++i)
        pdJointTorques[i] = adJ[0][i] * adForce[0] + adJ[1][i] * adForce[1] + adJ[2][i] * adForce[2];
    for (int i = 3; i < SIM_ARM_AXES; ++i)
        pdJointTorques[i] = kdGimbalHandStiffness * (m_adHandGimbal[i - 3] - m_adQ[i]) -
                            kdGimbalHandDamping * m_adQd[i];
}

// One substep: motor, hand and external torques explicitly; damping and the joint stops
// implicitly per joint, which only ever removes energy whatever the step.
void CSimArm::Substep(double dH)
{
    double adMotor[SIM_ARM_AXES], adHand[SIM_ARM_AXES];
    ComputeMotorJointTorques(adMotor);
    ComputeHandTorques(adHand);
    for (int i = 0; i < SIM_ARM_AXES; ++i) {
        double dI = m_adInertia[i];
        double dForce = adMotor[i] + adHand[i] + m_adExternal[i];
        double dB = m_adDamping[i];
        double dK = 0.0;
        double dStop = 0.0;
        if (m_adQ[i] < m_adLower[i]) {
            dStop = m_adLower[i];
        } else if (m_adQ[i] > m_adUpper[i]) {
            dStop = m_adUpper[i];
        }
        if (m_adQ[i] < m_adLower[i] || m_adQ[i] > m_adUpper[i]) {
            dK = dI * kdStopOmega * kdStopOmega;
            dB += 2.0 * kdStopZeta * dI * kdStopOmega;
            dForce -= dK * (m_adQ[i] - dStop);
        }
        double dV = (m_adQd[i] + dH / dI * dForce) / (1.0 + dH * dB / dI + dH * dH * dK / dI);
        m_adQd[i] = Finite(dV);
        m_adQ[i] = Finite(m_adQ[i] + dH * m_adQd[i]);
    }
    m_dTime += dH;
    m_dHandTime += dH;
}

void CSimArm::Step(double dSeconds)
{
    if (!isfinite(dSeconds) || dSeconds <= 0.0)
        return;
    if (dSeconds > kdMaxStep)
        dSeconds = kdMaxStep;
    int nSteps = (int)ceil(dSeconds / kdMaxSubstep);
    if (nSteps < 1)
        nSteps = 1;
    double dH = dSeconds / nSteps;
    for (int n = 0; n < nSteps; ++n)
        Substep(dH);
}

void CSimArm::SetMotorDAC(int nMotor, long lDac)
{
    if (!ValidJoint(nMotor))
        return;
    if (lDac > 32767)
        lDac = 32767;
    if (lDac < -32768)
        lDac = -32768;
    m_alDac[nMotor] = lDac;
}

void CSimArm::SetAmplifiersEnabled(bool bEnabled)
{
    m_bAmpsEnabled = bEnabled;
}

bool CSimArm::HasEncoder(int nMotor) const
{
    return ValidJoint(nMotor) && m_adRadPerCount[nMotor] != 0.0;
}

double CSimArm::GetEncoderPosition(int nMotor) const
{
    if (!HasEncoder(nMotor))
        return 0.0;
    // Every counter and home flag of a block read asks for one motor: only that one is
    // worked out. When two joints name the same motor, the later one drives it.
    double dMotor = 0.0;
    for (int i = SIM_ARM_AXES - 1; i >= 0; --i) {
        if (m_anMotorAxis[i] == nMotor) {
            dMotor = Finite(MotorAngleOfJoint(m_adQ, i));
            break;
        }
    }
    return Finite(dMotor / m_adRadPerCount[nMotor]);
}

void CSimArm::ResetEncoders()
{
    ResetEncoders(0, SIM_ARM_AXES);
}

void CSimArm::ResetEncoders(int nFirstMotor, int nMotors)
{
    for (int k = nFirstMotor; k < nFirstMotor + nMotors; ++k) {
        if (k >= 0 && k < SIM_ARM_AXES)
            m_alCountBase[k] = HasEncoder(k) ? -RoundCount(GetEncoderPosition(k)) : 0;
    }
}

USHORT CSimArm::GetEncoderCounter(int nMotor) const
{
    if (!HasEncoder(nMotor))
        return 0;
    // Unsigned arithmetic wraps the way the 16-bit hardware counter does.
    unsigned long ulCount = (unsigned long)RoundCount(GetEncoderPosition(nMotor)) +
                            (unsigned long)m_alCountBase[nMotor];
    return (USHORT)(ulCount & 0xFFFFul);
}

SHORT CSimArm::GetTrueEncoderOffset(int nMotor) const
{
    if (!HasEncoder(nMotor))
        return 0;
    return (SHORT)(USHORT)((unsigned long)m_alCountBase[nMotor] & 0xFFFFul);
}

bool CSimArm::HomesFromInkwell() const
{
    return m_nModelType == KINETOR_MODEL_CIRREL ||
           (m_nModelType == KINETOR_MODEL_BRAVIS && m_nCardType == KINETOR_CARD_1394);
}

bool CSimArm::FlagActive(int nAxis) const
{
    if (!HasEncoder(nAxis) || nAxis > 2)
        return false;
    const SIM_AXIS_FLAGS& flags = (m_eRevision == SIM_HW_REV_OLD ? kaOldFlags : kaNewFlags)[nAxis];
    long lCount = RoundCount(GetEncoderPosition(nAxis));
    for (int f = 0; f < flags.nCount; ++f)
        if (lCount >= flags.aFlags[f].lStart && lCount < flags.aFlags[f].lStop)
            return true;
    return false;
}

bool CSimArm::GetHomeFlag(int nAxis) const
{
    if (nAxis < 0 || nAxis > 2)
        return false;
    if (HomesFromInkwell())
        return IsDocked();
    return FlagActive(nAxis);
}

bool CSimArm::GetHomeSensor(int nAxis) const
{
    if (nAxis < 0 || nAxis > 2)
        return false;
    return !GetHomeFlag(nAxis);
}

bool CSimArm::IsDocked() const
{
    if (!m_bTransferDrive)
        return false;
    for (int i = 0; i < 3; ++i)
        if (fabs(m_adQ[i] - m_adRest[i]) > kdDockTolerance)
            return false;
    return true;
}

bool CSimArm::GetInkwell() const
{
    return IsDocked();
}

bool CSimArm::GetStylusSwitch(int n) const
{
    return n >= 0 && n < 2 && m_abSwitch[n];
}

bool CSimArm::GetPresence() const
{
    return m_bPresent;
}

USHORT CSimArm::GetPinchRaw() const
{
    return m_usPinch;
}

bool CSimArm::GetDeviceFault() const
{
    return m_bFault;
}

bool CSimArm::GetSpeedError(int nAxis) const
{
    return nAxis >= 0 && nAxis < 3 && m_abSpeedError[nAxis];
}

int CSimArm::GetHardwareRevNum() const
{
    return m_eRevision == SIM_HW_REV_OLD ? SIM_HW_REV_NUM_OLD : SIM_HW_REV_NUM_NEW;
}

void CSimArm::AnchorHand()
{
    StylusPositionOf(m_adQ, m_adHandAnchor);
    for (int i = 0; i < 3; ++i)
        m_adHandGimbal[i] = m_adQ[3 + i];
    m_dHandTime = 0.0;
}

void CSimArm::SetHand(SIM_HAND_MODE eMode)
{
    if (eMode != SIM_HAND_FREE && eMode != SIM_HAND_HOLD && eMode != SIM_HAND_CIRCLE)
        return;
    m_eHand = eMode;
    AnchorHand();
}

SIM_HAND_MODE CSimArm::GetHand() const
{
    return m_eHand;
}

void CSimArm::SetCircle(double dRadius, double dPeriod)
{
    if (isfinite(dRadius) && dRadius > 0.0)
        m_dCircleRadius = dRadius;
    if (isfinite(dPeriod) && dPeriod > 0.0)
        m_dCirclePeriod = dPeriod;
}

void CSimArm::SetHardwareRevision(SIM_HW_REVISION eRevision)
{
    if (eRevision == SIM_HW_REV_OLD || eRevision == SIM_HW_REV_NEW)
        m_eRevision = eRevision;
}

SIM_HW_REVISION CSimArm::GetHardwareRevision() const
{
    return m_eRevision;
}

void CSimArm::SetStylusSwitch(int n, bool bPressed)
{
    if (n >= 0 && n < 2)
        m_abSwitch[n] = bPressed;
}

void CSimArm::SetPresence(bool bPresent)
{
    m_bPresent = bPresent;
}

void CSimArm::SetPinchRaw(USHORT usRaw)
{
    m_usPinch = usRaw;
}

void CSimArm::SetDeviceFault(bool bFault)
{
    m_bFault = bFault;
}

void CSimArm::SetSpeedError(int nAxis, bool bError)
{
    if (nAxis >= 0 && nAxis < 3)
        m_abSpeedError[nAxis] = bError;
}

void CSimArm::SetExternalTorque(int nJoint, double dTorque)
{
    if (ValidJoint(nJoint))
        m_adExternal[nJoint] = Finite(dTorque);
}

void CSimArm::SetJointAngle(int nJoint, double dAngle)
{
    if (!ValidJoint(nJoint) || !isfinite(dAngle))
        return;
    if (dAngle < m_adLower[nJoint])
        dAngle = m_adLower[nJoint];
    if (dAngle > m_adUpper[nJoint])
        dAngle = m_adUpper[nJoint];
    m_adQ[nJoint] = dAngle;
    m_adQd[nJoint] = 0.0;
}

void CSimArm::SetJointAngles(const double* pdAngles)
{
    if (pdAngles == nullptr)
        return;
    for (int i = 0; i < SIM_ARM_AXES; ++i)
        SetJointAngle(i, pdAngles[i]);
}

void CSimArm::SetJointVelocity(int nJoint, double dVelocity)
{
    if (ValidJoint(nJoint) && isfinite(dVelocity))
        m_adQd[nJoint] = dVelocity;
}

void CSimArm::Dock()
{
    for (int i = 0; i < SIM_ARM_AXES; ++i) {
        m_adQ[i] = m_adRest[i];
        m_adQd[i] = 0.0;
    }
}

double CSimArm::GetJointAngle(int nJoint) const
{
    return ValidJoint(nJoint) ? m_adQ[nJoint] : 0.0;
}

double CSimArm::GetJointVelocity(int nJoint) const
{
    return ValidJoint(nJoint) ? m_adQd[nJoint] : 0.0;
}

void CSimArm::GetStylusPosition(double* pdPos) const
{
    if (pdPos != nullptr)
        StylusPositionOf(m_adQ, pdPos);
}

long CSimArm::GetMotorDAC(int nMotor) const
{
    return ValidJoint(nMotor) ? m_alDac[nMotor] : 0;
}

bool CSimArm::GetAmplifiersEnabled() const
{
    return m_bAmpsEnabled;
}

double CSimArm::GetMotorJointTorque(int nJoint) const
{
    if (!ValidJoint(nJoint))
        return 0.0;
    double adTorques[SIM_ARM_AXES];
    ComputeMotorJointTorques(adTorques);
    return adTorques[nJoint];
}

double CSimArm::GetRestJointAngle(int nJoint) const
{
    return ValidJoint(nJoint) ? m_adRest[nJoint] : 0.0;
}

void CSimArm::GetJointLimits(int nJoint, double& dLower, double& dUpper) const
{
    if (!ValidJoint(nJoint)) {
        dLower = dUpper = 0.0;
        return;
    }
    dLower = m_adLower[nJoint];
    dUpper = m_adUpper[nJoint];
}

double CSimArm::GetJointInertia(int nJoint) const
{
    return ValidJoint(nJoint) ? m_adInertia[nJoint] : 0.0;
}

double CSimArm::GetJointDamping(int nJoint) const
{
    return ValidJoint(nJoint) ? m_adDamping[nJoint] : 0.0;
}

int CSimArm::GetModelType() const
{
    return m_nModelType;
}

double CSimArm::GetTime() const
{
    return m_dTime;
}
