// A running stand-in writer for tests and benchmarks that need real writer inputs: a two-stream
// profile made straight from the catalogue's first video and audio formats, the inputs bound by
// connection name to the editor's uncompressed types, BeginWriting called. Header-only so that a
// benchmark (one source file) can use it too.
#pragma once

#include <cstring>

#include "delivery/input_binding.h"
#include "platform/holders.h"
#include "platform/wm/wm.h"
#include "plugin/host_job.h"

namespace standinwriter {

inline HRESULT AddCatalogueStream(IWMProfile* profile, IWMCodecInfo3* codecs, const GUID& type, WORD number,
                                  const WCHAR* name, const WCHAR* connection, const HostJob& job) {
    ComRef<IWMStreamConfig> config;
    HRESULT hr = codecs->GetCodecFormat(type, 0, 0, config.Out());
    if (FAILED(hr)) return hr;
    if (IsEqualGUID(type, WMMEDIATYPE_Video)) {
        ComRef<IWMMediaProps> props;
        hr = QueryInterfaceInto(config.Get(), IID_IWMMediaProps, props);
        if (FAILED(hr)) return hr;
        DWORD size = 0;
        hr = props->GetMediaType(nullptr, &size);
        if (FAILED(hr)) return hr;
        HeapBlock block;
        if (!block.Allocate(size)) return E_OUTOFMEMORY;
        WM_MEDIA_TYPE* media = block.As<WM_MEDIA_TYPE>();
        hr = props->GetMediaType(media, &size);
        if (FAILED(hr)) return hr;
        auto* info = reinterpret_cast<VIDEOINFOHEADER*>(media->pbFormat);
        const DWORD bitrate = 1000000;
        info->rcSource = RECT{0, 0, job.FrameWidth, job.FrameHeight};
        info->rcTarget = info->rcSource;
        info->dwBitRate = bitrate;
        info->AvgTimePerFrame = 0;
        info->bmiHeader.biWidth = job.FrameWidth;
        info->bmiHeader.biHeight = job.FrameHeight;
        hr = props->SetMediaType(media);
        if (FAILED(hr)) return hr;
        hr = config->SetBitrate(bitrate);
        if (FAILED(hr)) return hr;
    }
    hr = config->SetBufferWindow(5000);
    if (FAILED(hr)) return hr;
    hr = config->SetStreamNumber(number);
    if (FAILED(hr)) return hr;
    hr = config->SetStreamName(name);
    if (FAILED(hr)) return hr;
    hr = config->SetConnectionName(connection);
    if (FAILED(hr)) return hr;
    return profile->AddStream(config.Get());
}

// The editor's uncompressed type of one stream; `format` must hold 88 bytes for video.
inline void DescribeHostStream(const HostJob& job, bool video, BYTE* format, WM_MEDIA_TYPE* media) {
    std::memset(media, 0, sizeof *media);
    media->bFixedSizeSamples = TRUE;
    media->pbFormat = format;
    if (video) {
        VIDEOINFOHEADER info{};
        info.rcSource = RECT{0, 0, job.FrameWidth, job.FrameHeight};
        info.rcTarget = info.rcSource;
        info.dwBitRate = 0xFFFFFFFFu;
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = job.FrameWidth;
        info.bmiHeader.biHeight = job.FrameHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        info.bmiHeader.biSizeImage = static_cast<DWORD>(job.FrameBytes);
        std::memcpy(format, &info, sizeof info);
        media->majortype = WMMEDIATYPE_Video;
        media->subtype = WMMEDIASUBTYPE_RGB24;
        media->lSampleSize = static_cast<ULONG>(job.FrameBytes);
        media->formattype = WMFORMAT_VideoInfo;
        media->cbFormat = sizeof info;
    } else {
        WAVEFORMATEX wave{};
        wave.wFormatTag = WAVE_FORMAT_PCM;
        wave.nChannels = static_cast<WORD>(job.AudioChannels);
        wave.nSamplesPerSec = static_cast<DWORD>(job.AudioRate);
        wave.nBlockAlign = static_cast<WORD>(wave.nChannels * 2);
        wave.nAvgBytesPerSec = wave.nBlockAlign * wave.nSamplesPerSec;
        wave.wBitsPerSample = 16;
        std::memcpy(format, &wave, sizeof wave);
        media->majortype = WMMEDIATYPE_Audio;
        media->subtype = WMMEDIASUBTYPE_PCM;
        media->lSampleSize = wave.nBlockAlign;
        media->formattype = WMFORMAT_WaveFormatEx;
        media->cbFormat = sizeof wave;
    }
}

// Everything a test needs to deliver into a stand-in writer. Entries follow the job's streams,
// video first; `count` says how many are in use.
struct RunningWriter {
    ComRef<IWMWriter> writer;
    InputBinding table[2]{};
    uint32_t count = 0;
    BYTE formats[2][88]{};
};

// Creates, configures and begins a writer for the job's streams (the profile always has both, as
// the system's own profile has).
inline HRESULT StartWriter(const HostJob& job, RunningWriter* run) {
    ComRef<IWMProfileManager> manager;
    HRESULT hr = WMCreateProfileManager(manager.Out());
    if (FAILED(hr)) return hr;
    ComRef<IWMCodecInfo3> codecs;
    hr = QueryInterfaceInto(manager.Get(), IID_IWMCodecInfo3, codecs);
    if (FAILED(hr)) return hr;
    ComRef<IWMProfile> profile;
    hr = manager->CreateEmptyProfile(WMT_VER_9_0, profile.Out());
    if (FAILED(hr)) return hr;
    hr = AddCatalogueStream(profile.Get(), codecs.Get(), WMMEDIATYPE_Video, 1, BREVLO_WIDE("Video0"),
                            BREVLO_WIDE("TamselVideo1"), job);
    if (FAILED(hr)) return hr;
    hr = AddCatalogueStream(profile.Get(), codecs.Get(), WMMEDIATYPE_Audio, 2, BREVLO_WIDE("Audio1"),
                            BREVLO_WIDE("TamselAudio1"), job);
    if (FAILED(hr)) return hr;

    hr = WMCreateWriter(nullptr, run->writer.Out());
    if (FAILED(hr)) return hr;
    hr = run->writer->SetProfile(profile.Get());
    if (FAILED(hr)) return hr;

    run->count = 0;
    const bool streams[2] = {(job.ContentFlags & HasVideo) != 0, (job.ContentFlags & HasAudio) != 0};
    const WCHAR* names[2] = {BREVLO_WIDE("TamselVideo1"), BREVLO_WIDE("TamselAudio1")};
    for (int s = 0; s < 2; ++s) {
        if (!streams[s]) continue;
        InputBinding& entry = run->table[run->count];
        entry.InputNumber = -1;
        entry.ConnectionName = names[s];
        DescribeHostStream(job, s == 0, run->formats[run->count], &entry.MediaType);
        ++run->count;
    }

    DWORD inputs = 0;
    hr = run->writer->GetInputCount(&inputs);
    if (FAILED(hr)) return hr;
    for (DWORD input = 0; input < inputs; ++input) {
        ComRef<IWMInputMediaProps> props;
        hr = run->writer->GetInputProps(input, props.Out());
        if (FAILED(hr)) return hr;
        WCHAR name[64] = {};
        WORD units = 64;
        hr = props->GetConnectionName(name, &units);
        if (FAILED(hr)) return hr;
        for (uint32_t k = 0; k < run->count; ++k) {
            InputBinding& entry = run->table[k];
            const WCHAR* a = entry.ConnectionName;
            const WCHAR* b = name;
            while (*a && *a == *b) ++a, ++b;
            if (*a != *b || entry.InputNumber != -1) continue;
            entry.InputNumber = static_cast<int32_t>(input);
            hr = props->SetMediaType(&entry.MediaType);
            if (FAILED(hr)) return hr;
            hr = run->writer->SetInputProps(input, props.Get());
            if (FAILED(hr)) return hr;
            break;
        }
    }
    return run->writer->BeginWriting();
}

}  // namespace standinwriter
