// Profile manager with its codec catalogue, and profiles.
#include <map>
#include <string_view>

#include "../leaks.h"
#include "../utf8.h"
#include "objects.h"

namespace standin {
namespace wm {
namespace {

bool MajorType(REFGUID type, bool* video) {
    if (type == WMMEDIATYPE_Video) {
        *video = true;
        return true;
    }
    if (type == WMMEDIATYPE_Audio) {
        *video = false;
        return true;
    }
    return false;
}

// Codec-specific bytes after the WAVEFORMATEX: the list tag first, then packet details.
WORD AudioExtraBytes(uint32_t tag) { return tag == 0x0161 ? 10 : tag == 0x000A ? 10 : 18; }

StreamData FormatStream(const CatalogueCodec& codec, bool video, const CatalogueFormat& f, uint32_t listTag) {
    StreamData d;
    d.type = video ? WMMEDIATYPE_Video : WMMEDIATYPE_Audio;
    d.media.present = true;
    WM_MEDIA_TYPE& h = d.media.header;
    h.majortype = d.type;
    h.subtype = BaseSubtype(codec.fourcc);
    if (video) {
        h.bFixedSizeSamples = FALSE;
        h.bTemporalCompression = TRUE;
        h.lSampleSize = 0;
        h.formattype = WMFORMAT_VideoInfo;
        VIDEOINFOHEADER v{};
        v.dwBitRate = f.bitrate;
        v.dwBitErrorRate = listTag;
        v.AvgTimePerFrame = 333667;
        v.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        v.bmiHeader.biPlanes = 1;
        v.bmiHeader.biBitCount = 24;
        v.bmiHeader.biCompression = codec.fourcc;
        d.media.format.assign(reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + sizeof v);
        d.bitrate = f.bitrate;
    } else {
        WAVEFORMATEX w{};
        w.wFormatTag = static_cast<WORD>(codec.fourcc);
        w.nChannels = f.channels;
        w.nSamplesPerSec = f.sampleRate;
        // A quality-based VBR format names its quality there instead of a rate.
        w.nAvgBytesPerSec = f.vbrQuality ? 0x7FFFFF00u | f.vbrQuality : f.bitrate / 8;
        // A codec packet of a fraction of a second, even-sized.
        DWORD block = (f.bitrate / 8 * 3 / 8) & ~1u;
        w.nBlockAlign = static_cast<WORD>(block < 256 ? 256 : block > 0xFFFE ? 0xFFFE : block);
        w.wBitsPerSample = f.bitsPerSample;
        w.cbSize = AudioExtraBytes(codec.fourcc);
        d.media.format.resize(sizeof(WAVEFORMATEX) + w.cbSize);
        std::memcpy(d.media.format.data(), &w, sizeof w);
        d.media.format[sizeof w] = static_cast<BYTE>(listTag);
        d.media.format[sizeof w + 2] = static_cast<BYTE>(w.nBlockAlign & 0xFF);
        d.media.format[sizeof w + 3] = static_cast<BYTE>(w.nBlockAlign >> 8);
        h.bFixedSizeSamples = TRUE;
        h.bTemporalCompression = FALSE;
        h.lSampleSize = w.nBlockAlign;
        h.formattype = WMFORMAT_WaveFormatEx;
        d.bitrate = f.bitrate / 8 * 8;
    }
    h.cbFormat = static_cast<ULONG>(d.media.format.size());
    return d;
}

class Profile final : public CountedObject, public IWMProfile {
public:
    explicit Profile(WMT_VERSION version) : CountedObject("Profile"), version_(version) {}

    const std::vector<StreamData>& Streams() const { return streams_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        STANDIN_FAIL_POINT("IWMProfile::QueryInterface");
        if (iid != IID_IUnknown && iid != IID_IWMProfile) return E_NOINTERFACE;
        *ppv = static_cast<IWMProfile*>(this);
        AddRefCounted();
        return S_OK;
    }
    STANDIN_COUNTED_IUNKNOWN

    HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* p) override {
        if (!p) return E_POINTER;
        *p = version_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetName(WCHAR* buf, DWORD* pcch) override { return CopyOutString(name_, buf, pcch); }
    HRESULT STDMETHODCALLTYPE SetName(const WCHAR* s) override {
        if (!s) return E_INVALIDARG;
        name_ = s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDescription(WCHAR* buf, DWORD* pcch) override {
        return CopyOutString(description_, buf, pcch);
    }
    HRESULT STDMETHODCALLTYPE SetDescription(const WCHAR* s) override {
        if (!s) return E_INVALIDARG;
        description_ = s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* p) override {
        if (!p) return E_POINTER;
        *p = static_cast<DWORD>(streams_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStream(DWORD index, IWMStreamConfig** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        if (index >= streams_.size()) return E_INVALIDARG;
        *pp = AsStreamConfig(NewMediaObject(MediaRole::StreamConfig, streams_[index]));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD number, IWMStreamConfig** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        int i = Find(number);
        if (i < 0) return NS_E_INVALID_STREAM;
        *pp = AsStreamConfig(NewMediaObject(MediaRole::StreamConfig, streams_[i]));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig* cfg) override {
        const StreamData* d = cfg ? StreamDataOf(cfg) : nullptr;
        if (!d) return E_INVALIDARG;
        return RemoveStreamByNumber(d->number);
    }
    HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD number) override {
        int i = Find(number);
        if (i < 0) return NS_E_INVALID_STREAM;
        streams_.erase(streams_.begin() + i);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* cfg) override {
        STANDIN_FAIL_POINT("IWMProfile::AddStream");
        const StreamData* d = cfg ? StreamDataOf(cfg) : nullptr;
        if (!d) return E_INVALIDARG;
        if (d->number < 1 || d->number > 63) return NS_E_INVALID_STREAM;
        if (streams_.size() >= 63) return E_FAIL;
        streams_.push_back(*d);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig* cfg) override {
        const StreamData* d = cfg ? StreamDataOf(cfg) : nullptr;
        if (!d) return E_INVALIDARG;
        int i = Find(d->number);
        if (i < 0) return NS_E_INVALID_STREAM;
        streams_[i] = *d;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID type, IWMStreamConfig** pp) override {
        STANDIN_FAIL_POINT("IWMProfile::CreateNewStream");
        if (!pp) return E_INVALIDARG;
        *pp = nullptr;
        bool video;
        if (!MajorType(type, &video)) return E_INVALIDARG;
        StreamData d;
        d.type = type;
        d.number = nextNumber_ <= 63 ? nextNumber_++ : 63;
        *pp = AsStreamConfig(NewMediaObject(MediaRole::StreamConfig, d));
        return S_OK;
    }
    // Mutual exclusion is not modelled: profiles have none and cannot get any.
    HRESULT STDMETHODCALLTYPE GetMutualExclusionCount(DWORD* p) override {
        if (!p) return E_POINTER;
        *p = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMutualExclusion(DWORD, IWMMutualExclusion** pp) override {
        if (pp) *pp = nullptr;
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE RemoveMutualExclusion(IWMMutualExclusion*) override { return E_INVALIDARG; }
    HRESULT STDMETHODCALLTYPE AddMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateNewMutualExclusion(IWMMutualExclusion** pp) override {
        if (pp) *pp = nullptr;
        return E_NOTIMPL;
    }

private:
    int Find(WORD number) const {
        for (size_t i = 0; i < streams_.size(); ++i)
            if (streams_[i].number == number) return static_cast<int>(i);
        return -1;
    }

    WMT_VERSION version_;
    WString name_;
    WString description_;
    std::vector<StreamData> streams_;
    WORD nextNumber_ = 1;
};

// The profile manager, which is also the codec catalogue. Enumeration settings belong to this
// object: another manager starts again from CBR, one pass.
class ProfileManager final : public CountedObject, public IWMProfileManager, public IWMCodecInfo3 {
public:
    ProfileManager() : CountedObject("ProfileManager"), catalogue_(InstalledCatalogue()) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        STANDIN_FAIL_POINT("IWMProfileManager::QueryInterface");
        if (iid == IID_IUnknown || iid == IID_IWMProfileManager)
            *ppv = static_cast<IWMProfileManager*>(this);
        else if (iid == IID_IWMCodecInfo || iid == IID_IWMCodecInfo2 || iid == IID_IWMCodecInfo3)
            *ppv = static_cast<IWMCodecInfo3*>(this);
        else
            return E_NOINTERFACE;
        AddRefCounted();
        return S_OK;
    }
    STANDIN_COUNTED_IUNKNOWN

    // IWMProfileManager
    HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION version, IWMProfile** pp) override {
        STANDIN_FAIL_POINT("IWMProfileManager::CreateEmptyProfile");
        if (!pp) return E_INVALIDARG;
        *pp = nullptr;
        if (version != WMT_VER_4_0 && version != WMT_VER_7_0 && version != WMT_VER_8_0 && version != WMT_VER_9_0)
            return E_INVALIDARG;
        *pp = new Profile(version);
        return S_OK;
    }
    // No system profiles and no profile XML in this runtime.
    HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID, IWMProfile** pp) override { return NoProfile(pp); }
    HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR*, IWMProfile** pp) override { return NoProfile(pp); }
    HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile*, WCHAR*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD* p) override {
        if (!p) return E_POINTER;
        *p = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD, IWMProfile** pp) override { return NoProfile(pp); }

    // IWMCodecInfo
    HRESULT STDMETHODCALLTYPE GetCodecInfoCount(REFGUID type, DWORD* pc) override {
        STANDIN_FAIL_POINT("IWMCodecInfo::GetCodecInfoCount");
        if (!pc) return E_POINTER;
        bool video;
        if (!MajorType(type, &video)) return E_INVALIDARG;
        *pc = static_cast<DWORD>(Codecs(video).size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCodecFormatCount(REFGUID type, DWORD codec, DWORD* pc) override {
        STANDIN_FAIL_POINT("IWMCodecInfo::GetCodecFormatCount");
        if (!pc) return E_POINTER;
        const std::vector<CatalogueFormat>* list = List(type, codec);
        if (!list) return E_INVALIDARG;
        *pc = static_cast<DWORD>(list->size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCodecFormat(REFGUID type, DWORD codec, DWORD format, IWMStreamConfig** pp) override {
        STANDIN_FAIL_POINT("IWMCodecInfo::GetCodecFormat");
        if (!pp) return E_INVALIDARG;
        *pp = nullptr;
        return MakeFormat(type, codec, format, pp);
    }

    // IWMCodecInfo2
    HRESULT STDMETHODCALLTYPE GetCodecName(REFGUID type, DWORD codec, WCHAR* name, DWORD* pcch) override {
        STANDIN_FAIL_POINT("IWMCodecInfo2::GetCodecName");
        const CatalogueCodec* c = Codec(type, codec);
        if (!c || !pcch) return E_INVALIDARG;
        return CopyOutString(c->name, name, pcch);
    }
    HRESULT STDMETHODCALLTYPE GetCodecFormatDesc(REFGUID type, DWORD codec, DWORD format, IWMStreamConfig** pp,
                                                 WCHAR* desc, DWORD* pcch) override {
        STANDIN_FAIL_POINT("IWMCodecInfo2::GetCodecFormatDesc");
        if (pp) *pp = nullptr;
        const std::vector<CatalogueFormat>* list = List(type, codec);
        if (!list || format >= list->size() || !pcch) return E_INVALIDARG;
        HRESULT hr = CopyOutString((*list)[format].description, desc, pcch);
        if (FAILED(hr) || !pp) return hr;
        return MakeFormat(type, codec, format, pp);
    }

    // IWMCodecInfo3
    HRESULT STDMETHODCALLTYPE GetCodecFormatProp(REFGUID type, DWORD codec, DWORD format, const WCHAR* name,
                                                 WMT_ATTR_DATATYPE* pType, BYTE*, DWORD* pdwSize) override {
        const std::vector<CatalogueFormat>* list = List(type, codec);
        if (!list || format >= list->size() || !name || !pType || !pdwSize) return E_INVALIDARG;
        return NS_E_UNSUPPORTED_PROPERTY;  // no per-format properties in this catalogue
    }
    HRESULT STDMETHODCALLTYPE GetCodecProp(REFGUID type, DWORD codec, const WCHAR* name, WMT_ATTR_DATATYPE* pType,
                                           BYTE* pValue, DWORD* pdwSize) override {
        STANDIN_FAIL_POINT("IWMCodecInfo3::GetCodecProp");
        bool video = false;
        const CatalogueCodec* c = MajorType(type, &video) ? Codec(type, codec) : nullptr;
        if (!c || !name || !pType || !pdwSize) return E_INVALIDARG;
        TypedValue v;
        const std::basic_string_view<WCHAR> n(name);
        uint32_t dw = 0;
        if (n == g_wszIsVBRSupported) {
            v.type = WMT_TYPE_BOOL;
            dw = c->vbrSupported ? TRUE : FALSE;
        } else if (video && n == g_wszComplexityMax) {
            dw = c->complexityMax;
        } else if (video && n == g_wszComplexityOffline) {
            dw = c->complexityOffline;
        } else if (video && n == g_wszComplexityLive) {
            dw = c->complexityLive;
        } else {
            return E_INVALIDARG;
        }
        v.bytes.resize(4);
        std::memcpy(v.bytes.data(), &dw, 4);
        return CopyOutValue(v, pType, pValue, pdwSize);
    }
    HRESULT STDMETHODCALLTYPE SetCodecEnumerationSetting(REFGUID type, DWORD codec, const WCHAR* name,
                                                         WMT_ATTR_DATATYPE t, const BYTE* value, DWORD size) override {
        STANDIN_FAIL_POINT("IWMCodecInfo3::SetCodecEnumerationSetting");
        const CatalogueCodec* c = Codec(type, codec);
        if (!c || !name || !value) return E_INVALIDARG;
        const std::basic_string_view<WCHAR> n(name);
        Setting& s = settings_[Key(type, codec)];
        DWORD dw = 0;
        if (size == 4) std::memcpy(&dw, value, 4);
        if (n == g_wszVBREnabled) {
            if (t != WMT_TYPE_BOOL || size != 4) return E_INVALIDARG;
            if (c->rejectsVbrSetting) return NS_E_UNSUPPORTED_PROPERTY;
            s.vbr = dw != 0;
            return S_OK;
        }
        if (n == g_wszNumPasses) {
            if (t != WMT_TYPE_DWORD || size != 4 || dw < 1 || dw > 2) return E_INVALIDARG;
            if (dw == 2 && c->rejectsTwoPassSetting) return NS_E_UNSUPPORTED_PROPERTY;
            s.passes = dw;
            return S_OK;
        }
        return NS_E_UNSUPPORTED_PROPERTY;
    }
    HRESULT STDMETHODCALLTYPE GetCodecEnumerationSetting(REFGUID type, DWORD codec, const WCHAR* name,
                                                         WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                                                         DWORD* pdwSize) override {
        const CatalogueCodec* c = Codec(type, codec);
        if (!c || !name || !pType || !pdwSize) return E_INVALIDARG;
        Setting s = CurrentSetting(type, codec);
        TypedValue v;
        const std::basic_string_view<WCHAR> n(name);
        uint32_t dw;
        if (n == g_wszVBREnabled) {
            v.type = WMT_TYPE_BOOL;
            dw = s.vbr ? TRUE : FALSE;
        } else if (n == g_wszNumPasses) {
            dw = s.passes;
        } else {
            return NS_E_UNSUPPORTED_PROPERTY;
        }
        v.bytes.resize(4);
        std::memcpy(v.bytes.data(), &dw, 4);
        return CopyOutValue(v, pType, pValue, pdwSize);
    }

private:
    struct Setting {
        bool vbr = false;
        DWORD passes = 1;
    };

    static HRESULT NoProfile(IWMProfile** pp) {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        return E_NOTIMPL;
    }
    static std::pair<bool, DWORD> Key(REFGUID type, DWORD codec) { return {type == WMMEDIATYPE_Video, codec}; }

    const std::vector<CatalogueCodec>& Codecs(bool video) const { return video ? catalogue_->video : catalogue_->audio; }
    const CatalogueCodec* Codec(REFGUID type, DWORD codec) const {
        bool video;
        if (!MajorType(type, &video)) return nullptr;
        const auto& codecs = Codecs(video);
        return codec < codecs.size() ? &codecs[codec] : nullptr;
    }
    Setting CurrentSetting(REFGUID type, DWORD codec) const {
        auto it = settings_.find(Key(type, codec));
        return it == settings_.end() ? Setting() : it->second;
    }
    const std::vector<CatalogueFormat>* List(REFGUID type, DWORD codec) const {
        const CatalogueCodec* c = Codec(type, codec);
        if (!c) return nullptr;
        Setting s = CurrentSetting(type, codec);
        return &c->lists[s.vbr ? 1 : 0][s.passes - 1];
    }
    HRESULT MakeFormat(REFGUID type, DWORD codec, DWORD format, IWMStreamConfig** pp) const {
        const std::vector<CatalogueFormat>* list = List(type, codec);
        if (!list) return E_INVALIDARG;
        if (format >= list->size()) {
            standin::NoteFailure("the media runtime has no format " + std::to_string(format) + " of the codec \"" +
                                 standin::Utf8FromUtf16(Codec(type, codec)->name) + "\": its list holds " +
                                 std::to_string(list->size()) + " for the VBR and pass setting asked for");
            return E_INVALIDARG;
        }
        Setting s = CurrentSetting(type, codec);
        uint32_t tag = (s.vbr ? uint32_t(kListVbr) : 0u) | (s.passes == 2 ? uint32_t(kListTwoPass) : 0u);
        StreamData d = FormatStream(*Codec(type, codec), type == WMMEDIATYPE_Video, (*list)[format], tag);
        *pp = AsStreamConfig(NewMediaObject(MediaRole::StreamConfig, d));
        return S_OK;
    }

    std::shared_ptr<const Catalogue> catalogue_;
    std::map<std::pair<bool, DWORD>, Setting> settings_;
};

}  // namespace

bool ProfileStreams(IWMProfile* profile, std::vector<StreamData>* streams) {
    auto* p = dynamic_cast<Profile*>(profile);
    if (!p) return false;
    *streams = p->Streams();
    return true;
}

}  // namespace wm
}  // namespace standin

extern "C" HRESULT WINAPI WMCreateProfileManager(IWMProfileManager** pp) {
    STANDIN_FAIL_POINT("WMCreateProfileManager");
    if (!pp) return E_POINTER;
    *pp = new standin::wm::ProfileManager();
    return S_OK;
}
