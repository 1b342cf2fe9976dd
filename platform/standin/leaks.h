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
// A refusal that lost data the caller meant to keep (a settings write) says so, so that the host
// can fail the command that asked for it. A reason already noted is not noted again.
enum class FailureKind { Refused, WriteLost };
void NoteFailure(const std::string& reason, FailureKind kind = FailureKind::Refused);
// The reasons noted since the last call, oldest first; clears them. `writeLost`, when given, tells
// whether one of them lost a write.
std::vector<std::string> TakeFailures(bool* writeLost = nullptr);

}  // namespace standin
