// The stand-in writer: life cycle, inputs, sample checks, preprocessing, header attributes and
// what observers and the recording see.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/holders.h"
#include "platform/standin/leaks.h"
#include "platform/standin/wmvcore/runtime.h"
#include "platform/wm/wm.h"

namespace {

struct StreamSetup {
    LONG width = 64;
    LONG height = 48;
    DWORD videoBitrate = 500000;
    DWORD bufferWindow = 3000;
    BOOL vbr = FALSE;
    DWORD passes = 1;  // the video format list
};

std::vector<BYTE> FetchType(IUnknown* object) {
    ComRef<IWMMediaProps> props;
    EXPECT_EQ(QueryInterfaceInto(object, IID_IWMMediaProps, props), S_OK);
    DWORD cb = 0;
    EXPECT_EQ(props->GetMediaType(nullptr, &cb), S_OK);
    std::vector<BYTE> block(cb);
    EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(block.data()), &cb), S_OK);
    return block;
}

WM_MEDIA_TYPE* TypeOf(std::vector<BYTE>& block) { return reinterpret_cast<WM_MEDIA_TYPE*>(block.data()); }

// A profile shaped like the system's: a WMV9 video stream and a WMA stream.
ComRef<IWMProfile> MakeProfile(const StreamSetup& setup) {
    ComRef<IWMProfileManager> manager;
    EXPECT_EQ(WMCreateProfileManager(manager.Out()), S_OK);
    ComRef<IWMCodecInfo3> info;
    EXPECT_EQ(QueryInterfaceInto(manager.Get(), IID_IWMCodecInfo3, info), S_OK);
    ComRef<IWMProfile> profile;
    EXPECT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, profile.Out()), S_OK);

    info->SetCodecEnumerationSetting(WMMEDIATYPE_Video, 0, g_wszVBREnabled, WMT_TYPE_BOOL,
                                     reinterpret_cast<const BYTE*>(&setup.vbr), 4);
    info->SetCodecEnumerationSetting(WMMEDIATYPE_Video, 0, g_wszNumPasses, WMT_TYPE_DWORD,
                                     reinterpret_cast<const BYTE*>(&setup.passes), 4);
    ComRef<IWMStreamConfig> format;
    EXPECT_EQ(info->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, format.Out()), S_OK);
    std::vector<BYTE> vblock = FetchType(format.Get());
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(TypeOf(vblock)->pbFormat);
    vih->rcSource = RECT{0, 0, setup.width, setup.height};
    vih->rcTarget = vih->rcSource;
    vih->dwBitRate = setup.videoBitrate;
    vih->bmiHeader.biWidth = setup.width;
    vih->bmiHeader.biHeight = setup.height;

    ComRef<IWMStreamConfig> video;
    EXPECT_EQ(profile->CreateNewStream(WMMEDIATYPE_Video, video.Out()), S_OK);
    video->SetBitrate(setup.videoBitrate);
    video->SetBufferWindow(setup.bufferWindow);
    ComRef<IWMVideoMediaProps> vprops;
    EXPECT_EQ(QueryInterfaceInto(video.Get(), IID_IWMVideoMediaProps, vprops), S_OK);
    EXPECT_EQ(vprops->SetMediaType(TypeOf(vblock)), S_OK);
    ComRef<IWMPropertyVault> vault;
    EXPECT_EQ(QueryInterfaceInto(video.Get(), IID_IWMPropertyVault, vault), S_OK);
    BOOL vbr = setup.vbr;
    vault->SetProperty(g_wszVBREnabled, WMT_TYPE_BOOL, reinterpret_cast<BYTE*>(&vbr), 4);
    video->SetStreamName(BREVLO_WIDE("Video0"));
    video->SetConnectionName(BREVLO_WIDE("TamselVideo1"));
    EXPECT_EQ(profile->AddStream(video.Get()), S_OK);

    ComRef<IWMStreamConfig> aformat;
    EXPECT_EQ(info->GetCodecFormat(WMMEDIATYPE_Audio, 0, 4, aformat.Out()), S_OK);  // 128 kbps, 44 kHz stereo
    std::vector<BYTE> ablock = FetchType(aformat.Get());
    DWORD abitrate = 0;
    aformat->GetBitrate(&abitrate);
    ComRef<IWMStreamConfig> audio;
    EXPECT_EQ(profile->CreateNewStream(WMMEDIATYPE_Audio, audio.Out()), S_OK);
    audio->SetBitrate(abitrate);
    ComRef<IWMMediaProps> aprops;
    EXPECT_EQ(QueryInterfaceInto(audio.Get(), IID_IWMMediaProps, aprops), S_OK);
    EXPECT_EQ(aprops->SetMediaType(TypeOf(ablock)), S_OK);
    audio->SetStreamName(BREVLO_WIDE("Audio1"));
    audio->SetConnectionName(BREVLO_WIDE("TamselAudio1"));
    ComRef<IWMStreamConfig3> three;
    EXPECT_EQ(QueryInterfaceInto(audio.Get(), IID_IWMStreamConfig3, three), S_OK);
    three->SetLanguage(BREVLO_WIDE("ja-jp"));
    EXPECT_EQ(profile->AddStream(audio.Get()), S_OK);
    return profile;
}

std::u16string InputName(IWMWriter* writer, DWORD input) {
    ComRef<IWMInputMediaProps> props;
    EXPECT_EQ(writer->GetInputProps(input, props.Out()), S_OK);
    WORD cch = 0;
    EXPECT_EQ(props->GetConnectionName(nullptr, &cch), S_OK);
    std::basic_string<WCHAR> name(cch, 0);
    EXPECT_EQ(props->GetConnectionName(&name[0], &cch), S_OK);
    return std::u16string(name.begin(), name.end() - 1);
}

DWORD FindInput(IWMWriter* writer, const std::u16string& name) {
    DWORD n = 0;
    writer->GetInputCount(&n);
    for (DWORD i = 0; i < n; ++i)
        if (InputName(writer, i) == name) return i;
    ADD_FAILURE() << "no input";
    return 0;
}

// Declares the inputs' default types (bottom-up RGB24 and 16-bit PCM) as the system would.
void BindInputs(IWMWriter* writer) {
    DWORD n = 0;
    ASSERT_EQ(writer->GetInputCount(&n), S_OK);
    for (DWORD i = 0; i < n; ++i) {
        ComRef<IWMInputMediaProps> props;
        ASSERT_EQ(writer->GetInputProps(i, props.Out()), S_OK);
        ASSERT_EQ(writer->SetInputProps(i, props.Get()), S_OK);
    }
}

struct Job {
    ComRef<IWMWriter> writer;
    DWORD video = 0;
    DWORD audio = 0;
};

Job StartJob(const StreamSetup& setup, bool begin = true) {
    Job job;
    EXPECT_EQ(WMCreateWriter(nullptr, job.writer.Out()), S_OK);
    {
        ComRef<IWMProfile> profile = MakeProfile(setup);
        EXPECT_EQ(job.writer->SetProfile(profile.Get()), S_OK);
    }
    BindInputs(job.writer.Get());
    job.video = FindInput(job.writer.Get(), u"TamselVideo1");
    job.audio = FindInput(job.writer.Get(), u"TamselAudio1");
    if (begin) {
        EXPECT_EQ(job.writer->BeginWriting(), S_OK);
    }
    return job;
}

HRESULT Write(IWMWriter* writer, DWORD input, QWORD time, DWORD size, BYTE fill = 0x5A, DWORD flags = 0) {
    ComRef<INSSBuffer> buffer;
    HRESULT hr = writer->AllocateSample(size, buffer.Out());
    if (FAILED(hr)) return hr;
    BYTE* p = nullptr;
    DWORD len = 0;
    buffer->GetBufferAndLength(&p, &len);
    std::memset(p, fill, size);
    buffer->SetLength(size);
    return writer->WriteSample(input, time, flags, buffer.Get());
}

HRESULT Preprocess(IWMWriterPreprocess* pre, IWMWriter* writer, DWORD input, QWORD time, DWORD size) {
    ComRef<INSSBuffer> buffer;
    HRESULT hr = writer->AllocateSample(size, buffer.Out());
    if (FAILED(hr)) return hr;
    return pre->PreprocessSample(input, time, 0, buffer.Get());
}

const DWORD kFrame = 64 * 48 * 3;

}  // namespace

TEST(WmvcoreWriter, CallsOutOfOrderGetTheDocumentedCodes) {
    ComRef<IWMWriter> writer;
    ASSERT_EQ(WMCreateWriter(nullptr, writer.Out()), S_OK);
    ComRef<INSSBuffer> buffer;
    EXPECT_EQ(writer->AllocateSample(16, buffer.Out()), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer->EndWriting(), NS_E_INVALID_REQUEST);
    EXPECT_NE(writer->BeginWriting(), S_OK);
    ComRef<IWMWriterPreprocess> pre;
    standin::FailCall("IWMWriter::QueryInterface", 1, E_NOINTERFACE);
    EXPECT_EQ(QueryInterfaceInto(writer.Get(), IID_IWMWriterPreprocess, pre), E_NOINTERFACE);
    ASSERT_EQ(QueryInterfaceInto(writer.Get(), IID_IWMWriterPreprocess, pre), S_OK);

    {
        ComRef<IWMProfile> profile = MakeProfile(StreamSetup());
        ASSERT_EQ(writer->SetProfile(profile.Get()), S_OK);
    }
    BindInputs(writer.Get());
    DWORD max = 9;
    EXPECT_EQ(pre->GetMaxPreprocessingPasses(0, 0, &max), NS_E_INVALID_REQUEST);  // not running yet
    EXPECT_EQ(pre->SetNumPreprocessingPasses(0, 0, 1), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer->WriteSample(0, 0, 0, nullptr), NS_E_INVALID_REQUEST);

    ASSERT_EQ(writer->BeginWriting(), S_OK);
    EXPECT_EQ(writer->BeginWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(writer->SetOutputFilename(BREVLO_WIDE("late.wmv")), NS_E_INVALID_REQUEST);
    {
        ComRef<IWMProfile> profile = MakeProfile(StreamSetup());
        EXPECT_EQ(writer->SetProfile(profile.Get()), NS_E_INVALID_REQUEST);
    }
    EXPECT_EQ(pre->BeginPreprocessingPass(0, 0), NS_E_INVALID_REQUEST);  // no passes configured
    EXPECT_EQ(pre->EndPreprocessingPass(0, 0), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pre->GetMaxPreprocessingPasses(0, 0, nullptr), E_POINTER);
    EXPECT_EQ(pre->GetMaxPreprocessingPasses(7, 0, &max), E_INVALIDARG);
    EXPECT_EQ(writer->WriteSample(7, 0, 0, nullptr), E_INVALIDARG);
    ASSERT_EQ(writer->EndWriting(), S_OK);
    EXPECT_EQ(writer->EndWriting(), NS_E_INVALID_REQUEST);
}

TEST(WmvcoreWriter, InputsAreNumberedByTheWriterAndFoundByName) {
    Job job = StartJob(StreamSetup(), false);
    EXPECT_EQ(job.video, 1u);  // not the profile's order
    EXPECT_EQ(job.audio, 0u);
    ComRef<IWMInputMediaProps> props;
    ASSERT_EQ(job.writer->GetInputProps(job.video, props.Out()), S_OK);
    std::vector<BYTE> block = FetchType(props.Get());
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(TypeOf(block)->pbFormat);
    EXPECT_EQ(TypeOf(block)->subtype, WMMEDIASUBTYPE_RGB24);
    EXPECT_EQ(vih->bmiHeader.biHeight, 48);  // bottom-up
    EXPECT_EQ(job.writer->GetInputProps(2, props.Out()), E_INVALIDARG);

    // Input properties refuse IWMStreamConfig as the real runtime's do, unless told to answer it;
    // the connection name is read either way.
    ASSERT_EQ(job.writer->GetInputProps(job.audio, props.Out()), S_OK);
    ComRef<IWMStreamConfig> config;
    EXPECT_EQ(QueryInterfaceInto(props.Get(), IID_IWMStreamConfig, config), E_NOINTERFACE);
    EXPECT_EQ(InputName(job.writer.Get(), job.audio), u"TamselAudio1");
    standin::SetInputPropsAnswerStreamConfig(true);
    EXPECT_EQ(QueryInterfaceInto(props.Get(), IID_IWMStreamConfig, config), S_OK);
    EXPECT_EQ(InputName(job.writer.Get(), job.audio), u"TamselAudio1");

    // Types other than bottom-up RGB24 / 16-bit PCM are refused.
    ASSERT_EQ(job.writer->GetInputProps(job.video, props.Out()), S_OK);
    vih->bmiHeader.biHeight = -48;
    ASSERT_EQ(props->SetMediaType(TypeOf(block)), S_OK);
    EXPECT_EQ(job.writer->SetInputProps(job.video, props.Get()), NS_E_INVALID_INPUT_FORMAT);
    ASSERT_EQ(job.writer->GetInputProps(job.audio, props.Out()), S_OK);
    std::vector<BYTE> ablock = FetchType(props.Get());
    reinterpret_cast<WAVEFORMATEX*>(TypeOf(ablock)->pbFormat)->wBitsPerSample = 8;
    ASSERT_EQ(props->SetMediaType(TypeOf(ablock)), S_OK);
    EXPECT_EQ(job.writer->SetInputProps(job.audio, props.Get()), NS_E_INVALID_INPUT_FORMAT);
}

TEST(WmvcoreWriter, SetProfileChecksStreams) {
    struct Case { StreamSetup setup; HRESULT expected; };
    StreamSetup big;
    big.bufferWindow = 100001;
    StreamSetup edge;
    edge.bufferWindow = 100000;
    StreamSetup odd;
    odd.width = 66;
    StreamSetup empty;  // an audio-only job's video stream
    empty.width = 0;
    empty.height = 0;
    StreamSetup noRate;
    noRate.videoBitrate = 0;
    for (const Case& c : {Case{big, NS_E_INVALID_STREAM}, Case{edge, S_OK}, Case{odd, NS_E_INVALID_STREAM},
                          Case{empty, S_OK}, Case{noRate, NS_E_INVALIDPROFILE}}) {
        ComRef<IWMWriter> writer;
        ASSERT_EQ(WMCreateWriter(nullptr, writer.Out()), S_OK);
        ComRef<IWMProfile> profile = MakeProfile(c.setup);
        EXPECT_EQ(writer->SetProfile(profile.Get()), c.expected) << c.setup.width << " " << c.setup.bufferWindow;
    }
    ComRef<IWMProfileManager> manager;
    ASSERT_EQ(WMCreateProfileManager(manager.Out()), S_OK);
    ComRef<IWMProfile> none;
    ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, none.Out()), S_OK);
    ComRef<IWMWriter> writer;
    ASSERT_EQ(WMCreateWriter(nullptr, writer.Out()), S_OK);
    EXPECT_EQ(writer->SetProfile(none.Get()), NS_E_INVALIDPROFILE);
    EXPECT_EQ(writer->SetProfile(nullptr), E_INVALIDARG);
}

TEST(WmvcoreWriter, SamplesAreCheckedAgainstTheirInputs) {
    Job job = StartJob(StreamSetup());
    EXPECT_EQ(Write(job.writer.Get(), job.video, 0, kFrame), S_OK);
    EXPECT_EQ(Write(job.writer.Get(), job.video, 1000, kFrame - 1), NS_E_INVALID_DATA);
    EXPECT_EQ(Write(job.writer.Get(), job.audio, 0, 4 * 100), S_OK);
    EXPECT_EQ(Write(job.writer.Get(), job.audio, 100, 4 * 100 + 2), NS_E_INVALID_DATA);  // half a block
    EXPECT_EQ(Write(job.writer.Get(), job.audio, 0, 0), S_OK);    // empty block, same time
    // Time may not go backwards on an input.
    EXPECT_EQ(Write(job.writer.Get(), job.video, 400000, kFrame), S_OK);
    EXPECT_EQ(Write(job.writer.Get(), job.video, 399999, kFrame), NS_E_INVALID_DATA);
    ComRef<INSSBuffer> buffer;
    ASSERT_EQ(job.writer->AllocateSample(8, buffer.Out()), S_OK);
    EXPECT_EQ(buffer->SetLength(9), E_INVALIDARG);
    EXPECT_EQ(job.writer->EndWriting(), S_OK);
}

TEST(WmvcoreWriter, TwoPassFormatsNeedAPreprocessingPass) {
    StreamSetup setup;
    setup.passes = 2;
    {
        Job job = StartJob(setup);
        EXPECT_EQ(Write(job.writer.Get(), job.video, 0, kFrame), NS_E_INVALID_NUM_PASSES);
        EXPECT_EQ(Write(job.writer.Get(), job.audio, 0, 400), S_OK);  // the audio format is one-pass
        job.writer->EndWriting();
    }
    standin::StartRecording();
    Job job = StartJob(setup);
    ComRef<IWMWriterPreprocess> pre;
    ASSERT_EQ(QueryInterfaceInto(job.writer.Get(), IID_IWMWriterPreprocess, pre), S_OK);
    DWORD max = 0;
    ASSERT_EQ(pre->GetMaxPreprocessingPasses(job.video, 0, &max), S_OK);
    EXPECT_EQ(max, 1u);
    EXPECT_EQ(pre->SetNumPreprocessingPasses(job.video, 0, 2), E_INVALIDARG);
    EXPECT_EQ(pre->SetNumPreprocessingPasses(job.video, 0, 0), E_INVALIDARG);
    ASSERT_EQ(pre->SetNumPreprocessingPasses(job.video, 0, 1), S_OK);
    EXPECT_EQ(pre->SetNumPreprocessingPasses(job.video, 0, 1), NS_E_INVALID_REQUEST);
    EXPECT_EQ(Write(job.writer.Get(), job.video, 0, kFrame), NS_E_INVALID_REQUEST);  // pass still due
    ASSERT_EQ(pre->BeginPreprocessingPass(job.video, 0), S_OK);
    EXPECT_EQ(pre->BeginPreprocessingPass(job.video, 0), NS_E_INVALID_REQUEST);
    EXPECT_EQ(Preprocess(pre.Get(), job.writer.Get(), job.video, 0, kFrame), S_OK);
    EXPECT_EQ(Preprocess(pre.Get(), job.writer.Get(), job.video, 333667, kFrame), S_OK);
    ASSERT_EQ(pre->EndPreprocessingPass(job.video, 0), S_OK);
    EXPECT_EQ(pre->BeginPreprocessingPass(job.video, 0), NS_E_INVALID_REQUEST);  // all passes done
    EXPECT_EQ(Write(job.writer.Get(), job.video, 0, kFrame, 0x11, WM_SF_CLEANPOINT), S_OK);
    EXPECT_EQ(standin::LastSession().streams.size(), 2u);
    ASSERT_EQ(job.writer->EndWriting(), S_OK);

    std::vector<standin::RecordedSample> r = standin::Recording();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].pass, 1u);
    EXPECT_EQ(r[1].time, 333667u);
    EXPECT_EQ(r[2].pass, 0u);
    EXPECT_EQ(r[2].flags, 1u);
    std::vector<BYTE> bytes(kFrame, 0x11);
    EXPECT_EQ(r[2].hash, standin::HashBytes(bytes.data(), bytes.size()));
    EXPECT_EQ(standin::RecordingJsonLine(r[2]),
              "{\"input\":1,\"connection\":\"TamselVideo1\",\"pass\":0,\"time\":0,\"flags\":1,\"size\":9216,"
              "\"hash\":\"" + [&] {
                  char h[17];
                  std::snprintf(h, sizeof h, "%016llx", static_cast<unsigned long long>(r[2].hash));
                  return std::string(h);
              }() + "\"}");
    // A runtime that allows no preprocessing says so.
    standin::LimitPreprocessingPasses(0);
    Job limited = StartJob(setup);
    ComRef<IWMWriterPreprocess> pre2;
    ASSERT_EQ(QueryInterfaceInto(limited.writer.Get(), IID_IWMWriterPreprocess, pre2), S_OK);
    ASSERT_EQ(pre2->GetMaxPreprocessingPasses(limited.video, 0, &max), S_OK);
    EXPECT_EQ(max, 0u);
    limited.writer->EndWriting();
}

TEST(WmvcoreWriter, HeaderAttributesAndTheObservedSession) {
    Job job = StartJob(StreamSetup(), false);
    ComRef<IWMHeaderInfo3> header;
    ASSERT_EQ(QueryInterfaceInto(job.writer.Get(), IID_IWMHeaderInfo3, header), S_OK);
    DWORD x = 32, y = 27;
    WORD index = 99;
    ASSERT_EQ(header->AddAttribute(1, g_wszWMAspectRatioX, &index, WMT_TYPE_DWORD, 0,
                                   reinterpret_cast<BYTE*>(&x), 4), S_OK);
    EXPECT_EQ(index, 0);
    ASSERT_EQ(header->AddAttribute(1, g_wszWMAspectRatioY, &index, WMT_TYPE_DWORD, 0,
                                   reinterpret_cast<BYTE*>(&y), 4), S_OK);
    EXPECT_EQ(header->AddAttribute(9, g_wszWMAspectRatioX, &index, WMT_TYPE_DWORD, 0,
                                   reinterpret_cast<BYTE*>(&x), 4), NS_E_INVALID_REQUEST);
    EXPECT_EQ(header->AddAttribute(2, g_wszWMAspectRatioX, &index, WMT_TYPE_DWORD, 0,
                                   reinterpret_cast<BYTE*>(&x), 4), E_INVALIDARG);  // the audio stream
    EXPECT_EQ(header->AddAttribute(1, g_wszWMAspectRatioX, &index, WMT_TYPE_DWORD, 0,
                                   reinterpret_cast<BYTE*>(&x), 2), NS_E_SDK_BUFFERTOOSMALL);

    struct Observer : standin::WriterObserver {
        standin::ObservedSession session;
        int writes = 0;
        int ends = 0;
        int32_t OnEndWriting(bool) override {
            ++ends;
            return 0;
        }
        int32_t OnBeginWriting(const standin::ObservedSession& s) override {
            session = s;
            return 0;
        }
        int32_t OnWriteSample(uint32_t, uint64_t, uint32_t, const uint8_t*, uint32_t) override {
            return ++writes == 2 ? static_cast<int32_t>(E_FAIL) : 0;
        }
    } observer;
    standin::AddObserver(&observer);
    // Each call waits for its work here, so the observer has seen it when the call returns.
    standin::ReportFileErrors(standin::FileErrors::FailTheCall);
    ASSERT_EQ(job.writer->BeginWriting(), S_OK);
    EXPECT_EQ(header->AddAttribute(1, g_wszWMAspectRatioX, &index, WMT_TYPE_DWORD, 0,
                                   reinterpret_cast<BYTE*>(&x), 4), NS_E_INVALID_REQUEST);
    ASSERT_EQ(observer.session.streams.size(), 2u);
    const standin::ObservedStream& v = observer.session.streams[0];
    EXPECT_TRUE(v.isVideo);
    EXPECT_EQ(v.input, job.video);
    EXPECT_EQ(v.aspectX, 32u);
    EXPECT_EQ(v.aspectY, 27u);
    EXPECT_EQ(v.width, 64);
    EXPECT_EQ(v.inBitCount, 24u);
    EXPECT_EQ(v.fourcc, 0x33564D57u);
    const standin::ObservedStream& a = observer.session.streams[1];
    EXPECT_EQ(a.language, u"ja-jp");
    EXPECT_EQ(a.inBitsPerSample, 16u);
    EXPECT_EQ(a.connectionName, u"TamselAudio1");

    EXPECT_EQ(Write(job.writer.Get(), job.audio, 0, 400), S_OK);
    EXPECT_EQ(Write(job.writer.Get(), job.audio, 10, 400), E_FAIL);  // the observer's refusal
    standin::RemoveObserver(&observer);
    EXPECT_EQ(job.writer->EndWriting(), S_OK);
    EXPECT_EQ(observer.ends, 0);  // removed observers hear nothing more

    // A new profile discards the attributes set before.
    ComRef<IWMProfile> profile = MakeProfile(StreamSetup());
    ASSERT_EQ(job.writer->SetProfile(profile.Get()), S_OK);
    WORD count = 9;
    ASSERT_EQ(header->GetAttributeCount(1, &count), S_OK);
    EXPECT_EQ(count, 0);
}

TEST(WmvcoreWriter, ReleasingARunningWriterEndsTheSessionAndLeavesNothing) {
    struct Observer : standin::WriterObserver {
        int ended = -1;
        int32_t OnEndWriting(bool complete) override {
            ended = complete;
            return 0;
        }
    } observer;
    standin::AddObserver(&observer);
    standin::FailCall("IWMWriter::BeginWriting", 1, E_OUTOFMEMORY);
    {
        Job job = StartJob(StreamSetup(), false);
        EXPECT_EQ(job.writer->BeginWriting(), E_OUTOFMEMORY);
        ASSERT_EQ(job.writer->BeginWriting(), S_OK);
        ComRef<INSSBuffer> held;
        ASSERT_EQ(job.writer->AllocateSample(16, held.Out()), S_OK);
        EXPECT_GE(standin::LiveObjects(), 2);
    }
    EXPECT_EQ(observer.ended, 0);
    standin::RemoveObserver(&observer);
    EXPECT_EQ(standin::LiveObjects(), 0);
    EXPECT_EQ(standin::LiveReferences(), 0);
}

namespace {

// A status callback of a test: what it heard, and on which thread.
class HeardStatus final : public IWMStatusCallback {
public:
    struct Heard {
        WMT_STATUS status;
        HRESULT hr;
        void* context;
        std::thread::id thread;
    };
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = iid == IID_IUnknown || iid == IID_IWMStatusCallback ? this : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE, BYTE*, void* context) override {
        std::lock_guard<std::mutex> g(lock);
        heard.push_back(Heard{status, hr, context, std::this_thread::get_id()});
        return S_OK;
    }
    std::vector<Heard> Taken() {
        std::lock_guard<std::mutex> g(lock);
        return heard;
    }
    std::atomic<ULONG> refs{0};

private:
    std::mutex lock;
    std::vector<Heard> heard;
};

ComRef<IWMRegisterCallback> FileSinkOf(IWMWriter* writer) {
    ComRef<IWMWriterAdvanced> advanced;
    EXPECT_EQ(QueryInterfaceInto(writer, IID_IWMWriterAdvanced, advanced), S_OK);
    ComRef<IWMWriterSink> sink;
    EXPECT_EQ(advanced->GetSink(0, sink.Out()), S_OK);
    ComRef<IWMRegisterCallback> registration;
    EXPECT_EQ(QueryInterfaceInto(sink.Get(), IID_IWMRegisterCallback, registration), S_OK);
    return registration;
}

}  // namespace

TEST(WmvcoreWriter, TheFileSinkIsTheOneSetOutputFilenameMadeAndAnswersAsConfigured) {
    Job job = StartJob(StreamSetup(), false);
    ComRef<IWMWriterAdvanced> advanced;
    ASSERT_EQ(QueryInterfaceInto(job.writer.Get(), IID_IWMWriterAdvanced, advanced), S_OK);
    DWORD count = 9;
    ASSERT_EQ(advanced->GetSinkCount(&count), S_OK);
    EXPECT_EQ(count, 0u);  // no file name yet
    ASSERT_EQ(job.writer->SetOutputFilename(BREVLO_WIDE("sink.wmv")), S_OK);
    ASSERT_EQ(advanced->GetSinkCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComRef<IWMWriterSink> sink, again;
    EXPECT_EQ(advanced->GetSink(1, sink.Out()), E_INVALIDARG);
    ASSERT_EQ(advanced->GetSink(0, sink.Out()), S_OK);
    ASSERT_EQ(job.writer->SetOutputFilename(BREVLO_WIDE("other.wmv")), S_OK);
    ASSERT_EQ(advanced->GetSink(0, again.Out()), S_OK);
    EXPECT_EQ(sink.Get(), again.Get());

    ComRef<IWMRegisterCallback> registration;
    ASSERT_EQ(QueryInterfaceInto(sink.Get(), IID_IWMRegisterCallback, registration), S_OK);
    HeardStatus callback;
    int context = 0;
    EXPECT_EQ(registration->Advise(nullptr, &context), E_INVALIDARG);
    ASSERT_EQ(registration->Advise(&callback, &context), S_OK);
    EXPECT_EQ(callback.refs.load(), 1u);
    EXPECT_EQ(registration->Unadvise(&callback, nullptr), E_INVALIDARG);  // the context tells advices apart
    EXPECT_EQ(registration->Unadvise(&callback, &context), S_OK);
    EXPECT_EQ(callback.refs.load(), 0u);
    EXPECT_EQ(registration->Unadvise(&callback, &context), E_INVALIDARG);
    registration.Reset();
    sink.Reset();
    again.Reset();
    advanced.Reset();
    job.writer.Reset();

    standin::OfferSink(standin::SinkOffer::WithoutCallbacks);
    job = StartJob(StreamSetup(), false);
    ASSERT_EQ(job.writer->SetOutputFilename(BREVLO_WIDE("sink.wmv")), S_OK);
    ASSERT_EQ(QueryInterfaceInto(job.writer.Get(), IID_IWMWriterAdvanced, advanced), S_OK);
    ASSERT_EQ(advanced->GetSink(0, sink.Out()), S_OK);
    EXPECT_EQ(QueryInterfaceInto(sink.Get(), IID_IWMRegisterCallback, registration), E_NOINTERFACE);

    standin::OfferSink(standin::SinkOffer::None);
    ASSERT_EQ(advanced->GetSinkCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

// A failed open, a full disk mid-file and a device that takes nothing: with the runtime's way the
// calls succeed and each advised callback hears one WMT_ERROR from the writer's thread; the other
// way the call that met the error fails with it and no status is sent.
TEST(WmvcoreWriter, FileErrorsReachTheSinksCallbacksOrFailTheCall) {
    struct Case {
        const char* what;
        std::string path;
        long failingWrite;  // the sink write that fails, 0 for none
        HRESULT begin, write, end;  // what the calls answer the other way
    };
    const std::string folder = "/nonexistent-" + std::to_string(getpid());
    const std::string temp = testing::TempDir() + "errors-" + std::to_string(getpid()) + ".wmv";
    const Case cases[] = {
        {"failed open", folder + "/clip.wmv", 0, NS_E_FILE_WRITE, NS_E_FILE_WRITE, NS_E_FILE_WRITE},
        {"disk full at the third write", temp, 3, S_OK, NS_E_FILE_WRITE, S_OK},
        {"/dev/full", "/dev/full", 0, S_OK, S_OK, NS_E_FILE_WRITE},
    };
    for (const Case& c : cases) {
        for (standin::FileErrors way : {standin::FileErrors::ThroughStatus, standin::FileErrors::FailTheCall}) {
            const bool status = way == standin::FileErrors::ThroughStatus;
            SCOPED_TRACE(std::string(c.what) + (status ? ", through status" : ", failing the call"));
            standin::ResetAll();
            standin::ReportFileErrors(way);
            HeardStatus told, withdrawn;
            int contexts[2] = {};
            {
                Job job = StartJob(StreamSetup(), false);
                std::u16string path(c.path.begin(), c.path.end());
                ASSERT_EQ(job.writer->SetOutputFilename(reinterpret_cast<const WCHAR*>(path.c_str())), S_OK);
                ComRef<IWMRegisterCallback> registration = FileSinkOf(job.writer.Get());
                ASSERT_EQ(registration->Advise(&told, &contexts[0]), S_OK);
                ASSERT_EQ(registration->Advise(&withdrawn, &contexts[1]), S_OK);
                ASSERT_EQ(registration->Unadvise(&withdrawn, &contexts[1]), S_OK);
                if (c.failingWrite) standin::FailCall("IWMWriterSink::OnDataUnit", c.failingWrite, NS_E_FILE_WRITE);

                HRESULT begin = job.writer->BeginWriting();
                std::vector<HRESULT> writes;
                for (int k = 0; k < 4 && SUCCEEDED(begin); ++k) {
                    writes.push_back(Write(job.writer.Get(), job.video, k * 400000, kFrame, static_cast<BYTE>(k * 60)));
                }
                HRESULT end = SUCCEEDED(begin) ? job.writer->EndWriting() : S_OK;
                std::vector<HeardStatus::Heard> heard = told.Taken();
                if (status) {
                    EXPECT_EQ(begin, S_OK);
                    for (HRESULT w : writes) EXPECT_EQ(w, S_OK);
                    EXPECT_EQ(end, S_OK);
                    ASSERT_EQ(heard.size(), 1u);
                    EXPECT_EQ(heard[0].status, WMT_ERROR);
                    EXPECT_EQ(heard[0].hr, NS_E_FILE_WRITE);
                    EXPECT_EQ(heard[0].context, &contexts[0]);
                    EXPECT_NE(heard[0].thread, std::this_thread::get_id());
                } else {
                    EXPECT_EQ(begin, c.begin);
                    if (c.failingWrite) {
                        EXPECT_EQ(writes[c.failingWrite - 1], c.write);
                    }
                    if (SUCCEEDED(begin)) {
                        EXPECT_EQ(end, c.end);
                    }
                    EXPECT_TRUE(heard.empty());
                }
                EXPECT_TRUE(withdrawn.Taken().empty());
                EXPECT_FALSE(standin::TakeFailures().empty());  // the cause, for the host to print
            }
            EXPECT_EQ(told.refs.load(), 0u);  // let go with the sink
        }
    }
    std::remove(temp.c_str());
}

// The writer works on its own thread: calls return while the work waits in a queue of a few
// samples per input, a caller that gets ahead of it waits, and the work is done in order.
TEST(WmvcoreWriter, WriteSampleQueuesAFewSamplesPerInputThenWaits) {
    struct Gate final : standin::WriterObserver {
        std::mutex lock;
        std::condition_variable changed;
        bool open = false;
        std::vector<uint64_t> times;
        int32_t OnWriteSample(uint32_t, uint64_t time, uint32_t, const uint8_t*, uint32_t) override {
            std::unique_lock<std::mutex> g(lock);
            changed.wait(g, [&] { return open; });
            times.push_back(time);
            return 0;
        }
    } gate;
    standin::AddObserver(&gate);
    Job job = StartJob(StreamSetup());
    std::atomic<int> returned{0};
    std::thread caller([&] {
        for (int k = 0; k < 10; ++k) {
            EXPECT_EQ(Write(job.writer.Get(), job.audio, k * 1000, 400), S_OK);
            ++returned;
        }
    });
    for (int spins = 0; returned.load() < static_cast<int>(standin::kQueuedSamplesPerInput) && spins < 5000; ++spins) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(returned.load(), static_cast<int>(standin::kQueuedSamplesPerInput));
    {
        std::lock_guard<std::mutex> g(gate.lock);
        gate.open = true;
    }
    gate.changed.notify_all();
    caller.join();
    EXPECT_EQ(job.writer->EndWriting(), S_OK);
    std::vector<uint64_t> expected;
    for (int k = 0; k < 10; ++k) expected.push_back(k * 1000);
    EXPECT_EQ(gate.times, expected);
    standin::RemoveObserver(&gate);
}

// The writer keeps each buffer until the next hand-over on its input (or the end of the pass) and
// looks at it again then, so a caller that touches a buffer it handed over is caught every time.
TEST(WmvcoreWriter, ABufferTouchedAfterItWasHandedOverIsAFaultTheLeakCheckReports) {
    enum class Misuse { None, WriteInto, ShortenIt, HandItOverAgain, WriteIntoTheLast };
    const struct {
        const char* what;
        Misuse misuse;
        bool preprocess;
    } cases[] = {
        {"used as documented", Misuse::None, false},
        {"written into after WriteSample", Misuse::WriteInto, false},
        {"written into after PreprocessSample", Misuse::WriteInto, true},
        {"shortened after WriteSample", Misuse::ShortenIt, false},
        {"handed over again", Misuse::HandItOverAgain, false},
        {"the last one written into before EndWriting", Misuse::WriteIntoTheLast, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standin::ResetAll();
        standin::EnableFileSink(false);
        standin::LimitPreprocessingPasses(1);
        {
            StreamSetup setup;
            setup.passes = c.preprocess ? 2 : 1;
            Job job = StartJob(setup);
            ComRef<IWMWriterPreprocess> pre;
            ASSERT_EQ(QueryInterfaceInto(job.writer.Get(), IID_IWMWriterPreprocess, pre), S_OK);
            if (c.preprocess) {
                ASSERT_EQ(pre->SetNumPreprocessingPasses(job.video, 0, 1), S_OK);
                ASSERT_EQ(pre->BeginPreprocessingPass(job.video, 0), S_OK);
            }
            auto hand = [&](INSSBuffer* b, QWORD time) {
                return c.preprocess ? pre->PreprocessSample(job.video, time, 0, b)
                                    : job.writer->WriteSample(job.video, time, 0, b);
            };
            ComRef<INSSBuffer> first;
            ASSERT_EQ(job.writer->AllocateSample(kFrame, first.Out()), S_OK);
            BYTE* bytes = nullptr;
            DWORD length = 0;
            ASSERT_EQ(first->GetBufferAndLength(&bytes, &length), S_OK);
            std::memset(bytes, 0x11, kFrame);
            ASSERT_EQ(hand(first.Get(), 0), S_OK);
            if (c.misuse == Misuse::WriteInto) bytes[kFrame / 2] ^= 0xFF;
            if (c.misuse == Misuse::ShortenIt) first->SetLength(kFrame - 3);
            if (c.misuse == Misuse::HandItOverAgain) {
                EXPECT_EQ(hand(first.Get(), 1000), S_OK);
            } else {
                ComRef<INSSBuffer> second;
                ASSERT_EQ(job.writer->AllocateSample(kFrame, second.Out()), S_OK);
                BYTE* more = nullptr;
                ASSERT_EQ(second->GetBufferAndLength(&more, &length), S_OK);
                std::memset(more, 0x22, kFrame);
                ASSERT_EQ(hand(second.Get(), 1000), S_OK);
                if (c.misuse == Misuse::WriteIntoTheLast) more[0] ^= 0xFF;
            }
            first.Reset();
            if (c.preprocess) {
                ASSERT_EQ(pre->EndPreprocessingPass(job.video, 0), S_OK);
            }
            pre.Reset();
            EXPECT_EQ(job.writer->EndWriting(), S_OK);
        }
        std::vector<std::string> faults = standin::BufferFaults();
        if (c.misuse == Misuse::None) {
            EXPECT_TRUE(faults.empty()) << ::testing::PrintToString(faults);
        } else {
            ASSERT_FALSE(faults.empty());
            bool reported = false;
            for (const std::string& leak : standin::CollectLeaks()) reported |= leak.find(faults[0]) != std::string::npos;
            EXPECT_TRUE(reported);
        }
        standin::ResetAll();  // the faults were this test's to make
    }
}
