// The settings sheet as a user meets it: the driver picks, types, clicks and drags on the pages,
// and what OK stored is read back from the registry.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/standin/ui/driver.h"
#include "platform/standin/ui/templates.h"
#include "platform/standin/wmvcore/runtime.h"
#include "plugin/entry_points.h"
#include "settings/settings_registry.h"
#include "tests/common/settings_fields.h"
#include "ui/resources/resource.h"
#include "ui/settings_sheet.h"

#define AT(field) offsetof(EncoderSettings, field)

namespace {

using standin::ReadControl;
using Entries = std::vector<std::pair<std::u16string, DWORD>>;

EncoderSettings Loaded() {
    EncoderSettings s;
    std::memset(&s, 0, sizeof s);
    EXPECT_EQ(LoadSettings(&s), S_OK);
    return s;
}

// Stores the loaded record with a change, and returns what was stored.
EncoderSettings StoreWith(const std::function<void(EncoderSettings&)>& change) {
    EncoderSettings s = Loaded();
    change(s);
    EXPECT_TRUE(WriteSettingsToRegistry(&s));
    return s;
}

void ExpectSameStore(const EncoderSettings& actual, const EncoderSettings& expected) {
    for (const SettingsRegistryRow& row : SettingsRegistryTable) {
        EXPECT_EQ(RecordField(&actual, row.FieldOffset), RecordField(&expected, row.FieldOffset)) << row.ValueName;
    }
}

// Runs Config as the editor does, `user` acting on the sheet; false when no sheet came up.
bool RunConfig(const std::function<void(HWND)>& user) {
    bool shown = false;
    HWND owner = standin::CreateOwnerWindow(u"editor");
    standin::SetSheetDriver([&](HWND sheet) {
        shown = true;
        EXPECT_FALSE(IsWindowEnabled(owner)) << "the sheet is modal over the editor";
        user(sheet);
    });
    EXPECT_EQ(Config(owner, standin::ModuleInstanceOf(reinterpret_cast<const void*>(&ConfigureSettings))), 1);
    standin::SetSheetDriver(nullptr);
    DestroyWindow(owner);
    return shown;
}

// A control of a page, the page shown first.
HWND Control(HWND sheet, int tab, int id) {
    standin::SelectSheetTab(sheet, tab);
    return GetDlgItem(standin::SheetPage(sheet, tab), id);
}

Entries EntriesOf(HWND combo) {
    Entries out;
    for (const standin::ComboEntry& e : ReadControl(combo).entries) out.emplace_back(e.text, e.data);
    return out;
}

// What the format combo lists for a codec: VBR off with 1 pass, VBR on with 1 pass, then with 2.
Entries FormatEntries(const standin::CatalogueCodec& codec) {
    Entries out;
    for (DWORD group = 0; group < 3; ++group) {
        const DWORD vbr = group ? 1 : 0, passes = group == 2 ? 2 : 1;
        if (vbr && codec.rejectsVbrSetting) continue;
        const auto& list = codec.lists[vbr][passes - 1];
        for (DWORD j = 0; j < list.size(); ++j) out.emplace_back(list[j].description, vbr << 31 | passes << 16 | j);
    }
    return out;
}

}  // namespace

TEST(SettingsSheet, OnlyOkStoresAndItStoresTheLoadedRecord) {
    const EncoderSettings defaults = Loaded();
    const std::function<void(HWND)> ends[] = {[](HWND s) { standin::PressSheetCancel(s); },
                                              [](HWND s) { standin::PressSheetCloseBox(s); }, [](HWND) {}};
    for (const auto& end : ends) {
        ASSERT_TRUE(RunConfig([&](HWND sheet) {
            standin::PickComboEntry(Control(sheet, 0, IDC_MODE), 0);
            standin::TypeText(Control(sheet, 0, IDC_BITRATE), u"5");
            standin::PickComboEntry(Control(sheet, 1, IDC_AUDIO_FORMAT), 2);
            end(sheet);
        }));
        EncoderSettings stored{};
        EXPECT_FALSE(ReadSettingsFromRegistry(&stored)) << "nothing stored";
    }
    ASSERT_TRUE(RunConfig([](HWND sheet) {
        EXPECT_EQ(standin::SheetCaption(sheet), u"Microsoft Windows Media Video 9 Properties Properties");
        ASSERT_EQ(standin::SheetTabCount(sheet), 2);
        EXPECT_EQ(standin::SheetTabText(sheet, 0), u"Video");
        EXPECT_EQ(standin::SheetTabText(sheet, 1), u"Audio");
        const standin::ControlState format = ReadControl(Control(sheet, 1, IDC_AUDIO_FORMAT));
        EXPECT_EQ(format.entries.at(format.selection).data, 0x00010000u) << "first format, CBR, 1 pass";
        standin::PressSheetOk(sheet);
    }));
    EncoderSettings stored{};
    ASSERT_TRUE(ReadSettingsFromRegistry(&stored));
    ExpectSameStore(stored, defaults);
}

// Nothing the pages show at their start may store anything, even values their edits refuse; and
// reading back the largest numbers may fail (as under Wine) without the page putting them back
// without end.
TEST(SettingsSheet, FieldsAtTheirLimitsAreShownAsStoredAndComeBackUnchanged) {
    struct Case {
        int32_t resize;
        UINT readLimit;
    };
    for (const Case& c : {Case{0, 0xFFFFFFFFu}, Case{1, 0xFFFFFFFFu}, Case{1, 0xFFFFFFFEu}}) {
        SCOPED_TRACE(c.readLimit);
        const EncoderSettings limits = StoreWith([&](EncoderSettings& s) {
            for (const SettingsRegistryRow& row : SettingsRegistryTable) {
                SetRecordField(&s, row.FieldOffset, row.Maximum);
            }
            s.EnableResizeTo = c.resize;
            // An audio choice the lists show (2-pass VBR at the limits), which they therefore keep.
            s.AudioCodec = 0;
            s.AudioFormat = 0;
        });
        standin::FailDlgItemIntReadsAbove(c.readLimit);
        RunConfig([&](HWND sheet) {
            for (int id : {IDC_KEY_FRAME_INTERVAL, IDC_ASPECT_WIDTH, IDC_ASPECT_HEIGHT, IDC_BITRATE}) {
                const standin::ControlState edit = ReadControl(Control(sheet, 0, id));
                EXPECT_EQ(edit.text, u"4294967295");
                EXPECT_EQ(edit.enabled, (id != IDC_ASPECT_WIDTH && id != IDC_ASPECT_HEIGHT) || c.resize);
            }
            // A keystroke that spoils the number brings back the stored value, and it stays.
            HWND interval = Control(sheet, 0, IDC_KEY_FRAME_INTERVAL);
            standin::MoveCaretToEnd(interval);
            standin::TypeText(interval, u"1");
            EXPECT_EQ(ReadControl(interval).text, u"4294967295");
            EXPECT_EQ(ReadControl(Control(sheet, 1, IDC_BUFFER_SIZE)).text, u"4294967295");
            standin::PressSheetOk(sheet);
        });
        standin::FailDlgItemIntReadsAbove(0xFFFFFFFFu);
        ExpectSameStore(Loaded(), limits);
    }
}

TEST(SettingsSheet, ModeAndComplexityDecideTheRateControlsAndTheLevelList) {
    StoreWith([](EncoderSettings& s) {
        s.CompressionMode = 0;
        s.DecoderComplexity = 1;
    });
    const std::vector<std::u16string> two = {u"LL - Low Level", u"ML - Medium Level"};
    const std::vector<std::u16string> three = {u"LL - Low Level", u"ML - Medium Level", u"HL - High Level"};
    const std::vector<std::u16string> none = {u"Not Available"};
    const int controls[] = {IDC_BITRATE, IDC_BUFFER_SIZE, IDC_PEAK_BITRATE, IDC_PEAK_BUFFER, IDC_QUALITY,
                            IDC_DECODER_LEVEL};
    const char* const enabledByMode[] = {"110011", "110011", "000010", "100000", "101101"};
    RunConfig([&](HWND sheet) {
        HWND level = Control(sheet, 0, IDC_DECODER_LEVEL);
        for (int complexity : {0, 2, 1}) {
            for (int mode : {2, 3, 4, 1, 0}) {
                SCOPED_TRACE("mode " + std::to_string(mode) + ", complexity " + std::to_string(complexity));
                standin::PickComboEntry(Control(sheet, 0, IDC_COMPLEXITY), complexity);
                standin::PickComboEntry(Control(sheet, 0, IDC_MODE), mode);
                for (int i = 0; i < 6; ++i) {
                    EXPECT_EQ(ReadControl(Control(sheet, 0, controls[i])).enabled, enabledByMode[mode][i] == '1');
                }
                std::vector<std::u16string> levels;
                for (const auto& e : EntriesOf(level)) levels.push_back(e.first);
                EXPECT_EQ(levels, mode > 1 || complexity == 2 ? none : complexity == 0 ? two : three);
                EXPECT_EQ(ReadControl(Control(sheet, 0, IDC_BITRATE)).text, u"300000") << "disabling clears nothing";
            }
        }
        standin::PressSheetOk(sheet);
    });
}

// The level list shows the stored level where it offers it, and its first level where it does not
// (the record then takes that level: OK stores what was shown); "Not Available" takes nothing.
TEST(SettingsSheet, TheLevelShownIsTheLevelStored) {
    struct Case {
        const char* what;
        int32_t mode, complexity;
        uint32_t level;
        std::vector<std::pair<int, int>> picks;  // (combo id, entry)
        int shown;                               // the level list's selection in the end
        uint32_t stored;
    };
    const Case cases[] = {
        {"HL of Main", 0, 1, 2, {}, 2, 2},
        {"a level beyond the list", 1, 1, 3, {}, 0, 0},
        {"HL of Simple", 0, 0, 2, {}, 0, 0},
        {"Main, then Simple", 0, 1, 2, {{IDC_COMPLEXITY, 0}}, 0, 0},
        {"Main, then Simple, then Main", 0, 1, 2, {{IDC_COMPLEXITY, 0}, {IDC_COMPLEXITY, 1}}, 0, 0},
        {"a VBR mode and back", 0, 1, 2, {{IDC_MODE, 2}, {IDC_MODE, 0}}, 2, 2},
        {"Complex and back", 0, 1, 2, {{IDC_COMPLEXITY, 2}, {IDC_COMPLEXITY, 1}}, 2, 2},
        {"a VBR mode", 2, 0, 2, {}, 0, 2},
        {"a level picked", 0, 1, 2, {{IDC_DECODER_LEVEL, 1}}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreWith([&](EncoderSettings& s) {
            s.CompressionMode = c.mode;
            s.DecoderComplexity = c.complexity;
            s.DecoderLevel = c.level;
        });
        RunConfig([&](HWND sheet) {
            for (const auto& pick : c.picks) standin::PickComboEntry(Control(sheet, 0, pick.first), pick.second);
            EXPECT_EQ(ReadControl(Control(sheet, 0, IDC_DECODER_LEVEL)).selection, c.shown);
            standin::PressSheetOk(sheet);
        });
        EXPECT_EQ(Loaded().DecoderLevel, c.stored);
    }
}

namespace {

// Each control of a page stores into its own field and no other: one user action from a stored
// set, then OK, and the store is that set with only the action's fields changed.
struct ControlCase {
    const char* what;
    int32_t mode;  // the stored rate-control mode, so that the control is enabled
    std::function<void(HWND)> act;
    std::vector<std::pair<size_t, uint32_t>> changes;
};

void ExpectEachControlStoresItsOwnField(int tab, const ControlCase* cases, size_t count) {
    for (const ControlCase* c = cases; c != cases + count; ++c) {
        SCOPED_TRACE(c->what);
        EncoderSettings expected = StoreWith([&](EncoderSettings& s) {
            s.CompressionMode = c->mode;
            s.DecoderComplexity = 1;
            s.EnableResizeTo = 1;
            s.ResizeToW = 4;
            s.ResizeToH = 3;
            s.VideoLanguage = 0x0411;
            s.AudioLanguage = 0x0411;
        });
        RunConfig([&](HWND sheet) {
            standin::SelectSheetTab(sheet, tab);
            c->act(standin::SheetPage(sheet, tab));
            standin::PressSheetOk(sheet);
        });
        for (const auto& change : c->changes) SetRecordField(&expected, change.first, change.second);
        ExpectSameStore(Loaded(), expected);
    }
}

// Selects all of an edit's text and types over it.
void TypeOver(HWND page, int id, const std::u16string& text) {
    HWND edit = GetDlgItem(page, id);
    EXPECT_TRUE(standin::SelectAllText(edit));
    EXPECT_TRUE(standin::TypeText(edit, text));
}

void Pick(HWND page, int id, const std::u16string& text) {
    EXPECT_TRUE(standin::PickComboText(GetDlgItem(page, id), text));
}

}  // namespace

TEST(SettingsSheet, EachVideoControlStoresItsOwnField) {
    const ControlCase cases[] = {
        {"mode", 0, [](HWND p) { Pick(p, IDC_MODE, u"2-pass VBR - constrained"); }, {{AT(CompressionMode), 4}}},
        {"complexity", 0, [](HWND p) { Pick(p, IDC_COMPLEXITY, u"Simple"); }, {{AT(DecoderComplexity), 0}}},
        {"level", 0, [](HWND p) { Pick(p, IDC_DECODER_LEVEL, u"HL - High Level"); }, {{AT(DecoderLevel), 2}}},
        {"language", 0, [](HWND p) { Pick(p, IDC_LANGUAGE, u"German (Germany) [de]"); }, {{AT(VideoLanguage), 0x0407}}},
        {"bit rate", 0, [](HWND p) { TypeOver(p, IDC_BITRATE, u"1500000"); }, {{AT(Bitrate), 1500000}}},
        {"buffer", 0, [](HWND p) { TypeOver(p, IDC_BUFFER_SIZE, u"2500"); }, {{AT(BufferWindow), 2500}}},
        {"quality at its top", 0, [](HWND p) { TypeOver(p, IDC_QUALITY, u"100"); }, {{AT(Quality), 100}}},
        {"peak bit rate", 4, [](HWND p) { TypeOver(p, IDC_PEAK_BITRATE, u"2000000"); }, {{AT(PeakBitrate), 2000000}}},
        {"peak buffer", 4, [](HWND p) { TypeOver(p, IDC_PEAK_BUFFER, u"6000"); }, {{AT(PeakBuffer), 6000}}},
        {"key frames", 0, [](HWND p) { TypeOver(p, IDC_KEY_FRAME_INTERVAL, u"3000"); }, {{AT(KeyFrameInterval), 3000}}},
        {"aspect width", 0, [](HWND p) { TypeOver(p, IDC_ASPECT_WIDTH, u"16"); }, {{AT(ResizeToW), 16}}},
        {"aspect height", 0, [](HWND p) { TypeOver(p, IDC_ASPECT_HEIGHT, u"9"); }, {{AT(ResizeToH), 9}}},
        {"aspect box", 0, [](HWND p) { standin::ClickButton(GetDlgItem(p, IDC_ASPECT_ENABLE)); },
         {{AT(EnableResizeTo), 0}}},
        {"slider by keys", 0, [](HWND p) { standin::KeySlider(GetDlgItem(p, IDC_PERFORMANCE), 4); },
         {{AT(Performance), 4}}},
    };
    ExpectEachControlStoresItsOwnField(0, cases, sizeof cases / sizeof cases[0]);
}

TEST(SettingsSheet, EachAudioControlStoresItsOwnField) {
    const ControlCase cases[] = {
        {"codec", 0, [](HWND p) { Pick(p, IDC_AUDIO_CODEC, u"Windows Media Audio 9 Professional"); },
         {{AT(AudioCodec), 1}}},
        {"format", 0, [](HWND p) { standin::PickComboEntry(GetDlgItem(p, IDC_AUDIO_FORMAT), 2); },
         {{AT(AudioFormat), 2}}},
        {"language", 0, [](HWND p) { Pick(p, IDC_LANGUAGE, u"German (Germany) [de]"); }, {{AT(AudioLanguage), 0x0407}}},
        {"buffer", 0, [](HWND p) { TypeOver(p, IDC_BUFFER_SIZE, u"2500"); }, {{AT(AudioBufferWindow), 2500}}},
    };
    ExpectEachControlStoresItsOwnField(1, cases, sizeof cases / sizeof cases[0]);

    // Only the Windows Media Audio 9 codecs are offered, whatever else the runtime lists.
    standin::InstallCatalogue(standin::LaterCatalogue());
    RunConfig([](HWND sheet) {
        Entries listed = EntriesOf(Control(sheet, 1, IDC_AUDIO_CODEC));
        EXPECT_EQ(listed, (Entries{{u"Windows Media Audio 9.2", 0},
                                   {u"Windows Media Audio 9.2 Lossless", 2},
                                   {u"Windows Media Audio 9 Voice", 3}}));
        standin::PressSheetCancel(sheet);
    });
}

TEST(SettingsSheet, EditsTakeANumberInRangeAndPutBackAnythingElseAtOnce) {
    // Keys: \1 selects all, \2 goes to the start, \3 to the end, \b deletes back; the rest is typed.
    struct Case {
        int tab, id;
        size_t offset;
        const char16_t* keys;
        uint32_t field;  // which the edit shows in the end
    };
    const Case cases[] = {
        {0, IDC_QUALITY, AT(Quality), u"\3" u"0", 80},
        {0, IDC_BITRATE, AT(Bitrate), u"\1\b", 300000},
        {0, IDC_KEY_FRAME_INTERVAL, AT(KeyFrameInterval), u"\1" u"2147483647", 2147483647},
        {0, IDC_KEY_FRAME_INTERVAL, AT(KeyFrameInterval), u"\1" u"2147483648", 214748364},
        {0, IDC_ASPECT_WIDTH, AT(ResizeToW), u"\1" u"2147483647", 2147483647},
        {0, IDC_ASPECT_HEIGHT, AT(ResizeToH), u"\1" u"2147483648", 214748364},
        {0, IDC_BITRATE, AT(Bitrate), u"\1" u"4294967295", 4294967295u},
        {0, IDC_BUFFER_SIZE, AT(BufferWindow), u"\1" u"4294967296", 429496729},
        {0, IDC_PEAK_BITRATE, AT(PeakBitrate), u"\1" u"4294967295", 4294967295u},
        {0, IDC_PEAK_BUFFER, AT(PeakBuffer), u"\1" u"4294967296", 429496729},
        {1, IDC_BUFFER_SIZE, AT(AudioBufferWindow), u"\1" u"4294967295", 4294967295u},
        {1, IDC_BUFFER_SIZE, AT(AudioBufferWindow), u"\1" u"4294967296", 429496729},
        {0, IDC_BITRATE, AT(Bitrate), u"\1" u"5\2-", 5},
        {0, IDC_KEY_FRAME_INTERVAL, AT(KeyFrameInterval), u"\1" u"5\2+", 5},
        {1, IDC_BUFFER_SIZE, AT(AudioBufferWindow), u"\1" u"1a", 1},
        // A refused keystroke leaves the caret, or the selection, where it found it.
        {0, IDC_BITRATE, AT(Bitrate), u"\1" u"2,000,000", 2000000},
        {0, IDC_BITRATE, AT(Bitrate), u"\1" u"-5", 5},
        {0, IDC_BITRATE, AT(Bitrate), u"\1" u"12 3", 123},
        {0, IDC_BITRATE, AT(Bitrate), u"\1" u"1234\2\3x5", 12345},
        {0, IDC_KEY_FRAME_INTERVAL, AT(KeyFrameInterval), u"\1" u"30000000001", 300000000},
        {0, IDC_QUALITY, AT(Quality), u"\1" u"100", 100},
        {0, IDC_QUALITY, AT(Quality), u"\1" u"101\b5", 15},
        {1, IDC_BUFFER_SIZE, AT(AudioBufferWindow), u"\1" u" 7 ", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(&c - cases));
        StoreWith([&](EncoderSettings& s) {
            s.CompressionMode = c.id == IDC_PEAK_BITRATE || c.id == IDC_PEAK_BUFFER ? 4 : 0;
            s.EnableResizeTo = 1;
        });
        RunConfig([&](HWND sheet) {
            HWND edit = Control(sheet, c.tab, c.id);
            for (const char16_t* k = c.keys; *k; ++k) {
                if (*k == u'\1') standin::SelectAllText(edit);
                else if (*k == u'\2') SendMessageW(edit, EM_SETSEL, 0, 0);
                else if (*k == u'\3') standin::MoveCaretToEnd(edit);
                else if (*k == u'\b') standin::PressBackspace(edit);
                else EXPECT_TRUE(standin::TypeText(edit, std::u16string(1, *k)));
            }
            const std::string shown = std::to_string(c.field);
            EXPECT_EQ(ReadControl(edit).text, std::u16string(shown.begin(), shown.end()));
            standin::PressSheetOk(sheet);
        });
        const EncoderSettings loaded = Loaded();
        EXPECT_EQ(RecordField(&loaded, c.offset), c.field);
    }
}

TEST(SettingsSheet, TheAspectBoxSwitchesTheTermsOffAndOnAndKeepsThem) {
    StoreWith([](EncoderSettings& s) {
        s.EnableResizeTo = 1;
        s.ResizeToW = 16;
        s.ResizeToH = 9;
    });
    for (int32_t after : {0, 1}) {
        RunConfig([&](HWND sheet) {
            standin::ClickButton(Control(sheet, 0, IDC_ASPECT_ENABLE));
            EXPECT_EQ(ReadControl(Control(sheet, 0, IDC_ASPECT_ENABLE)).checked, static_cast<UINT>(after));
            for (int id : {IDC_ASPECT_WIDTH, IDC_ASPECT_HEIGHT}) {
                const standin::ControlState edit = ReadControl(Control(sheet, 0, id));
                EXPECT_EQ(edit.enabled, after == 1);
                EXPECT_EQ(edit.text, id == IDC_ASPECT_WIDTH ? u"16" : u"9");
            }
            standin::PressSheetOk(sheet);
        });
        const EncoderSettings stored = Loaded();
        EXPECT_EQ(stored.EnableResizeTo, after);
        EXPECT_EQ(stored.ResizeToW, 16u);
        EXPECT_EQ(stored.ResizeToH, 9u);
    }
}

TEST(SettingsSheet, TheSliderSpansTheCodecsRangeAndStoresWhereTheMouseOrTheKeysLeaveIt) {
    struct Case {
        uint32_t maximum;
        bool withoutMaximum;
        int rangeMax, position;
    };
    // The range travels in 16 bits; without the codec's maximum the slider stays as created.
    const Case cases[] = {{4, false, 4, 2}, {0x10003, false, 3, 2}, {4, true, 100, 0}};
    for (const Case& c : cases) {
        standin::Catalogue catalogue = standin::Version9Catalogue();
        catalogue.video.at(0).complexityMax = c.maximum;
        standin::InstallCatalogue(catalogue);
        StoreWith([](EncoderSettings& s) { s.Performance = 2; });
        for (bool drag : {false, true}) {
            if (c.withoutMaximum) standin::FailCall("IWMCodecInfo3::GetCodecProp", 1, NS_E_UNSUPPORTED_PROPERTY);
            RunConfig([&](HWND sheet) {
                HWND slider = Control(sheet, 0, IDC_PERFORMANCE);
                const standin::ControlState state = ReadControl(slider);
                EXPECT_EQ(state.rangeMin, 0);
                EXPECT_EQ(state.rangeMax, c.rangeMax);
                if (!drag) {
                    EXPECT_EQ(state.position, c.position);
                }
                drag ? standin::DragSlider(slider, 1) : standin::KeySlider(slider, 1);
                standin::PressSheetOk(sheet);
            });
            EXPECT_EQ(Loaded().Performance, 1);
        }
    }
}

TEST(SettingsSheet, TheFormatListHoldsThreeGroupsAndACodecChangeShowsAndTakesAFormatOfTheNewCodec) {
    const standin::Catalogue catalogue = standin::Version9Catalogue();
    EncoderSettings s = StoreWith([](EncoderSettings& s) {
        s.AudioCodec = 0;
        s.AudioFormat = 3;
        s.AudioVBREnable = 1;
        s.AudioNumberOfPasses = 2;
    });
    RunConfig([&](HWND sheet) {
        HWND codecs = Control(sheet, 1, IDC_AUDIO_CODEC), formats = Control(sheet, 1, IDC_AUDIO_FORMAT);
        Entries expected;
        for (DWORD i = 0; i < catalogue.audio.size(); ++i) expected.emplace_back(catalogue.audio[i].name, i);
        EXPECT_EQ(EntriesOf(codecs), expected);
        EXPECT_EQ(EntriesOf(formats), FormatEntries(catalogue.audio[0]));
        EXPECT_EQ(EntriesOf(formats).at(ReadControl(formats).selection).second, 0x80020003u);
        // Professional lists fewer 2-pass VBR formats; Voice knows no VBR and lists its CBR ones.
        for (int codec : {1, 3}) {
            standin::PickComboEntry(codecs, codec);
            EXPECT_EQ(EntriesOf(formats), FormatEntries(catalogue.audio[codec]));
            EXPECT_EQ(ReadControl(formats).selection, 0);
        }
        standin::PressSheetOk(sheet);
    });
    // The first format of Voice, as shown.
    s.AudioCodec = 3;
    s.AudioFormat = 0;
    s.AudioVBREnable = 0;
    s.AudioNumberOfPasses = 1;
    ExpectSameStore(Loaded(), s);

    RunConfig([&](HWND sheet) {
        standin::PickComboEntry(Control(sheet, 1, IDC_AUDIO_CODEC), 0);
        HWND formats = Control(sheet, 1, IDC_AUDIO_FORMAT);
        EXPECT_EQ(EntriesOf(formats).at(ReadControl(formats).selection).second, 0x00010000u);
        standin::PickComboEntry(formats, static_cast<int>(catalogue.audio[0].lists[0][0].size()));
        standin::PressSheetOk(sheet);
    });
    s.AudioCodec = 0;
    s.AudioVBREnable = 1;
    ExpectSameStore(Loaded(), s);
}

// Where the Audio page cannot show the stored codec or format it shows the first entry, and the
// record takes it; a page never shown changes nothing.
TEST(SettingsSheet, AnAudioChoiceTheListsCannotShowIsReplacedByTheEntryShown) {
    struct Case {
        const char* what;
        int32_t codec, format, vbr, passes;
        bool showAudio;
        int32_t storedCodec, storedFormat, storedVbr, storedPasses;
    };
    const Case cases[] = {
        {"a format beyond the list", 0, 99, 0, 1, true, 0, 0, 0, 1},
        {"a VBR format of a codec without VBR", 3, 1, 1, 2, true, 3, 0, 0, 1},
        {"a codec beyond the list", 99, 2, 1, 1, true, 0, 2, 1, 1},
        {"a listed choice", 1, 1, 1, 1, true, 1, 1, 1, 1},
        {"the Audio page never shown", 99, 99, 1, 2, false, 99, 99, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EncoderSettings s = StoreWith([&](EncoderSettings& s) {
            s.AudioCodec = c.codec;
            s.AudioFormat = c.format;
            s.AudioVBREnable = c.vbr;
            s.AudioNumberOfPasses = c.passes;
        });
        RunConfig([&](HWND sheet) {
            if (c.showAudio) {
                const standin::ControlState codec = ReadControl(Control(sheet, 1, IDC_AUDIO_CODEC));
                const standin::ControlState format = ReadControl(Control(sheet, 1, IDC_AUDIO_FORMAT));
                EXPECT_EQ(codec.entries.at(codec.selection).data, static_cast<DWORD>(c.storedCodec));
                EXPECT_EQ(format.entries.at(format.selection).data,
                          PackedAudioFormat(c.storedVbr, c.storedPasses, c.storedFormat));
            }
            standin::PressSheetOk(sheet);
        });
        s.AudioCodec = c.storedCodec;
        s.AudioFormat = c.storedFormat;
        s.AudioVBREnable = c.storedVbr;
        s.AudioNumberOfPasses = c.storedPasses;
        ExpectSameStore(Loaded(), s);
    }
}

TEST(SettingsSheet, LongCodecNamesAreLeftOutAndFormatDescriptionsListedWhole) {
    standin::Catalogue catalogue = standin::Version9Catalogue();
    auto named = [](size_t units) { return (u"Windows Media Audio 9 " + std::u16string(units, u'x')).substr(0, units); };
    standin::CatalogueCodec codec = catalogue.audio[0];
    auto& list = codec.lists[0][0];
    // Lengths as the runtime reports them count the terminator: 126 fits the fixed buffer, 127 not.
    const size_t lengths[] = {125, 126, 127, 400};
    list.resize(4, list[0]);
    for (size_t i = 0; i < 4; ++i) list[i].description = std::u16string(lengths[i], static_cast<char16_t>(u'a' + i));
    std::vector<standin::CatalogueCodec> audio(4, codec);
    for (size_t i = 0; i < 4; ++i) audio[i].name = named(lengths[i]);
    audio.push_back(catalogue.audio[1]);
    catalogue.audio = audio;
    standin::InstallCatalogue(catalogue);
    StoreWith([](EncoderSettings& s) { s.AudioCodec = 0; });
    RunConfig([&](HWND sheet) {
        EXPECT_EQ(EntriesOf(Control(sheet, 1, IDC_AUDIO_CODEC)), (Entries{{named(125), 0}, {audio[4].name, 4}}));
        EXPECT_EQ(EntriesOf(Control(sheet, 1, IDC_AUDIO_FORMAT)), FormatEntries(codec));
        standin::PressSheetOk(sheet);
    });
}

// What a page cannot show, or never shows, is stored again as it was loaded.
TEST(SettingsSheet, FieldsThePagesCannotShowSurviveOk) {
    struct Case {
        const char* what;
        bool mlang;
        std::function<void(HWND)> user;
    };
    const Case cases[] = {
        {"a language MLang does not list, a repeated one", true,
         [](HWND sheet) {
             const standin::ControlState video = ReadControl(Control(sheet, 0, IDC_LANGUAGE));
             EXPECT_EQ(video.selection, -1);
             EXPECT_EQ(video.entries.size(), standin::LocaleTableSize() - 1) << "the repeated LCID once";
             EXPECT_EQ(ReadControl(Control(sheet, 1, IDC_LANGUAGE)).text, u"English (United States) [en-us]");
         }},
        {"no MLang", false,
         [](HWND sheet) {
             for (int tab : {0, 1}) EXPECT_TRUE(EntriesOf(Control(sheet, tab, IDC_LANGUAGE)).empty());
         }},
        {"no media runtime", true,
         [](HWND sheet) {
             // The factory fails for the codec list, the catalogue query for the format list.
             standin::FailCall("WMCreateProfileManager", 1, REGDB_E_CLASSNOTREG);
             standin::FailCall("IWMProfileManager::QueryInterface", 1, E_NOINTERFACE);
             EXPECT_TRUE(EntriesOf(Control(sheet, 1, IDC_AUDIO_CODEC)).empty());
             EXPECT_TRUE(EntriesOf(Control(sheet, 1, IDC_AUDIO_FORMAT)).empty());
         }},
        {"the Audio page never shown", true, [](HWND) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const EncoderSettings s = StoreWith([](EncoderSettings& s) {
            s.VideoLanguage = 0x1234;
            s.AudioLanguage = 0x0409;
            s.AudioCodec = 2;
            s.AudioFormat = 1;
            s.AudioVBREnable = 1;
            s.AudioBufferWindow = 3000;
        });
        standin::SetMultiLanguageRegistered(c.mlang);
        RunConfig([&](HWND sheet) {
            c.user(sheet);
            standin::PressSheetOk(sheet);
        });
        standin::SetMultiLanguageRegistered(true);
        ExpectSameStore(Loaded(), s);
    }
}

TEST(SettingsSheet, NoSheetAndNothingStoredWhenAPageTheSheetOrTheSettingsCannotBeHad) {
    const std::function<void()> spoilers[] = {
        [] { standin::FailNthPageCreation(1); },
        [] { standin::FailNthPageCreation(2); },
        [] { standin::FailNextPropertySheet(); },
        [] {
            standin::Catalogue noVideo = standin::Version9Catalogue();
            noVideo.video.clear();
            standin::InstallCatalogue(noVideo);
        },
    };
    for (const auto& spoil : spoilers) {
        spoil();
        EXPECT_FALSE(RunConfig([](HWND sheet) { standin::PressSheetOk(sheet); }));
        EncoderSettings stored{};
        EXPECT_FALSE(ReadSettingsFromRegistry(&stored));
        EXPECT_EQ(standin::LivePageHandles(), 0);
    }
}

// An enumerator that answers S_OK without a locale has nothing more to give: the list ends there
// (one that kept doing so would otherwise hold the page up for ever).
TEST(SettingsSheet, TheLanguageListEndsAtAnAnswerWithoutALocale) {
    standin::FailMLangCall("IEnumRfc1766::Next", 3, S_OK);
    RunConfig([](HWND sheet) {
        EXPECT_EQ(EntriesOf(Control(sheet, 0, IDC_LANGUAGE)).size(), 2u);
        EXPECT_EQ(EntriesOf(Control(sheet, 1, IDC_LANGUAGE)).size(), standin::LocaleTableSize() - 1)
            << "the next list is whole";
        standin::PressSheetCancel(sheet);
    });
}
