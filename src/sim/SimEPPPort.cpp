#include "sim/SimEPPPort.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <linux/parport.h>

namespace {

// Offsets inside the input block, in wire order.
const int kInQuad1 = 0;
const int kInQuad2 = 2;
const int kInQuad0 = 4;
const int kInPot0 = 6;
const int kInPot1 = 8;
const int kInPot2 = 10;
const int kInTimerCnt = 12;
const int kInMiscIn = 13;
const int kInWatchdog = 14;
const int kInSpeedErrs = 15;
// Offsets inside the output block.
const int kOutMisc = 6;
const int kOutWatchdog = 7;

const UCHAR kFloatingBus = 0xFF;

void PutWord(UCHAR* p, int nOffset, USHORT us)
{
    p[nOffset] = (UCHAR)(us & 0xFF);
    p[nOffset + 1] = (UCHAR)(us >> 8);
}

}  // namespace

CSimEPPPort::CSimEPPPort()
{
    Reset();
}

void CSimEPPPort::Reset()
{
    memset(m_aModules, 0, sizeof(m_aModules));
    for (int i = 0; i < SIM_EPP_MODULES; i++) {
        // DACs at zero torque until the host writes.
        for (int d = 0; d < 3; d++)
            PutWord(m_aModules[i].aucOut, 2 * d, 2047);
        m_aModules[i].nAmpLineFallNs = INT64_MIN;
    }
    m_bClaimed = FALSE;
    m_nMode = 0;
    m_ucControl = 0;
    m_nDataDir = 0;
    m_ucLatch = 0;
    m_ucAddress = 0;
    m_nIrqCount = 0;
    m_bNeedsDirSwitch = TRUE;
    ClearDACWordsReceived();
}

bool CSimEPPPort::WasDACWordReceived(int nMotor, int nWord) const
{
    if (nMotor < 0 || nMotor >= SIM_EPP_MODULES * 3 || nWord < 0 || nWord > 4095)
        return false;
    return m_abDACReceived[nMotor][nWord];
}

void CSimEPPPort::ClearDACWordsReceived()
{
    memset(m_abDACReceived, 0, sizeof(m_abDACReceived));
}

void CSimEPPPort::SetModule(int nModule, CSimArm* pArm, int nMotorBase, BOOLEAN bGimbalEncodersOnPots,
                            BOOLEAN bTimeoutCircuit, int64_t nNowNs)
{
    if (nModule < 0 || nModule >= SIM_EPP_MODULES)
        return;
    SIM_EPP_MODULE& m = m_aModules[nModule];
    m.pArm = pArm;
    m.nMotorBase = nMotorBase;
    m.bGimbalEncodersOnPots = bGimbalEncodersOnPots;
    m.bTimeoutCircuit = bTimeoutCircuit;
    m.nLastWatchdogChangeNs = nNowNs;
    m.bAmpLineHigh = FALSE;
    m.nAmpLineFallNs = INT64_MIN;
}

SIM_EPP_MODULE* CSimEPPPort::GetModule(int nModule)
{
    if (nModule < 0 || nModule >= SIM_EPP_MODULES)
        return nullptr;
    return &m_aModules[nModule];
}

int CSimEPPPort::Claim()
{
    if (m_bClaimed) {
        errno = EBUSY;
        return -1;
    }
    m_bClaimed = TRUE;
    return 0;
}

int CSimEPPPort::Release()
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    m_bClaimed = FALSE;
    return 0;
}

int CSimEPPPort::SetMode(int nMode)
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    m_nMode = nMode;
    return 0;
}

int CSimEPPPort::Negotiate(int nMode)
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    (void)nMode;
    return 0;
}

int CSimEPPPort::ReadControl(UCHAR* pucControl)
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    *pucControl = m_ucControl;
    return 0;
}

int CSimEPPPort::WriteControl(UCHAR ucControl)
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    m_ucControl = ucControl;
    return 0;
}

int CSimEPPPort::FrobControl(UCHAR ucMask, UCHAR ucVal)
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    m_ucControl = (UCHAR)((m_ucControl & ~ucMask) | (ucVal & ucMask));
    return 0;
}

int CSimEPPPort::SetDataDir(int nReverse)
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    m_nDataDir = nReverse ? 1 : 0;
    return 0;
}

int CSimEPPPort::ClearIrq(int* pnCount)
{
    *pnCount = m_nIrqCount;
    m_nIrqCount = 0;
    return 0;
}

BOOLEAN CSimEPPPort::WatchdogSatisfied(int nModule, int64_t nNowNs) const
{
    if (nModule < 0 || nModule >= SIM_EPP_MODULES)
        return FALSE;
    return (nNowNs - m_aModules[nModule].nLastWatchdogChangeNs) <= SIM_EPP_WATCHDOG_WINDOW_NS ? TRUE
                                                                                            : FALSE;
}

void CSimEPPPort::LatchInputBlock(int nModule, int64_t nNowNs)
{
    SIM_EPP_MODULE& m = m_aModules[nModule];
    UCHAR* p = m.aucSnapshot;
    memset(p, kFloatingBus, SIM_EPP_INPUT_SIZE);
    if (!m.pArm || m.bSilent)
        return;
    const CSimArm& arm = *m.pArm;
    int nBase = m.nMotorBase;
    PutWord(p, kInQuad1, arm.GetEncoderCounter(nBase + 1));
    PutWord(p, kInQuad2, arm.GetEncoderCounter(nBase + 2));
    PutWord(p, kInQuad0, arm.GetEncoderCounter(nBase + 0));
    if (nBase == 0 && m.bGimbalEncodersOnPots) {
        PutWord(p, kInPot0, arm.GetEncoderCounter(3));
        PutWord(p, kInPot1, arm.GetEncoderCounter(4));
        PutWord(p, kInPot2, arm.GetEncoderCounter(5));
    } else {
        PutWord(p, kInPot0, arm.GetPinchRaw());
        PutWord(p, kInPot1, 0);
        PutWord(p, kInPot2, 0);
    }
    p[kInTimerCnt] = m.ucTimerCnt;

    UCHAR ucMisc = 0;
    if (!arm.GetPresence())
        ucMisc |= 0x01;
    if (!arm.GetStylusSwitch(0))
        ucMisc |= 0x02;
    if (nBase == 0) {
        // Home sensor lines: axis 1 on 0x04, axis 2 on 0x08, axis 0 on 0x10; low = active.
        if (!arm.GetHomeSensor(1))
            ucMisc |= 0x04;
        if (!arm.GetHomeSensor(2))
            ucMisc |= 0x08;
        if (!arm.GetHomeSensor(0))
            ucMisc |= 0x10;
    } else {
        ucMisc |= 0x04 | 0x08 | 0x10;
    }
    if (arm.GetDeviceFault() || m.bFault)
        ucMisc |= 0x20;
    if (WatchdogSatisfied(nModule, nNowNs))
        ucMisc |= 0x40;
    p[kInMiscIn] = ucMisc;

    p[kInWatchdog] = m.aucOut[kOutWatchdog];

    UCHAR ucSpeed = (UCHAR)(arm.GetHardwareRevNum() & 0x0F);
    if (nBase == 0) {
        for (int nAxis = 0; nAxis < 3; nAxis++) {
            if (arm.GetSpeedError(nAxis))
                ucSpeed |= (UCHAR)(0x10 << nAxis);
        }
    }
    ucSpeed |= (UCHAR)(m.ucSpeedErrs & 0x70);
    p[kInSpeedErrs] = ucSpeed;
}

UCHAR CSimEPPPort::ReadRegister(UCHAR ucAddress)
{
    int nModule = ucAddress / SIM_EPP_MODULE_SPAN;
    int nOffset = ucAddress % SIM_EPP_MODULE_SPAN;
    if (nModule >= SIM_EPP_MODULES)
        return kFloatingBus;
    const SIM_EPP_MODULE& m = m_aModules[nModule];
    if (!m.pArm || m.bSilent)
        return kFloatingBus;
    if (nOffset < SIM_EPP_INPUT_SIZE)
        return m.aucSnapshot[nOffset];
    return m.aucOut[nOffset - SIM_EPP_INPUT_SIZE];
}

void CSimEPPPort::WriteRegister(UCHAR ucAddress, UCHAR ucValue, int64_t nNowNs)
{
    int nModule = ucAddress / SIM_EPP_MODULE_SPAN;
    int nOffset = ucAddress % SIM_EPP_MODULE_SPAN;
    if (nModule >= SIM_EPP_MODULES || nOffset < SIM_EPP_INPUT_SIZE)
        return;
    SIM_EPP_MODULE& m = m_aModules[nModule];
    if (!m.pArm || m.bSilent)
        return;
    int nReg = nOffset - SIM_EPP_INPUT_SIZE;
    if (nReg == kOutWatchdog && m.aucOut[nReg] != ucValue)
        m.nLastWatchdogChangeNs = nNowNs;
    m.aucOut[nReg] = ucValue;
    if (nReg == kOutWatchdog)
        m.nBlockWrites++;
}

ssize_t CSimEPPPort::Read(UCHAR* pBuffer, size_t nCount, int64_t nNowNs)
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    if (!(m_nMode & IEEE1284_MODE_EPP)) {
        // No EPP cycles: the device never sees the read.
        for (size_t i = 0; i < nCount; i++)
            pBuffer[i] = kFloatingBus;
        return (ssize_t)nCount;
    }
    if (m_nMode & IEEE1284_ADDR) {
        for (size_t i = 0; i < nCount; i++)
            pBuffer[i] = m_ucAddress;
        return (ssize_t)nCount;
    }
    // A read that starts inside an input block (the talk test reads the echo alone) sees
    // the registers as they are now.
    {
        int nModule = m_ucAddress / SIM_EPP_MODULE_SPAN;
        int nOffset = m_ucAddress % SIM_EPP_MODULE_SPAN;
        if (nModule < SIM_EPP_MODULES && nOffset > 0 && nOffset < SIM_EPP_INPUT_SIZE)
            LatchInputBlock(nModule, nNowNs);
    }
    BOOLEAN bDeviceDrives = (m_nDataDir == 1 || !m_bNeedsDirSwitch) ? TRUE : FALSE;
    for (size_t i = 0; i < nCount; i++) {
        int nModule = m_ucAddress / SIM_EPP_MODULE_SPAN;
        int nOffset = m_ucAddress % SIM_EPP_MODULE_SPAN;
        if (nModule < SIM_EPP_MODULES && nOffset == 0) {
            // A block read: the device latches the whole block so its fields agree.
            LatchInputBlock(nModule, nNowNs);
            SIM_EPP_MODULE& m = m_aModules[nModule];
            if (m.pArm && !m.bSilent) {
                m.nBlockReads++;
                if (m.nEchoErrors > 0) {
                    m.nEchoErrors--;
                    m.aucSnapshot[kInWatchdog] = (UCHAR)(m.aucSnapshot[kInWatchdog] ^ 0x5A);
                }
            }
        }
        UCHAR ucValue = ReadRegister(m_ucAddress);
        pBuffer[i] = bDeviceDrives ? ucValue : m_ucLatch;
        m_ucAddress++;
    }
    return (ssize_t)nCount;
}

ssize_t CSimEPPPort::Write(const UCHAR* pBuffer, size_t nCount, int64_t nNowNs)
{
    if (!m_bClaimed) {
        errno = EINVAL;
        return -1;
    }
    if (nCount == 0)
        return 0;
    m_ucLatch = pBuffer[nCount - 1];
    if (!(m_nMode & IEEE1284_MODE_EPP))
        return (ssize_t)nCount;
    if (m_nMode & IEEE1284_ADDR) {
        m_ucAddress = pBuffer[nCount - 1];
        return (ssize_t)nCount;
    }
    for (size_t i = 0; i < nCount; i++) {
        WriteRegister(m_ucAddress, pBuffer[i], nNowNs);
        m_ucAddress++;
    }
    ApplyOutputs(nNowNs);
    return (ssize_t)nCount;
}

void CSimEPPPort::ApplyModule(int nModule, int64_t nNowNs)
{
    SIM_EPP_MODULE& m = m_aModules[nModule];
    if (!m.pArm)
        return;
    // The wire carries the 12-bit DAC words the transport made from the library's
    // offset-binary words: dac12 = 4095 - (word >> 4).
    for (int i = 0; i < 3; i++) {
        int nWord = (m.aucOut[2 * i] | (m.aucOut[2 * i + 1] << 8)) & 0x0FFF;
        long lDac = ((long)(4095 - nWord) << 4) - 32768L;
        m.pArm->SetMotorDAC(m.nMotorBase + i, lDac);
        if (m.nMotorBase + i < SIM_EPP_MODULES * 3)
            m_abDACReceived[m.nMotorBase + i][nWord] = true;
    }
    UCHAR ucMisc = m.aucOut[kOutMisc];
    // Every module has its own enable line and watchdog; one arm has one set of amplifiers
    // in this model, switched by its base module, while a chained gimbal module's group is
    // only recorded.
    BOOLEAN bLineHigh = (ucMisc & 0x08) ? TRUE : FALSE;
    if (m.bAmpLineHigh && !bLineHigh)
        m.nAmpLineFallNs = nNowNs;
    m.bAmpLineHigh = bLineHigh;
    bool bHeld = bLineHigh || (m.bTimeoutCircuit && m.nAmpLineFallNs != INT64_MIN &&
                               nNowNs - m.nAmpLineFallNs < SIM_EPP_AMP_HOLD_NS);
    bool bEnabled = bHeld && !m.bSilent && WatchdogSatisfied(nModule, nNowNs);
    m.bAmpsEnabled = bEnabled ? TRUE : FALSE;
    if (m.nMotorBase == 0)
        m.pArm->SetAmplifiersEnabled(bEnabled);
    if (ucMisc & 0x10) {
        // On a chain that serves one arm with two modules, each resets its own three
        // counters; a lone module resets every counter it reports.
        BOOLEAN bChained = FALSE;
        for (const SIM_EPP_MODULE& other : m_aModules) {
            if (&other != &m && other.pArm == m.pArm)
                bChained = TRUE;
        }
        if (bChained)
            m.pArm->ResetEncoders(m.nMotorBase, 3);
        else
            m.pArm->ResetEncoders();
    }
}

void CSimEPPPort::ApplyOutputs(int64_t nNowNs)
{
    // A chain whose two modules serve one arm applies the base module last, so that the
    // amplifier state of the arm is the base module's.
    for (int i = SIM_EPP_MODULES - 1; i >= 0; i--)
        ApplyModule(i, nNowNs);
}

int CSimEPPPort::GetDACWord(int nMotor) const
{
    for (int i = 0; i < SIM_EPP_MODULES; i++) {
        const SIM_EPP_MODULE& m = m_aModules[i];
        if (m.pArm && nMotor >= m.nMotorBase && nMotor < m.nMotorBase + 3) {
            int k = nMotor - m.nMotorBase;
            return (m.aucOut[2 * k] | (m.aucOut[2 * k + 1] << 8)) & 0x0FFF;
        }
    }
    return 2047;
}

BOOLEAN CSimEPPPort::IsTimerRunning() const
{
    const SIM_EPP_MODULE& m = m_aModules[0];
    return (m.pArm && !m.bSilent && (m.aucOut[kOutMisc] & 0xC0) == 0xC0) ? TRUE : FALSE;
}

int CSimEPPPort::GetTickRate() const
{
    return (m_aModules[0].aucOut[kOutMisc] & 0x20) ? 2000 : 1000;
}

void CSimEPPPort::OnTick(int64_t nNowNs, BOOLEAN bLost)
{
    for (int i = 0; i < SIM_EPP_MODULES; i++) {
        if (m_aModules[i].pArm)
            m_aModules[i].ucTimerCnt++;
    }
    if (!bLost && IsTimerRunning() && IsInterruptEnabled())
        m_nIrqCount++;
    ApplyOutputs(nNowNs);
}
