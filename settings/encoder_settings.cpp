#include "settings/encoder_settings.h"

#include <cstring>

#include "profile/codec_catalogue.h"
#include "settings/settings_registry.h"

HRESULT LoadSettings(EncoderSettings* record) {
    if (!record) return E_INVALIDARG;
    // A complete stored set is the user's: when the catalogue fails it, the load fails rather
    // than quietly giving the defaults (which Config would then store over it).
    HRESULT hr = ReadStoredSettings(record);
    if (hr != S_FALSE) return hr;

    DWORD videoCodec = 0;
    hr = FindVideoCodecIndex(&videoCodec);
    if (FAILED(hr)) return hr;
    record->VideoCodecIndex = static_cast<int32_t>(videoCodec);
    record->Bitrate = 300000;
    record->BufferWindow = 5000;
    record->KeyFrameInterval = 8000;
    record->Quality = 80;
    record->PeakBitrate = 900000;
    record->PeakBuffer = 5000;
    record->CompressionMode = 2;
    record->DecoderComplexity = 1;
    record->DecoderLevel = 0;
    record->EnableResizeTo = 0;
    record->Width = 0;
    record->Height = 0;
    record->ResizeToW = 0;
    record->ResizeToH = 0;
    // The codec's own suggestion for offline encoding; without one the lowest complexity.
    DWORD performance = 0;
    if (FAILED(GetDefaultPerformance(WMMEDIATYPE_Video, videoCodec, &performance))) performance = 0;
    record->Performance = static_cast<int32_t>(performance);
    record->VideoLanguage = GetSystemDefaultLCID();

    DWORD audioCodec = 0, audioFormat = 0;
    hr = FindDefaultAudioCodec(&audioCodec, &audioFormat);
    if (FAILED(hr)) return hr;
    record->AudioCodec = static_cast<int32_t>(audioCodec);
    record->AudioFormat = static_cast<int32_t>(audioFormat);
    record->AudioBufferWindow = 5000;
    record->AudioVBREnable = 0;
    record->AudioNumberOfPasses = 1;
    record->AudioLanguage = GetSystemDefaultLCID();
    return S_OK;
}

HRESULT SettingsForJob(const HostJob* job, EncoderSettings* record) {
    if (!record || !job) return E_INVALIDARG;
    std::memset(record, 0, sizeof *record);
    HRESULT hr = LoadSettings(record);
    if (FAILED(hr)) return hr;
    if (!(job->ContentFlags & HasVideo)) return S_OK;

    record->Width = job->FrameWidth;
    record->Height = job->FrameHeight;
    // A job without a scale has no rate; such jobs are refused before anything is encoded.
    record->FrameRate = job->Scale != 0 ? static_cast<double>(job->Rate) / static_cast<double>(job->Scale) : 0.0;
    if (record->EnableResizeTo == 0 || record->ResizeToW == 0 || record->ResizeToH == 0) {
        record->ResizeToW = static_cast<uint32_t>(job->FrameWidth);
        record->ResizeToH = static_cast<uint32_t>(job->FrameHeight);
    }
    return S_OK;
}
