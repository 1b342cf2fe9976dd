// Linux stand-in: the message box and the debugger output (declarations follow the Windows SDK).
//
// MessageBoxA shows nothing on screen: it prints caption and text to standard error (decoded from
// code page 932, in which the system's narrow literals are written), records the box for tests
// and answers IDOK, as a user pressing OK would. OutputDebugStringW is recorded and printed to
// standard error only when BREVLO_DEBUG_OUTPUT is set, as a debugger would show it.
#pragma once
#include <string>
#include <vector>

#include "base.h"

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_APPLMODAL 0x00000000L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
void WINAPI OutputDebugStringW(LPCWSTR text);

namespace standin {

struct MessageBoxRecord {
    HWND owner;
    std::string text;     // the bytes as passed (code page 932)
    std::string caption;  // "Error" when none was passed, as Windows shows it
    UINT style;
};

// Every box shown since the last reset, oldest first.
std::vector<MessageBoxRecord> ShownMessageBoxes();
// Every debugger output line since the last reset.
std::vector<std::u16string> DebugOutput();

// Code page 932 bytes as UTF-8; bytes that are not valid 932 come out as \xNN.
std::string Utf8FromCodePage932(const std::string& bytes);

}  // namespace standin
