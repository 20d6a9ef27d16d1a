#include "hostkit/hostkit.h"
#include "rbd_writer.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>

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

// What a tree's comparison stands on: a listing that tells a link for a
// link, and a file opened only when it is a regular one, never through a
// link and never waiting on a FIFO.
TEST(HostkitTest, TreeNamesAreListedAsTheyAreAndOnlyRegularFilesOpen) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / "file", "bytes"));
    fs::create_directory(dir / "sub");
    fs::create_symlink("file", dir / "to-file");
    fs::create_directory_symlink("sub", dir / "to-sub");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    hkDirectory *top = hkOpenDirectory(dir.path().c_str());
    ASSERT_NE(top, nullptr);

    hkListing *listing = hkListDirectory(top);
    ASSERT_NE(listing, nullptr);
    std::map<std::string, int> kinds;
    const char *name = nullptr;
    int kind = 0;
    while (hkNextName(listing, &name, &kind) == 1) {
        kinds[name] = kind;
    }
    EXPECT_EQ(hkNextName(listing, &name, &kind), 0);
    hkCloseListing(listing);
    EXPECT_EQ(kinds, (std::map<std::string, int>{{"fifo", HK_KIND_OTHER},
                                                 {"file", HK_KIND_FILE},
                                                 {"sub", HK_KIND_DIRECTORY},
                                                 {"to-file", HK_KIND_LINK},
                                                 {"to-sub", HK_KIND_LINK}}));

    int fd = -1;
    ASSERT_EQ(hkOpenFileBelow(top, "file", &fd), HK_OPEN_DONE);
    char bytes[8] = {};
    EXPECT_EQ(hkReadAt(fd, 1, bytes, sizeof bytes), 4);
    EXPECT_STREQ(bytes, "ytes");
    EXPECT_TRUE(hkCloseFile(fd));
    EXPECT_EQ(hkOpenFileBelow(top, "to-file", &fd), HK_OPEN_LINK);
    EXPECT_EQ(hkOpenFileBelow(top, "fifo", &fd), HK_OPEN_NOT_FILE);
    EXPECT_EQ(hkOpenFileBelow(top, "sub", &fd), HK_OPEN_NOT_FILE);
    EXPECT_EQ(hkOpenFileBelow(top, "missing", &fd), HK_OPEN_FAILED);
    EXPECT_STRNE(hkGetError(), "");
    hkCloseDirectory(top);
}

} // namespace
