// Where the settings live between calls: twenty REG_DWORD values in two keys of the current user.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/encoder_settings.h"

inline constexpr char kVideoSettingsKey[] = "Software\\Veltrane\\Pelwick\\Video";
inline constexpr char kAudioSettingsKey[] = "Software\\Veltrane\\Pelwick\\Audio";

// A row's Maximum when the value has no upper bound.
constexpr uint32_t kNoMaximum = 0xFFFFFFFFu;

struct SettingsRegistryRow {
    const char* KeyPath;
    const char* ValueName;
    uint32_t Maximum;    // largest value accepted on reading
    size_t FieldOffset;  // of the 32-bit field in EncoderSettings
};

constexpr size_t kSettingsRegistryRows = 20;

// Read and written in this order.
extern const SettingsRegistryRow SettingsRegistryTable[kSettingsRegistryRows];

// One REG_DWORD of exactly 4 bytes; `value` is written only on success.
bool ReadRegistryDword(const char* keyPath, const char* valueName, uint32_t* value);
bool WriteRegistryDword(const char* keyPath, const char* valueName, uint32_t value);

// True when all twenty values were within their maxima and the video codec was found. On false
// the rows before the bad one have been stored in the record already.
bool ReadSettingsFromRegistry(EncoderSettings* record);
// The same as a result code: S_OK, S_FALSE when the registry holds no complete set within the
// maxima, or the catalogue's failure when the set is complete but the video codec is not found.
HRESULT ReadStoredSettings(EncoderSettings* record);

// True when every value of the record is within its row's maximum, as a load accepts it.
bool SettingsWithinLimits(const EncoderSettings* record);

// Writes the twenty values in table order, stopping at the first failure.
bool WriteSettingsToRegistry(const EncoderSettings* record);
