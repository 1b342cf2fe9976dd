// Stream configurations and input properties.
#include "objects.h"

namespace standin {
namespace wm {

class MediaObject final : public CountedObject,
                          public IWMStreamConfig3,
                          public IWMVideoMediaProps,
                          public IWMInputMediaProps,
                          public IWMPropertyVault {
public:
    MediaObject(MediaRole role, const StreamData& data)
        : CountedObject(role == MediaRole::StreamConfig ? "StreamConfig" : "InputProps"), role_(role), data_(data) {}

    const StreamData& Data() const { return data_; }
    void SetInput(DWORD input) { input_ = input; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        STANDIN_FAIL_POINT(role_ == MediaRole::StreamConfig ? "IWMStreamConfig::QueryInterface"
                                                            : "IWMInputMediaProps::QueryInterface");
        bool video = data_.IsVideo();
        bool config = role_ == MediaRole::StreamConfig ||
                      (role_ == MediaRole::InputProps && CurrentSwitches().inputPropsAnswerStreamConfig);
        if (iid == IID_IUnknown || iid == IID_IWMMediaProps)
            *ppv = static_cast<IWMMediaProps*>(static_cast<IWMVideoMediaProps*>(this));
        else if (iid == IID_IWMVideoMediaProps && video)
            *ppv = static_cast<IWMVideoMediaProps*>(this);
        else if (config && (iid == IID_IWMStreamConfig || iid == IID_IWMStreamConfig2 || iid == IID_IWMStreamConfig3))
            *ppv = static_cast<IWMStreamConfig3*>(this);
        else if (role_ == MediaRole::InputProps && iid == IID_IWMInputMediaProps)
            *ppv = static_cast<IWMInputMediaProps*>(this);
        else if (role_ == MediaRole::StreamConfig && iid == IID_IWMPropertyVault)
            *ppv = static_cast<IWMPropertyVault*>(this);
        else
            return E_NOINTERFACE;
        AddRefCounted();
        return S_OK;
    }
    STANDIN_COUNTED_IUNKNOWN

    // IWMStreamConfig
    HRESULT STDMETHODCALLTYPE GetStreamType(GUID* p) override {
        if (!p) return E_POINTER;
        *p = data_.type;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* p) override {
        if (!p) return E_POINTER;
        *p = data_.number;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD n) override {
        data_.number = n;  // checked when the profile is given to a writer
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* buf, WORD* pcch) override {
        return CopyOutString(data_.streamName, buf, pcch);
    }
    HRESULT STDMETHODCALLTYPE SetStreamName(const WCHAR* s) override {
        STANDIN_FAIL_POINT("IWMStreamConfig::SetStreamName");
        return SetName(s, &data_.streamName);
    }
    // Also IWMInputMediaProps::GetConnectionName: same signature, same answer.
    HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* buf, WORD* pcch) override {
        STANDIN_FAIL_POINT(role_ == MediaRole::StreamConfig ? "IWMStreamConfig::GetConnectionName"
                                                            : "IWMInputMediaProps::GetConnectionName");
        return CopyOutString(data_.connectionName, buf, pcch);
    }
    HRESULT STDMETHODCALLTYPE SetConnectionName(const WCHAR* s) override {
        STANDIN_FAIL_POINT("IWMStreamConfig::SetConnectionName");
        return SetName(s, &data_.connectionName);
    }
    HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* p) override {
        STANDIN_FAIL_POINT("IWMStreamConfig::GetBitrate");
        if (!p) return E_POINTER;
        *p = data_.bitrate;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBitrate(DWORD bps) override {
        STANDIN_FAIL_POINT("IWMStreamConfig::SetBitrate");
        data_.bitrate = bps;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* p) override {
        if (!p) return E_POINTER;
        *p = data_.bufferWindow;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD ms) override {
        STANDIN_FAIL_POINT("IWMStreamConfig::SetBufferWindow");
        data_.bufferWindow = ms;
        return S_OK;
    }

    // IWMStreamConfig2
    HRESULT STDMETHODCALLTYPE GetTransportType(WMT_TRANSPORT_TYPE* p) override {
        if (!p) return E_POINTER;
        *p = data_.transport;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTransportType(WMT_TRANSPORT_TYPE t) override {
        if (t != WMT_Transport_Type_Unreliable && t != WMT_Transport_Type_Reliable) return E_INVALIDARG;
        data_.transport = t;
        return S_OK;
    }
    // Data unit extensions are not modelled: none can be added, none are listed.
    HRESULT STDMETHODCALLTYPE AddDataUnitExtension(GUID, WORD, BYTE*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDataUnitExtensionCount(WORD* p) override {
        if (!p) return E_POINTER;
        *p = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataUnitExtension(WORD, GUID*, WORD*, BYTE*, DWORD*) override {
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE RemoveAllDataUnitExtensions() override { return S_OK; }

    // IWMStreamConfig3
    HRESULT STDMETHODCALLTYPE GetLanguage(WCHAR* buf, WORD* pcch) override {
        return CopyOutString(data_.language, buf, pcch);
    }
    HRESULT STDMETHODCALLTYPE SetLanguage(const WCHAR* tag) override {
        STANDIN_FAIL_POINT("IWMStreamConfig3::SetLanguage");
        if (!tag) return E_INVALIDARG;
        // An RFC 1766 tag: letters, digits and hyphens, at most 84 characters.
        WString t(tag);
        if (t.size() > 84) return E_INVALIDARG;
        for (WCHAR c : t) {
            bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
            if (!ok) return E_INVALIDARG;
        }
        data_.language = t;
        return S_OK;
    }

    // IWMMediaProps
    HRESULT STDMETHODCALLTYPE GetType(GUID* p) override {
        if (!p) return E_POINTER;
        *p = data_.type;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* p, DWORD* pcb) override {
        STANDIN_FAIL_POINT("IWMMediaProps::GetMediaType");
        return CopyOutMediaType(data_.media, p, pcb);
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* p) override {
        STANDIN_FAIL_POINT("IWMMediaProps::SetMediaType");
        if (role_ == MediaRole::InputProps) STANDIN_FAIL_POINT("IWMInputMediaProps::SetMediaType");
        if (p && p->majortype != data_.type) return E_INVALIDARG;
        return CopyInMediaType(p, &data_.media);
    }

    // IWMVideoMediaProps
    HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* p) override {
        if (!p) return E_POINTER;
        *p = data_.maxKeyFrameSpacing;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG t) override {
        STANDIN_FAIL_POINT("IWMVideoMediaProps::SetMaxKeyFrameSpacing");
        data_.maxKeyFrameSpacing = t;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetQuality(DWORD* p) override {
        if (!p) return E_POINTER;
        *p = data_.quality;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetQuality(DWORD q) override {
        STANDIN_FAIL_POINT("IWMVideoMediaProps::SetQuality");
        data_.quality = q;
        return S_OK;
    }

    // IWMInputMediaProps
    HRESULT STDMETHODCALLTYPE GetGroupName(WCHAR* buf, WORD* pcch) override {
        return CopyOutString(WString(), buf, pcch);
    }

    // IWMPropertyVault
    HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD* p) override {
        if (!p) return E_POINTER;
        *p = static_cast<DWORD>(data_.vault.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyByName(const WCHAR* name, WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                                                DWORD* pdwSize) override {
        if (!name) return E_INVALIDARG;
        for (const TypedValue& v : data_.vault)
            if (v.name == name) return CopyOutValue(v, pType, pValue, pdwSize);
        return ASF_E_NOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR* name, WMT_ATTR_DATATYPE type, BYTE* value,
                                          DWORD size) override {
        STANDIN_FAIL_POINT("IWMPropertyVault::SetProperty");
        if (!name || !*name) return E_INVALIDARG;
        auto it = data_.vault.begin();
        while (it != data_.vault.end() && it->name != name) ++it;
        if (!value || size == 0) {  // deletes
            if (it == data_.vault.end()) return E_INVALIDARG;
            data_.vault.erase(it);
            return S_OK;
        }
        if (!SizeFitsType(type, value, size)) return E_INVALIDARG;
        TypedValue v;
        v.name = name;
        v.type = type;
        v.bytes.assign(value, value + size);
        if (it == data_.vault.end())
            data_.vault.push_back(v);
        else
            *it = v;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyByIndex(DWORD index, WCHAR* name, DWORD* pcch, WMT_ATTR_DATATYPE* pType,
                                                 BYTE* pValue, DWORD* pdwSize) override {
        if (index >= data_.vault.size()) return E_INVALIDARG;
        const TypedValue& v = data_.vault[index];
        HRESULT hr = CopyOutString(v.name, name, pcch);
        if (FAILED(hr)) return hr;
        return CopyOutValue(v, pType, pValue, pdwSize);
    }
    HRESULT STDMETHODCALLTYPE CopyPropertiesFrom(IWMPropertyVault* other) override {
        const StreamData* d = other ? StreamDataOf(static_cast<IUnknown*>(other)) : nullptr;
        if (!d) return E_INVALIDARG;
        data_.vault = d->vault;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        data_.vault.clear();
        return S_OK;
    }

private:
    static HRESULT SetName(const WCHAR* s, WString* out) {
        if (!s) return E_INVALIDARG;
        WString v(s);
        if (v.size() > 256) return E_INVALIDARG;
        *out = v;
        return S_OK;
    }

    MediaRole role_;
    StreamData data_;
    DWORD input_ = 0;
};

MediaObject* NewMediaObject(MediaRole role, const StreamData& data) { return new MediaObject(role, data); }

const StreamData* StreamDataOf(IUnknown* object) {
    auto* m = dynamic_cast<MediaObject*>(object);
    return m ? &m->Data() : nullptr;
}
const StreamData* StreamDataOf(IWMStreamConfig* object) {
    auto* m = dynamic_cast<MediaObject*>(object);
    return m ? &m->Data() : nullptr;
}
const StreamData* StreamDataOf(IWMInputMediaProps* object) {
    auto* m = dynamic_cast<MediaObject*>(object);
    return m ? &m->Data() : nullptr;
}
IWMStreamConfig* AsStreamConfig(MediaObject* object) { return static_cast<IWMStreamConfig3*>(object); }
IWMInputMediaProps* AsInputProps(MediaObject* object) { return static_cast<IWMInputMediaProps*>(object); }
void SetInputNumber(MediaObject* object, DWORD input) { object->SetInput(input); }

uint32_t FormatListTag(const MediaType& media) {
    if (const VIDEOINFOHEADER* v = media.Video()) return v->dwBitErrorRate & 3;
    if (const WAVEFORMATEX* w = media.Wave()) {
        if (w->cbSize >= 1 && media.format.size() > sizeof(WAVEFORMATEX)) return media.format[sizeof(WAVEFORMATEX)] & 3;
    }
    return 0;
}

}  // namespace wm
}  // namespace standin
