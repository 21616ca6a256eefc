// Owner of one transport: a wrapper builds its connection in its constructor and reports
// through ConstructorStatus whether that worked.
#ifndef KERNEL_DEVICE_H
#define KERNEL_DEVICE_H

#include "KinetorTypes.h"
#include "connection/HapticConnection.h"

class CKernelDevice {
public:
    CKernelDevice() : m_bConstructorStatus(FALSE), m_pConnection(nullptr) {}
    virtual ~CKernelDevice() { delete m_pConnection; }

    BOOL ConstructorStatus() const { return m_bConstructorStatus; }
    CHapticConnection* GetEntryPoints() const { return m_pConnection; }

protected:
    BOOL m_bConstructorStatus;
    CHapticConnection* m_pConnection;

private:
    CKernelDevice(const CKernelDevice&) = delete;
    CKernelDevice& operator=(const CKernelDevice&) = delete;
};

#endif
