#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "delivery/preprocessing.h"
#include "delivery/sample_delivery.h"
#include "tests/common/fake_host.h"
#include "tests/delivery/fake_writer.h"

using fakehost::Call;
using fakehost::FakeHost;
using fakewriter::Event;
using fakewriter::FakeWriter;

namespace {

constexpr DWORD kVideoInput = 1;
constexpr DWORD kAudioInput = 0;

class Preprocessing : public ::testing::Test {
protected:
    Preprocessing() {
        table[0] = InputBinding{static_cast<int32_t>(kVideoInput), u"TamselVideo1", {}};
        table[1] = InputBinding{static_cast<int32_t>(kAudioInput), u"TamselAudio1", {}};
        settings.CompressionMode = 2;
        settings.AudioNumberOfPasses = 1;
        host.frameCount = 6;
        host.audioSampleCount = 60000;
        host.PublishTiming("12D1DD");
    }
    ~Preprocessing() override {
        EXPECT_EQ(writer.LiveBuffers(), 0);
        EXPECT_EQ(writer.References(), 0);
    }
    HRESULT Run(uint32_t count = 2) {
        job = host.MakeJob();
        return RunPreprocessing(&writer, &job, &settings, count, table);
    }
    // The pass set-up and pass calls, without the sample traffic.
    std::vector<std::string> PassCalls() const {
        std::vector<std::string> out;
        for (const Event& e : writer.events) {
            if (e.call == "AllocateSample" || e.call == "PreprocessSample" || e.call == "WriteSample") continue;
            out.push_back(e.call.substr(0, e.call.find("Preprocessing")) + "(" + std::to_string(e.input) + ")");
        }
        return out;
    }
    std::vector<QWORD> Times(const std::vector<Event>& samples) const {
        std::vector<QWORD> out;
        for (const Event& e : samples) out.push_back(e.time);
        return out;
    }

    FakeHost host;
    FakeWriter writer;
    InputBinding table[2];
    EncoderSettings settings{};
    HostJob job{};
};

TEST(PassCount, FollowsTheRateControlMode) {
    uint32_t passes = 0;
    const uint32_t expected[] = {1, 2, 1, 2, 2};
    for (uint32_t mode = 0; mode < 5; ++mode) {
        EXPECT_EQ(PassCountForMode(mode, &passes), S_OK);
        EXPECT_EQ(passes, expected[mode]) << "mode " << mode;
    }
    passes = 77;
    EXPECT_EQ(PassCountForMode(5, &passes), E_FAIL);
    EXPECT_EQ(PassCountForMode(0xFFFFFFFFu, &passes), E_FAIL);
    EXPECT_EQ(passes, 77u);
    EXPECT_EQ(PassCountForMode(1, nullptr), E_INVALIDARG);
}

TEST_F(Preprocessing, DefaultSettingsRunNoPass) {
    EXPECT_EQ(Run(), S_OK);
    EXPECT_TRUE(writer.events.empty());
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Preprocessing, VideoPassesComeFirstAndFollowTheWritingTimeLine) {
    settings.CompressionMode = 4;
    settings.AudioNumberOfPasses = 2;
    EXPECT_EQ(Run(), S_OK);
    EXPECT_EQ(PassCalls(), (std::vector<std::string>{"GetMax(1)", "SetNum(1)", "Begin(1)", "End(1)", "GetMax(0)",
                                                     "SetNum(0)", "Begin(0)", "End(0)"}));
    EXPECT_EQ(writer.EventsOf("SetNumPreprocessingPasses")[0].count, 1u);

    // Every frame is fetched, dropped ones too; nothing of the writing pass's callbacks is used.
    EXPECT_EQ(host.CountOf(Call::Frame), 6);
    EXPECT_EQ(host.CountOf(Call::Progress) + host.CountOf(Call::Flags) + host.CountOf(Call::Preview), 0);
    std::vector<Event> video = writer.Samples("PreprocessSample", kVideoInput);
    for (const Event& e : video) EXPECT_EQ(e.flags, 0u);

    // The audio pass covers all of it in half-second blocks, also what lies after the last kept frame.
    std::vector<Event> audio = writer.Samples("PreprocessSample", kAudioInput);
    EXPECT_EQ(Times(audio), (std::vector<QWORD>{0, 5000000, 10000000}));
    EXPECT_EQ(audio[2].size, (60000u - 48000u) * 4u);

    // The writing pass then stamps the same kept frames the same way.
    FakeWriter delivery;
    EXPECT_EQ(DeliverSamples(&delivery, &job, 2, table), S_OK);
    std::vector<Event> written = delivery.Samples("WriteSample", kVideoInput);
    EXPECT_EQ(Times(video), Times(written));
    EXPECT_EQ(Times(video), (std::vector<QWORD>{0, 333333, 749999}));
    for (size_t k = 0; k < video.size() && k < written.size(); ++k) EXPECT_EQ(video[k].hash, written[k].hash);
    EXPECT_EQ(delivery.LiveBuffers(), 0);
}

TEST_F(Preprocessing, EachPassStartsItsTimeLineAtZero) {
    settings.CompressionMode = 1;
    writer.maxPasses = 2;
    job = host.MakeJob();
    EXPECT_EQ(PreprocessVideoPasses(&writer, &writer, &job, &table[0], 2), S_OK);
    EXPECT_EQ(Times(writer.Samples("PreprocessSample", kVideoInput)),
              (std::vector<QWORD>{0, 333333, 749999, 0, 333333, 749999}));
    EXPECT_EQ(host.CountOf(Call::Frame), 12);
}

TEST_F(Preprocessing, AudioOnlyJobsUseTheFirstEntry) {
    host.contentFlags = HasAudio;
    settings.CompressionMode = 1;  // no video: no video pass
    settings.AudioNumberOfPasses = 2;
    table[0].InputNumber = 3;
    EXPECT_EQ(Run(1), S_OK);
    EXPECT_EQ(PassCalls(), (std::vector<std::string>{"GetMax(3)", "SetNum(3)", "Begin(3)", "End(3)"}));
    EXPECT_EQ(host.CountOf(Call::Frame), 0);
}

TEST_F(Preprocessing, TooFewPassesAllowedStopsBeforeAnyPass) {
    settings.CompressionMode = 1;
    settings.AudioNumberOfPasses = 2;
    writer.maxPasses = 0;
    EXPECT_EQ(Run(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(PassCalls(), (std::vector<std::string>{"GetMax(1)"}));

    // A negative stored count is a huge unsigned one.
    writer.events.clear();
    writer.maxPasses = 1;
    settings.CompressionMode = 0;
    settings.AudioNumberOfPasses = -1;
    EXPECT_EQ(Run(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(PassCalls(), (std::vector<std::string>{"GetMax(0)"}));
}

TEST_F(Preprocessing, FailuresEndPreprocessingWithTheirCode) {
    settings.CompressionMode = 3;
    settings.AudioNumberOfPasses = 2;
    const HRESULT code = static_cast<HRESULT>(0xC00D0BC5);
    for (const char* call : {"GetMaxPreprocessingPasses", "SetNumPreprocessingPasses", "BeginPreprocessingPass",
                             "PreprocessSample", "AllocateSample", "EndPreprocessingPass"}) {
        SCOPED_TRACE(call);
        FakeWriter failing;
        failing.FailCall(call, 1, code);
        job = host.MakeJob();
        EXPECT_EQ(RunPreprocessing(&failing, &job, &settings, 2, table), code);
        EXPECT_TRUE(failing.EventsOf("BeginPreprocessingPass").size() <= 1);  // the audio pass never starts
        EXPECT_TRUE(failing.Samples("PreprocessSample", kAudioInput).empty());
        EXPECT_EQ(failing.LiveBuffers(), 0);
        EXPECT_EQ(failing.References(), 0);
    }
    settings.CompressionMode = 9;
    EXPECT_EQ(Run(), E_FAIL);
    EXPECT_TRUE(writer.events.empty());

    FakeWriter without;
    without.offerPreprocess = false;
    job = host.MakeJob();
    EXPECT_EQ(RunPreprocessing(&without, &job, &settings, 2, table), E_NOINTERFACE);
}

TEST_F(Preprocessing, AbortDuringAPassFailsItUnended) {
    settings.CompressionMode = 1;
    settings.AudioNumberOfPasses = 2;
    host.abortAtCall = 2;
    EXPECT_EQ(Run(), E_FAIL);
    EXPECT_EQ(PassCalls(), (std::vector<std::string>{"GetMax(1)", "SetNum(1)", "Begin(1)"}));
    EXPECT_EQ(writer.Samples("PreprocessSample", kVideoInput).size(), 2u);
}

// The time line ends at a frame without timing data; the pass ends there as a complete one, so
// that the writing pass can write the same frames.
TEST_F(Preprocessing, AFrameWithoutTimingDataEndsThePassWhereTheTimeLineEnds) {
    settings.CompressionMode = 1;
    settings.AudioNumberOfPasses = 2;
    host.timingView[1] = 0;
    EXPECT_EQ(Run(), S_OK);
    EXPECT_EQ(PassCalls(), (std::vector<std::string>{"GetMax(1)", "SetNum(1)", "Begin(1)", "End(1)", "GetMax(0)",
                                                     "SetNum(0)", "Begin(0)", "End(0)"}));
    EXPECT_EQ(writer.Samples("PreprocessSample", kVideoInput).size(), 1u);
    EXPECT_EQ(standin::ShownMessageBoxes().size(), 1u);
}

TEST_F(Preprocessing, AHostWithoutDataFailsThePassInsteadOfCopyingOrLooping) {
    settings.CompressionMode = 1;
    settings.AudioNumberOfPasses = 2;
    host.nullFrameAt = 3;
    EXPECT_EQ(Run(), E_POINTER);
    EXPECT_EQ(writer.EventsOf("EndPreprocessingPass").size(), 0u);

    host.nullFrameAt = -1;
    settings.CompressionMode = 0;
    writer.events.clear();
    host.nullAudioAtCall = 0;
    EXPECT_EQ(Run(), E_POINTER);
    EXPECT_TRUE(writer.Samples("PreprocessSample", kAudioInput).empty());

    writer.events.clear();
    host.nullAudioAtCall = -1;
    host.zeroAudioAtCall = host.audioCalls + 1;
    EXPECT_EQ(Run(), E_UNEXPECTED);
    EXPECT_EQ(writer.Samples("PreprocessSample", kAudioInput).size(), 1u);
    EXPECT_EQ(writer.EventsOf("EndPreprocessingPass").size(), 0u);
}

TEST_F(Preprocessing, PassesRefuseMissingPartsAndJobsWithoutTheirStream) {
    job = host.MakeJob();
    EXPECT_EQ(PreprocessVideoPasses(nullptr, &writer, &job, &table[0], 1), E_INVALIDARG);
    EXPECT_EQ(PreprocessVideoPasses(&writer, nullptr, &job, &table[0], 1), E_INVALIDARG);
    EXPECT_EQ(PreprocessAudioPasses(&writer, &writer, nullptr, &table[1], 1), E_INVALIDARG);
    EXPECT_EQ(PreprocessAudioPasses(&writer, &writer, &job, nullptr, 1), E_INVALIDARG);
    job.ContentFlags = HasAudio;
    EXPECT_EQ(PreprocessVideoPasses(&writer, &writer, &job, &table[0], 1), E_INVALIDARG);
    job.ContentFlags = HasVideo;
    EXPECT_EQ(PreprocessAudioPasses(&writer, &writer, &job, &table[1], 1), E_INVALIDARG);
    job.ContentFlags = HasVideo | HasAudio;
    job.AudioRate = 0;
    EXPECT_EQ(PreprocessAudioPasses(&writer, &writer, &job, &table[1], 1), E_INVALIDARG);
    EXPECT_TRUE(writer.events.empty());
    EXPECT_TRUE(host.calls.empty());
}

}  // namespace
