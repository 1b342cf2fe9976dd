// Every stand-in registers a probe that tells what it still holds (live objects, references, heap
// blocks, mappings). The test suites ask all probes after each test.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace standin {

// A probe answers "" when nothing is left over, else a short description of what is.
using LeakProbe = std::function<std::string()>;

void RegisterLeakProbe(const char* name, LeakProbe probe);

// One line per probe that reported something.
std::vector<std::string> CollectLeaks();

// Puts every stand-in back into its initial state (failure injection off, recordings cleared).
// Each stand-in registers its reset next to its probe.
void RegisterReset(const char* name, std::function<void()> reset);
void ResetAll();

// Why a stand-in refused a call, in a user's words ("the media runtime refused the profile: ...").
// The system is told only a result code, as on Windows; the host shows these. The reset clears them.
void NoteFailure(const std::string& reason);
// The reasons noted since the last call, oldest first; clears them.
std::vector<std::string> TakeFailures();

}  // namespace standin
