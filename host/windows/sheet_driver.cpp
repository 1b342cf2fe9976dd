// The sheet driver on Windows: the config command acts on the real property sheet that comctl32
// shows. A watcher thread waits for the sheet's window and runs the driver there, while the host's
// thread sits in the sheet's modal loop; every action is sent to the controls as the messages a
// user's clicks and keys produce, and the real OK and Cancel buttons end the sheet. The interface
// is the one the Linux build's headless engine implements (platform/standin/ui/driver.h).
#include "platform/standin/ui/driver.h"

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

namespace standin {
namespace {

constexpr DWORD kPollMs = 10;
constexpr DWORD kSheetWaitMs = 60000;  // for the sheet to appear, or to close after OK or Cancel

SheetDriver g_driver;
HANDLE g_stop = nullptr;
HANDLE g_thread = nullptr;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string FromWide(const wchar_t* text, int length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length > 0 ? static_cast<size_t>(length) : 0);
}

HWND TabsOf(HWND sheet) { return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0)); }

BOOL CALLBACK FindSheet(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char cls[16];
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetClassNameA(window, cls, sizeof cls) &&
        lstrcmpA(cls, "#32770") == 0 && TabsOf(window) && SendMessageW(window, PSM_INDEXTOHWND, 0, 0)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI Watch(void*) {
    HWND sheet = nullptr;
    for (DWORD waited = 0; !sheet && waited < kSheetWaitMs; waited += kPollMs) {
        if (WaitForSingleObject(g_stop, kPollMs) != WAIT_TIMEOUT) return 0;
        EnumWindows(FindSheet, reinterpret_cast<LPARAM>(&sheet));
    }
    if (!sheet) return 0;
    g_driver(sheet);
    // A driver that returns without ending the sheet cancels it.
    if (IsWindow(sheet)) PressSheetCancel(sheet);
    return 0;
}

// Whether a user can reach the control: it exists, shows and takes input.
bool Reachable(HWND control) { return IsWindow(control) && IsWindowVisible(control) && IsWindowEnabled(control); }

bool IsClass(HWND window, const char* name) {
    char cls[32];
    return GetClassNameA(window, cls, sizeof cls) && lstrcmpiA(cls, name) == 0;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info;
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// The focus moves to the control as a click or the Tab key moves it (the dialog manager does it).
void Focus(HWND control) {
    if (FocusOf(control) != control) SendMessageW(GetParent(control), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

// One key: down, the character it types (if any), up.
void Key(HWND control, UINT virtualKey, wchar_t character) {
    SendMessageW(control, WM_KEYDOWN, virtualKey, 1);
    if (character) SendMessageW(control, WM_CHAR, character, 1);
    SendMessageW(control, WM_KEYUP, virtualKey, 0xC0000001u);
}

// A button of the sheet clicked; true once the sheet has closed.
bool PressSheetButton(HWND sheet, int id) {
    HWND button = GetDlgItem(sheet, id);
    if (!Reachable(button)) return false;
    SendMessageW(button, BM_CLICK, 0, 0);
    // The modal loop notices that the sheet has ended at its next posted message.
    PostMessageW(sheet, WM_NULL, 0, 0);
    for (DWORD waited = 0; IsWindow(sheet); waited += kPollMs) {
        // A page that refused leaves the sheet up, and its window stays enabled.
        if (waited >= kSheetWaitMs || (waited >= 1000 && IsWindowEnabled(sheet) && IsWindowVisible(sheet))) return false;
        Sleep(kPollMs);
    }
    return true;
}

int ToDialogUnits(int pixels, int perUnits, int units) { return perUnits ? MulDiv(pixels, units, perUnits) : pixels; }

}  // namespace

void SetSheetDriver(SheetDriver driver) {
    if (g_thread) {
        SetEvent(g_stop);
        WaitForSingleObject(g_thread, kSheetWaitMs);
        CloseHandle(g_thread);
        CloseHandle(g_stop);
        g_thread = g_stop = nullptr;
    }
    g_driver = driver;
    if (!driver) return;
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_thread = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
}

// ---- the sheet ------------------------------------------------------------------------------------

int SheetTabCount(HWND sheet) { return static_cast<int>(SendMessageW(TabsOf(sheet), TCM_GETITEMCOUNT, 0, 0)); }

std::u16string SheetTabText(HWND sheet, int tab) {
    wchar_t text[128] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 128;
    if (!SendMessageW(TabsOf(sheet), TCM_GETITEMW, tab, reinterpret_cast<LPARAM>(&item))) return std::u16string();
    return FromWide(text, lstrlenW(text));
}

int SheetActiveTab(HWND sheet) { return static_cast<int>(SendMessageW(TabsOf(sheet), TCM_GETCURSEL, 0, 0)); }

// A click on the tab.
bool SelectSheetTab(HWND sheet, int tab) {
    HWND tabs = TabsOf(sheet);
    RECT r;
    if (tab < 0 || tab >= SheetTabCount(sheet) || !SendMessageW(tabs, TCM_GETITEMRECT, tab, reinterpret_cast<LPARAM>(&r))) {
        return false;
    }
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(tabs, WM_LBUTTONUP, 0, at);
    // The page as it now shows, painted.
    RedrawWindow(sheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageW(sheet, WM_NULL, 0, 0);
    return SheetActiveTab(sheet) == tab &&
           SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0) == SendMessageW(sheet, PSM_INDEXTOHWND, tab, 0);
}

HWND SheetPage(HWND sheet, int tab) { return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_INDEXTOHWND, tab, 0)); }

std::u16string SheetCaption(HWND sheet) { return WindowText(sheet); }

bool PressSheetOk(HWND sheet) { return PressSheetButton(sheet, IDOK); }
bool PressSheetCancel(HWND sheet) { return PressSheetButton(sheet, IDCANCEL); }

// ---- reading controls -----------------------------------------------------------------------------

std::u16string WindowText(HWND window) {
    int length = static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    if (length <= 0) return std::u16string();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    length = static_cast<int>(SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
    return FromWide(text.c_str(), length);
}

// The dialog manager creates the controls in template order, each below the last.
std::vector<HWND> DialogControls(HWND dialog) {
    std::vector<HWND> controls;
    for (HWND c = dialog ? GetWindow(dialog, GW_CHILD) : nullptr; c; c = GetWindow(c, GW_HWNDNEXT)) controls.push_back(c);
    return controls;
}

ControlState ReadControl(HWND control) {
    ControlState s{};
    s.selection = -1;
    if (!IsWindow(control)) return s;
    int id = GetDlgCtrlID(control);
    s.id = id == 0xFFFF ? -1 : id;
    wchar_t cls[64];
    s.className = FromWide(cls, GetClassNameW(control, cls, 64));
    s.style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
    // Where the template put it, in dialog units of its dialog.
    HWND dialog = GetParent(control);
    RECT unit = {0, 0, 4, 8}, r;
    MapDialogRect(dialog, &unit);
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    s.x = static_cast<short>(ToDialogUnits(r.left, unit.right, 4));
    s.y = static_cast<short>(ToDialogUnits(r.top, unit.bottom, 8));
    s.cx = static_cast<short>(ToDialogUnits(r.right - r.left, unit.right, 4));
    s.cy = static_cast<short>(ToDialogUnits(r.bottom - r.top, unit.bottom, 8));
    s.enabled = IsWindowEnabled(control) != FALSE;
    s.text = WindowText(control);
    if (IsClass(control, "Button")) s.checked = static_cast<UINT>(SendMessageW(control, BM_GETCHECK, 0, 0));
    if (IsClass(control, "ComboBox")) {
        int count = static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            int length = static_cast<int>(SendMessageW(control, CB_GETLBTEXTLEN, i, 0));
            std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
            length = static_cast<int>(SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0])));
            s.entries.push_back(ComboEntry{FromWide(text.c_str(), length),
                                           static_cast<DWORD>(SendMessageW(control, CB_GETITEMDATA, i, 0))});
        }
        s.selection = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
    }
    if (IsClass(control, TRACKBAR_CLASSA)) {
        s.rangeMin = static_cast<int>(SendMessageW(control, TBM_GETRANGEMIN, 0, 0));
        s.rangeMax = static_cast<int>(SendMessageW(control, TBM_GETRANGEMAX, 0, 0));
        s.position = static_cast<int>(SendMessageW(control, TBM_GETPOS, 0, 0));
    }
    return s;
}

HWND FocusedControl(HWND window) { return FocusOf(window); }

// ---- acting as the user -------------------------------------------------------------------------

bool TypeText(HWND edit, const std::u16string& text) {
    if (!Reachable(edit) || !IsClass(edit, "Edit")) return false;
    Focus(edit);
    for (char16_t c : text) {
        // The page may have disabled the edit, or ended, in answer to the last keystroke.
        if (!Reachable(edit)) return false;
        SHORT key = VkKeyScanW(static_cast<wchar_t>(c));
        Key(edit, key == -1 ? 0 : LOBYTE(key), static_cast<wchar_t>(c));
    }
    return true;
}

bool SelectAllText(HWND edit) {
    if (!Reachable(edit) || !IsClass(edit, "Edit")) return false;
    Focus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return true;
}

bool MoveCaretToEnd(HWND edit) {
    if (!Reachable(edit) || !IsClass(edit, "Edit")) return false;
    Focus(edit);
    Key(edit, VK_END, 0);
    return true;
}

bool PressBackspace(HWND edit) {
    if (!Reachable(edit) || !IsClass(edit, "Edit")) return false;
    Focus(edit);
    Key(edit, VK_BACK, L'\b');
    return true;
}

// A pick from the dropped list: the selection moves, then the CBN_SELCHANGE that a click in the
// list sends, also when the entry picked was the one shown.
bool PickComboEntry(HWND combo, int index) {
    if (!Reachable(combo) || !IsClass(combo, "ComboBox")) return false;
    if (index < 0 || index >= static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0))) return false;
    Focus(combo);
    SendMessageW(combo, CB_SETCURSEL, index, 0);
    SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    return true;
}

bool PickComboText(HWND combo, const std::u16string& text) {
    if (!Reachable(combo)) return false;
    int index = static_cast<int>(SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(Wide(text))));
    return index >= 0 && PickComboEntry(combo, index);
}

bool ClickButton(HWND button) {
    if (!Reachable(button) || !IsClass(button, "Button")) return false;
    SendMessageW(button, BM_CLICK, 0, 0);
    return true;
}

// The mouse pressed on the thumb, moved along the channel to the position's place and released.
bool DragSlider(HWND trackbar, int position) {
    if (!Reachable(trackbar) || !IsClass(trackbar, TRACKBAR_CLASSA)) return false;
    int low = static_cast<int>(SendMessageW(trackbar, TBM_GETRANGEMIN, 0, 0));
    int high = static_cast<int>(SendMessageW(trackbar, TBM_GETRANGEMAX, 0, 0));
    position = position < low ? low : position > high ? high : position;
    RECT thumb, channel;
    SendMessageW(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageW(trackbar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    int y = (thumb.top + thumb.bottom) / 2;
    int x = (thumb.left + thumb.right) / 2;
    SendMessageW(trackbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    // Where the position lies: the thumb's centre runs from one end of the channel to the other.
    int half = (thumb.right - thumb.left) / 2;
    int from = channel.left + half, to = channel.right - half;
    int target = high > low ? from + MulDiv(position - low, to - from, high - low) : from;
    SendMessageW(trackbar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(target, y));
    // Rounding may leave it a step off: the mouse moves on a pixel at a time until it is there.
    for (int nudge = 0; nudge < 16; ++nudge) {
        int at = static_cast<int>(SendMessageW(trackbar, TBM_GETPOS, 0, 0));
        if (at == position) break;
        target += at < position ? 1 : -1;
        SendMessageW(trackbar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(target, y));
    }
    SendMessageW(trackbar, WM_LBUTTONUP, 0, MAKELPARAM(target, y));
    return SendMessageW(trackbar, TBM_GETPOS, 0, 0) == position;
}

bool KeySlider(HWND trackbar, int position) {
    if (!Reachable(trackbar) || !IsClass(trackbar, TRACKBAR_CLASSA)) return false;
    Focus(trackbar);
    int low = static_cast<int>(SendMessageW(trackbar, TBM_GETRANGEMIN, 0, 0));
    int high = static_cast<int>(SendMessageW(trackbar, TBM_GETRANGEMAX, 0, 0));
    position = position < low ? low : position > high ? high : position;
    // Bounded, in case the page moves the slider back in answer to a key.
    for (long steps = static_cast<long>(high) - low + 1; steps > 0 && IsWindow(trackbar); --steps) {
        int at = static_cast<int>(SendMessageW(trackbar, TBM_GETPOS, 0, 0));
        if (at == position) break;
        Key(trackbar, at < position ? VK_RIGHT : VK_LEFT, 0);
    }
    return true;
}

// ---- windows of the host ------------------------------------------------------------------------

HWND CreateOwnerWindow(const std::u16string& title) {
    static const wchar_t kClass[] = L"BrevloHostOwner";
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when already registered
    // Not shown: the editor's main window is not what the suite looks at.
    return CreateWindowExW(0, kClass, Wide(title), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480,
                           nullptr, nullptr, wc.hInstance, nullptr);
}

}  // namespace standin
