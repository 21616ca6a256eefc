#include <locale.h>
#include <stdio.h>
#include <stdlib.h>

#include <Xm/RepType.h>
#include <Xm/Xm.h>

#include "Forms.h"
#include "ProgramExit.h"

namespace {

PFN_PROGRAM_EXIT g_pfnExit = nullptr;

void CBCancel(Widget, XEvent*, String*, Cardinal*)
{
}

XtActionsRec actionsTable[] = {
    {const_cast<char*>("CBCancel"), CBCancel},
};

// Problems found while loading are shown once the window is on the screen.
void ReportLoadProblems(XtPointer, XtIntervalId*)
{
    if (FormHardware != nullptr) {
        FormHardware->Page().ReportLoadProblems();
    }
}

}  // namespace

void EndConfigurationProgram(int nStatus)
{
    if (g_pfnExit != nullptr) {
        g_pfnExit(nStatus);
        return;
    }
    exit(nStatus);
}

void SetConfigurationExitHandler(PFN_PROGRAM_EXIT pfnExit)
{
    g_pfnExit = pfnExit;
}

BOOLEAN CreateConfigurationProgram(int argc, char** argv)
{
    XtSetLanguageProc(nullptr, nullptr, nullptr);
    // Configuration files always use a full stop as decimal point, whatever the locale.
    setlocale(LC_NUMERIC, "C");
    XtToolkitInitialize();
    app_context = XtCreateApplicationContext();
    const char* pszName = argc > 0 && argv[0] != nullptr ? argv[0] : "KinetorConfiguration";
    display = XtOpenDisplay(app_context, nullptr, pszName, "XApplication", nullptr, 0, &argc, argv);
    if (display == nullptr) {
        printf("%s: can't open display, exiting...\n", pszName);
        fflush(stdout);
        XtDestroyApplicationContext(app_context);
        app_context = nullptr;
        return FALSE;
    }
    XmRepTypeInstallTearOffModelConverter();
    XtAppAddActions(app_context, actionsTable, XtNumber(actionsTable));
    create_KinetorConfigurationDialog(display, "KinetorConfiguration", argc, argv);
    // The question and error boxes exist as children of the shell from the start.
    CreateMessageBoxes(KinetorConfigurationDialog);
    create_AddDialog(KinetorConfigurationDialog);
    XtRealizeWidget(KinetorConfigurationDialog);
    FormHardware->Page().OnInitDialog();
    FormDual->Page().OnInitDialog();
    XtAppAddTimeOut(app_context, 0, ReportLoadProblems, nullptr);
    return TRUE;
}

void DestroyConfigurationProgram()
{
    if (KinetorConfigurationDialog != nullptr) {
        XtDestroyWidget(KinetorConfigurationDialog);
        KinetorConfigurationDialog = nullptr;
    }
    if (app_context != nullptr) {
        // Runs the pending destroy phase before the context goes.
        while (XtAppPending(app_context) != 0) {
            XtAppProcessEvent(app_context, XtIMAll);
        }
        XtDestroyApplicationContext(app_context);
        app_context = nullptr;
    }
    display = nullptr;
    delete FormDual;
    delete FormHardware;
    delete FormAdd;
    delete m_btnOK;
    delete m_btnCancel;
    delete m_btnApply;
    FormDual = nullptr;
    FormHardware = nullptr;
    FormAdd = nullptr;
    m_btnOK = nullptr;
    m_btnCancel = nullptr;
    m_btnApply = nullptr;
    FormMain = FrameHardware = FrameLabelHardware = FrameDual = FrameLabelDual = AddDialog = nullptr;
    MessageBoxQuestion = FormMessageBoxQuestion = MessageBoxError = FormMessageBoxError = wMessageBox = nullptr;
    for (int i = 0; i < COMBO_CACHE_SLOTS; i++) {
        ccCache.nItems[i] = -1;
    }
}

int RunConfigurationProgram(int argc, char** argv)
{
    if (!CreateConfigurationProgram(argc, argv)) {
        return -1;
    }
    XtAppMainLoop(app_context);
    return 0;
}
