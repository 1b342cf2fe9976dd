#include "message.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "../leaks.h"
#include "text.h"

namespace {

std::mutex g_mutex;
std::vector<standin::MessageBoxRecord> g_boxes;
std::vector<std::u16string> g_debug;

struct MessageReset {
    MessageReset() {
        standin::RegisterReset("message", [] {
            std::lock_guard<std::mutex> g(g_mutex);
            g_boxes.clear();
            g_debug.clear();
        });
    }
} g_messageReset;

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Utf8FromUtf16(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, c);
    }
    return out;
}

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
    std::u16string s = text ? text : u"";
    const char* show = std::getenv("BREVLO_DEBUG_OUTPUT");
    if (show && *show) std::fprintf(stderr, "debug: %s\n", Utf8FromUtf16(s).c_str());
    std::lock_guard<std::mutex> g(g_mutex);
    g_debug.push_back(s);
}

namespace standin {

std::vector<MessageBoxRecord> ShownMessageBoxes() {
    std::lock_guard<std::mutex> g(g_mutex);
    return g_boxes;
}

std::vector<std::u16string> DebugOutput() {
    std::lock_guard<std::mutex> g(g_mutex);
    return g_debug;
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
            out += Utf8FromUtf16(std::u16string(unit, static_cast<size_t>(n)));
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
