#include "sim/SimHardware.h"

#include <errno.h>
#include <string.h>
#include <time.h>

#include "config/KinetorMgr.h"
#include "platform/TimeSample.h"
#include "sim/SimFireWireBus.h"

namespace {

int64_t MonotonicNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

const char kDefaultModesText[] = "PCSPP,TRISTATE,COMPAT,EPP,ECP\n";

}  // namespace

CSimHardware& CSimHardware::Instance()
{
    // Never destroyed: a transport may still be closing its node while the process exits.
    static CSimHardware* s_pInstance = new CSimHardware();
    return *s_pInstance;
}

CSimHardware::CSimHardware()
    : m_bLockstep(false),
      m_nLockstepNs(SIM_LOCKSTEP_START_NS),
      m_nNextTickNs(0),
      m_nTicks(0),
      m_nLostTicks(0),
      m_nEPPUnit(-1),
      m_bModesReadable(TRUE),
      m_strModesText(kDefaultModesText),
      m_nFailEntries(0)
{
    SimDefaultOptions(&m_options);
    m_nNextTickNs = MonotonicNs() + 1000000LL;
}

CSimHardware::~CSimHardware()
{
    FreeArms();
}

void CSimHardware::Configure(const SIM_OPTIONS& options)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    BOOLEAN bPaceChanged = (options.nPace != m_options.nPace) ? TRUE : FALSE;
    m_options = options;
    m_bLockstep = (m_options.nPace == SIM_PACE_LOCKSTEP);
    for (SIM_ARM_ENTRY& e : m_arms)
        e.pArm->SetHand(m_options.nHand);
    if (m_options.nPace == SIM_PACE_LOCKSTEP) {
        if (bPaceChanged) {
            m_nLockstepNs = SIM_LOCKSTEP_START_NS;
            m_nNextTickNs = SIM_LOCKSTEP_START_NS + GetTickPeriodNs();
        }
        SetDeviceClock(SimDeviceClock);
    } else {
        if (bPaceChanged)
            m_nNextTickNs = MonotonicNs() + GetTickPeriodNs();
        SetDeviceClock(nullptr);
    }
}

SIM_OPTIONS CSimHardware::GetOptions()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_options;
}

void CSimHardware::FreeArms()
{
    for (SIM_ARM_ENTRY& e : m_arms) {
        delete e.pArm;
        delete e.pConfig;
    }
    m_arms.clear();
    m_aliases.clear();
}

void CSimHardware::Reset()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_eppPort.Reset();
    for (CSimPCICard& card : m_aPCICards)
        card.Reset();
    FreeArms();
    SimFireWireBus().Reset();
    m_nTicks = 0;
    m_nLostTicks = 0;
    m_nEPPUnit = -1;
    m_missingNodes.clear();
    m_bModesReadable = TRUE;
    m_strModesText = kDefaultModesText;
    m_failures.clear();
    m_nFailEntries = 0;
    m_nLockstepNs = SIM_LOCKSTEP_START_NS;
    if (m_options.nPace == SIM_PACE_LOCKSTEP)
        m_nNextTickNs = SIM_LOCKSTEP_START_NS + GetTickPeriodNs();
    else
        m_nNextTickNs = MonotonicNs() + GetTickPeriodNs();
}

int64_t CSimHardware::NowNs()
{
    if (m_bLockstep.load())
        return m_nLockstepNs.load();
    return MonotonicNs();
}

int64_t CSimHardware::GetTickPeriodNs()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // One hardware timer paces the simulated machine: the one that runs.
    int nRate = m_eppPort.GetTickRate();
    if (!m_eppPort.IsTimerRunning()) {
        for (const CSimPCICard& card : m_aPCICards) {
            if (card.IsTimerRunning()) {
                nRate = card.GetTickRate();
                break;
            }
        }
    }
    // A FireWire board paces the machine with its frame beacon when nothing else does.
    if (!m_eppPort.IsTimerRunning() && nRate == m_eppPort.GetTickRate()) {
        bool bCard = false;
        for (const CSimPCICard& card : m_aPCICards)
            bCard = bCard || card.IsTimerRunning();
        int64_t nFrameNs = bCard ? 0 : SimFireWireBus().FramePeriodNs();
        if (nFrameNs > 0)
            return nFrameNs;
    }
    return 1000000000LL / nRate;
}

uint64_t CSimHardware::GetTickCount()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Sync();
    return m_nTicks;
}

void CSimHardware::LoseTicks(long nTicks)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_nLostTicks = nTicks;
}

void CSimHardware::OnTick()
{
    int64_t nPeriod = GetTickPeriodNs();
    BOOLEAN bLost = FALSE;
    if (m_nLostTicks < 0) {
        bLost = TRUE;
    } else if (m_nLostTicks > 0) {
        m_nLostTicks--;
        bLost = TRUE;
    }
    double dStep = (double)nPeriod * 1e-9;
    for (SIM_ARM_ENTRY& e : m_arms)
        e.pArm->Step(dStep);
    m_nTicks++;
    m_eppPort.OnTick(m_nNextTickNs, bLost);
    for (CSimPCICard& card : m_aPCICards)
        card.OnTick(m_nNextTickNs, bLost);
    if (!bLost)
        SimFireWireBus().OnTick();
}

void CSimHardware::AdvanceTo(int64_t nNs)
{
    if (m_options.nPace != SIM_PACE_LOCKSTEP && nNs - m_nNextTickNs > SIM_REALTIME_CATCHUP_NS) {
        // The process was away (stopped, swapped out): the arm rests through the gap.
        int64_t nPeriod = GetTickPeriodNs();
        int64_t nSkip = (nNs - m_nNextTickNs - SIM_REALTIME_CATCHUP_NS) / nPeriod;
        m_nNextTickNs += nSkip * nPeriod;
    }
    while (m_nNextTickNs <= nNs) {
        OnTick();
        m_nNextTickNs += GetTickPeriodNs();
    }
    if (m_options.nPace == SIM_PACE_LOCKSTEP && nNs > m_nLockstepNs.load())
        m_nLockstepNs = nNs;
}

void CSimHardware::Sync()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_options.nPace == SIM_PACE_LOCKSTEP)
        AdvanceTo(m_nLockstepNs.load());
    else
        AdvanceTo(MonotonicNs());
}

void CSimHardware::SpendBusTime(int64_t nNs)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_options.nPace == SIM_PACE_LOCKSTEP)
        AdvanceTo(m_nLockstepNs.load() + nNs);
    else
        Sync();
}

BOOLEAN CSimHardware::WaitForEPPInterrupt(int nTimeoutMs)
{
    return WaitForTick(-1, nTimeoutMs);
}

BOOLEAN CSimHardware::WaitForPCITick(int nUnit, int nTimeoutMs)
{
    if (nUnit < 0 || nUnit >= SIM_PCI_UNITS)
        return FALSE;
    return WaitForTick(nUnit, nTimeoutMs);
}

BOOLEAN CSimHardware::TickPending(int nSource)
{
    if (nSource < 0)
        return m_eppPort.PendingInterrupts() > 0 ? TRUE : FALSE;
    return m_aPCICards[nSource].PendingTicks() > 0 ? TRUE : FALSE;
}

BOOLEAN CSimHardware::WaitForTick(int nSource, int nTimeoutMs)
{
    std::unique_lock<std::recursive_mutex> lock(m_mutex);
    Sync();
    int64_t nStart = NowNs();
    // A wait without limit still ends in lockstep, where nothing else would move time on.
    int64_t nLimitNs = (nTimeoutMs < 0) ? 60LL * 1000000000LL : (int64_t)nTimeoutMs * 1000000LL;
    int64_t nDeadline = nStart + nLimitNs;
    for (;;) {
        if (TickPending(nSource))
            return TRUE;
        if (m_options.nPace == SIM_PACE_LOCKSTEP) {
            if (m_nNextTickNs > nDeadline) {
                AdvanceTo(nDeadline);
                return FALSE;
            }
            AdvanceTo(m_nNextTickNs);
            continue;
        }
        int64_t nNow = MonotonicNs();
        if (nNow >= nDeadline && nTimeoutMs >= 0)
            return FALSE;
        int64_t nWake = m_nNextTickNs < nDeadline ? m_nNextTickNs : nDeadline;
        struct timespec ts;
        ts.tv_sec = (time_t)(nWake / 1000000000LL);
        ts.tv_nsec = (long)(nWake % 1000000000LL);
        lock.unlock();
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        lock.lock();
        Sync();
    }
}

BOOLEAN CSimHardware::EntryOf(const CKinetorDevice& config, SIM_ARM_ENTRY& entry)
{
    memset(&entry, 0, sizeof(entry));
    entry.nConfigIndex = config.m_nIndex;
    BOOLEAN bGimbal = (config.m_nChannelSelect == 2 || config.m_nChannelSelect == 3 ||
                       config.m_nModelType == KINETOR_MODEL_BRAVIS ||
                       config.m_nModelType == KINETOR_MODEL_ALTURA_6DOF ||
                       config.m_nModelType == KINETOR_MODEL_CIRREL)
                          ? TRUE
                          : FALSE;
    // The channel on the wire: the second device of a pair that shares a port or card.
    int nChannel = (config.m_nChannelSelect == 1 || config.m_nChannelSelect == 3) ? 1 : 0;
    switch (config.m_nCardType) {
    case KINETOR_CARD_EPP:
        entry.nBus = SIM_BUS_EPP;
        entry.nUnit = config.m_nEPPDevice ? config.m_nEPPDevice - 1 : 0;
        entry.nChannel = nChannel;
        entry.bGimbalEncoders = bGimbal;
        return TRUE;
    case KINETOR_CARD_DBLEPP:
        entry.nBus = SIM_BUS_EPP;
        entry.nUnit = config.m_nEPPDevice ? config.m_nEPPDevice - 1 : 0;
        entry.nChannel = 0;
        entry.bDouble = TRUE;
        return TRUE;
    case KINETOR_CARD_PCI:
        entry.nBus = SIM_BUS_PCI;
        entry.nUnit = config.m_nPCIDevice ? config.m_nPCIDevice - 1 : 0;
        entry.nChannel = nChannel;
        entry.bGimbalEncoders = bGimbal;
        return TRUE;
    case KINETOR_CARD_1394:
        entry.nBus = SIM_BUS_1394;
        entry.nUnit = config.m_n1394SerialNumber;
        entry.nChannel = 0;
        entry.bGimbalEncoders = bGimbal;
        return TRUE;
    default:
        return FALSE;
    }
}

SIM_ARM_ENTRY* CSimHardware::FindEntry(SIM_BUS nBus, ULONG nUnit, int nChannel)
{
    for (SIM_ARM_ENTRY& e : m_arms) {
        if (e.nBus == nBus && e.nUnit == nUnit && e.nChannel == nChannel)
            return &e;
    }
    return nullptr;
}

CSimArm* CSimHardware::AttachArm(const CKinetorDevice& config, int nConfigIndex)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SIM_ARM_ENTRY entry;
    if (!EntryOf(config, entry))
        return nullptr;
    entry.nConfigIndex = nConfigIndex;
    entry.pConfig = new CKinetorDevice(config);
    entry.pArm = new CSimArm(*entry.pConfig);
    entry.pArm->SetHand(m_options.nHand);
    SIM_ARM_ENTRY* pOld = FindEntry(entry.nBus, entry.nUnit, entry.nChannel);
    if (pOld) {
        // The port must not keep pointing at the arm that goes.
        for (int i = 0; i < SIM_EPP_MODULES; i++) {
            SIM_EPP_MODULE* pModule = m_eppPort.GetModule(i);
            if (pModule->pArm == pOld->pArm)
                pModule->pArm = nullptr;
        }

        for (size_t i = m_aliases.size(); i-- > 0;) {
            if (m_aliases[i].pArm == pOld->pArm)
                m_aliases.erase(m_aliases.begin() + (long)i);
        }
        delete pOld->pArm;
        delete pOld->pConfig;
        *pOld = entry;
    } else {
        m_arms.push_back(entry);
    }
    // The cards carry whatever arms are attached to them now.
    for (int nUnit = 0; nUnit < SIM_PCI_UNITS; nUnit++)
        WirePCICard(nUnit);
    return entry.pArm;
}

void CSimHardware::DeriveArms()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    CKinetorMgr mgr;
    CKinetorDevice* aDevices[KINETOR_MAX_CONFIGS] = {};
    int nDevices = mgr.EnumerateKinetors(aDevices);
    if (nDevices > KINETOR_MAX_CONFIGS)
        nDevices = KINETOR_MAX_CONFIGS;
    for (int i = 0; i < nDevices; i++) {
        CKinetorDevice* pDevice = aDevices[i];
        if (!pDevice)
            continue;
        SIM_ARM_ENTRY entry;
        // Enumeration runs in file-number order, so the first configuration seen for a
        // place on a bus is the lowest-numbered one and decides the arm's model.
        if (!pDevice->Read() || !EntryOf(*pDevice, entry))
            continue;
        SIM_ARM_ENTRY* pExisting = FindEntry(entry.nBus, entry.nUnit, entry.nChannel);
        if (!pExisting) {
            entry.pConfig = new CKinetorDevice(*pDevice);
            entry.pArm = new CSimArm(*entry.pConfig);
            entry.pArm->SetHand(m_options.nHand);
            m_arms.push_back(entry);
        } else if (strncmp(pExisting->pConfig->m_szName, pDevice->m_szName, KINETOR_NAME_SIZE) != 0) {
            std::string strName(pDevice->m_szName, strnlen(pDevice->m_szName, KINETOR_NAME_SIZE));
            bool bKnown = false;
            for (const ALIAS& a : m_aliases)
                bKnown = bKnown || (a.strName == strName && a.pArm == pExisting->pArm);
            if (!bKnown)
                m_aliases.push_back(ALIAS{strName, pExisting->pArm});
        }
    }
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++)
        delete aDevices[i];
}

CSimArm* CSimHardware::FindArm(SIM_BUS nBus, ULONG nUnit, int nChannel)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    SIM_ARM_ENTRY* p = FindEntry(nBus, nUnit, nChannel);
    return p ? p->pArm : nullptr;
}

CSimArm* CSimHardware::FindArmByName(const char* pszName)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!pszName)
        return nullptr;
    for (SIM_ARM_ENTRY& e : m_arms) {
        if (strncmp(e.pConfig->m_szName, pszName, KINETOR_NAME_SIZE) == 0)
            return e.pArm;
    }
    for (const ALIAS& a : m_aliases) {
        if (strncmp(a.strName.c_str(), pszName, KINETOR_NAME_SIZE) == 0)
            return a.pArm;
    }
    return nullptr;
}

size_t CSimHardware::GetArmCount()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_arms.size();
}

void CSimHardware::SetEPPUnit(long nUnit)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_nEPPUnit = nUnit;
}

void CSimHardware::WireEPPPort()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    long nUnit = m_nEPPUnit;
    if (nUnit < 0) {
        int nLowest = -1;
        for (const SIM_ARM_ENTRY& e : m_arms) {
            if (e.nBus == SIM_BUS_EPP && (nLowest < 0 || e.nConfigIndex < nLowest)) {
                nLowest = e.nConfigIndex;
                nUnit = (long)e.nUnit;
            }
        }
    }
    SIM_ARM_ENTRY* pFirst = nullptr;
    SIM_ARM_ENTRY* pSecond = nullptr;
    if (nUnit >= 0) {
        pFirst = FindEntry(SIM_BUS_EPP, (ULONG)nUnit, 0);
        pSecond = FindEntry(SIM_BUS_EPP, (ULONG)nUnit, 1);
    }
    int64_t nNow = NowNs();
    // A sweep from address 0 meets the first module: a lone channel-1 device sits there.
    if (!pFirst) {
        pFirst = pSecond;
        pSecond = nullptr;
    }
    CSimArm* pOld0 = m_eppPort.GetModule(0)->pArm;
    CSimArm* pOld1 = m_eppPort.GetModule(1)->pArm;
    CSimArm* pNew0 = pFirst ? pFirst->pArm : nullptr;
    CSimArm* pNew1 = nullptr;
    int nBase1 = 0;
    BOOLEAN bPots1 = FALSE;
    SIM_ARM_ENTRY* pEntry1 = nullptr;
    if (pFirst && pFirst->bDouble) {
        pNew1 = pFirst->pArm;
        nBase1 = 3;
        pEntry1 = pFirst;
    } else if (pSecond) {
        pNew1 = pSecond->pArm;
        bPots1 = pSecond->bGimbalEncoders;
        pEntry1 = pSecond;
    }
    // The configuration says whether the board carries the amplifiers' timeout circuit.
    BOOLEAN bTimeout0 = (pFirst && pFirst->pConfig->m_nTimeoutCircuit) ? TRUE : FALSE;
    BOOLEAN bTimeout1 = (pEntry1 && pEntry1->pConfig->m_nTimeoutCircuit) ? TRUE : FALSE;
    // Modules already on the chain keep their registers; only new ones power up.
    if (pOld0 != pNew0 || !pNew0)
        m_eppPort.SetModule(0, pNew0, 0, pFirst ? pFirst->bGimbalEncoders : FALSE, bTimeout0, nNow);
    if (pOld1 != pNew1 || !pNew1)
        m_eppPort.SetModule(1, pNew1, nBase1, bPots1, bTimeout1, nNow);
}

CSimPCICard* CSimHardware::PCICard(int nUnit)
{
    if (nUnit < 0 || nUnit >= SIM_PCI_UNITS)
        return nullptr;
    return &m_aPCICards[nUnit];
}

void CSimHardware::WirePCICard(int nUnit)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (nUnit < 0 || nUnit >= SIM_PCI_UNITS)
        return;
    SIM_ARM_ENTRY* pFirst = FindEntry(SIM_BUS_PCI, (ULONG)nUnit, 0);
    SIM_ARM_ENTRY* pSecond = FindEntry(SIM_BUS_PCI, (ULONG)nUnit, 1);
    // The configuration says whether the arm's board carries the amplifiers' timeout circuit.
    m_aPCICards[nUnit].SetArms(pFirst ? pFirst->pArm : nullptr, pFirst ? pFirst->bGimbalEncoders : FALSE,
                               pSecond ? pSecond->pArm : nullptr,
                               (pFirst && pFirst->pConfig->m_nTimeoutCircuit) ? TRUE : FALSE,
                               (pSecond && pSecond->pConfig->m_nTimeoutCircuit) ? TRUE : FALSE);
}

BOOLEAN CSimHardware::NodePresent(const char* pszPath)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!pszPath)
        return FALSE;
    for (const std::string& s : m_missingNodes) {
        if (s == pszPath)
            return FALSE;
    }
    return TRUE;
}

void CSimHardware::SetNodePresent(const char* pszPath, BOOLEAN bPresent)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!pszPath)
        return;
    for (size_t i = 0; i < m_missingNodes.size(); i++) {
        if (m_missingNodes[i] == pszPath) {
            m_missingNodes.erase(m_missingNodes.begin() + (long)i);
            break;
        }
    }
    if (!bPresent)
        m_missingNodes.push_back(pszPath);
}

void CSimHardware::SetEPPModesText(const char* pszText)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_bModesReadable = pszText ? TRUE : FALSE;
    m_strModesText = pszText ? pszText : "";
}

BOOLEAN CSimHardware::GetEPPModesText(std::string& strText)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    strText = m_strModesText;
    return m_bModesReadable;
}

void CSimHardware::FailRequest(const char* pszName, int nTimes, int nErrno)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!pszName)
        return;
    for (FAIL_ENTRY& f : m_failures) {
        if (f.strName == pszName) {
            f.nTimes = nTimes;
            f.nErrno = nErrno;
            return;
        }
    }
    m_failures.push_back(FAIL_ENTRY{pszName, nTimes, nErrno});
    m_nFailEntries = m_failures.size();
}

BOOLEAN CSimHardware::ShouldFail(const char* pszName)
{
    if (m_nFailEntries == 0)
        return FALSE;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (FAIL_ENTRY& f : m_failures) {
        if (f.strName == pszName && f.nTimes != 0) {
            if (f.nTimes > 0)
                f.nTimes--;
            errno = f.nErrno;
            return TRUE;
        }
    }
    return FALSE;
}

void SimDeviceClock(struct timespec* pts)
{
    if (!pts)
        return;
    int64_t nNs = CSimHardware::Instance().NowNs();
    pts->tv_sec = (time_t)(nNs / 1000000000LL);
    pts->tv_nsec = (long)(nNs % 1000000000LL);
}

void CSimHardware::Get1394Serials(std::vector<ULONG>& serials)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    serials.clear();
    for (const SIM_ARM_ENTRY& e : m_arms) {
        if (e.nBus == SIM_BUS_1394)
            serials.push_back(e.nUnit);
    }
}

int64_t CSimHardware::GetNextTickNs()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_nNextTickNs;
}
