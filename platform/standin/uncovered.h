// Marks the stand-ins' loops over whole samples (content hashes, buffer checks), over the
// characters of a text, and their lookups in their own tables (a window by its handle). Coverage-
// guided fuzzing learns nothing from their compares, and instrumenting every iteration of them
// cost most of an export's or a sheet's time in the fuzz build; sanitizers still check their
// memory accesses. Never for the system's own code.
#pragma once

#if defined(__clang__)
#define STANDIN_UNCOVERED __attribute__((no_sanitize("coverage"), noinline))
#else
#define STANDIN_UNCOVERED
#endif
