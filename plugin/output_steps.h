// The steps of the Output run that prepare the writer: the input descriptions, binding the
// writer's inputs to them, the output path and the aspect-ratio attributes.
#pragma once

#include <cstdint>

#include "delivery/input_binding.h"
#include "delivery/writer_status.h"
#include "platform/holders.h"
#include "platform/win32.h"
#include "platform/wm/wm.h"
#include "plugin/host_job.h"
#include "settings/encoder_settings.h"

// Room in the input table: one video and one audio entry.
constexpr uint32_t kMaxInputBindings = 2;

// Capacity, in UTF-16 units, of the output file name handed to the writer.
constexpr int kOutputPathUnits = 260;

// True when every time stamp of the job can be computed: positive rates, non-negative counts.
bool JobCanBeTimed(const HostJob& job);

// Describes the job's uncompressed streams, video first. The format blocks belong to the entries.
HRESULT DescribeInputs(const HostJob* job, InputBinding* table, uint32_t* count);

// Frees the entries' format blocks.
void ReleaseInputs(InputBinding* table, uint32_t count);

// Binds every described stream to the writer input of the same connection name.
HRESULT BindInputs(IWMWriter* writer, uint32_t count, InputBinding* table);

HRESULT SetOutputPath(IWMWriter* writer, const char* path);

// Decodes a path from the ANSI code page, the one the editor's file dialog used.
bool PathToWide(WCHAR* destination, int capacity, const char* source);

// A status callback of the run's own, advised on the writer's file sink; `Status` lives inside it
// (null when nothing is watched). Withdrawn before the writer is released.
struct SinkWatch;
void StopWatchingSinkStatus(SinkWatch* watch);
struct SinkWatch {
    ComRef<IWMRegisterCallback> Sink;
    ComRef<IWMStatusCallback> Callback;
    const WriterStatus* Status = nullptr;
    ~SinkWatch() { StopWatchingSinkStatus(this); }
};

// Advises on the file sink that SetOutputFilename made. S_FALSE, and nothing watched, when the
// runtime offers no sink, or one that sends no status: the run goes on without.
HRESULT WatchSinkStatus(IWMWriter* writer, SinkWatch* watch);

// Writes the pixel aspect ratio that shows the frame at the user's display shape.
HRESULT WriteAspectRatio(IWMWriter* writer, const HostJob* job, const EncoderSettings* settings);
