// The fixed per-model parameters from which the hardware page derives every numeric field of
// a configuration: the user only chooses model, workspace, encoders and interface, and never
// types a link length or a gear ratio.
#ifndef CONFIG_TABLES_H
#define CONFIG_TABLES_H

#include "config/KinetorDevice.h"

// Choices of the model menu, in menu order.
enum {
    MODEL_CHOICE_ALTURA_A = 0,
    MODEL_CHOICE_ALTURA_T = 1,
    MODEL_CHOICE_ALTURA_6DOF = 2,
    MODEL_CHOICE_BRAVIS = 3,
    MODEL_CHOICE_CIRREL = 4,
    MODEL_CHOICE_COUNT = 5
};

// Choices of the interface menu, in menu order.
enum { CARD_CHOICE_ISA = 0, CARD_CHOICE_PCI = 1, CARD_CHOICE_VME = 2, CARD_CHOICE_EPP = 3 };

// Choices of the gimbal encoder menu.
enum { GIMBAL_CHOICE_NONE = 0, GIMBAL_CHOICE_HIRES = 1, GIMBAL_CHOICE_LORES = 2 };

#define CONFIG_ROW_COUNT 9
#define HIGH_FORCE_FACTOR 4.4f

typedef struct _CONFIG_ROW {
    ULONG nL;
    float afR[6];
    ULONG anTtm[2];        // motors 1-3, motors 4-6
    ULONG anMtrType[2];
    ULONG nAmpDACLimit;
    float afNominal[4];    // stiffness, damping, force, continuous force
    float afTorque[4];     // the same for the gimbal torques
} CONFIG_ROW;

// Row of the parameter table, or null for an index outside 0 .. CONFIG_ROW_COUNT-1.
const CONFIG_ROW* GetConfigRow(int nRow);

// Model type of the record (1..5) for a model-menu choice; 0 for an unknown choice.
ULONG ModelTypeFromChoice(int nModelChoice);
// Model-menu choice of a record's model type; -1 when the type is unknown.
int ChoiceFromModelType(ULONG nModelType);
// Interface type for an interface-menu choice.
ULONG CardTypeFromChoice(int nCardChoice);
// Row of the parameter table for a model choice and the two workspace choices.
int ConfigRowIndex(int nModelChoice, int nWorkspace, int nWorkspace2);

// Copies the row's link lengths, ratios, scales, motor types, DAC limit and limits.
void ApplyConfigRow(CKinetorDevice* pDevice, const CONFIG_ROW* pRow);
// Counts per revolution (and for Altura A and T the channel) of the choices.
void ApplyCountsPerRevolution(CKinetorDevice* pDevice, int nModelChoice, int nWorkspace, int nMotor,
                              int nGimbal);
// Reset angles, ink-well encoder offsets and workspace offsets of a model choice.
void ApplyDerivedGeometry(CKinetorDevice* pDevice, int nModelChoice);
// Maximum, usable and cube workspace and table top by the record's model type and L1; other
// combinations keep their bounds. TRUE when a row of the bounds table applied.
BOOLEAN ApplyWorkspaceDimensions(CKinetorDevice* pDevice);

#endif
