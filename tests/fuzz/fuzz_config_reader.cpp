// Feeds arbitrary bytes to the configuration-file reader as "Kinetor0.ini". Whatever the
// bytes, the read must not crash, and a read that fails must leave the record exactly as
// it was.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "config/KinetorDevice.h"

namespace {

// Created once per process: a private configuration directory. The working directory is
// left alone because libFuzzer reads and writes its corpus by relative paths; it must not
// hold configuration files of its own, which the reader would search first.
std::string g_strConfigDir;

// The directory goes with the process, so repeated runs do not fill /tmp.
void RemoveConfigDir()
{
    unlink((g_strConfigDir + "/Kinetor0.ini").c_str());
    unlink((g_strConfigDir + "/Kinetor1.ini").c_str());
    rmdir(g_strConfigDir.c_str());
}

struct FuzzDirs {
    std::string strConfigFile;

    FuzzDirs()
    {
        char szConfig[] = "/tmp/kinetor-fuzz-config-XXXXXX";
        if (mkdtemp(szConfig) == nullptr) {
            abort();
        }
        g_strConfigDir = szConfig;
        atexit(RemoveConfigDir);
        strConfigFile = g_strConfigDir + "/Kinetor0.ini";
        setenv("KINETOR_CONFIG_FILES", szConfig, 1);
        if (access("Kinetor0.ini", F_OK) == 0 || access("Kinetor1.ini", F_OK) == 0) {
            fprintf(stderr, "fuzz_config_reader: run it from a directory without Kinetor0.ini or Kinetor1.ini\n");
            abort();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static FuzzDirs s_dirs;
    FILE* pFile = fopen(s_dirs.strConfigFile.c_str(), "wb");
    if (pFile == nullptr) {
        return 0;
    }
    if (nSize > 0 && fwrite(pData, 1, nSize, pFile) != nSize) {
        fclose(pFile);
        return 0;
    }
    fclose(pFile);

    CKinetorDevice* pDevice = new CKinetorDevice();
    snprintf(pDevice->m_szName, sizeof(pDevice->m_szName), "untouched");
    pDevice->m_nIndex = 0;
    unsigned char abBefore[sizeof(CKinetorDevice)];
    memcpy(abBefore, static_cast<void*>(pDevice), sizeof(abBefore));
    short nOptionBefore = globalExtra6DOFOption;

    if (!pDevice->Read()) {
        if (memcmp(abBefore, static_cast<void*>(pDevice), sizeof(abBefore)) != 0 ||
            globalExtra6DOFOption != nOptionBefore) {
            abort();  // a failed read changed the record
        }
    } else {
        // Whatever was accepted must be writable and read back to the same record.
        pDevice->m_nIndex = 1;
        if (strchr(pDevice->m_szName, '\n') == nullptr && pDevice->Write()) {
            CKinetorDevice again;
            again.m_nIndex = 1;
            if (!again.Read() || strcmp(again.m_szName, pDevice->m_szName) != 0 ||
                again.m_nModelType != pDevice->m_nModelType || again.m_nCardType != pDevice->m_nCardType) {
                abort();
            }
        }
    }
    delete pDevice;
    return 0;
}
