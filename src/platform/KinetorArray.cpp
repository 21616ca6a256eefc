#include "platform/KinetorArray.h"

#include <climits>
#include <cstring>
#include <new>

namespace {

// Fresh storage with every entry null; null when the allocation fails.
void** AllocateEntries(int nCount)
{
    return new (std::nothrow) void*[static_cast<size_t>(nCount)]();
}

}  // namespace

CKinetorArray::CKinetorArray() : m_pData(nullptr), m_nSize(0), m_nMaxSize(0), m_nGrowBy(0) {}

CKinetorArray::~CKinetorArray()
{
    delete[] m_pData;
}

BOOL CKinetorArray::SetSize(int nNewSize, int nGrowBy)
{
    if (nGrowBy != -1) {
        m_nGrowBy = nGrowBy;
    }
    if (nNewSize < 0) {
        return FALSE;
    }
    if (nNewSize == 0) {
        delete[] m_pData;
        m_pData = nullptr;
        m_nSize = m_nMaxSize = 0;
        return TRUE;
    }
    if (m_pData == nullptr) {
        void** pData = AllocateEntries(nNewSize);
        if (pData == nullptr) {
            return FALSE;
        }
        m_pData = pData;
        m_nSize = m_nMaxSize = nNewSize;
        return TRUE;
    }
    if (nNewSize <= m_nMaxSize) {
        if (nNewSize > m_nSize) {
            memset(&m_pData[m_nSize], 0, static_cast<size_t>(nNewSize - m_nSize) * sizeof(void*));
        }
        m_nSize = nNewSize;
        return TRUE;
    }

    // Growing in steps of about an eighth keeps appends from reallocating every time.
    int nStep = m_nGrowBy;
    if (nStep == 0) {
        nStep = m_nSize / 8;
        if (nStep < 4) {
            nStep = 4;
        } else if (nStep > 1024) {
            nStep = 1024;
        }
    }
    // A negative step never beats the request, and must not take part in the overflow test.
    int nNewMax = nNewSize;
    if (nStep > 0 && m_nMaxSize <= INT_MAX - nStep && m_nMaxSize + nStep > nNewSize) {
        nNewMax = m_nMaxSize + nStep;
    }
    void** pNewData = AllocateEntries(nNewMax);
    if (pNewData == nullptr) {
        return FALSE;
    }
    memcpy(pNewData, m_pData, static_cast<size_t>(m_nSize) * sizeof(void*));
    delete[] m_pData;
    m_pData = pNewData;
    m_nSize = nNewSize;
    m_nMaxSize = nNewMax;
    return TRUE;
}

void CKinetorArray::FreeExtra()
{
    if (m_nSize == m_nMaxSize) {
        return;
    }
    if (m_nSize == 0) {
        delete[] m_pData;
        m_pData = nullptr;
        m_nMaxSize = 0;
        return;
    }
    void** pNewData = AllocateEntries(m_nSize);
    if (pNewData == nullptr) {
        return;  // keeping the larger storage loses nothing
    }
    memcpy(pNewData, m_pData, static_cast<size_t>(m_nSize) * sizeof(void*));
    delete[] m_pData;
    m_pData = pNewData;
    m_nMaxSize = m_nSize;
}

void* CKinetorArray::GetAt(int nIndex) const
{
    if (nIndex < 0 || nIndex >= m_nSize) {
        return nullptr;
    }
    return m_pData[nIndex];
}

void CKinetorArray::SetAt(int nIndex, void* pElement)
{
    if (nIndex < 0 || nIndex >= m_nSize) {
        return;
    }
    m_pData[nIndex] = pElement;
}

BOOL CKinetorArray::SetAtGrow(int nIndex, void* pElement)
{
    if (nIndex < 0 || nIndex == INT_MAX) {
        return FALSE;
    }
    if (nIndex >= m_nSize && !SetSize(nIndex + 1, -1)) {
        return FALSE;
    }
    m_pData[nIndex] = pElement;
    return TRUE;
}

int CKinetorArray::Add(void* pElement)
{
    int nIndex = m_nSize;
    return SetAtGrow(nIndex, pElement) ? nIndex : -1;
}

BOOL CKinetorArray::InsertAt(int nIndex, void* pElement, int nCount)
{
    if (nIndex < 0 || nCount <= 0) {
        return FALSE;
    }
    if (nIndex >= m_nSize) {
        if (nIndex > INT_MAX - nCount || !SetSize(nIndex + nCount, -1)) {
            return FALSE;
        }
    } else {
        int nOldSize = m_nSize;
        if (m_nSize > INT_MAX - nCount || !SetSize(m_nSize + nCount, -1)) {
            return FALSE;
        }
        memmove(&m_pData[nIndex + nCount], &m_pData[nIndex],
                static_cast<size_t>(nOldSize - nIndex) * sizeof(void*));
    }
    for (int i = 0; i < nCount; i++) {
        m_pData[nIndex + i] = pElement;
    }
    return TRUE;
}

BOOL CKinetorArray::InsertAt(int nStartIndex, const CKinetorArray* pNewArray)
{
    if (pNewArray == nullptr || nStartIndex < 0) {
        return FALSE;
    }
    int nCount = pNewArray->m_nSize;
    if (nCount == 0) {
        return TRUE;
    }
    // Inserting an array into itself moves the source while it is read; copy it first.
    void** pSource = AllocateEntries(nCount);
    if (pSource == nullptr) {
        return FALSE;
    }
    memcpy(pSource, pNewArray->m_pData, static_cast<size_t>(nCount) * sizeof(void*));
    BOOL bResult = InsertAt(nStartIndex, pSource[0], nCount);
    if (bResult) {
        memcpy(&m_pData[nStartIndex], pSource, static_cast<size_t>(nCount) * sizeof(void*));
    }
    delete[] pSource;
    return bResult;
}

void CKinetorArray::RemoveAt(int nIndex, int nCount)
{
    if (nIndex < 0 || nCount <= 0 || nIndex >= m_nSize || nCount > m_nSize - nIndex) {
        return;
    }
    int nMove = m_nSize - (nIndex + nCount);
    if (nMove > 0) {
        memmove(&m_pData[nIndex], &m_pData[nIndex + nCount], static_cast<size_t>(nMove) * sizeof(void*));
    }
    m_nSize -= nCount;
}

int CKinetorArray::Append(const CKinetorArray& src)
{
    int nOldSize = m_nSize;
    int nCount = src.m_nSize;
    if (nCount == 0) {
        return nOldSize;
    }
    if (nOldSize > INT_MAX - nCount || !SetSize(nOldSize + nCount, -1)) {
        return -1;
    }
    // For a self-append src.m_pData is the new storage and the two ranges do not overlap.
    memcpy(&m_pData[nOldSize], src.m_pData, static_cast<size_t>(nCount) * sizeof(void*));
    return nOldSize;
}

BOOL CKinetorArray::Copy(const CKinetorArray& src)
{
    if (&src == this) {
        return TRUE;
    }
    if (!SetSize(src.m_nSize, -1)) {
        return FALSE;
    }
    if (m_nSize > 0) {
        memcpy(m_pData, src.m_pData, static_cast<size_t>(m_nSize) * sizeof(void*));
    }
    return TRUE;
}
