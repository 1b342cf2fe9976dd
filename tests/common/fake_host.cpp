#include "tests/common/fake_host.h"

#include <algorithm>
#include <cassert>

namespace fakehost {

namespace {

FakeHost* g_active = nullptr;

FakeHost& Active() {
    assert(g_active && "no FakeHost is active");
    return *g_active;
}

// An editor may reuse the memory it handed out as soon as the module calls it again: a frame
// image from the next FetchAudio or QueryFrameFlags on (the next FetchFrame replaces it anyway),
// an audio block from any further callback. Spoiling it then shows a copy made too late.
void SpoilFrame(FakeHost& host) { std::fill(host.frameBuffer.begin(), host.frameBuffer.end(), 0xEE); }
void SpoilAudio(FakeHost& host) { std::fill(host.audioBuffer.begin(), host.audioBuffer.end(), 0xEE); }

void* __cdecl FetchFrame(int32_t frame) {
    FakeHost& host = Active();
    SpoilAudio(host);
    host.calls.push_back({Call::Frame, frame, 0, 0});
    if (host.timingView && frame >= 0 && static_cast<size_t>(frame) < host.codesOnFetch.size()) {
        host.timingView[frame] = host.codesOnFetch[static_cast<size_t>(frame)];
    }
    if (frame == host.nullFrameAt) return nullptr;
    host.frameBuffer = host.FrameImage(frame);
    return host.frameBuffer.data();
}

void* __cdecl FetchAudio(int32_t start, int32_t length, int32_t* delivered) {
    FakeHost& host = Active();
    SpoilFrame(host);
    int32_t call = host.audioCalls++;
    int32_t available = std::max(0, std::min(length, host.audioSampleCount - start));
    int32_t count = std::max(0, available - host.shortAudioBy);
    if (host.zeroAudioAtCall >= 0 && call >= host.zeroAudioAtCall) count = 0;
    *delivered = count;
    host.calls.push_back({Call::Audio, start, length, count});
    if (call == host.nullAudioAtCall) return nullptr;
    host.audioBuffer = host.AudioBytes(start, count);
    // Never hand out null for an empty block: only the scripted null is null.
    if (host.audioBuffer.empty()) host.audioBuffer.push_back(0);
    return host.audioBuffer.data();
}

int32_t __cdecl AbortRequested() {
    FakeHost& host = Active();
    SpoilAudio(host);
    int32_t call = host.abortCalls++;
    host.calls.push_back({Call::Abort, 0, 0, 0});
    return host.abortAtCall >= 0 && call >= host.abortAtCall ? 1 : 0;
}

int32_t __cdecl ShowProgress(int32_t current, int32_t total) {
    SpoilAudio(Active());
    Active().calls.push_back({Call::Progress, current, total, 0});
    return 0;
}

int32_t __cdecl QueryFrameFlags(int32_t frame) {
    FakeHost& host = Active();
    SpoilFrame(host);
    SpoilAudio(host);
    host.calls.push_back({Call::Flags, frame, 0, 0});
    if (frame >= 0 && static_cast<size_t>(frame) < host.frameFlags.size()) return host.frameFlags[frame];
    return 0;
}

int32_t __cdecl RefreshPreview() {
    SpoilAudio(Active());  // the image must survive the preview
    Active().calls.push_back({Call::Preview, 0, 0, 0});
    return 0;
}

}  // namespace

FakeHost::FakeHost() { g_active = this; }

FakeHost::~FakeHost() {
    if (g_active == this) g_active = nullptr;
}

void FakeHost::PublishTiming(const std::string& codes) {
    timingMap.reset();
    timingMap = std::make_unique<PublishedTimingMap>(codes);
    assert(timingMap->Ok());
    timingView = timingMap->Codes();
}

HostJob FakeHost::MakeJob() const {
    HostJob job{};
    job.ContentFlags = contentFlags;
    job.FrameWidth = width;
    job.FrameHeight = height;
    job.Rate = rate;
    job.Scale = scale;
    job.FrameCount = frameCount;
    job.FrameBytes = FrameBytes();
    job.AudioRate = audioRate;
    job.AudioChannels = audioChannels;
    job.AudioSampleCount = audioSampleCount;
    job.AudioSampleBytes = SampleBytes();
    job.OutputPath = "fake.wmv";
    job.FetchFrame = &FetchFrame;
    job.FetchAudio = &FetchAudio;
    job.AbortRequested = &AbortRequested;
    job.ShowProgress = &ShowProgress;
    job.QueryFrameFlags = &QueryFrameFlags;
    job.RefreshPreview = &RefreshPreview;
    return job;
}

std::vector<CallRecord> FakeHost::CallsOf(Call kind) const {
    std::vector<CallRecord> out;
    for (const CallRecord& c : calls) {
        if (c.kind == kind) out.push_back(c);
    }
    return out;
}

int32_t FakeHost::CountOf(Call kind) const { return static_cast<int32_t>(CallsOf(kind).size()); }

std::vector<uint8_t> FakeHost::FrameImage(int32_t index) const {
    std::vector<uint8_t> image(static_cast<size_t>(FrameBytes()));
    for (size_t k = 0; k < image.size(); ++k) {
        image[k] = static_cast<uint8_t>(index * 7 + k * 13 + (index >> 8));
    }
    return image;
}

std::vector<uint8_t> FakeHost::AudioBytes(int32_t first, int32_t count) const {
    const size_t frame = static_cast<size_t>(SampleBytes());
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(0, count)) * frame);
    for (size_t s = 0; s < static_cast<size_t>(std::max(0, count)); ++s) {
        uint32_t position = static_cast<uint32_t>(first) + static_cast<uint32_t>(s);
        for (size_t b = 0; b < frame; ++b) {
            bytes[s * frame + b] = static_cast<uint8_t>((position * 31u) ^ (position >> 7) ^ (b * 101u));
        }
    }
    return bytes;
}

uint64_t Fnv1a64(const uint8_t* data, size_t size) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t k = 0; k < size; ++k) {
        hash ^= data[k];
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace fakehost
