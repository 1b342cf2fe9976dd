#include "delivery/sample_delivery.h"

#include "delivery/sample_passes.h"

namespace {

SampleTarget WritingTarget(IWMWriter* writer, const InputBinding& entry, const WriterStatus* status) {
    return SampleTarget{writer, nullptr, static_cast<DWORD>(entry.InputNumber), status};
}

bool Usable(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table) {
    return writer && job && table && count > 0;
}

}  // namespace

HRESULT DeliverSamples(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table,
                       const WriterStatus* status) {
    if (!job) return E_INVALIDARG;
    const bool video = (job->ContentFlags & HasVideo) != 0;
    const bool audio = (job->ContentFlags & HasAudio) != 0;
    if (video && audio) return DeliverInterleaved(writer, job, count, table, status);
    if (video) return DeliverVideoOnly(writer, job, count, table, status);
    if (audio) return DeliverAudioOnly(writer, job, count, table, status);
    return E_FAIL;
}

HRESULT DeliverInterleaved(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table,
                           const WriterStatus* status) {
    if (!Usable(writer, job, count, table) || count < 2 || !(job->ContentFlags & HasAudio)) return E_FAIL;
    if (!VideoCanBeTimed(*job) || !AudioCanBeTimed(*job)) return E_INVALIDARG;
    const SampleTarget audio = WritingTarget(writer, table[1], status);
    const VideoPassPlan plan{WritingTarget(writer, table[0], status), true, true, &audio};
    return WalkVideoPass(*job, plan).Result;
}

HRESULT DeliverVideoOnly(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table,
                         const WriterStatus* status) {
    if (!Usable(writer, job, count, table)) return E_INVALIDARG;
    if (!VideoCanBeTimed(*job)) return E_INVALIDARG;
    const VideoPassPlan plan{WritingTarget(writer, table[0], status), true, false, nullptr};
    return WalkVideoPass(*job, plan).Result;
}

HRESULT DeliverAudioOnly(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table,
                         const WriterStatus* status) {
    if (!Usable(writer, job, count, table)) return E_INVALIDARG;
    if (!AudioCanBeTimed(*job)) return E_INVALIDARG;
    return WalkAudioPass(*job, WritingTarget(writer, table[0], status), true).Result;
}
