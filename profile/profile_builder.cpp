// The profile the writer is given: an empty version 9 profile with the video stream first and the
// audio stream second.
#include "profile/profile_builder.h"

#include <cstring>

#include "platform/holders.h"

namespace {

// "Video%d" and the like, for a small counter.
void FormatStreamName(const WCHAR* prefix, uint16_t counter, WCHAR* out, size_t capacity) {
    size_t n = 0;
    while (prefix[n] != 0 && n + 1 < capacity) {
        out[n] = prefix[n];
        ++n;
    }
    WCHAR digits[6];
    size_t count = 0;
    do {
        digits[count++] = static_cast<WCHAR>(BREVLO_WIDE('0') + counter % 10);
        counter = static_cast<uint16_t>(counter / 10);
    } while (counter != 0);
    while (count > 0 && n + 1 < capacity) out[n++] = digits[--count];
    out[n] = 0;
}

HRESULT NameAndAddStream(IWMProfile* profile, IWMStreamConfig* stream, const WCHAR* prefix, uint16_t counter,
                         const WCHAR* connection) {
    WCHAR name[16];
    FormatStreamName(prefix, counter, name, sizeof(name) / sizeof(name[0]));
    HRESULT hr = stream->SetStreamName(name);
    if (FAILED(hr)) return hr;
    hr = stream->SetConnectionName(connection);
    if (FAILED(hr)) return hr;
    return profile->AddStream(stream);
}

}  // namespace

HRESULT AddProfileStreams(IWMProfile* profile, const EncoderSettings& settings) {
    if (!profile) return E_INVALIDARG;
    uint16_t counter = 0;

    ComRef<IWMStreamConfig> video;
    HRESULT hr = BuildVideoStream(video.Out(), profile, settings);
    if (FAILED(hr)) return hr;
    hr = NameAndAddStream(profile, video.Get(), BREVLO_WIDE("Video"), counter, kVideoConnectionName);
    if (FAILED(hr)) return hr;
    ++counter;
    video.Reset();

    ComRef<IWMStreamConfig> audio;
    hr = BuildAudioStream(audio.Out(), profile, settings.AudioBufferWindow, settings.AudioCodec, settings.AudioFormat,
                          settings.AudioVBREnable, settings.AudioNumberOfPasses, settings.AudioLanguage);
    if (FAILED(hr)) return hr;
    hr = NameAndAddStream(profile, audio.Get(), BREVLO_WIDE("Audio"), counter, kAudioConnectionName);
    return hr;
}

HRESULT BuildProfile(const HostJob* job, EncoderSettings* used, IWMProfile** profile) {
    if (!profile) return E_POINTER;
    if (!job) return E_INVALIDARG;
    ComRef<IWMProfileManager> manager;
    HRESULT hr = WMCreateProfileManager(manager.Out());
    if (FAILED(hr)) return hr;
    ComRef<IWMProfile> built;
    hr = manager->CreateEmptyProfile(WMT_VER_9_0, built.Out());
    if (FAILED(hr)) return hr;

    EncoderSettings settings;
    std::memset(&settings, 0, sizeof(settings));
    hr = SettingsForJob(job, &settings);
    if (FAILED(hr)) return hr;
    hr = AddProfileStreams(built.Get(), settings);
    if (FAILED(hr)) return hr;

    *profile = built.Detach();
    if (used) std::memcpy(used, &settings, sizeof(settings));
    return hr;
}
