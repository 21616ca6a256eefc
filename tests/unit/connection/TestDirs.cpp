// Every test of this program runs with a fresh, empty configuration directory and a fresh,
// empty working directory, so nothing outside them is read or written.
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "TestDirs.h"

namespace {

std::string g_strConfigDir;
std::string g_strWorkDir;

std::string MakeTempDir()
{
    char szTemplate[] = "/tmp/kio-conn-XXXXXX";
    const char* p = mkdtemp(szTemplate);
    return p ? std::string(p) : std::string();
}

class CTestDirs : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_strConfigDir = MakeTempDir();
        g_strWorkDir = MakeTempDir();
        ASSERT_FALSE(g_strConfigDir.empty());
        ASSERT_FALSE(g_strWorkDir.empty());
        setenv("KINETOR_CONFIG_FILES", g_strConfigDir.c_str(), 1);
        ASSERT_EQ(0, chdir(g_strWorkDir.c_str()));
    }
    void TearDown() override
    {
        RemoveDirectoryContents(g_strConfigDir);
        RemoveDirectoryContents(g_strWorkDir);
        rmdir(g_strConfigDir.c_str());
        rmdir(g_strWorkDir.c_str());
    }
};

[[maybe_unused]] const ::testing::Environment* const g_pEnv = ::testing::AddGlobalTestEnvironment(new CTestDirs);

}  // namespace

const std::string& TestConfigDir()
{
    return g_strConfigDir;
}

const std::string& TestWorkDir()
{
    return g_strWorkDir;
}
