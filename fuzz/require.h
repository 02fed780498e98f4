// What a target checks beyond the sanitizers: a broken promise of the
// provider aborts, so that the fuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define KQV_REQUIRE(condition, what)                                                   \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)
