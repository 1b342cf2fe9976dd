// The writer inputs an export declares: which entries, in which order, with which formats.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/output_steps.h"

namespace {

std::u16string Wide(const WCHAR* text) { return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : u""; }

HostJob VideoJob(int32_t width, int32_t height, int32_t frameBytes, int32_t rate, int32_t scale) {
    HostJob job{};
    job.ContentFlags = HasVideo;
    job.FrameWidth = width;
    job.FrameHeight = height;
    job.FrameBytes = frameBytes;
    job.Rate = rate;
    job.Scale = scale;
    job.FrameCount = 10;
    return job;
}

HostJob AudioJob(int32_t rate, int32_t channels, int32_t sampleBytes) {
    HostJob job{};
    job.ContentFlags = HasAudio;
    job.AudioRate = rate;
    job.AudioChannels = channels;
    job.AudioSampleBytes = sampleBytes;
    job.AudioSampleCount = 1000;
    return job;
}

struct Described {
    InputBinding table[kMaxInputBindings] = {};
    uint32_t count = 99;
    HRESULT hr = E_UNEXPECTED;
    explicit Described(const HostJob& job) { hr = DescribeInputs(&job, table, &count); }
    ~Described() { ReleaseInputs(table, count == 99 ? 0 : count); }
    const VIDEOINFOHEADER& Video(uint32_t i) const {
        return *reinterpret_cast<const VIDEOINFOHEADER*>(table[i].MediaType.pbFormat);
    }
    const WAVEFORMATEX& Audio(uint32_t i) const {
        return *reinterpret_cast<const WAVEFORMATEX*>(table[i].MediaType.pbFormat);
    }
};

TEST(DescribeInputs, VideoComesFirstAndEachStreamGetsItsConnectionName) {
    HostJob both = VideoJob(640, 480, 921600, 30, 1);
    both.ContentFlags = HasVideo | HasAudio | 0xF0;  // other bits change nothing
    both.AudioRate = 48000;
    both.AudioChannels = 2;
    both.AudioSampleBytes = 4;
    Described d(both);
    ASSERT_EQ(d.hr, S_OK);
    ASSERT_EQ(d.count, 2u);
    EXPECT_EQ(Wide(d.table[0].ConnectionName), u"TamselVideo1");
    EXPECT_EQ(Wide(d.table[1].ConnectionName), u"TamselAudio1");
    EXPECT_EQ(d.table[0].InputNumber, -1);
    EXPECT_EQ(d.table[1].InputNumber, -1);
    EXPECT_TRUE(d.table[0].MediaType.majortype == WMMEDIATYPE_Video);
    EXPECT_TRUE(d.table[1].MediaType.majortype == WMMEDIATYPE_Audio);

    Described audioOnly(AudioJob(44100, 1, 2));
    ASSERT_EQ(audioOnly.count, 1u);
    EXPECT_EQ(Wide(audioOnly.table[0].ConnectionName), u"TamselAudio1");

    Described videoOnly(VideoJob(64, 48, 64 * 48 * 3, 30, 1));
    ASSERT_EQ(videoOnly.count, 1u);
    EXPECT_EQ(Wide(videoOnly.table[0].ConnectionName), u"TamselVideo1");
}

TEST(DescribeInputs, AJobWithNeitherStreamIsRefusedWithoutACount) {
    HostJob job = VideoJob(64, 48, 9216, 30, 1);
    job.ContentFlags = 0xFC;
    Described d(job);
    EXPECT_EQ(d.hr, E_FAIL);
    EXPECT_EQ(d.count, 99u);
    EXPECT_EQ(standin::HeapLiveBlocks(), 0);
}

TEST(DescribeInputs, VideoDeclaresABottomUpRgb24FrameAndItsRawRate) {
    Described d(VideoJob(640, 480, 921600, 30000, 1001));
    ASSERT_EQ(d.hr, S_OK);
    const WM_MEDIA_TYPE& type = d.table[0].MediaType;
    EXPECT_TRUE(type.subtype == WMMEDIASUBTYPE_RGB24);
    EXPECT_TRUE(type.formattype == WMFORMAT_VideoInfo);
    EXPECT_EQ(type.bFixedSizeSamples, TRUE);
    EXPECT_EQ(type.bTemporalCompression, FALSE);
    EXPECT_EQ(type.lSampleSize, 921600u);
    EXPECT_EQ(type.cbFormat, 88u);
    EXPECT_EQ(type.pUnk, nullptr);
    const VIDEOINFOHEADER& info = d.Video(0);
    EXPECT_EQ(info.dwBitRate, 220963036u);
    EXPECT_EQ(info.rcSource.left, 0);
    EXPECT_EQ(info.rcSource.top, 0);
    EXPECT_EQ(info.rcSource.right, 640);
    EXPECT_EQ(info.rcSource.bottom, 480);
    EXPECT_EQ(std::memcmp(&info.rcSource, &info.rcTarget, sizeof(info.rcSource)), 0);
    EXPECT_EQ(info.AvgTimePerFrame, 0);
    EXPECT_EQ(info.bmiHeader.biSize, 40u);
    EXPECT_EQ(info.bmiHeader.biWidth, 640);
    EXPECT_EQ(info.bmiHeader.biHeight, 480);
    EXPECT_EQ(info.bmiHeader.biPlanes, 1);
    EXPECT_EQ(info.bmiHeader.biBitCount, 24);
    EXPECT_EQ(info.bmiHeader.biCompression, 0u);
    EXPECT_EQ(info.bmiHeader.biSizeImage, 0u);
}

TEST(DescribeInputs, TheRawVideoRateSaturatesInsteadOfWrapping) {
    Described hd(VideoJob(1920, 1080, 6220800, 60, 1));
    EXPECT_EQ(hd.Video(0).dwBitRate, 2985984000u);
    Described uhd(VideoJob(3840, 2160, 24883200, 60, 1));
    EXPECT_EQ(uhd.Video(0).dwBitRate, 0xFFFFFFFFu);
}

TEST(DescribeInputs, AudioAlwaysDeclares16BitPcm) {
    Described mono(AudioJob(44100, 1, 4));  // the host's sample size does not enter the type
    const WAVEFORMATEX& m = mono.Audio(0);
    EXPECT_EQ(m.wFormatTag, 1);
    EXPECT_EQ(m.nChannels, 1);
    EXPECT_EQ(m.nSamplesPerSec, 44100u);
    EXPECT_EQ(m.nBlockAlign, 2);
    EXPECT_EQ(m.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(m.wBitsPerSample, 16);
    EXPECT_EQ(m.cbSize, 0);
    EXPECT_EQ(mono.table[0].MediaType.lSampleSize, 2u);
    EXPECT_EQ(mono.table[0].MediaType.cbFormat, 18u);
    EXPECT_TRUE(mono.table[0].MediaType.subtype == WMMEDIASUBTYPE_PCM);
    EXPECT_TRUE(mono.table[0].MediaType.formattype == WMFORMAT_WaveFormatEx);

    Described stereo(AudioJob(48000, 2, 4));
    EXPECT_EQ(stereo.Audio(0).nBlockAlign, 4);
    EXPECT_EQ(stereo.Audio(0).nAvgBytesPerSec, 192000u);
    EXPECT_EQ(stereo.table[0].MediaType.lSampleSize, 4u);
}

TEST(DescribeInputs, AFailedAllocationLeavesNoBlockBehind) {
    HostJob both = VideoJob(64, 48, 9216, 30, 1);
    both.ContentFlags = HasVideo | HasAudio;
    both.AudioRate = 48000;
    both.AudioChannels = 2;
    both.AudioSampleBytes = 4;
    {
        standin::FailNthHeapAlloc(1);
        Described d(both);
        EXPECT_EQ(d.hr, E_FAIL);
        EXPECT_EQ(d.count, 99u);
    }
    {
        standin::FailNthHeapAlloc(2);
        Described d(both);
        EXPECT_EQ(d.hr, E_OUTOFMEMORY);
        EXPECT_EQ(d.count, 1u);
        EXPECT_EQ(d.table[0].MediaType.pbFormat, nullptr);
        EXPECT_EQ(standin::HeapLiveBlocks(), 0);
    }
    standin::FailNthHeapAlloc(0);
}

TEST(JobTiming, JobsWhoseTimeLineCannotBeComputedAreRecognised) {
    HostJob good = VideoJob(64, 48, 9216, 30, 1);
    good.ContentFlags = HasVideo | HasAudio;
    good.AudioRate = 48000;
    good.AudioChannels = 2;
    good.AudioSampleBytes = 4;
    good.AudioSampleCount = 0;
    good.FrameCount = 0;
    EXPECT_TRUE(JobCanBeTimed(good));

    auto broken = [&](void (*change)(HostJob&)) {
        HostJob job = good;
        change(job);
        return !JobCanBeTimed(job);
    };
    EXPECT_TRUE(broken([](HostJob& j) { j.Rate = 0; }));
    EXPECT_TRUE(broken([](HostJob& j) { j.Scale = -1; }));
    EXPECT_TRUE(broken([](HostJob& j) { j.FrameCount = -1; }));
    EXPECT_TRUE(broken([](HostJob& j) { j.FrameBytes = -3; }));
    EXPECT_TRUE(broken([](HostJob& j) { j.AudioRate = 0; }));
    EXPECT_TRUE(broken([](HostJob& j) { j.AudioChannels = 0; }));
    EXPECT_TRUE(broken([](HostJob& j) { j.AudioSampleBytes = -4; }));
    EXPECT_TRUE(broken([](HostJob& j) { j.AudioSampleCount = -1; }));

    // The fields of a stream the job does not carry are not looked at.
    HostJob audioOnly = good;
    audioOnly.ContentFlags = HasAudio;
    audioOnly.Rate = 0;
    audioOnly.Scale = 0;
    audioOnly.FrameCount = -5;
    EXPECT_TRUE(JobCanBeTimed(audioOnly));
    HostJob videoOnly = good;
    videoOnly.ContentFlags = HasVideo;
    videoOnly.AudioRate = 0;
    videoOnly.AudioSampleCount = -1;
    EXPECT_TRUE(JobCanBeTimed(videoOnly));
}

}  // namespace
