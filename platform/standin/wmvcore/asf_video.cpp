#include "asf_video.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace standin {
namespace {

constexpr uint32_t kDefaultWindowMs = 5000;
constexpr uint32_t kLongestWindowMs = 100000;
constexpr int kHighestQuantiser = 31;
constexpr int kLargestGop = 600;  // the encoder's own cap

// Rates whose period the writer rounds to whole 100-ns units; matched first so that the encoder
// gets the exact rational (29.97 as 30000/1001, not an approximation of 333667).
constexpr AVRational kCommonTicks[] = {{1001, 24000}, {1, 24},   {1, 25},        {1001, 30000},
                                       {1, 30},       {1, 50},   {1001, 60000},  {1, 60},
                                       {1, 15},       {1001, 15000}, {1, 12},    {1, 10},
                                       {1, 120},      {1001, 120000}, {1, 48},   {1, 100}};

// The longest tick: the rate control's buffer must hold a couple of ticks' worth of bits, which
// a tick of hours would overflow. Slower rates count their frames in several ticks.
constexpr uint64_t kLongestTick = 10 * 10000000ull;

AVRational ChooseTick(uint64_t avgTimePerFrame) {
    if (avgTimePerFrame == 0) return {1001, 30000};
    avgTimePerFrame = std::min(avgTimePerFrame, kLongestTick);
    for (AVRational t : kCommonTicks) {
        int64_t period = av_rescale(10000000, t.num, t.den);
        if (std::llabs(period - static_cast<int64_t>(avgTimePerFrame)) <= 1) return t;
    }
    int num = 0, den = 0;
    av_reduce(&num, &den, static_cast<int64_t>(avgTimePerFrame), 10000000, 65535);
    if (num <= 0 || den <= 0) return {1001, 30000};
    return {num, den};
}

double FramesPerSecond(AVRational tick) { return static_cast<double>(tick.den) / tick.num; }

uint32_t WindowMs(uint32_t ms) {
    if (ms == 0 || ms == 0xFFFFFFFFu) return kDefaultWindowMs;
    return std::min(ms, kLongestWindowMs);
}

int QuantiserForQuality(uint32_t quality) {
    int q = kHighestQuantiser - static_cast<int>(std::lround(std::min(quality, 100u) * 30.0 / 100.0));
    return std::clamp(q, 1, kHighestQuantiser);
}

bool UsesQuality(const ObservedStream& s) { return s.vbr && !UsesTwoPassStatistics(s); }

// The fewest bits the final pass can plan for this log: every frame at the highest quantiser
// (intra frames at 0.8 of it, the encoder's default intra factor). Below that the rate control
// refuses to open, and that failure is the one the library cannot clean up after.
double LeastFinalPassBits(const std::string& log, uint32_t* entries) {
    const double highest = kHighestQuantiser * FF_QP2LAMBDA;
    const double highestIntra = static_cast<int>(highest * 0.8 + 0.5);
    double bits = 0;
    uint32_t n = 0;
    const char* p = log.c_str();
    while (const char* in = std::strstr(p, "in:")) {
        int type = 0, itex = 0, ptex = 0, mv = 0, misc = 0;
        float q = 0;
        if (std::sscanf(in, "in:%*d out:%*d type:%d q:%f itex:%d ptex:%d mv:%d misc:%d", &type, &q,
                        &itex, &ptex, &mv, &misc) != 6) {
            return -1;
        }
        double top = type == AV_PICTURE_TYPE_I ? highestIntra : highest;
        bits += q * (itex + ptex + 1.0) / top + mv + misc;
        ++n;
        const char* end = std::strchr(in, ';');
        if (!end) return -1;
        p = end + 1;
    }
    *entries = n;
    return bits;
}

// The log entries of one analysis pass ("in:N out:N type:T …;"), one per frame.
std::vector<std::string> SplitLog(const std::string& log) {
    std::vector<std::string> entries;
    size_t start = 0;
    for (size_t end = log.find(';'); end != std::string::npos; end = log.find(';', start)) {
        size_t first = log.find_first_not_of(" \n", start);
        if (first < end) entries.push_back(log.substr(first, end + 1 - first));
        start = end + 1;
    }
    return entries;
}

int EntryPictureType(const std::string& entry) {
    size_t at = entry.find("type:");
    int type = 0;
    return at != std::string::npos && std::sscanf(entry.c_str() + at, "type:%d", &type) == 1 ? type : 0;
}

// The log a final-pass encoder reads: the entries from `first` on, numbered from 0 as a fresh
// encoder counts its pictures.
std::string FinalPassLog(const std::vector<std::string>& entries, size_t first) {
    std::string log;
    for (size_t k = first; k < entries.size(); ++k) {
        size_t at = entries[k].find("type:");
        if (at == std::string::npos) continue;
        std::string number = std::to_string(k - first);
        log += "in:" + number + " out:" + number + " " + entries[k].substr(at) + "\n";
    }
    return log;
}

// Rate fields for one pass. `scale` turns the real time line into the frame count the final
// pass plans with.
void ApplyRateControl(AVCodecContext* c, const ObservedStream& s, VideoPassKind kind, double scale,
                      int64_t* baseMaxRate) {
    *baseMaxRate = 0;
    if (UsesQuality(s)) {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * QuantiserForQuality(s.vbrQuality);
        c->bit_rate = s.bitrate;  // for the header only
        return;
    }
    int64_t rate = s.bitrate;
    int64_t maxRate = 0;
    int64_t buffer = 0;
    if (kind != VideoPassKind::Analysis) {
        if (!s.vbr) {
            maxRate = rate;
            buffer = rate * WindowMs(s.bufferWindowMs) / 1000;
        } else if (s.peakBitrate > 0) {
            maxRate = std::max<int64_t>(s.peakBitrate, rate);
            buffer = maxRate * WindowMs(s.peakBufferMs ? s.peakBufferMs : s.bufferWindowMs) / 1000;
        }
    }
    if (kind == VideoPassKind::Final) {
        rate = std::llround(rate * scale);
        maxRate = std::llround(maxRate * scale);
        buffer = std::llround(buffer * scale);
    }
    if (maxRate > 0) {
        // The buffer must hold a couple of frames, or the encoder refuses to open.
        buffer = std::max<int64_t>(buffer, std::llround(2 * maxRate / FramesPerSecond(c->time_base)));
        c->rc_max_rate = maxRate;
        c->rc_buffer_size = static_cast<int>(std::min<int64_t>(buffer, INT32_MAX));
        if (kind == VideoPassKind::Single) *baseMaxRate = maxRate;
    }
    c->bit_rate = rate;
    // The default tolerance (4 Mbit) lets low rates drift by 10% and more; half a second of the
    // target keeps the running total close to it in both passes.
    c->bit_rate_tolerance = static_cast<int>(std::min<int64_t>(std::max<int64_t>(rate / 2, 1), INT32_MAX));
}

// Raises the final pass's target to what the statistics show it can reach.
void KeepFinalTargetReachable(AVCodecContext* c, const std::string& log) {
    uint32_t entries = 0;
    double least = LeastFinalPassBits(log, &entries);
    if (least <= 0 || entries == 0) return;
    double seconds = entries / FramesPerSecond(c->time_base);
    double available = c->bit_rate * seconds;
    if (available >= least * 1.05) return;
    int64_t rate = std::llround(least * 1.1 / seconds);
    if (c->rc_max_rate > 0 && c->rc_max_rate < rate) {
        c->rc_buffer_size = static_cast<int>(
            std::min<int64_t>(av_rescale(c->rc_buffer_size, rate, c->rc_max_rate), INT32_MAX));
        c->rc_max_rate = rate;
    }
    c->bit_rate = rate;
    // The default tolerance (4 Mbit) lets low rates drift by 10% and more; half a second of the
    // target keeps the running total close to it in both passes.
    c->bit_rate_tolerance = static_cast<int>(std::min<int64_t>(std::max<int64_t>(rate / 2, 1), INT32_MAX));
}

int32_t ConvertFrame(VideoTrack& t, const uint8_t* data, FramePtr& out) {
    FramePtr f(av_frame_alloc());
    if (!f) return E_OUTOFMEMORY;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = t.width;
    f->height = t.height;
    f->buf[0] = av_buffer_pool_get(t.pictures.get());
    if (!f->buf[0]) return E_OUTOFMEMORY;
    uint8_t* plane = f->buf[0]->data;
    for (int i = 0; i < 3; ++i) {
        f->data[i] = plane;
        f->linesize[i] = t.linesize[i];
        plane += t.planeSize[i];
    }

    const uint8_t* base = data;
    int stride = static_cast<int>(t.inStride);
    if (t.padColumn) {
        size_t row = static_cast<size_t>(t.inWidth) * t.bytesPerPixel;
        for (int y = 0; y < t.inHeight; ++y) {
            std::memcpy(&t.padded[static_cast<size_t>(y) * t.paddedStride],
                        data + static_cast<size_t>(y) * t.inStride, row);
        }
        base = t.padded.data();
        stride = static_cast<int>(t.paddedStride);
    }
    const uint8_t* src[4] = {base, nullptr, nullptr, nullptr};
    int srcStride[4] = {stride, 0, 0, 0};
    if (t.bottomUp) {  // first row in memory is the bottom of the picture
        src[0] = base + static_cast<size_t>(t.inHeight - 1) * stride;
        srcStride[0] = -stride;
    }
    sws_scale(t.scaler.get(), src, srcStride, 0, t.inHeight, f->data, f->linesize);
    out = std::move(f);
    return 0;
}

int32_t TakePacket(VideoPass& p, AVPacket* packet, const PacketOut& out) {
    while (!p.timings.empty() && p.timings.front().pts < packet->pts) p.timings.pop_front();
    if (p.timings.empty() || p.timings.front().pts != packet->pts) return E_FAIL;
    VideoFrameTiming timing = p.timings.front();
    p.timings.pop_front();
    // The analysis pass's log: one entry per frame, written while the frame was encoded.
    if (p.kind == VideoPassKind::Analysis && p.encoder->stats_out) p.log += p.encoder->stats_out;
    p.bytes += static_cast<uint64_t>(packet->size);
    if (packet->flags & AV_PKT_FLAG_KEY) {
        p.keySeen = true;
        p.lastKeyTime = timing.time;
    }
    if (!out) return 0;
    packet->pts = packet->dts = static_cast<int64_t>(timing.time);
    packet->duration = static_cast<int64_t>(timing.duration);
    return out(packet, kWriterTimeBase);
}

// The frame period the encoder counts in. Streams usually declare none (AvgTimePerFrame 0) and
// the period must come from the time stamps: a kept frame lasts one or 5/4 nominal periods, so
// four fifths of the first frame's duration is never longer than any later frame. A period
// shorter than the nominal one only changes the unit the rate control counts time in.
uint64_t NominalPeriod(const VideoTrack& t, const uint64_t* next) {
    if (t.stream.avgTimePerFrame > 0) return t.stream.avgTimePerFrame;
    if (next && *next > t.pass.heldTime) return (*next - t.pass.heldTime) * 4 / 5;
    return 0;
}

// Opens the encoder of the current pass; `next` is the time of the second frame when known. A
// final pass reads the analysis log from entry `firstEntry` on: 0 for the pass's first encoder,
// the held frame's entry for one that takes over at a clean point.
int32_t OpenPassEncoder(VideoTrack& t, const uint64_t* next, uint32_t firstEntry = 0) {
    VideoPassKind kind = t.pass.kind;
    if (!t.tickKnown) {
        t.tick = ChooseTick(NominalPeriod(t, next));
        t.nominal = static_cast<uint64_t>(av_rescale(10000000, t.tick.num, t.tick.den));
        t.tickKnown = true;
    }

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
    if (!codec) return NS_E_VIDEO_CODEC_ERROR;
    CodecContextPtr c(avcodec_alloc_context3(codec));
    if (!c) return E_OUTOFMEMORY;
    c->width = t.width;
    c->height = t.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // Ticks of the nominal frame period: the rate control counts time in them.
    c->time_base = t.tick;
    c->framerate = av_inv_q(t.tick);
    c->gop_size = kLargestGop;
    c->max_b_frames = 0;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (t.stream.aspectX > 0 && t.stream.aspectY > 0) {
        c->sample_aspect_ratio = {static_cast<int>(std::min<uint32_t>(t.stream.aspectX, INT32_MAX)),
                                  static_cast<int>(std::min<uint32_t>(t.stream.aspectY, INT32_MAX))};
    }
    double scale = 1.0;
    std::string log;
    if (kind == VideoPassKind::Final) {
        // The final pass plans bit rate × frames ÷ nominal rate; the real time line of the frames
        // it has left is what counts.
        uint64_t start = firstEntry > 0 ? t.pass.heldTime : 0;
        uint32_t frames = t.statsFrames - firstEntry;
        if (start >= t.statsDuration || frames == 0) {
            start = 0;
            frames = t.statsFrames;
        }
        scale = ((t.statsDuration - start) / 1e7) * FramesPerSecond(t.tick) / frames;
        if (start > 0 && t.stream.bitrate > 0) {
            // A taking-over encoder knows nothing of the bits already spent (key frames the plan
            // did not foresee cost more): it aims at what is left of the whole pass's budget.
            double budget = t.stream.bitrate * (t.statsDuration / 1e7);
            double planned = t.stream.bitrate * ((t.statsDuration - start) / 1e7);
            scale *= std::clamp((budget - t.pass.bytes * 8.0) / planned, 0.5, 1.5);
        }
        log = FinalPassLog(t.statsEntries, firstEntry);
    }
    ApplyRateControl(c.get(), t.stream, kind, scale, &t.pass.baseMaxRate);
    if (kind == VideoPassKind::Analysis) c->flags |= AV_CODEC_FLAG_PASS1;
    if (kind == VideoPassKind::Final) {
        c->flags |= AV_CODEC_FLAG_PASS2;
        KeepFinalTargetReachable(c.get(), log);
        c->stats_in = log.data();  // the rate control writes into it while reading
    }
    // Key frames only where asked for (or at the encoder's own cap), never at scene changes.
    av_opt_set_int(c->priv_data, "sc_threshold", 1000000000, 0);

    int rc = avcodec_open2(c.get(), codec, nullptr);
    c->stats_in = nullptr;  // not the context's to free
    if (rc < 0) return ResultFromLibrary(rc, NS_E_VIDEO_CODEC_ERROR);
    if (kind != VideoPassKind::Analysis && firstEntry == 0) {
        int32_t hr = CopyParameters(c.get(), t.parameters);
        if (hr < 0) return hr;
    }
    t.pass.encoder = std::move(c);
    return 0;
}

// Encodes the held frame, now that the time of the one after it is known (`next` null at the end).
int32_t EncodeHeldFrame(VideoTrack& t, const uint64_t* next, const PacketOut& out) {
    VideoPass& p = t.pass;
    if (!p.encoder) {
        int32_t hr = OpenPassEncoder(t, next);
        if (hr < 0) return hr;
    } else if (p.kind == VideoPassKind::Final && p.heldClean && p.frames < t.statsFrames &&
               EntryPictureType(t.statsEntries[p.frames]) != AV_PICTURE_TYPE_I) {
        // The final pass takes every picture type from the analysis log, and the analysis pass
        // saw no clean points (preprocessing samples carry none). A fresh encoder begins with a
        // key frame: one takes over here with the rest of the log.
        int32_t hr = EncodeAndDrain(p.encoder.get(), nullptr, NS_E_VIDEO_CODEC_ERROR,
                                    [&](AVPacket* packet) { return TakePacket(p, packet, out); });
        p.encoder.reset();
        if (hr >= 0) hr = OpenPassEncoder(t, next, p.frames);
        if (hr < 0) return hr;
    }
    AVFrame* f = p.held.get();
    uint64_t duration = next && *next > p.heldTime ? *next - p.heldTime : t.nominal;

    // A key frame where the writer marked a clean point, and where waiting for the next frame
    // would stretch the distance from the last key frame beyond the stream's limit.
    bool key = !p.keySeen || p.heldClean;
    if (t.stream.maxKeyFrameSpacing > 0 && next && *next - p.lastKeyTime > t.stream.maxKeyFrameSpacing) {
        key = true;
    }
    f->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

    int64_t pts = av_rescale_q(static_cast<int64_t>(p.heldTime), kWriterTimeBase, t.tick);
    if (p.anyFrame && pts <= p.lastPts) pts = p.lastPts + 1;
    f->pts = pts;
    if (UsesQuality(t.stream)) f->quality = p.encoder->global_quality;
    if (p.baseMaxRate > 0) {
        // The buffer model fills at the peak rate for one nominal frame per frame; long frames
        // get the bits their real duration brings.
        double share = std::clamp(static_cast<double>(duration) / t.nominal, 0.25, 4.0);
        p.encoder->rc_max_rate = std::llround(p.baseMaxRate * share);
    }
    p.timings.push_back({pts, p.heldTime, duration});
    p.lastPts = pts;
    p.anyFrame = true;
    p.lastTime = p.heldTime;
    p.lastDuration = duration;
    ++p.frames;

    int32_t hr = EncodeAndDrain(p.encoder.get(), f, NS_E_VIDEO_CODEC_ERROR,
                                [&](AVPacket* packet) { return TakePacket(p, packet, out); });
    p.held.reset();
    return hr;
}

}  // namespace

bool UsesTwoPassStatistics(const ObservedStream& s) {
    if (!s.vbr) return true;  // CBR, with or without a preprocessing pass
    return s.formatPasses >= 2 || s.passes >= 2;
}

int32_t PrepareVideoTrack(const ObservedStream& s, VideoTrack& t) {
    t.stream = s;
    if (s.inWidth <= 0 || s.inHeight == 0) return NS_E_INVALID_INPUT_FORMAT;
    if (s.inBitCount != 24 && s.inBitCount != 32) return NS_E_INVALID_INPUT_FORMAT;
    t.inWidth = s.inWidth;
    t.inHeight = std::abs(s.inHeight);
    t.bottomUp = s.inHeight > 0;
    t.bytesPerPixel = static_cast<int>(s.inBitCount / 8);
    t.inStride = ((static_cast<uint32_t>(t.inWidth) * s.inBitCount + 31) / 32) * 4;

    int width = s.width > 0 ? s.width : t.inWidth;
    int height = s.height != 0 ? std::abs(s.height) : t.inHeight;
    int srcWidth = t.inWidth;
    t.padColumn = (width & 1) && width == t.inWidth && height == t.inHeight;
    if (t.padColumn) {
        srcWidth = t.inWidth + 1;
        t.paddedStride = static_cast<uint32_t>(FFALIGN(srcWidth * t.bytesPerPixel, 32));
        t.padded.assign(static_cast<size_t>(t.paddedStride) * t.inHeight, 0);  // the column stays black
    }
    t.width = width + (width & 1);  // the encoder takes even widths only
    t.height = height;
    AVPixelFormat format = t.bytesPerPixel == 3 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGR0;
    t.scaler.reset(sws_getContext(srcWidth, t.inHeight, format, t.width, t.height, AV_PIX_FMT_YUV420P,
                                  SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!t.scaler) return NS_E_VIDEO_CODEC_ERROR;

    if (av_image_fill_linesizes(t.linesize, AV_PIX_FMT_YUV420P, FFALIGN(t.width, 64)) < 0) return E_FAIL;
    ptrdiff_t linesizes[4] = {t.linesize[0], t.linesize[1], t.linesize[2], 0};
    if (av_image_fill_plane_sizes(t.planeSize, AV_PIX_FMT_YUV420P, t.height, linesizes) < 0) return E_FAIL;
    size_t bytes = t.planeSize[0] + t.planeSize[1] + t.planeSize[2] + 64;
    if (bytes > INT32_MAX) return NS_E_INVALID_INPUT_FORMAT;
    t.pictures.reset(av_buffer_pool_init(bytes, av_buffer_alloc));
    if (!t.pictures) return E_OUTOFMEMORY;
    return 0;
}

int32_t StartVideoPass(VideoTrack& t, VideoPassKind kind) {
    if (kind == VideoPassKind::Final && (!t.statsReady || t.statsFrames == 0)) return NS_E_INVALID_REQUEST;
    t.pass = VideoPass();
    t.pass.kind = kind;
    return 0;
}

int32_t OpenVideoEncoder(VideoTrack& t) { return t.parameters || t.pass.encoder ? 0 : OpenPassEncoder(t, nullptr); }

int32_t ConvertVideoFrame(VideoTrack& t, const uint8_t* data, uint32_t size, FramePtr& picture) {
    if (t.pass.finished) return NS_E_INVALID_REQUEST;
    if (!data || size < static_cast<uint64_t>(t.inStride) * t.inHeight) return E_INVALIDARG;
    return ConvertFrame(t, data, picture);
}

int32_t EncodeVideoFrame(VideoTrack& t, FramePtr picture, uint64_t time, uint32_t flags, const PacketOut& out) {
    if (t.pass.held) {
        int32_t hr = EncodeHeldFrame(t, &time, out);
        if (hr < 0) return hr;
    }
    t.pass.held = std::move(picture);
    t.pass.heldTime = time;
    t.pass.heldClean = (flags & WM_SF_CLEANPOINT) != 0;
    return 0;
}

int32_t FinishVideoPass(VideoTrack& t, const PacketOut& out) {
    VideoPass& p = t.pass;
    if (p.finished) return 0;
    p.finished = true;
    int32_t hr = 0;
    if (p.held) hr = EncodeHeldFrame(t, nullptr, out);
    if (!p.encoder) {  // no frame in this pass
        if (p.kind == VideoPassKind::Analysis) t.statsReady = false;
        return hr;
    }
    if (hr >= 0) {
        hr = EncodeAndDrain(p.encoder.get(), nullptr, NS_E_VIDEO_CODEC_ERROR,
                            [&](AVPacket* packet) { return TakePacket(p, packet, out); });
    }
    if (hr >= 0 && p.kind == VideoPassKind::Analysis) {
        t.statsEntries = SplitLog(p.log);
        t.statsFrames = static_cast<uint32_t>(std::min<size_t>(t.statsEntries.size(), p.frames));
        t.statsDuration = p.frames ? p.lastTime + p.lastDuration : 0;
        t.statsReady = true;
    }
    p.encoder.reset();
    return hr;
}

}  // namespace standin
