// The Output entry point.
#include "plugin/entry_points.h"

int32_t __cdecl Output(HostJob* job) {
    if (!job) return 0;
    if ((job->ContentFlags & (HasVideo | HasAudio)) == 0) return 0;
    return 1;
}
