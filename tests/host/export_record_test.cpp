// Exports through brevlo-host and the module, held against what the stand-in media runtime
// received: which frames were written, at which times, with which key-frame flags, and the audio
// blocks beside them, compared with the time line worked out by hand from the timing codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/host_run.h"
#include "tests/host/recording.h"
#include "tests/host/settings_blob.h"

namespace {

// A short synthetic clip: 160x120 (rows of 480 bytes), 48 kHz stereo.
constexpr int32_t kFrameBytes = 480 * 120;
constexpr int32_t kStereo = 4;  // bytes per sample frame

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

std::vector<std::string> Pick(const std::vector<std::string>& hashes, const std::vector<int32_t>& frames) {
    std::vector<std::string> out;
    for (int32_t f : frames) out.push_back(f < static_cast<int32_t>(hashes.size()) ? hashes[f] : "(none)");
    return out;
}

const char kNoTimingData[] = "フレームレートデータがありません。";

size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// An ASF file starts with its header object.
bool StartsAsAsf(const std::string& path) {
    static const unsigned char kHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const std::string bytes = ReadFileBytes(path);
    return bytes.size() > 16 && bytes.compare(0, 16, reinterpret_cast<const char*>(kHeaderObject), 16) == 0;
}

// Every export here must end with status 0: Output returned 1, the stand-ins hold nothing any
// more, and there is a file.
void ExpectCleanExport(const RecordedExport& e) {
    EXPECT_EQ(e.run.exitCode, 0) << e.run.err;
    EXPECT_EQ(e.run.err.find("left over"), std::string::npos) << e.run.err;
    EXPECT_TRUE(e.summary.found) << e.run.err;
    EXPECT_EQ(e.summary.outputResult, 1) << e.run.err;
    EXPECT_EQ(e.readError, "");
    EXPECT_TRUE(StartsAsAsf(e.file)) << e.file;
}

// The audio lines against the blocks worked out by hand: times, sizes, no flags, one input.
void ExpectAudioBlocks(const std::vector<RecordedLine>& lines, const std::vector<ExpectedAudioBlock>& blocks,
                       int32_t blockAlign) {
    ASSERT_EQ(lines.size(), blocks.size());
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_EQ(lines[k].time, blocks[k].time) << "block " << k;
        EXPECT_EQ(lines[k].size, static_cast<uint32_t>(blocks[k].count * blockAlign)) << "block " << k;
        EXPECT_EQ(lines[k].flags, 0u) << "block " << k;
        EXPECT_EQ(lines[k].input, lines[0].input) << "block " << k;
    }
}

// The blocks follow each other without gap or overlap from sample 0; returns where they end.
int64_t ExpectContiguous(const std::vector<ExpectedAudioBlock>& blocks) {
    int64_t next = 0;
    for (const ExpectedAudioBlock& b : blocks) {
        EXPECT_EQ(b.first, next);
        next = b.first + b.count;
    }
    return next;
}

uint64_t TotalBytes(const std::vector<RecordedLine>& lines) {
    uint64_t total = 0;
    for (const RecordedLine& line : lines) total += line.size;
    return total;
}

// Positions in arrival order (the size of `lines` when there is none).
size_t FirstOfPass(const std::vector<RecordedLine>& lines, uint32_t pass) {
    for (size_t k = 0; k < lines.size(); ++k) {
        if (lines[k].pass == pass) return k;
    }
    return lines.size();
}

size_t FirstOf(const std::vector<RecordedLine>& lines, const std::string& connection, uint32_t pass) {
    for (size_t k = 0; k < lines.size(); ++k) {
        if (lines[k].connection == connection && lines[k].pass == pass) return k;
    }
    return lines.size();
}

size_t LastOf(const std::vector<RecordedLine>& lines, const std::string& connection, uint32_t pass) {
    size_t last = lines.size();
    for (size_t k = 0; k < lines.size(); ++k) {
        if (lines[k].connection == connection && lines[k].pass == pass) last = k;
    }
    return last;
}

std::vector<uint32_t> FlagsOf(const std::vector<RecordedLine>& lines) {
    std::vector<uint32_t> flags;
    for (const RecordedLine& line : lines) flags.push_back(line.flags);
    return flags;
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

    const std::vector<ExpectedAudioBlock> blocks =
        ExpectFrameAudio(expected, 45, static_cast<int32_t>(e.summary.sampleCount), 48000);
    ExpectAudioBlocks(audio, blocks, kStereo);
    EXPECT_EQ(ExpectContiguous(blocks), e.summary.sampleCount);
    EXPECT_EQ(TotalBytes(audio), static_cast<uint64_t>(e.summary.sampleCount) * kStereo);
}

// Dropped frames are fetched but not written and take no time, long frames last 5/4 of the rounded
// nominal duration, every other code is nominal; the audio of dropped frames goes with the next kept
// frame, and that of dropped frames after the last kept one is not written.
TEST(ExportRecord, DroppedAndLongFramesFollowTheCodes) {
    ASSERT_EQ(StoreSettingsThroughHost(DefaultSettings()).exitCode, 0);
    struct Case {
        const char* pattern;  // as brevlo-host takes it
        std::string codes;    // the same, one byte per frame
        int32_t frames;
        int32_t rate, scale;
        int32_t audioRate, channels;
    } cases[] = {
        {"2222D", RepeatCodesOver("2222D", 60), 60, 30000, 1001, 48000, 2},
        {"2222D*60,11111*30", RepeatCodesOver(RepeatCodesOver("2222D", 60) + RepeatCodesOver("11111", 30), 120), 120,
         30000, 1001, 48000, 2},
        {"DD2d\\xffA1", RepeatCodesOver("DD2d\xff" "A1", 40), 40, 60000, 1001, 44100, 1},
        {"2D", RepeatCodesOver("2D", 50), 50, 25, 1, 48000, 2},
        // Fewer samples than frames: most frames have an empty block and write no audio.
        {"1D2", RepeatCodesOver("1D2", 30), 30, 60, 1, 20, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        const std::string rate = std::to_string(c.rate) + "/" + std::to_string(c.scale);
        std::vector<std::string> clip = Clip(c.frames, rate);
        clip.back() = std::to_string(c.audioRate) + "/" + std::to_string(c.channels);
        const int32_t blockAlign = 2 * c.channels;
        RecordedExport e = RunRecordedExport("codes", Join(clip, {"--timing", c.pattern}));
        ExpectCleanExport(e);
        const ExpectedVideo expected = ExpectVideoTimeline(c.codes, c.rate, c.scale, c.frames);
        EXPECT_EQ(e.summary.kept, static_cast<int32_t>(expected.kept.size()));
        EXPECT_EQ(e.summary.dropped, expected.dropped);
        EXPECT_EQ(e.summary.longFrames, expected.longFrames);

        const std::vector<RecordedLine> video = SelectLines(e.lines, kVideoConnection, 0);
        EXPECT_EQ(TimesOf(video), TimesOf(expected));
        EXPECT_EQ(HashesOf(video), Pick(SourceFrameHashes(clip), FramesOf(expected)));

        const std::vector<RecordedLine> audio = SelectLines(e.lines, kAudioConnection, 0);
        const std::vector<ExpectedAudioBlock> blocks =
            ExpectFrameAudio(expected, c.frames, static_cast<int32_t>(e.summary.sampleCount), c.audioRate);
        ExpectAudioBlocks(audio, blocks, blockAlign);
        // Continuous audio up to the end of the last kept frame.
        const int64_t end = ExpectContiguous(blocks);
        const int32_t lastKept = expected.kept.back().frame;
        EXPECT_EQ(end, e.summary.sampleCount * (lastKept + 1) / c.frames);
        EXPECT_EQ(TotalBytes(audio), static_cast<uint64_t>(end) * blockAlign);
    }

    // The examples worked through for 30000/1001 and 60000/1001.
    RecordedExport e = RunRecordedExport("film", Join(Clip(10), {"--timing", "2222D"}));
    const std::vector<uint64_t> film = {0, 417082, 834164, 1251246, 1668328, 2085410, 2502492, 2919574};
    EXPECT_EQ(TimesOf(SelectLines(e.lines, kVideoConnection, 0)), film);
    // Frame 5's audio starts with the dropped frame 4: samples 6406 … 9608 of 16016.
    const std::vector<RecordedLine> audio = SelectLines(e.lines, kAudioConnection, 0);
    ASSERT_GE(audio.size(), 5u);
    EXPECT_EQ(audio[4].time, 1334583u);
    EXPECT_EQ(audio[4].size, (9609u - 6406u) * kStereo);
    e = RunRecordedExport("sixty", Join(Clip(6, "60000/1001"), {"--timing", "D22211"}));
    EXPECT_EQ(TimesOf(SelectLines(e.lines, kVideoConnection, 0)),
              (std::vector<uint64_t>{0, 208541, 417082, 625623, 792456}));
}

// Key frames are asked for kept frames only: a key frame that is dropped gives no clean point, and
// its mark does not move to the next kept frame.
TEST(ExportRecord, KeyFramesAreCleanPointsOnKeptKeyFramesOnly) {
    ASSERT_EQ(StoreSettingsThroughHost(DefaultSettings()).exitCode, 0);
    const std::string codes = RepeatCodesOver("2222D", 30);
    const ExpectedVideo expected = ExpectVideoTimeline(codes, 30000, 1001, 30);
    for (int32_t every : {4, 0, 7}) {
        SCOPED_TRACE(every);
        RecordedExport e = RunRecordedExport("keys", Join(Clip(30), {"--timing", "2222D", "--key-every", std::to_string(every)}));
        ExpectCleanExport(e);
        const std::vector<RecordedLine> video = SelectLines(e.lines, kVideoConnection, 0);
        ASSERT_EQ(video.size(), expected.kept.size());
        std::vector<uint32_t> wanted;
        for (const ExpectedFrame& f : expected.kept) wanted.push_back(f.frame == 0 || (every > 0 && f.frame % every == 0) ? 1u : 0u);
        EXPECT_EQ(FlagsOf(video), wanted);
        for (const RecordedLine& line : SelectLines(e.lines, kAudioConnection, 0)) EXPECT_EQ(line.flags, 0u);
    }
    // With every 4th frame a key frame, frames 4 and 24 are dropped key frames; 5 and 25 after them
    // are not marked.
    RecordedExport e = RunRecordedExport("keys4", Join(Clip(30), {"--timing", "2222D", "--key-every", "4"}));
    const std::vector<RecordedLine> video = SelectLines(e.lines, kVideoConnection, 0);
    ASSERT_EQ(video.size(), 24u);
    EXPECT_EQ(video[4].flags, 0u);   // frame 5
    EXPECT_EQ(video[7].flags, 1u);   // frame 8
    EXPECT_EQ(video[20].flags, 0u);  // frame 25

    // Frame 0 dropped: no clean point at all when no later kept frame is a key frame.
    e = RunRecordedExport("nokey", Join(Clip(12), {"--timing", "DD1", "--key-every", "0"}));
    ExpectCleanExport(e);
    const std::vector<RecordedLine> late = SelectLines(e.lines, kVideoConnection, 0);
    EXPECT_EQ(late.size(), 4u);
    EXPECT_EQ(FlagsOf(late), std::vector<uint32_t>(late.size(), 0u));
}

// A frame without timing data ends the pass: the frames before it and their audio are in the file,
// nothing after it, the user is told once, and the export still counts as written.
TEST(ExportRecord, TimingThatEndsEarlyEndsThePassThere) {
    ASSERT_EQ(StoreSettingsThroughHost(DefaultSettings()).exitCode, 0);
    const std::string file = TempPath("short-codes.txt");
    WriteFileBytes(file, "2222D 2222D\n2222D 2222D\n");  // 20 codes for 30 frames
    struct Case {
        std::vector<std::string> timing;
        std::string codes;
        int32_t endsAt;
    } cases[] = {
        {{"--timing-file", file}, RepeatCodesOver("2222D", 20), 20},
        {{"--timing", "1111111\\x00"}, RepeatCodesOver(std::string("1111111\0", 8), 30), 7},
    };
    const std::vector<std::string> clip = Clip(30);
    const std::vector<std::string> source = SourceFrameHashes(clip);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.timing.back());
        RecordedExport e = RunRecordedExport("ends", Join(clip, c.timing));
        ExpectCleanExport(e);
        EXPECT_EQ(CountOf(e.run.err, kNoTimingData), 1u) << e.run.err;
        EXPECT_EQ(e.summary.noDataFrom, c.endsAt);
        const ExpectedVideo expected = ExpectVideoTimeline(c.codes, 30000, 1001, 30);
        ASSERT_EQ(expected.endedAt, c.endsAt);
        const std::vector<RecordedLine> video = SelectLines(e.lines, kVideoConnection, 0);
        EXPECT_EQ(TimesOf(video), TimesOf(expected));
        EXPECT_EQ(HashesOf(video), Pick(source, FramesOf(expected)));
        const std::vector<RecordedLine> audio = SelectLines(e.lines, kAudioConnection, 0);
        const std::vector<ExpectedAudioBlock> blocks =
            ExpectFrameAudio(expected, 30, static_cast<int32_t>(e.summary.sampleCount), 48000);
        ExpectAudioBlocks(audio, blocks, kStereo);
        // The audio stops with the last kept frame: no block reaches the frame without data.
        const int64_t end = ExpectContiguous(blocks);
        EXPECT_LE(end, e.summary.sampleCount * c.endsAt / 30);
        EXPECT_EQ(e.summary.samplesHandedOver, end);
    }

    // In a two-pass mode the preprocessing pass ends where the time line ends, and the writing pass
    // then writes the same frames; each pass tells the user.
    EncoderSettings twoPass = DefaultSettings();
    twoPass.CompressionMode = 1;
    ASSERT_EQ(StoreSettingsThroughHost(twoPass).exitCode, 0);
    const Case& stop = cases[1];
    RecordedExport e = RunRecordedExport("ends-2pass", Join(clip, stop.timing));
    ExpectCleanExport(e);
    EXPECT_EQ(CountOf(e.run.err, kNoTimingData), 2u) << e.run.err;
    const ExpectedVideo expected = ExpectVideoTimeline(stop.codes, 30000, 1001, 30);
    const std::vector<RecordedLine> analysed = SelectLines(e.lines, kVideoConnection, 1);
    const std::vector<RecordedLine> written = SelectLines(e.lines, kVideoConnection, 0);
    EXPECT_EQ(TimesOf(analysed), TimesOf(expected));
    EXPECT_EQ(TimesOf(written), TimesOf(expected));
    EXPECT_EQ(HashesOf(written), Pick(source, FramesOf(expected)));
}

// A job with one stream gets one writer input; the other input of the profile receives nothing.
TEST(ExportRecord, SingleStreamJobsFeedOneInput) {
    ASSERT_EQ(StoreSettingsThroughHost(DefaultSettings()).exitCode, 0);
    const std::vector<std::string> clip = Clip(30);
    RecordedExport e = RunRecordedExport("video-only", Join(clip, {"--timing", "2222D", "--no-audio"}));
    ExpectCleanExport(e);
    EXPECT_EQ(e.summary.sampleCount, -1) << "no audio in the summary";
    EXPECT_EQ(e.summary.kept, 24);
    const ExpectedVideo expected = ExpectVideoTimeline(RepeatCodesOver("2222D", 30), 30000, 1001, 30);
    const std::vector<RecordedLine> video = SelectLines(e.lines, kVideoConnection, 0);
    EXPECT_EQ(video.size(), e.lines.size());
    EXPECT_EQ(TimesOf(video), TimesOf(expected));
    EXPECT_EQ(HashesOf(video), Pick(SourceFrameHashes(clip), FramesOf(expected)));

    // Audio alone: half-second blocks over all of it, whatever the codes say; 11025 Hz gives blocks
    // of 5512 samples, the second stamped 4999546.
    e = RunRecordedExport("audio-only",
                          {"--no-video", "--frames", "60", "--rate", "30", "--audio", "11025/1", "--timing", "2222D"});
    ExpectCleanExport(e);
    EXPECT_EQ(e.summary.frames, -1) << "no video in the summary";
    EXPECT_EQ(e.summary.sampleCount, 22050);
    EXPECT_EQ(e.summary.samplesHandedOver, 22050);
    const std::vector<RecordedLine> audio = SelectLines(e.lines, kAudioConnection, 0);
    EXPECT_EQ(audio.size(), e.lines.size());
    const std::vector<ExpectedAudioBlock> blocks = ExpectHalfSecondAudio(22050, 11025);
    ExpectAudioBlocks(audio, blocks, 2);
    ASSERT_EQ(audio.size(), 5u);
    EXPECT_EQ(audio[1].time, 4999546u);
    EXPECT_EQ(audio[1].size, 5512u * 2);
    EXPECT_EQ(TotalBytes(audio), 22050u * 2);
}

// The two-pass modes feed the writer every kept frame once before the writing pass, with the same
// time line; audio passes cover all the audio in half-second blocks.
TEST(ExportRecord, PreprocessingPassesSeeWhatTheWritingPassWrites) {
    struct Case {
        int32_t mode;
        int32_t audioPasses;
        bool videoPass;
    } cases[] = {{1, 1, true}, {3, 1, true}, {4, 2, true}, {0, 1, false}, {2, 2, false}};
    // 44 frames: the last one is dropped.
    const std::vector<std::string> clip = Clip(44);
    const std::string codes = RepeatCodesOver(RepeatCodesOver("2222D", 20) + "1D", 44);
    const ExpectedVideo expected = ExpectVideoTimeline(codes, 30000, 1001, 44);
    const std::vector<std::string> kept = Pick(SourceFrameHashes(clip), FramesOf(expected));
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + ", audio passes " + std::to_string(c.audioPasses));
        EncoderSettings settings = DefaultSettings();
        settings.CompressionMode = c.mode;
        settings.AudioNumberOfPasses = c.audioPasses;
        ASSERT_EQ(StoreSettingsThroughHost(settings).exitCode, 0);
        RecordedExport e = RunRecordedExport("passes", Join(clip, {"--timing", "2222D*20,1D"}));
        ExpectCleanExport(e);

        const std::vector<RecordedLine> written = SelectLines(e.lines, kVideoConnection, 0);
        EXPECT_EQ(TimesOf(written), TimesOf(expected));
        EXPECT_EQ(HashesOf(written), kept);
        const std::vector<uint32_t> one = {0}, two = {0, 1};
        EXPECT_EQ(PassesOf(e.lines, kVideoConnection), c.videoPass ? two : one);
        EXPECT_EQ(PassesOf(e.lines, kAudioConnection), c.audioPasses > 1 ? two : one);
        if (c.videoPass) {
            const std::vector<RecordedLine> first = SelectLines(e.lines, kVideoConnection, 1);
            EXPECT_EQ(TimesOf(first), TimesOf(expected));
            EXPECT_EQ(HashesOf(first), kept);
            EXPECT_EQ(FlagsOf(first), std::vector<uint32_t>(first.size(), 0u));
            ASSERT_FALSE(first.empty());
            EXPECT_EQ(first[0].input, written[0].input);
            EXPECT_LT(LastOf(e.lines, kVideoConnection, 1), FirstOfPass(e.lines, 0));
        }
        if (c.audioPasses > 1) {
            const std::vector<RecordedLine> first = SelectLines(e.lines, kAudioConnection, 1);
            // All the audio, also that of the dropped frame at the end, which the writing pass leaves out.
            ExpectAudioBlocks(first, ExpectHalfSecondAudio(static_cast<int32_t>(e.summary.sampleCount), 48000), kStereo);
            EXPECT_EQ(TotalBytes(first), static_cast<uint64_t>(e.summary.sampleCount) * kStereo);
            EXPECT_LT(TotalBytes(SelectLines(e.lines, kAudioConnection, 0)), TotalBytes(first));
            EXPECT_EQ(e.summary.samplesHandedOver, e.summary.sampleCount);
            EXPECT_LT(LastOf(e.lines, kAudioConnection, 1), FirstOfPass(e.lines, 0));
            if (c.videoPass) {
                EXPECT_LT(LastOf(e.lines, kVideoConnection, 1), FirstOf(e.lines, kAudioConnection, 1));
            }
        }
    }

    // One stream: its passes go to the one input the job has.
    EncoderSettings settings = DefaultSettings();
    settings.CompressionMode = 1;
    settings.AudioNumberOfPasses = 2;
    ASSERT_EQ(StoreSettingsThroughHost(settings).exitCode, 0);
    RecordedExport e = RunRecordedExport("video-passes", Join(clip, {"--timing", "2222D*20,1D", "--no-audio"}));
    ExpectCleanExport(e);
    EXPECT_EQ(PassesOf(e.lines, kVideoConnection), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(HashesOf(SelectLines(e.lines, kVideoConnection, 1)), kept);
    EXPECT_EQ(TimesOf(SelectLines(e.lines, kVideoConnection, 0)), TimesOf(expected));
    EXPECT_EQ(SelectLines(e.lines, kVideoConnection, 0).size() + kept.size(), e.lines.size());

    e = RunRecordedExport("audio-passes", {"--no-video", "--frames", "30", "--audio", "44100/2"});
    ExpectCleanExport(e);
    EXPECT_EQ(PassesOf(e.lines, kAudioConnection), (std::vector<uint32_t>{0, 1}));
    const std::vector<ExpectedAudioBlock> blocks = ExpectHalfSecondAudio(static_cast<int32_t>(e.summary.sampleCount), 44100);
    ExpectAudioBlocks(SelectLines(e.lines, kAudioConnection, 1), blocks, kStereo);
    ExpectAudioBlocks(SelectLines(e.lines, kAudioConnection, 0), blocks, kStereo);
    EXPECT_EQ(HashesOf(SelectLines(e.lines, kAudioConnection, 1)), HashesOf(SelectLines(e.lines, kAudioConnection, 0)));
    EXPECT_EQ(e.lines.size(), 2 * blocks.size());
}

// When no usable file comes out, Output says so and the host fails the export, still with nothing
// left over.
TEST(ExportRecord, ExportsWithoutAUsableFileFail) {
    ASSERT_EQ(StoreSettingsThroughHost(DefaultSettings()).exitCode, 0);
    // Paths the module cannot hand to the writer: longer than 260 UTF-16 units, or not valid text.
    for (const std::string& path : {TempPath(std::string(300, 'p') + ".wmv"), TempPath("\xff.wmv")}) {
        std::string record = TempPath("unwritten.jsonl");
        HostRun run = RunHost(Join({"export", "-o", path, "--record", record}, Clip(5)));
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(ParseSummary(run.err).outputResult, 0) << run.err;
        EXPECT_NE(run.err.find("failed"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("left over"), std::string::npos) << run.err;
        EXPECT_FALSE(FileExists(path));
        std::vector<RecordedLine> lines;
        std::string error;
        EXPECT_TRUE(ReadRecording(record, lines, error)) << error;
        EXPECT_TRUE(lines.empty());
    }
}

// A clip FFmpeg reads goes through the same time line: its decoded frames, as the editor would hand
// them over, are the ones written, and its audio runs on beside them.
TEST(ExportRecord, DecodedClipFollowsTheCodesToo) {
    ASSERT_EQ(StoreSettingsThroughHost(DefaultSettings()).exitCode, 0);
    const std::string clip = TempPath("decoded.mkv");
    const std::string make = "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -f lavfi -i sine=frequency=440:sample_rate=32000 "
                             "-t 1.2 -c:v ffv1 -c:a pcm_s16le -ac 1 '" + clip + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string raw = TempPath("decoded.raw");
    HostRun frames = RunHost({"raw-frames", "-o", raw, "--input", clip});
    ASSERT_EQ(frames.exitCode, 0) << frames.err;
    const std::vector<std::string> source = FrameHashes(ReadFileBytes(raw), 192 * 48);
    ASSERT_EQ(source.size(), 30u);

    RecordedExport e = RunRecordedExport("decoded", {"--input", clip, "--timing", "2D1"});
    ExpectCleanExport(e);
    EXPECT_EQ(e.summary.frames, 30);
    const ExpectedVideo expected = ExpectVideoTimeline(RepeatCodesOver("2D1", 30), 25, 1, 30);
    const std::vector<RecordedLine> video = SelectLines(e.lines, kVideoConnection, 0);
    EXPECT_EQ(TimesOf(video), TimesOf(expected));
    EXPECT_EQ(HashesOf(video), Pick(source, FramesOf(expected)));
    const std::vector<ExpectedAudioBlock> blocks =
        ExpectFrameAudio(expected, 30, static_cast<int32_t>(e.summary.sampleCount), 32000);
    ExpectAudioBlocks(SelectLines(e.lines, kAudioConnection, 0), blocks, 2);
    EXPECT_EQ(ExpectContiguous(blocks), e.summary.sampleCount);
    EXPECT_NEAR(static_cast<double>(e.summary.sampleCount), 1.2 * 32000, 32000 * 0.05);
}

}  // namespace
