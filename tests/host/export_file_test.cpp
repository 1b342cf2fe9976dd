// Whole exports through the stand-in editor (host → module → stand-in runtime → file), judged by
// what ffprobe and ffmpeg read from the file: its streams, packet times and key flags, the frame
// numbers the synthetic clip draws into its pictures, and its sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/common/media_probe.h"
#include "tests/host/host_run.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kAudioRate = 48000;  // the host's default audio
constexpr int kCodecFrame = 2048;  // samples in one packet of the file's audio codec

// `pattern` repeated over `frames` frames, one code per frame.
std::string CodesOver(const std::string& pattern, int frames) {
    std::string codes;
    while (static_cast<int>(codes.size()) < frames) codes += pattern;
    codes.resize(static_cast<size_t>(frames));
    return codes;
}

// The source frames the codes keep, in order, among the first `frames`.
std::vector<int> KeptFrames(const std::string& codes, int frames) {
    std::vector<int> kept;
    for (int i = 0; i < frames && i < static_cast<int>(codes.size()); ++i) {
        if (codes[static_cast<size_t>(i)] != 'D') kept.push_back(i);
    }
    return kept;
}

struct ExportRun {
    HostRun run;
    std::string file;
};

// An export of the synthetic clip with one timing code per frame (the clip is as long as the
// codes); `extra` adds options.
ExportRun ExportClip(const std::string& name, const std::string& codes, std::vector<std::string> extra = {}) {
    ExportRun e;
    e.file = TempPath(name + ".wmv");
    std::string codesFile = TempPath(name + "-codes.txt");
    WriteFileBytes(codesFile, codes);
    std::vector<std::string> args = {"export", "-o", e.file, "--timing-file", codesFile,
                                     "--frames", std::to_string(codes.size())};
    bool sized = false;
    for (const std::string& a : extra) sized = sized || a == "--size";
    if (!sized) args.insert(args.end(), {"--size", std::to_string(kWidth) + "x" + std::to_string(kHeight)});
    args.insert(args.end(), extra.begin(), extra.end());
    e.run = RunHost(args);
    return e;
}

// "N of M samples handed over" from the host's summary line; -1 when it is missing.
long long HandedOverSamples(const HostRun& run) {
    size_t at = run.err.find(" samples handed over");
    if (at == std::string::npos) return -1;
    size_t start = run.err.rfind(", ", at);
    long long handed = -1, total = -1;
    if (start == std::string::npos || std::sscanf(run.err.c_str() + start, ", %lld of %lld", &handed, &total) != 2) {
        return -1;
    }
    return handed;
}

// The frame index the synthetic clip drew into the top band of a decoded grey picture: 16 cells
// from left to right, most significant bit first, read in the middle of each cell.
int BandIndex(const std::string& grey, size_t frame, int width, int pictureWidth, int height) {
    const int band = height >= 8 ? height / 8 : 1;
    const size_t base = frame * static_cast<size_t>(pictureWidth) * height;
    int index = 0;
    for (int cell = 0; cell < 16; ++cell) {
        int x = (cell * width / 16 + ((cell + 1) * width / 16 - 1)) / 2;
        unsigned char v = static_cast<unsigned char>(grey[base + static_cast<size_t>(band / 2) * pictureWidth + x]);
        index = index * 2 + (v >= 128 ? 1 : 0);
    }
    return index;
}

// True when the decoded picture is white below the band: the synthetic clip's once-a-second frame.
bool WhiteBelowBand(const std::string& grey, size_t frame, int pictureWidth, int width, int height) {
    const size_t base = frame * static_cast<size_t>(pictureWidth) * height;
    for (int y = height / 8 + 2; y < height; y += 3) {
        for (int x = 0; x < width; x += 3) {
            if (static_cast<unsigned char>(grey[base + static_cast<size_t>(y) * pictureWidth + x]) < 200) return false;
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

// The first sample of frame `frame` (at or after its start), as the synthetic clip places its click.
long long FirstSample(long long frame, long long rate, long long scale, long long audioRate) {
    return (frame * scale * audioRate + rate - 1) / rate;
}

TEST(HostExportFile, AudioRunsUnbrokenFromZeroAndClicksWithTheWhiteFrames) {
    // Film sections and plain ones, 30 frames each: every once-a-second frame starts a section, so
    // its place on the variable time line is its nominal time, where its click sounds.
    const std::string codes = CodesOver(CodesOver("2222D", 30) + CodesOver("1", 30), 120);
    ExportRun e = ExportClip("audio", codes);
    ASSERT_EQ(e.run.exitCode, 0) << e.run.err;
    ExpectVideoThenAudio(e.file);
    std::vector<ProbedPacket> packets = ProbePackets(e.file);
    std::vector<ProbedPacket> video = PacketsOfStream(packets, 0), audio = PacketsOfStream(packets, 1);
    ASSERT_FALSE(audio.empty());
    ASSERT_FALSE(video.empty());

    // Packets follow each other without a hole, from before the first video frame to past the last.
    std::vector<ProbedStream> streams = ProbeStreams(e.file);
    const double packetMs = kCodecFrame * 1000.0 / std::stoi(streams[1]["sample_rate"]);
    EXPECT_LE(audio.front().ptsMs, 0);
    for (size_t i = 1; i < audio.size(); ++i) {
        EXPECT_NEAR(static_cast<double>(audio[i].ptsMs - audio[i - 1].ptsMs), packetMs, 1.0) << "audio packet " << i;
    }
    EXPECT_GE(audio.back().ptsMs + packetMs, video.back().ptsMs + 33);

    // All of the sound, and every click starts where the clip put it.
    long long handed = HandedOverSamples(e.run);
    EXPECT_EQ(handed, 120LL * 1001 * kAudioRate / 30000) << e.run.err;
    std::vector<int16_t> pcm = ExpectSoundAsLongAs(e.file, handed);
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
        if (WhiteBelowBand(grey, k, kWidth, kWidth, kHeight)) white.push_back(k);
    }
    ASSERT_EQ(white.size(), markers.size());
    for (size_t m = 0; m < markers.size(); ++m) {
        EXPECT_EQ(BandIndex(grey, white[m], kWidth, kWidth, kHeight), markers[m]);
        EXPECT_NEAR(static_cast<double>(video[white[m]].ptsMs), clicks[m] * 1000.0 / kAudioRate, 1.5)
            << "white frame " << markers[m];
    }
}

TEST(HostExportFile, StoppedExportHoldsTheFramesUpToTheStop) {
    const std::string codes = CodesOver("2222D", 90);
    const int stopAt = 42;  // the last frame the module fetches
    ExportRun e = ExportClip("stopped", codes, {"--abort-at", std::to_string(stopAt)});
    ASSERT_EQ(e.run.exitCode, 0) << e.run.err;  // a file the user stopped is still a file
    EXPECT_NE(e.run.err.find("(aborted)"), std::string::npos) << e.run.err;
    ExpectVideoThenAudio(e.file);

    std::vector<int> kept = KeptFrames(codes, stopAt + 1);
    std::vector<ProbedPacket> video = PacketsOfStream(ProbePackets(e.file), 0);
    ASSERT_EQ(video.size(), kept.size());
    std::string grey = DecodeVideoFrames(e.file, "gray");
    ASSERT_EQ(grey.size(), kept.size() * kWidth * kHeight);
    for (size_t k = 0; k < kept.size(); ++k) {
        EXPECT_EQ(BandIndex(grey, k, kWidth, kWidth, kHeight), kept[k]) << "decoded frame " << k;
    }

    // The sound stops with the pictures: the audio of the frames written, no more.
    long long handed = HandedOverSamples(e.run);
    EXPECT_EQ(handed, (stopAt + 1) * 1001LL * kAudioRate / 30000) << e.run.err;
    ExpectSoundAsLongAs(e.file, handed);
}

// The runtime takes compressed frames whose width and height are multiples of 4 only, and the
// profile carries the editor's frame size: other sizes end the export before a file is begun.
// A width that is a multiple of 4 but not of the encoder's 16-pixel blocks keeps every column.
TEST(HostExportFile, FrameWidthsOutsideTheRuntimesRuleAreRefusedOthersKeepTheirLastColumn) {
    for (const char* size : {"161x120", "162x120"}) {
        ExportRun e = ExportClip(std::string("refused") + size, CodesOver("1", 6), {"--size", size});
        EXPECT_EQ(e.run.exitCode, 1) << size << "\n" << e.run.err;
        EXPECT_NE(e.run.err.find("Output returned 0"), std::string::npos) << size << "\n" << e.run.err;
        EXPECT_FALSE(FileExists(e.file)) << size;
    }

    const int width = 172, height = 100;
    const std::string codes = CodesOver("1", 24);
    ExportRun e = ExportClip("width172", codes, {"--size", "172x100", "--rate", "10"});
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
    for (size_t k = 0; k < codes.size(); ++k) {
        EXPECT_EQ(BandIndex(grey, k, width, width, height), static_cast<int>(k)) << "decoded frame " << k;
        // The last column holds the last cell: bit 0 of the frame number.
        EXPECT_EQ(at(k, width - 1, height / 16) >= 128, k % 2 == 1) << "decoded frame " << k;
        EXPECT_EQ(WhiteBelowBand(grey, k, width, width, height), k % 10 == 0) << "decoded frame " << k;
    }
    for (int y = height / 8 + 1; y < height; y += 7) {
        EXPECT_GE(at(10, width - 1, y), 200) << "last column of a white frame, row " << y;
    }
}

}  // namespace
