// The Linux build's platform is the stand-ins: they record what the runtime receives, count what is
// left, and keep every message box.
#include "host/runtime_session.h"

#include "platform/standin/leaks.h"
#include "platform/standin/wmvcore/runtime.h"
#include "platform/win32.h"

namespace {

size_t g_boxesBefore = 0;

std::u16string FromCodePage932(const std::string& bytes) {
    if (bytes.empty()) return std::u16string();
    std::u16string out(bytes.size(), u'\0');
    int n = MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0],
                                static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

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
            ShownMessageBox{FromCodePage932(boxes[i].caption), FromCodePage932(boxes[i].text), boxes[i].style & kShown});
    }
    return result;
}
