// The stand-in runtime's profile manager, codec catalogue, profiles and stream configurations.
#include <gtest/gtest.h>

#include <string>

#include "platform/holders.h"
#include "platform/standin/wmvcore/runtime.h"
#include "platform/wm/wm.h"

namespace {

using WStr = std::basic_string<WCHAR>;

ComRef<IWMCodecInfo3> Catalogue() {
    ComRef<IWMProfileManager> manager;
    EXPECT_EQ(WMCreateProfileManager(manager.Out()), S_OK);
    ComRef<IWMCodecInfo3> info;
    EXPECT_EQ(QueryInterfaceInto(manager.Get(), IID_IWMCodecInfo3, info), S_OK);
    return info;
}

WStr CodecName(IWMCodecInfo3* info, REFGUID type, DWORD codec) {
    DWORD cch = 0;
    EXPECT_EQ(info->GetCodecName(type, codec, nullptr, &cch), S_OK);
    WStr name(cch, 0);
    EXPECT_EQ(info->GetCodecName(type, codec, &name[0], &cch), S_OK);
    EXPECT_EQ(name.size(), cch);
    name.resize(cch ? cch - 1 : 0);
    return name;
}

WStr FormatDesc(IWMCodecInfo3* info, REFGUID type, DWORD codec, DWORD format) {
    DWORD cch = 0;
    EXPECT_EQ(info->GetCodecFormatDesc(type, codec, format, nullptr, nullptr, &cch), S_OK);
    WStr desc(cch, 0);
    EXPECT_EQ(info->GetCodecFormatDesc(type, codec, format, nullptr, &desc[0], &cch), S_OK);
    desc.resize(cch ? cch - 1 : 0);
    return desc;
}

HRESULT SetEnumeration(IWMCodecInfo3* info, REFGUID type, DWORD codec, BOOL vbr, DWORD passes) {
    HRESULT hr = info->SetCodecEnumerationSetting(type, codec, g_wszVBREnabled, WMT_TYPE_BOOL,
                                                  reinterpret_cast<const BYTE*>(&vbr), 4);
    if (FAILED(hr)) return hr;
    return info->SetCodecEnumerationSetting(type, codec, g_wszNumPasses, WMT_TYPE_DWORD,
                                            reinterpret_cast<const BYTE*>(&passes), 4);
}

DWORD FormatCount(IWMCodecInfo3* info, REFGUID type, DWORD codec) {
    DWORD n = 12345;
    EXPECT_EQ(info->GetCodecFormatCount(type, codec, &n), S_OK);
    return n;
}

std::u16string U16(const WStr& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

TEST(WmvcoreCatalogue, NamesFollowTheTwoCallConventionAndDependOnTheRuntime) {
    ComRef<IWMCodecInfo3> info = Catalogue();
    DWORD audio = 0, video = 0;
    ASSERT_EQ(info->GetCodecInfoCount(WMMEDIATYPE_Audio, &audio), S_OK);
    ASSERT_EQ(info->GetCodecInfoCount(WMMEDIATYPE_Video, &video), S_OK);
    ASSERT_GE(audio, 4u);
    EXPECT_EQ(U16(CodecName(info.Get(), WMMEDIATYPE_Video, 0)), u"Windows Media Video 9");
    EXPECT_EQ(U16(CodecName(info.Get(), WMMEDIATYPE_Audio, 1)), u"Windows Media Audio 9 Professional");

    // Too small a buffer is refused and the needed size reported; bad indexes and types refused.
    DWORD cch = 3;
    WCHAR small[3];
    EXPECT_EQ(info->GetCodecName(WMMEDIATYPE_Video, 0, small, &cch), ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(cch, 22u);
    EXPECT_EQ(info->GetCodecName(WMMEDIATYPE_Audio, audio, nullptr, &cch), E_INVALIDARG);
    EXPECT_EQ(info->GetCodecInfoCount(WMFORMAT_VideoInfo, &cch), E_INVALIDARG);
    EXPECT_EQ(info->GetCodecInfoCount(WMMEDIATYPE_Audio, nullptr), E_POINTER);

    // A manager created after another catalogue was installed sees that one.
    standin::InstallCatalogue(standin::LaterCatalogue());
    ComRef<IWMCodecInfo3> later = Catalogue();
    bool nine = false, ten = false;
    DWORD n = 0;
    ASSERT_EQ(later->GetCodecInfoCount(WMMEDIATYPE_Audio, &n), S_OK);
    for (DWORD i = 0; i < n; ++i) {
        std::u16string name = U16(CodecName(later.Get(), WMMEDIATYPE_Audio, i));
        nine |= name == u"Windows Media Audio 9 Professional";
        ten |= name == u"Windows Media Audio 10 Professional";
    }
    EXPECT_FALSE(nine);
    EXPECT_TRUE(ten);
    // The first object keeps the catalogue it was made with.
    EXPECT_EQ(U16(CodecName(info.Get(), WMMEDIATYPE_Audio, 1)), u"Windows Media Audio 9 Professional");
}

TEST(WmvcoreCatalogue, EnumerationSettingsSelectTheListOfThisObjectOnly) {
    ComRef<IWMCodecInfo3> info = Catalogue();
    DWORD cbr = FormatCount(info.Get(), WMMEDIATYPE_Audio, 0);
    EXPECT_GT(cbr, 10u);
    EXPECT_EQ(U16(FormatDesc(info.Get(), WMMEDIATYPE_Audio, 0, 0)), u"320 kbps, 44 kHz, stereo 1-pass CBR");

    ASSERT_EQ(SetEnumeration(info.Get(), WMMEDIATYPE_Audio, 0, TRUE, 1), S_OK);
    DWORD quality = FormatCount(info.Get(), WMMEDIATYPE_Audio, 0);
    EXPECT_NE(quality, cbr);
    EXPECT_EQ(U16(FormatDesc(info.Get(), WMMEDIATYPE_Audio, 0, 0)).rfind(u"VBR Quality ", 0), 0u);
    // Another manager still lists CBR.
    ComRef<IWMCodecInfo3> other = Catalogue();
    EXPECT_EQ(FormatCount(other.Get(), WMMEDIATYPE_Audio, 0), cbr);

    // Voice rejects the VBR setting; lossless accepts two passes but has nothing there.
    BOOL off = FALSE;
    EXPECT_EQ(info->SetCodecEnumerationSetting(WMMEDIATYPE_Audio, 3, g_wszVBREnabled, WMT_TYPE_BOOL,
                                               reinterpret_cast<const BYTE*>(&off), 4),
              NS_E_UNSUPPORTED_PROPERTY);
    EXPECT_GT(FormatCount(info.Get(), WMMEDIATYPE_Audio, 3), 0u);
    ASSERT_EQ(SetEnumeration(info.Get(), WMMEDIATYPE_Audio, 2, TRUE, 2), S_OK);
    EXPECT_EQ(FormatCount(info.Get(), WMMEDIATYPE_Audio, 2), 0u);
    // The screen codec has no two-pass lists.
    EXPECT_EQ(SetEnumeration(info.Get(), WMMEDIATYPE_Video, 1, FALSE, 2), NS_E_UNSUPPORTED_PROPERTY);
    // Video codecs have one format per list, without a description.
    ASSERT_EQ(SetEnumeration(info.Get(), WMMEDIATYPE_Video, 0, TRUE, 2), S_OK);
    EXPECT_EQ(FormatCount(info.Get(), WMMEDIATYPE_Video, 0), 1u);
    EXPECT_EQ(FormatDesc(info.Get(), WMMEDIATYPE_Video, 0, 0), WStr());
    ComRef<IWMStreamConfig> cfg;
    EXPECT_EQ(info->GetCodecFormat(WMMEDIATYPE_Video, 0, 1, cfg.Out()), E_INVALIDARG);
    EXPECT_FALSE(cfg);
}

TEST(WmvcoreCatalogue, CodecPropertiesForVideoOnly) {
    ComRef<IWMCodecInfo3> info = Catalogue();
    WMT_ATTR_DATATYPE type;
    DWORD value = 0, size = 0;
    ASSERT_EQ(info->GetCodecProp(WMMEDIATYPE_Video, 0, g_wszComplexityMax, &type, nullptr, &size), S_OK);
    EXPECT_EQ(size, 4u);
    struct Expect { const WCHAR* name; DWORD value; };
    for (Expect e : {Expect{g_wszComplexityMax, 4}, Expect{g_wszComplexityOffline, 3}, Expect{g_wszComplexityLive, 1}}) {
        size = 4;
        ASSERT_EQ(info->GetCodecProp(WMMEDIATYPE_Video, 0, e.name, &type, reinterpret_cast<BYTE*>(&value), &size), S_OK);
        EXPECT_EQ(type, WMT_TYPE_DWORD);
        EXPECT_EQ(value, e.value);
    }
    size = 4;
    EXPECT_EQ(info->GetCodecProp(WMMEDIATYPE_Audio, 0, g_wszComplexityMax, &type, reinterpret_cast<BYTE*>(&value), &size),
              E_INVALIDARG);
    EXPECT_EQ(info->GetCodecProp(WMMEDIATYPE_Video, 0, nullptr, &type, nullptr, &size), E_INVALIDARG);
}

TEST(WmvcoreCatalogue, FormatsCarryConsistentMediaTypes) {
    ComRef<IWMCodecInfo3> info = Catalogue();
    ComRef<IWMStreamConfig> cfg;
    ASSERT_EQ(info->GetCodecFormat(WMMEDIATYPE_Audio, 0, 4, cfg.Out()), S_OK);
    ComRef<IWMMediaProps> props;
    ASSERT_EQ(QueryInterfaceInto(cfg.Get(), IID_IWMMediaProps, props), S_OK);
    ComRef<IWMVideoMediaProps> videoProps;
    EXPECT_EQ(QueryInterfaceInto(cfg.Get(), IID_IWMVideoMediaProps, videoProps), E_NOINTERFACE);

    DWORD cb = 0;
    ASSERT_EQ(props->GetMediaType(nullptr, &cb), S_OK);
    ASSERT_GT(cb, sizeof(WM_MEDIA_TYPE) + sizeof(WAVEFORMATEX));
    std::vector<BYTE> block(cb);
    DWORD tooSmall = cb - 1;
    EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(block.data()), &tooSmall), ASF_E_BUFFERTOOSMALL);
    ASSERT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(block.data()), &cb), S_OK);
    auto* mt = reinterpret_cast<WM_MEDIA_TYPE*>(block.data());
    EXPECT_EQ(mt->majortype, WMMEDIATYPE_Audio);
    EXPECT_EQ(mt->formattype, WMFORMAT_WaveFormatEx);
    EXPECT_EQ(mt->pbFormat, block.data() + sizeof(WM_MEDIA_TYPE));
    auto* wave = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
    EXPECT_EQ(mt->subtype.Data1, wave->wFormatTag);
    EXPECT_EQ(mt->lSampleSize, wave->nBlockAlign);
    DWORD bitrate = 0;
    ASSERT_EQ(cfg->GetBitrate(&bitrate), S_OK);
    EXPECT_EQ(bitrate, wave->nAvgBytesPerSec * 8);

    ComRef<IWMStreamConfig> video;
    ASSERT_EQ(info->GetCodecFormat(WMMEDIATYPE_Video, 0, 0, video.Out()), S_OK);
    ComRef<IWMVideoMediaProps> vprops;
    ASSERT_EQ(QueryInterfaceInto(video.Get(), IID_IWMVideoMediaProps, vprops), S_OK);
    ASSERT_EQ(vprops->GetMediaType(nullptr, &cb), S_OK);
    EXPECT_EQ(cb, sizeof(WM_MEDIA_TYPE) + sizeof(VIDEOINFOHEADER));
    block.assign(cb, 0);
    ASSERT_EQ(vprops->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(block.data()), &cb), S_OK);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block.data() + sizeof(WM_MEDIA_TYPE));
    EXPECT_EQ(vih->bmiHeader.biCompression, 0x33564D57u);
    EXPECT_EQ(reinterpret_cast<WM_MEDIA_TYPE*>(block.data())->subtype, WMMEDIASUBTYPE_WMV3);
}

// Quality-based VBR formats carry 0x7FFFFF00 | quality where a rate would be, as the runtime's do;
// every other format's rate matches its bit rate, and no bit rate is derived from the marker.
TEST(WmvcoreCatalogue, QualityVbrAudioFormatsMarkTheirQualityInsteadOfARate) {
    ComRef<IWMCodecInfo3> info = Catalogue();
    DWORD codecs = 0;
    ASSERT_EQ(info->GetCodecInfoCount(WMMEDIATYPE_Audio, &codecs), S_OK);
    int marked = 0;
    for (DWORD codec = 0; codec < codecs; ++codec) {
        for (BOOL vbr : {FALSE, TRUE}) {
            if (FAILED(SetEnumeration(info.Get(), WMMEDIATYPE_Audio, codec, vbr, 1))) continue;
            for (DWORD format = 0; format < FormatCount(info.Get(), WMMEDIATYPE_Audio, codec); ++format) {
                std::u16string desc = U16(FormatDesc(info.Get(), WMMEDIATYPE_Audio, codec, format));
                SCOPED_TRACE(std::string(desc.begin(), desc.end()));
                ComRef<IWMStreamConfig> cfg;
                ASSERT_EQ(info->GetCodecFormat(WMMEDIATYPE_Audio, codec, format, cfg.Out()), S_OK);
                ComRef<IWMMediaProps> props;
                ASSERT_EQ(QueryInterfaceInto(cfg.Get(), IID_IWMMediaProps, props), S_OK);
                DWORD cb = 0;
                ASSERT_EQ(props->GetMediaType(nullptr, &cb), S_OK);
                std::vector<BYTE> block(cb);
                ASSERT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(block.data()), &cb), S_OK);
                const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(block.data() + sizeof(WM_MEDIA_TYPE));
                DWORD bitrate = 0;
                ASSERT_EQ(cfg->GetBitrate(&bitrate), S_OK);
                EXPECT_GT(bitrate, 0u);
                EXPECT_LT(bitrate, 10000000u);
                const std::u16string prefix = u"VBR Quality ";
                if (desc.compare(0, prefix.size(), prefix) == 0) {
                    DWORD quality = std::stoul(std::string(desc.begin() + prefix.size(), desc.begin() + desc.find(u',')));
                    EXPECT_EQ(wave->nAvgBytesPerSec, 0x7FFFFF00u | quality);
                    ++marked;
                } else {
                    EXPECT_EQ(bitrate, wave->nAvgBytesPerSec * 8);
                }
            }
        }
    }
    EXPECT_GE(marked, 10);
    ComRef<IWMWriter> writer;
    ASSERT_EQ(WMCreateWriter(nullptr, writer.Out()), S_OK);
    EXPECT_EQ(writer->GetInputFormatCount(0, nullptr), E_INVALIDARG);
}

TEST(WmvcoreProfile, StreamsAreCopiedIntoTheProfileAndNumberedInCreationOrder) {
    ComRef<IWMProfileManager> manager;
    ASSERT_EQ(WMCreateProfileManager(manager.Out()), S_OK);
    ComRef<IWMProfile> profile;
    EXPECT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, nullptr), E_INVALIDARG);
    ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, profile.Out()), S_OK);
    ComRef<IWMStreamConfig> a, b;
    EXPECT_EQ(profile->CreateNewStream(WMFORMAT_VideoInfo, a.Out()), E_INVALIDARG);
    ASSERT_EQ(profile->CreateNewStream(WMMEDIATYPE_Video, a.Out()), S_OK);
    ASSERT_EQ(profile->CreateNewStream(WMMEDIATYPE_Audio, b.Out()), S_OK);
    WORD na = 0, nb = 0;
    a->GetStreamNumber(&na);
    b->GetStreamNumber(&nb);
    EXPECT_EQ(na, 1);
    EXPECT_EQ(nb, 2);
    DWORD count = 9;
    profile->GetStreamCount(&count);
    EXPECT_EQ(count, 0u);  // not in the profile until added

    ASSERT_EQ(a->SetConnectionName(BREVLO_WIDE("TamselVideo1")), S_OK);
    ASSERT_EQ(profile->AddStream(a.Get()), S_OK);
    ASSERT_EQ(a->SetConnectionName(BREVLO_WIDE("changed later")), S_OK);
    EXPECT_EQ(profile->AddStream(nullptr), E_INVALIDARG);
    ComRef<IWMStreamConfig> kept;
    ASSERT_EQ(profile->GetStream(0, kept.Out()), S_OK);
    WORD cch = 0;
    ASSERT_EQ(kept->GetConnectionName(nullptr, &cch), S_OK);
    EXPECT_EQ(cch, 13);
    WCHAR name[13];
    WORD small = 5;
    EXPECT_EQ(kept->GetConnectionName(name, &small), ASF_E_BUFFERTOOSMALL);
    ASSERT_EQ(kept->GetConnectionName(name, &cch), S_OK);
    EXPECT_EQ(std::u16string(name, name + 12), u"TamselVideo1");
    EXPECT_EQ(kept->GetConnectionName(name, nullptr), E_INVALIDARG);

    std::basic_string<WCHAR> longName(257, 'x');
    EXPECT_EQ(a->SetStreamName(longName.c_str()), E_INVALIDARG);
    EXPECT_EQ(a->SetStreamName(nullptr), E_INVALIDARG);
    ComRef<IWMStreamConfig3> three;
    ASSERT_EQ(QueryInterfaceInto(a.Get(), IID_IWMStreamConfig3, three), S_OK);
    EXPECT_EQ(three->SetLanguage(BREVLO_WIDE("en-us")), S_OK);
    EXPECT_EQ(three->SetLanguage(BREVLO_WIDE("en us")), E_INVALIDARG);
}

TEST(WmvcoreProfile, PropertyVaultTypesAndDeletion) {
    ComRef<IWMProfileManager> manager;
    ASSERT_EQ(WMCreateProfileManager(manager.Out()), S_OK);
    ComRef<IWMProfile> profile;
    ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, profile.Out()), S_OK);
    ComRef<IWMStreamConfig> cfg;
    ASSERT_EQ(profile->CreateNewStream(WMMEDIATYPE_Video, cfg.Out()), S_OK);
    ComRef<IWMPropertyVault> vault;
    ASSERT_EQ(QueryInterfaceInto(cfg.Get(), IID_IWMPropertyVault, vault), S_OK);
    DWORD v = 3;
    BYTE* p = reinterpret_cast<BYTE*>(&v);
    EXPECT_EQ(vault->SetProperty(g_wszComplexity, WMT_TYPE_DWORD, p, 4), S_OK);  // a 4-byte complexity is fine
    EXPECT_EQ(vault->SetProperty(g_wszVBREnabled, WMT_TYPE_BOOL, p, 2), E_INVALIDARG);
    EXPECT_EQ(vault->SetProperty(BREVLO_WIDE(""), WMT_TYPE_DWORD, p, 4), E_INVALIDARG);
    WCHAR sp[] = BREVLO_WIDE("SP");
    EXPECT_EQ(vault->SetProperty(g_wszDecoderComplexityRequested, WMT_TYPE_STRING, reinterpret_cast<BYTE*>(sp), 6), S_OK);
    EXPECT_EQ(vault->SetProperty(g_wszDecoderComplexityRequested, WMT_TYPE_STRING, reinterpret_cast<BYTE*>(sp), 4),
              E_INVALIDARG);  // no terminator
    DWORD n = 0;
    vault->GetPropertyCount(&n);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(vault->SetProperty(g_wszComplexity, WMT_TYPE_DWORD, nullptr, 0), S_OK);
    EXPECT_EQ(vault->SetProperty(g_wszComplexity, WMT_TYPE_DWORD, nullptr, 0), E_INVALIDARG);
    vault->GetPropertyCount(&n);
    EXPECT_EQ(n, 1u);
}

TEST(WmvcoreObjects, CountsLiveObjectsAndInjectsFailures) {
    EXPECT_EQ(standin::LiveObjects(), 0);
    {
        ComRef<IWMCodecInfo3> info = Catalogue();
        EXPECT_EQ(standin::LiveObjects(), 1);
        EXPECT_EQ(standin::LiveReferences(), 1);
        ComRef<IWMProfileManager> again;
        ASSERT_EQ(QueryInterfaceInto(info.Get(), IID_IWMProfileManager, again), S_OK);
        EXPECT_EQ(standin::LiveReferences(), 2);
        ASSERT_EQ(standin::DescribeLiveObjects().size(), 1u);
        EXPECT_EQ(standin::DescribeLiveObjects()[0], "ProfileManager refs=2");

        standin::FailCall("IWMCodecInfo2::GetCodecName", 2, E_OUTOFMEMORY);
        DWORD cch = 0;
        EXPECT_EQ(info->GetCodecName(WMMEDIATYPE_Audio, 0, nullptr, &cch), S_OK);
        EXPECT_EQ(info->GetCodecName(WMMEDIATYPE_Audio, 0, nullptr, &cch), E_OUTOFMEMORY);
        EXPECT_EQ(info->GetCodecName(WMMEDIATYPE_Audio, 0, nullptr, &cch), S_OK);
        EXPECT_EQ(standin::CallCount("IWMCodecInfo2::GetCodecName"), 3);
    }
    standin::FailCall("WMCreateProfileManager", 1, E_OUTOFMEMORY);
    IWMProfileManager* manager = reinterpret_cast<IWMProfileManager*>(1);
    EXPECT_EQ(WMCreateProfileManager(&manager), E_OUTOFMEMORY);
    EXPECT_EQ(standin::LiveObjects(), 0);
}
