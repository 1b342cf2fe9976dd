#include "asf_common.h"

#include <cerrno>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace standin {

int32_t ResultFromLibrary(int averror, int32_t other) {
    if (averror == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    if (averror == AVERROR(EIO) || averror == AVERROR(ENOSPC) || averror == AVERROR(EPIPE) ||
        averror == AVERROR(EFBIG) || averror == AVERROR(EDQUOT) || averror == AVERROR(EACCES) ||
        averror == AVERROR(ENOENT) || averror == AVERROR(EROFS) || averror == AVERROR(EISDIR) ||
        averror == AVERROR(ENOTDIR)) {
        return NS_E_FILE_WRITE;
    }
    return other;
}

int32_t CopyParameters(const AVCodecContext* encoder, ParametersPtr& out) {
    ParametersPtr p(avcodec_parameters_alloc());
    if (!p) return E_OUTOFMEMORY;
    int rc = avcodec_parameters_from_context(p.get(), encoder);
    if (rc < 0) return ResultFromLibrary(rc, E_FAIL);
    out = std::move(p);
    return 0;
}

int32_t EncodeAndDrain(AVCodecContext* encoder, AVFrame* frame, int32_t codecError,
                       const std::function<int32_t(AVPacket*)>& inspect) {
    int rc = avcodec_send_frame(encoder, frame);
    if (rc < 0) return ResultFromLibrary(rc, codecError);
    PacketPtr packet(av_packet_alloc());
    if (!packet) return E_OUTOFMEMORY;
    for (;;) {
        rc = avcodec_receive_packet(encoder, packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
        if (rc < 0) return ResultFromLibrary(rc, codecError);
        int32_t hr = inspect ? inspect(packet.get()) : 0;
        av_packet_unref(packet.get());
        if (hr < 0) return hr;
    }
}

namespace {

thread_local int quietDepth = 0;

void FilterLog(void* avcl, int level, const char* format, va_list args) {
    if (quietDepth > 0) return;
    av_log_default_callback(avcl, level, format, args);
}

}  // namespace

QuietLibraries::QuietLibraries() {
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(FilterLog); });
    ++quietDepth;
}

QuietLibraries::~QuietLibraries() { --quietDepth; }

}  // namespace standin
