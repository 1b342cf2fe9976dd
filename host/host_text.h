// Text as the host meets it: the module's strings in its code page, the command line's UTF-8, and
// the platform's UTF-16.
#pragma once

#include <string>

#include "platform/win32.h"

// `bytes` in `codePage` as UTF-16 through MultiByteToWideChar with `flags`; empty when it refuses.
std::u16string WideFromCodePage(UINT codePage, DWORD flags, const std::string& bytes);
