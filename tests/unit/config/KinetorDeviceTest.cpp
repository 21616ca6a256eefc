// Reading and writing of one configuration file, against files written by hand in the
// documented layout as well as round trips through the writer.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "ConfigTestEnv.h"
#include "config/KinetorDevice.h"
#include "config/KinetorMgr.h"
#include "config/KinetorPaths.h"
#include "support/FileSizeLimit.h"

namespace {

const char* const kWorkspace =
    "-390, 390, -168, 603, -112, 180\n"
    "-140, 140, -20, 440, -78, 78\n"
    "-78, 78, -7, 149, -78, 78\n"
    "34\n";

const std::string kAlturaA = std::string(
                                 "Arm One\n"
                                 "a\n"
                                 "8250, 8250\n"
                                 "EPP\n"
                                 "0x278, 1\n"
                                 "1, 2\n"
                                 "0.076912, 0.090066\n"
                                 "114293\n"
                                 "4000, 2000\n"
                                 "20\n"
                                 "-1\n"
                                 "0.600000, 0.002000, 8.500000, 1.400000\n"
                                 "0.100000, 0.200000, 0.300000, 0.400000, 0.500000, 0.600000\n") +
                             kWorkspace + "1\n";

const std::string kAlturaT = std::string(
                                 "Table Arm\n"
                                 "t\n"
                                 "9000, 8000\n"
                                 "VME\n"
                                 "0x7100, 2\n"
                                 "1, 0\n"
                                 "0.080000, 0.095000\n"
                                 "120000\n"
                                 "4096, 1024\n"
                                 "21\n"
                                 "30000\n"
                                 "0.700000, 0.003000, 9.000000, 1.500000\n"
                                 "0.000000, -0.250000, 0.000000, 0.000000, 0.000000, 0.000000\n") +
                             kWorkspace;

const std::string kBravis =
    "Bravis Desk\n"
    "p\n"
    "5250, 5250\n"
    "ISA\n"
    "0x310, 0\n"
    "0, 1\n"
    "0.100000, 0.200000, 0.300000, 0.400000\n"
    "50000\n"
    "15000, 8192\n"
    "8\n"
    "2047\n"
    "0.400000, 0.001000, 3.000000, 0.800000\n"
    "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n"
    "10, -20, 30\n"
    "-210, 210, -110, 205, -90, 130\n"
    "-80, 80, -60, 60, -35, 35\n"
    "-80, 80, -60, 60, -35, 35\n"
    "12\n";

const std::string kCirrel =
    "Cirrel Left\n"
    "cirrel\n"
    "5250, 5250\n"
    "1394\n"
    "0x0, 0\n"
    "1, 2\n"
    "0.100000, 0.200000, 0.300000, 0.400000\n"
    "50000\n"
    "15000, 8192\n"
    "8\n"
    "2047\n"
    "0.500000, 0.002000, 3.300000, 0.880000\n"
    "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n"
    "10, -20, 30\n"
    "-210, 210, -110, 205, -90, 130\n"
    "-80, 80, -60, 60, -35, 35\n"
    "-80, 80, -60, 60, -35, 35\n"
    "12\n"
    "100, -200, 300, -400, 500, -600\n"
    "-2147483647\n";

const std::string k6DOF = std::string(
                              "Six\n"
                              "p6\n"
                              "8250, 8250\n"
                              "PCI\n"
                              "0, 1\n"
                              "1, 2\n"
                              "0.076912, 0.090066, 0.090066, 0.500000, 0.250000, 0.125000\n"
                              "114293, 114293, 114293, 1000, 2000, 3000\n"
                              "4000, 4000, 4000, 2000, 2000, 1024\n"
                              "20, 20, 20, 7, 7, 7\n"
                              "-1\n"
                              "0.600000, 0.002000, 8.500000, 1.400000\n"
                              "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n") +
                          kWorkspace + "2\n";

// Replaces the first occurrence of from by to.
std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    size_t nPos = text.find(from);
    if (nPos != std::string::npos) {
        text.replace(nPos, from.size(), to);
    }
    return text;
}

void ExpectStandardWorkspace(const CKinetorDevice& dev)
{
    const int anMax[6] = {-390, 390, -168, 603, -112, 180};
    const int anUsable[6] = {-140, 140, -20, 440, -78, 78};
    const int anCube[6] = {-78, 78, -7, 149, -78, 78};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(dev.m_nMaxWorkspace[i], anMax[i]) << i;
        EXPECT_EQ(dev.m_nMaxUsableWorkspace[i], anUsable[i]) << i;
        EXPECT_EQ(dev.m_nCubeWorkspace[i], anCube[i]) << i;
    }
    EXPECT_EQ(dev.m_nTableTopOffset, 34);
}

class KinetorDeviceTest : public ConfigTestEnv {
protected:
    void SetUp() override
    {
        ConfigTestEnv::SetUp();
        m_nSavedOption = globalExtra6DOFOption;
    }
    void TearDown() override
    {
        globalExtra6DOFOption = m_nSavedOption;
        ConfigTestEnv::TearDown();
    }

    // Writes text as Kinetor0.ini and reads it into dev.
    BOOLEAN ReadText(CKinetorDevice& dev, const std::string& text)
    {
        WriteConfigFile("Kinetor0.ini", text);
        dev.m_nIndex = 0;
        return dev.Read();
    }

    // Reads text and writes the record back; the written file must be the same text.
    void ExpectTextRoundTrip(const std::string& text)
    {
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        dev.m_nIndex = 1;
        ASSERT_TRUE(dev.Write());
        EXPECT_EQ(ReadConfigFile("Kinetor1.ini"), text);
    }

    short m_nSavedOption = 3;
};

TEST_F(KinetorDeviceTest, ConstructorGivesDocumentedDefaults)
{
    CKinetorDevice dev;
    for (size_t i = 0; i < sizeof(dev.m_szName); i++) {
        ASSERT_EQ(dev.m_szName[i], 0);
    }
    EXPECT_EQ(dev.m_nModelType, 1u);
    EXPECT_EQ(dev.m_nL1, 8250u);
    EXPECT_EQ(dev.m_nCardType, 0u);
    EXPECT_EQ(dev.m_nChannelSelect, 2u);
    EXPECT_FLOAT_EQ(dev.m_fR1, 0.076912f);
    EXPECT_FLOAT_EQ(dev.m_fR3, 0.090066f);
    EXPECT_FLOAT_EQ(dev.m_fR6, 1.0f);
    // Integer part of 1 / ((12.2 / 32768) * 0.0235) in single precision.
    float fScale = 1.0f / ((12.2f / 32768.0f) * 0.0235f);
    EXPECT_EQ(dev.m_nTtm1, static_cast<ULONG>(fScale));
    EXPECT_EQ(dev.m_nTtm4, 0u);
    EXPECT_EQ(dev.m_nCPR4, 2000u);
    EXPECT_EQ(dev.m_nMtrType3, 20u);
    EXPECT_EQ(dev.m_nAmpDACLimit, ~0UL);
    EXPECT_FLOAT_EQ(dev.m_fNominalMaxForce, 8.5f);
    EXPECT_FLOAT_EQ(dev.m_fNominalMaxContinuousForce, 1.4f);
    ExpectStandardWorkspace(dev);
    EXPECT_EQ(dev.m_nEPPDevice, 1u);
    EXPECT_EQ(dev.m_n1394SerialNumber, 0u);
}

TEST_F(KinetorDeviceTest, FltBuildsSignedDecimalConstants)
{
    EXPECT_EQ(FLT(0, 76912, 6), 0.076912f);
    EXPECT_EQ(FLT(8, 5, 1), 8.5f);
    EXPECT_EQ(FLT(-2, 25, 2), -2.25f);
    EXPECT_EQ(FLT(0, -5, 1), -0.5f);
    EXPECT_EQ(FLT(3, 0, 0), 3.0f);
    EXPECT_EQ(FLT(0, 123456789, 9), 0.123456789f);
    // A digit count beyond the table leaves the fraction out instead of dividing by zero.
    EXPECT_EQ(FLT(7, 5, 10), 7.0f);
}

TEST_F(KinetorDeviceTest, DefaultEppRecordWritesDocumentedText)
{
    CKinetorMgr mgr;
    mgr.SetEPPAddress(1, 0x378);
    CKinetorDevice dev;
    snprintf(dev.m_szName, sizeof(dev.m_szName), "Default");
    dev.m_nCardType = 4;
    ASSERT_TRUE(dev.Write());
    const std::string expected = std::string(
                                     "Default\n"
                                     "a\n"
                                     "8250, 8250\n"
                                     "EPP\n"
                                     "0x378, 0\n"
                                     "1, 2\n"
                                     "0.076912, 0.090066\n"
                                     "114293\n"
                                     "4000, 2000\n"
                                     "20\n"
                                     "-1\n"
                                     "0.600000, 0.002000, 8.500000, 1.400000\n"
                                     "0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000\n") +
                                 kWorkspace + "0\n";
    EXPECT_EQ(ReadConfigFile("Kinetor0.ini"), expected);
    // The current directory is searched when reading but never written.
    EXPECT_NE(access((m_strWorkDir + "/Kinetor0.ini").c_str(), F_OK), 0);
}

TEST_F(KinetorDeviceTest, ReadsHandWrittenAlturaA)
{
    CKinetorMgr mgr;
    mgr.SetPortMode(2, 1);
    CKinetorDevice dev;
    ASSERT_TRUE(ReadText(dev, kAlturaA));
    EXPECT_STREQ(dev.m_szName, "Arm One");
    EXPECT_EQ(dev.m_nModelType, 1u);
    EXPECT_EQ(dev.m_nCardType, 4u);
    EXPECT_EQ(dev.m_nTimeoutCircuit, 1u);
    EXPECT_EQ(dev.m_nChannelSelect, 2u);
    EXPECT_EQ(dev.m_fR1, 0.076912f);
    EXPECT_EQ(dev.m_fR2, 0.090066f);
    EXPECT_EQ(dev.m_fR3, 0.090066f);
    EXPECT_EQ(dev.m_fR4, 1.0f);
    EXPECT_EQ(dev.m_fR6, 1.0f);
    EXPECT_EQ(dev.m_nTtm2, 114293u);
    EXPECT_EQ(dev.m_nTtm3, 114293u);
    EXPECT_EQ(dev.m_nTtm5, 0u);
    EXPECT_EQ(dev.m_nCPR3, 4000u);
    EXPECT_EQ(dev.m_nCPR5, 2000u);
    EXPECT_EQ(dev.m_nMtrType2, 20u);
    EXPECT_EQ(dev.m_nMtrType6, 0u);
    EXPECT_EQ(dev.m_nAmpDACLimit, 4294967295UL);
    EXPECT_EQ(dev.m_fNominalMaxDamping, 0.002f);
    EXPECT_EQ(dev.m_fResetAngle5, 0.6f);
    ExpectStandardWorkspace(dev);
    EXPECT_EQ(dev.m_nHighForce, 1u);
    EXPECT_EQ(dev.m_nISADevice, 2u);
    EXPECT_EQ(dev.m_nPCIDevice, 2u);
    EXPECT_EQ(dev.m_nEPPDevice, 2u);
    EXPECT_EQ(dev.m_nVMEDevice, 2u);
    EXPECT_EQ(mgr.GetEPPAddress(2), 0x278u);
    EXPECT_EQ(mgr.GetPortMode(2), 0);
}

TEST_F(KinetorDeviceTest, ReadsHandWrittenCirrelWithNegativeSerial)
{
    CKinetorDevice dev;
    ASSERT_TRUE(ReadText(dev, kCirrel));
    EXPECT_EQ(dev.m_nModelType, 5u);
    EXPECT_EQ(dev.m_nCardType, 6u);
    EXPECT_EQ(dev.m_fR4, 0.4f);
    EXPECT_EQ(dev.m_fR5, 0.0f);
    EXPECT_EQ(dev.m_fR6, 0.0f);
    EXPECT_EQ(dev.m_nTtm3, 50000u);
    EXPECT_EQ(dev.m_nCPR2, 15000u);
    EXPECT_EQ(dev.m_nCPR6, 8192u);
    EXPECT_EQ(dev.m_nMtrType3, 8u);
    EXPECT_EQ(dev.m_nMtrType4, 0u);
    EXPECT_EQ(dev.m_nAmpDACLimit, 2047u);
    EXPECT_EQ(dev.m_nWorkspaceOffset1, -20);
    EXPECT_EQ(dev.m_nInkWellEncoderOffset0, 100);
    EXPECT_EQ(dev.m_nInkWellEncoderOffset5, -600);
    EXPECT_EQ(dev.m_nMaxWorkspace[3], 205);
    EXPECT_EQ(dev.m_nTableTopOffset, 12);
    // Bit 31 set: written as a negative number, read back as the packed value.
    EXPECT_EQ(dev.m_n1394SerialNumber, 0x80000001UL);
    EXPECT_EQ(dev.m_nEPPDevice, 1u);
}

TEST_F(KinetorDeviceTest, ReadsHandWritten6DofAndSetsHandleType)
{
    globalExtra6DOFOption = 3;
    CKinetorDevice dev;
    ASSERT_TRUE(ReadText(dev, k6DOF));
    EXPECT_EQ(dev.m_nModelType, 4u);
    EXPECT_EQ(dev.m_nCardType, 3u);
    EXPECT_EQ(dev.m_nPCIDevice, 2u);
    EXPECT_EQ(dev.m_fR4, 0.5f);
    EXPECT_EQ(dev.m_fR6, 0.125f);
    EXPECT_EQ(dev.m_nTtm6, 3000u);
    EXPECT_EQ(dev.m_nCPR6, 1024u);
    EXPECT_EQ(dev.m_nMtrType5, 7u);
    EXPECT_EQ(dev.m_nAmpDACLimit, 4294967295UL);
    EXPECT_EQ(globalExtra6DOFOption, 2);
    EXPECT_EQ(dev.m_nExtra6DOFOption, 2u);
}

TEST_F(KinetorDeviceTest, ReadsHandWrittenBravisAndAlturaT)
{
    CKinetorMgr mgr;
    CKinetorDevice bravis;
    ASSERT_TRUE(ReadText(bravis, kBravis));
    EXPECT_EQ(bravis.m_nModelType, 3u);
    EXPECT_EQ(bravis.m_nCardType, 0u);
    EXPECT_EQ(bravis.m_nTimeoutCircuit, 0u);
    EXPECT_EQ(bravis.m_fR3, 0.3f);
    EXPECT_EQ(bravis.m_fR5, 0.0f);
    EXPECT_EQ(bravis.m_nWorkspaceOffset2, 30);
    EXPECT_EQ(mgr.GetISAAddress(1), 0x310u);

    CKinetorDevice table;
    ASSERT_TRUE(ReadText(table, kAlturaT));
    EXPECT_EQ(table.m_nModelType, 2u);
    EXPECT_EQ(table.m_nCardType, 2u);
    EXPECT_EQ(table.m_nL1, 9000u);
    EXPECT_EQ(table.m_nL2, 8000u);
    EXPECT_EQ(table.m_fR3, 0.095f);
    EXPECT_EQ(table.m_fR4, 1.0f);
    EXPECT_EQ(table.m_nCPR3, 4096u);
    EXPECT_EQ(table.m_nCPR4, 1024u);
    EXPECT_EQ(table.m_fResetAngle1, -0.25f);
    EXPECT_EQ(table.m_nVMEDevice, 3u);
    EXPECT_EQ(mgr.GetVMEAddress(3), 0x7100u);
    EXPECT_EQ(table.m_nHighForce, 0u);
}

TEST_F(KinetorDeviceTest, EveryModelWritesBackTheTextItRead)
{
    globalExtra6DOFOption = 3;
    ExpectTextRoundTrip(kAlturaA);
    ExpectTextRoundTrip(kAlturaT);
    ExpectTextRoundTrip(kBravis);
    ExpectTextRoundTrip(kCirrel);
    ExpectTextRoundTrip(k6DOF);
}

// A record with every persisted field set to a value the model's file carries.
CKinetorDevice* MakeRecord(ULONG nModel, ULONG nCard)
{
    CKinetorDevice* p = new CKinetorDevice();
    snprintf(p->m_szName, sizeof(p->m_szName), "Model %lu, card %lu", nModel, nCard);
    p->m_nModelType = nModel;
    p->m_nCardType = nCard;
    p->m_nL1 = 7000 + nModel;
    p->m_nL2 = 6000 + nModel;
    p->m_nTimeoutCircuit = 0;
    p->m_nChannelSelect = 1;
    p->m_fR1 = 0.125f;
    p->m_fR2 = 0.25f;
    p->m_fR3 = 0.375f;
    p->m_fR4 = 0.5f;
    p->m_fR5 = 0.625f;
    p->m_fR6 = 0.75f;
    p->m_nTtm1 = 1001;
    p->m_nTtm2 = 1002;
    p->m_nTtm3 = 1003;
    p->m_nTtm4 = 1004;
    p->m_nTtm5 = 1005;
    p->m_nTtm6 = 1006;
    p->m_nCPR1 = 2001;
    p->m_nCPR2 = 2002;
    p->m_nCPR3 = 2003;
    p->m_nCPR4 = 2004;
    p->m_nCPR5 = 2005;
    p->m_nCPR6 = 2006;
    p->m_nMtrType1 = 11;
    p->m_nMtrType2 = 12;
    p->m_nMtrType3 = 13;
    p->m_nMtrType4 = 14;
    p->m_nMtrType5 = 15;
    p->m_nMtrType6 = 16;
    p->m_nAmpDACLimit = 12345;
    p->m_fNominalMaxStiffness = 1.5f;
    p->m_fNominalMaxDamping = 0.004f;
    p->m_fNominalMaxForce = 6.25f;
    p->m_fNominalMaxContinuousForce = 1.75f;
    p->m_fResetAngle0 = -1.5f;
    p->m_fResetAngle3 = 0.5f;
    p->m_fResetAngle5 = 2.25f;
    p->m_nMaxWorkspace[0] = -400;
    p->m_nCubeWorkspace[5] = 99;
    p->m_nTableTopOffset = -7;
    p->m_nISADevice = p->m_nPCIDevice = p->m_nEPPDevice = p->m_nVMEDevice = 3;
    if (nCard == 6) {
        p->m_nISADevice = p->m_nPCIDevice = p->m_nEPPDevice = p->m_nVMEDevice = 1;
    }
    // What the short blocks derive instead of storing.
    if (nModel == 1 || nModel == 2 || nModel == 3 || nModel == 5) {
        p->m_nTtm2 = p->m_nTtm3 = p->m_nTtm1;
        p->m_nTtm4 = p->m_nTtm5 = p->m_nTtm6 = 0;
        p->m_nCPR2 = p->m_nCPR3 = p->m_nCPR1;
        p->m_nCPR5 = p->m_nCPR6 = p->m_nCPR4;
        p->m_nMtrType2 = p->m_nMtrType3 = p->m_nMtrType1;
        p->m_nMtrType4 = p->m_nMtrType5 = p->m_nMtrType6 = 0;
    }
    if (nModel == 1 || nModel == 2) {
        p->m_fR3 = p->m_fR2;
        p->m_fR4 = p->m_fR5 = p->m_fR6 = 1.0f;
    }
    if (nModel == 3 || nModel == 5) {
        p->m_fR5 = p->m_fR6 = 0.0f;
        p->m_nWorkspaceOffset0 = 5;
        p->m_nWorkspaceOffset2 = -9;
    }
    if (nModel == 1) {
        p->m_nHighForce = 1;
    }
    if (nModel == 5) {
        p->m_nInkWellEncoderOffset1 = -33;
        p->m_nInkWellEncoderOffset4 = 44;
        p->m_n1394SerialNumber = 0x80A5C3E1UL;
    }
    return p;
}

void ExpectSamePersisted(const CKinetorDevice& a, const CKinetorDevice& b)
{
    EXPECT_STREQ(a.m_szName, b.m_szName);
    const ULONG aulA[] = {a.m_nModelType, a.m_nL1, a.m_nL2, a.m_nCardType, a.m_nTimeoutCircuit,
                          a.m_nChannelSelect, a.m_nTtm1, a.m_nTtm2, a.m_nTtm3, a.m_nTtm4, a.m_nTtm5,
                          a.m_nTtm6, a.m_nCPR1, a.m_nCPR2, a.m_nCPR3, a.m_nCPR4, a.m_nCPR5, a.m_nCPR6,
                          a.m_nMtrType1, a.m_nMtrType2, a.m_nMtrType3, a.m_nMtrType4, a.m_nMtrType5,
                          a.m_nMtrType6, a.m_nHighForce, a.m_nAmpDACLimit, a.m_nISADevice, a.m_nPCIDevice,
                          a.m_nEPPDevice, a.m_nVMEDevice, a.m_n1394SerialNumber, a.m_nExtra6DOFOption};
    const ULONG aulB[] = {b.m_nModelType, b.m_nL1, b.m_nL2, b.m_nCardType, b.m_nTimeoutCircuit,
                          b.m_nChannelSelect, b.m_nTtm1, b.m_nTtm2, b.m_nTtm3, b.m_nTtm4, b.m_nTtm5,
                          b.m_nTtm6, b.m_nCPR1, b.m_nCPR2, b.m_nCPR3, b.m_nCPR4, b.m_nCPR5, b.m_nCPR6,
                          b.m_nMtrType1, b.m_nMtrType2, b.m_nMtrType3, b.m_nMtrType4, b.m_nMtrType5,
                          b.m_nMtrType6, b.m_nHighForce, b.m_nAmpDACLimit, b.m_nISADevice, b.m_nPCIDevice,
                          b.m_nEPPDevice, b.m_nVMEDevice, b.m_n1394SerialNumber, b.m_nExtra6DOFOption};
    for (size_t i = 0; i < sizeof(aulA) / sizeof(aulA[0]); i++) {
        EXPECT_EQ(aulA[i], aulB[i]) << "unsigned field " << i;
    }
    const float afA[] = {a.m_fR1, a.m_fR2, a.m_fR3, a.m_fR4, a.m_fR5, a.m_fR6, a.m_fNominalMaxStiffness,
                         a.m_fNominalMaxDamping, a.m_fNominalMaxForce, a.m_fNominalMaxContinuousForce,
                         a.m_fResetAngle0, a.m_fResetAngle1, a.m_fResetAngle2, a.m_fResetAngle3,
                         a.m_fResetAngle4, a.m_fResetAngle5};
    const float afB[] = {b.m_fR1, b.m_fR2, b.m_fR3, b.m_fR4, b.m_fR5, b.m_fR6, b.m_fNominalMaxStiffness,
                         b.m_fNominalMaxDamping, b.m_fNominalMaxForce, b.m_fNominalMaxContinuousForce,
                         b.m_fResetAngle0, b.m_fResetAngle1, b.m_fResetAngle2, b.m_fResetAngle3,
                         b.m_fResetAngle4, b.m_fResetAngle5};
    for (size_t i = 0; i < sizeof(afA) / sizeof(afA[0]); i++) {
        EXPECT_EQ(afA[i], afB[i]) << "float field " << i;
    }
    const int anA[] = {a.m_nWorkspaceOffset0, a.m_nWorkspaceOffset1, a.m_nWorkspaceOffset2,
                       a.m_nInkWellEncoderOffset0, a.m_nInkWellEncoderOffset1, a.m_nInkWellEncoderOffset2,
                       a.m_nInkWellEncoderOffset3, a.m_nInkWellEncoderOffset4, a.m_nInkWellEncoderOffset5,
                       a.m_nTableTopOffset};
    const int anB[] = {b.m_nWorkspaceOffset0, b.m_nWorkspaceOffset1, b.m_nWorkspaceOffset2,
                       b.m_nInkWellEncoderOffset0, b.m_nInkWellEncoderOffset1, b.m_nInkWellEncoderOffset2,
                       b.m_nInkWellEncoderOffset3, b.m_nInkWellEncoderOffset4, b.m_nInkWellEncoderOffset5,
                       b.m_nTableTopOffset};
    for (size_t i = 0; i < sizeof(anA) / sizeof(anA[0]); i++) {
        EXPECT_EQ(anA[i], anB[i]) << "int field " << i;
    }
    EXPECT_EQ(memcmp(a.m_nMaxWorkspace, b.m_nMaxWorkspace, sizeof(a.m_nMaxWorkspace)), 0);
    EXPECT_EQ(memcmp(a.m_nMaxUsableWorkspace, b.m_nMaxUsableWorkspace, sizeof(a.m_nMaxUsableWorkspace)), 0);
    EXPECT_EQ(memcmp(a.m_nCubeWorkspace, b.m_nCubeWorkspace, sizeof(a.m_nCubeWorkspace)), 0);
}

TEST_F(KinetorDeviceTest, RecordRoundTripForEveryModelAndInterface)
{
    CKinetorMgr mgr;
    mgr.SetISAAddress(3, 0x320);
    mgr.SetEPPAddress(3, 0x3BC);
    mgr.SetVMEAddress(3, 0x7200);
    const ULONG anCards[] = {0, 2, 3, 4, 5, 6};
    for (ULONG nModel = 1; nModel <= 5; nModel++) {
        for (ULONG nCard : anCards) {
            SCOPED_TRACE(testing::Message() << "model " << nModel << " card " << nCard);
            globalExtra6DOFOption = static_cast<short>(nModel);
            CKinetorDevice* pOut = MakeRecord(nModel, nCard);
            if (nModel == 4) {
                pOut->m_nExtra6DOFOption = nModel;  // comes back as the global's value
            }
            pOut->m_nIndex = 7;
            ASSERT_TRUE(pOut->Write());
            globalExtra6DOFOption = 0;
            CKinetorDevice in;
            in.m_nIndex = 7;
            ASSERT_TRUE(in.Read());
            ExpectSamePersisted(*pOut, in);
            if (nModel == 4) {
                EXPECT_EQ(globalExtra6DOFOption, 4);
            }
            delete pOut;
        }
    }
    EXPECT_EQ(mgr.GetEPPAddress(3), 0x3BCu);
    EXPECT_EQ(mgr.GetISAAddress(3), 0x320u);
    EXPECT_EQ(mgr.GetVMEAddress(3), 0x7200u);
}

TEST_F(KinetorDeviceTest, NoLimitDacValueComesBackAsLow32Bits)
{
    CKinetorDevice out;
    out.m_nCardType = 3;
    ASSERT_EQ(out.m_nAmpDACLimit, ~0UL);
    ASSERT_TRUE(out.Write());
    EXPECT_NE(ReadConfigFile("Kinetor0.ini").find("\n-1\n"), std::string::npos);
    CKinetorDevice in;
    ASSERT_TRUE(in.Read());
    EXPECT_EQ(in.m_nAmpDACLimit, 4294967295UL);
}

TEST_F(KinetorDeviceTest, ShortLayoutsTakeTheirDefaults)
{
    {
        SCOPED_TRACE("Altura A block of four values, one-value address line, no high-force line");
        std::string text = std::string("Short\na\n8250, 8250\nEPP\n0x3bc\n1, 2\n0.1, 0.2\n100\n3000\n") + kWorkspace;
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        EXPECT_EQ(dev.m_nMtrType1, 20u);
        EXPECT_EQ(dev.m_nMtrType3, 20u);
        EXPECT_EQ(dev.m_fNominalMaxStiffness, 0.6f);
        EXPECT_EQ(dev.m_fNominalMaxDamping, 0.0f);
        EXPECT_EQ(dev.m_nCPR3, 3000u);
        EXPECT_EQ(dev.m_nCPR4, 0u);
        EXPECT_EQ(dev.m_nCPR6, 0u);
        EXPECT_EQ(dev.m_nAmpDACLimit, 0u);
        EXPECT_EQ(dev.m_nHighForce, 0u);
        EXPECT_EQ(dev.m_nEPPDevice, 1u);
        EXPECT_EQ(CKinetorMgr().GetEPPAddress(1), 0x3BCu);
        ExpectStandardWorkspace(dev);
    }
    {
        SCOPED_TRACE("Altura T block of six values");
        std::string text = "T6\nt\n1, 2\nISA\n0x300, 0\n1, 2\n0.1, 0.2\n100\n3000, 1000\n21\n";
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        EXPECT_EQ(dev.m_nMtrType1, 21u);
        EXPECT_EQ(dev.m_fNominalMaxStiffness, 0.6f);
        EXPECT_EQ(dev.m_nCPR5, 1000u);
    }
    {
        SCOPED_TRACE("file ending after the model block");
        std::string text = kAlturaA.substr(0, kAlturaA.find("-390"));
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        for (int i = 0; i < 6; i++) {
            EXPECT_EQ(dev.m_nMaxWorkspace[i], 0);
            EXPECT_EQ(dev.m_nMaxUsableWorkspace[i], 0);
            EXPECT_EQ(dev.m_nCubeWorkspace[i], 0);
        }
        EXPECT_EQ(dev.m_nTableTopOffset, 0);
        EXPECT_EQ(dev.m_nHighForce, 0u);
    }
    {
        SCOPED_TRACE("Bravis block of six values");
        std::string text = "B\np\n1, 2\nPCI\n0, 0\n1, 2\n0.1, 0.2, 0.3, 0.4\n50000\n15000\n";
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        EXPECT_EQ(dev.m_nMtrType2, 20u);
        EXPECT_EQ(dev.m_fNominalMaxStiffness, 0.6f);
        EXPECT_EQ(dev.m_fNominalMaxForce, 0.0f);
        EXPECT_EQ(dev.m_nCPR4, 0u);
    }
    {
        SCOPED_TRACE("Cirrel block of six values");
        std::string text = "C\ncirrel\n1, 2\n1394\n0x0, 0\n1, 2\n0.1, 0.2, 0.3, 0.4\n50000\n15000\n";
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        EXPECT_EQ(dev.m_nMtrType1, 8u);
        EXPECT_EQ(dev.m_nMtrType3, 8u);
        EXPECT_EQ(dev.m_fNominalMaxStiffness, 0.5f);
        EXPECT_EQ(dev.m_fNominalMaxDamping, 0.002f);
        EXPECT_EQ(dev.m_fNominalMaxForce, 3.3f);
        EXPECT_EQ(dev.m_fNominalMaxContinuousForce, 0.88f);
    }
    {
        SCOPED_TRACE("Cirrel block of eight values");
        std::string text = "C\ncirrel\n1, 2\n1394\n0x0, 0\n1, 2\n0.1, 0.2, 0.3, 0.4\n50000\n15000, 8192\n9\n";
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        EXPECT_EQ(dev.m_nMtrType1, 9u);
        EXPECT_EQ(dev.m_fNominalMaxStiffness, 0.6f);
        EXPECT_EQ(dev.m_fNominalMaxDamping, 0.002f);
        EXPECT_EQ(dev.m_fNominalMaxForce, 8.5f);
        EXPECT_EQ(dev.m_fNominalMaxContinuousForce, 1.4f);
    }
    {
        SCOPED_TRACE("Cirrel trailer of six values");
        std::string text = kCirrel.substr(0, kCirrel.rfind("-2147483647"));
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        EXPECT_EQ(dev.m_n1394SerialNumber, 0u);
        EXPECT_EQ(dev.m_nInkWellEncoderOffset2, 300);
    }
    {
        SCOPED_TRACE("Altura 6 DOF without its last line");
        globalExtra6DOFOption = 1;
        std::string text = k6DOF.substr(0, k6DOF.size() - 2);
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, text));
        EXPECT_EQ(globalExtra6DOFOption, 77);
        EXPECT_EQ(dev.m_nExtra6DOFOption, 77u);
    }
}

TEST_F(KinetorDeviceTest, KeywordsAreReadWithoutRegardToCase)
{
    const char* const aszCards[] = {"PCI", "pci", "Pci"};
    for (const char* pszCard : aszCards) {
        CKinetorDevice dev;
        ASSERT_TRUE(ReadText(dev, Replace(k6DOF, "PCI", pszCard))) << pszCard;
        EXPECT_EQ(dev.m_nCardType, 3u);
    }
    CKinetorDevice dev;
    ASSERT_TRUE(ReadText(dev, Replace(Replace(k6DOF, "p6", "P6"), "PCI", "dblEpp")));
    EXPECT_EQ(dev.m_nModelType, 4u);
    EXPECT_EQ(dev.m_nCardType, 5u);
    CKinetorDevice cirrel;
    ASSERT_TRUE(ReadText(cirrel, Replace(kCirrel, "cirrel", "CIRREL")));
    EXPECT_EQ(cirrel.m_nModelType, 5u);
}

// Bytes of a record, to prove that a failed read changed nothing.
std::vector<unsigned char> Snapshot(const CKinetorDevice& dev)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&dev);
    return std::vector<unsigned char>(p, p + sizeof(dev));
}

struct BadFile {
    const char* pszWhat;
    std::string text;
};

TEST_F(KinetorDeviceTest, MalformedFilesAreRejectedAndLeaveTheRecordAlone)
{
    std::string strBinary;
    for (int i = 0; i < 600; i++) {
        strBinary += static_cast<char>((i * 37 + 11) % 256);
    }
    strBinary += '\n';
    const std::vector<BadFile> aBad = {
        {"empty file", ""},
        {"name only", "Name\n"},
        {"unknown model keyword", Replace(kAlturaA, "\na\n", "\nq\n")},
        {"model keyword of eight characters", Replace(kAlturaA, "\na\n", "\ncirrelxx\n")},
        {"model token of 100 characters", Replace(kAlturaA, "\na\n", "\n" + std::string(100, 'a') + "\n")},
        {"unknown interface keyword", Replace(kAlturaA, "EPP", "USB")},
        {"interface keyword of nine characters", Replace(kAlturaA, "EPP", "DBLEPPXXX")},
        {"interface keyword of the unused type", Replace(kAlturaA, "EPP\n", "\n")},
        {"link lengths without comma", Replace(kAlturaA, "8250, 8250", "8250 8250")},
        {"link length not a number", Replace(kAlturaA, "8250, 8250", "8250, x")},
        {"address not a number", Replace(kAlturaA, "0x278, 1", "zz, 1")},
        {"address beyond 32 bits", Replace(kAlturaA, "0x278, 1", "0x1FFFFFFFF, 1")},
        {"negative address", Replace(kAlturaA, "0x278, 1", "-0x278, 1")},
        {"timeout line with one value", Replace(kAlturaA, "1, 2\n0.07", "1\n0.07")},
        {"model block of eight values", Replace(kAlturaA, "0.600000, 0.002000", "0.600000\n0.002000")},
        {"partial workspace block", Replace(kAlturaA, "-140, 140, -20, 440, -78, 78", "-140")},
        {"Cirrel trailer of three values", Replace(kCirrel, "100, -200, 300, -400, 500, -600\n-2147483647\n",
                                                   "100, -200, 300\n")},
        {"non-numeric high-force line", kAlturaA.substr(0, kAlturaA.size() - 2) + "x\n"},
        {"high-force value wider than its byte", kAlturaA.substr(0, kAlturaA.size() - 2) + "256\n"},
        {"handle type out of range", k6DOF.substr(0, k6DOF.size() - 2) + "70000\n"},
        {"negative handle type", k6DOF.substr(0, k6DOF.size() - 2) + "-4\n"},
        {"link length beyond 32 bits", Replace(kAlturaA, "8250, 8250", "99999999999, 8250")},
        {"workspace bound beyond int", Replace(kAlturaA, "-390, 390", "-390, 3000000000")},
        {"ratio out of float range", Replace(kAlturaA, "0.076912", "1e99")},
        {"ratio not a number", Replace(kAlturaA, "0.076912", "nan")},
        {"number of 100 digits", Replace(kAlturaA, "0.076912", "0." + std::string(100, '1'))},
        {"NUL byte in the name", Replace(kAlturaA, "Arm One", std::string("Arm\0One", 7))},
        {"NUL byte in the block", Replace(kAlturaA, "114293", std::string("114\0293", 7))},
        {"name line of 10000 characters", std::string(10000, 'n') + "\n" + kAlturaA.substr(8)},
        {"name line of 128 characters", std::string(128, 'n') + "\n" + kAlturaA.substr(8)},
        {"binary content", strBinary},
        {"oversized file", kAlturaA + std::string(70000, ' ') + "\n"},
    };
    CKinetorMgr mgr;
    for (const BadFile& bad : aBad) {
        SCOPED_TRACE(bad.pszWhat);
        globalExtra6DOFOption = 3;
        mgr.SetEPPAddress(2, 0x3BC);
        CKinetorDevice dev;
        snprintf(dev.m_szName, sizeof(dev.m_szName), "Keep");
        dev.m_nL1 = 1234;
        dev.m_nIndex = 0;
        std::vector<unsigned char> before = Snapshot(dev);
        EXPECT_FALSE(ReadText(dev, bad.text));
        EXPECT_TRUE(Snapshot(dev) == before);
        EXPECT_EQ(globalExtra6DOFOption, 3);
        EXPECT_EQ(mgr.GetEPPAddress(2), 0x3BCu);
    }
}

// End of file is a normal end for the last line: without its line feed, or after blank
// lines and white space, every model reads as the same record as its well-formed file
// (written back, the record gives the well-formed text).
TEST_F(KinetorDeviceTest, FileEndsReadAsTheWellFormedFile)
{
    for (const std::string& text : {kAlturaA, kAlturaT, kBravis, kCirrel, k6DOF}) {
        const std::string strBody = text.substr(0, text.size() - 1);
        for (const char* pszEnd : {"", "  ", "\n\n\n", "\n \t\n  ", "\n\n   \n"}) {
            SCOPED_TRACE(strBody.substr(0, strBody.find('\n')) + ", ending \"" + pszEnd + "\"");
            globalExtra6DOFOption = 3;
            CKinetorDevice dev;
            ASSERT_TRUE(ReadText(dev, strBody + pszEnd));
            dev.m_nIndex = 1;
            ASSERT_TRUE(dev.Write());
            EXPECT_EQ(ReadConfigFile("Kinetor1.ini"), text);
        }
    }
}

// A write that fails part-way (here at a file-size limit) reports failure and leaves the
// stored file byte for byte, with nothing beside it; a write that succeeds replaces the
// file whole and keeps its permissions.
TEST_F(KinetorDeviceTest, FailedWritesLeaveTheStoredFileWhole)
{
    CKinetorDevice dev;
    ASSERT_TRUE(ReadText(dev, kAlturaA));
    dev.m_nIndex = 3;
    CKinetorMgr mgr;
    const std::string strLeft(100, 'L');
    char aszNames[2][KINETOR_NAME_SIZE] = {};
    snprintf(aszNames[0], KINETOR_NAME_SIZE, "%s", strLeft.c_str());
    snprintf(aszNames[1], KINETOR_NAME_SIZE, "%s", std::string(100, 'R').c_str());
    struct Writer {
        const char* pszFile;
        std::function<BOOLEAN()> write;
        std::string strNew;
    };
    const std::vector<Writer> aWriters = {
        {"Kinetor3.ini", [&] { return dev.Write(); }, kAlturaA},
        {"DualKinetor0.ini", [&] { return mgr.SetDualConfiguration(aszNames, TRUE); }, strLeft + "\n"},
    };
    // Longer than any new text, so a file rewritten in place would show its old tail.
    const std::string strOld = "stored before\n" + std::string(1000, 'z') + "\n";
    for (const Writer& w : aWriters) {
        SCOPED_TRACE(w.pszFile);
        WriteConfigFile(w.pszFile, strOld);
        ASSERT_EQ(chmod((m_strConfigDir + "/" + w.pszFile).c_str(), 0640), 0);
        const std::vector<std::string> before = SortedDirectoryEntries(m_strConfigDir);
        BOOLEAN bWritten;
        {
            CScopedFileSizeLimit limit(16);
            ASSERT_TRUE(limit.Active());
            bWritten = w.write();
        }
        EXPECT_FALSE(bWritten);
        EXPECT_EQ(ReadConfigFile(w.pszFile), strOld);
        EXPECT_EQ(SortedDirectoryEntries(m_strConfigDir), before);

        ASSERT_TRUE(w.write());
        EXPECT_EQ(ReadConfigFile(w.pszFile), w.strNew);
        struct stat st;
        ASSERT_EQ(stat((m_strConfigDir + "/" + w.pszFile).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
}

TEST_F(KinetorDeviceTest, NameLengthLimits)
{
    std::string strName(127, 'x');
    CKinetorDevice dev;
    ASSERT_TRUE(ReadText(dev, strName + kAlturaA.substr(7)));
    EXPECT_EQ(std::string(dev.m_szName), strName);
    // The writer stores the 127 characters the record holds and they read back.
    dev.m_nIndex = 2;
    ASSERT_TRUE(dev.Write());
    CKinetorDevice again;
    again.m_nIndex = 2;
    ASSERT_TRUE(again.Read());
    EXPECT_EQ(std::string(again.m_szName), strName);
    // An empty name is a name.
    CKinetorDevice empty;
    ASSERT_TRUE(ReadText(empty, kAlturaA.substr(7)));
    EXPECT_STREQ(empty.m_szName, "");
}

TEST_F(KinetorDeviceTest, RecordsThatCannotBeReadBackAreNotWrittenOverAGoodFile)
{
    WriteConfigFile("Kinetor0.ini", kAlturaA);
    CKinetorDevice unused;
    unused.m_nCardType = 1;
    // The unused interface type has no keyword: written, it can never be read back.
    unused.m_nIndex = 1;
    EXPECT_TRUE(unused.Write());
    CKinetorDevice back;
    back.m_nIndex = 1;
    EXPECT_FALSE(back.Read());

    CKinetorDevice badModel;
    badModel.m_nModelType = 9;
    EXPECT_FALSE(badModel.Write());
    CKinetorDevice newline;
    snprintf(newline.m_szName, sizeof(newline.m_szName), "two\nlines");
    EXPECT_FALSE(newline.Write());
    EXPECT_EQ(ReadConfigFile("Kinetor0.ini"), kAlturaA);

    // A negative handle type is refused by the reader, so no 6-DOF file is written with one;
    // the other models do not store the handle type and are written as usual.
    globalExtra6DOFOption = -1;
    CKinetorDevice sixDof;
    sixDof.m_nModelType = 4;
    EXPECT_FALSE(sixDof.Write());
    EXPECT_EQ(ReadConfigFile("Kinetor0.ini"), kAlturaA);
    CKinetorDevice bravis;
    bravis.m_nModelType = 3;
    bravis.m_nIndex = 2;
    ASSERT_TRUE(bravis.Write());
    CKinetorDevice bravisBack;
    bravisBack.m_nIndex = 2;
    EXPECT_TRUE(bravisBack.Read());
    // Every handle type the short holds from 0 up comes back as written.
    const short anOptions[] = {0, 3, 77, 32767};
    for (short nOption : anOptions) {
        globalExtra6DOFOption = nOption;
        sixDof.m_nIndex = 3;
        ASSERT_TRUE(sixDof.Write()) << nOption;
        globalExtra6DOFOption = 1;
        CKinetorDevice sixBack;
        sixBack.m_nIndex = 3;
        ASSERT_TRUE(sixBack.Read()) << nOption;
        EXPECT_EQ(globalExtra6DOFOption, nOption);
        EXPECT_EQ(sixBack.m_nExtra6DOFOption, static_cast<ULONG>(nOption));
    }
}

TEST_F(KinetorDeviceTest, CurrentDirectoryIsSearchedFirstAndNeverWritten)
{
    WriteConfigFile("Kinetor0.ini", kAlturaA);
    WriteWorkFile("Kinetor0.ini", Replace(kAlturaA, "Arm One", "Local"));
    CKinetorDevice dev;
    ASSERT_TRUE(dev.Read());
    EXPECT_STREQ(dev.m_szName, "Local");

    snprintf(dev.m_szName, sizeof(dev.m_szName), "Rewritten");
    ASSERT_TRUE(dev.Write());
    EXPECT_EQ(ReadConfigFile("Kinetor0.ini").substr(0, 10), "Rewritten\n");

    // Deleting removes the file the writer uses; the current directory's copy stays.
    dev.DeleteConfigurationFile("Kinetor0.ini");
    EXPECT_FALSE(ConfigFileExists("Kinetor0.ini"));
    EXPECT_EQ(access((m_strWorkDir + "/Kinetor0.ini").c_str(), F_OK), 0);
    CKinetorDevice again;
    ASSERT_TRUE(again.Read());
    EXPECT_STREQ(again.m_szName, "Local");
}

TEST_F(KinetorDeviceTest, PathsBeyond511CharactersFailCleanly)
{
    CKinetorDevice dev;
    std::string strDir(505, 'd');
    EXPECT_EQ(dev.OpenConfigurationFile(strDir.c_str(), "Kinetor0.ini", TRUE), nullptr);
    EXPECT_EQ(dev.OpenConfigurationFile(m_strConfigDir.c_str(), std::string(600, 'k').c_str(), FALSE), nullptr);
    EXPECT_EQ(dev.OpenConfigurationFile(nullptr, "Kinetor0.ini", TRUE), nullptr);

    char szPath[KINETOR_MAX_PATH + 1];
    std::string strFits(KINETOR_MAX_PATH - 2, 'f');
    EXPECT_TRUE(FormConfigPath(szPath, sizeof(szPath), "d", strFits.c_str()));
    EXPECT_EQ(strlen(szPath), static_cast<size_t>(KINETOR_MAX_PATH));
    std::string strTooLong(KINETOR_MAX_PATH - 1, 'f');
    EXPECT_FALSE(FormConfigPath(szPath, sizeof(szPath), "d", strTooLong.c_str()));
    EXPECT_STREQ(szPath, "");
}

TEST_F(KinetorDeviceTest, NonRegularFileIsNotAConfiguration)
{
    ASSERT_EQ(mkfifo((m_strWorkDir + "/Kinetor0.ini").c_str(), 0600), 0);
    WriteConfigFile("Kinetor0.ini", kAlturaA);
    CKinetorDevice dev;
    ASSERT_TRUE(dev.Read());  // the FIFO is passed over instead of blocking the reader
    EXPECT_STREQ(dev.m_szName, "Arm One");
}

}  // namespace
