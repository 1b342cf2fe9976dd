// The video track of the ASF file sink: bottom-up BGR frames in, wmv2 packets out, stamped with
// the writer's exact times. One pass at a time: a plain one-pass encode, or the analysis pass
// (fed by the writer's preprocessing) followed by the final pass that uses its statistics.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "asf_common.h"
#include "observer.h"

namespace standin {

enum class VideoPassKind { Single, Analysis, Final };

// What the encoder was given for one frame, looked up again when its packet comes out.
struct VideoFrameTiming {
    int64_t pts = 0;        // encoder ticks
    uint64_t time = 0;      // writer time
    uint64_t duration = 0;  // writer units
};

struct VideoPass {
    VideoPassKind kind = VideoPassKind::Single;
    CodecContextPtr encoder;
    int64_t baseMaxRate = 0;  // the peak rate for a nominal frame; 0 without a buffer model
    // One frame is held back until the next arrives, so its duration is known when it is encoded.
    FramePtr held;
    uint64_t heldTime = 0;
    bool heldClean = false;
    int64_t lastPts = 0;
    bool anyFrame = false;
    bool keySeen = false;
    uint64_t lastKeyTime = 0;
    uint64_t lastTime = 0;  // of the last frame encoded
    uint64_t lastDuration = 0;
    uint32_t frames = 0;
    std::deque<VideoFrameTiming> timings;
    uint64_t bytes = 0;  // of the packets so far
    std::string log;  // analysis pass: the encoder's statistics so far
    bool finished = false;
};

struct VideoTrack {
    ObservedStream stream;
    // Input picture as the writer hands it over.
    int inWidth = 0;
    int inHeight = 0;
    bool bottomUp = true;
    int bytesPerPixel = 3;
    uint32_t inStride = 0;
    // An odd width is widened by one black column before conversion.
    bool padColumn = false;
    std::vector<uint8_t> padded;
    uint32_t paddedStride = 0;
    ScalerPtr scaler;
    // Pictures for the encoder. It keeps references to the frames it was given for a while; a
    // pool hands their buffers out again instead of fresh memory for every frame.
    BufferPoolPtr pictures;
    int linesize[4] = {};
    size_t planeSize[4] = {};
    // Encoded picture and time base. The time base is settled when the first encoder opens and
    // kept for every later pass.
    int width = 0;
    int height = 0;
    bool tickKnown = false;
    AVRational tick = {1001, 30000};
    uint64_t nominal = 333667;  // writer units per tick
    ParametersPtr parameters;   // of the writing pass's encoder, once it is open
    // The analysis pass's statistics, kept for the final pass: one log entry per frame.
    std::vector<std::string> statsEntries;
    uint32_t statsFrames = 0;
    uint64_t statsDuration = 0;
    bool statsReady = false;

    VideoPass pass;
};

// Fills `track` from the stream description; no encoder is opened yet.
int32_t PrepareVideoTrack(const ObservedStream& stream, VideoTrack& track);

// True when the stream's rate control works from a bit rate a final pass can aim at.
bool UsesTwoPassStatistics(const ObservedStream& stream);

// Begins a new pass (dropping any pass still open). Its encoder opens with the first frame that
// is encoded, when the time of the frame after it is known. Final needs the statistics of a
// finished analysis pass.
int32_t StartVideoPass(VideoTrack& track, VideoPassKind kind);

// Opens the pass's encoder if no frame has done so, so that `parameters` are there.
int32_t OpenVideoEncoder(VideoTrack& track);

// The first half of a frame, on the thread that hands it over: checks the sample and converts it
// to the encoder's picture format, after which the writer's buffer is no longer needed.
int32_t ConvertVideoFrame(VideoTrack& track, const uint8_t* data, uint32_t size, FramePtr& picture);

// The second half: the converted picture at writer time `time`; packets that come out go to
// `out`. It touches nothing the first half uses, so the two may run on different threads.
int32_t EncodeVideoFrame(VideoTrack& track, FramePtr picture, uint64_t time, uint32_t flags,
                         const PacketOut& out);

// Encodes the held frame, drains the encoder and, after an analysis pass, keeps the statistics.
int32_t FinishVideoPass(VideoTrack& track, const PacketOut& out);

}  // namespace standin
