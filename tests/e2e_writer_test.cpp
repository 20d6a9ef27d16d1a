// Writing entries: their bytes, the warnings of entries that can't be written,
// and names that must never leave the output root.
#include "e2e.h"

#include <filesystem>

namespace {

using WriterTest = ExtractTest;

const char kTail[] = "Reached end of package indices.\nDone!\n";

PackLayout OneGroup(std::vector<PackEntry> files, const std::string &group = "g") {
    PackLayout layout;
    layout.entries.push_back(FileGroup(group, static_cast<uint32_t>(files.size())));
    layout.entries.insert(layout.entries.end(), files.begin(), files.end());
    return layout;
}

TEST_F(WriterTest, EntryBytesArriveExactly) {
    std::string binary;
    for (int i = 0; i < 70000; ++i) {
        binary.push_back(static_cast<char>(i * 7 % 256));
    }
    RunResult run = RunLayout(OneGroup({FileEntry("empty", ""), FileEntry("bin", binary)}));
    EXPECT_EQ(run.out, kBanner + WritingLine("g/", "empty") + WritingLine("g/", "bin") + kTail);
    EXPECT_EQ(ReadFile(Work("pkg/g/empty")), "");
    EXPECT_EQ(ReadFile(Work("pkg/g/bin")), binary);
}

TEST_F(WriterTest, LaterEntryOfTheSameNameOverwrites) {
    RunResult run =
        RunLayout(OneGroup({FileEntry("same", "first, longer"), FileEntry("same", "2")}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("pkg/g/same")), "2");
}

TEST_F(WriterTest, DataPastTheEndLeavesAnEmptyFileAndTheWalkGoesOn) {
    PackLayout layout = OneGroup({FileEntry("short", "abc"), FileEntry("huge", "x"),
                                  FileEntry("far", "y"), FileEntry("after", "fine")});
    layout.entries[2].size = 1000;
    layout.entries[3].size = 0xFFFFFFFF;
    layout.entries[3].offset = 0xFFFFFFFF;
    layout.entries[4].offset = 0x7FFFFFFF;
    layout.entries[4].size = 0;
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("g/", "short") + WritingLine("g/", "huge") +
                           "WARNING: Failed to read in data!\n" + WritingLine("g/", "far") +
                           "WARNING: Failed to read in data!\n" + WritingLine("g/", "after") +
                           kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("pkg/g/short")), "abc");
    EXPECT_EQ(ReadFile(Work("pkg/g/huge")), "");
    EXPECT_EQ(ReadFile(Work("pkg/g/far")), "");
    // An empty entry has nothing to read, wherever it claims to lie.
    EXPECT_EQ(ReadFile(Work("pkg/g/after")), "");
}

TEST_F(WriterTest, StreamPositionIsRestoredAfterEachEntry) {
    // Data that lies before the index and is read out of order.
    PackLayout layout = OneGroup({FileEntry("late", "L"), FileEntry("early", "E")});
    layout.entries.push_back(FileGroup("h", 1));
    layout.entries.push_back(FileEntry("head", ""));
    layout.entries[1].offset = 1024 + 96 * 5 + 1;
    layout.entries[2].offset = 1024 + 96 * 5;
    layout.entries[4].offset = 0;
    layout.entries[4].size = 2;
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("pkg/g/late")), "E");
    EXPECT_EQ(ReadFile(Work("pkg/g/early")), "L");
    EXPECT_EQ(ReadFile(Work("pkg/h/head")), std::string("\0\2", 2));
}

TEST_F(WriterTest, PathBlockedByAFileIsAWarning) {
    PackLayout layout;
    layout.entries = {FileGroup("g", 1), FileEntry("x", "file"), DirectoryGroup("g", 1),
                      FileGroup("x", 1), FileEntry("inside", "?")};
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("g/", "x") + WritingLine("g/x/", "inside") +
                           "WARNING: Failed to create path, \"g/x/\"!\n" + kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("pkg/g/x")), "file");
}

TEST_F(WriterTest, DestinationThatCannotBeOpenedIsAWarning) {
    PackLayout layout;
    layout.entries = {DirectoryGroup("g", 1), FileGroup("d", 1), FileEntry("f", "1"),
                      FileGroup("g", 1), FileEntry("d", "2")};
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("g/d/", "f") + WritingLine("g/", "d") +
                           "WARNING: Failed to write to destination, \"./pkg/g/d\"!\n" + kTail);
    EXPECT_EQ(run.status, 2);
}

TEST_F(WriterTest, FullDiskRemovesTheTruncatedFile) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "file size limits are a POSIX process limit";
    }
    std::string big(200000, 'b');
    RunOptions options;
    options.file_size_limit = 100000;
    RunResult run = RunLayout(OneGroup({FileEntry("small", "fits"), FileEntry("big", big),
                                        FileEntry("next", "also fits")}),
                              "pkg.rbd", options);
    EXPECT_EQ(run.out, kBanner + WritingLine("g/", "small") + WritingLine("g/", "big") +
                           "WARNING: Failed to write to destination, \"./pkg/g/big\"!\n" +
                           WritingLine("g/", "next") + kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"g/", "g/next", "g/small"}));
}

TEST_F(WriterTest, EntryLargerThanTheAddressSpaceLimitIsExtractedWhole) {
#ifdef KESTRUN_SANITIZED
    GTEST_SKIP() << "the sanitizers' runtime reserves more address space than the limit";
#endif
    if (RunsWrapped()) {
        GTEST_SKIP() << "address space limits are a POSIX process limit";
    }
    // A sparse package whose one entry is larger than the memory kestrun may use.
    const uint32_t big = 512u << 20;
    PackLayout layout = OneGroup({FileEntry("big", ""), FileEntry("next", "ok")});
    layout.entries[1].size = big;
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
    std::filesystem::resize_file(Work("pkg.rbd"), 1024 + 3 * 96 + 2 + uint64_t{big});
    RunOptions options;
    options.memory_limit = 128u << 20;
    RunResult run = RunKestrun(scratch_ / "work", {"pkg.rbd"}, options);
    EXPECT_EQ(run.out, kBanner + WritingLine("g/", "big") + WritingLine("g/", "next") + kTail);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(std::filesystem::file_size(Work("pkg/g/big")), big);
    EXPECT_EQ(ReadFile(Work("pkg/g/next")), "ok");
}

TEST_F(WriterTest, UnsafeFileNamesAreRefused) {
    std::vector<std::string> names = {".", "..", "../escape", "a/b", "a\\b", "/abs", "C:", "c:x"};
    std::vector<PackEntry> files;
    std::string expected = kBanner;
    for (const std::string &name : names) {
        files.push_back(FileEntry(name, "bad"));
        expected +=
            WritingLine("g/", name) + "WARNING: Refusing unsafe path, \"g/" + name + "\"!\n";
    }
    // Names that are only unsafe on Windows are tested in e2e_platform_test.
    files.push_back(FileEntry("..a", "dots are fine"));
    expected += WritingLine("g/", "..a") + kTail;
    RunResult run = RunLayout(OneGroup(files));
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"g/", "g/..a"}));
    ExpectNothingOutsideWork();
}

TEST_F(WriterTest, GroupWithAnUnsafeNameHasEveryEntryRefused) {
    PackLayout layout;
    layout.entries = {DirectoryGroup("..", 2), FileGroup("sub", 1), FileEntry("a", "1"),
                      FileGroup("x/y", 1),     FileEntry("b", "2"), FileGroup("ok", 1),
                      FileEntry("c", "3")};
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("../sub/", "a") +
                           "WARNING: Refusing unsafe path, \"../sub/a\"!\n" +
                           WritingLine("../x/y/", "b") +
                           "WARNING: Refusing unsafe path, \"../x/y/b\"!\n" +
                           WritingLine("ok/", "c") + kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"ok/", "ok/c"}));
    ExpectNothingOutsideWork();
}

TEST_F(WriterTest, EmptyPackageNameStaysInTheWorkingDirectory) {
    PackLayout layout;
    layout.entries = {FileGroup("..", 1), FileEntry("up", "no"), FileGroup("in", 1),
                      FileEntry("f", "yes")};
    RunResult run = RunLayout(layout, "p.rb");
    EXPECT_EQ(run.out, kBanner + std::string("Writing \"/../up\"...\n") +
                           "WARNING: Refusing unsafe path, \"../up\"!\n" +
                           "Writing \"/in/f\"...\n" + kTail);
    EXPECT_EQ(ReadFile(Work("in/f")), "yes");
    ExpectNothingOutsideWork();
}

} // namespace

namespace {

TEST_F(WriterTest, PackageInsideItsOwnOutputRootIsNeverOverwritten) {
    // ./pkg/pkg.rbd extracts into ./pkg/, where an empty group name and the
    // package's own name lead straight back to the package.
    PackLayout layout;
    layout.entries = {FileGroup("", 2), FileEntry("pkg.rbd", "clobbered"),
                      FileEntry("other", "fine"), FileGroup("g", 1), FileEntry("after", "read")};
    std::string bytes = BuildPackage(layout);
    std::filesystem::create_directory(Work("pkg"));
    ASSERT_TRUE(WriteBytes(Work("pkg/pkg.rbd"), bytes));
    RunResult run = RunKestrun(scratch_ / "work", {"pkg/pkg.rbd"});
    EXPECT_EQ(run.out, kBanner + WritingLine("/", "pkg.rbd") +
                           "WARNING: Refusing to overwrite the package, \"./pkg//pkg.rbd\"!\n" +
                           WritingLine("/", "other") + WritingLine("g/", "after") + kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("pkg/pkg.rbd")), bytes);
    EXPECT_EQ(ReadFile(Work("pkg/other")), "fine");
    EXPECT_EQ(ReadFile(Work("pkg/g/after")), "read");
}

} // namespace
