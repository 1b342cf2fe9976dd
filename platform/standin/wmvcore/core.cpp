#include "core.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "../fail_points.h"
#include "../leaks.h"

namespace standin {
namespace wm {
namespace {

struct State {
    Lock lock;
    std::set<CountedObject*> live;
    FailPoints failPoints;
    WriterSwitches switches;
    std::vector<WriterObserver*> observers;
    ObservedSession lastSession;
    std::shared_ptr<const Catalogue> catalogue;
    std::vector<std::string> bufferFaults;
};

State& TheState() {
    static State s;
    return s;
}


void ResetState() {
    State& s = TheState();
    wm::Guard g(s.lock);
    s.failPoints.Reset();
    s.switches = WriterSwitches();
    s.observers.clear();
    s.lastSession = ObservedSession();
    s.catalogue.reset();
    s.bufferFaults.clear();
}

struct Registration {
    Registration() {
        RegisterLeakProbe("wmvcore", [] {
            std::vector<std::string> lines = DescribeLiveObjects();
            std::string out;
            for (const std::string& l : lines) out += (out.empty() ? "" : ", ") + l;
            return out;
        });
        RegisterLeakProbe("wmvcore buffers", [] {
            std::string out;
            for (const std::string& f : BufferFaults()) out += (out.empty() ? "" : "; ") + f;
            return out;
        });
        RegisterReset("wmvcore", ResetState);
    }
} g_registration;

}  // namespace

std::u16string ToU16(const WString& s) { return std::u16string(s.begin(), s.end()); }

CountedObject::CountedObject(const char* kind) : kind_(kind) {
    State& s = TheState();
    wm::Guard g(s.lock);
    s.live.insert(this);
}

CountedObject::~CountedObject() {
    State& s = TheState();
    wm::Guard g(s.lock);
    s.live.erase(this);
}

ULONG CountedObject::AddRefCounted() { return static_cast<ULONG>(++refs_); }

ULONG CountedObject::ReleaseCounted() {
    long n = --refs_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n < 0 ? 0 : n);
}

bool InjectedFailure(const char* method, HRESULT* code) { return TheState().failPoints.Hit(method, code); }

const VIDEOINFOHEADER* MediaType::Video() const {
    if (!present || header.formattype != WMFORMAT_VideoInfo || format.size() < sizeof(VIDEOINFOHEADER)) return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(format.data());
}

const WAVEFORMATEX* MediaType::Wave() const {
    if (!present || header.formattype != WMFORMAT_WaveFormatEx || format.size() < sizeof(WAVEFORMATEX)) return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(format.data());
}

HRESULT CopyOutMediaType(const MediaType& type, WM_MEDIA_TYPE* out, DWORD* pcb) {
    if (!pcb) return E_INVALIDARG;
    if (!type.present) return NS_E_INVALID_REQUEST;
    DWORD need = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + type.format.size());
    if (!out) {
        *pcb = need;
        return S_OK;
    }
    if (*pcb < need) {
        *pcb = need;
        return ASF_E_BUFFERTOOSMALL;
    }
    *out = type.header;
    out->pUnk = nullptr;
    out->cbFormat = static_cast<ULONG>(type.format.size());
    out->pbFormat = type.format.empty() ? nullptr : reinterpret_cast<BYTE*>(out) + sizeof(WM_MEDIA_TYPE);
    if (!type.format.empty()) std::memcpy(out->pbFormat, type.format.data(), type.format.size());
    *pcb = need;
    return S_OK;
}

HRESULT CopyInMediaType(const WM_MEDIA_TYPE* in, MediaType* type) {
    const ULONG kMaxFormat = 64 * 1024;
    if (!in || in->cbFormat == 0 || in->cbFormat > kMaxFormat || !in->pbFormat) return E_INVALIDARG;
    type->header = *in;
    type->header.pUnk = nullptr;
    type->header.pbFormat = nullptr;
    type->format.assign(in->pbFormat, in->pbFormat + in->cbFormat);
    type->present = true;
    return S_OK;
}

bool SizeFitsType(WMT_ATTR_DATATYPE type, const BYTE* value, DWORD size) {
    switch (type) {
    case WMT_TYPE_DWORD:
    case WMT_TYPE_BOOL: return size == 4;
    case WMT_TYPE_WORD: return size == 2;
    case WMT_TYPE_QWORD: return size == 8;
    case WMT_TYPE_GUID: return size == 16;
    case WMT_TYPE_BINARY: return size > 0;
    case WMT_TYPE_STRING: {
        if (size < sizeof(WCHAR) || size % sizeof(WCHAR) != 0) return false;
        WCHAR last;
        std::memcpy(&last, value + size - sizeof(WCHAR), sizeof(WCHAR));
        return last == 0;
    }
    }
    return false;
}

HRESULT CopyOutValue(const TypedValue& v, WMT_ATTR_DATATYPE* pType, BYTE* pValue, DWORD* pdwSize) {
    if (!pType || !pdwSize) return E_INVALIDARG;
    *pType = v.type;
    DWORD need = static_cast<DWORD>(v.bytes.size());
    if (!pValue) {
        *pdwSize = need;
        return S_OK;
    }
    if (*pdwSize < need) {
        *pdwSize = need;
        return ASF_E_BUFFERTOOSMALL;
    }
    if (need) std::memcpy(pValue, v.bytes.data(), need);
    *pdwSize = need;
    return S_OK;
}

bool ReadDword(const std::vector<TypedValue>& values, const WCHAR* name, uint32_t* out) {
    for (const TypedValue& v : values) {
        if (v.name == name && v.bytes.size() >= 4) {
            std::memcpy(out, v.bytes.data(), 4);
            return true;
        }
    }
    return false;
}

std::shared_ptr<const Catalogue> InstalledCatalogue() {
    State& s = TheState();
    wm::Guard g(s.lock);
    // The default never changes: built once, not again after every reset.
    static const std::shared_ptr<const Catalogue> standard = std::make_shared<const Catalogue>(Version9Catalogue());
    if (!s.catalogue) s.catalogue = standard;
    return s.catalogue;
}

WriterSwitches CurrentSwitches() {
    State& s = TheState();
    wm::Guard g(s.lock);
    return s.switches;
}

std::vector<WriterObserver*> CurrentObservers() {
    State& s = TheState();
    wm::Guard g(s.lock);
    return s.observers;
}

void RememberSession(const ObservedSession& session) {
    State& s = TheState();
    wm::Guard g(s.lock);
    s.lastSession = session;
}

void NoteBufferFault(const std::string& fault) {
    State& s = TheState();
    wm::Guard g(s.lock);
    // One faulty module would repeat the same fault on every sample; the first few tell it.
    if (s.bufferFaults.size() < 8) s.bufferFaults.push_back(fault);
}

void ApplyEnvironmentSwitches() {
    static const bool applied = [] {
        if (const char* how = std::getenv("BREVLO_WMVCORE_FILE_ERRORS")) {
            if (std::strcmp(how, "call") == 0) ReportFileErrors(FileErrors::FailTheCall);
        }
        // "method:n" or "method:n:code", the code in hex (default NS_E_FILE_WRITE).
        if (const char* fail = std::getenv("BREVLO_WMVCORE_FAIL")) {
            std::string failPoint(fail);
            size_t scope = failPoint.rfind("::");
            size_t colon = failPoint.find(':', scope == std::string::npos ? 0 : scope + 2);
            if (colon != std::string::npos) {
                char* end = nullptr;
                long n = std::strtol(failPoint.c_str() + colon + 1, &end, 10);
                HRESULT code = NS_E_FILE_WRITE;
                if (end && *end == ':') code = static_cast<HRESULT>(std::strtoul(end + 1, nullptr, 16));
                FailCall(failPoint.substr(0, colon), n, code);
            }
        }
        return true;
    }();
    (void)applied;
}

}  // namespace wm

using wm::TheState;

long LiveObjects() {
    auto& s = TheState();
    wm::Guard g(s.lock);
    return static_cast<long>(s.live.size());
}

long LiveReferences() {
    auto& s = TheState();
    wm::Guard g(s.lock);
    long n = 0;
    for (auto* o : s.live) n += o->References();
    return n;
}

std::vector<std::string> DescribeLiveObjects() {
    auto& s = TheState();
    wm::Guard g(s.lock);
    std::vector<std::string> out;
    for (auto* o : s.live) out.push_back(std::string(o->Kind()) + " refs=" + std::to_string(o->References()));
    std::sort(out.begin(), out.end());
    return out;
}

void FailCall(const std::string& method, long n, HRESULT code) { TheState().failPoints.Arm(method, n, code); }

long CallCount(const std::string& method) { return TheState().failPoints.Count(method); }

std::map<std::string, long> CallCounts() { return TheState().failPoints.Counts(); }

void InstallCatalogue(const Catalogue& catalogue) {
    auto& s = TheState();
    wm::Guard g(s.lock);
    s.catalogue = std::make_shared<const Catalogue>(catalogue);
}

void LimitPreprocessingPasses(uint32_t passes) {
    auto& s = TheState();
    wm::Guard g(s.lock);
    s.switches.maxPreprocessingPasses = passes;
}

void SetInputPropsAnswerStreamConfig(bool answer) {
    auto& s = TheState();
    wm::Guard g(s.lock);
    s.switches.inputPropsAnswerStreamConfig = answer;
}

void EnableFileSink(bool enable) {
    auto& s = TheState();
    wm::Guard g(s.lock);
    s.switches.fileSink = enable;
}

void ReportFileErrors(FileErrors how) {
    auto& s = TheState();
    wm::Guard g(s.lock);
    s.switches.fileErrors = how;
}

void OfferSink(SinkOffer offer) {
    auto& s = TheState();
    wm::Guard g(s.lock);
    s.switches.sinkOffer = offer;
}

std::vector<std::string> BufferFaults() {
    auto& s = TheState();
    wm::Guard g(s.lock);
    return s.bufferFaults;
}

void AddObserver(WriterObserver* observer) {
    auto& s = TheState();
    wm::Guard g(s.lock);
    if (observer && std::find(s.observers.begin(), s.observers.end(), observer) == s.observers.end())
        s.observers.push_back(observer);
}

void RemoveObserver(WriterObserver* observer) {
    auto& s = TheState();
    wm::Guard g(s.lock);
    s.observers.erase(std::remove(s.observers.begin(), s.observers.end(), observer), s.observers.end());
}

ObservedSession LastSession() {
    auto& s = TheState();
    wm::Guard g(s.lock);
    return s.lastSession;
}

}  // namespace standin
