// The Motif pages: each builds its widgets with fixed names and forwards every callback to
// its page logic, whose control interface it implements.
#ifndef CONFIG_FORMS_H
#define CONFIG_FORMS_H

#include "DualPage.h"
#include "HardwarePage.h"
#include "PageControls.h"
#include "XdWidgets.h"

// The message boxes as the page logic sees them.
class CMotifMessages : public CMessageSink {
public:
    void ShowError(const char* pszText) override { DoMessageBoxText(pszText, 1); }
    BOOLEAN AskQuestion(const char* pszText) override { return DoMessageBoxText(pszText, 2); }
};

class FormAdd_c : public xd_XmForm_c {
public:
    FormAdd_c();
    Widget create(Widget parent, const char* pszName) override;
    int DoModal();
    void OnOK();
    void OnCancel();

    int m_nAnswer;
    char m_csName[KINETOR_NAME_SIZE];
    Widget FormAdd;
    Widget m_statName;
    Widget m_editName;
    Widget m_btnGo;
    Widget m_btnNoGo;
};

class FormHardware_c : public xd_XmForm_c, public CHardwareControls {
public:
    FormHardware_c(CMessageSink* pSink, FormAdd_c* pAdd);
    Widget create(Widget parent, const char* pszName) override;
    CHardwarePage& Page() { return m_page; }

    int GetChoice(int nMenu) override;
    void SetChoice(int nMenu, int nChoice) override;
    BOOLEAN GetCheck(int nToggle) override;
    void SetCheck(int nToggle, BOOLEAN bOn) override;
    void GetText(int nField, char* pszText, size_t nSize) override;
    void SetText(int nField, const char* pszText) override;
    void SetLabel(int nLabel, const char* pszText) override;
    void Show(int nControl, BOOLEAN bShow) override;
    void ListReset() override;
    void ListAdd(const char* pszName) override;
    void ListDelete(int nPos) override;
    void ListSelect(int nPos) override;
    void ListText(char* pszText, size_t nSize) override;
    BOOLEAN RunAddDialog(char* pszName, size_t nSize) override;

    // Set while the program itself changes the record list, whose selection callback then
    // must not act as if the user had chosen.
    bool m_bFilling;
    Widget m_statKinetor, m_cmbKinetor, m_btnAdd, m_btnDelete;
    Widget m_statModel, m_cmbModel, m_btnAlturaA, m_btnAlturaT, m_btnAltura6DOF, m_btnBravis, m_btnCirrel;
    Widget m_statWorkspace, m_cmbWorkspace, m_cmbWorkspace2;
    Widget m_statMotor, m_cmbMotor, m_statPinch, m_cmbPinch, m_statGimbal, m_cmbGimbal;
    Widget m_statCard, m_statParallel, m_stat1394, m_stat1394Serial, m_lbl1394SerialNumber, m_cmbCard;
    Widget m_btnTimeout, m_btnHighForce, m_statAdapter, m_editUnit, m_statAddress, m_editAddress;
    Widget m_btnDefaults;
    Widget m_aMenus[HW_MENU_COUNT];

private:
    FormAdd_c* m_pAdd;
    CHardwarePage m_page;
};

class FormDual_c : public xd_XmForm_c, public CDualControls {
public:
    FormDual_c(CMessageSink* pSink, CHardwarePage* pHardware);
    Widget create(Widget parent, const char* pszName) override;
    CDualPage& Page() { return m_page; }

    void ComboReset(int nCombo) override;
    void ComboAdd(int nCombo, const char* pszName) override;
    void ComboSelect(int nCombo, int nPos) override;
    void ComboText(int nCombo, char* pszText, size_t nSize) override;
    BOOLEAN GetEnable() override;
    void SetEnable(BOOLEAN bOn) override;
    void Show(int nGroup, BOOLEAN bShow) override;

    bool m_bFilling;
    Widget FormDual;
    Widget m_statMessage1, m_statMessage2, m_statMessage3, m_cmbKinetor1, m_statMessage4, m_cmbKinetor2;
    Widget m_btnEnable, m_statMessage5, m_statMessage6, m_statMessage7, m_statMessage8;

private:
    CDualPage m_page;
};

class m_btnOK_c : public xd_XmPushButton_c {
public:
    Widget create(Widget parent, const char* pszName) override;
};

class m_btnCancel_c : public xd_XmPushButton_c {
public:
    Widget create(Widget parent, const char* pszName) override;
};

class m_btnApply_c : public xd_XmPushButton_c {
public:
    Widget create(Widget parent, const char* pszName) override;
};

extern Widget KinetorConfigurationDialog, FormMain;
extern Widget FrameHardware, FrameLabelHardware, FrameDual, FrameLabelDual;
extern Widget AddDialog;
extern FormHardware_c* FormHardware;
extern FormDual_c* FormDual;
extern FormAdd_c* FormAdd;
extern m_btnOK_c* m_btnOK;
extern m_btnCancel_c* m_btnCancel;
extern m_btnApply_c* m_btnApply;

void create_KinetorConfigurationDialog(Display* pDisplay, const char* pszAppName, int argc, char** argv);
void create_AddDialog(Widget parent);

#endif
