// Runs brevlo-host as a child process, as a user would, and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct HostRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs BREVLO_HOST_PATH --module BREVLO_MODULE_PATH <arguments>.
HostRun RunHost(const std::vector<std::string>& arguments);

std::string TempPath(const std::string& name);
bool FileExists(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
