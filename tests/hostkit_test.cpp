#include "hostkit/hostkit.h"
#include "rbd_writer.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(HostkitTest, FileNameIsTheLastComponent) {
    EXPECT_STREQ(hkGetFileName("games/music.rbd"), "music.rbd");
    EXPECT_STREQ(hkGetFileName("/a/b/c.rbd"), "c.rbd");
    EXPECT_STREQ(hkGetFileName("plain.rbd"), "plain.rbd");
    EXPECT_STREQ(hkGetFileName("dir/"), "");
}

TEST(HostkitTest, FileExistsOnlyForNonDirectories) {
    TempDir dir;
    std::string file = dir / "f";
    fs::create_directory(dir / "d");
    ASSERT_TRUE(WriteBytes(file, ""));
    EXPECT_TRUE(hkFileExists(file.c_str()));
    EXPECT_FALSE(hkFileExists((dir / "d").c_str()));
    EXPECT_FALSE(hkFileExists((dir / "missing").c_str()));
    EXPECT_STRNE(hkGetError(), "");
}

TEST(HostkitTest, CreatePathMakesEveryLevelAndAcceptsExistingOnes) {
    TempDir dir;
    std::string nested = dir / "a/b//c/";
    EXPECT_TRUE(hkCreatePath(nested.c_str()));
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    EXPECT_TRUE(hkCreatePath(nested.c_str()));
    std::string no_slash = dir / "a/x/y";
    EXPECT_TRUE(hkCreatePath(no_slash.c_str()));
    EXPECT_TRUE(fs::is_directory(no_slash));
}

TEST(HostkitTest, CreatePathFailsWhenAFileIsInTheWay) {
    TempDir dir;
    fs::create_directory(dir / "a");
    ASSERT_TRUE(WriteBytes(dir / "a/file", ""));
    std::string blocked = dir / "a/file/b/";
    EXPECT_FALSE(hkCreatePath(blocked.c_str()));
    std::string is_file = dir / "a/file/";
    EXPECT_FALSE(hkCreatePath(is_file.c_str()));
}

} // namespace
