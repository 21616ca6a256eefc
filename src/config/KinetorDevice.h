// One named device configuration and its text file "Kinetor%d.ini". The record is the
// only reader and writer of that file; the interface base address is not held here but in
// the manager's process-wide address table, under the record's unit number.
#ifndef KINETOR_DEVICE_H
#define KINETOR_DEVICE_H

#include <stdio.h>

#include "KinetorTypes.h"
#include "config/Flt.h"

class CConfigScanner;

// Model types.
#define KINETOR_MODEL_ALTURA_A 1
#define KINETOR_MODEL_ALTURA_T 2
#define KINETOR_MODEL_BRAVIS 3
#define KINETOR_MODEL_ALTURA_6DOF 4
#define KINETOR_MODEL_CIRREL 5

// Interface (card) types.
#define KINETOR_CARD_ISA 0
#define KINETOR_CARD_UNUSED 1
#define KINETOR_CARD_VME 2
#define KINETOR_CARD_PCI 3
#define KINETOR_CARD_EPP 4
#define KINETOR_CARD_DBLEPP 5
#define KINETOR_CARD_1394 6

// Device configuration files are numbered 0 .. KINETOR_MAX_CONFIGS-1.
#define KINETOR_MAX_CONFIGS 20
#define KINETOR_NAME_SIZE 128
#define KINETOR_KEYWORD_SIZE 8

// The handle type of the 6-DOF stylus in use (index of the handle-type choice:
// 0 Pinch Capable, 1 ThumbPad, 2 Scissors, 3 Not Pinch Capable). Reading a 6-DOF file sets it.
extern "C" KINETOR_EXPORT short globalExtra6DOFOption;

// Staging record through which a file is read and written; it mirrors the file.
typedef struct _KINETOR_CONFIG_DATA {
    char szName[KINETOR_NAME_SIZE];
    char szModelType[KINETOR_KEYWORD_SIZE];
    ULONG nModelType;
    ULONG nL1;
    ULONG nL2;
    char szCardType[KINETOR_KEYWORD_SIZE];
    ULONG nCardType;
    ULONG nBaseAddr;
    ULONG nSlot;            // zero-based unit number
    ULONG nWatchdogTimer;
    ULONG nChannel;
    float fR1, fR2, fR3, fR4, fR5, fR6;
    ULONG nTtm1, nTtm2, nTtm3, nTtm4, nTtm5, nTtm6;
    ULONG nCPR1, nCPR2, nCPR3, nCPR4, nCPR5, nCPR6;
    ULONG nMtrType1, nMtrType2, nMtrType3, nMtrType4, nMtrType5, nMtrType6;
    BOOL nHighForce;
    ULONG nAmpDACLimit;
    float fNominalMaxStiffness;
    float fNominalMaxDamping;
    float fNominalMaxForce;
    float fNominalMaxContinuousForce;
    float fResetAngles[6];
    int nWorkspaceOffsets[3];
    int nMaxWorkspace[6];
    int nMaxUsableWorkspace[6];
    int nCubeWorkspace[6];
    int nTableTopOffset;
    int nInkWellEncoderOffsets[6];
    ULONG n1394SerialNumber;
    int nExtra6DOFOption;
} KINETOR_CONFIG_DATA;

class CKinetorDevice {
public:
    CKinetorDevice();
    ~CKinetorDevice();

    // Joins directory and name with "%s/%s" and opens read-only, or for writing with create
    // and truncate (mode 0666 before the umask). Null when the path does not fit or the open fails.
    // The record's own writers do not write through it: they replace files whole
    // (ReplaceConfigurationFile), so that a failed write cannot tear a stored file.
    FILE* OpenConfigurationFile(const char* pszPath, const char* pszFileName, BOOL bReadOnly);
    // TRUE on success; on failure the record is left exactly as it was.
    BOOLEAN ReadConfigurationFile(const char* pszFileName);
    // TRUE when the file now holds the whole record; on failure the stored file is unchanged.
    BOOLEAN WriteConfigurationFile(const char* pszFileName);
    // Removes the file from the directory the writer uses; other directories keep theirs.
    void DeleteConfigurationFile(const char* pszFileName);
    // Replaces the named file whole with nLength bytes of pszText, in $KINETOR_CONFIG_FILES
    // when something can be created there, else in the fixed directory. TRUE when the new
    // text is in place; on failure the stored file is left as it was.
    BOOLEAN ReplaceConfigurationFile(const char* pszFileName, const char* pszText, size_t nLength);

    BOOLEAN Read();
    BOOLEAN Write();

    char m_szName[KINETOR_NAME_SIZE];
    int m_nIndex;
    ULONG m_nModelType;
    ULONG m_nL1;
    ULONG m_nL2;
    ULONG m_nCardType;
    ULONG m_nTimeoutCircuit;
    ULONG m_nChannelSelect;
    float m_fR1, m_fR2, m_fR3, m_fR4, m_fR5, m_fR6;
    ULONG m_nTtm1, m_nTtm2, m_nTtm3, m_nTtm4, m_nTtm5, m_nTtm6;
    ULONG m_nCPR1, m_nCPR2, m_nCPR3, m_nCPR4, m_nCPR5, m_nCPR6;
    ULONG m_nMtrType1, m_nMtrType2, m_nMtrType3, m_nMtrType4, m_nMtrType5, m_nMtrType6;
    ULONG m_nHighForce;
    ULONG m_nAmpDACLimit;
    float m_fNominalMaxStiffness;
    float m_fNominalMaxDamping;
    float m_fNominalMaxForce;
    float m_fNominalMaxContinuousForce;
    float m_fNominalMaxTorqueStiffness;
    float m_fNominalMaxTorqueDamping;
    float m_fNominalMaxTorqueForce;
    float m_fNominalMaxTorqueContinuousForce;
    float m_fResetAngle0, m_fResetAngle1, m_fResetAngle2, m_fResetAngle3, m_fResetAngle4,
        m_fResetAngle5;
    int m_nWorkspaceOffset0, m_nWorkspaceOffset1, m_nWorkspaceOffset2;
    int m_nInkWellEncoderOffset0, m_nInkWellEncoderOffset1, m_nInkWellEncoderOffset2,
        m_nInkWellEncoderOffset3, m_nInkWellEncoderOffset4, m_nInkWellEncoderOffset5;
    int m_nMaxWorkspace[6];
    int m_nMaxUsableWorkspace[6];
    int m_nCubeWorkspace[6];
    int m_nTableTopOffset;
    ULONG m_nISADevice;
    ULONG m_nPCIDevice;
    ULONG m_nEPPDevice;
    ULONG m_nVMEDevice;
    ULONG m_nPortMode;
    ULONG m_n1394SerialNumber;
    ULONG m_nExtra6DOFOption;

private:
    // Opens pszFileName read-only in ".", then $KINETOR_CONFIG_FILES, then the fixed directory.
    FILE* OpenForRead(const char* pszFileName);
    BOOLEAN ParseFile(FILE* pFile, KINETOR_CONFIG_DATA& d, BOOLEAN& bHasOption, short& nOption);
    BOOLEAN ParseText(CConfigScanner& sc, KINETOR_CONFIG_DATA& d, BOOLEAN& bHasOption, short& nOption);
    BOOLEAN ParseModelBlock(CConfigScanner& sc, KINETOR_CONFIG_DATA& d);
    void FillStaging(KINETOR_CONFIG_DATA& d) const;
    BOOLEAN FormatStaging(const KINETOR_CONFIG_DATA& d, char* pszText, size_t nSize, size_t& nLength) const;
};

#endif
