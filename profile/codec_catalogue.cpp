#include "profile/codec_catalogue.h"

#include <cstdint>
#include <cstring>

#include "platform/holders.h"

namespace {

// Names this long or longer are never read: the name buffer holds 130 characters.
constexpr DWORD kLongestCodecName = 127;
constexpr DWORD kCodecNameBuffer = 130;

inline constexpr WCHAR kAudio9Family[] = BREVLO_WIDE("Windows Media Audio 9");
inline constexpr WCHAR kProfessional[] = BREVLO_WIDE("Professional");

size_t WideLength(const WCHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

bool StartsWith(const WCHAR* s, const WCHAR* prefix) {
    for (; *prefix; ++s, ++prefix) {
        if (*s != *prefix) return false;
    }
    return true;
}

bool EndsWith(const WCHAR* s, const WCHAR* suffix) {
    size_t n = WideLength(s), m = WideLength(suffix);
    return n >= m && std::memcmp(s + n - m, suffix, m * sizeof(WCHAR)) == 0;
}

// Offers the names of the major type's codecs to `visit` in index order until it returns true.
// A name that cannot be read ends the walk; only acquiring the catalogue and counting its codecs
// can fail it.
template <typename Visit>
HRESULT VisitCodecNames(REFGUID majorType, Visit visit) {
    ComRef<IWMCodecInfo3> catalogue;
    HRESULT hr = AcquireCodecInfo(catalogue.Out());
    if (FAILED(hr)) return hr;
    DWORD count = 0;
    hr = catalogue->GetCodecInfoCount(majorType, &count);
    if (FAILED(hr)) return hr;
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = 0;
        if (FAILED(catalogue->GetCodecName(majorType, i, nullptr, &length))) break;
        if (length >= kLongestCodecName) continue;
        WCHAR name[kCodecNameBuffer] = {};
        if (FAILED(catalogue->GetCodecName(majorType, i, name, &length))) break;
        if (visit(i, static_cast<const WCHAR*>(name))) break;
    }
    return S_OK;
}

}  // namespace

HRESULT AcquireCodecInfo(IWMCodecInfo3** holder) {
    if (!holder) return E_POINTER;
    if (*holder) {
        (*holder)->AddRef();
        return S_OK;
    }
    ComRef<IWMProfileManager> manager;
    HRESULT hr = WMCreateProfileManager(manager.Out());
    if (FAILED(hr)) return hr;
    // The catalogue keeps the manager object alive after our reference goes.
    return manager->QueryInterface(IID_IWMCodecInfo3, reinterpret_cast<void**>(holder));
}

HRESULT FindCodecIndex(REFGUID majorType, const WCHAR* name, DWORD* index) {
    if (!name || !index) return E_INVALIDARG;
    *index = kNoCodec;
    DWORD found = kNoCodec;
    HRESULT hr = VisitCodecNames(majorType, [&](DWORD i, const WCHAR* codecName) {
        if (lstrcmpW(codecName, name) != 0) return false;
        found = i;
        return true;
    });
    if (FAILED(hr)) return hr;
    if (found == kNoCodec) return E_FAIL;
    *index = found;
    return S_OK;
}

HRESULT FindVideoCodecIndex(DWORD* index) { return FindCodecIndex(WMMEDIATYPE_Video, kVideoCodecName, index); }

HRESULT FindDefaultAudioCodec(DWORD* codecIndex, DWORD* formatIndex) {
    if (!codecIndex || !formatIndex) return E_INVALIDARG;
    DWORD index = kNoCodec;
    HRESULT hr = FindCodecIndex(WMMEDIATYPE_Audio, kDefaultAudioCodecName, &index);
    if (FAILED(hr)) {
        DWORD professional = kNoCodec, family = kNoCodec;
        HRESULT walk = VisitCodecNames(WMMEDIATYPE_Audio, [&](DWORD i, const WCHAR* name) {
            if (!StartsWith(name, kAudio9Family)) return false;
            if (family == kNoCodec) family = i;
            if (!EndsWith(name, kProfessional)) return false;
            professional = i;
            return true;
        });
        if (FAILED(walk)) return hr;
        index = professional != kNoCodec ? professional : family;
        if (index == kNoCodec) return hr;
    }
    *codecIndex = index;
    *formatIndex = 0;
    return S_OK;
}

HRESULT GetDefaultPerformance(REFGUID majorType, DWORD codecIndex, DWORD* value) {
    if (!value) return E_INVALIDARG;
    ComRef<IWMCodecInfo3> catalogue;
    HRESULT hr = AcquireCodecInfo(catalogue.Out());
    if (FAILED(hr)) return hr;
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    hr = catalogue->GetCodecProp(majorType, codecIndex, g_wszComplexityOffline, &type, data, &size);
    if (SUCCEEDED(hr)) std::memcpy(value, data, sizeof data);
    return hr;
}

HRESULT SetFormatEnumeration(IWMCodecInfo3* catalogue, REFGUID majorType, DWORD codecIndex, BOOL vbr,
                             DWORD passes) {
    if (!catalogue) return E_INVALIDARG;
    BYTE value[4];
    std::memcpy(value, &vbr, sizeof value);
    HRESULT hr = catalogue->SetCodecEnumerationSetting(majorType, codecIndex, g_wszVBREnabled, WMT_TYPE_BOOL, value,
                                                       sizeof value);
    // A codec without a VBR setting has constant-rate formats only.
    if (FAILED(hr) && !(vbr == FALSE && hr == NS_E_UNSUPPORTED_PROPERTY)) return hr;
    std::memcpy(value, &passes, sizeof value);
    return catalogue->SetCodecEnumerationSetting(majorType, codecIndex, g_wszNumPasses, WMT_TYPE_DWORD, value,
                                                 sizeof value);
}

HRESULT GetCodecFormatType(MediaTypeBlock** block, IWMCodecInfo3* catalogue, IWMStreamConfig** config,
                           REFGUID majorType, DWORD codecIndex, DWORD formatIndex) {
    if (!block) return E_INVALIDARG;
    *block = nullptr;
    IWMCodecInfo3* acquired = catalogue;
    HRESULT hr = AcquireCodecInfo(&acquired);
    if (FAILED(hr)) return hr;
    ComRef<IWMCodecInfo3> info(acquired);

    ComRef<IWMStreamConfig> format;
    hr = info->GetCodecFormat(majorType, codecIndex, formatIndex, format.Out());
    if (FAILED(hr)) return hr;
    ComRef<IWMMediaProps> props;
    hr = QueryInterfaceInto(format.Get(), IID_IWMMediaProps, props);
    if (FAILED(hr)) return hr;
    DWORD size = 0;
    hr = props->GetMediaType(nullptr, &size);
    if (FAILED(hr)) return hr;
    // Anything smaller could not even hold the header the caller will read.
    if (size < sizeof(WM_MEDIA_TYPE)) return E_UNEXPECTED;
    HeapBlock bytes;
    if (!bytes.Allocate(size)) return E_OUTOFMEMORY;
    hr = props->GetMediaType(bytes.As<WM_MEDIA_TYPE>(), &size);
    if (FAILED(hr)) return hr;

    if (config) *config = format.Detach();
    *block = static_cast<MediaTypeBlock*>(bytes.Detach());
    return S_OK;
}

HRESULT GetEnumeratedFormatType(MediaTypeBlock** block, IWMCodecInfo3* catalogue, IWMStreamConfig** config,
                                REFGUID majorType, DWORD codecIndex, DWORD formatIndex, BOOL vbr, DWORD passes) {
    if (!block) return E_INVALIDARG;
    *block = nullptr;
    // The settings belong to the catalogue object and select the list the index points into, so
    // both steps run on the same object.
    IWMCodecInfo3* acquired = catalogue;
    HRESULT hr = AcquireCodecInfo(&acquired);
    if (FAILED(hr)) return hr;
    ComRef<IWMCodecInfo3> info(acquired);
    hr = SetFormatEnumeration(info.Get(), majorType, codecIndex, vbr, passes);
    if (FAILED(hr)) return hr;
    return GetCodecFormatType(block, info.Get(), config, majorType, codecIndex, formatIndex);
}

HRESULT CopyMediaType(MediaTypeBlock** block, const WM_MEDIA_TYPE* source) {
    if (!block) return E_POINTER;
    *block = nullptr;
    if (!source) return E_POINTER;
    if (source->cbFormat && !source->pbFormat) return E_INVALIDARG;
    if (source->cbFormat > SIZE_MAX - sizeof(WM_MEDIA_TYPE)) return E_OUTOFMEMORY;
    HeapBlock bytes;
    if (!bytes.Allocate(sizeof(WM_MEDIA_TYPE) + source->cbFormat)) return E_OUTOFMEMORY;
    WM_MEDIA_TYPE* copy = bytes.As<WM_MEDIA_TYPE>();
    std::memcpy(copy, source, sizeof(WM_MEDIA_TYPE));
    copy->pbFormat = reinterpret_cast<BYTE*>(copy + 1);
    if (source->cbFormat) std::memcpy(copy->pbFormat, source->pbFormat, source->cbFormat);
    *block = static_cast<MediaTypeBlock*>(bytes.Detach());
    return S_OK;
}
