// The encoding profile: one video stream and one audio stream built from the settings, with the
// connection names by which the Output run later finds the writer's inputs again.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "platform/wm/wm.h"
#include "plugin/host_job.h"
#include "profile/codec_catalogue.h"
#include "settings/encoder_settings.h"

// Connection names of the two streams; the writer numbers its inputs by them.
inline constexpr WCHAR kVideoConnectionName[] = BREVLO_WIDE("TamselVideo1");
inline constexpr WCHAR kAudioConnectionName[] = BREVLO_WIDE("TamselAudio1");

// Builds the two-stream profile for a job. On success *profile holds one reference the caller
// releases and, when `used` is given, it receives the settings the profile was built from.
HRESULT BuildProfile(const HostJob* job, EncoderSettings* used, IWMProfile** profile);

// Builds, names and adds the video stream, then the audio stream.
HRESULT AddProfileStreams(IWMProfile* profile, const EncoderSettings& settings);

// A configured video stream, not yet added to the profile; the caller owns one reference.
HRESULT BuildVideoStream(IWMStreamConfig** stream, IWMProfile* profile, const EncoderSettings& settings);

// Format 0 of the video codec under the given list, resized and given the bit rate, in a new
// block the caller frees.
HRESULT BuildVideoFormat(MediaTypeBlock** format, DWORD codecIndex, int32_t width, int32_t height,
                         DWORD bitrate, BOOL vbr, DWORD passes);

// The decoder complexity profile for "_DECODERCOMPLEXITYPROFILE", or null for none.
const WCHAR* DecoderProfileString(int32_t mode, int32_t complexity, uint32_t level);

// Gives the stream the RFC 1766 tag of a locale.
HRESULT SetStreamLanguage(IWMStreamConfig* stream, LCID language);

// A configured audio stream with the catalogue format's own bit rate, not yet added to the
// profile; the caller owns one reference.
HRESULT BuildAudioStream(IWMStreamConfig** stream, IWMProfile* profile, DWORD bufferWindow,
                         int32_t codec, int32_t format, int32_t vbr, int32_t passes, LCID language);
