#include "Forms.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <Xm/ComboBox.h>
#include <Xm/DialogS.h>
#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/Protocols.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>

#include "ConfigProgram.h"
#include "ProgramExit.h"

Widget KinetorConfigurationDialog = nullptr;
Widget FormMain = nullptr;
Widget FrameHardware = nullptr;
Widget FrameLabelHardware = nullptr;
Widget FrameDual = nullptr;
Widget FrameLabelDual = nullptr;
Widget AddDialog = nullptr;
FormHardware_c* FormHardware = nullptr;
FormDual_c* FormDual = nullptr;
FormAdd_c* FormAdd = nullptr;
m_btnOK_c* m_btnOK = nullptr;
m_btnCancel_c* m_btnCancel = nullptr;
m_btnApply_c* m_btnApply = nullptr;

namespace {

const int kRow = 34;         // row pitch of the pages
const int kField = 130;      // column of the controls behind their labels

void SetFonts(Widget w, const char* pszFont)
{
    XtVaSetValues(w, XtVaTypedArg, XmNbuttonFontList, XmRString, pszFont, strlen(pszFont) + 1, XtVaTypedArg,
                  XmNlabelFontList, XmRString, pszFont, strlen(pszFont) + 1, XtVaTypedArg, XmNtextFontList,
                  XmRString, pszFont, strlen(pszFont) + 1, NULL);
}

// Every control sits at a fixed offset from the form's top left corner.
void Place(Widget w, int x, int y)
{
    XtVaSetValues(w, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, x, XmNtopAttachment, XmATTACH_FORM,
                  XmNtopOffset, y, NULL);
}

Widget MakeLabel(Widget parent, const char* pszName, const char* pszText, int x, int y)
{
    Widget w = XmCreateLabel(parent, const_cast<char*>(pszName), nullptr, 0);
    SetLabel(w, pszText);
    Place(w, x, y);
    XtManageChild(w);
    return w;
}

Widget MakeButton(Widget parent, const char* pszName, const char* pszText, XtCallbackProc pfn, int x, int y)
{
    Widget w = XmCreatePushButton(parent, const_cast<char*>(pszName), nullptr, 0);
    SetLabel(w, pszText);
    XtAddCallback(w, XmNactivateCallback, pfn, nullptr);
    Place(w, x, y);
    XtManageChild(w);
    return w;
}

Widget MakeToggle(Widget parent, const char* pszName, const char* pszText, XtCallbackProc pfn, int x, int y)
{
    Widget w = XmCreateToggleButton(parent, const_cast<char*>(pszName), nullptr, 0);
    SetLabel(w, pszText);
    XtAddCallback(w, XmNvalueChangedCallback, pfn, nullptr);
    Place(w, x, y);
    XtManageChild(w);
    return w;
}

Widget MakeText(Widget parent, const char* pszName, XtCallbackProc pfn, int x, int y)
{
    Widget w = XmCreateTextField(parent, const_cast<char*>(pszName), nullptr, 0);
    XtVaSetValues(w, XmNcolumns, 8, XmNmaxLength, 32, NULL);
    XtAddCallback(w, XmNlosingFocusCallback, pfn, nullptr);
    XtAddCallback(w, XmNactivateCallback, pfn, nullptr);
    Place(w, x, y - 4);
    XtManageChild(w);
    return w;
}

Widget MakeCombo(Widget parent, const char* pszName, XtCallbackProc pfn, int x, int y, int nColumns)
{
    Widget w = XmCreateDropDownComboBox(parent, const_cast<char*>(pszName), nullptr, 0);
    XtVaSetValues(w, XmNcolumns, nColumns, XmNvisibleItemCount, 8, NULL);
    XtAddCallback(w, XmNselectionCallback, pfn, nullptr);
    Place(w, x, y - 4);
    XtManageChild(w);
    return w;
}

void OnMenuEntry(Widget w, XtPointer pClient, XtPointer);

void SetComboText(Widget combo, const char* pszText)
{
    Widget text = nullptr;
    XtVaGetValues(combo, XmNtextField, &text, NULL);
    if (text != nullptr) {
        SetWindowText(text, pszText);
    }
}

// An option menu with its pulldown; each entry's client data carries slot and index.
Widget MakeOptionMenu(Widget parent, const char* pszName, const char* pszPulldown, int nSlot,
                      const char* const* apszLabels, const char* const* apszButtons, int nCount, Widget* aButtons,
                      int x, int y)
{
    Widget pulldown = XmCreatePulldownMenu(parent, const_cast<char*>(pszPulldown), nullptr, 0);
    for (int i = 0; i < nCount; i++) {
        Widget b = XmCreatePushButton(pulldown, const_cast<char*>(apszButtons[i]), nullptr, 0);
        SetLabel(b, apszLabels[i]);
        XtAddCallback(b, XmNactivateCallback, OnMenuEntry, reinterpret_cast<XtPointer>(static_cast<intptr_t>(nSlot * 100 + i)));
        XtManageChild(b);
        if (aButtons != nullptr) {
            aButtons[i] = b;
        }
    }
    Arg args[1];
    XtSetArg(args[0], XmNsubMenuId, pulldown);
    Widget menu = XmCreateOptionMenu(parent, const_cast<char*>(pszName), args, 1);
    XtUnmanageChild(XmOptionLabelGadget(menu));
    Place(menu, x - 4, y - 6);
    XtManageChild(menu);
    return menu;
}

// ---- callbacks of the hardware page ----

void OnMenuEntry(Widget w, XtPointer pClient, XtPointer)
{
    if (FormHardware == nullptr) {
        return;
    }
    int nCode = static_cast<int>(reinterpret_cast<intptr_t>(pClient));
    int nSlot = nCode / 100;
    int nIndex = nCode % 100;
    if (nSlot < 0 || nSlot >= HW_MENU_COUNT) {
        return;
    }
    // The menu shows the chosen entry also when the entry was activated by a program.
    XtVaSetValues(FormHardware->m_aMenus[nSlot], XmNmenuHistory, w, NULL);
    ccCache.nItems[nSlot] = nIndex;
    CHardwarePage& page = FormHardware->Page();
    switch (nSlot) {
    case HW_MENU_MODEL:
        page.OnSelChangeModel();
        break;
    case HW_MENU_WORKSPACE:
    case HW_MENU_WORKSPACE2:
        page.OnSelChangeWorkspace();
        break;
    case HW_MENU_PINCH:
        page.OnSelChangePinch();
        break;
    case HW_MENU_CARD:
        page.OnSelChangeCard();
        break;
    default:
        break;
    }
    ccCache.nItems[nSlot] = -1;
}

void OnKinetorEntry(Widget, XtPointer, XtPointer pCall)
{
    if (FormHardware == nullptr || FormHardware->m_bFilling) {
        return;
    }
    XmComboBoxCallbackStruct* pcbs = static_cast<XmComboBoxCallbackStruct*>(pCall);
    char szName[KINETOR_NAME_SIZE];
    if (pcbs != nullptr && pcbs->item_or_text != nullptr) {
        char* psz = nullptr;
        if (XmStringGetLtoR(pcbs->item_or_text, const_cast<char*>(XmFONTLIST_DEFAULT_TAG), &psz)) {
            FormHardware->m_bFilling = true;
            SetComboText(FormHardware->m_cmbKinetor, psz);
            FormHardware->m_bFilling = false;
            XtFree(psz);
        }
    }
    GetString(FormHardware->m_cmbKinetor, szName, sizeof(szName));
    // Browsing the list reports every item passed; only a different record is a change.
    CKinetorDevice* pCurrent = FormHardware->Page().GetCurrent();
    if (pCurrent != nullptr && strcmp(pCurrent->m_szName, szName) == 0) {
        return;
    }
    FormHardware->Page().OnSelChangeKinetor();
}

void OnClickToggle(Widget, XtPointer, XtPointer)
{
    // The timeout and high-force toggles are read at Apply.
}

void OnLoseFocusUnit(Widget, XtPointer, XtPointer)
{
    if (FormHardware != nullptr) {
        FormHardware->Page().OnKillFocusUnit();
    }
}

void OnLoseFocusAddress(Widget, XtPointer, XtPointer)
{
    if (FormHardware != nullptr) {
        FormHardware->Page().OnKillFocusAddress();
    }
}

void OnAdd(Widget, XtPointer, XtPointer)
{
    if (FormHardware != nullptr) {
        FormHardware->Page().OnButtonAdd();
    }
}

void OnDelete(Widget, XtPointer, XtPointer)
{
    if (FormHardware != nullptr) {
        FormHardware->Page().OnButtonDelete();
    }
}

void OnDefault(Widget, XtPointer, XtPointer)
{
    if (FormHardware != nullptr) {
        FormHardware->Page().OnButtonDefault();
    }
}

// ---- callbacks of the dual page ----

void OnDualEntry(Widget w, XtPointer, XtPointer pCall)
{
    if (FormDual == nullptr || FormDual->m_bFilling) {
        return;
    }
    XmComboBoxCallbackStruct* pcbs = static_cast<XmComboBoxCallbackStruct*>(pCall);
    if (pcbs != nullptr && pcbs->item_or_text != nullptr) {
        char* psz = nullptr;
        if (XmStringGetLtoR(pcbs->item_or_text, const_cast<char*>(XmFONTLIST_DEFAULT_TAG), &psz)) {
            FormDual->m_bFilling = true;
            SetComboText(w, psz);
            FormDual->m_bFilling = false;
            XtFree(psz);
        }
    }
    if (w == FormDual->m_cmbKinetor1) {
        FormDual->Page().OnSelChangeKinetor1();
    } else {
        FormDual->Page().OnSelChangeKinetor2();
    }
}

void OnClickDual(Widget, XtPointer, XtPointer)
{
    if (FormDual != nullptr && !FormDual->m_bFilling) {
        FormDual->Page().OnCheckDual();
    }
}

// ---- the add dialog ----

void OnAddOK(Widget, XtPointer, XtPointer)
{
    if (FormAdd != nullptr) {
        FormAdd->OnOK();
    }
}

void OnAddCancel(Widget, XtPointer, XtPointer)
{
    if (FormAdd != nullptr) {
        FormAdd->OnCancel();
    }
}

// A dialog that goes away while the program waits for it answers Cancel.
void OnAddDestroyed(Widget, XtPointer, XtPointer)
{
    if (FormAdd != nullptr && FormAdd->m_nAnswer == 0) {
        FormAdd->m_nAnswer = 2;
    }
}

// ---- the three buttons ----

void OnApply(Widget, XtPointer, XtPointer)
{
    if (FormHardware != nullptr && FormDual != nullptr) {
        DoApply(FormHardware->Page(), FormDual->Page());
    }
}

void OnOK(Widget, XtPointer, XtPointer)
{
    if (FormHardware != nullptr && FormDual != nullptr && DoApply(FormHardware->Page(), FormDual->Page())) {
        EndConfigurationProgram(0);
    }
}

void OnCancel(Widget, XtPointer, XtPointer)
{
    EndConfigurationProgram(0);
}

Widget CreateButton(Widget parent, const char* pszName, const char* pszText, XtCallbackProc pfn)
{
    Widget w = XmCreatePushButton(parent, const_cast<char*>(pszName), nullptr, 0);
    SetLabel(w, pszText);
    XtVaSetValues(w, XmNwidth, 90, XmNrecomputeSize, False, NULL);
    XtAddCallback(w, XmNactivateCallback, pfn, nullptr);
    XtManageChild(w);
    return w;
}

Widget CreateFrame(Widget parent, const char* pszFrame, const char* pszLabel, const char* pszTitle,
                   Widget* pLabel)
{
    Widget frame = XmCreateFrame(parent, const_cast<char*>(pszFrame), nullptr, 0);
    Widget label = XmCreateLabel(frame, const_cast<char*>(pszLabel), nullptr, 0);
    XtVaSetValues(label, XmNchildType, XmFRAME_TITLE_CHILD, XtVaTypedArg, XmNfontList, XmRString, kBoldFont,
                  strlen(kBoldFont) + 1, NULL);
    SetLabel(label, pszTitle);
    XtManageChild(label);
    *pLabel = label;
    return frame;
}

}  // namespace

// ---- FormAdd_c ----

FormAdd_c::FormAdd_c()
    : m_nAnswer(0), FormAdd(nullptr), m_statName(nullptr), m_editName(nullptr), m_btnGo(nullptr), m_btnNoGo(nullptr)
{
    m_csName[0] = '\0';
}

Widget FormAdd_c::create(Widget parent, const char* pszName)
{
    Arg args[3];
    Cardinal n = 0;
    XtSetArg(args[n], XmNwidth, 410);
    n++;
    XtSetArg(args[n], XmNheight, 100);
    n++;
    XtSetArg(args[n], XmNdialogStyle, XmDIALOG_FULL_APPLICATION_MODAL);
    n++;
    FormAdd = XmCreateForm(parent, const_cast<char*>(pszName), args, n);
    _xd_rootwidget = FormAdd;
    SetFonts(FormAdd, kMediumFont);
    m_statName = MakeLabel(FormAdd, "StaticName", "Enter a name for a new Kinetor device:", 10, 8);
    m_editName = XmCreateTextField(FormAdd, const_cast<char*>("EditName"), nullptr, 0);
    XtVaSetValues(m_editName, XmNmaxLength, KINETOR_NAME_SIZE - 1, XmNleftAttachment, XmATTACH_FORM,
                  XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, XmNtopAttachment,
                  XmATTACH_FORM, XmNtopOffset, 30, NULL);
    XtAddCallback(m_editName, XmNactivateCallback, OnAddOK, nullptr);
    XtManageChild(m_editName);
    m_btnGo = MakeButton(FormAdd, "ButtonGo", "OK", OnAddOK, 110, 64);
    m_btnNoGo = MakeButton(FormAdd, "ButtonNoGo", "Cancel", OnAddCancel, 220, 64);
    XtVaSetValues(m_btnGo, XmNwidth, 80, XmNrecomputeSize, False, NULL);
    XtVaSetValues(m_btnNoGo, XmNwidth, 80, XmNrecomputeSize, False, NULL);
    return FormAdd;
}

int FormAdd_c::DoModal()
{
    Empty(m_csName);
    SetWindowText(m_editName, "");
    m_nAnswer = 0;
    XtManageChild(FormAdd);
    XmProcessTraversal(m_editName, XmTRAVERSE_CURRENT);
    WaitForAnswer(&m_nAnswer);
    return m_nAnswer;
}

void FormAdd_c::OnOK()
{
    XtUnmanageChild(FormAdd);
    GetWindowText(m_editName, m_csName, sizeof(m_csName));
    m_nAnswer = 1;
}

void FormAdd_c::OnCancel()
{
    XtUnmanageChild(FormAdd);
    m_nAnswer = 2;
}

// ---- FormHardware_c ----

FormHardware_c::FormHardware_c(CMessageSink* pSink, FormAdd_c* pAdd)
    : m_bFilling(false), m_pAdd(pAdd), m_page(this, pSink)
{
    for (int i = 0; i < HW_MENU_COUNT; i++) {
        m_aMenus[i] = nullptr;
    }
}

Widget FormHardware_c::create(Widget parent, const char* pszName)
{
    Widget form = XmCreateForm(parent, const_cast<char*>(pszName), nullptr, 0);
    _xd_rootwidget = form;
    XtVaSetValues(form, XmNchildType, XmFRAME_WORKAREA_CHILD, NULL);
    SetFonts(form, kMediumFont);
    const int x2 = kField;
    const int x3 = 300;
    int y = 10;
    m_statKinetor = MakeLabel(form, "StaticKinetor", "Kinetor:", 10, y);
    m_cmbKinetor = MakeCombo(form, "m_cmbKinetor", OnKinetorEntry, x2, y, 20);
    m_btnAdd = MakeButton(form, "ButtonAdd", "Add...", OnAdd, 346, y - 4);
    m_btnDelete = MakeButton(form, "ButtonDelete", "Delete", OnDelete, 406, y - 4);

    y += kRow + 4;
    static const char* const aszModels[] = {"Altura A", "Altura T", "Altura 6 DOF", "Bravis", "Cirrel"};
    static const char* const aszModelButtons[] = {"ButtonAlturaA", "ButtonAlturaT", "ButtonAltura6DOF", "ButtonBravis",
                                                  "ButtonCirrel"};
    Widget aModel[5];
    m_statModel = MakeLabel(form, "m_statModel", "Kinetor Model:", 10, y);
    m_cmbModel = MakeOptionMenu(form, "ComboModel", "menu1", HW_MENU_MODEL, aszModels, aszModelButtons, 5, aModel, x2, y);
    m_btnAlturaA = aModel[0];
    m_btnAlturaT = aModel[1];
    m_btnAltura6DOF = aModel[2];
    m_btnBravis = aModel[3];
    m_btnCirrel = aModel[4];

    y += kRow;
    static const char* const aszWork[] = {"1.0", "1.5", "3.0", "3.0L"};
    static const char* const aszWorkButtons[] = {"Button10", "Button15", "Button30", "Button30B"};
    static const char* const aszWork2Buttons[] = {"Button15_2", "Button30_2", "Button30B_2"};
    m_statWorkspace = MakeLabel(form, "m_statWorkspace", "Workspace:", 10, y);
    m_cmbWorkspace = MakeOptionMenu(form, "ComboWorkspace", "menu3", HW_MENU_WORKSPACE, aszWork, aszWorkButtons, 4,
                                    nullptr, x2, y);
    m_cmbWorkspace2 = MakeOptionMenu(form, "ComboWorkspace2", "menu2", HW_MENU_WORKSPACE2, aszWork + 1,
                                     aszWork2Buttons, 3, nullptr, x2, y);

    y += kRow;
    static const char* const aszRes[] = {"High Resolution", "Low Resolution"};
    static const char* const aszMotorButtons[] = {"ButtonMotorHiRes", "ButtonMotorLoRes"};
    m_statMotor = MakeLabel(form, "m_statMotor", "Motor encoders:", 10, y);
    m_cmbMotor = MakeOptionMenu(form, "ComboMotor", "menu4", HW_MENU_MOTOR, aszRes, aszMotorButtons, 2, nullptr, x2, y);
    m_btnTimeout = MakeToggle(form, "ButtonTimeout", "Timeout circuit", OnClickToggle, x3, y - 2);

    y += kRow;
    static const char* const aszGimbal[] = {"None", "High Resolution", "Low Resolution"};
    static const char* const aszGimbalButtons[] = {"ButtonGimbalNone", "ButtonGimbalHiRes", "ButtonGimbalLoRes"};
    m_statGimbal = MakeLabel(form, "m_statGimbal", "Gimbal encoders:", 10, y);
    m_cmbGimbal = MakeOptionMenu(form, "ComboGimbal", "menu5", HW_MENU_GIMBAL, aszGimbal, aszGimbalButtons, 3, nullptr,
                                 x2, y);
    m_btnHighForce = MakeToggle(form, "ButtonHighForce", "High Force", OnClickToggle, x3, y - 2);

    y += kRow;
    static const char* const aszPinch[] = {"Pinch Capable", "ThumbPad", "Scissors", "Not Pinch Capable"};
    static const char* const aszPinchButtons[] = {"ButtonPinchCapable", "ButtonPinchThumbPad", "ButtonPinchScissors",
                                                  "ButtonPinchNotCapable"};
    m_statPinch = MakeLabel(form, "m_statPinch", "Handle Type:", 10, y);
    m_cmbPinch = MakeOptionMenu(form, "ComboPinch", "menu69", HW_MENU_PINCH, aszPinch, aszPinchButtons, 4, nullptr, x2, y);

    y += kRow;
    static const char* const aszCard[] = {"ISA card", "PCI card", "VME card", "Parallel port"};
    static const char* const aszCardButtons[] = {"ButtonISA", "ButtonPCI", "ButtonVME", "ButtonEPP"};
    m_statCard = MakeLabel(form, "m_statCard", "Interface:", 10, y);
    m_cmbCard = MakeOptionMenu(form, "ComboCard", "menu6", HW_MENU_CARD, aszCard, aszCardButtons, 4, nullptr, x2, y);
    m_statParallel = MakeLabel(form, "m_statParallel", "Parallel port", x2, y);
    m_stat1394 = MakeLabel(form, "m_stat1394", "1394 port", x2, y);
    m_stat1394Serial = MakeLabel(form, "m_stat1394Serial", "Serial number:", x3 - 50, y);
    m_lbl1394SerialNumber = MakeLabel(form, "m_lbl1394SerialNumber", "cirrel serial number", x3 + 60, y);

    y += kRow + 2;
    m_statAdapter = MakeLabel(form, "StaticAdapter", "Adapter number:", 10, y);
    m_editUnit = MakeText(form, "EditUnit", OnLoseFocusUnit, x2, y);

    y += kRow;
    m_statAddress = MakeLabel(form, "StaticAddress", "Base address:", 10, y);
    m_editAddress = MakeText(form, "EditAddress", OnLoseFocusAddress, x2, y);
    m_btnDefaults = MakeButton(form, "ButtonDefaults", "Defaults", OnDefault, 390, y - 4);

    m_aMenus[HW_MENU_MODEL] = m_cmbModel;
    m_aMenus[HW_MENU_WORKSPACE] = m_cmbWorkspace;
    m_aMenus[HW_MENU_WORKSPACE2] = m_cmbWorkspace2;
    m_aMenus[HW_MENU_MOTOR] = m_cmbMotor;
    m_aMenus[HW_MENU_GIMBAL] = m_cmbGimbal;
    m_aMenus[HW_MENU_PINCH] = m_cmbPinch;
    m_aMenus[HW_MENU_CARD] = m_cmbCard;
    return form;
}

int FormHardware_c::GetChoice(int nMenu)
{
    return nMenu >= 0 && nMenu < HW_MENU_COUNT ? GetCurSel(m_aMenus[nMenu], nMenu) : 0;
}

void FormHardware_c::SetChoice(int nMenu, int nChoice)
{
    if (nMenu >= 0 && nMenu < HW_MENU_COUNT) {
        SetCurSel(m_aMenus[nMenu], nMenu, nChoice);
    }
}

BOOLEAN FormHardware_c::GetCheck(int nToggle)
{
    return ::GetCheck(nToggle == HW_TOGGLE_TIMEOUT ? m_btnTimeout : m_btnHighForce);
}

void FormHardware_c::SetCheck(int nToggle, BOOLEAN bOn)
{
    ::SetCheck(nToggle == HW_TOGGLE_TIMEOUT ? m_btnTimeout : m_btnHighForce, bOn);
}

void FormHardware_c::GetText(int nField, char* pszText, size_t nSize)
{
    GetWindowText(nField == HW_FIELD_UNIT ? m_editUnit : m_editAddress, pszText, nSize);
}

void FormHardware_c::SetText(int nField, const char* pszText)
{
    SetWindowText(nField == HW_FIELD_UNIT ? m_editUnit : m_editAddress, pszText);
}

void FormHardware_c::SetLabel(int nLabel, const char* pszText)
{
    // "&" marks the mnemonic letter of a label; Motif labels have no mnemonics, so the
    // marker is left out of the text shown.
    char szText[KINETOR_NAME_SIZE];
    size_t n = 0;
    for (const char* p = pszText; p != nullptr && *p != '\0' && n + 1 < sizeof(szText); p++) {
        if (*p != '&') {
            szText[n++] = *p;
        }
    }
    szText[n] = '\0';
    ::SetLabel(nLabel == HW_LABEL_UNIT ? m_statAdapter : m_lbl1394SerialNumber, szText);
}

void FormHardware_c::Show(int nControl, BOOLEAN bShow)
{
    Widget aw[3] = {nullptr, nullptr, nullptr};
    switch (nControl) {
    case HW_SHOW_GIMBAL:
        aw[0] = m_statGimbal;
        aw[1] = m_cmbGimbal;
        break;
    case HW_SHOW_WORKSPACE:
        aw[0] = m_cmbWorkspace;
        break;
    case HW_SHOW_CARD:
        aw[0] = m_cmbCard;
        break;
    case HW_SHOW_TIMEOUT:
        aw[0] = m_btnTimeout;
        break;
    case HW_SHOW_WORKSPACE_LABEL:
        aw[0] = m_statWorkspace;
        break;
    case HW_SHOW_WORKSPACE2:
        aw[0] = m_cmbWorkspace2;
        break;
    case HW_SHOW_PARALLEL_LABEL:
        aw[0] = m_statParallel;
        break;
    case HW_SHOW_1394:
        aw[0] = m_stat1394;
        aw[1] = m_stat1394Serial;
        aw[2] = m_lbl1394SerialNumber;
        break;
    case HW_SHOW_HIGHFORCE:
        aw[0] = m_btnHighForce;
        break;
    case HW_SHOW_UNIT:
        aw[0] = m_statAdapter;
        aw[1] = m_editUnit;
        break;
    case HW_SHOW_ADDRESS:
        aw[0] = m_statAddress;
        aw[1] = m_editAddress;
        break;
    case HW_SHOW_PINCH:
        aw[0] = m_cmbPinch;
        break;
    case HW_SHOW_MOTOR:
        aw[0] = m_statMotor;
        aw[1] = m_cmbMotor;
        break;
    default:
        break;
    }
    for (Widget w : aw) {
        EnableControl(w, bShow, TRUE);
    }
}

void FormHardware_c::ListReset()
{
    m_bFilling = true;
    ResetContent(m_cmbKinetor);
    m_bFilling = false;
}

void FormHardware_c::ListAdd(const char* pszName)
{
    AddString(m_cmbKinetor, pszName);
}

void FormHardware_c::ListDelete(int nPos)
{
    m_bFilling = true;
    DeletePos(m_cmbKinetor, nPos);
    m_bFilling = false;
}

void FormHardware_c::ListSelect(int nPos)
{
    m_bFilling = true;
    SetCurPos(m_cmbKinetor, nPos);
    m_bFilling = false;
}

void FormHardware_c::ListText(char* pszText, size_t nSize)
{
    GetString(m_cmbKinetor, pszText, nSize);
}

BOOLEAN FormHardware_c::RunAddDialog(char* pszName, size_t nSize)
{
    if (m_pAdd == nullptr || m_pAdd->DoModal() != 1) {
        return FALSE;
    }
    snprintf(pszName, nSize, "%s", m_pAdd->m_csName);
    return TRUE;
}

// ---- FormDual_c ----

FormDual_c::FormDual_c(CMessageSink* pSink, CHardwarePage* pHardware)
    : m_bFilling(false), FormDual(nullptr), m_page(this, pSink, pHardware)
{
}

Widget FormDual_c::create(Widget parent, const char* pszName)
{
    FormDual = XmCreateForm(parent, const_cast<char*>(pszName), nullptr, 0);
    _xd_rootwidget = FormDual;
    XtVaSetValues(FormDual, XmNchildType, XmFRAME_WORKAREA_CHILD, NULL);
    SetFonts(FormDual, kMediumFont);
    m_statMessage1 = MakeLabel(FormDual, "StaticMessage1", "Specify the names of two Kinetor devices you", 10, 10);
    m_statMessage2 = MakeLabel(FormDual, "StaticMessage2", "would like to use in a Dual Kinetor Configuration:", 10, 30);
    m_statMessage3 = MakeLabel(FormDual, "StaticMessage3", "Kinetor 1:", 10, 72);
    m_cmbKinetor1 = MakeCombo(FormDual, "m_cmbKinetor1", OnDualEntry, 90, 72, 18);
    m_statMessage4 = MakeLabel(FormDual, "StaticMessage4", "Kinetor 2:", 10, 112);
    m_cmbKinetor2 = MakeCombo(FormDual, "m_cmbKinetor2", OnDualEntry, 90, 112, 18);
    m_btnEnable = MakeToggle(FormDual, "ButtonEnable", "Enable this configuration", OnClickDual, 10, 152);
    m_statMessage5 = MakeLabel(FormDual, "StaticMessage5", "You need to create at least two Kinetor devices", 10, 10);
    m_statMessage6 = MakeLabel(FormDual, "StaticMessage6", "in order to set up a Dual Kinetor Configuration.", 10, 30);
    m_statMessage7 = MakeLabel(FormDual, "StaticMessage7", "Please use the Hardware section to add at least one", 10, 60);
    m_statMessage8 = MakeLabel(FormDual, "StaticMessage8", "more Kinetor device.", 10, 80);
    return FormDual;
}

void FormDual_c::ComboReset(int nCombo)
{
    m_bFilling = true;
    ResetContent(nCombo == 0 ? m_cmbKinetor1 : m_cmbKinetor2);
    m_bFilling = false;
}

void FormDual_c::ComboAdd(int nCombo, const char* pszName)
{
    AddString(nCombo == 0 ? m_cmbKinetor1 : m_cmbKinetor2, pszName);
}

void FormDual_c::ComboSelect(int nCombo, int nPos)
{
    m_bFilling = true;
    SetCurPos(nCombo == 0 ? m_cmbKinetor1 : m_cmbKinetor2, nPos);
    m_bFilling = false;
}

void FormDual_c::ComboText(int nCombo, char* pszText, size_t nSize)
{
    GetString(nCombo == 0 ? m_cmbKinetor1 : m_cmbKinetor2, pszText, nSize);
}

BOOLEAN FormDual_c::GetEnable()
{
    return ::GetCheck(m_btnEnable);
}

void FormDual_c::SetEnable(BOOLEAN bOn)
{
    ::SetCheck(m_btnEnable, bOn);
}

void FormDual_c::Show(int nGroup, BOOLEAN bShow)
{
    if (nGroup == DUAL_SHOW_PAIR) {
        Widget aw[] = {m_statMessage1, m_statMessage2, m_statMessage3, m_cmbKinetor1, m_statMessage4, m_cmbKinetor2,
                       m_btnEnable};
        for (Widget w : aw) {
            EnableControl(w, bShow, TRUE);
        }
    } else {
        Widget aw[] = {m_statMessage5, m_statMessage6, m_statMessage7, m_statMessage8};
        for (Widget w : aw) {
            EnableControl(w, bShow, TRUE);
        }
    }
}

// ---- buttons ----

Widget m_btnOK_c::create(Widget parent, const char* pszName)
{
    _xd_rootwidget = CreateButton(parent, pszName, "OK", OnOK);
    return _xd_rootwidget;
}

Widget m_btnCancel_c::create(Widget parent, const char* pszName)
{
    _xd_rootwidget = CreateButton(parent, pszName, "Cancel", OnCancel);
    return _xd_rootwidget;
}

Widget m_btnApply_c::create(Widget parent, const char* pszName)
{
    _xd_rootwidget = CreateButton(parent, pszName, "Apply", OnApply);
    return _xd_rootwidget;
}

// ---- the window ----

void create_KinetorConfigurationDialog(Display* pDisplay, const char* pszAppName, int argc, char** argv)
{
    Arg args[8];
    Cardinal n = 0;
    XtSetArg(args[n], XmNwidth, 864);
    n++;
    XtSetArg(args[n], XmNheight, 458);
    n++;
    XtSetArg(args[n], XmNallowShellResize, False);
    n++;
    XtSetArg(args[n], XmNtitle, "Kinetor Configuration");
    n++;
    XtSetArg(args[n], XmNargc, argc);
    n++;
    XtSetArg(args[n], XmNargv, argv);
    n++;
    KinetorConfigurationDialog =
        XtAppCreateShell(pszAppName, "XApplication", applicationShellWidgetClass, pDisplay, args, n);
    FormMain = XmCreateForm(KinetorConfigurationDialog, const_cast<char*>("FormMain"), nullptr, 0);
    SetFonts(FormMain, kMediumFont);

    static CMotifMessages messages;
    FormAdd = new FormAdd_c();
    FormHardware = new FormHardware_c(&messages, FormAdd);
    FormDual = new FormDual_c(&messages, &FormHardware->Page());
    FormHardware->Page().SetDualPage(&FormDual->Page());

    m_btnOK = new m_btnOK_c();
    m_btnCancel = new m_btnCancel_c();
    m_btnApply = new m_btnApply_c();
    Widget apply = m_btnApply->create(FormMain, "ButtonApply");
    Widget cancel = m_btnCancel->create(FormMain, "ButtonCancel");
    Widget ok = m_btnOK->create(FormMain, "ButtonOK");
    XtVaSetValues(apply, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, XmNbottomAttachment,
                  XmATTACH_FORM, XmNbottomOffset, 10, NULL);
    XtVaSetValues(cancel, XmNrightAttachment, XmATTACH_WIDGET, XmNrightWidget, apply, XmNrightOffset, 10,
                  XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 10, NULL);
    XtVaSetValues(ok, XmNrightAttachment, XmATTACH_WIDGET, XmNrightWidget, cancel, XmNrightOffset, 10,
                  XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 10, NULL);

    FrameHardware = CreateFrame(FormMain, "FrameHardware", "FrameLabelHardware", "Hardware", &FrameLabelHardware);
    XtVaSetValues(FrameHardware, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, XmNtopAttachment,
                  XmATTACH_FORM, XmNtopOffset, 8, XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, ok,
                  XmNbottomOffset, 10, XmNwidth, 480, NULL);
    FormHardware->create(FrameHardware, "FormHardware");
    XtManageChild(FormHardware->xd_rootwidget());
    XtManageChild(FrameHardware);

    FrameDual = CreateFrame(FormMain, "FrameDual", "FrameLabelDual", "Dual configuration", &FrameLabelDual);
    XtVaSetValues(FrameDual, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, FrameHardware, XmNleftOffset, 10,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, XmNtopAttachment, XmATTACH_FORM,
                  XmNtopOffset, 8, XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, ok, XmNbottomOffset, 10,
                  NULL);
    FormDual->create(FrameDual, "FormDual");
    XtManageChild(FormDual->xd_rootwidget());
    XtManageChild(FrameDual);
    XtManageChild(FormMain);
}

void create_AddDialog(Widget parent)
{
    Arg args[4];
    Cardinal n = 0;
    XtSetArg(args[n], XmNwidth, 402);
    n++;
    XtSetArg(args[n], XmNheight, 96);
    n++;
    XtSetArg(args[n], XmNtitle, "Add Kinetor device");
    n++;
    XtSetArg(args[n], XmNdeleteResponse, XmDO_NOTHING);
    n++;
    AddDialog = XmCreateDialogShell(parent, const_cast<char*>("AddDialog"), args, n);
    Atom wmDelete = XmInternAtom(XtDisplay(parent), const_cast<char*>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(AddDialog, wmDelete, OnAddCancel, nullptr);
    FormAdd->create(AddDialog, "FormAdd");
    XtAddCallback(FormAdd->FormAdd, XmNdestroyCallback, OnAddDestroyed, nullptr);
}
