#include "ui/settings_sheet.h"

#include <cstring>

#include "settings/settings_registry.h"
#include "ui/resources/resource.h"

const SettingsPage SettingsPageTable[kSettingsPageCount] = {
    {"Video", VideoPageProc, IDD_VIDEO_PAGE},
    {"Audio", AudioPageProc, IDD_AUDIO_PAGE},
};

namespace {

// The header up to its header bitmap, as PROPSHEETHEADERA_V2_SIZE says; mingw-w64's prsht.h cannot
// expand that macro, so the 32-bit size is written out.
constexpr DWORD kSheetHeaderSize = 52;

int CALLBACK SheetCallback(HWND, UINT, LPARAM) { return 0; }

// Pages that were created but never reached a sheet are ours to destroy.
void DestroySheetPages(PROPSHEETHEADERA* header) {
    for (UINT i = 0; i < header->nPages; ++i) {
        DestroyPropertySheetPage(header->phpage[i]);
        header->phpage[i] = nullptr;
    }
    header->nPages = 0;
}

}  // namespace

HRESULT ConfigureSettings(HWND owner, HINSTANCE module) {
    EncoderSettings record;
    std::memset(&record, 0, sizeof record);
    HRESULT hr = LoadSettings(&record);
    if (FAILED(hr)) return hr;
    if (ShowSettingsSheet(owner, module, &record)) WriteSettingsToRegistry(&record);
    return S_OK;
}

bool ShowSettingsSheet(HWND owner, HINSTANCE module, EncoderSettings* record) {
    if (!record) return false;
    EncoderSettings working = *record;

    HPROPSHEETPAGE pages[kSheetPageRoom] = {};
    PROPSHEETHEADERA header;
    std::memset(&header, 0, sizeof header);
    header.dwSize = kSheetHeaderSize;
    header.dwFlags = PSH_PROPTITLE | PSH_NOAPPLYNOW | PSH_USECALLBACK;
    header.hwndParent = owner;
    header.hInstance = module;
    header.pszCaption = kSettingsSheetCaption;
    header.nStartPage = 0;
    header.phpage = pages;
    header.pfnCallback = SheetCallback;

    for (const SettingsPage& page : SettingsPageTable) {
        if (!AddSheetPage(&header, module, &page, &working)) {
            DestroySheetPages(&header);
            return false;
        }
    }
    if (header.nPages == 0) return false;
    // From here the sheet owns the handles and destroys them with itself.
    if (PropertySheetA(&header) <= 0) return false;
    *record = working;
    return true;
}

bool AddSheetPage(PROPSHEETHEADERA* header, HINSTANCE module, const SettingsPage* page, EncoderSettings* working) {
    if (!header || !page || !header->phpage || header->nPages >= kSheetPageRoom) return false;
    PROPSHEETPAGEA description;
    std::memset(&description, 0, sizeof description);
    description.dwSize = PROPSHEETPAGEA_V2_SIZE;
    description.dwFlags = PSP_DEFAULT;
    description.hInstance = module;
    description.pszTemplate = MAKEINTRESOURCEA(page->TemplateId);
    description.pszTitle = page->Title;
    description.pfnDlgProc = page->Procedure;
    description.lParam = reinterpret_cast<LPARAM>(working);
    HPROPSHEETPAGE handle = CreatePropertySheetPageA(&description);
    if (!handle) return false;
    header->phpage[header->nPages++] = handle;
    return true;
}
