#include "delivery/preprocessing.h"

#include "delivery/sample_passes.h"
#include "platform/holders.h"

namespace {

// Asks the runtime whether it can take `passes` preprocessing passes on the input, and sets them.
HRESULT SetPassCount(IWMWriterPreprocess* preprocess, DWORD input, uint32_t passes) {
    DWORD most = 0;
    HRESULT hr = preprocess->GetMaxPreprocessingPasses(input, 0, &most);
    if (FAILED(hr)) return hr;
    if (most < passes) return NS_E_INVALID_REQUEST;
    return preprocess->SetNumPreprocessingPasses(input, 0, passes);
}

// Begin, one walk, End — `passes` times. A walk that fails or is aborted leaves its pass unended
// and returns its result. One that stops at a frame without timing data has walked the whole time
// line there is, and the writing pass will stop at the same frame: the pass is ended as a complete
// one, since the runtime takes no writing-pass sample while a preprocessing pass is open.
template <typename Walk>
HRESULT RunPasses(IWMWriterPreprocess* preprocess, DWORD input, uint32_t passes, Walk walk) {
    HRESULT hr = SetPassCount(preprocess, input, passes);
    if (FAILED(hr)) return hr;
    for (uint32_t pass = 0; pass < passes; ++pass) {
        hr = preprocess->BeginPreprocessingPass(input, 0);
        if (FAILED(hr)) return hr;
        PassOutcome outcome = walk();
        if (FAILED(outcome.Result) || (!outcome.Complete && !outcome.TimingEnded)) return outcome.Result;
        hr = preprocess->EndPreprocessingPass(input, 0);
        if (FAILED(hr)) return hr;
    }
    return hr;
}

}  // namespace

HRESULT PassCountForMode(uint32_t mode, uint32_t* passes) {
    if (!passes) return E_INVALIDARG;
    switch (mode) {
        case 0:
        case 2:
            *passes = 1;
            return S_OK;
        case 1:
        case 3:
        case 4:
            *passes = 2;
            return S_OK;
        default:
            return E_FAIL;
    }
}

HRESULT PreprocessVideoPasses(IWMWriter* writer, IWMWriterPreprocess* preprocess, const HostJob* job,
                              const InputBinding* entry, uint32_t passes) {
    if (!writer || !preprocess || !job || !entry || !(job->ContentFlags & HasVideo)) return E_INVALIDARG;
    if (!VideoCanBeTimed(*job)) return E_INVALIDARG;
    const DWORD input = static_cast<DWORD>(entry->InputNumber);
    const VideoPassPlan plan{SampleTarget{writer, preprocess, input, nullptr}, false, false, nullptr};
    return RunPasses(preprocess, input, passes, [&] { return WalkVideoPass(*job, plan); });
}

HRESULT PreprocessAudioPasses(IWMWriter* writer, IWMWriterPreprocess* preprocess, const HostJob* job,
                              const InputBinding* entry, uint32_t passes) {
    if (!writer || !preprocess || !job || !entry || !(job->ContentFlags & HasAudio)) return E_INVALIDARG;
    if (!AudioCanBeTimed(*job)) return E_INVALIDARG;
    const DWORD input = static_cast<DWORD>(entry->InputNumber);
    const SampleTarget target{writer, preprocess, input, nullptr};
    return RunPasses(preprocess, input, passes, [&] { return WalkAudioPass(*job, target, false); });
}

HRESULT RunPreprocessing(IWMWriter* writer, const HostJob* job, const EncoderSettings* settings, uint32_t count,
                         const InputBinding* table) {
    if (!writer || !job || !settings || !table) return E_INVALIDARG;
    ComRef<IWMWriterPreprocess> preprocess;
    HRESULT hr = QueryInterfaceInto(writer, IID_IWMWriterPreprocess, preprocess);
    if (FAILED(hr)) return hr;
    uint32_t next = 0;
    if (job->ContentFlags & HasVideo) {
        uint32_t passes = 0;
        hr = PassCountForMode(static_cast<uint32_t>(settings->CompressionMode), &passes);
        if (FAILED(hr)) return hr;
        if (passes > 1) {
            if (count < 1) return E_INVALIDARG;
            hr = PreprocessVideoPasses(writer, preprocess.Get(), job, &table[0], passes - 1);
            if (FAILED(hr)) return hr;
        }
        next = 1;
    }
    const uint32_t audioPasses = static_cast<uint32_t>(settings->AudioNumberOfPasses);
    if ((job->ContentFlags & HasAudio) && audioPasses > 1) {
        if (count <= next) return E_INVALIDARG;
        hr = PreprocessAudioPasses(writer, preprocess.Get(), job, &table[next], audioPasses - 1);
    }
    return hr;
}
