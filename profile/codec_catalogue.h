// Queries over the media runtime's codec catalogue: finding codecs by name, their default encoder
// complexity, the enumeration settings that select a codec's format list, and copies of format
// media types. Every function returns a result code and releases what it acquired on every path.
#pragma once

#include "platform/win32.h"
#include "platform/wm/wm.h"

// A WM_MEDIA_TYPE followed by its cbFormat format bytes in one process-heap block, pbFormat
// pointing just past the header. Freed with one HeapFree by whoever asked for it (a HeapBlock);
// the header's pUnk is copied as it came and is not owned by the block.
typedef WM_MEDIA_TYPE MediaTypeBlock;

// A codec index meaning "no such codec".
constexpr DWORD kNoCodec = 0xFFFFFFFFu;

inline constexpr WCHAR kVideoCodecName[] = BREVLO_WIDE("Windows Media Video 9");
inline constexpr WCHAR kDefaultAudioCodecName[] = BREVLO_WIDE("Windows Media Audio 9 Professional");

// Puts a catalogue reference into `*holder`, which the caller releases once. A catalogue already
// in the holder gets one more reference (so it keeps its count across the caller's release);
// an empty holder gets a new catalogue from a new profile manager.
HRESULT AcquireCodecInfo(IWMCodecInfo3** holder);

// Index of the first codec of the major type whose name equals `name` exactly. E_FAIL and
// kNoCodec when there is none or a name cannot be read; names of 127 characters or more never match.
HRESULT FindCodecIndex(REFGUID majorType, const WCHAR* name, DWORD* index);

// The video codec "Windows Media Video 9".
HRESULT FindVideoCodecIndex(DWORD* index);

// The audio codec "Windows Media Audio 9 Professional" and its format 0. Runtimes after version 9
// name that codec differently ("Windows Media Audio 9.1 Professional" ...), so when the exact name
// is absent the first "Windows Media Audio 9..." codec ending in "Professional" is taken, else the
// first "Windows Media Audio 9..." codec at all. Both outputs are required.
HRESULT FindDefaultAudioCodec(DWORD* codecIndex, DWORD* formatIndex);

// The codec's "_COMPLEXITYEXOFFLINE" value as it came; `value` is left alone on failure.
HRESULT GetDefaultPerformance(REFGUID majorType, DWORD codecIndex, DWORD* value);

// Puts "_VBRENABLED" and "_PASSESUSED" in force on the catalogue for that codec. A codec that
// knows no VBR setting is accepted for constant bit rate only.
HRESULT SetFormatEnumeration(IWMCodecInfo3* catalogue, REFGUID majorType, DWORD codecIndex, BOOL vbr,
                             DWORD passes);

// The media type of one format of the codec's current list, as a MediaTypeBlock in `*block`
// (cleared first, null on failure). `catalogue` may be null (a new one is used); `config`, when
// given, receives the format's stream configuration.
HRESULT GetCodecFormatType(MediaTypeBlock** block, IWMCodecInfo3* catalogue, IWMStreamConfig** config,
                           REFGUID majorType, DWORD codecIndex, DWORD formatIndex);

// As GetCodecFormatType, from the list that the VBR flag and pass count select, set and read on
// the same catalogue object.
HRESULT GetEnumeratedFormatType(MediaTypeBlock** block, IWMCodecInfo3* catalogue, IWMStreamConfig** config,
                                REFGUID majorType, DWORD codecIndex, DWORD formatIndex, BOOL vbr, DWORD passes);

// A self-contained copy of `source` and its format bytes; the source stays the caller's.
HRESULT CopyMediaType(MediaTypeBlock** block, const WM_MEDIA_TYPE* source);
