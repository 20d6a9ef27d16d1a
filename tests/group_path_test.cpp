#include "package/group_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

RBDGroup Group(const char *name, RBDGroup *parent = nullptr) {
    RBDGroup group{};
    std::strncpy(group.header.name, name, sizeof group.header.name - 1);
    group.parent = parent;
    return group;
}

TEST(GroupPathTest, RunsFromTheTopLevelDown) {
    RBDGroup a = Group("a");
    RBDGroup b = Group("b", &a);
    RBDGroup c = Group("c", &b);
    char path[RBD_MAX_PATH + 1] = {};
    ASSERT_TRUE(RecurseGroupPath(path, &c));
    EXPECT_STREQ(path, "a/b/c/");

    char top[RBD_MAX_PATH + 1] = {};
    ASSERT_TRUE(RecurseGroupPath(top, &a));
    EXPECT_STREQ(top, "a/");
}

TEST(GroupPathTest, StopsAtTheBufferLimit) {
    std::string name(62, 'n');
    RBDGroup g1 = Group(name.c_str());
    RBDGroup g2 = Group(name.c_str(), &g1);
    RBDGroup g3 = Group(name.c_str(), &g2);
    RBDGroup g4 = Group(name.c_str(), &g3);
    RBDGroup fits = Group("group", &g4);
    RBDGroup over = Group("groups", &g4);

    char path[RBD_MAX_PATH + 1] = {};
    ASSERT_TRUE(RecurseGroupPath(path, &fits));
    EXPECT_EQ(std::strlen(path), 258u);

    char longer[RBD_MAX_PATH + 1] = {};
    EXPECT_FALSE(RecurseGroupPath(longer, &over));
    EXPECT_EQ(std::strlen(longer), 4u * 63u); // whole components only
}

TEST(GroupPathTest, SafetyLooksAtEveryAncestor) {
    RBDGroup up = Group("..");
    RBDGroup below = Group("fine", &up);
    RBDGroup plain = Group("fine");
    EXPECT_FALSE(IsSafeGroup(&below));
    EXPECT_TRUE(IsSafeGroup(&plain));
}

} // namespace
