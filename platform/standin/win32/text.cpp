#include "text.h"

#include <iconv.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "../leaks.h"
#include "../utf8.h"

namespace {

constexpr char16_t kUndefined = 0xFFFF;  // a table entry with no character

UINT g_ansi = CP_UTF8;
UINT g_oem = CP_UTF8;

struct TextReset {
    TextReset() {
        standin::RegisterReset("text", [] {
            g_ansi = CP_UTF8;
            g_oem = CP_UTF8;
        });
    }
} g_textReset;

// One character through iconv, or kUndefined.
char16_t IconvOne(iconv_t cd, const unsigned char* bytes, size_t n) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[2] = {static_cast<char>(bytes[0]), n > 1 ? static_cast<char>(bytes[1]) : '\0'};
    char out[8];
    char* ip = in;
    char* op = out;
    size_t il = n, ol = sizeof(out);
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) return kUndefined;
    if (sizeof(out) - ol != 2) return kUndefined;  // nothing, or beyond the basic plane
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
}

// Byte tables of the pages we know, built once from iconv.
struct CodePageTable {
    char16_t single[256];
    char16_t* doubleByte = nullptr;  // [lead - 0x80][trail], DBCS pages only
    bool built = false;
};

bool IsLead932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

const CodePageTable* TableFor(UINT cp) {
    static std::mutex lock;
    static CodePageTable t932, t437, t850, t1252;
    CodePageTable* t;
    const char* name;
    switch (cp) {
        case 932: t = &t932; name = "CP932"; break;
        case 437: t = &t437; name = "CP437"; break;
        case 850: t = &t850; name = "CP850"; break;
        case 1252: t = &t1252; name = "CP1252"; break;
        default: return nullptr;
    }
    std::lock_guard<std::mutex> g(lock);
    if (t->built) return t;
    iconv_t cd = iconv_open("UTF-16LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    for (int b = 0; b < 256; ++b) {
        unsigned char byte = static_cast<unsigned char>(b);
        t->single[b] = (cp == 932 && IsLead932(byte)) ? kUndefined : IconvOne(cd, &byte, 1);
        // Windows gives the unassigned bytes of 1252 their own value (0x81 is U+0081).
        if (cp != 932 && t->single[b] == kUndefined) t->single[b] = static_cast<char16_t>(b);
    }
    if (cp == 932) {
        static char16_t table[128 * 256];
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            for (int trail = 0; trail < 256; ++trail) {
                unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
                bool trailOk = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC);
                table[(lead - 0x80) * 256 + trail] =
                    IsLead932(pair[0]) && trailOk ? IconvOne(cd, pair, 2) : kUndefined;
            }
        }
        t->doubleByte = table;
    }
    iconv_close(cd);
    t->built = true;
    return t;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. False on the first
// invalid sequence when `strict`, else each bad byte becomes U+FFFD.
bool DecodeUtf8(const unsigned char* s, size_t n, bool strict, std::u16string& out) {
    size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        uint32_t cp = 0;
        size_t len = 0;
        uint32_t min = 0;
        if (b < 0x80) { cp = b; len = 1; }
        else if (b >= 0xC2 && b <= 0xDF) { cp = b & 0x1F; len = 2; min = 0x80; }
        else if (b >= 0xE0 && b <= 0xEF) { cp = b & 0x0F; len = 3; min = 0x800; }
        else if (b >= 0xF0 && b <= 0xF4) { cp = b & 0x07; len = 4; min = 0x10000; }
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (!ok) {
            if (strict) return false;
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return true;
}

bool DecodeTable(const CodePageTable& t, const unsigned char* s, size_t n, bool strict,
                 std::u16string& out) {
    constexpr char16_t kDefault932 = 0x30FB;  // what Windows substitutes in 932
    size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        char16_t c;
        size_t len = 1;
        if (t.doubleByte && IsLead932(b)) {
            c = i + 1 < n ? t.doubleByte[(b - 0x80) * 256 + s[i + 1]] : kUndefined;
            if (c != kUndefined) len = 2;
        } else {
            c = t.single[b];
        }
        if (c == kUndefined) {
            if (strict) return false;
            c = kDefault932;
        }
        out.push_back(c);
        i += len;
    }
    return true;
}

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// ---- wsprintf formatting -------------------------------------------------------------------

// The `n` bytes at `s` in the ANSI code page, at most `precision` units of them.
std::u16string Narrow(const char* s, size_t n, int precision) {
    std::u16string wide;
    if (n) {
        int units = MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(n), nullptr, 0);
        if (units > 0) {
            wide.resize(static_cast<size_t>(units));
            MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(n), &wide[0], units);
        }
    }
    if (precision >= 0 && wide.size() > static_cast<size_t>(precision)) wide.resize(static_cast<size_t>(precision));
    return wide;
}

// The units of `s` before its terminator, at most `limit`.
size_t UnitsBefore(const char16_t* s, size_t limit) {
    size_t n = 0;
    while (n < limit && s[n]) ++n;
    return n;
}

// The units of a format before its next conversion or its end.
size_t LiteralLength(const char16_t* format) {
    size_t n = 0;
    while (format[n] && format[n] != u'%') ++n;
    return n;
}

// The formatted text on its way into the caller's buffer: what does not fit is counted, not
// written, so that the length of the whole text is known at the end.
struct FormatOutput {
    char16_t* buffer;
    size_t room;    // units the text may take: the capacity less the terminator
    size_t length;  // units of the text so far
};

void Put(FormatOutput& out, const char16_t* units, size_t n) {
    if (out.length < out.room) {
        std::memmove(out.buffer + out.length, units, std::min(n, out.room - out.length) * sizeof(char16_t));
    }
    out.length += n;
}

void PutRepeated(FormatOutput& out, char16_t unit, size_t n) {
    for (size_t i = out.length; i < out.room && i < out.length + n; ++i) out.buffer[i] = unit;
    out.length += n;
}

// Each run of the format and each field goes out in one piece.
void Format(LPCWSTR format, va_list args, FormatOutput& out) {
    std::u16string narrow;  // a narrow argument, converted
    for (const char16_t* p = format; *p;) {
        if (*p != u'%') {
            const size_t literal = LiteralLength(p);
            Put(out, p, literal);
            p += literal;
            continue;
        }
        ++p;
        bool left = false, zero = false, alternate = false;
        for (;; ++p) {
            if (*p == u'-') left = true;
            else if (*p == u'0') zero = true;
            else if (*p == u'#') alternate = true;
            else break;
        }
        int width = 0;
        while (*p >= u'0' && *p <= u'9') width = width * 10 + (*p++ - u'0');
        int precision = -1;
        if (*p == u'.') {
            ++p;
            precision = 0;
            while (*p >= u'0' && *p <= u'9') precision = precision * 10 + (*p++ - u'0');
        }
        enum { kDefault, kShort, kLong } size = kDefault;
        if (*p == u'h') { size = kShort; ++p; }
        else if (*p == u'l') { size = kLong; ++p; }
        if (!*p) break;
        char16_t type = *p++;
        // The field: a sign and radix prefix, zeros, then its text.
        char16_t prefix[3];
        size_t prefixLength = 0, zeros = 0;
        const char16_t* text = nullptr;
        size_t textLength = 0;
        char16_t unit;
        char16_t digits[32];
        switch (type) {
            case u'c':
            case u'C': {
                int c = va_arg(args, int);
                if (size == kShort || (type == u'C' && size != kLong)) {
                    char b = static_cast<char>(c);
                    narrow = Narrow(&b, b ? 1 : 0, 1);
                    if (narrow.empty() && b == 0) narrow.push_back(0);
                    text = narrow.data();
                    textLength = narrow.size();
                } else {
                    unit = static_cast<char16_t>(c);
                    text = &unit;
                    textLength = 1;
                }
                break;
            }
            case u's':
            case u'S': {
                if (size == kShort || (type == u'S' && size != kLong)) {
                    const char* s = va_arg(args, const char*);
                    const char* shown = s ? s : "(null)";
                    narrow = Narrow(shown, std::strlen(shown), precision);
                    text = narrow.data();
                    textLength = narrow.size();
                } else {
                    const char16_t* s = va_arg(args, const char16_t*);
                    text = s ? s : u"(null)";
                    textLength = UnitsBefore(text, precision < 0 ? SIZE_MAX : static_cast<size_t>(precision));
                }
                break;
            }
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X': {
                int32_t v = va_arg(args, int32_t);
                if (size == kShort) v = (type == u'd' || type == u'i') ? static_cast<int16_t>(v) : static_cast<uint16_t>(v);
                bool negative = (type == u'd' || type == u'i') && v < 0;
                uint32_t u = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
                unsigned base = (type == u'x' || type == u'X') ? 16 : 10;
                const char* symbols = type == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
                size_t first = sizeof digits / sizeof digits[0];
                do {
                    digits[--first] = static_cast<char16_t>(symbols[u % base]);
                    u /= base;
                } while (u);
                text = digits + first;
                textLength = sizeof digits / sizeof digits[0] - first;
                if (negative) prefix[prefixLength++] = u'-';
                if (alternate && base == 16 && v != 0) {
                    prefix[prefixLength++] = u'0';
                    prefix[prefixLength++] = type == u'X' ? u'X' : u'x';
                }
                // Zeros up to the precision, then (with the 0 flag) up to the width.
                size_t padded = precision >= 0 && static_cast<size_t>(precision) > textLength
                                    ? static_cast<size_t>(precision)
                                    : textLength;
                if (zero && !left && prefixLength + padded < static_cast<size_t>(width)) {
                    padded = static_cast<size_t>(width) - prefixLength;
                }
                zeros = padded - textLength;
                break;
            }
            default:
                unit = type;  // "%%" and unknown types print the character itself
                text = &unit;
                textLength = 1;
                break;
        }
        const size_t length = prefixLength + zeros + textLength;
        const size_t pad = length < static_cast<size_t>(width) ? static_cast<size_t>(width) - length : 0;
        if (!left) PutRepeated(out, u' ', pad);
        Put(out, prefix, prefixLength);
        PutRepeated(out, u'0', zeros);
        Put(out, text, textLength);
        if (left) PutRepeated(out, u' ', pad);
    }
}

}  // namespace

UINT WINAPI GetACP() { return g_ansi; }
UINT WINAPI GetOEMCP() { return g_oem; }

int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }
int WINAPI lstrlenW(LPCWSTR s) { return s ? static_cast<int>(UnitsBefore(s, INT_MAX)) : 0; }

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int n, LPWSTR dst, int cap) {
    if (!src || cap < 0 || (!dst && cap != 0) || n == 0 || n < -1 ||
        (dst && static_cast<const void*>(src) == static_cast<const void*>(dst))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    UINT cp = codePage;
    if (cp == CP_ACP || cp == CP_THREAD_ACP) cp = g_ansi;
    else if (cp == CP_OEMCP) cp = g_oem;

    const DWORD known = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
    if ((flags & ~known) != 0 || ((flags & MB_PRECOMPOSED) && (flags & MB_COMPOSITE)) ||
        (cp == CP_UTF8 && (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    size_t length = n == -1 ? std::strlen(src) + 1 : static_cast<size_t>(n);
    bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(src);
    std::u16string out;
    out.reserve(length);  // no page makes more units than bytes
    bool ok;
    if (cp == CP_UTF8) {
        ok = DecodeUtf8(bytes, length, strict, out);
    } else if (const CodePageTable* t = TableFor(cp)) {
        ok = DecodeTable(*t, bytes, length, strict, out);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!ok) {
        standin::NoteFailure("MultiByteToWideChar refused \"" + standin::PrintableBytes(std::string(src, length)) + "\": it is not valid " +
                             (cp == CP_UTF8 ? std::string("UTF-8") : "in code page " + std::to_string(cp)));
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cap == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(cap)) {
        standin::NoteFailure("MultiByteToWideChar refused \"" + standin::PrintableBytes(std::string(src, length)) + "\": it needs " +
                             std::to_string(out.size()) + " UTF-16 units, more than the " + std::to_string(cap) +
                             " of the buffer it was given");
        std::memcpy(dst, out.data(), static_cast<size_t>(cap) * sizeof(WCHAR));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, out.data(), out.size() * sizeof(WCHAR));
    return static_cast<int>(out.size());
}

int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    int tie = 0;  // the first difference in case only
    for (size_t i = 0;; ++i) {
        char16_t x = a[i], y = b[i];
        if (!x || !y) {
            if (x != y) return x ? 1 : -1;
            return tie;
        }
        char16_t lx = Lower(x), ly = Lower(y);
        if (lx != ly) return lx < ly ? -1 : 1;
        if (!tie && x != y) tie = (x == lx) ? -1 : 1;  // lower case sorts first
    }
}

int WINAPI wvnsprintfW(LPWSTR buffer, int capacity, LPCWSTR format, va_list args) {
    if (!buffer || capacity <= 0 || !format) return -1;
    FormatOutput out{buffer, static_cast<size_t>(capacity) - 1, 0};
    Format(format, args, out);
    if (out.length >= out.room) {
        // Does not fit with room to spare: the first capacity - 1 units and a terminator.
        buffer[out.room] = 0;
        return -1;
    }
    buffer[out.length] = 0;
    return static_cast<int>(out.length);
}

int WINAPIV wnsprintfW(LPWSTR buffer, int capacity, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvnsprintfW(buffer, capacity, format, args);
    va_end(args);
    return n;
}

namespace standin {
void SetCodePages(UINT ansi, UINT oem) {
    g_ansi = ansi;
    g_oem = oem;
}
}  // namespace standin
