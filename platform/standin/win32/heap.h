// Linux stand-in: the process heap, over malloc/free, with a live-block count and failure
// injection for tests.
#pragma once
#include "base.h"

#define HEAP_ZERO_MEMORY 0x00000008

HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);

namespace standin {
// Blocks handed out by HeapAlloc and not yet freed.
long HeapLiveBlocks();
// Makes the n-th HeapAlloc from now (1 = the next one) return NULL; 0 switches it off.
void FailNthHeapAlloc(long n);
// HeapAlloc calls since the last reset, failed ones included.
long HeapAllocCalls();
}  // namespace standin
