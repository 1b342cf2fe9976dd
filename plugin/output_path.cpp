// The output file name and the aspect-ratio attributes of the file header.
#include "platform/holders.h"
#include "plugin/output_steps.h"

namespace {

uint64_t GreatestCommonDivisor(uint64_t a, uint64_t b) {
    while (b != 0) {
        uint64_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

HRESULT AddDwordAttribute(IWMHeaderInfo3* header, const WCHAR* name, DWORD value) {
    WORD index = 0;
    return header->AddAttribute(1, name, &index, WMT_TYPE_DWORD, 0, reinterpret_cast<const BYTE*>(&value),
                                sizeof(value));
}

}  // namespace

bool PathToWide(WCHAR* destination, int capacity, const char* source) {
    if (!destination || !source || capacity <= 0) return false;
    // The UTF-8 code page refuses MB_PRECOMPOSED; there the strict check alone is passed.
    DWORD flags = GetACP() == CP_UTF8 ? MB_ERR_INVALID_CHARS : MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;
    int units = MultiByteToWideChar(CP_ACP, flags, source, lstrlenA(source), destination, capacity);
    if (units <= 0) return false;
    if (units < capacity) destination[units] = 0;
    return true;
}

HRESULT SetOutputPath(IWMWriter* writer, const char* path) {
    if (!writer || !path) return E_INVALIDARG;
    WCHAR wide[kOutputPathUnits + 1];
    if (!PathToWide(wide, kOutputPathUnits, path)) return E_FAIL;
    wide[kOutputPathUnits] = 0;
    return writer->SetOutputFilename(wide);
}

HRESULT WriteAspectRatio(IWMWriter* writer, const HostJob* job, const EncoderSettings* settings) {
    if (!writer || !job || !settings) return E_INVALIDARG;
    if (!(job->ContentFlags & HasVideo) || settings->EnableResizeTo == 0) return S_FALSE;

    // The attributes hold the pixel shape: a W x H frame shown at X:Y has pixels of
    // (X * H) : (Y * W).
    uint64_t frameWidth = job->FrameWidth > 0 ? static_cast<uint64_t>(job->FrameWidth) : 0;
    uint64_t frameHeight = job->FrameHeight > 0 ? static_cast<uint64_t>(job->FrameHeight) : 0;
    uint64_t x = static_cast<uint64_t>(settings->ResizeToW) * frameHeight;
    uint64_t y = static_cast<uint64_t>(settings->ResizeToH) * frameWidth;
    if (x == 0 || y == 0) return S_FALSE;
    uint64_t d = GreatestCommonDivisor(x, y);
    x /= d;
    y /= d;
    if (x > 0xFFFFFFFFu || y > 0xFFFFFFFFu) return S_FALSE;

    ComRef<IWMHeaderInfo3> header;
    HRESULT hr = QueryInterfaceInto(writer, IID_IWMHeaderInfo3, header);
    if (hr != S_OK) return hr;
    hr = AddDwordAttribute(header.Get(), BREVLO_WIDE("AspectRatioX"), static_cast<DWORD>(x));
    if (hr != S_OK) return hr;
    return AddDwordAttribute(header.Get(), BREVLO_WIDE("AspectRatioY"), static_cast<DWORD>(y));
}
