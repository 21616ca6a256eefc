#include "DiagConfigs.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "ConfigTables.h"
#include "config/KinetorDevice.h"
#include "config/KinetorMgr.h"
#include "config/KinetorPaths.h"

namespace {

struct MODEL_KEYWORD {
    const char* pszKeyword;
    int nChoice;
};

const MODEL_KEYWORD g_aModels[] = {
    {"altura-a", MODEL_CHOICE_ALTURA_A}, {"altura-t", MODEL_CHOICE_ALTURA_T},
    {"altura-6dof", MODEL_CHOICE_ALTURA_6DOF}, {"bravis", MODEL_CHOICE_BRAVIS},
    {"cirrel", MODEL_CHOICE_CIRREL},
};

const long kDefaultPortAddress = 0x378;
// The range the configuration program accepts for a port address.
const long kMinPortAddress = 0x278;
const long kMaxPortAddress = 0x3BC;

// The file the library would read for index nIndex: the working directory first, then
// $KINETOR_CONFIG_FILES, then the fixed directory.
std::string LocateFile(int nIndex)
{
    char szFile[32];
    snprintf(szFile, sizeof(szFile), "Kinetor%d.ini", nIndex);
    const char* apszDirs[3] = {".", GetConfigFilesDir(), g_szKinetorConfigDir};
    for (const char* pszDir : apszDirs) {
        if (pszDir == nullptr)
            continue;
        char szPath[KINETOR_MAX_PATH + 1];
        if (FormConfigPath(szPath, sizeof(szPath), pszDir, szFile) && access(szPath, F_OK) == 0) {
            if (strcmp(pszDir, ".") != 0)
                return szPath;
            char szCwd[KINETOR_MAX_PATH + 1];
            if (getcwd(szCwd, sizeof(szCwd)) != nullptr && FormConfigPath(szPath, sizeof(szPath), szCwd, szFile))
                return szPath;
            return szFile;
        }
    }
    return "";
}

unsigned long UnitOf(const CKinetorDevice& d)
{
    switch (d.m_nCardType) {
    case KINETOR_CARD_PCI:
        return d.m_nPCIDevice;
    case KINETOR_CARD_EPP:
    case KINETOR_CARD_DBLEPP:
        return d.m_nEPPDevice;
    case KINETOR_CARD_ISA:
        return d.m_nISADevice;
    case KINETOR_CARD_VME:
        return d.m_nVMEDevice;
    default:
        return 0;
    }
}

int ModelChoice(const char* pszModel)
{
    for (const MODEL_KEYWORD& m : g_aModels) {
        if (pszModel != nullptr && strcmp(pszModel, m.pszKeyword) == 0)
            return m.nChoice;
    }
    return -1;
}

}  // namespace

std::vector<DIAG_CONFIG> FindConfigurations()
{
    std::vector<DIAG_CONFIG> configs;
    CKinetorMgr mgr;
    CKinetorDevice* aDevices[KINETOR_MAX_CONFIGS] = {};
    int nCount = mgr.EnumerateKinetors(aDevices);
    for (int i = 0; i < nCount; i++) {
        CKinetorDevice& d = *aDevices[i];
        DIAG_CONFIG c;
        c.nIndex = d.m_nIndex;
        c.name = d.m_szName;
        c.path = LocateFile(d.m_nIndex);
        c.bReadable = d.Read() != FALSE;
        c.nModelType = d.m_nModelType;
        c.nCardType = d.m_nCardType;
        c.nUnit = UnitOf(d);
        c.nChannel = d.m_nChannelSelect;
        c.nSerial = d.m_n1394SerialNumber;
        configs.push_back(c);
        delete aDevices[i];
    }
    return configs;
}

bool FindConfiguration(const char* pszName, DIAG_CONFIG& config)
{
    // The library opens the first configuration of a name; so does this.
    for (const DIAG_CONFIG& c : FindConfigurations()) {
        if (pszName != nullptr && c.name == pszName) {
            config = c;
            return true;
        }
    }
    return false;
}

const char* ModelName(unsigned long nModelType)
{
    switch (nModelType) {
    case KINETOR_MODEL_ALTURA_A: return "Altura A";
    case KINETOR_MODEL_ALTURA_T: return "Altura T";
    case KINETOR_MODEL_BRAVIS: return "Bravis";
    case KINETOR_MODEL_ALTURA_6DOF: return "Altura 6 DOF";
    case KINETOR_MODEL_CIRREL: return "Cirrel";
    default: return "unknown model";
    }
}

const char* InterfaceName(unsigned long nCardType)
{
    switch (nCardType) {
    case KINETOR_CARD_ISA: return "ISA";
    case KINETOR_CARD_VME: return "VME";
    case KINETOR_CARD_PCI: return "PCI";
    case KINETOR_CARD_EPP: return "parallel port";
    case KINETOR_CARD_DBLEPP: return "double parallel port";
    case KINETOR_CARD_1394: return "FireWire";
    default: return "unknown interface";
    }
}

const char* ModelKeywords()
{
    return "altura-a, altura-t, altura-6dof, bravis, cirrel";
}

void InitNewOptions(DIAG_NEW_OPTIONS& options, const char* pszModel, const char* pszName)
{
    options.pszModel = pszModel;
    options.pszName = pszName;
    options.pszInterface = nullptr;
    options.nUnit = 1;
    options.nAddress = -1;
    options.nWorkspace = -1;
    options.pszGimbal = "hires";
    options.nSerial = 0;
}

bool CreateConfiguration(const DIAG_NEW_OPTIONS& o, std::string& path, std::string& error)
{
    char szText[512];
    const int nModel = ModelChoice(o.pszModel);
    if (nModel < 0) {
        snprintf(szText, sizeof(szText), "Unknown model \"%.64s\". Choose one of: %s.",
                 o.pszModel != nullptr ? o.pszModel : "", ModelKeywords());
        error = szText;
        return false;
    }
    const char* pszName = o.pszName != nullptr ? o.pszName : "";
    const char* p = pszName;
    while (*p != '\0' && isspace(static_cast<unsigned char>(*p)))
        p++;
    if (*p == '\0' || strlen(pszName) >= KINETOR_NAME_SIZE) {
        error = "Give the configuration a name of 1 to 127 characters, for example \"My Arm\".";
        return false;
    }
    // The name is the first line of the file and part of the state files' names.
    for (p = pszName; *p != '\0'; p++) {
        if (*p == '/' || iscntrl(static_cast<unsigned char>(*p))) {
            error = "A configuration name may not contain '/' or control characters; choose another name.";
            return false;
        }
    }
    const bool bAltura = nModel == MODEL_CHOICE_ALTURA_A || nModel == MODEL_CHOICE_ALTURA_T;
    int nCard = CARD_CHOICE_EPP;
    if (o.pszInterface != nullptr) {
        static const struct {
            const char* pszKeyword;
            int nChoice;
        } aCards[] = {{"epp", CARD_CHOICE_EPP}, {"pci", CARD_CHOICE_PCI}, {"isa", CARD_CHOICE_ISA},
                      {"vme", CARD_CHOICE_VME}};
        nCard = -1;
        for (const auto& c : aCards) {
            if (strcmp(o.pszInterface, c.pszKeyword) == 0)
                nCard = c.nChoice;
        }
        if (nCard < 0 || (!bAltura && nCard != CARD_CHOICE_EPP)) {
            error = bAltura ? "Choose the interface epp, pci, isa or vme."
                            : "This model has one interface of its own; leave out --interface.";
            return false;
        }
    }
    if (o.nUnit < 1 || o.nUnit > KINETOR_MAX_UNITS) {
        error = "Choose a unit from 1 to 4 (1 is the first port or card).";
        return false;
    }
    const long nAddress = o.nAddress < 0 ? kDefaultPortAddress : o.nAddress;
    if (nAddress < kMinPortAddress || nAddress > kMaxPortAddress) {
        error = "Choose a parallel port address from 0x278 to 0x3bc (usually 0x378).";
        return false;
    }
    const int nMaxWorkspace = bAltura ? 3 : (nModel == MODEL_CHOICE_ALTURA_6DOF ? 2 : 0);
    const int nWorkspace = o.nWorkspace < 0 ? (bAltura ? 1 : 0) : o.nWorkspace;
    if (nWorkspace > nMaxWorkspace) {
        snprintf(szText, sizeof(szText), "Choose a workspace from 0 to %d for this model.", nMaxWorkspace);
        error = szText;
        return false;
    }
    int nGimbal = GIMBAL_CHOICE_HIRES;
    if (o.pszGimbal != nullptr && strcmp(o.pszGimbal, "none") == 0)
        nGimbal = GIMBAL_CHOICE_NONE;
    else if (o.pszGimbal != nullptr && strcmp(o.pszGimbal, "lores") == 0)
        nGimbal = GIMBAL_CHOICE_LORES;
    else if (o.pszGimbal != nullptr && strcmp(o.pszGimbal, "hires") != 0) {
        error = "Choose the gimbal encoders none, hires or lores.";
        return false;
    }
    if (nModel == MODEL_CHOICE_CIRREL && o.nSerial == 0) {
        error = "A Cirrel is found by the serial number of its FireWire board: add --serial NUMBER "
                "(printed on the board, and shown by \"kinetor-diag list\").";
        return false;
    }

    CKinetorMgr mgr;
    CKinetorDevice* aDevices[KINETOR_MAX_CONFIGS] = {};
    int nDevices = mgr.EnumerateKinetors(aDevices);
    bool bOk = true;
    for (int i = 0; i < nDevices; i++) {
        if (strcmp(aDevices[i]->m_szName, pszName) == 0) {
            snprintf(szText, sizeof(szText),
                     "A configuration named \"%.128s\" exists already; choose another name, or look at it "
                     "with \"kinetor-diag check\".",
                     pszName);
            error = szText;
            bOk = false;
        }
    }
    CKinetorDevice* pDevice = bOk ? mgr.AddKinetor(aDevices, nDevices, pszName) : nullptr;
    if (bOk && pDevice == nullptr) {
        error = "All 20 configuration slots are taken; delete one with the configuration program first.";
        bOk = false;
    }
    if (bOk) {
        // The same derivation the configuration program applies to its menu choices.
        CKinetorDevice& d = *pDevice;
        d.m_nModelType = ModelTypeFromChoice(nModel);
        const int nWorkspace2 = nModel == MODEL_CHOICE_ALTURA_6DOF ? nWorkspace : 0;
        const int nRowWorkspace = nModel == MODEL_CHOICE_ALTURA_6DOF ? nWorkspace2 + 1 : nWorkspace;
        ApplyConfigRow(pDevice, GetConfigRow(ConfigRowIndex(nModel, nRowWorkspace, nWorkspace2)));
        d.m_nHighForce = 0;
        ApplyCountsPerRevolution(pDevice, nModel, nRowWorkspace, 0, nGimbal);
        switch (nModel) {
        case MODEL_CHOICE_BRAVIS:
            d.m_nCardType = KINETOR_CARD_EPP;
            break;
        case MODEL_CHOICE_ALTURA_6DOF:
            d.m_nCardType = KINETOR_CARD_DBLEPP;
            d.m_nExtra6DOFOption = 0;
            break;
        case MODEL_CHOICE_CIRREL:
            d.m_nCardType = KINETOR_CARD_1394;
            d.m_n1394SerialNumber = o.nSerial;
            break;
        default:
            d.m_nCardType = CardTypeFromChoice(nCard);
            break;
        }
        // Only the PCI card carries the timeout circuit that a configuration may switch on.
        d.m_nTimeoutCircuit = d.m_nCardType == KINETOR_CARD_PCI || d.m_nCardType == KINETOR_CARD_ISA ||
                                      d.m_nCardType == KINETOR_CARD_VME
                                  ? 1
                                  : 0;
        switch (d.m_nCardType) {
        case KINETOR_CARD_EPP:
        case KINETOR_CARD_DBLEPP:
            d.m_nEPPDevice = o.nUnit;
            mgr.SetEPPAddress(o.nUnit, static_cast<unsigned long>(nAddress));
            break;
        case KINETOR_CARD_PCI:
            d.m_nPCIDevice = o.nUnit;
            break;
        case KINETOR_CARD_ISA:
            d.m_nISADevice = o.nUnit;
            break;
        case KINETOR_CARD_VME:
            d.m_nVMEDevice = o.nUnit;
            break;
        default:
            break;
        }
        ApplyDerivedGeometry(pDevice, nModel);
        ApplyWorkspaceDimensions(pDevice);
        if (!d.Write()) {
            const char* pszDir = GetConfigFilesDir();
            snprintf(szText, sizeof(szText),
                     "Cannot write the configuration into %.200s. Run as root (sudo), or set "
                     "KINETOR_CONFIG_FILES to a directory of your own.",
                     pszDir != nullptr ? pszDir : g_szKinetorConfigDir);
            error = szText;
            bOk = false;
        } else {
            path = LocateFile(d.m_nIndex);
        }
    }
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++)
        delete aDevices[i];
    return bOk;
}
