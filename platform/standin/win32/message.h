// Linux stand-in: message (declarations follow the Windows SDK).
#pragma once
#include "base.h"
