// Config, ConfigGet and ConfigSet. Their results are fixed by the editor's interface; the settings
// workers behind them come with the settings subsystem and the property sheet.
#include "plugin/entry_points.h"

int32_t __cdecl Config(HWND, HINSTANCE) { return 1; }

int32_t __cdecl ConfigGet(void*, int32_t) { return kConfigBlobSize; }

int32_t __cdecl ConfigSet(void*, int32_t size) { return size == kConfigBlobSize ? kConfigBlobSize : 0; }
