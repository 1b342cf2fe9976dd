#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/standin/ui/templates.h"
#include "ui/resources/resource.h"

namespace {

using standin::DialogTemplate;
using Bytes = std::vector<unsigned char>;

HINSTANCE TestImage() { return standin::ModuleInstanceOf(reinterpret_cast<const void*>(&TestImage)); }

// What a control's style must say: its type (the bits under typeMask), bits that must be set and
// bits that must be clear. Every control is also a visible, enabled child.
struct Kind {
    const char16_t* className;
    DWORD typeMask, type, set, clear;
};
constexpr DWORD kStaticTypeMask = 0x1F;
constexpr DWORD kEditKeys = WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
const Kind kGroup{u"Button", BS_TYPEMASK, BS_GROUPBOX, 0, 0};
const Kind kLabel{u"Static", kStaticTypeMask, SS_LEFT, 0, WS_TABSTOP};
const Kind kList{u"ComboBox", 3, CBS_DROPDOWNLIST, CBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP, CBS_SORT};
const Kind kIntegralList{u"ComboBox", 3, CBS_DROPDOWNLIST, WS_VSCROLL | WS_TABSTOP, CBS_SORT | CBS_NOINTEGRALHEIGHT};
const Kind kNumber{u"Edit", 3, ES_RIGHT, kEditKeys, ES_MULTILINE | ES_NUMBER};  // any text may be typed
const Kind kLeftEdit{u"Edit", 3, ES_LEFT, kEditKeys, ES_MULTILINE | ES_NUMBER};
const Kind kSlider{u"msctls_trackbar32", TBS_VERT, TBS_HORZ, TBS_NOTICKS | WS_TABSTOP, TBS_AUTOTICKS};
const Kind kCheck{u"Button", BS_TYPEMASK, BS_AUTOCHECKBOX, WS_TABSTOP, 0};

struct Control {
    int id;
    const Kind* kind;
    const char16_t* text;
    std::array<short, 4> rect;
};

const std::vector<Control> kAudioControls = {
    {-1, &kGroup, u"Windows Media Audio 9", {4, 6, 266, 150}},
    {-1, &kLabel, u"Codec", {15, 25, 19, 8}},
    {IDC_AUDIO_CODEC, &kIntegralList, u"", {46, 23, 164, 54}},
    {-1, &kLabel, u"Format", {15, 48, 22, 8}},
    {IDC_AUDIO_FORMAT, &kIntegralList, u"", {46, 46, 164, 96}},
    {-1, &kLabel, u"Buffer size", {15, 71, 33, 8}},
    {IDC_BUFFER_SIZE, &kNumber, u"", {50, 69, 160, 15}},
    {-1, &kLabel, u"ms", {214, 71, 10, 8}},
    {-1, &kLabel, u"Language", {15, 94, 28, 8}},
    {IDC_LANGUAGE, &kIntegralList, u"", {46, 92, 164, 76}},
};

const std::vector<Control> kVideoControls = {
    {-1, &kGroup, u"Windows Media Video 9", {4, 6, 266, 190}},
    {IDC_MODE, &kList, u"", {14, 26, 104, 91}},
    {-1, &kLabel, u"Decoder complexity:", {139, 28, 60, 8}},
    {IDC_COMPLEXITY, &kList, u"", {199, 26, 61, 60}},
    {-1, &kLabel, u"Bit rate:", {15, 48, 24, 8}},
    {-1, &kLabel, u"Buffer size:", {15, 72, 34, 8}},
    {-1, &kLabel, u"Peak bit rate:", {15, 96, 40, 8}},
    {-1, &kLabel, u"Peak buffer:", {15, 120, 36, 8}},
    {-1, &kLabel, u"Quality level:", {15, 142, 39, 8}},
    {IDC_BITRATE, &kNumber, u"", {66, 46, 51, 14}},
    {-1, &kLabel, u"bps", {120, 48, 11, 8}},
    {IDC_BUFFER_SIZE, &kNumber, u"", {65, 68, 51, 14}},
    {IDC_PEAK_BITRATE, &kNumber, u"", {65, 94, 51, 14}},
    {IDC_PEAK_BUFFER, &kNumber, u"", {65, 116, 51, 14}},
    {IDC_QUALITY, &kNumber, u"", {65, 140, 40, 14}},
    {-1, &kLabel, u"ms", {120, 72, 10, 8}},
    {-1, &kLabel, u"bps", {120, 96, 11, 8}},
    {-1, &kLabel, u"ms", {120, 120, 10, 8}},
    {-1, &kLabel, u"0 - 100", {107, 142, 23, 8}},
    {-1, &kLabel, u"Decoder level:", {139, 48, 42, 8}},
    {IDC_DECODER_LEVEL, &kList, u"", {185, 46, 73, 76}},
    {-1, &kLabel, u"Performance:", {139, 69, 39, 8}},
    {IDC_PERFORMANCE, &kSlider, u"Slider1", {138, 81, 124, 15}},
    {-1, &kLabel, u"Faster", {143, 103, 20, 8}},
    {-1, &kLabel, u"Better quality", {216, 103, 41, 8}},
    {-1, &kLabel, u"Key frame interval:", {138, 125, 56, 8}},
    {IDC_KEY_FRAME_INTERVAL, &kNumber, u"", {207, 123, 32, 14}},
    {-1, &kLabel, u"ms", {243, 125, 10, 8}},
    {-1, &kLabel, u"Language:", {14, 174, 30, 8}},
    {IDC_LANGUAGE, &kIntegralList, u"", {45, 172, 93, 97}},
    {-1, &kGroup, u"Compression", {10, 15, 255, 143}},
    {-1, &kGroup, u"Misc.", {10, 161, 255, 30}},
    {IDC_ASPECT_ENABLE, &kCheck, u"Aspect ratio:", {150, 173, 53, 10}},
    {IDC_ASPECT_WIDTH, &kLeftEdit, u"", {205, 172, 21, 12}},
    {-1, &kLabel, u":", {231, 175, 8, 8}},
    {IDC_ASPECT_HEIGHT, &kLeftEdit, u"", {240, 172, 21, 12}},
};

struct Page {
    WORD id;
    const char16_t* caption;
    const std::vector<Control>* controls;
};
const Page kPages[] = {{IDD_AUDIO_PAGE, u"Audio", &kAudioControls}, {IDD_VIDEO_PAGE, u"Video", &kVideoControls}};

// Class names are compared as Windows compares them, without regard to case.
std::u16string Lower(std::u16string s) {
    for (char16_t& c : s) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    return s;
}

// The page's dialog resource as the test program's registered .res holds it.
Bytes DialogBytes(WORD id) {
    const unsigned char *res, *data;
    size_t resSize, dataSize;
    WORD language;
    if (!standin::ModuleResources(TestImage(), &res, &resSize) ||
        !standin::FindResourceData(res, resSize, 5, id, &data, &dataSize, &language)) {
        return {};
    }
    return Bytes(data, data + dataSize);
}

// The first n bytes in a block of their own, so that a sanitizer sees any read past them.
Bytes Cut(const Bytes& bytes, size_t n) { return Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n)); }

void PutWord(Bytes& b, size_t at, WORD w) {
    b[at] = static_cast<unsigned char>(w);
    b[at + 1] = static_cast<unsigned char>(w >> 8);
}
void PutDword(Bytes& b, size_t at, DWORD d) {
    PutWord(b, at, static_cast<WORD>(d));
    PutWord(b, at + 2, static_cast<WORD>(d >> 16));
}

// Little-endian bytes written by hand, for the layouts the resource script does not use.
struct Builder {
    Bytes b;
    Builder& Word(WORD w) { b.resize(b.size() + 2); PutWord(b, b.size() - 2, w); return *this; }
    Builder& Dword(DWORD d) { return Word(static_cast<WORD>(d)).Word(static_cast<WORD>(d >> 16)); }
    Builder& Text(const std::u16string& s) { for (char16_t c : s) Word(c); return Word(0); }
    Builder& Align() { b.resize((b.size() + 3) / 4 * 4); return *this; }
    Builder& Rect(short x, short y, short cx, short cy) { return Word(x).Word(y).Word(cx).Word(cy); }
    // A .res entry whose type and name are strings, or ordinals where the string is empty.
    Builder& Entry(const std::u16string& type, WORD typeId, const std::u16string& name, WORD nameId,
                   const Bytes& data) {
        Builder h;
        type.empty() ? h.Word(0xFFFF).Word(typeId) : h.Text(type);
        name.empty() ? h.Word(0xFFFF).Word(nameId) : h.Text(name);
        h.Align().Dword(0).Word(0x1030).Word(0x409).Dword(0).Dword(0);
        Dword(static_cast<DWORD>(data.size())).Dword(static_cast<DWORD>(8 + h.b.size()));
        b.insert(b.end(), h.b.begin(), h.b.end());
        b.insert(b.end(), data.begin(), data.end());
        return Align();
    }
};

}  // namespace

TEST(DialogTemplates, PagesHaveTheirSizeCaptionStyleFontAndLanguage) {
    for (const Page& page : kPages) {
        SCOPED_TRACE(page.id);
        DialogTemplate t;
        ASSERT_TRUE(standin::FindDialogTemplate(TestImage(), page.id, &t));
        EXPECT_EQ(t.caption, page.caption);
        EXPECT_EQ(t.style, 0x48C00040u);
        EXPECT_EQ(t.exStyle, 0u);
        EXPECT_EQ((std::array<short, 4>{t.x, t.y, t.cx, t.cy}), (std::array<short, 4>{0, 0, 275, 199}));
        EXPECT_EQ(t.menu + t.windowClass, u"");
        EXPECT_EQ(t.pointSize, 9);
        // "ＭＳ Ｐゴシック" with full-width letters: the UTF-8 script arrived as the right UTF-16
        EXPECT_EQ(t.typeface, u"\uFF2D\uFF33\u0020\uFF30\u30B4\u30B7\u30C3\u30AF");
        EXPECT_EQ(t.language, 1041);
    }
}

TEST(DialogTemplates, ControlsInTemplateOrder) {
    for (const Page& page : kPages) {
        DialogTemplate t;
        ASSERT_TRUE(standin::FindDialogTemplate(TestImage(), page.id, &t));
        ASSERT_EQ(t.items.size(), page.controls->size()) << page.id;
        for (size_t i = 0; i < t.items.size(); ++i) {
            const Control& want = (*page.controls)[i];
            const standin::DialogItemTemplate& got = t.items[i];
            SCOPED_TRACE(std::to_string(page.id) + " #" + std::to_string(i));
            EXPECT_EQ(static_cast<int>(got.id), want.id);  // a DWORD id: a label's -1 is 0xFFFFFFFF
            EXPECT_EQ(Lower(got.className), Lower(want.kind->className));
            EXPECT_EQ(got.text, want.text);
            EXPECT_EQ((std::array<short, 4>{got.x, got.y, got.cx, got.cy}), want.rect);
            const DWORD set = want.kind->set | WS_CHILD | WS_VISIBLE, clear = want.kind->clear | WS_DISABLED;
            EXPECT_EQ(got.style & want.kind->typeMask, want.kind->type) << std::hex << got.style;
            EXPECT_EQ(got.style & (set | clear), set) << std::hex << got.style;
            EXPECT_EQ(got.exStyle, 0u);
        }
    }
}

TEST(DialogTemplates, FoundOnlyInTheImageThatRegisteredThem) {
    DialogTemplate t;
    EXPECT_FALSE(standin::FindDialogTemplate(TestImage(), 109, &t));
    EXPECT_FALSE(standin::FindDialogTemplate(nullptr, IDD_VIDEO_PAGE, &t));
    EXPECT_FALSE(standin::FindDialogTemplate(standin::ModuleInstanceOf(stdout), IDD_VIDEO_PAGE, &t));  // libc

    // The module carries its own copy under its own base, and takes it away when it is unloaded.
    void* module = dlopen(BREVLO_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    HINSTANCE instance = standin::ModuleInstanceOf(dlsym(module, "GetOutputPluginTable"));
    ASSERT_NE(instance, nullptr);
    EXPECT_NE(instance, TestImage());
    ASSERT_TRUE(standin::FindDialogTemplate(instance, IDD_AUDIO_PAGE, &t));
    EXPECT_EQ(t.items.size(), kAudioControls.size());
    dlclose(module);
    if (void* still = dlopen(BREVLO_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(still);  // the loader kept it; nothing to observe
    } else {
        EXPECT_FALSE(standin::FindDialogTemplate(instance, IDD_AUDIO_PAGE, &t));
    }
}

TEST(DialogTemplates, ThePlainLayoutAndAnExtendedOneWithoutFont) {
    Builder plain;  // DLGTEMPLATE: WORD ids, and a font block of a size and a face only
    plain.Dword(WS_POPUP | DS_SETFONT).Dword(0).Word(2).Rect(1, 2, 30, 40).Word(0xFFFF).Word(7).Word(0);
    plain.Text(u"Old").Word(8).Text(u"Tahoma");
    plain.Align().Dword(WS_CHILD).Dword(0).Rect(3, 4, 5, 6).Word(0xFFFF).Word(0xFFFF).Word(0x82);
    plain.Word(0xFFFF).Word(101).Word(3).Word(0x0201).Word(0x0003);  // three bytes of creation data
    plain.Align().Dword(WS_CHILD).Dword(0x200).Rect(7, 8, 9, 10).Word(42).Text(u"msctls_trackbar32").Text(u"");
    plain.Word(0);
    DialogTemplate t;
    ASSERT_TRUE(standin::ParseDialogTemplate(plain.b.data(), plain.b.size(), &t));
    EXPECT_FALSE(t.extended);
    EXPECT_EQ(t.menu + u"|" + t.caption + u"|" + t.typeface, u"#7|Old|Tahoma");
    EXPECT_EQ(t.pointSize, 8);
    ASSERT_EQ(t.items.size(), 2u);
    EXPECT_EQ(t.items[0].id, 0xFFFFu);  // a WORD id: -1 reads back as 0xFFFF
    EXPECT_EQ(t.items[0].className + u"|" + t.items[0].text, u"Static|#101");
    EXPECT_EQ(t.items[1].id, 42u);
    EXPECT_EQ(t.items[1].exStyle, 0x200u);
    EXPECT_EQ(t.items[1].className, u"msctls_trackbar32");
    for (size_t n = 0; n < plain.b.size(); ++n) {
        EXPECT_FALSE(standin::ParseDialogTemplate(Cut(plain.b, n).data(), n, &t)) << n;
    }

    Builder extended;  // without DS_SETFONT the first item follows the caption
    extended.Word(1).Word(0xFFFF).Dword(11).Dword(0).Dword(WS_CHILD).Word(1).Rect(0, 0, 50, 20);
    extended.Word(0).Text(u"#32770").Text(u"");
    extended.Align().Dword(12).Dword(0).Dword(WS_CHILD | BS_AUTOCHECKBOX).Rect(1, 1, 2, 2).Dword(0x12345);
    extended.Word(0xFFFF).Word(0x80).Text(u"On").Word(0);
    ASSERT_TRUE(standin::ParseDialogTemplate(extended.b.data(), extended.b.size(), &t));
    EXPECT_TRUE(t.extended);
    EXPECT_EQ(t.helpId, 11u);
    EXPECT_EQ(t.pointSize, 0);
    ASSERT_EQ(t.items.size(), 1u);
    EXPECT_EQ(t.items[0].helpId, 12u);
    EXPECT_EQ(t.items[0].id, 0x12345u);
    EXPECT_EQ(t.items[0].className + u"|" + t.items[0].text, u"Button|On");
}

TEST(DialogTemplates, MalformedTemplatesAreRefused) {
    const Bytes video = DialogBytes(IDD_VIDEO_PAGE);
    DialogTemplate full, t;
    ASSERT_TRUE(standin::ParseDialogTemplate(video.data(), video.size(), &full));
    // Every cut of a real template lands in the middle of something: a field, a string, an item.
    for (size_t n = 0; n < video.size(); ++n) {
        EXPECT_FALSE(standin::ParseDialogTemplate(Cut(video, n).data(), n, &t)) << n;
    }
    Bytes longer = video;  // what follows a template is not its business
    longer.insert(longer.end(), {0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(standin::ParseDialogTemplate(longer.data(), longer.size(), &t));
    EXPECT_EQ(t.items.size(), full.items.size());

    struct Case {
        const char* what;
        Bytes bytes;
        size_t at;  // a WORD patched there, if any
        WORD value;
    };
    const Case cases[] = {
        {"version and signature only", {1, 0, 0xFF, 0xFF}, 0, 1},
        {"extended version 2", video, 0, 2},
        {"one item more than there are", video, 16, static_cast<WORD>(full.items.size() + 1)},
        {"creation data past the end", video, video.size() - 2, 2},
        {"DS_SETFONT without a font",
         Builder().Word(1).Word(0xFFFF).Dword(0).Dword(0).Dword(DS_SETFONT).Word(0).Rect(0, 0, 1, 1).Word(0).Word(0)
             .Text(u"x").b, 0, 1},
    };
    for (const Case& c : cases) {
        Bytes bytes = c.bytes;
        PutWord(bytes, c.at, c.value);
        t.caption = u"untouched";
        EXPECT_FALSE(standin::ParseDialogTemplate(bytes.data(), bytes.size(), &t)) << c.what;
        EXPECT_EQ(t.caption, u"untouched") << c.what;
    }
    EXPECT_FALSE(standin::ParseDialogTemplate(nullptr, 4, &t));
}

TEST(DialogTemplates, ResourceFilesWalkedEntryByEntry) {
    const Bytes audio = DialogBytes(IDD_AUDIO_PAGE);
    const unsigned char* data;
    size_t dataSize;
    WORD language;
    auto find = [&](const Bytes& res, WORD id) {
        return standin::FindResourceData(res.data(), res.size(), 5, id, &data, &dataSize, &language);
    };
    // Names given as strings and data of odd sizes are passed over; only type 5 with the id counts.
    Builder res;
    res.Entry(u"", 0, u"", 0, {}).Entry(u"AB", 0, u"", IDD_VIDEO_PAGE, {1, 2, 3});
    res.Entry(u"", 5, u"VIDEO", 0, {1, 2, 3, 4, 5}).Entry(u"", 4, u"", IDD_VIDEO_PAGE, {1});
    res.Entry(u"", 5, u"", IDD_VIDEO_PAGE, audio);
    ASSERT_TRUE(find(res.b, IDD_VIDEO_PAGE));
    EXPECT_EQ(Bytes(data, data + dataSize), audio);
    EXPECT_EQ(language, 0x409);
    EXPECT_FALSE(find(res.b, IDD_AUDIO_PAGE));

    const unsigned char* registered;
    size_t size;
    ASSERT_TRUE(standin::ModuleResources(TestImage(), &registered, &size));
    const Bytes good(registered, registered + size);
    ASSERT_TRUE(find(good, IDD_VIDEO_PAGE));
    const size_t offset = static_cast<size_t>(data - good.data()), videoSize = dataSize;
    for (size_t n = 0; n < size; ++n) {  // a cut file finds the dialog whole, or not at all
        const Bytes cut = Cut(good, n);
        if (find(cut, IDD_VIDEO_PAGE)) {
            EXPECT_EQ(static_cast<size_t>(data - cut.data()), offset) << n;
            EXPECT_EQ(dataSize, videoSize) << n;
        }
    }

    // Spoilt headers of the entry before the Video page (the Audio page's at 32, or "AB" in the
    // hand-made file). Where a header shrinks, its data grows by as much, so that the walk would
    // still land on the next entry if it read the header's fields out of the data.
    const DWORD audioData = static_cast<DWORD>(audio.size());
    const struct {
        const char* what;
        const Bytes* file;
        std::vector<std::pair<size_t, DWORD>> patches;  // DWORDs at offsets
    } cases[] = {
        {"empty first entry without a header", &good, {{4, 0}}},
        {"header smaller than its two sizes", &good, {{36, 4}, {32, audioData + 28}}},
        {"name running into the data", &good, {{36, 12}, {32, audioData + 20}}},
        {"language running into the data", &good, {{36, 20}, {32, audioData + 12}}},
        {"characteristics running into the data", &good, {{36, 28}, {32, audioData + 4}}},
        {"no padding after the names", &res.b, {{36, 36 - 2}, {32, 3 + 2}}},
        {"header past the end", &good, {{36, 0xFFFFFFF0}}},
        {"data past the end", &good, {{32, 0xFFFFFFF0}}},
        {"the dialog's own data past the end", &good, {{offset - 32, static_cast<DWORD>(size - offset + 1)}}},
    };
    for (const auto& c : cases) {
        Bytes bad = *c.file;
        for (const auto& [at, value] : c.patches) PutDword(bad, at, value);
        EXPECT_FALSE(find(bad, IDD_VIDEO_PAGE)) << c.what;
    }
}
