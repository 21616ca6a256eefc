#include "XdWidgets.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <Xm/ComboBox.h>
#include <Xm/DialogS.h>
#include <Xm/List.h>
#include <Xm/MessageB.h>
#include <Xm/Protocols.h>
#include <Xm/RowColumn.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>

#include "Messages.h"

XtAppContext app_context = nullptr;
Display* display = nullptr;
Widget MessageBoxQuestion = nullptr;
Widget FormMessageBoxQuestion = nullptr;
Widget MessageBoxError = nullptr;
Widget FormMessageBoxError = nullptr;
Widget wMessageBox = nullptr;
int nAnswer = 0;
COMBOCACHE ccCache = {{-1, -1, -1, -1, -1, -1, -1}};

const char kMediumFont[] = "-adobe-helvetica-medium-r-normal--14-100-100-100-p-76-iso8859-1";
const char kBoldFont[] = "-adobe-helvetica-bold-r-normal--14-100-100-100-p-82-iso8859-1";

namespace {

bool g_bInMessageBox = false;

Widget LinkTarget(XtPointer pClient)
{
    Widget* pw = static_cast<Widget*>(pClient);
    return pw != nullptr ? *pw : nullptr;
}

// A box closed by the window manager or destroyed answers No, so a modal wait always ends.
void MessageBoxClosed(Widget, XtPointer, XtPointer)
{
    if (nAnswer == 0) {
        nAnswer = 2;
    }
}

Widget CreateMessageBox(Widget shell, const char* pszShell, const char* pszBox, unsigned char nType,
                        Widget* pDialog)
{
    Arg args[4];
    Cardinal n = 0;
    XtSetArg(args[n], XmNtitle, "Kinetor Configuration");
    n++;
    XtSetArg(args[n], XmNdeleteResponse, XmDO_NOTHING);
    n++;
    Widget dialog = XmCreateDialogShell(shell, const_cast<char*>(pszShell), args, n);
    Atom wmDelete = XmInternAtom(XtDisplay(shell), const_cast<char*>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(dialog, wmDelete, MessageBoxNoGo, nullptr);
    XmString title = XmStringCreateLocalized(const_cast<char*>("Kinetor Configuration"));
    n = 0;
    XtSetArg(args[n], XmNdialogType, nType);
    n++;
    XtSetArg(args[n], XmNdialogStyle, XmDIALOG_FULL_APPLICATION_MODAL);
    n++;
    XtSetArg(args[n], XmNdialogTitle, title);
    n++;
    Widget box = XmCreateMessageBox(dialog, const_cast<char*>(pszBox), args, n);
    XmStringFree(title);
    XtAddCallback(box, XmNokCallback, MessageBoxGo, nullptr);
    XtAddCallback(box, XmNcancelCallback, MessageBoxNoGo, nullptr);
    XtAddCallback(box, XmNdestroyCallback, MessageBoxClosed, nullptr);
    *pDialog = dialog;
    return box;
}

void SetButtonLabel(Widget box, const char* pszResource, const char* pszText)
{
    XmString s = XmStringCreateLocalized(const_cast<char*>(pszText));
    XtVaSetValues(box, pszResource, s, NULL);
    XmStringFree(s);
}

Widget ComboText(Widget combo)
{
    Widget text = nullptr;
    XtVaGetValues(combo, XmNtextField, &text, NULL);
    return text;
}

Widget ComboList(Widget combo)
{
    Widget list = nullptr;
    XtVaGetValues(combo, XmNlist, &list, NULL);
    return list;
}

}  // namespace

void xd_XtWidget_c::xd_enable()
{
    if (_xd_rootwidget != nullptr) {
        XtSetSensitive(_xd_rootwidget, True);
    }
}

void xd_XtWidget_c::xd_disable()
{
    if (_xd_rootwidget != nullptr) {
        XtSetSensitive(_xd_rootwidget, False);
    }
}

void xd_XtWidget_c::xd_destroy()
{
    if (_xd_rootwidget != nullptr) {
        XtDestroyWidget(_xd_rootwidget);
        _xd_rootwidget = nullptr;
    }
}

void xd_XtWidget_c::SetValue(const char* pszName, XtArgVal value)
{
    Arg arg;
    XtSetArg(arg, const_cast<char*>(pszName), value);
    SetValues(&arg, 1);
}

void xd_XtWidget_c::SetValues(ArgList args, Cardinal nArgs)
{
    if (_xd_rootwidget != nullptr) {
        XtSetValues(_xd_rootwidget, args, nArgs);
    }
}

void xd_XtWidget_c::GetValue(const char* pszName, XtArgVal pValue)
{
    Arg arg;
    XtSetArg(arg, const_cast<char*>(pszName), pValue);
    GetValues(&arg, 1);
}

void xd_XtWidget_c::GetValues(ArgList args, Cardinal nArgs)
{
    if (_xd_rootwidget != nullptr) {
        XtGetValues(_xd_rootwidget, args, nArgs);
    }
}

void xd_XtWidget_c::Map()
{
    if (_xd_rootwidget != nullptr && XtIsRealized(_xd_rootwidget)) {
        XtMapWidget(_xd_rootwidget);
    }
}

void xd_XtWidget_c::Unmap()
{
    if (_xd_rootwidget != nullptr && XtIsRealized(_xd_rootwidget)) {
        XtUnmapWidget(_xd_rootwidget);
    }
}

void xd_ChildWidget_c::Manage()
{
    if (_xd_rootwidget != nullptr) {
        XtManageChild(_xd_rootwidget);
    }
}

void xd_ChildWidget_c::Unmanage()
{
    if (_xd_rootwidget != nullptr) {
        XtUnmanageChild(_xd_rootwidget);
    }
}

void xd_ApplicationShell_c::xd_exit(int nStatus)
{
    exit(nStatus);
}

void xd_ApplicationShell_c::Realize()
{
    if (_xd_rootwidget != nullptr) {
        XtRealizeWidget(_xd_rootwidget);
    }
}

void XDmanage_link(Widget, XtPointer pClient, XtPointer)
{
    if (Widget w = LinkTarget(pClient)) {
        XtManageChild(w);
    }
}

void XDunmanage_link(Widget, XtPointer pClient, XtPointer)
{
    if (Widget w = LinkTarget(pClient)) {
        XtUnmanageChild(w);
    }
}

void XDpopup_link(Widget, XtPointer pClient, XtPointer)
{
    if (Widget w = LinkTarget(pClient)) {
        XtPopup(w, XtGrabNone);
    }
}

void XDpopdown_link(Widget, XtPointer pClient, XtPointer)
{
    if (Widget w = LinkTarget(pClient)) {
        XtPopdown(w);
    }
}

void XDmap_link(Widget, XtPointer pClient, XtPointer)
{
    Widget w = LinkTarget(pClient);
    if (w != nullptr && XtIsRealized(w)) {
        XtMapWidget(w);
    }
}

void XDunmap_link(Widget, XtPointer pClient, XtPointer)
{
    Widget w = LinkTarget(pClient);
    if (w != nullptr && XtIsRealized(w)) {
        XtUnmapWidget(w);
    }
}

void XDenable_link(Widget, XtPointer pClient, XtPointer)
{
    if (Widget w = LinkTarget(pClient)) {
        XtSetSensitive(w, True);
    }
}

void XDdisable_link(Widget, XtPointer pClient, XtPointer)
{
    if (Widget w = LinkTarget(pClient)) {
        XtSetSensitive(w, False);
    }
}

void CreateMessageBoxes(Widget shell)
{
    FormMessageBoxQuestion = CreateMessageBox(shell, "MessageBoxQuestion", "FormMessageBoxQuestion",
                                              XmDIALOG_QUESTION, &MessageBoxQuestion);
    SetButtonLabel(FormMessageBoxQuestion, XmNokLabelString, "Yes");
    SetButtonLabel(FormMessageBoxQuestion, XmNcancelLabelString, "No");
    FormMessageBoxError = CreateMessageBox(shell, "MessageBoxError", "FormMessageBoxError", XmDIALOG_ERROR,
                                           &MessageBoxError);
}

void WaitForAnswer(int* pnAnswer)
{
    while (*pnAnswer == 0 && app_context != nullptr) {
        XtAppProcessEvent(app_context, XtIMAll);
    }
}

BOOL DoMessageBox(int nRes, int nType)
{
    if (nRes < 0 || nRes >= MSG_COUNT) {
        return FALSE;
    }
    return DoMessageBoxText(apszRes[nRes], nType);
}

BOOL DoMessageBoxText(const char* pText, int nType)
{
    Widget box = nType == 1 ? FormMessageBoxError : (nType == 2 ? FormMessageBoxQuestion : nullptr);
    // One box at a time: a second one would end the first one's wait with its own answer.
    if (box == nullptr || pText == nullptr || g_bInMessageBox) {
        return FALSE;
    }
    g_bInMessageBox = true;
    XmString s = XmStringCreateLtoR(const_cast<char*>(pText), const_cast<char*>(XmFONTLIST_DEFAULT_TAG));
    XtVaSetValues(box, XmNmessageString, s, NULL);
    XmStringFree(s);
    XtUnmanageChild(XmMessageBoxGetChild(box, XmDIALOG_HELP_BUTTON));
    if (nType == 1) {
        XtUnmanageChild(XmMessageBoxGetChild(box, XmDIALOG_CANCEL_BUTTON));
    }
    wMessageBox = box;
    nAnswer = 0;
    XtManageChild(box);
    WaitForAnswer(&nAnswer);
    g_bInMessageBox = false;
    return nAnswer == 1 ? TRUE : FALSE;
}

void MessageBoxGo(Widget, XtPointer, XtPointer)
{
    if (wMessageBox != nullptr) {
        XtUnmanageChild(wMessageBox);
    }
    nAnswer = 1;
}

void MessageBoxNoGo(Widget, XtPointer, XtPointer)
{
    if (wMessageBox != nullptr) {
        XtUnmanageChild(wMessageBox);
    }
    nAnswer = 2;
}

void EnableControl(Widget w, BOOL bCond, BOOL bHide)
{
    if (w == nullptr) {
        return;
    }
    if (bHide) {
        if (bCond) {
            XtManageChild(w);
        } else {
            XtUnmanageChild(w);
        }
    }
    XtSetSensitive(w, bCond ? True : False);
}

int GetCurSel(Widget optionMenu, int nSlot)
{
    if (nSlot >= 0 && nSlot < COMBO_CACHE_SLOTS && ccCache.nItems[nSlot] >= 0) {
        return ccCache.nItems[nSlot];
    }
    Widget current = nullptr;
    Widget pulldown = nullptr;
    XtVaGetValues(optionMenu, XmNmenuHistory, &current, XmNsubMenuId, &pulldown, NULL);
    if (current == nullptr || pulldown == nullptr) {
        return 0;
    }
    WidgetList children = nullptr;
    Cardinal nChildren = 0;
    XtVaGetValues(pulldown, XmNchildren, &children, XmNnumChildren, &nChildren, NULL);
    for (Cardinal i = 0; i < nChildren; i++) {
        if (children[i] == current) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

void SetCurSel(Widget optionMenu, int nSlot, int n)
{
    Widget pulldown = nullptr;
    XtVaGetValues(optionMenu, XmNsubMenuId, &pulldown, NULL);
    if (pulldown == nullptr) {
        return;
    }
    WidgetList children = nullptr;
    Cardinal nChildren = 0;
    XtVaGetValues(pulldown, XmNchildren, &children, XmNnumChildren, &nChildren, NULL);
    if (n < 0 || static_cast<Cardinal>(n) >= nChildren) {
        return;
    }
    XtVaSetValues(optionMenu, XmNmenuHistory, children[n], NULL);
    if (nSlot >= 0 && nSlot < COMBO_CACHE_SLOTS && ccCache.nItems[nSlot] >= 0) {
        ccCache.nItems[nSlot] = n;
    }
}

BOOL GetCheck(Widget w)
{
    return XmToggleButtonGetState(w) ? TRUE : FALSE;
}

void SetCheck(Widget w, BOOL bOn)
{
    XmToggleButtonSetState(w, bOn ? True : False, False);
}

void GetWindowText(Widget w, char* pszText, size_t nSize)
{
    if (pszText == nullptr || nSize == 0) {
        return;
    }
    char* psz = XmTextFieldGetString(w);
    snprintf(pszText, nSize, "%s", psz != nullptr ? psz : "");
    XtFree(psz);
}

void SetWindowText(Widget w, const char* pszText)
{
    XmTextFieldSetString(w, const_cast<char*>(pszText != nullptr ? pszText : ""));
}

void SetLabel(Widget w, const char* pszText)
{
    XmString s = XmStringCreateLtoR(const_cast<char*>(pszText != nullptr ? pszText : ""),
                                    const_cast<char*>(XmFONTLIST_DEFAULT_TAG));
    XtVaSetValues(w, XmNlabelString, s, NULL);
    XmStringFree(s);
}

void AddString(Widget combo, const char* pszText)
{
    XmString s = XmStringCreateLocalized(const_cast<char*>(pszText));
    XmComboBoxAddItem(combo, s, 0, False);
    XmStringFree(s);
}

void DeletePos(Widget combo, int nPos)
{
    // The combo box counts from 1 here, whatever its position mode.
    XmComboBoxDeletePos(combo, nPos + 1);
}

int FindString(Widget combo, const char* pszText)
{
    XmString s = XmStringCreateLocalized(const_cast<char*>(pszText));
    int nPos = XmListItemPos(ComboList(combo), s);
    XmStringFree(s);
    return nPos - 1;
}

int SelectString(Widget combo, const char* pszText)
{
    int nPos = FindString(combo, pszText);
    if (nPos >= 0) {
        SetCurPos(combo, nPos);
    }
    return nPos;
}

int GetCurPos(Widget combo)
{
    int* pnPositions = nullptr;
    int nCount = 0;
    int nPos = -1;
    if (XmListGetSelectedPos(ComboList(combo), &pnPositions, &nCount) && nCount > 0) {
        nPos = pnPositions[0] - 1;
    }
    XtFree(reinterpret_cast<char*>(pnPositions));
    return nPos;
}

void SetCurPos(Widget combo, int nPos)
{
    Widget list = ComboList(combo);
    int nItems = 0;
    XmStringTable items = nullptr;
    XtVaGetValues(list, XmNitemCount, &nItems, XmNitems, &items, NULL);
    if (nPos < 0 || nPos >= nItems) {
        return;
    }
    XmListSelectPos(list, nPos + 1, False);
    char* psz = nullptr;
    if (XmStringGetLtoR(items[nPos], const_cast<char*>(XmFONTLIST_DEFAULT_TAG), &psz)) {
        XmTextFieldSetString(ComboText(combo), psz);
        XtFree(psz);
    }
}

void GetString(Widget combo, char* pszText, size_t nSize)
{
    GetWindowText(ComboText(combo), pszText, nSize);
}

void ResetContent(Widget combo)
{
    XmListDeleteAllItems(ComboList(combo));
    XmTextFieldSetString(ComboText(combo), const_cast<char*>(""));
}

void Empty(char* pszText)
{
    if (pszText != nullptr) {
        pszText[0] = '\0';
    }
}

BOOL IsEmpty(const char* pszText)
{
    return pszText == nullptr || pszText[0] == '\0' ? TRUE : FALSE;
}
