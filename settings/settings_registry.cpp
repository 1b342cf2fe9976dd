#include "settings/settings_registry.h"

#include <cstring>

#include "profile/codec_catalogue.h"

#define SETTINGS_ROW(key, name, maximum, field) {key, name, maximum, offsetof(EncoderSettings, field)}

const SettingsRegistryRow SettingsRegistryTable[kSettingsRegistryRows] = {
    SETTINGS_ROW(kVideoSettingsKey, "CompressionMode", 4, CompressionMode),
    SETTINGS_ROW(kVideoSettingsKey, "Bitrate", kNoMaximum, Bitrate),
    SETTINGS_ROW(kVideoSettingsKey, "BufferWindow", kNoMaximum, BufferWindow),
    SETTINGS_ROW(kVideoSettingsKey, "Quality", 100, Quality),
    SETTINGS_ROW(kVideoSettingsKey, "KeyFrameInterval", kNoMaximum, KeyFrameInterval),
    SETTINGS_ROW(kVideoSettingsKey, "DecoderComplexity", 2, DecoderComplexity),
    SETTINGS_ROW(kVideoSettingsKey, "DecoderLevel", 3, DecoderLevel),
    SETTINGS_ROW(kVideoSettingsKey, "Performance", kNoMaximum, Performance),
    SETTINGS_ROW(kVideoSettingsKey, "PeakBitrate", kNoMaximum, PeakBitrate),
    SETTINGS_ROW(kVideoSettingsKey, "PeakBuffer", kNoMaximum, PeakBuffer),
    SETTINGS_ROW(kVideoSettingsKey, "EnableResizeTo", 1, EnableResizeTo),
    SETTINGS_ROW(kVideoSettingsKey, "ResizeToW", kNoMaximum, ResizeToW),
    SETTINGS_ROW(kVideoSettingsKey, "ResizeToH", kNoMaximum, ResizeToH),
    SETTINGS_ROW(kVideoSettingsKey, "Language", kNoMaximum, VideoLanguage),
    SETTINGS_ROW(kAudioSettingsKey, "Codec", kNoMaximum, AudioCodec),
    SETTINGS_ROW(kAudioSettingsKey, "Format", kNoMaximum, AudioFormat),
    SETTINGS_ROW(kAudioSettingsKey, "VBREnable", 1, AudioVBREnable),
    SETTINGS_ROW(kAudioSettingsKey, "NumberOfPasses", 2, AudioNumberOfPasses),
    SETTINGS_ROW(kAudioSettingsKey, "BufferWindow", kNoMaximum, AudioBufferWindow),
    SETTINGS_ROW(kAudioSettingsKey, "Language", kNoMaximum, AudioLanguage),
};

#undef SETTINGS_ROW

bool ReadRegistryDword(const char* keyPath, const char* valueName, uint32_t* value) {
    if (!value) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, data, &size);
    RegCloseKey(key);
    // A REG_DWORD stored with fewer bytes would leave part of the buffer stale.
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
    std::memcpy(value, data, sizeof data);
    return true;
}

bool WriteRegistryDword(const char* keyPath, const char* valueName, uint32_t value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    BYTE data[4];
    std::memcpy(data, &value, sizeof data);
    LONG status = RegSetValueExA(key, valueName, 0, REG_DWORD, data, sizeof data);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

namespace {

bool WithinMaximum(const SettingsRegistryRow& row, uint32_t value) {
    return row.Maximum == kNoMaximum || value <= row.Maximum;
}

// The record's field of the row; the record need not be aligned for it.
uint32_t RowValue(const EncoderSettings* record, const SettingsRegistryRow& row) {
    uint32_t value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(record) + row.FieldOffset, sizeof value);
    return value;
}

}  // namespace

HRESULT ReadStoredSettings(EncoderSettings* record) {
    if (!record) return E_INVALIDARG;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(record);
    for (const SettingsRegistryRow& row : SettingsRegistryTable) {
        uint32_t value = 0;
        if (!ReadRegistryDword(row.KeyPath, row.ValueName, &value)) return S_FALSE;
        if (!WithinMaximum(row, value)) return S_FALSE;
        std::memcpy(bytes + row.FieldOffset, &value, sizeof value);
    }
    DWORD videoCodec = 0;
    HRESULT hr = FindVideoCodecIndex(&videoCodec);
    if (FAILED(hr)) return hr;
    record->VideoCodecIndex = static_cast<int32_t>(videoCodec);
    return S_OK;
}

bool ReadSettingsFromRegistry(EncoderSettings* record) { return ReadStoredSettings(record) == S_OK; }

bool SettingsWithinLimits(const EncoderSettings* record) {
    if (!record) return false;
    for (const SettingsRegistryRow& row : SettingsRegistryTable) {
        if (!WithinMaximum(row, RowValue(record, row))) return false;
    }
    return true;
}

bool WriteSettingsToRegistry(const EncoderSettings* record) {
    if (!record) return false;
    for (const SettingsRegistryRow& row : SettingsRegistryTable) {
        if (!WriteRegistryDword(row.KeyPath, row.ValueName, RowValue(record, row))) return false;
    }
    return true;
}
