// The Output run's watch on the writer's file sink. The runtime reports a file error (a full disk,
// a pulled drive) only as a status on the sink, while WriteSample and EndWriting still succeed, so
// the run advises a callback of its own there and reads what it was told.
#include <new>

#include "plugin/output_steps.h"

namespace {

// Called by the runtime on a thread of its choosing; keeps the first failure it hears of.
class StatusCallback final : public IWMStatusCallback {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IWMStatusCallback)) return E_NOINTERFACE;
        *out = static_cast<IWMStatusCallback*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE, BYTE*, void*) override {
        if (status != WMT_ERROR && SUCCEEDED(hr)) return S_OK;
        HRESULT none = S_OK;
        Status.Failure.compare_exchange_strong(none, FAILED(hr) ? hr : E_FAIL);
        return S_OK;
    }

    WriterStatus Status;

private:
    std::atomic<ULONG> references_{1};
};

}  // namespace

HRESULT WatchSinkStatus(IWMWriter* writer, SinkWatch* watch) {
    if (!writer || !watch) return E_INVALIDARG;
    // A runtime without sinks to ask, or whose sink sends no status, leaves nothing to watch.
    ComRef<IWMWriterAdvanced> advanced;
    if (FAILED(QueryInterfaceInto(writer, IID_IWMWriterAdvanced, advanced))) return S_FALSE;
    DWORD sinks = 0;
    if (FAILED(advanced->GetSinkCount(&sinks)) || sinks == 0) return S_FALSE;
    // SetOutputFilename's file sink is the first.
    ComRef<IWMWriterSink> sink;
    if (FAILED(advanced->GetSink(0, sink.Out())) || !sink) return S_FALSE;
    ComRef<IWMRegisterCallback> registration;
    if (FAILED(QueryInterfaceInto(sink.Get(), IID_IWMRegisterCallback, registration))) return S_FALSE;
    StatusCallback* callback = new (std::nothrow) StatusCallback();
    if (!callback) return S_FALSE;
    ComRef<IWMStatusCallback> held(callback);
    if (FAILED(registration->Advise(callback, callback))) return S_FALSE;
    watch->Sink = std::move(registration);
    watch->Callback = std::move(held);
    watch->Status = &callback->Status;
    return S_OK;
}

void StopWatchingSinkStatus(SinkWatch* watch) {
    if (!watch) return;
    if (watch->Sink && watch->Callback) watch->Sink->Unadvise(watch->Callback.Get(), watch->Callback.Get());
    watch->Status = nullptr;
    watch->Sink.Reset();
    watch->Callback.Reset();
}
