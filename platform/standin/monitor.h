// A lock with a condition to wait on, and a thread of a stand-in's own. The Linux build uses the
// standard library; the Windows build's compiler (win32 thread model) has no std::thread, so the
// stand-in DLL uses Win32's slim locks, condition variables and threads instead.
#pragma once

#include <functional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace standin {

class Monitor {
public:
    Monitor() = default;
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

#if defined(_WIN32)
    void Lock() { AcquireSRWLockExclusive(&lock_); }
    void Unlock() { ReleaseSRWLockExclusive(&lock_); }
    // Called with the lock held; returns with it held.
    void Wait() { SleepConditionVariableSRW(&condition_, &lock_, INFINITE, 0); }
    void WakeAll() { WakeAllConditionVariable(&condition_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
#else
    void Lock() { lock_.lock(); }
    void Unlock() { lock_.unlock(); }
    void Wait() {
        std::unique_lock<std::mutex> held(lock_, std::adopt_lock);
        condition_.wait(held);
        held.release();
    }
    void WakeAll() { condition_.notify_all(); }

private:
    std::mutex lock_;
    std::condition_variable condition_;
#endif
};

class MonitorGuard {
public:
    explicit MonitorGuard(Monitor& m) : m_(m) { m_.Lock(); }
    ~MonitorGuard() { m_.Unlock(); }
    MonitorGuard(const MonitorGuard&) = delete;
    MonitorGuard& operator=(const MonitorGuard&) = delete;

private:
    Monitor& m_;
};

// One thread running `body` until it returns; Join waits for that.
class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() { Join(); }

#if defined(_WIN32)
    bool Start(std::function<void()> body) {
        body_ = std::move(body);
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        return thread_ != nullptr;
    }
    bool Started() const { return thread_ != nullptr; }
    void Join() {
        if (!thread_) return;
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<WorkerThread*>(self)->body_();
        return 0;
    }
    HANDLE thread_ = nullptr;
    std::function<void()> body_;
#else
    bool Start(std::function<void()> body) {
        thread_ = std::thread(std::move(body));
        return true;
    }
    bool Started() const { return thread_.joinable(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
#endif
};

}  // namespace standin
