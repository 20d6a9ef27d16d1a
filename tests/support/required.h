// Facilities of the system that tests need (/dev/fuse, /dev/full): where one
// is missing, the test is skipped with the reason, unless
// KESTRUN_REQUIRE_ALL=1 (set by CI, see cmake/LeftOut.cmake) makes that a
// failure.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

inline bool EverythingRequired() {
    const char *required = std::getenv("KESTRUN_REQUIRE_ALL");
    return required != nullptr && std::strcmp(required, "1") == 0;
}

#define SKIP_OR_FAIL_WITHOUT(why)                                                                  \
    do {                                                                                           \
        if (EverythingRequired()) {                                                                \
            FAIL() << "KESTRUN_REQUIRE_ALL=1 requires it: " << (why);                              \
        }                                                                                          \
        GTEST_SKIP() << (why);                                                                     \
    } while (0)
