// The frame-timing map: one code byte per frame, published in named shared memory "vfrout_<pid>"
// by the frame-rate detection plug-in that runs in the same process, and the time line those codes
// give a pass over the video frames.
//
// A pass that walks the video frames reads it like this (the map closed on every way out):
//
//     OpenFrameTimingMap();
//     FrameTimeline line = BeginFrameTimeline(job->Rate, job->Scale);
//     for (int32_t i = 0; i < job->FrameCount; ++i) {
//         ... fetch frame i from the host ...
//         uint64_t stamp = 0;
//         FrameStep step = StepFrameTimeline(line, i, &stamp);
//         if (step == FrameStep::NoTimingData) break;   // the message has been shown
//         if (step == FrameStep::Dropped) continue;
//         ... write frame i at `stamp` ...
//     }
//     CloseFrameTimingMap();
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// Capacity of the buffer the map's name is formatted into.
constexpr size_t kFrameTimingMapNameCapacity = 100;

// Frame codes with a meaning of their own; every other non-zero code is a kept frame of nominal
// length.
constexpr int8_t kFrameCodeNoData = 0;
constexpr int8_t kFrameCodeDropped = 'D';
constexpr int8_t kFrameCodeLong = '2';

// "vfrout_<process id>" in signed decimal.
void FormatFrameTimingMapName(int32_t processId, char (&name)[kFrameTimingMapNameCapacity]);

// Opens the map of the current process for reading. Whether it is open is decided by the handle
// alone: when the object exists but cannot be viewed the handle is closed again, so an unreadable
// map counts as absent. At most one map is open; opening again first closes the old one.
void OpenFrameTimingMap();
// Unmaps and closes the map when one is open; harmless when none is, or when called twice.
void CloseFrameTimingMap();
bool IsFrameTimingMapOpen();

// The check before an export: opens the map and closes it again at once. When there is no map the
// user is told that the frame-rate detection plug-in is not running, and the answer is false.
bool ConfirmFrameTimingMap();

// Durations in writer time (100 ns): floor(Scale * 10,000,000 / Rate), and 5/4 of that rounded
// value, rounded down. A Rate or Scale of 0 or less gives 0 rather than a trap; such jobs are
// refused before any pass.
uint64_t NominalFrameDuration(int32_t rate, int32_t scale);
uint64_t LongFrameDuration(int32_t rate, int32_t scale);

enum class FrameStep {
    Kept,          // write the frame at the stamp given
    Dropped,       // fetched but not written; no time passes
    NoTimingData,  // the pass ends here; this and later frames are not written
};

// The running time line of one pass. Starts at 0 for every pass.
struct FrameTimeline {
    uint64_t NominalDuration;
    uint64_t LongDuration;
    uint64_t Time;           // stamp of the next kept frame
    size_t ReadableCodes;    // bytes of the open view that may be read (0 when no map is open)
    bool Ended;              // a frame without timing data was met
};

// Takes the durations from the job's rate and the readable size of the map opened for this pass.
FrameTimeline BeginFrameTimeline(int32_t rate, int32_t scale);

// The code of one frame, read from the map as it is now. Frames past what the view holds, negative
// frames, and every frame while no map is open read as 0 (no timing data).
int8_t ReadFrameCode(const FrameTimeline& line, int32_t frame);

// Reads the code of `frame` and moves the time line on. For a kept frame `stamp` receives its time
// stamp. The first frame without timing data shows the no-data message (once per pass) and ends
// the time line: every later step answers NoTimingData too.
FrameStep StepFrameTimeline(FrameTimeline& line, int32_t frame, uint64_t* stamp);
