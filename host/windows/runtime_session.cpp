// The Windows build's platform is real: the media runtime is whatever wmvcore.dll the module
// loaded (the suite's stand-in, which can write its recording and say what it still holds), and a
// message box is a window on the screen, which a watcher thread reads and closes as a user would.
#include "host/runtime_session.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "host/host_platform.h"
#include "host/host_text.h"
#include "platform/standin/leaks.h"
#include "platform/standin/ui/driver.h"
#include "platform/standin/utf8.h"
#include "plugin/host_job.h"

namespace {

BOOL CALLBACK FindIconControl(HWND child, LPARAM found) {
    char cls[16];
    if (GetClassNameA(child, cls, sizeof cls) && lstrcmpiA(cls, "Static") == 0 &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }
    return TRUE;
}

// The icon the box shows, as the MB_ICON… bit it was asked for: the system's shared icons are the
// ones LoadIcon hands out for the same ids.
uint32_t IconStyle(HWND box) {
    HWND control = nullptr;
    EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&control));
    HICON icon = control ? reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0)) : nullptr;
    if (!icon) return 0;
    const struct {
        LPCSTR id;
        uint32_t style;
    } kIcons[] = {{IDI_HAND, MB_ICONHAND}, {IDI_QUESTION, MB_ICONQUESTION}, {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                  {IDI_ASTERISK, MB_ICONASTERISK}};
    for (const auto& k : kIcons) {
        if (LoadIconA(nullptr, k.id) == icon) return k.style;
    }
    return 0xF0;  // an icon of its own
}

// Finds the module's message boxes by their caption, records what they show and presses OK. A box
// under another caption is taken too after a while, so that no box can hold the export forever.
class MessageBoxWatcher {
public:
    bool Start(const std::u16string& caption) {
        caption_ = caption;
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = stop_ ? CreateThread(nullptr, 0, Run, this, 0, nullptr) : nullptr;
        return thread_ != nullptr;
    }

    std::vector<ShownMessageBox> Stop() {
        if (thread_) {
            SetEvent(stop_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        if (stop_) {
            CloseHandle(stop_);
            stop_ = nullptr;
        }
        return boxes_;
    }

private:
    static constexpr DWORD kPollMs = 10;
    static constexpr DWORD kStrangerMs = 5000;

    static DWORD WINAPI Run(void* self) {
        auto* watcher = static_cast<MessageBoxWatcher*>(self);
        while (WaitForSingleObject(watcher->stop_, kPollMs) == WAIT_TIMEOUT) watcher->Scan();
        return 0;
    }

    void Scan() {
        for (auto it = seen_.begin(); it != seen_.end();) it = IsWindow(it->first) ? std::next(it) : seen_.erase(it);
        EnumWindows(ConsiderWindow, reinterpret_cast<LPARAM>(this));
    }

    static BOOL CALLBACK ConsiderWindow(HWND window, LPARAM self) {
        reinterpret_cast<MessageBoxWatcher*>(self)->Consider(window);
        return TRUE;
    }

    void Consider(HWND window) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char cls[16];
        if (process != GetCurrentProcessId() || !IsWindowVisible(window) || !GetClassNameA(window, cls, sizeof cls) ||
            lstrcmpA(cls, "#32770") != 0)
            return;
        HWND text = GetDlgItem(window, 0xFFFF), ok = GetDlgItem(window, IDOK);
        if (!text || !ok) return;  // not a message box
        auto seen = seen_.find(window);
        if (seen != seen_.end() && seen->second.pressed) return;  // closing
        std::u16string caption = standin::WindowText(window);
        if (caption != caption_) {
            if (seen == seen_.end()) seen = seen_.emplace(window, Seen{GetTickCount(), false}).first;
            if (GetTickCount() - seen->second.since < kStrangerMs) return;
        }
        ShownMessageBox box;
        box.caption = caption;
        box.text = standin::WindowText(text);
        box.style = IconStyle(window) | (GetDlgItem(window, IDCANCEL) ? MB_OKCANCEL : MB_OK);
        std::fprintf(stderr, "[%s] %s\n", standin::Utf8FromUtf16(box.caption).c_str(),
                     standin::Utf8FromUtf16(box.text).c_str());
        std::fflush(stderr);
        boxes_.push_back(box);
        // What a click on OK sends to the box.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        seen_[window] = Seen{GetTickCount(), true};
    }

    struct Seen {
        DWORD since;
        bool pressed;
    };

    std::u16string caption_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
    std::map<HWND, Seen> seen_;  // boxes of another caption waiting, and boxes already pressed
    std::vector<ShownMessageBox> boxes_;
};

MessageBoxWatcher g_watcher;

// The stand-in runtime's calls for the host; absent from a real runtime.
typedef int(WINAPI* WriteRecordingFn)(const char* path);
typedef int(WINAPI* LeftOverFn)(char* buffer, int capacity);
typedef int(WINAPI* TakeFailuresFn)(char* buffer, int capacity);

FARPROC RuntimeCall(const char* name) {
    HMODULE runtime = GetModuleHandleA("wmvcore.dll");
    return runtime ? GetProcAddress(runtime, name) : nullptr;
}

// What the runtime still holds, asked after Output and after Config like the Linux build's probes.
struct RuntimeProbe {
    RuntimeProbe() {
        standin::RegisterLeakProbe("wmvcore", [] {
            auto leftOver = reinterpret_cast<LeftOverFn>(reinterpret_cast<void*>(RuntimeCall("StandinLeftOver")));
            char text[2048] = "";
            if (leftOver) leftOver(text, sizeof text);
            return std::string(text);
        });
    }
} g_runtimeProbe;

}  // namespace

bool BeginRuntimeSession(const OutputPluginTable& table, const std::string& recordPath, std::string& error) {
    if (!recordPath.empty()) {
        // An export that never reaches the runtime leaves an empty recording, as on Linux.
        FILE* f = std::fopen(NativePath(recordPath).c_str(), "wb");
        if (!f || std::fclose(f) != 0) {
            error = "cannot write the recording to " + recordPath;
            return false;
        }
    }
    if (!g_watcher.Start(WideFromCodePage(932, 0, table.DisplayName ? table.DisplayName : ""))) {
        error = "cannot start the message box watcher";
        return false;
    }
    return true;
}

RuntimeSessionResult EndRuntimeSession(const std::string& recordPath) {
    RuntimeSessionResult result;
    result.boxes = g_watcher.Stop();
    bool runtimeLoaded = GetModuleHandleA("wmvcore.dll") != nullptr;
    if (!recordPath.empty() && runtimeLoaded) {
        auto write = reinterpret_cast<WriteRecordingFn>(reinterpret_cast<void*>(RuntimeCall("StandinWriteRecording")));
        result.recordWritten = write && write(NativePath(recordPath).c_str());
    }
    result.leftOver = standin::CollectLeaks();
    // The runtime's causes (a file it could not write) join the host's, to be said with them.
    auto take = reinterpret_cast<TakeFailuresFn>(reinterpret_cast<void*>(RuntimeCall("StandinTakeFailures")));
    char causes[4096] = "";
    if (take) take(causes, sizeof causes);
    for (const char* line = causes; *line;) {
        const char* end = std::strchr(line, '\n');
        if (!end) end = line + std::strlen(line);
        if (end > line) standin::NoteFailure(std::string(line, end));
        line = *end ? end + 1 : end;
    }
    return result;
}
