// The FireWire transport of one unit. The configuration store also constructs it on its
// own, without a servo loop, to read the serial numbers of the attached boards.
#ifndef KINETOR_1394_CONNECTION_H
#define KINETOR_1394_CONNECTION_H

#include "KinetorTypes.h"
#include "config/SerialNumber.h"
#include "transport/KernelDevice.h"

class CKinetor1394Connection : public CKernelDevice {
public:
    explicit CKinetor1394Connection(ULONG nUnit);
    virtual ~CKinetor1394Connection();

    // Copies the whole 64-entry serial-number table into pTable.
    void GetSerialNumberTable(SERIAL_NUMBER_TABLE* pTable);
    // Reloads this unit's configured serial number into the table; 0, or -1 when none.
    int InvalidateSerialNumberTable();

    ULONG GetUnit() const { return m_nUnit; }

private:
    ULONG m_nUnit;
};

#endif
