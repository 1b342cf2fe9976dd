// Exports through brevlo-host and the module, held against what the stand-in media runtime
// received: which frames were written, at which times, with which key-frame flags, and the audio
// blocks beside them, compared with the time line worked out by hand from the timing codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/host/host_run.h"
#include "tests/host/recording.h"
#include "tests/host/settings_blob.h"

namespace {

// A short synthetic clip: 160x120 (rows of 480 bytes), 48 kHz stereo.
constexpr int32_t kFrameBytes = 480 * 120;
constexpr int32_t kBlockAlign = 4;

std::vector<std::string> Clip(int32_t frames, const std::string& rate = "30000/1001") {
    return {"--size", "160x120", "--frames", std::to_string(frames), "--rate", rate, "--audio", "48000/2"};
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The hashes of the clip's frames exactly as the editor hands them over.
std::vector<std::string> SourceFrameHashes(const std::vector<std::string>& clip) {
    const std::string raw = TempPath("source.raw");
    HostRun run = RunHost(Join({"raw-frames", "-o", raw}, clip));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return FrameHashes(ReadFileBytes(raw), kFrameBytes);
}

std::vector<std::string> HashesOf(const std::vector<RecordedLine>& lines) {
    std::vector<std::string> hashes;
    for (const RecordedLine& line : lines) hashes.push_back(line.hash);
    return hashes;
}

// Every export must end with status 0: Output returned 1 and the stand-ins hold nothing any more.
void ExpectCleanExport(const RecordedExport& e) {
    EXPECT_EQ(e.run.exitCode, 0) << e.run.err;
    EXPECT_EQ(e.run.err.find("left over"), std::string::npos) << e.run.err;
    EXPECT_TRUE(e.summary.found) << e.run.err;
    EXPECT_EQ(e.summary.outputResult, 1) << e.run.err;
    EXPECT_EQ(e.readError, "");
    EXPECT_TRUE(FileExists(e.file));
    EXPECT_GT(ReadFileBytes(e.file).size(), 0u);
}

// The audio lines against the blocks worked out by hand: times, sizes, and one input throughout.
void ExpectAudioBlocks(const std::vector<RecordedLine>& lines, const std::vector<ExpectedAudioBlock>& blocks) {
    ASSERT_EQ(lines.size(), blocks.size());
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_EQ(lines[k].time, blocks[k].time) << "block " << k;
        EXPECT_EQ(lines[k].size, static_cast<uint32_t>(blocks[k].count * kBlockAlign)) << "block " << k;
        EXPECT_EQ(lines[k].flags, 0u) << "block " << k;
        EXPECT_EQ(lines[k].input, lines[0].input) << "block " << k;
    }
}

uint64_t TotalBytes(const std::vector<RecordedLine>& lines) {
    uint64_t total = 0;
    for (const RecordedLine& line : lines) total += line.size;
    return total;
}

TEST(ExportRecord, NominalCodesWriteEveryFrameWithItsAudio) {
    ASSERT_EQ(StoreSettingsThroughHost(DefaultSettings()).exitCode, 0);
    const std::vector<std::string> clip = Clip(45);
    RecordedExport e = RunRecordedExport("nominal", Join(clip, {"--timing", "1"}));
    ExpectCleanExport(e);
    EXPECT_EQ(e.summary.frames, 45);
    EXPECT_EQ(e.summary.kept, 45);
    EXPECT_EQ(e.summary.dropped, 0);
    EXPECT_EQ(e.summary.longFrames, 0);
    EXPECT_EQ(e.summary.samplesHandedOver, e.summary.sampleCount);

    const std::vector<RecordedLine> video = SelectLines(e.lines, kVideoConnection, 0);
    const std::vector<RecordedLine> audio = SelectLines(e.lines, kAudioConnection, 0);
    EXPECT_EQ(video.size() + audio.size(), e.lines.size()) << "samples of other connections or passes";
    ASSERT_FALSE(video.empty());
    ASSERT_FALSE(audio.empty());
    EXPECT_NE(video[0].input, audio[0].input);

    const ExpectedVideo expected = ExpectVideoTimeline(RepeatCodesOver("1", 45), 30000, 1001, 45);
    EXPECT_EQ(TimesOf(video), TimesOf(expected));
    // 30000/1001: 333666 per frame, not the exact 333666.67 summed.
    EXPECT_EQ(video.back().time, 44u * 333666u);
    EXPECT_EQ(HashesOf(video), SourceFrameHashes(clip));
    for (const RecordedLine& line : video) {
        EXPECT_EQ(line.size, static_cast<uint32_t>(kFrameBytes));
        EXPECT_EQ(line.input, video[0].input);
        EXPECT_EQ(line.flags, line.time == 0 ? 1u : 0u) << "at " << line.time;
    }

    ExpectAudioBlocks(audio, ExpectFrameAudio(expected, 45, static_cast<int32_t>(e.summary.sampleCount), 48000));
    EXPECT_EQ(TotalBytes(audio), static_cast<uint64_t>(e.summary.sampleCount) * kBlockAlign);
}

}  // namespace
