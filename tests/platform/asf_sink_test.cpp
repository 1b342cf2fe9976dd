// The ASF file sink driven directly through the writer's observer events with generated frames
// and audio; the files are judged by ffprobe and ffmpeg, not by anything of ours.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/standin/leaks.h"
#include "platform/standin/wmvcore/asf_sink.h"
#include "platform/wm/wm_types.h"
#include "tests/common/media_probe.h"

namespace {

using standin::ObservedSession;
using standin::ObservedStream;
using standin::WriterObserver;

constexpr int64_t kSecond = 10000000;

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "asf-sink-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path_ = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

ObservedStream VideoStream(int width, int height) {
    ObservedStream s;
    s.input = 1;  // the writer's numbering, not the profile's
    s.isVideo = true;
    s.connectionName = u"TamselVideo1";
    s.streamName = u"Video0";
    s.streamNumber = 1;
    s.fourcc = 0x33564D57;
    s.bitrate = 500000;
    s.bufferWindowMs = 5000;
    s.width = width;
    s.height = height;
    s.avgTimePerFrame = 0;  // streams declare no frame rate; the times tell it
    s.inWidth = width;
    s.inHeight = height;
    s.inBitCount = 24;
    return s;
}

ObservedStream AudioStream(uint32_t inRate, uint32_t inChannels, uint32_t rate, uint32_t channels) {
    ObservedStream s;
    s.input = 0;
    s.connectionName = u"TamselAudio1";
    s.streamName = u"Audio1";
    s.streamNumber = 2;
    s.fourcc = 0x0161;
    s.bitrate = 64000;
    s.sampleRate = rate;
    s.channels = channels;
    s.bitsPerSample = 16;
    s.avgBytesPerSec = 8000;
    s.inSampleRate = inRate;
    s.inChannels = inChannels;
    s.inBitsPerSample = 16;
    return s;
}

// A kept frame on the variable time line, as the delivery stamps it.
struct KeptFrame {
    int host = 0;         // the host's frame number
    uint64_t time = 0;    // writer units
    uint64_t duration = 0;
};

// Codes repeat over `frames` host frames: 'D' dropped, '2' lasts 5/4, others nominal (30000/1001).
std::vector<KeptFrame> TimeLine(const std::string& codes, int frames) {
    std::vector<KeptFrame> kept;
    int64_t quarters = 0;  // quarter ticks so far
    auto at = [](int64_t q) { return static_cast<uint64_t>(q * 1001 * kSecond / (4 * 30000)); };
    for (int i = 0; i < frames; ++i) {
        char c = codes[i % codes.size()];
        if (c == 'D') continue;
        int64_t len = c == '2' ? 5 : 4;
        kept.push_back({i, at(quarters), at(quarters + len) - at(quarters)});
        quarters += len;
    }
    return kept;
}

double Seconds(const std::vector<KeptFrame>& kept) {
    return (kept.back().time + kept.back().duration) / 1e7;
}

// Bottom-up BGR24 rows padded to 4 bytes, filled by `pixel(x, y_from_top)`.
std::vector<uint8_t> Picture(int width, int height, const std::function<void(int, int, uint8_t*)>& pixel) {
    int stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> data(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &data[static_cast<size_t>(height - 1 - y) * stride];
        for (int x = 0; x < width; ++x) pixel(x, y, row + 3 * x);
    }
    return data;
}

// A moving pattern under fresh noise every frame: the encoder has real work to do.
std::vector<uint8_t> BusyPicture(int width, int height, int n) {
    uint32_t seed = 2166136261u ^ static_cast<uint32_t>(n * 16777619u);
    return Picture(width, height, [&](int x, int y, uint8_t* bgr) {
        seed = seed * 1664525u + 1013904223u;
        int noise = static_cast<int>(seed >> 27) - 16;
        int base = ((x + 3 * n) / 16 + (y + n) / 16) % 2 ? 180 : 60;
        bgr[0] = static_cast<uint8_t>(std::clamp(base + noise, 0, 255));
        bgr[1] = static_cast<uint8_t>(std::clamp((x * 255) / width + noise, 0, 255));
        bgr[2] = static_cast<uint8_t>(std::clamp(((y + 2 * n) * 255 / height) % 256 + noise, 0, 255));
    });
}

// Host audio for frames [first, last): silence with a 10 ms full-scale tone burst starting at each
// of `bursts` (sample positions).
std::vector<uint8_t> Tone(int64_t first, int64_t count, int channels, const std::vector<int64_t>& bursts,
                          int rate) {
    std::vector<int16_t> pcm(static_cast<size_t>(count * channels), 0);
    for (int64_t i = 0; i < count; ++i) {
        int64_t pos = first + i;
        for (int64_t b : bursts) {
            if (pos >= b && pos < b + rate / 100) {
                int16_t v = static_cast<int16_t>(20000 * std::sin(2 * M_PI * 1000.0 * (pos - b) / rate));
                for (int c = 0; c < channels; ++c) pcm[static_cast<size_t>(i * channels + c)] = v;
            }
        }
    }
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    return std::vector<uint8_t>(bytes, bytes + pcm.size() * 2);
}

uint64_t AudioTime(int64_t position, int rate) { return static_cast<uint64_t>(position * kSecond / rate); }

int64_t VideoBytes(const std::vector<ProbedPacket>& packets) {
    int64_t bytes = 0;
    for (const ProbedPacket& p : packets) {
        if (p.stream == 0) bytes += p.size;
    }
    return bytes;
}

// One writing pass of the video: every kept frame, `cleanEvery`-th kept frames marked clean.
int32_t WriteVideo(WriterObserver& sink, const ObservedStream& v, const std::vector<KeptFrame>& kept,
                   const std::function<std::vector<uint8_t>(int)>& picture, int cleanEvery,
                   std::vector<bool>* clean = nullptr) {
    for (size_t k = 0; k < kept.size(); ++k) {
        bool isClean = cleanEvery > 0 && k % cleanEvery == 0;
        if (clean) clean->push_back(isClean);
        std::vector<uint8_t> frame = picture(kept[k].host);
        int32_t hr = sink.OnWriteSample(v.input, kept[k].time, isClean ? 1 : 0, frame.data(),
                                        static_cast<uint32_t>(frame.size()));
        if (hr < 0) return hr;
    }
    return 0;
}

int32_t Preprocess(WriterObserver& sink, const ObservedStream& v, const std::vector<KeptFrame>& kept,
                   const std::function<std::vector<uint8_t>(int)>& picture) {
    int32_t hr = sink.OnBeginPreprocessingPass(v.input, 0);
    for (size_t k = 0; hr >= 0 && k < kept.size(); ++k) {
        std::vector<uint8_t> frame = picture(kept[k].host);
        hr = sink.OnPreprocessSample(v.input, 0, kept[k].time, 0, frame.data(),
                                     static_cast<uint32_t>(frame.size()));
    }
    return hr < 0 ? hr : sink.OnEndPreprocessingPass(v.input, 0);
}

// Writes a video-only clip in the given rate-control mode and answers the video bit rate ÷ target.
double MeasureBitrate(const std::string& file, ObservedStream v, bool twoPass) {
    std::vector<KeptFrame> kept = TimeLine("2222D2222D2222D1111111111", 300);
    auto picture = [&](int n) { return BusyPicture(v.inWidth, v.inHeight, n); };
    v.passes = twoPass ? 2 : 1;
    v.maxKeyFrameSpacing = 2 * kSecond;
    ObservedSession session{Wide(file), {v}};
    std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
    EXPECT_EQ(sink->OnBeginWriting(session), 0);
    if (twoPass) {
        EXPECT_EQ(Preprocess(*sink, v, kept, picture), 0);
    }
    EXPECT_EQ(WriteVideo(*sink, v, kept, picture, 0), 0);
    EXPECT_EQ(sink->OnEndWriting(true), 0);
    std::vector<ProbedPacket> packets = ProbePackets(file);
    // The preprocessing pass knows no clean points, so the spacing must hold in both passes.
    int64_t lastKey = 0;
    for (const ProbedPacket& p : packets) {
        if (!p.key) continue;
        EXPECT_LE(p.ptsMs - lastKey, 2000 + 1);
        lastKey = p.ptsMs;
    }
    EXPECT_LE(packets.back().ptsMs - lastKey, 2000 + 1);
    return VideoBytes(packets) * 8.0 / Seconds(kept) / v.bitrate;
}

TEST(AsfFileSink, KeepsWriterTimesKeyFramesLanguagesAndAspect) {
    TempDir dir;
    std::string file = dir.File("clip.wmv");
    ObservedStream v = VideoStream(64, 48);
    v.maxKeyFrameSpacing = kSecond;
    v.language = u"ja-JP";
    v.aspectX = 32;
    v.aspectY = 27;
    ObservedStream a = AudioStream(44100, 2, 44100, 2);
    a.language = u"EN-us";
    // Audio first in the session: the file still has the video first.
    ObservedSession session{Wide(file), {a, v}};

    // 24p-in-30p sections, dropped runs, plain sections.
    std::vector<KeptFrame> kept = TimeLine("1111111111112222D2222D2222DD1D1111DD2221", 200);
    // Each kept frame is flat grey at a level of its own (the order check below), with a cut
    // to a very different picture every 13 frames that nobody marked.
    auto level = [](int k) { return 30 + (k * 37) % 190; };
    std::map<int, int> keptIndex;
    for (size_t k = 0; k < kept.size(); ++k) keptIndex[kept[k].host] = static_cast<int>(k);
    auto picture = [&](int host) {
        int k = keptIndex[host];
        return Picture(64, 48, [&](int x, int, uint8_t* bgr) {
            bool cut = (k / 13) % 2 == 1;
            bgr[0] = bgr[1] = bgr[2] = static_cast<uint8_t>(cut && x < 8 ? 255 - level(k) : level(k));
        });
    };

    std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
    ASSERT_EQ(sink->OnBeginWriting(session), 0);
    std::vector<bool> clean;
    int64_t audioPos = 0;
    for (size_t k = 0; k < kept.size(); ++k) {
        clean.push_back(k % 17 == 5);
        std::vector<uint8_t> frame = picture(kept[k].host);
        ASSERT_EQ(sink->OnWriteSample(v.input, kept[k].time, clean.back() ? 1 : 0, frame.data(),
                                      static_cast<uint32_t>(frame.size())),
                  0);
        int64_t until = static_cast<int64_t>((kept[k].time + kept[k].duration) * 44100 / kSecond);
        std::vector<uint8_t> pcm = Tone(audioPos, until - audioPos, 2, {}, 44100);
        ASSERT_EQ(sink->OnWriteSample(a.input, AudioTime(audioPos, 44100), 0, pcm.data(),
                                      static_cast<uint32_t>(pcm.size())),
                  0);
        audioPos = until;
        // The writer reuses its buffer once a call has returned: nothing of it may be read later.
        std::fill(frame.begin(), frame.end(), 0xEE);
    }
    ASSERT_EQ(sink->OnEndWriting(true), 0);

    auto streams = ProbeStreams(file);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]["codec_type"], "video");
    EXPECT_EQ(streams[0]["codec_name"], "wmv2");
    EXPECT_EQ(streams[0]["TAG:language"], "jpn");
    EXPECT_EQ(streams[0]["sample_aspect_ratio"], "32:27");
    EXPECT_EQ(streams[1]["codec_type"], "audio");
    EXPECT_EQ(streams[1]["codec_name"], "wmav2");
    EXPECT_EQ(streams[1]["TAG:language"], "eng");

    std::vector<ProbedPacket> video;
    for (const ProbedPacket& p : ProbePackets(file)) {
        if (p.stream == 0) video.push_back(p);
    }
    ASSERT_EQ(video.size(), kept.size());
    const int64_t lead = PrimingLeadMs(44100);
    EXPECT_EQ(video[0].ptsMs, lead);
    int64_t lastKey = -1;
    for (size_t k = 0; k < kept.size(); ++k) {
        EXPECT_LE(std::fabs(video[k].ptsMs - lead - kept[k].time / 1e4), 0.5) << "frame " << k;
        if (clean[k]) {
            EXPECT_TRUE(video[k].key) << "clean point " << k;
        }
        if (!video[k].key) continue;
        if (lastKey >= 0) {
            // ms resolution: two rounded ends may differ by one more than the writer times do.
            EXPECT_LE(video[k].ptsMs - video[lastKey].ptsMs, 1000 + 1) << "key gap before " << k;
            // Any key frame not asked for is one the spacing needed, not a scene change.
            bool needed = clean[k] ||
                          (k + 1 < kept.size() && kept[k + 1].time - kept[lastKey].time > kSecond);
            EXPECT_TRUE(needed) << "unasked key frame " << k;
        }
        lastKey = static_cast<int64_t>(k);
    }
    EXPECT_LE(video.back().ptsMs - video[lastKey].ptsMs, 1000 + 1);

    // The decoded pictures are the kept frames, in order.
    std::string grey = DecodeVideoFrames(file, "gray");
    ASSERT_EQ(grey.size(), kept.size() * 64 * 48);
    for (size_t k = 0; k < kept.size(); ++k) {
        int sample = static_cast<uint8_t>(grey[k * 64 * 48 + 24 * 64 + 40]);
        EXPECT_NEAR(sample, level(static_cast<int>(k)), 6) << "decoded frame " << k;
    }
}

TEST(AsfFileSink, AudioStaysOnItsTimeLineAcrossGapsAndResampling) {
    struct Case {
        int inRate, inChannels, rate, channels;
    };
    for (Case c : {Case{44100, 2, 44100, 2}, Case{48000, 1, 32000, 2}, Case{44100, 2, 22050, 1}, Case{48000, 2, 16000, 1}}) {
        SCOPED_TRACE(c.inRate);
        TempDir dir;
        std::string file = dir.File("audio.wmv");
        ObservedStream a = AudioStream(c.inRate, c.inChannels, c.rate, c.channels);
        ObservedSession session{Wide(file), {a}};
        int64_t total = 3 * c.inRate;
        // Bursts at the first sample, across the gap and in the last 10 ms.
        std::vector<int64_t> bursts = {0, c.inRate / 2, 2 * c.inRate, total - c.inRate / 100};
        int64_t gapStart = c.inRate, gapEnd = c.inRate + c.inRate / 5;  // the host returned nothing

        std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
        ASSERT_EQ(sink->OnBeginWriting(session), 0);
        int64_t block = c.inRate * 1001 / 30000;
        for (int64_t pos = 0; pos < total; pos += block) {
            if (pos >= gapStart && pos < gapEnd) continue;  // the host returned nothing
            int64_t n = std::min(block, total - pos);
            if (pos < gapStart && pos + n > gapStart) n = gapStart - pos;  // returned short
            std::vector<uint8_t> pcm = Tone(pos, n, c.inChannels, bursts, c.inRate);
            ASSERT_EQ(sink->OnWriteSample(a.input, AudioTime(pos, c.inRate), 0, pcm.data(),
                                          static_cast<uint32_t>(pcm.size())),
                      0);
            std::fill(pcm.begin(), pcm.end(), 0x7F);  // loud, were it read after the call
        }
        ASSERT_EQ(sink->OnEndWriting(true), 0);

        auto streams = ProbeStreams(file);
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0]["sample_rate"], std::to_string(c.rate));
        EXPECT_EQ(streams[0]["channels"], std::to_string(c.channels));

        std::vector<int16_t> pcm = DecodeAudioMono(file, c.rate);
        int64_t decoded = static_cast<int64_t>(pcm.size());
        int64_t expected = total * c.rate / c.inRate;
        EXPECT_GE(decoded, expected);
        EXPECT_LE(decoded, expected + 3 * 2048);
        // Each burst starts where it was put (within a millisecond), nothing sounds in the gap.
        std::vector<int64_t> onsets = LoudOnsets(pcm, 4000, c.rate / 20);
        ASSERT_EQ(onsets.size(), bursts.size());
        for (size_t b = 0; b < bursts.size(); ++b) {
            EXPECT_NEAR(onsets[b] * 1000.0 / c.rate, bursts[b] * 1000.0 / c.inRate, 1.0) << "burst " << b;
        }
        // On the file's time line, after the codec's priming, in either player.
        EXPECT_EQ(ProbePackets(file).front().ptsMs, 0);
        for (Player player : {Player::Ffmpeg, Player::Gstreamer}) {
            SCOPED_TRACE(player == Player::Ffmpeg ? "FFmpeg" : "GStreamer");
            std::vector<int64_t> heard = LoudOnsets(DecodeAudioAsPlayed(file, c.rate, player), 4000, c.rate / 20);
            ASSERT_EQ(heard.size(), bursts.size());
            for (size_t b = 0; b < bursts.size(); ++b) {
                EXPECT_NEAR(heard[b] * 1000.0 / c.rate, PrimingLeadMs(c.rate) + bursts[b] * 1000.0 / c.inRate, 1.0)
                    << "burst " << b;
            }
        }
    }
}

TEST(AsfFileSink, OddWidthComesOutUprightInTrueColoursWithABlackColumn) {
    TempDir dir;
    std::string file = dir.File("odd.wmv");
    const int w = 161, h = 120;
    ObservedStream v = VideoStream(w, h);
    v.vbr = true;
    v.vbrQuality = 100;
    ObservedSession session{Wide(file), {v}};
    // Red top half, blue bottom-left, green bottom-right; bytes are B, G, R.
    std::vector<uint8_t> frame = Picture(w, h, [&](int x, int y, uint8_t* bgr) {
        bgr[0] = y >= h / 2 && x < w / 2 ? 255 : 0;
        bgr[1] = y >= h / 2 && x >= w / 2 ? 255 : 0;
        bgr[2] = y < h / 2 ? 255 : 0;
    });
    std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
    ASSERT_EQ(sink->OnBeginWriting(session), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sink->OnWriteSample(v.input, i * 333667ull, 0, frame.data(), static_cast<uint32_t>(frame.size())), 0);
    }
    ASSERT_EQ(sink->OnEndWriting(true), 0);

    auto streams = ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]["width"], "162");
    EXPECT_EQ(streams[0]["height"], "120");
    std::string rgb = DecodeVideoFrames(file, "rgb24", "-frames:v 1");
    ASSERT_EQ(rgb.size(), 162u * h * 3);
    auto at = [&](int x, int y, int c) { return static_cast<uint8_t>(rgb[(static_cast<size_t>(y) * 162 + x) * 3 + c]); };
    struct Spot {
        int x, y, r, g, b;
    } spots[] = {{80, 10, 255, 0, 0}, {0, 0, 255, 0, 0}, {159, 20, 255, 0, 0},
                 {20, 100, 0, 0, 255}, {140, 100, 0, 255, 0}, {150, 119, 0, 255, 0}};
    for (const Spot& s : spots) {
        EXPECT_NEAR(at(s.x, s.y, 0), s.r, 24) << s.x << "," << s.y;
        EXPECT_NEAR(at(s.x, s.y, 1), s.g, 24) << s.x << "," << s.y;
        EXPECT_NEAR(at(s.x, s.y, 2), s.b, 24) << s.x << "," << s.y;
    }
    for (int y : {5, 100}) {
        EXPECT_LT(at(161, y, 0) + at(161, y, 1) + at(161, y, 2), 3 * 48) << "added column at row " << y;
    }
}

// However long a frame lasts, it is one packet: neither the file nor what is kept while writing it
// grows with the length of the time line (the format holds times up to 2^32 ms).
TEST(AsfFileSink, LongFramesKeepTheFileSmall) {
    TempDir dir;
    for (int64_t gapSeconds : {int64_t{86400}, int64_t{4000000}}) {
        SCOPED_TRACE(gapSeconds);
        std::string file = dir.File("long" + std::to_string(gapSeconds) + ".wmv");
        ObservedStream v = VideoStream(64, 48);
        v.maxKeyFrameSpacing = 10 * kSecond;
        ObservedSession session{Wide(file), {v}};
        std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
        ASSERT_EQ(sink->OnBeginWriting(session), 0);
        const uint64_t times[] = {0, static_cast<uint64_t>(gapSeconds * kSecond)};
        for (int k = 0; k < 2; ++k) {
            std::vector<uint8_t> frame = Picture(64, 48, [&](int, int, uint8_t* bgr) { bgr[0] = bgr[1] = bgr[2] = k ? 200 : 40; });
            ASSERT_EQ(sink->OnWriteSample(v.input, times[k], 0, frame.data(), static_cast<uint32_t>(frame.size())), 0);
        }
        ASSERT_EQ(sink->OnEndWriting(true), 0);

        EXPECT_LT(std::filesystem::file_size(file), 128u * 1024);
        std::vector<ProbedPacket> packets = ProbePackets(file);
        ASSERT_EQ(packets.size(), 2u);
        EXPECT_EQ(packets[0].ptsMs, 0);
        EXPECT_TRUE(packets[0].key);
        EXPECT_EQ(packets[1].ptsMs, gapSeconds * 1000);
        std::string grey = DecodeVideoFrames(file, "gray");
        ASSERT_EQ(grey.size(), 2u * 64 * 48);
        EXPECT_NEAR(static_cast<uint8_t>(grey[64 * 24 + 32]), 40, 8);
        EXPECT_NEAR(static_cast<uint8_t>(grey[64 * 48 + 64 * 24 + 32]), 200, 8);
    }
    // Past what the file's times can hold, a sample is refused rather than written at a wrong time.
    std::string file = dir.File("too-late.wmv");
    ObservedStream v = VideoStream(64, 48);
    ObservedSession session{Wide(file), {v}};
    std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
    ASSERT_EQ(sink->OnBeginWriting(session), 0);
    std::vector<uint8_t> frame = Picture(64, 48, [](int, int, uint8_t* bgr) { bgr[0] = bgr[1] = bgr[2] = 90; });
    standin::TakeFailures();
    EXPECT_EQ(sink->OnWriteSample(v.input, 0, 0, frame.data(), static_cast<uint32_t>(frame.size())), 0);
    EXPECT_EQ(sink->OnWriteSample(v.input, 50000000 * kSecond, 0, frame.data(), static_cast<uint32_t>(frame.size())),
              NS_E_INVALID_DATA);
    std::vector<std::string> why = standin::TakeFailures();
    ASSERT_EQ(why.size(), 1u);
    EXPECT_NE(why[0].find("50000000 s"), std::string::npos) << why[0];
    sink->OnEndWriting(false);
    EXPECT_EQ(ProbePackets(file).size(), 1u);
}

TEST(AsfFileSink, SessionEndedEarlyIsStillReadable) {
    TempDir dir;
    std::vector<KeptFrame> all = TimeLine("2222D", 50);
    struct Case {
        size_t frames;
        bool released;  // the sink dropped without an end of writing
    };
    for (Case c : {Case{all.size(), false}, Case{all.size(), true}, Case{1, false}, Case{0, false}}) {
        SCOPED_TRACE(std::to_string(c.frames) + (c.released ? " frames, sink dropped" : " frames, ended"));
        std::string file = dir.File("early" + std::to_string(c.frames) + (c.released ? "r" : "") + ".wmv");
        std::vector<KeptFrame> kept(all.begin(), all.begin() + static_cast<long>(c.frames));
        ObservedStream v = VideoStream(64, 48);
        ObservedStream a = AudioStream(44100, 2, 44100, 2);
        ObservedSession session{Wide(file), {v, a}};
        std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
        ASSERT_EQ(sink->OnBeginWriting(session), 0);
        ASSERT_EQ(WriteVideo(*sink, v, kept, [](int n) { return BusyPicture(64, 48, n); }, 10), 0);
        std::vector<uint8_t> pcm = Tone(0, 44100, 2, {}, 44100);
        ASSERT_EQ(sink->OnWriteSample(a.input, 0, 0, pcm.data(), static_cast<uint32_t>(pcm.size())), 0);
        if (!c.released) {
            EXPECT_EQ(sink->OnEndWriting(false), 0);
        }
        sink.reset();

        EXPECT_EQ(ProbeStreams(file).size(), 2u);
        size_t frames = 0;
        for (const ProbedPacket& p : ProbePackets(file)) frames += p.stream == 0;
        EXPECT_EQ(frames, kept.size());
        if (kept.empty()) continue;
        std::string grey = DecodeVideoFrames(file, "gray");
        EXPECT_EQ(grey.size(), kept.size() * 64 * 48);
    }
}

TEST(AsfFileSink, LibraryFailuresBecomeCodes) {
    TempDir dir;
    ObservedStream v = VideoStream(64, 48);
    ObservedStream a = AudioStream(44100, 2, 44100, 2);
    {
        std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
        ObservedSession nowhere{Wide(dir.File("missing/clip.wmv")), {v, a}};
        EXPECT_EQ(sink->OnBeginWriting(nowhere), NS_E_FILE_WRITE);
        EXPECT_EQ(sink->OnEndWriting(false), 0);
    }
    {
        // A full disk: some call on the way reports it, and nothing after it pretends to work.
        std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
        ObservedSession full{u"/dev/full", {v, a}};
        ASSERT_EQ(sink->OnBeginWriting(full), 0);
        int32_t first = 0;
        std::vector<KeptFrame> kept = TimeLine("1", 120);
        for (const KeptFrame& f : kept) {
            std::vector<uint8_t> frame = BusyPicture(64, 48, f.host);
            int32_t hr = sink->OnWriteSample(v.input, f.time, 0, frame.data(), static_cast<uint32_t>(frame.size()));
            if (hr < 0) {
                first = hr;
                break;
            }
        }
        int32_t end = sink->OnEndWriting(true);
        EXPECT_EQ(first < 0 ? first : end, NS_E_FILE_WRITE);
    }
    {
        // A sample smaller than its picture is refused, not read past its end.
        std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
        ObservedSession session{Wide(dir.File("short.wmv")), {v}};
        ASSERT_EQ(sink->OnBeginWriting(session), 0);
        std::vector<uint8_t> frame(64 * 48 * 3 - 1);
        EXPECT_LT(sink->OnWriteSample(v.input, 0, 0, frame.data(), static_cast<uint32_t>(frame.size())), 0);
        sink->OnEndWriting(false);
    }
}

// A file another writer is writing is refused, not written by both; each refusal says why.
TEST(AsfFileSink, OneFileHasOneWriterAndRefusalsSayWhy) {
    TempDir dir;
    ObservedStream v = VideoStream(64, 48);
    standin::TakeFailures();
    std::string file = dir.File("shared.wmv");
    std::unique_ptr<WriterObserver> first = standin::CreateAsfFileSink();
    ASSERT_EQ(first->OnBeginWriting(ObservedSession{Wide(file), {v}}), 0);
    std::unique_ptr<WriterObserver> second = standin::CreateAsfFileSink();
    EXPECT_EQ(second->OnBeginWriting(ObservedSession{Wide(file), {v}}), NS_E_FILE_WRITE);
    ASSERT_EQ(WriteVideo(*first, v, TimeLine("1", 20), [](int n) { return BusyPicture(64, 48, n); }, 10), 0);
    EXPECT_EQ(first->OnEndWriting(false), 0);
    second.reset();
    first.reset();
    size_t frames = 0;
    for (const ProbedPacket& p : ProbePackets(file)) frames += p.stream == 0;
    EXPECT_EQ(frames, 20u);

    std::unique_ptr<WriterObserver> nowhere = standin::CreateAsfFileSink();
    EXPECT_EQ(nowhere->OnBeginWriting(ObservedSession{Wide(dir.File("missing/clip.wmv")), {v}}), NS_E_FILE_WRITE);
    nowhere.reset();

    // A device is no file of one writer: exports that write to /dev/null at once, in this process
    // or any other, are each let through.
    const int held = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    std::unique_ptr<WriterObserver> device = standin::CreateAsfFileSink();
    EXPECT_EQ(device->OnBeginWriting(ObservedSession{u"/dev/null", {v}}), 0);
    EXPECT_EQ(device->OnEndWriting(false), 0);
    device.reset();
    close(held);
    std::vector<std::string> reasons = standin::TakeFailures();
    ASSERT_EQ(reasons.size(), 2u);
    EXPECT_EQ(reasons[0], "cannot write " + file + ": another writer has it open");
    EXPECT_EQ(reasons[1], "cannot create " + dir.File("missing/clip.wmv") + ": no such folder");
}

TEST(AsfFileSink, ConstantAndTwoPassBitRatesLandOnTarget) {
    TempDir dir;
    ObservedStream cbr = VideoStream(320, 240);
    cbr.bitrate = 600000;
    cbr.bufferWindowMs = 3000;
    double oneCbr = MeasureBitrate(dir.File("cbr.wmv"), cbr, false);
    double twoCbr = MeasureBitrate(dir.File("cbr2.wmv"), cbr, true);
    ObservedStream vbr = cbr;
    vbr.vbr = true;
    vbr.formatPasses = 2;
    double twoVbr = MeasureBitrate(dir.File("vbr2.wmv"), vbr, true);
    vbr.peakBitrate = 900000;
    vbr.peakBufferMs = 2000;
    double constrained = MeasureBitrate(dir.File("vbr2c.wmv"), vbr, true);
    std::printf("bit rate / target: 1-pass CBR %.3f, 2-pass CBR %.3f, 2-pass VBR %.3f, constrained %.3f\n",
                oneCbr, twoCbr, twoVbr, constrained);
    EXPECT_NEAR(oneCbr, 1.0, 0.05);
    EXPECT_NEAR(twoCbr, 1.0, 0.05);
    EXPECT_NEAR(twoVbr, 1.0, 0.05);
    EXPECT_NEAR(constrained, 1.0, 0.05);

    // A target far below what the content needs even at the coarsest quantiser still gives a file.
    ObservedStream starved = vbr;
    starved.peakBitrate = 0;
    starved.bitrate = 20000;
    EXPECT_GT(MeasureBitrate(dir.File("starved.wmv"), starved, true), 1.0);
}

TEST(AsfFileSink, HigherQualityGivesLargerFile) {
    TempDir dir;
    std::vector<KeptFrame> kept = TimeLine("1112", 40);
    int64_t bytes[2] = {};
    int q = 0;
    for (uint32_t quality : {40u, 80u}) {
        std::string file = dir.File("q" + std::to_string(quality) + ".wmv");
        ObservedStream v = VideoStream(160, 120);
        v.vbr = true;
        v.vbrQuality = quality;
        ObservedSession session{Wide(file), {v}};
        std::unique_ptr<WriterObserver> sink = standin::CreateAsfFileSink();
        ASSERT_EQ(sink->OnBeginWriting(session), 0);
        ASSERT_EQ(WriteVideo(*sink, v, kept, [](int n) { return BusyPicture(160, 120, n); }, 0), 0);
        ASSERT_EQ(sink->OnEndWriting(true), 0);
        bytes[q++] = VideoBytes(ProbePackets(file));
    }
    EXPECT_GT(bytes[1], bytes[0] * 3 / 2);
}

}  // namespace
