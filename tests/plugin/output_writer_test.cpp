// Preparing the writer for an export: binding its inputs by connection name and writing the
// aspect-ratio attributes, against the stand-in runtime.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/holders.h"
#include "platform/standin/wmvcore/runtime.h"
#include "plugin/output_steps.h"
#include "profile/profile_builder.h"

namespace {

HostJob Job(uint32_t flags, int32_t width, int32_t height) {
    HostJob job{};
    job.ContentFlags = flags;
    job.FrameWidth = width;
    job.FrameHeight = height;
    job.Rate = 30;
    job.Scale = 1;
    job.FrameCount = 3;
    job.FrameBytes = width * height * 3;
    job.AudioRate = 48000;
    job.AudioChannels = 2;
    job.AudioSampleBytes = 4;
    job.AudioSampleCount = 4800;
    return job;
}

// A writer with the job's profile set, and the job's described inputs.
struct PreparedWriter {
    HostJob job;
    EncoderSettings settings{};
    ComRef<IWMProfile> profile;
    ComRef<IWMWriter> writer;
    InputBinding table[kMaxInputBindings] = {};
    uint32_t count = 0;

    explicit PreparedWriter(const HostJob& j) : job(j) {
        standin::EnableFileSink(false);
        EXPECT_EQ(BuildProfile(&job, &settings, profile.Out()), S_OK);
        EXPECT_EQ(WMCreateWriter(nullptr, writer.Out()), S_OK);
        if (profile && writer) {
            EXPECT_EQ(writer->SetProfile(profile.Get()), S_OK);
        }
        EXPECT_EQ(DescribeInputs(&job, table, &count), S_OK);
    }
    ~PreparedWriter() { ReleaseInputs(table, count); }

    std::u16string InputName(int32_t input) {
        ComRef<IWMInputMediaProps> props;
        EXPECT_EQ(writer->GetInputProps(static_cast<DWORD>(input), props.Out()), S_OK);
        if (!props) return u"";
        WCHAR name[100] = {};
        WORD units = 100;
        EXPECT_EQ(props->GetConnectionName(name, &units), S_OK);
        return std::u16string(reinterpret_cast<const char16_t*>(name));
    }
    // The aspect attributes the writer puts into the file header, seen when writing begins.
    std::pair<uint32_t, uint32_t> AspectSeenByWriter() {
        EXPECT_EQ(writer->BeginWriting(), S_OK);
        standin::ObservedSession session = standin::LastSession();
        EXPECT_EQ(writer->EndWriting(), S_OK);
        for (const standin::ObservedStream& s : session.streams) {
            if (s.isVideo) return {s.aspectX, s.aspectY};
        }
        return {0, 0};
    }
};

TEST(BindInputs, EachStreamFindsTheWriterInputOfItsConnectionNameEitherWay) {
    for (bool configAnswered : {false, true}) {
        SCOPED_TRACE(configAnswered);
        standin::SetInputPropsAnswerStreamConfig(configAnswered);
        PreparedWriter w(Job(HasVideo | HasAudio, 64, 48));
        ASSERT_EQ(BindInputs(w.writer.Get(), w.count, w.table), S_OK);
        // The names of the writer's inputs go to the debugger output.
        std::vector<std::u16string> logged = standin::DebugOutput();
        EXPECT_NE(std::find(logged.begin(), logged.end(), u"TamselVideo1"), logged.end());
        EXPECT_NE(std::find(logged.begin(), logged.end(), u"TamselAudio1"), logged.end());

        ASSERT_GE(w.table[0].InputNumber, 0);
        ASSERT_GE(w.table[1].InputNumber, 0);
        EXPECT_NE(w.table[0].InputNumber, w.table[1].InputNumber);
        EXPECT_EQ(w.InputName(w.table[0].InputNumber), u"TamselVideo1");
        EXPECT_EQ(w.InputName(w.table[1].InputNumber), u"TamselAudio1");

        // The writer took the uncompressed types.
        EXPECT_EQ(w.AspectSeenByWriter(), std::make_pair(0u, 0u));
        standin::ObservedSession session = standin::LastSession();
        for (const standin::ObservedStream& s : session.streams) {
            if (s.isVideo) {
                EXPECT_EQ(s.inWidth, 64);
                EXPECT_EQ(s.inHeight, 48);
                EXPECT_EQ(s.inBitCount, 24u);
            } else {
                EXPECT_EQ(s.inSampleRate, 48000u);
                EXPECT_EQ(s.inChannels, 2u);
                EXPECT_EQ(s.inBitsPerSample, 16u);
            }
        }
    }
}

TEST(BindInputs, AStreamTheJobDoesNotCarryLeavesItsInputUnclaimed) {
    for (uint32_t flags : {HasVideo, HasAudio}) {
        PreparedWriter w(Job(flags, 64, 48));
        long setInputProps = standin::CallCount("IWMWriter::SetInputProps");
        ASSERT_EQ(BindInputs(w.writer.Get(), w.count, w.table), S_OK);
        EXPECT_EQ(standin::CallCount("IWMWriter::SetInputProps") - setInputProps, 1);
        EXPECT_EQ(w.InputName(w.table[0].InputNumber), flags == HasVideo ? u"TamselVideo1" : u"TamselAudio1");
    }
}

TEST(BindInputs, AStreamWithoutAnInputOfItsNameFailsTheBinding) {
    PreparedWriter w(Job(HasVideo | HasAudio, 64, 48));
    w.table[1].ConnectionName = BREVLO_WIDE("TamselAudio2");
    EXPECT_EQ(BindInputs(w.writer.Get(), w.count, w.table), E_INVALIDARG);
    EXPECT_GE(w.table[0].InputNumber, 0);
    EXPECT_EQ(w.table[1].InputNumber, -1);
    EXPECT_EQ(BindInputs(nullptr, w.count, w.table), E_INVALIDARG);
}

// Names of 64 units and more (terminator counted) are read into a heap buffer of their own size;
// shorter ones need no heap at all.
TEST(BindInputs, ConnectionNamesOfAnyLengthAreReadWhole) {
    for (size_t chars : {62u, 63u, 64u, 256u}) {
        SCOPED_TRACE(chars);
        PreparedWriter w(Job(HasVideo | HasAudio, 64, 48));
        // Only the last unit tells the name from a cut-off copy.
        std::u16string name = std::u16string(chars - 1, u'n') + u'z';
        const WCHAR* wide = reinterpret_cast<const WCHAR*>(name.c_str());
        ComRef<IWMStreamConfig> audio;
        ASSERT_EQ(w.profile->GetStream(1, audio.Out()), S_OK);
        ASSERT_EQ(audio->SetConnectionName(wide), S_OK);
        ASSERT_EQ(w.profile->ReconfigStream(audio.Get()), S_OK);
        ASSERT_EQ(w.writer->SetProfile(w.profile.Get()), S_OK);
        w.table[1].ConnectionName = wide;

        if (chars < 63) standin::FailNthHeapAlloc(1);
        ASSERT_EQ(BindInputs(w.writer.Get(), w.count, w.table), S_OK);
        standin::FailNthHeapAlloc(0);
        EXPECT_GE(w.table[1].InputNumber, 0);
        std::vector<std::u16string> logged = standin::DebugOutput();
        EXPECT_NE(std::find(logged.begin(), logged.end(), name), logged.end());
        EXPECT_EQ(standin::HeapLiveBlocks(), 2);  // the two format blocks only

        if (chars >= 63) {
            standin::FailNthHeapAlloc(1);
            EXPECT_LT(BindInputs(w.writer.Get(), w.count, w.table), 0);
            standin::FailNthHeapAlloc(0);
            EXPECT_EQ(standin::HeapLiveBlocks(), 2);
        }
    }
}

TEST(BindInputs, ARejectedInputTypeStopsTheBinding) {
    for (const char* method : {"IWMMediaProps::SetMediaType", "IWMWriter::SetInputProps",
                               "IWMWriter::GetInputProps", "IWMWriter::GetInputCount"}) {
        SCOPED_TRACE(method);
        PreparedWriter w(Job(HasVideo | HasAudio, 64, 48));
        standin::FailCall(method, 1, NS_E_INVALID_INPUT_FORMAT);
        HRESULT hr = BindInputs(w.writer.Get(), w.count, w.table);
        EXPECT_LT(hr, 0);
    }
}

TEST(WriteAspectRatio, WritesThePixelShapeThatShowsTheFrameAtTheUsersShape) {
    struct Case {
        int32_t width, height;
        uint32_t shownW, shownH;
        uint32_t x, y;
    };
    const Case cases[] = {
        {1920, 1080, 16, 9, 1, 1},
        {720, 480, 16, 9, 32, 27},
        {640, 480, 4, 3, 1, 1},
        {720, 480, 4, 3, 8, 9},
        {640, 480, 640, 480, 1, 1},  // the frame's own shape
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " as " << c.shownW << ":" << c.shownH);
        PreparedWriter w(Job(HasVideo, c.width, c.height));
        w.settings.EnableResizeTo = 1;
        w.settings.ResizeToW = c.shownW;
        w.settings.ResizeToH = c.shownH;
        ASSERT_EQ(BindInputs(w.writer.Get(), w.count, w.table), S_OK);
        ASSERT_EQ(WriteAspectRatio(w.writer.Get(), &w.job, &w.settings), S_OK);
        EXPECT_EQ(w.AspectSeenByWriter(), std::make_pair(c.x, c.y));
    }
}

TEST(WriteAspectRatio, NothingIsWrittenWithoutAnOverrideVideoOrUsableTerms) {
    struct Case {
        uint32_t flags;
        int32_t enable;
        uint32_t shownW, shownH;
    };
    const Case cases[] = {
        {HasVideo, 0, 16, 9},           // no override
        {HasAudio, 1, 16, 9},           // no video
        {HasVideo, 1, 0, 9},            // a zero term
        {HasVideo, 1, 0xFFFFFFFFu, 1},  // the reduced pair does not fit 32 bits
    };
    for (const Case& c : cases) {
        PreparedWriter w(Job(c.flags, 1920, 1080));
        w.settings.EnableResizeTo = c.enable;
        w.settings.ResizeToW = c.shownW;
        w.settings.ResizeToH = c.shownH;
        long added = standin::CallCount("IWMHeaderInfo3::AddAttribute");
        EXPECT_EQ(WriteAspectRatio(w.writer.Get(), &w.job, &w.settings), S_FALSE);
        EXPECT_EQ(standin::CallCount("IWMHeaderInfo3::AddAttribute"), added);
    }
}

TEST(WriteAspectRatio, ARejectedXTermKeepsTheYTermUnwritten) {
    PreparedWriter w(Job(HasVideo, 720, 480));
    w.settings.EnableResizeTo = 1;
    w.settings.ResizeToW = 16;
    w.settings.ResizeToH = 9;
    standin::FailCall("IWMHeaderInfo3::AddAttribute", 1, NS_E_INVALID_REQUEST);
    long added = standin::CallCount("IWMHeaderInfo3::AddAttribute");
    EXPECT_EQ(WriteAspectRatio(w.writer.Get(), &w.job, &w.settings), NS_E_INVALID_REQUEST);
    EXPECT_EQ(standin::CallCount("IWMHeaderInfo3::AddAttribute") - added, 1);
}

TEST(SetOutputPath, PathsTheWriterCannotBeGivenAreRefused) {
    ComRef<IWMWriter> writer;
    ASSERT_EQ(WMCreateWriter(nullptr, writer.Out()), S_OK);
    EXPECT_EQ(SetOutputPath(nullptr, "a.wmv"), E_INVALIDARG);
    EXPECT_EQ(SetOutputPath(writer.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(SetOutputPath(writer.Get(), ""), E_FAIL);
    EXPECT_EQ(SetOutputPath(writer.Get(), std::string(261, 'a').c_str()), E_FAIL);
    EXPECT_EQ(SetOutputPath(writer.Get(), "bad\x82"), E_FAIL);
    EXPECT_EQ(SetOutputPath(writer.Get(), std::string(260, 'a').c_str()), S_OK);
}

TEST(PathToWide, Decodes260UnitsAndTerminatesShorterNames) {
    WCHAR out[262];
    for (WCHAR& c : out) c = 0x7777;
    ASSERT_TRUE(PathToWide(out, 260, std::string(260, 'b').c_str()));
    EXPECT_EQ(out[259], u'b');
    EXPECT_EQ(out[260], 0x7777);  // a full buffer gets no terminator from the conversion
    ASSERT_TRUE(PathToWide(out, 260, "C:\\clip.wmv"));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out)), u"C:\\clip.wmv");
    EXPECT_FALSE(PathToWide(out, 260, ""));
    EXPECT_FALSE(PathToWide(out, 260, std::string(261, 'b').c_str()));
}

}  // namespace

namespace {

TEST(PathToWide, DecodesTheAnsiCodePageTheEditorsFileDialogUsed) {
    WCHAR out[261] = {};
    // Western Windows: ANSI 1252 and OEM 437 differ, and only the ANSI reading is the user's name.
    standin::SetCodePages(1252, 437);
    ASSERT_TRUE(PathToWide(out, 260, "caf\xE9.wmv"));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out)), u"caf\u00E9.wmv");

    standin::SetCodePages(932, 932);
    ASSERT_TRUE(PathToWide(out, 260, "\x82\xA0.wmv"));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out)), u"\u3042.wmv");
    EXPECT_FALSE(PathToWide(out, 260, "a\x82"));  // a lead byte without its trail byte

    // The UTF-8 code page takes no MB_PRECOMPOSED; names must still convert, strictly.
    standin::SetCodePages(65001, 437);
    ASSERT_TRUE(PathToWide(out, 260, "caf\xC3\xA9.wmv"));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out)), u"caf\u00E9.wmv");
    EXPECT_FALSE(PathToWide(out, 260, "caf\xE9.wmv"));
}

}  // namespace
