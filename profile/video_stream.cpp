// The video stream: codec format, bit rate, buffer, quality, key-frame spacing, the codec's
// private encoder properties and the stream language.
#include "platform/holders.h"
#include "profile/profile_builder.h"

namespace {

// What each rate-control mode asks of the stream.
struct ModeRow {
    BOOL vbr;
    DWORD passes;
    bool qualityFromSettings;  // SetQuality gets Quality; VBR modes favour quality outright
    bool vbrProperties;        // "_VBRQUALITY", "_RMAX", "_BMAX"
    bool peakFromSettings;     // "_RMAX"/"_BMAX" carry the peak settings, else 0
    bool levelHonoured;
};

constexpr ModeRow kModes[] = {
    {FALSE, 1, true, false, false, true},   // 1-pass CBR
    {FALSE, 2, true, false, false, true},   // 2-pass CBR
    {TRUE, 1, false, true, false, false},   // 1-pass quality VBR
    {TRUE, 2, false, true, false, false},   // 2-pass VBR, unconstrained
    {TRUE, 2, false, true, true, true},     // 2-pass VBR, constrained
};

const ModeRow* FindMode(int32_t mode) {
    if (mode < 0 || mode >= static_cast<int32_t>(sizeof(kModes) / sizeof(kModes[0]))) return nullptr;
    return &kModes[mode];
}

const WCHAR kSimpleBare[] = BREVLO_WIDE("SP");
const WCHAR kMainBare[] = BREVLO_WIDE("MP");
const WCHAR kComplex[] = BREVLO_WIDE("CP");
// The list position of the level names the level itself; past the end, the profile's highest.
const WCHAR* const kSimpleLevels[] = {BREVLO_WIDE("SP@LL"), BREVLO_WIDE("SP@ML")};
const WCHAR* const kMainLevels[] = {BREVLO_WIDE("MP@LL"), BREVLO_WIDE("MP@ML"), BREVLO_WIDE("MP@HL")};

DWORD WideBytesWithTerminator(const WCHAR* text) {
    DWORD units = 0;
    while (text[units] != 0) ++units;
    return (units + 1) * static_cast<DWORD>(sizeof(WCHAR));
}

HRESULT SetDwordProperty(IWMPropertyVault* vault, const WCHAR* name, WMT_ATTR_DATATYPE type, DWORD value) {
    return vault->SetProperty(name, type, reinterpret_cast<BYTE*>(&value), sizeof(value));
}

HRESULT SetEncoderProperties(IWMPropertyVault* vault, const ModeRow& row, const EncoderSettings& s) {
    HRESULT hr = SetDwordProperty(vault, BREVLO_WIDE("_VBRENABLED"), WMT_TYPE_BOOL, static_cast<DWORD>(row.vbr));
    if (FAILED(hr)) return hr;
    if (row.vbrProperties) {
        hr = SetDwordProperty(vault, BREVLO_WIDE("_VBRQUALITY"), WMT_TYPE_DWORD, static_cast<DWORD>(s.Quality));
        if (FAILED(hr)) return hr;
        hr = SetDwordProperty(vault, BREVLO_WIDE("_RMAX"), WMT_TYPE_DWORD, row.peakFromSettings ? s.PeakBitrate : 0);
        if (FAILED(hr)) return hr;
        hr = SetDwordProperty(vault, BREVLO_WIDE("_BMAX"), WMT_TYPE_DWORD, row.peakFromSettings ? s.PeakBuffer : 0);
        if (FAILED(hr)) return hr;
    }
    hr = SetDwordProperty(vault, BREVLO_WIDE("_COMPLEXITYEX"), WMT_TYPE_DWORD, static_cast<DWORD>(s.Performance));
    if (FAILED(hr)) return hr;
    const WCHAR* profile = DecoderProfileString(s.CompressionMode, s.DecoderComplexity, s.DecoderLevel);
    BYTE* value = reinterpret_cast<BYTE*>(const_cast<WCHAR*>(profile));
    DWORD size = profile ? WideBytesWithTerminator(profile) : 0;
    return vault->SetProperty(BREVLO_WIDE("_DECODERCOMPLEXITYPROFILE"), WMT_TYPE_STRING, value, size);
}

}  // namespace

const WCHAR* DecoderProfileString(int32_t mode, int32_t complexity, uint32_t level) {
    if (complexity == 2) return kComplex;
    if (complexity != 0 && complexity != 1) return nullptr;
    const ModeRow* row = FindMode(mode);
    bool bare = row ? !row->levelHonoured : false;
    if (complexity == 0) {
        if (bare) return kSimpleBare;
        const uint32_t last = sizeof(kSimpleLevels) / sizeof(kSimpleLevels[0]) - 1;
        return kSimpleLevels[level < last ? level : last];
    }
    if (bare) return kMainBare;
    const uint32_t last = sizeof(kMainLevels) / sizeof(kMainLevels[0]) - 1;
    return kMainLevels[level < last ? level : last];
}

HRESULT SetStreamLanguage(IWMStreamConfig* stream, LCID language) {
    if (!stream) return E_INVALIDARG;
    ComRef<IMultiLanguage> mlang;
    HRESULT hr = CoCreateInstance(CLSID_CMultiLanguage, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                  IID_IMultiLanguage, mlang.OutVoid());
    if (FAILED(hr)) return hr;
    // MLang leaves the pointer alone when it fails, so it starts out null.
    BSTR tag = nullptr;
    hr = mlang->GetRfc1766FromLcid(language, &tag);
    if (SUCCEEDED(hr)) {
        ComRef<IWMStreamConfig3> config3;
        hr = QueryInterfaceInto(stream, IID_IWMStreamConfig3, config3);
        if (SUCCEEDED(hr)) hr = config3->SetLanguage(tag);
    }
    if (tag) SysFreeString(tag);
    return hr;
}

HRESULT BuildVideoFormat(MediaTypeBlock** format, DWORD codecIndex, int32_t width, int32_t height,
                         DWORD bitrate, BOOL vbr, DWORD passes) {
    if (!format) return E_POINTER;
    MediaTypeBlock* type = nullptr;
    HRESULT hr = GetEnumeratedFormatType(&type, nullptr, nullptr, WMMEDIATYPE_Video, codecIndex, 0, vbr, passes);
    if (FAILED(hr)) return hr;
    HeapBlock fetched(type);
    // The rewrite below needs a whole VIDEOINFOHEADER.
    if (type->formattype != WMFORMAT_VideoInfo || type->cbFormat < sizeof(VIDEOINFOHEADER) || !type->pbFormat) {
        return NS_E_INVALID_OUTPUT_FORMAT;
    }
    VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    info->rcSource.left = 0;
    info->rcSource.top = 0;
    info->rcSource.right = width;
    info->rcSource.bottom = height;
    info->rcTarget = info->rcSource;
    info->dwBitRate = bitrate;
    info->AvgTimePerFrame = 0;
    info->bmiHeader.biWidth = width;
    info->bmiHeader.biHeight = height;
    return CopyMediaType(format, type);
}

HRESULT BuildVideoStream(IWMStreamConfig** stream, IWMProfile* profile, const EncoderSettings& s) {
    if (!stream) return E_POINTER;
    if (!profile) return E_INVALIDARG;
    const ModeRow* row = FindMode(s.CompressionMode);
    if (!row) return E_FAIL;

    ComRef<IWMStreamConfig> config;
    HRESULT hr = profile->CreateNewStream(WMMEDIATYPE_Video, config.Out());
    if (FAILED(hr)) return hr;
    hr = config->SetBitrate(s.Bitrate);
    if (FAILED(hr)) return hr;
    hr = config->SetBufferWindow(s.BufferWindow);
    if (FAILED(hr)) return hr;

    MediaTypeBlock* format = nullptr;
    hr = BuildVideoFormat(&format, static_cast<DWORD>(s.VideoCodecIndex), s.Width, s.Height, s.Bitrate, row->vbr,
                          row->passes);
    if (FAILED(hr)) return hr;
    HeapBlock formatBlock(format);
    ComRef<IWMVideoMediaProps> props;
    hr = QueryInterfaceInto(config.Get(), IID_IWMVideoMediaProps, props);
    if (FAILED(hr)) return hr;
    hr = props->SetMediaType(format);
    if (FAILED(hr)) return hr;
    hr = props->SetQuality(row->qualityFromSettings ? static_cast<DWORD>(s.Quality) : 100);
    if (FAILED(hr)) return hr;
    hr = props->SetMaxKeyFrameSpacing(static_cast<LONGLONG>(static_cast<uint64_t>(s.KeyFrameInterval) * 10000u));
    if (FAILED(hr)) return hr;

    ComRef<IWMPropertyVault> vault;
    if (SUCCEEDED(QueryInterfaceInto(config.Get(), IID_IWMPropertyVault, vault))) {
        hr = SetEncoderProperties(vault.Get(), *row, s);
        if (FAILED(hr)) return hr;
        vault.Reset();
    }

    hr = SetStreamLanguage(config.Get(), s.VideoLanguage);
    if (FAILED(hr)) return hr;
    *stream = config.Detach();
    return hr;
}
