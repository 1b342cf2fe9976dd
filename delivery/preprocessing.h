// The preprocessing passes that two-pass video rate control and multi-pass audio ask for, run
// after BeginWriting and before the writing pass: all video passes, then all audio passes. A
// stream with N passes in all gets N − 1 here; its last pass is the writing pass itself.
#pragma once

#include <cstdint>

#include "delivery/input_binding.h"
#include "platform/win32.h"
#include "platform/wm/wm.h"
#include "plugin/host_job.h"
#include "settings/encoder_settings.h"

// Runs what the settings ask for on the bound inputs (`count` entries, video first). A negative
// result means the writing pass must not follow.
HRESULT RunPreprocessing(IWMWriter* writer, const HostJob* job, const EncoderSettings* settings, uint32_t count,
                         const InputBinding* table);

// Video passes in all for a rate-control mode: 1 or 2; E_FAIL for an unknown mode.
HRESULT PassCountForMode(uint32_t mode, uint32_t* passes);

// `passes` preprocessing passes of the video, with the time stamps the writing pass will use.
HRESULT PreprocessVideoPasses(IWMWriter* writer, IWMWriterPreprocess* preprocess, const HostJob* job,
                              const InputBinding* entry, uint32_t passes);

// `passes` preprocessing passes of the whole audio in half-second blocks.
HRESULT PreprocessAudioPasses(IWMWriter* writer, IWMWriterPreprocess* preprocess, const HostJob* job,
                              const InputBinding* entry, uint32_t passes);
