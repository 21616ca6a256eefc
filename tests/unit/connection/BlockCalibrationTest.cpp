// Home-sensor calibration from synthetic sweeps, reference calibration and the offsets file.
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "SweepBuilder.h"
#include "TestDirs.h"
#include "support/FileSizeLimit.h"

namespace {

const int kOldRevision = 3;
const int kNewRevision = 9;
const long kUnknown = 2147483647L;

// Centres of the sensor tables, as published for the hardware.
const long kOldAxis0Flag0Centre = -5439;
const long kOldAxis1Flag1Centre = -6268;
const long kOldAxis1Gap0Centre = -8385;
const long kAxis2FlagCentre = 1295;
const long kNewAxis0Flag1Centre = 0;
const long kNewAxis1Flag1Centre = -6268;

std::string ReadFile(const std::string& strPath)
{
    std::string str;
    FILE* fp = fopen(strPath.c_str(), "r");
    if (fp == nullptr)
        return str;
    int c;
    while ((c = fgetc(fp)) != EOF)
        str.push_back(static_cast<char>(c));
    fclose(fp);
    return str;
}

void WriteFile(const std::string& strPath, const char* pszText)
{
    FILE* fp = fopen(strPath.c_str(), "w");
    ASSERT_NE(nullptr, fp);
    fputs(pszText, fp);
    fclose(fp);
}

std::string CalibrationPath(const char* pszName)
{
    return TestConfigDir() + "/KinetorCalibration(" + pszName + ")";
}

int Status(CWireDouble& conn)
{
    int nStatus = -1;
    EXPECT_EQ(1, conn.GetCalibrationStatus(nStatus));
    return nStatus;
}

class Calibration : public ::testing::Test {
protected:
    void TearDown() override
    {
        RemoveDirectoryContents(TestConfigDir());
        EXPECT_TRUE(ListDirectory(TestWorkDir()).empty());
    }

    // Sweeps axis 0 only; the other axes rest outside their flags.
    void SweepAxis0(CWireDouble& conn, const Axis& axis, int nRevision)
    {
        Axis axes[3] = {axis, {{500}, {}}, {{-500}, {}}};
        Feed(conn, Blocks(axes, nRevision));
    }

    CWireDouble m_conn;
};

// Old hardware, axis 0: a flag 1100 counts wide around -5400 is flag 0 (centre -5439).
TEST_F(Calibration, FlagCrossedForwardsAndBackwards)
{
    const Flags flag = {{-5950, -4850}};
    Axis forwards = {Ramp(-6500, -4000, 10), flag};
    SweepAxis0(m_conn, forwards, kOldRevision);
    std::vector<Edge> edges = Edges(forwards);
    ASSERT_EQ(2u, edges.size());
    Stretch s = Between(edges[0], edges[1]);
    ASSERT_EQ(1100, s.lWidth);
    ASSERT_EQ(-5400, s.lMid);
    EXPECT_TRUE(m_conn.Valid(0));
    EXPECT_EQ(39, m_conn.Calc(0));
    EXPECT_EQ(s.lVel, m_conn.CalcVel(0));
    EXPECT_EQ(1, m_conn.Flags(0));
    EXPECT_FALSE(m_conn.Incorrect(0));
    // Axes 1 and 2 saw nothing and their offsets in use are unset.
    EXPECT_EQ(0x01 | 0x20 | 0x40, Status(m_conn));
    EXPECT_EQ(2, m_conn.Out().ucMiscOut & 0x07);

    CWireDouble back;
    Axis backwards = {Ramp(-4000, -6500, -10), flag};
    SweepAxis0(back, backwards, kOldRevision);
    edges = Edges(backwards);
    ASSERT_EQ(2u, edges.size());
    s = Between(edges[0], edges[1]);
    EXPECT_TRUE(back.Valid(0));
    EXPECT_EQ(s.lMid - kOldAxis0Flag0Centre, back.Calc(0));
    EXPECT_EQ(29, back.Calc(0));
    EXPECT_EQ(-20, back.CalcVel(0));
}

TEST_F(Calibration, ReversalInsideFlagStoresNothing)
{
    Axis axis = {Join(Ramp(-6500, -5400, 10), Ramp(-5390, -6500, -10)), {{-5950, -4850}}};
    SweepAxis0(m_conn, axis, kOldRevision);
    EXPECT_EQ(2u, Edges(axis).size());
    EXPECT_EQ(0, m_conn.Flags(0));
    EXPECT_FALSE(m_conn.Valid(0));

    // An edge seen without motion is no measurement either, even where the width fits.
    CWireDouble still;
    Axis through = {Ramp(-6500, -4860, 10), {{-5950, -4850}}};
    Axis axes[3] = {through, {{0}, {}}, {{0}, {}}};
    std::vector<_PORT_INPUT> blocks = Blocks(axes, kOldRevision);
    _PORT_INPUT stop = blocks.back();
    stop.usQuad0 = static_cast<USHORT>(-4850);
    blocks.push_back(stop);
    stop.ucMiscIn = static_cast<UCHAR>(stop.ucMiscIn & ~0x10);
    blocks.push_back(stop);
    Feed(still, blocks);
    EXPECT_EQ(0, still.Flags(0));
    EXPECT_FALSE(still.Valid(0));
}

// Of several passes the slowest is kept; an equally fast later pass does not replace it.
TEST_F(Calibration, SlowestPassKept)
{
    const Flags flag = {{-5950, -4850}};
    struct Case {
        long lFirstStep;
        long lSecondStep;
    };
    for (const Case& c : {Case{20, 10}, Case{10, 20}, Case{10, 10}, Case{7, 13}}) {
        CWireDouble conn;
        // Out through the flag fast in between, so the way back never wins.
        Path path = Join(Join(Ramp(-6500, -4000, c.lFirstStep), Ramp(-3990, -6501, -300)),
                         Ramp(-6501, -4000, c.lSecondStep));
        Axis axis = {path, flag};
        SweepAxis0(conn, axis, kOldRevision);

        std::vector<Edge> edges = Edges(axis);
        ASSERT_EQ(6u, edges.size());
        Stretch first = Between(edges[0], edges[1]);
        Stretch second = Between(edges[4], edges[5]);
        ASSERT_NE(first.lMid, second.lMid);
        const Stretch& kept = (labs(second.lVel) < labs(first.lVel)) ? second : first;
        EXPECT_EQ(1, conn.Flags(0));
        EXPECT_EQ(kept.lMid - kOldAxis0Flag0Centre, conn.Calc(0)) << c.lFirstStep << "/" << c.lSecondStep;
        EXPECT_EQ(kept.lVel, conn.CalcVel(0));
    }
}

struct WidthCase {
    int nRevision;
    long lWidth;
    bool bFlag;
    long lCentre;
};

class CalibrationWidth : public Calibration, public ::testing::WithParamInterface<WidthCase> {};

// Only widths strictly inside a table entry identify a flag; new hardware has one per axis.
TEST_P(CalibrationWidth, Axis0FlagIdentifiedByWidth)
{
    const WidthCase w = GetParam();
    Axis axis = {Ramp(-7000, -3000, 10), {{-6000, -6000 + w.lWidth}}};
    SweepAxis0(m_conn, axis, w.nRevision);
    std::vector<Edge> edges = Edges(axis);
    ASSERT_EQ(2u, edges.size());
    Stretch s = Between(edges[0], edges[1]);
    ASSERT_EQ(w.lWidth, s.lWidth);
    EXPECT_EQ(w.bFlag, m_conn.Valid(0));
    if (w.bFlag) {
        EXPECT_EQ(s.lMid - w.lCentre, m_conn.Calc(0));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, CalibrationWidth,
    ::testing::Values(WidthCase{kOldRevision, 1100, true, -5439}, WidthCase{kOldRevision, 1350, false, 0},
                      WidthCase{kOldRevision, 1400, false, 0}, WidthCase{kOldRevision, 1430, true, 0},
                      WidthCase{kOldRevision, 2000, true, 5439}, WidthCase{kNewRevision, 950, false, 0},
                      WidthCase{kNewRevision, 960, true, kNewAxis0Flag1Centre},
                      WidthCase{kNewRevision, 1350, true, kNewAxis0Flag1Centre},
                      WidthCase{kNewRevision, 1750, false, 0}, WidthCase{15, 1100, true, 0}));

// A gap crossed more slowly than the flags around it gives the offset.
TEST_F(Calibration, SlowGapPreferredOnAxis1)
{
    Axis axis = {Profile(-11500, -5000, [](long l) { return (l >= -9950 && l < -7050) ? 4L : 20L; }),
                 {{-11000, -9900}, {-7100, -5650}}};
    Axis axes[3] = {{{500}, {}}, axis, {{-500}, {}}};
    Feed(m_conn, Blocks(axes, kOldRevision));

    std::vector<Edge> edges = Edges(axis);
    ASSERT_EQ(4u, edges.size());
    Stretch gap = Between(edges[1], edges[2]);
    ASSERT_GT(gap.lWidth, 2625);
    ASSERT_LT(gap.lWidth, 2950);
    EXPECT_EQ(2, m_conn.Flags(1));
    EXPECT_EQ(1, m_conn.Gaps(1));
    EXPECT_TRUE(m_conn.Valid(1));
    EXPECT_EQ(gap.lMid - kOldAxis1Gap0Centre, m_conn.Calc(1));
    EXPECT_EQ(gap.lVel, m_conn.CalcVel(1));
}

// Of two flags the one crossed more slowly gives the offset, also when it came first.
TEST_F(Calibration, SlowFlagPreferred)
{
    Axis axis = {Profile(-7500, 0, [](long l) { return l < -5800 ? 4L : 20L; }),
                 {{-7000, -5900}, {-3000, -1450}}};
    SweepAxis0(m_conn, axis, kOldRevision);
    std::vector<Edge> edges = Edges(axis);
    ASSERT_EQ(4u, edges.size());
    Stretch flag0 = Between(edges[0], edges[1]);
    Stretch flag1 = Between(edges[2], edges[3]);
    ASSERT_LT(labs(flag0.lVel), labs(flag1.lVel));
    EXPECT_EQ(2, m_conn.Flags(0));
    EXPECT_EQ(0, m_conn.Gaps(0));
    EXPECT_EQ(flag0.lMid - kOldAxis0Flag0Centre, m_conn.Calc(0));
    EXPECT_EQ(flag0.lVel, m_conn.CalcVel(0));
}

// All three axes through their flags at once; offsets near zero leave nothing incorrect.
TEST_F(Calibration, AllAxesOnOldAndNewHardware)
{
    for (int nRevision : {kOldRevision, kNewRevision}) {
        CWireDouble conn;
        Axis axes[3] = {{Ramp(-7000, -3000, 10), {{-5950, -4850}}},
                        {Ramp(-8000, -4000, 10), {{-6900, -5450}}},
                        {Ramp(0, 3000, 10), {{800, 1800}}}};
        Feed(conn, Blocks(axes, nRevision));
        const long alCentre[3] = {nRevision < 9 ? kOldAxis0Flag0Centre : kNewAxis0Flag1Centre,
                                  nRevision < 9 ? kOldAxis1Flag1Centre : kNewAxis1Flag1Centre,
                                  kAxis2FlagCentre};
        for (int a = 0; a < 3; a++) {
            std::vector<Edge> edges = Edges(axes[a]);
            ASSERT_EQ(2u, edges.size());
            Stretch s = Between(edges[0], edges[1]);
            EXPECT_TRUE(conn.Valid(a)) << nRevision << " axis " << a;
            EXPECT_EQ(s.lMid - alCentre[a], conn.Calc(a)) << nRevision << " axis " << a;
        }
        if (nRevision < 9) {
            EXPECT_EQ(0x0F, Status(conn));
            EXPECT_EQ(6, conn.Out().ucMiscOut & 0x07);
        } else {
            // -5400 against centre 0 is far from the unset offset in use.
            EXPECT_EQ(0x01 | 0x02 | 0x04 | 0x08 | 0x10, Status(conn));
        }
    }
}

TEST_F(Calibration, NothingSeenIsAllIncorrect)
{
    m_conn.SetIdle(QuietBlock());
    m_conn.FlushConnection(TRUE);
    EXPECT_EQ(0x00, Status(m_conn));
    m_conn.FlushConnection(FALSE);
    EXPECT_EQ(0xF0, Status(m_conn));
}

// Offsets are evaluated on each of the first 5000 ticks, then on every thousandth only.
TEST_F(Calibration, EvaluationCadence)
{
    _PORT_INPUT idle = {};
    idle.ucMiscIn = 0x40;
    idle.usQuad0 = static_cast<USHORT>(-7000);
    Axis first = {Ramp(-7000, -4000, 10), {{-5950, -4850}}};
    std::vector<Edge> edges = Edges(first);
    ASSERT_EQ(2u, edges.size());
    const size_t nLeave = static_cast<size_t>((edges[1].lPos + 7000) / 10);
    // The flag is left on the 5000th tick.
    for (size_t i = 0; i + nLeave < 4999; i++)
        m_conn.Push(idle);
    m_conn.RunScript();
    Axis axes[3] = {first, {{0}, {}}, {{0}, {}}};
    std::vector<_PORT_INPUT> blocks = Blocks(axes, kOldRevision);
    for (size_t i = 0; i <= nLeave; i++)
        m_conn.Push(blocks[i]);
    m_conn.RunScript();
    ASSERT_EQ(5000, m_conn.m_nExchanges);
    EXPECT_TRUE(m_conn.Valid(0));
    EXPECT_EQ(Between(edges[0], edges[1]).lMid - kOldAxis0Flag0Centre, m_conn.Calc(0));

    // Back out fast, then a slower pass whose result waits for the 6001st tick.
    Axis second = {Join(Join(Ramp(-4840, -7003, -300), Ramp(-7003, -4000, 5)), Ramp(-4000, -4000, 1)),
                   {{-5950, -4850}}};
    edges = Edges(second);
    ASSERT_EQ(4u, edges.size());
    const Stretch slow = Between(edges[2], edges[3]);
    ASSERT_NE(slow.lMid, Between(edges[0], edges[1]).lMid);
    for (long l : second.path) {
        _PORT_INPUT in = idle;
        in.usQuad0 = static_cast<USHORT>(l);
        if (InFlag(second.flags, l))
            in.ucMiscIn |= 0x10;
        m_conn.Push(in);
    }
    m_conn.RunScript();
    ASSERT_LT(m_conn.m_nExchanges, 6000);
    while (m_conn.m_nExchanges < 6000)
        m_conn.FlushConnection(FALSE);
    EXPECT_EQ(39, m_conn.Calc(0));
    m_conn.FlushConnection(FALSE);
    EXPECT_EQ(slow.lMid - kOldAxis0Flag0Centre, m_conn.Calc(0));
    EXPECT_EQ(slow.lVel, m_conn.CalcVel(0));
}

// An offset in use 224 counts from the measured one is still right; 225 is not.
TEST_F(Calibration, IncorrectFrom225Counts)
{
    for (long lStart : {-6005L, -6004L}) {
        WriteFile(CalibrationPath("limit"), "100 0 0 0 0 0\n50 50 50 50 50 50\n");
        CWireDouble conn;
        char szName[] = "limit";
        conn.ReadEncoderOffsets(szName);
        ASSERT_EQ(100, conn.Offset(0));
        Axis axis = {Ramp(lStart, lStart + 2000, 10), {{lStart + 340, lStart + 1440}}};
        SweepAxis0(conn, axis, kOldRevision);
        std::vector<Edge> edges = Edges(axis);
        ASSERT_EQ(2u, edges.size());
        long lMeasured = Between(edges[0], edges[1]).lMid - kOldAxis0Flag0Centre;
        ASSERT_EQ(lStart == -6005 ? 324 : 325, lMeasured);
        EXPECT_EQ(lMeasured, conn.Calc(0));
        EXPECT_EQ(lMeasured - 100 >= 225, conn.Incorrect(0));
        // Offsets loaded with a velocity are not taken for unset ones.
        EXPECT_EQ(lMeasured - 100 >= 225 ? 0x11 : 0x01, Status(conn));

        // Committing takes an incorrect offset at once; saving under the loaded name then
        // also prefers the slower measurement (20 against 50) for the one still right.
        EXPECT_EQ(1, conn.UpdateCalibration());
        EXPECT_EQ(lMeasured, conn.Offset(0));
        EXPECT_EQ(20, conn.OffsetVel(0));
        EXPECT_FALSE(conn.Incorrect(0));
        const std::string strExpected =
            std::to_string(lMeasured) + " 0 0 0 0 0\n20 50 50 50 50 50\n";
        EXPECT_EQ(strExpected, ReadFile(CalibrationPath("limit")));
    }
}

TEST_F(Calibration, EnablingAmplifiersRestartsEvaluation)
{
    Axis axis = {Ramp(-6500, -4000, 10), {{-5950, -4850}}};
    SweepAxis0(m_conn, axis, kOldRevision);
    ASSERT_TRUE(m_conn.Valid(0));
    _PORT_INPUT rest = {};
    rest.ucMiscIn = 0x40;
    rest.usQuad0 = static_cast<USHORT>(-4000);
    m_conn.SetIdle(rest);
    m_conn.EnableBaseAmplifiers(TRUE);
    EXPECT_EQ(0, m_conn.Flags(0));
    m_conn.FlushConnection(FALSE);
    EXPECT_FALSE(m_conn.Valid(0));
    EXPECT_EQ(39, m_conn.Calc(0));  // the last measurement stays until replaced
}

TEST_F(Calibration, UpdateWithoutNameWritesNoFile)
{
    Axis axes[3] = {{Ramp(-7000, -3000, 10), {{-5950, -4850}}},
                    {Ramp(-9000, -4000, 10), {{-6990, -5540}}},
                    {{0}, {}}};
    Feed(m_conn, Blocks(axes, kNewRevision));
    ASSERT_TRUE(m_conn.Incorrect(0));
    ASSERT_FALSE(m_conn.Incorrect(1));
    EXPECT_EQ(1, m_conn.UpdateCalibration());
    EXPECT_EQ(m_conn.Calc(0), m_conn.Offset(0));
    EXPECT_EQ(m_conn.CalcVel(0), m_conn.OffsetVel(0));
    EXPECT_EQ(0, m_conn.Offset(1));
    EXPECT_TRUE(ListDirectory(TestConfigDir()).empty());

    // From now on the axis reads relative to the committed offset.
    _PORT_INPUT in = {};
    in.ucMiscIn = 0x40;
    in.ucSpeedErrs = kNewRevision;
    in.usQuad0 = 100;
    m_conn.Push(in);
    m_conn.FlushConnection(FALSE);
    SHORT an[3];
    m_conn.ReadBaseEncoders(an);
    EXPECT_EQ(static_cast<SHORT>(100 - m_conn.Calc(0)), an[0]);
}

// Reference mode: the offsets follow the raw counts while the home sensor is not
// reporting, and a sensor change counts only after 10 ticks.
TEST_F(Calibration, ReferenceCalibrationDebounce)
{
    const SHORT anRef[6] = {100, -200, 300, 400, 500, 600};
    m_conn.SetEncoderOffsets(anRef);
    EXPECT_FALSE(m_conn.AutoCalibrate());

    _PORT_INPUT reporting = QuietBlock();
    reporting.usQuad0 = 50000;
    reporting.usQuad1 = 7;
    reporting.usQuad2 = 65535;
    reporting.usPot0 = 1000;
    reporting.usPot1 = 2000;
    reporting.usPot2 = 3000;
    reporting.ucMiscIn = static_cast<UCHAR>(reporting.ucMiscIn & ~0x04);
    _PORT_INPUT quiet = reporting;
    quiet.ucMiscIn |= 0x04;

    auto run = [this](const _PORT_INPUT& in, int n) {
        for (int i = 0; i < n; i++)
            m_conn.Push(in);
        m_conn.RunScript();
    };
    run(reporting, 12);
    EXPECT_FALSE(m_conn.Valid(0));
    run(quiet, 9);
    EXPECT_FALSE(m_conn.Valid(0));
    run(reporting, 1);
    run(quiet, 9);
    EXPECT_FALSE(m_conn.Valid(0));
    run(quiet, 1);
    const long alRaw[5] = {50000, 7, 65535, 1000, 2000};
    for (int i = 0; i < 5; i++) {
        EXPECT_TRUE(m_conn.Valid(i)) << i;
        EXPECT_EQ(alRaw[i] - anRef[i], m_conn.Calc(i)) << i;
        EXPECT_EQ(0, m_conn.CalcVel(i));
        EXPECT_TRUE(m_conn.Incorrect(i));
    }
    EXPECT_FALSE(m_conn.Valid(5));

    // Committed offsets make the reference position read as the reference values.
    m_conn.UpdateCalibration();
    run(reporting, 1);
    SHORT anBase[3];
    SHORT anGimbal[3];
    m_conn.ReadBaseEncoders(anBase);
    m_conn.ReadGimbalEncoders(anGimbal);
    EXPECT_EQ(anRef[0], anBase[0]);
    EXPECT_EQ(anRef[1], anBase[1]);
    EXPECT_EQ(anRef[2], anBase[2]);
    EXPECT_EQ(anRef[3], anGimbal[0]);
    EXPECT_EQ(anRef[4], anGimbal[1]);
    EXPECT_EQ(3000, anGimbal[2]);
}

// The first nine ticks take the sensor state as read, without calibrating.
TEST_F(Calibration, ReferenceStateFollowsSensorAtFirst)
{
    const SHORT anRef[6] = {1, 2, 3, 4, 5, 6};
    m_conn.SetEncoderOffsets(anRef);
    for (int i = 0; i < 9; i++)
        m_conn.Push(QuietBlock());
    m_conn.RunScript();
    EXPECT_FALSE(m_conn.Valid(0));
    m_conn.FlushConnection(FALSE);
    EXPECT_TRUE(m_conn.Valid(0));
}

TEST_F(Calibration, FileRoundTripInConfigurationDirectory)
{
    Axis axis = {Ramp(-6500, -4000, 10), {{-5950, -4850}}};
    SweepAxis0(m_conn, axis, kOldRevision);
    char szName[] = "Arm One";
    m_conn.WriteEncoderOffsets(szName);
    EXPECT_EQ(std::vector<std::string>{"KinetorCalibration(Arm One)"}, ListDirectory(TestConfigDir()));
    EXPECT_EQ("39 0 0 0 0 0\n20 2147483647 2147483647 2147483647 2147483647 2147483647\n",
              ReadFile(CalibrationPath("Arm One")));

    CWireDouble other;
    other.ReadEncoderOffsets(szName);
    EXPECT_STREQ("Arm One", other.Name());
    EXPECT_EQ(39, other.Offset(0));
    EXPECT_EQ(20, other.OffsetVel(0));
    EXPECT_EQ(kUnknown, other.OffsetVel(1));
    // Another name is another file.
    char szOther[] = "Arm Two";
    other.ReadEncoderOffsets(szOther);
    EXPECT_EQ(39, other.Offset(0));
    EXPECT_STREQ("Arm Two", other.Name());
}

// A save that fails part-way (here at a file-size limit) keeps the file saved before, byte
// for byte and with nothing beside it; a save that succeeds replaces it whole.
TEST_F(Calibration, FailedSaveKeepsThePreviousFile)
{
    const std::string strOld = "stored before\n" + std::string(200, 'z') + "\n";
    WriteFile(CalibrationPath("Arm One"), strOld.c_str());
    Axis axis = {Ramp(-6500, -4000, 10), {{-5950, -4850}}};
    SweepAxis0(m_conn, axis, kOldRevision);
    char szName[] = "Arm One";
    {
        CScopedFileSizeLimit limit(16);
        ASSERT_TRUE(limit.Active());
        m_conn.WriteEncoderOffsets(szName);
    }
    EXPECT_EQ(strOld, ReadFile(CalibrationPath("Arm One")));
    EXPECT_EQ(std::vector<std::string>{"KinetorCalibration(Arm One)"}, ListDirectory(TestConfigDir()));

    m_conn.WriteEncoderOffsets(szName);
    EXPECT_EQ("39 0 0 0 0 0\n20 2147483647 2147483647 2147483647 2147483647 2147483647\n",
              ReadFile(CalibrationPath("Arm One")));
}

// A measured offset replaces the one in use on saving only when measured more slowly, and
// an offset in use far from the measured one loses its velocity first.
TEST_F(Calibration, SavingPrefersSlowerMeasurement)
{
    for (const char* pszFile : {"1000 0 0 0 0 0\n5 5 5 5 5 5\n", "100 0 0 0 0 0\n5 5 5 5 5 5\n",
                                "100 0 0 0 0 0\n21 5 5 5 5 5\n"}) {
        WriteFile(CalibrationPath("save"), pszFile);
        CWireDouble conn;
        char szName[] = "save";
        conn.ReadEncoderOffsets(szName);
        long lInUse = conn.Offset(0);
        long lVel = conn.OffsetVel(0);
        Axis axis = {Ramp(-6500, -4000, 10), {{-5950, -4850}}};
        SweepAxis0(conn, axis, kOldRevision);
        ASSERT_EQ(39, conn.Calc(0));
        ASSERT_EQ(20, conn.CalcVel(0));
        conn.WriteEncoderOffsets(szName);
        if (labs(lInUse - 39) > 224)
            lVel = kUnknown;
        const bool bTake = 20 < labs(lVel);
        EXPECT_EQ(bTake ? 39 : lInUse, conn.Offset(0)) << pszFile;
        EXPECT_EQ(bTake ? 20 : lVel, conn.OffsetVel(0)) << pszFile;
    }
}

TEST_F(Calibration, MalformedOrMissingFile)
{
    WriteFile(CalibrationPath("bad"), "1 2 3 4 5\n9 8 7 6 5 4\n");
    CWireDouble conn;
    char szBad[] = "bad";
    conn.ReadEncoderOffsets(szBad);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(0, conn.Offset(i));
        EXPECT_EQ(9 - i, conn.OffsetVel(i));
    }
    WriteFile(CalibrationPath("bad"), "1 2 3 4 5 6\nfast 1 1 1 1 1\n");
    conn.ReadEncoderOffsets(szBad);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(i + 1, conn.Offset(i));
        EXPECT_EQ(kUnknown, conn.OffsetVel(i));
    }
    WriteFile(CalibrationPath("bad"), "1 2 3 4 5 99999999999\n");
    conn.ReadEncoderOffsets(szBad);
    EXPECT_EQ(0, conn.Offset(0));

    // A missing file changes nothing.
    WriteFile(CalibrationPath("bad"), "11 12 13 14 15 16\n1 2 3 4 5 6\n");
    conn.ReadEncoderOffsets(szBad);
    char szMissing[] = "missing";
    conn.ReadEncoderOffsets(szMissing);
    EXPECT_EQ(11, conn.Offset(0));
    EXPECT_EQ(6, conn.OffsetVel(5));
    EXPECT_STREQ("missing", conn.Name());

    // The longest name that fits is kept, and its file is read.
    std::string strFits(127, 'f');
    WriteFile(CalibrationPath(strFits.c_str()), "21 22 23 24 25 26\n1 1 1 1 1 1\n");
    conn.ReadEncoderOffsets(&strFits[0]);
    EXPECT_STREQ(strFits.c_str(), conn.Name());
    EXPECT_EQ(21, conn.Offset(0));
    EXPECT_EQ(26, conn.Offset(5));

    // A name too long to keep is forgotten.
    std::string strLong(128, 'n');
    conn.ReadEncoderOffsets(&strLong[0]);
    EXPECT_STREQ("", conn.Name());
}

// A name that would reach outside the configuration directory reads and writes nothing.
TEST_F(Calibration, NameWithSlashStaysOut)
{
    const std::string strSub = TestConfigDir() + "/KinetorCalibration(sub";
    ASSERT_EQ(0, mkdir(strSub.c_str(), 0700));
    WriteFile(strSub + "/x)", "77 77 77 77 77 77\n1 1 1 1 1 1\n");

    CWireDouble conn;
    char szName[] = "sub/x";
    conn.ReadEncoderOffsets(szName);
    EXPECT_EQ(0, conn.Offset(0));

    Axis axis = {Ramp(-6500, -4000, 10), {{-5950, -4850}}};
    SweepAxis0(conn, axis, kOldRevision);
    ASSERT_TRUE(conn.Valid(0));
    conn.WriteEncoderOffsets(szName);
    EXPECT_EQ("77 77 77 77 77 77\n1 1 1 1 1 1\n", ReadFile(strSub + "/x)"));
    char szUp[] = "../x";
    conn.WriteEncoderOffsets(szUp);
    conn.UpdateCalibration();
    EXPECT_EQ(std::vector<std::string>{"KinetorCalibration(sub"}, ListDirectory(TestConfigDir()));
    EXPECT_EQ(std::vector<std::string>{"x)"}, ListDirectory(strSub));

    unlink((strSub + "/x)").c_str());
    rmdir(strSub.c_str());
}

}  // namespace
