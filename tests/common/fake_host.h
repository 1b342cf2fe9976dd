// A scripted editor for tests: it fills a HostJob whose callbacks answer from this object and log
// every call in order. Frame images and audio are deterministic functions of the frame index and
// the sample position, so a test can tell which bytes reached the writer.
//
// The callbacks are plain cdecl functions without a context argument, so one FakeHost is active
// at a time: the one constructed last (it must outlive the job it made).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugin/host_job.h"
#include "tests/common/published_timing_map.h"

namespace fakehost {

enum class Call { Abort, Progress, Frame, Flags, Preview, Audio };

struct CallRecord {
    Call kind;
    int32_t a = 0;  // frame index, or the first sample asked for
    int32_t b = 0;  // progress total, or the sample count asked for
    int32_t delivered = 0;  // audio: what the host reported back
};

struct FakeHost {
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // The job, filled from the fields below. Video 24-bit RGB (FrameBytes = w*h*3), audio 16-bit.
    uint32_t contentFlags = HasVideo | HasAudio;
    int32_t width = 8;
    int32_t height = 4;
    int32_t rate = 30;
    int32_t scale = 1;
    int32_t frameCount = 0;
    int32_t audioRate = 48000;
    int32_t audioChannels = 2;
    int32_t audioSampleCount = 0;
    HostJob MakeJob() const;

    // Publishes `codes` (one byte per frame) as the frame-timing map of this process, as the
    // frame-rate detection plug-in would; the map goes with the FakeHost. Codes may be changed in
    // place through `timingView` while it is published.
    void PublishTiming(const std::string& codes);
    char* timingView = nullptr;
    std::unique_ptr<PublishedTimingMap> timingMap;
    // When set, FetchFrame(i) writes byte i of this into the published map before it returns, as
    // the frame-rate detection filter classifies a frame when the editor renders it.
    std::string codesOnFetch;

    // Scripted behaviour.
    int32_t abortAtCall = -1;      // AbortRequested answers non-zero from its n-th call on (0 = first)
    std::vector<int32_t> frameFlags;  // QueryFrameFlags(i) = frameFlags[i], 0 past the end
    int32_t nullFrameAt = -1;      // FetchFrame returns null for this index
    int32_t nullAudioAtCall = -1;  // FetchAudio returns null on its n-th call (0 = first)
    int32_t zeroAudioAtCall = -1;  // FetchAudio reports 0 samples from its n-th call on
    int32_t shortAudioBy = 0;      // FetchAudio reports this many samples fewer than asked (not below 0;
                                   // negative: more than asked, in a block that long)

    // What happened, in order.
    std::vector<CallRecord> calls;
    std::vector<CallRecord> CallsOf(Call kind) const;
    int32_t CountOf(Call kind) const;

    // Content the callbacks hand out.
    int32_t FrameBytes() const { return width * height * 3; }
    int32_t SampleBytes() const { return audioChannels * 2; }
    std::vector<uint8_t> FrameImage(int32_t index) const;
    std::vector<uint8_t> AudioBytes(int32_t first, int32_t count) const;

    // Implementation state of the callbacks.
    std::vector<uint8_t> frameBuffer;
    std::vector<uint8_t> audioBuffer;
    int32_t abortCalls = 0;
    int32_t audioCalls = 0;
};

// FNV-1a 64 of a byte range: what the recording observer stores for each sample.
uint64_t Fnv1a64(const uint8_t* data, size_t size);
inline uint64_t Fnv1a64(const std::vector<uint8_t>& bytes) { return Fnv1a64(bytes.data(), bytes.size()); }

}  // namespace fakehost
