// The host on Linux: the module is a shared object, signals are POSIX's, and the stand-in's
// mappings can be turned read-only once the codes are in.
#include "host/host_platform.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <csignal>

void* OpenModuleFile(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        error = "cannot load " + path + ": " + (reason ? reason : "unknown reason");
    }
    return handle;
}

void* FindModuleEntry(void* handle, const char* name) { return dlsym(handle, name); }

void CloseModuleFile(void* handle) { dlclose(handle); }

HINSTANCE ModuleBase(void*, void* entry) {
    Dl_info info;
    if (entry && dladdr(entry, &info) && info.dli_fbase) return static_cast<HINSTANCE>(info.dli_fbase);
    return nullptr;
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

const char* DefaultModuleFileName() { return "brevlo.so"; }

std::vector<std::string> CommandLineWords(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::string NativePath(const std::string& path) { return path; }

bool HostDecodesClips() { return true; }

// The stand-ins name every cause themselves.
std::vector<std::string> CausesThePlatformKeeps(const std::string&) { return {}; }

// The stand-in runtime writes a real file.
std::vector<std::string> RuntimeNotes(const std::string&) { return {}; }

void PrepareConsole() {}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void CatchPlatformSignals(void (*askAbort)(int), void (*endAtOnce)(int)) {
    std::signal(SIGHUP, askAbort);
    std::signal(SIGQUIT, endAtOnce);
}

const char* PlatformSignalName(int signal) { return signal == SIGHUP ? "SIGHUP" : nullptr; }

void RemoveWhatOutlivesTheHost() { standin::RemoveCreatedMappingNames(); }

bool PublishReadOnlyTimingMap(const std::string& codes, const std::string& name, PublishedTimingMap& map,
                              std::string& error) {
    // The stand-in turns a mapping read-only after the codes are in, as a file-backed read-only
    // mapping would hold them on Windows.
    if (!PublishWritableTimingMap(codes, name, map, error)) return false;
    if (!standin::MakeFileMappingReadOnly(name.c_str())) {
        error = "cannot make the timing map " + name + " read-only";
        WithdrawTimingMap(map);
        return false;
    }
    return true;
}
