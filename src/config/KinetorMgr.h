// The set of device configurations as a whole: enumeration, look-up by name, adding and
// deleting, the dual configuration, the process-wide interface address and port-mode
// tables, and the FireWire serial numbers. The manager has no instance data, so any number
// of instances may be created; they all work on the same files and tables.
#ifndef KINETOR_MGR_H
#define KINETOR_MGR_H

#include "KinetorTypes.h"
#include "config/KinetorDevice.h"
#include "config/SerialNumber.h"

// Units of the address tables are 1 .. KINETOR_MAX_UNITS.
#define KINETOR_MAX_UNITS 4
#define KINETOR_DEFAULT_ISA_ADDR 0x300UL
#define KINETOR_DEFAULT_EPP_ADDR 0x378UL
#define KINETOR_DEFAULT_VME_ADDR 0x7000UL

class CKinetorMgr {
public:
    // Fills address entries that are still 0 with the defaults and resets every port mode to 0.
    CKinetorMgr();
    ~CKinetorMgr();

    BOOLEAN ReadAddresses();
    BOOLEAN WriteAddresses();

    ULONG GetISAAddress(ULONG nUnit);
    ULONG GetEPPAddress(ULONG nUnit);
    ULONG GetVMEAddress(ULONG nUnit);
    void SetISAAddress(ULONG nUnit, ULONG nAddress);
    void SetEPPAddress(ULONG nUnit, ULONG nAddress);
    void SetVMEAddress(ULONG nUnit, ULONG nAddress);
    int GetPortMode(ULONG nUnit);
    void SetPortMode(ULONG nUnit, int nMode);

    // aDevices holds KINETOR_MAX_CONFIGS entries. The records created belong to the caller.
    int EnumerateKinetors(CKinetorDevice** aDevices);
    BOOLEAN GetKinetorUnit(const char* pszName, ULONG& nUnit);
    CKinetorDevice* AddKinetor(CKinetorDevice** aDevices, int& nDevices, const char* pszName);
    BOOLEAN DeleteKinetor(CKinetorDevice** aDevices, int& nDevices, CKinetorDevice* pDevice);

    BOOLEAN GetDualConfiguration(char aszNames[2][KINETOR_NAME_SIZE]);
    // Stores (bSet) or deletes the two dual files; FALSE when a file to store could not be
    // written, in which case that file keeps its previous content.
    BOOLEAN SetDualConfiguration(char aszNames[2][KINETOR_NAME_SIZE], BOOLEAN bSet);

    BOOLEAN Get1394SerialNumber(ULONG nUnit, ULONG& nNumber, void* pContext);
    // pszNumber holds at least 12 characters.
    BOOLEAN Get1394SerialNumber(ULONG nUnit, char* pszNumber, void* pContext);
    BOOLEAN Set1394SerialNumber(ULONG nUnit, ULONG nNumber, CKinetorDevice* pDevice, void* pContext);
    BOOLEAN Set1394SerialNumber(ULONG nUnit, const char* pszNumber, CKinetorDevice* pDevice,
                                void* pContext);
    BOOLEAN Find1394UnitInUse(ULONG& nUnit);
    BOOLEAN Get1394SerialNumberTable(SERIAL_NUMBER_TABLE* pTable);
    BOOLEAN Get1394SerialNumberUnit(ULONG& nNumber, ULONG& nUnit);
    BOOLEAN Invalidate1394SerialNumberTable(ULONG nUnit);

    static BYTE GetParity(ULONG v, BOOLEAN bEven);
    static BOOLEAN CheckParity(ULONG v, BYTE bfParity, BOOLEAN bEven);
    static BOOLEAN PackSerialNumber(SERIAL_NUMBER* psn, const char* pszNumber);
    // pszNumber holds at least 12 characters.
    static BOOLEAN UnpackSerialNumber(SERIAL_NUMBER* psn, char* pszNumber);

private:
    // Reads the first line (at most 255 characters) of a file found by the read search,
    // without its line feed, cut to 127 characters. FALSE when absent or empty.
    static BOOLEAN ReadFirstLine(const char* pszFileName, char* pszName, size_t nSize);

    static ULONG m_nISAAddr[KINETOR_MAX_UNITS];
    static ULONG m_nEPPAddr[KINETOR_MAX_UNITS];
    static ULONG m_nPortMode[KINETOR_MAX_UNITS];
    static ULONG m_nVMEAddr[KINETOR_MAX_UNITS];
};

#endif
