#pragma once

#include <cstdio>
#include <cstdlib>

// A failed check ends the fuzzer's run with the condition, which libFuzzer records as a crash
// together with the input that caused it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
