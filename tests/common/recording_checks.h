// What every recording the stand-in runtime makes must satisfy, whatever the job or the failure:
// per input and pass the times never go backwards, video samples are whole frames and audio
// samples whole sample frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/standin/wmvcore/runtime.h"

// One line per sample that breaks a rule; empty when the recording is well-formed.
// `frameBytes` is the job's FrameBytes, `audioBlock` the audio input's block alignment.
std::vector<std::string> RecordingFaults(const std::vector<standin::RecordedSample>& recording,
                                         uint32_t frameBytes, uint32_t audioBlock);

// The samples of one pass, in arrival order.
std::vector<standin::RecordedSample> SamplesOfPass(const std::vector<standin::RecordedSample>& recording,
                                                   uint32_t pass);

// Whether two recordings hold the same samples (input, pass, time, flags, size and content).
bool SameSamples(const std::vector<standin::RecordedSample>& a, const std::vector<standin::RecordedSample>& b);
