// Linux stand-in: com (declarations follow the Windows SDK).
#pragma once
#include "base.h"
