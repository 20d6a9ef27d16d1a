// Which entries the workers of one run must not write at once: the same
// path, or one on the other's way, spelled as the package may spell it.
#include "extract/path_clash.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool Clash(const char *group_a, const char *name_a, const char *group_b, const char *name_b) {
    return RBD_KeysClash(RBD_ClashKeyOf(group_a, name_a), RBD_ClashKeyOf(group_b, name_b));
}

TEST(PathClashTest, SamePathsAndPathsOnTheWayClashOthersDoNot) {
    // A path spelled two ways, and in another case.
    EXPECT_TRUE(Clash("data//snd/", "a.wav", "data/./snd/", "a.wav"));
    EXPECT_TRUE(Clash("Data/", "A.WAV", "data/", "a.wav"));
    // A file where a group's directory goes, either way round.
    EXPECT_TRUE(Clash("", "data", "data/snd/", "a.wav"));
    EXPECT_TRUE(Clash("data/snd/", "a.wav", "data/", "snd"));
    // Names that share a beginning but not a level.
    EXPECT_FALSE(Clash("data/", "snd", "data/", "snd2"));
    EXPECT_FALSE(Clash("data/snd/", "a.wav", "data/snd2/", "a.wav"));
    EXPECT_FALSE(Clash("a/", "x", "b/", "x"));
    // An empty name makes its group's directories: it clashes with what is
    // in them and with a file of their path.
    EXPECT_TRUE(Clash("a/", "", "a/", "x"));
    EXPECT_TRUE(Clash("a/", "", "", "a"));
    EXPECT_EQ(RBD_ClashKeyOf("/etc//", "passwd"), "/etc/passwd");
}

} // namespace
