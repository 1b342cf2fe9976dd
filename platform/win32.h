// The one platform header of the system. On Windows it is the SDK; elsewhere the same names,
// values and signatures come from our stand-ins under platform/standin/.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <objbase.h>
#include <oleauto.h>
#include <mlang.h>
#include <shlwapi.h>
#define BREVLO_WIDE(s) L##s
#else
#include "standin/win32/base.h"
#include "standin/win32/heap.h"
#include "standin/win32/mapping.h"
#include "standin/win32/message.h"
#include "standin/win32/text.h"
#include "standin/win32/registry.h"
#include "standin/win32/com.h"
#include "standin/ui/dialogs.h"
#define BREVLO_WIDE(s) u##s
#endif

#include <cstdint>

// Every string the system exchanges with the platform is UTF-16 in both builds.
static_assert(sizeof(WCHAR) == 2, "WCHAR must be a UTF-16 code unit");
