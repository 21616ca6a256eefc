#include "SimFixture.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/IOLibAPI.h"
#include "transport/epp/EPPConnection.h"

namespace {

void SetSix(int* pn, int a, int b, int c, int d, int e, int f)
{
    pn[0] = a;
    pn[1] = b;
    pn[2] = c;
    pn[3] = d;
    pn[4] = e;
    pn[5] = f;
}

// Appends a formatted piece to the text. A piece that does not fit the buffer is a bug of
// this file; it poisons the text with a NUL, which SimTestConfigText turns into an empty
// result that no caller can mistake for a configuration.
void Append(std::string& s, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& s, const char* pszFormat, ...)
{
    char sz[512];
    va_list args;
    va_start(args, pszFormat);
    int n = vsnprintf(sz, sizeof(sz), pszFormat, args);
    va_end(args);
    if (n < 0 || (size_t)n >= sizeof(sz)) {
        s.push_back('\0');
        return;
    }
    s += sz;
}

const char* ModelKeyword(int nModelType)
{
    switch (nModelType) {
    case 1:
        return "a";
    case 2:
        return "t";
    case 3:
        return "p";
    case 4:
        return "p6";
    case 5:
        return "cirrel";
    default:
        return "?";
    }
}

}  // namespace

SIM_TEST_CONFIG SimTestConfig(int nModelType, int nChannel, const char* pszName, int nIndex)
{
    SIM_TEST_CONFIG c;
    memset(&c, 0, sizeof(c));
    snprintf(c.szName, sizeof(c.szName), "%s", pszName != nullptr ? pszName : "");
    c.nIndex = nIndex;
    c.nModelType = nModelType;
    c.pszCardType = "EPP";
    c.ulPortAddress = 0x378;
    c.nUnit = 1;
    c.nTimeoutCircuit = 1;
    c.nChannel = nChannel;
    c.lAmpDACLimit = -1;
    SetSix(c.anMaxWorkspace, -390, 390, -168, 603, -112, 180);
    SetSix(c.anMaxUsableWorkspace, -140, 140, -20, 440, -78, 78);
    SetSix(c.anCubeWorkspace, -78, 78, -7, 149, -78, 78);
    c.nTableTopOffset = 34;
    c.nExtra6DOFOption = 3;

    // Base axes: capstan drives and the common 20-type motor, unless the model says otherwise.
    const float afBaseRatio[3] = {0.076912f, 0.090066f, 0.090066f};
    for (int i = 0; i < 3; i++) {
        c.afRatio[i] = afBaseRatio[i];
        c.alTtm[i] = 114293;
        c.alCPR[i] = 4000;
        c.alMotorType[i] = 20;
    }
    for (int i = 3; i < 6; i++) {
        c.afRatio[i] = 1.0f;
        c.alCPR[i] = 2000;
    }
    c.afNominal[0] = 0.6f;
    c.afNominal[1] = 0.002f;
    c.afNominal[2] = 8.5f;
    c.afNominal[3] = 1.4f;

    switch (nModelType) {
    case 1:  // Altura A 1.0
    case 2:  // Altura T
        c.lL1 = 5500;
        c.lL2 = 5500;
        break;
    case 3:  // Bravis: transfer drive on the second link
        c.lL1 = 5500;
        c.lL2 = 5500;
        c.afRatio[3] = 1.0f;
        c.afRatio[4] = 0.0f;
        c.afRatio[5] = 0.0f;
        break;
    case 4:  // Altura 1.5 6 DOF: bigger base motors, small motors in the gimbal
        c.lL1 = 8250;
        c.lL2 = 8250;
        for (int i = 0; i < 3; i++)
            c.alMotorType[i] = 90;
        for (int i = 3; i < 6; i++) {
            c.alTtm[i] = 1000000;
            c.alMotorType[i] = 15;
        }
        break;
    case 5:  // Cirrel: small desktop arm with transfer drive and current-limited motors
        c.lL1 = 5500;
        c.lL2 = 5500;
        c.afRatio[3] = 1.0f;
        c.afRatio[4] = 0.0f;
        c.afRatio[5] = 0.0f;
        for (int i = 0; i < 3; i++)
            c.alMotorType[i] = 8;
        c.afNominal[0] = 0.5f;
        c.afNominal[1] = 0.002f;
        c.afNominal[2] = 3.3f;
        c.afNominal[3] = 0.88f;
        break;
    default:
        break;
    }
    return c;
}

std::string SimTestConfigText(const SIM_TEST_CONFIG& c)
{
    std::string s;
    // A PCI card's address line is decimal; the parallel ports' is hexadecimal.
    const bool bPCI = strcmp(c.pszCardType, "PCI") == 0;
    Append(s, bPCI ? "%.127s\n%s\n%ld, %ld\n%s\n%lu, %d\n%d, %d\n" : "%.127s\n%s\n%ld, %ld\n%s\n0x%lx, %d\n%d, %d\n",
           c.szName, ModelKeyword(c.nModelType), c.lL1, c.lL2, c.pszCardType, c.ulPortAddress, c.nUnit - 1,
           c.nTimeoutCircuit, c.nChannel);
    const float* r = c.afRatio;
    const float* a = c.afResetAngle;
    switch (c.nModelType) {
    case 1:
    case 2:
        Append(s, "%f, %f\n%ld\n%ld, %ld\n%ld\n%ld\n", r[0], r[1], c.alTtm[0], c.alCPR[0], c.alCPR[3],
               c.alMotorType[0], c.lAmpDACLimit);
        break;
    case 3:
    case 5:
        Append(s, "%f, %f, %f, %f\n%ld\n%ld, %ld\n%ld\n%ld\n", r[0], r[1], r[2], r[3], c.alTtm[0], c.alCPR[0],
               c.alCPR[3], c.alMotorType[0], c.lAmpDACLimit);
        break;
    case 4:
        Append(s, "%f, %f, %f, %f, %f, %f\n", r[0], r[1], r[2], r[3], r[4], r[5]);
        Append(s, "%ld, %ld, %ld, %ld, %ld, %ld\n", c.alTtm[0], c.alTtm[1], c.alTtm[2], c.alTtm[3], c.alTtm[4],
               c.alTtm[5]);
        Append(s, "%ld, %ld, %ld, %ld, %ld, %ld\n", c.alCPR[0], c.alCPR[1], c.alCPR[2], c.alCPR[3], c.alCPR[4],
               c.alCPR[5]);
        Append(s, "%ld, %ld, %ld, %ld, %ld, %ld\n", c.alMotorType[0], c.alMotorType[1], c.alMotorType[2],
               c.alMotorType[3], c.alMotorType[4], c.alMotorType[5]);
        Append(s, "%ld\n", c.lAmpDACLimit);
        break;
    default:
        return std::string();
    }
    Append(s, "%f, %f, %f, %f\n%f, %f, %f, %f, %f, %f\n", c.afNominal[0], c.afNominal[1], c.afNominal[2],
           c.afNominal[3], a[0], a[1], a[2], a[3], a[4], a[5]);
    if (c.nModelType == 3 || c.nModelType == 5)
        Append(s, "%d, %d, %d\n", c.anWorkspaceOffset[0], c.anWorkspaceOffset[1], c.anWorkspaceOffset[2]);
    const int* w[3] = {c.anMaxWorkspace, c.anMaxUsableWorkspace, c.anCubeWorkspace};
    for (int i = 0; i < 3; i++)
        Append(s, "%d, %d, %d, %d, %d, %d\n", w[i][0], w[i][1], w[i][2], w[i][3], w[i][4], w[i][5]);
    Append(s, "%d\n", c.nTableTopOffset);
    // A Bravis on FireWire keeps its inkwell offsets and board serial number as the Cirrel does.
    const bool bBravis1394 = c.nModelType == 3 && strcmp(c.pszCardType, "1394") == 0;
    switch (bBravis1394 ? 5 : c.nModelType) {
    case 1:
        Append(s, "%d\n", c.nHighForce);
        break;
    case 4:
        Append(s, "%d\n", c.nExtra6DOFOption);
        break;
    case 5:
        Append(s, "%d, %d, %d, %d, %d, %d\n%ld\n", c.anInkwellOffset[0], c.anInkwellOffset[1],
               c.anInkwellOffset[2], c.anInkwellOffset[3], c.anInkwellOffset[4], c.anInkwellOffset[5],
               c.l1394Serial);
        break;
    default:
        break;
    }
    if (s.find('\0') != std::string::npos)
        return std::string();
    return s;
}

double SimTestLinkMm(long lConfigured)
{
    return 0.0254 * (double)lConfigured;
}

// The first link swings up from the base, the second hangs down from its end; at all-zero
// angles the tip sits at the workspace origin, below the first link's end by L2 and in front
// of the base by L1.
void SimTestTipPosition(double dL1, double dL2, const double* pdQ, const double* pdOffset, double* pdPos)
{
    double dReach = dL2 * sin(pdQ[1] + pdQ[2]) + dL1 * cos(pdQ[1]);
    double adOffset[3] = {0.0, 0.0, 0.0};
    if (pdOffset != nullptr)
        for (int i = 0; i < 3; i++)
            adOffset[i] = pdOffset[i];
    pdPos[0] = adOffset[0] - dReach * sin(pdQ[0]);
    pdPos[1] = adOffset[1] + dL1 * sin(pdQ[1]) - dL2 * cos(pdQ[1] + pdQ[2]) + dL2;
    pdPos[2] = adOffset[2] + dReach * cos(pdQ[0]) - dL1;
}

void SimTestTipJacobian(double dL1, double dL2, const double* pdQ, double adJ[3][3])
{
    double s0 = sin(pdQ[0]), c0 = cos(pdQ[0]);
    double s1 = sin(pdQ[1]), c1 = cos(pdQ[1]);
    double s12 = sin(pdQ[1] + pdQ[2]), c12 = cos(pdQ[1] + pdQ[2]);
    double dReach = dL2 * s12 + dL1 * c1;
    // d(reach)/dq1 and d(reach)/dq2
    double dR1 = dL2 * c12 - dL1 * s1;
    double dR2 = dL2 * c12;
    adJ[0][0] = -dReach * c0;
    adJ[0][1] = -dR1 * s0;
    adJ[0][2] = -dR2 * s0;
    adJ[1][0] = 0.0;
    adJ[1][1] = dL1 * c1 + dL2 * s12;
    adJ[1][2] = dL2 * s12;
    adJ[2][0] = -dReach * s0;
    adJ[2][1] = dR1 * c0;
    adJ[2][2] = dR2 * c0;
}

void CSimFixture::SetUp()
{
    char szConfig[] = "/tmp/kio-it-config-XXXXXX";
    char szWork[] = "/tmp/kio-it-work-XXXXXX";
    m_strConfigDir = mkdtemp(szConfig) != nullptr ? szConfig : "";
    m_strWorkDir = mkdtemp(szWork) != nullptr ? szWork : "";
    char szOld[4096];
    m_strOldDir = getcwd(szOld, sizeof(szOld)) != nullptr ? szOld : "/";
    ASSERT_FALSE(m_strConfigDir.empty());
    ASSERT_FALSE(m_strWorkDir.empty());
    setenv("KINETOR_CONFIG_FILES", m_strConfigDir.c_str(), 1);
    unsetenv("TDL_DISABLE_TEMP_CHECK");
    unsetenv("TDL_MOTOR_VOLTAGE_SCALE");
    unsetenv("TDL_USE_POWER_ASSIST");
    ASSERT_EQ(0, chdir(m_strWorkDir.c_str()));
    m_anOpen.clear();
    m_nHandle = -1;
    m_pArm = nullptr;
}

void CSimFixture::TearDown()
{
    for (int nHandle : m_anOpen)
        disable_kinetor(nHandle);
    m_anOpen.clear();
    m_nHandle = -1;
    m_pArm = nullptr;
    if (m_bSimActive) {
        // A device that failed to close must not leave the port open for the next test.
        ResetEPPProcessState();
        SimReset();
        SimDeactivate();
        m_bSimActive = false;
    }
    if (chdir(m_strOldDir.c_str()) != 0) {
        ADD_FAILURE() << "cannot return to " << m_strOldDir;
    }
    RemoveTree(m_strConfigDir);
    RemoveTree(m_strWorkDir);
    unsetenv("KINETOR_CONFIG_FILES");
}

namespace {

int RemoveEntry(const char* pszPath, const struct stat*, int, struct FTW*)
{
    remove(pszPath);
    return 0;
}

}  // namespace

void CSimFixture::RemoveTree(const std::string& strDir)
{
    // Only ever our own mkdtemp directories; depth first, never following links out.
    if (strDir.compare(0, 12, "/tmp/kio-it-") != 0)
        return;
    nftw(strDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool CSimFixture::WriteConfigFile(const std::string& strName, const std::string& strText) const
{
    FILE* f = fopen(ConfigPath(strName).c_str(), "w");
    if (f == nullptr)
        return false;
    bool bOk = fputs(strText.c_str(), f) >= 0;
    return fclose(f) == 0 && bOk;
}

std::string CSimFixture::ReadConfigFile(const std::string& strName) const
{
    std::string s;
    FILE* f = fopen(ConfigPath(strName).c_str(), "r");
    if (f == nullptr)
        return s;
    int c;
    while ((c = fgetc(f)) != EOF)
        s.push_back((char)c);
    fclose(f);
    return s;
}

bool CSimFixture::ConfigFileExists(const std::string& strName) const
{
    return access(ConfigPath(strName).c_str(), F_OK) == 0;
}

bool CSimFixture::WriteConfig(const SIM_TEST_CONFIG& config) const
{
    std::string strText = SimTestConfigText(config);
    if (strText.empty())
        return false;
    char szFile[64];
    snprintf(szFile, sizeof(szFile), "Kinetor%d.ini", config.nIndex);
    return WriteConfigFile(szFile, strText);
}

void CSimFixture::StartSimulator(const char* pszHand)
{
    char szOptions[128];
    snprintf(szOptions, sizeof(szOptions), "pace=lockstep,hand=%.32s", pszHand != nullptr ? pszHand : "free");
    SimActivate(szOptions);
    m_bSimActive = true;
    SimReset();
}

int CSimFixture::OpenDevice(const char* pszName)
{
    char szName[128];
    snprintf(szName, sizeof(szName), "%s", pszName != nullptr ? pszName : "");
    int nHandle = init_kinetor(szName);
    if (nHandle >= 0) {
        m_anOpen.push_back(nHandle);
        m_nHandle = nHandle;
        m_pArm = SimFindArm(szName);
    }
    return nHandle;
}

int CSimFixture::OpenSimulatedArm(const SIM_TEST_CONFIG& config, const char* pszHand)
{
    if (!WriteConfig(config)) {
        ADD_FAILURE() << "cannot write the configuration";
        return -5;
    }
    StartSimulator(pszHand);
    int nHandle = OpenDevice(config.szName);
    if (nHandle >= 0 && m_pArm == nullptr)
        ADD_FAILURE() << "no simulated arm for " << config.szName;
    return nHandle;
}

int CSimFixture::OpenSimulatedArm(int nModelType, int nChannel, const char* pszHand)
{
    return OpenSimulatedArm(SimTestConfig(nModelType, nChannel), pszHand);
}

int CSimFixture::CloseDevice(int nHandle)
{
    for (size_t i = 0; i < m_anOpen.size(); i++) {
        if (m_anOpen[i] == nHandle) {
            m_anOpen.erase(m_anOpen.begin() + (long)i);
            break;
        }
    }
    if (nHandle == m_nHandle) {
        m_nHandle = -1;
        m_pArm = nullptr;
    }
    return disable_kinetor(nHandle);
}

void CSimFixture::AwaitTick(int nHandle)
{
    if (nHandle < 0 || nHandle >= CIOLibAPI::m_kinetorArray.GetSize())
        return;
    CIOLibAPI* pLib = static_cast<CIOLibAPI*>(CIOLibAPI::m_kinetorArray.GetAt(nHandle));
    if (pLib != nullptr)
        pLib->Await();
}

int CSimFixture::RunTicks(int nTicks)
{
    return RunTicksWith(nTicks, [](int) { return 0; });
}

int CSimFixture::RunTicks(int nTicks, int (*pfnInTick)(int nTick, void* pData), void* pData)
{
    return RunTicksWith(nTicks, [&](int nTick) { return pfnInTick != nullptr ? pfnInTick(nTick, pData) : 0; });
}

void CSimFixture::OutlastAmplifierHold()
{
    // A tick at the slowest rate, 1 ms, comes on top of the hold.
    SimAdvance(SIM_EPP_AMP_HOLD_NS + 1000000LL);
}

int CSimFixture::HomeAltura()
{
    int r = RunTicks(3);
    if (r != 0)
        return r;
    r = kinetor_reset(m_nHandle);
    if (r != 0)
        return r;
    return RunTicks(3);
}
