// Our declarations of the runtime's interfaces (platform/wm/) against an independent declaration of
// the same interfaces: every method sits in the slot where the other has the method of the same
// name, every call the system makes lands on that method with each argument in its place (and the
// callee pops what the caller pushed), and the interface identifiers agree.
#include <cstdio>
#include <cstring>
#include <set>

#include "platform/wm/wm.h"
#include "tests/common/vtable_slot.h"
#include "tests/windows/interfaces/call_record.h"
#include "tests/windows/interfaces/method_names.h"

namespace {

int g_checks = 0;
int g_failures = 0;

void Check(bool ok, const char* iface, const char* method, const std::string& what) {
    ++g_checks;
    if (ok) return;
    ++g_failures;
    std::printf("FAIL %s::%s: %s\n", iface, method, what.c_str());
}

template <typename C, typename F>
int Slot(F C::*method) {
    return static_cast<int>(VtableSlot(method));
}

// IUnknown::QueryInterface has a template overload in the SDK's C++ declaration; this picks the
// method itself.
int Slot(HRESULT (STDMETHODCALLTYPE IUnknown::*method)(REFIID, void**)) {
    return Slot<IUnknown, HRESULT STDMETHODCALLTYPE(REFIID, void**)>(method);
}

void CheckSlot(const char* iface, const char* method, int slot, std::set<int>& covered) {
    std::string there = IndependentMethod(iface, slot);
    Check(there == method, iface, method,
          "slot " + std::to_string(slot) + " here, where the other declaration has " + (there.empty() ? "no method" : there));
    covered.insert(slot);
}

void CheckCoverage(const char* iface, const std::set<int>& covered) {
    int count = IndependentSlotCount(iface);
    bool whole = static_cast<int>(covered.size()) == count && (covered.empty() || *covered.rbegin() == count - 1);
    Check(whole, iface, "*",
          std::to_string(covered.size()) + " methods here against " + std::to_string(count) + " slots there");
}

void CheckIid(const char* iface, const IID& ours) {
    GUID theirs{};
    Check(IndependentIid(iface, &theirs) && std::memcmp(&theirs, &ours, sizeof ours) == 0, iface, "IID",
          "identifiers differ");
}

#define SLOT_OF(M) CheckSlot(iface, #M, Slot(&Iface::M), covered);
#define CHECK_DECLARATION(I)                 \
    {                                        \
        using Iface = I;                     \
        const char* iface = #I;              \
        std::set<int> covered;               \
        WM_METHODS_##I(SLOT_OF)              \
        CheckCoverage(iface, covered);       \
        CheckIid(iface, IID_##I);            \
    }

template <typename... A>
std::vector<uint64_t> Args(const A&... args) {
    return {ArgBits(args)...};
}

std::string Describe(const std::vector<uint64_t>& args) {
    std::string out;
    char text[24];
    for (uint64_t a : args) {
        std::snprintf(text, sizeof text, "%s%llx", out.empty() ? "" : " ", static_cast<unsigned long long>(a));
        out += text;
    }
    return out;
}

void CheckCall(const char* iface, const char* method, uint32_t result, const std::vector<uint64_t>& sent) {
    const CallRecord& call = LastCall();
    std::string landed = IndependentMethod(iface, call.slot);
    Check(landed == method, iface, method, "the call landed on " + (landed.empty() ? std::string("nothing") : landed));
    Check(result == static_cast<uint32_t>(0x100 + call.slot), iface, method, "the result was lost");
    Check(call.args == sent, iface, method, "sent " + Describe(sent) + ", received " + Describe(call.args));
}

template <typename T>
T* Fake(uintptr_t address) {
    return reinterpret_cast<T*>(address);
}

#define CALL(I, M, ...)                                                                  \
    do {                                                                                 \
        I* self = static_cast<I*>(IndependentObject(#I));                               \
        ForgetLastCall();                                                                \
        uint32_t result = static_cast<uint32_t>(self->M(__VA_ARGS__));                   \
        CheckCall(#I, #M, result, Args(self, ##__VA_ARGS__));                            \
    } while (0)

const GUID kSomeType = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
const WCHAR kName[] = L"TamselVideo1";

// Each call the system makes, with arguments that tell their places apart.
void CallWhatTheSystemCalls() {
    CALL(IWMProfileManager, QueryInterface, IID_IWMCodecInfo3, Fake<void*>(0x1010));
    CALL(IWMProfileManager, CreateEmptyProfile, WMT_VER_9_0, Fake<IWMProfile*>(0x1020));
    CALL(IWMProfileManager, Release);

    CALL(IWMCodecInfo3, GetCodecInfoCount, kSomeType, Fake<DWORD>(0x1030));
    CALL(IWMCodecInfo3, GetCodecFormatCount, kSomeType, 2u, Fake<DWORD>(0x1040));
    CALL(IWMCodecInfo3, GetCodecFormat, kSomeType, 3u, 4u, Fake<IWMStreamConfig*>(0x1050));
    CALL(IWMCodecInfo3, GetCodecName, kSomeType, 5u, Fake<WCHAR>(0x1060), Fake<DWORD>(0x1070));
    CALL(IWMCodecInfo3, GetCodecFormatDesc, kSomeType, 6u, 7u, Fake<IWMStreamConfig*>(0x1080), Fake<WCHAR>(0x1090),
         Fake<DWORD>(0x10A0));
    CALL(IWMCodecInfo3, GetCodecProp, kSomeType, 8u, kName, Fake<WMT_ATTR_DATATYPE>(0x10B0), Fake<BYTE>(0x10C0),
         Fake<DWORD>(0x10D0));
    CALL(IWMCodecInfo3, SetCodecEnumerationSetting, kSomeType, 9u, kName, WMT_TYPE_BOOL, Fake<const BYTE>(0x10E0),
         10u);

    CALL(IWMProfile, CreateNewStream, kSomeType, Fake<IWMStreamConfig*>(0x1100));
    CALL(IWMProfile, AddStream, Fake<IWMStreamConfig>(0x1110));
    CALL(IWMProfile, QueryInterface, IID_IWMProfile, Fake<void*>(0x1120));

    CALL(IWMStreamConfig, SetStreamName, kName);
    CALL(IWMStreamConfig, GetConnectionName, Fake<WCHAR>(0x1200), Fake<WORD>(0x1210));
    CALL(IWMStreamConfig, SetConnectionName, kName);
    CALL(IWMStreamConfig, GetBitrate, Fake<DWORD>(0x1220));
    CALL(IWMStreamConfig, SetBitrate, 0x12345u);
    CALL(IWMStreamConfig, SetBufferWindow, 0x23456u);
    CALL(IWMStreamConfig, QueryInterface, IID_IWMStreamConfig3, Fake<void*>(0x1230));
    CALL(IWMStreamConfig3, SetLanguage, kName);
    CALL(IWMStreamConfig3, SetBitrate, 0x34567u);
    CALL(IWMStreamConfig3, Release);

    CALL(IWMMediaProps, GetMediaType, Fake<WM_MEDIA_TYPE>(0x1300), Fake<DWORD>(0x1310));
    CALL(IWMMediaProps, SetMediaType, Fake<WM_MEDIA_TYPE>(0x1320));
    CALL(IWMVideoMediaProps, SetMaxKeyFrameSpacing, static_cast<LONGLONG>(0x0102030405060708LL));
    CALL(IWMVideoMediaProps, SetQuality, 77u);
    CALL(IWMVideoMediaProps, SetMediaType, Fake<WM_MEDIA_TYPE>(0x1330));
    CALL(IWMInputMediaProps, GetConnectionName, Fake<WCHAR>(0x1340), Fake<WORD>(0x1350));
    CALL(IWMInputMediaProps, SetMediaType, Fake<WM_MEDIA_TYPE>(0x1360));
    CALL(IWMInputMediaProps, QueryInterface, IID_IWMStreamConfig, Fake<void*>(0x1370));
    CALL(IWMPropertyVault, SetProperty, kName, WMT_TYPE_DWORD, Fake<BYTE>(0x1380), 4u);

    CALL(IWMWriter, SetProfile, Fake<IWMProfile>(0x1400));
    CALL(IWMWriter, SetOutputFilename, kName);
    CALL(IWMWriter, GetInputCount, Fake<DWORD>(0x1410));
    CALL(IWMWriter, GetInputProps, 1u, Fake<IWMInputMediaProps*>(0x1420));
    CALL(IWMWriter, SetInputProps, 2u, Fake<IWMInputMediaProps>(0x1430));
    CALL(IWMWriter, QueryInterface, IID_IWMWriterPreprocess, Fake<void*>(0x1440));
    CALL(IWMWriter, BeginWriting);
    CALL(IWMWriter, AllocateSample, 921600u, Fake<INSSBuffer*>(0x1450));
    CALL(IWMWriter, WriteSample, 1u, static_cast<QWORD>(0x1122334455667788ULL), 3u, Fake<INSSBuffer>(0x1460));
    CALL(IWMWriter, EndWriting);
    CALL(IWMWriter, AddRef);
    CALL(IWMWriter, Release);

    CALL(IWMWriterPreprocess, GetMaxPreprocessingPasses, 1u, 0u, Fake<DWORD>(0x1500));
    CALL(IWMWriterPreprocess, SetNumPreprocessingPasses, 2u, 0u, 1u);
    CALL(IWMWriterPreprocess, BeginPreprocessingPass, 3u, 0u);
    CALL(IWMWriterPreprocess, PreprocessSample, 4u, static_cast<QWORD>(0x0A0B0C0D0E0F1011ULL), 1u,
         Fake<INSSBuffer>(0x1510));
    CALL(IWMWriterPreprocess, EndPreprocessingPass, 5u, 0u);

    CALL(IWMHeaderInfo3, AddAttribute, static_cast<WORD>(1), kName, Fake<WORD>(0x1600), WMT_TYPE_DWORD,
         static_cast<WORD>(0), Fake<const BYTE>(0x1610), 4u);

    CALL(IWMWriter, QueryInterface, IID_IWMWriterAdvanced, Fake<void*>(0x1480));
    CALL(IWMWriterAdvanced, GetSinkCount, Fake<DWORD>(0x1800));
    CALL(IWMWriterAdvanced, GetSink, 3u, Fake<IWMWriterSink*>(0x1810));
    CALL(IWMWriterSink, QueryInterface, IID_IWMRegisterCallback, Fake<void*>(0x1820));
    CALL(IWMRegisterCallback, Advise, Fake<IWMStatusCallback>(0x1830), Fake<void>(0x1840));
    CALL(IWMRegisterCallback, Unadvise, Fake<IWMStatusCallback>(0x1850), Fake<void>(0x1860));
    CALL(IWMRegisterCallback, Release);
    // The runtime's call of the system's callback passes the same way.
    CALL(IWMStatusCallback, OnStatus, WMT_ERROR, static_cast<HRESULT>(0xC00D0018L), WMT_TYPE_DWORD,
         Fake<BYTE>(0x1870), Fake<void>(0x1880));

    CALL(INSSBuffer, SetLength, 1234u);
    CALL(INSSBuffer, GetBufferAndLength, Fake<BYTE*>(0x1700), Fake<DWORD>(0x1710));
}

}  // namespace

int main() {
    WM_INTERFACES(CHECK_DECLARATION)
#define CHECK_STATUS(N)                                                                              \
    {                                                                                                \
        long theirs = -1;                                                                            \
        Check(IndependentStatusValue(#N, &theirs) && theirs == static_cast<long>(N), "WMT_STATUS", #N, \
              "values differ");                                                                      \
    }
    WM_STATUS_VALUES(CHECK_STATUS)
    CallWhatTheSystemCalls();
    int mingw = 0, reference = 0;
#define COUNT(I) (DeclaredByMingw(#I) ? mingw : reference)++;
    WM_INTERFACES(COUNT)
    std::printf("%d interfaces against mingw-w64's declarations, %d against the reference table: %d checks, %d failed\n",
                mingw, reference, g_checks, g_failures);
    return g_failures ? 1 : 0;
}
