// Logic of the dual-configuration page: the two devices an application may drive together,
// and the checks that keep such a pair off one card address.
#ifndef DUAL_PAGE_H
#define DUAL_PAGE_H

#include "PageControls.h"
#include "config/KinetorDevice.h"
#include "config/KinetorMgr.h"

class CHardwarePage;

class CDualPage {
public:
    CDualPage(CDualControls* pControls, CMessageSink* pSink, CHardwarePage* pHardware);

    BOOLEAN OnInitDialog();
    void Reload();
    BOOLEAN Update();
    BOOLEAN Process(CKinetorDevice* pDevice);
    void EnableControls();
    void OnSelChangeKinetor1() { TakeComboName(0); }
    void OnSelChangeKinetor2() { TakeComboName(1); }
    void OnCheckDual();
    BOOLEAN OnApply();
    BOOLEAN OnOK() { return OnApply(); }

    const char* GetName(int i) const { return i == 0 || i == 1 ? m_csDevices[i] : nullptr; }

private:
    void TakeComboName(int nCombo);
    CKinetorDevice* FindRecord(const char* pszName) const;

    CDualControls* m_pControls;
    CMessageSink* m_pSink;
    CHardwarePage* m_pHardware;
    char m_csDevices[2][KINETOR_NAME_SIZE];
    CKinetorMgr m_mgr;
    CKinetorDevice* m_aDevices[KINETOR_MAX_CONFIGS];
    int m_nDevices;
};

#endif
