// The driver's reading of controls and its user actions, each producing the messages the mouse
// and keyboard produce on Windows.
#include "driver.h"

#include "engine.h"

namespace standin {

using ui::ControlType;
using ui::Find;
using ui::Window;

namespace {

Window* Reach(HWND control, ControlType type) {
    Window* w = Find(control);
    return w && w->type == type && ui::Reachable(control) ? w : nullptr;
}

void NotifyCommand(HWND control, WORD code) {
    Window* w = Find(control);
    if (!w) return;
    ui::Send(w->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code), reinterpret_cast<LPARAM>(control),
             false);
}

// One keystroke's change of an edit's text, then its notifications.
void EditText(HWND edit, const std::u16string& insert, bool backspace) {
    Window* w = Find(edit);
    size_t start = w->selectionStart, end = w->selectionEnd;
    if (start == end) {
        start = end = w->caret;
        if (backspace) {
            if (start == 0) return;
            --start;
        }
    }
    w->text.replace(start, end - start, insert);
    w->caret = w->selectionStart = w->selectionEnd = start + insert.size();
    NotifyCommand(edit, EN_UPDATE);
    NotifyCommand(edit, EN_CHANGE);
}

void Scroll(HWND trackbar, WORD code, int position) {
    Window* w = Find(trackbar);
    if (!w) return;
    ui::Send(w->parent, WM_HSCROLL, MAKEWPARAM(code, static_cast<WORD>(position)), reinterpret_cast<LPARAM>(trackbar),
             false);
}

}  // namespace

std::u16string WindowText(HWND window) {
    Window* w = Find(window);
    return w ? std::u16string(ui::ShownText(*w)) : std::u16string();
}

std::vector<HWND> DialogControls(HWND dialog) {
    std::vector<HWND> controls;
    if (Window* w = Find(dialog)) {
        for (const ui::ChildControl& child : w->children) controls.push_back(child.handle);
    }
    return controls;
}

ControlState ReadControl(HWND control) {
    ControlState s{};
    s.id = 0;
    s.selection = -1;
    Window* w = Find(control);
    if (!w) return s;
    s.id = w->id;
    s.className = w->className;
    s.style = w->style;
    s.x = w->x, s.y = w->y, s.cx = w->cx, s.cy = w->cy;
    s.enabled = w->enabled;
    s.text = WindowText(control);
    s.checked = w->check;
    for (size_t i = 0; i < w->entries.size(); ++i) {
        s.entries.push_back(ComboEntry{std::u16string(ui::EntryText(*w, i)), w->entries[i].data});
    }
    s.selection = w->selection;
    s.rangeMin = w->rangeMin, s.rangeMax = w->rangeMax, s.position = w->position;
    return s;
}

HWND FocusedControl(HWND) { return ui::Focus(); }

bool TypeText(HWND edit, const std::u16string& text) {
    if (!Reach(edit, ControlType::Edit)) return false;
    ui::SetFocusTo(edit);
    for (char16_t c : text) {
        // The page may have disabled the edit, or ended, in answer to the last keystroke.
        if (!Reach(edit, ControlType::Edit)) return false;
        EditText(edit, std::u16string(1, c), false);
    }
    return true;
}

// Focuses the edit and selects all of its text, or puts the caret at its end.
bool SelectToEnd(HWND edit, bool all) {
    if (!Reach(edit, ControlType::Edit)) return false;
    ui::SetFocusTo(edit);
    Window* w = Find(edit);
    if (!w) return false;
    w->selectionEnd = w->caret = w->text.size();
    w->selectionStart = all ? 0 : w->caret;
    return true;
}

bool SelectAllText(HWND edit) { return SelectToEnd(edit, true); }
bool MoveCaretToEnd(HWND edit) { return SelectToEnd(edit, false); }

bool PressBackspace(HWND edit) {
    if (!Reach(edit, ControlType::Edit)) return false;
    ui::SetFocusTo(edit);
    if (!Find(edit)) return false;
    EditText(edit, std::u16string(), true);
    return true;
}

// A pick from the dropped list: the selection moves, then CBN_SELCHANGE, also when the entry
// picked was the one shown, as a click in the list sends it.
bool PickComboEntry(HWND combo, int index) {
    Window* w = Reach(combo, ControlType::ComboBox);
    if (!w || index < 0 || index >= static_cast<int>(w->entries.size())) return false;
    ui::SetFocusTo(combo);
    if (!(w = Find(combo))) return false;
    w->selection = index;
    NotifyCommand(combo, CBN_SELCHANGE);
    return true;
}

bool PickComboText(HWND combo, const std::u16string& text) {
    Window* w = Reach(combo, ControlType::ComboBox);
    if (!w) return false;
    for (size_t i = 0; i < w->entries.size(); ++i) {
        if (ui::EntryText(*w, i) == text) return PickComboEntry(combo, static_cast<int>(i));
    }
    return false;
}

bool ClickButton(HWND button) {
    if (!Reach(button, ControlType::Button)) return false;
    SendMessageA(button, BM_CLICK, 0, 0);
    return true;
}

bool DragSlider(HWND trackbar, int position) {
    Window* w = Reach(trackbar, ControlType::Trackbar);
    if (!w) return false;
    ui::SetFocusTo(trackbar);
    if (!(w = Find(trackbar))) return false;
    // The thumb stops at the ends of the range, as TBM_SETPOS clamps.
    ui::Send(trackbar, TBM_SETPOS, TRUE, position, false);
    int at = w->position;
    Scroll(trackbar, TB_THUMBTRACK, at);
    Scroll(trackbar, TB_THUMBPOSITION, at);
    Scroll(trackbar, TB_ENDTRACK, 0);
    if (!(w = Find(trackbar))) return true;
    NMHDR released;
    released.hwndFrom = trackbar;
    released.idFrom = static_cast<UINT_PTR>(w->id);
    released.code = NM_RELEASEDCAPTURE;
    ui::Send(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&released), false);
    return true;
}

bool KeySlider(HWND trackbar, int position) {
    Window* w = Reach(trackbar, ControlType::Trackbar);
    if (!w) return false;
    ui::SetFocusTo(trackbar);
    if (position < w->rangeMin) position = w->rangeMin;
    if (position > w->rangeMax) position = w->rangeMax;
    // Bounded, in case the page moves the slider back in answer to a key.
    long steps = static_cast<long>(w->rangeMax) - w->rangeMin + 1;
    while ((w = Find(trackbar)) && w->position != position && steps-- > 0) {
        bool right = w->position < position;
        w->position += right ? 1 : -1;
        Scroll(trackbar, right ? TB_LINEDOWN : TB_LINEUP, 0);
        Scroll(trackbar, TB_ENDTRACK, 0);
    }
    return true;
}

}  // namespace standin
