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

} // namespace
