#include "ConfigTables.h"

#include <string.h>

namespace {

// Motor scales and DAC limits follow from the amplifier voltages and motor constants; they
// are worked out in single precision, as the library's own arithmetic is, and truncated.
ULONG Scale(float fVolts, float fConstant)
{
    return static_cast<ULONG>(1.0f / ((fVolts / 32768.0f) * fConstant));
}

ULONG DacLimit(float fVolts, float fFullScale)
{
    return static_cast<ULONG>(fVolts / (fFullScale / 32768.0f));
}

CONFIG_ROW g_aRows[CONFIG_ROW_COUNT];
bool g_bRowsReady = false;

void SetRow(int nRow, ULONG nL, const float afR[6], ULONG nTtm13, ULONG nTtm46, ULONG nType13, ULONG nType46,
            ULONG nDac, const float afNominal[4], const float afTorque[4])
{
    CONFIG_ROW& r = g_aRows[nRow];
    r.nL = nL;
    memcpy(r.afR, afR, sizeof(r.afR));
    r.anTtm[0] = nTtm13;
    r.anTtm[1] = nTtm46;
    r.anMtrType[0] = nType13;
    r.anMtrType[1] = nType46;
    r.nAmpDACLimit = nDac;
    memcpy(r.afNominal, afNominal, sizeof(r.afNominal));
    memcpy(r.afTorque, afTorque, sizeof(r.afTorque));
}

void BuildRows()
{
    const ULONG nSmall = Scale(12.2f, 0.0235f);
    const ULONG nLarge = Scale(26.9f, 0.0525f);
    const ULONG nGimbal = Scale(0.9f, 0.0114f);
    const ULONG nNoLimit = ~0UL;
    const float afNone[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const float afSmallLimits[4] = {0.6f, 0.002f, 8.5f, 1.4f};
    const float afLargeLimits[4] = {0.3f, 0.0012f, 22.0f, 3.0f};
    const float afSixSmall[4] = {0.6f, 0.0012f, 8.5f, 1.4f};
    const float afSixTorque[4] = {5250.0f, 7500.0f, 512.0f, 512.0f};
    const float afR10[6] = {0.11507f, 0.13456f, 0.13456f, 1.0f, 1.0f, 1.0f};
    const float afR15[6] = {0.076912f, 0.090066f, 0.090066f, 1.0f, 1.0f, 1.0f};
    const float afR30[6] = {0.07555f, 0.0869487f, 0.0869487f, 1.0f, 1.0f, 1.0f};
    const float afR6_15[6] = {0.076912f, 0.090066f, 0.090066f, 0.013176619f, 0.013176619f, 0.045385416f};
    const float afR6_30[6] = {0.07555f, 0.0869487f, 0.0869487f, 0.013176619f, 0.013176619f, 0.045385416f};
    const float afRBravis[6] = {0.052297f, 0.0671641f, 0.0834805f, 0.8856825f, 0.0f, 0.0f};
    const float afRCirrel[6] = {0.13403f, 0.132996f, 0.13282f, 1.0f, 0.0f, 0.0f};
    const float afBravisLimits[4] = {1.0f, 0.005f, 7.9f, 1.75f};
    const float afCirrelLimits[4] = {0.5f, 0.003f, 3.3f, 0.88f};

    SetRow(0, 5500, afR10, nSmall, 0, 20, 0, nNoLimit, afSmallLimits, afNone);
    SetRow(1, 8250, afR15, nSmall, 0, 20, 0, nNoLimit, afSmallLimits, afNone);
    SetRow(2, 18000, afR30, nLarge, 0, 90, 0, nNoLimit, afLargeLimits, afNone);
    SetRow(3, 18000, afR30, nLarge, 0, 90, 0, nNoLimit, afLargeLimits, afNone);
    SetRow(4, 8250, afR6_15, nSmall, nGimbal, 20, 15, nNoLimit, afSixSmall, afNone);
    SetRow(5, 18000, afR6_30, nLarge, nGimbal, 90, 15, nNoLimit, afLargeLimits, afSixTorque);
    SetRow(6, 18000, afR6_30, nLarge, nGimbal, 90, 15, nNoLimit, afLargeLimits, afSixTorque);
    SetRow(7, 5250, afRBravis, 340000, 0, 7, 0, DacLimit(4.0f, 4.32f), afBravisLimits, afNone);
    SetRow(8, 5250, afRCirrel, 513708, 0, 8, 0, DacLimit(2.2f, 1.6f), afCirrelLimits, afNone);
    g_bRowsReady = true;
}

void SetSix(int* pn, int a, int b, int c, int d, int e, int f)
{
    pn[0] = a;
    pn[1] = b;
    pn[2] = c;
    pn[3] = d;
    pn[4] = e;
    pn[5] = f;
}

}  // namespace

const CONFIG_ROW* GetConfigRow(int nRow)
{
    if (nRow < 0 || nRow >= CONFIG_ROW_COUNT) {
        return nullptr;
    }
    if (!g_bRowsReady) {
        BuildRows();
    }
    return &g_aRows[nRow];
}

ULONG ModelTypeFromChoice(int nModelChoice)
{
    static const ULONG anTypes[MODEL_CHOICE_COUNT] = {KINETOR_MODEL_ALTURA_A, KINETOR_MODEL_ALTURA_T,
                                                      KINETOR_MODEL_ALTURA_6DOF, KINETOR_MODEL_BRAVIS,
                                                      KINETOR_MODEL_CIRREL};
    if (nModelChoice < 0 || nModelChoice >= MODEL_CHOICE_COUNT) {
        return 0;
    }
    return anTypes[nModelChoice];
}

int ChoiceFromModelType(ULONG nModelType)
{
    for (int i = 0; i < MODEL_CHOICE_COUNT; i++) {
        if (ModelTypeFromChoice(i) == nModelType) {
            return i;
        }
    }
    return -1;
}

ULONG CardTypeFromChoice(int nCardChoice)
{
    switch (nCardChoice) {
    case CARD_CHOICE_PCI:
        return KINETOR_CARD_PCI;
    case CARD_CHOICE_VME:
        return KINETOR_CARD_VME;
    case CARD_CHOICE_EPP:
        return KINETOR_CARD_EPP;
    default:
        return KINETOR_CARD_ISA;
    }
}

int ConfigRowIndex(int nModelChoice, int nWorkspace, int nWorkspace2)
{
    switch (nModelChoice) {
    case MODEL_CHOICE_ALTURA_A:
    case MODEL_CHOICE_ALTURA_T:
        return nWorkspace >= 0 && nWorkspace <= 3 ? nWorkspace : 1;
    case MODEL_CHOICE_ALTURA_6DOF:
        return 4 + (nWorkspace2 >= 0 && nWorkspace2 <= 2 ? nWorkspace2 : 0);
    case MODEL_CHOICE_BRAVIS:
        return 7;
    default:
        return 8;
    }
}

void ApplyConfigRow(CKinetorDevice* pDevice, const CONFIG_ROW* pRow)
{
    if (pDevice == nullptr || pRow == nullptr) {
        return;
    }
    CKinetorDevice& d = *pDevice;
    d.m_nL1 = d.m_nL2 = pRow->nL;
    d.m_fR1 = pRow->afR[0];
    d.m_fR2 = pRow->afR[1];
    d.m_fR3 = pRow->afR[2];
    d.m_fR4 = pRow->afR[3];
    d.m_fR5 = pRow->afR[4];
    d.m_fR6 = pRow->afR[5];
    d.m_nTtm1 = d.m_nTtm2 = d.m_nTtm3 = pRow->anTtm[0];
    d.m_nTtm4 = d.m_nTtm5 = d.m_nTtm6 = pRow->anTtm[1];
    d.m_nMtrType1 = d.m_nMtrType2 = d.m_nMtrType3 = pRow->anMtrType[0];
    d.m_nMtrType4 = d.m_nMtrType5 = d.m_nMtrType6 = pRow->anMtrType[1];
    d.m_nAmpDACLimit = pRow->nAmpDACLimit;
    d.m_fNominalMaxStiffness = pRow->afNominal[0];
    d.m_fNominalMaxDamping = pRow->afNominal[1];
    d.m_fNominalMaxForce = pRow->afNominal[2];
    d.m_fNominalMaxContinuousForce = pRow->afNominal[3];
    d.m_fNominalMaxTorqueStiffness = pRow->afTorque[0];
    d.m_fNominalMaxTorqueDamping = pRow->afTorque[1];
    d.m_fNominalMaxTorqueForce = pRow->afTorque[2];
    d.m_fNominalMaxTorqueContinuousForce = pRow->afTorque[3];
}

void ApplyCountsPerRevolution(CKinetorDevice* pDevice, int nModelChoice, int nWorkspace, int nMotor,
                              int nGimbal)
{
    if (pDevice == nullptr) {
        return;
    }
    CKinetorDevice& d = *pDevice;
    ULONG nBase = 0;
    ULONG nGimbalCPR = 0;
    switch (nModelChoice) {
    case MODEL_CHOICE_ALTURA_A:
    case MODEL_CHOICE_ALTURA_T:
        if (nWorkspace == 2) {
            nBase = 10160;
        } else if (nWorkspace == 3) {
            nBase = 10000;
        } else {
            nBase = nMotor == 0 ? 4000 : 2000;
        }
        nGimbalCPR = nGimbal == GIMBAL_CHOICE_HIRES ? 2000 : 512;
        d.m_nChannelSelect = nGimbal == GIMBAL_CHOICE_NONE ? 0 : 2;
        break;
    case MODEL_CHOICE_ALTURA_6DOF:
        nBase = nWorkspace == 2 ? 10160 : (nWorkspace == 3 ? 10000 : 4000);
        nGimbalCPR = 2048;
        break;
    case MODEL_CHOICE_BRAVIS:
        nBase = 4096;
        nGimbalCPR = 4468;
        break;
    default:
        nBase = 2048;
        nGimbalCPR = 4915;
        break;
    }
    d.m_nCPR1 = d.m_nCPR2 = d.m_nCPR3 = nBase;
    d.m_nCPR4 = d.m_nCPR5 = d.m_nCPR6 = nGimbalCPR;
}

void ApplyDerivedGeometry(CKinetorDevice* pDevice, int nModelChoice)
{
    if (pDevice == nullptr) {
        return;
    }
    CKinetorDevice& d = *pDevice;
    float afReset[6] = {0, 0, 0, 0, 0, 0};
    int anInk[6] = {0, 0, 0, 0, 0, 0};
    int anOffset[3] = {0, 0, 0};
    switch (nModelChoice) {
    case MODEL_CHOICE_ALTURA_T:
        afReset[0] = 3.14159f;
        break;
    case MODEL_CHOICE_BRAVIS:
        afReset[3] = afReset[4] = afReset[5] = 0.2617992f;
        SetSix(anInk, 0, -1660, 4000, 2048, 1676, 2048);
        anOffset[1] = -100;
        break;
    case MODEL_CHOICE_CIRREL:
        afReset[3] = afReset[4] = afReset[5] = 0.5235983f;
        SetSix(anInk, 0, -659, -910, 2048, 2654, 2048);
        anOffset[1] = -110;
        anOffset[2] = -35;
        break;
    default:
        break;
    }
    d.m_fResetAngle0 = afReset[0];
    d.m_fResetAngle1 = afReset[1];
    d.m_fResetAngle2 = afReset[2];
    d.m_fResetAngle3 = afReset[3];
    d.m_fResetAngle4 = afReset[4];
    d.m_fResetAngle5 = afReset[5];
    d.m_nInkWellEncoderOffset0 = anInk[0];
    d.m_nInkWellEncoderOffset1 = anInk[1];
    d.m_nInkWellEncoderOffset2 = anInk[2];
    d.m_nInkWellEncoderOffset3 = anInk[3];
    d.m_nInkWellEncoderOffset4 = anInk[4];
    d.m_nInkWellEncoderOffset5 = anInk[5];
    d.m_nWorkspaceOffset0 = anOffset[0];
    d.m_nWorkspaceOffset1 = anOffset[1];
    d.m_nWorkspaceOffset2 = anOffset[2];
}

BOOLEAN ApplyWorkspaceDimensions(CKinetorDevice* pDevice)
{
    if (pDevice == nullptr) {
        return FALSE;
    }
    CKinetorDevice& d = *pDevice;
    const ULONG nType = d.m_nModelType;
    const ULONG nL1 = d.m_nL1;
    if (nType == KINETOR_MODEL_ALTURA_A && nL1 == 5500) {
        SetSix(d.m_nMaxWorkspace, -260, 260, -106, 400, -61, 119);
        SetSix(d.m_nMaxUsableWorkspace, -85, 85, -5, 140, -30, 50);
        SetSix(d.m_nCubeWorkspace, -40, 40, -5, 75, -30, 50);
        d.m_nTableTopOffset = -10;
    } else if (nType == KINETOR_MODEL_ALTURA_A && nL1 == 8250) {
        SetSix(d.m_nMaxWorkspace, -390, 390, -168, 603, -112, 180);
        SetSix(d.m_nMaxUsableWorkspace, -140, 140, -20, 440, -78, 78);
        SetSix(d.m_nCubeWorkspace, -78, 78, -7, 149, -78, 78);
        d.m_nTableTopOffset = 34;
    } else if ((nType == KINETOR_MODEL_ALTURA_A || nType == KINETOR_MODEL_ALTURA_6DOF) && nL1 == 18000) {
        SetSix(d.m_nMaxWorkspace, -870, 870, -210, 1330, -650, 415);
        SetSix(d.m_nMaxUsableWorkspace, -450, 450, 0, 900, -150, 150);
        // The cube of the large arms spans the usable height: a cube whose bottom sat
        // above a top kept from another model would be empty.
        SetSix(d.m_nCubeWorkspace, -150, 150, 210, 510, -150, 150);
        d.m_nTableTopOffset = 210;
    } else if (nType == KINETOR_MODEL_ALTURA_T) {
        SetSix(d.m_nMaxWorkspace, -120, 120, -100, 125, -80, 145);
        SetSix(d.m_nMaxUsableWorkspace, -60, 60, -15, 40, -20, 35);
        SetSix(d.m_nCubeWorkspace, -30, 30, -20, 40, -25, 35);
        d.m_nTableTopOffset = -55;
    } else if (nType == KINETOR_MODEL_BRAVIS) {
        SetSix(d.m_nMaxWorkspace, -210, 210, -100, 165, -115, 130);
        SetSix(d.m_nMaxUsableWorkspace, -80, 80, -50, 70, -50, 70);
        SetSix(d.m_nCubeWorkspace, -60, 60, -50, 70, -50, 70);
        d.m_nTableTopOffset = -80;
    } else if (nType == KINETOR_MODEL_ALTURA_6DOF && nL1 == 8250) {
        SetSix(d.m_nMaxWorkspace, -390, 390, -160, 600, -120, 180);
        SetSix(d.m_nMaxUsableWorkspace, -130, 130, -20, 440, -50, 70);
        SetSix(d.m_nCubeWorkspace, -60, 60, -10, 110, -50, 70);
        d.m_nTableTopOffset = -31;
    } else if (nType == KINETOR_MODEL_CIRREL && nL1 == 5250) {
        SetSix(d.m_nMaxWorkspace, -210, 210, -110, 205, -85, 130);
        SetSix(d.m_nMaxUsableWorkspace, -80, 80, -60, 60, -35, 35);
        SetSix(d.m_nCubeWorkspace, -35, 35, -35, 35, -35, 35);
        d.m_nTableTopOffset = -90;
    } else {
        return FALSE;
    }
    return TRUE;
}
