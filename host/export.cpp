#include <cstdio>
#include <string>

#include "host/host_options.h"
#include "host/host_platform.h"
#include "host/progress.h"
#include "host/runtime_session.h"
#include "host/timing_codes.h"
#include "host/timing_map.h"
#include "platform/standin/leaks.h"
#include "platform/win32.h"

namespace {

// ---- The export: the job record and the editor's callbacks -------------------------------------

struct ExportState {
    ClipSource* source = nullptr;
    ClipFormat format;
    int32_t keyEvery = 300;
    int64_t framesFetched = 0;
    int64_t audioEnd = 0;  // furthest sample frame handed over
    int32_t lastProgress = -1;
    int64_t previewRefreshes = 0;
    int64_t keyQueries = 0;
    int32_t abortAt = -1;
    int32_t furthestFrame = -1;  // the furthest frame the module fetched
    bool abortAnswered = false;
};

ExportState g_export;

void* __cdecl FetchFrame(int32_t frame) {
    if (frame > g_export.furthestFrame) g_export.furthestFrame = frame;
    if (frame < 0 || frame >= g_export.format.frameCount) return nullptr;
    ++g_export.framesFetched;
    return const_cast<uint8_t*>(g_export.source->Frame(frame));
}

void* __cdecl FetchAudio(int32_t start, int32_t length, int32_t* delivered) {
    int32_t count = 0;
    const int16_t* data = g_export.source->Audio(start, length, &count);
    if (delivered) *delivered = count;
    if (count > 0 && static_cast<int64_t>(start) + count > g_export.audioEnd) g_export.audioEnd = static_cast<int64_t>(start) + count;
    return const_cast<int16_t*>(data);
}

// Ctrl-C, or --abort-at: a stop at a known frame, as a user's would come at some frame.
int32_t __cdecl AbortRequested() {
    bool stop = InterruptRequested() || (g_export.abortAt >= 0 && g_export.furthestFrame >= g_export.abortAt);
    if (stop) g_export.abortAnswered = true;
    return stop ? 1 : 0;
}

int32_t __cdecl ShowProgress(int32_t current, int32_t total) {
    g_export.lastProgress = current;
    UpdateProgress(current, total);
    return 0;
}

int32_t __cdecl QueryFrameFlags(int32_t frame) {
    ++g_export.keyQueries;
    if (frame == 0) return static_cast<int32_t>(FrameFlagKeyFrame);
    if (g_export.keyEvery > 0 && frame % g_export.keyEvery == 0) return static_cast<int32_t>(FrameFlagKeyFrame);
    return 0;
}

int32_t __cdecl RefreshPreview() {
    ++g_export.previewRefreshes;
    return 0;
}

}  // namespace

bool PrintPlatformFailures(size_t* printed) {
    bool writeLost = false;
    const std::vector<std::string> reasons = standin::TakeFailures(&writeLost);
    for (const std::string& reason : reasons) std::fprintf(stderr, "brevlo-host: %s\n", reason.c_str());
    if (printed) *printed = reasons.size();
    return writeLost;
}

int Export(const OutputPluginTable& table, const HostOptions& options) {
    if (options.output.empty()) return UsageError("export needs -o FILE");
    if (!table.OutputEntry) return std::fprintf(stderr, "brevlo-host: the module has no Output entry\n"), 1;
    std::string error;
    std::unique_ptr<ClipSource> source = OpenSource(options, error);
    if (!source) {
        std::fprintf(stderr, "brevlo-host: %s\n", error.c_str());
        return 1;
    }
    ClipFormat format = source->Format();
    if (!options.input.empty() && options.frameLimit >= 0 && options.frameLimit < format.frameCount) {
        format.frameCount = options.frameLimit;
        if (format.hasAudio && format.hasVideo) {
            int64_t samples = static_cast<int64_t>(format.frameCount) * format.scale * format.audioRate / format.rate;
            if (samples < format.sampleCount) format.sampleCount = static_cast<int32_t>(samples);
        }
    }

    std::string codes;
    if (!options.timingFile.empty()) {
        if (!ReadTimingFile(options.timingFile, format.frameCount, codes, error)) return UsageError(error);
    } else {
        if (!ParseTimingPattern(options.timingGiven ? options.timingPattern : "1", format.frameCount, codes, error)) {
            return UsageError(error);
        }
    }

    HostJob job = {};
    job.ContentFlags = (format.hasVideo ? HasVideo : 0u) | (format.hasAudio ? HasAudio : 0u);
    job.FrameWidth = format.width;
    job.FrameHeight = format.height;
    job.Rate = format.rate;
    job.Scale = format.scale;
    job.FrameCount = format.frameCount;
    job.FrameBytes = format.frameBytes;
    job.AudioRate = format.audioRate;
    job.AudioChannels = format.channels;
    job.AudioSampleCount = format.sampleCount;
    job.AudioSampleBytes = format.channels * 2;
    const std::string outputPath = NativePath(options.output);
    job.OutputPath = outputPath.c_str();
    job.FetchFrame = FetchFrame;
    job.FetchAudio = FetchAudio;
    job.AbortRequested = AbortRequested;
    job.ShowProgress = ShowProgress;
    job.QueryFrameFlags = QueryFrameFlags;
    job.RefreshPreview = RefreshPreview;

    g_export = ExportState{};
    g_export.source = source.get();
    g_export.format = format;
    g_export.keyEvery = options.keyEvery;
    g_export.abortAt = options.abortAt;

    // Caught before the map exists, so that no signal leaves it behind.
    CatchInterrupt(RemoveWhatOutlivesTheHost);
    PublishedTimingMap map;
    if (!options.noTiming && !PublishTimingMap(codes, options.timingReadOnly, map, error)) {
        std::fprintf(stderr, "brevlo-host: %s\n", error.c_str());
        return 1;
    }

    if (!BeginRuntimeSession(table, options.record, error)) {
        WithdrawTimingMap(map);
        std::fprintf(stderr, "brevlo-host: %s\n", error.c_str());
        return 1;
    }
    BeginProgress();
    int32_t result = table.OutputEntry(&job);
    EndProgress();
    double seconds = ProgressSeconds();
    WithdrawTimingMap(map);
    // With the map withdrawn the host holds nothing of the platform either: whatever is still held
    // was left by the module.
    RuntimeSessionResult session = EndRuntimeSession(options.record);
    if (!session.recordWritten) std::fprintf(stderr, "brevlo-host: cannot write the recording to %s\n", options.record.c_str());
    bool logWritten = options.messageLog.empty() || WriteMessageLog(options.messageLog, session.boxes);
    if (!logWritten) std::fprintf(stderr, "brevlo-host: cannot write the message log to %s\n", options.messageLog.c_str());
    std::string leftOver;
    for (const std::string& leak : session.leftOver) leftOver += (leftOver.empty() ? "" : "; ") + leak;

    TimelineCounts counts = CountTimeline(codes, format.hasVideo ? format.frameCount : 0, format.rate, format.scale);
    std::string video = "no video";
    if (format.hasVideo) {
        char text[200];
        std::snprintf(text, sizeof text, "%dx%d %d/%d, %d frames", format.width, format.height, format.rate,
                      format.scale, format.frameCount);
        video = text;
        if (format.variableRate) {
            video += " (a variable-rate clip of " + std::to_string(format.sourceFrameCount) +
                     " pictures, shown at its constant rate)";
        }
        if (options.noTiming) {
            video += ", no timing map";
        } else {
            std::snprintf(text, sizeof text, " (codes: %d kept, %d dropped, %d long", counts.kept, counts.dropped,
                          counts.longFrames);
            video += text;
            if (counts.stoppedAt >= 0) video += ", no timing data from frame " + std::to_string(counts.stoppedAt);
            video += ")";
        }
    }
    std::string audio = "no audio";
    if (format.hasAudio) {
        audio = "audio " + std::to_string(format.audioRate) + " Hz " + std::to_string(format.channels) + " ch, " +
                std::to_string(g_export.audioEnd) + " of " + std::to_string(format.sampleCount) + " samples handed over";
    }
    std::fprintf(stderr, "brevlo-host: %s; %s; %s%s; %.2f s\n", video.c_str(), audio.c_str(),
                 result ? "Output returned 1" : "Output returned 0", g_export.abortAnswered ? " (aborted)" : "",
                 seconds);
    if (!leftOver.empty()) std::fprintf(stderr, "brevlo-host: left over after Output: %s\n", leftOver.c_str());
    size_t causes = 0;
    PrintPlatformFailures(&causes);
    if (!result && causes == 0 && session.boxes.empty()) {
        for (const std::string& cause : CausesThePlatformKeeps(options.output)) {
            std::fprintf(stderr, "brevlo-host: %s\n", cause.c_str());
        }
    }
    if (result) {
        for (const std::string& note : RuntimeNotes(options.output)) std::fprintf(stderr, "brevlo-host: %s\n", note.c_str());
    }
    if (!result) std::fprintf(stderr, "brevlo-host: export to %s failed\n", options.output.c_str());
    if (!leftOver.empty()) return 3;
    if (InterruptSignal()) {
        // The file is ended; the status still says what stopped the run.
        std::fprintf(stderr, "brevlo-host: stopped by %s\n", SignalName(InterruptSignal()));
        return 128 + InterruptSignal();
    }
    return result && session.recordWritten && logWritten ? 0 : 1;
}

