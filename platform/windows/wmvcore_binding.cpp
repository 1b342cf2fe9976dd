// The runtime's two factories, looked up in WMVCore.dll when first called. The module does not
// import the DLL, so it still loads where the media features are absent; there the factories
// answer a failure code and the caller gives up as for any runtime failure.
#include "platform/wm/wm.h"

namespace {

typedef HRESULT(WINAPI* CreateWriterFn)(IUnknown*, IWMWriter**);
typedef HRESULT(WINAPI* CreateProfileManagerFn)(IWMProfileManager**);

// The code for a failed look-up: the loader's own error where it gave one.
HRESULT LastErrorCode() {
    DWORD err = GetLastError();
    return err ? HRESULT_FROM_WIN32(err) : REGDB_E_CLASSNOTREG;
}

// WMVCore.dll from the system folder and nowhere else. A bare name would let the loader search the
// editor's folder (often writable by the user) and, on some systems, the current folder first, so a
// planted wmvcore.dll would run inside the editor. Loaders that know LOAD_LIBRARY_SEARCH_SYSTEM32
// (which also keeps the DLL's own imports to the system folder) get it; older ones refuse the flag
// with ERROR_INVALID_PARAMETER and are given the full path instead.
HMODULE LoadRuntimeFromSystemFolder() {
    HMODULE module = LoadLibraryExA("wmvcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    char path[MAX_PATH];
    const char kName[] = "\\wmvcore.dll";
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof kName > MAX_PATH) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    lstrcpyA(path + length, kName);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Resolves an export of WMVCore.dll; the DLL stays loaded for the life of the process once found.
FARPROC FindRuntimeExport(const char* name, HRESULT* failure) {
    static HMODULE s_runtime = nullptr;
    if (!s_runtime) {
        s_runtime = LoadRuntimeFromSystemFolder();
        if (!s_runtime) {
            *failure = LastErrorCode();
            return nullptr;
        }
    }
    FARPROC fn = GetProcAddress(s_runtime, name);
    if (!fn) *failure = LastErrorCode();
    return fn;
}

}  // namespace

HRESULT WINAPI WMCreateWriter(IUnknown* pUnkCert, IWMWriter** ppWriter) {
    if (ppWriter) *ppWriter = nullptr;
    HRESULT failure = REGDB_E_CLASSNOTREG;
    auto fn = reinterpret_cast<CreateWriterFn>(reinterpret_cast<void*>(FindRuntimeExport("WMCreateWriter", &failure)));
    if (!fn) return failure;
    return fn(pUnkCert, ppWriter);
}

HRESULT WINAPI WMCreateProfileManager(IWMProfileManager** ppProfileManager) {
    if (ppProfileManager) *ppProfileManager = nullptr;
    HRESULT failure = REGDB_E_CLASSNOTREG;
    auto fn = reinterpret_cast<CreateProfileManagerFn>(
        reinterpret_cast<void*>(FindRuntimeExport("WMCreateProfileManager", &failure)));
    if (!fn) return failure;
    return fn(ppProfileManager);
}
