// The per-device black box and its file.
#include "core/BlackBox.h"

#include <stdio.h>
#include <string.h>

#include "config/KinetorPaths.h"
#include "platform/ReplaceFile.h"
#include "platform/Trace.h"

const char CBlackBox::kFilePattern[] = "KinetorBlackBox(%s)";

CBlackBox::CBlackBox() : m_nNext(0), m_nCount(0)
{
    memset(m_aEntries, 0, sizeof(m_aEntries));
    for (int i = 0; i < BLACK_BOX_REASONS; i++)
        m_abTripped[i] = false;
    m_szText[0] = '\0';
}

void CBlackBox::BeginTick(int64_t nTimeUs, const float* pfPos, const long* plDac, int nFault)
{
    BLACK_BOX_ENTRY& e = m_aEntries[m_nNext];
    e.nTimeUs = nTimeUs;
    for (int i = 0; i < 3; i++) {
        e.afPos[i] = pfPos[i];
        e.afForce[i] = 0.0f;
    }
    for (int i = 0; i < 6; i++)
        e.alDac[i] = plDac[i];
    e.nFault = nFault;
    m_nNext = (m_nNext + 1) % kEntries;
    if (m_nCount < kEntries)
        m_nCount++;
}

void CBlackBox::SetSent(const float* pfForce, const long* plDac)
{
    // Commands before the first update have no tick to belong to.
    if (m_nCount == 0)
        return;
    BLACK_BOX_ENTRY& e = m_aEntries[(m_nNext + kEntries - 1) % kEntries];
    for (int i = 0; i < 3; i++)
        e.afForce[i] = pfForce != nullptr ? pfForce[i] : 0.0f;
    for (int i = 0; i < 6; i++)
        e.alDac[i] = plDac[i];
}

const BLACK_BOX_ENTRY& CBlackBox::GetEntry(int i) const
{
    return m_aEntries[(m_nNext + kEntries - m_nCount + i) % kEntries];
}

const char* CBlackBox::ReasonText(EBlackBoxReason eReason)
{
    switch (eReason) {
    case BLACK_BOX_OVERSPEED: return "overspeed";
    case BLACK_BOX_TEMPERATURE: return "temperature";
    case BLACK_BOX_FORCE_KICK: return "force kick";
    case BLACK_BOX_LINK_LOST: return "link lost";
    default: return "unknown";
    }
}

int CBlackBox::FormText(EBlackBoxReason eReason, const char* pszDevice, time_t tNow, char* pszText,
                        size_t nSize) const
{
    size_t nUsed = 0;
    int n = snprintf(pszText, nSize,
                     "Kinetor black box 1\ndevice %s\nreason %s\ntime %lld\nticks %d\n"
                     "# t_us x_mm y_mm z_mm fx_N fy_N fz_N dac0 dac1 dac2 dac3 dac4 dac5 faults\n",
                     pszDevice, ReasonText(eReason), (long long)tNow, m_nCount);
    if (n < 0 || (size_t)n >= nSize)
        return -1;
    nUsed = (size_t)n;
    for (int i = 0; i < m_nCount; i++) {
        const BLACK_BOX_ENTRY& e = GetEntry(i);
        n = snprintf(pszText + nUsed, nSize - nUsed,
                     "%lld %.3f %.3f %.3f %.3f %.3f %.3f %ld %ld %ld %ld %ld %ld %d\n",
                     (long long)e.nTimeUs, (double)e.afPos[0], (double)e.afPos[1], (double)e.afPos[2],
                     (double)e.afForce[0], (double)e.afForce[1], (double)e.afForce[2], e.alDac[0],
                     e.alDac[1], e.alDac[2], e.alDac[3], e.alDac[4], e.alDac[5], e.nFault);
        if (n < 0 || (size_t)n >= nSize - nUsed)
            return -1;
        nUsed += (size_t)n;
    }
    return (int)nUsed;
}

bool CBlackBox::Trip(EBlackBoxReason eReason, const char* pszDevice)
{
    if (eReason < 0 || eReason >= BLACK_BOX_REASONS || m_abTripped[eReason])
        return false;
    m_abTripped[eReason] = true;
    char szPath[KINETOR_MAX_PATH + 1];
    if (!FormStateFilePath(szPath, sizeof(szPath), kFilePattern, pszDevice))
        return false;
    const int n = FormText(eReason, pszDevice, time(nullptr), m_szText, sizeof(m_szText));
    // A text that did not fit is not written: half a record would read as the whole story.
    if (n < 0)
        return false;
    if (!ReplaceFileContents(szPath, m_szText, (size_t)n)) {
        LOG("Black box of %s could not be written to %s\n", pszDevice, szPath);
        return false;
    }
    return true;
}
