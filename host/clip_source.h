// Where the host's frames and audio come from: the built-in synthetic clip, the noise pattern of
// the benchmark, or a clip decoded with FFmpeg. Frames are bottom-up BGR24 with rows padded to
// 4 bytes (a bottom-up DIB), audio is 16-bit PCM with the channels interleaved.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct ClipFormat {
    bool hasVideo = false;
    bool hasAudio = false;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rate = 0;
    int32_t scale = 0;
    int32_t frameCount = 0;
    int32_t stride = 0;       // bytes per row
    int32_t frameBytes = 0;   // stride × height
    int32_t audioRate = 0;
    int32_t channels = 0;
    int32_t sampleCount = 0;  // sample frames
    // A decoded clip whose pictures are not evenly spaced is shown at its constant rate, as the
    // editor shows it: frameCount then covers its length, sourceFrameCount is what it holds.
    bool variableRate = false;
    int32_t sourceFrameCount = 0;
};

class ClipSource {
public:
    virtual ~ClipSource() = default;
    virtual const ClipFormat& Format() const = 0;
    // The image of frame `index`; valid until the next call of Frame.
    virtual const uint8_t* Frame(int32_t index) = 0;
    // Up to `length` sample frames from `start`; `delivered` gets how many. Valid until the next
    // call of Audio.
    virtual const int16_t* Audio(int32_t start, int32_t length, int32_t* delivered) = 0;
};

int32_t DibStride(int32_t width);

// Why a clip of these numbers cannot be described in the job record, whose counts are signed 32-bit
// (FrameBytes = stride × height, AudioSampleCount over the whole clip, AudioSampleBytes); "" when
// it can. The numbers are taken as they come, before anything is computed in 32 bits.
std::string JobRecordProblem(bool video, int64_t width, int64_t height, int64_t rate, int64_t scale,
                             int64_t frames, bool audio, int64_t audioRate, int64_t channels);

enum class SyntheticPattern { Bars, Noise };

struct SyntheticClipSettings {
    int32_t width = 640;
    int32_t height = 360;
    int32_t rate = 30000;
    int32_t scale = 1001;
    int32_t frameCount = 300;
    bool video = true;
    bool audio = true;
    int32_t audioRate = 48000;
    int32_t channels = 2;
    SyntheticPattern pattern = SyntheticPattern::Bars;
};

std::unique_ptr<ClipSource> CreateSyntheticClip(const SyntheticClipSettings& settings);

// The synthetic clip marks every MarkerInterval-th frame (the rounded frame rate: once a second)
// with a white picture and a click that starts at the frame's first audio sample.
int32_t MarkerInterval(int32_t rate, int32_t scale);
int64_t FirstSampleOfFrame(int64_t frame, int32_t rate, int32_t scale, int32_t audioRate);

// Opens any clip FFmpeg reads. `wantVideo`/`wantAudio` say which streams to use; a missing stream
// just leaves that side out. On failure returns null with the reason in `error`.
std::unique_ptr<ClipSource> OpenDecodedClip(const std::string& path, bool wantVideo, bool wantAudio,
                                            std::string& error);
