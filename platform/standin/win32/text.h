// Linux stand-in: text (declarations follow the Windows SDK).
#pragma once
#include "base.h"
