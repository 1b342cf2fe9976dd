#include "asf_audio.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace standin {
namespace {

constexpr int kHighestRate = 48000;  // the encoder's limits
constexpr int kMostChannels = 2;
constexpr int64_t kLowestBitrate = 24000;
constexpr int kSilenceChunk = 4096;  // input samples per resampler call when filling a gap

// Encodes every whole frame waiting in the queue; `last` also sends a short remainder.
int32_t DrainFifo(AudioTrack& t, bool last, const PacketOut& out) {
    AVCodecContext* c = t.encoder.get();
    for (;;) {
        int waiting = av_audio_fifo_size(t.fifo.get());
        int n = std::min(waiting, c->frame_size);
        if (n == 0 || (n < c->frame_size && !last)) return 0;
        FramePtr f(av_frame_alloc());
        if (!f) return E_OUTOFMEMORY;
        f->format = c->sample_fmt;
        f->nb_samples = n;
        f->sample_rate = c->sample_rate;
        int rc = av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
        if (rc >= 0) rc = av_frame_get_buffer(f.get(), 0);
        if (rc < 0) return ResultFromLibrary(rc, E_FAIL);
        if (av_audio_fifo_read(t.fifo.get(), reinterpret_cast<void**>(f->data), n) != n) return E_FAIL;
        f->pts = t.nextPts;
        t.nextPts += n;
        int32_t hr = EncodeAndDrain(c, f.get(), NS_E_AUDIO_CODEC_ERROR, [&](AVPacket* packet) {
            return out ? out(packet, c->time_base) : 0;
        });
        if (hr < 0) return hr;
    }
}

// Runs `count` input samples (null: the resampler's tail) through the resampler into the queue.
int32_t Resample(AudioTrack& t, const int16_t* samples, int count) {
    int room = swr_get_out_samples(t.resampler.get(), count);
    if (room < 0) return ResultFromLibrary(room, NS_E_AUDIO_CODEC_ERROR);
    if (room == 0) return 0;
    std::vector<uint8_t*> outPlanes;
    for (auto& plane : t.planes) {
        if (plane.size() < static_cast<size_t>(room)) plane.resize(room);
        outPlanes.push_back(reinterpret_cast<uint8_t*>(plane.data()));
    }
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
    int made = swr_convert(t.resampler.get(), outPlanes.data(), room, samples ? in : nullptr, count);
    if (made < 0) return ResultFromLibrary(made, NS_E_AUDIO_CODEC_ERROR);
    if (made > 0 &&
        av_audio_fifo_write(t.fifo.get(), reinterpret_cast<void**>(outPlanes.data()), made) != made) {
        return E_OUTOFMEMORY;
    }
    return 0;
}

int32_t QueueSilence(AudioTrack& t, int samples) {
    std::vector<float> zero(static_cast<size_t>(samples), 0.0f);
    std::vector<void*> planes(t.planes.size(), zero.data());
    return av_audio_fifo_write(t.fifo.get(), planes.data(), samples) == samples ? 0 : E_OUTOFMEMORY;
}

int SetEvenMix(SwrContext* swr, int in, int out) {
    std::vector<double> matrix(static_cast<size_t>(in) * static_cast<size_t>(out), 0.0);
    std::vector<int> fed(static_cast<size_t>(out), 0);
    for (int i = 0; i < in; ++i) ++fed[static_cast<size_t>(i % out)];
    for (int i = 0; i < in; ++i) {
        const int o = i % out;
        matrix[static_cast<size_t>(o) * static_cast<size_t>(in) + static_cast<size_t>(i)] = 1.0 / fed[static_cast<size_t>(o)];
    }
    return swr_set_matrix(swr, matrix.data(), in);
}

}  // namespace

int32_t OpenAudioTrack(const ObservedStream& s, AudioTrack& t) {
    t.stream = s;
    if (s.inBitsPerSample != 16 || s.inChannels == 0 || s.inSampleRate == 0) return NS_E_INVALID_INPUT_FORMAT;
    t.inRate = static_cast<int>(s.inSampleRate);
    t.inChannels = static_cast<int>(s.inChannels);

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec) return NS_E_AUDIO_CODEC_ERROR;
    CodecContextPtr c(avcodec_alloc_context3(codec));
    if (!c) return E_OUTOFMEMORY;
    int rate = static_cast<int>(s.sampleRate ? s.sampleRate : s.inSampleRate);
    int channels = static_cast<int>(s.channels ? s.channels : s.inChannels);
    // A quality-VBR format's nAvgBytesPerSec is no rate (0x7FFFFF00 | quality).
    const bool quality = s.avgBytesPerSec >= 0x7FFFFF00u;
    int64_t bitrate = s.bitrate ? s.bitrate : quality ? 0 : static_cast<int64_t>(s.avgBytesPerSec) * 8;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = std::min(rate, kHighestRate);
    av_channel_layout_default(&c->ch_layout, std::clamp(channels, 1, kMostChannels));
    c->bit_rate = std::max(bitrate, kLowestBitrate);
    c->time_base = {1, c->sample_rate};
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(c.get(), codec, nullptr);
    if (rc < 0) return ResultFromLibrary(rc, NS_E_AUDIO_CODEC_ERROR);

    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, t.inChannels);
    SwrContext* swr = nullptr;
    rc = swr_alloc_set_opts2(&swr, &c->ch_layout, AV_SAMPLE_FMT_FLTP, c->sample_rate, &inLayout,
                             AV_SAMPLE_FMT_S16, t.inRate, 0, nullptr);
    const bool unnamed = inLayout.order == AV_CHANNEL_ORDER_UNSPEC;
    av_channel_layout_uninit(&inLayout);
    t.resampler.reset(swr);
    // FFmpeg names layouts of 1 to 8, 16 and 24 channels only and cannot mix the others down by
    // itself: their channels go to left and right in turn, at equal weight.
    if (rc >= 0 && unnamed) rc = SetEvenMix(swr, t.inChannels, c->ch_layout.nb_channels);
    if (rc >= 0) rc = swr_init(swr);
    if (rc < 0) return ResultFromLibrary(rc, NS_E_AUDIO_CODEC_ERROR);

    t.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, c->ch_layout.nb_channels, c->frame_size * 2));
    if (!t.fifo) return E_OUTOFMEMORY;
    t.planes.assign(static_cast<size_t>(c->ch_layout.nb_channels), {});
    // The decoder drops what precedes its first whole frame: lead in with one frame of silence,
    // so the first real sample still sits at time 0.
    t.nextPts = -c->frame_size;
    int32_t hr = CopyParameters(c.get(), t.parameters);
    if (hr < 0) return hr;
    t.encoder = std::move(c);
    return QueueSilence(t, t.encoder->frame_size);
}

int64_t AudioLeadMs(const AudioTrack& t) {
    const AVCodecContext* c = t.encoder.get();
    if (!c) return 0;
    const int64_t samples = c->frame_size + c->initial_padding;
    return (samples * 1000 + c->sample_rate - 1) / c->sample_rate;
}

int32_t AddAudioBlock(AudioTrack& t, uint64_t time, const uint8_t* data, uint32_t size,
                      const PacketOut& out) {
    if (!t.encoder) return NS_E_INVALID_REQUEST;
    if (!data && size) return E_INVALIDARG;
    int64_t count = size / (2 * t.inChannels);
    const int16_t* samples = reinterpret_cast<const int16_t*>(data);
    // The writer stamps floor(position × 10^7 / rate); rounding to nearest recovers the position.
    int64_t position = av_rescale(static_cast<int64_t>(time), t.inRate, 10000000);

    if (position > t.inPosition) {  // the host left a gap: silence keeps later audio in place
        std::vector<int16_t> zero(static_cast<size_t>(kSilenceChunk) * t.inChannels, 0);
        while (position > t.inPosition) {
            int n = static_cast<int>(std::min<int64_t>(kSilenceChunk, position - t.inPosition));
            int32_t hr = Resample(t, zero.data(), n);
            if (hr >= 0) hr = DrainFifo(t, false, out);
            if (hr < 0) return hr;
            t.inPosition += n;
        }
    } else if (position < t.inPosition) {  // overlaps what is already placed: cut the overlap
        int64_t skip = std::min(count, t.inPosition - position);
        samples += skip * t.inChannels;
        count -= skip;
    }
    while (count > 0) {
        int n = static_cast<int>(std::min<int64_t>(count, 1 << 20));
        int32_t hr = Resample(t, samples, n);
        if (hr >= 0) hr = DrainFifo(t, false, out);
        if (hr < 0) return hr;
        samples += static_cast<int64_t>(n) * t.inChannels;
        count -= n;
        t.inPosition += n;
    }
    return 0;
}

int32_t FinishAudioTrack(AudioTrack& t, const PacketOut& out) {
    if (!t.encoder) return NS_E_INVALID_REQUEST;
    int32_t hr = Resample(t, nullptr, 0);
    // Trailing silence: the decoder never gives out the last, partial frame.
    if (hr >= 0) hr = QueueSilence(t, t.encoder->frame_size);
    if (hr >= 0) hr = DrainFifo(t, true, out);
    if (hr >= 0) {
        hr = EncodeAndDrain(t.encoder.get(), nullptr, NS_E_AUDIO_CODEC_ERROR, [&](AVPacket* packet) {
            return out ? out(packet, t.encoder->time_base) : 0;
        });
    }
    t.encoder.reset();
    return hr;
}

}  // namespace standin
