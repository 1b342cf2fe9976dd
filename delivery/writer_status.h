// A failure the writer reports on its own, outside any call: the module's status callback on the
// file sink sets it from whatever thread the runtime calls back on, and the writing pass reads it
// before each sample, so that a full disk stops the run as an abort would.
#pragma once

#include <atomic>

#include "platform/win32.h"

struct WriterStatus {
    std::atomic<HRESULT> Failure{S_OK};
};

// The first failure reported, S_OK when none was (or when nothing is watched).
inline HRESULT ReportedFailure(const WriterStatus* status) { return status ? status->Failure.load() : S_OK; }
