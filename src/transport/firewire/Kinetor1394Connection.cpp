// Without the FireWire bus interface no board can be opened: the constructor status stays
// false and the serial-number table reports every unit unknown.
#include "transport/firewire/Kinetor1394Connection.h"

CKinetor1394Connection::CKinetor1394Connection(ULONG nUnit) : m_nUnit(nUnit) {}

CKinetor1394Connection::~CKinetor1394Connection() {}

void CKinetor1394Connection::GetSerialNumberTable(SERIAL_NUMBER_TABLE* pTable)
{
    if (pTable == nullptr) {
        return;
    }
    for (int i = 0; i < SERIAL_NUMBER_TABLE_SIZE; i++) {
        pTable->anSerialNumbers[i] = SERIAL_NUMBER_UNKNOWN;
    }
}

int CKinetor1394Connection::InvalidateSerialNumberTable()
{
    return -1;
}
