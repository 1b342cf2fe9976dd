// Our declarations of the media runtime's interfaces must put every method in the slot the runtime
// has it in: a method out of place calls the wrong entry of the real DLL's vtable.
#include <gtest/gtest.h>

#include "platform/wm/wm.h"
#include "tests/common/vtable_slot.h"

namespace {

#define EXPECT_SLOT(iface, method, slot) EXPECT_EQ(VtableSlot(&iface::method), size_t(slot)) << #iface "::" #method

}  // namespace

TEST(WmDeclarations, VtableSlotsFollowTheRuntime) {
    EXPECT_SLOT(IWMProfileManager, CreateEmptyProfile, 3);
    EXPECT_SLOT(IWMProfileManager, LoadSystemProfile, 8);

    EXPECT_SLOT(IWMCodecInfo3, GetCodecInfoCount, 3);
    EXPECT_SLOT(IWMCodecInfo3, GetCodecFormatCount, 4);
    EXPECT_SLOT(IWMCodecInfo3, GetCodecFormat, 5);
    EXPECT_SLOT(IWMCodecInfo3, GetCodecName, 6);
    EXPECT_SLOT(IWMCodecInfo3, GetCodecFormatDesc, 7);
    EXPECT_SLOT(IWMCodecInfo3, GetCodecFormatProp, 8);
    EXPECT_SLOT(IWMCodecInfo3, GetCodecProp, 9);
    EXPECT_SLOT(IWMCodecInfo3, SetCodecEnumerationSetting, 10);
    EXPECT_SLOT(IWMCodecInfo3, GetCodecEnumerationSetting, 11);

    EXPECT_SLOT(IWMProfile, GetStreamCount, 8);
    EXPECT_SLOT(IWMProfile, AddStream, 13);
    EXPECT_SLOT(IWMProfile, CreateNewStream, 15);
    EXPECT_SLOT(IWMProfile, CreateNewMutualExclusion, 20);

    EXPECT_SLOT(IWMStreamConfig3, GetStreamType, 3);
    EXPECT_SLOT(IWMStreamConfig3, SetStreamName, 7);
    EXPECT_SLOT(IWMStreamConfig3, GetConnectionName, 8);
    EXPECT_SLOT(IWMStreamConfig3, SetConnectionName, 9);
    EXPECT_SLOT(IWMStreamConfig3, GetBitrate, 10);
    EXPECT_SLOT(IWMStreamConfig3, SetBitrate, 11);
    EXPECT_SLOT(IWMStreamConfig3, SetBufferWindow, 13);
    EXPECT_SLOT(IWMStreamConfig3, GetTransportType, 14);
    EXPECT_SLOT(IWMStreamConfig3, AddDataUnitExtension, 16);
    EXPECT_SLOT(IWMStreamConfig3, RemoveAllDataUnitExtensions, 19);
    EXPECT_SLOT(IWMStreamConfig3, GetLanguage, 20);
    EXPECT_SLOT(IWMStreamConfig3, SetLanguage, 21);

    EXPECT_SLOT(IWMVideoMediaProps, GetMediaType, 4);
    EXPECT_SLOT(IWMVideoMediaProps, SetMediaType, 5);
    EXPECT_SLOT(IWMVideoMediaProps, SetMaxKeyFrameSpacing, 7);
    EXPECT_SLOT(IWMVideoMediaProps, SetQuality, 9);
    EXPECT_SLOT(IWMInputMediaProps, GetConnectionName, 6);
    EXPECT_SLOT(IWMInputMediaProps, GetGroupName, 7);

    EXPECT_SLOT(IWMPropertyVault, SetProperty, 5);
    EXPECT_SLOT(IWMPropertyVault, Clear, 8);

    EXPECT_SLOT(IWMWriter, SetProfile, 4);
    EXPECT_SLOT(IWMWriter, SetOutputFilename, 5);
    EXPECT_SLOT(IWMWriter, GetInputCount, 6);
    EXPECT_SLOT(IWMWriter, GetInputProps, 7);
    EXPECT_SLOT(IWMWriter, SetInputProps, 8);
    EXPECT_SLOT(IWMWriter, BeginWriting, 11);
    EXPECT_SLOT(IWMWriter, EndWriting, 12);
    EXPECT_SLOT(IWMWriter, AllocateSample, 13);
    EXPECT_SLOT(IWMWriter, WriteSample, 14);
    EXPECT_SLOT(IWMWriter, Flush, 15);

    EXPECT_SLOT(IWMWriterPreprocess, GetMaxPreprocessingPasses, 3);
    EXPECT_SLOT(IWMWriterPreprocess, SetNumPreprocessingPasses, 4);
    EXPECT_SLOT(IWMWriterPreprocess, BeginPreprocessingPass, 5);
    EXPECT_SLOT(IWMWriterPreprocess, PreprocessSample, 6);
    EXPECT_SLOT(IWMWriterPreprocess, EndPreprocessingPass, 7);

    EXPECT_SLOT(IWMHeaderInfo3, SetAttribute, 6);
    EXPECT_SLOT(IWMHeaderInfo3, RemoveScript, 14);
    EXPECT_SLOT(IWMHeaderInfo3, GetCodecInfo, 16);
    EXPECT_SLOT(IWMHeaderInfo3, AddAttribute, 21);
    EXPECT_SLOT(IWMHeaderInfo3, AddCodecInfo, 23);

    EXPECT_SLOT(INSSBuffer, SetLength, 4);
    EXPECT_SLOT(INSSBuffer, GetBufferAndLength, 7);
}

TEST(WmDeclarations, RecordLayoutsAndCodes) {
    EXPECT_EQ(offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biCompression), 64u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nBlockAlign), 12u);
    EXPECT_EQ(static_cast<uint32_t>(NS_E_INVALID_REQUEST), 0xC00D002Bu);
    EXPECT_EQ(static_cast<uint32_t>(NS_E_INVALID_NUM_PASSES), 0xC00D0BD5u);
    EXPECT_EQ(static_cast<uint32_t>(NS_E_UNSUPPORTED_PROPERTY), 0xC00D0BCDu);
    EXPECT_EQ(WMMEDIATYPE_Video.Data1, 0x73646976u);
    EXPECT_EQ(IID_IWMHeaderInfo3.Data1, 0x15CC68E3u);
    EXPECT_EQ(IID_IWMStreamConfig.Data4[7], 0xFF);
}
