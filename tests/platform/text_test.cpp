#include <gtest/gtest.h>

#include <string>

#include "platform/standin/leaks.h"
#include "platform/win32.h"

namespace {

// Converts all of `bytes`; on failure the result is empty and `error` holds the code.
std::u16string Convert(UINT cp, DWORD flags, const std::string& bytes, DWORD* error = nullptr) {
    WCHAR buffer[64];
    SetLastError(0);
    int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), buffer, 64);
    if (error) *error = GetLastError();
    return n > 0 ? std::u16string(buffer, static_cast<size_t>(n)) : std::u16string();
}

}  // namespace

TEST(MultiByteToWideChar, AnsiAndOemAreStrictUtf8ByDefault) {
    DWORD error = 0;
    EXPECT_EQ(GetACP(), 65001u);
    EXPECT_EQ(Convert(CP_ACP, MB_ERR_INVALID_CHARS, "a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80"),
              u"a\u00E9\u3042\U0001F600");
    // UTF-8 takes no flag but MB_ERR_INVALID_CHARS, also when reached through CP_ACP or CP_OEMCP.
    EXPECT_EQ(Convert(CP_OEMCP, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS, "a", &error), u"");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FLAGS));
    for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE3\x81"}) {
        EXPECT_EQ(Convert(CP_UTF8, MB_ERR_INVALID_CHARS, bad, &error), u"") << bad;
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
    EXPECT_EQ(Convert(CP_UTF8, 0, "a\x80z"), u"a\uFFFDz");
}

TEST(MultiByteToWideChar, ParametersSizesAndTheLastError) {
    WCHAR out[8] = {};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, out, 8), 0);  // an empty source fails
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, out, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, out, -1), 0);
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, out, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);  // the size needed
    SetLastError(77);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 8), 4);  // with the terminator
    EXPECT_EQ(std::u16string(out), u"abc");
    EXPECT_EQ(GetLastError(), 77u);  // success leaves the last error alone
    WCHAR small[2] = {u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, small, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(small, 2), u"ab");  // what fits is written
}

TEST(MultiByteToWideChar, ShiftJisAndWesternPages) {
    standin::SetCodePages(932, 932);
    DWORD error = 0;
    const DWORD flags = MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;
    EXPECT_EQ(Convert(CP_ACP, flags, "\x82\xA0"), u"\u3042");
    EXPECT_EQ(Convert(CP_OEMCP, flags, "\xB1"), u"\uFF71");
    EXPECT_EQ(Convert(932, flags, "C:\\\x93\xAE\x89\xE6.wmv"), u"C:\\\u52D5\u753B.wmv");
    for (const char* bad : {"\x82", "\x82\x20"}) {
        EXPECT_EQ(Convert(CP_ACP, flags, bad, &error), u"");
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
    EXPECT_EQ(Convert(1252, flags, "\x80\x81\xE9"), u"\u20AC\u0081\u00E9");
    EXPECT_EQ(Convert(437, flags, "\x82\xE1"), u"\u00E9\u00DF");
    EXPECT_EQ(Convert(850, flags, "\x9B"), u"\u00F8");
}

TEST(StringHelpers, LengthAndComparison) {
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenA("\x82\xA0z"), 3);
    EXPECT_EQ(lstrlenW(nullptr), 0);
    EXPECT_EQ(lstrlenW(u"\u3042z"), 2);
    EXPECT_EQ(lstrcmpW(u"TamselVideo1", u"TamselVideo1"), 0);
    EXPECT_NE(lstrcmpW(u"TamselVideo1", u"TamselAudio1"), 0);
    EXPECT_NE(lstrcmpW(u"TamselVideo1", u"TamselVideo"), 0);
    EXPECT_NE(lstrcmpW(u"tamselvideo1", u"TamselVideo1"), 0);
    EXPECT_EQ(lstrcmpW(u"a", u"B"), -1);  // letters first by letter, not by code
    EXPECT_EQ(lstrcmpW(u"a", u"A"), -1);  // then lower case first
    EXPECT_EQ(lstrcmpW(nullptr, nullptr), 0);
    EXPECT_EQ(lstrcmpW(nullptr, u""), -1);
}

TEST(WideFormatting, ConversionsAndTruncation) {
    WCHAR out[256];
    EXPECT_EQ(wnsprintfW(out, 256, u"%s [%s]", u"English (United States)", u"en-us"), 31);
    EXPECT_EQ(std::u16string(out), u"English (United States) [en-us]");
    EXPECT_EQ(wnsprintfW(out, 256, u"%d|%u|%x|%X|%c|%5d|%-3d|%03d|%%", -5, 4294967295u, 255, 255, u'Z', 42, 7, 9), 37);
    EXPECT_EQ(std::u16string(out), u"-5|4294967295|ff|FF|Z|   42|7  |009|%");
    EXPECT_EQ(wnsprintfW(out, 256, u"%S/%.2s", "ab", u"xyz"), 5);
    EXPECT_EQ(std::u16string(out), u"ab/xy");
    // A narrow character is that one byte, not a string that starts with it.
    EXPECT_EQ(wnsprintfW(out, 256, u"%C|%hc|", 'q', 'r'), 4);
    EXPECT_EQ(std::u16string(out), u"q|r|");

    WCHAR small[6];
    EXPECT_EQ(wnsprintfW(small, 6, u"%s", u"abcdefgh"), -1);
    EXPECT_EQ(std::u16string(small), u"abcde");
    EXPECT_EQ(wnsprintfW(small, 6, u"%s", u"abcde"), -1);  // exactly filling capacity - 1 counts too
    EXPECT_EQ(std::u16string(small), u"abcde");
    EXPECT_EQ(wnsprintfW(small, 6, u"%s", u"abcd"), 4);
    EXPECT_EQ(wnsprintfW(small, 0, u"%s", u"a"), -1);
}
