// Small RAII holders for the two kinds of platform resource the system owns: a reference on a COM
// interface and a block from the process heap. Both release on every path, so functions can return
// early on the first failure without a clean-up ladder.
#pragma once

#include "win32.h"

// One reference on a COM interface. `Out()` hands the slot to a factory call that fills it.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* adopted) : p_(adopted) {}
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    ~ComRef() { Reset(); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // Releases what is held and returns the empty slot for an out parameter.
    T** Out() {
        Reset();
        return &p_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }

    void Reset() {
        if (p_) {
            T* p = p_;
            p_ = nullptr;
            p->Release();
        }
    }
    // Gives the reference to the caller, who now owns it.
    T* Detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    T* p_ = nullptr;
};

// Asks `from` for another interface; the result holds its own reference.
template <typename To, typename From>
HRESULT QueryInterfaceInto(From* from, REFIID iid, ComRef<To>& to) {
    if (!from) return E_POINTER;
    return from->QueryInterface(iid, to.OutVoid());
}

// A block from the process heap, freed with HeapFree when the holder goes.
class HeapBlock {
public:
    HeapBlock() = default;
    explicit HeapBlock(void* adopted) : p_(adopted) {}
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    HeapBlock(HeapBlock&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    HeapBlock& operator=(HeapBlock&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    ~HeapBlock() { Reset(); }

    // Allocates `bytes` (not zeroed); false when the heap refuses.
    bool Allocate(SIZE_T bytes) {
        Reset();
        p_ = HeapAlloc(GetProcessHeap(), 0, bytes);
        return p_ != nullptr;
    }
    void* Get() const { return p_; }
    template <typename T>
    T* As() const { return static_cast<T*>(p_); }
    explicit operator bool() const { return p_ != nullptr; }

    void Reset() {
        if (p_) {
            HeapFree(GetProcessHeap(), 0, p_);
            p_ = nullptr;
        }
    }
    void* Detach() {
        void* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    void* p_ = nullptr;
};
