// The writer inputs of an Output run: what the host hands over (bottom-up RGB24, 16-bit PCM) and
// which writer input carries each stream.
#include <cstring>

#include "delivery/sample_passes.h"
#include "platform/holders.h"
#include "plugin/output_steps.h"
#include "profile/profile_builder.h"

namespace {

// Uncompressed data rate in bits per second; a rate past 32 bits is declared as the largest.
DWORD UncompressedBitRate(const HostJob& job) {
    if (job.Scale == 0) return 0xFFFFFFFFu;
    double rate = static_cast<double>(job.FrameBytes) * 8.0 * job.Rate / job.Scale;
    if (!(rate >= 0.0)) return 0;
    if (rate >= 4294967296.0) return 0xFFFFFFFFu;
    return static_cast<DWORD>(rate);
}

void FillVideoType(const HostJob& job, InputBinding& entry, BYTE* block) {
    std::memset(block, 0, sizeof(VIDEOINFOHEADER));
    VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(block);
    info->rcSource.right = job.FrameWidth;
    info->rcSource.bottom = job.FrameHeight;
    info->rcTarget = info->rcSource;
    info->dwBitRate = UncompressedBitRate(job);
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = job.FrameWidth;
    info->bmiHeader.biHeight = job.FrameHeight;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 24;
    info->bmiHeader.biCompression = 0;

    WM_MEDIA_TYPE& type = entry.MediaType;
    std::memset(&type, 0, sizeof(type));
    type.majortype = WMMEDIATYPE_Video;
    type.subtype = WMMEDIASUBTYPE_RGB24;
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = static_cast<ULONG>(job.FrameBytes);
    type.formattype = WMFORMAT_VideoInfo;
    type.cbFormat = sizeof(VIDEOINFOHEADER);
    type.pbFormat = block;
}

void FillAudioType(const HostJob& job, InputBinding& entry, BYTE* block) {
    std::memset(block, 0, sizeof(WAVEFORMATEX));
    WAVEFORMATEX* wave = reinterpret_cast<WAVEFORMATEX*>(block);
    wave->wFormatTag = WAVE_FORMAT_PCM;
    wave->nChannels = static_cast<WORD>(job.AudioChannels);
    wave->nSamplesPerSec = static_cast<DWORD>(job.AudioRate);
    wave->nBlockAlign = static_cast<WORD>(wave->nChannels * 16 / 8);
    wave->nAvgBytesPerSec = wave->nBlockAlign * wave->nSamplesPerSec;
    wave->wBitsPerSample = 16;
    wave->cbSize = 0;

    WM_MEDIA_TYPE& type = entry.MediaType;
    std::memset(&type, 0, sizeof(type));
    type.majortype = WMMEDIATYPE_Audio;
    type.subtype = WMMEDIASUBTYPE_PCM;
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = wave->nBlockAlign;
    type.formattype = WMFORMAT_WaveFormatEx;
    type.cbFormat = sizeof(WAVEFORMATEX);
    type.pbFormat = block;
}

bool SameName(const WCHAR* a, const WCHAR* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// The connection name of a writer input, read from its stream configuration where the runtime
// offers one there, else from the input properties themselves.
HRESULT ReadConnectionName(IWMInputMediaProps* props, WCHAR* local, WORD localUnits, HeapBlock& heap,
                           WCHAR** name) {
    ComRef<IWMStreamConfig> config;
    bool fromConfig = SUCCEEDED(QueryInterfaceInto(props, IID_IWMStreamConfig, config));
    WORD units = 0;
    HRESULT hr = fromConfig ? config->GetConnectionName(nullptr, &units) : props->GetConnectionName(nullptr, &units);
    if (FAILED(hr)) return hr;
    WCHAR* buffer = local;
    WORD capacity = localUnits;
    if (units >= localUnits) {
        if (!heap.Allocate(static_cast<SIZE_T>(units) * sizeof(WCHAR))) return E_OUTOFMEMORY;
        buffer = heap.As<WCHAR>();
        capacity = units;
    }
    buffer[0] = 0;
    WORD filled = capacity;
    hr = fromConfig ? config->GetConnectionName(buffer, &filled) : props->GetConnectionName(buffer, &filled);
    if (FAILED(hr)) return hr;
    buffer[capacity - 1] = 0;  // a name that fills the buffer still ends inside it
    *name = buffer;
    return hr;
}

}  // namespace

bool JobCanBeTimed(const HostJob& job) {
    if ((job.ContentFlags & HasVideo) && !VideoCanBeTimed(job)) return false;
    // Audio also needs channels to describe a PCM format at all.
    if ((job.ContentFlags & HasAudio) && (!AudioCanBeTimed(job) || job.AudioChannels <= 0)) return false;
    return true;
}

HRESULT DescribeInputs(const HostJob* job, InputBinding* table, uint32_t* count) {
    if (!job || !table || !count) return E_INVALIDARG;
    uint32_t used = 0;
    if (job->ContentFlags & HasVideo) {
        InputBinding& entry = table[0];
        entry.InputNumber = -1;
        entry.ConnectionName = kVideoConnectionName;
        std::memset(&entry.MediaType, 0, sizeof(entry.MediaType));
        BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, sizeof(VIDEOINFOHEADER)));
        if (!block) return E_FAIL;
        FillVideoType(*job, entry, block);
        used = 1;
    }
    if (job->ContentFlags & HasAudio) {
        InputBinding& entry = table[used];
        entry.InputNumber = -1;
        entry.ConnectionName = kAudioConnectionName;
        std::memset(&entry.MediaType, 0, sizeof(entry.MediaType));
        BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, sizeof(WAVEFORMATEX)));
        if (!block) {
            if (used == 0) return E_FAIL;
            ReleaseInputs(table, used);
            *count = used;
            return E_OUTOFMEMORY;
        }
        FillAudioType(*job, entry, block);
        ++used;
    }
    if (used == 0) return E_FAIL;
    *count = used;
    return S_OK;
}

void ReleaseInputs(InputBinding* table, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (table[i].MediaType.pbFormat) {
            HeapFree(GetProcessHeap(), 0, table[i].MediaType.pbFormat);
            table[i].MediaType.pbFormat = nullptr;
        }
    }
}

HRESULT BindInputs(IWMWriter* writer, uint32_t count, InputBinding* table) {
    if (!writer) return E_INVALIDARG;
    DWORD inputs = 0;
    HRESULT hr = writer->GetInputCount(&inputs);
    if (FAILED(hr)) return hr;
    for (uint32_t i = 0; i < count; ++i) table[i].InputNumber = -1;

    for (DWORD j = 0; j < inputs && SUCCEEDED(hr); ++j) {
        ComRef<IWMInputMediaProps> props;
        hr = writer->GetInputProps(j, props.Out());
        if (FAILED(hr)) break;
        const WORD kLocalUnits = 64;
        WCHAR local[kLocalUnits];
        HeapBlock heap;
        WCHAR* name = nullptr;
        hr = ReadConnectionName(props.Get(), local, kLocalUnits, heap, &name);
        if (FAILED(hr)) break;
        OutputDebugStringW(name);
        for (uint32_t i = 0; i < count; ++i) {
            InputBinding& entry = table[i];
            if (entry.InputNumber != -1 || !SameName(entry.ConnectionName, name)) continue;
            entry.InputNumber = static_cast<int32_t>(j);
            hr = props->SetMediaType(&entry.MediaType);
            if (SUCCEEDED(hr)) hr = writer->SetInputProps(j, props.Get());
            break;
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (table[i].InputNumber == -1) return E_INVALIDARG;
    }
    return hr;
}
