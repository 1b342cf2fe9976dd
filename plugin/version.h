// The plug-in's version, in the one place the build takes it from: the information line of the
// plug-in table, the DLL's version resource and the release archive's name.
#pragma once

#define BREVLO_VERSION_TEXT "0.5a"
// 0.5a as four numbers: major, minor, patch, and the letter (a = 1).
#define BREVLO_VERSION_NUMBERS 0, 5, 0, 1
#define BREVLO_VERSION_DOTTED "0.5.0.1"
#define BREVLO_PRODUCT_NAME "Brevlo(VFR)"
#define BREVLO_COPYRIGHT "Copyright (c) 2026 the Brevlo(VFR) developers. MIT License."
