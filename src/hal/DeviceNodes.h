// The one way the transports reach device nodes ("/dev/kinepp", "/dev/kinepp_modes",
// "/dev/kinpci%d"). Results follow the Linux calls they stand for: -1 with errno set on
// failure, so callers report with perror exactly as they would on the raw calls.
#ifndef DEVICE_NODES_H
#define DEVICE_NODES_H

#include <poll.h>
#include <stddef.h>
#include <sys/types.h>

#include "KinetorTypes.h"

class CDeviceNodes {
public:
    virtual ~CDeviceNodes() {}

    virtual int Open(const char* pszPath, int nFlags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long nRequest, void* pArg) = 0;
    virtual ssize_t Read(int fd, void* pBuffer, size_t nCount) = 0;
    virtual ssize_t Write(int fd, const void* pBuffer, size_t nCount) = 0;
    virtual int Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs) = 0;
    // TRUE when the node (or file) is present.
    virtual BOOLEAN Exists(const char* pszPath) = 0;
};

// Thin pass-through to the operating system.
class CRealDeviceNodes : public CDeviceNodes {
public:
    int Open(const char* pszPath, int nFlags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long nRequest, void* pArg) override;
    ssize_t Read(int fd, void* pBuffer, size_t nCount) override;
    ssize_t Write(int fd, const void* pBuffer, size_t nCount) override;
    int Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs) override;
    BOOLEAN Exists(const char* pszPath) override;
};

// Environment variable that puts the simulated hardware behind every transport.
#define KINETOR_SIMULATOR_ENV "KINETOR_SIMULATOR"

// The process's device nodes: the simulator when KINETOR_SIMULATOR asks for it (set, and
// neither empty, "0" nor "off"), else the real ones. Decided once, at the first call; never null.
CDeviceNodes* GetDeviceNodes();

// Waits up to nTimeoutMs (monotonic clock) for input on fd, as the transports wait for the
// hardware's tick. A signal meant for someone else does not cut the wait short: the poll is
// taken up again for the rest of the time. Returns poll's result (0 on time-out); pnEvents,
// when given, receives the returned events.
int PollForInput(CDeviceNodes* pNodes, int fd, int nTimeoutMs, short* pnEvents);
// TRUE when this process runs on the simulated hardware (makes the decision if not made yet).
BOOLEAN IsSimulatorActive();

// Test seam, not for applications: makes the process use pNodes from now on (null goes
// back to the choice made from the environment). The object stays owned by the caller.
void OverrideDeviceNodes(CDeviceNodes* pNodes);

#endif
