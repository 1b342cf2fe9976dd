#include "ui/page_support.h"

void KeepPageDescription(HWND dialog, LPARAM description) {
    SetWindowLongA(dialog, DWL_USER, static_cast<LONG_PTR>(description));
}

EncoderSettings* PageSettings(HWND dialog) {
    const PROPSHEETPAGEA* page =
        reinterpret_cast<const PROPSHEETPAGEA*>(static_cast<LONG_PTR>(GetWindowLongA(dialog, DWL_USER)));
    return page ? reinterpret_cast<EncoderSettings*>(page->lParam) : nullptr;
}

void EnableControl(HWND dialog, int id, bool enable) {
    HWND control = GetDlgItem(dialog, id);
    if (control) EnableWindow(control, enable ? TRUE : FALSE);
}

bool ReadItemData(HWND combo, LRESULT index, DWORD* data) {
    DWORD value = static_cast<DWORD>(SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    if (value == static_cast<DWORD>(CB_ERR)) return false;
    *data = value;
    return true;
}

bool ReadPickedItem(HWND dialog, int id, DWORD* data) {
    HWND combo = GetDlgItem(dialog, id);
    if (!combo) return false;
    const LRESULT selection = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    return selection != CB_ERR && ReadItemData(combo, selection, data);
}

INT_PTR AnswerNotification(HWND dialog) {
    SetWindowLongA(dialog, DWL_MSGRESULT, 0);
    return TRUE;
}

uint32_t* SettingsField(EncoderSettings* settings, size_t offset) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(settings) + offset);
}

namespace {

// True while a page puts a refused text back: the notification of its own restore is not the
// user's, and reading it back (which can fail for a number the page itself wrote) must not start
// another restore.
bool g_restoringEdit = false;

constexpr int kEditTextRoom = 64;

struct EditSelection {
    DWORD Start;
    DWORD End;
};

// Where the refused keystroke went in. It replaced the selection [Start, End) of the text before
// it with what now lies before the caret, and left the rest of that text after the caret; the
// restored text is taken as the text before it. A keystroke that only deleted leaves the caret
// where it stood, at the end of what it deleted.
EditSelection SelectionBeforeChange(const WCHAR* before, DWORD beforeLength, const WCHAR* after, DWORD afterLength,
                                    DWORD caret) {
    if (caret > afterLength) caret = afterLength;
    const DWORD kept = afterLength - caret;
    const DWORD end = kept < beforeLength ? beforeLength - kept : 0;
    DWORD start = 0;
    while (start < caret && start < end && before[start] == after[start]) ++start;
    if (start == caret) return EditSelection{end, end};
    return EditSelection{start, end};
}

}  // namespace

void TakeEditNumber(HWND dialog, int id, uint32_t* field, uint32_t maximum) {
    if (g_restoringEdit) return;
    BOOL read = FALSE;
    UINT value = GetDlgItemInt(dialog, id, &read, FALSE);
    if (read && value <= maximum) {
        *field = value;
        return;
    }
    // A field may hold more than its edit accepts (the registry and the blob allow it): showing
    // it must leave it.
    if (read && value == *field) return;

    HWND edit = GetDlgItem(dialog, id);
    if (!edit) return;
    WCHAR refused[kEditTextRoom] = {};
    const DWORD refusedLength = static_cast<DWORD>(
        SendMessageW(edit, WM_GETTEXT, kEditTextRoom, reinterpret_cast<LPARAM>(refused)));
    DWORD caret = 0;
    SendMessageW(edit, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));

    g_restoringEdit = true;
    SetDlgItemInt(dialog, id, *field, FALSE);
    g_restoringEdit = false;

    // Putting the text back moves the caret to the start; the user's next key belongs where the
    // refused one went in.
    WCHAR restored[kEditTextRoom] = {};
    const DWORD restoredLength = static_cast<DWORD>(
        SendMessageW(edit, WM_GETTEXT, kEditTextRoom, reinterpret_cast<LPARAM>(restored)));
    const EditSelection selection = SelectionBeforeChange(restored, restoredLength, refused, refusedLength, caret);
    SendMessageW(edit, EM_SETSEL, selection.Start, static_cast<LPARAM>(selection.End));
}
