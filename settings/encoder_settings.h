// The encoder settings record: every user choice for the two encoders, in the byte layout the
// editor keeps as the plug-in's configuration blob. The layout must never move.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "plugin/host_job.h"

// Little-endian, 104 bytes, no pointers: the same in every build.
struct EncoderSettings {
    int32_t VideoCodecIndex;  // looked up again at every load, never stored
    int32_t CompressionMode;  // 0 1-pass CBR, 1 2-pass CBR, 2 quality VBR, 3/4 2-pass VBR (unconstrained/constrained)
    uint32_t Bitrate;         // bits per second
    uint32_t BufferWindow;    // milliseconds
    int32_t Width;            // from the job
    int32_t Height;           // from the job
    double FrameRate;         // job rate / scale
    int32_t EnableResizeTo;   // 1: the aspect terms below are the user's
    uint32_t ResizeToW;
    uint32_t ResizeToH;
    int32_t Quality;             // 0..100
    uint32_t KeyFrameInterval;   // milliseconds
    int32_t DecoderComplexity;   // 0 Simple, 1 Main, 2 Complex
    uint32_t DecoderLevel;       // index of the level entry picked in the dialog
    int32_t Performance;         // encoder complexity
    uint32_t PeakBitrate;        // constrained VBR, bits per second
    uint32_t PeakBuffer;         // constrained VBR, milliseconds
    uint32_t VideoLanguage;      // LCID
    uint32_t Reserved;           // travels in whole-record copies only
    uint32_t AudioBufferWindow;  // milliseconds
    int32_t AudioCodec;          // index in the audio codec catalogue
    int32_t AudioFormat;         // index in that codec's format list for the VBR and pass setting
    int32_t AudioVBREnable;
    int32_t AudioNumberOfPasses;
    uint32_t AudioLanguage;  // LCID
};

static_assert(sizeof(EncoderSettings) == 104, "EncoderSettings is 104 bytes");
static_assert(offsetof(EncoderSettings, VideoCodecIndex) == 0, "EncoderSettings.VideoCodecIndex");
static_assert(offsetof(EncoderSettings, CompressionMode) == 4, "EncoderSettings.CompressionMode");
static_assert(offsetof(EncoderSettings, Bitrate) == 8, "EncoderSettings.Bitrate");
static_assert(offsetof(EncoderSettings, BufferWindow) == 12, "EncoderSettings.BufferWindow");
static_assert(offsetof(EncoderSettings, Width) == 16, "EncoderSettings.Width");
static_assert(offsetof(EncoderSettings, Height) == 20, "EncoderSettings.Height");
static_assert(offsetof(EncoderSettings, FrameRate) == 24, "EncoderSettings.FrameRate");
static_assert(offsetof(EncoderSettings, EnableResizeTo) == 32, "EncoderSettings.EnableResizeTo");
static_assert(offsetof(EncoderSettings, ResizeToW) == 36, "EncoderSettings.ResizeToW");
static_assert(offsetof(EncoderSettings, ResizeToH) == 40, "EncoderSettings.ResizeToH");
static_assert(offsetof(EncoderSettings, Quality) == 44, "EncoderSettings.Quality");
static_assert(offsetof(EncoderSettings, KeyFrameInterval) == 48, "EncoderSettings.KeyFrameInterval");
static_assert(offsetof(EncoderSettings, DecoderComplexity) == 52, "EncoderSettings.DecoderComplexity");
static_assert(offsetof(EncoderSettings, DecoderLevel) == 56, "EncoderSettings.DecoderLevel");
static_assert(offsetof(EncoderSettings, Performance) == 60, "EncoderSettings.Performance");
static_assert(offsetof(EncoderSettings, PeakBitrate) == 64, "EncoderSettings.PeakBitrate");
static_assert(offsetof(EncoderSettings, PeakBuffer) == 68, "EncoderSettings.PeakBuffer");
static_assert(offsetof(EncoderSettings, VideoLanguage) == 72, "EncoderSettings.VideoLanguage");
static_assert(offsetof(EncoderSettings, Reserved) == 76, "EncoderSettings.Reserved");
static_assert(offsetof(EncoderSettings, AudioBufferWindow) == 80, "EncoderSettings.AudioBufferWindow");
static_assert(offsetof(EncoderSettings, AudioCodec) == 84, "EncoderSettings.AudioCodec");
static_assert(offsetof(EncoderSettings, AudioFormat) == 88, "EncoderSettings.AudioFormat");
static_assert(offsetof(EncoderSettings, AudioVBREnable) == 92, "EncoderSettings.AudioVBREnable");
static_assert(offsetof(EncoderSettings, AudioNumberOfPasses) == 96, "EncoderSettings.AudioNumberOfPasses");
static_assert(offsetof(EncoderSettings, AudioLanguage) == 100, "EncoderSettings.AudioLanguage");

// Fills the record from the registry, or with the defaults when the registry holds no complete
// set. Width, Height, FrameRate and the reserved word are left as they were on the registry path.
// Fails with the catalogue's code when the video codec of a complete stored set, or the default
// video or audio codec, cannot be found.
HRESULT LoadSettings(EncoderSettings* record);

// The record for an output run: cleared, loaded, then completed with the job's frame size and
// rate and with aspect terms that are never zero for a sized job.
HRESULT SettingsForJob(const HostJob* job, EncoderSettings* record);
