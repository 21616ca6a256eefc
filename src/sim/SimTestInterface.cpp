#include "sim/SimTestInterface.h"

#include <errno.h>
#include <string.h>

#include <mutex>

#include "hal/DeviceNodes.h"
#include "sim/SimDeviceNodes.h"
#include "sim/SimHardware.h"

void SimActivate(const char* pszOptions)
{
    SIM_OPTIONS options;
    SimParseOptions(pszOptions, &options, nullptr, 0);
    CSimHardware::Instance().Configure(options);
    OverrideDeviceNodes(&SimDeviceNodes());
}

CSimLock::CSimLock()
{
    CSimHardware::Instance().Mutex().lock();
}

CSimLock::~CSimLock()
{
    CSimHardware::Instance().Mutex().unlock();
}

void SimDeactivate()
{
    SIM_OPTIONS options;
    SimDefaultOptions(&options);
    CSimHardware::Instance().Configure(options);
    OverrideDeviceNodes(nullptr);
}

void SimReset()
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    SimDeviceNodes().Reset();
    hw.Reset();
}

void SimSetOptions(const SIM_OPTIONS& options)
{
    CSimHardware::Instance().Configure(options);
}

SIM_OPTIONS SimGetOptions()
{
    return CSimHardware::Instance().GetOptions();
}

void SimDeriveArms()
{
    CSimHardware::Instance().DeriveArms();
}

CSimArm* SimAttachArm(const CKinetorDevice& config, int nConfigIndex)
{
    return CSimHardware::Instance().AttachArm(config, nConfigIndex);
}

CSimArm* SimFindArm(const char* pszName)
{
    return CSimHardware::Instance().FindArmByName(pszName);
}

CSimArm* SimFindEPPArm(ULONG nUnit, int nChannel)
{
    return CSimHardware::Instance().FindArm(SIM_BUS_EPP, nUnit, nChannel);
}

void SimSetEPPUnit(long nUnit)
{
    CSimHardware::Instance().SetEPPUnit(nUnit);
}

int64_t SimNowNs()
{
    return CSimHardware::Instance().NowNs();
}

uint64_t SimTickCount()
{
    return CSimHardware::Instance().GetTickCount();
}

void SimAdvance(int64_t nNs)
{
    CSimHardware& hw = CSimHardware::Instance();
    if (nNs <= 0)
        return;
    if (hw.GetOptions().nPace == SIM_PACE_LOCKSTEP) {
        hw.SpendBusTime(nNs);
    } else {
        struct timespec ts;
        ts.tv_sec = (time_t)(nNs / 1000000000LL);
        ts.tv_nsec = (long)(nNs % 1000000000LL);
        nanosleep(&ts, nullptr);
        hw.Sync();
    }
}

void SimLoseTicks(long nTicks)
{
    CSimHardware::Instance().LoseTicks(nTicks);
}

void SimGetEPPState(SIM_EPP_STATE* pState)
{
    if (!pState)
        return;
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    hw.Sync();
    CSimEPPPort& port = hw.EPPPort();
    pState->bClaimed = port.IsClaimed();
    pState->nMode = port.GetMode();
    pState->ucControl = port.GetControl();
    pState->nDataDir = port.GetDataDir();
    pState->ucAddress = port.GetAddress();
    pState->nPendingInterrupts = port.PendingInterrupts();
    pState->nTickRate = port.GetTickRate();
    pState->bTimerRunning = port.IsTimerRunning();
    pState->nOpenDescriptors = SimDeviceNodes().OpenPortCount();
}

BOOLEAN SimGetEPPOutputBlock(int nModule, UCHAR* pucOut)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    SIM_EPP_MODULE* pModule = hw.EPPPort().GetModule(nModule);
    if (!pModule || !pucOut)
        return FALSE;
    memcpy(pucOut, pModule->aucOut, SIM_EPP_OUTPUT_SIZE);
    return TRUE;
}

ULONG SimGetEPPBlockReads(int nModule)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    SIM_EPP_MODULE* pModule = hw.EPPPort().GetModule(nModule);
    return pModule ? pModule->nBlockReads : 0;
}

int SimGetEPPDACWord(int nMotor)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    return hw.EPPPort().GetDACWord(nMotor);
}

int SimGetEPPDACWordsReceived(int nMotor, int* pnWords, int nMax)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    int nCount = 0;
    for (int nWord = 0; nWord <= 4095; nWord++) {
        if (!hw.EPPPort().WasDACWordReceived(nMotor, nWord))
            continue;
        if (pnWords != nullptr && nCount < nMax)
            pnWords[nCount] = nWord;
        nCount++;
    }
    return nCount;
}

void SimClearEPPDACWordsReceived()
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    hw.EPPPort().ClearDACWordsReceived();
}

UCHAR SimGetEPPWatchdogCounter(int nModule)
{
    UCHAR aucOut[SIM_EPP_OUTPUT_SIZE];
    if (!SimGetEPPOutputBlock(nModule, aucOut))
        return 0;
    return aucOut[SIM_EPP_OUTPUT_SIZE - 1];
}

BOOLEAN SimGetEPPWatchdogSatisfied(int nModule)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    hw.Sync();
    return hw.EPPPort().WatchdogSatisfied(nModule, hw.NowNs());
}

void SimInjectEPPEchoErrors(int nModule, int nReads)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    SIM_EPP_MODULE* pModule = hw.EPPPort().GetModule(nModule);
    if (pModule)
        pModule->nEchoErrors = nReads < 0 ? 0 : nReads;
}

void SimSetEPPSilent(int nModule, BOOLEAN bSilent)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    SIM_EPP_MODULE* pModule = hw.EPPPort().GetModule(nModule);
    if (pModule) {
        pModule->bSilent = bSilent;
        hw.EPPPort().ApplyOutputs(hw.NowNs());
    }
}

void SimSetEPPModuleFault(int nModule, BOOLEAN bFault)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    SIM_EPP_MODULE* pModule = hw.EPPPort().GetModule(nModule);
    if (pModule)
        pModule->bFault = bFault ? TRUE : FALSE;
}

void SimSetEPPModuleSpeedError(int nModule, int nAxis, BOOLEAN bError)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    SIM_EPP_MODULE* pModule = hw.EPPPort().GetModule(nModule);
    if (!pModule || nAxis < 0 || nAxis > 2)
        return;
    UCHAR ucBit = (UCHAR)(0x10 << nAxis);
    if (bError)
        pModule->ucSpeedErrs |= ucBit;
    else
        pModule->ucSpeedErrs &= (UCHAR)~ucBit;
}

BOOLEAN SimGetEPPModuleAmplifiers(int nModule)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    hw.Sync();
    SIM_EPP_MODULE* pModule = hw.EPPPort().GetModule(nModule);
    return pModule ? pModule->bAmpsEnabled : FALSE;
}

void SimSetEPPNeedsDirectionSwitch(BOOLEAN bNeeds)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    hw.EPPPort().SetNeedsDirectionSwitch(bNeeds);
}

void SimSetEPPModesText(const char* pszText)
{
    CSimHardware::Instance().SetEPPModesText(pszText);
}

void SimSetNodePresent(const char* pszPath, BOOLEAN bPresent)
{
    CSimHardware::Instance().SetNodePresent(pszPath, bPresent);
}

void SimFailRequest(const char* pszName, int nTimes)
{
    CSimHardware::Instance().FailRequest(pszName, nTimes, EIO);
}

void SimFailRequestWith(const char* pszName, int nTimes, int nErrno)
{
    CSimHardware::Instance().FailRequest(pszName, nTimes, nErrno);
}

CSimArm* SimFindPCIArm(ULONG nUnit, int nChannel)
{
    return CSimHardware::Instance().FindArm(SIM_BUS_PCI, nUnit, nChannel);
}

BOOLEAN SimGetPCIState(int nUnit, SIM_PCI_STATE* pState)
{
    CSimHardware& hw = CSimHardware::Instance();
    std::lock_guard<std::recursive_mutex> lock(hw.Mutex());
    CSimPCICard* pCard = hw.PCICard(nUnit);
    if (!pCard || !pState)
        return FALSE;
    hw.Sync();
    pState->ucControl = pCard->GetControl();
    for (int i = 0; i < 8; i++)
        pState->anDAC[i] = pCard->GetDAC(i);
    for (int i = 0; i < 6; i++)
        pState->ausCounters[i] = pCard->GetCounter(i);
    for (int g = 0; g < 2; g++)
        pState->abAmplifierGroupOn[g] = pCard->IsAmplifierGroupOn(g);
    pState->bTimerRunning = pCard->IsTimerRunning();
    pState->nTickRate = pCard->GetTickRate();
    pState->nPendingTicks = pCard->PendingTicks();
    pState->nOpenDescriptors = SimDeviceNodes().OpenCardCount(nUnit);
    return TRUE;
}
