// Windows Media Format runtime interfaces, each with its complete vtable in the SDK's order
// (methods the system never calls included, so that every slot lines up with the runtime's).
#pragma once

#include "wm_types.h"

// Interfaces only passed through, never called.
struct IWMMutualExclusion;
struct WM_WRITER_STATISTICS;

struct IWMProfile;
struct IWMStreamConfig;

struct INSSBuffer : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLength(DWORD* pdwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLength(DWORD dwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pdwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** ppdwBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) = 0;
};

struct IWMProfileManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION dwVersion, IWMProfile** ppProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID guidProfile, IWMProfile** ppProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR* pwszProfile, IWMProfile** ppProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile* pIWMProfile, WCHAR* pwszProfile, DWORD* pdwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD* pcProfiles) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD dwProfileIndex, IWMProfile** ppProfile) = 0;
};

struct IWMCodecInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCodecInfoCount(REFGUID guidType, DWORD* pcCodecs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecFormatCount(REFGUID guidType, DWORD dwCodecIndex, DWORD* pcFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecFormat(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex,
                                                     IWMStreamConfig** ppIStreamConfig) = 0;
};

struct IWMCodecInfo2 : public IWMCodecInfo {
    virtual HRESULT STDMETHODCALLTYPE GetCodecName(REFGUID guidType, DWORD dwCodecIndex, WCHAR* wszName,
                                                   DWORD* pcchName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecFormatDesc(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex,
                                                         IWMStreamConfig** ppIStreamConfig, WCHAR* wszDesc,
                                                         DWORD* pcchDesc) = 0;
};

struct IWMCodecInfo3 : public IWMCodecInfo2 {
    virtual HRESULT STDMETHODCALLTYPE GetCodecFormatProp(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex,
                                                         const WCHAR* pszName, WMT_ATTR_DATATYPE* pType,
                                                         BYTE* pValue, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecProp(REFGUID guidType, DWORD dwCodecIndex, const WCHAR* pszName,
                                                   WMT_ATTR_DATATYPE* pType, BYTE* pValue, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCodecEnumerationSetting(REFGUID guidType, DWORD dwCodecIndex,
                                                                 const WCHAR* pszName, WMT_ATTR_DATATYPE Type,
                                                                 const BYTE* pValue, DWORD dwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecEnumerationSetting(REFGUID guidType, DWORD dwCodecIndex,
                                                                 const WCHAR* pszName, WMT_ATTR_DATATYPE* pType,
                                                                 BYTE* pValue, DWORD* pdwSize) = 0;
};

struct IWMProfile : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* pdwVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetName(WCHAR* pwszName, DWORD* pcchName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetName(const WCHAR* pwszName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(WCHAR* pwszDescription, DWORD* pcchDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(const WCHAR* pwszDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* pcStreams) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD wStreamNum, IWMStreamConfig** ppConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD wStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID guidStreamType, IWMStreamConfig** ppConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMutualExclusionCount(DWORD* pcME) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMutualExclusion(DWORD dwMEIndex, IWMMutualExclusion** ppME) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveMutualExclusion(IWMMutualExclusion* pME) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddMutualExclusion(IWMMutualExclusion* pME) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNewMutualExclusion(IWMMutualExclusion** ppME) = 0;
};

struct IWMStreamConfig : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetStreamType(GUID* pguidStreamType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* pwStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD wStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* pwszStreamName, WORD* pcchStreamName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStreamName(const WCHAR* pwszStreamName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* pwszInputName, WORD* pcchInputName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetConnectionName(const WCHAR* pwszInputName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* pdwBitrate) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBitrate(DWORD pdwBitrate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* pmsBufferWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD msBufferWindow) = 0;
};

struct IWMStreamConfig2 : public IWMStreamConfig {
    virtual HRESULT STDMETHODCALLTYPE GetTransportType(WMT_TRANSPORT_TYPE* pnTransportType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTransportType(WMT_TRANSPORT_TYPE nTransportType) = 0;
    // The extension system's GUID is passed by value.
    virtual HRESULT STDMETHODCALLTYPE AddDataUnitExtension(GUID guidExtensionSystemID, WORD cbExtensionDataSize,
                                                           BYTE* pbExtensionSystemInfo,
                                                           DWORD cbExtensionSystemInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDataUnitExtensionCount(WORD* pcDataUnitExtensions) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDataUnitExtension(WORD wDataUnitExtensionNumber,
                                                           GUID* pguidExtensionSystemID, WORD* pcbExtensionDataSize,
                                                           BYTE* pbExtensionSystemInfo,
                                                           DWORD* pcbExtensionSystemInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAllDataUnitExtensions() = 0;
};

struct IWMStreamConfig3 : public IWMStreamConfig2 {
    virtual HRESULT STDMETHODCALLTYPE GetLanguage(WCHAR* pwszLanguageString, WORD* pcchLanguageStringLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLanguage(const WCHAR* pwszLanguageString) = 0;
};

struct IWMMediaProps : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetType(GUID* pguidType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* pType) = 0;
};

struct IWMVideoMediaProps : public IWMMediaProps {
    virtual HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* pllTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG llTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetQuality(DWORD* pdwQuality) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetQuality(DWORD dwQuality) = 0;
};

struct IWMInputMediaProps : public IWMMediaProps {
    virtual HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* pwszName, WORD* pcchName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGroupName(WCHAR* pwszName, WORD* pcchName) = 0;
};

struct IWMPropertyVault : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD* pdwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyByName(const WCHAR* pszName, WMT_ATTR_DATATYPE* pType,
                                                        BYTE* pValue, DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR* pszName, WMT_ATTR_DATATYPE pType, BYTE* pValue,
                                                  DWORD dwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyByIndex(DWORD dwIndex, WCHAR* pszName, DWORD* pdwNameLen,
                                                         WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                                                         DWORD* pdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyPropertiesFrom(IWMPropertyVault* pIWMPropertyVault) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};

struct IWMWriter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID guidProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* pProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* pwszFilename) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* pcInputs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputProps(DWORD dwInputNum, IWMInputMediaProps** ppInput) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInputProps(DWORD dwInputNum, IWMInputMediaProps* pInput) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD dwInputNumber, DWORD* pcFormats) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD dwInputNumber, DWORD dwFormatNumber,
                                                     IWMInputMediaProps** pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginWriting() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndWriting() = 0;
    virtual HRESULT STDMETHODCALLTYPE AllocateSample(DWORD dwSampleSize, INSSBuffer** ppSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags,
                                                  INSSBuffer* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE Flush() = 0;
};

struct IWMWriterPreprocess : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetMaxPreprocessingPasses(DWORD dwInputNum, DWORD dwFlags,
                                                                DWORD* pdwMaxNumPasses) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNumPreprocessingPasses(DWORD dwInputNum, DWORD dwFlags,
                                                                DWORD dwNumPasses) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginPreprocessingPass(DWORD dwInputNum, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE PreprocessSample(DWORD dwInputNum, QWORD qwPresTime, DWORD dwFlags,
                                                       INSSBuffer* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndPreprocessingPass(DWORD dwInputNum, DWORD dwFlags) = 0;
};

struct IWMWriterSink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer* pHeader) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* pfRealTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD cbDataUnit, INSSBuffer** ppDataUnit) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer* pDataUnit) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnEndWriting() = 0;
};

struct IWMWriterAdvanced : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD* pcSinks) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSink(DWORD dwSinkNum, IWMWriterSink** ppSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink* pSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink* pSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD wStreamNum, QWORD cnsSampleTime, DWORD msSampleSendTime,
                                                        QWORD cnsSampleDuration, DWORD dwFlags,
                                                        INSSBuffer* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL fIsLiveSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* pfRealTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD* pCurrentTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatistics(WORD wStreamNum, WM_WRITER_STATISTICS* pStats) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD msWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD* pmsWindow) = 0;
};

// Implemented by the application; the runtime calls it from a thread of its own choosing.
struct IWMStatusCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS Status, HRESULT hr, WMT_ATTR_DATATYPE dwType, BYTE* pValue,
                                               void* pvContext) = 0;
};

// Answered by a writer sink that sends status; each advised callback gets every status with its context.
struct IWMRegisterCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Advise(IWMStatusCallback* pCallback, void* pvContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(IWMStatusCallback* pCallback, void* pvContext) = 0;
};

struct IWMHeaderInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD wStreamNum, WORD* pcAttributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD wIndex, WORD* pwStreamNum, WCHAR* pwszName,
                                                          WORD* pcchNameLen, WMT_ATTR_DATATYPE* pType,
                                                          BYTE* pValue, WORD* pcbLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* pwStreamNum, const WCHAR* pszName,
                                                         WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                                                         WORD* pcbLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAttribute(WORD wStreamNum, const WCHAR* pszName, WMT_ATTR_DATATYPE Type,
                                                   const BYTE* pValue, WORD cbLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMarkerCount(WORD* pcMarkers) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMarker(WORD wIndex, WCHAR* pwszMarkerName, WORD* pcchMarkerNameLen,
                                                QWORD* pcnsMarkerTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddMarker(const WCHAR* pwszMarkerName, QWORD cnsMarkerTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveMarker(WORD wIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetScriptCount(WORD* pcScripts) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetScript(WORD wIndex, WCHAR* pwszType, WORD* pcchTypeLen,
                                                WCHAR* pwszCommand, WORD* pcchCommandLen,
                                                QWORD* pcnsScriptTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddScript(const WCHAR* pwszType, const WCHAR* pwszCommand,
                                                QWORD cnsScriptTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveScript(WORD wIndex) = 0;
};

struct IWMHeaderInfo2 : public IWMHeaderInfo {
    virtual HRESULT STDMETHODCALLTYPE GetCodecInfoCount(DWORD* pcCodecInfos) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodecInfo(DWORD wIndex, WORD* pcchName, WCHAR* pwszName,
                                                   WORD* pcchDescription, WCHAR* pwszDescription,
                                                   WMT_CODEC_INFO_TYPE* pCodecType, WORD* pcbCodecInfo,
                                                   BYTE* pbCodecInfo) = 0;
};

struct IWMHeaderInfo3 : public IWMHeaderInfo2 {
    virtual HRESULT STDMETHODCALLTYPE GetAttributeCountEx(WORD wStreamNum, WORD* pcAttributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttributeIndices(WORD wStreamNum, const WCHAR* pwszName,
                                                          WORD* pwLangIndex, WORD* pwIndices, WORD* pwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttributeByIndexEx(WORD wStreamNum, WORD wIndex, WCHAR* pwszName,
                                                            WORD* pwNameLen, WMT_ATTR_DATATYPE* pType,
                                                            WORD* pwLangIndex, BYTE* pValue,
                                                            DWORD* pdwDataLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE ModifyAttribute(WORD wStreamNum, WORD wIndex, WMT_ATTR_DATATYPE Type,
                                                      WORD wLangIndex, const BYTE* pValue, DWORD dwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddAttribute(WORD wStreamNum, const WCHAR* pszName, WORD* pwIndex,
                                                   WMT_ATTR_DATATYPE Type, WORD wLangIndex, const BYTE* pValue,
                                                   DWORD dwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAttribute(WORD wStreamNum, WORD wIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddCodecInfo(const WCHAR* pwszName, const WCHAR* pwszDescription,
                                                   WMT_CODEC_INFO_TYPE codecType, WORD cbCodecInfo,
                                                   BYTE* pbCodecInfo) = 0;
};

// The runtime's two factories (exported by WMVCore.dll; on Windows bound at run time).
extern "C" {
HRESULT WINAPI WMCreateWriter(IUnknown* pUnkCert, IWMWriter** ppWriter);
HRESULT WINAPI WMCreateProfileManager(IWMProfileManager** ppProfileManager);
}
