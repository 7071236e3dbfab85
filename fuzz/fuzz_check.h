// A property a fuzz target checks beyond the sanitizers: a failure names the condition and
// aborts, which libFuzzer reports as a crash with the input that caused it.
#pragma once
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                            \
    do {                                                                                            \
        if (!(cond)) {                                                                              \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);     \
            std::abort();                                                                           \
        }                                                                                           \
    } while (0)
