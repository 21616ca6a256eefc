// Thin wrappers over Xt widgets, the control functions both pages share, and the modal
// message boxes. Everything here only forwards to Motif; decisions live in the page logic.
#ifndef XD_WIDGETS_H
#define XD_WIDGETS_H

#include <Xm/Xm.h>

#include "KinetorTypes.h"

class xd_base_c {
public:
    xd_base_c() : _xd_rootwidget(nullptr) {}
    virtual ~xd_base_c() {}
    Widget xd_rootwidget() const { return _xd_rootwidget; }

protected:
    Widget _xd_rootwidget;
};

class xd_XtWidget_c : public xd_base_c {
public:
    virtual void xd_enable();
    virtual void xd_disable();
    virtual void xd_destroy();
    void SetValue(const char* pszName, XtArgVal value);
    void SetValues(ArgList args, Cardinal nArgs);
    void GetValue(const char* pszName, XtArgVal pValue);
    void GetValues(ArgList args, Cardinal nArgs);
    void Map();
    void Unmap();
};

class xd_ChildWidget_c : public xd_XtWidget_c {
public:
    virtual void xd_show() = 0;
    virtual void xd_hide() = 0;
    void Manage();
    void Unmanage();
};

class xd_NonShellWidget_c : public xd_ChildWidget_c {
public:
    void xd_show() override { Map(); }
    void xd_hide() override { Unmap(); }
};

class xd_XmForm_c : public xd_NonShellWidget_c {
public:
    virtual Widget create(Widget parent, const char* pszName) = 0;
};

class xd_XmPushButton_c : public xd_NonShellWidget_c {
public:
    virtual Widget create(Widget parent, const char* pszName) = 0;
};

class xd_ApplicationShell_c : public xd_XtWidget_c {
public:
    void Attach(Widget w) { _xd_rootwidget = w; }
    void xd_exit(int nStatus);
    void Realize();
};

// Option menus: the index of the entry whose callback is running, by menu slot.
#define COMBO_CACHE_SLOTS 7
typedef struct _COMBOCACHE {
    int nItems[COMBO_CACHE_SLOTS];
} COMBOCACHE;

extern XtAppContext app_context;
extern Display* display;
extern Widget MessageBoxQuestion, FormMessageBoxQuestion, MessageBoxError, FormMessageBoxError;
extern Widget wMessageBox;
extern int nAnswer;
extern COMBOCACHE ccCache;

// Link callbacks for resource-file wiring; client data is the address of a Widget variable.
void XDmanage_link(Widget, XtPointer, XtPointer);
void XDunmanage_link(Widget, XtPointer, XtPointer);
void XDpopup_link(Widget, XtPointer, XtPointer);
void XDpopdown_link(Widget, XtPointer, XtPointer);
void XDmap_link(Widget, XtPointer, XtPointer);
void XDunmap_link(Widget, XtPointer, XtPointer);
void XDenable_link(Widget, XtPointer, XtPointer);
void XDdisable_link(Widget, XtPointer, XtPointer);

// Message boxes.
void CreateMessageBoxes(Widget shell);
BOOL DoMessageBox(int nRes, int nType);
BOOL DoMessageBoxText(const char* pText, int nType);
void MessageBoxGo(Widget, XtPointer, XtPointer);
void MessageBoxNoGo(Widget, XtPointer, XtPointer);
// Runs events until *pnAnswer is non-zero.
void WaitForAnswer(int* pnAnswer);

// Control functions.
void EnableControl(Widget w, BOOL bCond, BOOL bHide);
int GetCurSel(Widget optionMenu, int nSlot);
void SetCurSel(Widget optionMenu, int nSlot, int n);
BOOL GetCheck(Widget w);
void SetCheck(Widget w, BOOL bOn);
void GetWindowText(Widget w, char* pszText, size_t nSize);
void SetWindowText(Widget w, const char* pszText);
void SetLabel(Widget w, const char* pszText);
void AddString(Widget combo, const char* pszText);
void DeletePos(Widget combo, int nPos);
int FindString(Widget combo, const char* pszText);
int SelectString(Widget combo, const char* pszText);
int GetCurPos(Widget combo);
void SetCurPos(Widget combo, int nPos);
void GetString(Widget combo, char* pszText, size_t nSize);
void ResetContent(Widget combo);
void Empty(char* pszText);
BOOL IsEmpty(const char* pszText);

// Fonts of the window.
extern const char kMediumFont[];
extern const char kBoldFont[];

#endif
