// Frame-timing codes as the companion frame-rate plug-in would publish them: one byte per frame.
// The host takes them from a pattern on the command line or from a file.
#pragma once

#include <cstdint>
#include <string>

// Pattern syntax: sections joined by ',', each "CODES" or "CODES*N" (the codes repeated or cut to
// N frames); the sections are joined and the whole is repeated over the frames. A code is any
// character but ',', '*', '\' and white space; "\xHH" gives any byte (e.g. "\x00" for "no data").
// `codes` gets the codes of frames 0 … frameCount-1; no more is ever expanded, whatever counts the
// pattern names. On failure returns false and puts a one-line reason into `error`.
bool ParseTimingPattern(const std::string& pattern, int32_t frameCount, std::string& codes, std::string& error);

// A file of one code per frame: every byte but white space is a code, taken as it stands (no
// escapes, not repeated: a file shorter than the clip publishes a map shorter than the clip); a
// leading UTF-8 byte-order mark is skipped. Read only as far as the first `frameCount` codes; a
// file that never ends, or that holds nothing but white space for long, is refused.
bool ReadTimingFile(const std::string& path, int32_t frameCount, std::string& codes, std::string& error);

// The codes of frames 0 … frameCount-1: the pattern repeated over the frames.
std::string RepeatCodes(const std::string& pattern, int32_t frameCount);

// What the codes make of the frames, as the module's pass reads them: it stops at the first 0
// code (or at the end of the codes), drops 'D', lengthens '2'.
struct TimelineCounts {
    int32_t kept = 0;
    int32_t dropped = 0;
    int32_t longFrames = 0;
    int32_t stoppedAt = -1;  // frame of the first 0 code or missing code, -1 when none
    uint64_t duration = 0;   // 100-ns units
};

TimelineCounts CountTimeline(const std::string& codes, int32_t frameCount, int32_t rate, int32_t scale);
