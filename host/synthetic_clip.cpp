// The built-in clip. Top eighth of the picture: the frame index as 16 bits, most significant first,
// in 16 equal cells (white 1, black 0). Below it a moving colour pattern, replaced by a white
// picture on every frame whose index is a multiple of the rounded frame rate; that frame's first
// audio sample starts a 10 ms full-scale square-wave click. Elsewhere the audio is a quiet tone.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/clip_source.h"

int32_t DibStride(int32_t width) { return (width * 3 + 3) & ~3; }

std::string JobRecordProblem(bool video, int64_t width, int64_t height, int64_t rate, int64_t scale,
                             int64_t frames, bool audio, int64_t audioRate, int64_t channels) {
    const int64_t limit = INT32_MAX;
    if (video) {
        const int64_t bytes = ((width * 3 + 3) & ~int64_t{3}) * height;  // both at most 2^31
        if (width > limit || height > limit || bytes > limit) {
            return "a " + std::to_string(width) + "x" + std::to_string(height) + " frame is " + std::to_string(bytes) +
                   " bytes, more than the job record's FrameBytes holds (" + std::to_string(limit) + ")";
        }
    }
    if (audio && rate > 0) {
        if (channels * 2 > limit) return std::to_string(channels) + " channels do not fit AudioSampleBytes";
        // The clip's samples, rounded as the clip rounds them, exceed the limit exactly when
        // frames × scale × audioRate + rate/2 ≥ (limit + 1) × rate; no product here passes 2^62.
        const int64_t bound = (limit + 1) * rate - rate / 2;
        if (audioRate > 0 && frames * scale >= (bound + audioRate - 1) / audioRate) {
            return std::to_string(frames) + " frames at " + std::to_string(rate) + "/" + std::to_string(scale) +
                   " with audio at " + std::to_string(audioRate) + " Hz are more samples than the job record's "
                   "AudioSampleCount holds (" + std::to_string(limit) + ")";
        }
    }
    return std::string();
}

int32_t MarkerInterval(int32_t rate, int32_t scale) {
    if (rate <= 0 || scale <= 0) return 1;
    int64_t rounded = (static_cast<int64_t>(rate) + scale / 2) / scale;
    return rounded < 1 ? 1 : static_cast<int32_t>(rounded);
}

int64_t FirstSampleOfFrame(int64_t frame, int32_t rate, int32_t scale, int32_t audioRate) {
    // The first sample at or after the frame's start, frame × Scale / Rate seconds.
    int64_t numerator = frame * scale * audioRate;
    return (numerator + rate - 1) / rate;
}

namespace {

constexpr int16_t kClickLevel = 32767;
constexpr int32_t kClickHz = 1000;
constexpr double kToneHz = 440.0;
constexpr double kToneLevel = 300.0;
constexpr double kPi = 3.14159265358979323846;  // M_PI, which strict C++ does not promise

class SyntheticClip : public ClipSource {
public:
    explicit SyntheticClip(const SyntheticClipSettings& s) : settings_(s) {
        format_.hasVideo = s.video;
        format_.hasAudio = s.audio;
        format_.width = s.width;
        format_.height = s.height;
        format_.rate = s.rate;
        format_.scale = s.scale;
        format_.frameCount = s.frameCount;
        format_.stride = DibStride(s.width);
        format_.frameBytes = format_.stride * s.height;
        format_.audioRate = s.audioRate;
        format_.channels = s.channels;
        if (s.audio && s.rate > 0) {
            int64_t samples = (static_cast<int64_t>(s.frameCount) * s.scale * s.audioRate + s.rate / 2) / s.rate;
            format_.sampleCount = samples > INT32_MAX ? INT32_MAX : static_cast<int32_t>(samples);
        }
        if (s.video) {
            if (s.pattern == SyntheticPattern::Noise) {
                BuildNoise();
            } else {
                frame_.assign(static_cast<size_t>(format_.frameBytes), 0);
            }
        }
    }

    const ClipFormat& Format() const override { return format_; }

    const uint8_t* Frame(int32_t index) override {
        if (settings_.pattern == SyntheticPattern::Noise) {
            // A window into the larger noisy picture, moved by a few rows per frame.
            int32_t row = static_cast<int32_t>((static_cast<int64_t>(index) * 3) % kNoiseSlack);
            return noise_.data() + static_cast<size_t>(row) * static_cast<size_t>(format_.stride);
        }
        DrawFrame(index);
        return frame_.data();
    }

    const int16_t* Audio(int32_t start, int32_t length, int32_t* delivered) override {
        int32_t available = format_.sampleCount - start;
        int32_t count = start < 0 || available <= 0 ? 0 : (length < available ? length : available);
        if (count < 0) count = 0;
        audio_.resize(static_cast<size_t>(count) * static_cast<size_t>(format_.channels));
        for (int32_t k = 0; k < count; ++k) {
            int16_t value = SampleAt(static_cast<int64_t>(start) + k);
            for (int32_t c = 0; c < format_.channels; ++c) {
                audio_[static_cast<size_t>(k) * format_.channels + c] = value;
            }
        }
        *delivered = count;
        return audio_.data();
    }

private:
    static constexpr int32_t kNoiseSlack = 64;

    void DrawFrame(int32_t index) {
        const int32_t w = format_.width, h = format_.height, stride = format_.stride;
        const int32_t band = h >= 8 ? h / 8 : 1;
        const bool marker = index % MarkerInterval(format_.rate, format_.scale) == 0;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = frame_.data() + static_cast<size_t>(h - 1 - y) * stride;  // bottom-up
            if (y < band) {
                for (int32_t x = 0; x < w; ++x) {
                    int32_t cell = static_cast<int32_t>(static_cast<int64_t>(x) * 16 / w);
                    uint8_t v = (index >> (15 - cell)) & 1 ? 255 : 0;
                    row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
                }
            } else if (marker) {
                std::memset(row, 255, static_cast<size_t>(w) * 3);
            } else {
                for (int32_t x = 0; x < w; ++x) {
                    row[x * 3] = static_cast<uint8_t>(x + index * 3);                 // B
                    row[x * 3 + 1] = static_cast<uint8_t>(y + index);                 // G
                    row[x * 3 + 2] = static_cast<uint8_t>(((x + y) >> 1) - index * 5);  // R
                }
            }
        }
    }

    void BuildNoise() {
        const int32_t w = format_.width, stride = format_.stride;
        const int32_t rows = format_.height + kNoiseSlack;
        noise_.assign(static_cast<size_t>(rows) * stride, 0);
        uint32_t state = 0x9E3779B9u;
        for (int32_t y = 0; y < rows; ++y) {
            uint8_t* row = noise_.data() + static_cast<size_t>(y) * stride;
            for (int32_t x = 0; x < w; ++x) {
                for (int32_t c = 0; c < 3; ++c) {
                    state ^= state << 13;
                    state ^= state >> 17;
                    state ^= state << 5;
                    int32_t base = c == 0 ? x * 255 / (w > 1 ? w - 1 : 1) : c == 1 ? (y * 2) & 255 : ((x / 64 + y / 64) & 1) * 160 + 48;
                    int32_t v = base + static_cast<int32_t>(state % 49) - 24;
                    row[x * 3 + c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
                }
            }
        }
    }

    int16_t SampleAt(int64_t n) const {
        const int32_t rate = format_.rate, scale = format_.scale, audioRate = format_.audioRate;
        if (rate > 0 && scale > 0) {
            int64_t frame = n * rate / (static_cast<int64_t>(scale) * audioRate);
            int32_t interval = MarkerInterval(rate, scale);
            int64_t marker = frame / interval * interval;
            int64_t offset = n - FirstSampleOfFrame(marker, rate, scale, audioRate);
            if (offset >= 0 && offset < audioRate / 100) {
                int64_t period = audioRate / kClickHz > 1 ? audioRate / kClickHz : 2;
                return offset % period < period / 2 ? kClickLevel : static_cast<int16_t>(-kClickLevel);
            }
        }
        return static_cast<int16_t>(std::lround(kToneLevel * std::sin(2.0 * kPi * kToneHz * static_cast<double>(n) / audioRate)));
    }

    SyntheticClipSettings settings_;
    ClipFormat format_;
    std::vector<uint8_t> frame_;
    std::vector<uint8_t> noise_;
    std::vector<int16_t> audio_;
};

}  // namespace

std::unique_ptr<ClipSource> CreateSyntheticClip(const SyntheticClipSettings& settings) {
    return std::make_unique<SyntheticClip>(settings);
}
