// A check for the fuzz targets: stops the run as a finding when a result
// breaks a promise the rest of the program relies on.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                           \
    do {                                                                  \
        if (!(condition)) {                                               \
            std::fprintf(stderr, "broken promise: %s\n", #condition);     \
            std::abort();                                                 \
        }                                                                 \
    } while (0)
