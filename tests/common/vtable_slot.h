// The vtable slot of a virtual method, from a pointer to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Under the Itanium C++ ABI (GCC's, mingw-w64's included) a pointer to a virtual member holds
// 1 + the byte offset of its slot.
template <typename C, typename F>
size_t VtableSlot(F C::*method) {
    struct Raw {
        uintptr_t ptr;
        ptrdiff_t adj;
    } raw;
    static_assert(sizeof(method) == sizeof(Raw), "Itanium member pointer");
    std::memcpy(&raw, &method, sizeof raw);
    return (raw.ptr - 1) / sizeof(void*);
}
