// Marks the loops of the registry stand-in over the characters of a name and its lookups in its
// own tables. The fuzz build instruments that stand-in, unlike the others, as a fuzz target feeds
// it its store's text; coverage-guided fuzzing learns nothing from these loops' compares, and
// instrumenting every iteration of them cost much of each input's time. Sanitizers still check
// their memory accesses. Never for the system's own code.
#pragma once

#if defined(__clang__)
#define STANDIN_UNCOVERED __attribute__((no_sanitize("coverage"), noinline))
#else
#define STANDIN_UNCOVERED
#endif
