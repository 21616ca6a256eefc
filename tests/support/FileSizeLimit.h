// Writes that fail part-way, for the tests of the file writers: while a CScopedFileSizeLimit
// lives, no regular file of the process grows beyond the given size (a write reaching it
// fails with EFBIG), and SIGXFSZ, which would otherwise end the test program there, is
// ignored. Keep the scope to the write under test: the limit holds for every file the
// process writes, a redirected test log included.
#ifndef KIO_FILE_SIZE_LIMIT_H
#define KIO_FILE_SIZE_LIMIT_H

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <vector>

class CScopedFileSizeLimit {
public:
    explicit CScopedFileSizeLimit(rlim_t nBytes)
    {
        m_bSaved = getrlimit(RLIMIT_FSIZE, &m_oldLimit) == 0;
        m_pfnOldHandler = signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = m_oldLimit;
        limit.rlim_cur = nBytes;
        m_bActive = m_bSaved && setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~CScopedFileSizeLimit()
    {
        if (m_bSaved) {
            setrlimit(RLIMIT_FSIZE, &m_oldLimit);
        }
        signal(SIGXFSZ, m_pfnOldHandler);
    }
    CScopedFileSizeLimit(const CScopedFileSizeLimit&) = delete;
    CScopedFileSizeLimit& operator=(const CScopedFileSizeLimit&) = delete;

    bool Active() const { return m_bActive; }

private:
    struct rlimit m_oldLimit = {};
    void (*m_pfnOldHandler)(int) = SIG_DFL;
    bool m_bSaved = false;
    bool m_bActive = false;
};

// The names in a directory, sorted, without "." and "..": a leftover temporary file shows.
inline std::vector<std::string> SortedDirectoryEntries(const std::string& strDir)
{
    std::vector<std::string> names;
    DIR* pDir = opendir(strDir.c_str());
    if (pDir == nullptr) {
        return names;
    }
    while (struct dirent* pEntry = readdir(pDir)) {
        std::string strName = pEntry->d_name;
        if (strName != "." && strName != "..") {
            names.push_back(strName);
        }
    }
    closedir(pDir);
    std::sort(names.begin(), names.end());
    return names;
}

#endif
