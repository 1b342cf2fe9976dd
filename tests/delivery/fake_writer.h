// A writer for the delivery tests that records every call in order (which the stand-in runtime's
// observer does not: allocations, pass set-up) and fails any chosen call. Buffers and references
// are counted so a test can see that nothing is left held. Like the runtime, it keeps each sample's
// buffer after the call (until the next sample on its input, or LiveBuffers) and fails the test
// when the bytes or length changed meanwhile.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "platform/wm/wm.h"

namespace fakewriter {

struct Event {
    std::string call;  // "AllocateSample", "WriteSample", "GetMaxPreprocessingPasses", …
    DWORD input = 0;
    QWORD time = 0;
    DWORD flags = 0;
    DWORD size = 0;     // AllocateSample: asked for; samples: SetLength
    uint64_t hash = 0;  // samples: FNV-1a 64 of the bytes
    DWORD count = 0;    // SetNumPreprocessingPasses
};

class FakeWriter : public IWMWriter, public IWMWriterPreprocess {
public:
    FakeWriter();
    ~FakeWriter();

    // Control.
    DWORD maxPasses = 1;
    bool offerPreprocess = true;
    // The n-th call (1 = first) of the named method answers `code` instead.
    void FailCall(const std::string& call, int n, HRESULT code) { failures_[call] = {n, code}; }
    std::vector<Event> events;
    std::vector<Event> EventsOf(const std::string& call) const;
    // Checks and lets go of the buffers still kept, then counts those alive.
    long LiveBuffers();
    long References() const { return refs_; }
    // Samples (written or preprocessed) on one input, in order.
    std::vector<Event> Samples(const std::string& call, DWORD input) const;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }

    // IWMWriter
    HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputProps(DWORD, IWMInputMediaProps**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetInputProps(DWORD, IWMInputMediaProps*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD, DWORD, IWMInputMediaProps**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginWriting() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndWriting() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** sample) override;
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) override;
    HRESULT STDMETHODCALLTYPE Flush() override { return E_NOTIMPL; }

    // IWMWriterPreprocess
    HRESULT STDMETHODCALLTYPE GetMaxPreprocessingPasses(DWORD input, DWORD flags, DWORD* most) override;
    HRESULT STDMETHODCALLTYPE SetNumPreprocessingPasses(DWORD input, DWORD flags, DWORD passes) override;
    HRESULT STDMETHODCALLTYPE BeginPreprocessingPass(DWORD input, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE PreprocessSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) override;
    HRESULT STDMETHODCALLTYPE EndPreprocessingPass(DWORD input, DWORD flags) override;

    // Buffers call back here.
    bool Fails(const std::string& call, HRESULT* code);
    void BufferGone() { --liveBuffers_; }

private:
    Event SampleEvent(const char* call, DWORD input, QWORD time, DWORD flags, INSSBuffer* sample);
    // Records a preprocessing call and answers with its armed failure, if any.
    HRESULT RecordPassCall(const char* call, DWORD input, DWORD count);
    struct Kept {
        INSSBuffer* buffer = nullptr;
        uint64_t hash = 0;
        DWORD size = 0;
        std::string call;
    };
    void Keep(const Event& e, INSSBuffer* sample);
    void LetGo(DWORD input);
    std::map<DWORD, Kept> kept_;
    std::map<std::string, std::pair<int, HRESULT>> failures_;
    std::map<std::string, int> calls_;
    long liveBuffers_ = 0;
    long refs_ = 0;
};

}  // namespace fakewriter
