// A small lock over an atomic flag: the stand-ins that the Windows build will also compile (the
// media runtime as a wmvcore.dll for the Wine tests, and the leak registry it reports to) must do
// without std::mutex, which mingw's win32 thread model lacks. The sections it guards are short.
#pragma once

#include <atomic>

namespace standin {

// One turn of a wait that spins: tells the processor so, which frees the core's other hardware
// thread and costs less power than a bare loop.
inline void CpuRelax() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
}

class SpinLock {
public:
    void lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) CpuRelax();
    }
    void unlock() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class SpinGuard {
public:
    explicit SpinGuard(SpinLock& l) : l_(l) { l_.lock(); }
    ~SpinGuard() { l_.unlock(); }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;

private:
    SpinLock& l_;
};

}  // namespace standin
