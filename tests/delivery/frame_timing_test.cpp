#include "delivery/frame_timing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/standin/win32/mapping.h"
#include "platform/standin/win32/message.h"
#include "tests/common/published_timing_map.h"

namespace {

struct PassResult {
    std::vector<std::pair<int32_t, uint64_t>> written;  // frame, stamp
    int32_t stoppedAt = -1;                              // frame without timing data, or -1
};

// One pass as the delivery loops run it.
PassResult RunPass(int32_t frameCount, int32_t rate = 30000, int32_t scale = 1001) {
    PassResult r;
    OpenFrameTimingMap();
    FrameTimeline line = BeginFrameTimeline(rate, scale);
    for (int32_t i = 0; i < frameCount; ++i) {
        uint64_t stamp = 0;
        FrameStep step = StepFrameTimeline(line, i, &stamp);
        if (step == FrameStep::NoTimingData) {
            r.stoppedAt = i;
            break;
        }
        if (step == FrameStep::Dropped) continue;
        r.written.emplace_back(i, stamp);
    }
    CloseFrameTimingMap();
    return r;
}

std::vector<uint64_t> Stamps(const PassResult& r) {
    std::vector<uint64_t> s;
    for (auto& w : r.written) s.push_back(w.second);
    return s;
}

const char kNoDataText[] = "フレームレートデータがありません。";

}  // namespace

TEST(FrameTimingMap, IsNamedForTheProcessAndAnotherProcessMapIsNotFound) {
    char name[kFrameTimingMapNameCapacity];
    FormatFrameTimingMapName(4242, name);
    EXPECT_STREQ(name, "vfrout_4242");
    FormatFrameTimingMapName(-2147483647 - 1, name);
    EXPECT_STREQ(name, "vfrout_-2147483648");

    {
        PublishedTimingMap other("1111", 0, getpid() + 1);
        ASSERT_TRUE(other.Ok());
        OpenFrameTimingMap();
        EXPECT_FALSE(IsFrameTimingMapOpen());
    }
    PublishedTimingMap own("1111");
    ASSERT_TRUE(own.Ok());
    OpenFrameTimingMap();
    EXPECT_TRUE(IsFrameTimingMapOpen());
    OpenFrameTimingMap();  // a second open does not leave the first behind
    EXPECT_EQ(standin::OpenMappingHandles(), 2);
    CloseFrameTimingMap();
    EXPECT_FALSE(IsFrameTimingMapOpen());
    CloseFrameTimingMap();  // twice, and with nothing open: no effect
    EXPECT_EQ(standin::OpenMappingHandles(), 1);
    EXPECT_EQ(standin::MappedViews(), 1);
}

TEST(FrameTimingMap, DurationsFollowTheRoundedNominalFrame) {
    struct Row {
        int32_t rate, scale;
        uint64_t nominal, longer;
    };
    for (const Row& r : {Row{30000, 1001, 333666, 417082}, Row{30, 1, 333333, 416666},
                         Row{25, 1, 400000, 500000}, Row{60000, 1001, 166833, 208541},
                         Row{1, 2147483647, 21474836470000000ull, 26843545587500000ull}}) {
        EXPECT_EQ(NominalFrameDuration(r.rate, r.scale), r.nominal) << r.rate << "/" << r.scale;
        EXPECT_EQ(LongFrameDuration(r.rate, r.scale), r.longer) << r.rate << "/" << r.scale;
    }
    // No division by a rate of 0 or below, nor a negative frame period.
    for (auto rs : {std::pair<int32_t, int32_t>{0, 1}, {-30, 1}, {30, 0}, {30, -1}, {-2147483647 - 1, -1}}) {
        EXPECT_EQ(NominalFrameDuration(rs.first, rs.second), 0u);
        EXPECT_EQ(LongFrameDuration(rs.first, rs.second), 0u);
    }
}

TEST(FrameTimeline, OnlyUpperDDropsAndOnlyTwoLengthens) {
    PublishedTimingMap map("1dA\xFF" "D2" "1");
    ASSERT_TRUE(map.Ok());
    const uint64_t n = 333666, l = 417082;
    PassResult r = RunPass(7);
    EXPECT_EQ(r.stoppedAt, -1);
    std::vector<std::pair<int32_t, uint64_t>> expected = {
        {0, 0}, {1, n}, {2, 2 * n}, {3, 3 * n}, {5, 4 * n}, {6, 4 * n + l}};
    EXPECT_EQ(r.written, expected);
    EXPECT_TRUE(standin::ShownMessageBoxes().empty());

    // Nothing is cached: a later pass reads the codes as they are then.
    map.Codes()[0] = 'D';
    EXPECT_EQ(RunPass(1).written.size(), 0u);
}

TEST(FrameTimeline, WorkedTimeLinesAt30000Over1001) {
    {
        PublishedTimingMap map("22221");
        EXPECT_EQ(Stamps(RunPass(5)), (std::vector<uint64_t>{0, 417082, 834164, 1251246, 1668328}));
        // The running time is a 64-bit sum: one frame of the longest period already passes 2^32.
        const uint64_t l = 26843545587500000ull;
        EXPECT_EQ(Stamps(RunPass(5, 1, 2147483647)), (std::vector<uint64_t>{0, l, 2 * l, 3 * l, 4 * l}));
    }
    PublishedTimingMap map("DD1");
    PassResult r = RunPass(3);
    ASSERT_EQ(r.written.size(), 1u);
    EXPECT_EQ(r.written[0], (std::pair<int32_t, uint64_t>{2, 0}));  // the first kept frame is at 0
}

TEST(FrameTimeline, AZeroCodeEndsThePassWithOneMessage) {
    PublishedTimingMap map(std::string("1\0" "11", 4));
    ASSERT_TRUE(map.Ok());
    OpenFrameTimingMap();
    FrameTimeline line = BeginFrameTimeline(30, 1);
    uint64_t stamp = 99;
    EXPECT_EQ(StepFrameTimeline(line, 0, &stamp), FrameStep::Kept);
    EXPECT_EQ(stamp, 0u);
    EXPECT_EQ(StepFrameTimeline(line, 1, &stamp), FrameStep::NoTimingData);
    EXPECT_EQ(StepFrameTimeline(line, 2, &stamp), FrameStep::NoTimingData);  // ended for good
    CloseFrameTimingMap();

    auto boxes = standin::ShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(standin::Utf8FromCodePage932(boxes[0].text), kNoDataText);
    EXPECT_EQ(boxes[0].caption, "Brevlo(VFR)");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONERROR));

    map.Codes()[0] = '\0';
    PassResult r = RunPass(4);
    EXPECT_EQ(r.stoppedAt, 0);
    EXPECT_TRUE(r.written.empty());
    EXPECT_EQ(standin::ShownMessageBoxes().size(), 2u);  // one more, for this pass
}

TEST(FrameTimeline, NeverReadsPastTheMappedPages) {
    {
        // Ten codes: the rest of the page is zero, so the pass stops right after them.
        PublishedTimingMap map("1111111111");
        EXPECT_EQ(RunPass(20).stoppedAt, 10);
    }
    // A map of exactly one page: frame 4096 lies outside it and counts as having no data.
    PublishedTimingMap map(std::string(4096, '1'));
    ASSERT_TRUE(map.Ok());
    PassResult r = RunPass(5000);
    EXPECT_EQ(r.written.size(), 4096u);
    EXPECT_EQ(r.stoppedAt, 4096);
    EXPECT_EQ(standin::ShownMessageBoxes().size(), 2u);
}

TEST(FrameTimeline, WithoutAnOpenMapEveryFrameHasNoData) {
    FrameTimeline line = BeginFrameTimeline(30, 1);
    EXPECT_EQ(ReadFrameCode(line, 0), 0);
    PassResult r = RunPass(3);  // no map published
    EXPECT_EQ(r.stoppedAt, 0);
    EXPECT_EQ(standin::ShownMessageBoxes().size(), 1u);
}

TEST(FrameTimingMap, AReadOnlyMapIsReadAndAnUnviewableOneCountsAsAbsent) {
    PublishedTimingMap map("2D1");
    ASSERT_TRUE(map.Ok());
    ASSERT_TRUE(standin::MakeFileMappingReadOnly(map.Name().c_str()));
    EXPECT_TRUE(ConfirmFrameTimingMap());
    EXPECT_EQ(Stamps(RunPass(3)), (std::vector<uint64_t>{0, 417082}));

    standin::FailMapViewOfFile(true);
    OpenFrameTimingMap();
    EXPECT_FALSE(IsFrameTimingMapOpen());
    EXPECT_EQ(standin::OpenMappingHandles(), 1);  // only the publisher's; ours was closed again
    EXPECT_EQ(RunPass(3).stoppedAt, 0);
    EXPECT_FALSE(ConfirmFrameTimingMap());
    auto boxes = standin::ShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(standin::Utf8FromCodePage932(boxes[1].text), "フレームレート判定プラグインが起動されていません。");
}
