#include "delivery/sample_passes.h"

#include <cstring>

#include "delivery/frame_timing.h"
#include "platform/holders.h"

namespace {

constexpr QWORD kUnitsPerSecond = 10000000;

// Audio of `count` sample frames as a byte count; false when it does not fit a writer buffer.
bool AudioByteCount(const HostJob& job, int32_t count, DWORD* bytes) {
    if (count <= 0) {
        *bytes = 0;
        return true;
    }
    uint64_t total = static_cast<uint64_t>(count) * static_cast<uint64_t>(job.AudioSampleBytes);
    if (total > 0xFFFFFFFFull) return false;
    *bytes = static_cast<DWORD>(total);
    return true;
}

QWORD AudioTime(const HostJob& job, uint64_t position) {
    return position * kUnitsPerSecond / static_cast<uint64_t>(job.AudioRate);
}

// The audio that belongs to a kept frame: from the first dropped frame before it to its own end,
// on the grid floor(A × k / F), so consecutive blocks meet exactly. An empty block is still asked
// for; it writes nothing and leaves `last` as the result.
HRESULT SendFrameAudio(const HostJob& job, const SampleTarget& audio, uint32_t frame, uint32_t dropped,
                       HRESULT last) {
    const uint64_t a = static_cast<uint64_t>(job.AudioSampleCount);
    const uint64_t f = static_cast<uint64_t>(job.FrameCount);
    const uint64_t first = a * (frame - dropped) / f;
    const uint64_t next = a * (static_cast<uint64_t>(frame) + 1) / f;
    const int32_t asked = static_cast<int32_t>(next - first);
    int32_t read = 0;
    const void* data = job.FetchAudio(static_cast<int32_t>(first), asked, &read);
    // The block behind the pointer is no longer than what was asked for, whatever count comes back.
    if (read > asked) read = asked;
    DWORD bytes = 0;
    if (!AudioByteCount(job, read, &bytes)) return E_INVALIDARG;
    if (bytes == 0) return last;
    return SendHostSample(audio, data, bytes, AudioTime(job, first), nullptr, 0);
}

}  // namespace

bool VideoCanBeTimed(const HostJob& job) {
    return job.Rate > 0 && job.Scale > 0 && job.FrameCount >= 0 && job.FrameBytes >= 0;
}

bool AudioCanBeTimed(const HostJob& job) {
    return job.AudioRate > 0 && job.AudioSampleCount >= 0 && job.AudioSampleBytes > 0;
}

HRESULT SendHostSample(const SampleTarget& target, const void* data, DWORD bytes, QWORD time,
                       const HostJob* keyFrameFrom, int32_t frame) {
    if (!data && bytes > 0) return E_POINTER;
    HRESULT reported = ReportedFailure(target.Status);
    if (FAILED(reported)) return reported;
    ComRef<INSSBuffer> buffer;
    HRESULT hr = target.Writer->AllocateSample(bytes, buffer.Out());
    if (FAILED(hr)) return hr;
    BYTE* memory = nullptr;
    DWORD length = 0;
    hr = buffer->GetBufferAndLength(&memory, &length);
    if (FAILED(hr)) return hr;
    if (bytes > 0) {
        if (!memory) return E_POINTER;
        std::memcpy(memory, data, bytes);
    }
    hr = buffer->SetLength(bytes);
    if (FAILED(hr)) return hr;
    DWORD flags = 0;
    if (keyFrameFrom && (static_cast<uint32_t>(keyFrameFrom->QueryFrameFlags(frame)) & FrameFlagKeyFrame)) {
        flags = WM_SF_CLEANPOINT;
    }
    if (target.Preprocess) return target.Preprocess->PreprocessSample(target.InputNumber, time, 0, buffer.Get());
    return target.Writer->WriteSample(target.InputNumber, time, flags, buffer.Get());
}

PassOutcome WalkVideoPass(const HostJob& job, const VideoPassPlan& plan) {
    PassOutcome outcome{S_OK, false, false};
    OpenFrameTimingMap();
    FrameTimeline line = BeginFrameTimeline(job.Rate, job.Scale);
    uint32_t dropped = 0;
    const uint32_t frames = static_cast<uint32_t>(job.FrameCount);
    uint32_t i = 0;
    bool wroteAny = false;
    for (; i < frames; ++i) {
        const int32_t frame = static_cast<int32_t>(i);
        if (job.AbortRequested()) {
            // A stop before the first sample of the writing pass leaves no file worth keeping.
            if (!plan.Writing) outcome.Result = E_FAIL;
            else if (!wroteAny) outcome.Result = E_ABORT;
            break;
        }
        if (plan.Writing) job.ShowProgress(frame, job.FrameCount);
        const void* image = job.FetchFrame(frame);
        uint64_t stamp = 0;
        const FrameStep step = StepFrameTimeline(line, frame, &stamp);
        if (step == FrameStep::NoTimingData) {
            outcome.TimingEnded = true;
            break;
        }
        if (step == FrameStep::Dropped) {
            ++dropped;
            continue;
        }
        if (!image) {
            outcome.Result = E_POINTER;
            break;
        }
        if (plan.Preview) job.RefreshPreview();
        outcome.Result = SendHostSample(plan.Video, image, static_cast<DWORD>(job.FrameBytes), stamp,
                                        plan.Writing ? &job : nullptr, frame);
        if (FAILED(outcome.Result)) break;
        wroteAny = true;
        if (plan.Audio) {
            outcome.Result = SendFrameAudio(job, *plan.Audio, i, dropped, outcome.Result);
            if (FAILED(outcome.Result)) break;
        }
        dropped = 0;
    }
    outcome.Complete = (i == frames);
    // Nor is a writing pass that handed the writer nothing, whatever ended it (every frame
    // dropped, no timing data from the first frame, an empty job).
    if (plan.Writing && !wroteAny && SUCCEEDED(outcome.Result)) outcome.Result = E_FAIL;
    CloseFrameTimingMap();
    return outcome;
}

PassOutcome WalkAudioPass(const HostJob& job, const SampleTarget& target, bool writing) {
    PassOutcome outcome{S_OK, false, false};
    const int32_t block = job.AudioRate / 2;
    int64_t position = 0;
    while (position < job.AudioSampleCount) {
        if (job.AbortRequested()) {
            if (!writing) outcome.Result = E_FAIL;
            else if (position == 0) outcome.Result = E_ABORT;
            return outcome;
        }
        int32_t read = 0;
        const void* data = job.FetchAudio(static_cast<int32_t>(position), block, &read);
        // The block behind the pointer holds no more than was asked for, nor more than the job
        // has left, whatever count comes back.
        const int64_t left = job.AudioSampleCount - position;
        if (read > block) read = block;
        if (read > left) read = static_cast<int32_t>(left);
        // An editor with nothing more before the end would keep the walk from ever finishing.
        if (read <= 0) {
            if (!writing) outcome.Result = E_UNEXPECTED;
            else if (position == 0) outcome.Result = E_FAIL;
            else outcome.Complete = true;
            return outcome;
        }
        DWORD bytes = 0;
        if (!AudioByteCount(job, read, &bytes)) {
            outcome.Result = E_INVALIDARG;
            return outcome;
        }
        outcome.Result = SendHostSample(target, data, bytes, AudioTime(job, static_cast<uint64_t>(position)),
                                        nullptr, 0);
        if (FAILED(outcome.Result)) return outcome;
        position += read;
    }
    outcome.Complete = true;
    // A writing pass of no audio at all leaves no file worth keeping.
    if (writing && position == 0) outcome.Result = E_FAIL;
    return outcome;
}
