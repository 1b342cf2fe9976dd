// Linux stand-in: code-page conversion and string helpers (declarations follow the Windows SDK).
//
// The ANSI and OEM code pages are both UTF-8 (65001) by default, as a Linux process sees its
// multibyte strings; tests can set them to any page below. Known pages: 65001 (strict UTF-8),
// 932 (Shift_JIS, through iconv's CP932), 437, 850 and 1252. Flags and error codes follow the
// published behaviour: 87 for bad parameters and unknown pages, 1004 for flags a page does not
// allow (UTF-8 takes none but MB_ERR_INVALID_CHARS), 1113 for invalid input under
// MB_ERR_INVALID_CHARS, 122 when the output does not fit.
#pragma once
#include <cstdarg>

#include "base.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WINAPIV

UINT WINAPI GetACP();
UINT WINAPI GetOEMCP();
int WINAPI lstrlenA(LPCSTR string);
int WINAPI lstrlenW(LPCWSTR string);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                               LPWSTR wide, int wideCapacity);
// Compares for sorting, as the user locale would: letters case-insensitively first, then lower
// case before upper case; other characters by their code. -1, 0 or 1.
int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b);
// wsprintf formats: %[-][0][#][width][.precision][h|l](c C d i u x X s S %); in the wide
// functions %s and %c are wide, %S and %C narrow. When the text does not fit in capacity - 1
// units the first capacity - 1 are written with a terminator and the result is -1.
int WINAPIV wnsprintfW(LPWSTR buffer, int capacity, LPCWSTR format, ...);
int WINAPI wvnsprintfW(LPWSTR buffer, int capacity, LPCWSTR format, va_list args);

namespace standin {
// Sets what CP_ACP and CP_OEMCP stand for (the reset restores 65001 for both).
void SetCodePages(UINT ansi, UINT oem);
}  // namespace standin
