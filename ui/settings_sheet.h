// The configuration dialogs: a modal property sheet with a Video and an Audio page over a working
// copy of the settings record, stored in the registry when the user presses OK.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "platform/wm/wm.h"
#include "settings/encoder_settings.h"

// One page of the sheet. The title is for readers of the table: the tab shows the template's caption.
struct SettingsPage {
    const char* Title;
    DLGPROC Procedure;
    WORD TemplateId;
};

constexpr UINT kSettingsPageCount = 2;
// Page handles the sheet header has room for.
constexpr UINT kSheetPageRoom = 3;

// Video, then Audio.
extern const SettingsPage SettingsPageTable[kSettingsPageCount];

inline constexpr char kSettingsSheetCaption[] = "Microsoft Windows Media Video 9 Properties";

// The Config worker: loads the settings, shows the sheet, stores the edited record after OK.
// Fails only when the settings cannot be loaded; a failed store is not reported.
HRESULT ConfigureSettings(HWND owner, HINSTANCE module);

// Runs the sheet over a copy of `record`; true when the user confirmed and `record` now holds the
// edited copy. On every other way out `record` is as it was and no page handle is left behind.
bool ShowSettingsSheet(HWND owner, HINSTANCE module, EncoderSettings* record);

// Creates the page and appends its handle to the header's array (which has room for
// kSheetPageRoom); false when nothing was added.
bool AddSheetPage(PROPSHEETHEADERA* header, HINSTANCE module, const SettingsPage* page, EncoderSettings* working);

INT_PTR CALLBACK VideoPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AudioPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The language combo of either page, from MLang's locale list, with `current` selected when listed.
void FillLanguageList(HWND dialog, LCID current);

// Video page routines.
void InitPerformanceSlider(HWND dialog);
void UpdateModeControls(HWND dialog);
void FillDecoderLevelList(HWND dialog);

// Audio page routines.
void FillAudioCodecList(HWND dialog, int32_t currentCodec);
void FillAudioFormatList(HWND dialog, int32_t codec, int32_t format, int32_t vbr, int32_t passes);
bool AddAudioFormats(HWND combo, IWMCodecInfo3* catalogue, DWORD codec, BOOL vbr, DWORD passes);

// The item data of a format entry: bit 31 VBR, bits 16-30 the pass count, bits 0-15 the format's
// index in the list for that VBR flag and pass count.
DWORD PackedAudioFormat(int32_t vbr, int32_t passes, int32_t format);
