// Linux stand-in: the registry of the current user (declarations follow the Windows SDK).
//
// The store is one text file in the format of a .reg export, under
// ${XDG_CONFIG_HOME:-$HOME/.config}/brevlo/registry.reg, that a person can read and edit. Every
// change re-reads the file under an exclusive lock, writes a complete new file beside it and renames
// it into place, so two processes never lose each other's values and a process that dies mid-write
// leaves the old file intact. A file that cannot be parsed answers every read with ERROR_BADDB and
// is renamed aside (registry.reg.bad-<time>) before the next write starts a fresh one. A process
// may keep its store in memory instead (KeepRegistryInMemory), with everything else the same.
#pragma once
#include <string>
#include <vector>

#include "base.h"

typedef ACCESS_MASK REGSAM;

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define ERROR_WRITE_FAULT 29L
#define ERROR_BADDB 1009L

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                            LPDWORD disposition);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize);
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize);
LONG WINAPI RegCloseKey(HKEY key);

namespace standin {

// Where the store of this process lives (follows XDG_CONFIG_HOME at each call).
std::string RegistryFilePath();

// Stores any value as given, bypassing type and size rules and write denial (a REG_DWORD of two
// bytes, a string where a number belongs ...). `keyPath` is below HKEY_CURRENT_USER; missing keys
// are created. False when the file could not be written.
bool PlantRegistryValue(const char* keyPath, const char* valueName, DWORD type, const void* data,
                        DWORD size);
// Removes one value; true when it existed.
bool RemoveRegistryValue(const char* keyPath, const char* valueName);

// Makes the store read-only at and below `keyPath` ("" = the whole store): creating such a key, or
// opening it with write access, and setting its values fail with ERROR_ACCESS_DENIED.
// Each call adds a path; the reset lifts all of them.
void DenyRegistryWrites(const char* keyPath);

// Handles from RegOpenKeyExA / RegCreateKeyExA not yet closed (the leak probe reports them).
long RegistryOpenKeys();

// Keeps the store in this process's memory instead of the file (true), or in the file again
// (false). The store in memory holds the same text and goes through the same parser, writer, rules
// and hook, without a lock, a temporary file or a sync; it starts empty, and the reset empties it.
// The choice outlives the reset.
void KeepRegistryInMemory(bool inMemory);

// The bytes of the store wherever it is kept; false when there is no store (or it cannot be read).
bool ReadRegistryStore(std::string* bytes);
// Replaces the store's bytes, as a hand edit or another program would. False when they could not
// be written.
bool WriteRegistryStore(const std::string& bytes);
// The bytes of each store set aside because it could not be read, in the order they were set aside.
std::vector<std::string> SetAsideRegistryStores();

// Called after the new file is complete on disk and before it is renamed into place, with the
// lock held (in memory: before the new text replaces the old): a test can end the process there.
// Null switches it off.
void SetRegistryBeforeRenameHook(void (*hook)());

}  // namespace standin
