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

void TakeEditNumber(HWND dialog, int id, uint32_t* field, uint32_t maximum) {
    BOOL read = FALSE;
    UINT value = GetDlgItemInt(dialog, id, &read, FALSE);
    if (read && value <= maximum) {
        *field = value;
        return;
    }
    // A field may hold more than its edit accepts (the registry and the blob allow it). Showing it
    // notifies again, and that notification must find the field's own value and leave it, or the
    // two would bounce back and forth without end.
    if (read && value == *field) return;
    SetDlgItemInt(dialog, id, *field, FALSE);
}
