#include "HardwarePage.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <new>
#include <string>

#include "KinetorFirmware.h"
#include "ConfigFiles.h"
#include "ConfigTables.h"
#include "DualPage.h"
#include "Messages.h"

// Node search for any interface board on the bus. The program works with or without a
// firmware library that offers it: without one, the bus counts as one without boards.

namespace {

const char kDefaultName[] = "Default Kinetor";
const char kPortLabel[] = "Port &number:";
const char kAdapterLabel[] = "Adapter &number:";
const char kNoDevices[] = "No devices available";
const long kMinUnit = 1;
const long kMaxUnit = KINETOR_MAX_UNITS;
const long kMinPortAddress = 0x278;
const long kMaxPortAddress = 0x3BC;

void FormFileName(char* pszName, size_t nSize, const CKinetorDevice* pDevice)
{
    snprintf(pszName, nSize, "Kinetor%d.ini", pDevice->m_nIndex);
}

bool IsAltura(int nModel)
{
    return nModel == MODEL_CHOICE_ALTURA_A || nModel == MODEL_CHOICE_ALTURA_T;
}

ULONG TextToUnit(const char* pszText)
{
    long v = 0;
    return ParseDecimal(pszText, v) && v >= kMinUnit && v <= kMaxUnit ? static_cast<ULONG>(v) : 0;
}

}  // namespace

CHardwarePage::CHardwarePage(CHardwareControls* pControls, CMessageSink* pSink)
    : m_pControls(pControls), m_pSink(pSink), m_pDual(nullptr), m_pCurrDevice(nullptr), m_nDevices(0),
      m_nChanged(0)
{
    m_csPCIDevice[0] = m_csEPPDevice[0] = m_csEPPAddr[0] = '\0';
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        m_aDevices[i] = nullptr;
        m_apUnreadable[i] = nullptr;
    }
}

CHardwarePage::~CHardwarePage()
{
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        delete m_aDevices[i];
    }
}

const char* CHardwarePage::GetChangedName(int i) const
{
    return i >= 0 && i < m_nChanged ? m_aszChanged[i] : nullptr;
}

void CHardwarePage::AddChanged(const char* pszName)
{
    if (m_nChanged < KINETOR_MAX_CONFIGS) {
        snprintf(m_aszChanged[m_nChanged++], KINETOR_NAME_SIZE, "%s", pszName);
    }
}

BOOLEAN CHardwarePage::IsUnreadable(CKinetorDevice* pDevice) const
{
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        if (pDevice != nullptr && m_apUnreadable[i] == pDevice) {
            return TRUE;
        }
    }
    return FALSE;
}

void CHardwarePage::ForgetUnreadable(CKinetorDevice* pDevice)
{
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        if (m_apUnreadable[i] == pDevice) {
            m_apUnreadable[i] = nullptr;
        }
    }
}

int CHardwarePage::PositionOf(CKinetorDevice* pDevice) const
{
    for (int i = 0; i < m_nDevices; i++) {
        if (m_aDevices[i] == pDevice) {
            return i;
        }
    }
    return -1;
}

CKinetorDevice* CHardwarePage::GetCurrentKinetor(int& nDevices)
{
    // Starting again reads the directory afresh: the records of the last reading go, and
    // with them the list of those that could not be read.
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        delete m_aDevices[i];
        m_aDevices[i] = nullptr;
        m_apUnreadable[i] = nullptr;
    }
    nDevices = m_mgr.EnumerateKinetors(m_aDevices);
    if (nDevices == 0) {
        CKinetorDevice* pDevice = new (std::nothrow) CKinetorDevice();
        if (pDevice == nullptr) {
            return nullptr;
        }
        snprintf(pDevice->m_szName, sizeof(pDevice->m_szName), "%s", kDefaultName);
        pDevice->m_nIndex = 0;
        m_aDevices[0] = pDevice;
        nDevices = 1;
    }
    return m_aDevices[0];
}

void CHardwarePage::GetKinetorSet(CKinetorDevice** aDevices, int& nDevices)
{
    if (aDevices == nullptr) {
        return;
    }
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        aDevices[i] = m_aDevices[i];
    }
    nDevices = m_nDevices;
}

BOOLEAN CHardwarePage::OnInitDialog()
{
    m_pCurrDevice = GetCurrentKinetor(m_nDevices);
    m_mgr.ReadAddresses();
    m_pControls->ListReset();
    int nUnreadable = 0;
    for (int i = 0; i < m_nDevices; i++) {
        m_pControls->ListAdd(m_aDevices[i]->m_szName);
        char szFileName[32];
        FormFileName(szFileName, sizeof(szFileName), m_aDevices[i]);
        std::string strText;
        if (!m_aDevices[i]->Read() && ReadStoredText(szFileName, strText)) {
            m_apUnreadable[nUnreadable++] = m_aDevices[i];
        }
    }
    if (m_pCurrDevice != nullptr) {
        m_pControls->ListSelect(0);
        ToControls(m_pCurrDevice);
    }
    EnableControls();
    return TRUE;
}

void CHardwarePage::ReportLoadProblems()
{
    char szText[2048];
    size_t nLength = 0;
    szText[0] = '\0';
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        if (m_apUnreadable[i] == nullptr) {
            continue;
        }
        if (nLength == 0) {
            nLength = static_cast<size_t>(snprintf(szText, sizeof(szText), "%s",
                                                   "These configuration files could not be read:\n"));
        }
        char szFileName[32];
        FormFileName(szFileName, sizeof(szFileName), m_apUnreadable[i]);
        int n = snprintf(szText + nLength, sizeof(szText) - nLength, "    %s (\"%.60s\")\n", szFileName,
                         m_apUnreadable[i]->m_szName);
        if (n > 0 && nLength + static_cast<size_t>(n) < sizeof(szText)) {
            nLength += static_cast<size_t>(n);
        }
    }
    if (nLength > 0) {
        snprintf(szText + nLength, sizeof(szText) - nLength, "%s",
                 "They are shown with default values and are left as they are,\n"
                 "unless you apply while one of them is selected.");
        m_pSink->ShowError(szText);
    }
    const char* pszDir = ConfigWriteDir();
    if (!DirectoryIsWritable(pszDir)) {
        char szDir[512];
        snprintf(szDir, sizeof(szDir),
                 "The configuration directory\n%.400s\ndoes not exist or cannot be written.\n"
                 "Changes cannot be saved until it can.",
                 pszDir);
        m_pSink->ShowError(szDir);
    }
}

void CHardwarePage::RefreshUnitTexts(CKinetorDevice* pDevice)
{
    snprintf(m_csPCIDevice, sizeof(m_csPCIDevice), "%lu", pDevice->m_nPCIDevice);
    snprintf(m_csEPPDevice, sizeof(m_csEPPDevice), "%lu", pDevice->m_nEPPDevice);
    snprintf(m_csEPPAddr, sizeof(m_csEPPAddr), "0x%lX", m_mgr.GetEPPAddress(pDevice->m_nEPPDevice));
}

void CHardwarePage::ShowPortFields(const char* pszLabel)
{
    m_pControls->SetText(HW_FIELD_UNIT, m_csEPPDevice);
    m_pControls->SetText(HW_FIELD_ADDRESS, m_csEPPAddr);
    m_pControls->SetLabel(HW_LABEL_UNIT, pszLabel);
}

BOOLEAN CHardwarePage::ToControls(CKinetorDevice* pDevice)
{
    if (pDevice == nullptr) {
        return FALSE;
    }
    CHardwareControls& c = *m_pControls;
    const CKinetorDevice& d = *pDevice;
    char szSerial[SERIAL_NUMBER_TEXT_LENGTH + 1];
    switch (d.m_nModelType) {
    case KINETOR_MODEL_CIRREL:
    case KINETOR_MODEL_BRAVIS:
    case KINETOR_MODEL_ALTURA_6DOF:
        c.SetChoice(HW_MENU_MODEL, ChoiceFromModelType(d.m_nModelType));
        c.SetChoice(HW_MENU_WORKSPACE, 1);
        c.SetChoice(HW_MENU_GIMBAL, 1);
        c.SetCheck(HW_TOGGLE_TIMEOUT, TRUE);
        // A toggle left on from the record shown before would otherwise be written into
        // a model that has no high-force option.
        c.SetCheck(HW_TOGGLE_HIGHFORCE, FALSE);
        if (d.m_nModelType == KINETOR_MODEL_ALTURA_6DOF) {
            c.SetChoice(HW_MENU_WORKSPACE2, d.m_nL1 == 8250 ? 0 : (d.m_nCPR1 == 10160 ? 1 : 2));
            c.SetChoice(HW_MENU_PINCH, d.m_nExtra6DOFOption <= 3 ? static_cast<int>(d.m_nExtra6DOFOption) : 3);
            c.SetChoice(HW_MENU_CARD, CARD_CHOICE_EPP);
        } else {
            c.SetChoice(HW_MENU_WORKSPACE2, 0);
            c.SetChoice(HW_MENU_MOTOR, 0);
            c.SetChoice(HW_MENU_PINCH, 3);
            c.SetChoice(HW_MENU_CARD, CARD_CHOICE_ISA);
        }
        if (d.m_nModelType == KINETOR_MODEL_CIRREL) {
            SERIAL_NUMBER sn;
            sn.v = d.m_n1394SerialNumber;
            if (CKinetorMgr::UnpackSerialNumber(&sn, szSerial)) {
                c.SetLabel(HW_LABEL_SERIAL, szSerial);
            }
        }
        break;
    case KINETOR_MODEL_ALTURA_A:
    case KINETOR_MODEL_ALTURA_T: {
        c.SetChoice(HW_MENU_MODEL, d.m_nModelType == KINETOR_MODEL_ALTURA_A ? 0 : 1);
        int nWorkspace = d.m_nL1 == 5500 ? 0 : (d.m_nL1 == 8250 ? 1 : (d.m_nCPR1 == 10160 ? 2 : 3));
        c.SetChoice(HW_MENU_WORKSPACE, nWorkspace);
        c.SetChoice(HW_MENU_WORKSPACE2, nWorkspace > 0 ? nWorkspace - 1 : 0);
        c.SetChoice(HW_MENU_PINCH, 3);
        c.SetChoice(HW_MENU_MOTOR, (d.m_nCPR1 == 4000 || d.m_nCPR1 == 10160 || d.m_nCPR1 == 10000) ? 0 : 1);
        c.SetCheck(HW_TOGGLE_HIGHFORCE, d.m_nHighForce != 0 ? TRUE : FALSE);
        int nGimbal = (d.m_nChannelSelect == 0 || d.m_nChannelSelect == 1) ? 0 : (d.m_nCPR4 == 2000 ? 1 : 2);
        c.SetChoice(HW_MENU_GIMBAL, nGimbal);
        c.SetChoice(HW_MENU_CARD, d.m_nCardType == KINETOR_CARD_PCI ? CARD_CHOICE_PCI : CARD_CHOICE_EPP);
        c.SetCheck(HW_TOGGLE_TIMEOUT, d.m_nTimeoutCircuit != 0 ? TRUE : FALSE);
        break;
    }
    default:
        return FALSE;
    }
    RefreshUnitTexts(pDevice);
    if (d.m_nModelType == KINETOR_MODEL_BRAVIS) {
        ShowPortFields(kPortLabel);
    } else {
        int nCard = c.GetChoice(HW_MENU_CARD);
        if (nCard == CARD_CHOICE_PCI) {
            c.SetText(HW_FIELD_UNIT, m_csPCIDevice);
        } else if (nCard == CARD_CHOICE_EPP) {
            c.SetText(HW_FIELD_UNIT, m_csEPPDevice);
            c.SetText(HW_FIELD_ADDRESS, m_csEPPAddr);
        }
        c.SetLabel(HW_LABEL_UNIT, kAdapterLabel);
    }
    return TRUE;
}

BOOLEAN CHardwarePage::IsParallel()
{
    int nModel = Choice(HW_MENU_MODEL);
    if (nModel == MODEL_CHOICE_BRAVIS || nModel == MODEL_CHOICE_ALTURA_6DOF) {
        return TRUE;
    }
    return IsAltura(nModel) && Choice(HW_MENU_CARD) == CARD_CHOICE_EPP ? TRUE : FALSE;
}

BOOLEAN CHardwarePage::FromControls(CKinetorDevice* pDevice)
{
    if (pDevice == nullptr) {
        return FALSE;
    }
    CKinetorDevice& d = *pDevice;
    const int nModel = Choice(HW_MENU_MODEL);
    int nWorkspace = Choice(HW_MENU_WORKSPACE);
    const int nWorkspace2 = Choice(HW_MENU_WORKSPACE2);
    if (nModel == MODEL_CHOICE_ALTURA_6DOF) {
        nWorkspace = nWorkspace2 + 1;
    }
    const ULONG nModelType = ModelTypeFromChoice(nModel);
    if (nModelType == 0) {
        return FALSE;
    }
    d.m_nModelType = nModelType;
    ApplyConfigRow(pDevice, GetConfigRow(ConfigRowIndex(nModel, nWorkspace, nWorkspace2)));
    // Only a toggle the user can see counts: a high-force state left over from another
    // workspace must not be stored without the ratios that go with it.
    const BOOLEAN bHighForce = nModel == MODEL_CHOICE_ALTURA_A && (nWorkspace == 0 || nWorkspace == 1) &&
                               m_pControls->GetCheck(HW_TOGGLE_HIGHFORCE);
    d.m_nHighForce = bHighForce ? 1 : 0;
    ApplyCountsPerRevolution(pDevice, nModel, nWorkspace, Choice(HW_MENU_MOTOR), Choice(HW_MENU_GIMBAL));
    if (nModel == MODEL_CHOICE_ALTURA_6DOF) {
        int nPinch = Choice(HW_MENU_PINCH);
        d.m_nExtra6DOFOption = static_cast<ULONG>(nPinch);
        globalExtra6DOFOption = static_cast<short>(nPinch);
    }
    switch (nModel) {
    case MODEL_CHOICE_BRAVIS:
        d.m_nCardType = KINETOR_CARD_EPP;
        break;
    case MODEL_CHOICE_ALTURA_6DOF:
        d.m_nCardType = KINETOR_CARD_DBLEPP;
        break;
    case MODEL_CHOICE_CIRREL:
        d.m_nCardType = KINETOR_CARD_1394;
        break;
    default:
        d.m_nCardType = CardTypeFromChoice(Choice(HW_MENU_CARD));
        break;
    }
    if (d.m_nCardType == KINETOR_CARD_PCI) {
        d.m_nTimeoutCircuit = m_pControls->GetCheck(HW_TOGGLE_TIMEOUT) ? 1 : 0;
    } else if (d.m_nCardType == KINETOR_CARD_EPP || d.m_nCardType == KINETOR_CARD_DBLEPP ||
               d.m_nCardType == KINETOR_CARD_1394) {
        d.m_nTimeoutCircuit = 0;
    }
    char szUnit[CONFIG_TEXT_SIZE];
    char szAddress[CONFIG_TEXT_SIZE];
    m_pControls->GetText(HW_FIELD_UNIT, szUnit, sizeof(szUnit));
    m_pControls->GetText(HW_FIELD_ADDRESS, szAddress, sizeof(szAddress));
    if (IsParallel()) {
        ULONG nUnit = TextToUnit(szUnit);
        long nAddress = 0;
        if (nUnit != 0) {
            d.m_nEPPDevice = nUnit;
            if (ParseHex(szAddress, nAddress) && nAddress >= kMinPortAddress && nAddress <= kMaxPortAddress) {
                m_mgr.SetEPPAddress(nUnit, static_cast<ULONG>(nAddress));
            }
        }
    } else if (d.m_nCardType == KINETOR_CARD_PCI) {
        ULONG nUnit = TextToUnit(szUnit);
        if (nUnit != 0) {
            d.m_nPCIDevice = nUnit;
        }
    }
    if (bHighForce && (d.m_nL1 == 5500 || d.m_nL1 == 8250)) {
        d.m_fR1 *= HIGH_FORCE_FACTOR;
        d.m_fR2 *= HIGH_FORCE_FACTOR;
        d.m_fR3 *= HIGH_FORCE_FACTOR;
    }
    ApplyDerivedGeometry(pDevice, nModel);
    ApplyWorkspaceDimensions(pDevice);
    return TRUE;
}

void CHardwarePage::RefreshSerialNumber()
{
    CKinetorDevice* pDevice = m_pCurrDevice;
    if (pDevice == nullptr) {
        return;
    }
    char szSerial[SERIAL_NUMBER_TEXT_LENGTH + 1];
    ULONG nUnit = 0;
    ULONG nNumber = 0;
    BOOLEAN bFound = FALSE;
    if (m_mgr.Find1394UnitInUse(nUnit) && m_mgr.Get1394SerialNumber(nUnit, nNumber, nullptr)) {
        bFound = TRUE;
    } else {
        int nSearched = 0;
        if (fw_search_for_1394_device(&nSearched) == 0 && nSearched >= 0) {
            nNumber = static_cast<ULONG>(nSearched);
            bFound = TRUE;
        }
    }
    if (!bFound) {
        m_pControls->SetLabel(HW_LABEL_SERIAL, kNoDevices);
        return;
    }
    pDevice->m_n1394SerialNumber = nNumber;
    SERIAL_NUMBER sn;
    sn.v = nNumber;
    if (CKinetorMgr::UnpackSerialNumber(&sn, szSerial)) {
        m_pControls->SetLabel(HW_LABEL_SERIAL, szSerial);
    }
}

void CHardwarePage::EnableControls()
{
    const int nModel = Choice(HW_MENU_MODEL);
    const int nWorkspace = Choice(HW_MENU_WORKSPACE);
    const bool bAltura = IsAltura(nModel);
    const bool bParallel = Choice(HW_MENU_CARD) == CARD_CHOICE_EPP;
    const bool bSmall = nWorkspace == 0 || nWorkspace == 1;
    const bool bBravis = nModel == MODEL_CHOICE_BRAVIS;
    const bool bSix = nModel == MODEL_CHOICE_ALTURA_6DOF;
    const bool bCirrel = nModel == MODEL_CHOICE_CIRREL;
    CHardwareControls& c = *m_pControls;
    c.Show(HW_SHOW_GIMBAL, bAltura);
    c.Show(HW_SHOW_WORKSPACE, bAltura);
    c.Show(HW_SHOW_CARD, bAltura);
    c.Show(HW_SHOW_TIMEOUT, bAltura && !bParallel);
    c.Show(HW_SHOW_WORKSPACE_LABEL, !bBravis && !bCirrel);
    c.Show(HW_SHOW_WORKSPACE2, bSix);
    c.Show(HW_SHOW_PARALLEL_LABEL, bBravis || bSix);
    c.Show(HW_SHOW_1394, bCirrel);
    c.Show(HW_SHOW_HIGHFORCE, nModel == MODEL_CHOICE_ALTURA_A && bSmall);
    c.Show(HW_SHOW_UNIT, nModel == MODEL_CHOICE_ALTURA_A && !bParallel);
    c.Show(HW_SHOW_ADDRESS, bBravis || bSix || (bAltura && bParallel));
    c.Show(HW_SHOW_PINCH, bSix);
    c.Show(HW_SHOW_MOTOR, bAltura && bSmall);
    if (bCirrel) {
        RefreshSerialNumber();
    } else if (m_pCurrDevice != nullptr) {
        char szSerial[SERIAL_NUMBER_TEXT_LENGTH + 1];
        SERIAL_NUMBER sn;
        sn.v = m_pCurrDevice->m_n1394SerialNumber;
        if (CKinetorMgr::UnpackSerialNumber(&sn, szSerial)) {
            c.SetLabel(HW_LABEL_SERIAL, szSerial);
        }
    }
}

void CHardwarePage::OnSelChangeKinetor()
{
    char szName[KINETOR_NAME_SIZE];
    m_pControls->ListText(szName, sizeof(szName));
    if (m_pCurrDevice != nullptr) {
        // Leaving a record takes its controls into it; entries that would not survive
        // Apply must not slip into the record unchecked, so the user stays on it instead.
        if (!Validate()) {
            int nPos = PositionOf(m_pCurrDevice);
            if (nPos >= 0) {
                m_pControls->ListSelect(nPos);
            }
            return;
        }
        FromControls(m_pCurrDevice);
    }
    CKinetorDevice* pFound = m_nDevices > 0 ? m_aDevices[0] : nullptr;
    for (int i = 0; i < m_nDevices; i++) {
        if (strcmp(m_aDevices[i]->m_szName, szName) == 0) {
            pFound = m_aDevices[i];
            break;
        }
    }
    m_pCurrDevice = pFound;
    ToControls(m_pCurrDevice);
    EnableControls();
}

void CHardwarePage::OnSelChangeModel()
{
    const int nModel = Choice(HW_MENU_MODEL);
    if (m_pCurrDevice != nullptr && nModel != MODEL_CHOICE_CIRREL) {
        RefreshUnitTexts(m_pCurrDevice);
        if (nModel == MODEL_CHOICE_BRAVIS || nModel == MODEL_CHOICE_ALTURA_6DOF) {
            ShowPortFields(kPortLabel);
        } else if (Choice(HW_MENU_CARD) == CARD_CHOICE_PCI) {
            m_pControls->SetText(HW_FIELD_UNIT, m_csPCIDevice);
            m_pControls->SetLabel(HW_LABEL_UNIT, kAdapterLabel);
        } else {
            m_pControls->SetChoice(HW_MENU_CARD, CARD_CHOICE_EPP);
            ShowPortFields(kPortLabel);
        }
    }
    EnableControls();
}

void CHardwarePage::OnSelChangeWorkspace()
{
    const int nModel = Choice(HW_MENU_MODEL);
    int nWorkspace = Choice(HW_MENU_WORKSPACE);
    if (nModel == MODEL_CHOICE_ALTURA_6DOF) {
        nWorkspace = Choice(HW_MENU_WORKSPACE2) + 1;
        m_pControls->SetChoice(HW_MENU_WORKSPACE, nWorkspace);
    } else {
        m_pControls->SetChoice(HW_MENU_WORKSPACE2, nWorkspace > 0 ? nWorkspace - 1 : 0);
    }
    EnableControls();
    if (m_pCurrDevice == nullptr) {
        return;
    }
    char szUnit[CONFIG_TEXT_SIZE];
    m_pControls->GetText(HW_FIELD_UNIT, szUnit, sizeof(szUnit));
    ULONG nUnit = TextToUnit(szUnit);
    const int nCard = Choice(HW_MENU_CARD);
    if (nModel == MODEL_CHOICE_ALTURA_6DOF && nWorkspace == 1) {
        if (nUnit != 0) {
            m_pCurrDevice->m_nEPPDevice = nUnit;
        }
        RefreshUnitTexts(m_pCurrDevice);
        m_pControls->SetText(HW_FIELD_ADDRESS, m_csEPPAddr);
        m_pControls->SetLabel(HW_LABEL_UNIT, kPortLabel);
    } else if (nCard == CARD_CHOICE_PCI) {
        if (nUnit != 0) {
            m_pCurrDevice->m_nPCIDevice = nUnit;
        }
        m_pControls->SetLabel(HW_LABEL_UNIT, kAdapterLabel);
    } else if (nCard == CARD_CHOICE_EPP) {
        if (nUnit != 0) {
            m_pCurrDevice->m_nEPPDevice = nUnit;
        }
        RefreshUnitTexts(m_pCurrDevice);
        m_pControls->SetText(HW_FIELD_ADDRESS, m_csEPPAddr);
        m_pControls->SetLabel(HW_LABEL_UNIT, kAdapterLabel);
    }
}

void CHardwarePage::OnSelChangePinch()
{
    int nPinch = Choice(HW_MENU_PINCH);
    globalExtra6DOFOption = static_cast<short>(nPinch);
    if (m_pCurrDevice != nullptr) {
        m_pCurrDevice->m_nExtra6DOFOption = static_cast<ULONG>(nPinch);
    }
}

void CHardwarePage::OnSelChangeCard()
{
    if (m_pCurrDevice != nullptr) {
        RefreshUnitTexts(m_pCurrDevice);
        if (Choice(HW_MENU_CARD) == CARD_CHOICE_PCI) {
            m_pControls->SetText(HW_FIELD_UNIT, m_csPCIDevice);
        } else {
            m_pControls->SetText(HW_FIELD_ADDRESS, m_csEPPAddr);
        }
        m_pControls->SetLabel(HW_LABEL_UNIT, kAdapterLabel);
    }
    EnableControls();
}

void CHardwarePage::OnKillFocusUnit()
{
    if (m_pCurrDevice == nullptr) {
        return;
    }
    const int nModel = Choice(HW_MENU_MODEL);
    const int nCard = Choice(HW_MENU_CARD);
    const bool bBravis = nModel == MODEL_CHOICE_BRAVIS;
    char szUnit[CONFIG_TEXT_SIZE];
    m_pControls->GetText(HW_FIELD_UNIT, szUnit, sizeof(szUnit));
    // A unit outside the table is left in the field for Apply to refuse with its message;
    // the record keeps the last unit that exists.
    ULONG nUnit = TextToUnit(szUnit);
    if (nUnit != 0) {
        if (bBravis || nCard == CARD_CHOICE_EPP) {
            m_pCurrDevice->m_nEPPDevice = nUnit;
        } else if (nCard == CARD_CHOICE_PCI) {
            m_pCurrDevice->m_nPCIDevice = nUnit;
        }
    }
    RefreshUnitTexts(m_pCurrDevice);
    if (bBravis || (nModel == MODEL_CHOICE_ALTURA_6DOF && Choice(HW_MENU_WORKSPACE) == 1)) {
        m_pControls->SetText(HW_FIELD_ADDRESS, m_csEPPAddr);
        m_pControls->SetLabel(HW_LABEL_UNIT, kPortLabel);
    } else if (nCard == CARD_CHOICE_PCI) {
        m_pControls->SetLabel(HW_LABEL_UNIT, kAdapterLabel);
    } else if (nCard == CARD_CHOICE_EPP) {
        m_pControls->SetText(HW_FIELD_ADDRESS, m_csEPPAddr);
        m_pControls->SetLabel(HW_LABEL_UNIT, kAdapterLabel);
    }
}

void CHardwarePage::OnKillFocusAddress()
{
    if (m_pCurrDevice == nullptr) {
        return;
    }
    const int nModel = Choice(HW_MENU_MODEL);
    if (nModel == MODEL_CHOICE_BRAVIS || (nModel == MODEL_CHOICE_ALTURA_6DOF && Choice(HW_MENU_WORKSPACE) == 1) ||
        Choice(HW_MENU_CARD) == CARD_CHOICE_EPP) {
        char szAddress[CONFIG_TEXT_SIZE];
        m_pControls->GetText(HW_FIELD_ADDRESS, szAddress, sizeof(szAddress));
        long nAddress = 0;
        // Only a port address that Apply would accept enters the shared address table.
        if (ParseHex(szAddress, nAddress) && nAddress >= kMinPortAddress && nAddress <= kMaxPortAddress) {
            m_mgr.SetEPPAddress(m_pCurrDevice->m_nEPPDevice, static_cast<ULONG>(nAddress));
        }
    }
}

void CHardwarePage::OnButtonDefault()
{
    m_pControls->SetChoice(HW_MENU_MODEL, MODEL_CHOICE_CIRREL);
    m_pControls->SetText(HW_FIELD_UNIT, "");
    EnableControls();
}

BOOLEAN CHardwarePage::NameIsUsable(const char* pszName)
{
    char szText[KINETOR_NAME_SIZE + 160];
    const char* p = pszName;
    while (*p != '\0' && isspace(static_cast<unsigned char>(*p))) {
        p++;
    }
    if (*p == '\0') {
        m_pSink->ShowError("Please enter a name for the new Kinetor device.");
        return FALSE;
    }
    // The name is the first line of its file and part of the names of its calibration and
    // temperature files; a line break or a '/' would make the device unreachable.
    for (p = pszName; *p != '\0'; p++) {
        if (*p == '/' || iscntrl(static_cast<unsigned char>(*p))) {
            m_pSink->ShowError("A Kinetor device name may not contain '/' or control characters.");
            return FALSE;
        }
    }
    // Applications open a device by its name; of two devices with one name only the first
    // could ever be opened.
    for (int i = 0; i < m_nDevices; i++) {
        if (strcmp(m_aDevices[i]->m_szName, pszName) == 0) {
            snprintf(szText, sizeof(szText),
                     "A Kinetor device named \"%.100s\" exists already.\nPlease choose another name.", pszName);
            m_pSink->ShowError(szText);
            return FALSE;
        }
    }
    return TRUE;
}

void CHardwarePage::OnButtonAdd()
{
    if (m_nDevices >= KINETOR_MAX_CONFIGS) {
        m_pSink->ShowError(apszRes[MSG_TOO_MANY]);
        return;
    }
    if (m_pCurrDevice != nullptr && !Validate()) {
        return;
    }
    char szName[KINETOR_NAME_SIZE];
    szName[0] = '\0';
    if (!m_pControls->RunAddDialog(szName, sizeof(szName)) || !NameIsUsable(szName)) {
        return;
    }
    CKinetorDevice* pDevice = m_mgr.AddKinetor(m_aDevices, m_nDevices, szName);
    if (pDevice == nullptr) {
        m_pSink->ShowError(apszRes[MSG_TOO_MANY]);
        return;
    }
    m_pControls->ListAdd(pDevice->m_szName);
    m_pControls->ListSelect(PositionOf(pDevice));
    OnSelChangeKinetor();
    if (m_pDual != nullptr) {
        m_pDual->Reload();
    }
}

void CHardwarePage::OnButtonDelete()
{
    if (m_nDevices <= 1) {
        m_pSink->ShowError(apszRes[MSG_LAST_DEVICE]);
        return;
    }
    if (!m_pSink->AskQuestion(apszRes[MSG_CONFIRM_DELETE])) {
        return;
    }
    CKinetorDevice* pDevice = m_pCurrDevice;
    int nPos = PositionOf(pDevice);
    if (pDevice == nullptr || nPos < 0) {
        return;
    }
    char szFileName[32];
    FormFileName(szFileName, sizeof(szFileName), pDevice);
    pDevice->DeleteConfigurationFile(szFileName);
    std::string strText;
    if (ReadStoredText(szFileName, strText)) {
        // The store reports nothing; a file that is still there would bring the device
        // back at the next start, so the list keeps it too.
        char szText[KINETOR_NAME_SIZE + 200];
        snprintf(szText, sizeof(szText),
                 "The configuration file %s of \"%.100s\" could not be removed.\nThe device was not deleted.",
                 szFileName, pDevice->m_szName);
        m_pSink->ShowError(szText);
        return;
    }
    // Calibration and temperatures belong to the device that is gone; a later device of
    // the same name must not start from them.
    RemoveStateFiles(pDevice->m_szName);
    ForgetUnreadable(pDevice);
    m_mgr.DeleteKinetor(m_aDevices, m_nDevices, pDevice);
    // The list and the array keep one order, so positions in one are positions in the other.
    for (int i = nPos; i + 1 < KINETOR_MAX_CONFIGS; i++) {
        m_aDevices[i] = m_aDevices[i + 1];
    }
    m_aDevices[KINETOR_MAX_CONFIGS - 1] = nullptr;
    m_pControls->ListDelete(nPos);
    m_pControls->ListSelect(0);
    m_pCurrDevice = nullptr;
    OnSelChangeKinetor();
    if (m_pDual != nullptr) {
        m_pDual->Update();
    }
}

BOOLEAN CHardwarePage::Validate()
{
    if (m_pCurrDevice == nullptr) {
        return FALSE;
    }
    char szUnit[CONFIG_TEXT_SIZE];
    char szAddress[CONFIG_TEXT_SIZE];
    m_pControls->GetText(HW_FIELD_UNIT, szUnit, sizeof(szUnit));
    m_pControls->GetText(HW_FIELD_ADDRESS, szAddress, sizeof(szAddress));
    // Text that is no number at all is out of range as well.
    long nUnit = -1;
    long nAddress = -1;
    if (!ParseDecimal(szUnit, nUnit)) {
        nUnit = -1;
    }
    if (!ParseHex(szAddress, nAddress)) {
        nAddress = -1;
    }
    if (IsParallel()) {
        if (DDV_MinMaxLong(m_pSink, MSG_RANGE_PORT, nUnit, kMinUnit, kMaxUnit) != 0 ||
            DDV_MinMaxLongHex(m_pSink, MSG_RANGE_ADDRESS, nAddress, kMinPortAddress, kMaxPortAddress) != 0) {
            return FALSE;
        }
    } else if (IsAltura(Choice(HW_MENU_MODEL)) && Choice(HW_MENU_CARD) == CARD_CHOICE_PCI) {
        if (DDV_MinMaxLong(m_pSink, MSG_RANGE_ADAPTER, nUnit, kMinUnit, kMaxUnit) != 0) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOLEAN CHardwarePage::OnApply()
{
    m_nChanged = 0;
    if (!Validate() || !FromControls(m_pCurrDevice)) {
        return FALSE;
    }
    const char* pszDir = ConfigWriteDir();
    if (!DirectoryIsWritable(pszDir)) {
        char szText[512];
        snprintf(szText, sizeof(szText),
                 "The configuration directory\n%.400s\ndoes not exist or cannot be written.\nNothing was saved.",
                 pszDir);
        m_pSink->ShowError(szText);
        return FALSE;
    }
    // Every record passes the dual checks before the first file is written, so that a
    // refused pair never leaves some files new and others old.
    for (int i = 0; i < m_nDevices; i++) {
        CKinetorDevice* pDevice = m_aDevices[i];
        switch (pDevice->m_nModelType) {
        case KINETOR_MODEL_BRAVIS:
        case KINETOR_MODEL_ALTURA_6DOF:
            pDevice->m_nChannelSelect = 2;
            break;
        case KINETOR_MODEL_ALTURA_T:
            pDevice->m_nChannelSelect = 0;
            break;
        case KINETOR_MODEL_ALTURA_A:
        case KINETOR_MODEL_CIRREL:
            if (pDevice->m_nChannelSelect != 0) {
                pDevice->m_nChannelSelect = 2;
            }
            break;
        default:
            break;
        }
        if (m_pDual != nullptr && !m_pDual->Process(pDevice)) {
            return FALSE;
        }
    }
    char szFailed[512];
    size_t nFailed = 0;
    szFailed[0] = '\0';
    const short nOption = globalExtra6DOFOption;
    for (int i = 0; i < m_nDevices; i++) {
        CKinetorDevice* pDevice = m_aDevices[i];
        if (IsUnreadable(pDevice) && pDevice != m_pCurrDevice) {
            continue;
        }
        char szFileName[32];
        FormFileName(szFileName, sizeof(szFileName), pDevice);
        std::string strBefore;
        std::string strAfter;
        BOOLEAN bExisted = ReadStoredText(szFileName, strBefore);
        // The store writes the handle type from the process-wide value; each 6-DOF record
        // keeps its own.
        if (pDevice->m_nModelType == KINETOR_MODEL_ALTURA_6DOF) {
            globalExtra6DOFOption = static_cast<short>(pDevice->m_nExtra6DOFOption);
        }
        if (!pDevice->Write()) {
            int n = snprintf(szFailed + nFailed, sizeof(szFailed) - nFailed, "    %s (\"%.60s\")\n", szFileName,
                             pDevice->m_szName);
            if (n > 0 && nFailed + static_cast<size_t>(n) < sizeof(szFailed)) {
                nFailed += static_cast<size_t>(n);
            }
            continue;
        }
        ForgetUnreadable(pDevice);
        if (!bExisted || !ReadStoredText(szFileName, strAfter) || strAfter != strBefore) {
            AddChanged(pDevice->m_szName);
        }
    }
    globalExtra6DOFOption = nOption;
    m_mgr.WriteAddresses();
    if (nFailed > 0) {
        char szText[1024];
        snprintf(szText, sizeof(szText), "These configuration files could not be written in\n%.300s:\n%sThey keep their previous contents.",
                 pszDir, szFailed);
        m_pSink->ShowError(szText);
        return FALSE;
    }
    return TRUE;
}
