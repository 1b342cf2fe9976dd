// The headless dialog engine's own records, shared by its windows, its property sheets and the
// driver. Not for the system's code: that sees only the Win32 names of dialogs.h.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver.h"
#include "templates.h"

namespace standin {
namespace ui {

enum class WindowKind { Owner, Sheet, Dialog, Control };
enum class ControlType { Button, Edit, Static, ComboBox, Trackbar, Other };

// A page of a running sheet: the sheet's own copy of the page description (what WM_INITDIALOG
// points to, valid for the page's life), the template found when the sheet started, and the
// page's dialog once its tab has been shown.
struct SheetPage {
    HPROPSHEETPAGE handle = nullptr;
    std::unique_ptr<PROPSHEETPAGEA> copy;
    std::shared_ptr<const DialogTemplate> dialog;
    std::u16string tabText;
    HWND window = nullptr;
};

struct SheetState {
    HWND owner = nullptr;
    bool ownerWasEnabled = false;
    std::vector<SheetPage> pages;
    int active = -1;
    bool ended = false;
    INT_PTR result = 0;
};

// A combo box's entry: where its text stands in the box's texts, and its item data.
struct ComboItem {
    size_t start;
    size_t length;
    DWORD data;
};

// A dialog's control as the dialog lists it. A control keeps its id for its life, so the list
// answers GetDlgItem without reaching each control's own record.
struct ChildControl {
    HWND handle;
    int id;
};

// One window. Handles are never reused, so a handle kept past DestroyWindow is recognised as
// stale instead of reaching another window.
struct Window {
    WindowKind kind = WindowKind::Control;
    HWND handle = nullptr;
    uint64_t serial = 0;  // the order of creation, which handles do not keep
    HWND parent = nullptr;
    std::u16string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    bool enabled = true;

    // controls
    int id = 0;
    ControlType type = ControlType::Other;
    std::u16string className;
    short x = 0, y = 0, cx = 0, cy = 0;
    size_t caret = 0, selectionStart = 0, selectionEnd = 0;  // edits
    UINT check = BST_UNCHECKED;                             // buttons
    // combo boxes: the entries' texts one after another, so that a long list costs a few
    // allocations and not one an entry, and each entry's place there
    std::u16string entryTexts;
    std::vector<ComboItem> entries;
    int selection = -1;
    int rangeMin = 0, rangeMax = 100, position = 0;         // trackbars

    // dialogs
    DLGPROC proc = nullptr;
    LONG_PTR dialogLongs[3] = {0, 0, 0};  // DWL_MSGRESULT, DWL_DLGPROC, DWL_USER
    std::vector<ChildControl> children;   // in template order
    HWND sheet = nullptr;                 // the sheet a page belongs to

    std::unique_ptr<SheetState> sheetState;  // sheets
};

Window* Find(HWND handle);
std::u16string_view EntryText(const Window& combo, size_t entry);
// The text a window shows: a combo's selected entry, any other window's own text.
std::u16string_view ShownText(const Window& w);
HWND NewWindow(WindowKind kind, HWND parent);
// Destroys a window and everything under it; a dialog gets WM_DESTROY first.
void Destroy(HWND handle);
// Builds a dialog with its controls from a template and sends WM_INITDIALOG with `initParam`.
HWND CreateDialogFromTemplate(const DialogTemplate& dialog, HWND parent, DLGPROC proc, LPARAM initParam);
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool wide);
// Moves the keyboard focus, with the edits' EN_KILLFOCUS / EN_SETFOCUS.
void SetFocusTo(HWND control);
HWND Focus();
// The sheet whose active page holds the control, or null; false when a user could not reach it
// (destroyed, disabled, on a page not shown, or the sheet already ended).
bool Reachable(HWND control);

}  // namespace ui
}  // namespace standin
