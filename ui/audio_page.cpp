// The Audio page: codec, format (with its VBR and pass setting), buffer window and language, the
// codec and format lists read live from the runtime's catalogue.
#include <cstddef>
#include <string>

#include "platform/holders.h"
#include "profile/codec_catalogue.h"
#include "ui/page_support.h"
#include "ui/resources/resource.h"
#include "ui/settings_sheet.h"

namespace {

inline constexpr WCHAR kAudio9Prefix[] = BREVLO_WIDE("Windows Media Audio 9");
constexpr size_t kAudio9PrefixLength = sizeof kAudio9Prefix / sizeof kAudio9Prefix[0] - 1;

// Names and descriptions of this many characters or more (terminator counted, as the runtime
// reports them) do not fit the fixed buffer.
constexpr DWORD kLongText = 127;
constexpr DWORD kTextBuffer = 128;

constexpr DWORD kVbrBit = 0x80000000u;
constexpr DWORD kPassesBits = 0x7FFF0000u;
constexpr DWORD kFormatBits = 0x0000FFFFu;

// The three format groups, in the order they are listed.
struct FormatGroup {
    BOOL Vbr;
    DWORD Passes;
};
const FormatGroup kFormatGroups[] = {{FALSE, 1}, {TRUE, 1}, {TRUE, 2}};

bool IsAudio9Name(const WCHAR* name) {
    return std::char_traits<WCHAR>::compare(name, kAudio9Prefix, kAudio9PrefixLength) == 0;
}

// Lists the codecs; false when a name could not be read, which leaves the list unselected.
bool ListAudioCodecs(HWND combo, IWMCodecInfo3* catalogue, DWORD count, int32_t currentCodec, LRESULT* remembered) {
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = 0;
        if (FAILED(catalogue->GetCodecName(WMMEDIATYPE_Audio, i, nullptr, &length))) return false;
        if (length >= kLongText) continue;
        WCHAR name[kTextBuffer] = {};
        length = kTextBuffer;
        if (FAILED(catalogue->GetCodecName(WMMEDIATYPE_Audio, i, name, &length))) return false;
        name[kTextBuffer - 1] = 0;
        if (!IsAudio9Name(name)) continue;
        const LRESULT entry = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        if (entry < 0) continue;
        SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(entry), static_cast<LPARAM>(i));
        if (i == static_cast<DWORD>(currentCodec)) *remembered = entry;
    }
    return true;
}

// One format description, whole, or false when it cannot be had.
bool AddFormatEntry(HWND combo, IWMCodecInfo3* catalogue, DWORD codec, DWORD format, DWORD entryData) {
    DWORD length = 0;
    if (FAILED(catalogue->GetCodecFormatDesc(WMMEDIATYPE_Audio, codec, format, nullptr, nullptr, &length))) {
        return false;
    }
    WCHAR fixed[kTextBuffer];
    WCHAR* text = fixed;
    DWORD capacity = kTextBuffer;
    HeapBlock block;
    if (length >= kLongText) {
        // A length near the top of the range would wrap the byte count.
        if (length >= static_cast<SIZE_T>(-1) / sizeof(WCHAR) - 1) return false;
        if (!block.Allocate((static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR))) return false;
        text = block.As<WCHAR>();
        capacity = length + 1;
    }
    DWORD fetched = capacity;
    if (FAILED(catalogue->GetCodecFormatDesc(WMMEDIATYPE_Audio, codec, format, nullptr, text, &fetched))) {
        return false;
    }
    text[fetched < capacity ? fetched : capacity - 1] = 0;
    OutputDebugStringW(text);
    const LRESULT entry = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (entry >= 0) SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(entry), static_cast<LPARAM>(entryData));
    return true;
}

// The format, VBR flag and pass count of the entry the format list shows.
void TakeShownFormat(HWND dialog, EncoderSettings* settings) {
    DWORD data = 0;
    if (!ReadPickedItem(dialog, IDC_AUDIO_FORMAT, &data)) return;
    settings->AudioFormat = static_cast<int32_t>(data & kFormatBits);
    settings->AudioVBREnable = (data & kVbrBit) ? 1 : 0;
    settings->AudioNumberOfPasses = static_cast<int32_t>((data & kPassesBits) >> 16);
}

// Lists the formats of the working copy's codec. Where the list shows another format than the
// copy names (a codec change, a format the codec does not have), the copy takes the one shown:
// OK stores what the page showed, and an export never meets a format its codec lacks.
void ShowFormatsOfCodec(HWND dialog, EncoderSettings* settings) {
    FillAudioFormatList(dialog, settings->AudioCodec, settings->AudioFormat, settings->AudioVBREnable,
                        settings->AudioNumberOfPasses);
    TakeShownFormat(dialog, settings);
}

INT_PTR InitAudioPage(HWND dialog, LPARAM description) {
    KeepPageDescription(dialog, description);
    EncoderSettings* settings = PageSettings(dialog);
    if (!settings) return TRUE;
    FillLanguageList(dialog, settings->AudioLanguage);
    SetDlgItemInt(dialog, IDC_BUFFER_SIZE, settings->AudioBufferWindow, FALSE);
    FillAudioCodecList(dialog, settings->AudioCodec);
    // A codec that is not listed shows the first entry, which the copy takes likewise.
    DWORD codec = 0;
    if (ReadPickedItem(dialog, IDC_AUDIO_CODEC, &codec)) settings->AudioCodec = static_cast<int32_t>(codec);
    ShowFormatsOfCodec(dialog, settings);
    return TRUE;
}

void TakeAudioPick(HWND dialog, EncoderSettings* settings, int id) {
    DWORD data = 0;
    if (!ReadPickedItem(dialog, id, &data)) return;
    switch (id) {
        case IDC_AUDIO_CODEC:
            settings->AudioCodec = static_cast<int32_t>(data);
            ShowFormatsOfCodec(dialog, settings);
            break;
        case IDC_AUDIO_FORMAT:
            TakeShownFormat(dialog, settings);
            break;
        case IDC_LANGUAGE:
            settings->AudioLanguage = data;
            break;
        default:
            break;
    }
}

INT_PTR AudioCommand(HWND dialog, WPARAM wParam) {
    EncoderSettings* settings = PageSettings(dialog);
    if (!settings) return FALSE;
    const int id = LOWORD(wParam);
    const WORD code = HIWORD(wParam);
    if (code == EN_UPDATE && id == IDC_BUFFER_SIZE) {
        TakeEditNumber(dialog, id, &settings->AudioBufferWindow, 0xFFFFFFFFu);
    } else if (code == CBN_SELCHANGE) {
        TakeAudioPick(dialog, settings, id);
    }
    return TRUE;
}

}  // namespace

DWORD PackedAudioFormat(int32_t vbr, int32_t passes, int32_t format) {
    return (vbr ? kVbrBit : 0) | ((static_cast<DWORD>(passes) << 16) & kPassesBits) |
           (static_cast<DWORD>(format) & kFormatBits);
}

void FillAudioCodecList(HWND dialog, int32_t currentCodec) {
    HWND combo = GetDlgItem(dialog, IDC_AUDIO_CODEC);
    if (!combo) return;
    ComRef<IWMCodecInfo3> catalogue;
    if (FAILED(AcquireCodecInfo(catalogue.Out()))) return;
    DWORD count = 0;
    if (FAILED(catalogue->GetCodecInfoCount(WMMEDIATYPE_Audio, &count))) return;
    LRESULT remembered = -1;
    if (!ListAudioCodecs(combo, catalogue.Get(), count, currentCodec, &remembered)) return;
    // A codec that is not listed shows the first entry.
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(remembered >= 0 ? remembered : 0), 0);
}

void FillAudioFormatList(HWND dialog, int32_t codec, int32_t format, int32_t vbr, int32_t passes) {
    HWND combo = GetDlgItem(dialog, IDC_AUDIO_FORMAT);
    if (!combo) return;
    ComRef<IWMCodecInfo3> catalogue;
    if (FAILED(AcquireCodecInfo(catalogue.Out()))) return;
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const FormatGroup& group : kFormatGroups) {
        AddAudioFormats(combo, catalogue.Get(), static_cast<DWORD>(codec), group.Vbr, group.Passes);
    }
    const DWORD wanted = PackedAudioFormat(vbr, passes, format);
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    LRESULT shown = 0;
    for (LRESULT i = 0; i < count; ++i) {
        DWORD data = 0;
        if (ReadItemData(combo, i, &data) && data == wanted) {
            shown = i;
            break;
        }
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(shown), 0);
}

bool AddAudioFormats(HWND combo, IWMCodecInfo3* catalogue, DWORD codec, BOOL vbr, DWORD passes) {
    // The same settings, set the same way, as the profile builder reads its format under, so that
    // an index picked here names the format the export uses.
    if (FAILED(SetFormatEnumeration(catalogue, WMMEDIATYPE_Audio, codec, vbr, passes))) return false;
    DWORD count = 0;
    if (FAILED(catalogue->GetCodecFormatCount(WMMEDIATYPE_Audio, codec, &count))) return false;
    for (DWORD j = 0; j < count; ++j) {
        if (!AddFormatEntry(combo, catalogue, codec, j, PackedAudioFormat(vbr, static_cast<int32_t>(passes),
                                                                          static_cast<int32_t>(j)))) {
            break;
        }
    }
    return true;
}

INT_PTR CALLBACK AudioPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return InitAudioPage(dialog, lParam);
        case WM_NOTIFY:
            return AnswerNotification(dialog);
        case WM_COMMAND:
            return AudioCommand(dialog, wParam);
        default:
            return FALSE;
    }
}
