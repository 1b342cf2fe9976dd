// The host on Windows: the module is a DLL, the console is msvcrt's, and a read-only map is a
// read-only mapping of a file that holds the codes.
#include "host/host_platform.h"

#include <fcntl.h>
#include <io.h>

#include <shellapi.h>

#include <cstdio>

#include "host/host_text.h"
#include "platform/standin/utf8.h"

void* OpenModuleFile(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(NativePath(path).c_str());
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

std::vector<std::string> CommandLineWords(int argc, char** argv) {
    // The narrow argv is in the ANSI code page; the wide command line holds what was typed.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> words;
    for (int i = 1; i < count; ++i) words.push_back(standin::Utf8FromUtf16(reinterpret_cast<const char16_t*>(wide[i])));
    LocalFree(wide);
    return words;
}

std::string NativePath(const std::string& path) {
    const std::u16string wide = WideFromCodePage(CP_UTF8, 0, path);
    const LPCWSTR text = reinterpret_cast<LPCWSTR>(wide.c_str());
    const int length = static_cast<int>(wide.size());
    const int n = length ? WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr) : 0;
    if (n <= 0) return path;
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

bool HostDecodesClips() { return false; }

std::vector<std::string> CausesThePlatformKeeps(const std::string& outputPath) {
    std::vector<std::string> causes;
    const size_t units = WideFromCodePage(CP_UTF8, 0, outputPath).size();
    if (units >= MAX_PATH) {
        causes.push_back("the output path is " + std::to_string(units) + " UTF-16 units long; a Windows path holds at most " +
                         std::to_string(MAX_PATH - 1));
    }
    // The module loads WMVCore.dll from the system folder only.
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    const std::string runtime = std::string(folder, length < MAX_PATH ? length : 0) + "\\wmvcore.dll";
    HMODULE loaded = GetModuleHandleA("wmvcore.dll");
    HMODULE probe = loaded ? loaded : LoadLibraryExA(runtime.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!probe) {
        causes.push_back("no media runtime: " + runtime + " cannot be loaded (error " + std::to_string(GetLastError()) + ")");
    } else if (!loaded) {
        FreeLibrary(probe);
    } else if (!GetProcAddress(loaded, "StandinWriteRecording")) {
        causes.push_back("the media runtime " + runtime + " is not the stand-in and gives no cause (Wine's own has no "
                         "codec catalogue)");
    }
    return causes;
}

std::vector<std::string> RuntimeNotes(const std::string& outputPath) {
    HMODULE runtime = GetModuleHandleA("wmvcore.dll");
    if (!runtime || !GetProcAddress(runtime, "StandinWriteRecording")) return {};
    return {"note: the stand-in media runtime writes no file; " + outputPath + " was not written"};
}

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
