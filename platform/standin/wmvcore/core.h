// Shared machinery of the stand-in runtime's objects: reference counting with a registry of live
// objects, failure injection points, and the runtime's string and media-type conventions.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/standin/spin_lock.h"
#include "runtime.h"

namespace standin {
namespace wm {

using WString = std::basic_string<WCHAR>;

using Lock = SpinLock;
using Guard = SpinGuard;

std::u16string ToU16(const WString& s);

// Counts itself among the live objects and holds the reference count. COM classes derive from it
// and from their interfaces, and route AddRef/Release here.
class CountedObject {
public:
    explicit CountedObject(const char* kind);
    virtual ~CountedObject();
    CountedObject(const CountedObject&) = delete;
    CountedObject& operator=(const CountedObject&) = delete;

    ULONG AddRefCounted();
    ULONG ReleaseCounted();
    const char* Kind() const { return kind_; }
    long References() const { return refs_.load(); }

private:
    const char* kind_;
    std::atomic<long> refs_{1};
};

// True (and *code set) when the call of `method` now being made was armed to fail.
bool InjectedFailure(const char* method, HRESULT* code);

#define STANDIN_FAIL_POINT(method)                                   \
    do {                                                            \
        HRESULT injected_ = S_OK;                                   \
        if (::standin::wm::InjectedFailure(method, &injected_)) return injected_; \
    } while (0)

#define STANDIN_COUNTED_IUNKNOWN                                                         \
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCounted(); }                \
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCounted(); }

// Copies `s` (a WString, or the catalogue's UTF-16 text unit by unit) with its terminator into
// `buf`. NULL buffer: *pcch = length + 1. A buffer shorter than that: ASF_E_BUFFERTOOSMALL with
// *pcch set to what is needed.
template <typename Text, typename Count>
HRESULT CopyOutString(const Text& s, WCHAR* buf, Count* pcch) {
    if (!pcch) return E_INVALIDARG;
    size_t need = s.size() + 1;
    if (need > static_cast<size_t>(static_cast<Count>(~Count(0)))) return E_INVALIDARG;
    if (!buf) {
        *pcch = static_cast<Count>(need);
        return S_OK;
    }
    if (*pcch < need) {
        *pcch = static_cast<Count>(need);
        return ASF_E_BUFFERTOOSMALL;
    }
    std::copy(s.begin(), s.end(), buf);
    buf[s.size()] = 0;
    *pcch = static_cast<Count>(need);
    return S_OK;
}

// A WM_MEDIA_TYPE with its own copy of the format block.
struct MediaType {
    bool present = false;
    WM_MEDIA_TYPE header{};
    std::vector<BYTE> format;

    const VIDEOINFOHEADER* Video() const;
    const WAVEFORMATEX* Wave() const;
};

// GetMediaType's two-call convention: the size first, then one block with the format inside.
HRESULT CopyOutMediaType(const MediaType& type, WM_MEDIA_TYPE* out, DWORD* pcb);
// SetMediaType's checks (validity against the stream comes later, at SetProfile).
HRESULT CopyInMediaType(const WM_MEDIA_TYPE* in, MediaType* type);

// A typed value as the property vault and header attributes keep it.
struct TypedValue {
    WString name;
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    std::vector<BYTE> bytes;
};

// Whether `size` bytes fit `type` (4 for DWORD/BOOL, 2 for WORD, …).
bool SizeFitsType(WMT_ATTR_DATATYPE type, const BYTE* value, DWORD size);
// Writes a typed value out with the NULL-value size query convention.
HRESULT CopyOutValue(const TypedValue& v, WMT_ATTR_DATATYPE* pType, BYTE* pValue, DWORD* pdwSize);
bool ReadDword(const std::vector<TypedValue>& values, const WCHAR* name, uint32_t* out);

inline GUID BaseSubtype(uint32_t fourcc) {
    GUID g = WMMEDIASUBTYPE_PCM;
    g.Data1 = fourcc;
    return g;
}

std::shared_ptr<const Catalogue> InstalledCatalogue();

}  // namespace wm
}  // namespace standin

namespace standin {
namespace wm {

// Writer behaviour switches set through the control API.
struct WriterSwitches {
    uint32_t maxPreprocessingPasses = 1;
    bool inputPropsAnswerStreamConfig = false;  // the real runtime's input properties refuse it
    bool fileSink = true;
    FileErrors fileErrors = FileErrors::ThroughStatus;
    SinkOffer sinkOffer = SinkOffer::WithCallbacks;
};
WriterSwitches CurrentSwitches();
std::vector<WriterObserver*> CurrentObservers();
void RememberSession(const ObservedSession& session);

// A buffer the caller touched after handing it over (or handed over again while the writer still
// held it): kept until the reset and reported with what the stand-ins still hold.
void NoteBufferFault(const std::string& fault);

// Applies the switches and the failure the environment asks for (BREVLO_WMVCORE_FILE_ERRORS,
// BREVLO_WMVCORE_FAIL), once per process: the way a test reaches a runtime in another process.
void ApplyEnvironmentSwitches();

// The recorder, an observer the writer calls first while a recording runs (nullptr otherwise).
WriterObserver* ActiveRecorder();

}  // namespace wm
}  // namespace standin
