#include "tests/delivery/fake_writer.h"

#include <gtest/gtest.h>

#include "tests/common/fake_host.h"

namespace fakewriter {

namespace {

class FakeBuffer final : public INSSBuffer {
public:
    FakeBuffer(FakeWriter* owner, DWORD size) : owner_(owner), bytes_(size, 0xCD), length_(size) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_INSSBuffer)) {
            *out = static_cast<INSSBuffer*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            owner_->BufferGone();
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = length_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetLength(DWORD length) override {
        HRESULT code;
        if (owner_->Fails("SetLength", &code)) return code;
        if (length > bytes_.size()) return E_INVALIDARG;
        length_ = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = static_cast<DWORD>(bytes_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** buffer) override {
        if (!buffer) return E_POINTER;
        *buffer = bytes_.data();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** buffer, DWORD* length) override {
        HRESULT code;
        if (owner_->Fails("GetBufferAndLength", &code)) return code;
        if (!buffer || !length) return E_POINTER;
        *buffer = bytes_.data();
        *length = length_;
        return S_OK;
    }

    uint64_t Hash() const { return fakehost::Fnv1a64(bytes_.data(), length_); }
    DWORD Length() const { return length_; }

private:
    FakeWriter* owner_;
    std::vector<BYTE> bytes_;
    DWORD length_;
    ULONG refs_ = 1;
};

}  // namespace

FakeWriter::FakeWriter() = default;
FakeWriter::~FakeWriter() { LiveBuffers(); }

long FakeWriter::LiveBuffers() {
    while (!kept_.empty()) LetGo(kept_.begin()->first);
    return liveBuffers_;
}

void FakeWriter::Keep(const Event& e, INSSBuffer* sample) {
    LetGo(e.input);
    if (!sample) return;
    sample->AddRef();
    kept_[e.input] = Kept{sample, e.hash, e.size, e.call};
}

void FakeWriter::LetGo(DWORD input) {
    auto it = kept_.find(input);
    if (it == kept_.end()) return;
    Kept k = it->second;
    kept_.erase(it);
    auto* buffer = static_cast<FakeBuffer*>(k.buffer);
    EXPECT_TRUE(buffer->Length() == k.size && buffer->Hash() == k.hash)
        << "a buffer handed to " << k.call << " on input " << input << " was changed after the call";
    k.buffer->Release();
}

std::vector<Event> FakeWriter::EventsOf(const std::string& call) const {
    std::vector<Event> out;
    for (const Event& e : events) {
        if (e.call == call) out.push_back(e);
    }
    return out;
}

std::vector<Event> FakeWriter::Samples(const std::string& call, DWORD input) const {
    std::vector<Event> out;
    for (const Event& e : events) {
        if (e.call == call && e.input == input) out.push_back(e);
    }
    return out;
}

bool FakeWriter::Fails(const std::string& call, HRESULT* code) {
    int n = ++calls_[call];
    auto it = failures_.find(call);
    if (it == failures_.end() || it->second.first != n) return false;
    *code = it->second.second;
    return true;
}

HRESULT FakeWriter::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWMWriter)) {
        *out = static_cast<IWMWriter*>(this);
    } else if (IsEqualIID(iid, IID_IWMWriterPreprocess) && offerPreprocess) {
        *out = static_cast<IWMWriterPreprocess*>(this);
    } else {
        return E_NOINTERFACE;
    }
    ++refs_;
    return S_OK;
}

HRESULT FakeWriter::AllocateSample(DWORD size, INSSBuffer** sample) {
    Event e;
    e.call = "AllocateSample";
    e.size = size;
    events.push_back(e);
    HRESULT code;
    if (Fails("AllocateSample", &code)) return code;
    if (!sample) return E_POINTER;
    *sample = new FakeBuffer(this, size);
    ++liveBuffers_;
    return S_OK;
}

Event FakeWriter::SampleEvent(const char* call, DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) {
    Event e;
    e.call = call;
    e.input = input;
    e.time = time;
    e.flags = flags;
    if (sample) {
        auto* buffer = static_cast<FakeBuffer*>(sample);
        e.size = buffer->Length();
        e.hash = buffer->Hash();
    }
    return e;
}

HRESULT FakeWriter::WriteSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) {
    events.push_back(SampleEvent("WriteSample", input, time, flags, sample));
    HRESULT code;
    if (Fails("WriteSample", &code)) return code;
    Keep(events.back(), sample);
    return sample ? S_OK : E_INVALIDARG;
}

HRESULT FakeWriter::RecordPassCall(const char* call, DWORD input, DWORD count) {
    Event e;
    e.call = call;
    e.input = input;
    e.count = count;
    events.push_back(e);
    HRESULT code;
    return Fails(e.call, &code) ? code : S_OK;
}

HRESULT FakeWriter::GetMaxPreprocessingPasses(DWORD input, DWORD, DWORD* most) {
    HRESULT hr = RecordPassCall("GetMaxPreprocessingPasses", input, 0);
    if (FAILED(hr)) return hr;
    if (!most) return E_POINTER;
    *most = maxPasses;
    return S_OK;
}

HRESULT FakeWriter::SetNumPreprocessingPasses(DWORD input, DWORD, DWORD passes) {
    return RecordPassCall("SetNumPreprocessingPasses", input, passes);
}

HRESULT FakeWriter::BeginPreprocessingPass(DWORD input, DWORD) {
    return RecordPassCall("BeginPreprocessingPass", input, 0);
}

HRESULT FakeWriter::PreprocessSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) {
    events.push_back(SampleEvent("PreprocessSample", input, time, flags, sample));
    HRESULT code;
    if (Fails("PreprocessSample", &code)) return code;
    Keep(events.back(), sample);
    return sample ? S_OK : E_INVALIDARG;
}

HRESULT FakeWriter::EndPreprocessingPass(DWORD input, DWORD) {
    return RecordPassCall("EndPreprocessingPass", input, 0);
}

}  // namespace fakewriter
