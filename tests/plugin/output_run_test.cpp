// Whole exports through the Output entry point against the stand-in runtime: what the writer
// receives, in which order, and what the editor is told.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/standin/wmvcore/runtime.h"
#include "plugin/entry_points.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/fake_host.h"
#include "tests/common/process_threads.h"
#include "tests/common/stored_settings.h"

namespace {

using fakehost::Call;
using fakehost::FakeHost;

const char kNoTimingData[] = "フレームレートデータがありません。";

class OutputRun : public ::testing::Test {
protected:
    void SetUp() override {
        standin::EnableFileSink(false);
        standin::StartRecording();
        standin::CallCount("WMCreateWriter");  // switches the call counts on
        host.width = 64;
        host.height = 48;
        host.rate = 30;
        host.scale = 1;
        host.frameCount = 6;
        host.audioRate = 48000;
        host.audioChannels = 2;
        host.audioSampleCount = 9600;  // 1600 samples per frame
    }
    void TearDown() override { standin::StopRecording(); }

    int32_t Run() {
        job = host.MakeJob();
        return Output(&job);
    }

    std::vector<standin::RecordedSample> Samples(uint32_t pass, const std::u16string& connection) const {
        std::vector<standin::RecordedSample> out;
        for (const standin::RecordedSample& s : standin::Recording()) {
            if (s.pass == pass && s.connection == connection) out.push_back(s);
        }
        return out;
    }

    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const standin::MessageBoxRecord& box : standin::ShownMessageBoxes()) {
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_EQ(box.caption, "Brevlo(VFR)");
            EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONERROR));
            out.push_back(standin::Utf8FromCodePage932(box.text));
        }
        return out;
    }

    FakeHost host;
    HostJob job{};
};

uint64_t HashOf(const std::vector<uint8_t>& bytes) { return standin::HashBytes(bytes.data(), bytes.size()); }

TEST_F(OutputRun, JobsWithNothingToWriteOrNoComputableTimeLineAreRefusedSilently) {
    host.PublishTiming("111111");
    host.contentFlags = 0;
    EXPECT_EQ(Run(), 0);
    host.contentFlags = HasVideo | HasAudio;

    struct Broken {
        const char* what;
        void (*change)(FakeHost&);
    };
    const Broken cases[] = {
        {"rate 0", [](FakeHost& h) { h.rate = 0; }},
        {"negative scale", [](FakeHost& h) { h.scale = -1; }},
        {"negative frame count", [](FakeHost& h) { h.frameCount = -2; }},
        {"audio rate 0", [](FakeHost& h) { h.audioRate = 0; }},
        {"no channels", [](FakeHost& h) { h.audioChannels = 0; }},
        {"negative sample count", [](FakeHost& h) { h.audioSampleCount = -1; }},
    };
    for (const Broken& c : cases) {
        SCOPED_TRACE(c.what);
        FakeHost fresh;  // the callbacks answer from the newest host
        fresh.width = 64;
        fresh.height = 48;
        fresh.frameCount = 6;
        fresh.audioSampleCount = 9600;
        c.change(fresh);
        HostJob broken = fresh.MakeJob();
        EXPECT_EQ(Output(&broken), 0);
    }
    HostJob negativeFrameBytes = host.MakeJob();
    negativeFrameBytes.FrameBytes = -1;
    EXPECT_EQ(Output(&negativeFrameBytes), 0);
    HostJob noSampleBytes = host.MakeJob();
    noSampleBytes.AudioSampleBytes = 0;
    EXPECT_EQ(Output(&noSampleBytes), 0);

    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(standin::CallCount("WMCreateProfileManager"), 0);
    EXPECT_EQ(standin::CallCount("WMCreateWriter"), 0);
}

TEST_F(OutputRun, KeptFramesFollowTheTimeLineAndAudioStaysContinuous) {
    for (bool configAnswered : {false, true}) {
        SCOPED_TRACE(configAnswered);
        standin::SetInputPropsAnswerStreamConfig(configAnswered);
        standin::StartRecording();
        host.calls.clear();
        host.frameFlags = {1, 1, 0, 3, 2, 0};
        host.PublishTiming("1D1221");
        ASSERT_EQ(Run(), 1);

        std::vector<standin::RecordedSample> video = Samples(0, u"TamselVideo1");
        const int32_t kept[] = {0, 2, 3, 4, 5};
        const uint64_t times[] = {0, 333333, 666666, 1083332, 1499998};
        const uint32_t flags[] = {1, 0, 1, 0, 0};
        ASSERT_EQ(video.size(), 5u);
        for (size_t k = 0; k < 5; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(video[k].time, times[k]);
            EXPECT_EQ(video[k].flags, flags[k]);
            EXPECT_EQ(video[k].size, static_cast<uint32_t>(host.FrameBytes()));
            EXPECT_EQ(video[k].hash, HashOf(host.FrameImage(kept[k])));
        }

        // The dropped frame's audio travels with the next kept frame.
        std::vector<standin::RecordedSample> audio = Samples(0, u"TamselAudio1");
        const int32_t first[] = {0, 1600, 4800, 6400, 8000};
        const int32_t count[] = {1600, 3200, 1600, 1600, 1600};
        ASSERT_EQ(audio.size(), 5u);
        for (size_t k = 0; k < 5; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(audio[k].time, static_cast<uint64_t>(first[k]) * 10000000u / 48000u);
            EXPECT_EQ(audio[k].flags, 0u);
            EXPECT_EQ(audio[k].size, static_cast<uint32_t>(count[k] * 4));
            EXPECT_EQ(audio[k].hash, HashOf(host.AudioBytes(first[k], count[k])));
        }
        EXPECT_EQ(standin::Recording().size(), 10u);  // no preprocessing with the defaults
        EXPECT_EQ(host.CountOf(Call::Progress), 6);
        EXPECT_EQ(standin::CallCount("IWMWriter::EndWriting"), configAnswered ? 2 : 1);
    }
}

TEST_F(OutputRun, OneStreamJobsWriteOnlyTheirStream) {
    host.PublishTiming("111111");
    host.contentFlags = HasVideo;
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(Samples(0, u"TamselVideo1").size(), 6u);
    EXPECT_TRUE(Samples(0, u"TamselAudio1").empty());

    standin::StartRecording();
    FakeHost audioHost;
    audioHost.contentFlags = HasAudio;
    audioHost.audioRate = 44100;
    audioHost.audioSampleCount = 50000;
    HostJob audioJob = audioHost.MakeJob();
    ASSERT_EQ(Output(&audioJob), 1);
    std::vector<standin::RecordedSample> audio = Samples(0, u"TamselAudio1");
    ASSERT_EQ(audio.size(), 3u);  // half-second blocks of 22050
    EXPECT_EQ(audio[1].time, 5000000u);
    EXPECT_EQ(audio[2].size, static_cast<uint32_t>((50000 - 44100) * 4));
    EXPECT_TRUE(Samples(0, u"TamselVideo1").empty());
}

// The block behind the editor's pointer is only as long as the request, whatever count it reports.
// With video the audio follows the frames; without it the audio is walked in half-second blocks,
// the first ones whole and the last one reaching past the end of the job.
TEST_F(OutputRun, AudioReportedLongerThanAskedForIsTakenAsLongAsAsked) {
    host.audioRate = 44100;
    host.audioSampleCount = 50000;
    for (uint32_t content : {uint32_t(HasVideo | HasAudio), uint32_t(HasAudio)}) {
        host.contentFlags = content;
        host.shortAudioBy = 0;
        host.PublishTiming("1D1221");
        standin::StartRecording();
        ASSERT_EQ(Run(), 1);
        const std::vector<standin::RecordedSample> honest = Samples(0, u"TamselAudio1");
        host.shortAudioBy = -300;  // 300 samples more than asked for, or than the job has left
        standin::StartRecording();
        ASSERT_EQ(Run(), 1);
        const std::vector<standin::RecordedSample> overlong = Samples(0, u"TamselAudio1");
        ASSERT_EQ(overlong.size(), honest.size()) << content;
        for (size_t k = 0; k < honest.size(); ++k) {
            EXPECT_EQ(overlong[k].time, honest[k].time) << content;
            EXPECT_EQ(overlong[k].size, honest[k].size) << content;
            EXPECT_EQ(overlong[k].hash, honest[k].hash) << content;
        }
    }
}

TEST_F(OutputRun, TwoPassModesPreprocessTheSameTimeLineBeforeWriting) {
    StoreSettings([](EncoderSettings& s) {
        s.CompressionMode = 1;
        s.AudioNumberOfPasses = 2;
    });
    host.PublishTiming("12D111");
    ASSERT_EQ(Run(), 1);

    std::vector<standin::RecordedSample> all = standin::Recording();
    // Video passes, then audio passes, then the writing pass.
    size_t firstWriting = 0;
    while (firstWriting < all.size() && all[firstWriting].pass != 0) ++firstWriting;
    for (size_t k = firstWriting; k < all.size(); ++k) EXPECT_EQ(all[k].pass, 0u);
    ASSERT_GT(firstWriting, 0u);
    EXPECT_EQ(all[0].connection, u"TamselVideo1");
    EXPECT_EQ(all[firstWriting - 1].connection, u"TamselAudio1");

    std::vector<standin::RecordedSample> pre = Samples(1, u"TamselVideo1");
    std::vector<standin::RecordedSample> written = Samples(0, u"TamselVideo1");
    ASSERT_EQ(pre.size(), 5u);
    ASSERT_EQ(written.size(), 5u);
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(pre[k].time, written[k].time);
        EXPECT_EQ(pre[k].hash, written[k].hash);
    }
    EXPECT_EQ(written[2].time, 333333u + 416666u);

    // The audio pass covers all samples in half-second blocks.
    std::vector<standin::RecordedSample> audioPre = Samples(1, u"TamselAudio1");
    ASSERT_EQ(audioPre.size(), 1u);
    EXPECT_EQ(audioPre[0].time, 0u);
    EXPECT_EQ(audioPre[0].size, 9600u * 4u);
}

TEST_F(OutputRun, TheUsersAspectReachesTheFileAsThePixelShape) {
    StoreSettings([](EncoderSettings& s) {
        s.EnableResizeTo = 1;
        s.ResizeToW = 16;
        s.ResizeToH = 9;
    });
    host.PublishTiming("111111");
    ASSERT_EQ(Run(), 1);
    bool seen = false;
    for (const standin::ObservedStream& s : standin::LastSession().streams) {
        if (!s.isVideo) continue;
        seen = true;
        EXPECT_EQ(s.aspectX, 4u);  // 16 x 48 : 9 x 64
        EXPECT_EQ(s.aspectY, 3u);
    }
    EXPECT_TRUE(seen);
}

// Every step that leaves no usable file makes the export report failure, and only those.
TEST_F(OutputRun, EachFailureBeforeWritingEndsTheRunWithoutASample) {
    StoreSettings([](EncoderSettings& s) {
        s.EnableResizeTo = 1;
        s.ResizeToW = 4;
        s.ResizeToH = 3;
    });
    host.PublishTiming("111111");
    const char* const steps[] = {
        "WMCreateProfileManager",          "IWMProfileManager::CreateEmptyProfile",
        "IWMProfile::CreateNewStream",     "IWMProfile::AddStream",
        "WMCreateWriter",                  "IWMWriter::SetOutputFilename",
        "IWMWriter::SetProfile",           "IWMWriter::GetInputCount",
        "IWMWriter::GetInputProps",        "IWMWriter::SetInputProps",
        "IWMHeaderInfo3::AddAttribute",    "IWMWriter::BeginWriting",
    };
    for (const char* step : steps) {
        SCOPED_TRACE(step);
        standin::StartRecording();
        long calls = standin::CallCount(step);
        standin::FailCall(step, 1, E_OUTOFMEMORY);
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(standin::CallCount(step), calls + 1);
        EXPECT_TRUE(standin::Recording().empty());
        EXPECT_EQ(standin::CallCount("IWMWriter::BeginWriting") > 0, std::string(step) == "IWMWriter::BeginWriting");
        EXPECT_EQ(standin::LiveObjects(), 0);
        EXPECT_EQ(standin::HeapLiveBlocks(), 0);
    }
    EXPECT_EQ(standin::CallCount("IWMWriter::EndWriting"), 0);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(OutputRun, AFailedOrStoppedPreprocessingPassSkipsWritingAndItsEnd) {
    StoreSettings([](EncoderSettings& s) { s.CompressionMode = 3; });
    host.PublishTiming("111111");
    standin::FailCall("IWMWriterPreprocess::EndPreprocessingPass", 1, E_FAIL);
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(Samples(0, u"TamselVideo1").empty());
    EXPECT_EQ(standin::CallCount("IWMWriter::EndWriting"), 0);

    host.abortAtCall = 2;
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(Samples(0, u"TamselVideo1").empty());
    EXPECT_EQ(standin::CallCount("IWMWriter::EndWriting"), 0);

    standin::LimitPreprocessingPasses(0);
    host.abortAtCall = -1;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(standin::CallCount("IWMWriterPreprocess::BeginPreprocessingPass"), 2);
}

TEST_F(OutputRun, AWriterErrorDuringWritingStillEndsItButReportsFailure) {
    host.PublishTiming("111111");
    standin::FailCall("IWMWriter::WriteSample", 3, NS_E_INVALID_DATA);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(standin::CallCount("IWMWriter::EndWriting"), 1);
    EXPECT_EQ(standin::Recording().size(), 2u);

    standin::StartRecording();
    standin::FailCall("IWMWriter::EndWriting", 1, NS_E_FILE_WRITE);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(standin::Recording().size(), 12u);
}

TEST_F(OutputRun, AnAbortOrAFrameWithoutTimingDataEndsAUsableFileEarly) {
    host.PublishTiming("111111");
    host.abortAtCall = 2;
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Samples(0, u"TamselVideo1").size(), 2u);
    EXPECT_EQ(standin::CallCount("IWMWriter::EndWriting"), 1);

    standin::StartRecording();
    host.abortAtCall = -1;
    host.abortCalls = 0;
    host.PublishTiming(std::string("111") + '\0' + "11");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Samples(0, u"TamselVideo1").size(), 3u);
    EXPECT_EQ(Samples(0, u"TamselAudio1").size(), 3u);
    EXPECT_EQ(standin::CallCount("IWMWriter::EndWriting"), 2);
    EXPECT_EQ(Messages(), std::vector<std::string>{kNoTimingData});
}

}  // namespace

// Whatever ends the writing pass, one that handed the writer no sample at all has written no
// usable file, and the editor is told so; a frame without timing data is still reported.
TEST_F(OutputRun, AWritingPassThatWroteNothingIsAFailure) {
    struct Case {
        const char* what;
        uint32_t content;
        std::string codes;
        int32_t frames;
        void (*change)(FakeHost&);
        size_t messages;
    };
    const Case cases[] = {
        {"no timing data from frame 0", HasVideo | HasAudio, std::string("\0" "11111", 6), 6, nullptr, 1},
        {"every frame dropped", HasVideo | HasAudio, "DDDDDD", 6, nullptr, 0},
        {"every frame dropped, video only", HasVideo, "DDDDDD", 6, nullptr, 0},
        {"a stop before the first frame", HasVideo | HasAudio, "111111", 6, [](FakeHost& h) { h.abortAtCall = 0; }, 0},
        {"a job of no frames", HasVideo | HasAudio, "", 0, nullptr, 0},
        {"audio only, the editor has none", HasAudio, "", 6, [](FakeHost& h) { h.zeroAudioAtCall = 0; }, 0},
        {"audio only, no samples", HasAudio, "", 6, [](FakeHost& h) { h.audioSampleCount = 0; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::StartRecording();
        const size_t before = Messages().size();
        host.abortAtCall = -1;
        host.abortCalls = 0;
        host.zeroAudioAtCall = -1;
        host.audioCalls = 0;
        host.audioSampleCount = 9600;
        host.contentFlags = c.content;
        host.frameCount = c.frames;
        host.PublishTiming(c.codes);
        if (c.change) c.change(host);
        EXPECT_EQ(Run(), 0);
        EXPECT_TRUE(standin::Recording().empty());
        EXPECT_EQ(Messages().size() - before, c.messages);
    }

    // One kept frame is enough for a file.
    standin::StartRecording();
    host.contentFlags = HasVideo | HasAudio;
    host.frameCount = 6;
    host.PublishTiming("DDDDD1");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Samples(0, u"TamselVideo1").size(), 1u);
}

// The runtime tells of a full disk only through the file sink's status: the run hears it, stops
// delivering at the next sample, still ends the writing and reports the export as failed; the
// callback is withdrawn before the writer goes, on every path. Told by a failing call instead, the
// run fails the same way. A runtime that offers no sink, or a sink without status, is no failure.
TEST_F(OutputRun, AFileErrorTheWriterReportsFailsTheRunAndStopsTheDelivery) {
    host.PublishTiming("111111");
    // A sanitizer's runtime starts a thread of its own beside the first one a process starts;
    // start one first, so that the count is of the runtime's and the module's threads only.
    std::thread([] {}).join();
    const long threadsBefore = ThreadsOfThisProcess();
    struct Case {
        const char* what;
        standin::FileErrors way;
        standin::SinkOffer offer;
        const char* failing;  // the call that fails, "" for none
        long n;
        int32_t result;
        size_t mostSamples;  // recorded, of the job's 12
        long advices, withdrawals;
    };
    const Case cases[] = {
        {"disk full, through status", standin::FileErrors::ThroughStatus, standin::SinkOffer::WithCallbacks,
         "IWMWriterSink::OnDataUnit", 2, 0, 10, 1, 1},
        {"disk full, failing the call", standin::FileErrors::FailTheCall, standin::SinkOffer::WithCallbacks,
         "IWMWriterSink::OnDataUnit", 2, 0, 2, 1, 1},
        {"disk full at the last sample", standin::FileErrors::ThroughStatus, standin::SinkOffer::WithCallbacks,
         "IWMWriterSink::OnDataUnit", 12, 0, 12, 1, 1},
        {"BeginWriting refused", standin::FileErrors::ThroughStatus, standin::SinkOffer::WithCallbacks,
         "IWMWriter::BeginWriting", 1, 0, 0, 1, 1},
        {"Advise refused", standin::FileErrors::ThroughStatus, standin::SinkOffer::WithCallbacks,
         "IWMRegisterCallback::Advise", 1, 1, 12, 1, 0},
        {"a sink without status", standin::FileErrors::ThroughStatus, standin::SinkOffer::WithoutCallbacks, "", 0, 1,
         12, 0, 0},
        {"no sink", standin::FileErrors::ThroughStatus, standin::SinkOffer::None, "", 0, 1, 12, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::ReportFileErrors(c.way);
        standin::OfferSink(c.offer);
        standin::StartRecording();
        if (*c.failing) standin::FailCall(c.failing, c.n, NS_E_FILE_WRITE);
        const auto before = standin::CallCounts();
        EXPECT_EQ(Run(), c.result);
        auto calls = [&](const std::string& method) {
            auto now = standin::CallCounts();
            return (now.count(method) ? now[method] : 0) - (before.count(method) ? before.at(method) : 0);
        };
        const size_t recorded = standin::Recording().size();
        EXPECT_LE(recorded, c.mostSamples);
        if (c.result == 0 && c.n > 1) {
            EXPECT_GE(recorded, static_cast<size_t>(c.n));
        }
        if (c.result == 1) {
            EXPECT_EQ(recorded, 12u);
        }
        EXPECT_EQ(calls("IWMWriter::EndWriting"), std::string(c.failing) == "IWMWriter::BeginWriting" ? 0 : 1);
        EXPECT_EQ(calls("IWMRegisterCallback::Advise"), c.advices);
        EXPECT_EQ(calls("IWMRegisterCallback::Unadvise"), c.withdrawals);
        EXPECT_EQ(standin::LiveObjects(), 0);
        EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
    }
}
