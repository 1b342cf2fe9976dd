// Windows Media Format runtime: data types, enumerations, GUIDs, result codes and property names.
// Declared here rather than taken from wmsdkidl.h, which lacks several of them; values and layouts
// are those of the Windows SDK.
#pragma once

#include <cstddef>

#include "../win32.h"

// ---- Basic Win32 records the media types embed -------------------------------------------------
// On Windows <windows.h> has RECT and BITMAPINFOHEADER; WAVEFORMATEX lives in mmreg.h.
#if defined(_WIN32)
#include <mmreg.h>
typedef ULONGLONG QWORD;  // declared by the media headers, not by <windows.h>
#else
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

#define BI_RGB 0L
#define BI_BITFIELDS 3L
#define WAVE_FORMAT_PCM 1
#endif

// ---- Media types --------------------------------------------------------------------------------
struct WM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    LONGLONG AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
// The SDK knows the same record under both names.
typedef VIDEOINFOHEADER WMVIDEOINFOHEADER;

// ---- Enumerations -------------------------------------------------------------------------------
enum WMT_ATTR_DATATYPE {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6,
};

enum WMT_VERSION {
    WMT_VER_4_0 = 0x00040000,
    WMT_VER_7_0 = 0x00070000,
    WMT_VER_8_0 = 0x00080000,
    WMT_VER_9_0 = 0x00090000,
};

enum WMT_TRANSPORT_TYPE {
    WMT_Transport_Type_Unreliable = 0,
    WMT_Transport_Type_Reliable = 1,
};

enum WMT_CODEC_INFO_TYPE {
    WMT_CODECINFO_AUDIO = 0,
    WMT_CODECINFO_VIDEO = 1,
    WMT_CODECINFO_UNKNOWN = (int)0xFFFFFFFF,
};

// What a status callback is told. Only the values the system tells apart are named.
enum WMT_STATUS {
    WMT_ERROR = 0,
    WMT_OPENED = 1,
    WMT_STARTED = 11,
    WMT_STOPPED = 12,
    WMT_CLOSED = 13,
};

// Sample flags of WriteSample / PreprocessSample.
#define WM_SF_CLEANPOINT 0x1
#define WM_SF_DISCONTINUITY 0x2
#define WM_SF_DATALOSS 0x4

// ---- Result codes -------------------------------------------------------------------------------
#define BREVLO_WM_CODE(v) ((HRESULT)(v))
#ifndef ASF_E_BUFFERTOOSMALL
#define ASF_E_BUFFERTOOSMALL BREVLO_WM_CODE(0xC00D07D1L)
#endif
#ifndef ASF_E_BADLANGUAGEID
#define ASF_E_BADLANGUAGEID BREVLO_WM_CODE(0xC00D07D2L)
#endif
#ifndef ASF_E_NOTFOUND
#define ASF_E_NOTFOUND BREVLO_WM_CODE(0xC00D07F0L)
#endif
#ifndef ASF_E_INVALIDSTATE
#define ASF_E_INVALIDSTATE BREVLO_WM_CODE(0xC00D07F5L)
#endif
#ifndef ASF_E_STREAMNUMBERINUSE
#define ASF_E_STREAMNUMBERINUSE BREVLO_WM_CODE(0xC00D0806L)
#endif
#ifndef ASF_E_BADMEDIATYPE
#define ASF_E_BADMEDIATYPE BREVLO_WM_CODE(0xC00D0807L)
#endif
#ifndef NS_E_FILE_WRITE
#define NS_E_FILE_WRITE BREVLO_WM_CODE(0xC00D0018L)
#endif
#ifndef NS_E_INVALID_REQUEST
#define NS_E_INVALID_REQUEST BREVLO_WM_CODE(0xC00D002BL)
#endif
#ifndef NS_E_LATE_OPERATION
#define NS_E_LATE_OPERATION BREVLO_WM_CODE(0xC00D002EL)
#endif
#ifndef NS_E_INVALID_DATA
#define NS_E_INVALID_DATA BREVLO_WM_CODE(0xC00D002FL)
#endif
#ifndef NS_E_INVALID_STREAM
#define NS_E_INVALID_STREAM BREVLO_WM_CODE(0xC00D003CL)
#endif
#ifndef NS_E_INVALID_INPUT_FORMAT
#define NS_E_INVALID_INPUT_FORMAT BREVLO_WM_CODE(0xC00D0BB8L)
#endif
#ifndef NS_E_INVALID_OUTPUT_FORMAT
#define NS_E_INVALID_OUTPUT_FORMAT BREVLO_WM_CODE(0xC00D0BBBL)
#endif
#ifndef NS_E_NOT_CONFIGURED
#define NS_E_NOT_CONFIGURED BREVLO_WM_CODE(0xC00D0BBCL)
#endif
#ifndef NS_E_AUDIO_CODEC_NOT_INSTALLED
#define NS_E_AUDIO_CODEC_NOT_INSTALLED BREVLO_WM_CODE(0xC00D0BC2L)
#endif
#ifndef NS_E_AUDIO_CODEC_ERROR
#define NS_E_AUDIO_CODEC_ERROR BREVLO_WM_CODE(0xC00D0BC3L)
#endif
#ifndef NS_E_VIDEO_CODEC_NOT_INSTALLED
#define NS_E_VIDEO_CODEC_NOT_INSTALLED BREVLO_WM_CODE(0xC00D0BC4L)
#endif
#ifndef NS_E_VIDEO_CODEC_ERROR
#define NS_E_VIDEO_CODEC_ERROR BREVLO_WM_CODE(0xC00D0BC5L)
#endif
#ifndef NS_E_INVALIDPROFILE
#define NS_E_INVALIDPROFILE BREVLO_WM_CODE(0xC00D0BC6L)
#endif
#ifndef NS_E_TOO_MUCH_DATA
#define NS_E_TOO_MUCH_DATA BREVLO_WM_CODE(0xC00D0BCCL)
#endif
#ifndef NS_E_UNSUPPORTED_PROPERTY
#define NS_E_UNSUPPORTED_PROPERTY BREVLO_WM_CODE(0xC00D0BCDL)
#endif
#ifndef NS_E_SDK_BUFFERTOOSMALL
#define NS_E_SDK_BUFFERTOOSMALL BREVLO_WM_CODE(0xC00D0BD4L)
#endif
#ifndef NS_E_INVALID_NUM_PASSES
#define NS_E_INVALID_NUM_PASSES BREVLO_WM_CODE(0xC00D0BD5L)
#endif
#ifndef NS_E_DRM_RIV_TOO_SMALL
#define NS_E_DRM_RIV_TOO_SMALL BREVLO_WM_CODE(0xC00D28B7L)
#endif

// ---- GUIDs --------------------------------------------------------------------------------------
// Media subtypes built on the base {xxxxxxxx-0000-0010-8000-00AA00389B71}, Data1 = FOURCC or tag.
#define BREVLO_WM_BASE_GUID(d1) {d1, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}

inline constexpr GUID WMMEDIATYPE_Video = BREVLO_WM_BASE_GUID(0x73646976);
inline constexpr GUID WMMEDIATYPE_Audio = BREVLO_WM_BASE_GUID(0x73647561);

inline constexpr GUID WMMEDIASUBTYPE_RGB24 = {0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID WMMEDIASUBTYPE_PCM = BREVLO_WM_BASE_GUID(0x00000001);
inline constexpr GUID WMMEDIASUBTYPE_WMV1 = BREVLO_WM_BASE_GUID(0x31564D57);
inline constexpr GUID WMMEDIASUBTYPE_WMV2 = BREVLO_WM_BASE_GUID(0x32564D57);
inline constexpr GUID WMMEDIASUBTYPE_WMV3 = BREVLO_WM_BASE_GUID(0x33564D57);
inline constexpr GUID WMMEDIASUBTYPE_MSS2 = BREVLO_WM_BASE_GUID(0x3253534D);
inline constexpr GUID WMMEDIASUBTYPE_WMVA = BREVLO_WM_BASE_GUID(0x41564D57);
inline constexpr GUID WMMEDIASUBTYPE_WVC1 = BREVLO_WM_BASE_GUID(0x31435657);
inline constexpr GUID WMMEDIASUBTYPE_WMVP = BREVLO_WM_BASE_GUID(0x50564D57);
inline constexpr GUID WMMEDIASUBTYPE_WVP2 = BREVLO_WM_BASE_GUID(0x32505657);
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV9 = BREVLO_WM_BASE_GUID(0x00000162);
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV8 = BREVLO_WM_BASE_GUID(0x00000161);
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV7 = BREVLO_WM_BASE_GUID(0x00000161);
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV2 = BREVLO_WM_BASE_GUID(0x00000161);
inline constexpr GUID WMMEDIASUBTYPE_WMAudio_Lossless = BREVLO_WM_BASE_GUID(0x00000163);
inline constexpr GUID WMMEDIASUBTYPE_WMSP1 = BREVLO_WM_BASE_GUID(0x0000000A);
inline constexpr GUID WMMEDIASUBTYPE_WMSP2 = BREVLO_WM_BASE_GUID(0x0000000B);
inline constexpr GUID WMMEDIASUBTYPE_ACELPnet = BREVLO_WM_BASE_GUID(0x00000130);
inline constexpr GUID WMMEDIASUBTYPE_MP3 = BREVLO_WM_BASE_GUID(0x00000055);

inline constexpr GUID WMFORMAT_VideoInfo = {0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID WMFORMAT_WaveFormatEx = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

// Interface identifiers. The 96406Bxx family shares its tail.
#define BREVLO_WM_96406B_IID(d1) {d1, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}}

inline constexpr IID IID_IWMProfileManager = {0xD16679F2, 0x6CA0, 0x472D, {0x8D, 0x31, 0x2F, 0x5D, 0x55, 0xAE, 0xE1, 0x55}};
inline constexpr IID IID_IWMCodecInfo = {0xA970F41E, 0x34DE, 0x4A98, {0xB3, 0xBA, 0xE4, 0xB3, 0xCA, 0x75, 0x28, 0xF0}};
inline constexpr IID IID_IWMCodecInfo2 = {0xAA65E273, 0xB686, 0x4056, {0x91, 0xEC, 0xDD, 0x76, 0x8D, 0x4D, 0xF7, 0x10}};
inline constexpr IID IID_IWMCodecInfo3 = {0x7E51F487, 0x4D93, 0x4F98, {0x8A, 0xB4, 0x27, 0xD0, 0x56, 0x5A, 0xDC, 0x51}};
inline constexpr IID IID_IWMProfile = BREVLO_WM_96406B_IID(0x96406BDB);
inline constexpr IID IID_IWMStreamConfig = BREVLO_WM_96406B_IID(0x96406BDC);
inline constexpr IID IID_IWMStreamConfig2 = {0x7688D8CB, 0xFC0D, 0x43BD, {0x94, 0x59, 0x5A, 0x8D, 0xEC, 0x20, 0x0C, 0xFA}};
inline constexpr IID IID_IWMStreamConfig3 = {0xCB164104, 0x3AA9, 0x45A7, {0x9A, 0xC9, 0x4D, 0xAE, 0xE1, 0x31, 0xD6, 0xE1}};
inline constexpr IID IID_IWMMediaProps = BREVLO_WM_96406B_IID(0x96406BCE);
inline constexpr IID IID_IWMVideoMediaProps = BREVLO_WM_96406B_IID(0x96406BCF);
inline constexpr IID IID_IWMInputMediaProps = BREVLO_WM_96406B_IID(0x96406BD5);
inline constexpr IID IID_IWMPropertyVault = {0x72995A79, 0x5090, 0x42A4, {0x9C, 0x8C, 0xD9, 0xD0, 0xB6, 0xD3, 0x4B, 0xE5}};
inline constexpr IID IID_IWMWriter = BREVLO_WM_96406B_IID(0x96406BD4);
inline constexpr IID IID_IWMWriterPreprocess = {0xFC54A285, 0x38C4, 0x45B5, {0xAA, 0x23, 0x85, 0xB9, 0xF7, 0xCB, 0x42, 0x4B}};
inline constexpr IID IID_IWMHeaderInfo = BREVLO_WM_96406B_IID(0x96406BDA);
inline constexpr IID IID_IWMHeaderInfo2 = {0x15CF9781, 0x454E, 0x482E, {0xB3, 0x93, 0x85, 0xFA, 0xE4, 0x87, 0xA8, 0x10}};
inline constexpr IID IID_IWMHeaderInfo3 = {0x15CC68E3, 0x27CC, 0x4ECD, {0xB2, 0x22, 0x3F, 0x5D, 0x02, 0xD8, 0x0B, 0xD5}};
inline constexpr IID IID_IWMWriterAdvanced = BREVLO_WM_96406B_IID(0x96406BE3);
inline constexpr IID IID_IWMWriterSink = BREVLO_WM_96406B_IID(0x96406BE4);
inline constexpr IID IID_IWMRegisterCallback = {0xCF4B1F99, 0x4DE2, 0x4E49, {0xA3, 0x63, 0x25, 0x27, 0x40, 0xD9, 0x9B, 0xC1}};
inline constexpr IID IID_IWMStatusCallback = {0x6D7CDC70, 0x9888, 0x11D3, {0x8E, 0xDC, 0x00, 0xC0, 0x4F, 0x61, 0x09, 0xCF}};
inline constexpr IID IID_INSSBuffer = {0xE1CD3524, 0x03D7, 0x11D2, {0x9E, 0xED, 0x00, 0x60, 0x97, 0xD2, 0xD7, 0xCF}};

// ---- Property, setting and attribute names -------------------------------------------------------
inline constexpr WCHAR g_wszVBREnabled[] = BREVLO_WIDE("_VBRENABLED");
inline constexpr WCHAR g_wszNumPasses[] = BREVLO_WIDE("_PASSESUSED");
inline constexpr WCHAR g_wszVBRQuality[] = BREVLO_WIDE("_VBRQUALITY");
inline constexpr WCHAR g_wszVBRBitrateMax[] = BREVLO_WIDE("_RMAX");
inline constexpr WCHAR g_wszVBRBufferWindowMax[] = BREVLO_WIDE("_BMAX");
inline constexpr WCHAR g_wszComplexity[] = BREVLO_WIDE("_COMPLEXITYEX");
inline constexpr WCHAR g_wszComplexityMax[] = BREVLO_WIDE("_COMPLEXITYEXMAX");
inline constexpr WCHAR g_wszComplexityOffline[] = BREVLO_WIDE("_COMPLEXITYEXOFFLINE");
inline constexpr WCHAR g_wszComplexityLive[] = BREVLO_WIDE("_COMPLEXITYEXLIVE");
inline constexpr WCHAR g_wszIsVBRSupported[] = BREVLO_WIDE("_ISVBRSUPPORTED");
inline constexpr WCHAR g_wszDecoderComplexityRequested[] = BREVLO_WIDE("_DECODERCOMPLEXITYPROFILE");
inline constexpr WCHAR g_wszVBRPeak[] = BREVLO_WIDE("VBR Peak");
inline constexpr WCHAR g_wszBufferAverage[] = BREVLO_WIDE("Buffer Average");
inline constexpr WCHAR g_wszWMAspectRatioX[] = BREVLO_WIDE("AspectRatioX");
inline constexpr WCHAR g_wszWMAspectRatioY[] = BREVLO_WIDE("AspectRatioY");
inline constexpr WCHAR g_wszWMLanguage[] = BREVLO_WIDE("WM/Language");
inline constexpr WCHAR g_wszDeviceConformanceTemplate[] = BREVLO_WIDE("DeviceConformanceTemplate");

// ---- Layouts ------------------------------------------------------------------------------------
static_assert(sizeof(GUID) == 16, "GUID layout");
static_assert(sizeof(RECT) == 16, "RECT layout");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is packed");
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8 && offsetof(WAVEFORMATEX, cbSize) == 16,
              "WAVEFORMATEX layout");
static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER layout");
static_assert(offsetof(VIDEOINFOHEADER, dwBitRate) == 32 && offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40 &&
                  offsetof(VIDEOINFOHEADER, bmiHeader) == 48,
              "VIDEOINFOHEADER layout");
static_assert(sizeof(WMT_ATTR_DATATYPE) == 4 && sizeof(WMT_VERSION) == 4 && sizeof(WMT_CODEC_INFO_TYPE) == 4 &&
                  sizeof(WMT_TRANSPORT_TYPE) == 4 && sizeof(WMT_STATUS) == 4,
              "enumerations are 32-bit");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(WM_MEDIA_TYPE) == 72, "WM_MEDIA_TYPE layout");
static_assert(offsetof(WM_MEDIA_TYPE, bFixedSizeSamples) == 32 && offsetof(WM_MEDIA_TYPE, lSampleSize) == 40 &&
                  offsetof(WM_MEDIA_TYPE, formattype) == 44 && offsetof(WM_MEDIA_TYPE, pUnk) == 60 &&
                  offsetof(WM_MEDIA_TYPE, cbFormat) == 64 && offsetof(WM_MEDIA_TYPE, pbFormat) == 68,
              "WM_MEDIA_TYPE layout");
#endif
