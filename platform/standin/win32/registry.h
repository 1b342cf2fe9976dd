// Linux stand-in: registry (declarations follow the Windows SDK).
#pragma once
#include "base.h"
