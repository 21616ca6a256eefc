// The configuration program's page logic, driven through stand-in controls: the parameter
// table, the choices taken into records and written, validation with its messages, the
// dual checks, and what Apply leaves on disk.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ConfigFiles.h"
#include "ConfigProgram.h"
#include "ConfigTables.h"
#include "FakeControls.h"
#include "Messages.h"
#include "unit/config/ConfigTestEnv.h"

namespace {

// Stores a record the way the library would find it, without going through the pages.
void StoreRecord(int nIndex, const char* pszName, ULONG nModel, ULONG nCard, ULONG nUnit)
{
    CKinetorDevice d;
    snprintf(d.m_szName, sizeof(d.m_szName), "%s", pszName);
    d.m_nIndex = nIndex;
    d.m_nModelType = nModel;
    d.m_nCardType = nCard;
    d.m_nISADevice = d.m_nPCIDevice = d.m_nEPPDevice = d.m_nVMEDevice = nUnit;
    ASSERT_TRUE(d.Write());
}

CKinetorDevice ReadRecord(int nIndex)
{
    CKinetorDevice d;
    d.m_nIndex = nIndex;
    EXPECT_TRUE(d.Read());
    return d;
}

}  // namespace

class ConfigPageTest : public ConfigTestEnv {
protected:
    void SetUp() override
    {
        ConfigTestEnv::SetUp();
        m_strFixedDir = m_strConfigDir + "/fixed";
        mkdir(m_strFixedDir.c_str(), 0755);
        SetFixedStateDir(m_strFixedDir.c_str());
    }
    void TearDown() override
    {
        SetFixedStateDir(nullptr);
        ConfigTestEnv::TearDown();
    }
    void Start()
    {
        m_hw.SetDualPage(&m_dual);
        m_hw.OnInitDialog();
        m_dual.OnInitDialog();
    }
    void Choose(int nMenu, int nChoice) { m_controls.m_anChoice[nMenu] = nChoice; }
    void Type(int nField, const char* pszText) { m_controls.m_astrText[nField] = pszText; }

    CFakeSink m_sink;
    CFakeHardware m_controls;
    CFakeDual m_dualControls;
    CHardwarePage m_hw{&m_controls, &m_sink};
    CDualPage m_dual{&m_dualControls, &m_sink, &m_hw};
    std::string m_strFixedDir;
};

TEST(ConfigTables, RowsCarryTheTabledParametersAndTheComputedScales)
{
    struct Case {
        int nRow;
        ULONG nL;
        float fR1, fR3, fR6;
        ULONG nTtm13, nTtm46, nType13, nType46, nDac;
        float fForce, fTorqueStiffness;
    };
    const ULONG kNone = ~0UL;
    const Case aCases[] = {
        {0, 5500, 0.11507f, 0.13456f, 1.0f, 114293, 0, 20, 0, kNone, 8.5f, 0.0f},
        {1, 8250, 0.076912f, 0.090066f, 1.0f, 114293, 0, 20, 0, kNone, 8.5f, 0.0f},
        {3, 18000, 0.07555f, 0.0869487f, 1.0f, 23202, 0, 90, 0, kNone, 22.0f, 0.0f},
        {4, 8250, 0.076912f, 0.090066f, 0.045385416f, 114293, 3193762, 20, 15, kNone, 8.5f, 0.0f},
        {6, 18000, 0.07555f, 0.0869487f, 0.045385416f, 23202, 3193762, 90, 15, kNone, 22.0f, 5250.0f},
        {7, 5250, 0.052297f, 0.0834805f, 0.0f, 340000, 0, 7, 0, 30340, 7.9f, 0.0f},
        {8, 5250, 0.13403f, 0.13282f, 0.0f, 513708, 0, 8, 0, 45056, 3.3f, 0.0f},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.nRow);
        const CONFIG_ROW* r = GetConfigRow(c.nRow);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->nL, c.nL);
        EXPECT_FLOAT_EQ(r->afR[0], c.fR1);
        EXPECT_FLOAT_EQ(r->afR[2], c.fR3);
        EXPECT_FLOAT_EQ(r->afR[5], c.fR6);
        EXPECT_EQ(r->anTtm[0], c.nTtm13);
        EXPECT_EQ(r->anTtm[1], c.nTtm46);
        EXPECT_EQ(r->anMtrType[0], c.nType13);
        EXPECT_EQ(r->anMtrType[1], c.nType46);
        EXPECT_EQ(r->nAmpDACLimit, c.nDac);
        EXPECT_FLOAT_EQ(r->afNominal[2], c.fForce);
        EXPECT_FLOAT_EQ(r->afTorque[0], c.fTorqueStiffness);
    }
    EXPECT_EQ(GetConfigRow(-1), nullptr);
    EXPECT_EQ(GetConfigRow(CONFIG_ROW_COUNT), nullptr);
}

TEST(ConfigTables, CountsPerRevolutionFollowModelWorkspaceAndEncoders)
{
    struct Case {
        int nModel, nWorkspace, nMotor, nGimbal;
        ULONG nCPR1, nCPR4, nChannel;
    };
    const Case aCases[] = {
        {MODEL_CHOICE_ALTURA_A, 1, 0, GIMBAL_CHOICE_NONE, 4000, 512, 0},
        {MODEL_CHOICE_ALTURA_A, 0, 1, GIMBAL_CHOICE_HIRES, 2000, 2000, 2},
        {MODEL_CHOICE_ALTURA_T, 2, 1, GIMBAL_CHOICE_LORES, 10160, 512, 2},
        {MODEL_CHOICE_ALTURA_A, 3, 0, GIMBAL_CHOICE_HIRES, 10000, 2000, 2},
        {MODEL_CHOICE_ALTURA_6DOF, 2, 0, 0, 10160, 2048, 7},
        {MODEL_CHOICE_ALTURA_6DOF, 3, 0, 0, 10000, 2048, 7},
        {MODEL_CHOICE_BRAVIS, 1, 0, 1, 4096, 4468, 7},
        {MODEL_CHOICE_CIRREL, 1, 0, 1, 2048, 4915, 7},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.nModel * 10 + c.nWorkspace);
        CKinetorDevice d;
        d.m_nChannelSelect = 7;  // only Altura A and T take the channel from the gimbal
        ApplyCountsPerRevolution(&d, c.nModel, c.nWorkspace, c.nMotor, c.nGimbal);
        EXPECT_EQ(d.m_nCPR1, c.nCPR1);
        EXPECT_EQ(d.m_nCPR3, c.nCPR1);
        EXPECT_EQ(d.m_nCPR4, c.nCPR4);
        EXPECT_EQ(d.m_nCPR6, c.nCPR4);
        EXPECT_EQ(d.m_nChannelSelect, c.nChannel);
    }
}

TEST(ConfigTables, DerivedGeometryAndWorkspaceBoundsByModel)
{
    CKinetorDevice d;
    ApplyDerivedGeometry(&d, MODEL_CHOICE_CIRREL);
    EXPECT_FLOAT_EQ(d.m_fResetAngle4, 0.5235983f);
    EXPECT_EQ(d.m_nInkWellEncoderOffset2, -910);
    EXPECT_EQ(d.m_nInkWellEncoderOffset4, 2654);
    EXPECT_EQ(d.m_nWorkspaceOffset1, -110);
    EXPECT_EQ(d.m_nWorkspaceOffset2, -35);
    ApplyDerivedGeometry(&d, MODEL_CHOICE_ALTURA_T);
    EXPECT_FLOAT_EQ(d.m_fResetAngle0, 3.14159f);
    EXPECT_FLOAT_EQ(d.m_fResetAngle4, 0.0f);
    EXPECT_EQ(d.m_nInkWellEncoderOffset2, 0);

    struct Case {
        ULONG nModel, nL1;
        int nMaxY1, nUsableX1, nCubeZ0, nCubeZ1, nTable;
    };
    const Case aCases[] = {
        {KINETOR_MODEL_ALTURA_A, 5500, 400, 85, -30, 50, -10},
        {KINETOR_MODEL_ALTURA_6DOF, 18000, 1330, 450, -150, 150, 210},
        {KINETOR_MODEL_ALTURA_T, 5500, 125, 60, -25, 35, -55},
        {KINETOR_MODEL_ALTURA_6DOF, 8250, 600, 130, -50, 70, -31},
        {KINETOR_MODEL_CIRREL, 5250, 205, 80, -35, 35, -90},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.nModel);
        CKinetorDevice r;
        r.m_nModelType = c.nModel;
        r.m_nL1 = c.nL1;
        EXPECT_TRUE(ApplyWorkspaceDimensions(&r));
        EXPECT_EQ(r.m_nMaxWorkspace[3], c.nMaxY1);
        EXPECT_EQ(r.m_nMaxUsableWorkspace[1], c.nUsableX1);
        EXPECT_EQ(r.m_nCubeWorkspace[4], c.nCubeZ0);
        EXPECT_EQ(r.m_nCubeWorkspace[5], c.nCubeZ1);
        EXPECT_LT(r.m_nCubeWorkspace[4], r.m_nCubeWorkspace[5]);
        EXPECT_EQ(r.m_nTableTopOffset, c.nTable);
    }
    CKinetorDevice other;
    other.m_nModelType = KINETOR_MODEL_CIRREL;
    other.m_nL1 = 8250;
    EXPECT_FALSE(ApplyWorkspaceDimensions(&other));
    EXPECT_EQ(other.m_nTableTopOffset, 34);  // the record's own bounds stay
}

TEST(ConfigMessages, RangeValidatorsFormatTheirBounds)
{
    CFakeSink sink;
    EXPECT_EQ(DDV_MinMaxLongHex(&sink, MSG_RANGE_ADDRESS, 0x3BD, 0x278, 0x3BC), -1);
    EXPECT_EQ(DDV_MinMaxLong(&sink, MSG_RANGE_PORT, 5, 1, 4), -1);
    EXPECT_EQ(DDV_MinEntries(&sink, MSG_RANGE_ADAPTER, 0, 1, 4), -1);
    EXPECT_EQ(DDV_MinMaxLong(&sink, MSG_RANGE_PORT, 4, 1, 4), 0);
    ASSERT_EQ(sink.m_errors.size(), 3u);
    EXPECT_EQ(sink.m_errors[0], "The base address you entered is invalid or out of range.\n"
                                "Please enter a value between 0x278 and 0x3BC.");
    EXPECT_EQ(sink.m_errors[1], "The port number you entered is invalid or out of range.\n"
                                "Please enter a value between 1 and 4.");
    EXPECT_EQ(sink.m_errors[2], "The adapter number you entered is invalid or out of range.\n"
                                "Please enter a value between 1 and 4.");
    long v = 0;
    EXPECT_TRUE(ParseHex(" 0x3bc ", v));
    EXPECT_EQ(v, 0x3BC);
    EXPECT_FALSE(ParseDecimal("12abc", v));
    EXPECT_FALSE(ParseDecimal("", v));
    EXPECT_FALSE(ParseDecimal("-1", v));
}

TEST_F(ConfigPageTest, EmptyDirectoryStartsWithDefaultRecordAndWritesNothing)
{
    Start();
    ASSERT_EQ(m_controls.m_list.size(), 1u);
    EXPECT_EQ(m_controls.m_list[0], "Default Kinetor");
    EXPECT_FALSE(ConfigFileExists("Kinetor0.ini"));
    EXPECT_TRUE(m_dualControls.m_abShown[DUAL_SHOW_HINT]);
    EXPECT_FALSE(m_dualControls.m_abShown[DUAL_SHOW_PAIR]);
}

TEST_F(ConfigPageTest, AlturaAOnPciIsWrittenFromTheChoices)
{
    for (BOOLEAN bHighForce : {FALSE, TRUE}) {
        SCOPED_TRACE(bHighForce);
        Start();
        Choose(HW_MENU_MODEL, MODEL_CHOICE_ALTURA_A);
        Choose(HW_MENU_WORKSPACE, 1);
        Choose(HW_MENU_MOTOR, 0);
        Choose(HW_MENU_GIMBAL, GIMBAL_CHOICE_NONE);
        Choose(HW_MENU_CARD, CARD_CHOICE_PCI);
        m_controls.m_abCheck[HW_TOGGLE_HIGHFORCE] = bHighForce;
        Type(HW_FIELD_UNIT, "2");
        ASSERT_TRUE(DoApply(m_hw, m_dual));
        CKinetorDevice d = ReadRecord(0);
        EXPECT_EQ(d.m_nL1, 8250u);
        EXPECT_EQ(d.m_nL2, 8250u);
        EXPECT_EQ(d.m_nCPR1, 4000u);
        EXPECT_EQ(d.m_nCPR4, 512u);
        EXPECT_EQ(d.m_nChannelSelect, 0u);
        EXPECT_EQ(d.m_nCardType, static_cast<ULONG>(KINETOR_CARD_PCI));
        EXPECT_EQ(d.m_nPCIDevice, 2u);
        const float fFactor = bHighForce ? 4.4f : 1.0f;
        // The file holds six decimals.
        EXPECT_NEAR(d.m_fR1, 0.076912 * fFactor, 1e-6);
        EXPECT_NEAR(d.m_fR2, 0.090066 * fFactor, 1e-6);
        EXPECT_NEAR(d.m_fR3, 0.090066 * fFactor, 1e-6);
        EXPECT_EQ(d.m_nHighForce, bHighForce ? 1u : 0u);
        EXPECT_TRUE(m_sink.m_errors.empty());
    }
}

TEST_F(ConfigPageTest, OutOfRangeEntriesAreRefusedAndNothingIsWritten)
{
    struct Case {
        int nCard;
        const char* pszUnit;
        const char* pszAddress;
        const char* pszMessageStart;
        const char* pszBounds;
    };
    const Case aCases[] = {
        {CARD_CHOICE_EPP, "1", "0x3BD", "The base address", "between 0x278 and 0x3BC."},
        {CARD_CHOICE_EPP, "5", "0x378", "The port number", "between 1 and 4."},
        {CARD_CHOICE_EPP, "1x", "0x378", "The port number", "between 1 and 4."},
        {CARD_CHOICE_PCI, "0", "", "The adapter number", "between 1 and 4."},
    };
    Start();
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszUnit);
        m_sink.m_errors.clear();
        Choose(HW_MENU_MODEL, MODEL_CHOICE_ALTURA_A);
        Choose(HW_MENU_CARD, c.nCard);
        Type(HW_FIELD_UNIT, c.pszUnit);
        Type(HW_FIELD_ADDRESS, c.pszAddress);
        EXPECT_FALSE(DoApply(m_hw, m_dual));
        ASSERT_EQ(m_sink.m_errors.size(), 1u);
        EXPECT_EQ(m_sink.m_errors[0].rfind(c.pszMessageStart, 0), 0u);
        EXPECT_NE(m_sink.m_errors[0].find(c.pszBounds), std::string::npos);
        EXPECT_FALSE(ConfigFileExists("Kinetor0.ini"));
    }
}

TEST_F(ConfigPageTest, DualPairOnOnePciCardGetsChannelOneAndSameNameIsRefused)
{
    StoreRecord(0, "left", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_PCI, 1);
    StoreRecord(1, "right", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_PCI, 1);
    WriteConfigFile("DualKinetor0.ini", "left\n");
    WriteConfigFile("DualKinetor1.ini", "right\n");
    Start();
    EXPECT_TRUE(m_dualControls.m_bEnable);
    EXPECT_EQ(m_dualControls.m_strText[1], "right");
    ASSERT_TRUE(DoApply(m_hw, m_dual));
    EXPECT_EQ(ReadRecord(0).m_nChannelSelect, 2u);
    EXPECT_EQ(ReadRecord(1).m_nChannelSelect, 1u);

    m_dualControls.m_strText[1] = "left";
    m_dual.OnCheckDual();
    std::string strBefore = ReadConfigFile("Kinetor0.ini");
    EXPECT_FALSE(DoApply(m_hw, m_dual));
    ASSERT_EQ(m_sink.m_errors.size(), 1u);
    EXPECT_EQ(m_sink.m_errors[0], apszRes[MSG_DUAL_SAME]);
    EXPECT_EQ(ReadConfigFile("DualKinetor1.ini"), "right\n");
    EXPECT_EQ(ReadConfigFile("Kinetor0.ini"), strBefore);
}

TEST_F(ConfigPageTest, IsaPairOnOneAddressIsRefusedBeforeAnyFileIsWritten)
{
    StoreRecord(0, "first", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_ISA, 1);
    StoreRecord(1, "second", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_ISA, 2);
    StoreRecord(2, "third", KINETOR_MODEL_ALTURA_T, KINETOR_CARD_EPP, 1);
    WriteConfigFile("DualKinetor0.ini", "first\n");
    WriteConfigFile("DualKinetor1.ini", "second\n");
    std::string strThird = ReadConfigFile("Kinetor2.ini");
    Start();
    // The first record is shown on a parallel port; put it back on its ISA card.
    Choose(HW_MENU_CARD, CARD_CHOICE_ISA);
    EXPECT_FALSE(DoApply(m_hw, m_dual));
    ASSERT_EQ(m_sink.m_errors.size(), 1u);
    EXPECT_EQ(m_sink.m_errors[0], apszRes[MSG_DUAL_ISA]);
    EXPECT_EQ(ReadConfigFile("Kinetor2.ini"), strThird);
}

TEST_F(ConfigPageTest, AlturaTIsWrittenOnChannelZeroAndSixDofKeepsItsHandleType)
{
    StoreRecord(0, "tee", KINETOR_MODEL_ALTURA_T, KINETOR_CARD_EPP, 1);
    StoreRecord(1, "six-a", KINETOR_MODEL_ALTURA_6DOF, KINETOR_CARD_DBLEPP, 1);
    StoreRecord(2, "six-b", KINETOR_MODEL_ALTURA_6DOF, KINETOR_CARD_DBLEPP, 2);
    Start();
    for (int i = 1; i <= 2; i++) {
        m_controls.ListSelect(i);
        m_hw.OnSelChangeKinetor();
        Choose(HW_MENU_PINCH, i == 1 ? 1 : 2);
        m_hw.OnSelChangePinch();
    }
    ASSERT_TRUE(DoApply(m_hw, m_dual));
    EXPECT_EQ(ReadRecord(0).m_nChannelSelect, 0u);
    EXPECT_EQ(ReadRecord(1).m_nExtra6DOFOption, 1u);
    EXPECT_EQ(ReadRecord(2).m_nExtra6DOFOption, 2u);
}

TEST_F(ConfigPageTest, DeletingFirstRecordSelectsNextAndClearsTheDualPair)
{
    StoreRecord(0, "a", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1);
    StoreRecord(1, "b", KINETOR_MODEL_BRAVIS, KINETOR_CARD_EPP, 2);
    StoreRecord(2, "c", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 3);
    WriteConfigFile("DualKinetor0.ini", "a\n");
    WriteConfigFile("DualKinetor1.ini", "b\n");
    WriteConfigFile("KinetorCalibration(a)", "1\n");
    Start();
    m_sink.m_bAnswer = FALSE;
    m_hw.OnButtonDelete();
    EXPECT_TRUE(ConfigFileExists("Kinetor0.ini"));
    m_sink.m_bAnswer = TRUE;
    m_hw.OnButtonDelete();
    ASSERT_EQ(m_sink.m_questions.size(), 2u);
    EXPECT_EQ(m_sink.m_questions[1], "Are sure you want to delete this Kinetor device?");
    EXPECT_FALSE(ConfigFileExists("Kinetor0.ini"));
    EXPECT_FALSE(ConfigFileExists("KinetorCalibration(a)"));
    ASSERT_NE(m_hw.GetCurrent(), nullptr);
    EXPECT_STREQ(m_hw.GetCurrent()->m_szName, "b");
    EXPECT_EQ(m_controls.m_astrLabel[HW_LABEL_UNIT], "Port &number:");
    EXPECT_FALSE(ConfigFileExists("DualKinetor0.ini"));
    EXPECT_FALSE(ConfigFileExists("DualKinetor1.ini"));
    EXPECT_FALSE(m_dualControls.m_bEnable);
    EXPECT_EQ(m_dualControls.m_combo[0].size(), 2u);

    m_hw.OnButtonDelete();
    m_hw.OnButtonDelete();
    EXPECT_EQ(m_sink.m_errors.back(), "The last Kinetor device in the list cannot be deleted.");
    EXPECT_TRUE(m_dualControls.m_abShown[DUAL_SHOW_HINT]);
}

TEST_F(ConfigPageTest, AddRefusesUnusableNamesAndTheTwentyFirstDevice)
{
    Start();
    const char* const aszBad[] = {"", "   ", "Default Kinetor", "a/b", "tab\there"};
    for (const char* pszName : aszBad) {
        SCOPED_TRACE(pszName);
        m_sink.m_errors.clear();
        m_controls.m_strAddName = pszName;
        m_hw.OnButtonAdd();
        EXPECT_EQ(m_sink.m_errors.size(), 1u);
        EXPECT_EQ(m_controls.m_list.size(), 1u);
    }
    m_controls.m_bAddOK = FALSE;
    m_controls.m_strAddName = "cancelled";
    m_hw.OnButtonAdd();
    EXPECT_EQ(m_controls.m_list.size(), 1u);
    m_controls.m_bAddOK = TRUE;
    m_sink.m_errors.clear();
    for (int i = 1; i < KINETOR_MAX_CONFIGS; i++) {
        m_controls.m_strAddName = "arm " + std::to_string(i);
        m_hw.OnButtonAdd();
    }
    EXPECT_TRUE(m_sink.m_errors.empty());
    EXPECT_EQ(m_controls.m_list.size(), static_cast<size_t>(KINETOR_MAX_CONFIGS));
    EXPECT_EQ(m_controls.m_strListText, "arm 19");
    EXPECT_EQ(m_dualControls.m_combo[1].size(), static_cast<size_t>(KINETOR_MAX_CONFIGS));
    m_controls.m_strAddName = "one too many";
    m_hw.OnButtonAdd();
    ASSERT_EQ(m_sink.m_errors.size(), 1u);
    EXPECT_EQ(m_sink.m_errors[0], "There are too many Kinetor devices in the list already.");
}

TEST_F(ConfigPageTest, CirrelWithoutBoardReadsNoDevicesAvailable)
{
    Start();
    Choose(HW_MENU_MODEL, MODEL_CHOICE_CIRREL);
    m_hw.OnSelChangeModel();
    EXPECT_EQ(m_controls.m_astrLabel[HW_LABEL_SERIAL], "No devices available");
    EXPECT_TRUE(m_controls.m_abShown[HW_SHOW_1394]);
    EXPECT_FALSE(m_controls.m_abShown[HW_SHOW_CARD]);
    EXPECT_FALSE(m_controls.m_abShown[HW_SHOW_UNIT]);
}

TEST_F(ConfigPageTest, ApplyRemovesStateFilesOfChangedConfigurationsOnly)
{
    StoreRecord(0, "edited", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1);
    StoreRecord(1, "kept", KINETOR_MODEL_BRAVIS, KINETOR_CARD_EPP, 2);
    Start();
    ASSERT_TRUE(DoApply(m_hw, m_dual));  // settles both files in the program's form
    const char* const aszState[] = {"KinetorCalibration(%s)", "KinetorTemperature(%s)", "Pinch Calibration(%s)"};
    for (const char* pszName : {"edited", "kept"}) {
        for (const char* pszPattern : aszState) {
            char szFile[128];
            snprintf(szFile, sizeof(szFile), pszPattern, pszName);
            WriteConfigFile(szFile, "x\n");
            WriteConfigFile(std::string("fixed/") + szFile, "x\n");
        }
    }
    Choose(HW_MENU_WORKSPACE, 0);
    ASSERT_TRUE(DoApply(m_hw, m_dual));
    EXPECT_EQ(ReadRecord(0).m_nL1, 5500u);
    for (const char* pszPattern : aszState) {
        char szEdited[128];
        char szKept[128];
        snprintf(szEdited, sizeof(szEdited), pszPattern, "edited");
        snprintf(szKept, sizeof(szKept), pszPattern, "kept");
        EXPECT_FALSE(ConfigFileExists(szEdited)) << szEdited;
        EXPECT_FALSE(ConfigFileExists(std::string("fixed/") + szEdited)) << szEdited;
        EXPECT_TRUE(ConfigFileExists(szKept)) << szKept;
        EXPECT_TRUE(ConfigFileExists(std::string("fixed/") + szKept)) << szKept;
    }
}

TEST_F(ConfigPageTest, UnwritableOrMissingDirectoryIsReportedAndFilesStayWhole)
{
    StoreRecord(0, "arm", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1);
    std::string strBefore = ReadConfigFile("Kinetor0.ini");
    Start();
    Choose(HW_MENU_WORKSPACE, 0);
    std::string strMissing = m_strConfigDir + "/missing";
    setenv("KINETOR_CONFIG_FILES", strMissing.c_str(), 1);
    EXPECT_FALSE(DoApply(m_hw, m_dual));
    setenv("KINETOR_CONFIG_FILES", m_strConfigDir.c_str(), 1);
    ASSERT_EQ(m_sink.m_errors.size(), 1u);
    EXPECT_NE(m_sink.m_errors[0].find("does not exist or cannot be written"), std::string::npos);
    EXPECT_NE(m_sink.m_errors[0].find(strMissing), std::string::npos);
    EXPECT_EQ(ReadConfigFile("Kinetor0.ini"), strBefore);
}

TEST_F(ConfigPageTest, MalformedFileIsReportedAndKeptUnlessAppliedWhileShown)
{
    StoreRecord(0, "good", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1);
    WriteConfigFile("Kinetor1.ini", "broken\nAltura A\nthis is not a number\n");
    Start();
    m_hw.ReportLoadProblems();
    ASSERT_EQ(m_sink.m_errors.size(), 1u);
    EXPECT_NE(m_sink.m_errors[0].find("Kinetor1.ini (\"broken\")"), std::string::npos);
    ASSERT_TRUE(DoApply(m_hw, m_dual));
    EXPECT_EQ(ReadConfigFile("Kinetor1.ini"), "broken\nAltura A\nthis is not a number\n");
    m_controls.ListSelect(1);
    m_hw.OnSelChangeKinetor();
    ASSERT_TRUE(DoApply(m_hw, m_dual));
    EXPECT_STREQ(ReadRecord(1).m_szName, "broken");
}

TEST_F(ConfigPageTest, LeavingARecordWithBadEntriesKeepsItSelected)
{
    StoreRecord(0, "one", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 1);
    StoreRecord(1, "two", KINETOR_MODEL_ALTURA_A, KINETOR_CARD_EPP, 2);
    Start();
    Type(HW_FIELD_UNIT, "9");
    m_controls.ListSelect(1);
    m_hw.OnSelChangeKinetor();
    EXPECT_STREQ(m_hw.GetCurrent()->m_szName, "one");
    EXPECT_EQ(m_controls.m_strListText, "one");
    EXPECT_EQ(m_sink.m_errors.size(), 1u);
}
