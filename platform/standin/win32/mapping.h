// Linux stand-in: named file mappings (declarations follow the Windows SDK).
//
// A pagefile-backed mapping is a POSIX shared-memory object under the mapping's own name
// ("vfrout_4242" is /dev/shm/vfrout_4242), so another process can publish a mapping that this one
// opens. Names are case-sensitive and may not contain a backslash or a slash. The object goes away
// when the process that created it drops its last handle and view. Every process holding an object
// keeps a shared lock on it, so one left by a process that died (nobody locks it) counts as gone:
// opening it fails and creating it makes it afresh at the size asked. A read-only mapping (created
// with PAGE_READONLY, or made read-only by a test) refuses views with write access, as Windows
// refuses them on a PAGE_READONLY section; read views are mapped without write permission. A
// handle keeps the access it was opened with, and a handle opened without FILE_MAP_WRITE gives no
// write view either (handles from CreateFileMappingA have all access).
#pragma once
#include "base.h"

typedef void* PVOID;

#ifndef ERROR_BAD_LENGTH
#define ERROR_BAD_LENGTH 24L
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define FILE_MAP_COPY 0x0001
#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define SECTION_ALL_ACCESS 0x000F001F
#define FILE_MAP_ALL_ACCESS SECTION_ALL_ACCESS

#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_WRITECOPY 0x08
#define SEC_COMMIT 0x08000000

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_FREE 0x00010000
#define MEM_PRIVATE 0x00020000
#define MEM_MAPPED 0x00040000

struct _MEMORY_BASIC_INFORMATION {
    PVOID BaseAddress;
    PVOID AllocationBase;
    DWORD AllocationProtect;
#if defined(__x86_64__) || defined(__aarch64__)
    WORD PartitionId;
#endif
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
};
typedef _MEMORY_BASIC_INFORMATION MEMORY_BASIC_INFORMATION;
typedef _MEMORY_BASIC_INFORMATION* PMEMORY_BASIC_INFORMATION;

// Only pagefile-backed mappings (file = INVALID_HANDLE_VALUE) exist here.
HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect,
                                 DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name);
HANDLE WINAPI OpenFileMappingA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                            SIZE_T bytesToMap);
BOOL WINAPI UnmapViewOfFile(LPCVOID base);
BOOL WINAPI CloseHandle(HANDLE object);
// Knows the views of this stand-in only: RegionSize is the rest of the view from the page of
// `address`, rounded up to whole pages. Any other address answers 0 with ERROR_INVALID_PARAMETER.
SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length);

namespace standin {

// Handles and views of this process not yet closed / unmapped (the leak probe reports them).
long OpenMappingHandles();
long MappedViews();

// Makes the mapping of that name read-only from now on, for every process: later views with write
// access fail with ERROR_ACCESS_DENIED. Views already mapped keep their access. False when no such
// mapping exists.
bool MakeFileMappingReadOnly(const char* name);

// Removes the names of the objects this process created, for a process about to die of a signal:
// async-signal-safe. Views and handles stay valid; no other process can open the names after it.
void RemoveCreatedMappingNames();

// While on, every MapViewOfFile fails with ERROR_NOT_ENOUGH_MEMORY (the reset turns it off).
void FailMapViewOfFile(bool fail);

}  // namespace standin
