// What the host does differently on Linux and on Windows; host/linux/ and host/windows/ implement
// it, so that the shared host files are the same on both.
#pragma once

#include <string>
#include <vector>

#include "host/timing_map.h"
#include "platform/win32.h"

// The module's file: a handle (dlopen's or the HMODULE), null with the reason in `error`.
void* OpenModuleFile(const std::string& path, std::string& error);
void* FindModuleEntry(void* handle, const char* name);
void CloseModuleFile(void* handle);
// What the editor passes to Config: the module's base address, found through one of its entries.
HINSTANCE ModuleBase(void* handle, void* entry);
// The running executable's path ("" when unknown) and the module's default file name beside it.
std::string ExecutablePath();
const char* DefaultModuleFileName();

// The command line's words in UTF-8, as the host handles and prints all text; and a path in that
// form as the platform's narrow file calls and the module's job take it (the ANSI code page on
// Windows).
std::vector<std::string> CommandLineWords(int argc, char** argv);
std::string NativePath(const std::string& path);
// Whether this build reads clip files (--input): only with FFmpeg.
bool HostDecodesClips();
// After a failed Output or a Config that showed no sheet: what the platform refused without saying
// why (the real Win32 and media runtime give the module result codes only), one line each.
std::vector<std::string> CausesThePlatformKeeps(const std::string& outputPath);
// What a user should know of the file of an export that succeeded, once per run.
std::vector<std::string> RuntimeNotes(const std::string& outputPath);

// Standard output and error carry the same bytes in both builds (no CRLF from msvcrt's text mode).
void PrepareConsole();
bool StandardErrorIsTerminal();
// Where the platform has them, SIGHUP also asks for an abort and SIGQUIT ends the host at once.
void CatchPlatformSignals(void (*askAbort)(int), void (*endAtOnce)(int));
// The name of a signal of the platform's own, null for others.
const char* PlatformSignalName(int signal);
// Async-signal-safe: removes what must not outlive a process killed by a signal.
void RemoveWhatOutlivesTheHost();

// A map of the codes that only allows reading, as some companions publish it.
bool PublishReadOnlyTimingMap(const std::string& codes, const std::string& name, PublishedTimingMap& map,
                              std::string& error);
