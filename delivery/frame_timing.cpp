#include "delivery/frame_timing.h"

#include <cstdio>

#include "plugin/entry_points.h"

namespace {

// The map of the current pass: the handle (null while none is open) and the start of its bytes.
HANDLE g_timingMapping = nullptr;
const volatile int8_t* g_timingCodes = nullptr;

constexpr uint64_t kWriterUnitsPerSecond = 10000000;

void ShowTimingMessage(const char* text) { MessageBoxA(nullptr, text, kPluginDisplayName, MB_ICONERROR); }

}  // namespace

void FormatFrameTimingMapName(int32_t processId, char (&name)[kFrameTimingMapNameCapacity]) {
    std::snprintf(name, kFrameTimingMapNameCapacity, "vfrout_%d", static_cast<int>(processId));
}

void OpenFrameTimingMap() {
    CloseFrameTimingMap();
    char name[kFrameTimingMapNameCapacity];
    FormatFrameTimingMapName(static_cast<int32_t>(GetCurrentProcessId()), name);
    // Read access only: a companion that publishes its codes read-only must still be readable.
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (!mapping) return;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!view) {
        CloseHandle(mapping);
        return;
    }
    g_timingMapping = mapping;
    g_timingCodes = static_cast<const volatile int8_t*>(view);
}

void CloseFrameTimingMap() {
    if (!g_timingMapping) return;
    UnmapViewOfFile(const_cast<const int8_t*>(g_timingCodes));
    CloseHandle(g_timingMapping);
    g_timingMapping = nullptr;
    g_timingCodes = nullptr;
}

bool IsFrameTimingMapOpen() { return g_timingMapping != nullptr; }

bool ConfirmFrameTimingMap() {
    OpenFrameTimingMap();
    if (!IsFrameTimingMapOpen()) {
        ShowTimingMessage("フレームレート判定プラグインが起動されていません。");
        return false;
    }
    CloseFrameTimingMap();
    return true;
}

uint64_t NominalFrameDuration(int32_t rate, int32_t scale) {
    if (rate <= 0 || scale <= 0) return 0;
    return static_cast<uint64_t>(static_cast<int64_t>(scale) * static_cast<int64_t>(kWriterUnitsPerSecond)) /
           static_cast<uint64_t>(static_cast<int64_t>(rate));
}

uint64_t LongFrameDuration(int32_t rate, int32_t scale) { return NominalFrameDuration(rate, scale) * 5 / 4; }

FrameTimeline BeginFrameTimeline(int32_t rate, int32_t scale) {
    FrameTimeline line{};
    line.NominalDuration = NominalFrameDuration(rate, scale);
    line.LongDuration = LongFrameDuration(rate, scale);
    if (g_timingMapping) {
        // The byte size of a mapping cannot be learned, only its whole pages; past them lies
        // memory that is not ours.
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(const_cast<const int8_t*>(g_timingCodes), &info, sizeof info) == sizeof info) {
            line.ReadableCodes = info.RegionSize;
        }
    }
    return line;
}

int8_t ReadFrameCode(const FrameTimeline& line, int32_t frame) {
    if (!g_timingMapping || frame < 0 || static_cast<size_t>(frame) >= line.ReadableCodes) return kFrameCodeNoData;
    return g_timingCodes[frame];
}

FrameStep StepFrameTimeline(FrameTimeline& line, int32_t frame, uint64_t* stamp) {
    if (line.Ended) return FrameStep::NoTimingData;
    int8_t code = ReadFrameCode(line, frame);
    if (code == kFrameCodeNoData) {
        line.Ended = true;
        ShowTimingMessage("フレームレートデータがありません。");
        return FrameStep::NoTimingData;
    }
    if (code == kFrameCodeDropped) return FrameStep::Dropped;
    if (stamp) *stamp = line.Time;
    line.Time += code == kFrameCodeLong ? line.LongDuration : line.NominalDuration;
    return FrameStep::Kept;
}
