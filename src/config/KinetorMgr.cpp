#include "config/KinetorMgr.h"

#include <new>
#include <stdio.h>
#include <string.h>

#include "config/KinetorPaths.h"
#include "KinetorFirmware.h"
#include "transport/firewire/Kinetor1394Connection.h"

ULONG CKinetorMgr::m_nISAAddr[KINETOR_MAX_UNITS] = {0, 0, 0, 0};
ULONG CKinetorMgr::m_nEPPAddr[KINETOR_MAX_UNITS] = {0, 0, 0, 0};
ULONG CKinetorMgr::m_nPortMode[KINETOR_MAX_UNITS] = {0, 0, 0, 0};
ULONG CKinetorMgr::m_nVMEAddr[KINETOR_MAX_UNITS] = {0, 0, 0, 0};

namespace {

const size_t kFirstLineSize = 256;  // first lines are read with at most 255 characters

bool ValidUnit(ULONG nUnit)
{
    return nUnit >= 1 && nUnit <= KINETOR_MAX_UNITS;
}

void FormConfigName(char* pszName, size_t nSize, int nIndex)
{
    snprintf(pszName, nSize, "Kinetor%d.ini", nIndex);
}

void DestroyRecords(CKinetorDevice** aDevices, int nCount)
{
    for (int i = 0; i < nCount; i++) {
        delete aDevices[i];
        aDevices[i] = nullptr;
    }
}

}  // namespace

CKinetorMgr::CKinetorMgr()
{
    for (int i = 0; i < KINETOR_MAX_UNITS; i++) {
        if (m_nISAAddr[i] == 0) {
            m_nISAAddr[i] = KINETOR_DEFAULT_ISA_ADDR;
        }
        if (m_nEPPAddr[i] == 0) {
            m_nEPPAddr[i] = KINETOR_DEFAULT_EPP_ADDR;
        }
        if (m_nVMEAddr[i] == 0) {
            m_nVMEAddr[i] = KINETOR_DEFAULT_VME_ADDR;
        }
        m_nPortMode[i] = 0;
    }
}

CKinetorMgr::~CKinetorMgr() {}

BOOLEAN CKinetorMgr::ReadAddresses()
{
    return TRUE;
}

BOOLEAN CKinetorMgr::WriteAddresses()
{
    return TRUE;
}

ULONG CKinetorMgr::GetISAAddress(ULONG nUnit)
{
    return ValidUnit(nUnit) ? m_nISAAddr[nUnit - 1] : 0;
}

ULONG CKinetorMgr::GetEPPAddress(ULONG nUnit)
{
    return ValidUnit(nUnit) ? m_nEPPAddr[nUnit - 1] : 0;
}

ULONG CKinetorMgr::GetVMEAddress(ULONG nUnit)
{
    return ValidUnit(nUnit) ? m_nVMEAddr[nUnit - 1] : 0;
}

void CKinetorMgr::SetISAAddress(ULONG nUnit, ULONG nAddress)
{
    if (ValidUnit(nUnit)) {
        m_nISAAddr[nUnit - 1] = nAddress;
    }
}

void CKinetorMgr::SetEPPAddress(ULONG nUnit, ULONG nAddress)
{
    if (ValidUnit(nUnit)) {
        m_nEPPAddr[nUnit - 1] = nAddress;
    }
}

void CKinetorMgr::SetVMEAddress(ULONG nUnit, ULONG nAddress)
{
    if (ValidUnit(nUnit)) {
        m_nVMEAddr[nUnit - 1] = nAddress;
    }
}

int CKinetorMgr::GetPortMode(ULONG nUnit)
{
    return ValidUnit(nUnit) ? static_cast<int>(m_nPortMode[nUnit - 1]) : 0;
}

void CKinetorMgr::SetPortMode(ULONG nUnit, int nMode)
{
    if (ValidUnit(nUnit)) {
        m_nPortMode[nUnit - 1] = static_cast<ULONG>(nMode);
    }
}

BOOLEAN CKinetorMgr::ReadFirstLine(const char* pszFileName, char* pszLine, size_t nSize)
{
    if (pszLine == nullptr || nSize == 0) {
        return FALSE;
    }
    pszLine[0] = '\0';
    CKinetorDevice opener;
    FILE* pFile = opener.OpenConfigurationFile(".", pszFileName, TRUE);
    if (pFile == nullptr && GetConfigFilesDir() != nullptr) {
        pFile = opener.OpenConfigurationFile(GetConfigFilesDir(), pszFileName, TRUE);
    }
    if (pFile == nullptr) {
        pFile = opener.OpenConfigurationFile(g_szKinetorConfigDir, pszFileName, TRUE);
    }
    if (pFile == nullptr) {
        return FALSE;
    }
    char szLine[kFirstLineSize];
    char* pszRead = fgets(szLine, sizeof(szLine), pFile);
    fclose(pFile);
    if (pszRead == nullptr) {
        return FALSE;
    }
    size_t nLen = strlen(szLine);
    if (nLen > 0 && szLine[nLen - 1] == '\n') {
        szLine[nLen - 1] = '\0';
    }
    snprintf(pszLine, nSize, "%s", szLine);
    return TRUE;
}

int CKinetorMgr::EnumerateKinetors(CKinetorDevice** aDevices)
{
    if (aDevices == nullptr) {
        return 0;
    }
    int nCount = 0;
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        char szFileName[32];
        FormConfigName(szFileName, sizeof(szFileName), i);
        char szLine[kFirstLineSize];
        if (!ReadFirstLine(szFileName, szLine, sizeof(szLine))) {
            continue;
        }
        CKinetorDevice* pDevice = new (std::nothrow) CKinetorDevice();
        if (pDevice == nullptr) {
            break;
        }
        snprintf(pDevice->m_szName, sizeof(pDevice->m_szName), "%.127s", szLine);
        pDevice->m_nIndex = i;
        aDevices[nCount++] = pDevice;
    }
    return nCount;
}

BOOLEAN CKinetorMgr::GetKinetorUnit(const char* pszName, ULONG& nUnit)
{
    if (pszName == nullptr) {
        return FALSE;
    }
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        char szFileName[32];
        FormConfigName(szFileName, sizeof(szFileName), i);
        char szLine[kFirstLineSize];
        if (ReadFirstLine(szFileName, szLine, sizeof(szLine)) && strcmp(szLine, pszName) == 0) {
            nUnit = static_cast<ULONG>(i);
            return TRUE;
        }
    }
    return FALSE;
}

CKinetorDevice* CKinetorMgr::AddKinetor(CKinetorDevice** aDevices, int& nDevices, const char* pszName)
{
    if (aDevices == nullptr) {
        return nullptr;
    }
    int nFree = -1;
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        if (aDevices[i] == nullptr) {
            nFree = i;
            break;
        }
    }
    if (nFree < 0) {
        return nullptr;
    }
    int nIndex = 0;
    for (bool bTaken = true; bTaken; nIndex += bTaken ? 1 : 0) {
        bTaken = false;
        for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
            if (aDevices[i] != nullptr && aDevices[i]->m_nIndex == nIndex) {
                bTaken = true;
                break;
            }
        }
    }
    CKinetorDevice* pDevice = new (std::nothrow) CKinetorDevice();
    if (pDevice == nullptr) {
        return nullptr;
    }
    snprintf(pDevice->m_szName, sizeof(pDevice->m_szName), "%.127s", pszName != nullptr ? pszName : "");
    pDevice->m_nIndex = nIndex;
    aDevices[nFree] = pDevice;
    nDevices++;
    return pDevice;
}

BOOLEAN CKinetorMgr::DeleteKinetor(CKinetorDevice** aDevices, int& nDevices, CKinetorDevice* pDevice)
{
    if (pDevice == nullptr) {
        return TRUE;
    }
    char szFileName[32];
    FormConfigName(szFileName, sizeof(szFileName), pDevice->m_nIndex);
    pDevice->DeleteConfigurationFile(szFileName);
    if (aDevices != nullptr) {
        for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
            if (aDevices[i] == pDevice) {
                delete pDevice;
                aDevices[i] = nullptr;
                nDevices--;
                break;
            }
        }
    }
    return TRUE;
}

BOOLEAN CKinetorMgr::GetDualConfiguration(char aszNames[2][KINETOR_NAME_SIZE])
{
    if (aszNames == nullptr) {
        return FALSE;
    }
    for (int i = 0; i < 2; i++) {
        aszNames[i][0] = '\0';
        char szFileName[32];
        snprintf(szFileName, sizeof(szFileName), "DualKinetor%d.ini", i);
        char szLine[kFirstLineSize];
        if (ReadFirstLine(szFileName, szLine, sizeof(szLine))) {
            snprintf(aszNames[i], KINETOR_NAME_SIZE, "%.127s", szLine);
        }
    }
    return (aszNames[0][0] != '\0' && aszNames[1][0] != '\0') ? TRUE : FALSE;
}

BOOLEAN CKinetorMgr::SetDualConfiguration(char aszNames[2][KINETOR_NAME_SIZE], BOOLEAN bSet)
{
    if (aszNames == nullptr) {
        return TRUE;
    }
    if (aszNames[0][0] == '\0' || aszNames[1][0] == '\0') {
        aszNames[0][0] = '\0';
        aszNames[1][0] = '\0';
    }
    CKinetorDevice file;
    BOOLEAN bResult = TRUE;
    for (int i = 0; i < 2; i++) {
        char szFileName[32];
        snprintf(szFileName, sizeof(szFileName), "DualKinetor%d.ini", i);
        if (bSet && aszNames[i][0] != '\0') {
            char szLine[KINETOR_NAME_SIZE + 1];
            int n = snprintf(szLine, sizeof(szLine), "%.*s\n", KINETOR_NAME_SIZE - 1, aszNames[i]);
            // A dual file that could not be stored is reported: the caller would otherwise
            // believe a pairing is saved that the next start does not find.
            if (n < 0 || static_cast<size_t>(n) >= sizeof(szLine) ||
                !file.ReplaceConfigurationFile(szFileName, szLine, static_cast<size_t>(n))) {
                bResult = FALSE;
            }
        } else {
            file.DeleteConfigurationFile(szFileName);
        }
    }
    return bResult;
}

BOOLEAN CKinetorMgr::Get1394SerialNumber(ULONG nUnit, ULONG& nNumber, void* pContext)
{
    CKinetorDevice* aDevices[KINETOR_MAX_CONFIGS] = {};
    int nCount = EnumerateKinetors(aDevices);
    BOOLEAN bResult = FALSE;
    for (int i = 0; i < nCount; i++) {
        if (static_cast<ULONG>(aDevices[i]->m_nIndex) == nUnit) {
            CKinetorDevice* pDevice = aDevices[i];
            pDevice->Read();
            if (pDevice->m_n1394SerialNumber != 0 &&
                fw_find_zanter(static_cast<int>(pDevice->m_n1394SerialNumber), nullptr) == 0) {
                nNumber = pDevice->m_n1394SerialNumber;
                bResult = TRUE;
            }
            break;
        }
    }
    DestroyRecords(aDevices, nCount);
    fw_release_zanter(static_cast<int>(nUnit), pContext);
    return bResult;
}

BOOLEAN CKinetorMgr::Get1394SerialNumber(ULONG nUnit, char* pszNumber, void* pContext)
{
    ULONG nNumber = 0;
    if (pszNumber == nullptr || !Get1394SerialNumber(nUnit, nNumber, pContext)) {
        return FALSE;
    }
    SERIAL_NUMBER sn;
    sn.v = nNumber;
    return UnpackSerialNumber(&sn, pszNumber);
}

BOOLEAN CKinetorMgr::Set1394SerialNumber(ULONG, ULONG, CKinetorDevice*, void*)
{
    return FALSE;
}

BOOLEAN CKinetorMgr::Set1394SerialNumber(ULONG, const char*, CKinetorDevice*, void*)
{
    return FALSE;
}

BOOLEAN CKinetorMgr::Find1394UnitInUse(ULONG& nUnit)
{
    CKinetorDevice* aDevices[KINETOR_MAX_CONFIGS] = {};
    int nCount = EnumerateKinetors(aDevices);
    BOOLEAN bResult = FALSE;
    for (int i = 0; i < nCount && !bResult; i++) {
        CKinetorDevice* pDevice = aDevices[i];
        pDevice->Read();
        if (pDevice->m_n1394SerialNumber != 0 &&
            fw_find_zanter(static_cast<int>(pDevice->m_n1394SerialNumber), nullptr) == 0) {
            nUnit = static_cast<ULONG>(pDevice->m_nIndex);
            bResult = TRUE;
        }
    }
    DestroyRecords(aDevices, nCount);
    return bResult;
}

BOOLEAN CKinetorMgr::Get1394SerialNumberTable(SERIAL_NUMBER_TABLE* pTable)
{
    ULONG nUnit = 0;
    if (pTable == nullptr || !Find1394UnitInUse(nUnit)) {
        return FALSE;
    }
    CKinetor1394Connection* pConnection = new (std::nothrow) CKinetor1394Connection(nUnit);
    if (pConnection == nullptr) {
        return FALSE;
    }
    BOOLEAN bResult = FALSE;
    if (pConnection->ConstructorStatus()) {
        pConnection->GetSerialNumberTable(pTable);
        bResult = TRUE;
    }
    delete pConnection;
    return bResult;
}

BOOLEAN CKinetorMgr::Get1394SerialNumberUnit(ULONG& nNumber, ULONG& nUnit)
{
    if (nNumber == SERIAL_NUMBER_UNKNOWN) {
        return FALSE;
    }
    SERIAL_NUMBER_TABLE table;
    if (!Get1394SerialNumberTable(&table)) {
        return FALSE;
    }
    for (ULONG i = 0; i < SERIAL_NUMBER_TABLE_SIZE; i++) {
        if (table.anSerialNumbers[i] != SERIAL_NUMBER_UNKNOWN && table.anSerialNumbers[i] == nNumber) {
            nUnit = i;
            return TRUE;
        }
    }
    return FALSE;
}

BOOLEAN CKinetorMgr::Invalidate1394SerialNumberTable(ULONG nUnit)
{
    CKinetor1394Connection* pConnection = new (std::nothrow) CKinetor1394Connection(nUnit);
    if (pConnection == nullptr) {
        return FALSE;
    }
    BOOLEAN bResult = FALSE;
    if (pConnection->ConstructorStatus()) {
        pConnection->InvalidateSerialNumberTable();
        bResult = TRUE;
    }
    delete pConnection;
    return bResult;
}

BYTE CKinetorMgr::GetParity(ULONG v, BOOLEAN bEven)
{
    ULONG p = v & 0xFFFFFFFFUL;
    p ^= p >> 16;
    p ^= p >> 8;
    p ^= p >> 4;
    p ^= p >> 2;
    p ^= p >> 1;
    p &= 1;
    return static_cast<BYTE>(bEven ? p : 1 - p);
}

BOOLEAN CKinetorMgr::CheckParity(ULONG v, BYTE bfParity, BOOLEAN bEven)
{
    return bfParity == GetParity(v, bEven) ? TRUE : FALSE;
}

BOOLEAN CKinetorMgr::PackSerialNumber(SERIAL_NUMBER* psn, const char* pszNumber)
{
    if (psn == nullptr || pszNumber == nullptr) {
        return FALSE;
    }
    if (strnlen(pszNumber, SERIAL_NUMBER_TEXT_LENGTH + 1) != SERIAL_NUMBER_TEXT_LENGTH) {
        return FALSE;
    }
    unsigned nYear = 0, nMonth = 0, nDay = 0, nComputer = 0, nDaily = 0;
    if (sscanf(pszNumber, "%1u%02u%02u%1u%05u", &nYear, &nMonth, &nDay, &nComputer, &nDaily) != 5) {
        return FALSE;
    }
    ULONG v = psn->v;
    v |= 1UL << SN_SCHEME_BIT;
    v &= ~(SN_V2_RESERVED_MASK << SN_V2_RESERVED_SHIFT);
    v = (v & ~(SN_V2_YEAR_MASK << SN_V2_YEAR_SHIFT)) | ((nYear & SN_V2_YEAR_MASK) << SN_V2_YEAR_SHIFT);
    v = (v & ~(SN_V2_MONTH_MASK << SN_V2_MONTH_SHIFT)) | ((nMonth & SN_V2_MONTH_MASK) << SN_V2_MONTH_SHIFT);
    v = (v & ~(SN_V2_DAY_MASK << SN_V2_DAY_SHIFT)) | ((nDay & SN_V2_DAY_MASK) << SN_V2_DAY_SHIFT);
    v = (v & ~(SN_V2_COMPUTER_MASK << SN_V2_COMPUTER_SHIFT)) |
        ((nComputer & SN_V2_COMPUTER_MASK) << SN_V2_COMPUTER_SHIFT);
    v = (v & ~(SN_V2_DAILY_MASK << SN_V2_DAILY_SHIFT)) | ((nDaily & SN_V2_DAILY_MASK) << SN_V2_DAILY_SHIFT);
    // The parity is taken over the value as it now stands, its old parity bit included.
    ULONG nParity = GetParity(v, FALSE);
    v = (v & ~1UL) | nParity;
    psn->v = v;
    return TRUE;
}

BOOLEAN CKinetorMgr::UnpackSerialNumber(SERIAL_NUMBER* psn, char* pszNumber)
{
    if (psn == nullptr || pszNumber == nullptr) {
        return FALSE;
    }
    ULONG v = psn->v;
    const size_t nSize = SERIAL_NUMBER_TEXT_LENGTH + 1;
    int n;
    if ((v >> SN_SCHEME_BIT) & 1UL) {
        n = snprintf(pszNumber, nSize, "%1u%02u%02u%1u%05u",
                     static_cast<unsigned>((v >> SN_V2_YEAR_SHIFT) & SN_V2_YEAR_MASK),
                     static_cast<unsigned>((v >> SN_V2_MONTH_SHIFT) & SN_V2_MONTH_MASK),
                     static_cast<unsigned>((v >> SN_V2_DAY_SHIFT) & SN_V2_DAY_MASK),
                     static_cast<unsigned>((v >> SN_V2_COMPUTER_SHIFT) & SN_V2_COMPUTER_MASK),
                     static_cast<unsigned>((v >> SN_V2_DAILY_SHIFT) & SN_V2_DAILY_MASK));
    } else {
        n = snprintf(pszNumber, nSize, "%0*u", SERIAL_NUMBER_TEXT_LENGTH, static_cast<unsigned>(v & 0xFFFFFFFFUL));
    }
    return (n == SERIAL_NUMBER_TEXT_LENGTH && strlen(pszNumber) == SERIAL_NUMBER_TEXT_LENGTH) ? TRUE : FALSE;
}
