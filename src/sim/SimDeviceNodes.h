// The device nodes of the simulated hardware: "/dev/kinepp" is the simulated parallel port,
// "/dev/kinepp_modes" its mode list. Descriptors are the simulator's own numbers; nothing
// here touches the file system.
#ifndef SIM_DEVICE_NODES_H
#define SIM_DEVICE_NODES_H

#include <mutex>
#include <vector>

#include "hal/DeviceNodes.h"

#define SIM_EPP_NODE "/dev/kinepp"
#define SIM_EPP_MODES_NODE "/dev/kinepp_modes"
#define SIM_PCI_NODE_FORMAT "/dev/kinpci%d"
// First descriptor number handed out; well away from the process's real descriptors.
#define SIM_FIRST_FD 0x4B00

class CSimDeviceNodes : public CDeviceNodes {
public:
    CSimDeviceNodes();

    int Open(const char* pszPath, int nFlags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long nRequest, void* pArg) override;
    ssize_t Read(int fd, void* pBuffer, size_t nCount) override;
    ssize_t Write(int fd, const void* pBuffer, size_t nCount) override;
    int Poll(struct pollfd* pFds, nfds_t nFds, int nTimeoutMs) override;
    BOOLEAN Exists(const char* pszPath) override;

    // Forgets every descriptor (simulator reset between tests).
    void Reset();
    // Descriptors of the parallel port still open.
    int OpenPortCount();
    // Descriptors of PCI card nUnit still open.
    int OpenCardCount(int nUnit);

private:
    enum NODE_KIND { NODE_FREE = 0, NODE_EPP_PORT, NODE_EPP_MODES, NODE_PCI_CARD };
    struct OPEN_NODE {
        NODE_KIND nKind;
        int nUnit;              // PCI card
        int nFlags;
        size_t nOffset;
    };
    OPEN_NODE* Lookup(int fd);
    // The PCI unit of "/dev/kinpci%d", or -1.
    static int PCIUnitOf(const char* pszPath);

    std::vector<OPEN_NODE> m_nodes;   // index = fd - SIM_FIRST_FD
};

// The simulator's device nodes, configured from an option list the first time.
CDeviceNodes* GetSimDeviceNodes(const char* pszOptions);
// The same object without touching the options.
CSimDeviceNodes& SimDeviceNodes();

#endif
