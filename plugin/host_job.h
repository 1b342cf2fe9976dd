// The two records that cross the boundary between the editor and the module: the plug-in table the
// module hands out and the job record the editor fills for an export. Their byte layouts are fixed
// (32-bit fields, 32-bit pointers on the real platform) and checked below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../platform/win32.h"

// Bits of HostJob::ContentFlags.
constexpr uint32_t HasVideo = 1u;
constexpr uint32_t HasAudio = 2u;

// Bit of QueryFrameFlags' result: hand the frame to the writer as a clean point.
constexpr uint32_t FrameFlagKeyFrame = 1u;

// The editor's callbacks; all cdecl.
typedef void* (__cdecl* FetchFrameCallback)(int32_t frame);
typedef void* (__cdecl* FetchAudioCallback)(int32_t start, int32_t length, int32_t* delivered);
typedef int32_t (__cdecl* AbortRequestedCallback)();
typedef int32_t (__cdecl* ShowProgressCallback)(int32_t current, int32_t total);
typedef int32_t (__cdecl* QueryFrameFlagsCallback)(int32_t frame);
typedef int32_t (__cdecl* RefreshPreviewCallback)();

struct HostJob {
    uint32_t ContentFlags;
    int32_t FrameWidth;
    int32_t FrameHeight;
    int32_t Rate;
    int32_t Scale;
    int32_t FrameCount;
    int32_t FrameBytes;
    int32_t AudioRate;
    int32_t AudioChannels;
    int32_t AudioSampleCount;
    int32_t AudioSampleBytes;
    const char* OutputPath;
    FetchFrameCallback FetchFrame;
    FetchAudioCallback FetchAudio;
    AbortRequestedCallback AbortRequested;
    ShowProgressCallback ShowProgress;
    QueryFrameFlagsCallback QueryFrameFlags;
    RefreshPreviewCallback RefreshPreview;
};

typedef int32_t (__cdecl* OutputEntryFunction)(HostJob* job);
typedef int32_t (__cdecl* ConfigEntryFunction)(HWND owner, HINSTANCE module);
typedef int32_t (__cdecl* ConfigGetEntryFunction)(void* data, int32_t size);
typedef int32_t (__cdecl* ConfigSetEntryFunction)(void* data, int32_t size);
typedef int32_t (__cdecl* InitExitEntryFunction)();

struct OutputPluginTable {
    uint32_t Flags;
    const char* DisplayName;
    const char* FileFilter;
    const char* Information;
    InitExitEntryFunction InitEntry;
    InitExitEntryFunction ExitEntry;
    OutputEntryFunction OutputEntry;
    ConfigEntryFunction ConfigEntry;
    ConfigGetEntryFunction ConfigGetEntry;
    ConfigSetEntryFunction ConfigSetEntry;
};

// The module's only export.
extern "C" OutputPluginTable* __cdecl GetOutputPluginTable();

// The layouts as the editor sees them. Pointers are 32 bits there, so the offsets are checked
// where pointers are 32 bits (the Windows build); on a 64-bit build only the field order holds.
#define BREVLO_CHECK_LAYOUT(Record, Field, Offset32) \
    static_assert(sizeof(void*) != 4 || offsetof(Record, Field) == (Offset32), #Record "." #Field)

BREVLO_CHECK_LAYOUT(HostJob, ContentFlags, 0);
BREVLO_CHECK_LAYOUT(HostJob, FrameWidth, 4);
BREVLO_CHECK_LAYOUT(HostJob, FrameHeight, 8);
BREVLO_CHECK_LAYOUT(HostJob, Rate, 12);
BREVLO_CHECK_LAYOUT(HostJob, Scale, 16);
BREVLO_CHECK_LAYOUT(HostJob, FrameCount, 20);
BREVLO_CHECK_LAYOUT(HostJob, FrameBytes, 24);
BREVLO_CHECK_LAYOUT(HostJob, AudioRate, 28);
BREVLO_CHECK_LAYOUT(HostJob, AudioChannels, 32);
BREVLO_CHECK_LAYOUT(HostJob, AudioSampleCount, 36);
BREVLO_CHECK_LAYOUT(HostJob, AudioSampleBytes, 40);
BREVLO_CHECK_LAYOUT(HostJob, OutputPath, 44);
BREVLO_CHECK_LAYOUT(HostJob, FetchFrame, 48);
BREVLO_CHECK_LAYOUT(HostJob, FetchAudio, 52);
BREVLO_CHECK_LAYOUT(HostJob, AbortRequested, 56);
BREVLO_CHECK_LAYOUT(HostJob, ShowProgress, 60);
BREVLO_CHECK_LAYOUT(HostJob, QueryFrameFlags, 64);
BREVLO_CHECK_LAYOUT(HostJob, RefreshPreview, 68);
static_assert(sizeof(void*) != 4 || sizeof(HostJob) == 72, "HostJob is 72 bytes");

BREVLO_CHECK_LAYOUT(OutputPluginTable, Flags, 0);
BREVLO_CHECK_LAYOUT(OutputPluginTable, DisplayName, 4);
BREVLO_CHECK_LAYOUT(OutputPluginTable, FileFilter, 8);
BREVLO_CHECK_LAYOUT(OutputPluginTable, Information, 12);
BREVLO_CHECK_LAYOUT(OutputPluginTable, InitEntry, 16);
BREVLO_CHECK_LAYOUT(OutputPluginTable, ExitEntry, 20);
BREVLO_CHECK_LAYOUT(OutputPluginTable, OutputEntry, 24);
BREVLO_CHECK_LAYOUT(OutputPluginTable, ConfigEntry, 28);
BREVLO_CHECK_LAYOUT(OutputPluginTable, ConfigGetEntry, 32);
BREVLO_CHECK_LAYOUT(OutputPluginTable, ConfigSetEntry, 36);
static_assert(sizeof(void*) != 4 || sizeof(OutputPluginTable) == 40, "OutputPluginTable is 40 bytes");
