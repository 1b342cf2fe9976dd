// The command line of brevlo-host, parsed, and what the commands share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/clip_source.h"
#include "plugin/host_job.h"

// One user action of the config command, in command-line order: tab, pick, type, check, slide,
// key-slide, ok, cancel.
struct ConfigAction {
    std::string verb;
    std::string argument;
};

struct HostOptions {
    std::string module;
    std::string command;
    std::vector<std::string> arguments;
    std::string output;
    SyntheticClipSettings synthetic;
    bool sizeGiven = false, rateGiven = false, audioGiven = false;
    std::string input;
    int32_t frameLimit = -1;
    std::string timingPattern;
    bool timingGiven = false;
    std::string timingFile;
    bool noTiming = false;
    bool timingReadOnly = false;
    int32_t keyEvery = 300;
    std::string messageLog;  // the message boxes the user saw, as JSON lines
    std::string record;
    int32_t abortAt = -1;  // AbortRequested answers 1 once a frame at or past this was fetched
    std::vector<ConfigAction> configActions;
};

// Prints the message and a pointer to --help; returns the exit status of a usage error (2).
int UsageError(const std::string& message);

// The synthetic clip, or the decoded --input clip.
std::unique_ptr<ClipSource> OpenSource(const HostOptions& options, std::string& error);

struct LoadedModule;
// The config command: Config with the host's window, the sheet acted on as the options say.
int ConfigCommand(const LoadedModule& module, const HostOptions& options);

// What the platform refused and why, one line each: the module reports no cause itself, the
// stand-ins it called do (Linux build; nothing on Windows). True when one of them lost a write;
// `printed`, when given, gets how many lines were printed.
bool PrintPlatformFailures(size_t* printed = nullptr);

// The export command: the job record, the editor's callbacks and the timing map.
int Export(const OutputPluginTable& table, const HostOptions& options);
