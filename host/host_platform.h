// What the host does differently on Linux and on Windows; host/linux/ and host/windows/ implement
// it, so that the shared host files are the same on both.
#pragma once

#include <string>

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
