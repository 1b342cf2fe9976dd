#include "message.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "../leaks.h"
#include "../utf8.h"
#include "text.h"

namespace {

std::mutex g_mutex;
std::vector<standin::MessageBoxRecord> g_boxes;
// The debug output one text after another, and where each ends: a string a text would cost an
// allocation each.
std::u16string g_debugTexts;
std::vector<size_t> g_debugEnds;

struct MessageReset {
    MessageReset() {
        standin::RegisterReset("message", [] {
            std::lock_guard<std::mutex> g(g_mutex);
            g_boxes.clear();
            g_debugTexts.clear();
            g_debugEnds.clear();
        });
    }
} g_messageReset;

}  // namespace

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    standin::MessageBoxRecord r{owner, text ? text : "", caption ? caption : "Error", type};
    DWORD lastError = GetLastError();  // decoding for the terminal must not disturb the caller's
    std::fprintf(stderr, "[%s] %s\n", standin::Utf8FromCodePage932(r.caption).c_str(),
                 standin::Utf8FromCodePage932(r.text).c_str());
    SetLastError(lastError);
    std::lock_guard<std::mutex> g(g_mutex);
    g_boxes.push_back(r);
    return IDOK;
}

void WINAPI OutputDebugStringW(LPCWSTR text) {
    const std::u16string_view s(text ? text : u"", static_cast<size_t>(lstrlenW(text)));
    const char* show = std::getenv("BREVLO_DEBUG_OUTPUT");
    if (show && *show) std::fprintf(stderr, "debug: %s\n", standin::Utf8FromUtf16(s).c_str());
    std::lock_guard<std::mutex> g(g_mutex);
    g_debugTexts.append(s);
    g_debugEnds.push_back(g_debugTexts.size());
}

namespace standin {

std::vector<MessageBoxRecord> ShownMessageBoxes() {
    std::lock_guard<std::mutex> g(g_mutex);
    return g_boxes;
}

std::vector<std::u16string> DebugOutput() {
    std::lock_guard<std::mutex> g(g_mutex);
    std::vector<std::u16string> texts;
    size_t start = 0;
    for (size_t end : g_debugEnds) {
        texts.push_back(g_debugTexts.substr(start, end - start));
        start = end;
    }
    return texts;
}

std::string Utf8FromCodePage932(const std::string& bytes) {
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
        // One character at a time, so a bad byte costs only itself.
        size_t len = 1;
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) && i + 1 < bytes.size()) len = 2;
        WCHAR unit[2];
        int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data() + i, static_cast<int>(len), unit, 2);
        if (n <= 0 && len == 2) {
            len = 1;
            n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data() + i, 1, unit, 2);
        }
        if (n > 0) {
            out += standin::Utf8FromUtf16(std::u16string(unit, static_cast<size_t>(n)));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
        i += len;
    }
    return out;
}

}  // namespace standin
