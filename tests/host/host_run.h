// Runs brevlo-host as a child process, as a user would, and collects what it printed.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct HostRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs BREVLO_HOST_PATH --module BREVLO_MODULE_PATH <arguments>.
HostRun RunHost(const std::vector<std::string>& arguments);

// The same in two steps, for a test that acts on the running host: `inChild` runs in the child
// before it becomes the host (the host's process id is then getpid()). The exit code of a host that
// died of a signal is 128 + the signal, with `signal` set; `peakKilobytes` gets its peak resident
// memory.
struct StartedHost {
    pid_t pid = -1;
    std::string outPath, errPath;
};
StartedHost StartHost(const std::vector<std::string>& arguments, const std::function<void()>& inChild = {});
HostRun FinishHost(const StartedHost& host, int* signal = nullptr, long* peakKilobytes = nullptr);

std::string TempPath(const std::string& name);
bool FileExists(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
