#include "host/module_loader.h"

#include "host/host_platform.h"

typedef OutputPluginTable*(__cdecl* GetTableFunction)();

bool LoadPluginModule(const std::string& path, LoadedModule& module, std::string& error) {
    module = LoadedModule{};
    void* handle = OpenModuleFile(path, error);
    if (!handle) return false;
    void* entry = FindModuleEntry(handle, "GetOutputPluginTable");
    GetTableFunction getTable = reinterpret_cast<GetTableFunction>(entry);
    const OutputPluginTable* table = getTable ? getTable() : nullptr;
    if (!table) {
        error = getTable ? path + ": GetOutputPluginTable returned no table"
                         : path + " does not export GetOutputPluginTable";
        CloseModuleFile(handle);
        return false;
    }
    module.handle = handle;
    module.table = table;
    module.instance = ModuleBase(handle, entry);
    return true;
}

void UnloadPluginModule(LoadedModule& module) {
    if (!module.handle) return;
    CloseModuleFile(module.handle);
    module = LoadedModule{};
}

std::string DefaultModulePath() {
    const std::string self = ExecutablePath();
    const char* name = DefaultModuleFileName();
    size_t slash = self.find_last_of("\\/");
    if (slash == std::string::npos) return name;
    return self.substr(0, slash + 1) + name;
}
