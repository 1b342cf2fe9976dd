// Pieces the ASF file sink's video and audio tracks share: owners for FFmpeg objects, result
// codes, the writer's time base, and the hand-over of finished packets to the muxer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/wm/wm_types.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace standin {

constexpr AVRational kWriterTimeBase = {1, 10000000};

// An FFmpeg error as a result code: memory and I/O keep their meaning, the rest becomes `other`.
int32_t ResultFromLibrary(int averror, int32_t other);

struct CodecContextFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct BufferPoolFree {
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};
struct FrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerFree {
    void operator()(SwsContext* p) const { sws_freeContext(p); }
};
struct ResamplerFree {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct AudioFifoFree {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct ParametersFree {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
using ParametersPtr = std::unique_ptr<AVCodecParameters, ParametersFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFree>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFree>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;

// Takes an encoded packet whose pts/dts/duration are in `timeBase`; answers a result code.
// An empty function throws the packets away (the analysis pass of a two-pass encode).
using PacketOut = std::function<int32_t(AVPacket* packet, AVRational timeBase)>;

// The stream parameters the muxer needs from an opened encoder.
int32_t CopyParameters(const AVCodecContext* encoder, ParametersPtr& out);

// Sends one frame (or the flush, `frame` null) and passes every packet that comes out to `out`
// (`inspect`, when given, sees each packet first). Answers a result code; `codecError` names
// the encoder's failures.
int32_t EncodeAndDrain(AVCodecContext* encoder, AVFrame* frame, int32_t codecError,
                       const std::function<int32_t(AVPacket*)>& inspect);

// The libraries print their warnings (buffer underflows, rate-control notes) to standard error;
// while one of these is alive on a thread, what they log from it is dropped.
class QuietLibraries {
public:
    QuietLibraries();
    ~QuietLibraries();
    QuietLibraries(const QuietLibraries&) = delete;
    QuietLibraries& operator=(const QuietLibraries&) = delete;
};

}  // namespace standin
