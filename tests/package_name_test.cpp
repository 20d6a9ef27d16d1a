#include "package_name.h"
#include "types.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PackageNameTest, DropsTheLastFourCharacters) {
    ASSERT_TRUE(SetPackageName("music.rbd"));
    EXPECT_STREQ(package_name, "music");
    ASSERT_TRUE(SetPackageName("music.pak"));
    EXPECT_STREQ(package_name, "music");
    ASSERT_TRUE(SetPackageName("data"));
    EXPECT_STREQ(package_name, "");
    ASSERT_TRUE(SetPackageName("....rbd"));
    EXPECT_STREQ(package_name, "...");
}

TEST(PackageNameTest, LongestNameFitsTheBuffer) {
    std::string name(63, 'n');
    ASSERT_TRUE(SetPackageName((name + ".rbd").c_str()));
    EXPECT_EQ(package_name, name);
    EXPECT_FALSE(SetPackageName((name + "n.rbd").c_str()));
}

TEST(PackageNameTest, RefusesNamesThatCannotNameAnOutputRoot) {
    for (const char *name : {"", "a", "abc", "..rbd", "...rbd"}) {
        EXPECT_FALSE(SetPackageName(name)) << name;
    }
}

} // namespace
