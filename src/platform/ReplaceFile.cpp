#include "platform/ReplaceFile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const mode_t kNewFileMode = 0644;
// The temporary name carries at most this much of the target's name, so that a target
// whose name is close to the file-system limit still gets a temporary name that fits.
const int kMaxTempBaseName = 200;

// Writes all bytes, going on after a short write; FALSE on the first error.
bool WriteAll(int fd, const char* pData, size_t nLength)
{
    while (nLength > 0) {
        ssize_t nWritten = write(fd, pData, nLength);
        if (nWritten < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (nWritten == 0) {
            errno = EIO;
            return false;
        }
        pData += nWritten;
        nLength -= static_cast<size_t>(nWritten);
    }
    return true;
}

// The rename is only durable once the directory entry is on the disk too. The new content
// is already in place when this runs, so a failure here is not a failed replacement.
void SyncDirectory(const char* pszTarget)
{
    char szDir[PATH_MAX];
    const char* pszSlash = strrchr(pszTarget, '/');
    if (pszSlash == nullptr) {
        snprintf(szDir, sizeof(szDir), ".");
    } else if (pszSlash == pszTarget) {
        snprintf(szDir, sizeof(szDir), "/");
    } else {
        snprintf(szDir, sizeof(szDir), "%.*s", static_cast<int>(pszSlash - pszTarget), pszTarget);
    }
    int fd = open(szDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

BOOLEAN ReplaceFileContents(const char* pszPath, const void* pData, size_t nLength, BOOLEAN* pbCreated)
{
    if (pbCreated != nullptr) {
        *pbCreated = FALSE;
    }
    if (pszPath == nullptr || pszPath[0] == '\0' || (pData == nullptr && nLength > 0)) {
        errno = EINVAL;
        return FALSE;
    }

    // Renaming over a link would replace the link itself; the file it names is meant.
    char szTarget[PATH_MAX];
    mode_t nMode = kNewFileMode;
    bool bExists = false;
    struct stat st;
    if (lstat(pszPath, &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            if (realpath(pszPath, szTarget) == nullptr || stat(szTarget, &st) != 0) {
                return FALSE;
            }
        } else {
            int n = snprintf(szTarget, sizeof(szTarget), "%s", pszPath);
            if (n < 0 || static_cast<size_t>(n) >= sizeof(szTarget)) {
                errno = ENAMETOOLONG;
                return FALSE;
            }
        }
        if (!S_ISREG(st.st_mode)) {
            errno = EINVAL;
            return FALSE;
        }
        nMode = st.st_mode & 07777;
        bExists = true;
    } else {
        int n = snprintf(szTarget, sizeof(szTarget), "%s", pszPath);
        if (n < 0 || static_cast<size_t>(n) >= sizeof(szTarget)) {
            errno = ENAMETOOLONG;
            return FALSE;
        }
    }

    // A hidden name in the same directory, so the rename never crosses file systems.
    const char* pszSlash = strrchr(szTarget, '/');
    int nDirLength = (pszSlash != nullptr) ? static_cast<int>(pszSlash - szTarget) + 1 : 0;
    const char* pszBase = szTarget + nDirLength;
    char szTemp[PATH_MAX];
    int n = snprintf(szTemp, sizeof(szTemp), "%.*s.%.*s.XXXXXX", nDirLength, szTarget, kMaxTempBaseName,
                     pszBase);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(szTemp)) {
        errno = ENAMETOOLONG;
        return FALSE;
    }
    // mkostemp creates the name exclusively, so two writers never share a temporary file.
    int fd = mkostemp(szTemp, O_CLOEXEC);
    if (fd < 0) {
        return FALSE;
    }
    if (pbCreated != nullptr) {
        *pbCreated = TRUE;
    }

    bool bOk = fchmod(fd, nMode) == 0;
    // A file rewritten by another user (the configuration program run as root) should stay
    // its owner's. Only a privileged writer can hand it over; for anyone else the attempt
    // fails and the new file is simply theirs, as a newly created one would be.
    if (bOk && bExists && (st.st_uid != geteuid() || st.st_gid != getegid())) {
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
            errno = 0;
        }
    }
    bOk = bOk && WriteAll(fd, static_cast<const char*>(pData), nLength);
    bOk = bOk && fsync(fd) == 0;
    int nError = bOk ? 0 : errno;
    if (close(fd) != 0 && bOk) {
        bOk = false;
        nError = errno;
    }
    if (bOk && rename(szTemp, szTarget) != 0) {
        bOk = false;
        nError = errno;
    }
    if (!bOk) {
        unlink(szTemp);
        errno = nError;
        return FALSE;
    }
    SyncDirectory(szTarget);
    return TRUE;
}
