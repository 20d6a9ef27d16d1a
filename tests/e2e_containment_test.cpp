// What the output tree may already hold: links, special files and other names
// of the package are never followed, opened or overwritten; and the output
// budget of a package whose records share their data.
#include "e2e.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using ContainmentTest = ExtractTest;

const char kTail[] = "Reached end of package indices.\nDone!\n";

bool IsRegularFile(const std::string &path) {
    return fs::is_regular_file(fs::symlink_status(path));
}

TEST_F(ContainmentTest, WhatHasAnEntrysNameIsReplacedNeverFollowedOrOpened) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "symbolic links, hard links and FIFOs as POSIX has them";
    }
    fs::create_directories(Work("pkg/g"));
    fs::create_directory(Work("elsewhere"));
    ASSERT_TRUE(WriteBytes(Work("elsewhere/target"), "keep"));
    ASSERT_TRUE(WriteBytes(Work("elsewhere/linked"), "keep too"));
    fs::create_symlink("../../elsewhere/target", Work("pkg/g/link"));
    fs::create_symlink("../../elsewhere/missing", Work("pkg/g/dangling"));
    fs::create_hard_link(Work("elsewhere/linked"), Work("pkg/g/hard"));
    ASSERT_EQ(mkfifo(Work("pkg/g/fifo").c_str(), 0666), 0);
    PackLayout layout;
    layout.entries = {FileGroup("g", 4), FileEntry("link", "new link"),
                      FileEntry("dangling", "new dangling"), FileEntry("hard", "new hard"),
                      FileEntry("fifo", "new fifo")};
    RunOptions options;
    options.timeout_seconds = 20; // an open of the FIFO would block for ever
    RunResult run = RunLayout(layout, "pkg.rbd", options);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.out, kBanner + WritingLine("g/", "link") + WritingLine("g/", "dangling") +
                           WritingLine("g/", "hard") + WritingLine("g/", "fifo") + kTail);
    EXPECT_EQ(run.status, 0);
    for (const char *name : {"link", "dangling", "hard", "fifo"}) {
        // Read only what is a file: reading a FIFO would block the test.
        ASSERT_TRUE(IsRegularFile(Work("pkg/g/") + name)) << name;
        EXPECT_EQ(ReadFile(Work("pkg/g/") + name), std::string("new ") + name);
    }
    EXPECT_EQ(ReadFile(Work("elsewhere/target")), "keep");
    EXPECT_EQ(ReadFile(Work("elsewhere/linked")), "keep too");
    EXPECT_EQ(ListTree(Work("elsewhere")), (std::vector<std::string>{"linked", "target"}));
    ExpectNothingOutsideWork();
}

// Each run twice: the kernel's openat2 where it exists, and the walk one name
// at a time that serves kernels without it.
std::vector<RunOptions> BothWaysOfOpening() {
    std::vector<RunOptions> ways(1);
#if defined(__linux__) && defined(__x86_64__)
    ways.emplace_back();
    ways.back().without_openat2 = true;
#endif
    return ways;
}

TEST_F(ContainmentTest, LinksOnTheWayToAnEntryAreRefused) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "symbolic links as POSIX has them";
    }
    for (const RunOptions &options : BothWaysOfOpening()) {
        SCOPED_TRACE(options.without_openat2 ? "without openat2" : "with openat2");
        fs::create_directories(Work("pkg"));
        fs::create_directories(Work("elsewhere"));
        fs::create_directory_symlink("../elsewhere", Work("pkg/d"));
        fs::create_directory_symlink("elsewhere", Work("root"));
        PackLayout layout;
        layout.entries = {DirectoryGroup("d", 1), FileGroup("sub", 1), FileEntry("x", "1"),
                          FileGroup("d", 2),      FileEntry("y", "2"), FileEntry("z", "3"),
                          DirectoryGroup("g", 1), FileGroup("h", 1),   FileEntry("ok", "4")};
        RunResult run = RunLayout(layout, "pkg.rbd", options);
        EXPECT_EQ(run.out, kBanner + WritingLine("d/sub/", "x") +
                               "WARNING: Refusing to extract through a link, \"d/sub/\"!\n" +
                               WritingLine("d/", "y") +
                               "WARNING: Refusing to extract through a link, \"d/\"!\n" +
                               WritingLine("d/", "z") +
                               "WARNING: Refusing to extract through a link, \"d/\"!\n" +
                               WritingLine("g/h/", "ok") + kTail);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(ReadFile(Work("pkg/g/h/ok")), "4");

        // The output root itself a link: root.rbd extracts into ./root/.
        layout.entries = {FileGroup("g", 1), FileEntry("a", "1")};
        run = RunLayout(layout, "root.rbd", options);
        EXPECT_EQ(run.out, kBanner + std::string("Writing \"root/g/a\"...\n") +
                               "WARNING: Refusing to extract through a link, \"g/\"!\n" + kTail);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(ListTree(Work("elsewhere")).empty());
        ExpectNothingOutsideWork();
        fs::remove_all(Work("pkg"));
        fs::remove(Work("root"));
    }
}

TEST_F(ContainmentTest, ThePackageIsNeverReplacedUnderAnotherNameOrThroughALink) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "symbolic links and hard links as POSIX has them";
    }
    PackLayout layout;
    layout.entries = {FileGroup("g", 3), FileEntry("hard.rbd", "clobbered"),
                      FileEntry("soft.rbd", "a file now"), FileEntry("after", "read")};
    std::string bytes = BuildPackage(layout);
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), bytes));
    fs::create_directories(Work("pkg/g"));
    fs::create_hard_link(Work("pkg.rbd"), Work("pkg/g/hard.rbd"));
    fs::create_symlink("../../pkg.rbd", Work("pkg/g/soft.rbd"));
    RunResult run = RunKestrun(scratch_ / "work", {"pkg.rbd"});
    EXPECT_EQ(run.out, kBanner + WritingLine("g/", "hard.rbd") +
                           "WARNING: Refusing to overwrite the package, \"./pkg/g/hard.rbd\"!\n" +
                           WritingLine("g/", "soft.rbd") + WritingLine("g/", "after") + kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("pkg.rbd")), bytes);
    EXPECT_EQ(ReadFile(Work("pkg/g/hard.rbd")), bytes);
    EXPECT_TRUE(IsRegularFile(Work("pkg/g/soft.rbd")));
    EXPECT_EQ(ReadFile(Work("pkg/g/soft.rbd")), "a file now");
    EXPECT_EQ(ReadFile(Work("pkg/g/after")), "read");

    // music/lnk/music.rbd, with music/lnk a link to the package's folder:
    // the output root holds the link that leads back to the package.
    layout.entries = {FileGroup("lnk", 1), FileEntry("music.rbd", "clobbered")};
    bytes = BuildPackage(layout);
    fs::create_directories(Work("store"));
    ASSERT_TRUE(WriteBytes(Work("store/music.rbd"), bytes));
    fs::create_directories(Work("music"));
    fs::create_directory_symlink("../store", Work("music/lnk"));
    run = RunKestrun(scratch_ / "work", {"music/lnk/music.rbd"});
    EXPECT_EQ(run.out, kBanner + std::string("Writing \"music/lnk/music.rbd\"...\n") +
                           "WARNING: Refusing to extract through a link, \"lnk/\"!\n" + kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("store/music.rbd")), bytes);
    ExpectNothingOutsideWork();
}

TEST_F(ContainmentTest, OutputPastTheBudgetEndsTheRunAndKeepsWhatCameBefore) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "file size limits are a POSIX process limit";
    }
    // After one small entry, every record holds the same 1 MiB: the package is
    // about 1.1 MiB, the budget 64 times that plus 1 GiB. A file size limit
    // makes each large entry fail after a few bytes, so that the test need
    // not write a gigabyte: an entry's size is charged before it is copied,
    // whether the copy then succeeds or not.
    const uint32_t count = 1200;
    const uint32_t mib = 1u << 20;
    PackLayout layout;
    layout.entries = {FileGroup("g", count + 1), FileEntry("kept", "stays")};
    for (uint32_t i = 0; i < count; ++i) {
        layout.entries.push_back(FileEntry("f" + std::to_string(10000 + i), ""));
        layout.entries.back().offset = 1024 + 96 * (count + 2) + 5;
        layout.entries.back().size = mib;
    }
    layout.entries.back().data = std::string(mib, 's');
    layout.entries.back().size.reset();
    std::string bytes = BuildPackage(layout);
    ASSERT_EQ(bytes.size(), 1024u + 96 * (count + 2) + 5 + mib);
    const uint64_t budget = 64 * uint64_t{bytes.size()} + (uint64_t{1} << 30);
    const uint32_t charged = static_cast<uint32_t>((budget - 5) / mib);
    ASSERT_LT(charged, count);

    RunOptions options;
    options.file_size_limit = 4096;
    RunResult run = RunBytes(bytes, "pkg.rbd", options);
    std::string expected = kBanner + WritingLine("g/", "kept");
    for (uint32_t i = 0; i <= charged; ++i) {
        std::string name = "f" + std::to_string(10000 + i);
        expected += WritingLine("g/", name);
        if (i < charged) {
            expected += "WARNING: Failed to write to destination, \"./pkg/g/" + name + "\"!\n";
        }
    }
    expected += "ERROR: Output would pass " + std::to_string(budget) +
                " bytes (64 times the package plus 1 GiB), aborting!\n";
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"g/", "g/kept"}));
    EXPECT_EQ(ReadFile(Work("pkg/g/kept")), "stays");
    ExpectNothingOutsideWork();

    // --test meets the same budget, without writing anything.
    RunResult test = RunKestrun(scratch_ / "work", {"--test", "pkg.rbd"});
    EXPECT_EQ(test.out, "ERROR: Output would pass " + std::to_string(budget) +
                            " bytes (64 times the package plus 1 GiB), aborting!\n");
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"g/", "g/kept"}));
}

} // namespace

// Wine maps the Windows build's files onto the Unix file system, where a
// symbolic link looks like what it leads to: a file link passes for a plain
// file (and removing it removes its target), and a directory link opened by
// handle shows no reparse point.
TEST_F(ContainmentTest, UnderWineLinksAreNeitherRemovedNorFollowed) {
    if (!RunsWindowsBuild()) {
        GTEST_SKIP() << "the Windows build under Wine";
    }
    fs::create_directories(Work("pkg/g"));
    fs::create_directory(Work("elsewhere"));
    ASSERT_TRUE(WriteBytes(Work("elsewhere/target"), "keep"));
    ASSERT_TRUE(WriteBytes(Work("pkg/g/plain"), "older"));
    fs::create_symlink("../../elsewhere/target", Work("pkg/g/link"));
    fs::create_directory_symlink("../elsewhere", Work("pkg/d"));
    PackLayout layout;
    layout.entries = {FileGroup("d", 1),
                      FileEntry("x", "through the link"),
                      FileGroup("g", 3),
                      FileEntry("link", "new link"),
                      FileEntry("plain", "new plain"),
                      FileEntry("fresh", "new")};
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("d/", "x") +
                           "WARNING: Refusing to extract through a link, \"d/\"!\n" +
                           WritingLine("g/", "link") +
                           "WARNING: Refusing to replace \"./pkg/g/link\" under Wine, which "
                           "can't tell a link from a file!\n" +
                           WritingLine("g/", "plain") +
                           "WARNING: Refusing to replace \"./pkg/g/plain\" under Wine, which "
                           "can't tell a link from a file!\n" +
                           WritingLine("g/", "fresh") + kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ListTree(Work("elsewhere")), std::vector<std::string>{"target"});
    EXPECT_EQ(ReadFile(Work("elsewhere/target")), "keep");
    EXPECT_TRUE(fs::is_symlink(Work("pkg/g/link")));
    EXPECT_EQ(ReadFile(Work("pkg/g/plain")), "older");
    EXPECT_EQ(ReadFile(Work("pkg/g/fresh")), "new");
    ExpectNothingOutsideWork();
}
