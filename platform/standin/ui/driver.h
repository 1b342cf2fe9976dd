// Linux stand-in: acting as the user on the headless dialogs.
//
// PropertySheetA calls the installed sheet driver once the sheet is up (its start page created
// and activated). The driver reads the pages and acts through the functions below, each of which
// produces the messages a user's mouse and keys produce on Windows; it ends the sheet with OK,
// Cancel or the close box. A driver that returns without ending the sheet cancels it, and with no
// driver installed every sheet is cancelled at once.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace standin {

using SheetDriver = std::function<void(HWND sheet)>;
void SetSheetDriver(SheetDriver driver);

// ---- the sheet ------------------------------------------------------------------------------------
int SheetTabCount(HWND sheet);
std::u16string SheetTabText(HWND sheet, int tab);
int SheetActiveTab(HWND sheet);
// Selects a tab as a click on it does (PSN_KILLACTIVE to the page left, the new page created on
// its first showing, PSN_SETACTIVE). False when the tab does not exist or the page refused.
bool SelectSheetTab(HWND sheet, int tab);
// The page's dialog, or null while its tab has not been shown.
HWND SheetPage(HWND sheet, int tab);
std::u16string SheetCaption(HWND sheet);
bool PressSheetOk(HWND sheet);
bool PressSheetCancel(HWND sheet);
bool PressSheetCloseBox(HWND sheet);

// ---- reading controls ---------------------------------------------------------------------------
struct ComboEntry {
    std::u16string text;
    DWORD data;
};

struct ControlState {
    int id;                     // -1 for labels without an id (0xFFFF in the template)
    std::u16string className;   // as the template names it
    DWORD style;
    short x, y, cx, cy;         // dialog units
    bool enabled;
    std::u16string text;        // an edit's or label's text, a combo's selected entry
    UINT checked;               // buttons
    std::vector<ComboEntry> entries;
    int selection;              // -1: none
    int rangeMin, rangeMax, position;  // trackbars
};

// A dialog's controls in template order.
std::vector<HWND> DialogControls(HWND dialog);
ControlState ReadControl(HWND control);
std::u16string WindowText(HWND window);
// The control that has the keyboard focus in the sheet or dialog, or null.
HWND FocusedControl(HWND window);

// ---- acting as the user -------------------------------------------------------------------------
// Every action fails (false) on a disabled or destroyed control, as a user cannot reach one.
// Typing moves the focus to the edit, then inserts the characters one by one at the caret, the
// first replacing any selection; each keystroke changes the text and notifies.
bool TypeText(HWND edit, const std::u16string& text);
bool SelectAllText(HWND edit);
bool MoveCaretToEnd(HWND edit);
// Backspace: deletes the selection, or the character before the caret.
bool PressBackspace(HWND edit);
bool PickComboEntry(HWND combo, int index);
bool PickComboText(HWND combo, const std::u16string& text);
bool ClickButton(HWND button);
// A drag of the thumb to `position` and the release of the mouse button there.
bool DragSlider(HWND trackbar, int position);
// Arrow keys, one step at a time, until the slider stands at `position` (clamped to its range).
bool KeySlider(HWND trackbar, int position);

// ---- windows of the host ------------------------------------------------------------------------
// A top-level window to own a sheet, as the editor's main window does. DestroyWindow ends it.
HWND CreateOwnerWindow(const std::u16string& title);

// ---- failures -----------------------------------------------------------------------------------
// The nth CreatePropertySheetPageA from now (1 = the next) returns null; 0 turns it off.
void FailNthPageCreation(int n);
// GetDlgItemInt fails (0, not translated) for every number above `limit`, as Wine's reading of
// the largest ones may; 0xFFFFFFFF turns it off.
void FailDlgItemIntReadsAbove(UINT limit);
// The next PropertySheetA fails with -1 before showing anything (its page handles destroyed).
void FailNextPropertySheet();

// Windows alive and page handles not destroyed, for tests.
int LiveWindows();
int LivePageHandles();

}  // namespace standin
