// A module for the host's own tests: its Output hands every frame to the writer and then writes
// into the buffer it handed over, as a module that reuses a buffer too early would. The stand-in
// runtime must catch it every time, and the host must report it.
#include <cstring>

#include "platform/holders.h"
#include "platform/win32.h"
#include "platform/wm/wm.h"
#include "plugin/host_job.h"
#include "tests/common/standin_writer.h"

namespace {

int32_t __cdecl ScribblingOutput(HostJob* job) {
    HostJob video = *job;
    video.ContentFlags = HasVideo;
    standinwriter::RunningWriter run;
    if (FAILED(standinwriter::StartWriter(video, &run))) return 0;
    const DWORD bytes = static_cast<DWORD>(job->FrameBytes);
    for (int32_t frame = 0; frame < job->FrameCount; ++frame) {
        const void* image = job->FetchFrame(frame);
        ComRef<INSSBuffer> buffer;
        BYTE* memory = nullptr;
        DWORD length = 0;
        if (!image || FAILED(run.writer->AllocateSample(bytes, buffer.Out())) ||
            FAILED(buffer->GetBufferAndLength(&memory, &length)))
            break;
        std::memcpy(memory, image, bytes);
        buffer->SetLength(bytes);
        QWORD time = static_cast<QWORD>(frame) * 10000000ull * static_cast<QWORD>(job->Scale) /
                     static_cast<QWORD>(job->Rate);
        if (FAILED(run.writer->WriteSample(static_cast<DWORD>(run.table[0].InputNumber), time, 0, buffer.Get()))) break;
        memory[0] ^= 0xFF;  // too late: the writer still holds it
    }
    return SUCCEEDED(run.writer->EndWriting()) ? 1 : 0;
}

OutputPluginTable g_table = {0, "Scribbling", "All (*.*)\0*.*\0\0", "Scribbling", nullptr, nullptr,
                             ScribblingOutput, nullptr, nullptr, nullptr};

}  // namespace

extern "C" OutputPluginTable* __cdecl GetOutputPluginTable() { return &g_table; }
