#include "package/group_path.h"
#include "types.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(GroupPathTest, EachNameAddsOneLevelWithItsSlash) {
    char path[RBD_MAX_PATH + 1] = {};
    ASSERT_TRUE(RBD_AppendGroupName(path, 0, "a"));
    ASSERT_TRUE(RBD_AppendGroupName(path, std::strlen(path), "b"));
    EXPECT_STREQ(path, "a/b/");
}

TEST(GroupPathTest, StopsAtTheBufferLimitLeavingThePathWhole) {
    std::string name(62, 'n');
    char path[RBD_MAX_PATH + 1] = {};
    for (int level = 0; level < 4; ++level) {
        ASSERT_TRUE(RBD_AppendGroupName(path, std::strlen(path), name.c_str()));
    }
    std::string four_levels = path;
    EXPECT_FALSE(RBD_AppendGroupName(path, four_levels.size(), "groups"));
    EXPECT_EQ(path, four_levels);
    ASSERT_TRUE(RBD_AppendGroupName(path, four_levels.size(), "group"));
    EXPECT_EQ(std::strlen(path), RBD_MAX_PATH);
}

} // namespace
