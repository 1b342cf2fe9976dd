// Marks the stand-ins' loops over whole samples (content hashes, buffer checks). Coverage-guided
// fuzzing learns nothing from their compares, and instrumenting every iteration of them cost most
// of an export's time in the fuzz build; sanitizers still check their memory accesses.
#pragma once

#if defined(__clang__)
#define STANDIN_UNCOVERED __attribute__((no_sanitize("coverage"), noinline))
#else
#define STANDIN_UNCOVERED
#endif
