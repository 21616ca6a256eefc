#include "sim/SimPCICard.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

CSimPCICard::CSimPCICard()
{
    Reset();
}

void CSimPCICard::Reset()
{
    m_apArm[0] = m_apArm[1] = nullptr;
    m_bChannel0Gimbal = FALSE;
    // Power-up: both amplifier groups off, timer off.
    m_ucControl = SIM_PCI_TC_AMP0_OFF | SIM_PCI_TC_AMP1_OFF;
    for (int i = 0; i < SIM_PCI_DACS; i++)
        m_anDAC[i] = 2048;
    m_nPendingTicks = 0;
    for (int g = 0; g < 2; g++) {
        m_abTimeout[g] = FALSE;
        m_abLineHigh[g] = FALSE;
        m_anLineFallNs[g] = INT64_MIN;
        m_abGroupOn[g] = FALSE;
    }
}

void CSimPCICard::SetArms(CSimArm* pChannel0, BOOLEAN bChannel0Gimbal, CSimArm* pChannel1, BOOLEAN bTimeout0,
                          BOOLEAN bTimeout1)
{
    m_apArm[0] = pChannel0;
    m_bChannel0Gimbal = bChannel0Gimbal;
    m_apArm[1] = pChannel1;
    m_abTimeout[0] = bTimeout0;
    // The second group belongs to channel 1's arm, or else to channel 0's gimbal.
    m_abTimeout[1] = pChannel1 ? bTimeout1 : bTimeout0;
}

BOOLEAN CSimPCICard::IsAmplifierGroupOn(int nGroup) const
{
    if (nGroup < 0 || nGroup > 1)
        return FALSE;
    return m_abGroupOn[nGroup];
}

void CSimPCICard::TrackEnableLines(int64_t nNowNs)
{
    const UCHAR aucOff[2] = {SIM_PCI_TC_AMP0_OFF, SIM_PCI_TC_AMP1_OFF};
    for (int g = 0; g < 2; g++) {
        BOOLEAN bHigh = (m_ucControl & aucOff[g]) ? FALSE : TRUE;
        if (m_abLineHigh[g] && !bHigh)
            m_anLineFallNs[g] = nNowNs;
        m_abLineHigh[g] = bHigh;
        bool bHeld = m_abTimeout[g] && m_anLineFallNs[g] != INT64_MIN &&
                     nNowNs - m_anLineFallNs[g] < SIM_PCI_AMP_HOLD_NS;
        m_abGroupOn[g] = (bHigh || bHeld) ? TRUE : FALSE;
    }
}

bool CSimPCICard::Route(int nChannel, CSimArm*& pArm, int& nMotor) const
{
    if (nChannel < 0 || nChannel >= SIM_PCI_COUNTERS)
        return false;
    if (nChannel < 3) {
        pArm = m_apArm[0];
        nMotor = nChannel;
    } else if (m_apArm[1]) {
        pArm = m_apArm[1];
        nMotor = nChannel - 3;
    } else if (m_bChannel0Gimbal) {
        pArm = m_apArm[0];
        nMotor = nChannel;
    } else {
        pArm = nullptr;
    }
    return pArm != nullptr;
}

USHORT CSimPCICard::GetCounter(int nChannel) const
{
    CSimArm* pArm = nullptr;
    int nMotor = 0;
    if (!Route(nChannel, pArm, nMotor))
        return 0;
    return (USHORT)(0x10000u - pArm->GetEncoderCounter(nMotor));
}

int CSimPCICard::GetDAC(int nChannel) const
{
    if (nChannel < 0 || nChannel >= SIM_PCI_DACS)
        return 2048;
    return m_anDAC[nChannel];
}

void CSimPCICard::Apply(int64_t nNowNs)
{
    TrackEnableLines(nNowNs);
    for (int i = 0; i < SIM_PCI_COUNTERS; i++) {
        CSimArm* pArm = nullptr;
        int nMotor = 0;
        if (Route(i, pArm, nMotor))
            pArm->SetMotorDAC(nMotor, ((long)m_anDAC[i] << 4) - 32768L);
    }
    if (m_apArm[0]) {
        bool bOn = m_abGroupOn[0] != FALSE;
        // A channel-0 arm with gimbal motors on the card needs both groups; gimbal encoders
        // alone need no amplifier.
        if (m_bChannel0Gimbal && !m_apArm[1] && m_apArm[0]->GetModelType() == KINETOR_MODEL_ALTURA_6DOF)
            bOn = bOn && m_abGroupOn[1];
        m_apArm[0]->SetAmplifiersEnabled(bOn);
    }
    if (m_apArm[1])
        m_apArm[1]->SetAmplifiersEnabled(m_abGroupOn[1] != FALSE);
}

int CSimPCICard::Request(unsigned long nRequest, void* pArg, int64_t nNowNs)
{
    if (!pArg) {
        errno = EFAULT;
        return -1;
    }
    switch (nRequest) {
    case SIM_KINPCI_READ_REGISTER: {
        SIM_KINPCI_ARGS0* p = (SIM_KINPCI_ARGS0*)pArg;
        if (p->reg == 6) {
            uint32_t nStatus = 0;
            if (m_apArm[0] && m_apArm[0]->GetDeviceFault())
                nStatus |= 0x01;
            if (!(m_apArm[0] && m_apArm[0]->GetStylusSwitch(0)))
                nStatus |= 0x02;
            if (m_apArm[1] && m_apArm[1]->GetDeviceFault())
                nStatus |= 0x04;
            if (!(m_apArm[1] && m_apArm[1]->GetStylusSwitch(0)))
                nStatus |= 0x08;
            p->value = nStatus;
            return 0;
        }
        if (p->reg == 0) {
            p->value = 0;
            return 0;
        }
        errno = EINVAL;
        return -1;
    }
    case SIM_KINPCI_WRITE_REGISTER: {
        const SIM_KINPCI_ARGS0* p = (const SIM_KINPCI_ARGS0*)pArg;
        if (p->reg == 0) {
            // Each set bit clears its counter.
            for (int i = 0; i < SIM_PCI_COUNTERS; i++) {
                CSimArm* pArm = nullptr;
                int nMotor = 0;
                if ((p->value & (1u << i)) && Route(i, pArm, nMotor))
                    pArm->ResetEncoders();
            }
            return 0;
        }
        if (p->reg == 6) {
            m_ucControl = (UCHAR)(p->value & 0xFF);
            Apply(nNowNs);
            return 0;
        }
        errno = EINVAL;
        return -1;
    }
    case SIM_KINPCI_READ_COUNTERS: {
        SIM_KINPCI_ARGS1* p = (SIM_KINPCI_ARGS1*)pArg;
        for (int i = 0; i < SIM_PCI_COUNTERS; i++) {
            if (p->mask & (1u << i))
                p->values[i] = GetCounter(i);
        }
        return 0;
    }
    case SIM_KINPCI_WRITE_DACS: {
        const SIM_KINPCI_ARGS1* p = (const SIM_KINPCI_ARGS1*)pArg;
        for (int i = 0; i < SIM_PCI_DACS; i++) {
            if (p->mask & (1u << i))
                m_anDAC[i] = (int)(p->values[i] & 0x0FFF);
        }
        Apply(nNowNs);
        return 0;
    }
    default:
        errno = ENOTTY;
        return -1;
    }
}

void CSimPCICard::OnTick(int64_t nNowNs, BOOLEAN bLost)
{
    if (!bLost && IsTimerRunning() && m_nPendingTicks < 1000000)
        m_nPendingTicks++;
    // Only a hold that is running can run out.
    if ((m_abTimeout[0] || m_abTimeout[1]) && (!m_abLineHigh[0] || !m_abLineHigh[1]))
        Apply(nNowNs);
}
