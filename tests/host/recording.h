// Reading what an export through brevlo-host handed to the stand-in media runtime (its
// `--record FILE` JSON lines and its summary line), and the time lines a test works out by hand
// from the timing codes to hold against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/host/host_run.h"

// The connection names the profile gives the two streams.
extern const char kVideoConnection[];
extern const char kAudioConnection[];

// One line of the recording: one sample the runtime received.
struct RecordedLine {
    uint32_t input = 0;
    std::string connection;  // UTF-8
    uint32_t pass = 0;       // 0 the writing pass, 1… the preprocessing passes
    uint64_t time = 0;       // 100 ns
    uint32_t flags = 0;      // 1: clean point
    uint32_t size = 0;       // bytes
    std::string hash;        // 16 hex digits
};

// Reads a recording file. False, with the line number and what is wrong in `error`, when the file
// cannot be read or a line is not a complete record.
bool ReadRecording(const std::string& path, std::vector<RecordedLine>& lines, std::string& error);

// The lines of one connection in one pass, in arrival order.
std::vector<RecordedLine> SelectLines(const std::vector<RecordedLine>& lines, const std::string& connection,
                                      uint32_t pass);
// The passes that appear for a connection, in increasing order.
std::vector<uint32_t> PassesOf(const std::vector<RecordedLine>& lines, const std::string& connection);
std::vector<uint64_t> TimesOf(const std::vector<RecordedLine>& lines);

// ---- Expected video time line ------------------------------------------------------------------

struct ExpectedFrame {
    int32_t frame = 0;  // index in the editor's clip
    uint64_t time = 0;  // 100 ns
    bool longFrame = false;
};

struct ExpectedVideo {
    uint64_t nominal = 0;  // floor(Scale × 10^7 / Rate)
    uint64_t longer = 0;   // floor(nominal × 5 / 4)
    std::vector<ExpectedFrame> kept;
    int32_t dropped = 0;     // 'D' frames before the pass ended
    int32_t longFrames = 0;  // kept frames coded '2'
    int32_t endedAt = -1;    // the frame whose code is 0 (or lies past the codes); -1 when none
    uint64_t end = 0;        // the time after the last kept frame
};

// The time line a pass gives frames 0 … frameCount − 1 with `codes` (one byte per frame): 'D'
// drops a frame, '2' lasts 5/4 of the nominal duration, any other non-zero byte is nominal, and
// code 0 (or the end of the codes) ends the pass there. Times from 0 in unsigned 64-bit sums.
ExpectedVideo ExpectVideoTimeline(const std::string& codes, int32_t rate, int32_t scale, int32_t frameCount);

std::vector<uint64_t> TimesOf(const ExpectedVideo& video);
std::vector<int32_t> FramesOf(const ExpectedVideo& video);

// `codes` repeated and cut to `frames` bytes.
std::string RepeatCodesOver(const std::string& codes, int32_t frames);

// ---- Expected audio blocks ---------------------------------------------------------------------

struct ExpectedAudioBlock {
    int64_t first = 0;  // sample frame
    int64_t count = 0;  // sample frames
    uint64_t time = 0;  // floor(first × 10^7 / audioRate)
};

// The audio the interleaved delivery writes with `video`: for every kept frame the samples from
// the start of the dropped frames just before it to the frame's own end, on the grid
// floor(sampleCount × k / frameCount). Empty blocks are left out (no sample is written for them).
std::vector<ExpectedAudioBlock> ExpectFrameAudio(const ExpectedVideo& video, int32_t frameCount,
                                                 int32_t sampleCount, int32_t audioRate);

// Half-second blocks over all the audio, as an audio-only delivery or an audio preprocessing pass
// hands it over.
std::vector<ExpectedAudioBlock> ExpectHalfSecondAudio(int32_t sampleCount, int32_t audioRate);

// ---- The host's summary line -------------------------------------------------------------------

struct HostSummary {
    bool found = false;
    int32_t frames = -1;  // -1 when the job had no video
    int32_t kept = -1, dropped = -1, longFrames = -1;
    int32_t noDataFrom = -1;  // "no timing data from frame N"
    int64_t samplesHandedOver = -1, sampleCount = -1;  // -1 when the job had no audio
    int outputResult = -1;
    bool aborted = false;
};

// Reads the summary line out of the host's standard error.
HostSummary ParseSummary(const std::string& err);

// ---- A recorded export -------------------------------------------------------------------------

struct RecordedExport {
    HostRun run;
    HostSummary summary;
    std::vector<RecordedLine> lines;
    std::string readError;  // why the recording could not be read, "" when it was
    std::string file;       // the .wmv written
};

// `brevlo-host export -o <temp>.wmv --record <temp>.jsonl <options>`; `name` keeps the files of
// different exports in one test apart.
RecordedExport RunRecordedExport(const std::string& name, const std::vector<std::string>& options);

// FNV-1a 64 of each `frameBytes`-byte frame of `raw` (as brevlo-host raw-frames writes them), in
// the recording's 16-hex-digit form.
std::vector<std::string> FrameHashes(const std::string& raw, size_t frameBytes);
