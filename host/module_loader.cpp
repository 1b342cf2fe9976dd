#include "host/module_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <climits>

typedef OutputPluginTable*(__cdecl* GetTableFunction)();

bool LoadPluginModule(const std::string& path, LoadedModule& module, std::string& error) {
    module = LoadedModule{};
    GetTableFunction getTable = nullptr;
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(path.c_str());
    if (!handle) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    getTable = reinterpret_cast<GetTableFunction>(reinterpret_cast<void*>(GetProcAddress(handle, "GetOutputPluginTable")));
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        error = "cannot load " + path + ": " + (reason ? reason : "unknown reason");
        return false;
    }
    getTable = reinterpret_cast<GetTableFunction>(dlsym(handle, "GetOutputPluginTable"));
#endif
    const OutputPluginTable* table = getTable ? getTable() : nullptr;
    if (!table) {
        error = getTable ? path + ": GetOutputPluginTable returned no table"
                         : path + " does not export GetOutputPluginTable";
#if defined(_WIN32)
        FreeLibrary(handle);
#else
        dlclose(handle);
#endif
        return false;
    }
    module.handle = handle;
    module.table = table;
#if defined(_WIN32)
    module.instance = handle;
#else
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(getTable), &info) && info.dli_fbase) {
        module.instance = static_cast<HINSTANCE>(info.dli_fbase);
    }
#endif
    return true;
}

void UnloadPluginModule(LoadedModule& module) {
    if (!module.handle) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(module.handle));
#else
    dlclose(module.handle);
#endif
    module = LoadedModule{};
}

std::string DefaultModulePath() {
#if defined(_WIN32)
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string self(buffer, length < MAX_PATH ? length : 0);
    const char* name = "brevlo.auo";
    size_t slash = self.find_last_of("\\/");
#else
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string self(buffer, length > 0 ? static_cast<size_t>(length) : 0);
    const char* name = "brevlo.so";
    size_t slash = self.find_last_of('/');
#endif
    if (slash == std::string::npos) return name;
    return self.substr(0, slash + 1) + name;
}
