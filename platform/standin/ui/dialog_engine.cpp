// The headless dialog engine: windows as records, the messages of the common controls the pages
// use, and the dialog functions of user32, with the notifications Windows sends:
//
// - an edit sends EN_UPDATE then EN_CHANGE to its dialog after every change of its text, also
//   when the program sets it (WM_SETTEXT, SetDlgItemInt), synchronously and re-entrantly, and
//   WM_SETTEXT puts the caret and the selection at 0;
// - a combo box never notifies CB_SETCURSEL; only a user's pick sends CBN_SELCHANGE;
// - CheckDlgButton sends nothing; a click on an automatic check box toggles it, then BN_CLICKED;
// - a trackbar answers TBM_SETRANGE (two signed 16-bit halves) and TBM_SETPOS (clamped) silently.
//
// Everything runs on the caller's thread, as on the one user-interface thread of the editor.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "../leaks.h"
#include "../utf8.h"
#include "../win32/text.h"
#include "engine.h"

namespace standin {
namespace ui {
namespace {

// A window lives in a slot; its handle names the slot and the slot's generation, which moves on
// every time the slot is emptied, so that a handle is never given out twice and a lookup is an
// index and one comparison, not a search.
struct WindowSlot {
    uintptr_t generation = 0;
    HWND handle = nullptr;  // the handle of the window in the slot; null while the slot is empty
    std::unique_ptr<Window> window;
};

constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kSlotBits = 16;  // far more windows at once than Windows lets a process have
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;

struct EngineState {
    // Never empty and a power of two long, so that the slot a handle names is found with a mask,
    // without a comparison against the length.
    std::vector<WindowSlot> slots = std::vector<WindowSlot>(64);
    size_t used = 0;  // slots 0 to used-1 have held a window; the rest never have
    std::vector<uintptr_t> freeSlots;
    size_t live = 0;
    uint64_t created = 0;  // windows made so far, which orders them as their handles do not
    HWND focus = nullptr;
    UINT dlgItemIntReadLimit = 0xFFFFFFFFu;  // GetDlgItemInt fails above it
};

EngineState& State() {
    static EngineState state;
    return state;
}

bool SameClass(const std::u16string& a, const char* b) {
    size_t n = std::char_traits<char>::length(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i], y = static_cast<unsigned char>(b[i]);
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y) return false;
    }
    return true;
}

ControlType TypeOfClass(const std::u16string& name) {
    if (SameClass(name, "Button")) return ControlType::Button;
    if (SameClass(name, "Edit")) return ControlType::Edit;
    if (SameClass(name, "Static")) return ControlType::Static;
    if (SameClass(name, "ComboBox")) return ControlType::ComboBox;
    if (SameClass(name, TRACKBAR_CLASSA)) return ControlType::Trackbar;
    return ControlType::Other;
}

// Appends text handed over with the ANSI functions, which is in the ANSI code page, as Windows
// converts it. No code page makes more UTF-16 units than bytes, so one conversion into that much
// room does.
void AppendAnsi(std::u16string& text, LPCSTR ansi) {
    const size_t start = text.size(), room = std::char_traits<char>::length(ansi) + 1;
    if (room > static_cast<size_t>(INT_MAX)) return;
    text.resize(start + room);
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, &text[start], static_cast<int>(room));
    text.resize(n > 0 ? start + static_cast<size_t>(n - 1) : start);
}

std::u16string_view WideParam(LPARAM param) {
    const char16_t* units = reinterpret_cast<const char16_t*>(param);
    return std::u16string_view(units, static_cast<size_t>(lstrlenW(units)));
}

// Appends a message's text parameter to `text`.
void AppendParam(std::u16string& text, LPARAM param, bool wide) {
    if (!param) return;
    if (wide) {
        text.append(WideParam(param));
    } else {
        AppendAnsi(text, reinterpret_cast<LPCSTR>(param));
    }
}

// Sets `text` to a message's text parameter in place, so that it reuses the room.
void AssignParam(std::u16string& text, LPARAM param, bool wide) {
    text.clear();
    AppendParam(text, param, wide);
}

// Copies a text into a caller's buffer of `capacity` units (wide) or bytes (ANSI, as UTF-8,
// cut at a whole character); answers the units or bytes written without the terminator.
LRESULT CopyOut(std::u16string_view text, WPARAM capacity, LPARAM buffer, bool wide) {
    if (!buffer || capacity == 0) return 0;
    if (wide) {
        size_t n = std::min<size_t>(text.size(), capacity - 1);
        char16_t* out = reinterpret_cast<char16_t*>(buffer);
        std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
        out[n] = u'\0';
        return static_cast<LRESULT>(n);
    }
    std::string bytes = Utf8FromUtf16(text);
    size_t n = std::min<size_t>(bytes.size(), capacity - 1);
    while (n > 0 && n < bytes.size() && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80) --n;
    char* out = reinterpret_cast<char*>(buffer);
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), out);
    out[n] = '\0';
    return static_cast<LRESULT>(n);
}

int LowInt(uintptr_t value) { return static_cast<int>(static_cast<uint32_t>(value)); }

void NotifyParent(HWND control, WORD code) {
    Window* w = Find(control);
    if (!w) return;
    Send(w->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code), reinterpret_cast<LPARAM>(control), false);
}

// After a change of an edit's text: EN_UPDATE before it is drawn, EN_CHANGE after.
void NotifyEditChanged(HWND edit) {
    Window* w = Find(edit);
    if (!w || (w->style & ES_MULTILINE)) return;
    NotifyParent(edit, EN_UPDATE);
    NotifyParent(edit, EN_CHANGE);
}

LRESULT SendToEdit(Window* w, UINT message, WPARAM wParam, LPARAM lParam, bool wide) {
    switch (message) {
        case WM_SETTEXT:
            AssignParam(w->text, lParam, wide);
            w->caret = w->selectionStart = w->selectionEnd = 0;
            NotifyEditChanged(w->handle);
            return TRUE;
        case EM_GETSEL: {
            DWORD start = static_cast<DWORD>(w->selectionStart), end = static_cast<DWORD>(w->selectionEnd);
            if (wParam) *reinterpret_cast<DWORD*>(wParam) = start;
            if (lParam) *reinterpret_cast<DWORD*>(lParam) = end;
            return MAKELONG(start, end);
        }
        case EM_SETSEL: {
            int start = LowInt(wParam), end = LowInt(static_cast<uintptr_t>(lParam));
            size_t n = w->text.size();
            if (start < 0) {
                w->selectionStart = w->selectionEnd = w->caret;
                return 0;
            }
            size_t s = std::min<size_t>(static_cast<size_t>(start), n);
            size_t e = end < 0 ? n : std::min<size_t>(static_cast<size_t>(end), n);
            w->selectionStart = std::min(s, e);
            w->selectionEnd = std::max(s, e);
            w->caret = e;
            return 0;
        }
        default:
            return -2;  // not an edit message
    }
}

LRESULT SendToButton(Window* w, UINT message, WPARAM wParam, LPARAM) {
    DWORD kind = static_cast<DWORD>(w->style) & BS_TYPEMASK;
    switch (message) {
        case BM_GETCHECK:
            return w->check;
        case BM_SETCHECK:
            if (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_3STATE || kind == BS_AUTO3STATE ||
                kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON) {
                UINT state = static_cast<UINT>(wParam);
                if (state == BST_INDETERMINATE && kind != BS_3STATE && kind != BS_AUTO3STATE) state = BST_CHECKED;
                w->check = state > BST_INDETERMINATE ? BST_CHECKED : state;
            }
            return 0;
        case BM_CLICK: {
            if (!w->enabled || kind == BS_GROUPBOX) return 0;
            HWND handle = w->handle;
            SetFocusTo(handle);
            if (!(w = Find(handle))) return 0;
            if (kind == BS_AUTOCHECKBOX) w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            if (kind == BS_AUTO3STATE) w->check = (w->check + 1) % 3;
            if (kind == BS_AUTORADIOBUTTON) w->check = BST_CHECKED;
            NotifyParent(handle, BN_CLICKED);
            return 0;
        }
        default:
            return -2;
    }
}

LRESULT SendToCombo(Window* w, UINT message, WPARAM wParam, LPARAM lParam, bool wide) {
    int count = static_cast<int>(w->entries.size());
    int index = LowInt(wParam);
    switch (message) {
        case CB_ADDSTRING: {
            if (w->entries.capacity() == 0) {  // room for a short list at once
                w->entries.reserve(16);
                w->entryTexts.reserve(64);
            }
            const size_t start = w->entryTexts.size();
            AppendParam(w->entryTexts, lParam, wide);
            w->entries.push_back(ComboItem{start, w->entryTexts.size() - start, 0});
            return count;
        }
        case CB_GETCOUNT:
            return count;
        case CB_GETCURSEL:
            return w->selection;
        case CB_SETCURSEL:
            if (index < 0 || index >= count) {
                w->selection = -1;
                return CB_ERR;
            }
            w->selection = index;
            return index;
        case CB_RESETCONTENT:
            w->entries.clear();
            w->entryTexts.clear();
            w->selection = -1;
            return CB_OKAY;
        case CB_GETITEMDATA:
            if (index < 0 || index >= count) return CB_ERR;
            // 32 bits of data, sign-extended as a 32-bit LRESULT would be.
            return static_cast<LRESULT>(static_cast<LONG>(w->entries[static_cast<size_t>(index)].data));
        case CB_SETITEMDATA:
            if (index < 0 || index >= count) return CB_ERR;
            w->entries[static_cast<size_t>(index)].data = static_cast<DWORD>(lParam);
            return TRUE;
        case CB_GETLBTEXTLEN:
            if (index < 0 || index >= count) return CB_ERR;
            return wide ? static_cast<LRESULT>(w->entries[static_cast<size_t>(index)].length)
                        : static_cast<LRESULT>(Utf8FromUtf16(EntryText(*w, static_cast<size_t>(index))).size());
        case CB_GETLBTEXT:
            if (index < 0 || index >= count) return CB_ERR;
            return CopyOut(EntryText(*w, static_cast<size_t>(index)), static_cast<WPARAM>(-1) >> 1, lParam, wide);
        case WM_GETTEXT:
            return CopyOut(ShownText(*w), wParam, lParam, wide);
        case WM_GETTEXTLENGTH:
            // In the caller's units, as WM_GETTEXT copies: bytes of the ANSI text for an ANSI call.
            return wide ? static_cast<LRESULT>(ShownText(*w).size())
                        : static_cast<LRESULT>(Utf8FromUtf16(ShownText(*w)).size());
        default:
            return -2;
    }
}

void ClampPosition(Window* w) {
    if (w->position < w->rangeMin) w->position = w->rangeMin;
    if (w->position > w->rangeMax) w->position = w->rangeMax;
}

LRESULT SendToTrackbar(Window* w, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case TBM_GETPOS:
            return w->position;
        case TBM_GETRANGEMIN:
            return w->rangeMin;
        case TBM_GETRANGEMAX:
            return w->rangeMax;
        case TBM_SETPOS:
            w->position = LowInt(static_cast<uintptr_t>(lParam));
            ClampPosition(w);
            return 0;
        case TBM_SETRANGE:
            w->rangeMin = static_cast<SHORT>(LOWORD(lParam));
            w->rangeMax = static_cast<SHORT>(HIWORD(lParam));
            ClampPosition(w);
            return 0;
        case TBM_SETRANGEMIN:
            w->rangeMin = LowInt(static_cast<uintptr_t>(lParam));
            ClampPosition(w);
            return 0;
        case TBM_SETRANGEMAX:
            w->rangeMax = LowInt(static_cast<uintptr_t>(lParam));
            ClampPosition(w);
            return 0;
        default:
            return -2;
    }
}

// What a dialog's window procedure does: the dialog procedure first (with DWL_MSGRESULT cleared,
// as DefDlgProc does), its answer the message's result when it handled it.
LRESULT SendToDialog(Window* w, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND handle = w->handle;
    DLGPROC proc = w->proc;
    w->dialogLongs[0] = 0;
    INT_PTR handled = proc ? proc(handle, message, wParam, lParam) : FALSE;
    if (message == WM_INITDIALOG) return handled;
    if (!handled) return 0;
    Window* after = Find(handle);
    return after ? after->dialogLongs[0] : 0;
}

LRESULT SendGeneric(Window* w, UINT message, WPARAM wParam, LPARAM lParam, bool wide) {
    switch (message) {
        case WM_SETTEXT:
            AssignParam(w->text, lParam, wide);
            return TRUE;
        case WM_GETTEXT:
            return CopyOut(w->text, wParam, lParam, wide);
        case WM_GETTEXTLENGTH:
            return wide ? static_cast<LRESULT>(w->text.size()) : static_cast<LRESULT>(Utf8FromUtf16(w->text).size());
        default:
            return 0;
    }
}

// The first of a dialog's controls with the id, or null; every message a page sends to a control
// by its id goes through it.
HWND ChildWithId(const Window& dialog, int id) {
    for (const ChildControl& child : dialog.children) {
        if (child.id == id) return child.handle;
    }
    return nullptr;
}

uintptr_t HandleValue(uintptr_t slot, uintptr_t generation) {
    return kFirstHandle + 4 * (generation << kSlotBits | slot);
}

// The slot a handle names. Any value names some slot; only the handle of the window living there
// matches the slot's, which turns away a stale or made-up value. An empty slot has neither handle
// nor window, so that a null handle finds no window there either.
uintptr_t SlotNamedBy(HWND handle) {
    return (reinterpret_cast<uintptr_t>(handle) - kFirstHandle) / 4 & (State().slots.size() - 1);
}

void EmptySlot(uintptr_t slot) {
    EngineState& s = State();
    s.slots[slot].window.reset();
    s.slots[slot].handle = nullptr;
    ++s.slots[slot].generation;
    s.freeSlots.push_back(slot);
    --s.live;
}

// The live windows, oldest first, as the handles were given out.
std::vector<const Window*> WindowsInHandleOrder() {
    std::vector<const Window*> out;
    for (const WindowSlot& slot : State().slots) {
        if (slot.window) out.push_back(slot.window.get());
    }
    std::sort(out.begin(), out.end(), [](const Window* a, const Window* b) {
        return a->serial < b->serial;
    });
    return out;
}

struct UiProbe {
    UiProbe() {
        RegisterLeakProbe("ui", [] {
            // Controls go with their dialog, so the windows are named by the top-level ones.
            std::string named;
            size_t count = State().live;
            for (const Window* window : count ? WindowsInHandleOrder() : std::vector<const Window*>()) {
                const Window& w = *window;
                if (w.kind == WindowKind::Control) continue;
                static const char* const kinds[] = {"owner", "sheet", "dialog", "control"};
                named += std::string(named.empty() ? "" : ", ") + kinds[static_cast<int>(w.kind)] + " \"" +
                         Utf8FromUtf16(w.text) + "\"";
            }
            std::string result;
            if (count) result = std::to_string(count) + " window(s) not destroyed" + (named.empty() ? "" : " (" + named + ")");
            if (int pages = LivePageHandles()) {
                result += std::string(result.empty() ? "" : "; ") + std::to_string(pages) +
                          " property sheet page(s) not destroyed";
            }
            return result;
        });
        RegisterReset("ui", [] {
            EngineState& s = State();
            for (uintptr_t slot = 0; slot < s.slots.size(); ++slot) {
                if (s.slots[slot].window) EmptySlot(slot);
            }
            State().focus = nullptr;
            State().dlgItemIntReadLimit = 0xFFFFFFFFu;
        });
    }
} g_uiProbe;

}  // namespace

// Every message and every dialog function starts here.
Window* Find(HWND handle) {
    const WindowSlot& slot = State().slots[SlotNamedBy(handle)];
    return slot.handle == handle ? slot.window.get() : nullptr;
}

std::u16string_view EntryText(const Window& combo, size_t entry) {
    const ComboItem& item = combo.entries[entry];
    return std::u16string_view(combo.entryTexts).substr(item.start, item.length);
}

std::u16string_view ShownText(const Window& w) {
    if (w.type != ControlType::ComboBox) return w.text;
    return w.selection >= 0 ? EntryText(w, static_cast<size_t>(w.selection)) : std::u16string_view();
}

HWND NewWindow(WindowKind kind, HWND parent) {
    EngineState& s = State();
    uintptr_t slot;
    if (!s.freeSlots.empty()) {
        slot = s.freeSlots.back();
        s.freeSlots.pop_back();
    } else {
        slot = s.used++;
        if (slot > kSlotMask) {
            std::fprintf(stderr, "dialog stand-in: more than %zu windows at once\n", static_cast<size_t>(kSlotMask + 1));
            std::abort();
        }
        if (slot == s.slots.size()) s.slots.resize(2 * s.slots.size());
    }
    auto w = std::make_unique<Window>();
    w->kind = kind;
    w->parent = parent;
    w->serial = ++s.created;
    w->handle = reinterpret_cast<HWND>(HandleValue(slot, s.slots[slot].generation));
    HWND handle = w->handle;
    s.slots[slot].window = std::move(w);
    s.slots[slot].handle = handle;
    ++s.live;
    return handle;
}

void Destroy(HWND handle) {
    Window* w = Find(handle);
    if (!w) return;
    if (w->kind == WindowKind::Dialog) Send(handle, WM_DESTROY, 0, 0, false);
    if (!(w = Find(handle))) return;
    // The controls go with the dialog: taken off its list at once, not one by one as each goes.
    const std::vector<ChildControl> children = std::move(w->children);
    w->children.clear();
    for (const ChildControl& child : children) Destroy(child.handle);
    if (State().focus == handle) State().focus = nullptr;
    if (Window* parent = Find(w->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                      [handle](const ChildControl& c) { return c.handle == handle; }),
                       siblings.end());
    }
    if (Find(handle)) EmptySlot(SlotNamedBy(handle));
}

HWND CreateDialogFromTemplate(const DialogTemplate& dialog, HWND parent, DLGPROC proc, LPARAM initParam) {
    HWND handle = NewWindow(WindowKind::Dialog, parent);
    Window* w = Find(handle);
    // A page is shown as a child of the sheet: no caption, not disabled, a control parent.
    w->style = (dialog.style & ~static_cast<DWORD>(WS_DISABLED | WS_CAPTION)) | WS_TABSTOP | DS_CONTROL | DS_3DLOOK;
    w->exStyle = dialog.exStyle;
    w->text = dialog.caption;
    w->x = dialog.x, w->y = dialog.y, w->cx = dialog.cx, w->cy = dialog.cy;
    w->proc = proc;
    w->dialogLongs[1] = reinterpret_cast<LONG_PTR>(proc);
    if (Window* p = Find(parent)) w->sheet = p->kind == WindowKind::Sheet ? parent : p->sheet;
    HWND firstTabStop = nullptr;
    w->children.reserve(dialog.items.size());
    for (const DialogItemTemplate& item : dialog.items) {
        HWND c = NewWindow(WindowKind::Control, handle);
        Window* control = Find(c);
        control->id = (item.id == 0xFFFF || item.id == 0xFFFFFFFFu) ? -1 : static_cast<int>(item.id);
        control->className = item.className;
        control->type = TypeOfClass(item.className);
        control->style = item.style;
        control->exStyle = item.exStyle;
        control->enabled = !(item.style & WS_DISABLED);
        control->x = item.x, control->y = item.y, control->cx = item.cx, control->cy = item.cy;
        if (control->type != ControlType::ComboBox) control->text = item.text;
        Find(handle)->children.push_back(ChildControl{c, control->id});
        if (!firstTabStop && (item.style & WS_TABSTOP) && control->enabled) firstTabStop = c;
    }
    LRESULT focusDefault = Send(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam, false);
    if (focusDefault && firstTabStop && Find(firstTabStop) && Find(firstTabStop)->enabled) SetFocusTo(firstTabStop);
    return Find(handle) ? handle : nullptr;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool wide) {
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->kind == WindowKind::Dialog) return SendToDialog(w, message, wParam, lParam);
    if (w->kind == WindowKind::Control) {
        LRESULT r = -2;
        switch (w->type) {
            case ControlType::Edit: r = SendToEdit(w, message, wParam, lParam, wide); break;
            case ControlType::Button: r = SendToButton(w, message, wParam, lParam); break;
            case ControlType::ComboBox: r = SendToCombo(w, message, wParam, lParam, wide); break;
            case ControlType::Trackbar: r = SendToTrackbar(w, message, wParam, lParam); break;
            default: break;
        }
        if (r != -2) return r;
    }
    return SendGeneric(w, message, wParam, lParam, wide);
}

HWND Focus() { return Find(State().focus) ? State().focus : nullptr; }

void SetFocusTo(HWND control) {
    HWND old = Focus();
    if (old == control) return;
    State().focus = control;
    if (Window* o = Find(old); o && o->type == ControlType::Edit) NotifyParent(old, EN_KILLFOCUS);
    if (Window* n = Find(control); n && n->type == ControlType::Edit && State().focus == control) {
        NotifyParent(control, EN_SETFOCUS);
    }
}

bool Reachable(HWND control) {
    Window* w = Find(control);
    if (!w || w->kind != WindowKind::Control || !w->enabled) return false;
    Window* dialog = Find(w->parent);
    if (!dialog || !dialog->enabled) return false;
    Window* sheet = Find(dialog->sheet);
    if (!sheet) return true;  // a dialog of its own
    const SheetState& s = *sheet->sheetState;
    return !s.ended && s.active >= 0 && s.pages[static_cast<size_t>(s.active)].window == dialog->handle;
}

}  // namespace ui

int LiveWindows() { return static_cast<int>(ui::State().live); }

HWND CreateOwnerWindow(const std::u16string& title) {
    HWND handle = ui::NewWindow(ui::WindowKind::Owner, nullptr);
    ui::Find(handle)->text = title;
    return handle;
}

}  // namespace standin

using standin::ui::Find;
using standin::ui::Window;
using standin::ui::WindowKind;

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return standin::ui::Send(window, message, wParam, lParam, false);
}

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return standin::ui::Send(window, message, wParam, lParam, true);
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Window* w = Find(dialog);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (HWND child = standin::ui::ChildWithId(*w, id)) return child;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND control) {
    Window* w = Find(control);
    return w && w->kind == WindowKind::Control ? w->id : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, message, wParam, lParam) : 0;
}

LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageW(control, message, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return FALSE;
    // The decimal digits from the end of the buffer back, a minus sign before them when signed.
    const bool negative = isSigned && static_cast<int>(value) < 0;
    uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    char16_t text[16];
    size_t first = sizeof text / sizeof text[0] - 1;
    text[first] = u'\0';
    do {
        text[--first] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) text[--first] = u'-';
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text + first));
    return TRUE;
}

namespace standin {
void FailDlgItemIntReadsAbove(UINT limit) { ui::State().dlgItemIntReadLimit = limit; }
}  // namespace standin

// As Windows reads a number back (not Wine's laxer reading): leading blanks are skipped, then
// digits only, up to the end; unsigned takes no sign at all, signed one leading minus; the value
// must fit.
UINT WINAPI GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
    if (translated) *translated = FALSE;
    HWND control = GetDlgItem(dialog, id);
    if (!control) return 0;
    const std::u16string_view shown = standin::ui::ShownText(*Find(control));
    const char16_t* text = shown.data();
    size_t i = 0, n = shown.size();
    while (i < n && text[i] == u' ') ++i;
    bool negative = false;
    if (isSigned && i < n && text[i] == u'-') {
        negative = true;
        ++i;
    }
    size_t digitsStart = i;
    uint64_t value = 0;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10 + static_cast<uint64_t>(text[i] - u'0');
        if (value > 0xFFFFFFFFull) return 0;
        ++i;
    }
    if (i == digitsStart) return 0;
    if (i != n) return 0;
    if (value > standin::ui::State().dlgItemIntReadLimit) return 0;
    if (isSigned && value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return 0;
    if (translated) *translated = TRUE;
    return negative ? static_cast<UINT>(0u - static_cast<uint32_t>(value)) : static_cast<UINT>(value);
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return FALSE;
    SendMessageA(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? static_cast<UINT>(SendMessageA(control, BM_GETCHECK, 0, 0)) : 0;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    Window* w = Find(window);
    if (!w) return FALSE;
    BOOL wasDisabled = w->enabled ? FALSE : TRUE;
    w->enabled = enable != FALSE;
    if (w->enabled) {
        w->style &= ~static_cast<DWORD>(WS_DISABLED);
    } else {
        w->style |= WS_DISABLED;
        if (standin::ui::Focus() == window) standin::ui::SetFocusTo(nullptr);
    }
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    Window* w = Find(window);
    return w && w->enabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindow(HWND window) { return Find(window) ? TRUE : FALSE; }

BOOL WINAPI DestroyWindow(HWND window) {
    if (!Find(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    standin::ui::Destroy(window);
    return TRUE;
}

LONG_PTR WINAPI SetWindowLongA(HWND window, int index, LONG_PTR value) {
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->kind == WindowKind::Dialog && (index == DWL_MSGRESULT || index == DWL_DLGPROC || index == DWL_USER)) {
        LONG_PTR old = w->dialogLongs[index / 4];
        w->dialogLongs[index / 4] = value;
        if (index == DWL_DLGPROC) w->proc = reinterpret_cast<DLGPROC>(value);
        SetLastError(0);
        return old;
    }
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

LONG_PTR WINAPI GetWindowLongA(HWND window, int index) {
    Window* w = Find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GWL_STYLE) return static_cast<LONG>(w->style);
    if (index == GWL_ID) return w->id;
    if (w->kind == WindowKind::Dialog && (index == DWL_MSGRESULT || index == DWL_DLGPROC || index == DWL_USER)) {
        return w->dialogLongs[index / 4];
    }
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}
