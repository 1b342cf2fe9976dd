// The export's progress on standard error, and Ctrl-C turned into an abort request.
#pragma once

#include <cstdint>

// Draws nothing when standard error is not a terminal.
void BeginProgress();
void UpdateProgress(int32_t current, int32_t total);
void EndProgress();
double ProgressSeconds();  // since BeginProgress

// The first SIGINT, SIGTERM or SIGHUP asks for an abort; a second one, or SIGQUIT, ends the process
// at once, after `beforeDying` (async-signal-safe; may be null) has run.
void CatchInterrupt(void (*beforeDying)());
bool InterruptRequested();
int InterruptSignal();  // the signal that asked for the abort, 0 when none did
const char* SignalName(int signal);
