// The export's progress on standard error, and Ctrl-C turned into an abort request.
#pragma once

#include <cstdint>

// Draws nothing when standard error is not a terminal.
void BeginProgress();
void UpdateProgress(int32_t current, int32_t total);
void EndProgress();
double ProgressSeconds();  // since BeginProgress

// The first SIGINT asks for an abort; a second one ends the process as usual.
void CatchInterrupt();
bool InterruptRequested();
