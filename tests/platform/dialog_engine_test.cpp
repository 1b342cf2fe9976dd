// The headless dialog engine: the notifications a page procedure receives from the controls and
// the sheet, in Windows' order, and what reading a number back accepts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/standin/leaks.h"
#include "platform/standin/ui/driver.h"
#include "platform/standin/ui/templates.h"
#include "platform/win32.h"
#include "ui/resources/resource.h"

namespace {

std::vector<std::string> g_log;
// Text that, arriving in the bit-rate edit, the page answers by showing 5 again.
const char16_t* g_restoreOn = nullptr;

std::string Code(UINT code) { return std::to_string(static_cast<int>(code)); }

INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            g_log.push_back("init " + std::to_string(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam));
            return TRUE;
        case WM_COMMAND:
            g_log.push_back("command " + std::to_string(LOWORD(wParam)) + " " + std::to_string(HIWORD(wParam)));
            if (LOWORD(wParam) == IDC_BITRATE && HIWORD(wParam) == EN_UPDATE && g_restoreOn &&
                standin::WindowText(GetDlgItem(dialog, IDC_BITRATE)) == g_restoreOn) {
                SetDlgItemInt(dialog, IDC_BITRATE, 5, FALSE);
            }
            return TRUE;
        case WM_HSCROLL:
            g_log.push_back("hscroll " + std::to_string(LOWORD(wParam)));
            return TRUE;
        case WM_NOTIFY: {
            const NMHDR* h = reinterpret_cast<const NMHDR*>(lParam);
            std::string line = "notify " + Code(h->code);
            if (h->code == PSN_APPLY || h->code == PSN_RESET) {
                line += " " + std::to_string(reinterpret_cast<const PSHNOTIFY*>(lParam)->lParam);
            }
            g_log.push_back(line);
            SetWindowLongA(dialog, DWL_MSGRESULT, 0);
            return TRUE;
        }
        case WM_DESTROY:
            g_log.push_back("destroy");
            return FALSE;
        default:
            return FALSE;
    }
}

HINSTANCE TestModule() { return standin::ModuleInstanceOf(reinterpret_cast<const void*>(&RecordingProc)); }

HPROPSHEETPAGE MakePage(WORD templateId, LPARAM param) {
    PROPSHEETPAGEA page{};
    page.dwSize = PROPSHEETPAGEA_V2_SIZE;
    page.hInstance = TestModule();
    page.pszTemplate = MAKEINTRESOURCEA(templateId);
    page.pfnDlgProc = RecordingProc;
    page.lParam = param;
    return CreatePropertySheetPageA(&page);
}

// Runs a sheet of the two templates (Video first) with `driver` acting; returns PropertySheetA's answer.
INT_PTR RunSheet(const standin::SheetDriver& driver, HWND owner = nullptr) {
    HPROPSHEETPAGE pages[2] = {MakePage(IDD_VIDEO_PAGE, 1), MakePage(IDD_AUDIO_PAGE, 2)};
    PROPSHEETHEADERA header{};
    header.dwSize = PROPSHEETHEADERA_V2_SIZE;
    header.dwFlags = PSH_PROPTITLE | PSH_NOAPPLYNOW;
    header.hwndParent = owner;
    header.hInstance = TestModule();
    header.pszCaption = "Test";
    header.nPages = 2;
    header.phpage = pages;
    standin::SetSheetDriver(driver);
    g_log.clear();
    return PropertySheetA(&header);
}

std::vector<std::string> Since(size_t from) { return std::vector<std::string>(g_log.begin() + from, g_log.end()); }

TEST(DialogEngine, SheetCreatesPagesWhenFirstShownAndEndsAsComctlDoes) {
    struct Case {
        const char* name;
        bool visitAudio;
        int end;  // 0 OK, 1 Cancel, 2 close box, 3 driver returns
        INT_PTR result;
        std::vector<std::string> log;
    };
    const std::string set = Code(PSN_SETACTIVE), kill = Code(PSN_KILLACTIVE), apply = Code(PSN_APPLY),
                      query = Code(PSN_QUERYCANCEL), reset = Code(PSN_RESET);
    const std::vector<Case> cases = {
        {"ok after a visit", true, 0, 1,
         {"init 1", "notify " + set, "notify " + kill, "init 2", "notify " + set, "notify " + kill,
          "notify " + apply + " 1", "notify " + apply + " 1", "destroy", "destroy"}},
        {"cancel, Audio never shown", false, 1, 0,
         {"init 1", "notify " + set, "notify " + query, "notify " + reset + " 0", "destroy"}},
        {"close box", false, 2, 0, {"init 1", "notify " + set, "notify " + query, "notify " + reset + " 1", "destroy"}},
        {"driver leaves it open", false, 3, 0,
         {"init 1", "notify " + set, "notify " + query, "notify " + reset + " 0", "destroy"}},
    };
    for (const Case& c : cases) {
        HWND owner = standin::CreateOwnerWindow(u"editor");
        bool ownerDisabled = false;
        INT_PTR r = RunSheet(
            [&](HWND sheet) {
                ownerDisabled = !IsWindowEnabled(owner);
                EXPECT_EQ(standin::SheetTabCount(sheet), 2);
                EXPECT_EQ(standin::SheetTabText(sheet, 0), u"Video");
                EXPECT_EQ(standin::SheetTabText(sheet, 1), u"Audio");
                EXPECT_EQ(standin::SheetCaption(sheet), u"Test Properties");
                EXPECT_EQ(standin::SheetPage(sheet, 1), nullptr) << c.name;
                if (c.visitAudio) {
                    EXPECT_TRUE(standin::SelectSheetTab(sheet, 1));
                    EXPECT_NE(standin::SheetPage(sheet, 1), nullptr);
                }
                bool (*const ends[])(HWND) = {standin::PressSheetOk, standin::PressSheetCancel,
                                              standin::PressSheetCloseBox};
                if (c.end < 3) {
                    EXPECT_TRUE(ends[c.end](sheet));
                    EXPECT_FALSE(standin::PressSheetOk(sheet)) << "an ended sheet takes no more";
                }
            },
            owner);
        EXPECT_EQ(r, c.result) << c.name;
        EXPECT_EQ(g_log, c.log) << c.name;
        EXPECT_TRUE(ownerDisabled) << c.name;
        EXPECT_TRUE(IsWindowEnabled(owner)) << c.name;
        EXPECT_EQ(standin::LivePageHandles(), 0) << c.name;
        EXPECT_EQ(standin::LiveWindows(), 1) << c.name;
        DestroyWindow(owner);
    }
}

TEST(DialogEngine, ControlsNotifyOnlyWhereWindowsDoes) {
    size_t mark = 0;
    HWND page = nullptr, bitrate = nullptr, stale = nullptr;
    const std::string command = "command " + std::to_string(IDC_BITRATE) + " ";
    const std::string update = command + std::to_string(EN_UPDATE), change = command + std::to_string(EN_CHANGE);
    g_restoreOn = u"x";
    RunSheet([&](HWND sheet) {
        page = standin::SheetPage(sheet, 0);
        bitrate = GetDlgItem(page, IDC_BITRATE);
        stale = GetDlgItem(page, IDC_MODE);

        // The program's own text: EN_UPDATE then EN_CHANGE, also for the same text.
        mark = g_log.size();
        SetDlgItemInt(page, IDC_BITRATE, 7, FALSE);
        SetDlgItemInt(page, IDC_BITRATE, 7, FALSE);
        EXPECT_EQ(Since(mark), (std::vector<std::string>{update, change, update, change}));

        // A restore from inside EN_UPDATE nests its own pair.
        mark = g_log.size();
        ASSERT_TRUE(standin::SelectAllText(bitrate));
        std::vector<std::string> focus = Since(mark);
        mark = g_log.size();
        ASSERT_TRUE(standin::TypeText(bitrate, u"x"));
        EXPECT_EQ(Since(mark), (std::vector<std::string>{update, update, change, change}));
        EXPECT_EQ(standin::WindowText(bitrate), u"5");
        // The restore put the caret at 0: the next key goes in front.
        ASSERT_TRUE(standin::TypeText(bitrate, u"1"));
        EXPECT_EQ(standin::WindowText(bitrate), u"15");
        ASSERT_TRUE(standin::MoveCaretToEnd(bitrate));
        ASSERT_TRUE(standin::PressBackspace(bitrate));
        EXPECT_EQ(standin::WindowText(bitrate), u"1");

        // Combo: the program's selection is silent, the user's pick is not.
        HWND mode = GetDlgItem(page, IDC_MODE);
        SendMessageA(mode, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("a"));
        SendMessageW(mode, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"\u30d3"));
        SendMessageA(mode, CB_SETITEMDATA, 1, static_cast<LPARAM>(0x80020003u));
        EXPECT_EQ(SendMessageA(mode, CB_GETITEMDATA, 1, 0), static_cast<LRESULT>(static_cast<LONG>(0x80020003u)));
        EXPECT_EQ(SendMessageA(mode, CB_GETITEMDATA, 2, 0), CB_ERR);
        mark = g_log.size();
        EXPECT_EQ(SendMessageA(mode, CB_SETCURSEL, 1, 0), 1);
        EXPECT_EQ(SendMessageA(mode, CB_SETCURSEL, 5, 0), CB_ERR);
        EXPECT_EQ(SendMessageA(mode, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_TRUE(standin::PickComboText(mode, u"\u30d3"));
        EXPECT_EQ(SendMessageA(mode, CB_GETCURSEL, 0, 0), 1);
        std::vector<std::string> picked = Since(mark);
        ASSERT_FALSE(picked.empty());
        EXPECT_EQ(picked.back(), "command " + std::to_string(IDC_MODE) + " " + std::to_string(CBN_SELCHANGE));
        // The shown text's length is in the caller's units: what an ANSI read of it needs in bytes.
        char shown[16] = {};
        EXPECT_EQ(SendMessageW(mode, WM_GETTEXTLENGTH, 0, 0), 1);
        EXPECT_EQ(SendMessageA(mode, WM_GETTEXTLENGTH, 0, 0), SendMessageA(mode, WM_GETTEXT, sizeof shown,
                                                                           reinterpret_cast<LPARAM>(shown)));

        // Check box: CheckDlgButton is silent; a click toggles first, then BN_CLICKED; disabled: nothing.
        HWND box = GetDlgItem(page, IDC_ASPECT_ENABLE);
        mark = g_log.size();
        CheckDlgButton(page, IDC_ASPECT_ENABLE, BST_CHECKED);
        EXPECT_TRUE(Since(mark).empty());
        mark = g_log.size();
        EXPECT_TRUE(standin::ClickButton(box));
        EXPECT_EQ(IsDlgButtonChecked(page, IDC_ASPECT_ENABLE), static_cast<UINT>(BST_UNCHECKED));
        EXPECT_EQ(g_log.back(), "command " + std::to_string(IDC_ASPECT_ENABLE) + " 0");
        EnableWindow(box, FALSE);
        mark = g_log.size();
        EXPECT_FALSE(standin::ClickButton(box));
        EXPECT_EQ(g_log.size(), mark);

        // Trackbar: signed halves, clamping, keys without NM_RELEASEDCAPTURE, a drag with it.
        HWND slider = GetDlgItem(page, IDC_PERFORMANCE);
        EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 100);
        SendMessageA(slider, TBM_SETPOS, TRUE, 1000);
        EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 100);
        SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELONG(0, 0xFFFF));
        EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), -1);
        EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), -1);
        SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELONG(0, 4));
        mark = g_log.size();
        EXPECT_TRUE(standin::KeySlider(slider, 2));
        EXPECT_EQ(Since(mark), (std::vector<std::string>{"hscroll 1", "hscroll 8", "hscroll 1", "hscroll 8"}));
        mark = g_log.size();
        EXPECT_TRUE(standin::DragSlider(slider, 9));
        EXPECT_EQ(Since(mark), (std::vector<std::string>{"hscroll 5", "hscroll 4", "hscroll 8",
                                                         "notify " + Code(NM_RELEASEDCAPTURE)}));
        EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 4);
        standin::PressSheetOk(sheet);
    });
    g_restoreOn = nullptr;
    EXPECT_FALSE(IsWindow(page));
    EXPECT_FALSE(standin::TypeText(bitrate, u"1")) << "a handle outlives its window only as a stale one";
    EXPECT_EQ(GetDlgItem(page, IDC_MODE), nullptr);
    EXPECT_EQ(SendMessageA(stale, CB_GETCOUNT, 0, 0), 0);
}

TEST(DialogEngine, ReadsNumbersBackAsWindowsDoes) {
    struct Case {
        const char16_t* text;
        BOOL isSigned;
        UINT value;
        BOOL translated;
    };
    const Case cases[] = {
        {u"", FALSE, 0, FALSE},          {u"   ", FALSE, 0, FALSE},     {u"123", FALSE, 123, TRUE},
        {u"007", FALSE, 7, TRUE},        {u"  42", FALSE, 42, TRUE},    {u"42 ", FALSE, 0, FALSE},  {u"\t1", FALSE, 0, FALSE},
        {u"12a", FALSE, 0, FALSE},       {u"1,000", FALSE, 0, FALSE},   {u"-1", FALSE, 0, FALSE},
        {u"+5", FALSE, 0, FALSE},        {u"4294967295", FALSE, 4294967295u, TRUE},
        {u"4294967296", FALSE, 0, FALSE}, {u"99999999999", FALSE, 0, FALSE},
        {u"-2147483648", TRUE, 0x80000000u, TRUE}, {u"2147483648", TRUE, 0, FALSE}, {u"-", TRUE, 0, FALSE},
    };
    RunSheet([&](HWND sheet) {
        HWND page = standin::SheetPage(sheet, 0);
        for (const Case& c : cases) {
            SendMessageW(GetDlgItem(page, IDC_BITRATE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.text));
            BOOL translated = 2;
            EXPECT_EQ(GetDlgItemInt(page, IDC_BITRATE, &translated, c.isSigned), c.value);
            EXPECT_EQ(translated, c.translated) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
        }
        BOOL translated = TRUE;
        EXPECT_EQ(GetDlgItemInt(page, 4242, &translated, FALSE), 0u);
        EXPECT_FALSE(translated);
    });
}

TEST(DialogEngine, RefusesWhatItCannotShowAndCountsWhatIsLeft) {
    // A failed page creation, a header without pages, an injected failure.
    standin::FailNthPageCreation(2);
    HPROPSHEETPAGE first = MakePage(IDD_VIDEO_PAGE, 1);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(MakePage(IDD_AUDIO_PAGE, 2), nullptr);
    PROPSHEETHEADERA header{};
    header.dwSize = PROPSHEETHEADERA_V2_SIZE;
    header.phpage = &first;
    EXPECT_EQ(PropertySheetA(&header), -1);
    EXPECT_EQ(standin::LivePageHandles(), 1) << "a header refused as such leaves the pages alone";
    header.nPages = 1;
    standin::FailNextPropertySheet();
    EXPECT_EQ(PropertySheetA(&header), -1);
    EXPECT_EQ(standin::LivePageHandles(), 0) << "the sheet owns the pages it was given";
    EXPECT_FALSE(DestroyPropertySheetPage(first));
    HPROPSHEETPAGE missing = MakePage(4242, 1);
    header.phpage = &missing;
    EXPECT_EQ(PropertySheetA(&header), 0) << "a template the module lacks";
    EXPECT_EQ(standin::LivePageHandles(), 0);
    PROPSHEETPAGEA small{};
    small.dwSize = PROPSHEETPAGEA_V1_SIZE - 1;
    EXPECT_EQ(CreatePropertySheetPageA(&small), nullptr);

    // The leak line names a window left alive.
    HWND owner = standin::CreateOwnerWindow(u"forgotten");
    std::vector<std::string> leaks = standin::CollectLeaks();
    ASSERT_EQ(leaks.size(), 1u);
    EXPECT_NE(leaks[0].find("forgotten"), std::string::npos) << leaks[0];
    DestroyWindow(owner);
}

}  // namespace
