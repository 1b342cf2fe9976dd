// The profile as the writer gets it: its two streams, their names, formats, rate control and
// encoder properties, read back through the runtime's own interfaces.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/standin/wmvcore/runtime.h"
#include "profile/profile_builder.h"
#include "settings/settings_registry.h"
#include "tests/profile/profile_streams.h"

using namespace profiletest;

namespace {

EncoderSettings DefaultSettings() {
    EncoderSettings s;
    std::memset(&s, 0, sizeof(s));
    EXPECT_EQ(LoadSettings(&s), S_OK);
    s.Width = 640;
    s.Height = 480;
    return s;
}

HostJob SizedJob() {
    HostJob job{};
    job.ContentFlags = HasVideo | HasAudio;
    job.FrameWidth = 640;
    job.FrameHeight = 480;
    job.Rate = 30000;
    job.Scale = 1001;
    job.FrameCount = 10;
    job.FrameBytes = 640 * 480 * 3;
    job.AudioRate = 44100;
    job.AudioChannels = 2;
    job.AudioSampleBytes = 4;
    job.AudioSampleCount = 14700;
    return job;
}

const VIDEOINFOHEADER& VideoInfo(const std::vector<uint8_t>& type) {
    const WM_MEDIA_TYPE* t = reinterpret_cast<const WM_MEDIA_TYPE*>(type.data());
    return *reinterpret_cast<const VIDEOINFOHEADER*>(t->pbFormat);
}

std::vector<std::u16string> Names(const std::vector<Property>& properties) {
    std::vector<std::u16string> names;
    for (const Property& p : properties) names.push_back(p.name);
    return names;
}

const Property* Find(const std::vector<Property>& properties, const std::u16string& name) {
    for (const Property& p : properties) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

TEST(BuildProfile, VideoThenAudioWithTheirStreamAndConnectionNames) {
    HostJob job = SizedJob();
    EncoderSettings used;
    std::memset(&used, 0xAB, sizeof(used));
    ComRef<IWMProfile> profile;
    ASSERT_EQ(BuildProfile(&job, &used, profile.Out()), S_OK);
    DWORD count = 0;
    ASSERT_EQ(profile->GetStreamCount(&count), S_OK);
    ASSERT_EQ(count, 2u);

    ComRef<IWMStreamConfig> video = StreamAt(profile.Get(), 0);
    ComRef<IWMStreamConfig> audio = StreamAt(profile.Get(), 1);
    EXPECT_TRUE(StreamType(video.Get()) == WMMEDIATYPE_Video);
    EXPECT_EQ(StreamName(video.Get()), u"Video0");
    EXPECT_EQ(ConnectionName(video.Get()), u"TamselVideo1");
    EXPECT_TRUE(StreamType(audio.Get()) == WMMEDIATYPE_Audio);
    EXPECT_EQ(StreamName(audio.Get()), u"Audio1");
    EXPECT_EQ(ConnectionName(audio.Get()), u"TamselAudio1");

    // The record the profile came from carries what only the job knows.
    EXPECT_EQ(used.Width, 640);
    EXPECT_EQ(used.Height, 480);
    EXPECT_DOUBLE_EQ(used.FrameRate, 30000.0 / 1001.0);
    EXPECT_EQ(used.Reserved, 0u);

    std::vector<uint8_t> videoType = MediaType(video.Get());
    const VIDEOINFOHEADER& info = VideoInfo(videoType);
    EXPECT_EQ(info.rcSource.right, 640);
    EXPECT_EQ(info.rcSource.bottom, 480);
    EXPECT_EQ(info.rcTarget.right, 640);
    EXPECT_EQ(info.rcTarget.bottom, 480);
    EXPECT_EQ(info.bmiHeader.biWidth, 640);
    EXPECT_EQ(info.bmiHeader.biHeight, 480);
    EXPECT_EQ(info.dwBitRate, used.Bitrate);
    EXPECT_EQ(info.AvgTimePerFrame, 0);
    EXPECT_EQ(Bitrate(video.Get()), used.Bitrate);
    EXPECT_EQ(BufferWindow(video.Get()), used.BufferWindow);
    EXPECT_EQ(BufferWindow(audio.Get()), used.AudioBufferWindow);
}

TEST(BuildProfile, AJobWithoutVideoStillGetsBothStreams) {
    HostJob job = SizedJob();
    job.ContentFlags = HasAudio;
    EncoderSettings used{};
    ComRef<IWMProfile> profile;
    ASSERT_EQ(BuildProfile(&job, &used, profile.Out()), S_OK);
    DWORD count = 0;
    ASSERT_EQ(profile->GetStreamCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(used.Width, 0);
    EXPECT_EQ(used.Height, 0);
    EXPECT_EQ(used.FrameRate, 0.0);
    std::vector<uint8_t> videoType = MediaType(StreamAt(profile.Get(), 0).Get());
    const VIDEOINFOHEADER& info = VideoInfo(videoType);
    EXPECT_EQ(info.rcSource.right, 0);
    EXPECT_EQ(info.bmiHeader.biHeight, 0);
}

TEST(BuildAudioStream, TheBitRateIsTheChosenFormatsOwn) {
    EncoderSettings s = DefaultSettings();
    s.Bitrate = 123456;
    s.PeakBitrate = 7654321;
    for (int32_t format : {0, 1, 2}) {
        SCOPED_TRACE(format);
        MediaTypeBlock* block = nullptr;
        ComRef<IWMStreamConfig> formatConfig;
        ASSERT_EQ(GetEnumeratedFormatType(&block, nullptr, formatConfig.Out(), WMMEDIATYPE_Audio,
                                          static_cast<DWORD>(s.AudioCodec), static_cast<DWORD>(format), FALSE, 1),
                  S_OK);
        HeapBlock blockHolder(block);
        ComRef<IWMProfile> profile = NewProfile();
        ComRef<IWMStreamConfig> audio;
        ASSERT_EQ(BuildAudioStream(audio.Out(), profile.Get(), 2500, s.AudioCodec, format, 0, 1, 0x0409), S_OK);
        EXPECT_EQ(Bitrate(audio.Get()), Bitrate(formatConfig.Get()));
        EXPECT_EQ(BufferWindow(audio.Get()), 2500u);
        EXPECT_EQ(Language(audio.Get()), u"en-us");
        std::vector<Property> props = Properties(audio.Get());
        ASSERT_EQ(Names(props), std::vector<std::u16string>{u"_VBRENABLED"});
        EXPECT_EQ(props[0].type, WMT_TYPE_BOOL);
        EXPECT_EQ(props[0].Dword(), 0u);
        // The format goes in unchanged.
        std::vector<uint8_t> type = MediaType(audio.Get());
        const WM_MEDIA_TYPE* got = reinterpret_cast<const WM_MEDIA_TYPE*>(type.data());
        const WM_MEDIA_TYPE* want = block;
        ASSERT_EQ(got->cbFormat, want->cbFormat);
        EXPECT_EQ(std::memcmp(got->pbFormat, want->pbFormat, want->cbFormat), 0);
        EXPECT_TRUE(got->subtype == want->subtype);
    }
}

TEST(BuildProfile, AnAudioFormatPastTheEndOfItsListFailsTheWholeBuild) {
    EncoderSettings stored = DefaultSettings();
    stored.AudioFormat = 100000;
    stored.Width = 0;
    stored.Height = 0;
    ASSERT_TRUE(WriteSettingsToRegistry(&stored));
    HostJob job = SizedJob();
    EncoderSettings used;
    std::memset(&used, 0x5A, sizeof(used));
    IWMProfile* profile = nullptr;
    EXPECT_LT(BuildProfile(&job, &used, &profile), 0);
    EXPECT_EQ(profile, nullptr);
    for (size_t i = 0; i < sizeof(used); ++i) ASSERT_EQ(reinterpret_cast<uint8_t*>(&used)[i], 0x5A);
}

// Properties and stream settings of the video stream for each rate-control mode.
struct ModeCase {
    int32_t mode;
    bool vbr;
    uint32_t setQuality;    // what SetQuality received
    bool vbrProperties;
    uint32_t peak;          // "_RMAX"
    uint32_t peakBuffer;    // "_BMAX"
    const char16_t* profileString;
};

TEST(BuildVideoStream, EachModeConfiguresRateControlAndWritesItsPropertiesInOrder) {
    const ModeCase cases[] = {
        {0, false, 47, false, 0, 0, u"MP@ML"},
        {1, false, 47, false, 0, 0, u"MP@ML"},
        {2, true, 100, true, 0, 0, u"MP"},
        {3, true, 100, true, 0, 0, u"MP"},
        {4, true, 100, true, 1500000, 3000, u"MP@ML"},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.mode);
        EncoderSettings s = DefaultSettings();
        s.CompressionMode = c.mode;
        s.Quality = 47;
        s.PeakBitrate = 1500000;
        s.PeakBuffer = 3000;
        s.DecoderComplexity = 1;
        s.DecoderLevel = 1;
        s.Performance = 2;
        s.KeyFrameInterval = 8000;
        s.Bitrate = 400000;
        s.BufferWindow = 4000;
        s.VideoLanguage = 0x0411;
        ComRef<IWMProfile> profile = NewProfile();
        ComRef<IWMStreamConfig> video;
        ASSERT_EQ(BuildVideoStream(video.Out(), profile.Get(), s), S_OK);

        EXPECT_EQ(Bitrate(video.Get()), 400000u);
        EXPECT_EQ(BufferWindow(video.Get()), 4000u);
        EXPECT_EQ(Language(video.Get()), u"ja");
        ComRef<IWMVideoMediaProps> props;
        ASSERT_EQ(QueryInterfaceInto(video.Get(), IID_IWMVideoMediaProps, props), S_OK);
        DWORD quality = 0;
        ASSERT_EQ(props->GetQuality(&quality), S_OK);
        EXPECT_EQ(quality, c.setQuality);
        LONGLONG spacing = 0;
        ASSERT_EQ(props->GetMaxKeyFrameSpacing(&spacing), S_OK);
        EXPECT_EQ(spacing, 80000000);

        std::vector<Property> vault = Properties(video.Get());
        std::vector<std::u16string> expected = {u"_VBRENABLED"};
        if (c.vbrProperties) {
            expected.insert(expected.end(), {u"_VBRQUALITY", u"_RMAX", u"_BMAX"});
        }
        expected.insert(expected.end(), {u"_COMPLEXITYEX", u"_DECODERCOMPLEXITYPROFILE"});
        ASSERT_EQ(Names(vault), expected);
        EXPECT_EQ(vault[0].type, WMT_TYPE_BOOL);
        EXPECT_EQ(vault[0].Dword(), c.vbr ? 1u : 0u);
        if (c.vbrProperties) {
            EXPECT_EQ(Find(vault, u"_VBRQUALITY")->Dword(), 47u);
            EXPECT_EQ(Find(vault, u"_RMAX")->Dword(), c.peak);
            EXPECT_EQ(Find(vault, u"_BMAX")->Dword(), c.peakBuffer);
        }
        EXPECT_EQ(Find(vault, u"_COMPLEXITYEX")->type, WMT_TYPE_DWORD);
        EXPECT_EQ(Find(vault, u"_COMPLEXITYEX")->Dword(), 2u);
        const Property* decoder = Find(vault, u"_DECODERCOMPLEXITYPROFILE");
        EXPECT_EQ(decoder->type, WMT_TYPE_STRING);
        EXPECT_EQ(decoder->Text(), c.profileString);
        EXPECT_EQ(decoder->value.size(), 2 * (std::char_traits<char16_t>::length(c.profileString) + 1));
    }
}

TEST(BuildVideoStream, KeyFrameSpacingIsFormedWithoutOverflow) {
    for (uint32_t interval : {0u, 4294967295u}) {
        EncoderSettings s = DefaultSettings();
        s.KeyFrameInterval = interval;
        ComRef<IWMProfile> profile = NewProfile();
        ComRef<IWMStreamConfig> video;
        ASSERT_EQ(BuildVideoStream(video.Out(), profile.Get(), s), S_OK);
        ComRef<IWMVideoMediaProps> props;
        ASSERT_EQ(QueryInterfaceInto(video.Get(), IID_IWMVideoMediaProps, props), S_OK);
        LONGLONG spacing = -1;
        ASSERT_EQ(props->GetMaxKeyFrameSpacing(&spacing), S_OK);
        EXPECT_EQ(static_cast<uint64_t>(spacing), static_cast<uint64_t>(interval) * 10000u);
    }
}

TEST(BuildVideoStream, TheAspectOverrideAndFrameRateDoNotReachTheFormat) {
    EncoderSettings s = DefaultSettings();
    s.EnableResizeTo = 1;
    s.ResizeToW = 16;
    s.ResizeToH = 9;
    std::vector<uint8_t> formats[2];
    for (int i = 0; i < 2; ++i) {
        s.FrameRate = i == 0 ? 29.97 : 60.0;
        ComRef<IWMProfile> profile = NewProfile();
        ComRef<IWMStreamConfig> video;
        ASSERT_EQ(BuildVideoStream(video.Out(), profile.Get(), s), S_OK);
        formats[i] = MediaType(video.Get());
        const VIDEOINFOHEADER& info = VideoInfo(formats[i]);
        EXPECT_EQ(info.rcSource.right, 640);
        EXPECT_EQ(info.rcTarget.bottom, 480);
        EXPECT_EQ(info.bmiHeader.biWidth, 640);
        EXPECT_EQ(info.AvgTimePerFrame, 0);
    }
    const size_t header = sizeof(WM_MEDIA_TYPE);
    ASSERT_EQ(formats[0].size(), formats[1].size());
    EXPECT_EQ(std::memcmp(formats[0].data() + header, formats[1].data() + header, formats[0].size() - header), 0);
}

TEST(BuildVideoStream, AnUnknownModeIsRefusedBeforeAnythingIsCreated) {
    ComRef<IWMProfile> profile = NewProfile();
    for (int32_t mode : {5, -1}) {
        EncoderSettings s = DefaultSettings();
        s.CompressionMode = mode;
        IWMStreamConfig* video = nullptr;
        EXPECT_EQ(BuildVideoStream(&video, profile.Get(), s), E_FAIL);
        EXPECT_EQ(video, nullptr);
    }
    EncoderSettings s = DefaultSettings();
    IWMStreamConfig* video = nullptr;
    EXPECT_EQ(BuildVideoStream(&video, nullptr, s), E_INVALIDARG);
    EXPECT_EQ(BuildVideoStream(nullptr, profile.Get(), s), E_POINTER);
}

TEST(StreamLanguage, ALocaleMLangCannotConvertOrAMissingMLangFailsTheStream) {
    EncoderSettings s = DefaultSettings();
    ComRef<IWMProfile> profile = NewProfile();
    s.VideoLanguage = 0x7A7A;  // no such locale
    IWMStreamConfig* video = nullptr;
    EXPECT_LT(BuildVideoStream(&video, profile.Get(), s), 0);
    EXPECT_EQ(video, nullptr);

    s.VideoLanguage = 0x0407;
    standin::SetMultiLanguageRegistered(false);
    EXPECT_EQ(BuildVideoStream(&video, profile.Get(), s), REGDB_E_CLASSNOTREG);
    IWMStreamConfig* audio = nullptr;
    EXPECT_EQ(BuildAudioStream(&audio, profile.Get(), 5000, s.AudioCodec, 0, 0, 1, 0x0407), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(audio, nullptr);
    standin::SetMultiLanguageRegistered(true);

    ComRef<IWMStreamConfig> german;
    ASSERT_EQ(BuildVideoStream(german.Out(), profile.Get(), s), S_OK);
    EXPECT_EQ(Language(german.Get()), u"de");
}

}  // namespace

namespace {

// Every runtime call of the build passes its failure up unchanged and leaves nothing behind: no
// profile for the caller, no settings, no half-built stream (the test main counts live objects).
TEST(BuildProfile, AnyFailingStepFailsTheBuildWithItsOwnCode) {
    struct Step {
        const char* method;
        long n;
    };
    const Step steps[] = {
        {"WMCreateProfileManager", 1},
        {"IWMProfileManager::CreateEmptyProfile", 1},
        {"IWMProfile::CreateNewStream", 1},
        {"IWMStreamConfig::SetBitrate", 1},
        {"IWMStreamConfig::SetBufferWindow", 1},
        {"IWMMediaProps::SetMediaType", 1},
        {"IWMVideoMediaProps::SetQuality", 1},
        {"IWMVideoMediaProps::SetMaxKeyFrameSpacing", 1},
        {"IWMPropertyVault::SetProperty", 1},
        {"IWMPropertyVault::SetProperty", 6},
        {"IWMStreamConfig3::SetLanguage", 1},
        {"IWMStreamConfig::SetStreamName", 1},
        {"IWMStreamConfig::SetConnectionName", 1},
        {"IWMProfile::AddStream", 1},
        {"IWMProfile::CreateNewStream", 2},
        {"IWMStreamConfig::GetBitrate", 1},
        {"IWMMediaProps::SetMediaType", 2},
        {"IWMStreamConfig3::SetLanguage", 2},
        {"IWMStreamConfig::SetStreamName", 2},
        {"IWMProfile::AddStream", 2},
    };
    HostJob job = SizedJob();
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.method << " #" << step.n);
        standin::FailCall(step.method, step.n, E_OUTOFMEMORY);
        EncoderSettings used;
        std::memset(&used, 0x5A, sizeof(used));
        IWMProfile* profile = nullptr;
        EXPECT_EQ(BuildProfile(&job, &used, &profile), E_OUTOFMEMORY);
        EXPECT_EQ(profile, nullptr);
        EXPECT_EQ(reinterpret_cast<uint8_t*>(&used)[0], 0x5A);
        EXPECT_EQ(standin::LiveObjects(), 0);
        EXPECT_EQ(standin::HeapLiveBlocks(), 0);
    }
}

TEST(BuildProfile, ARefusedVbrSwitchOnTheAudioStreamIsNoFailure) {
    HostJob job = SizedJob();
    // Six video properties in the default quality-VBR mode, then the audio stream's one.
    standin::FailCall("IWMPropertyVault::SetProperty", 7, NS_E_UNSUPPORTED_PROPERTY);
    ComRef<IWMProfile> profile;
    EXPECT_EQ(BuildProfile(&job, nullptr, profile.Out()), S_OK);
    EXPECT_EQ(standin::CallCount("IWMPropertyVault::SetProperty"), 7);
}

}  // namespace
