// A clip read with FFmpeg. Video and audio each get their own demuxer so that each can be read
// forward on its own; both decode on demand and keep only the current frame or a short run of
// audio, so memory stays flat however long the clip is. Going back (a second pass starts over)
// seeks to the start and decodes forward again.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/clip_source.h"

namespace {

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

// One stream of one file, opened for decoding.
struct StreamReader {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    bool drained = false;  // the decoder gave its last frame

    ~StreamReader() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    bool Open(const std::string& path, AVMediaType type, std::string& error) {
        int rc = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
        if (rc < 0) {
            error = "cannot open " + path + ": " + AvError(rc);
            return false;
        }
        rc = avformat_find_stream_info(format, nullptr);
        if (rc < 0) {
            error = "cannot read the streams of " + path + ": " + AvError(rc);
            return false;
        }
        const AVCodec* decoder = nullptr;
        stream = av_find_best_stream(format, type, -1, -1, &decoder, 0);
        if (stream < 0) return true;  // no such stream: not an error
        if (!decoder) {
            error = path + ": no decoder for its " + av_get_media_type_string(type) + " stream";
            return false;
        }
        codec = avcodec_alloc_context3(decoder);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (!codec || !packet || !frame) {
            error = "out of memory";
            return false;
        }
        avcodec_parameters_to_context(codec, format->streams[stream]->codecpar);
        codec->pkt_timebase = format->streams[stream]->time_base;
        rc = avcodec_open2(codec, decoder, nullptr);
        if (rc < 0) {
            error = path + ": cannot open the decoder: " + AvError(rc);
            return false;
        }
        return true;
    }

    bool Present() const { return stream >= 0; }

    // The next decoded frame into `frame`; false at the end of the stream (or on a read error,
    // which ends the stream just the same).
    bool Next() {
        while (true) {
            int rc = avcodec_receive_frame(codec, frame);
            if (rc == 0) return true;
            if (rc != AVERROR(EAGAIN) || drained) return false;
            rc = av_read_frame(format, packet);
            if (rc < 0) {
                drained = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index == stream) avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
        }
    }

    // Decodes the whole stream once and counts its samples: packet durations are rounded to the
    // container's time base, the decoded count is what Audio will hand over.
    int64_t CountSamples() {
        int64_t samples = 0;
        while (Next()) {
            samples += frame->nb_samples;
            av_frame_unref(frame);
        }
        Rewind();
        return samples;
    }

    void Rewind() {
        av_seek_frame(format, stream, 0, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec);
        drained = false;
    }

    // The presentation times of the stream's packets (one picture each), in the stream's time base
    // and in order, read without decoding.
    std::vector<int64_t> PacketTimes() {
        std::vector<int64_t> times;
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream) {
                times.push_back(packet->pts != AV_NOPTS_VALUE ? packet->pts
                                : packet->dts != AV_NOPTS_VALUE ? packet->dts
                                : times.empty() ? 0 : times.back() + 1);
            }
            av_packet_unref(packet);
        }
        std::sort(times.begin(), times.end());
        Rewind();
        return times;
    }
};

class DecodedClip : public ClipSource {
public:
    ~DecodedClip() override {
        sws_freeContext(scaler_);
        swr_free(&resampler_);
    }

    bool Open(const std::string& path, bool wantVideo, bool wantAudio, std::string& error) {
        if (wantVideo && !video_.Open(path, AVMEDIA_TYPE_VIDEO, error)) return false;
        if (wantAudio && !audio_.Open(path, AVMEDIA_TYPE_AUDIO, error)) return false;
        if (!video_.Present() && !audio_.Present()) {
            error = path + " has no " + std::string(wantVideo && wantAudio ? "video or audio" : wantVideo ? "video" : "audio") + " stream";
            return false;
        }
        if (video_.Present() && !OpenVideo(path, error)) return false;
        if (audio_.Present() && !OpenAudio(path, error)) return false;
        if (!video_.Present()) {
            // An audio-only job still needs a frame rate for the editor's time line.
            format_.rate = 30;
            format_.scale = 1;
        }
        return true;
    }

    const ClipFormat& Format() const override { return format_; }

    // The editor shows every clip at one constant rate: of a variable-rate clip, frame `index` is
    // the picture on screen at its time, as a constant-rate player shows it (pictures repeat or are
    // skipped); of any other clip, its index-th picture.
    const uint8_t* Frame(int32_t index) override {
        if (times_.empty()) return SourceFrame(index);
        const int64_t at = FrameTime(index) + 1;  // a tick's grace for times rounded by the container
        size_t shown = static_cast<size_t>(std::upper_bound(times_.begin(), times_.end(), at) - times_.begin());
        return SourceFrame(static_cast<int32_t>(shown > 0 ? shown - 1 : 0));
    }

    // The clip's index-th picture in presentation order.
    const uint8_t* SourceFrame(int32_t index) {
        if (index < nextFrame_ - 1) {
            video_.Rewind();
            nextFrame_ = 0;
        }
        // Decode forward to the frame; past the end of the stream the last picture stays.
        while (nextFrame_ <= index && video_.Next()) {
            Convert();
            ++nextFrame_;
        }
        return image_.data();
    }

    const int16_t* Audio(int32_t start, int32_t length, int32_t* delivered) override {
        int32_t available = format_.sampleCount - start;
        int32_t count = start < 0 || available <= 0 ? 0 : (length < available ? length : available);
        const size_t channels = static_cast<size_t>(format_.channels);
        if (count <= 0) {
            *delivered = 0;
            return pcm_.data();
        }
        if (start < pcmStart_) {
            audio_.Rewind();
            swr_init(resampler_);
            pcm_.clear();
            pcmStart_ = 0;
        }
        // Forget what lies before `start`, then decode until the block is there.
        int64_t skip = start - pcmStart_;
        if (skip > 0) {
            size_t drop = std::min(pcm_.size(), static_cast<size_t>(skip) * channels);
            pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<ptrdiff_t>(drop));
            pcmStart_ += static_cast<int64_t>(drop / channels);
        }
        while (pcmStart_ + static_cast<int64_t>(pcm_.size() / channels) < static_cast<int64_t>(start) + count) {
            if (!audio_.Next()) {
                // The stream ended before its announced length: silence up to it, so that the
                // sample count the job announced holds.
                pcm_.resize(static_cast<size_t>(static_cast<int64_t>(start) + count - pcmStart_) * channels, 0);
                break;
            }
            Resample();
        }
        *delivered = count;
        return pcm_.data() + static_cast<size_t>(start - pcmStart_) * channels;
    }

private:
    bool OpenVideo(const std::string& path, std::string& error) {
        AVStream* stream = video_.format->streams[video_.stream];
        AVRational rate = av_guess_frame_rate(video_.format, stream, nullptr);
        if (rate.num <= 0 || rate.den <= 0) rate = AVRational{30, 1};
        av_reduce(&rate.num, &rate.den, rate.num, rate.den, INT32_MAX);
        std::vector<int64_t> times = video_.PacketTimes();
        const int64_t packets = static_cast<int64_t>(times.size());
        if (packets <= 0 || packets > INT32_MAX) {
            error = path + ": the video stream holds no frames";
            return false;
        }
        format_.hasVideo = true;
        format_.width = video_.codec->width;
        format_.height = video_.codec->height;
        format_.rate = rate.num;
        format_.scale = rate.den;
        format_.frameCount = static_cast<int32_t>(packets);
        format_.sourceFrameCount = format_.frameCount;
        timeBase_ = stream->time_base;
        firstTime_ = times.front();
        // A picture more than half a frame away from its place at the constant rate makes the clip
        // variable-rate: its frames are then picked by time, over its whole length (the last
        // picture lasting as long as the one before it).
        const int64_t halfFrame = av_rescale_q(1, AVRational{rate.den, 2 * rate.num}, timeBase_);
        bool variable = false;
        for (int64_t k = 0; k < packets && !variable; ++k) variable = std::llabs(times[k] - FrameTime(k)) > halfFrame;
        if (variable) {
            const int64_t last = packets > 1 ? times[packets - 1] - times[packets - 2] : 0;
            const int64_t frames = av_rescale_q(times.back() + last - firstTime_, timeBase_, AVRational{rate.den, rate.num});
            if (frames <= 0 || frames > INT32_MAX) {
                error = path + ": its variable-rate video is " + std::to_string(frames) + " frames long at " +
                        std::to_string(rate.num) + "/" + std::to_string(rate.den) + " frames a second";
                return false;
            }
            format_.variableRate = true;
            format_.frameCount = static_cast<int32_t>(frames);
            times_ = std::move(times);
        }
        if (format_.width <= 0 || format_.height <= 0) {
            error = path + ": the video stream has no picture size";
            return false;
        }
        std::string problem = JobRecordProblem(true, format_.width, format_.height, 1, 1, 0, false, 0, 0);
        if (!problem.empty()) {
            error = path + ": " + problem;
            return false;
        }
        format_.stride = DibStride(format_.width);
        format_.frameBytes = format_.stride * format_.height;
        image_.assign(static_cast<size_t>(format_.frameBytes), 0);
        return true;
    }

    bool OpenAudio(const std::string& path, std::string& error) {
        AVCodecContext* c = audio_.codec;
        format_.hasAudio = true;
        format_.audioRate = c->sample_rate;
        format_.channels = c->ch_layout.nb_channels;
        if (format_.audioRate <= 0 || format_.channels <= 0) {
            error = path + ": the audio stream has no sample rate or channels";
            return false;
        }
        AVChannelLayout layout;
        av_channel_layout_copy(&layout, &c->ch_layout);
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&layout, format_.channels);
        int rc = swr_alloc_set_opts2(&resampler_, &layout, AV_SAMPLE_FMT_S16, c->sample_rate, &layout, c->sample_fmt,
                                     c->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (rc < 0 || swr_init(resampler_) < 0) {
            error = path + ": cannot convert its audio to 16-bit PCM";
            return false;
        }
        int64_t samples = audio_.CountSamples();
        if (samples > INT32_MAX) {
            error = path + ": its " + std::to_string(samples) +
                    " audio samples are more than the job record's AudioSampleCount holds";
            return false;
        }
        format_.sampleCount = static_cast<int32_t>(samples);
        return true;
    }

    void Convert() {
        AVFrame* f = video_.frame;
        if (!scaler_ || f->width != scalerWidth_ || f->height != scalerHeight_ || f->format != scalerFormat_) {
            sws_freeContext(scaler_);
            scaler_ = sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), format_.width,
                                     format_.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
            scalerWidth_ = f->width;
            scalerHeight_ = f->height;
            scalerFormat_ = f->format;
        }
        if (scaler_) {
            // Bottom-up: start at the last row and step backwards.
            uint8_t* planes[4] = {image_.data() + static_cast<size_t>(format_.height - 1) * format_.stride, nullptr, nullptr, nullptr};
            int strides[4] = {-format_.stride, 0, 0, 0};
            sws_scale(scaler_, f->data, f->linesize, 0, f->height, planes, strides);
        }
        av_frame_unref(f);
    }

    void Resample() {
        AVFrame* f = audio_.frame;
        const size_t channels = static_cast<size_t>(format_.channels);
        int room = swr_get_out_samples(resampler_, f->nb_samples);
        if (room > 0) {
            size_t old = pcm_.size();
            pcm_.resize(old + static_cast<size_t>(room) * channels);
            uint8_t* out[1] = {reinterpret_cast<uint8_t*>(pcm_.data() + old)};
            int got = swr_convert(resampler_, out, room, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
            pcm_.resize(old + static_cast<size_t>(got > 0 ? got : 0) * channels);
        }
        av_frame_unref(f);
    }

    // Frame `index`'s time at the clip's constant rate, in the stream's time base.
    int64_t FrameTime(int64_t index) const {
        return firstTime_ + av_rescale_q(index, AVRational{format_.scale, format_.rate}, timeBase_);
    }

    ClipFormat format_;
    AVRational timeBase_{1, 1};
    int64_t firstTime_ = 0;
    std::vector<int64_t> times_;  // a variable-rate clip's picture times, in order; else empty
    StreamReader video_;
    StreamReader audio_;
    std::vector<uint8_t> image_;
    int32_t nextFrame_ = 0;
    SwsContext* scaler_ = nullptr;
    int scalerWidth_ = 0, scalerHeight_ = 0, scalerFormat_ = -1;
    SwrContext* resampler_ = nullptr;
    std::vector<int16_t> pcm_;
    int64_t pcmStart_ = 0;
};

}  // namespace

std::unique_ptr<ClipSource> OpenDecodedClip(const std::string& path, bool wantVideo, bool wantAudio,
                                            std::string& error) {
    auto clip = std::make_unique<DecodedClip>();
    if (!clip->Open(path, wantVideo, wantAudio, error)) return nullptr;
    return clip;
}
