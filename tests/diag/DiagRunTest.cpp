// kinetor-diag as a user runs it: the built program against the simulated arm, in a
// scratch configuration directory, with its JSON read back and its sentences checked.
#include "DiagFireWire.h"
#include "DiagMessages.h"
#include "diag/JsonParse.h"
#include "firmware/FirmwareInternal.h"
#include "sim/SimFireWireBus.h"
#include "sim/SimTestInterface.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class DiagRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/kinetor-diag-test-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
    }
    void TearDown() override
    {
        if (DIR* pDir = opendir(m_dir.c_str())) {
            while (dirent* e = readdir(pDir)) {
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    unlink((m_dir + "/" + e->d_name).c_str());
            }
            closedir(pDir);
        }
        rmdir(m_dir.c_str());
    }

    // Runs the tool in the scratch directory; pszSimulator null runs it on "real" hardware.
    int Run(const std::vector<std::string>& args, const char* pszSimulator = "pace=lockstep")
    {
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(m_dir.c_str()) != 0)
                _exit(127);
            int fdOut = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int fdErr = open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fdOut < 0 || fdErr < 0 || dup2(fdOut, 1) < 0 || dup2(fdErr, 2) < 0)
                _exit(127);
            setenv("KINETOR_CONFIG_FILES", m_dir.c_str(), 1);
            if (pszSimulator != nullptr)
                setenv("KINETOR_SIMULATOR", pszSimulator, 1);
            else
                unsetenv("KINETOR_SIMULATOR");
            std::vector<char*> argv{const_cast<char*>(KIO_DIAG_BINARY)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(KIO_DIAG_BINARY, argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        m_out = ReadFile(m_dir + "/out.txt");
        m_err = ReadFile(m_dir + "/err.txt");
        unlink((m_dir + "/out.txt").c_str());
        unlink((m_dir + "/err.txt").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    CJsonValue Json()
    {
        CJsonValue v;
        EXPECT_TRUE(CJsonParser::Parse(m_out, v)) << m_out;
        return v;
    }

    std::string m_dir;
    std::string m_out;
    std::string m_err;
};

TEST_F(DiagRunTest, NewWritesEachModelThatListFindsAndOpens)
{
    struct {
        std::vector<std::string> args;
        const char* pszModel;
        const char* pszInterface;
    } cases[] = {
        {{"new", "altura-a", "Arm A"}, "Altura A", "parallel port"},
        {{"new", "altura-t", "Arm T", "--interface", "pci", "--unit", "2"}, "Altura T", "PCI"},
        {{"new", "altura-6dof", "Arm Six", "--unit", "2"}, "Altura 6 DOF", "double parallel port"},
        {{"new", "bravis", "Arm B", "--unit", "3"}, "Bravis", "parallel port"},
        {{"new", "cirrel", "Arm C", "--serial", "4711"}, "Cirrel", "FireWire"},
    };
    for (auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        ASSERT_EQ(Run(args), 0) << m_err;
        CJsonValue v = Json();
        EXPECT_TRUE(v["ok"].m_b);
        EXPECT_EQ(access(v["file"].m_s.c_str(), R_OK), 0) << v["file"].m_s;
    }
    ASSERT_EQ(Run({"list", "--json"}), 0) << m_err;
    CJsonValue list = Json();
    ASSERT_EQ(list["configurations"].m_a.size(), 5u);
    for (size_t i = 0; i < 5; i++) {
        const CJsonValue& c = list["configurations"].m_a[i];
        SCOPED_TRACE(c["name"].m_s);
        EXPECT_EQ(c["name"].m_s, cases[i].args[2]);
        EXPECT_EQ(c["model"].m_s, cases[i].pszModel);
        EXPECT_EQ(c["interface"].m_s, cases[i].pszInterface);
        EXPECT_EQ(c["file"].m_s, m_dir + "/Kinetor" + std::to_string(i) + ".ini");
        EXPECT_TRUE(c["readable"].m_b);
        // The simulator gives every configuration an arm, so each must answer; the FireWire
        // node search does not see simulated boards yet, so the Cirrel's answer is left out.
        if (c["interface"].m_s != "FireWire") {
            EXPECT_TRUE(c["answers"].m_b) << c["result"].m_d;
        } else {
            EXPECT_TRUE(c.Has("answers"));
        }
    }
    EXPECT_EQ(list["configurations"].m_a[1]["unit"].m_d, 2);
    EXPECT_EQ(list["configurations"].m_a[4]["serial"].m_d, 4711);
    // The plain listing names the same files.
    ASSERT_EQ(Run({"list"}), 0);
    EXPECT_NE(m_out.find(m_dir + "/Kinetor4.ini"), std::string::npos) << m_out;
}

TEST_F(DiagRunTest, ErrorsAreSentencesThatSayWhatToDo)
{
    struct {
        std::vector<std::string> args;
        bool bSimulated;
        int nStatus;
        std::vector<const char*> sayings;
    } cases[] = {
        {{"list"}, true, 1, {"No Kinetor configuration was found", "kinetor-diag new"}},
        {{"new", "altura-a", "My Arm"}, true, 0, {}},
        {{"check", "Other Arm"}, true, 1, {"\"Other Arm\"", "kinetor-diag new"}},
        {{"show", "Other Arm", "--seconds", "1"}, true, 1, {"kinetor-diag new"}},
        {{"new", "altura-a", "My Arm"}, true, 1, {"exists already"}},
        {{"new", "robot", "X"}, true, 1, {"Unknown model", "altura-a"}},
        {{"new", "cirrel", "C"}, true, 1, {"--serial"}},
        {{"new", "bravis", "B", "--interface", "pci"}, true, 1, {"leave out --interface"}},
        {{"new", "altura-a", "a/b"}, true, 1, {"'/'"}},
        // No simulator and no driver on the test machine: the node is missing.
        {{"check", "My Arm"}, false, 1, {"/dev/kinepp does not exist", "60-kinetor.rules"}},
        {{"blackbox", "My Arm"}, true, 1, {"No black box has been recorded"}},
        {{"frobnicate"}, true, 2, {"--help"}},
        {{"check"}, true, 2, {"NAME"}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        EXPECT_EQ(Run(c.args, c.bSimulated ? "pace=lockstep" : nullptr), c.nStatus) << m_err;
        for (const char* psz : c.sayings)
            EXPECT_NE(m_err.find(psz), std::string::npos) << m_err;
        if (c.nStatus == 1) {
            // Each sentence also comes back as the JSON document's error.
            std::vector<std::string> args = c.args;
            args.push_back("--json");
            EXPECT_EQ(Run(args, c.bSimulated ? "pace=lockstep" : nullptr), 1);
            CJsonValue v = Json();
            EXPECT_FALSE(v["ok"].m_b);
            EXPECT_TRUE(v.Has("error"));
            if (!c.sayings.empty()) {
                EXPECT_NE(v["error"].m_s.find(c.sayings[0]), std::string::npos);
            }
        }
    }
}

TEST_F(DiagRunTest, CheckPassesOnAMovingArmAndFailsTheEncoderStepOnAStillOne)
{
    ASSERT_EQ(Run({"new", "altura-a", "My Arm"}), 0);
    ASSERT_EQ(Run({"--json", "check", "My Arm", "--seconds", "0.5", "--move-seconds", "3"},
                  "pace=lockstep,hand=circle"),
              0)
        << m_out << m_err;
    CJsonValue v = Json();
    EXPECT_TRUE(v["ok"].m_b);
    std::vector<std::string> expected = {"opens", "calibration", "amplifiers enable", "watchdog answers",
                                         "encoders change", "temperature files", "link"};
    ASSERT_EQ(v["steps"].m_a.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(v["steps"].m_a[i]["step"].m_s, expected[i]);
        EXPECT_EQ(v["steps"].m_a[i]["verdict"].m_s, "pass") << v["steps"].m_a[i]["detail"].m_s;
    }
    EXPECT_GT(v["link"]["ticks"].m_d, 0);
    EXPECT_EQ(v["link"]["lost"].m_d, 0);
    EXPECT_EQ(v["link"]["late"].m_d, 0);

    // Nobody moves the stylus: the encoder step fails, and with it the whole check. The
    // temperature file the first check left behind on closing must read as sane.
    EXPECT_EQ(Run({"check", "My Arm", "--seconds", "0.2", "--move-seconds", "0.3"}, "pace=lockstep,hand=free"), 1);
    EXPECT_NE(m_out.find("encoders change    fail"), std::string::npos) << m_out;
    EXPECT_NE(m_out.find("temperature files  pass"), std::string::npos) << m_out;
    EXPECT_NE(m_out.find("Some steps failed"), std::string::npos);

    // A damaged temperature file fails its step.
    std::ofstream(m_dir + "/KinetorTemperature(My Arm)") << "25 25 nan\n";
    EXPECT_EQ(Run({"--json", "check", "My Arm", "--seconds", "0.2", "--move-seconds", "2"}, "pace=lockstep,hand=circle"),
              1);
    v = Json();
    ASSERT_EQ(v["steps"].m_a.size(), expected.size());
    EXPECT_EQ(v["steps"].m_a[5]["verdict"].m_s, "fail");
    EXPECT_EQ(v["steps"].m_a[4]["verdict"].m_s, "pass");
}

TEST_F(DiagRunTest, ShowPrintsLiveStateAsJsonLinesAndPlainLines)
{
    ASSERT_EQ(Run({"new", "altura-a", "My Arm"}), 0);
    ASSERT_EQ(Run({"--json", "show", "My Arm", "--seconds", "1", "--interval", "0.2"}, "pace=realtime,hand=circle"), 0)
        << m_err;
    std::istringstream lines(m_out);
    std::string line;
    int nLines = 0;
    double dLastTicks = -1;
    double dFirstTicks = -1;
    bool bMoved = false;
    double adFirst[3] = {0, 0, 0};
    while (std::getline(lines, line)) {
        CJsonValue v;
        ASSERT_TRUE(CJsonParser::Parse(line, v)) << line;
        ASSERT_EQ(v["pos_mm"].m_a.size(), 3u);
        ASSERT_EQ(v["motor_temp_c"].m_a.size(), 3u);
        // The last snapshot may come after the loop's last tick: never fewer, though.
        EXPECT_GE(v["ticks"].m_d, dLastTicks);
        dLastTicks = v["ticks"].m_d;
        if (dFirstTicks < 0)
            dFirstTicks = dLastTicks;
        for (int k = 0; k < 3; k++) {
            if (nLines == 0)
                adFirst[k] = v["pos_mm"].m_a[k].m_d;
            else if (std::abs(v["pos_mm"].m_a[k].m_d - adFirst[k]) > 0.5)
                bMoved = true;
        }
        EXPECT_EQ(v["device"].m_s, "My Arm");
        nLines++;
    }
    EXPECT_GE(nLines, 3);
    EXPECT_GT(dLastTicks, dFirstTicks);
    EXPECT_TRUE(bMoved) << "the circling hand should move the stylus between snapshots";

    // Not on a terminal: plain lines, never redrawn in place.
    ASSERT_EQ(Run({"show", "My Arm", "--seconds", "0.5", "--interval", "0.2"}), 0);
    EXPECT_EQ(m_out.find('\r'), std::string::npos);
    EXPECT_NE(m_out.find(" mm/s"), std::string::npos) << m_out;
}

TEST_F(DiagRunTest, BlackBoxIsReadBackOrRefusedWhenDamaged)
{
    ASSERT_EQ(Run({"new", "altura-a", "My Arm"}), 0);
    const std::string path = m_dir + "/KinetorBlackBox(My Arm)";
    std::ofstream(path) << "Kinetor black box 1\ndevice My Arm\nreason overspeed\ntime 1700000000\nticks 2\n"
                           "# t_us x_mm y_mm z_mm fx_N fy_N fz_N dac0 dac1 dac2 dac3 dac4 dac5 faults\n"
                           "1000 1.000 -2.500 3.250 0.000 0.100 -0.200 2048 2049 2050 0 0 0 0\n"
                           "2000 1.500 -2.000 3.500 0.000 0.000 0.000 2048 2048 2048 0 0 0 16\n";
    ASSERT_EQ(Run({"--json", "blackbox", "My Arm"}), 0) << m_err;
    CJsonValue v = Json();
    EXPECT_EQ(v["reason"].m_s, "overspeed");
    EXPECT_EQ(v["time"].m_d, 1700000000);
    ASSERT_EQ(v["ticks"].m_a.size(), 2u);
    EXPECT_EQ(v["ticks"].m_a[0]["t_us"].m_d, 1000);
    EXPECT_DOUBLE_EQ(v["ticks"].m_a[0]["pos_mm"].m_a[1].m_d, -2.5);
    EXPECT_DOUBLE_EQ(v["ticks"].m_a[0]["force_n"].m_a[2].m_d, -0.2);
    EXPECT_EQ(v["ticks"].m_a[0]["dac"].m_a[2].m_d, 2050);
    EXPECT_EQ(v["ticks"].m_a[1]["faults"].m_d, 16);

    // A file cut short, one of another version, and one with a bad number: none is shown.
    const char* apszDamaged[] = {
        "Kinetor black box 1\ndevice My Arm\nreason overspeed\ntime 1\nticks 2\n# h\n1 0 0 0 0 0 0 0 0 0 0 0 0 0\n",
        "Kinetor black box 2\ndevice My Arm\nreason overspeed\ntime 1\nticks 0\n# h\n",
        "Kinetor black box 1\ndevice My Arm\nreason overspeed\ntime 1\nticks 1\n# h\n1 0 0 x 0 0 0 0 0 0 0 0 0 0\n",
    };
    for (const char* pszText : apszDamaged) {
        std::ofstream(path) << pszText;
        EXPECT_EQ(Run({"blackbox", "My Arm"}), 1);
        EXPECT_NE(m_err.find("damaged or of another version"), std::string::npos) << m_err;
        EXPECT_EQ(m_out, "");
    }
}

TEST_F(DiagRunTest, ListShowsTheFireWireBoardOfACirrelWithItsFirmware)
{
    ASSERT_EQ(Run({"new", "altura-a", "My Arm"}), 0);
    // No FireWire configuration: the simulated bus is empty.
    ASSERT_EQ(Run({"list"}), 0) << m_err;
    EXPECT_NE(m_out.find("FireWire: no boards found on the bus."), std::string::npos) << m_out;

    ASSERT_EQ(Run({"new", "cirrel", "Arm C", "--serial", "4711"}), 0) << m_err;
    ASSERT_EQ(Run({"list", "--json"}), 0) << m_err;
    CJsonValue v = Json();
    EXPECT_TRUE(v["firewire_host"].m_b);
    ASSERT_EQ(v["firewire_boards"].m_a.size(), 1u) << m_out;
    EXPECT_EQ(v["firewire_boards"].m_a[0]["serial"].m_d, 4711);
    EXPECT_EQ(v["firewire_boards"].m_a[0]["port"].m_d, 0);
    // A simulated board powers up running firmware 190.
    EXPECT_EQ(v["firewire_boards"].m_a[0]["firmware"].m_s, "190");
    ASSERT_EQ(Run({"list"}), 0);
    EXPECT_NE(m_out.find("FireWire board, serial number 4711, firmware 190 (port 0)"), std::string::npos) << m_out;
    EXPECT_EQ(m_out.find("no boards found"), std::string::npos) << m_out;

    // Without the simulator this machine has no FireWire host, and the listing says so.
    if (access("/dev/raw1394", F_OK) == 0 || access("/dev/fw0", F_OK) == 0)
        return;
    ASSERT_EQ(Run({"list"}, nullptr), 0) << m_err;
    EXPECT_NE(m_out.find("no FireWire host found"), std::string::npos) << m_out;
    EXPECT_EQ(m_out.find("FireWire board,"), std::string::npos) << m_out;
    ASSERT_EQ(Run({"list", "--json"}, nullptr), 0);
    v = Json();
    EXPECT_FALSE(v["firewire_host"].m_b);
    EXPECT_TRUE(v["firewire_boards"].m_a.empty());
}

// The board walk inside this process, where the test can lay out the simulated bus.
class DiagFireWireTest : public DiagRunTest {
protected:
    void SetUp() override
    {
        DiagRunTest::SetUp();
        setenv("KINETOR_CONFIG_FILES", m_dir.c_str(), 1);
        SimActivate("pace=lockstep");
        SimReset();
        fw_reset_state();
    }
    void TearDown() override
    {
        fw_reset_state();
        SimReset();
        SimDeactivate();
        unsetenv("KINETOR_CONFIG_FILES");
        DiagRunTest::TearDown();
    }
};

TEST_F(DiagFireWireTest, EveryBoardOnEveryPortWithItsOwnFirmware)
{
    CSimFireWireBus& bus = SimFireWireBus();
    std::vector<DIAG_FIREWIRE_BOARD> boards;
    bus.SetPortCount(0);
    EXPECT_FALSE(FindFireWireBoards(boards));
    EXPECT_TRUE(boards.empty());

    bus.SetPortCount(3);
    EXPECT_TRUE(FindFireWireBoards(boards));
    EXPECT_TRUE(boards.empty());

    ASSERT_TRUE(bus.AddBoard(3000000000UL, 2));
    ASSERT_TRUE(bus.AddBoard(12, 0));
    ASSERT_TRUE(bus.AddBoard(34, 2));
    ASSERT_TRUE(bus.SetFirmwareVersion(3000000000UL, 0x1234));
    ASSERT_TRUE(bus.SetFirmwareVersion(12, 189));
    // Board 34 runs from an erased application bank: it has no version to tell.
    const UCHAR aucErased[2] = {0xFF, 0xFF};
    ASSERT_TRUE(bus.PokeFlash(34, 4, 0x2E, aucErased, 2));
    ASSERT_TRUE(FindFireWireBoards(boards));
    struct {
        unsigned long nSerial;
        int nPort;
        const char* pszFirmware;
    } expected[] = {{12, 0, "189"}, {3000000000UL, 2, "4660"}, {34, 2, "unknown"}};
    ASSERT_EQ(boards.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(boards[i].nSerial, expected[i].nSerial);
        EXPECT_EQ(boards[i].nPort, expected[i].nPort);
        EXPECT_EQ(boards[i].firmware, expected[i].pszFirmware);
    }
}

TEST(DiagMessagesTest, OpenFailureNamesWhatTheUserHasToDo)
{
    struct {
        int nCode;
        int nNodeState;
        bool bSimulated;
        std::vector<const char*> sayings;
    } cases[] = {
        {-25, NODE_MISSING, false, {"/dev/kinpci0 does not exist", "60-kinetor.rules", "driver"}},
        {-25, NODE_DENIED, false, {"permission denied", "group \"kinetor\"", "usermod"}},
        {-5, NODE_PRESENT, false, {"kinetor-diag new"}},
        // Simulated nodes are not the files under /dev: the node's state says nothing then.
        {-29, NODE_MISSING, true, {"error -29", "cannot talk"}},
        {-10, NODE_PRESENT, false, {"error -10", "powered"}},
    };
    for (auto& c : cases) {
        std::string s = DescribeOpenFailure("Arm", c.nCode, "/dev/kinpci0", c.nNodeState, c.bSimulated);
        for (const char* psz : c.sayings)
            EXPECT_NE(s.find(psz), std::string::npos) << s;
    }
    // A FireWire arm whose board does not answer is not a missing configuration.
    std::string strBoard = DescribeOpenFailure("Arm", -5, DeviceNodeFor(6 /* FireWire */, 0), NODE_PRESENT, false);
    EXPECT_NE(strBoard.find("no FireWire board"), std::string::npos) << strBoard;
    EXPECT_EQ(strBoard.find("kinetor-diag new"), std::string::npos) << strBoard;
    EXPECT_EQ(DeviceNodeFor(3 /* PCI */, 2), "/dev/kinpci1");
    EXPECT_EQ(DeviceNodeFor(5 /* double parallel port */, 1), "/dev/kinepp");
    EXPECT_EQ(ProbeDeviceNode("/nonexistent/kinepp"), NODE_MISSING);
    EXPECT_EQ(ProbeDeviceNode(""), NODE_NONE);
}

}  // namespace
