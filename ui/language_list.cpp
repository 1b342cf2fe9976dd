// The language combo of both pages: one entry per locale MLang lists, "name [tag]", the LCID as
// item data.
#include <cstdint>

#include "platform/holders.h"
#include "ui/page_support.h"
#include "ui/resources/resource.h"
#include "ui/settings_sheet.h"

namespace {

constexpr int kEntryText = 256;

// The item data of the combo's first entries, each read once, with an index of the first entry
// that holds each datum among those before the first unreadable one. The search below is made for
// every locale: going through the entries each time, a list of a hundred locales took thousands
// of steps.
struct ItemDataMemo {
    static constexpr LRESULT kEntries = 512;
    static constexpr size_t kIndexSize = 1024;  // a power of two, twice kEntries, so never full
    DWORD data[kEntries];
    bool readable[kEntries];
    LRESULT known = 0;       // entries 0 to known-1 are remembered
    LRESULT unreadable = 0;  // the first remembered entry that could not be read, or known
    uint16_t index[kIndexSize] = {};  // open addressing by datum: 1 + the entry, 0 for none
};

size_t HashPlace(DWORD datum) {
    return static_cast<size_t>(static_cast<uint32_t>(datum * 2654435761u) >> 22) & (ItemDataMemo::kIndexSize - 1);
}

// The first entry before `unreadable` that holds the datum, or -1.
LRESULT FindFirstHolding(const ItemDataMemo& memo, DWORD datum) {
    for (size_t p = HashPlace(datum);; p = (p + 1) & (ItemDataMemo::kIndexSize - 1)) {
        const uint16_t place = memo.index[p];
        if (place == 0) return -1;
        if (memo.data[place - 1] == datum) return place - 1;
    }
}

// Indexes a remembered entry, unless an earlier one holds its datum.
void IndexEntry(ItemDataMemo* memo, LRESULT entry) {
    const DWORD datum = memo->data[entry];
    size_t p = HashPlace(datum);
    for (; memo->index[p] != 0; p = (p + 1) & (ItemDataMemo::kIndexSize - 1)) {
        if (memo->data[memo->index[p] - 1] == datum) return;
    }
    memo->index[p] = static_cast<uint16_t>(entry + 1);
}

void RememberEntry(ItemDataMemo* memo, DWORD data, bool readable) {
    const LRESULT entry = memo->known++;
    memo->data[entry] = data;
    memo->readable[entry] = readable;
    if (memo->unreadable != entry || !readable) return;
    memo->unreadable = entry + 1;
    IndexEntry(memo, entry);
}

// Forgets the entries from `entry` on, which an entry put before them has moved.
void ForgetEntriesFrom(ItemDataMemo* memo, LRESULT entry) {
    if (entry >= memo->known) return;
    memo->known = entry;
    if (memo->unreadable > entry) memo->unreadable = entry;
    for (uint16_t& place : memo->index) place = 0;
    for (LRESULT i = 0; i < memo->unreadable; ++i) IndexEntry(memo, i);
}

// Whether an entry for `lcid` is in the combo already. As a search through the entries in order,
// an unreadable entry ends it.
bool IsListed(HWND combo, LRESULT count, LCID lcid, ItemDataMemo* memo) {
    const LRESULT remembered = count < memo->known ? count : memo->known;
    const LRESULT first = FindFirstHolding(*memo, lcid);
    if (first >= 0 && first < remembered) return true;
    if (memo->unreadable < remembered) return false;
    for (LRESULT i = memo->known; i < count; ++i) {
        DWORD data = 0;
        const bool readable = ReadItemData(combo, i, &data);
        if (i == memo->known && i < ItemDataMemo::kEntries) RememberEntry(memo, data, readable);
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
        ForgetEntriesFrom(&memo, entry);
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
