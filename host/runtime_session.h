// What the host watches around one Output call, where the platforms differ: the media runtime's
// recording of the samples it received, what the runtime and the other platform pieces still hold
// afterwards, and the message boxes the user saw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OutputPluginTable;

// One message box as the user saw it: caption and text, and the style bits that show (icon and
// buttons, MB_ICONERROR | MB_OK = 0x10 for the module's boxes).
struct ShownMessageBox {
    std::u16string caption;
    std::u16string text;
    uint32_t style = 0;
};

struct RuntimeSessionResult {
    bool recordWritten = true;          // false when a recording was asked for and not written
    std::vector<std::string> leftOver;  // one line per thing still held after Output
    std::vector<ShownMessageBox> boxes;
};

// Before Output. `recordPath` empty: no recording.
bool BeginRuntimeSession(const OutputPluginTable& table, const std::string& recordPath, std::string& error);
// After Output returned and the host has withdrawn its timing map.
RuntimeSessionResult EndRuntimeSession(const std::string& recordPath);

// The boxes as JSON lines, {"caption":"…","text":"…","style":16}; false when the file cannot be
// written.
bool WriteMessageLog(const std::string& path, const std::vector<ShownMessageBox>& boxes);
