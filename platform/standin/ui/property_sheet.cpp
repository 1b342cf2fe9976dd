// Property sheets: page handles, the modal PropertySheetA, and the sheet's half of the driver
// (tabs, OK, Cancel, the close box), with comctl32's order of events:
//
// - at the start PSCB_PRECREATE, PSCB_INITIALIZED, then the start page's WM_INITDIALOG (lParam:
//   the sheet's own copy of the page description) and PSN_SETACTIVE; other pages are created
//   when their tab is first selected, after PSN_KILLACTIVE to the page left;
// - OK: PSN_KILLACTIVE to the active page, then PSN_APPLY (lParam TRUE) to every created page
//   in page order, and the result 1; Cancel: PSN_QUERYCANCEL, then PSN_RESET (lParam FALSE; TRUE
//   for the close box) to every created page, and the result 0;
// - the owner is disabled while the sheet runs, and every page handle given to the sheet is
//   destroyed with it.
//
// The tab text is the template's caption unless a page asks for its own title (PSP_USETITLE);
// with PSH_PROPTITLE the sheet's caption gets " Properties" appended, as current Windows shows it.
// Modeless sheets, wizards and in-memory templates are not supported: PropertySheetA gives -1.
#include <map>

#include "../leaks.h"
#include "engine.h"

namespace standin {
namespace ui {
namespace {

struct PageHandle {
    PROPSHEETPAGEA description;
    std::string title;  // owned copy with PSP_USETITLE
};

struct SheetEngine {
    std::map<uintptr_t, std::unique_ptr<PageHandle>> pages;
    uintptr_t nextPage = 0x20000;
    int failPageCountdown = 0;
    bool failNextSheet = false;
    SheetDriver driver;
};

SheetEngine& Sheets() {
    static SheetEngine engine;
    return engine;
}

struct SheetReset {
    SheetReset() {
        RegisterReset("ui-sheets", [] {
            SheetEngine& e = Sheets();
            e.pages.clear();
            e.failPageCountdown = 0;
            e.failNextSheet = false;
            e.driver = nullptr;
        });
    }
} g_sheetReset;

PageHandle* FindPage(HPROPSHEETPAGE handle) {
    auto it = Sheets().pages.find(reinterpret_cast<uintptr_t>(handle));
    return it == Sheets().pages.end() ? nullptr : it->second.get();
}

SheetState* StateOf(HWND sheet) {
    Window* w = Find(sheet);
    return w && w->kind == WindowKind::Sheet ? w->sheetState.get() : nullptr;
}

// Sends a PSN_* notification to a page; answers the page's result (DWL_MSGRESULT).
LRESULT NotifyPage(HWND sheet, HWND page, UINT code, LPARAM lParam) {
    PSHNOTIFY notify;
    notify.hdr.hwndFrom = sheet;
    notify.hdr.idFrom = 0;
    notify.hdr.code = code;
    notify.lParam = lParam;
    return Send(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify), false);
}

// Creates a page's dialog on its first showing.
bool CreatePage(HWND sheet, int index) {
    SheetState* s = StateOf(sheet);
    SheetPage& page = s->pages[static_cast<size_t>(index)];
    if (page.window) return true;
    const PROPSHEETPAGEA& d = *page.copy;
    if ((d.dwFlags & PSP_USECALLBACK) && d.pfnCallback &&
        !d.pfnCallback(nullptr, PSPCB_CREATE, const_cast<PROPSHEETPAGEA*>(page.copy.get()))) {
        return false;
    }
    // The page's handle is known before WM_INITDIALOG, as the sheet holds it from its creation.
    HWND dialog = CreateDialogFromTemplate(*page.dialog, sheet, d.pfnDlgProc, reinterpret_cast<LPARAM>(page.copy.get()));
    if (!(s = StateOf(sheet))) return false;
    s->pages[static_cast<size_t>(index)].window = dialog;
    return dialog != nullptr;
}

bool Activate(HWND sheet, int index) {
    if (!CreatePage(sheet, index)) return false;
    SheetState* s = StateOf(sheet);
    HWND page = s->pages[static_cast<size_t>(index)].window;
    s->active = index;
    NotifyPage(sheet, page, PSN_SETACTIVE, 0);
    return true;
}

// Ends the sheet: every created page is destroyed (WM_DESTROY), then the sheet.
void EndSheet(HWND sheet, INT_PTR result) {
    SheetState* s = StateOf(sheet);
    s->ended = true;
    s->result = result;
    std::vector<HWND> windows;
    for (const SheetPage& page : s->pages) {
        if (page.window) windows.push_back(page.window);
    }
    for (HWND w : windows) Destroy(w);
}

bool Cancel(HWND sheet, bool closeBox) {
    SheetState* s = StateOf(sheet);
    if (!s || s->ended) return false;
    HWND active = s->pages[static_cast<size_t>(s->active)].window;
    if (NotifyPage(sheet, active, PSN_QUERYCANCEL, 0)) return false;
    if (!(s = StateOf(sheet))) return false;
    std::vector<HWND> created;
    for (const SheetPage& page : s->pages) {
        if (page.window) created.push_back(page.window);
    }
    for (HWND page : created) NotifyPage(sheet, page, PSN_RESET, closeBox ? TRUE : FALSE);
    EndSheet(sheet, 0);
    return true;
}

}  // namespace
}  // namespace ui

void SetSheetDriver(SheetDriver driver) { ui::Sheets().driver = std::move(driver); }
void FailNthPageCreation(int n) { ui::Sheets().failPageCountdown = n; }
void FailNextPropertySheet() { ui::Sheets().failNextSheet = true; }
int LivePageHandles() { return static_cast<int>(ui::Sheets().pages.size()); }

int SheetTabCount(HWND sheet) {
    ui::SheetState* s = ui::StateOf(sheet);
    return s ? static_cast<int>(s->pages.size()) : 0;
}

std::u16string SheetTabText(HWND sheet, int tab) {
    ui::SheetState* s = ui::StateOf(sheet);
    if (!s || tab < 0 || tab >= static_cast<int>(s->pages.size())) return std::u16string();
    return s->pages[static_cast<size_t>(tab)].tabText;
}

int SheetActiveTab(HWND sheet) {
    ui::SheetState* s = ui::StateOf(sheet);
    return s ? s->active : -1;
}

HWND SheetPage(HWND sheet, int tab) {
    ui::SheetState* s = ui::StateOf(sheet);
    if (!s || tab < 0 || tab >= static_cast<int>(s->pages.size())) return nullptr;
    return s->pages[static_cast<size_t>(tab)].window;
}

std::u16string SheetCaption(HWND sheet) { return ui::StateOf(sheet) ? WindowText(sheet) : std::u16string(); }

bool SelectSheetTab(HWND sheet, int tab) {
    ui::SheetState* s = ui::StateOf(sheet);
    if (!s || s->ended || tab < 0 || tab >= static_cast<int>(s->pages.size())) return false;
    if (tab == s->active) return true;
    HWND old = s->pages[static_cast<size_t>(s->active)].window;
    if (ui::NotifyPage(sheet, old, PSN_KILLACTIVE, 0)) return false;
    if (!ui::StateOf(sheet)) return false;
    return ui::Activate(sheet, tab);
}

bool PressSheetOk(HWND sheet) {
    ui::SheetState* s = ui::StateOf(sheet);
    if (!s || s->ended) return false;
    HWND active = s->pages[static_cast<size_t>(s->active)].window;
    if (ui::NotifyPage(sheet, active, PSN_KILLACTIVE, 0)) return false;
    for (size_t i = 0; (s = ui::StateOf(sheet)) && i < s->pages.size(); ++i) {
        HWND page = s->pages[i].window;
        if (!page) continue;
        LRESULT answer = ui::NotifyPage(sheet, page, PSN_APPLY, TRUE);
        if (answer == PSNRET_INVALID) {
            SelectSheetTab(sheet, static_cast<int>(i));
            return false;
        }
        if (answer == PSNRET_INVALID_NOCHANGEPAGE) return false;
    }
    if (!s) return false;
    ui::EndSheet(sheet, 1);
    return true;
}

bool PressSheetCancel(HWND sheet) { return ui::Cancel(sheet, false); }
bool PressSheetCloseBox(HWND sheet) { return ui::Cancel(sheet, true); }

}  // namespace standin

using standin::ui::Find;
using standin::ui::FindPage;
using standin::ui::Sheets;
using standin::ui::Window;
using standin::ui::WindowKind;

HPROPSHEETPAGE WINAPI CreatePropertySheetPageA(LPCPROPSHEETPAGEA page) {
    standin::ui::SheetEngine& e = Sheets();
    if (e.failPageCountdown > 0 && --e.failPageCountdown == 0) return nullptr;
    if (!page || page->dwSize < PROPSHEETPAGEA_V1_SIZE) return nullptr;
    auto record = std::make_unique<standin::ui::PageHandle>();
    record->description = PROPSHEETPAGEA{};
    record->description.dwSize = page->dwSize;
    record->description.dwFlags = page->dwFlags;
    record->description.hInstance = page->hInstance;
    record->description.pszTemplate = page->pszTemplate;
    record->description.hIcon = page->hIcon;
    record->description.pszTitle = page->pszTitle;
    record->description.pfnDlgProc = page->pfnDlgProc;
    record->description.lParam = page->lParam;
    record->description.pfnCallback = page->pfnCallback;
    record->description.pcRefParent = page->pcRefParent;
    if (page->dwSize >= PROPSHEETPAGEA_V2_SIZE) {
        record->description.pszHeaderTitle = page->pszHeaderTitle;
        record->description.pszHeaderSubTitle = page->pszHeaderSubTitle;
    }
    if ((page->dwFlags & PSP_USETITLE) && page->pszTitle && !IS_INTRESOURCE(page->pszTitle)) {
        record->title = page->pszTitle;
        record->description.pszTitle = record->title.c_str();
    }
    HPROPSHEETPAGE handle = reinterpret_cast<HPROPSHEETPAGE>(e.nextPage);
    e.nextPage += 4;
    PROPSHEETPAGEA* kept = &record->description;
    e.pages.emplace(reinterpret_cast<uintptr_t>(handle), std::move(record));
    if ((kept->dwFlags & PSP_USECALLBACK) && kept->pfnCallback) kept->pfnCallback(nullptr, PSPCB_ADDREF, kept);
    return handle;
}

BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE page) {
    standin::ui::PageHandle* record = FindPage(page);
    if (!record) return FALSE;
    PROPSHEETPAGEA* d = &record->description;
    if ((d->dwFlags & PSP_USECALLBACK) && d->pfnCallback) d->pfnCallback(nullptr, PSPCB_RELEASE, d);
    Sheets().pages.erase(reinterpret_cast<uintptr_t>(page));
    return TRUE;
}

// The sheet owns the page handles it is given: they are destroyed on every way out, also when
// the sheet cannot be shown, so that the caller never has to guess.
void DestroyGivenPages(LPCPROPSHEETHEADERA header) {
    for (UINT i = 0; i < header->nPages; ++i) {
        if (FindPage(header->phpage[i])) DestroyPropertySheetPage(header->phpage[i]);
    }
}

INT_PTR WINAPI PropertySheetA(LPCPROPSHEETHEADERA header) {
    standin::ui::SheetEngine& e = Sheets();
    if (!header || header->dwSize < PROPSHEETHEADERA_V1_SIZE) return -1;
    if (header->dwFlags & (PSH_MODELESS | PSH_WIZARD | PSH_PROPSHEETPAGE | PSH_USEPSTARTPAGE)) return -1;
    if (header->nPages == 0 || header->nPages > MAXPROPPAGES || !header->phpage) return -1;
    if (e.failNextSheet) {
        e.failNextSheet = false;
        DestroyGivenPages(header);
        return -1;
    }

    // Every page's template is found now: the sheet needs the tab texts before any page exists.
    auto state = std::make_unique<standin::ui::SheetState>();
    for (UINT i = 0; i < header->nPages; ++i) {
        standin::ui::PageHandle* record = FindPage(header->phpage[i]);
        if (!record) {
            DestroyGivenPages(header);
            return -1;
        }
        standin::ui::SheetPage page;
        page.handle = header->phpage[i];
        page.copy = std::make_unique<PROPSHEETPAGEA>(record->description);
        const PROPSHEETPAGEA& d = *page.copy;
        if ((d.dwFlags & PSP_DLGINDIRECT) || !IS_INTRESOURCE(d.pszTemplate) ||
            !(page.dialog = standin::SharedDialogTemplate(d.hInstance, LOWORD(d.pszTemplate)))) {
            DestroyGivenPages(header);
            return 0;  // a page whose template cannot be found: no sheet, as Windows answers it
        }
        if ((d.dwFlags & PSP_USETITLE) && d.pszTitle) {
            page.tabText = std::u16string(d.pszTitle, d.pszTitle + std::char_traits<char>::length(d.pszTitle));
        } else {
            page.tabText = page.dialog->caption;
        }
        state->pages.push_back(std::move(page));
    }

    if ((header->dwFlags & PSH_USECALLBACK) && header->pfnCallback) {
        standin::DialogTemplate frame{};
        header->pfnCallback(nullptr, PSCB_PRECREATE, reinterpret_cast<LPARAM>(&frame));
    }
    HWND owner = Find(header->hwndParent) ? header->hwndParent : nullptr;
    HWND sheet = standin::ui::NewWindow(WindowKind::Sheet, owner);
    Window* w = Find(sheet);
    if (header->pszCaption && !IS_INTRESOURCE(header->pszCaption)) {
        const char* c = header->pszCaption;
        w->text.assign(c, c + std::char_traits<char>::length(c));
        if (header->dwFlags & PSH_PROPTITLE) w->text += u" Properties";
    }
    state->owner = owner;
    state->ownerWasEnabled = owner && IsWindowEnabled(owner);
    w->sheetState = std::move(state);
    if (owner) EnableWindow(owner, FALSE);
    if ((header->dwFlags & PSH_USECALLBACK) && header->pfnCallback) header->pfnCallback(sheet, PSCB_INITIALIZED, 0);

    int start = header->nStartPage < header->nPages ? static_cast<int>(header->nStartPage) : 0;
    if (standin::ui::Activate(sheet, start)) {
        standin::SheetDriver driver = e.driver;  // a copy: the driver may install another
        if (driver) driver(sheet);
        // A sheet the driver left open is cancelled; one whose page refuses even that is ended.
        if (!standin::ui::StateOf(sheet)->ended && !standin::PressSheetCancel(sheet)) {
            standin::ui::EndSheet(sheet, 0);
        }
    } else {
        standin::ui::EndSheet(sheet, 0);
    }

    INT_PTR result = standin::ui::StateOf(sheet)->result;
    bool reenable = standin::ui::StateOf(sheet)->ownerWasEnabled;
    std::vector<HPROPSHEETPAGE> handles;
    for (const standin::ui::SheetPage& page : standin::ui::StateOf(sheet)->pages) handles.push_back(page.handle);
    standin::ui::Destroy(sheet);
    for (HPROPSHEETPAGE handle : handles) DestroyPropertySheetPage(handle);
    if (owner && reenable) EnableWindow(owner, TRUE);
    return result;
}
