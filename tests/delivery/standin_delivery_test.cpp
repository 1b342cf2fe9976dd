// Delivery and preprocessing into the stand-in runtime's writer, which holds the samples to its
// rules (sizes against the declared input types, time stamps per input and pass never going back).
#include <gtest/gtest.h>

#include <vector>

#include "delivery/preprocessing.h"
#include "delivery/sample_delivery.h"
#include "platform/standin/wmvcore/runtime.h"
#include "tests/common/fake_host.h"
#include "tests/common/standin_writer.h"

using fakehost::FakeHost;
using fakehost::Fnv1a64;

namespace {

std::vector<standin::RecordedSample> On(uint32_t input, uint32_t pass) {
    std::vector<standin::RecordedSample> out;
    for (const auto& s : standin::Recording()) {
        if (s.input == input && s.pass == pass) out.push_back(s);
    }
    return out;
}

TEST(StandinDelivery, InterleavedDeliveryMeetsTheWritersRules) {
    standin::EnableFileSink(false);
    FakeHost host;
    host.width = 64;
    host.height = 48;
    host.frameCount = 10;
    host.audioSampleCount = 16000;
    host.frameFlags = {1};
    host.PublishTiming("12D1D2DD11");
    const HostJob job = host.MakeJob();
    {
        standinwriter::RunningWriter run;
        standin::StartRecording();
        ASSERT_EQ(standinwriter::StartWriter(job, &run), S_OK);
        EXPECT_EQ(DeliverSamples(run.writer.Get(), &job, run.count, run.table), S_OK);
        EXPECT_EQ(run.writer->EndWriting(), S_OK);
        standin::StopRecording();

        const auto video = On(static_cast<uint32_t>(run.table[0].InputNumber), 0);
        const auto audio = On(static_cast<uint32_t>(run.table[1].InputNumber), 0);
        ASSERT_EQ(video.size(), 6u);
        const uint64_t times[] = {0, 333333, 749999, 1083332, 1499998, 1833331};
        for (size_t k = 0; k < video.size(); ++k) EXPECT_EQ(video[k].time, times[k]) << k;
        EXPECT_EQ(video[0].flags, static_cast<uint32_t>(WM_SF_CLEANPOINT));
        EXPECT_EQ(video[5].hash, Fnv1a64(host.FrameImage(9)));
        // Audio runs on without a gap to the end of the last kept frame.
        uint64_t samples = 0;
        for (const auto& s : audio) samples += s.size / 4;
        EXPECT_EQ(samples, 16000u);
        EXPECT_EQ(audio.back().time, 14400ull * 10000000ull / 48000ull);
    }
    EXPECT_EQ(standin::LiveObjects(), 0);
}

TEST(StandinDelivery, APreprocessingPassPrecedesTheSameTimeLine) {
    standin::EnableFileSink(false);
    FakeHost host;
    host.width = 32;
    host.height = 32;
    host.frameCount = 5;
    host.audioSampleCount = 30000;
    host.PublishTiming("2D221");
    const HostJob job = host.MakeJob();
    {
        standinwriter::RunningWriter run;
        standin::StartRecording();
        ASSERT_EQ(standinwriter::StartWriter(job, &run), S_OK);
        ComRef<IWMWriterPreprocess> preprocess;
        ASSERT_EQ(QueryInterfaceInto(run.writer.Get(), IID_IWMWriterPreprocess, preprocess), S_OK);
        DWORD most = 0;
        ASSERT_EQ(preprocess->GetMaxPreprocessingPasses(static_cast<DWORD>(run.table[0].InputNumber), 0, &most), S_OK);
        if (most < 1) GTEST_SKIP() << "the catalogue's first video format takes no preprocessing";
        EXPECT_EQ(PreprocessVideoPasses(run.writer.Get(), preprocess.Get(), &job, &run.table[0], 1), S_OK);
        preprocess.Reset();
        EXPECT_EQ(DeliverSamples(run.writer.Get(), &job, run.count, run.table), S_OK);
        EXPECT_EQ(run.writer->EndWriting(), S_OK);
        standin::StopRecording();

        const uint32_t input = static_cast<uint32_t>(run.table[0].InputNumber);
        const auto first = On(input, 1);
        const auto last = On(input, 0);
        ASSERT_EQ(first.size(), 4u);
        ASSERT_EQ(last.size(), first.size());
        for (size_t k = 0; k < first.size(); ++k) {
            EXPECT_EQ(first[k].time, last[k].time);
            EXPECT_EQ(first[k].hash, last[k].hash);
        }
        EXPECT_EQ(last[3].time, 3u * 416666u);
    }
    EXPECT_EQ(standin::LiveObjects(), 0);
}

}  // namespace
