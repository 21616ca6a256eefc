#ifndef TEST_DIRS_H
#define TEST_DIRS_H

#include <dirent.h>
#include <unistd.h>

#include <string>
#include <vector>

// The configuration directory (KINETOR_CONFIG_FILES) and working directory of the tests.
const std::string& TestConfigDir();
const std::string& TestWorkDir();

inline std::vector<std::string> ListDirectory(const std::string& strDir)
{
    std::vector<std::string> names;
    DIR* pDir = opendir(strDir.c_str());
    if (pDir == nullptr)
        return names;
    while (struct dirent* pEntry = readdir(pDir)) {
        std::string strName = pEntry->d_name;
        if (strName != "." && strName != "..")
            names.push_back(strName);
    }
    closedir(pDir);
    return names;
}

inline void RemoveDirectoryContents(const std::string& strDir)
{
    for (const std::string& strName : ListDirectory(strDir))
        unlink((strDir + "/" + strName).c_str());
}

#endif
