#include "asf_stage.h"

#include <pthread.h>

namespace standin {

EncodingStage::EncodingStage(size_t depth, std::function<int32_t(StagedSample&)> process)
    : depth_(depth ? depth : 1), process_(std::move(process)), thread_([this] { Run(); }) {}

EncodingStage::~EncodingStage() {
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void EncodingStage::Hand(StagedSample sample) {
    std::unique_lock<std::mutex> g(lock_);
    changed_.wait(g, [this] { return waiting_.size() < depth_; });
    waiting_.push_back(std::move(sample));
    changed_.notify_all();
}

int32_t EncodingStage::Drain() {
    std::unique_lock<std::mutex> g(lock_);
    changed_.wait(g, [this] { return waiting_.empty() && !busy_; });
    return failure_;
}

int32_t EncodingStage::Failure() {
    std::lock_guard<std::mutex> g(lock_);
    return failure_;
}

void EncodingStage::Run() {
    pthread_setname_np(pthread_self(), "asf-encode");
    QuietLibraries quiet;  // the library's notes on this thread are dropped as on the caller's
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
        changed_.wait(g, [this] { return !waiting_.empty() || stopping_; });
        if (waiting_.empty()) return;
        StagedSample sample = std::move(waiting_.front());
        waiting_.pop_front();
        busy_ = true;
        const bool skip = failure_ < 0;
        g.unlock();
        changed_.notify_all();  // room for the next sample
        int32_t hr = skip ? 0 : process_(sample);
        sample = StagedSample();  // the picture goes back to its pool here, not under the lock
        g.lock();
        if (hr < 0 && failure_ >= 0) failure_ = hr;
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace standin
