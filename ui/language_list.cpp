// The language combo of both pages: one entry per locale MLang lists, "name [tag]", the LCID as
// item data.
#include "platform/holders.h"
#include "ui/page_support.h"
#include "ui/resources/resource.h"
#include "ui/settings_sheet.h"

namespace {

constexpr int kEntryText = 256;

// The item data of the combo's first entries, each read once: the search below goes through the
// entries in order for every locale, and a list of a hundred locales would otherwise read the
// combo thousands of times.
struct ItemDataMemo {
    static constexpr LRESULT kEntries = 512;
    DWORD data[kEntries];
    bool readable[kEntries];
    LRESULT known = 0;  // entries 0 to known-1 are remembered
};

// Whether an entry for `lcid` is in the combo already. An unreadable entry ends the search.
bool IsListed(HWND combo, LRESULT count, LCID lcid, ItemDataMemo* memo) {
    for (LRESULT i = 0; i < count; ++i) {
        DWORD data = 0;
        bool readable = false;
        if (i < memo->known) {
            data = memo->data[i];
            readable = memo->readable[i];
        } else {
            readable = ReadItemData(combo, i, &data);
            if (i == memo->known && i < ItemDataMemo::kEntries) {
                memo->data[i] = data;
                memo->readable[i] = readable;
                ++memo->known;
            }
        }
        if (!readable) return false;
        if (data == lcid) return true;
    }
    return false;
}

// Adds the enumerator's locales; the index of `current`'s entry in `*chosen` when it is among them.
void ListLocales(HWND combo, IEnumRfc1766* locales, LCID current, LRESULT* chosen) {
    ItemDataMemo memo;
    for (;;) {
        RFC1766INFO info = {};
        ULONG fetched = 0;
        const HRESULT hr = locales->Next(1, &info, &fetched);
        // An answer without an element ends the list too: an enumerator that kept giving S_OK and
        // nothing would otherwise never let the page come up.
        if (FAILED(hr) || hr == S_FALSE || fetched == 0) return;
        const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
        if (count == CB_ERR) return;
        if (IsListed(combo, count, info.lcid, &memo)) continue;
        // The record holds both strings with their terminators; make sure of it.
        info.wszRfc1766[MAX_RFC1766_NAME - 1] = 0;
        info.wszLocaleName[MAX_LOCALE_NAME - 1] = 0;
        WCHAR text[kEntryText];
        const int length = wnsprintfW(text, kEntryText, BREVLO_WIDE("%s [%s]"), info.wszLocaleName, info.wszRfc1766);
        if (length < 1 || length > kEntryText) return;
        const LRESULT entry = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        if (entry < 0) continue;
        // An entry that did not go to the end moves the ones after it: read those again.
        if (entry < memo.known) memo.known = entry;
        SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(entry), static_cast<LPARAM>(info.lcid));
        if (info.lcid == current) *chosen = entry;
    }
}

}  // namespace

void FillLanguageList(HWND dialog, LCID current) {
    HWND combo = GetDlgItem(dialog, IDC_LANGUAGE);
    if (!combo) return;
    LRESULT chosen = -1;
    ComRef<IMultiLanguage> mlang;
    ComRef<IEnumRfc1766> locales;
    if (SUCCEEDED(CoCreateInstance(CLSID_CMultiLanguage, nullptr,
                                   CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                   IID_IMultiLanguage, mlang.OutVoid())) &&
        SUCCEEDED(mlang->EnumRfc1766(locales.Out()))) {
        ListLocales(combo, locales.Get(), current, &chosen);
    }
    // Without a match the combo stays unselected and the stored language stands.
    if (chosen >= 0) SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
}
