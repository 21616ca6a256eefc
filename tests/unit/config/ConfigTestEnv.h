// Every configuration test runs against two fresh temporary directories: one named by
// KINETOR_CONFIG_FILES (where the store writes) and an empty working directory (the "."
// the store searches first). The fixed system directory is never touched.
#ifndef CONFIG_TEST_ENV_H
#define CONFIG_TEST_ENV_H

#include <gtest/gtest.h>

#include <string>

class ConfigTestEnv : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes text (any bytes) to a file in the configuration directory or the working one.
    void WriteConfigFile(const std::string& name, const std::string& text);
    void WriteWorkFile(const std::string& name, const std::string& text);
    std::string ReadConfigFile(const std::string& name) const;
    bool ConfigFileExists(const std::string& name) const;

    std::string m_strConfigDir;
    std::string m_strWorkDir;

private:
    std::string m_strOldCwd;
    std::string m_strOldEnv;
    bool m_bHadEnv = false;
};

#endif
