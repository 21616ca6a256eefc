#include "DualPage.h"

#include <stdio.h>
#include <string.h>

#include "HardwarePage.h"
#include "Messages.h"

CDualPage::CDualPage(CDualControls* pControls, CMessageSink* pSink, CHardwarePage* pHardware)
    : m_pControls(pControls), m_pSink(pSink), m_pHardware(pHardware), m_nDevices(0)
{
    m_csDevices[0][0] = m_csDevices[1][0] = '\0';
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        m_aDevices[i] = nullptr;
    }
}

BOOLEAN CDualPage::OnInitDialog()
{
    Reload();
    return TRUE;
}

CKinetorDevice* CDualPage::FindRecord(const char* pszName) const
{
    for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
        if (m_aDevices[i] != nullptr && strcmp(m_aDevices[i]->m_szName, pszName) == 0) {
            return m_aDevices[i];
        }
    }
    return nullptr;
}

void CDualPage::Reload()
{
    m_mgr.GetDualConfiguration(m_csDevices);
    m_pHardware->GetKinetorSet(m_aDevices, m_nDevices);
    if (m_nDevices >= 2) {
        for (int nCombo = 0; nCombo < 2; nCombo++) {
            m_pControls->ComboReset(nCombo);
            int nSelect = -1;
            int nPos = 0;
            for (int i = 0; i < KINETOR_MAX_CONFIGS; i++) {
                if (m_aDevices[i] == nullptr) {
                    continue;
                }
                m_pControls->ComboAdd(nCombo, m_aDevices[i]->m_szName);
                if (nSelect < 0 && strcmp(m_aDevices[i]->m_szName, m_csDevices[nCombo]) == 0) {
                    nSelect = nPos;
                }
                nPos++;
            }
            if (nSelect < 0) {
                nSelect = 0;
            }
            m_pControls->ComboSelect(nCombo, nSelect);
        }
        m_pControls->SetEnable(m_csDevices[0][0] != '\0' && m_csDevices[1][0] != '\0' ? TRUE : FALSE);
    } else {
        m_pControls->SetEnable(FALSE);
    }
    EnableControls();
}

BOOLEAN CDualPage::Update()
{
    m_pHardware->GetKinetorSet(m_aDevices, m_nDevices);
    for (int i = 0; i < 2; i++) {
        if (m_csDevices[i][0] != '\0' && FindRecord(m_csDevices[i]) == nullptr) {
            m_csDevices[i][0] = '\0';
        }
    }
    m_mgr.SetDualConfiguration(m_csDevices, TRUE);
    Reload();
    return TRUE;
}

void CDualPage::EnableControls()
{
    m_pControls->Show(DUAL_SHOW_PAIR, m_nDevices >= 2 ? TRUE : FALSE);
    m_pControls->Show(DUAL_SHOW_HINT, m_nDevices == 1 ? TRUE : FALSE);
}

void CDualPage::TakeComboName(int nCombo)
{
    char szName[KINETOR_NAME_SIZE];
    m_pControls->ComboText(nCombo, szName, sizeof(szName));
    if (FindRecord(szName) != nullptr) {
        snprintf(m_csDevices[nCombo], KINETOR_NAME_SIZE, "%s", szName);
    }
    EnableControls();
}

void CDualPage::OnCheckDual()
{
    for (int i = 0; i < 2; i++) {
        m_pControls->ComboText(i, m_csDevices[i], KINETOR_NAME_SIZE);
    }
}

BOOLEAN CDualPage::OnApply()
{
    if (!m_mgr.SetDualConfiguration(m_csDevices, m_pControls->GetEnable())) {
        m_pSink->ShowError("The Dual Kinetor Configuration could not be stored.\n"
                           "The configuration directory cannot be written.");
        return FALSE;
    }
    return TRUE;
}

BOOLEAN CDualPage::Process(CKinetorDevice* pDevice)
{
    if (pDevice == nullptr || m_csDevices[0][0] == '\0' || m_csDevices[1][0] == '\0' || !m_pControls->GetEnable()) {
        return TRUE;
    }
    if (strcmp(m_csDevices[0], m_csDevices[1]) == 0) {
        m_pSink->ShowError(apszRes[MSG_DUAL_SAME]);
        return FALSE;
    }
    m_pHardware->GetKinetorSet(m_aDevices, m_nDevices);
    CKinetorDevice* pFirst = FindRecord(m_csDevices[0]);
    if (pFirst == nullptr || FindRecord(m_csDevices[1]) != pDevice) {
        return TRUE;
    }
    if (pFirst->m_nCardType != pDevice->m_nCardType) {
        return TRUE;
    }
    switch (pDevice->m_nCardType) {
    case KINETOR_CARD_ISA:
        if (pFirst->m_nISADevice == pDevice->m_nISADevice) {
            pDevice->m_nChannelSelect = 1;
        } else if (m_mgr.GetISAAddress(pFirst->m_nISADevice) == m_mgr.GetISAAddress(pDevice->m_nISADevice)) {
            m_pSink->ShowError(apszRes[MSG_DUAL_ISA]);
            return FALSE;
        }
        break;
    case KINETOR_CARD_PCI:
        if (pFirst->m_nPCIDevice == pDevice->m_nPCIDevice) {
            pDevice->m_nChannelSelect = 1;
        }
        break;
    case KINETOR_CARD_EPP:
        if (pFirst->m_nEPPDevice == pDevice->m_nEPPDevice) {
            pDevice->m_nChannelSelect = 1;
        }
        break;
    case KINETOR_CARD_VME:
        if (pFirst->m_nVMEDevice == pDevice->m_nVMEDevice) {
            pDevice->m_nChannelSelect = 1;
        } else if (m_mgr.GetVMEAddress(pFirst->m_nVMEDevice) == m_mgr.GetVMEAddress(pDevice->m_nVMEDevice)) {
            m_pSink->ShowError(apszRes[MSG_DUAL_VME]);
            return FALSE;
        }
        break;
    default:
        break;
    }
    return TRUE;
}
