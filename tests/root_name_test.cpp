#include "package/root_name.h"
#include "types.h"

#include <gtest/gtest.h>

#include <string>

namespace {

char root[RBD_MAX_PACKAGE_NAME + 1];

TEST(RootNameTest, DropsTheLastFourCharacters) {
    ASSERT_TRUE(RBD_RootNameOf("music.rbd", root));
    EXPECT_STREQ(root, "music");
    ASSERT_TRUE(RBD_RootNameOf("music.pak", root));
    EXPECT_STREQ(root, "music");
    ASSERT_TRUE(RBD_RootNameOf("data", root));
    EXPECT_STREQ(root, "");
    ASSERT_TRUE(RBD_RootNameOf("....rbd", root));
    EXPECT_STREQ(root, "...");
}

TEST(RootNameTest, LongestNameFitsTheBuffer) {
    std::string name(63, 'n');
    ASSERT_TRUE(RBD_RootNameOf((name + ".rbd").c_str(), root));
    EXPECT_EQ(root, name);
    EXPECT_FALSE(RBD_RootNameOf((name + "n.rbd").c_str(), root));
}

TEST(RootNameTest, RefusesNamesThatCannotNameAnOutputRoot) {
    for (const char *name : {"", "a", "abc", "..rbd", "...rbd"}) {
        EXPECT_FALSE(RBD_RootNameOf(name, root)) << name;
    }
}

} // namespace
