// Paths of the per-device state files.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "ConfigTestEnv.h"
#include "config/KinetorPaths.h"

namespace {

using StateFilePathTest = ConfigTestEnv;

TEST_F(StateFilePathTest, FormsThePathInsideTheConfiguredDirectory)
{
    char szPath[KINETOR_MAX_PATH + 1];
    ASSERT_TRUE(FormStateFilePath(szPath, sizeof(szPath), "KinetorCalibration(%s)", "Arm One"));
    EXPECT_EQ(std::string(szPath), m_strConfigDir + "/KinetorCalibration(Arm One)");

    setenv("KINETOR_CONFIG_FILES", (m_strConfigDir + "/").c_str(), 1);
    ASSERT_TRUE(FormStateFilePath(szPath, sizeof(szPath), "Pinch Calibration(%s)", "P"));
    EXPECT_EQ(std::string(szPath), m_strConfigDir + "/Pinch Calibration(P)");

    // Without the variable, or with it empty, the fixed directory is named (nothing is opened).
    unsetenv("KINETOR_CONFIG_FILES");
    ASSERT_TRUE(FormStateFilePath(szPath, sizeof(szPath), "KinetorTemperature(%s)", "T"));
    EXPECT_STREQ(szPath, "/etc/Tandrel/KinetorDeviceDrivers/KinetorTemperature(T)");
    setenv("KINETOR_CONFIG_FILES", "", 1);
    ASSERT_TRUE(FormStateFilePath(szPath, sizeof(szPath), "KinetorTemperature(%s)", "T"));
    EXPECT_STREQ(szPath, "/etc/Tandrel/KinetorDeviceDrivers/KinetorTemperature(T)");
    EXPECT_STREQ(g_szKinetorConfigDir, KINETOR_CONFIG_DIR);
}

TEST_F(StateFilePathTest, RefusesNamesThatLeaveTheDirectoryAndPathsThatDoNotFit)
{
    char szPath[KINETOR_MAX_PATH + 1];
    const char* const aszEscapes[] = {"../../etc/passwd", "a/b", "/"};
    for (const char* pszName : aszEscapes) {
        snprintf(szPath, sizeof(szPath), "stale");
        EXPECT_FALSE(FormStateFilePath(szPath, sizeof(szPath), "KinetorCalibration(%s)", pszName)) << pszName;
        EXPECT_STREQ(szPath, "");
    }
    snprintf(szPath, sizeof(szPath), "stale");
    EXPECT_FALSE(FormStateFilePath(szPath, sizeof(szPath), "%s", ".."));
    EXPECT_STREQ(szPath, "");

    std::string strLong(600, 'n');
    EXPECT_FALSE(FormStateFilePath(szPath, sizeof(szPath), "KinetorCalibration(%s)", strLong.c_str()));
    EXPECT_STREQ(szPath, "");

    // Exactly fitting and one byte short.
    std::string strExpected = m_strConfigDir + "/KinetorCalibration(x)";
    std::string strBuffer(strExpected.size() + 1, '?');
    EXPECT_TRUE(FormStateFilePath(&strBuffer[0], strBuffer.size(), "KinetorCalibration(%s)", "x"));
    EXPECT_STREQ(strBuffer.c_str(), strExpected.c_str());
    EXPECT_FALSE(FormStateFilePath(&strBuffer[0], strExpected.size(), "KinetorCalibration(%s)", "x"));
    EXPECT_STREQ(strBuffer.c_str(), "");

    EXPECT_FALSE(FormStateFilePath(nullptr, 10, "KinetorCalibration(%s)", "x"));
    EXPECT_FALSE(FormStateFilePath(szPath, 0, "KinetorCalibration(%s)", "x"));
    EXPECT_FALSE(FormStateFilePath(szPath, sizeof(szPath), nullptr, "x"));
    EXPECT_FALSE(FormStateFilePath(szPath, sizeof(szPath), "KinetorCalibration(%s)", nullptr));
}

}  // namespace
