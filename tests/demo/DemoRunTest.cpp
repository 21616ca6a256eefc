// The demo program as a user meets it: its command line, a plot path it cannot write, and
// Ctrl-C in the middle of the scene.
#include "DemoOptions.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A scratch working directory for one run of the demo, removed with its contents.
class DemoRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/kinetor-demo-run-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
    }
    void TearDown() override
    {
        for (const char* pszName : {"out.txt", "err.txt", "plot.svg", "kinetor-demo.svg"})
            unlink((m_dir + "/" + pszName).c_str());
        rmdir((m_dir + "/plot-dir").c_str());
        rmdir(m_dir.c_str());
    }

    // Starts the demo in the scratch directory with stdout and stderr in files.
    pid_t Start(const std::vector<std::string>& args)
    {
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(m_dir.c_str()) != 0)
                _exit(127);
            int fdOut = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int fdErr = open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fdOut < 0 || fdErr < 0 || dup2(fdOut, 1) < 0 || dup2(fdErr, 2) < 0)
                _exit(127);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(KIO_DEMO_BINARY));
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(KIO_DEMO_BINARY, argv.data());
            _exit(127);
        }
        return pid;
    }

    // The exit code, or -1 when the demo did not end normally within the time given.
    int Wait(pid_t pid, int nSeconds)
    {
        int status = 0;
        for (int i = 0; i < nSeconds * 100; i++) {
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }

    int Run(const std::vector<std::string>& args) { return Wait(Start(args), 20); }
    std::string Out() { return ReadFile(m_dir + "/out.txt"); }
    std::string Err() { return ReadFile(m_dir + "/err.txt"); }

    std::string m_dir;
};

TEST(DemoOptions, ReadsTheCommandLine)
{
    struct Case {
        std::vector<const char*> args;
        EDemoOptionsResult eResult;
        const char* pszConfig;  // expected, when the result is RUN
        double dSeconds;
        const char* pszSvg;
        const char* pszError;   // expected part of the message, when the result is ERROR
    };
    const Case cases[] = {
        {{}, DEMO_OPTIONS_RUN, nullptr, 10.0, "kinetor-demo.svg", ""},
        {{"My Arm", "--seconds", "2.5", "--svg", "p.svg"}, DEMO_OPTIONS_RUN, "My Arm", 2.5, "p.svg", ""},
        {{"--svg", "p.svg", "My Arm"}, DEMO_OPTIONS_RUN, "My Arm", 10.0, "p.svg", ""},
        {{"--seconds", "3600"}, DEMO_OPTIONS_RUN, nullptr, 3600.0, "kinetor-demo.svg", ""},
        {{"--help"}, DEMO_OPTIONS_HELP, nullptr, 0, nullptr, ""},
        {{"--foo"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "unknown option '--foo'"},
        {{"My Arm", "-x"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "unknown option '-x'"},
        {{"--seconds"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "--seconds needs a number"},
        {{"--seconds", "abc"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "(got 'abc')"},
        {{"--seconds", "0"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "(got '0')"},
        {{"--seconds", "3601"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "(got '3601')"},
        {{"--seconds", "nan"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "(got 'nan')"},
        {{"--seconds", "5s"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "(got '5s')"},
        {{"--svg"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "--svg needs a file name"},
        {{"--svg", ""}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "--svg needs a file name"},
        {{"One", "Two"}, DEMO_OPTIONS_ERROR, nullptr, 0, nullptr, "only one configuration"},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("kinetor-demo")};
        std::string line;
        for (const char* a : c.args) {
            argv.push_back(const_cast<char*>(a));
            line += std::string(" ") + a;
        }
        SCOPED_TRACE(line);
        DEMO_OPTIONS options;
        char szError[256];
        ASSERT_EQ(ParseDemoOptions(static_cast<int>(argv.size()), argv.data(), &options, szError, sizeof(szError)),
                  c.eResult);
        if (c.eResult == DEMO_OPTIONS_ERROR) {
            EXPECT_NE(std::string(szError).find(c.pszError), std::string::npos) << szError;
        } else if (c.eResult == DEMO_OPTIONS_RUN) {
            EXPECT_STREQ(options.pszConfig, c.pszConfig);
            EXPECT_DOUBLE_EQ(options.dSeconds, c.dSeconds);
            EXPECT_STREQ(options.pszSvg, c.pszSvg);
        }
    }
}

TEST_F(DemoRunTest, AWrongCommandLineIsNamedWithUsageAndExitTwo)
{
    EXPECT_EQ(Run({"--foo"}), 2);
    EXPECT_NE(Err().find("kinetor-demo: unknown option '--foo'"), std::string::npos) << Err();
    EXPECT_NE(Err().find("usage: kinetor-demo"), std::string::npos);
    EXPECT_EQ(Out(), "");
}

TEST_F(DemoRunTest, AnUnwritablePlotIsRefusedBeforeTheRun)
{
    ASSERT_EQ(mkdir((m_dir + "/plot-dir").c_str(), 0755), 0);
    for (const char* pszSvg : {"missing-dir/plot.svg", "plot-dir"}) {
        SCOPED_TRACE(pszSvg);
        EXPECT_EQ(Run({"--seconds", "1", "--svg", pszSvg}), 1);
        EXPECT_NE(Err().find("cannot write the plot to " + m_dir + "/" + pszSvg), std::string::npos) << Err();
        EXPECT_EQ(Out().find("Opened"), std::string::npos) << "the arm was opened for nothing";
    }
    // The check leaves nothing behind.
    struct stat st;
    EXPECT_NE(stat((m_dir + "/plot.svg").c_str(), &st), 0);
}

TEST_F(DemoRunTest, CtrlCEndsTheSceneWithSummaryPlotAndExitZero)
{
    pid_t pid = Start({"--seconds", "60", "--svg", "plot.svg"});
    // Interrupt once the scene runs: forces come on after the loop has started.
    bool bRunning = false;
    for (int i = 0; i < 1500 && !bRunning; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        bRunning = Out().find("Homed") != std::string::npos;
    }
    if (!bRunning) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        FAIL() << "the scene did not start\n" << Out() << Err();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(kill(pid, SIGINT), 0);
    EXPECT_EQ(Wait(pid, 10), 0) << Err();
    std::string out = Out();
    EXPECT_NE(out.find("Interrupted"), std::string::npos) << out;
    // The scene really ran before the interrupt: half a second of ticks at 1000 Hz.
    size_t nTicksAt = out.find("  ticks ");
    ASSERT_NE(nTicksAt, std::string::npos) << out;
    EXPECT_GT(atol(out.c_str() + nTicksAt + 8), 200L) << out;
    EXPECT_NE(out.find("Plot written to " + m_dir + "/plot.svg"), std::string::npos) << out;
    // Not a terminal: no status line redrawn with carriage returns.
    EXPECT_EQ(out.find('\r'), std::string::npos);
    EXPECT_EQ(ReadFile(m_dir + "/plot.svg").compare(0, 4, "<svg"), 0);
}

}  // namespace
