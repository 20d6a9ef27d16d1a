// Header validation and the depth-first walk of the index.
#include "e2e.h"

namespace {

using WalkTest = ExtractTest;

const char kEnd[] = "Reached end of package indices.\n";
const char kDone[] = "Done!\n";

std::string Fatal(const std::string &message) {
    return kBanner + message;
}

TEST_F(WalkTest, WellFormedPackageIsExtractedDepthFirst) {
    RunResult run = RunLayout(SoundAndText());
    EXPECT_EQ(run.out, kBanner + WritingLine("data/snd/", "a.wav") +
                           WritingLine("data/snd/", "b.wav") +
                           WritingLine("data/txt/", "readme.txt") + kEnd + kDone);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Tree(),
              (std::vector<std::string>{"data/", "data/snd/", "data/snd/a.wav", "data/snd/b.wav",
                                        "data/txt/", "data/txt/readme.txt"}));
    EXPECT_EQ(ReadFile(Work("pkg/data/snd/a.wav")), "aaaa");
    EXPECT_EQ(ReadFile(Work("pkg/data/snd/b.wav")), "bb");
    EXPECT_EQ(ReadFile(Work("pkg/data/txt/readme.txt")), "read me\n");
    ExpectNothingOutsideWork();
}

TEST_F(WalkTest, HeaderFailuresAreFatalInTheirOrder) {
    struct Case {
        const char *what;
        std::string bytes;
        std::string out;
    };
    const std::string header = EncodeHeader(1);
    const std::string comment = header_msg;
    const Case cases[] = {
        {"short header", header.substr(0, 1023),
         "ERROR: Failed to read RBD header for \"pkg.rbd\", aborting!\n"},
        {"empty file", "", "ERROR: Failed to read RBD header for \"pkg.rbd\", aborting!\n"},
        {"zero count before bad version", EncodeHeader(0, 7),
         "ERROR: Invalid number of indices for \"pkg.rbd\", aborting!\n"},
        {"version", EncodeHeader(1, 0x0010), "ERROR: Unknown RBD version, got 10!\n"},
        {"version in upper case", EncodeHeader(1, 0xABC), "ERROR: Unknown RBD version, got ABC!\n"},
        {"comment with more after it", EncodeHeader(1, 2, comment + "!"),
         "ERROR: Invalid RBD package comment, got " + comment + "!, aborting!\n"},
        {"comment cut short", EncodeHeader(1, 2, comment.substr(0, 55)),
         "ERROR: Invalid RBD package comment, got " + comment.substr(0, 55) + ", aborting!\n"},
        {"comment filling its field", EncodeHeader(1, 2, std::string(1100, 'c')),
         "ERROR: Invalid RBD package comment, got " + std::string(1008, 'c') + ", aborting!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RunResult run = RunBytes(c.bytes);
        EXPECT_EQ(run.out, Fatal(c.out));
        EXPECT_EQ(run.status, 1);
    }
}

TEST_F(WalkTest, HeaderCountOfOneExtractsNothing) {
    PackLayout layout = SoundAndText();
    layout.header_count = 1;
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + std::string(kEnd) + kDone);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"pkg.rbd"});
}

TEST_F(WalkTest, TrailingGroupRecordIsNotReadAtTopLevel) {
    PackLayout layout = SoundAndText();
    layout.entries.push_back(FileGroup("never", 0));
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("data/snd/", "a.wav") +
                           WritingLine("data/snd/", "b.wav") +
                           WritingLine("data/txt/", "readme.txt") + kEnd + kDone);
    EXPECT_EQ(run.status, 0);
}

TEST_F(WalkTest, TrailingGroupRecordOwedByADirectoryIsFatal) {
    PackLayout layout = SoundAndText();
    layout.entries[0].count = 3;
    layout.entries.push_back(FileGroup("never", 0));
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("data/snd/", "a.wav") +
                           WritingLine("data/snd/", "b.wav") +
                           WritingLine("data/txt/", "readme.txt") + kEnd +
                           "ERROR: Failed to load child of data, aborting!\n");
    EXPECT_EQ(run.status, 1);
    // Entries written before the fatal error stay.
    EXPECT_EQ(ReadFile(Work("pkg/data/txt/readme.txt")), "read me\n");
}

TEST_F(WalkTest, FileGroupBeyondTheHeaderCountIsStillExtracted) {
    PackLayout layout;
    layout.entries = {FileGroup("sfx", 3), FileEntry("a", "1"), FileEntry("b", "2"),
                      FileEntry("c", "3")};
    layout.header_count = 2;
    RunResult run = RunLayout(layout);
    // The counter passes the header's count inside the group, so the top-level
    // loop ends without a final call.
    EXPECT_EQ(run.out, kBanner + WritingLine("sfx/", "a") + WritingLine("sfx/", "b") +
                           WritingLine("sfx/", "c") + kDone);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("pkg/sfx/c")), "3");
}

TEST_F(WalkTest, FileGroupBeyondTheHeaderCountInsideADirectory) {
    PackLayout layout;
    layout.entries = {DirectoryGroup("top", 2), FileGroup("sfx", 2), FileEntry("a", "1"),
                      FileEntry("b", "2"), FileGroup("more", 0)};
    layout.header_count = 3;
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("top/sfx/", "a") + WritingLine("top/sfx/", "b") +
                           kEnd + "ERROR: Failed to load child of top, aborting!\n");
    EXPECT_EQ(run.status, 1);
}

TEST_F(WalkTest, EmptyFileGroupAndUnknownGroupKindsAreWalkedOver) {
    PackLayout layout;
    layout.entries = {FileGroup("empty", 0), DirectoryGroup("dir", 2), FileGroup("odd", 7),
                      FileGroup("sfx", 1), FileEntry("boom", "!")};
    layout.entries[2].flags = 0x00ABCDEF;
    RunResult run = RunLayout(layout);
    // The unknown group's count means nothing: the next record is read as a group.
    EXPECT_EQ(run.out, kBanner + std::string("WARNING: Unknown group flag, abcdef, aborting!\n") +
                           WritingLine("dir/sfx/", "boom") + kEnd + kDone);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"dir/", "dir/sfx/", "dir/sfx/boom"}));
}

TEST_F(WalkTest, TruncatedIndexIsFatal) {
    std::string whole = BuildPackage(SoundAndText());
    // Cut inside the second group record.
    RunResult run = RunBytes(whole.substr(0, 1024 + 96 + 50));
    EXPECT_EQ(run.out, Fatal("ERROR: Failed to read RBDGroupHeader for \"pkg.rbd\", aborting!\n"));
    EXPECT_EQ(run.status, 1);

    // Cut inside the file records of snd.
    run = RunBytes(EncodeHeader(6) + whole.substr(1024, 96 * 3 + 40));
    EXPECT_EQ(run.out, Fatal("ERROR: Failed to read in all file indices!\n"));
    EXPECT_EQ(run.status, 1);
}

TEST_F(WalkTest, HugeFileRecordCountIsRefusedWithoutAllocating) {
    PackLayout layout;
    layout.entries = {FileGroup("sfx", 0xFFFFFFFF), FileEntry("a", "1")};
    layout.header_count = 0xFFFFFFFF;
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, Fatal("ERROR: Failed to read in all file indices!\n"));
    EXPECT_EQ(run.status, 1);
}

TEST_F(WalkTest, DeepNestingEndsAtTheGroupPathLimit) {
    // 129 levels of "ab/" make a 387-character path, past the 258 limit.
    PackLayout layout;
    for (int i = 0; i < 129; ++i) {
        layout.entries.push_back(DirectoryGroup("ab", 1));
    }
    layout.entries.push_back(FileGroup("f", 1));
    layout.entries.push_back(FileEntry("x", "x"));
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, Fatal("ERROR: Group path too long in \"pkg.rbd\", aborting!\n"));
    EXPECT_EQ(run.status, 1);
}

TEST_F(WalkTest, LongestGroupPathIsAccepted) {
    // Four 62-character names and a 6-character one: 4 * 63 + 6 = 258.
    std::string name(62, 'g');
    PackLayout layout;
    for (int i = 0; i < 4; ++i) {
        layout.entries.push_back(DirectoryGroup(name, 1));
    }
    layout.entries.push_back(FileGroup("group", 1));
    layout.entries.push_back(FileEntry("f", "f"));
    RunResult run = RunLayout(layout, "p.rbd");
    std::string group_path = name + "/" + name + "/" + name + "/" + name + "/group/";
    ASSERT_EQ(group_path.size(), 258u);
    // The group path fits, but "./p/" and the name do not.
    EXPECT_EQ(run.out, kBanner + ("Writing \"p/" + group_path + "f\"...\n") +
                           "WARNING: Path too long, \"" + group_path + "f\"!\n" + kEnd + kDone);
    EXPECT_EQ(run.status, 2);
}

TEST_F(WalkTest, NameWithoutZeroByteIsCutAt62Characters) {
    std::string full(63, 'n');
    std::string cut(62, 'n');
    PackLayout layout;
    layout.entries = {FileGroup(full, 1), FileEntry(full, "data")};
    RunResult run = RunLayout(layout, "p.rbd");
    EXPECT_EQ(run.out, kBanner + ("Writing \"p/" + cut + "/" + cut + "\"...\n") + kEnd + kDone);
    EXPECT_EQ(ReadFile(Work("p/" + cut + "/" + cut)), "data");
}

} // namespace
