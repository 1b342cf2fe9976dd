// The host's job through Output against the stand-in runtime: every HostJob field, the stored
// rate-control choices, the timing codes (any byte, a map shorter or longer than the clip, read-only
// or none at all) and what the callbacks answer (null images, short, empty, null or overlong audio,
// an abort at any call).
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/standin/wmvcore/runtime.h"
#include "plugin/entry_points.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/published_timing_map.h"
#include "tests/common/recording_checks.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Whatever the input, an export ends within this many callbacks: the host asks to stop then.
constexpr int kCallBudget = 400;
// Larger blocks than this the host does not have (it answers null): above half a second of
// 48 kHz stereo, and small enough that an input does not spend its time paging and hashing.
constexpr uint64_t kMostAudioBytes = 1u << 18;
// Nor more than this in one job: past it the editor has nothing more to give, so that an input
// of a huge rate and count ends after a few blocks instead of hashing hundreds of megabytes.
constexpr uint64_t kMostJobAudioBytes = 1u << 19;

enum class AudioAnswer : uint8_t { Honest, Short, Empty, Null, Overlong, Negative, Count };

struct Host {
    HostJob job{};
    int32_t abortFrom = INT_MAX;  // AbortRequested call from which it answers 1
    int32_t nullFrame = -1;
    int32_t oddAudioCall = -1;    // the FetchAudio call answered the odd way
    AudioAnswer audioAnswer = AudioAnswer::Honest;
    int32_t shortBy = 0;
    int calls = 0;
    int abortCalls = 0;
    bool stopped = false;  // AbortRequested has answered 1
    int audioCalls = 0;
    uint64_t audioBytes = 0;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> audio;
};

Host* g_host = nullptr;

void Count(const char* what) {
    ++g_host->calls;
    FUZZ_REQUIRE(!g_host->stopped || std::strcmp(what, "AbortRequested") == 0,
                 std::string(what) + " after the user's stop");
}

void* __cdecl FetchFrame(int32_t index) {
    Host& h = *g_host;
    Count("FetchFrame");
    FUZZ_REQUIRE(index >= 0 && index < h.job.FrameCount, "frame " + std::to_string(index) + " of " +
                                                             std::to_string(h.job.FrameCount));
    if (index == h.nullFrame) return nullptr;
    // A fresh image each time, so that a stale pointer shows under the sanitizers.
    h.frame.assign(static_cast<size_t>(std::max(h.job.FrameBytes, 1)), static_cast<uint8_t>(index * 7));
    return h.frame.data();
}

void* __cdecl FetchAudio(int32_t start, int32_t length, int32_t* delivered) {
    Host& h = *g_host;
    Count("FetchAudio");
    FUZZ_REQUIRE(delivered != nullptr, "no count to fill");
    FUZZ_REQUIRE(start >= 0 && length >= 0, "audio " + std::to_string(start) + "+" + std::to_string(length));
    const int call = h.audioCalls++;
    const int64_t available = std::max<int64_t>(0, std::min<int64_t>(length, int64_t(h.job.AudioSampleCount) - start));
    const uint64_t bytes = static_cast<uint64_t>(available) * static_cast<uint64_t>(std::max(h.job.AudioSampleBytes, 0));
    *delivered = static_cast<int32_t>(available);
    h.audioBytes += bytes;
    if (bytes > kMostAudioBytes || h.audioBytes > kMostJobAudioBytes) {
        *delivered = 0;
        return nullptr;
    }
    h.audio.assign(static_cast<size_t>(std::max<uint64_t>(bytes, 1)), static_cast<uint8_t>(start));
    if (call == h.oddAudioCall) {
        switch (h.audioAnswer) {
        case AudioAnswer::Honest: break;
        case AudioAnswer::Short: *delivered = std::max<int32_t>(0, *delivered - h.shortBy); break;
        case AudioAnswer::Empty: *delivered = 0; break;
        case AudioAnswer::Null: return nullptr;
        case AudioAnswer::Overlong: *delivered = length > INT_MAX - 1000 ? INT_MAX : length + 1 + h.shortBy; break;
        case AudioAnswer::Negative: *delivered = -1 - h.shortBy; break;
        case AudioAnswer::Count: break;
        }
    }
    return h.audio.data();
}

int32_t __cdecl AbortRequested() {
    Host& h = *g_host;
    Count("AbortRequested");
    const int call = h.abortCalls++;
    if (call >= h.abortFrom || h.calls >= kCallBudget) h.stopped = true;
    return h.stopped ? 1 : 0;
}

int32_t __cdecl ShowProgress(int32_t, int32_t) {
    Count("ShowProgress");
    return 0;
}

int32_t __cdecl QueryFrameFlags(int32_t index) {
    Count("QueryFrameFlags");
    return index % 5 == 0 ? 1 : 0;
}

int32_t __cdecl RefreshPreview() {
    Count("RefreshPreview");
    return 0;
}

// A number up to `small` times `unit` most of the time, any 32-bit value sometimes.
int32_t SmallOrAny(FuzzInput& in, int32_t small, int32_t unit = 1) {
    uint8_t b = in.Byte();
    if (b == 0xFF) return in.I32();
    return static_cast<int32_t>(b % static_cast<uint8_t>(small + 1)) * unit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    FuzzReset();

    // Stored settings: the defaults, or a rate-control mode and audio passes.
    const uint8_t settingsChoice = in.Byte();
    if (settingsChoice & 1) {
        EncoderSettings s = FuzzDefaults();
        s.CompressionMode = (settingsChoice >> 1) % 5;
        s.AudioNumberOfPasses = (settingsChoice & 0x10) ? 2 : 1;
        s.EnableResizeTo = (settingsChoice & 0x20) ? 1 : 0;
        s.ResizeToW = 16;
        s.ResizeToH = 9;
        FUZZ_REQUIRE(WriteSettingsToRegistry(&s), "settings stored");
    }
    standin::EnableFileSink(false);

    Host host;
    g_host = &host;
    HostJob& job = host.job;
    job.ContentFlags = in.Byte() == 0xFF ? in.U32() : in.Byte() & 3;
    job.FrameWidth = static_cast<int32_t>(static_cast<uint32_t>(SmallOrAny(in, 40)) - 4u);
    job.FrameHeight = static_cast<int32_t>(static_cast<uint32_t>(SmallOrAny(in, 40)) - 4u);
    const uint8_t bytesChoice = in.Byte();
    // Only the clamped sizes below matter; terms cut to +-2^16 keep their sign and their side of
    // the clamp, and their products cannot overflow.
    const int64_t w = std::clamp<int64_t>(job.FrameWidth, -(1 << 16), 1 << 16);
    const int64_t h = std::clamp<int64_t>(job.FrameHeight, -(1 << 16), 1 << 16);
    const int64_t exact = w * h * 3;
    const int64_t padded = ((w * 3 + 3) & ~int64_t(3)) * h;
    job.FrameBytes = bytesChoice % 3 == 0 ? static_cast<int32_t>(std::clamp<int64_t>(exact, -1, 1 << 16))
                   : bytesChoice % 3 == 1 ? static_cast<int32_t>(std::clamp<int64_t>(padded, -1, 1 << 16))
                                          : static_cast<int32_t>(bytesChoice) - 8;
    job.Rate = SmallOrAny(in, 60);
    job.Scale = SmallOrAny(in, 3);
    job.FrameCount = SmallOrAny(in, 24);
    job.AudioRate = in.Bit() ? SmallOrAny(in, 200, 240) : in.I32();
    job.AudioChannels = SmallOrAny(in, 3);
    job.AudioSampleCount = in.Bit() ? SmallOrAny(in, 200, 100) : in.I32();
    job.AudioSampleBytes = in.Bit() ? static_cast<int32_t>(static_cast<uint32_t>(job.AudioChannels) * 2u)
                                    : static_cast<int32_t>(static_cast<uint32_t>(SmallOrAny(in, 9)) - 1u);
    job.OutputPath = "fuzz.wmv";
    job.FetchFrame = &FetchFrame;
    job.FetchAudio = &FetchAudio;
    job.AbortRequested = &AbortRequested;
    job.ShowProgress = &ShowProgress;
    job.QueryFrameFlags = &QueryFrameFlags;
    job.RefreshPreview = &RefreshPreview;

    host.abortFrom = in.Bit() ? in.Byte() : INT_MAX;
    host.nullFrame = in.Bit() ? in.Byte() : -1;
    host.oddAudioCall = in.Bit() ? in.Byte() % 16 : -1;
    host.audioAnswer = static_cast<AudioAnswer>(in.Byte() % static_cast<uint8_t>(AudioAnswer::Count));
    host.shortBy = in.Byte();

    // The timing map: none, or the rest of the input as its codes (any byte, any length).
    const uint8_t mapChoice = in.Byte();
    const bool published = mapChoice % 8 != 0;
    std::unique_ptr<PublishedTimingMap> map;
    if (published) {
        map = std::make_unique<PublishedTimingMap>(in.Rest());
        FUZZ_REQUIRE(map->Ok(), "the map is published");
        if (mapChoice & 0x10) FUZZ_REQUIRE(standin::MakeFileMappingReadOnly(map->Name().c_str()), "read-only");
    }

    standin::StartRecording();
    const long writersBefore = standin::CallCount("WMCreateWriter");
    const long endsBefore = standin::CallCount("IWMWriter::EndWriting");
    const int32_t result = Output(&job);
    const long writers = standin::CallCount("WMCreateWriter") - writersBefore;
    const long ends = standin::CallCount("IWMWriter::EndWriting") - endsBefore;
    const std::vector<standin::RecordedSample> recording = standin::Recording();
    standin::StopRecording();
    map.reset();
    g_host = nullptr;

    FUZZ_REQUIRE(result == 0 || result == 1, "Output returned " + std::to_string(result));
    if (!published || (job.ContentFlags & 3) == 0) {
        FUZZ_REQUIRE(result == 0 && writers == 0, "a job without a map or streams made a writer");
    }
    if (result == 1) FUZZ_REQUIRE(ends == 1, "reported as written without one EndWriting");
    bool wroteAny = false;
    for (const standin::RecordedSample& s : recording) wroteAny = wroteAny || s.pass == 0;
    if (result == 1) FUZZ_REQUIRE(wroteAny, "reported as written with no sample written");
    FUZZ_REQUIRE(ends <= 1, "ended twice");
    const uint32_t block = static_cast<uint32_t>(static_cast<uint16_t>(job.AudioChannels)) * 2;
    std::string faults;
    for (const std::string& f : RecordingFaults(recording, static_cast<uint32_t>(job.FrameBytes), block)) {
        faults += f + "; ";
    }
    FUZZ_REQUIRE(faults.empty(), faults);
    RequireNothingLeft("after Output");
    return 0;
}
