// The audio stream: a catalogue format used as it is, with its own bit rate, the buffer window,
// the VBR switch and the stream language.
#include "platform/holders.h"
#include "profile/profile_builder.h"

HRESULT BuildAudioStream(IWMStreamConfig** stream, IWMProfile* profile, DWORD bufferWindow,
                         int32_t codec, int32_t format, int32_t vbr, int32_t passes, LCID language) {
    if (!stream) return E_POINTER;
    if (!profile) return E_INVALIDARG;

    ComRef<IWMStreamConfig> config;
    HRESULT hr = profile->CreateNewStream(WMMEDIATYPE_Audio, config.Out());
    if (FAILED(hr)) return hr;

    MediaTypeBlock* type = nullptr;
    ComRef<IWMStreamConfig> formatConfig;
    hr = GetEnumeratedFormatType(&type, nullptr, formatConfig.Out(), WMMEDIATYPE_Audio, static_cast<DWORD>(codec),
                                 static_cast<DWORD>(format), static_cast<BOOL>(vbr), static_cast<DWORD>(passes));
    if (FAILED(hr)) return hr;
    HeapBlock typeBlock(type);

    DWORD bitrate = 0;
    hr = formatConfig->GetBitrate(&bitrate);
    if (FAILED(hr)) return hr;
    hr = config->SetBitrate(bitrate);
    if (FAILED(hr)) return hr;
    hr = config->SetBufferWindow(bufferWindow);
    if (FAILED(hr)) return hr;

    ComRef<IWMMediaProps> props;
    hr = QueryInterfaceInto(config.Get(), IID_IWMMediaProps, props);
    if (FAILED(hr)) return hr;
    hr = props->SetMediaType(type);
    if (FAILED(hr)) return hr;

    ComRef<IWMPropertyVault> vault;
    if (SUCCEEDED(QueryInterfaceInto(config.Get(), IID_IWMPropertyVault, vault))) {
        // A codec that ignores the switch still encodes the format it was given.
        DWORD value = static_cast<DWORD>(vbr);
        vault->SetProperty(BREVLO_WIDE("_VBRENABLED"), WMT_TYPE_BOOL, reinterpret_cast<BYTE*>(&value), sizeof(value));
        vault.Reset();
    }

    hr = SetStreamLanguage(config.Get(), language);
    if (FAILED(hr)) return hr;
    *stream = config.Detach();
    return hr;
}
