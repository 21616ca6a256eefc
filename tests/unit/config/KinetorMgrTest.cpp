// The configuration manager: enumeration, numbering, dual configuration, address tables,
// serial numbers and parity.
#include <gtest/gtest.h>

#include <string.h>
#include <unistd.h>

#include <string>

#include "ConfigTestEnv.h"
#include "config/KinetorMgr.h"

namespace {

class KinetorMgrTest : public ConfigTestEnv {
protected:
    void TearDown() override
    {
        for (CKinetorDevice*& p : m_apDevices) {
            delete p;
            p = nullptr;
        }
        ConfigTestEnv::TearDown();
    }

    CKinetorDevice* m_apDevices[KINETOR_MAX_CONFIGS] = {};
    CKinetorMgr m_mgr;
};

TEST_F(KinetorMgrTest, EnumerationIsDenseWhileFileNumbersHaveGaps)
{
    WriteConfigFile("Kinetor0.ini", "First\na\n");
    WriteConfigFile("Kinetor3.ini", "");  // empty files are passed over
    WriteConfigFile("Kinetor5.ini", "Fifth\nt\n");
    WriteWorkFile("Kinetor7.ini", "\n");  // a bare line feed is an empty name, still counted
    WriteConfigFile("Kinetor19.ini", std::string(200, 'z') + "\n");
    WriteConfigFile("Kinetor20.ini", "Beyond\n");

    ASSERT_EQ(m_mgr.EnumerateKinetors(m_apDevices), 4);
    EXPECT_EQ(m_apDevices[0]->m_nIndex, 0);
    EXPECT_STREQ(m_apDevices[0]->m_szName, "First");
    EXPECT_EQ(m_apDevices[1]->m_nIndex, 5);
    EXPECT_STREQ(m_apDevices[1]->m_szName, "Fifth");
    EXPECT_EQ(m_apDevices[2]->m_nIndex, 7);
    EXPECT_STREQ(m_apDevices[2]->m_szName, "");
    EXPECT_EQ(m_apDevices[3]->m_nIndex, 19);
    EXPECT_EQ(std::string(m_apDevices[3]->m_szName), std::string(127, 'z'));
    EXPECT_EQ(m_apDevices[4], nullptr);
    // Only name and number are filled; the rest keeps the defaults until Read.
    EXPECT_EQ(m_apDevices[1]->m_nModelType, 1u);
}

TEST_F(KinetorMgrTest, UnitLookUpComparesWholeNamesWithCase)
{
    WriteConfigFile("Kinetor2.ini", "Left Arm\na\n");
    WriteConfigFile("Kinetor4.ini", "Right Arm\na\n");
    ULONG nUnit = 99;
    EXPECT_TRUE(m_mgr.GetKinetorUnit("Right Arm", nUnit));
    EXPECT_EQ(nUnit, 4u);
    nUnit = 99;
    EXPECT_FALSE(m_mgr.GetKinetorUnit("right arm", nUnit));
    EXPECT_FALSE(m_mgr.GetKinetorUnit("Right", nUnit));
    EXPECT_FALSE(m_mgr.GetKinetorUnit(nullptr, nUnit));
    EXPECT_EQ(nUnit, 99u);
}

TEST_F(KinetorMgrTest, AddTakesTheSmallestFreeNumber)
{
    int nDevices = 0;
    for (int i = 0; i < 3; i++) {
        ASSERT_NE(m_mgr.AddKinetor(m_apDevices, nDevices, "x"), nullptr);
    }
    EXPECT_EQ(nDevices, 3);
    m_apDevices[2]->m_nIndex = 3;  // records 0, 1 and 3
    CKinetorDevice* pNew = m_mgr.AddKinetor(m_apDevices, nDevices, "New Arm");
    ASSERT_NE(pNew, nullptr);
    EXPECT_EQ(pNew->m_nIndex, 2);
    EXPECT_STREQ(pNew->m_szName, "New Arm");
    EXPECT_EQ(m_apDevices[3], pNew);
    EXPECT_EQ(nDevices, 4);
    EXPECT_FALSE(ConfigFileExists("Kinetor2.ini"));  // nothing is written until the user applies

    while (nDevices < KINETOR_MAX_CONFIGS) {
        ASSERT_NE(m_mgr.AddKinetor(m_apDevices, nDevices, "more"), nullptr);
    }
    for (int n = 0; n < KINETOR_MAX_CONFIGS; n++) {
        int nFound = 0;
        for (CKinetorDevice* p : m_apDevices) {
            nFound += (p->m_nIndex == n) ? 1 : 0;
        }
        EXPECT_EQ(nFound, 1) << "file number " << n;
    }
    EXPECT_EQ(m_mgr.AddKinetor(m_apDevices, nDevices, "one too many"), nullptr);
    EXPECT_EQ(nDevices, KINETOR_MAX_CONFIGS);

    // A name longer than the record's field is cut, not overrun.
    CKinetorDevice* apOther[KINETOR_MAX_CONFIGS] = {};
    int nOther = 0;
    CKinetorDevice* pLong = m_mgr.AddKinetor(apOther, nOther, std::string(300, 'L').c_str());
    ASSERT_NE(pLong, nullptr);
    EXPECT_EQ(strlen(pLong->m_szName), 127u);
    delete pLong;
}

TEST_F(KinetorMgrTest, DeleteRemovesOnlyThatFileAndFreesItsNumber)
{
    int nDevices = 0;
    for (int i = 0; i < 4; i++) {
        CKinetorDevice* p = m_mgr.AddKinetor(m_apDevices, nDevices, ("Arm " + std::to_string(i)).c_str());
        ASSERT_NE(p, nullptr);
        p->m_nCardType = 3;
        ASSERT_TRUE(p->Write());
    }
    WriteWorkFile("Kinetor2.ini", "Local copy\n");
    CKinetorDevice* pVictim = m_apDevices[2];
    ASSERT_EQ(pVictim->m_nIndex, 2);
    EXPECT_TRUE(m_mgr.DeleteKinetor(m_apDevices, nDevices, pVictim));
    EXPECT_EQ(nDevices, 3);
    EXPECT_EQ(m_apDevices[2], nullptr);
    EXPECT_FALSE(ConfigFileExists("Kinetor2.ini"));
    EXPECT_TRUE(ConfigFileExists("Kinetor1.ini"));
    EXPECT_TRUE(ConfigFileExists("Kinetor3.ini"));
    EXPECT_EQ(access((m_strWorkDir + "/Kinetor2.ini").c_str(), F_OK), 0);

    CKinetorDevice* pNext = m_mgr.AddKinetor(m_apDevices, nDevices, "Again");
    ASSERT_NE(pNext, nullptr);
    EXPECT_EQ(pNext->m_nIndex, 2);
    EXPECT_EQ(m_apDevices[2], pNext);
}

TEST_F(KinetorMgrTest, DualConfigurationNeedsBothNames)
{
    char aszNames[2][KINETOR_NAME_SIZE];
    WriteConfigFile("DualKinetor0.ini", "Left\n");
    EXPECT_FALSE(m_mgr.GetDualConfiguration(aszNames));
    EXPECT_STREQ(aszNames[0], "Left");
    EXPECT_STREQ(aszNames[1], "");

    snprintf(aszNames[0], KINETOR_NAME_SIZE, "Left Arm");
    snprintf(aszNames[1], KINETOR_NAME_SIZE, "Right Arm");
    EXPECT_TRUE(m_mgr.SetDualConfiguration(aszNames, TRUE));
    EXPECT_EQ(ReadConfigFile("DualKinetor0.ini"), "Left Arm\n");
    EXPECT_EQ(ReadConfigFile("DualKinetor1.ini"), "Right Arm\n");
    char aszRead[2][KINETOR_NAME_SIZE];
    EXPECT_TRUE(m_mgr.GetDualConfiguration(aszRead));
    EXPECT_STREQ(aszRead[0], "Left Arm");
    EXPECT_STREQ(aszRead[1], "Right Arm");

    // One empty name clears the pair: both files go.
    aszNames[1][0] = '\0';
    EXPECT_TRUE(m_mgr.SetDualConfiguration(aszNames, TRUE));
    EXPECT_STREQ(aszNames[0], "");
    EXPECT_FALSE(ConfigFileExists("DualKinetor0.ini"));
    EXPECT_FALSE(ConfigFileExists("DualKinetor1.ini"));

    snprintf(aszNames[0], KINETOR_NAME_SIZE, "A");
    snprintf(aszNames[1], KINETOR_NAME_SIZE, "B");
    EXPECT_TRUE(m_mgr.SetDualConfiguration(aszNames, TRUE));
    EXPECT_TRUE(m_mgr.SetDualConfiguration(aszNames, FALSE));
    EXPECT_FALSE(ConfigFileExists("DualKinetor0.ini"));
    EXPECT_FALSE(ConfigFileExists("DualKinetor1.ini"));
}

TEST_F(KinetorMgrTest, AddressTablesKeepUnitsOneToFour)
{
    for (ULONG nUnit = 1; nUnit <= 4; nUnit++) {
        m_mgr.SetISAAddress(nUnit, 0);
        m_mgr.SetEPPAddress(nUnit, 0);
        m_mgr.SetVMEAddress(nUnit, 0);
        m_mgr.SetPortMode(nUnit, 2);
    }
    CKinetorMgr fresh;
    for (ULONG nUnit = 1; nUnit <= 4; nUnit++) {
        EXPECT_EQ(fresh.GetISAAddress(nUnit), 0x300u);
        EXPECT_EQ(fresh.GetEPPAddress(nUnit), 0x378u);
        EXPECT_EQ(fresh.GetVMEAddress(nUnit), 0x7000u);
        EXPECT_EQ(fresh.GetPortMode(nUnit), 0);
    }
    fresh.SetEPPAddress(2, 0x278);
    CKinetorMgr another;
    EXPECT_EQ(another.GetEPPAddress(2), 0x278u);  // set entries survive construction

    EXPECT_EQ(m_mgr.GetISAAddress(0), 0u);
    EXPECT_EQ(m_mgr.GetEPPAddress(5), 0u);
    EXPECT_EQ(m_mgr.GetPortMode(0), 0);
    m_mgr.SetVMEAddress(5, 0x1234);
    m_mgr.SetVMEAddress(0, 0x1234);
    m_mgr.SetPortMode(5, 1);
    for (ULONG nUnit = 1; nUnit <= 4; nUnit++) {
        EXPECT_NE(m_mgr.GetVMEAddress(nUnit), 0x1234u);
    }
    EXPECT_EQ(m_mgr.GetVMEAddress(5), 0u);
    EXPECT_TRUE(m_mgr.ReadAddresses());
    EXPECT_TRUE(m_mgr.WriteAddresses());
}

// Parity computed independently of the manager.
BYTE PopcountParity(ULONG v, bool bEven)
{
    BYTE p = static_cast<BYTE>(__builtin_popcountl(v & 0xFFFFFFFFUL) & 1);
    return bEven ? p : static_cast<BYTE>(1 - p);
}

TEST_F(KinetorMgrTest, ParityFoldsTheLow32Bits)
{
    EXPECT_EQ(CKinetorMgr::GetParity(0, TRUE), 0);
    EXPECT_EQ(CKinetorMgr::GetParity(0, FALSE), 1);
    ULONG v = 0x9E3779B97F4A7C15UL;
    for (int i = 0; i < 2000; i++) {
        v = v * 6364136223846793005UL + 1442695040888963407UL;
        EXPECT_EQ(CKinetorMgr::GetParity(v, TRUE), PopcountParity(v, true)) << std::hex << v;
        EXPECT_EQ(CKinetorMgr::GetParity(v, FALSE), PopcountParity(v, false)) << std::hex << v;
        EXPECT_TRUE(CKinetorMgr::CheckParity(v, PopcountParity(v, false), FALSE));
        EXPECT_FALSE(CKinetorMgr::CheckParity(v, PopcountParity(v, true), FALSE));
    }
    // Bits above 31 carry no data and do not count.
    EXPECT_EQ(CKinetorMgr::GetParity(0x100000000UL, TRUE), 0);
}

// The packed V2 value of a text, built field by field.
ULONG ExpectedPacked(unsigned y, unsigned m, unsigned d, unsigned c, unsigned n)
{
    ULONG v = (1UL << 31) | (static_cast<ULONG>(y) << 23) | (static_cast<ULONG>(m) << 19) |
              (static_cast<ULONG>(d) << 14) | (static_cast<ULONG>(c) << 11) | (static_cast<ULONG>(n) << 1);
    return v | PopcountParity(v, false);
}

void ExpectPackRoundTrip(unsigned y, unsigned m, unsigned d, unsigned c, unsigned n)
{
    char szText[16];
    snprintf(szText, sizeof(szText), "%u%02u%02u%u%05u", y, m, d, c, n);
    SERIAL_NUMBER sn;
    sn.v = 0;
    ASSERT_TRUE(CKinetorMgr::PackSerialNumber(&sn, szText)) << szText;
    ASSERT_EQ(sn.v, ExpectedPacked(y, m, d, c, n)) << szText;
    ASSERT_EQ(__builtin_popcountl(sn.v) % 2, 1) << szText;
    // The bit-field view names the same bits.
    ASSERT_EQ(sn.v2.bfYear, y);
    ASSERT_EQ(sn.v2.bfDailyNumber, n);
    ASSERT_EQ(sn.v2.bfScheme, 1u);
    char szBack[12];
    ASSERT_TRUE(CKinetorMgr::UnpackSerialNumber(&sn, szBack));
    ASSERT_STREQ(szBack, szText);
}

TEST_F(KinetorMgrTest, SerialNumbersPackAndUnpackOverTheWholeV2Range)
{
    for (unsigned y = 0; y <= 7; y++) {
        for (unsigned m = 1; m <= 12; m++) {
            for (unsigned d = 1; d <= 31; d++) {
                ExpectPackRoundTrip(y, m, d, (y + m + d) % 8, (y * 131 + m * 17 + d * 29) % 1024);
            }
        }
    }
    for (unsigned c = 0; c <= 7; c++) {
        for (unsigned n = 0; n <= 1023; n++) {
            ExpectPackRoundTrip(c, (n % 12) + 1, (n % 31) + 1, c, n);
        }
    }
}

TEST_F(KinetorMgrTest, PackingKeepsOtherBitsAndRejectsBadText)
{
    SERIAL_NUMBER sn;
    sn.v = 0xABCD000000000000UL | 0x7C000000UL;  // high half and reserved bits set
    ASSERT_TRUE(CKinetorMgr::PackSerialNumber(&sn, "71231700001"));
    EXPECT_EQ(sn.v >> 32, 0xABCD0000UL);
    EXPECT_EQ((sn.v >> 26) & 31, 0u);
    EXPECT_EQ(sn.v & 0xFFFFFFFFUL, ExpectedPacked(7, 12, 31, 7, 1) & 0xFFFFFFFFUL);

    // The parity is taken with the old bit 0 included.
    SERIAL_NUMBER odd;
    odd.v = 1;
    ASSERT_TRUE(CKinetorMgr::PackSerialNumber(&odd, "10101000000"));
    ULONG vFields = (1UL << 31) | (1UL << 23) | (1UL << 19) | (1UL << 14) | (0UL << 11);
    EXPECT_EQ(odd.v, vFields | PopcountParity(vFields | 1, false));

    const char* const aszBad[] = {"1234567890", "123456789012", "abcdefghijk", ""};
    for (const char* pszBad : aszBad) {
        SERIAL_NUMBER keep;
        keep.v = 0x12345678UL;
        EXPECT_FALSE(CKinetorMgr::PackSerialNumber(&keep, pszBad)) << pszBad;
        EXPECT_EQ(keep.v, 0x12345678UL);
    }
    EXPECT_FALSE(CKinetorMgr::PackSerialNumber(&sn, nullptr));
    EXPECT_FALSE(CKinetorMgr::PackSerialNumber(nullptr, "71231700001"));
}

TEST_F(KinetorMgrTest, PlainSerialNumbersShowAsElevenDigits)
{
    char szText[12];
    SERIAL_NUMBER sn;
    sn.v = 12345;
    ASSERT_TRUE(CKinetorMgr::UnpackSerialNumber(&sn, szText));
    EXPECT_STREQ(szText, "00000012345");
    sn.v = 0x7FFFFFFFUL;
    ASSERT_TRUE(CKinetorMgr::UnpackSerialNumber(&sn, szText));
    EXPECT_STREQ(szText, "02147483647");
    EXPECT_FALSE(CKinetorMgr::UnpackSerialNumber(&sn, nullptr));
}

TEST_F(KinetorMgrTest, FireWireLookUpsAnswerFalseWithoutAttachedBoards)
{
    CKinetorDevice dev;
    dev.m_nModelType = 5;
    dev.m_nCardType = 6;
    dev.m_n1394SerialNumber = 0x80A5C3E1UL;
    dev.m_nIndex = 0;
    ASSERT_TRUE(dev.Write());

    ULONG nNumber = 42;
    EXPECT_FALSE(m_mgr.Get1394SerialNumber(0, nNumber, nullptr));
    EXPECT_EQ(nNumber, 42u);
    char szText[12] = "unchanged!";
    EXPECT_FALSE(m_mgr.Get1394SerialNumber(0, szText, nullptr));
    EXPECT_STREQ(szText, "unchanged!");
    ULONG nUnit = 7;
    EXPECT_FALSE(m_mgr.Find1394UnitInUse(nUnit));
    EXPECT_EQ(nUnit, 7u);
    SERIAL_NUMBER_TABLE table;
    table.anSerialNumbers[0] = 5;
    EXPECT_FALSE(m_mgr.Get1394SerialNumberTable(&table));
    EXPECT_EQ(table.anSerialNumbers[0], 5u);
    ULONG nAllOnes = ~0UL;
    EXPECT_FALSE(m_mgr.Get1394SerialNumberUnit(nAllOnes, nUnit));
    nNumber = 0x80A5C3E1UL;
    EXPECT_FALSE(m_mgr.Get1394SerialNumberUnit(nNumber, nUnit));
    EXPECT_FALSE(m_mgr.Invalidate1394SerialNumberTable(0));
    EXPECT_FALSE(m_mgr.Set1394SerialNumber(0, 1UL, &dev, nullptr));
    EXPECT_FALSE(m_mgr.Set1394SerialNumber(0, "71231700001", &dev, nullptr));
}

}  // namespace
