// The files users copy from: the shipped configuration must be exactly what the library's
// own writer produces for that arm, and the README must show both example files whole.
#include "DemoConfiguration.h"
#include "config/KinetorDevice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

const std::string g_strExamples = std::string(KIO_SOURCE_DIR) + "/examples/";

// Configurations are read from "." first, then from KINETOR_CONFIG_FILES: both are fresh,
// empty directories here.
class ExampleFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szConfig[] = "/tmp/kinetor-example-config-XXXXXX";
        char szWork[] = "/tmp/kinetor-example-work-XXXXXX";
        ASSERT_NE(mkdtemp(szConfig), nullptr);
        ASSERT_NE(mkdtemp(szWork), nullptr);
        m_configDir = szConfig;
        m_workDir = szWork;
        char szCwd[4096];
        ASSERT_NE(getcwd(szCwd, sizeof(szCwd)), nullptr);
        m_oldCwd = szCwd;
        ASSERT_EQ(chdir(m_workDir.c_str()), 0);
        setenv("KINETOR_CONFIG_FILES", m_configDir.c_str(), 1);
        m_shipped = ReadFile(g_strExamples + "Kinetor0.ini");
        ASSERT_FALSE(m_shipped.empty());
    }
    void TearDown() override
    {
        unsetenv("KINETOR_CONFIG_FILES");
        if (chdir(m_oldCwd.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << m_oldCwd;
        for (const char* pszName : {"Kinetor0.ini", "Kinetor1.ini"})
            unlink((m_configDir + "/" + pszName).c_str());
        rmdir(m_configDir.c_str());
        rmdir(m_workDir.c_str());
    }

    std::string m_configDir, m_workDir, m_oldCwd, m_shipped;
};

TEST_F(ExampleFilesTest, TheShippedConfigurationIsWhatTheLibraryWritesAndReads)
{
    // An Altura A on the first parallel port, everything else as a new record has it.
    CKinetorDevice written;
    snprintf(written.m_szName, sizeof(written.m_szName), "%s", "My Arm");
    written.m_nCardType = 4;
    written.m_nIndex = 0;
    ASSERT_TRUE(written.Write());
    EXPECT_EQ(ReadFile(m_configDir + "/Kinetor0.ini"), m_shipped);

    WriteFile(m_configDir + "/Kinetor1.ini", m_shipped);
    CKinetorDevice read;
    read.m_nIndex = 1;
    read.m_nChannelSelect = 0;  // so that the read visibly sets it
    ASSERT_TRUE(read.Read());
    EXPECT_STREQ(read.m_szName, "My Arm");
    EXPECT_EQ(read.m_nModelType, 1u);
    EXPECT_EQ(read.m_nCardType, 4u);
    EXPECT_EQ(read.m_nEPPDevice, 1u);
    EXPECT_EQ(read.m_nChannelSelect, 2u);
    EXPECT_EQ(read.m_nCPR4, 2000u);
}

TEST_F(ExampleFilesTest, TheDemoSetsUpTheShippedArmUnderItsOwnName)
{
    ASSERT_TRUE(WriteDemoConfiguration(m_configDir.c_str(), "My Arm"));
    EXPECT_EQ(ReadFile(m_configDir + "/Kinetor0.ini"), m_shipped);
}

TEST_F(ExampleFilesTest, TheReadmeShowsBothExampleFilesWhole)
{
    std::string readme = ReadFile(std::string(KIO_SOURCE_DIR) + "/README.md");
    std::string program = ReadFile(g_strExamples + "kinetor-example.c");
    ASSERT_FALSE(program.empty());
    EXPECT_NE(readme.find("```c\n" + program + "```\n"), std::string::npos)
        << "the README's example differs from examples/kinetor-example.c";
    EXPECT_NE(readme.find("```\n" + m_shipped + "```\n"), std::string::npos)
        << "the README's configuration differs from examples/Kinetor0.ini";
}

}  // namespace
