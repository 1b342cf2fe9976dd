// Codec lookups, enumeration settings and format media types against the stand-in runtime's
// catalogue.
#include "profile/codec_catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/holders.h"
#include "platform/standin/wmvcore/runtime.h"

namespace {

standin::CatalogueFormat AudioFormat(uint32_t bitrate, uint32_t sampleRate) {
    standin::CatalogueFormat f;
    f.description = u"test format";
    f.bitrate = bitrate;
    f.sampleRate = sampleRate;
    f.channels = 2;
    f.bitsPerSample = 16;
    return f;
}

standin::CatalogueCodec Codec(const std::u16string& name) {
    standin::CatalogueCodec c;
    c.name = name;
    c.fourcc = 0x0162;
    c.lists[0][0] = {AudioFormat(128000, 44100)};
    c.lists[0][1] = {AudioFormat(64000, 32000), AudioFormat(96000, 48000)};
    c.lists[1][0] = {AudioFormat(0, 22050)};
    c.lists[1][1] = {AudioFormat(192000, 96000)};
    return c;
}

standin::CatalogueCodec VideoCodec(const std::u16string& name) {
    standin::CatalogueCodec c;
    c.name = name;
    c.fourcc = 0x33564D57;
    for (auto& byVbr : c.lists) {
        for (auto& list : byVbr) list = {standin::CatalogueFormat{}};
    }
    return c;
}

void InstallAudio(std::vector<std::u16string> names) {
    standin::Catalogue catalogue;
    catalogue.video.push_back(VideoCodec(u"Windows Media Video 9"));
    for (const std::u16string& n : names) catalogue.audio.push_back(Codec(n));
    standin::InstallCatalogue(catalogue);
}

std::u16string Repeat(char16_t c, size_t n) { return std::u16string(n, c); }

DWORD FindAudio(const std::u16string& name, HRESULT* hr) {
    DWORD index = 12345;
    *hr = FindCodecIndex(WMMEDIATYPE_Audio, reinterpret_cast<const WCHAR*>(name.c_str()), &index);
    return index;
}

// The reference count of an object, read without changing it.
ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

}  // namespace

TEST(CodecCatalogue, FindsTheFirstExactNameAndSkipsOverlongNames) {
    const std::u16string wanted = u"Windows Media Audio 9 Professional";
    const std::u16string longMatch = wanted + Repeat(u'x', 127 - wanted.size());
    InstallAudio({longMatch, u"windows media audio 9 professional", wanted, wanted, Repeat(u'y', 200)});

    HRESULT hr;
    EXPECT_EQ(FindAudio(wanted, &hr), 2u) << "case-sensitive, lowest index of two equal names";
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(FindAudio(longMatch, &hr), kNoCodec) << "a name of 127 characters is never read";
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(FindAudio(u"Windows Media Audio 9", &hr), kNoCodec);
    EXPECT_EQ(hr, E_FAIL);

    // A name that cannot be read ends the search as if nothing matched.
    standin::FailCall("IWMCodecInfo2::GetCodecName", 2, E_UNEXPECTED);
    EXPECT_EQ(FindAudio(wanted, &hr), kNoCodec);
    EXPECT_EQ(hr, E_FAIL);

    // A failed count is passed on as it came.
    standin::FailCall("IWMCodecInfo::GetCodecInfoCount", 1, E_OUTOFMEMORY);
    FindAudio(wanted, &hr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(standin::LiveObjects(), 0);
}

TEST(CodecCatalogue, DefaultAudioCodecFallsBackToTheLaterRuntimesNames) {
    DWORD codec = 99, format = 99;
    standin::InstallCatalogue(standin::Version9Catalogue());
    ASSERT_EQ(FindDefaultAudioCodec(&codec, &format), S_OK);
    EXPECT_EQ(standin::Version9Catalogue().audio.at(codec).name, u"Windows Media Audio 9 Professional");
    EXPECT_EQ(format, 0u);

    // The exact name wins wherever it stands.
    InstallAudio({u"Windows Media Audio 9.1 Professional", u"Windows Media Audio 9 Professional"});
    ASSERT_EQ(FindDefaultAudioCodec(&codec, &format), S_OK);
    EXPECT_EQ(codec, 1u);

    InstallAudio({u"Windows Media Audio 10 Professional", u"Windows Media Audio 9.2",
                  u"Windows Media Audio 9.1 Professional", u"Windows Media Audio 9.2 Professional"});
    ASSERT_EQ(FindDefaultAudioCodec(&codec, &format), S_OK);
    EXPECT_EQ(codec, 2u);

    InstallAudio({u"Windows Media Audio 10 Professional", u"Windows Media Audio Voice 9", u"Windows Media Audio 9.2",
                  u"Windows Media Audio 9.2 Lossless"});
    ASSERT_EQ(FindDefaultAudioCodec(&codec, &format), S_OK);
    EXPECT_EQ(codec, 2u);

    codec = format = 77;
    InstallAudio({u"Windows Media Audio 10 Professional", u"Windows Media Audio Voice 9"});
    EXPECT_EQ(FindDefaultAudioCodec(&codec, &format), E_FAIL);
    EXPECT_EQ(codec, 77u);
    EXPECT_EQ(format, 77u);
    EXPECT_EQ(FindDefaultAudioCodec(nullptr, &format), E_INVALIDARG);

    // The later runtime's own catalogue: some "Windows Media Audio 9…" codec, with a format 0 in
    // the constant-rate one-pass list the defaults select.
    standin::Catalogue later = standin::LaterCatalogue();
    standin::InstallCatalogue(later);
    ASSERT_EQ(FindDefaultAudioCodec(&codec, &format), S_OK);
    EXPECT_EQ(later.audio.at(codec).name.rfind(u"Windows Media Audio 9", 0), 0u);
    MediaTypeBlock* block = nullptr;
    EXPECT_EQ(GetEnumeratedFormatType(&block, nullptr, nullptr, WMMEDIATYPE_Audio, codec, 0, FALSE, 1), S_OK);
    HeapBlock holder(block);
    EXPECT_NE(block, nullptr);
}

TEST(CodecCatalogue, DefaultPerformanceIsTheOfflineComplexity) {
    standin::Catalogue catalogue;
    catalogue.video.push_back(VideoCodec(u"Windows Media Video 9 Screen"));
    catalogue.video.push_back(VideoCodec(u"Windows Media Video 9"));
    catalogue.video[1].complexityOffline = 2;
    catalogue.audio.push_back(Codec(u"Windows Media Audio 9 Professional"));
    standin::InstallCatalogue(catalogue);

    DWORD index = 0, value = 0;
    ASSERT_EQ(FindVideoCodecIndex(&index), S_OK);
    EXPECT_EQ(index, 1u);
    ASSERT_EQ(GetDefaultPerformance(WMMEDIATYPE_Video, index, &value), S_OK);
    EXPECT_EQ(value, 2u);

    value = 55;
    EXPECT_TRUE(FAILED(GetDefaultPerformance(WMMEDIATYPE_Audio, 0, &value)));
    EXPECT_EQ(value, 55u);
}

TEST(CodecCatalogue, EnumerationSettingsSelectTheListTheIndexPointsInto) {
    InstallAudio({u"Windows Media Audio 9 Professional"});
    MediaTypeBlock* block = nullptr;
    ComRef<IWMStreamConfig> config;
    ASSERT_EQ(GetEnumeratedFormatType(&block, nullptr, config.Out(), WMMEDIATYPE_Audio, 0, 1, FALSE, 2), S_OK);
    HeapBlock holder(block);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->majortype, WMMEDIATYPE_Audio);
    EXPECT_EQ(block->formattype, WMFORMAT_WaveFormatEx);
    ASSERT_GE(block->cbFormat, sizeof(WAVEFORMATEX));
    EXPECT_GT(block->pbFormat, reinterpret_cast<BYTE*>(block)) << "the format bytes live inside the block";
    EXPECT_EQ(reinterpret_cast<const WAVEFORMATEX*>(block->pbFormat)->nSamplesPerSec, 48000u);
    ASSERT_TRUE(config);
    DWORD bitrate = 0;
    EXPECT_EQ(config->GetBitrate(&bitrate), S_OK);
    EXPECT_NE(bitrate, 0u);

    // Past the end of the selected list: the runtime's failure, and nothing handed out.
    MediaTypeBlock* none = reinterpret_cast<MediaTypeBlock*>(&bitrate);
    IWMStreamConfig* untouched = nullptr;
    EXPECT_TRUE(FAILED(GetEnumeratedFormatType(&none, nullptr, &untouched, WMMEDIATYPE_Audio, 0, 1, FALSE, 1)));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(untouched, nullptr);
}

TEST(CodecCatalogue, VbrRejectionIsToleratedOnlyWithVbrOff) {
    standin::Catalogue catalogue;
    catalogue.video.push_back(VideoCodec(u"Windows Media Video 9"));
    catalogue.audio.push_back(Codec(u"Windows Media Audio 9 Voice"));
    catalogue.audio[0].rejectsVbrSetting = true;
    standin::InstallCatalogue(catalogue);

    // Format 1 exists only in the two-pass list, so this also shows "_PASSESUSED" was set.
    MediaTypeBlock* block = nullptr;
    ASSERT_EQ(GetEnumeratedFormatType(&block, nullptr, nullptr, WMMEDIATYPE_Audio, 0, 1, FALSE, 2), S_OK);
    HeapBlock holder(block);
    EXPECT_EQ(reinterpret_cast<const WAVEFORMATEX*>(block->pbFormat)->nSamplesPerSec, 48000u);

    MediaTypeBlock* refused = nullptr;
    EXPECT_EQ(GetEnumeratedFormatType(&refused, nullptr, nullptr, WMMEDIATYPE_Audio, 0, 0, TRUE, 1),
              NS_E_UNSUPPORTED_PROPERTY);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(SetFormatEnumeration(nullptr, WMMEDIATYPE_Audio, 0, FALSE, 1), E_INVALIDARG);
}

TEST(CodecCatalogue, ACallersCatalogueKeepsItsCountAndItsSettings) {
    InstallAudio({u"Windows Media Audio 9 Professional"});
    ComRef<IWMCodecInfo3> catalogue;
    ASSERT_EQ(AcquireCodecInfo(catalogue.Out()), S_OK);
    ULONG count = RefCount(catalogue.Get());
    long references = standin::LiveReferences();

    MediaTypeBlock* block = nullptr;
    ASSERT_EQ(GetEnumeratedFormatType(&block, catalogue.Get(), nullptr, WMMEDIATYPE_Audio, 0, 0, TRUE, 2), S_OK);
    HeapBlock first(block);
    EXPECT_EQ(RefCount(catalogue.Get()), count);
    EXPECT_EQ(standin::LiveReferences(), references);

    // The settings stay on the caller's object: a plain fetch reads the same list.
    ASSERT_EQ(GetCodecFormatType(&block, catalogue.Get(), nullptr, WMMEDIATYPE_Audio, 0, 0), S_OK);
    HeapBlock second(block);
    EXPECT_EQ(reinterpret_cast<const WAVEFORMATEX*>(block->pbFormat)->nSamplesPerSec, 96000u);
    EXPECT_EQ(RefCount(catalogue.Get()), count);

    IWMCodecInfo3* held = catalogue.Get();
    ASSERT_EQ(AcquireCodecInfo(&held), S_OK);
    EXPECT_EQ(RefCount(catalogue.Get()), count + 1);
    held->Release();
    EXPECT_EQ(AcquireCodecInfo(nullptr), E_POINTER);
}

TEST(CodecCatalogue, FailuresHandOutNothingAndLeakNothing) {
    InstallAudio({u"Windows Media Audio 9 Professional"});
    IWMCodecInfo3* holder = nullptr;
    standin::FailCall("WMCreateProfileManager", 1, E_OUTOFMEMORY);
    EXPECT_EQ(AcquireCodecInfo(&holder), E_OUTOFMEMORY);
    EXPECT_EQ(holder, nullptr);

    MediaTypeBlock* block = nullptr;
    standin::FailNthHeapAlloc(1);
    EXPECT_EQ(GetCodecFormatType(&block, nullptr, nullptr, WMMEDIATYPE_Audio, 0, 0), E_OUTOFMEMORY);
    EXPECT_EQ(block, nullptr);

    standin::FailCall("IWMMediaProps::GetMediaType", 2, E_UNEXPECTED);
    ComRef<IWMStreamConfig> config;
    EXPECT_EQ(GetCodecFormatType(&block, nullptr, config.Out(), WMMEDIATYPE_Audio, 0, 0), E_UNEXPECTED);
    EXPECT_EQ(block, nullptr);
    EXPECT_FALSE(config);
    EXPECT_EQ(GetCodecFormatType(nullptr, nullptr, nullptr, WMMEDIATYPE_Audio, 0, 0), E_INVALIDARG);
    EXPECT_EQ(standin::LiveObjects(), 0);
    EXPECT_EQ(standin::HeapLiveBlocks(), 0);
}

TEST(CodecCatalogue, ACopyOutlivesItsSource) {
    InstallAudio({u"Windows Media Audio 9 Professional"});
    MediaTypeBlock* source = nullptr;
    ASSERT_EQ(GetCodecFormatType(&source, nullptr, nullptr, WMMEDIATYPE_Audio, 0, 0), S_OK);
    const WM_MEDIA_TYPE header = *source;
    const std::vector<BYTE> format(source->pbFormat, source->pbFormat + source->cbFormat);

    MediaTypeBlock* copy = nullptr;
    ASSERT_EQ(CopyMediaType(&copy, source), S_OK);
    std::memset(source->pbFormat, 0xEE, source->cbFormat);
    HeapFree(GetProcessHeap(), 0, source);

    HeapBlock holder(copy);
    EXPECT_EQ(copy->majortype, header.majortype);
    EXPECT_EQ(copy->subtype, header.subtype);
    EXPECT_EQ(copy->lSampleSize, header.lSampleSize);
    EXPECT_EQ(copy->cbFormat, header.cbFormat);
    EXPECT_EQ(copy->pbFormat, reinterpret_cast<BYTE*>(copy + 1));
    EXPECT_EQ(std::vector<BYTE>(copy->pbFormat, copy->pbFormat + copy->cbFormat), format);

    MediaTypeBlock* failed = copy;
    standin::FailNthHeapAlloc(1);
    EXPECT_EQ(CopyMediaType(&failed, &header), E_OUTOFMEMORY);
    EXPECT_EQ(failed, nullptr);
    EXPECT_EQ(CopyMediaType(nullptr, &header), E_POINTER);
}
