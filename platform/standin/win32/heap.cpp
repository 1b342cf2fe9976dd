#include "heap.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "../leaks.h"

namespace {

std::atomic<long> g_live{0};
std::atomic<long> g_failCountdown{0};
std::atomic<long> g_allocCalls{0};
int g_heapToken;  // its address is the process heap handle

struct HeapProbe {
    HeapProbe() {
        standin::RegisterLeakProbe("heap", [] {
            long n = g_live.load();
            return n ? std::to_string(n) + " heap block(s) not freed" : std::string();
        });
        standin::RegisterReset("heap", [] {
            g_failCountdown = 0;
            g_allocCalls = 0;
        });
    }
} g_heapProbe;

}  // namespace

HANDLE WINAPI GetProcessHeap() { return &g_heapToken; }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != &g_heapToken) return nullptr;
    ++g_allocCalls;
    long c = g_failCountdown.load();
    if (c > 0) {
        g_failCountdown = c - 1;
        if (c == 1) return nullptr;
    }
    void* p = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (p) ++g_live;
    return p;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
    if (heap != &g_heapToken) return FALSE;
    if (!block) return TRUE;
    std::free(block);
    --g_live;
    return TRUE;
}

namespace standin {
long HeapLiveBlocks() { return g_live.load(); }
void FailNthHeapAlloc(long n) { g_failCountdown = n < 0 ? 0 : n; }
long HeapAllocCalls() { return g_allocCalls.load(); }
}  // namespace standin
