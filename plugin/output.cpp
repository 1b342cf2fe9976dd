// The Output entry point: one export, from the input descriptions through the writer's set-up to
// the delivery of every sample.
#include "delivery/frame_timing.h"
#include "delivery/preprocessing.h"
#include "delivery/sample_delivery.h"
#include "platform/holders.h"
#include "plugin/entry_points.h"
#include "plugin/output_steps.h"
#include "profile/profile_builder.h"

namespace {

// Everything between the input descriptions and the end of writing. False when the run left no
// usable file; a run that the user stopped, or that met a frame without timing data, ended a
// usable file early and counts as written.
bool WriteJob(HostJob* job, InputBinding* table, uint32_t count, ComRef<IWMWriter>& writer,
              ComRef<IWMProfile>& profile, SinkWatch& watch) {
    EncoderSettings settings;
    if (FAILED(BuildProfile(job, &settings, profile.Out()))) return false;
    if (FAILED(WMCreateWriter(nullptr, writer.Out()))) return false;
    if (FAILED(SetOutputPath(writer.Get(), job->OutputPath))) return false;
    WatchSinkStatus(writer.Get(), &watch);
    if (FAILED(writer->SetProfile(profile.Get()))) return false;
    if (FAILED(BindInputs(writer.Get(), count, table))) return false;
    if (FAILED(WriteAspectRatio(writer.Get(), job, &settings))) return false;
    if (FAILED(writer->BeginWriting())) return false;
    // A failed or stopped preprocessing pass leaves nothing worth ending.
    if (FAILED(RunPreprocessing(writer.Get(), job, &settings, count, table))) return false;
    HRESULT delivered = DeliverSamples(writer.Get(), job, count, table, watch.Status);
    HRESULT ended = writer->EndWriting();
    // A file error shows only in the sink's status, also one met while the file was being closed.
    return SUCCEEDED(delivered) && SUCCEEDED(ended) && SUCCEEDED(ReportedFailure(watch.Status));
}

}  // namespace

int32_t __cdecl Output(HostJob* job) {
    if (!job) return 0;
    // Without the frame-rate detection plug-in there is no time line to export with.
    if (!ConfirmFrameTimingMap()) return 0;
    if (!JobCanBeTimed(*job)) return 0;

    InputBinding table[kMaxInputBindings] = {};
    uint32_t count = 0;
    HRESULT hr = DescribeInputs(job, table, &count);
    if (FAILED(hr) || count == 0) return 0;

    // Released in this order: the format blocks, the profile, the sink's callback, the writer.
    ComRef<IWMWriter> writer;
    ComRef<IWMProfile> profile;
    SinkWatch watch;
    bool written = WriteJob(job, table, count, writer, profile, watch);
    ReleaseInputs(table, count);
    profile.Reset();
    StopWatchingSinkStatus(&watch);
    writer.Reset();
    return written ? 1 : 0;
}
