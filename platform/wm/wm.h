// The Windows Media Format runtime as the system sees it: types, GUIDs, codes and interfaces.
#pragma once

#include "wm_types.h"
#include "wm_interfaces.h"
