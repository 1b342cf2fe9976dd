#include <gtest/gtest.h>

#include "delivery/frame_timing.h"
#include "platform/standin/win32/mapping.h"
#include "platform/standin/win32/message.h"
#include "platform/standin/wmvcore/runtime.h"
#include "plugin/entry_points.h"
#include "tests/common/published_timing_map.h"

namespace {

HostJob VideoJob(uint32_t contentFlags) {
    HostJob job{};
    job.ContentFlags = contentFlags;
    job.FrameWidth = 64;
    job.FrameHeight = 48;
    job.Rate = 30000;
    job.Scale = 1001;
    job.FrameCount = 3;
    job.FrameBytes = 64 * 48 * 3;
    job.AudioRate = 48000;
    job.AudioChannels = 2;
    job.AudioSampleBytes = 4;
    job.OutputPath = "/nonexistent/out.wmv";
    return job;
}

}  // namespace

TEST(OutputPresenceTest, WithoutTheMapTheExportIsRefusedWithTheMessage) {
    standin::CallCount("WMCreateWriter");  // switches the call counts on
    HostJob job = VideoJob(HasVideo | HasAudio);
    EXPECT_EQ(Output(&job), 0);
    auto boxes = standin::ShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(standin::Utf8FromCodePage932(boxes[0].text), "フレームレート判定プラグインが起動されていません。");
    EXPECT_EQ(boxes[0].caption, "Brevlo(VFR)");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONERROR));

    // The test comes before the content flags are looked at.
    HostJob empty = VideoJob(0);
    EXPECT_EQ(Output(&empty), 0);
    EXPECT_EQ(standin::ShownMessageBoxes().size(), 2u);
    // Nothing of the export was made.
    EXPECT_EQ(standin::CallCount("WMCreateProfileManager"), 0);
    EXPECT_EQ(standin::CallCount("WMCreateWriter"), 0);
}

TEST(OutputPresenceTest, WithTheMapItIsClosedAgainAndTheContentDecides) {
    standin::EnableFileSink(false);
    PublishedTimingMap map("");  // even a job of no frames needs the map to exist
    ASSERT_TRUE(map.Ok());
    standin::CallCount("WMCreateWriter");  // switches the call counts on
    int writers = 0;
    for (uint32_t flags : {HasVideo, HasAudio, HasVideo | HasAudio, HasVideo | 0x80000000u}) {
        HostJob job = VideoJob(flags);
        job.FrameCount = 0;
        // The export runs, and having written nothing, makes no file.
        EXPECT_EQ(Output(&job), 0) << flags;
        EXPECT_EQ(standin::CallCount("WMCreateWriter"), ++writers) << flags;
        EXPECT_FALSE(IsFrameTimingMapOpen());
        EXPECT_EQ(standin::OpenMappingHandles(), 1);  // the publisher's only
    }
    for (uint32_t flags : {0u, 4u, 0xFFFFFFFCu}) {
        HostJob job = VideoJob(flags);
        EXPECT_EQ(Output(&job), 0) << flags;
        EXPECT_EQ(standin::CallCount("WMCreateWriter"), writers) << flags;
    }
    EXPECT_TRUE(standin::ShownMessageBoxes().empty());
}
