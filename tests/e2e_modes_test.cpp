// The verbs and modifiers of option mode that walk a package: --test, --info,
// -C, -O, -q and chosen members while extracting.
#include "e2e.h"
#include "required.h"

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

using ModesTest = ExtractTest;

const char kTail[] = "Reached end of package indices.\nDone!\n";

std::string Writing(const std::string &entry) {
    return "Writing \"pkg/" + entry + "\"...\n";
}

TEST_F(ModesTest, TestOfACleanPackageWritesNothingAndSucceeds) {
    for (const char *option : {"-t", "--test"}) {
        RunResult run = RunWith(SoundAndText(), {option, "pkg.rbd"});
        EXPECT_EQ(run.out, "Tested: entries 3, groups 3, bytes 14, package bytes 1614, "
                           "expansion 0.01\n");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"pkg.rbd"});
    }
}

TEST_F(ModesTest, TestReportsWhatExtractionWouldMeetWithItsStatus) {
    PackLayout layout;
    layout.entries = {FileGroup("g", 3), FileEntry("..", "x"), FileEntry("fine", "ok"),
                      FileEntry("last", "12345678")};
    std::string truncated = BuildPackage(layout);
    truncated.resize(truncated.size() - 4);
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), truncated));

    RunResult test = RunKestrun(scratch_ / "work", {"-t", "pkg.rbd"});
    EXPECT_EQ(test.err, "WARNING: Refusing unsafe path, \"g/..\"!\n"
                        "WARNING: Failed to read in data, \"g/last\"!\n");
    EXPECT_EQ(test.out, "Tested: entries 3, groups 1, bytes 11, package bytes 1415, "
                        "expansion 0.01\n");
    EXPECT_EQ(test.status, 2);
    EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"pkg.rbd"});

    RunResult extraction = RunKestrun(scratch_ / "work", {"pkg.rbd"});
    EXPECT_EQ(extraction.status, test.status);

    // A damaged index stops a test as it stops an extraction.
    truncated.resize(1024 + 96 * 2);
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), truncated));
    test = RunKestrun(scratch_ / "work", {"--test", "pkg.rbd"});
    EXPECT_EQ(test.err, "ERROR: Failed to read in all file indices!\n");
    EXPECT_EQ(test.status, 1);
}

TEST_F(ModesTest, InfoPrintsHeaderAndTopLevelGroupsAndWritesNothing) {
    PackLayout layout = SoundAndText();
    layout.entries.push_back(FileGroup("sfx", 1));
    layout.entries.push_back(FileEntry("boom.wav", "BOOM"));
    RunResult run = RunWith(layout, {"-i", "pkg.rbd"});
    EXPECT_EQ(run.out, "total groups: 9\n"
                       "\n"
                       "pkg.rbd\n"
                       " version: 2\n"
                       " indices: 8\n"
                       " comment: Copyright 1998 Reality Bytes, Inc.  All rights reserved.\n"
                       "\n"
                       " data (group)\n"
                       "  flags:   16842752\n"
                       "  indices: 2\n"
                       "  files:   0\n"
                       " sfx (group)\n"
                       "  flags:   16777216\n"
                       "  indices: 1\n"
                       "  files:   1\n"
                       "  boom.wav (file)\n"
                       "   size:   4\n"
                       "   offset: 1806\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"pkg.rbd"});
}

TEST_F(ModesTest, DirectoryOptionPutsTheOutputRootThere) {
    std::filesystem::create_directory(Work("out"));
    const std::vector<std::vector<std::string>> forms = {{"-C", "out", "pkg.rbd"},
                                                         {"--directory=out", "pkg.rbd"},
                                                         {"--directory", "out", "pkg.rbd"}};
    for (const std::vector<std::string> &args : forms) {
        SCOPED_TRACE(args[0]);
        std::filesystem::remove_all(Work("out/pkg"));
        RunResult run = RunWith(SoundAndText(), args);
        EXPECT_EQ(run.out, Writing("data/snd/a.wav") + Writing("data/snd/b.wav") +
                               Writing("data/txt/readme.txt") + kTail);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(ReadFile(Work("out/pkg/data/txt/readme.txt")), "read me\n");
        EXPECT_FALSE(std::filesystem::exists(Work("pkg")));
    }
    // A directory that can't be used is named with the system's reason.
    const bool windows = RunsWindowsBuild();
    std::vector<std::pair<std::string, std::string>> unusable = {
        {"absent", windows ? "File not found." : "No such file or directory"}};
    if (!windows) {
        unusable.emplace_back("pkg.rbd", "Not a directory");
    }
    for (const auto &[dir, reason] : unusable) {
        RunResult run = RunWith(SoundAndText(), {"-C", dir, "pkg.rbd"});
        EXPECT_EQ(run.err,
                  "ERROR: Failed to find directory \"" + dir + "\": " + reason + ", aborting!\n");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_FALSE(std::filesystem::exists(Work("absent")));
}

TEST_F(ModesTest, DirectoryOptionNeverOverwritesThePackageInsideIt) {
    std::filesystem::create_directories(Work("out/x/g"));
    PackLayout layout;
    layout.entries = {FileGroup("g", 2), FileEntry("x.rbd", "not a package"), FileEntry("y", "y")};
    std::string package = BuildPackage(layout);
    ASSERT_TRUE(WriteBytes(Work("out/x/g/x.rbd"), package));
    RunResult run = RunKestrun(scratch_ / "work", {"-C", "out", "out/x/g/x.rbd"});
    EXPECT_EQ(run.out, "Writing \"x/g/x.rbd\"...\nWriting \"x/g/y\"...\n" + std::string(kTail));
    EXPECT_EQ(run.err, "WARNING: Refusing to overwrite the package, \"g/x.rbd\"!\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("out/x/g/x.rbd")), package);
    EXPECT_EQ(ReadFile(Work("out/x/g/y")), "y");
}

TEST_F(ModesTest, ChosenMembersAreExtractedAndOthersPassedOverSilently) {
    RunResult run = RunWith(SoundAndText(), {"--", "pkg.rbd", "./data/snd/", "nothing*"});
    EXPECT_EQ(run.out, Writing("data/snd/a.wav") + Writing("data/snd/b.wav") + kTail);
    EXPECT_EQ(run.err, "WARNING: No entry matches \"nothing*\"!\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Tree(),
              (std::vector<std::string>{"data/", "data/snd/", "data/snd/a.wav", "data/snd/b.wav"}));
}

TEST_F(ModesTest, QuietPrintsOnlyWarningsAndTheyNameTheEntry) {
    PackLayout layout = SoundAndText();
    layout.entries[3].size = 5000;
    RunResult run = RunWith(layout, {"-q", "pkg.rbd"});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "WARNING: Failed to read in data, \"data/snd/b.wav\"!\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("pkg/data/txt/readme.txt")), "read me\n");
}

TEST_F(ModesTest, ToStdoutGivesTheChosenBytesInIndexOrder) {
    RunResult run = RunWith(SoundAndText(), {"-O", "pkg.rbd"});
    EXPECT_EQ(run.out, "aaaabbread me\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"pkg.rbd"});

    PackLayout layout = SoundAndText();
    layout.entries[2].size = 5000;
    run = RunWith(layout, {"--to-stdout", "pkg.rbd", "data/snd/*"});
    EXPECT_EQ(run.out, "bb");
    EXPECT_EQ(run.err, "WARNING: Failed to read in data, \"data/snd/a.wav\"!\n");
    EXPECT_EQ(run.status, 2);
}

// Every mode but extraction has its product on standard output (the bytes,
// the list, the report of -t and -i): not getting it there fails the run.
TEST_F(ModesTest, AProductThatCannotBeWrittenFails) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "needs /dev/full";
    }
    if (!std::filesystem::exists("/dev/full")) {
        SKIP_OR_FAIL_WITHOUT("no /dev/full here");
    }
    int full = open("/dev/full", O_WRONLY);
    RunOptions options;
    options.stdout_fd = full;
    for (const char *option : {"-O", "-l", "--json", "-t", "-i"}) {
        RunResult run = RunWith(SoundAndText(), {option, "pkg.rbd"}, options);
        EXPECT_EQ(run.err,
                  "ERROR: Failed to write to standard output, aborting!\nNo space left on device\n")
            << option;
        EXPECT_EQ(run.status, 1) << option;
    }
    close(full);
}

} // namespace
