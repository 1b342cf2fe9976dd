// The writing pass: every frame and audio block of the job, fetched from the editor and handed to
// a writer that is between BeginWriting and EndWriting, with its time stamp.
#pragma once

#include <cstdint>

#include "delivery/input_binding.h"
#include "delivery/writer_status.h"
#include "platform/win32.h"
#include "platform/wm/wm.h"
#include "plugin/host_job.h"

// Chooses the loop from the job's content flags; E_FAIL for a job with neither stream. `table`
// holds `count` bound entries, video first. A failure reported in `status` (when given) stops the
// delivery at the next sample and is the result.
HRESULT DeliverSamples(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table,
                       const WriterStatus* status = nullptr);

// Video to entry 0, audio to entry 1, frame by frame; the audio of dropped frames goes with the
// next kept frame.
HRESULT DeliverInterleaved(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table,
                           const WriterStatus* status = nullptr);

// Video to entry 0.
HRESULT DeliverVideoOnly(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table,
                         const WriterStatus* status = nullptr);

// Audio to entry 0 in half-second blocks.
HRESULT DeliverAudioOnly(IWMWriter* writer, const HostJob* job, uint32_t count, const InputBinding* table,
                         const WriterStatus* status = nullptr);
