#include "hal/DeviceNodes.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "sim/SimDeviceNodes.h"
#include "sim/SimOptions.h"

int CRealDeviceNodes::Open(const char* pszPath, int nFlags)
{
    if (!pszPath) {
        errno = EINVAL;
        return -1;
    }
    return ::open(pszPath, nFlags);
}

int CRealDeviceNodes::Close(int fd)
{
    return ::close(fd);
}

int CRealDeviceNodes::Ioctl(int fd, unsigned long nRequest, void* pArg)
{
    return ::ioctl(fd, nRequest, pArg);
}

ssize_t CRealDeviceNodes::Read(int fd, void* pBuffer, size_t nCount)
{
    return ::read(fd, pBuffer, nCount);
}

ssize_t CRealDeviceNodes::Write(int fd, const void* pBuffer, size_t nCount)
{
    return ::write(fd, pBuffer, nCount);
}

int CRealDeviceNodes::Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs)
{
    return ::poll(pFds, nFds, nTimeoutMs);
}

BOOLEAN CRealDeviceNodes::Exists(const char* pszPath)
{
    struct stat st;
    return (pszPath && ::stat(pszPath, &st) == 0) ? TRUE : FALSE;
}

namespace {

std::atomic<CDeviceNodes*> g_pOverride(nullptr);

struct CHOSEN_NODES {
    CDeviceNodes* pNodes;
    BOOLEAN bSimulator;
};

// Made once; the objects live as long as the process so that no transport can outlive them.
const CHOSEN_NODES& ChosenNodes()
{
    static const CHOSEN_NODES chosen = []() {
        CHOSEN_NODES c;
        const char* pszSim = getenv(KINETOR_SIMULATOR_ENV);
        if (SimRequested(pszSim)) {
            c.pNodes = GetSimDeviceNodes(pszSim);
            c.bSimulator = TRUE;
        } else {
            c.pNodes = new CRealDeviceNodes();
            c.bSimulator = FALSE;
        }
        return c;
    }();
    return chosen;
}

}  // namespace

CDeviceNodes* GetDeviceNodes()
{
    CDeviceNodes* p = g_pOverride.load();
    return p ? p : ChosenNodes().pNodes;
}

BOOLEAN IsSimulatorActive()
{
    return ChosenNodes().bSimulator;
}

void OverrideDeviceNodes(CDeviceNodes* pNodes)
{
    g_pOverride.store(pNodes);
}

int PollForInput(CDeviceNodes* pNodes, int fd, int nTimeoutMs, short* pnEvents)
{
    struct pollfd pfd;
    pfd.fd = fd;
    pfd.events = POLLIN;
    pfd.revents = 0;
    struct timespec tsStart;
    clock_gettime(CLOCK_MONOTONIC, &tsStart);
    int nTimeout = nTimeoutMs;
    int nReady;
    for (;;) {
        nReady = pNodes->Poll(&pfd, 1, nTimeout);
        if (nReady >= 0 || errno != EINTR)
            break;
        struct timespec tsNow;
        clock_gettime(CLOCK_MONOTONIC, &tsNow);
        const long lElapsed = (long)(tsNow.tv_sec - tsStart.tv_sec) * 1000L +
                              (long)(tsNow.tv_nsec - tsStart.tv_nsec) / 1000000L;
        if (lElapsed >= nTimeoutMs) {
            nReady = 0;
            break;
        }
        nTimeout = nTimeoutMs - (int)lElapsed;
    }
    if (pnEvents != nullptr)
        *pnEvents = pfd.revents;
    return nReady;
}
