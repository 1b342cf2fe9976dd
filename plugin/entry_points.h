// The module's entry points as the editor calls them through the plug-in table.
#pragma once

#include "plugin/host_job.h"
#include "plugin/version.h"

// Name under which the editor lists the plug-in; also the caption of every message box.
inline constexpr char kPluginDisplayName[] = BREVLO_PRODUCT_NAME;

// Size of the configuration blob the editor keeps in a project.
constexpr int32_t kConfigBlobSize = 104;

int32_t __cdecl Output(HostJob* job);
int32_t __cdecl Config(HWND owner, HINSTANCE module);
int32_t __cdecl ConfigGet(void* data, int32_t size);
int32_t __cdecl ConfigSet(void* data, int32_t size);
