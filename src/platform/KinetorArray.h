// Growable array of untyped pointers (the table of open devices). Storage grows in steps
// so that repeated appends do not reallocate every time; no operation throws, and an
// allocation failure leaves the array as it was and is reported by the result.
#ifndef KINETOR_ARRAY_H
#define KINETOR_ARRAY_H

#include "KinetorTypes.h"

class CKinetorArray {
public:
    CKinetorArray();
    virtual ~CKinetorArray();

    int GetSize() const { return m_nSize; }
    int GetUpperBound() const { return m_nSize - 1; }
    // Capacity in entries; lets callers and tests see the growth policy at work.
    int GetMaxSize() const { return m_nMaxSize; }

    // nGrowBy -1 keeps the current growth step; 0 selects the automatic step; any other
    // value becomes the step (a negative one grows to exactly the size asked for).
    BOOL SetSize(int nNewSize, int nGrowBy = -1);
    void FreeExtra();
    void RemoveAll() { SetSize(0, -1); }

    // An index outside 0 .. size-1 reads as null and is ignored on store, so a stale
    // handle can never reach memory beyond the array.
    void* GetAt(int nIndex) const;
    void SetAt(int nIndex, void* pElement);
    BOOL SetAtGrow(int nIndex, void* pElement);
    // Returns the index of the new entry, or -1 when it could not be stored.
    int Add(void* pElement);

    BOOL InsertAt(int nIndex, void* pElement, int nCount = 1);
    BOOL InsertAt(int nStartIndex, const CKinetorArray* pNewArray);
    void RemoveAt(int nIndex, int nCount = 1);

    // Returns the former size, or -1 when the storage could not grow.
    int Append(const CKinetorArray& src);
    BOOL Copy(const CKinetorArray& src);

private:
    CKinetorArray(const CKinetorArray&) = delete;
    CKinetorArray& operator=(const CKinetorArray&) = delete;

    void** m_pData;
    int m_nSize;
    int m_nMaxSize;
    int m_nGrowBy;
};

#endif
