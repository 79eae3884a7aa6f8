// What the fuzz targets share: a failed check is a crash for libFuzzer, which keeps the input and
// reports it.
#pragma once

#include <cstdio>

#define QL_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition);           \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)
