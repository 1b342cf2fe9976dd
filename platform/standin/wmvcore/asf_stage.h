// The encoding stage of the ASF file sink: the thread that encodes and muxes what the writer's
// caller has already converted, so that the next picture is converted while this one is encoded.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "asf_common.h"

namespace standin {

// One sample on its way to the encoders, owning its bytes: the writer releases its buffer as
// soon as the sink's call returns.
struct StagedSample {
    uint32_t input = 0;
    bool analysis = false;  // a preprocessing pass's sample
    uint64_t time = 0;
    uint32_t flags = 0;
    FramePtr picture;            // video, already converted
    std::vector<uint8_t> bytes;  // audio, as the writer handed it over
};

// Runs `process` on each staged sample, on a thread of its own, in the order they were handed
// over. At most `depth` samples wait, so memory stays bounded whatever the length of the job.
// After the first failure nothing more is processed; it is kept for the caller to collect.
class EncodingStage {
public:
    EncodingStage(size_t depth, std::function<int32_t(StagedSample&)> process);
    ~EncodingStage();  // processes what waits, then ends the thread
    EncodingStage(const EncodingStage&) = delete;
    EncodingStage& operator=(const EncodingStage&) = delete;

    // Waits while the queue is full.
    void Hand(StagedSample sample);
    // Waits until everything handed over is processed; answers the first failure, 0 if none.
    int32_t Drain();
    // The first failure so far, without waiting.
    int32_t Failure();

private:
    void Run();

    const size_t depth_;
    const std::function<int32_t(StagedSample&)> process_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<StagedSample> waiting_;
    bool busy_ = false;
    bool stopping_ = false;
    int32_t failure_ = 0;
    std::thread thread_;
};

}  // namespace standin
