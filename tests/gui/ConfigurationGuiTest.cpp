// The configuration program as the user meets it: the real Motif window, on a virtual X
// server started by the test, driven by widget name. Modal boxes and the add dialog are
// answered from timers, which run inside the program's own modal wait.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <Xm/ComboBox.h>
#include <Xm/List.h>
#include <Xm/MessageB.h>
#include <Xm/TextF.h>
#include <Xm/Xm.h>

#include "ConfigFiles.h"
#include "Forms.h"
#include "ProgramExit.h"
#include "config/KinetorDevice.h"
#include "integration/SimFixture.h"

namespace {

pid_t g_nServer = -1;
int g_nExitStatus = -100;
std::function<void()> g_fnLater;
std::string g_strBoxText;

void RecordExit(int nStatus)
{
    g_nExitStatus = nStatus;
}

// A virtual screen of our own; -displayfd hands back a free display number.
bool StartServerOnce()
{
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    g_nServer = fork();
    if (g_nServer == 0) {
        close(fds[0]);
        // The server goes with the test, also when the test dies, and keeps none of its output.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int nNull = open("/dev/null", O_RDWR);
        dup2(nNull, 0);
        dup2(nNull, 1);
        dup2(nNull, 2);
        char szFd[16];
        snprintf(szFd, sizeof(szFd), "%d", fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", szFd, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char szDisplay[32] = {};
    ssize_t n = read(fds[0], szDisplay, sizeof(szDisplay) - 1);
    close(fds[0]);
    if (n > 0) {
        char szName[40];
        snprintf(szName, sizeof(szName), ":%d", atoi(szDisplay));
        setenv("DISPLAY", szName, 1);
        // Two servers started at once may pick one number; only a display that answers counts.
        if (Display* pDisplay = XOpenDisplay(nullptr)) {
            XCloseDisplay(pDisplay);
            return true;
        }
    }
    kill(g_nServer, SIGTERM);
    waitpid(g_nServer, nullptr, 0);
    g_nServer = -1;
    return false;
}

bool StartServer()
{
    for (int i = 0; i < 5; i++) {
        if (StartServerOnce()) {
            return true;
        }
        usleep(100000 * (i + 1));
    }
    return false;
}

void RunLater(XtPointer, XtIntervalId*)
{
    std::function<void()> fn;
    fn.swap(g_fnLater);
    if (fn) {
        fn();
    }
}

// The whole text of a compound string, its line breaks as "\n".
std::string Unparse(XmString s)
{
    std::string str;
    if (s != nullptr) {
        char* psz = static_cast<char*>(XmStringUnparse(s, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, nullptr, 0, XmOUTPUT_ALL));
        if (psz != nullptr) {
            str = psz;
            XtFree(psz);
        }
        XmStringFree(s);
    }
    return str;
}

std::string LabelText(Widget w)
{
    XmString s = nullptr;
    XtVaGetValues(w, XmNlabelString, &s, NULL);
    return Unparse(s);
}

void Activate(Widget w)
{
    XmAnyCallbackStruct cbs = {};
    cbs.reason = XmCR_ACTIVATE;
    XtCallCallbacks(w, XmNactivateCallback, &cbs);
}

}  // namespace

class ConfigurationGuiTest : public CSimFixture {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(StartServer()); }
    static void TearDownTestSuite()
    {
        if (g_nServer > 0) {
            kill(g_nServer, SIGTERM);
            waitpid(g_nServer, nullptr, 0);
            g_nServer = -1;
        }
    }
    void SetUp() override
    {
        CSimFixture::SetUp();
        m_strFixedDir = ConfigDir() + "/fixed";
        ASSERT_TRUE(WriteConfigFile("fixed/.keep", "") || mkdir(m_strFixedDir.c_str(), 0755) == 0);
        SetFixedStateDir(m_strFixedDir.c_str());
        g_nExitStatus = -100;
        SetConfigurationExitHandler(RecordExit);
    }
    void TearDown() override
    {
        if (m_bStarted) {
            DestroyConfigurationProgram();
        }
        SetFixedStateDir(nullptr);
        SetConfigurationExitHandler(nullptr);
        CSimFixture::TearDown();
    }
    void Start()
    {
        static char szName[] = "KinetorConfiguration";
        static char* argv[] = {szName, nullptr};
        m_bStarted = CreateConfigurationProgram(1, argv);
        ASSERT_TRUE(m_bStarted);
        Pump();
    }
    static void Pump()
    {
        while (XtAppPending(app_context) != 0) {
            XtAppProcessEvent(app_context, XtIMAll);
        }
    }
    static Widget W(const char* pszName)
    {
        std::string strPath = std::string("*") + pszName;
        Widget w = XtNameToWidget(KinetorConfigurationDialog, strPath.c_str());
        EXPECT_NE(w, nullptr) << pszName;
        return w;
    }
    static void Press(const char* pszName)
    {
        XtCallActionProc(W(pszName), const_cast<char*>("ArmAndActivate"), nullptr, nullptr, 0);
        Pump();
    }
    static void Type(const char* pszName, const char* pszText)
    {
        Widget w = W(pszName);
        XmTextFieldSetString(w, const_cast<char*>(pszText));
        Activate(w);
    }
    // The next modal box is answered with its OK (or Yes) button, or with Cancel (No);
    // its text is kept.
    static void AnswerNextBox(bool bYes)
    {
        g_strBoxText.clear();
        g_fnLater = [bYes]() {
            XmString s = nullptr;
            XtVaGetValues(wMessageBox, XmNmessageString, &s, NULL);
            g_strBoxText = Unparse(s);
            Activate(XmMessageBoxGetChild(wMessageBox, bYes ? XmDIALOG_OK_BUTTON : XmDIALOG_CANCEL_BUTTON));
        };
        XtAppAddTimeOut(app_context, 20, RunLater, nullptr);
    }
    static void AddDevice(const char* pszName, bool bOK)
    {
        std::string strName = pszName;
        g_fnLater = [strName, bOK]() {
            EXPECT_TRUE(XtIsManaged(FormAdd->FormAdd));
            XmTextFieldSetString(FormAdd->m_editName, const_cast<char*>(strName.c_str()));
            Press(bOK ? "ButtonGo" : "ButtonNoGo");
        };
        XtAppAddTimeOut(app_context, 20, RunLater, nullptr);
        Press("ButtonAdd");
    }
    static int ItemCount(const char* pszCombo)
    {
        Widget list = nullptr;
        int nItems = 0;
        XtVaGetValues(W(pszCombo), XmNlist, &list, NULL);
        XtVaGetValues(list, XmNitemCount, &nItems, NULL);
        return nItems;
    }
    static std::string ComboText(const char* pszCombo)
    {
        Widget text = nullptr;
        XtVaGetValues(W(pszCombo), XmNtextField, &text, NULL);
        char* psz = XmTextFieldGetString(text);
        std::string str = psz;
        XtFree(psz);
        return str;
    }

    bool m_bStarted = false;
    std::string m_strFixedDir;
};

TEST_F(ConfigurationGuiTest, WindowCarriesTheNamedControls)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    const struct {
        const char* pszName;
        const char* pszLabel;
    } aLabels[] = {
        {"FrameLabelHardware", "Hardware"}, {"FrameLabelDual", "Dual configuration"}, {"ButtonOK", "OK"},
        {"ButtonCancel", "Cancel"}, {"ButtonApply", "Apply"}, {"StaticKinetor", "Kinetor:"},
        {"ButtonAdd", "Add..."}, {"ButtonAltura6DOF", "Altura 6 DOF"}, {"Button30B_2", "3.0L"},
        {"ButtonPinchNotCapable", "Not Pinch Capable"}, {"ButtonEPP", "Parallel port"},
        {"ButtonHighForce", "High Force"}, {"ButtonDefaults", "Defaults"},
        {"StaticMessage8", "more Kinetor device."}, {"ButtonEnable", "Enable this configuration"},
        {"StaticName", "Enter a name for a new Kinetor device:"},
    };
    for (const auto& l : aLabels) {
        EXPECT_EQ(LabelText(W(l.pszName)), l.pszLabel) << l.pszName;
    }
    Dimension nWidth = 0;
    Dimension nHeight = 0;
    XtVaGetValues(KinetorConfigurationDialog, XmNwidth, &nWidth, XmNheight, &nHeight, NULL);
    EXPECT_EQ(nWidth, 864);
    EXPECT_EQ(nHeight, 458);
    EXPECT_EQ(ComboText("m_cmbKinetor"), "Default Kinetor");
}

TEST_F(ConfigurationGuiTest, AddAndDeleteKeepBothPagesInStep)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(XtIsManaged(W("StaticMessage5")));
    EXPECT_FALSE(XtIsManaged(W("m_cmbKinetor1")));
    AddDevice("ignored", false);
    EXPECT_EQ(ItemCount("m_cmbKinetor"), 1);

    AddDevice("second arm", true);
    EXPECT_EQ(ItemCount("m_cmbKinetor"), 2);
    EXPECT_EQ(ComboText("m_cmbKinetor"), "second arm");
    EXPECT_TRUE(XtIsManaged(W("m_cmbKinetor1")));
    EXPECT_FALSE(XtIsManaged(W("StaticMessage5")));
    EXPECT_EQ(ItemCount("m_cmbKinetor2"), 2);
    EXPECT_EQ(ComboText("m_cmbKinetor2"), "Default Kinetor");  // no pair stored yet

    Press("ButtonApply");
    EXPECT_TRUE(ConfigFileExists("Kinetor1.ini"));
    AnswerNextBox(false);
    Press("ButtonDelete");
    EXPECT_EQ(g_strBoxText, "Are sure you want to delete this Kinetor device?");
    EXPECT_TRUE(ConfigFileExists("Kinetor1.ini"));
    AnswerNextBox(true);
    Press("ButtonDelete");
    EXPECT_FALSE(ConfigFileExists("Kinetor1.ini"));
    EXPECT_EQ(ItemCount("m_cmbKinetor"), 1);
    EXPECT_EQ(ComboText("m_cmbKinetor"), "Default Kinetor");
    EXPECT_TRUE(XtIsManaged(W("StaticMessage5")));
    EXPECT_FALSE(XtIsManaged(W("m_cmbKinetor2")));
}

TEST_F(ConfigurationGuiTest, CancelWritesNothingAndApplyWritesTheChoices)
{
    WriteConfigFile("KinetorTemperature(Default Kinetor)", "25\n");
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Press("ButtonBravis");
    EXPECT_EQ(LabelText(W("StaticAdapter")), "Port number:");
    EXPECT_TRUE(XtIsManaged(W("EditAddress")));
    EXPECT_FALSE(XtIsManaged(W("ComboCard")));
    Type("EditAddress", "0x278");
    Press("ButtonCancel");
    EXPECT_EQ(g_nExitStatus, 0);
    EXPECT_FALSE(ConfigFileExists("Kinetor0.ini"));
    EXPECT_TRUE(ConfigFileExists("KinetorTemperature(Default Kinetor)"));

    Press("ButtonApply");
    CKinetorDevice d;
    d.m_nIndex = 0;
    ASSERT_TRUE(d.Read());
    EXPECT_EQ(d.m_nModelType, static_cast<ULONG>(KINETOR_MODEL_BRAVIS));
    EXPECT_EQ(d.m_nCardType, static_cast<ULONG>(KINETOR_CARD_EPP));
    EXPECT_EQ(d.m_nCPR4, 4468u);
    EXPECT_NE(ReadConfigFile("Kinetor0.ini").find("\n0x278, 0\n"), std::string::npos)  // port 0x278, first unit
        << ReadConfigFile("Kinetor0.ini");
    EXPECT_FALSE(ConfigFileExists("KinetorTemperature(Default Kinetor)"));
}

TEST_F(ConfigurationGuiTest, OkWithBadAddressShowsTheMessageAndStaysOpen)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Press("ButtonEPP");
    Type("EditAddress", "0x3BD");
    AnswerNextBox(true);
    Press("ButtonOK");
    // The box shows the text's two lines; read back, the line break is not part of the string.
    EXPECT_EQ(g_strBoxText, "The base address you entered is invalid or out of range."
                            "Please enter a value between 0x278 and 0x3BC.");
    EXPECT_EQ(g_nExitStatus, -100);
    EXPECT_FALSE(ConfigFileExists("Kinetor0.ini"));
    Type("EditAddress", "0x3BC");
    Press("ButtonOK");
    EXPECT_EQ(g_nExitStatus, 0);
    EXPECT_TRUE(ConfigFileExists("Kinetor0.ini"));
}

TEST_F(ConfigurationGuiTest, StateFilesOfTheChangedDeviceGoFromBothDirectories)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Press("ButtonApply");
    for (const char* pszFile : {"KinetorCalibration(Default Kinetor)", "Pinch Calibration(Default Kinetor)"}) {
        WriteConfigFile(pszFile, "1\n");
        WriteConfigFile(std::string("fixed/") + pszFile, "1\n");
    }
    Press("Button10");
    Press("ButtonApply");
    for (const char* pszFile : {"KinetorCalibration(Default Kinetor)", "Pinch Calibration(Default Kinetor)"}) {
        EXPECT_FALSE(ConfigFileExists(pszFile));
        EXPECT_FALSE(ConfigFileExists(std::string("fixed/") + pszFile));
    }
}

TEST_F(ConfigurationGuiTest, CirrelWithoutBoardShowsNoDevicesAvailable)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Press("ButtonCirrel");
    EXPECT_TRUE(XtIsManaged(W("m_lbl1394SerialNumber")));
    EXPECT_EQ(LabelText(W("m_lbl1394SerialNumber")), "No devices available");
    EXPECT_FALSE(XtIsManaged(W("ComboWorkspace")));
}

TEST_F(ConfigurationGuiTest, WrittenConfigurationRunsInTheLibraryOnTheSimulator)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Press("ButtonEPP");
    Type("EditAddress", "0x378");
    Press("ButtonApply");
    DestroyConfigurationProgram();
    m_bStarted = false;
    StartSimulator("hold");
    int nHandle = OpenDevice("Default Kinetor");
    ASSERT_GE(nHandle, 0);
    EXPECT_EQ(RunTicks(10), 0);
}

TEST_F(ConfigurationGuiTest, ProgramStartsWithoutFontWarnings)
{
    // The real program on this test's screen for a moment; Xt reports every font it cannot
    // load on standard error.
    std::string strLog = WorkDir() + "/stderr.txt";
    std::string strCommand = std::string("timeout -s TERM 1 ") + KIO_CONFIG_BINARY + " 2>'" + strLog + "' >/dev/null";
    int nStatus = system(strCommand.c_str());
    EXPECT_EQ(WEXITSTATUS(nStatus), 124);  // still running when stopped
    FILE* pFile = fopen(strLog.c_str(), "r");
    ASSERT_NE(pFile, nullptr);
    char szErr[512] = {};
    size_t n = fread(szErr, 1, sizeof(szErr) - 1, pFile);
    fclose(pFile);
    EXPECT_EQ(std::string(szErr, n), "");
}

TEST(ConfigurationProgram, WithoutDisplayItSaysSoAndFails)
{
    char szCommand[1024];
    snprintf(szCommand, sizeof(szCommand), "env -u DISPLAY %s 2>&1", KIO_CONFIG_BINARY);
    FILE* pPipe = popen(szCommand, "r");
    ASSERT_NE(pPipe, nullptr);
    char szOut[512] = {};
    size_t n = fread(szOut, 1, sizeof(szOut) - 1, pPipe);
    int nStatus = pclose(pPipe);
    EXPECT_EQ(std::string(szOut, n), std::string(KIO_CONFIG_BINARY) + ": can't open display, exiting...\n");
    EXPECT_EQ(WEXITSTATUS(nStatus), 255);
}
