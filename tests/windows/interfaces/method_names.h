// The methods of each interface in slot order, as both sides of the cross-check name them; each side
// takes every name from its own declaration, so a name that one of them lacks does not compile.
#pragma once

#define WM_UNKNOWN(P) P(QueryInterface) P(AddRef) P(Release)
#define WM_STREAM_CONFIG(P)                                                                                 \
    WM_UNKNOWN(P) P(GetStreamType) P(GetStreamNumber) P(SetStreamNumber) P(GetStreamName) P(SetStreamName) \
    P(GetConnectionName) P(SetConnectionName) P(GetBitrate) P(SetBitrate) P(GetBufferWindow) P(SetBufferWindow)
#define WM_MEDIA_PROPS(P) WM_UNKNOWN(P) P(GetType) P(GetMediaType) P(SetMediaType)
#define WM_HEADER_INFO(P)                                                                                  \
    WM_UNKNOWN(P) P(GetAttributeCount) P(GetAttributeByIndex) P(GetAttributeByName) P(SetAttribute)        \
    P(GetMarkerCount) P(GetMarker) P(AddMarker) P(RemoveMarker) P(GetScriptCount) P(GetScript) P(AddScript) \
    P(RemoveScript)

#define WM_METHODS_IWMProfileManager(P)                                                                     \
    WM_UNKNOWN(P) P(CreateEmptyProfile) P(LoadProfileByID) P(LoadProfileByData) P(SaveProfile)              \
    P(GetSystemProfileCount) P(LoadSystemProfile)
#define WM_METHODS_IWMCodecInfo(P) WM_UNKNOWN(P) P(GetCodecInfoCount) P(GetCodecFormatCount) P(GetCodecFormat)
#define WM_METHODS_IWMCodecInfo2(P) WM_METHODS_IWMCodecInfo(P) P(GetCodecName) P(GetCodecFormatDesc)
#define WM_METHODS_IWMCodecInfo3(P)                                                                         \
    WM_METHODS_IWMCodecInfo2(P) P(GetCodecFormatProp) P(GetCodecProp) P(SetCodecEnumerationSetting)         \
    P(GetCodecEnumerationSetting)
#define WM_METHODS_IWMProfile(P)                                                                            \
    WM_UNKNOWN(P) P(GetVersion) P(GetName) P(SetName) P(GetDescription) P(SetDescription) P(GetStreamCount) \
    P(GetStream) P(GetStreamByNumber) P(RemoveStream) P(RemoveStreamByNumber) P(AddStream) P(ReconfigStream) \
    P(CreateNewStream) P(GetMutualExclusionCount) P(GetMutualExclusion) P(RemoveMutualExclusion)            \
    P(AddMutualExclusion) P(CreateNewMutualExclusion)
#define WM_METHODS_IWMStreamConfig(P) WM_STREAM_CONFIG(P)
#define WM_METHODS_IWMStreamConfig2(P)                                                                      \
    WM_STREAM_CONFIG(P) P(GetTransportType) P(SetTransportType) P(AddDataUnitExtension)                     \
    P(GetDataUnitExtensionCount) P(GetDataUnitExtension) P(RemoveAllDataUnitExtensions)
#define WM_METHODS_IWMStreamConfig3(P) WM_METHODS_IWMStreamConfig2(P) P(GetLanguage) P(SetLanguage)
#define WM_METHODS_IWMMediaProps(P) WM_MEDIA_PROPS(P)
#define WM_METHODS_IWMVideoMediaProps(P) \
    WM_MEDIA_PROPS(P) P(GetMaxKeyFrameSpacing) P(SetMaxKeyFrameSpacing) P(GetQuality) P(SetQuality)
#define WM_METHODS_IWMInputMediaProps(P) WM_MEDIA_PROPS(P) P(GetConnectionName) P(GetGroupName)
#define WM_METHODS_IWMPropertyVault(P)                                                                      \
    WM_UNKNOWN(P) P(GetPropertyCount) P(GetPropertyByName) P(SetProperty) P(GetPropertyByIndex)             \
    P(CopyPropertiesFrom) P(Clear)
#define WM_METHODS_IWMWriter(P)                                                                             \
    WM_UNKNOWN(P) P(SetProfileByID) P(SetProfile) P(SetOutputFilename) P(GetInputCount) P(GetInputProps)    \
    P(SetInputProps) P(GetInputFormatCount) P(GetInputFormat) P(BeginWriting) P(EndWriting)                 \
    P(AllocateSample) P(WriteSample) P(Flush)
#define WM_METHODS_IWMWriterPreprocess(P)                                                                   \
    WM_UNKNOWN(P) P(GetMaxPreprocessingPasses) P(SetNumPreprocessingPasses) P(BeginPreprocessingPass)       \
    P(PreprocessSample) P(EndPreprocessingPass)
#define WM_METHODS_IWMHeaderInfo(P) WM_HEADER_INFO(P)
#define WM_METHODS_IWMHeaderInfo2(P) WM_HEADER_INFO(P) P(GetCodecInfoCount) P(GetCodecInfo)
#define WM_METHODS_IWMHeaderInfo3(P)                                                                        \
    WM_METHODS_IWMHeaderInfo2(P) P(GetAttributeCountEx) P(GetAttributeIndices) P(GetAttributeByIndexEx)     \
    P(ModifyAttribute) P(AddAttribute) P(DeleteAttribute) P(AddCodecInfo)
#define WM_METHODS_IWMWriterAdvanced(P)                                                                     \
    WM_UNKNOWN(P) P(GetSinkCount) P(GetSink) P(AddSink) P(RemoveSink) P(WriteStreamSample) P(SetLiveSource)  \
    P(IsRealTime) P(GetWriterTime) P(GetStatistics) P(SetSyncTolerance) P(GetSyncTolerance)
#define WM_METHODS_IWMWriterSink(P) \
    WM_UNKNOWN(P) P(OnHeader) P(IsRealTime) P(AllocateDataUnit) P(OnDataUnit) P(OnEndWriting)
#define WM_METHODS_IWMRegisterCallback(P) WM_UNKNOWN(P) P(Advise) P(Unadvise)
#define WM_METHODS_IWMStatusCallback(P) WM_UNKNOWN(P) P(OnStatus)
#define WM_METHODS_INSSBuffer(P) \
    WM_UNKNOWN(P) P(GetLength) P(SetLength) P(GetMaxLength) P(GetBuffer) P(GetBufferAndLength)

// Every interface of platform/wm/.
#define WM_INTERFACES(P)                                                                                    \
    P(IWMProfileManager) P(IWMCodecInfo) P(IWMCodecInfo2) P(IWMCodecInfo3) P(IWMProfile) P(IWMStreamConfig) \
    P(IWMStreamConfig2) P(IWMStreamConfig3) P(IWMMediaProps) P(IWMVideoMediaProps) P(IWMInputMediaProps)    \
    P(IWMPropertyVault) P(IWMWriter) P(IWMWriterPreprocess) P(IWMHeaderInfo) P(IWMHeaderInfo2)              \
    P(IWMHeaderInfo3) P(IWMWriterAdvanced) P(IWMWriterSink) P(IWMRegisterCallback) P(IWMStatusCallback)       \
    P(INSSBuffer)

// The status values the system names, checked against the other declaration's.
#define WM_STATUS_VALUES(P) P(WMT_ERROR) P(WMT_OPENED) P(WMT_STARTED) P(WMT_STOPPED) P(WMT_CLOSED)
