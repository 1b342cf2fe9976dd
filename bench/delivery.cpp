// Interleaved delivery of 1920×1080 RGB24 frames with 48 kHz stereo audio into the stand-in writer
// (no observer, no file), against a plain loop that copies the same bytes once. The delivery's
// only cost beyond that copy should be the writer's own bookkeeping.
//
//   build/linux/bench-delivery --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "delivery/sample_delivery.h"
#include "platform/standin/wmvcore/runtime.h"
#include "tests/common/standin_writer.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr int32_t kFrameBytes = kWidth * kHeight * 3;
constexpr int32_t kFrames = 60;
constexpr int32_t kAudioRate = 48000;
constexpr int32_t kSampleBytes = 4;
constexpr int32_t kAudioSamples = kAudioRate * kFrames / 30;

std::vector<uint8_t> g_frame(kFrameBytes, 0x5A);
std::vector<uint8_t> g_audio(static_cast<size_t>(kAudioRate) * kSampleBytes, 0x33);

void* __cdecl FetchFrame(int32_t) { return g_frame.data(); }
void* __cdecl FetchAudio(int32_t, int32_t length, int32_t* delivered) {
    *delivered = length;
    return g_audio.data();
}
int32_t __cdecl Never() { return 0; }
int32_t __cdecl Ignore(int32_t, int32_t) { return 0; }
int32_t __cdecl NoFlags(int32_t) { return 0; }

HostJob BenchJob() {
    HostJob job{};
    job.ContentFlags = HasVideo | HasAudio;
    job.FrameWidth = kWidth;
    job.FrameHeight = kHeight;
    job.Rate = 30;
    job.Scale = 1;
    job.FrameCount = kFrames;
    job.FrameBytes = kFrameBytes;
    job.AudioRate = kAudioRate;
    job.AudioChannels = 2;
    job.AudioSampleCount = kAudioSamples;
    job.AudioSampleBytes = kSampleBytes;
    job.OutputPath = nullptr;
    job.FetchFrame = &FetchFrame;
    job.FetchAudio = &FetchAudio;
    job.AbortRequested = &Never;
    job.ShowProgress = &Ignore;
    job.QueryFrameFlags = &NoFlags;
    job.RefreshPreview = &Never;
    return job;
}

// The timing map of this process, every frame kept.
struct TimingMap {
    TimingMap() {
        char name[100];
        std::snprintf(name, sizeof name, "vfrout_%d", static_cast<int>(GetCurrentProcessId()));
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kFrames, name);
        view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        std::memset(view, '1', kFrames);
    }
    ~TimingMap() {
        UnmapViewOfFile(view);
        CloseHandle(mapping);
    }
    HANDLE mapping = nullptr;
    char* view = nullptr;
};

uint64_t BytesPerRun() {
    return static_cast<uint64_t>(kFrames) * kFrameBytes + static_cast<uint64_t>(kAudioSamples) * kSampleBytes;
}

void InterleavedDelivery(benchmark::State& state) {
    standin::EnableFileSink(false);
    TimingMap map;
    const HostJob job = BenchJob();
    for (auto _ : state) {
        state.PauseTiming();
        standinwriter::RunningWriter run;
        HRESULT hr = standinwriter::StartWriter(job, &run);
        state.ResumeTiming();
        if (SUCCEEDED(hr)) hr = DeliverSamples(run.writer.Get(), &job, run.count, run.table);
        state.PauseTiming();
        if (SUCCEEDED(hr)) hr = run.writer->EndWriting();
        if (FAILED(hr)) state.SkipWithError("the stand-in writer refused the delivery");
        run.writer.Reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BytesPerRun()));
}

// The same bytes, copied once into buffers of the same sizes.
void PlainCopy(benchmark::State& state) {
    std::vector<uint8_t> frame(kFrameBytes);
    std::vector<uint8_t> audio(g_audio.size());
    const uint64_t a = kAudioSamples;
    for (auto _ : state) {
        for (int32_t i = 0; i < kFrames; ++i) {
            std::memcpy(frame.data(), FetchFrame(i), kFrameBytes);
            benchmark::ClobberMemory();
            const uint64_t first = a * static_cast<uint64_t>(i) / kFrames;
            const uint64_t next = a * static_cast<uint64_t>(i + 1) / kFrames;
            int32_t read = 0;
            const void* block = FetchAudio(static_cast<int32_t>(first), static_cast<int32_t>(next - first), &read);
            std::memcpy(audio.data(), block, static_cast<size_t>(read) * kSampleBytes);
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BytesPerRun()));
}

}  // namespace

BENCHMARK(PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(InterleavedDelivery)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
