// The host on Windows: the module is a DLL, the console is msvcrt's, and a read-only map is a
// read-only mapping of a file that holds the codes.
#include "host/host_platform.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

void* OpenModuleFile(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (!handle) error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return handle;
}

void* FindModuleEntry(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseModuleFile(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

HINSTANCE ModuleBase(void* handle, void*) { return static_cast<HINSTANCE>(handle); }

std::string ExecutablePath() {
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, length < MAX_PATH ? length : 0);
}

const char* DefaultModuleFileName() { return "brevlo.auo"; }

void PrepareConsole() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool StandardErrorIsTerminal() { return _isatty(2) != 0; }

void CatchPlatformSignals(void (*)(int), void (*)(int)) {}

const char* PlatformSignalName(int) { return nullptr; }

void RemoveWhatOutlivesTheHost() {}

bool PublishReadOnlyTimingMap(const std::string& codes, const std::string& name, PublishedTimingMap& map,
                              std::string& error) {
    // A section's protection is fixed when it is created: a read-only map with content is a
    // read-only mapping of a file that holds the codes.
    map = PublishedTimingMap{};
    const DWORD size = codes.empty() ? 1 : static_cast<DWORD>(codes.size());
    char directory[MAX_PATH], path[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, directory) || !GetTempFileNameA(directory, "vfr", 0, path)) {
        error = TimingMapFailure("cannot make a file for the timing map", name);
        return false;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, codes.data(), size, &written, nullptr) || written != size) {
        error = TimingMapFailure("cannot write the file of the timing map", name);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return false;
    }
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, size, name.c_str());
    CloseHandle(file);  // the mapping keeps the file open
    if (!mapping) {
        error = TimingMapFailure("cannot publish the timing map", name);
        return false;
    }
    map.mapping = mapping;
    return true;
}
