// Plain-variable stand-ins for the widgets and message boxes of the configuration program,
// so that its page logic runs in a test without a display.
#ifndef FAKE_CONTROLS_H
#define FAKE_CONTROLS_H

#include <stdio.h>

#include <string>
#include <vector>

#include "PageControls.h"

class CFakeSink : public CMessageSink {
public:
    void ShowError(const char* pszText) override { m_errors.push_back(pszText); }
    BOOLEAN AskQuestion(const char* pszText) override
    {
        m_questions.push_back(pszText);
        return m_bAnswer;
    }
    std::vector<std::string> m_errors;
    std::vector<std::string> m_questions;
    BOOLEAN m_bAnswer = TRUE;
};

class CFakeHardware : public CHardwareControls {
public:
    int GetChoice(int nMenu) override { return m_anChoice[nMenu]; }
    void SetChoice(int nMenu, int nChoice) override { m_anChoice[nMenu] = nChoice; }
    BOOLEAN GetCheck(int nToggle) override { return m_abCheck[nToggle]; }
    void SetCheck(int nToggle, BOOLEAN bOn) override { m_abCheck[nToggle] = bOn; }
    void GetText(int nField, char* pszText, size_t nSize) override
    {
        snprintf(pszText, nSize, "%s", m_astrText[nField].c_str());
    }
    void SetText(int nField, const char* pszText) override { m_astrText[nField] = pszText; }
    void SetLabel(int nLabel, const char* pszText) override { m_astrLabel[nLabel] = pszText; }
    void Show(int nControl, BOOLEAN bShow) override { m_abShown[nControl] = bShow; }
    void ListReset() override
    {
        m_list.clear();
        m_strListText.clear();
    }
    void ListAdd(const char* pszName) override { m_list.push_back(pszName); }
    void ListDelete(int nPos) override { m_list.erase(m_list.begin() + nPos); }
    void ListSelect(int nPos) override
    {
        if (nPos >= 0 && nPos < static_cast<int>(m_list.size())) {
            m_strListText = m_list[nPos];
        }
    }
    void ListText(char* pszText, size_t nSize) override { snprintf(pszText, nSize, "%s", m_strListText.c_str()); }
    BOOLEAN RunAddDialog(char* pszName, size_t nSize) override
    {
        snprintf(pszName, nSize, "%s", m_strAddName.c_str());
        return m_bAddOK;
    }

    int m_anChoice[HW_MENU_COUNT] = {};
    BOOLEAN m_abCheck[HW_TOGGLE_COUNT] = {};
    std::string m_astrText[HW_FIELD_COUNT];
    std::string m_astrLabel[HW_LABEL_COUNT];
    BOOLEAN m_abShown[HW_SHOW_COUNT] = {};
    std::vector<std::string> m_list;
    std::string m_strListText;
    std::string m_strAddName;
    BOOLEAN m_bAddOK = TRUE;
};

class CFakeDual : public CDualControls {
public:
    void ComboReset(int nCombo) override
    {
        m_combo[nCombo].clear();
        m_strText[nCombo].clear();
    }
    void ComboAdd(int nCombo, const char* pszName) override { m_combo[nCombo].push_back(pszName); }
    void ComboSelect(int nCombo, int nPos) override { m_strText[nCombo] = m_combo[nCombo][nPos]; }
    void ComboText(int nCombo, char* pszText, size_t nSize) override
    {
        snprintf(pszText, nSize, "%s", m_strText[nCombo].c_str());
    }
    BOOLEAN GetEnable() override { return m_bEnable; }
    void SetEnable(BOOLEAN bOn) override { m_bEnable = bOn; }
    void Show(int nGroup, BOOLEAN bShow) override { m_abShown[nGroup] = bShow; }

    std::vector<std::string> m_combo[2];
    std::string m_strText[2];
    BOOLEAN m_bEnable = FALSE;
    BOOLEAN m_abShown[2] = {};
};

#endif
