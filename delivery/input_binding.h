// One stream of a job as a writer input: which input carries it, the connection name that finds
// that input, and the uncompressed format of the editor's data. The Output run fills and binds a
// table of one or two entries, video first; the delivery and preprocessing passes read only
// InputNumber (entry 0 video and entry 1 audio with both streams, else entry 0 the one stream).
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "platform/wm/wm.h"

struct InputBinding {
    int32_t InputNumber;          // -1 until bound
    const WCHAR* ConnectionName;  // constant, NUL-terminated
    WM_MEDIA_TYPE MediaType;      // pbFormat points to a format block the entry owns
};
