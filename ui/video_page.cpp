// The Video page: rate control, bit rates and buffers, quality, decoder complexity and level,
// encoder performance, key-frame interval, aspect ratio and the video language.
#include <cstddef>
#include <cstring>

#include "platform/holders.h"
#include "profile/codec_catalogue.h"
#include "ui/page_support.h"
#include "ui/resources/resource.h"
#include "ui/settings_sheet.h"

namespace {

const char* const kModeNames[] = {"1-pass CBR", "2-pass CBR", "1-pass quality VBR", "2-pass VBR - unconstrained",
                                  "2-pass VBR - constrained"};
const char* const kComplexityNames[] = {"Simple", "Main", "Complex"};
const char* const kLevelNames[] = {"LL - Low Level", "ML - Medium Level", "HL - High Level"};
const char kNoLevels[] = "Not Available";

constexpr int kModeCount = 5;
constexpr int kComplexityCount = 3;

// The controls whose use depends on the rate-control mode, and which of them each mode uses.
const int kRateControls[] = {IDC_BITRATE, IDC_BUFFER_SIZE, IDC_PEAK_BITRATE, IDC_PEAK_BUFFER, IDC_QUALITY,
                             IDC_DECODER_LEVEL};
const bool kRateControlsByMode[kModeCount][6] = {
    {true, true, false, false, true, true},     // 1-pass CBR
    {true, true, false, false, true, true},     // 2-pass CBR
    {false, false, false, false, true, false},  // 1-pass quality VBR
    {true, false, false, false, false, false},  // 2-pass VBR, unconstrained
    {true, false, true, true, false, true},     // 2-pass VBR, constrained
};

struct NumberEdit {
    int Id;
    size_t Offset;
    uint32_t Maximum;
};

// The rate-control edits, then the aspect terms.
const NumberEdit kVideoEdits[] = {
    {IDC_BITRATE, offsetof(EncoderSettings, Bitrate), 0xFFFFFFFFu},
    {IDC_BUFFER_SIZE, offsetof(EncoderSettings, BufferWindow), 0xFFFFFFFFu},
    {IDC_PEAK_BITRATE, offsetof(EncoderSettings, PeakBitrate), 0xFFFFFFFFu},
    {IDC_PEAK_BUFFER, offsetof(EncoderSettings, PeakBuffer), 0xFFFFFFFFu},
    {IDC_QUALITY, offsetof(EncoderSettings, Quality), 100},
    {IDC_KEY_FRAME_INTERVAL, offsetof(EncoderSettings, KeyFrameInterval), 0x7FFFFFFFu},
    {IDC_ASPECT_WIDTH, offsetof(EncoderSettings, ResizeToW), 0x7FFFFFFFu},
    {IDC_ASPECT_HEIGHT, offsetof(EncoderSettings, ResizeToH), 0x7FFFFFFFu},
};
constexpr size_t kRateEditCount = 6;

void AddNames(HWND dialog, int id, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(names[i]));
    }
}

void ShowEdit(HWND dialog, EncoderSettings* settings, const NumberEdit& edit) {
    SetDlgItemInt(dialog, edit.Id, *SettingsField(settings, edit.Offset), FALSE);
}

void EnableAspectTerms(HWND dialog, bool enable) {
    EnableControl(dialog, IDC_ASPECT_WIDTH, enable);
    EnableControl(dialog, IDC_ASPECT_HEIGHT, enable);
}

INT_PTR InitVideoPage(HWND dialog, LPARAM description) {
    KeepPageDescription(dialog, description);
    EncoderSettings* settings = PageSettings(dialog);
    if (!settings) return TRUE;

    AddNames(dialog, IDC_MODE, kModeNames, kModeCount);
    SendDlgItemMessageA(dialog, IDC_MODE, CB_SETCURSEL, static_cast<WPARAM>(settings->CompressionMode), 0);
    AddNames(dialog, IDC_COMPLEXITY, kComplexityNames, kComplexityCount);
    SendDlgItemMessageA(dialog, IDC_COMPLEXITY, CB_SETCURSEL, static_cast<WPARAM>(settings->DecoderComplexity), 0);
    InitPerformanceSlider(dialog);
    UpdateModeControls(dialog);
    FillLanguageList(dialog, settings->VideoLanguage);

    for (size_t i = 0; i < kRateEditCount; ++i) ShowEdit(dialog, settings, kVideoEdits[i]);

    // The terms are shown whether or not they are in use, so that the notification each showing
    // sends finds the field's own value and the terms survive a clear box.
    const bool resize = settings->EnableResizeTo != 0;
    CheckDlgButton(dialog, IDC_ASPECT_ENABLE, resize ? BST_CHECKED : BST_UNCHECKED);
    EnableAspectTerms(dialog, resize);
    for (size_t i = kRateEditCount; i < sizeof kVideoEdits / sizeof kVideoEdits[0]; ++i) {
        ShowEdit(dialog, settings, kVideoEdits[i]);
    }
    return TRUE;
}

void TakeVideoPick(HWND dialog, EncoderSettings* settings, int id) {
    const LRESULT s = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    switch (id) {
        case IDC_MODE:
            if (s >= 0 && s < kModeCount) {
                settings->CompressionMode = static_cast<int32_t>(s);
                UpdateModeControls(dialog);
            }
            break;
        case IDC_COMPLEXITY:
            if (s >= 0 && s < kComplexityCount) {
                settings->DecoderComplexity = static_cast<int32_t>(s);
                FillDecoderLevelList(dialog);
            }
            break;
        case IDC_DECODER_LEVEL:
            if (s != CB_ERR) settings->DecoderLevel = static_cast<uint32_t>(s);
            break;
        case IDC_LANGUAGE: {
            DWORD lcid = 0;
            if (ReadPickedItem(dialog, IDC_LANGUAGE, &lcid)) settings->VideoLanguage = lcid;
            break;
        }
        default:
            break;
    }
}

INT_PTR VideoCommand(HWND dialog, WPARAM wParam) {
    EncoderSettings* settings = PageSettings(dialog);
    if (!settings) return FALSE;
    const int id = LOWORD(wParam);
    const WORD code = HIWORD(wParam);
    if (code == CBN_SELCHANGE) {
        TakeVideoPick(dialog, settings, id);
    } else if (code == EN_UPDATE) {
        for (const NumberEdit& edit : kVideoEdits) {
            if (edit.Id == id) TakeEditNumber(dialog, id, SettingsField(settings, edit.Offset), edit.Maximum);
        }
    } else if (code == BN_CLICKED && id == IDC_ASPECT_ENABLE) {
        const bool checked = IsDlgButtonChecked(dialog, IDC_ASPECT_ENABLE) == BST_CHECKED;
        EnableAspectTerms(dialog, checked);
        settings->EnableResizeTo = checked ? 1 : 0;
    }
    return TRUE;
}

void TakeSliderPosition(HWND dialog) {
    EncoderSettings* settings = PageSettings(dialog);
    if (settings) {
        settings->Performance = static_cast<int32_t>(SendDlgItemMessageA(dialog, IDC_PERFORMANCE, TBM_GETPOS, 0, 0));
    }
}

// The trackbar reports every move, by the mouse or the keys, with WM_HSCROLL; a mouse drag also
// ends with NM_RELEASEDCAPTURE, the position final by then.
INT_PTR VideoScroll(HWND dialog, LPARAM lParam) {
    if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, IDC_PERFORMANCE)) TakeSliderPosition(dialog);
    return TRUE;
}

INT_PTR VideoNotify(HWND dialog, LPARAM lParam) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header && header->idFrom == IDC_PERFORMANCE && header->code == NM_RELEASEDCAPTURE) TakeSliderPosition(dialog);
    return AnswerNotification(dialog);
}

}  // namespace

void InitPerformanceSlider(HWND dialog) {
    EncoderSettings* settings = PageSettings(dialog);
    if (!settings) return;
    DWORD codec = kNoCodec;
    if (FAILED(FindVideoCodecIndex(&codec))) return;
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    BYTE value[4] = {};
    DWORD size = sizeof value;
    {
        ComRef<IWMCodecInfo3> catalogue;
        if (FAILED(AcquireCodecInfo(catalogue.Out()))) return;
        if (FAILED(catalogue->GetCodecProp(WMMEDIATYPE_Video, codec, g_wszComplexityMax, &type, value, &size))) {
            return;
        }
    }
    if (type != WMT_TYPE_DWORD) return;
    DWORD maximum = 0;
    std::memcpy(&maximum, value, sizeof maximum);
    // The range travels as two 16-bit halves.
    SendDlgItemMessageA(dialog, IDC_PERFORMANCE, TBM_SETRANGE, TRUE, MAKELPARAM(0, maximum & 0xFFFF));
    SendDlgItemMessageA(dialog, IDC_PERFORMANCE, TBM_SETPOS, TRUE, static_cast<LPARAM>(settings->Performance));
}

void UpdateModeControls(HWND dialog) {
    EncoderSettings* settings = PageSettings(dialog);
    if (!settings || settings->CompressionMode < 0 || settings->CompressionMode >= kModeCount) return;
    const bool* enables = kRateControlsByMode[settings->CompressionMode];
    for (size_t i = 0; i < sizeof kRateControls / sizeof kRateControls[0]; ++i) {
        EnableControl(dialog, kRateControls[i], enables[i]);
    }
    FillDecoderLevelList(dialog);
}

void FillDecoderLevelList(HWND dialog) {
    EncoderSettings* settings = PageSettings(dialog);
    if (!settings) return;
    SendDlgItemMessageA(dialog, IDC_DECODER_LEVEL, CB_RESETCONTENT, 0, 0);
    const int32_t mode = settings->CompressionMode;
    if (mode < 0 || mode >= kModeCount) return;
    uint32_t levels = 0;
    if (mode <= 1 && settings->DecoderComplexity == 0) levels = 2;
    if (mode <= 1 && settings->DecoderComplexity == 1) levels = 3;
    if (levels) {
        AddNames(dialog, IDC_DECODER_LEVEL, kLevelNames, static_cast<int>(levels));
    } else {
        SendDlgItemMessageA(dialog, IDC_DECODER_LEVEL, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNoLevels));
    }
    // A level the list does not offer shows the first one, and the field takes it, so that OK
    // stores what the page showed. "Not Available" is no level: the field keeps its own for a
    // mode or complexity that offers levels again.
    if (levels && settings->DecoderLevel >= levels) settings->DecoderLevel = 0;
    const WPARAM shown = levels ? settings->DecoderLevel : 0;
    SendDlgItemMessageA(dialog, IDC_DECODER_LEVEL, CB_SETCURSEL, shown, 0);
}

INT_PTR CALLBACK VideoPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return InitVideoPage(dialog, lParam);
        case WM_NOTIFY:
            return VideoNotify(dialog, lParam);
        case WM_HSCROLL:
            return VideoScroll(dialog, lParam);
        case WM_COMMAND:
            return VideoCommand(dialog, wParam);
        default:
            return FALSE;
    }
}
