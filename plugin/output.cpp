// The Output entry point.
#include "delivery/frame_timing.h"
#include "plugin/entry_points.h"

int32_t __cdecl Output(HostJob* job) {
    if (!job) return 0;
    // Without the frame-rate detection plug-in there is no time line to export with.
    if (!ConfirmFrameTimingMap()) return 0;
    if ((job->ContentFlags & (HasVideo | HasAudio)) == 0) return 0;
    return 1;
}
