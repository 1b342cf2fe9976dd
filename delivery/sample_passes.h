// What the writing pass and the preprocessing passes have in common: filling a writer buffer with
// the editor's bytes and handing it on, walking the frames along the time line of the timing codes,
// and walking the audio in half-second blocks. Each exists once; the passes differ only in the
// plan they give.
#pragma once

#include <cstdint>

#include "delivery/writer_status.h"
#include "platform/win32.h"
#include "platform/wm/wm.h"
#include "plugin/host_job.h"

// Where a filled sample goes: IWMWriter::WriteSample, or PreprocessSample when a preprocessing
// interface is given. The writer allocates every buffer in both cases.
struct SampleTarget {
    IWMWriter* Writer;
    IWMWriterPreprocess* Preprocess;
    DWORD InputNumber;
    const WriterStatus* Status;  // a failure reported there ends the walk at the next sample; may be null
};

// Copies `bytes` bytes of the editor's memory into a new writer buffer and hands it to the target
// at `time`. When `keyFrameFrom` is given, its QueryFrameFlags(frame) is asked after the copy (the
// editor may reuse the image then) and bit 0 marks the sample as a clean point. Null data with
// bytes to copy is E_POINTER, before anything is allocated; so is a failure the writer has
// reported on its own (the target's status).
HRESULT SendHostSample(const SampleTarget& target, const void* data, DWORD bytes, QWORD time,
                       const HostJob* keyFrameFrom, int32_t frame);

// How a walk over the frames behaves.
struct VideoPassPlan {
    SampleTarget Video;
    bool Writing;               // the writing pass: progress and key-frame flags; an abort after the
                                // first sample is no error, one before it is E_ABORT, and a pass
                                // that ends with no sample written for any other reason is E_FAIL
    bool Preview;               // RefreshPreview before each kept frame
    const SampleTarget* Audio;  // the audio of each kept frame and the dropped ones before it, or null
};

struct PassOutcome {
    HRESULT Result;  // the last writer or buffer code, S_OK before any
    bool Complete;   // every frame (or all audio) was walked
    bool TimingEnded;  // the walk stopped at a frame without timing data: the time line ends there
};

// One pass over frames 0 … FrameCount − 1 with the frame-timing map open for its length.
PassOutcome WalkVideoPass(const HostJob& job, const VideoPassPlan& plan);

// One pass over the audio in half-second blocks stamped by sample position. In the writing pass an
// abort after the first block, or an editor that has no more samples before the end, ends it
// quietly (an abort before any block is E_ABORT, no block at all otherwise E_FAIL: nothing was
// written); in a preprocessing pass both are failures (the writer would see only part of the
// audio).
PassOutcome WalkAudioPass(const HostJob& job, const SampleTarget& target, bool writing);

// Jobs whose time stamps cannot be computed (a rate of 0, negative counts) are refused by the
// passes before any division or callback.
bool VideoCanBeTimed(const HostJob& job);
bool AudioCanBeTimed(const HostJob& job);
