// The stand-in media runtime as a wmvcore.dll for the Windows suite. Wine's own wmvcore has no codec
// catalogue and cannot build a profile, so the suite installs this one in the prefix's system
// folder. It exports the runtime's two factories (defined by the portable runtime) and three calls
// for the host: the recording of every sample the writers received, as the Linux build writes it,
// what the runtime still holds, and the causes of its failures.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/standin/leaks.h"
#include "platform/standin/wmvcore/asf_sink.h"
#include "platform/standin/wmvcore/runtime.h"

namespace standin {

// No FFmpeg here: the writer accepts an output file name but writes no file. The recording is
// what the suite compares.
std::unique_ptr<WriterObserver> CreateAsfFileSink() { return nullptr; }

}  // namespace standin

// Writes the recording since the DLL was loaded as JSON lines; nonzero on success.
extern "C" int WINAPI StandinWriteRecording(const char* path) {
    return path && standin::WriteRecordingJson(path) ? 1 : 0;
}

namespace {

// Copies `text` into the caller's buffer, cut to fit `capacity` bytes with its terminator; returns
// the full length.
int CopyOutText(const std::string& text, char* buffer, int capacity) {
    if (buffer && capacity > 0) {
        size_t n = text.size() < static_cast<size_t>(capacity) ? text.size() : static_cast<size_t>(capacity) - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int>(text.size());
}

}  // namespace

// What is left over (live objects and references), "" when nothing.
extern "C" int WINAPI StandinLeftOver(char* buffer, int capacity) {
    std::string text;
    for (const std::string& leak : standin::CollectLeaks()) text += (text.empty() ? "" : "; ") + leak;
    return CopyOutText(text, buffer, capacity);
}

// The causes the runtime noted since they were last taken (a file it could not write), one a
// line, and forgets them.
extern "C" int WINAPI StandinTakeFailures(char* buffer, int capacity) {
    std::string text;
    for (const std::string& cause : standin::TakeFailures()) text += cause + "\n";
    return CopyOutText(text, buffer, capacity);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        standin::StartRecording();
    }
    return TRUE;
}
