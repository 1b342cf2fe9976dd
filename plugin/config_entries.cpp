// Config, ConfigGet and ConfigSet. The blob the editor keeps is the settings record itself; it
// reaches the encoder only through the registry.
#include <cstring>

#include "plugin/entry_points.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "ui/settings_sheet.h"

static_assert(sizeof(EncoderSettings) == kConfigBlobSize, "the configuration blob is the settings record");

// Shows the settings sheet. The editor is told nothing of how it went, not even that the settings
// could not be loaded.
int32_t __cdecl Config(HWND owner, HINSTANCE module) {
    ConfigureSettings(owner, module);
    return 1;
}

// Answers the blob size; a large enough buffer is filled with the current settings. The editor's
// size is a capacity, taken as unsigned (0xFFFFFFFF means "no limit"). Its buffer need not be
// aligned for the record, so the record is worked on in a copy. When the settings cannot be
// loaded (no media runtime) the answer is 0 and the buffer is left alone: a blob of zeros kept
// with a project would store nonsense when it comes back.
int32_t __cdecl ConfigGet(void* data, int32_t size) {
    if (data && static_cast<uint32_t>(size) >= static_cast<uint32_t>(kConfigBlobSize)) {
        EncoderSettings record;
        std::memcpy(&record, data, sizeof record);
        if (FAILED(LoadSettings(&record))) return 0;
        std::memcpy(data, &record, sizeof record);
    }
    return kConfigBlobSize;
}

// Takes a blob of exactly the record's size whose every value a load would accept, and stores
// it; whether the registry took it is not the editor's concern. Any other blob is refused before
// the store is touched, since storing it would make every later load fall back to the defaults.
int32_t __cdecl ConfigSet(void* data, int32_t size) {
    if (!data || size != kConfigBlobSize) return 0;
    EncoderSettings record;
    std::memcpy(&record, data, sizeof record);
    if (!SettingsWithinLimits(&record)) return 0;
    WriteSettingsToRegistry(&record);
    return kConfigBlobSize;
}
