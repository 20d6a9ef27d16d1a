#include "extract/safe_name.h"

#include <gtest/gtest.h>

namespace {

TEST(SafeNameTest, RefusesNamesThatLeaveTheirDirectory) {
    for (const char *name : {".", "..", "a/b", "/", "/etc", "a\\b", "\\", "C:", "z:file", "Q:\\"}) {
        EXPECT_FALSE(IsSafeName(name)) << name;
    }
}

TEST(SafeNameTest, AcceptsOrdinaryNames) {
    for (const char *name :
         {"a", "...", ".hidden", "a..b", "readme.txt", "1:x", ":", "", "name with spaces"}) {
        EXPECT_TRUE(IsSafeName(name)) << name;
    }
}

} // namespace
