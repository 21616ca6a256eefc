// Logic of the hardware page: the list of device configurations, the choices that describe
// the selected one, and writing them all back. The widgets are reached only through
// CHardwareControls, the message boxes only through CMessageSink.
#ifndef HARDWARE_PAGE_H
#define HARDWARE_PAGE_H

#include "PageControls.h"
#include "config/KinetorDevice.h"
#include "config/KinetorMgr.h"

class CDualPage;

#define CONFIG_TEXT_SIZE 128

class CHardwarePage {
public:
    CHardwarePage(CHardwareControls* pControls, CMessageSink* pSink);
    ~CHardwarePage();

    void SetDualPage(CDualPage* pDual) { m_pDual = pDual; }

    BOOLEAN OnInitDialog();
    // Tells the user, once the window is up, what start-up found wrong: configuration files
    // that could not be read and a configuration directory that cannot take files.
    void ReportLoadProblems();
    CKinetorDevice* GetCurrentKinetor(int& nDevices);
    // Copies the KINETOR_MAX_CONFIGS record pointers and their count.
    void GetKinetorSet(CKinetorDevice** aDevices, int& nDevices);
    CKinetorDevice* GetCurrent() const { return m_pCurrDevice; }

    BOOLEAN ToControls(CKinetorDevice* pDevice);
    BOOLEAN FromControls(CKinetorDevice* pDevice);
    void EnableControls();

    void OnSelChangeKinetor();
    void OnSelChangeModel();
    void OnSelChangeWorkspace();
    void OnSelChangePinch();
    void OnSelChangeCard();
    void OnKillFocusUnit();
    void OnKillFocusAddress();
    void OnButtonAdd();
    void OnButtonDelete();
    void OnButtonDefault();

    BOOLEAN Validate();
    BOOLEAN OnApply();
    BOOLEAN OnOK() { return OnApply(); }

    // Names of the configurations whose stored files the last Apply changed or created.
    int GetChangedCount() const { return m_nChanged; }
    const char* GetChangedName(int i) const;

private:
    int Choice(int nMenu) { return m_pControls->GetChoice(nMenu); }
    BOOLEAN IsParallel();
    void RefreshUnitTexts(CKinetorDevice* pDevice);
    void ShowPortFields(const char* pszLabel);
    void RefreshSerialNumber();
    int PositionOf(CKinetorDevice* pDevice) const;
    BOOLEAN NameIsUsable(const char* pszName);
    BOOLEAN IsUnreadable(CKinetorDevice* pDevice) const;
    void ForgetUnreadable(CKinetorDevice* pDevice);
    void AddChanged(const char* pszName);

    CHardwareControls* m_pControls;
    CMessageSink* m_pSink;
    CDualPage* m_pDual;

    char m_csPCIDevice[CONFIG_TEXT_SIZE];
    char m_csEPPDevice[CONFIG_TEXT_SIZE];
    char m_csEPPAddr[CONFIG_TEXT_SIZE];
    CKinetorDevice* m_pCurrDevice;
    CKinetorMgr m_mgr;
    CKinetorDevice* m_aDevices[KINETOR_MAX_CONFIGS];
    int m_nDevices;
    // Records whose file exists but could not be read: shown with default values, and
    // written back only when applied while selected, so that a file the user never looked
    // at is not replaced by defaults.
    CKinetorDevice* m_apUnreadable[KINETOR_MAX_CONFIGS];
    char m_aszChanged[KINETOR_MAX_CONFIGS][KINETOR_NAME_SIZE];
    int m_nChanged;
};

#endif
