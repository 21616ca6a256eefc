// What the page logic needs from its widgets, and nothing more. The Motif layer implements
// these with real controls; the tests implement them with plain variables, so the logic of
// both pages runs without a display.
#ifndef PAGE_CONTROLS_H
#define PAGE_CONTROLS_H

#include <stddef.h>

#include "KinetorTypes.h"

// The message boxes every page uses.
class CMessageSink {
public:
    virtual ~CMessageSink() {}
    // The error box; returns once the user has closed it.
    virtual void ShowError(const char* pszText) = 0;
    // The question box; TRUE for Yes.
    virtual BOOLEAN AskQuestion(const char* pszText) = 0;
};

// Option menus of the hardware page, in the order of their pending-selection slots.
enum {
    HW_MENU_MODEL = 0,
    HW_MENU_WORKSPACE = 1,
    HW_MENU_WORKSPACE2 = 2,
    HW_MENU_MOTOR = 3,
    HW_MENU_GIMBAL = 4,
    HW_MENU_PINCH = 5,
    HW_MENU_CARD = 6,
    HW_MENU_COUNT = 7
};

enum { HW_TOGGLE_TIMEOUT = 0, HW_TOGGLE_HIGHFORCE = 1, HW_TOGGLE_COUNT = 2 };
enum { HW_FIELD_UNIT = 0, HW_FIELD_ADDRESS = 1, HW_FIELD_COUNT = 2 };
enum { HW_LABEL_UNIT = 0, HW_LABEL_SERIAL = 1, HW_LABEL_COUNT = 2 };

// Controls whose visibility follows the model and interface choices.
enum {
    HW_SHOW_GIMBAL = 0,       // gimbal menu and its label
    HW_SHOW_WORKSPACE,        // workspace menu
    HW_SHOW_CARD,             // interface menu
    HW_SHOW_TIMEOUT,
    HW_SHOW_WORKSPACE_LABEL,
    HW_SHOW_WORKSPACE2,
    HW_SHOW_PARALLEL_LABEL,
    HW_SHOW_1394,             // "1394 port", "Serial number:" and the number
    HW_SHOW_HIGHFORCE,
    HW_SHOW_UNIT,             // unit field and its label
    HW_SHOW_ADDRESS,          // address field and its label
    HW_SHOW_PINCH,
    HW_SHOW_MOTOR,            // motor-encoder menu and its label
    HW_SHOW_COUNT
};

class CHardwareControls {
public:
    virtual ~CHardwareControls() {}
    virtual int GetChoice(int nMenu) = 0;
    virtual void SetChoice(int nMenu, int nChoice) = 0;
    virtual BOOLEAN GetCheck(int nToggle) = 0;
    virtual void SetCheck(int nToggle, BOOLEAN bOn) = 0;
    // pszText receives at most nSize-1 characters.
    virtual void GetText(int nField, char* pszText, size_t nSize) = 0;
    virtual void SetText(int nField, const char* pszText) = 0;
    virtual void SetLabel(int nLabel, const char* pszText) = 0;
    virtual void Show(int nControl, BOOLEAN bShow) = 0;
    // The list of records.
    virtual void ListReset() = 0;
    virtual void ListAdd(const char* pszName) = 0;
    virtual void ListDelete(int nPos) = 0;
    virtual void ListSelect(int nPos) = 0;
    virtual void ListText(char* pszText, size_t nSize) = 0;
    // The add dialog: TRUE and the entered name on OK.
    virtual BOOLEAN RunAddDialog(char* pszName, size_t nSize) = 0;
};

enum { DUAL_SHOW_PAIR = 0, DUAL_SHOW_HINT = 1 };

class CDualControls {
public:
    virtual ~CDualControls() {}
    // nCombo 0 or 1: the first or second device.
    virtual void ComboReset(int nCombo) = 0;
    virtual void ComboAdd(int nCombo, const char* pszName) = 0;
    virtual void ComboSelect(int nCombo, int nPos) = 0;
    virtual void ComboText(int nCombo, char* pszText, size_t nSize) = 0;
    virtual BOOLEAN GetEnable() = 0;
    virtual void SetEnable(BOOLEAN bOn) = 0;
    // DUAL_SHOW_PAIR: both combos, the toggle and the four lines above them;
    // DUAL_SHOW_HINT: the four lines asking for a second device.
    virtual void Show(int nGroup, BOOLEAN bShow) = 0;
};

#endif
