// CHECK for the host programs that drive the built library without a test framework: a
// failed check is reported with its place and counted; the program's exit code says whether
// any failed.
#pragma once
#include <cstdio>

namespace hostcheck {
inline int failures = 0;
}

#define CHECK(cond)                                                                        \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++hostcheck::failures;                                                         \
        }                                                                                  \
    } while (0)
