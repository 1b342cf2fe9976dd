// A module for the host's own tests: its Output returns 1 but keeps a heap block and a media
// writer it never frees, as a faulty plug-in would. The host must notice.
#include "platform/win32.h"
#include "platform/wm/wm.h"
#include "plugin/host_job.h"

namespace {

// Kept reachable, so that only the stand-ins' counts (not a leak checker of the process) see them.
void* g_block = nullptr;
IWMWriter* g_writer = nullptr;

int32_t __cdecl CarelessOutput(HostJob*) {
    g_block = HeapAlloc(GetProcessHeap(), 0, 16);
    WMCreateWriter(nullptr, &g_writer);
    return 1;
}

OutputPluginTable g_table = {0, "Careless", "All (*.*)\0*.*\0\0", "Careless", nullptr, nullptr,
                             CarelessOutput, nullptr, nullptr, nullptr};

}  // namespace

extern "C" OutputPluginTable* __cdecl GetOutputPluginTable() { return &g_table; }
