// A user's abort at every point of an export: at each AbortRequested call in turn, in each pass.
// A stop in a preprocessing pass leaves no file worth ending and reports failure; a stop in the
// writing pass ends a file that holds what was written so far and counts as written once it holds
// a sample (before the first one it reports failure too). Either way
// nothing is left behind, and every file the runtime ended is one ffprobe reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/standin/leaks.h"
#include "platform/standin/wmvcore/runtime.h"
#include "plugin/entry_points.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/fake_host.h"
#include "tests/common/media_probe.h"
#include "tests/common/recording_checks.h"
#include "tests/common/stored_settings.h"
#include "tests/host/host_run.h"

namespace {

using fakehost::Call;

struct AbortJob {
    const char* name;
    void (*settings)(EncoderSettings&);
    bool preprocesses;
};

const AbortJob kAbortJobs[] = {
    {"1-pass", [](EncoderSettings&) {}, false},
    {"2-pass video", [](EncoderSettings& s) { s.CompressionMode = 1; }, true},
    {"2-pass audio", [](EncoderSettings& s) { s.AudioNumberOfPasses = 2; }, true},
};

struct AbortRun {
    int32_t result = -1;
    int32_t abortCalls = 0;
    long endWritings = 0;
    std::vector<standin::RecordedSample> recording;
    std::vector<std::string> leftOver;
};

std::vector<standin::RecordedSample> OfInput(const std::vector<standin::RecordedSample>& samples, uint32_t input) {
    std::vector<standin::RecordedSample> out;
    for (const standin::RecordedSample& s : samples) {
        if (s.input == input) out.push_back(s);
    }
    return out;
}

bool IsPrefix(const std::vector<standin::RecordedSample>& part, const std::vector<standin::RecordedSample>& whole) {
    return part.size() <= whole.size() &&
           SameSamples(part, std::vector<standin::RecordedSample>(whole.begin(), whole.begin() + part.size()));
}

class AbortAnywhere : public ::testing::Test {
protected:
    void TearDown() override { std::remove(path.c_str()); }

    // 8 frames with a dropped and a long one; AbortRequested answers 1 from its call `abortAt` on.
    AbortRun Run(const AbortJob& job, int32_t abortAt) {
        AbortRun run;
        standin::ResetAll();
        std::remove(path.c_str());
        StoreSettings(job.settings);
        {
            fakehost::FakeHost host;
            host.width = 64;
            host.height = 48;
            host.frameCount = 8;
            host.audioSampleCount = 8 * 1600;
            host.frameFlags = {1};
            host.abortAtCall = abortAt;
            host.PublishTiming("11D12211");
            HostJob hostJob = host.MakeJob();
            hostJob.OutputPath = path.c_str();
            standin::StartRecording();
            const long endsBefore = standin::CallCount("IWMWriter::EndWriting");
            run.result = Output(&hostJob);
            run.endWritings = standin::CallCount("IWMWriter::EndWriting") - endsBefore;
            run.abortCalls = host.CountOf(Call::Abort);
            run.recording = standin::Recording();
            standin::StopRecording();
            EXPECT_TRUE(RecordingFaults(run.recording, static_cast<uint32_t>(host.FrameBytes()), 4).empty());
        }
        run.leftOver = standin::CollectLeaks();
        return run;
    }

    const std::string path = TempPath("abort-anywhere.wmv");
};

TEST_F(AbortAnywhere, EveryAbortEndsAsItsPassCallsForAndLeavesNothingBehind) {
    int tried = 0;
    for (const AbortJob& job : kAbortJobs) {
        SCOPED_TRACE(job.name);
        const AbortRun whole = Run(job, -1);
        ASSERT_EQ(whole.result, 1);
        ASSERT_GT(whole.abortCalls, 0);
        const std::vector<standin::RecordedSample> written = SamplesOfPass(whole.recording, 0);
        const std::vector<standin::RecordedSample> preprocessed = SamplesOfPass(whole.recording, 1);
        ASSERT_EQ(preprocessed.empty(), !job.preprocesses);

        int stoppedInPreprocessing = 0, stoppedWriting = 0;
        size_t lastWritten = 0;
        for (int32_t k = 0; k < whole.abortCalls; ++k) {
            SCOPED_TRACE("abort at call " + std::to_string(k));
            const AbortRun run = Run(job, k);
            ++tried;
            EXPECT_TRUE(run.leftOver.empty()) << ::testing::PrintToString(run.leftOver);
            EXPECT_EQ(run.abortCalls, k + 1) << "asked again after the user's stop";
            const std::vector<standin::RecordedSample> runWritten = SamplesOfPass(run.recording, 0);
            if (run.endWritings == 0) {
                // Stopped in a preprocessing pass: nothing written, nothing ended, failure reported.
                ++stoppedInPreprocessing;
                EXPECT_EQ(run.result, 0);
                EXPECT_TRUE(runWritten.empty());
                EXPECT_TRUE(IsPrefix(SamplesOfPass(run.recording, 1), preprocessed));
                EXPECT_EQ(stoppedWriting, 0) << "a later stop fell in an earlier pass";
                continue;
            }
            // Stopped while writing: the passes before it whole, each input's samples a prefix of
            // what the whole export writes, the file ended and readable.
            ++stoppedWriting;
            EXPECT_EQ(run.endWritings, 1);
            // A stop before the writing pass's first sample left no usable file either.
            EXPECT_EQ(run.result, runWritten.empty() ? 0 : 1) << runWritten.size() << " samples written";
            EXPECT_TRUE(SameSamples(SamplesOfPass(run.recording, 1), preprocessed));
            for (uint32_t input : {0u, 1u}) {
                EXPECT_TRUE(IsPrefix(OfInput(runWritten, input), OfInput(written, input))) << "input " << input;
            }
            EXPECT_GE(runWritten.size(), lastWritten) << "a later stop wrote less";
            lastWritten = runWritten.size();
            std::vector<ProbedPacket> packets = ProbePackets(path);
            size_t videoSamples = 0;
            for (const standin::RecordedSample& s : runWritten) videoSamples += s.connection == u"TamselVideo1";
            EXPECT_EQ(PacketsOfStream(packets, 0).size(), videoSamples);
        }
        EXPECT_GT(stoppedWriting, 0);
        EXPECT_EQ(stoppedInPreprocessing > 0, job.preprocesses);
    }
    std::printf("aborts tried: %d\n", tried);
}

}  // namespace
