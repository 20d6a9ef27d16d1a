#include "package/safe_name.h"

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

// Windows turns these into devices, drops their trailing dots and spaces, or
// reads a colon as the start of a stream name.
TEST(SafeNameTest, WindowsRulesRefuseDevicesTrimmedNamesAndStreams) {
    for (const char *name : {"CON",        "con",      "Prn",   "aux",   "NUL",
                             "COM1",       "com9",     "LPT1",  "lpt9",  "nul.txt",
                             "CON.tar.gz", "aux .txt", "COM1 ", "name.", "name ",
                             "...",        " ",        "ab:c",  "1:x",   "file.txt:stream",
                             ":"}) {
        EXPECT_FALSE(IsSafeNameOn(name, true)) << name;
        EXPECT_TRUE(IsSafeNameOn(name, false)) << name;
    }
}

TEST(SafeNameTest, WindowsRulesKeepNamesThatOnlyLookLikeDevices) {
    for (const char *name : {"COM0", "COM10", "LPT0", "LPTX", "CONSOLE", "CO", "nul_x", "con-1.txt",
                             ".con", "x.con", "a.b", "..a", ".hidden", "a b"}) {
        EXPECT_TRUE(IsSafeNameOn(name, true)) << name;
    }
}

TEST(SafeNameTest, WindowsRulesKeepEverySeparatorAndDriveRule) {
    for (const char *name : {".", "..", "a/b", "a\\b", "C:", "z:file"}) {
        EXPECT_FALSE(IsSafeNameOn(name, true)) << name;
        EXPECT_FALSE(IsSafeNameOn(name, false)) << name;
    }
}

} // namespace
