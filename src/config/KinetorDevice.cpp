#include "config/KinetorDevice.h"

#include <climits>
#include <fcntl.h>
#include <locale.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/ConfigScanner.h"
#include "config/KinetorMgr.h"
#include "config/KinetorPaths.h"
#include "platform/ReplaceFile.h"

extern "C" {
KINETOR_EXPORT short globalExtra6DOFOption = 3;
}

namespace {

// A configuration file is a few hundred bytes; anything much larger is not one.
const size_t kMaxFileSize = 64 * 1024;
// Room for the longest record the writer can produce.
const size_t kWriteBufferSize = 8192;
const int kMissingOption = 77;

const char* const aszModelKeywords[] = {"", "a", "t", "p", "p6", "cirrel"};
const char* const aszCardKeywords[] = {"ISA", "", "VME", "PCI", "EPP", "DBLEPP", "1394"};
const ULONG kModelCount = sizeof(aszModelKeywords) / sizeof(aszModelKeywords[0]);
const ULONG kCardCount = sizeof(aszCardKeywords) / sizeof(aszCardKeywords[0]);

bool EqualsIgnoreCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; a++, b++) {
        char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (ca != cb) {
            return false;
        }
    }
    return *a == *b;
}

// Index of the keyword in the table, or -1; the empty entries never match.
int FindKeyword(const char* pszKeyword, const char* const* aszTable, ULONG nCount)
{
    if (pszKeyword[0] == '\0') {
        return -1;
    }
    for (ULONG i = 0; i < nCount; i++) {
        if (aszTable[i][0] != '\0' && EqualsIgnoreCase(pszKeyword, aszTable[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The file stores the signed low 32 bits of every integer.
int Low32(ULONG v)
{
    return static_cast<int>(static_cast<uint32_t>(v));
}

locale_t CLocale()
{
    static locale_t s_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return s_locale;
}

// Appends formatted text to a bounded buffer; false once it would not fit.
bool AppendText(char* pszBuffer, size_t nSize, size_t& nLength, const char* pszFormat, ...)
    __attribute__((format(printf, 4, 5)));

bool AppendText(char* pszBuffer, size_t nSize, size_t& nLength, const char* pszFormat, ...)
{
    if (nLength >= nSize) {
        return false;
    }
    va_list args;
    va_start(args, pszFormat);
    int n = vsnprintf(pszBuffer + nLength, nSize - nLength, pszFormat, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= nSize - nLength) {
        return false;
    }
    nLength += static_cast<size_t>(n);
    return true;
}

// Opens a path for writing without truncating it: used only to learn whether the writer
// could use that directory, so a file about to be removed is not emptied first.
bool ProbeWritable(const char* pszDir, const char* pszFileName, char* pszPath, size_t nSize)
{
    if (!FormConfigPath(pszPath, nSize, pszDir, pszFileName)) {
        return false;
    }
    int fd = open(pszPath, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

}  // namespace

CKinetorDevice::CKinetorDevice()
{
    memset(m_szName, 0, sizeof(m_szName));
    m_nIndex = 0;
    m_nModelType = KINETOR_MODEL_ALTURA_A;
    m_nL1 = 8250;
    m_nL2 = 8250;
    m_nCardType = KINETOR_CARD_ISA;
    m_nTimeoutCircuit = 1;
    m_nChannelSelect = 2;
    m_fR1 = FLT(0, 76912, 6);
    m_fR2 = FLT(0, 90066, 6);
    m_fR3 = FLT(0, 90066, 6);
    m_fR4 = FLT(1, 0, 1);
    m_fR5 = FLT(1, 0, 1);
    m_fR6 = FLT(1, 0, 1);
    // 1 / ((12.2 / 32768) * 0.0235) in single precision, integer part.
    m_nTtm1 = m_nTtm2 = m_nTtm3 = 114293;
    m_nTtm4 = m_nTtm5 = m_nTtm6 = 0;
    m_nCPR1 = m_nCPR2 = m_nCPR3 = 4000;
    m_nCPR4 = m_nCPR5 = m_nCPR6 = 2000;
    m_nMtrType1 = m_nMtrType2 = m_nMtrType3 = 20;
    m_nMtrType4 = m_nMtrType5 = m_nMtrType6 = 0;
    m_nHighForce = 0;
    m_nAmpDACLimit = ~0UL;
    m_fNominalMaxStiffness = FLT(0, 6, 1);
    m_fNominalMaxDamping = FLT(0, 2, 3);
    m_fNominalMaxForce = FLT(8, 5, 1);
    m_fNominalMaxContinuousForce = FLT(1, 4, 1);
    m_fNominalMaxTorqueStiffness = 0.0f;
    m_fNominalMaxTorqueDamping = 0.0f;
    m_fNominalMaxTorqueForce = 0.0f;
    m_fNominalMaxTorqueContinuousForce = 0.0f;
    m_fResetAngle0 = m_fResetAngle1 = m_fResetAngle2 = 0.0f;
    m_fResetAngle3 = m_fResetAngle4 = m_fResetAngle5 = 0.0f;
    m_nWorkspaceOffset0 = m_nWorkspaceOffset1 = m_nWorkspaceOffset2 = 0;
    m_nInkWellEncoderOffset0 = m_nInkWellEncoderOffset1 = m_nInkWellEncoderOffset2 = 0;
    m_nInkWellEncoderOffset3 = m_nInkWellEncoderOffset4 = m_nInkWellEncoderOffset5 = 0;
    static const int anMaxWorkspace[6] = {-390, 390, -168, 603, -112, 180};
    static const int anMaxUsableWorkspace[6] = {-140, 140, -20, 440, -78, 78};
    static const int anCubeWorkspace[6] = {-78, 78, -7, 149, -78, 78};
    memcpy(m_nMaxWorkspace, anMaxWorkspace, sizeof(m_nMaxWorkspace));
    memcpy(m_nMaxUsableWorkspace, anMaxUsableWorkspace, sizeof(m_nMaxUsableWorkspace));
    memcpy(m_nCubeWorkspace, anCubeWorkspace, sizeof(m_nCubeWorkspace));
    m_nTableTopOffset = 34;
    m_nISADevice = m_nPCIDevice = m_nEPPDevice = m_nVMEDevice = 1;
    m_nPortMode = 0;
    m_n1394SerialNumber = 0;
    m_nExtra6DOFOption = 0;
}

CKinetorDevice::~CKinetorDevice() {}

FILE* CKinetorDevice::OpenConfigurationFile(const char* pszPath, const char* pszFileName, BOOL bReadOnly)
{
    char szPath[KINETOR_MAX_PATH + 1];
    if (!FormConfigPath(szPath, sizeof(szPath), pszPath, pszFileName)) {
        return nullptr;
    }
    // Non-blocking open so that a FIFO or device node under a configuration name cannot
    // hang the caller; only regular files are configuration files.
    int nFlags = bReadOnly ? (O_RDONLY | O_CLOEXEC | O_NONBLOCK)
                           : (O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    int fd = open(szPath, nFlags, 0666);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    int nStatus = fcntl(fd, F_GETFL);
    if (nStatus >= 0) {
        fcntl(fd, F_SETFL, nStatus & ~O_NONBLOCK);
    }
    FILE* pFile = fdopen(fd, bReadOnly ? "r" : "w");
    if (pFile == nullptr) {
        close(fd);
    }
    return pFile;
}

FILE* CKinetorDevice::OpenForRead(const char* pszFileName)
{
    FILE* pFile = OpenConfigurationFile(".", pszFileName, TRUE);
    if (pFile == nullptr && GetConfigFilesDir() != nullptr) {
        pFile = OpenConfigurationFile(GetConfigFilesDir(), pszFileName, TRUE);
    }
    if (pFile == nullptr) {
        pFile = OpenConfigurationFile(g_szKinetorConfigDir, pszFileName, TRUE);
    }
    return pFile;
}

BOOLEAN CKinetorDevice::ReplaceConfigurationFile(const char* pszFileName, const char* pszText, size_t nLength)
{
    if (pszFileName == nullptr || (pszText == nullptr && nLength > 0)) {
        return FALSE;
    }
    // The fixed directory is the fallback only for a configuration directory in which
    // nothing can be created; a write that started there and failed is a failure, not a
    // reason to put the file somewhere else.
    char szPath[KINETOR_MAX_PATH + 1];
    const char* pszDir = GetConfigFilesDir();
    if (pszDir != nullptr && FormConfigPath(szPath, sizeof(szPath), pszDir, pszFileName)) {
        BOOLEAN bCreated = FALSE;
        if (ReplaceFileContents(szPath, pszText, nLength, &bCreated)) {
            return TRUE;
        }
        if (bCreated) {
            return FALSE;
        }
    }
    if (!FormConfigPath(szPath, sizeof(szPath), g_szKinetorConfigDir, pszFileName)) {
        return FALSE;
    }
    return ReplaceFileContents(szPath, pszText, nLength);
}

BOOLEAN CKinetorDevice::ParseFile(FILE* pFile, KINETOR_CONFIG_DATA& d, BOOLEAN& bHasOption, short& nOption)
{
    bHasOption = FALSE;
    nOption = 0;
    char* pBuffer = static_cast<char*>(malloc(kMaxFileSize + 1));
    if (pBuffer == nullptr) {
        return FALSE;
    }
    size_t nLength = fread(pBuffer, 1, kMaxFileSize + 1, pFile);
    BOOLEAN bResult = FALSE;
    // A text configuration never holds a NUL; a file that does is binary or damaged. End of
    // file is a normal end for the last line, with or without its line feed and after any
    // blank lines: files are replaced whole, so a reader never meets one cut short by a
    // rewrite, and hand-edited files often end so.
    if (nLength > 0 && nLength <= kMaxFileSize && !ferror(pFile) && memchr(pBuffer, '\0', nLength) == nullptr) {
        CConfigScanner scanner(pBuffer, nLength);
        bResult = ParseText(scanner, d, bHasOption, nOption);
    }
    free(pBuffer);
    return bResult;
}

BOOLEAN CKinetorDevice::ParseText(CConfigScanner& sc, KINETOR_CONFIG_DATA& d, BOOLEAN& bHasOption,
                                  short& nOption)
{
    // Name line: at most 127 characters and its line feed.
    char szLine[KINETOR_NAME_SIZE];
    if (!sc.ReadLine(szLine, sizeof(szLine))) {
        return FALSE;
    }
    size_t nLen = strlen(szLine);
    if (nLen > 0 && szLine[nLen - 1] == '\n') {
        szLine[--nLen] = '\0';
    } else if (sc.PeekChar() >= 0 && sc.PeekChar() != '\n' && sc.PeekChar() != '\r') {
        // The line goes on beyond the name field; its tail must not be taken for the
        // model keyword.
        return FALSE;
    }
    memcpy(d.szName, szLine, nLen + 1);

    SCAN_TARGET aModel[] = {{SCAN_KEYWORD, d.szModelType}, {SCAN_LOW32, &d.nL1}, {SCAN_LOW32, &d.nL2}};
    if (sc.Scan("%s\n%d, %d\n", aModel, 3) != 3) {
        return FALSE;
    }
    int nModel = FindKeyword(d.szModelType, aszModelKeywords, kModelCount);
    if (nModel < 0) {
        return FALSE;
    }
    d.nModelType = static_cast<ULONG>(nModel);

    SCAN_TARGET aCard[] = {{SCAN_KEYWORD, d.szCardType}};
    if (sc.Scan("%s\n", aCard, 1) != 1) {
        return FALSE;
    }
    int nCard = FindKeyword(d.szCardType, aszCardKeywords, kCardCount);
    if (nCard < 0) {
        return FALSE;
    }
    d.nCardType = static_cast<ULONG>(nCard);

    int n;
    if (d.nCardType == KINETOR_CARD_PCI) {
        SCAN_TARGET aAddr[] = {{SCAN_LOW32, &d.nBaseAddr}, {SCAN_LOW32, &d.nSlot}};
        n = sc.Scan("%d, %d\n", aAddr, 2);
    } else {
        SCAN_TARGET aAddr[] = {{SCAN_HEX32, &d.nBaseAddr}, {SCAN_LOW32, &d.nSlot}};
        n = sc.Scan("%x, %d\n", aAddr, 2);
    }
    if (n == 1) {
        d.nSlot = 0;
    } else if (n != 2) {
        return FALSE;
    }

    SCAN_TARGET aTimeout[] = {{SCAN_LOW32, &d.nWatchdogTimer}, {SCAN_LOW32, &d.nChannel}};
    if (sc.Scan("%d, %d\n", aTimeout, 2) != 2) {
        return FALSE;
    }

    if (!ParseModelBlock(sc, d)) {
        return FALSE;
    }

    // Workspace bounds: the whole block or none of it.
    SCAN_TARGET aWorkspace[6];
    int nSum = 0;
    int* apBounds[3] = {d.nMaxWorkspace, d.nMaxUsableWorkspace, d.nCubeWorkspace};
    for (int nBlock = 0; nBlock < 3; nBlock++) {
        for (int i = 0; i < 6; i++) {
            aWorkspace[i].eKind = SCAN_INT;
            aWorkspace[i].pValue = &apBounds[nBlock][i];
        }
        nSum += sc.Scan("%d, %d, %d, %d, %d, %d\n", aWorkspace, 6);
    }
    SCAN_TARGET aTableTop[] = {{SCAN_INT, &d.nTableTopOffset}};
    nSum += sc.Scan("%d\n", aTableTop, 1);
    if (nSum <= 0) {
        memset(d.nMaxWorkspace, 0, sizeof(d.nMaxWorkspace));
        memset(d.nMaxUsableWorkspace, 0, sizeof(d.nMaxUsableWorkspace));
        memset(d.nCubeWorkspace, 0, sizeof(d.nCubeWorkspace));
        d.nTableTopOffset = 0;
    } else if (nSum != 19) {
        return FALSE;
    }

    // A Bravis on FireWire carries the Cirrel's trailer: it docks in an inkwell too, and its
    // board is found by the serial number, which has no other place in the file.
    const bool bBravis1394 = d.nModelType == KINETOR_MODEL_BRAVIS && d.nCardType == KINETOR_CARD_1394;
    switch (bBravis1394 ? static_cast<ULONG>(KINETOR_MODEL_CIRREL) : d.nModelType) {
    case KINETOR_MODEL_CIRREL: {
        SCAN_TARGET aTrailer[7];
        for (int i = 0; i < 6; i++) {
            aTrailer[i].eKind = SCAN_INT;
            aTrailer[i].pValue = &d.nInkWellEncoderOffsets[i];
        }
        aTrailer[6].eKind = SCAN_LOW32;
        aTrailer[6].pValue = &d.n1394SerialNumber;
        n = sc.Scan("%d, %d, %d, %d, %d, %d\n%d\n", aTrailer, 7);
        if (n >= 1 && n <= 5) {
            return FALSE;
        }
        break;
    }
    case KINETOR_MODEL_ALTURA_A: {
        int nHighForce = 0;
        SCAN_TARGET aTrailer[] = {{SCAN_INT, &nHighForce}};
        n = sc.Scan("%d\n", aTrailer, 1);
        if (n == 0) {
            return FALSE;
        }
        // The flag is one byte wide; a larger number is not a flag value.
        if (nHighForce < 0 || nHighForce > 255) {
            return FALSE;
        }
        d.nHighForce = static_cast<BOOL>(nHighForce);
        break;
    }
    case KINETOR_MODEL_ALTURA_6DOF: {
        int nValue = kMissingOption;
        SCAN_TARGET aTrailer[] = {{SCAN_INT, &nValue}};
        sc.Scan("%d\n", aTrailer, 1);
        // The option is a handle-type index held in a short.
        if (nValue < 0 || nValue > SHRT_MAX) {
            return FALSE;
        }
        d.nExtra6DOFOption = nValue;
        nOption = static_cast<short>(nValue);
        bHasOption = TRUE;
        break;
    }
    default:
        break;
    }
    return !sc.HasRangeError();
}

BOOLEAN CKinetorDevice::ParseModelBlock(CConfigScanner& sc, KINETOR_CONFIG_DATA& d)
{
    const float fStiffness = FLT(0, 6, 1);
    switch (d.nModelType) {
    case KINETOR_MODEL_ALTURA_A:
    case KINETOR_MODEL_ALTURA_T: {
        SCAN_TARGET aBlock[] = {
            {SCAN_FLOAT, &d.fR1}, {SCAN_FLOAT, &d.fR2}, {SCAN_LOW32, &d.nTtm1},
            {SCAN_LOW32, &d.nCPR1}, {SCAN_LOW32, &d.nCPR4}, {SCAN_LOW32, &d.nMtrType1},
            {SCAN_LOW32, &d.nAmpDACLimit}, {SCAN_FLOAT, &d.fNominalMaxStiffness},
            {SCAN_FLOAT, &d.fNominalMaxDamping}, {SCAN_FLOAT, &d.fNominalMaxForce},
            {SCAN_FLOAT, &d.fNominalMaxContinuousForce}, {SCAN_FLOAT, &d.fResetAngles[0]},
            {SCAN_FLOAT, &d.fResetAngles[1]}, {SCAN_FLOAT, &d.fResetAngles[2]},
            {SCAN_FLOAT, &d.fResetAngles[3]}, {SCAN_FLOAT, &d.fResetAngles[4]},
            {SCAN_FLOAT, &d.fResetAngles[5]}};
        int n = sc.Scan("%f, %f\n%d\n%d, %d\n%d\n%d\n%f, %f, %f, %f\n%f, %f, %f, %f, %f, %f\n", aBlock, 17);
        switch (n) {
        case 4:
        case 5:
            d.nMtrType1 = 20;
            d.fNominalMaxStiffness = fStiffness;
            break;
        case 6:
            d.fNominalMaxStiffness = fStiffness;
            break;
        case 7:
        case 11:
        case 14:
        case 17:
            break;
        default:
            return FALSE;
        }
        d.fR3 = d.fR2;
        d.fR4 = d.fR5 = d.fR6 = 1.0f;
        break;
    }
    case KINETOR_MODEL_BRAVIS:
    case KINETOR_MODEL_CIRREL: {
        SCAN_TARGET aBlock[] = {
            {SCAN_FLOAT, &d.fR1}, {SCAN_FLOAT, &d.fR2}, {SCAN_FLOAT, &d.fR3}, {SCAN_FLOAT, &d.fR4},
            {SCAN_LOW32, &d.nTtm1}, {SCAN_LOW32, &d.nCPR1}, {SCAN_LOW32, &d.nCPR4},
            {SCAN_LOW32, &d.nMtrType1}, {SCAN_LOW32, &d.nAmpDACLimit},
            {SCAN_FLOAT, &d.fNominalMaxStiffness}, {SCAN_FLOAT, &d.fNominalMaxDamping},
            {SCAN_FLOAT, &d.fNominalMaxForce}, {SCAN_FLOAT, &d.fNominalMaxContinuousForce},
            {SCAN_FLOAT, &d.fResetAngles[0]}, {SCAN_FLOAT, &d.fResetAngles[1]},
            {SCAN_FLOAT, &d.fResetAngles[2]}, {SCAN_FLOAT, &d.fResetAngles[3]},
            {SCAN_FLOAT, &d.fResetAngles[4]}, {SCAN_FLOAT, &d.fResetAngles[5]},
            {SCAN_INT, &d.nWorkspaceOffsets[0]}, {SCAN_INT, &d.nWorkspaceOffsets[1]},
            {SCAN_INT, &d.nWorkspaceOffsets[2]}};
        int n = sc.Scan("%f, %f, %f, %f\n%d\n%d, %d\n%d\n%d\n%f, %f, %f, %f\n%f, %f, %f, %f, %f, %f\n%d, %d, %d\n",
                        aBlock, 22);
        bool bCirrel = d.nModelType == KINETOR_MODEL_CIRREL;
        switch (n) {
        case 6:
        case 7:
            if (bCirrel) {
                d.nMtrType1 = 8;
                d.fNominalMaxStiffness = FLT(0, 5, 1);
                d.fNominalMaxDamping = FLT(0, 2, 3);
                d.fNominalMaxForce = FLT(3, 3, 1);
                d.fNominalMaxContinuousForce = FLT(0, 88, 2);
            } else {
                d.nMtrType1 = 20;
                d.fNominalMaxStiffness = fStiffness;
            }
            break;
        case 8:
            d.fNominalMaxStiffness = fStiffness;
            if (bCirrel) {
                d.fNominalMaxDamping = FLT(0, 2, 3);
                d.fNominalMaxForce = FLT(8, 5, 1);
                d.fNominalMaxContinuousForce = FLT(1, 4, 1);
            }
            break;
        case 9:
        case 13:
        case 16:
        case 19:
        case 22:
            break;
        default:
            return FALSE;
        }
        d.fR5 = d.fR6 = 0.0f;
        break;
    }
    case KINETOR_MODEL_ALTURA_6DOF: {
        float* apRatios[6] = {&d.fR1, &d.fR2, &d.fR3, &d.fR4, &d.fR5, &d.fR6};
        ULONG* apTtm[6] = {&d.nTtm1, &d.nTtm2, &d.nTtm3, &d.nTtm4, &d.nTtm5, &d.nTtm6};
        ULONG* apCPR[6] = {&d.nCPR1, &d.nCPR2, &d.nCPR3, &d.nCPR4, &d.nCPR5, &d.nCPR6};
        ULONG* apMtr[6] = {&d.nMtrType1, &d.nMtrType2, &d.nMtrType3, &d.nMtrType4, &d.nMtrType5,
                           &d.nMtrType6};
        SCAN_TARGET aSix[6];
        int nSum = 0;
        for (int i = 0; i < 6; i++) {
            aSix[i].eKind = SCAN_FLOAT;
            aSix[i].pValue = apRatios[i];
        }
        nSum += sc.Scan("%f, %f, %f, %f, %f, %f\n", aSix, 6);
        ULONG** aapRows[3] = {apTtm, apCPR, apMtr};
        for (int nRow = 0; nRow < 3; nRow++) {
            for (int i = 0; i < 6; i++) {
                aSix[i].eKind = SCAN_LOW32;
                aSix[i].pValue = aapRows[nRow][i];
            }
            nSum += sc.Scan("%d, %d, %d, %d, %d, %d\n", aSix, 6);
        }
        SCAN_TARGET aDac[] = {{SCAN_LOW32, &d.nAmpDACLimit}};
        nSum += sc.Scan("%d\n", aDac, 1);
        SCAN_TARGET aNominal[] = {{SCAN_FLOAT, &d.fNominalMaxStiffness}, {SCAN_FLOAT, &d.fNominalMaxDamping},
                                  {SCAN_FLOAT, &d.fNominalMaxForce},
                                  {SCAN_FLOAT, &d.fNominalMaxContinuousForce}};
        nSum += sc.Scan("%f, %f, %f, %f\n", aNominal, 4);
        for (int i = 0; i < 6; i++) {
            aSix[i].eKind = SCAN_FLOAT;
            aSix[i].pValue = &d.fResetAngles[i];
        }
        nSum += sc.Scan("%f, %f, %f, %f, %f, %f\n", aSix, 6);
        return nSum > 24 ? TRUE : FALSE;
    }
    default:
        return FALSE;
    }

    // The short blocks carry one scale, one pair of counts and one motor type.
    d.nTtm2 = d.nTtm3 = d.nTtm1;
    d.nTtm4 = d.nTtm5 = d.nTtm6 = 0;
    d.nCPR2 = d.nCPR3 = d.nCPR1;
    d.nCPR5 = d.nCPR6 = d.nCPR4;
    d.nMtrType2 = d.nMtrType3 = d.nMtrType1;
    d.nMtrType4 = d.nMtrType5 = d.nMtrType6 = 0;
    return TRUE;
}

BOOLEAN CKinetorDevice::ReadConfigurationFile(const char* pszFileName)
{
    CKinetorMgr mgr;
    if (pszFileName == nullptr) {
        return FALSE;
    }
    FILE* pFile = OpenForRead(pszFileName);
    if (pFile == nullptr) {
        return FALSE;
    }
    KINETOR_CONFIG_DATA d;
    memset(&d, 0, sizeof(d));
    BOOLEAN bHasOption = FALSE;
    short nOption = 0;
    BOOLEAN bParsed = ParseFile(pFile, d, bHasOption, nOption);
    fclose(pFile);
    if (!bParsed) {
        return FALSE;
    }

    memcpy(m_szName, d.szName, sizeof(m_szName));
    m_szName[sizeof(m_szName) - 1] = '\0';
    m_nModelType = d.nModelType;
    m_nCardType = d.nCardType;
    m_nL1 = d.nL1;
    m_nL2 = d.nL2;
    m_nTimeoutCircuit = d.nWatchdogTimer;
    m_nChannelSelect = d.nChannel;
    m_fR1 = d.fR1;
    m_fR2 = d.fR2;
    m_fR3 = d.fR3;
    m_fR4 = d.fR4;
    m_fR5 = d.fR5;
    m_fR6 = d.fR6;
    m_nTtm1 = d.nTtm1;
    m_nTtm2 = d.nTtm2;
    m_nTtm3 = d.nTtm3;
    m_nTtm4 = d.nTtm4;
    m_nTtm5 = d.nTtm5;
    m_nTtm6 = d.nTtm6;
    m_nCPR1 = d.nCPR1;
    m_nCPR2 = d.nCPR2;
    m_nCPR3 = d.nCPR3;
    m_nCPR4 = d.nCPR4;
    m_nCPR5 = d.nCPR5;
    m_nCPR6 = d.nCPR6;
    m_nMtrType1 = d.nMtrType1;
    m_nMtrType2 = d.nMtrType2;
    m_nMtrType3 = d.nMtrType3;
    m_nMtrType4 = d.nMtrType4;
    m_nMtrType5 = d.nMtrType5;
    m_nMtrType6 = d.nMtrType6;
    m_nHighForce = d.nHighForce & 0xFF;
    m_nAmpDACLimit = d.nAmpDACLimit;
    m_fNominalMaxStiffness = d.fNominalMaxStiffness;
    m_fNominalMaxDamping = d.fNominalMaxDamping;
    m_fNominalMaxForce = d.fNominalMaxForce;
    m_fNominalMaxContinuousForce = d.fNominalMaxContinuousForce;
    m_fResetAngle0 = d.fResetAngles[0];
    m_fResetAngle1 = d.fResetAngles[1];
    m_fResetAngle2 = d.fResetAngles[2];
    m_fResetAngle3 = d.fResetAngles[3];
    m_fResetAngle4 = d.fResetAngles[4];
    m_fResetAngle5 = d.fResetAngles[5];
    m_nWorkspaceOffset0 = d.nWorkspaceOffsets[0];
    m_nWorkspaceOffset1 = d.nWorkspaceOffsets[1];
    m_nWorkspaceOffset2 = d.nWorkspaceOffsets[2];
    m_nInkWellEncoderOffset0 = d.nInkWellEncoderOffsets[0];
    m_nInkWellEncoderOffset1 = d.nInkWellEncoderOffsets[1];
    m_nInkWellEncoderOffset2 = d.nInkWellEncoderOffsets[2];
    m_nInkWellEncoderOffset3 = d.nInkWellEncoderOffsets[3];
    m_nInkWellEncoderOffset4 = d.nInkWellEncoderOffsets[4];
    m_nInkWellEncoderOffset5 = d.nInkWellEncoderOffsets[5];
    memcpy(m_nMaxWorkspace, d.nMaxWorkspace, sizeof(m_nMaxWorkspace));
    memcpy(m_nMaxUsableWorkspace, d.nMaxUsableWorkspace, sizeof(m_nMaxUsableWorkspace));
    memcpy(m_nCubeWorkspace, d.nCubeWorkspace, sizeof(m_nCubeWorkspace));
    m_nTableTopOffset = d.nTableTopOffset;
    m_n1394SerialNumber = d.n1394SerialNumber;
    m_nExtra6DOFOption = static_cast<ULONG>(d.nExtra6DOFOption);
    m_nISADevice = m_nPCIDevice = m_nEPPDevice = m_nVMEDevice = d.nSlot + 1;
    if (bHasOption) {
        globalExtra6DOFOption = nOption;
    }

    switch (m_nCardType) {
    case KINETOR_CARD_ISA:
        mgr.SetISAAddress(m_nISADevice, d.nBaseAddr);
        break;
    case KINETOR_CARD_VME:
        mgr.SetVMEAddress(m_nVMEDevice, d.nBaseAddr);
        break;
    case KINETOR_CARD_EPP:
    case KINETOR_CARD_DBLEPP:
        mgr.SetEPPAddress(m_nEPPDevice, d.nBaseAddr);
        mgr.SetPortMode(m_nEPPDevice, 0);
        break;
    default:
        break;
    }
    return TRUE;
}

void CKinetorDevice::FillStaging(KINETOR_CONFIG_DATA& d) const
{
    CKinetorMgr mgr;
    memset(&d, 0, sizeof(d));
    snprintf(d.szName, sizeof(d.szName), "%.*s", static_cast<int>(sizeof(m_szName) - 1), m_szName);
    if (m_nModelType < kModelCount) {
        snprintf(d.szModelType, sizeof(d.szModelType), "%s", aszModelKeywords[m_nModelType]);
    }
    if (m_nCardType < kCardCount) {
        snprintf(d.szCardType, sizeof(d.szCardType), "%s", aszCardKeywords[m_nCardType]);
    }
    d.nModelType = m_nModelType;
    d.nL1 = m_nL1;
    d.nL2 = m_nL2;
    d.nCardType = m_nCardType;
    switch (m_nCardType) {
    case KINETOR_CARD_ISA:
        d.nBaseAddr = mgr.GetISAAddress(m_nISADevice);
        d.nSlot = m_nISADevice - 1;
        break;
    case KINETOR_CARD_VME:
        d.nBaseAddr = mgr.GetVMEAddress(m_nVMEDevice);
        d.nSlot = m_nVMEDevice - 1;
        break;
    case KINETOR_CARD_EPP:
    case KINETOR_CARD_DBLEPP:
        d.nBaseAddr = mgr.GetEPPAddress(m_nEPPDevice);
        d.nSlot = m_nEPPDevice - 1;
        break;
    case KINETOR_CARD_PCI:
        d.nBaseAddr = 0;
        d.nSlot = m_nPCIDevice - 1;
        break;
    default:
        break;
    }
    d.nWatchdogTimer = m_nTimeoutCircuit;
    d.nChannel = m_nChannelSelect;
    d.fR1 = m_fR1;
    d.fR2 = m_fR2;
    d.fR3 = m_fR3;
    d.fR4 = m_fR4;
    d.fR5 = m_fR5;
    d.fR6 = m_fR6;
    d.nTtm1 = m_nTtm1;
    d.nTtm2 = m_nTtm2;
    d.nTtm3 = m_nTtm3;
    d.nTtm4 = m_nTtm4;
    d.nTtm5 = m_nTtm5;
    d.nTtm6 = m_nTtm6;
    d.nCPR1 = m_nCPR1;
    d.nCPR2 = m_nCPR2;
    d.nCPR3 = m_nCPR3;
    d.nCPR4 = m_nCPR4;
    d.nCPR5 = m_nCPR5;
    d.nCPR6 = m_nCPR6;
    d.nMtrType1 = m_nMtrType1;
    d.nMtrType2 = m_nMtrType2;
    d.nMtrType3 = m_nMtrType3;
    d.nMtrType4 = m_nMtrType4;
    d.nMtrType5 = m_nMtrType5;
    d.nMtrType6 = m_nMtrType6;
    d.nHighForce = static_cast<BOOL>(m_nHighForce & 0xFF);
    d.nAmpDACLimit = m_nAmpDACLimit;
    d.fNominalMaxStiffness = m_fNominalMaxStiffness;
    d.fNominalMaxDamping = m_fNominalMaxDamping;
    d.fNominalMaxForce = m_fNominalMaxForce;
    d.fNominalMaxContinuousForce = m_fNominalMaxContinuousForce;
    d.fResetAngles[0] = m_fResetAngle0;
    d.fResetAngles[1] = m_fResetAngle1;
    d.fResetAngles[2] = m_fResetAngle2;
    d.fResetAngles[3] = m_fResetAngle3;
    d.fResetAngles[4] = m_fResetAngle4;
    d.fResetAngles[5] = m_fResetAngle5;
    d.nWorkspaceOffsets[0] = m_nWorkspaceOffset0;
    d.nWorkspaceOffsets[1] = m_nWorkspaceOffset1;
    d.nWorkspaceOffsets[2] = m_nWorkspaceOffset2;
    memcpy(d.nMaxWorkspace, m_nMaxWorkspace, sizeof(d.nMaxWorkspace));
    memcpy(d.nMaxUsableWorkspace, m_nMaxUsableWorkspace, sizeof(d.nMaxUsableWorkspace));
    memcpy(d.nCubeWorkspace, m_nCubeWorkspace, sizeof(d.nCubeWorkspace));
    d.nTableTopOffset = m_nTableTopOffset;
    d.nInkWellEncoderOffsets[0] = m_nInkWellEncoderOffset0;
    d.nInkWellEncoderOffsets[1] = m_nInkWellEncoderOffset1;
    d.nInkWellEncoderOffsets[2] = m_nInkWellEncoderOffset2;
    d.nInkWellEncoderOffsets[3] = m_nInkWellEncoderOffset3;
    d.nInkWellEncoderOffsets[4] = m_nInkWellEncoderOffset4;
    d.nInkWellEncoderOffsets[5] = m_nInkWellEncoderOffset5;
    d.n1394SerialNumber = m_n1394SerialNumber;
    d.nExtra6DOFOption = globalExtra6DOFOption;
}

BOOLEAN CKinetorDevice::FormatStaging(const KINETOR_CONFIG_DATA& d, char* pszText, size_t nSize,
                                      size_t& nLength) const
{
    nLength = 0;
    bool bOk = AppendText(pszText, nSize, nLength, "%s\n", d.szName) &&
               AppendText(pszText, nSize, nLength, "%s\n", d.szModelType) &&
               AppendText(pszText, nSize, nLength, "%d, %d\n", Low32(d.nL1), Low32(d.nL2)) &&
               AppendText(pszText, nSize, nLength, "%s\n", d.szCardType);
    if (bOk) {
        if (d.nCardType == KINETOR_CARD_PCI) {
            bOk = AppendText(pszText, nSize, nLength, "%d, %d\n", Low32(d.nBaseAddr), Low32(d.nSlot));
        } else {
            bOk = AppendText(pszText, nSize, nLength, "0x%x, %d\n", static_cast<unsigned>(Low32(d.nBaseAddr)),
                             Low32(d.nSlot));
        }
    }
    bOk = bOk && AppendText(pszText, nSize, nLength, "%d, %d\n", Low32(d.nWatchdogTimer), Low32(d.nChannel));
    if (!bOk) {
        return FALSE;
    }

    const float* r = d.fResetAngles;
    switch (d.nModelType) {
    case KINETOR_MODEL_ALTURA_A:
    case KINETOR_MODEL_ALTURA_T:
        bOk = AppendText(pszText, nSize, nLength,
                         "%f, %f\n%d\n%d, %d\n%d\n%d\n%f, %f, %f, %f\n%f, %f, %f, %f, %f, %f\n",
                         static_cast<double>(d.fR1), static_cast<double>(d.fR2), Low32(d.nTtm1),
                         Low32(d.nCPR1), Low32(d.nCPR4), Low32(d.nMtrType1), Low32(d.nAmpDACLimit),
                         static_cast<double>(d.fNominalMaxStiffness), static_cast<double>(d.fNominalMaxDamping),
                         static_cast<double>(d.fNominalMaxForce),
                         static_cast<double>(d.fNominalMaxContinuousForce), static_cast<double>(r[0]),
                         static_cast<double>(r[1]), static_cast<double>(r[2]), static_cast<double>(r[3]),
                         static_cast<double>(r[4]), static_cast<double>(r[5]));
        break;
    case KINETOR_MODEL_BRAVIS:
    case KINETOR_MODEL_CIRREL:
        bOk = AppendText(pszText, nSize, nLength,
                         "%f, %f, %f, %f\n%d\n%d, %d\n%d\n%d\n%f, %f, %f, %f\n%f, %f, %f, %f, %f, %f\n%d, %d, %d\n",
                         static_cast<double>(d.fR1), static_cast<double>(d.fR2), static_cast<double>(d.fR3),
                         static_cast<double>(d.fR4), Low32(d.nTtm1), Low32(d.nCPR1), Low32(d.nCPR4),
                         Low32(d.nMtrType1), Low32(d.nAmpDACLimit), static_cast<double>(d.fNominalMaxStiffness),
                         static_cast<double>(d.fNominalMaxDamping), static_cast<double>(d.fNominalMaxForce),
                         static_cast<double>(d.fNominalMaxContinuousForce), static_cast<double>(r[0]),
                         static_cast<double>(r[1]), static_cast<double>(r[2]), static_cast<double>(r[3]),
                         static_cast<double>(r[4]), static_cast<double>(r[5]), d.nWorkspaceOffsets[0],
                         d.nWorkspaceOffsets[1], d.nWorkspaceOffsets[2]);
        break;
    case KINETOR_MODEL_ALTURA_6DOF:
        bOk = AppendText(pszText, nSize, nLength, "%f, %f, %f, %f, %f, %f\n", static_cast<double>(d.fR1),
                         static_cast<double>(d.fR2), static_cast<double>(d.fR3), static_cast<double>(d.fR4),
                         static_cast<double>(d.fR5), static_cast<double>(d.fR6)) &&
              AppendText(pszText, nSize, nLength, "%d, %d, %d, %d, %d, %d\n", Low32(d.nTtm1), Low32(d.nTtm2),
                         Low32(d.nTtm3), Low32(d.nTtm4), Low32(d.nTtm5), Low32(d.nTtm6)) &&
              AppendText(pszText, nSize, nLength, "%d, %d, %d, %d, %d, %d\n", Low32(d.nCPR1), Low32(d.nCPR2),
                         Low32(d.nCPR3), Low32(d.nCPR4), Low32(d.nCPR5), Low32(d.nCPR6)) &&
              AppendText(pszText, nSize, nLength, "%d, %d, %d, %d, %d, %d\n", Low32(d.nMtrType1),
                         Low32(d.nMtrType2), Low32(d.nMtrType3), Low32(d.nMtrType4), Low32(d.nMtrType5),
                         Low32(d.nMtrType6)) &&
              AppendText(pszText, nSize, nLength, "%d\n", Low32(d.nAmpDACLimit)) &&
              AppendText(pszText, nSize, nLength, "%f, %f, %f, %f\n", static_cast<double>(d.fNominalMaxStiffness),
                         static_cast<double>(d.fNominalMaxDamping), static_cast<double>(d.fNominalMaxForce),
                         static_cast<double>(d.fNominalMaxContinuousForce)) &&
              AppendText(pszText, nSize, nLength, "%f, %f, %f, %f, %f, %f\n", static_cast<double>(r[0]),
                         static_cast<double>(r[1]), static_cast<double>(r[2]), static_cast<double>(r[3]),
                         static_cast<double>(r[4]), static_cast<double>(r[5]));
        break;
    default:
        return FALSE;
    }

    for (int i = 0; bOk && i < 3; i++) {
        const int* p = (i == 0) ? d.nMaxWorkspace : (i == 1) ? d.nMaxUsableWorkspace : d.nCubeWorkspace;
        bOk = AppendText(pszText, nSize, nLength, "%d, %d, %d, %d, %d, %d\n", p[0], p[1], p[2], p[3], p[4], p[5]);
    }
    bOk = bOk && AppendText(pszText, nSize, nLength, "%d\n", d.nTableTopOffset);

    if (bOk) {
        const int* k = d.nInkWellEncoderOffsets;
        const bool bBravis1394 = d.nModelType == KINETOR_MODEL_BRAVIS && d.nCardType == KINETOR_CARD_1394;
        switch (bBravis1394 ? static_cast<ULONG>(KINETOR_MODEL_CIRREL) : d.nModelType) {
        case KINETOR_MODEL_CIRREL:
            bOk = AppendText(pszText, nSize, nLength, "%d, %d, %d, %d, %d, %d\n%d\n", k[0], k[1], k[2], k[3],
                             k[4], k[5], Low32(d.n1394SerialNumber));
            break;
        case KINETOR_MODEL_ALTURA_A:
            bOk = AppendText(pszText, nSize, nLength, "%d\n", static_cast<int>(d.nHighForce));
            break;
        case KINETOR_MODEL_ALTURA_6DOF:
            bOk = AppendText(pszText, nSize, nLength, "%d\n", d.nExtra6DOFOption);
            break;
        default:
            break;
        }
    }
    return bOk ? TRUE : FALSE;
}

BOOLEAN CKinetorDevice::WriteConfigurationFile(const char* pszFileName)
{
    if (pszFileName == nullptr) {
        return FALSE;
    }
    KINETOR_CONFIG_DATA d;
    FillStaging(d);
    // A line feed in the name would split the first line and make the file unreadable;
    // such a record is refused before the stored file is touched.
    if (strchr(d.szName, '\n') != nullptr) {
        return FALSE;
    }
    // The reader takes a negative handle type for damage, so a 6-DOF file carrying one
    // could never be read back; it must not replace the stored file either.
    if (d.nModelType == KINETOR_MODEL_ALTURA_6DOF && d.nExtra6DOFOption < 0) {
        return FALSE;
    }
    const float afValues[] = {d.fR1, d.fR2, d.fR3, d.fR4, d.fR5, d.fR6, d.fNominalMaxStiffness,
                              d.fNominalMaxDamping, d.fNominalMaxForce, d.fNominalMaxContinuousForce,
                              d.fResetAngles[0], d.fResetAngles[1], d.fResetAngles[2], d.fResetAngles[3],
                              d.fResetAngles[4], d.fResetAngles[5]};
    for (float f : afValues) {
        if (!isfinite(f)) {
            return FALSE;  // "nan" or "inf" in the file could never be read back
        }
    }

    // The whole text is formed before the file is opened, so a record that cannot be
    // written (an unknown model) leaves the stored file as it was.
    char* pszText = static_cast<char*>(malloc(kWriteBufferSize));
    if (pszText == nullptr) {
        return FALSE;
    }
    size_t nLength = 0;
    locale_t oldLocale = static_cast<locale_t>(0);
    if (CLocale() != static_cast<locale_t>(0)) {
        oldLocale = uselocale(CLocale());
    }
    BOOLEAN bFormatted = FormatStaging(d, pszText, kWriteBufferSize, nLength);
    if (oldLocale != static_cast<locale_t>(0)) {
        uselocale(oldLocale);
    }
    BOOLEAN bResult = FALSE;
    if (bFormatted) {
        bResult = ReplaceConfigurationFile(pszFileName, pszText, nLength);
    }
    free(pszText);
    return bResult;
}

void CKinetorDevice::DeleteConfigurationFile(const char* pszFileName)
{
    if (pszFileName == nullptr) {
        return;
    }
    char szPath[KINETOR_MAX_PATH + 1];
    const char* pszDir = GetConfigFilesDir();
    bool bFound = pszDir != nullptr && ProbeWritable(pszDir, pszFileName, szPath, sizeof(szPath));
    if (!bFound) {
        bFound = ProbeWritable(g_szKinetorConfigDir, pszFileName, szPath, sizeof(szPath));
    }
    if (bFound) {
        unlink(szPath);
    }
}

BOOLEAN CKinetorDevice::Read()
{
    char szFileName[64];
    snprintf(szFileName, sizeof(szFileName), "Kinetor%d.ini", m_nIndex);
    return ReadConfigurationFile(szFileName);
}

BOOLEAN CKinetorDevice::Write()
{
    char szFileName[64];
    snprintf(szFileName, sizeof(szFileName), "Kinetor%d.ini", m_nIndex);
    return WriteConfigurationFile(szFileName);
}
