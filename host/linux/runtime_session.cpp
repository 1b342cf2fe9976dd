// The Linux build's platform is the stand-ins: they record what the runtime receives, count what is
// left, and keep every message box.
#include "host/runtime_session.h"

#include "host/host_text.h"

#include "platform/standin/leaks.h"
#include "platform/standin/wmvcore/runtime.h"
#include "platform/win32.h"

namespace {

size_t g_boxesBefore = 0;

}  // namespace

bool BeginRuntimeSession(const OutputPluginTable&, const std::string& recordPath, std::string&) {
    g_boxesBefore = standin::ShownMessageBoxes().size();
    if (!recordPath.empty()) standin::StartRecording();
    return true;
}

RuntimeSessionResult EndRuntimeSession(const std::string& recordPath) {
    RuntimeSessionResult result;
    if (!recordPath.empty()) {
        result.recordWritten = standin::WriteRecordingJson(recordPath);
        standin::StopRecording();
    }
    result.leftOver = standin::CollectLeaks();
    std::vector<standin::MessageBoxRecord> boxes = standin::ShownMessageBoxes();
    for (size_t i = g_boxesBefore; i < boxes.size(); ++i) {
        const uint32_t kShown = 0xF0 | 0x0F;  // icon and buttons
        result.boxes.push_back(
            ShownMessageBox{WideFromCodePage(932, 0, boxes[i].caption), WideFromCodePage(932, 0, boxes[i].text),
                            boxes[i].style & kShown});
    }
    return result;
}
