// The audio track of the ASF file sink: the writer's 16-bit PCM blocks in, wmav2 packets out.
// The track keeps its own sample-exact time line: each block lands at the sample position its
// writer time names, a gap is filled with silence and an overlap is cut, and one frame of
// silence at each end keeps decoders from swallowing real audio.
#pragma once

#include <cstdint>
#include <vector>

#include "asf_common.h"
#include "observer.h"

namespace standin {

struct AudioTrack {
    ObservedStream stream;
    CodecContextPtr encoder;
    ParametersPtr parameters;
    ResamplerPtr resampler;
    AudioFifoPtr fifo;
    int inRate = 0;
    int inChannels = 0;
    int64_t inPosition = 0;  // input samples placed on the time line so far
    int64_t nextPts = 0;     // encoder samples
    std::vector<std::vector<float>> planes;  // resampler output
};

// Opens the encoder at the stream's compressed rate, channels and bit rate (as far as the
// encoder goes) and queues the leading frame of silence; nothing is encoded yet.
int32_t OpenAudioTrack(const ObservedStream& stream, AudioTrack& track);

// How far before 0 the track's first packet lies, in whole milliseconds rounded up: the leading
// frame of silence and the encoder's own delay. Valid once the track is open.
int64_t AudioLeadMs(const AudioTrack& track);

// One block of interleaved 16-bit samples at writer time `time`.
int32_t AddAudioBlock(AudioTrack& track, uint64_t time, const uint8_t* data, uint32_t size,
                      const PacketOut& out);

// The resampler's tail, the closing frame of silence, the last short frame and the flush.
int32_t FinishAudioTrack(AudioTrack& track, const PacketOut& out);

}  // namespace standin
