#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "delivery/sample_delivery.h"
#include "tests/common/fake_host.h"
#include "tests/delivery/fake_writer.h"

using fakehost::Call;
using fakehost::FakeHost;
using fakehost::Fnv1a64;
using fakewriter::Event;
using fakewriter::FakeWriter;

namespace {

// Writer input numbers deliberately unlike the table positions.
constexpr DWORD kVideoInput = 5;
constexpr DWORD kAudioInput = 2;

class Delivery : public ::testing::Test {
protected:
    Delivery() {
        table[0] = InputBinding{static_cast<int32_t>(kVideoInput), u"TamselVideo1", {}};
        table[1] = InputBinding{static_cast<int32_t>(kAudioInput), u"TamselAudio1", {}};
    }
    ~Delivery() override {
        EXPECT_EQ(writer.LiveBuffers(), 0);
        EXPECT_EQ(writer.References(), 0);
    }

    // Codes for every frame: `head` first, then '1'.
    void Publish(const std::string& head) {
        std::string codes = head;
        codes.resize(static_cast<size_t>(host.frameCount), '1');
        host.PublishTiming(codes);
    }
    HRESULT Deliver(uint32_t count = 2) {
        job = host.MakeJob();
        return DeliverSamples(&writer, &job, count, table);
    }
    std::vector<Event> Video() const { return writer.Samples("WriteSample", kVideoInput); }
    std::vector<Event> Audio() const { return writer.Samples("WriteSample", kAudioInput); }
    std::vector<int32_t> Indices(Call kind) const {
        std::vector<int32_t> out;
        for (const auto& c : host.CallsOf(kind)) out.push_back(c.a);
        return out;
    }

    FakeHost host;
    FakeWriter writer;
    InputBinding table[2];
    HostJob job{};
};

TEST_F(Delivery, InterleavedCarriesTheAudioOfDroppedFramesIntoTheNextKeptFrame) {
    host.frameCount = 300;
    host.audioSampleCount = 480000;
    Publish("1D1");
    EXPECT_EQ(Deliver(), S_OK);

    std::vector<Event> video = Video();
    ASSERT_EQ(video.size(), 299u);
    EXPECT_EQ(video[0].time, 0u);
    EXPECT_EQ(video[1].time, 333333u);
    EXPECT_EQ(video[2].time, 666666u);
    EXPECT_EQ(video[1].hash, Fnv1a64(host.FrameImage(2)));
    EXPECT_EQ(video[1].size, static_cast<DWORD>(host.FrameBytes()));

    std::vector<Event> audio = Audio();
    ASSERT_EQ(audio.size(), 299u);
    EXPECT_EQ(audio[0].time, 0u);
    EXPECT_EQ(audio[0].hash, Fnv1a64(host.AudioBytes(0, 1600)));
    EXPECT_EQ(audio[1].time, 333333u);
    EXPECT_EQ(audio[1].hash, Fnv1a64(host.AudioBytes(1600, 3200)));
    // Continuous from sample 0 to the end.
    uint64_t bytes = 0;
    for (const Event& e : audio) bytes += e.size;
    EXPECT_EQ(bytes, 480000u * 4u);

    // Each frame's video goes before its audio.
    ASSERT_GE(writer.EventsOf("WriteSample").size(), 4u);
    EXPECT_EQ(writer.EventsOf("WriteSample")[0].input, kVideoInput);
    EXPECT_EQ(writer.EventsOf("WriteSample")[1].input, kAudioInput);
}

TEST_F(Delivery, AudioBlocksFollowTheFrameGridEvenWhenTheHostDeliversLess) {
    host.frameCount = 3;
    host.audioSampleCount = 1000;
    host.shortAudioBy = 10;
    Publish("111");
    EXPECT_EQ(Deliver(), S_OK);
    std::vector<fakehost::CallRecord> asked = host.CallsOf(Call::Audio);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].a, 0);
    EXPECT_EQ(asked[0].b, 333);
    EXPECT_EQ(asked[1].a, 333);
    EXPECT_EQ(asked[1].b, 333);
    EXPECT_EQ(asked[2].a, 666);
    EXPECT_EQ(asked[2].b, 334);
    std::vector<Event> audio = Audio();
    ASSERT_EQ(audio.size(), 3u);
    EXPECT_EQ(audio[1].time, 333ull * 10000000ull / 48000ull);
    EXPECT_EQ(audio[1].size, 323u * 4u);
    EXPECT_EQ(audio[2].hash, Fnv1a64(host.AudioBytes(666, 324)));
}

TEST_F(Delivery, TheAudioGridOfALongJobIsFormedIn64Bits) {
    // A × k passes 2^32 long before the end of any real job (an hour at 48 kHz: A = 172800000).
    host.frameCount = 4;
    host.audioSampleCount = 2147483647;
    host.shortAudioBy = 2147483647;  // the host delivers nothing, so only the grid is seen
    Publish("1D11");
    EXPECT_EQ(Deliver(), S_OK);
    std::vector<fakehost::CallRecord> asked = host.CallsOf(Call::Audio);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].b, 536870911);
    EXPECT_EQ(asked[1].a, 536870911);  // frame 2 carries dropped frame 1
    EXPECT_EQ(asked[1].b, 1610612735 - 536870911);
    EXPECT_EQ(asked[2].a, 1610612735);
    EXPECT_EQ(asked[2].b, 2147483647 - 1610612735);
    EXPECT_TRUE(Audio().empty());
}

TEST_F(Delivery, CallbacksOfTheInterleavedLoop) {
    // Progress and fetch for every frame, preview and flags only for kept ones; a trailing run of
    // dropped frames writes neither its video nor its audio; an empty audio block is still asked for.
    host.frameCount = 6;
    host.audioSampleCount = 3;
    host.frameFlags = {1, 3, 0, 2, 1, 1};
    Publish("11D1DD");
    EXPECT_EQ(Deliver(), S_OK);

    EXPECT_EQ(Indices(Call::Progress), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    for (const auto& c : host.CallsOf(Call::Progress)) EXPECT_EQ(c.b, 6);
    EXPECT_EQ(Indices(Call::Frame), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Indices(Call::Flags), (std::vector<int32_t>{0, 1, 3}));
    // Per frame: abort question, progress, fetch; a kept frame then the preview, its flags and its
    // audio block.
    const std::vector<Call> kept = {Call::Abort, Call::Progress, Call::Frame, Call::Preview, Call::Flags, Call::Audio};
    const std::vector<Call> dropped = {Call::Abort, Call::Progress, Call::Frame};
    std::vector<Call> expected;
    for (const auto* frame : {&kept, &kept, &dropped, &kept, &dropped, &dropped}) {
        expected.insert(expected.end(), frame->begin(), frame->end());
    }
    std::vector<Call> order;
    for (const auto& c : host.calls) order.push_back(c.kind);
    EXPECT_EQ(order, expected);

    std::vector<Event> video = Video();
    ASSERT_EQ(video.size(), 3u);
    EXPECT_EQ(video[0].flags, WM_SF_CLEANPOINT);
    EXPECT_EQ(video[1].flags, WM_SF_CLEANPOINT);
    EXPECT_EQ(video[2].flags, 0u);  // frame 3, flags 2
    EXPECT_EQ(video[2].hash, Fnv1a64(host.FrameImage(3)));

    // Grid floor(3k/6): frame 0 → [0,0) empty, frame 1 → [0,1), frame 3 → [1,2); samples 2… stay out.
    std::vector<fakehost::CallRecord> asked = host.CallsOf(Call::Audio);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].b, 0);
    EXPECT_EQ(asked[2].a, 1);
    EXPECT_EQ(asked[2].b, 1);
    ASSERT_EQ(Audio().size(), 2u);
}

TEST_F(Delivery, AFramesCodeIsReadOnlyAfterTheHostReturnedTheFrame) {
    // The filter that publishes the codes writes each one while the editor renders that frame.
    host.frameCount = 5;
    host.audioSampleCount = 500;
    host.PublishTiming(std::string(5, '\0'));
    host.codesOnFetch = "2D1D1";
    EXPECT_EQ(Deliver(), S_OK);
    std::vector<Event> video = Video();
    ASSERT_EQ(video.size(), 3u);
    EXPECT_EQ(video[1].time, 416666u);
    EXPECT_EQ(video[2].time, 416666u + 333333u);
    EXPECT_TRUE(standin::ShownMessageBoxes().empty());
}

TEST_F(Delivery, VideoOnlyReportsProgressAndKeyFramesButNoPreview) {
    host.contentFlags = HasVideo;
    host.frameCount = 4;
    host.frameFlags = {0, 1, 3, 2};
    Publish("D121");
    table[0].InputNumber = 7;
    EXPECT_EQ(Deliver(1), S_OK);
    EXPECT_EQ(Indices(Call::Progress), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(host.CountOf(Call::Preview), 0);
    EXPECT_EQ(host.CountOf(Call::Audio), 0);
    std::vector<Event> video = writer.Samples("WriteSample", 7);
    ASSERT_EQ(video.size(), 3u);
    EXPECT_EQ(video[0].time, 0u);  // the first kept frame starts the time line
    EXPECT_EQ(video[1].time, 333333u);  // coded '2': the next one starts 5/4 frame later
    EXPECT_EQ(video[2].time, 749999u);
    EXPECT_EQ(video[0].flags, WM_SF_CLEANPOINT);
    EXPECT_EQ(video[1].flags, WM_SF_CLEANPOINT);
    EXPECT_EQ(video[2].flags, 0u);
}

TEST_F(Delivery, AudioOnlyWritesHalfSecondBlocksStampedBySamplePosition) {
    host.contentFlags = HasAudio;
    host.audioRate = 44100;
    host.audioSampleCount = 50000;
    table[0].InputNumber = 4;
    EXPECT_EQ(Deliver(1), S_OK);
    std::vector<Event> audio = writer.Samples("WriteSample", 4);
    ASSERT_EQ(audio.size(), 3u);
    EXPECT_EQ(audio[0].time, 0u);
    EXPECT_EQ(audio[1].time, 5000000u);
    EXPECT_EQ(audio[2].time, 10000000u);
    EXPECT_EQ(audio[2].size, (50000u - 44100u) * 4u);
    EXPECT_EQ(audio[2].hash, Fnv1a64(host.AudioBytes(44100, 5900)));
    EXPECT_EQ(host.CallsOf(Call::Audio)[2].b, 22050);  // the last block asks for a full one
    EXPECT_EQ(host.CountOf(Call::Progress) + host.CountOf(Call::Flags) + host.CountOf(Call::Preview), 0);
}

TEST_F(Delivery, AudioOnlyAtElevenKilohertzRoundsTheStampsDown) {
    host.contentFlags = HasAudio;
    host.audioRate = 11025;
    host.audioChannels = 1;
    host.audioSampleCount = 11025;
    EXPECT_EQ(Deliver(1), S_OK);
    std::vector<Event> audio = writer.Samples("WriteSample", kVideoInput);
    ASSERT_EQ(audio.size(), 3u);
    EXPECT_EQ(audio[0].size, 5512u * 2u);
    EXPECT_EQ(audio[1].time, 4999546u);
}

TEST_F(Delivery, AudioOnlyEndsWhenTheHostHasNoMoreSamplesBeforeTheEnd) {
    host.contentFlags = HasAudio;
    host.audioSampleCount = 100000;
    host.zeroAudioAtCall = 1;
    EXPECT_EQ(Deliver(1), S_OK);
    EXPECT_EQ(writer.EventsOf("WriteSample").size(), 1u);
    EXPECT_EQ(host.CountOf(Call::Audio), 2);
}

TEST_F(Delivery, NothingIsWrittenForAnAbortBeforeTheFirstFrameOrForNoFrames) {
    host.frameCount = 3;
    host.audioSampleCount = 300;
    Publish("111");
    host.abortAtCall = 0;
    // Nothing written: the stop leaves no usable file, and says so.
    EXPECT_EQ(Deliver(), E_ABORT);
    EXPECT_EQ(host.calls.size(), 1u);  // the abort question only
    EXPECT_TRUE(writer.EventsOf("WriteSample").empty());

    // A job of no frames writes nothing either, and that is no file.
    host.calls.clear();
    host.abortAtCall = -1;
    host.frameCount = 0;
    EXPECT_EQ(Deliver(), E_FAIL);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(writer.events.empty());
}

TEST_F(Delivery, AnAbortAfterSomeFramesKeepsTheLastResult) {
    host.contentFlags = HasAudio;
    host.audioSampleCount = 100000;
    host.abortAtCall = 2;
    EXPECT_EQ(Deliver(1), S_OK);
    EXPECT_EQ(writer.EventsOf("WriteSample").size(), 2u);
}

TEST_F(Delivery, AFrameWithoutTimingDataEndsThePassWithoutItsAudio) {
    host.frameCount = 5;
    host.audioSampleCount = 500;
    Publish("1D");
    host.timingView[2] = 0;
    EXPECT_EQ(Deliver(), S_OK);
    EXPECT_EQ(Video().size(), 1u);
    EXPECT_EQ(Audio().size(), 1u);  // frame 0's block; frames 1 and 2 get none
    EXPECT_EQ(Indices(Call::Frame), (std::vector<int32_t>{0, 1, 2}));
    ASSERT_EQ(standin::ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(standin::ShownMessageBoxes()[0].caption, "Brevlo(VFR)");
}

TEST_F(Delivery, DispatchOnContentFlagsAndTheTableGuard) {
    host.frameCount = 2;
    host.audioSampleCount = 100;
    Publish("11");

    host.contentFlags = 0;
    EXPECT_EQ(Deliver(), E_FAIL);
    host.contentFlags = HasVideo | HasAudio;
    EXPECT_EQ(Deliver(1), E_FAIL);  // both streams need two entries
    job = host.MakeJob();
    job.ContentFlags = HasVideo;
    EXPECT_EQ(DeliverInterleaved(&writer, &job, 2, table), E_FAIL);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(writer.events.empty());

    host.contentFlags = HasVideo | 4;  // other bits change nothing
    EXPECT_EQ(Deliver(2), S_OK);
    EXPECT_EQ(host.CountOf(Call::Audio), 0);
    EXPECT_EQ(host.CountOf(Call::Preview), 0);
    EXPECT_EQ(writer.Samples("WriteSample", kVideoInput).size(), 2u);
}

TEST_F(Delivery, JobsThatCannotBeTimedAreRefusedBeforeAnyCallback) {
    host.frameCount = 2;
    host.audioSampleCount = 100;
    Publish("11");
    host.rate = 0;
    EXPECT_EQ(Deliver(), E_INVALIDARG);
    host.rate = 30;
    host.audioRate = 0;
    EXPECT_EQ(Deliver(), E_INVALIDARG);
    host.contentFlags = HasAudio;
    EXPECT_EQ(Deliver(1), E_INVALIDARG);
    host.contentFlags = HasVideo;
    host.frameCount = -1;
    EXPECT_EQ(Deliver(1), E_INVALIDARG);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Delivery, AMissingImageOrAudioBlockStopsTheLoopWithoutCopying) {
    host.frameCount = 4;
    host.audioSampleCount = 400;
    Publish("1111");
    host.nullFrameAt = 1;
    EXPECT_EQ(Deliver(), E_POINTER);
    EXPECT_EQ(Video().size(), 1u);
    EXPECT_EQ(writer.EventsOf("AllocateSample").size(), 2u);  // frame 0 and its audio only

    writer.events.clear();
    host.nullFrameAt = -1;
    host.audioCalls = 0;
    host.nullAudioAtCall = 1;
    EXPECT_EQ(Deliver(), E_POINTER);
    EXPECT_EQ(Video().size(), 2u);
    EXPECT_EQ(Audio().size(), 1u);

    writer.events.clear();
    host.contentFlags = HasAudio;
    host.audioCalls = 0;
    host.nullAudioAtCall = 0;
    EXPECT_EQ(Deliver(1), E_POINTER);
    EXPECT_TRUE(writer.events.empty());
}

TEST_F(Delivery, AWriterOrBufferFailureEndsTheLoopWithItsCode) {
    const HRESULT code = static_cast<HRESULT>(0xC00D0BD5);
    struct Case {
        const char* call;
        int n;
        size_t samplesBefore;
    };
    // Frame 0 video, frame 0 audio, then frame 1: the second call of each fails in frame 0's audio.
    for (const Case& c : {Case{"AllocateSample", 3, 2}, Case{"GetBufferAndLength", 2, 1}, Case{"SetLength", 2, 1},
                          Case{"WriteSample", 2, 2}, Case{"WriteSample", 1, 1}}) {
        SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.n));
        FakeWriter failing;
        failing.FailCall(c.call, c.n, code);
        host.frameCount = 3;
        host.audioSampleCount = 300;
        host.calls.clear();
        Publish("111");
        job = host.MakeJob();
        EXPECT_EQ(DeliverSamples(&failing, &job, 2, table), code);
        EXPECT_EQ(failing.EventsOf("WriteSample").size(), c.samplesBefore);
        EXPECT_EQ(failing.LiveBuffers(), 0);
        EXPECT_LE(host.CountOf(Call::Frame), 2);
    }
}

}  // namespace
