// What the cross-check's two sides share: the record of the last call that reached an object built
// from the independent declarations, and one way to turn each argument into a number.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

struct CallRecord {
    int slot = -1;                // the vtable slot whose entry ran
    std::vector<uint64_t> args;   // `this` first, then each argument
};

// The last call, and a fresh start before the next one.
const CallRecord& LastCall();
void ForgetLastCall();

// The object built for `iface` from the independent declaration, null when there is none. Each
// entry of its vtable records the call and returns 0x100 + its slot.
void* IndependentObject(const char* iface);
// The name of the method in `slot` of `iface` there, "" when the slot does not exist.
std::string IndependentMethod(const char* iface, int slot);
int IndependentSlotCount(const char* iface);
// The interface identifier there (mingw-w64's own, or the documented one where mingw-w64 has none).
bool IndependentIid(const char* iface, GUID* iid);
// The value mingw-w64 gives the status `name` (WMT_ERROR, …); false when it has none.
bool IndependentStatusValue(const char* name, long* value);
// Whether the declaration of `iface` is mingw-w64's (else it was written from the reference table).
bool DeclaredByMingw(const char* iface);

// An argument as a number: its value, or the address for pointers and references.
template <typename T>
uint64_t ArgBits(T value) {
    if constexpr (std::is_pointer<T>::value || std::is_null_pointer<T>::value) {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
    } else {
        return static_cast<uint64_t>(value);
    }
}
inline uint64_t ArgBits(const GUID& guid) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&guid)); }
