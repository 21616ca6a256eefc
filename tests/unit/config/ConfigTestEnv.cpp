#include "ConfigTestEnv.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::string MakeTempDir()
{
    char szTemplate[] = "/tmp/kinetor-config-XXXXXX";
    const char* pszDir = mkdtemp(szTemplate);
    return pszDir != nullptr ? std::string(pszDir) : std::string();
}

void RemoveTree(const std::string& dir)
{
    if (dir.empty()) {
        return;
    }
    DIR* pDir = opendir(dir.c_str());
    if (pDir != nullptr) {
        while (struct dirent* pEntry = readdir(pDir)) {
            if (strcmp(pEntry->d_name, ".") == 0 || strcmp(pEntry->d_name, "..") == 0) {
                continue;
            }
            std::string path = dir + "/" + pEntry->d_name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                RemoveTree(path);
            } else {
                unlink(path.c_str());
            }
        }
        closedir(pDir);
    }
    rmdir(dir.c_str());
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace

void ConfigTestEnv::SetUp()
{
    char szCwd[4096];
    ASSERT_NE(getcwd(szCwd, sizeof(szCwd)), nullptr);
    m_strOldCwd = szCwd;
    const char* pszOld = getenv("KINETOR_CONFIG_FILES");
    m_bHadEnv = pszOld != nullptr;
    if (m_bHadEnv) {
        m_strOldEnv = pszOld;
    }
    m_strConfigDir = MakeTempDir();
    m_strWorkDir = MakeTempDir();
    ASSERT_FALSE(m_strConfigDir.empty());
    ASSERT_FALSE(m_strWorkDir.empty());
    ASSERT_EQ(setenv("KINETOR_CONFIG_FILES", m_strConfigDir.c_str(), 1), 0);
    ASSERT_EQ(chdir(m_strWorkDir.c_str()), 0);
}

void ConfigTestEnv::TearDown()
{
    if (!m_strOldCwd.empty()) {
        EXPECT_EQ(chdir(m_strOldCwd.c_str()), 0);
    }
    if (m_bHadEnv) {
        setenv("KINETOR_CONFIG_FILES", m_strOldEnv.c_str(), 1);
    } else {
        unsetenv("KINETOR_CONFIG_FILES");
    }
    RemoveTree(m_strConfigDir);
    RemoveTree(m_strWorkDir);
}

void ConfigTestEnv::WriteConfigFile(const std::string& name, const std::string& text)
{
    WriteFile(m_strConfigDir + "/" + name, text);
}

void ConfigTestEnv::WriteWorkFile(const std::string& name, const std::string& text)
{
    WriteFile(m_strWorkDir + "/" + name, text);
}

std::string ConfigTestEnv::ReadConfigFile(const std::string& name) const
{
    std::ifstream in(m_strConfigDir + "/" + name, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool ConfigTestEnv::ConfigFileExists(const std::string& name) const
{
    struct stat st;
    return stat((m_strConfigDir + "/" + name).c_str(), &st) == 0;
}
