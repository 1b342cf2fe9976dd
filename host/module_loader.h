// Loads the plug-in module by path and hands out its table, the only thing the host reads from it.
#pragma once

#include <string>

#include "plugin/host_job.h"

struct LoadedModule {
    void* handle = nullptr;              // dlopen handle or HMODULE
    const OutputPluginTable* table = nullptr;
    HINSTANCE instance = nullptr;        // what the editor passes to Config: the module's base
};

// On failure returns false with the reason in `error`; nothing stays loaded then.
bool LoadPluginModule(const std::string& path, LoadedModule& module, std::string& error);
void UnloadPluginModule(LoadedModule& module);

// The module's file next to the running executable.
std::string DefaultModulePath();
