#include "base.h"

#include <unistd.h>

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD WINAPI GetLastError() { return t_lastError; }
void WINAPI SetLastError(DWORD code) { t_lastError = code; }
DWORD WINAPI GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }
