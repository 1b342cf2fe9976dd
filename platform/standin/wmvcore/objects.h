// The stand-in runtime's configuration objects, shared by the profile side and the writer.
#pragma once

#include "core.h"

namespace standin {
namespace wm {

// Everything a stream configuration holds. The profile keeps copies of these.
struct StreamData {
    GUID type{};
    WORD number = 0;
    WString streamName;
    WString connectionName;
    WString language;
    DWORD bitrate = 0;
    DWORD bufferWindow = 3000;
    WMT_TRANSPORT_TYPE transport = WMT_Transport_Type_Unreliable;
    MediaType media;
    LONGLONG maxKeyFrameSpacing = 0;
    DWORD quality = 0;
    std::vector<TypedValue> vault;

    bool IsVideo() const { return type == WMMEDIATYPE_Video; }
};

// The list a codec format was enumerated from travels inside its format block, as a real codec's
// encoder options do: for audio in the codec-specific bytes after the WAVEFORMATEX, for video in
// dwBitErrorRate (0 for the plain one-pass CBR list). Bit 0 = VBR, bit 1 = two passes.
enum : uint32_t { kListVbr = 1, kListTwoPass = 2 };
uint32_t FormatListTag(const MediaType& media);

class MediaObject;

enum class MediaRole { StreamConfig, InputProps };

// One COM object for stream configurations and input properties: the two share most methods
// (media type, connection name), and the role decides which interfaces QueryInterface answers.
MediaObject* NewMediaObject(MediaRole role, const StreamData& data);
// The data of one of our objects, or nullptr for a foreign pointer.
const StreamData* StreamDataOf(IUnknown* object);
const StreamData* StreamDataOf(IWMStreamConfig* object);
const StreamData* StreamDataOf(IWMInputMediaProps* object);
IWMStreamConfig* AsStreamConfig(MediaObject* object);
IWMInputMediaProps* AsInputProps(MediaObject* object);

// A profile's streams (a copy), or nullptr for a foreign profile.
bool ProfileStreams(IWMProfile* profile, std::vector<StreamData>* streams);

// The input an input-props object describes (set by the writer).
void SetInputNumber(MediaObject* object, DWORD input);

}  // namespace wm
}  // namespace standin
