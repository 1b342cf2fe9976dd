// The settings sheet under any sequence of a user's actions: tabs, picks, typing of any text,
// deletions, clicks and slider moves on both pages, over any stored set, ended by OK, Cancel or the
// close box. After every action each edit shows the value its field holds; OK stores the working
// record as the pages left it, and a set the next load takes whole; Cancel stores nothing; no
// window, page or object outlives Config.
#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/standin/ui/driver.h"
#include "platform/standin/ui/templates.h"
#include "plugin/entry_points.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/settings_fields.h"
#include "tests/fuzz/fuzz_support.h"
#include "ui/page_support.h"
#include "ui/resources/resource.h"
#include "ui/settings_sheet.h"

namespace {

struct EditField {
    int tab;
    int id;
    size_t offset;
};

// Which field each edit shows.
const EditField kEditFields[] = {
    {0, IDC_BITRATE, offsetof(EncoderSettings, Bitrate)},
    {0, IDC_BUFFER_SIZE, offsetof(EncoderSettings, BufferWindow)},
    {0, IDC_PEAK_BITRATE, offsetof(EncoderSettings, PeakBitrate)},
    {0, IDC_PEAK_BUFFER, offsetof(EncoderSettings, PeakBuffer)},
    {0, IDC_QUALITY, offsetof(EncoderSettings, Quality)},
    {0, IDC_KEY_FRAME_INTERVAL, offsetof(EncoderSettings, KeyFrameInterval)},
    {0, IDC_ASPECT_WIDTH, offsetof(EncoderSettings, ResizeToW)},
    {0, IDC_ASPECT_HEIGHT, offsetof(EncoderSettings, ResizeToH)},
    {1, IDC_BUFFER_SIZE, offsetof(EncoderSettings, AudioBufferWindow)},
};

std::string Utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// A printable ASCII byte is typed as itself, so that whole numbers can be given; any other byte
// picks a key, digits mostly, with the characters a user slips in, or (0xFF) any UTF-16 unit.
std::u16string TypedText(FuzzInput& in) {
    static const char16_t kKeys[] = u"0123456789012345678901234567890123456789 -+x.,\u3000\uff10";
    const size_t length = in.Byte() % 16;
    std::u16string text;
    for (size_t k = 0; k < length; ++k) {
        const uint8_t b = in.Byte();
        if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char16_t>(b);
        } else {
            text += b == 0xFF ? static_cast<char16_t>(in.U16()) : kKeys[b % (sizeof kKeys / sizeof kKeys[0] - 1)];
        }
    }
    return text;
}

enum ControlKind { kCombo, kEdit, kButton, kTrackbar, kKinds };

// A shown page's controls in template order. A page keeps its controls for its life and a handle
// is never given out again, so they are read once per page.
struct PageControls {
    HWND page;
    std::vector<HWND> controls;
};

// Where a tab's controls of each kind stand among its page's controls. Every input builds its
// pages from the same templates, so the classes are read once per tab, from the first page shown
// there.
struct TabKinds {
    size_t controls = 0;
    std::vector<size_t> ofKind[kKinds];
};

const TabKinds& KindsOfTab(int tab, const std::vector<HWND>& controls) {
    static const char* const kNames[kKinds] = {"combo", "edit", "button", "trackbar"};
    static std::vector<TabKinds> known;
    if (tab >= static_cast<int>(known.size())) known.resize(static_cast<size_t>(tab) + 1);
    TabKinds& kinds = known[static_cast<size_t>(tab)];
    if (kinds.controls == controls.size()) return kinds;
    kinds = TabKinds{controls.size(), {}};
    for (size_t i = 0; i < controls.size(); ++i) {
        std::string name = Utf8(standin::ReadControl(controls[i]).className);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (int k = 0; k < kKinds; ++k) {
            if (name.find(kNames[k]) != std::string::npos) kinds.ofKind[k].push_back(i);
        }
    }
    return kinds;
}

// One of the shown page's controls of a kind, chosen by `b`; null when it has none.
HWND Pick(std::vector<PageControls>& known, HWND page, int tab, ControlKind kind, uint8_t b) {
    if (!page) return nullptr;
    const PageControls* shown = nullptr;
    for (const PageControls& p : known) {
        if (p.page == page) shown = &p;
    }
    if (!shown) {
        known.push_back(PageControls{page, standin::DialogControls(page)});
        shown = &known.back();
    }
    const std::vector<size_t>& places = KindsOfTab(tab, shown->controls).ofKind[kind];
    return places.empty() ? nullptr : shown->controls[places[b % places.size()]];
}

// The invariant of the edits: each shows, as a number, what its field holds.
// `action` is the action's number, -1 for the sheet as it came up; `op` what it did.
// Reading an edit sends no message, so a tab's page and record are looked up once for its edits.
void RequireEditsShowTheirFields(HWND sheet, int action, int op) {
    int tab = -1;
    HWND page = nullptr;
    const EncoderSettings* working = nullptr;
    for (const EditField& e : kEditFields) {
        if (e.tab != tab) {
            tab = e.tab;
            page = standin::SheetPage(sheet, tab);
            working = page ? PageSettings(page) : nullptr;
        }
        if (!page) continue;
        FUZZ_REQUIRE(working != nullptr, "a page without its record");
        BOOL read = FALSE;
        const UINT shown = GetDlgItemInt(page, e.id, &read, FALSE);
        FUZZ_REQUIRE(read && shown == RecordField(working, e.offset),
                     "after " +
                         (action < 0 ? std::string("the sheet came up")
                                     : "action " + std::to_string(action) + " (" + std::to_string(op) + ")") +
                         ", edit " + std::to_string(e.id) + " on tab " + std::to_string(e.tab) + " shows \"" +
                         Utf8(standin::WindowText(GetDlgItem(page, e.id))) + "\" for " +
                         std::to_string(RecordField(working, e.offset)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    FuzzReset();

    // A stored set to start from: the defaults, or any values within the registry's limits.
    if (in.Bit()) {
        EncoderSettings s = FuzzDefaults();
        for (const SettingsRegistryRow& row : SettingsRegistryTable) {
            if (!in.Bit()) continue;
            uint32_t v = in.U32();
            if (row.Maximum != kNoMaximum) v %= row.Maximum + 1;
            SetRecordField(&s, row.FieldOffset, v);
        }
        FUZZ_REQUIRE(WriteSettingsToRegistry(&s), "the set is stored");
    }
    EncoderSettings before;
    std::memset(&before, 0, sizeof before);
    const bool storedBefore = ReadSettingsFromRegistry(&before);

    bool shown = false, pressedOk = false;
    EncoderSettings working{};
    HWND owner = standin::CreateOwnerWindow(u"editor");
    standin::SetSheetDriver([&](HWND sheet) {
        shown = true;
        RequireEditsShowTheirFields(sheet, -1, 0);
        std::vector<PageControls> known;
        const size_t actions = in.Byte() % 48;
        for (size_t a = 0; a < actions && !in.Empty(); ++a) {
            const int tab = standin::SheetActiveTab(sheet);
            HWND page = standin::SheetPage(sheet, tab);
            const uint8_t op = in.Byte() % 9;
            const uint8_t which = in.Byte();
            switch (op) {
            case 0: standin::SelectSheetTab(sheet, which % 3); break;
            case 1: {
                HWND combo = Pick(known, page, tab, kCombo, which);
                const int count = combo ? static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)) : 0;
                const int entry = static_cast<int>(in.Byte()) - 2;
                if (combo) standin::PickComboEntry(combo, count ? entry % (count + 2) : entry);
                break;
            }
            case 2:
                if (HWND edit = Pick(known, page, tab, kEdit, which)) standin::TypeText(edit, TypedText(in));
                break;
            case 3:
                if (HWND edit = Pick(known, page, tab, kEdit, which)) standin::SelectAllText(edit);
                break;
            case 4:
                if (HWND edit = Pick(known, page, tab, kEdit, which)) standin::PressBackspace(edit);
                break;
            case 5:
                if (HWND edit = Pick(known, page, tab, kEdit, which)) standin::MoveCaretToEnd(edit);
                break;
            case 6:
                if (HWND button = Pick(known, page, tab, kButton, which)) standin::ClickButton(button);
                break;
            case 7:
                if (HWND slider = Pick(known, page, tab, kTrackbar, which)) {
                    standin::DragSlider(slider, static_cast<int8_t>(in.Byte()));
                }
                break;
            case 8:
                if (HWND slider = Pick(known, page, tab, kTrackbar, which)) {
                    standin::KeySlider(slider, static_cast<int8_t>(in.Byte()));
                }
                break;
            }
            RequireEditsShowTheirFields(sheet, static_cast<int>(a), op);
        }
        const uint8_t end = in.Byte() % 3;
        if (end == 0) {
            HWND page = standin::SheetPage(sheet, 0);
            if (page && PageSettings(page)) working = *PageSettings(page);
            pressedOk = standin::PressSheetOk(sheet);
        } else if (end == 1) {
            standin::PressSheetCancel(sheet);
        } else {
            standin::PressSheetCloseBox(sheet);
        }
    });
    static const HINSTANCE module = standin::ModuleInstanceOf(reinterpret_cast<const void*>(&ConfigureSettings));
    FUZZ_REQUIRE(Config(owner, module) == 1, "Config answers 1");
    standin::SetSheetDriver(nullptr);
    DestroyWindow(owner);
    FUZZ_REQUIRE(shown, "the sheet came up");

    EncoderSettings after;
    std::memset(&after, 0, sizeof after);
    const bool storedAfter = ReadSettingsFromRegistry(&after);
    if (pressedOk) {
        // What the pages left is stored, and the next load takes it whole.
        FUZZ_REQUIRE(storedAfter, "OK stored a set the next load refuses");
        for (const SettingsRegistryRow& row : SettingsRegistryTable) {
            FUZZ_REQUIRE(RecordField(&after, row.FieldOffset) == RecordField(&working, row.FieldOffset),
                         std::string(row.ValueName) + " stored otherwise than the pages left it");
        }
    } else {
        FUZZ_REQUIRE(storedAfter == storedBefore, "a cancelled sheet changed the store");
        for (const SettingsRegistryRow& row : SettingsRegistryTable) {
            if (storedBefore) {
                FUZZ_REQUIRE(RecordField(&after, row.FieldOffset) == RecordField(&before, row.FieldOffset),
                             std::string(row.ValueName) + " changed by a cancelled sheet");
            }
        }
    }
    RequireNothingLeft("after Config");
    return 0;
}
