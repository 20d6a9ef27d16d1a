// The contents report of packages loaded in-process, compared as whole text.
#include "cli/contents.h"
#include "cli/loader.h"
#include "cli/run_state.h"
#include "rbd_writer.h"
#include "tempdir.h"
#include "types.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kHeaderComment =
    " comment: Copyright 1998 Reality Bytes, Inc.  All rights reserved.\n\n";

// The loader keeps its package until the process ends; a test gives it back
// so that the leak checker sees only real leaks.
std::string Report(const RBDPackage *package) {
    testing::internal::CaptureStdout();
    RBD_ListContents(package);
    return testing::internal::GetCapturedStdout();
}

// Each test works in a fresh directory of its own, which is also the working
// directory during a load, since the loader extracts entries as it reads them.
class ContentsTest : public testing::Test {
  protected:
    void TearDown() override {
        if (package_ != nullptr) {
            RBD_FreePackage(package_);
        }
    }

    // Writes the package as `file` into the test's directory and loads it
    // there, as a fresh process would. The package file is deleted again
    // before the report is made, so the report can only use memory.
    const RBDPackage *Load(const std::string &file, const PackLayout &layout) {
        EXPECT_TRUE(WriteBytes(dir_ / file, BuildPackage(layout)));
        fs::path saved = fs::current_path();
        fs::current_path(dir_.path());
        // A classic run whose output root is ./out/.
        RBDRun run{};
        run.package.path = file.c_str();
        std::snprintf(run.package.root_name, sizeof run.package.root_name, "%s", "out");
        testing::internal::CaptureStdout();
        package_ = RBD_LoadPackage(run);
        load_output_ = testing::internal::GetCapturedStdout();
        fs::current_path(saved);
        fs::remove(dir_ / file);
        return package_;
    }

    TempDir dir_;
    RBDPackage *package_ = nullptr;
    std::string load_output_;
};

TEST_F(ContentsTest, PackageWithoutGroupsPrintsHeaderBlocksOnly) {
    PackLayout layout;
    layout.header_count = 1;
    const RBDPackage *package = Load("empty.rbd", layout);

    EXPECT_EQ(Report(package), "total groups: 1\n"
                               "\nempty.rbd\n version: 2\n indices: 1\n" +
                                   kHeaderComment);
}

TEST_F(ContentsTest, FileGroupListsEveryRecordInHostOrder) {
    PackLayout layout;
    layout.entries = {FileGroup("sfx", 3), FileEntry("boom.wav", std::string(300, 'b')),
                      FileEntry("hit.wav", "h"), FileEntry("loop.wav", std::string(70000, 'l'))};
    layout.entries[0].num_files = 7; // shown as stored, apart from the record count
    const RBDPackage *package = Load("sound.rbd", layout);
    const auto data = static_cast<uint32_t>(RBD_HEADER_SIZE + 4 * RBD_RECORD_SIZE);

    EXPECT_EQ(Report(package), "total groups: 5\n"
                               "\nsound.rbd\n version: 2\n indices: 4\n" +
                                   kHeaderComment +
                                   " sfx (group)\n  flags:   16777216\n  indices: 3\n"
                                   "  files:   7\n"
                                   "  boom.wav (file)\n   size:   300\n   offset: " +
                                   std::to_string(data) +
                                   "\n"
                                   "  hit.wav (file)\n   size:   1\n   offset: " +
                                   std::to_string(data + 300) +
                                   "\n"
                                   "  loop.wav (file)\n   size:   70000\n   offset: " +
                                   std::to_string(data + 301) + "\n");
    EXPECT_TRUE(fs::exists(dir_ / "out/sfx/loop.wav"));
}

TEST_F(ContentsTest, DirectoryGroupShowsNoChildren) {
    PackLayout layout;
    layout.entries = {DirectoryGroup("data", 1), FileGroup("snd", 2), FileEntry("a.wav", "aa"),
                      FileEntry("b.wav", "bbb")};
    const RBDPackage *package = Load("music.rbd", layout);

    EXPECT_EQ(Report(package), "total groups: 5\n"
                               "\nmusic.rbd\n version: 2\n indices: 4\n" +
                                   kHeaderComment +
                                   " data (group)\n  flags:   16842752\n  indices: 1\n"
                                   "  files:   0\n");
    // The child was read and extracted all the same.
    EXPECT_TRUE(fs::exists(dir_ / "out/data/snd/b.wav"));
}

TEST_F(ContentsTest, MixedGroupsAppearInFileOrder) {
    PackEntry odd = FileGroup("odd", 0);
    odd.flags = 7;
    PackLayout layout;
    layout.entries = {FileGroup("sfx", 2),
                      FileEntry("boom.wav", "BOOM"),
                      FileEntry("hiss.wav", ""),
                      DirectoryGroup("data", 1),
                      FileGroup("txt", 1),
                      FileEntry("readme.txt", "hello"),
                      odd,
                      FileGroup("empty", 0),
                      FileGroup("music", 1),
                      FileEntry("theme.mid", "mid")};
    const RBDPackage *package = Load("games.rbd", layout);
    const auto data = static_cast<uint32_t>(RBD_HEADER_SIZE + 10 * RBD_RECORD_SIZE);

    EXPECT_EQ(Report(package),
              "total groups: 11\n"
              "\ngames.rbd\n version: 2\n indices: 10\n" +
                  kHeaderComment +
                  " sfx (group)\n  flags:   16777216\n  indices: 2\n  files:   2\n"
                  "  boom.wav (file)\n   size:   4\n   offset: " +
                  std::to_string(data) +
                  "\n"
                  "  hiss.wav (file)\n   size:   0\n   offset: " +
                  std::to_string(data + 4) +
                  "\n"
                  " data (group)\n  flags:   16842752\n  indices: 1\n  files:   0\n"
                  " odd (group)\n  flags:   7\n  indices: 0\n  files:   0\n"
                  " empty (group)\n  flags:   16777216\n  indices: 0\n  files:   0\n"
                  " music (group)\n  flags:   16777216\n  indices: 1\n  files:   1\n"
                  "  theme.mid (file)\n   size:   3\n   offset: " +
                  std::to_string(data + 9) + "\n");
    EXPECT_NE(load_output_.find("WARNING: Unknown group flag, 7, aborting!\n"), std::string::npos);
}

// The counter passes the header's count by one after a normal load: the top
// level makes one more call, which finds the end. With a header count of 1
// that first call is already the last.
TEST_F(ContentsTest, CounterIsHeaderCountPlusOneAfterNormalLoad) {
    PackLayout layout;
    layout.entries = {FileGroup("a", 1), FileEntry("x", "x"), FileGroup("b", 1),
                      FileEntry("y", "y")};
    Load("pair.rbd", layout);
    EXPECT_EQ(package_->records_read, 5u);
    EXPECT_NE(load_output_.find("Reached end of package indices.\n"), std::string::npos);
    EXPECT_EQ(Report(package_).rfind("total groups: 5\n", 0), 0u);
}

// Text fields without a zero byte are printed to the end of their field and
// no further.
TEST(ContentsFields, UnterminatedTextStopsAtItsField) {
    auto *package = static_cast<RBDPackage *>(std::calloc(1, sizeof(RBDPackage)));
    ASSERT_NE(package, nullptr);
    // Padding after the comment is not zero either, so a report reading past
    // the field would show it.
    std::memset(static_cast<void *>(package), 'z', sizeof *package);
    std::strcpy(package->path, "p.rbd");
    package->header.version = 0xAB;
    package->header.num_indices = 2;
    std::memset(package->header.comments, 'c', sizeof package->header.comments);
    auto *group = static_cast<RBDGroup *>(std::calloc(1, sizeof(RBDGroup)));
    ASSERT_NE(group, nullptr);
    group->header.flags = RBD_FILE_GROUP;
    group->header.num_indices = 1;
    std::memset(group->header.name, 'g', sizeof group->header.name);
    group->files = static_cast<RBDFileHeader *>(std::calloc(1, sizeof(RBDFileHeader)));
    ASSERT_NE(group->files, nullptr);
    std::memset(group->files[0].name, 'f', sizeof group->files[0].name);
    group->files[0].size = 1;
    group->files[0].offset = 2;
    package->groups = group;
    package->records_read = 3;

    EXPECT_EQ(Report(package), "total groups: 3\n\np.rbd\n version: AB\n indices: 2\n comment: " +
                                   std::string(1008, 'c') + "\n\n " + std::string(63, 'g') +
                                   " (group)\n  flags:   16777216\n  indices: 1\n  files:   0\n"
                                   "  " +
                                   std::string(63, 'f') + " (file)\n   size:   1\n   offset: 2\n");
    RBD_FreePackage(package);
}

} // namespace
