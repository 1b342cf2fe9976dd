// Linux stand-in: dialogs (declarations follow the Windows SDK).
#pragma once
#include "../win32/base.h"
