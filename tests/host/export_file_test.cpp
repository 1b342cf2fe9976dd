// Whole exports through the stand-in editor (host → module → stand-in runtime → file), judged by
// what ffprobe and ffmpeg read from the file: its streams, packet times and key flags, the frame
// numbers the synthetic clip draws into its pictures, and its sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/common/media_probe.h"
#include "tests/host/host_run.h"
#include "tests/host/recording.h"
#include "tests/host/settings_blob.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kAudioRate = 48000;  // the host's default audio
constexpr int kCodecFrame = 2048;  // samples in one packet of the file's audio codec

// An export of the synthetic clip with one timing code per frame (the clip is as long as the
// codes), recorded; `extra` adds options, a --size among them replacing the default one.
RecordedExport ExportClip(const std::string& name, const std::string& codes, std::vector<std::string> extra = {}) {
    std::vector<std::string> options = {"--timing", codes, "--frames", std::to_string(codes.size())};
    if (std::find(extra.begin(), extra.end(), "--size") == extra.end()) {
        options.insert(options.end(), {"--size", std::to_string(kWidth) + "x" + std::to_string(kHeight)});
    }
    options.insert(options.end(), extra.begin(), extra.end());
    return RunRecordedExport(name, options);
}

// The source frames the codes keep at 30000/1001, in order, among the first `frames`.
std::vector<int32_t> KeptFrames(const std::string& codes, int32_t frames) {
    return FramesOf(ExpectVideoTimeline(codes, 30000, 1001, frames));
}

// The frame index the synthetic clip drew into the top band of a decoded grey picture: 16 cells
// from left to right, most significant bit first, read in the middle of each cell.
int BandIndex(const std::string& grey, size_t frame, int width, int height) {
    const int band = height >= 8 ? height / 8 : 1;
    const size_t base = frame * static_cast<size_t>(width) * height;
    int index = 0;
    for (int cell = 0; cell < 16; ++cell) {
        int x = (cell * width / 16 + ((cell + 1) * width / 16 - 1)) / 2;
        unsigned char v = static_cast<unsigned char>(grey[base + static_cast<size_t>(band / 2) * width + x]);
        index = index * 2 + (v >= 128 ? 1 : 0);
    }
    return index;
}

// The frame numbers drawn into every decoded picture of the file, in order.
std::vector<int32_t> DecodedFrameNumbers(const std::string& file, int width, int height) {
    const std::string grey = DecodeVideoFrames(file, "gray");
    const size_t picture = static_cast<size_t>(width) * height;
    EXPECT_EQ(grey.size() % picture, 0u);
    std::vector<int32_t> numbers;
    for (size_t k = 0; k < grey.size() / picture; ++k) numbers.push_back(BandIndex(grey, k, width, height));
    return numbers;
}

// True when the decoded picture is white below the band: the synthetic clip's once-a-second frame.
bool WhiteBelowBand(const std::string& grey, size_t frame, int width, int height) {
    const size_t base = frame * static_cast<size_t>(width) * height;
    for (int y = height / 8 + 2; y < height; y += 3) {
        for (int x = 0; x < width; x += 3) {
            if (static_cast<unsigned char>(grey[base + static_cast<size_t>(y) * width + x]) < 200) return false;
        }
    }
    return true;
}

// The file holds one video stream and then one audio stream, in the codecs the stand-in runtime
// writes for the catalogue's names.
void ExpectVideoThenAudio(const std::string& file) {
    std::vector<ProbedStream> streams = ProbeStreams(file);
    ASSERT_EQ(streams.size(), 2u) << file;
    EXPECT_EQ(streams[0]["codec_type"], "video");
    EXPECT_EQ(streams[0]["codec_name"], "wmv2");
    EXPECT_EQ(streams[1]["codec_type"], "audio");
    EXPECT_EQ(streams[1]["codec_name"], "wmav2");
}

// The decoded sound of the file is as long as what the host handed over, plus at most the codec's
// padding at the end (a silent packet after the last, and the last one filled up). Answers it.
std::vector<int16_t> ExpectSoundAsLongAs(const std::string& file, long long handed) {
    std::vector<ProbedStream> streams = ProbeStreams(file);
    EXPECT_EQ(streams.size(), 2u);
    if (streams.size() < 2) return {};
    const long long padding = 2LL * kCodecFrame * kAudioRate / std::stoi(streams[1]["sample_rate"]) + 1;
    std::vector<int16_t> pcm = DecodeAudioMono(file, kAudioRate);
    EXPECT_GE(static_cast<long long>(pcm.size()), handed) << file;
    EXPECT_LE(static_cast<long long>(pcm.size()), handed + padding) << file;
    return pcm;
}

// The quiet tone under the clicks sounds in every 10 ms of the first `samples`: no stretch of the
// host's audio went missing.
void ExpectNoSilentStretch(const std::vector<int16_t>& pcm, long long samples) {
    const long long window = kAudioRate / 100;
    for (long long start = 0; start + window <= samples && start + window <= static_cast<long long>(pcm.size());
         start += window) {
        int peak = 0;
        for (long long i = start; i < start + window; ++i) peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
        if (peak < 150) {
            ADD_FAILURE() << "silent from " << start * 1000.0 / kAudioRate << " ms (peak " << peak << ")";
            return;
        }
    }
}

// The first sample of frame `frame` (at or after its start), as the synthetic clip places its click.
long long FirstSample(long long frame, long long rate, long long scale, long long audioRate) {
    return (frame * scale * audioRate + rate - 1) / rate;
}

// Every video packet of the file against the sample the runtime received for it: its time (the
// file counts in whole ms), a key frame wherever the editor marked one, key frames never further
// apart than the stream allows, and the picture of the source frame the codes kept. One clip goes
// through two passes, whose first pass never sees the editor's key frames.
TEST(HostExportFile, VideoPacketsKeepTheRecordedTimesCleanPointsAndPictures) {
    const int64_t spacingMs = 1000;
    const int32_t keyEvery = 37;
    struct Case {
        const char* name;
        int32_t mode;  // the settings' rate control: 2 quality VBR, 3 two-pass VBR
        std::string codes;
    } cases[] = {
        {"film", 2, RepeatCodesOver("2222D", 100)},
        {"long", 2, RepeatCodesOver("2", 80)},
        {"mixed", 3, RepeatCodesOver("2222D", 40) + RepeatCodesOver("1", 25) + "DD2D1D22DDD1" + RepeatCodesOver("2D", 20) +
                         RepeatCodesOver("1", 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EncoderSettings settings = DefaultSettings();
        settings.KeyFrameInterval = static_cast<uint32_t>(spacingMs);
        settings.CompressionMode = c.mode;
        ASSERT_EQ(StoreSettingsThroughHost(settings).exitCode, 0);
        RecordedExport e = ExportClip(c.name, c.codes, {"--key-every", std::to_string(keyEvery)});
        ASSERT_EQ(e.run.exitCode, 0) << e.run.err;
        ASSERT_EQ(e.readError, "");
        ExpectVideoThenAudio(e.file);
        const std::vector<RecordedLine> lines = SelectLines(e.lines, kVideoConnection, 0);
        const std::vector<int32_t> kept = KeptFrames(c.codes, static_cast<int32_t>(c.codes.size()));
        const std::vector<ProbedPacket> video = PacketsOfStream(ProbePackets(e.file), 0);
        ASSERT_EQ(lines.size(), kept.size());
        ASSERT_EQ(video.size(), lines.size());

        const int64_t lead = PrimingLeadMs(std::stoi(ProbeStreams(e.file)[1]["sample_rate"]));
        int64_t lastKey = -1;
        size_t offTime = 0;
        std::string firstOff;
        for (size_t k = 0; k < video.size(); ++k) {
            if (std::fabs((video[k].ptsMs - lead) * 10000.0 - static_cast<double>(lines[k].time)) > 5000.0 &&
                offTime++ == 0) {
                firstOff = "frame " + std::to_string(k) + " at " + std::to_string(video[k].ptsMs) + " ms, recorded " +
                           std::to_string(lines[k].time);
            }
            // The editor's key frames are source frames: a clean point where a kept one is marked.
            const bool marked = kept[k] % keyEvery == 0;
            EXPECT_EQ((lines[k].flags & 1) != 0, marked) << "source frame " << kept[k];
            if (marked) {
                EXPECT_TRUE(video[k].key) << "clean point at source frame " << kept[k];
            }
            if (!video[k].key) continue;
            // Two rounded ends may lie one ms further apart than the times they stand for.
            if (lastKey >= 0) {
                EXPECT_LE(video[k].ptsMs - lastKey, spacingMs + 1) << "key frame " << k;
            }
            lastKey = video[k].ptsMs;
        }
        EXPECT_EQ(offTime, 0u) << "packets more than 0.5 ms off their recorded time, the first: " << firstOff;
        EXPECT_TRUE(video[0].key);
        EXPECT_LE(video.back().ptsMs - lastKey, spacingMs + 1);
        EXPECT_EQ(DecodedFrameNumbers(e.file, kWidth, kHeight), kept);
    }
}

// A second player's reader, GStreamer's own ASF demuxer, sees the video as ffprobe does: one
// buffer per recorded sample, at the recorded time (moved by the audio's priming), key frames where
// the file has them.
TEST(HostExportFile, GstreamerReadsTheVideoAsFfprobeDoes) {
    const std::string codes = RepeatCodesOver(RepeatCodesOver("2222D", 30) + "1D2" + RepeatCodesOver("1", 27), 120);
    RecordedExport e = ExportClip("gstreamer", codes, {"--key-every", "25"});
    ASSERT_EQ(e.run.exitCode, 0) << e.run.err;
    const std::vector<RecordedLine> lines = SelectLines(e.lines, kVideoConnection, 0);
    const std::vector<ProbedPacket> ffprobe = PacketsOfStream(ProbePackets(e.file), 0);
    const std::vector<ProbedPacket> gstreamer = ProbePacketsWithGstreamer(e.file, "video_0");
    ASSERT_EQ(lines.size(), KeptFrames(codes, static_cast<int32_t>(codes.size())).size());
    ASSERT_EQ(gstreamer.size(), lines.size());
    ASSERT_EQ(ffprobe.size(), lines.size());
    const int64_t lead = PrimingLeadMs(std::stoi(ProbeStreams(e.file)[1]["sample_rate"]));
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_NEAR((gstreamer[k].ptsMs - lead) * 10000.0, static_cast<double>(lines[k].time), 5000.0)
            << "frame " << k;
        EXPECT_EQ(gstreamer[k].ptsMs, ffprobe[k].ptsMs) << "frame " << k;
        EXPECT_EQ(gstreamer[k].key, ffprobe[k].key) << "frame " << k;
        EXPECT_EQ(gstreamer[k].size, ffprobe[k].size) << "frame " << k;
    }
}

TEST(HostExportFile, AudioRunsUnbrokenFromZeroAndClicksWithTheWhiteFrames) {
    // Film sections and plain ones, 30 frames each: every once-a-second frame starts a section, so
    // its place on the variable time line is its nominal time, where its click sounds.
    const std::string codes = RepeatCodesOver(RepeatCodesOver("2222D", 30) + RepeatCodesOver("1", 30), 120);
    RecordedExport e = ExportClip("audio", codes);
    ASSERT_EQ(e.run.exitCode, 0) << e.run.err;
    ExpectVideoThenAudio(e.file);
    std::vector<ProbedPacket> packets = ProbePackets(e.file);
    std::vector<ProbedPacket> video = PacketsOfStream(packets, 0), audio = PacketsOfStream(packets, 1);
    ASSERT_FALSE(audio.empty());
    ASSERT_FALSE(video.empty());

    // Packets follow each other without a hole, from the file's start, before the first video
    // frame, to past the last; nothing lies before 0, where readers disagree.
    std::vector<ProbedStream> streams = ProbeStreams(e.file);
    const int fileRate = std::stoi(streams[1]["sample_rate"]);
    const double packetMs = kCodecFrame * 1000.0 / fileRate;
    const int64_t lead = PrimingLeadMs(fileRate);
    EXPECT_EQ(audio.front().ptsMs, 0);
    EXPECT_EQ(video.front().ptsMs, lead);
    for (size_t i = 1; i < audio.size(); ++i) {
        EXPECT_NEAR(static_cast<double>(audio[i].ptsMs - audio[i - 1].ptsMs), packetMs, 1.0) << "audio packet " << i;
    }
    EXPECT_GE(audio.back().ptsMs + packetMs, video.back().ptsMs + 33);

    // All of the sound, and every click starts where the clip put it.
    long long handed = e.summary.samplesHandedOver;
    EXPECT_EQ(handed, 120LL * 1001 * kAudioRate / 30000) << e.run.err;
    std::vector<int16_t> pcm = ExpectSoundAsLongAs(e.file, handed);
    ExpectNoSilentStretch(pcm, handed);
    std::vector<int64_t> clicks = LoudOnsets(pcm, 16000, kAudioRate / 2);
    const std::vector<int> markers = {0, 30, 60, 90};
    ASSERT_EQ(clicks.size(), markers.size());
    for (size_t m = 0; m < markers.size(); ++m) {
        EXPECT_NEAR(static_cast<double>(clicks[m]), FirstSample(markers[m], 30000, 1001, kAudioRate), kAudioRate / 1000)
            << "click of frame " << markers[m];
    }

    // The white frames are shown when their clicks sound (the file's times are whole ms).
    std::string grey = DecodeVideoFrames(e.file, "gray");
    ASSERT_EQ(grey.size(), video.size() * kWidth * kHeight);
    std::vector<size_t> white;
    for (size_t k = 0; k < video.size(); ++k) {
        if (WhiteBelowBand(grey, k, kWidth, kHeight)) white.push_back(k);
    }
    ASSERT_EQ(white.size(), markers.size());
    for (size_t m = 0; m < markers.size(); ++m) {
        EXPECT_EQ(BandIndex(grey, white[m], kWidth, kHeight), markers[m]);
        EXPECT_NEAR(static_cast<double>(video[white[m]].ptsMs - lead), clicks[m] * 1000.0 / kAudioRate, 1.5)
            << "white frame " << markers[m];
    }

    // Both players put the sound on the file's time line alike: the host's first sample, and every
    // click, sounds with its white frame; before the first picture, the codec's silent priming.
    for (Player player : {Player::Ffmpeg, Player::Gstreamer}) {
        SCOPED_TRACE(player == Player::Ffmpeg ? "FFmpeg" : "GStreamer");
        std::vector<int16_t> played = DecodeAudioAsPlayed(e.file, kAudioRate, player);
        const size_t firstPicture = static_cast<size_t>(lead * kAudioRate / 1000);
        ASSERT_GE(played.size(), firstPicture + static_cast<size_t>(handed));
        std::vector<int64_t> heard = LoudOnsets(played, 16000, kAudioRate / 2);
        ASSERT_EQ(heard.size(), markers.size());
        for (size_t m = 0; m < markers.size(); ++m) {
            EXPECT_NEAR(heard[m] * 1000.0 / kAudioRate, static_cast<double>(video[white[m]].ptsMs), 1.0)
                << "click of frame " << markers[m];
        }
        // Quiet up to the codec frame that carries the first click's pre-echo.
        const size_t ringing = static_cast<size_t>(kCodecFrame) * kAudioRate / fileRate;
        int leadPeak = 0;
        for (size_t i = 0; i + ringing < firstPicture; ++i) {
            leadPeak = std::max(leadPeak, std::abs(static_cast<int>(played[i])));
        }
        EXPECT_LT(leadPeak, 64) << "sound before the first picture";
        played.erase(played.begin(), played.begin() + static_cast<std::ptrdiff_t>(firstPicture));
        ExpectNoSilentStretch(played, handed);
    }
}

TEST(HostExportFile, StoppedExportHoldsTheFramesUpToTheStop) {
    const std::string codes = RepeatCodesOver("2222D", 90);
    const int stopAt = 42;  // the last frame the module fetches
    RecordedExport e = ExportClip("stopped", codes, {"--abort-at", std::to_string(stopAt)});
    ASSERT_EQ(e.run.exitCode, 0) << e.run.err;  // a file the user stopped is still a file
    EXPECT_TRUE(e.summary.aborted) << e.run.err;
    ExpectVideoThenAudio(e.file);

    std::vector<int32_t> kept = KeptFrames(codes, stopAt + 1);
    EXPECT_EQ(PacketsOfStream(ProbePackets(e.file), 0).size(), kept.size());
    EXPECT_EQ(DecodedFrameNumbers(e.file, kWidth, kHeight), kept);

    // The sound stops with the pictures: the audio of the frames written, no more.
    long long handed = e.summary.samplesHandedOver;
    EXPECT_EQ(handed, (stopAt + 1) * 1001LL * kAudioRate / 30000) << e.run.err;
    ExpectNoSilentStretch(ExpectSoundAsLongAs(e.file, handed), handed);
}

// The runtime takes compressed frames whose width and height are multiples of 4 only, and the
// profile carries the editor's frame size: other sizes end the export before a file is begun.
// A width that is a multiple of 4 but not of the encoder's 16-pixel blocks keeps every column.
TEST(HostExportFile, FrameWidthsOutsideTheRuntimesRuleAreRefusedOthersKeepTheirLastColumn) {
    for (const char* size : {"161x120", "162x120"}) {
        RecordedExport e = ExportClip(std::string("refused") + size, RepeatCodesOver("1", 6), {"--size", size});
        EXPECT_EQ(e.run.exitCode, 1) << size << "\n" << e.run.err;
        EXPECT_NE(e.run.err.find("Output returned 0"), std::string::npos) << size << "\n" << e.run.err;
        EXPECT_FALSE(FileExists(e.file)) << size;
    }

    const int width = 172, height = 100;
    const std::string codes = RepeatCodesOver("1", 24);
    RecordedExport e = ExportClip("width172", codes, {"--size", "172x100", "--rate", "10"});
    ASSERT_EQ(e.run.exitCode, 0) << e.run.err;
    std::vector<ProbedStream> streams = ProbeStreams(e.file);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]["width"], std::to_string(width));
    EXPECT_EQ(streams[0]["height"], std::to_string(height));

    std::string grey = DecodeVideoFrames(e.file, "gray");
    ASSERT_EQ(grey.size(), codes.size() * width * height);
    auto at = [&](size_t frame, int x, int y) {
        return static_cast<unsigned char>(grey[(frame * height + y) * width + x]);
    };
    EXPECT_EQ(DecodedFrameNumbers(e.file, width, height), KeptFrames(codes, static_cast<int32_t>(codes.size())));
    for (size_t k = 0; k < codes.size(); ++k) {
        // The last column holds the last cell: bit 0 of the frame number.
        EXPECT_EQ(at(k, width - 1, height / 16) >= 128, k % 2 == 1) << "decoded frame " << k;
        EXPECT_EQ(WhiteBelowBand(grey, k, width, height), k % 10 == 0) << "decoded frame " << k;
    }
    for (int y = height / 8 + 1; y < height; y += 7) {
        EXPECT_GE(at(10, width - 1, y), 200) << "last column of a white frame, row " << y;
    }
}

// Stream languages and the display shape, chosen through the configuration blob, read back from
// the file: the aspect attributes hold the pixel shape, which ffprobe gives as the sample aspect
// ratio (720x480 shown at 16:9 has pixels of 32:27).
TEST(HostExportFile, LanguagesAndDisplayShapeFromTheBlobReachTheFile) {
    struct Case {
        int32_t resize;
        uint32_t shapeW, shapeH;
        uint32_t videoLanguage, audioLanguage;
        const char* sampleAspect;
        const char* displayAspect;
        const char* videoTag;
        const char* audioTag;
    } cases[] = {
        {1, 16, 9, 0x0411, 0x0409, "32:27", "16:9", "jpn", "eng"},
        {1, 4, 3, 0x0804, 0x0411, "8:9", "4:3", "chi", "jpn"},
        {0, 16, 9, 0x0409, 0x0804, "N/A", "N/A", "eng", "chi"},  // a shape not switched on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.shapeW) + ":" + std::to_string(c.shapeH) + (c.resize ? "" : " off"));
        EncoderSettings settings = DefaultSettings();
        settings.EnableResizeTo = c.resize;
        settings.ResizeToW = c.shapeW;
        settings.ResizeToH = c.shapeH;
        settings.VideoLanguage = c.videoLanguage;
        settings.AudioLanguage = c.audioLanguage;
        ASSERT_EQ(StoreSettingsThroughHost(settings).exitCode, 0);
        RecordedExport e = ExportClip("shape", RepeatCodesOver("1", 3), {"--size", "720x480"});
        ASSERT_EQ(e.run.exitCode, 0) << e.run.err;
        std::vector<ProbedStream> streams = ProbeStreams(e.file);
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(streams[0]["width"], "720");
        EXPECT_EQ(streams[0]["height"], "480");
        EXPECT_EQ(streams[0]["sample_aspect_ratio"], c.sampleAspect);
        EXPECT_EQ(streams[0]["display_aspect_ratio"], c.displayAspect);
        EXPECT_EQ(streams[0]["TAG:language"], c.videoTag);
        EXPECT_EQ(streams[1]["TAG:language"], c.audioTag);
    }
}

// Two-pass CBR from the blob on ten seconds of noisy pictures, film and plain sections: the video
// bits over the length of the variable time line come to the target, and the editor's key frames
// are key frames although the first pass never saw them.
TEST(HostExportFile, TwoPassConstantRateExportMeetsItsTargetWithTheEditorsKeyFrames) {
    EncoderSettings settings = DefaultSettings();
    settings.CompressionMode = 1;
    settings.Bitrate = 300000;
    settings.BufferWindow = 5000;
    ASSERT_EQ(StoreSettingsThroughHost(settings).exitCode, 0);
    const std::string codes = RepeatCodesOver(RepeatCodesOver("2222D", 60) + RepeatCodesOver("1", 30), 300);
    RecordedExport e = ExportClip("cbr2", codes, {"--pattern", "noise", "--no-audio", "--key-every", "45"});
    ASSERT_EQ(e.run.exitCode, 0) << e.run.err;
    EXPECT_EQ(PassesOf(e.lines, kVideoConnection), (std::vector<uint32_t>{0, 1}));

    const ExpectedVideo timeline = ExpectVideoTimeline(codes, 30000, 1001, static_cast<int32_t>(codes.size()));
    const std::vector<RecordedLine> lines = SelectLines(e.lines, kVideoConnection, 0);
    std::vector<ProbedPacket> packets = ProbePackets(e.file);
    ASSERT_EQ(PacketsOfStream(packets, 0).size(), timeline.kept.size());
    ASSERT_EQ(lines.size(), timeline.kept.size());
    std::vector<int32_t> cleanPoints, keyFramesThere;
    for (size_t k = 0; k < lines.size(); ++k) {
        if (!(lines[k].flags & 1)) continue;
        cleanPoints.push_back(timeline.kept[k].frame);
        if (packets[k].key) keyFramesThere.push_back(timeline.kept[k].frame);
    }
    EXPECT_GE(cleanPoints.size(), 6u);
    EXPECT_EQ(keyFramesThere, cleanPoints);
    int64_t bytes = 0;
    for (const ProbedPacket& p : packets) bytes += p.size;
    const double ratio = bytes * 8.0 / (timeline.end / 1e7) / settings.Bitrate;
    std::printf("two-pass CBR through the host: bit rate / target %.3f\n", ratio);
    EXPECT_NEAR(ratio, 1.0, 0.05);
}

}  // namespace

namespace {

// A variable-rate clip (30 pictures at 30 fps, 30 at 15, 30 at 60) is shown at one constant rate,
// as the editor shows it: every flash of the clip is seen when its click sounds, within a frame,
// and the pictures last as long as the sound.
TEST(HostExportFile, AVariableRateClipStaysInSyncOverItsWholeLength) {
    const std::string clip = TempPath("vfr.mkv"), file = TempPath("vfr.wmv");
    // Flashes at 0.5 s, 2.0 s and 3.25 s (two pictures there, so that 30 fps sees one of them),
    // each with a 10 ms click.
    const std::string make =
        "ffmpeg -v error -y -f lavfi -i color=c=black:s=64x48:r=30:d=1 -f lavfi -i color=c=black:s=64x48:r=15:d=2"
        " -f lavfi -i color=c=black:s=64x48:r=60:d=0.5 -f lavfi -i \"aevalsrc='0.9*sin(2*PI*1000*t)*"
        "(between(t,0.5,0.51)+between(t,2,2.01)+between(t,3.25,3.26))':s=48000:d=3.5\""
        " -filter_complex \"[0:v][1:v][2:v]concat=n=3:v=1:a=0,"
        "drawbox=c=white:t=fill:enable='eq(n,15)+eq(n,45)+eq(n,75)+eq(n,76)'[v]\""
        " -map \"[v]\" -map 3:a -fps_mode passthrough -c:v ffv1 -c:a pcm_s16le " + ShellQuoted(clip);
    ASSERT_EQ(std::system(make.c_str()), 0);
    HostRun run = RunHost({"export", "-o", file, "--input", clip});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("64x48 30/1, 105 frames (a variable-rate clip of 90 pictures"), std::string::npos) << run.err;

    std::vector<ProbedPacket> video = PacketsOfStream(ProbePackets(file), 0);
    ASSERT_EQ(video.size(), 105u);
    const std::string grey = DecodeVideoFrames(file, "gray");
    ASSERT_EQ(grey.size(), video.size() * 64 * 48);
    std::vector<int64_t> flashes;  // ms, where each run of white pictures begins
    for (size_t k = 0; k < video.size(); ++k) {
        bool white = static_cast<unsigned char>(grey[k * 64 * 48 + 24 * 64 + 32]) > 200;
        bool before = k > 0 && static_cast<unsigned char>(grey[(k - 1) * 64 * 48 + 24 * 64 + 32]) > 200;
        if (white && !before) flashes.push_back(video[k].ptsMs);
    }
    std::vector<int16_t> played = DecodeAudioAsPlayed(file, 48000, Player::Ffmpeg);
    std::vector<int64_t> clicks = LoudOnsets(played, 16000, 4800);
    ASSERT_EQ(clicks.size(), 3u);
    ASSERT_EQ(flashes.size(), 3u);
    const double frameMs = 1000.0 / 30;
    for (size_t m = 0; m < 3; ++m) {
        EXPECT_NEAR(static_cast<double>(flashes[m]), clicks[m] * 1000.0 / 48000, frameMs) << "flash " << m;
    }
    const int64_t lead = PrimingLeadMs(48000);
    EXPECT_NEAR(video.back().ptsMs - lead + frameMs, 3500.0, frameMs);
}

}  // namespace
