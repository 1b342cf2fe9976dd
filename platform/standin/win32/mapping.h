// Linux stand-in: mapping (declarations follow the Windows SDK).
#pragma once
#include "base.h"
